// The section-to-registry writer and the typed value rule.
#pragma once

#include <string>
#include <string_view>

#include "platform/Env.h"
#include "profile/Ini.h"

bool IsAllDigits(std::string_view value);
void WriteTypedValue(Env& env, RegKey key, const std::string& name, const std::string& value,
                     bool stringsOnly);
void WriteSectionToRegistry(Env& env, const SectionMap& section, const std::string& subkeyPath,
                            bool stringsOnly);
void ImportSection(Env& env, const CIni& profile, const std::string& section,
                   const std::string& subkeyPath, bool stringsOnly);
