#include "platform/portable/ConsoleView.h"

#include <ostream>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// A rewritten line must not wrap, or the carriage return would no longer
// reach its start; long lines keep their end, where a path names its file.
constexpr size_t kTerminalWidth = 79;

std::string FitWidth(const std::string& line) {
  if (line.size() <= kTerminalWidth) return line;
  return "..." + line.substr(line.size() - (kTerminalWidth - 3));
}

// Control characters (a detail line holds names from files) are shown as '?'
// so that they cannot move the cursor or end the line.
std::string Printable(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return shown;
}

}  // namespace

bool StandardOutputIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(STDOUT_FILENO) != 0;
#endif
}

ConsoleView::ConsoleView(std::ostream* progress, std::ostream* messages, bool terminal,
                         std::string caption)
    : progress_(progress), messages_(messages), terminal_(terminal), caption_(std::move(caption)) {}

ConsoleView::~ConsoleView() {
  EndLine();
}

void ConsoleView::Show(const std::string& status, const std::string& detail) {
  if (progress_ == nullptr || (status == status_ && detail == detail_)) return;
  if (terminal_) {
    std::string line = Printable(status);
    if (!status.empty() && !detail.empty()) line += ' ';
    line = FitWidth(line + Printable(detail));
    *progress_ << '\r' << line;
    if (line.size() < shownWidth_)
      *progress_ << std::string(shownWidth_ - line.size(), ' ') << '\r' << line;
    shownWidth_ = line.size();
  } else {
    if (status != status_ && !status.empty()) *progress_ << Printable(status) << '\n';
    if (detail != detail_ && !detail.empty()) *progress_ << "  " << Printable(detail) << '\n';
  }
  progress_->flush();
  status_ = status;
  detail_ = detail;
}

void ConsoleView::Message(const std::string& text) {
  if (messages_ == nullptr) return;
  EndLine();
  // Windows line ends become plain ones; the text's own line breaks stay.
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    shown += text[i];
  }
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
  if (!caption_.empty()) *messages_ << caption_ << ": ";
  *messages_ << shown << '\n';
  messages_->flush();
}

void ConsoleView::EndLine() {
  if (progress_ == nullptr || shownWidth_ == 0) return;
  *progress_ << '\n';
  progress_->flush();
  shownWidth_ = 0;
}
