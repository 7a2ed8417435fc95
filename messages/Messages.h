// The string table's ids, the system error text and message formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "messages/StringTable.h"
#include "platform/Env.h"

// Replaces `target` with the first line of the system's text for `code`
// (0 = env.LastError()) and returns it; "Unknown Win32 error: <code>" when
// the system has no text for the code.
const std::string& GetSystemErrorText(Env& env, std::string& target, uint32_t code);
// Formats string-table template `id` (every "%m" standing for the text of
// the last error, read on entry) with the arguments and appends the result,
// however long, to `target`. The error text is printed as it is, '%' signs
// included. Returns the number of characters appended (0 for an id without
// an entry, negative when the formatter rejects the template).
int AppendTableMessage(Env& env, std::string& target, uint32_t id, ...);
// The same with a template given as text.
int AppendMessage(Env& env, std::string& target, const char* format, ...);
// Formats the string-table entry `id` with the arguments, without an error
// text and without an Env: for the Linux program's own texts, which it shows
// before its Env exists. Empty for an id without an entry.
std::string FormatTableString(uint32_t id, ...);
// `count` with a noun in the singular or the plural, as the string-table
// entries `one` (such as "%d queue") and `many` ("%d queues") have it:
// "1 queue", "3 queues". The second form needs no Env, as FormatTableString.
std::string CountOf(Env& env, int count, uint32_t one, uint32_t many);
std::string FormatCount(int count, uint32_t one, uint32_t many);
// Replaces every occurrence of `search` and returns the count; text just
// inserted is not searched again. An empty `search` changes nothing.
int ReplaceAll(std::string& text, std::string_view search, std::string_view replacement);
void ReplaceChar(std::string& text, char oldChar, char newChar);
void ReplaceAnyChar(std::string& text, std::string_view set, char newChar);
