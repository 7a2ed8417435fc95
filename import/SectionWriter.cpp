// Placeholder until the section writer lands: nothing is written.
#include "import/SectionWriter.h"

bool IsAllDigits(std::string_view) {
  return false;
}
void WriteTypedValue(Env&, RegKey, const std::string&, const std::string&, bool) {}
void WriteSectionToRegistry(Env&, const SectionMap&, const std::string&, bool) {}
void ImportSection(Env&, const CIni&, const std::string&, const std::string&, bool) {}
