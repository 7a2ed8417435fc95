#include "messages/Messages.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <utility>

namespace {

// The text with every '%' doubled, so that the formatter prints it as it is.
std::string EscapePercent(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    escaped += c;
    if (c == '%') escaped += '%';
  }
  return escaped;
}

// Formats into the end of `target`, however long the result; returns the
// formatter's count (negative, appending nothing, when it rejects the format).
int AppendFormatted(std::string& target, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return length;
  size_t start = target.size();
  target.resize(start + static_cast<size_t>(length) + 1);
  std::vsnprintf(target.data() + start, static_cast<size_t>(length) + 1, format, args);
  target.resize(start + static_cast<size_t>(length));
  return length;
}

// Puts the text of `error` in place of every "%m" of the template (protected
// from the formatter), then formats and appends.
int AppendWithErrorText(Env& env, std::string& target, uint32_t error, std::string_view format,
                        va_list args) {
  std::string templateText(format);
  if (templateText.find("%m") != std::string::npos) {
    std::string errorText;
    GetSystemErrorText(env, errorText, error);
    ReplaceAll(templateText, "%m", EscapePercent(errorText));
  }
  return AppendFormatted(target, templateText.c_str(), args);
}

}  // namespace

const std::string& GetSystemErrorText(Env& env, std::string& target, uint32_t code) {
  if (code == 0) code = env.LastError();
  std::string text;
  if (env.SystemMessage(code, &text)) {
    target = std::move(text);
  } else {
    target.clear();
    // long is 32 bits on Windows and 64 on Linux; the template's "%lu" reads
    // an unsigned long either way.
    AppendTableMessage(env, target, kMsgUnknownWin32Error, static_cast<unsigned long>(code));
  }
  target.resize(std::min(target.size(), target.find_first_of("\r\n")));
  return target;
}

int AppendTableMessage(Env& env, std::string& target, uint32_t id, ...) {
  uint32_t error = env.LastError();  // before anything else can change it
  std::string templateText;
  if (!env.LoadTableString(id, &templateText)) templateText.clear();
  va_list args;
  va_start(args, id);
  int result = AppendWithErrorText(env, target, error, templateText, args);
  va_end(args);
  return result;
}

int AppendMessage(Env& env, std::string& target, const char* format, ...) {
  uint32_t error = env.LastError();
  va_list args;
  va_start(args, format);
  int result = AppendWithErrorText(env, target, error, format != nullptr ? format : "", args);
  va_end(args);
  return result;
}

std::string FormatTableString(uint32_t id, ...) {
  std::string templateText, text;
  if (!FindTableString(id, &templateText)) return text;
  va_list args;
  va_start(args, id);
  AppendFormatted(text, templateText.c_str(), args);
  va_end(args);
  return text;
}

std::string CountOf(Env& env, int count, uint32_t one, uint32_t many) {
  std::string text;
  AppendTableMessage(env, text, count == 1 ? one : many, count);
  return text;
}

std::string FormatCount(int count, uint32_t one, uint32_t many) {
  return FormatTableString(count == 1 ? one : many, count);
}

int ReplaceAll(std::string& text, std::string_view search, std::string_view replacement) {
  if (search.empty()) return 0;
  int count = 0;
  // Each search resumes behind the text just inserted, so a replacement that
  // contains the search text is never searched again.
  for (size_t at = text.find(search); at != std::string::npos;
       at = text.find(search, at + replacement.size())) {
    text.replace(at, search.size(), replacement);
    ++count;
  }
  return count;
}

void ReplaceChar(std::string& text, char oldChar, char newChar) {
  for (char& c : text) {
    if (c == oldChar) c = newChar;
  }
}

void ReplaceAnyChar(std::string& text, std::string_view set, char newChar) {
  for (char& c : text) {
    if (set.find(c) != std::string_view::npos) c = newChar;
  }
}
