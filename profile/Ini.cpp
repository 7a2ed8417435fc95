// Placeholder until profile access lands: nothing is read.
#include "profile/Ini.h"

CIni::CIni(Env& env) : env_(env) {}
CIni::CIni(Env& env, std::string path) : env_(env), path_(std::move(path)) {}
void CIni::SetPath(std::string path) { path_ = std::move(path); }
std::string CIni::ReadString(const std::string&, const std::string&, const char* def) const {
  return def ? def : "";
}
int CIni::ReadKeyNames(const std::string&, StringList&) const { return 0; }
int CIni::ReadSection(const std::string&, SectionMap&) const { return 0; }
