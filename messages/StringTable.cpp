#include "messages/StringTable.h"

namespace {

struct TableEntry {
  uint32_t id;
  const char* text;
};

constexpr TableEntry kTable[] = {
#define CHECKLUM_STRING(name, id, text) {id, text},
#include "messages/StringTable.inc"
#undef CHECKLUM_STRING
};

}  // namespace

bool FindTableString(uint32_t id, std::string* text) {
  for (const TableEntry& entry : kTable) {
    if (entry.id == id) {
      *text = entry.text;
      return true;
    }
  }
  return false;
}
