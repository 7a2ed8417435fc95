// The queue value writer: a queue's (or a style's) settings as values of one
// subkey of the product registry key. The six measures are stored as decimal
// text with a decimal point, the four control-byte strings as binary values,
// everything else by the typed value rule.
#pragma once

#include <string>
#include <vector>

#include "platform/Env.h"
#include "profile/Ini.h"

// The bytes a control-byte string stands for: pairs of hexadecimal digits,
// either case, blanks between pairs allowed ("1B 40" and "1B40" are the same
// two bytes); a last unpaired digit is ignored. False when the text holds
// anything else, or fewer than two digits: it is then no byte string.
bool ParseByteString(const std::string& text, std::vector<uint8_t>* bytes);

// Writes `values` below the product registry key as `subkeyPath`, creating
// the key (also for an empty map). Measures present in the map gain ".0" when
// they hold no decimal point; byte strings become REG_BINARY values and leave
// the map; what remains goes by the typed value rule, empty values skipped.
// False when the key cannot be opened or created (nothing is written then).
bool WriteQueueValues(Env& env, SectionMap& values, const std::string& subkeyPath);
