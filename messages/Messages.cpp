// Placeholder until message formatting lands.
#include "messages/Messages.h"

const std::string& GetSystemErrorText(Env&, std::string& target, uint32_t) { return target; }
int AppendTableMessage(Env&, std::string&, uint32_t, ...) { return 0; }
int AppendMessage(Env&, std::string&, const char*, ...) { return 0; }
int ReplaceAll(std::string&, std::string_view, std::string_view) { return 0; }
void ReplaceChar(std::string&, char, char) {}
void ReplaceAnyChar(std::string&, std::string_view, char) {}
