#include "import/RestoreLines.h"

#include <memory>

namespace {

// Characters that cmd takes literally in an unquoted copy argument.
bool IsSafeUnquoted(unsigned char c) {
  if (c >= 0x80) return true;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '\\':
    case ':':
    case '.':
    case '_':
    case '-':
    case '~':
      return true;
    default:
      return false;
  }
}

std::string Field(const std::string& text, bool alwaysQuote) {
  bool quote = alwaysQuote || text.empty();
  for (unsigned char c : text) {
    if (!IsSafeUnquoted(c)) quote = true;
  }
  std::string field = quote ? "\"" : "";
  for (char c : text) {
    field += c;
    if (c == '%') field += '%';
  }
  if (quote) field += '"';
  return field;
}

// One field of a line from `*at`: quoted (the quotes removed) or up to the
// next blank. Every % must come doubled, as Field writes it; an unquoted
// field holds none of the characters cmd would take as an operator or an
// escape (^ & | < >), which Field always quotes.
bool NextField(std::string_view line, size_t* at, std::string* field) {
  while (*at < line.size() && line[*at] == ' ') ++*at;
  if (*at >= line.size()) return false;
  field->clear();
  bool quoted = line[*at] == '"';
  if (quoted) ++*at;
  while (*at < line.size() && (quoted ? line[*at] != '"' : line[*at] != ' ')) {
    if (line[*at] == '%') {
      if (*at + 1 >= line.size() || line[*at + 1] != '%') return false;
      ++*at;
    } else if (!quoted && std::string_view("^&|<>").find(line[*at]) != std::string_view::npos) {
      return false;
    }
    *field += line[(*at)++];
  }
  if (quoted) {
    if (*at >= line.size()) return false;
    ++*at;
  }
  return !field->empty();
}

// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9, in any letter case and
// with any extension, name devices wherever they stand in a path.
bool IsDeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

std::string CopyLine(const std::string& from, const std::string& to, bool alwaysQuote) {
  return "copy/y " + Field(from, alwaysQuote) + " " + Field(to, alwaysQuote) + "\r\n";
}

bool ParseCopyLine(std::string_view line, std::string* from, std::string* to) {
  size_t at = 0;
  std::string command;
  if (!NextField(line, &at, &command)) return false;
  for (char& c : command) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (command != "copy/y" || !NextField(line, &at, from) || !NextField(line, &at, to)) {
    return false;
  }
  while (at < line.size() && line[at] == ' ') ++at;
  return at == line.size();
}

bool IsBackupName(const std::string& field) {
  return field.find_first_of("\\/:") == std::string::npos;
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  // Windows drops trailing dots and blanks, so such a name would be another.
  if (name.back() == '.' || name.back() == ' ' || IsDeviceName(name)) return false;
  for (unsigned char c : name) {
    if (c < 0x20) return false;
    switch (c) {
      case '\\':
      case '/':
      case ':':
      case '<':
      case '>':
      case '"':
      case '|':
      case '?':
      case '*':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool ForEachCompleteLine(Env& env, const std::string& path,
                         const std::function<void(std::string_view)>& line) {
  std::unique_ptr<ReadableFile> file = env.OpenReadable(path);
  if (!file) return false;
  std::string pending;
  char buffer[64 * 1024];
  for (;;) {
    uint32_t got = 0;
    if (!file->Read(buffer, sizeof buffer, &got)) return false;
    if (got == 0) return true;  // what is left in `pending` never got its line end
    size_t begin = 0;
    for (size_t i = 0; i < got; ++i) {
      if (buffer[i] != '\n') continue;
      pending.append(buffer + begin, i - begin);
      if (!pending.empty() && pending.back() == '\r') pending.pop_back();
      line(pending);
      pending.clear();
      begin = i + 1;
    }
    pending.append(buffer + begin, got - begin);
  }
}
