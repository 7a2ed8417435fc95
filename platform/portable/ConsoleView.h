// ConsoleView: the progress dialog of the Linux build. The status and detail
// lines go to one stream: on a terminal as one line rewritten in place, else
// as plain lines, each written only when it changed. Message-box texts go to
// another stream as "<caption>: <text>"; nothing waits for the user.
#pragma once

#include <iosfwd>
#include <string>

class ConsoleView {
 public:
  // Either stream may be null (no output). `terminal`: the progress stream
  // is shown on a terminal. `caption` names the program before each message.
  ConsoleView(std::ostream* progress, std::ostream* messages, bool terminal, std::string caption);
  ~ConsoleView();  // ends a line that is being rewritten

  void Show(const std::string& status, const std::string& detail);
  void Message(const std::string& text);
  // Ends the line being rewritten, so that later output starts on its own.
  void EndLine();

 private:
  std::ostream* progress_;
  std::ostream* messages_;
  bool terminal_;
  std::string caption_;
  std::string status_;
  std::string detail_;
  size_t shownWidth_ = 0;  // characters of the line being rewritten
};

// True when standard output is a terminal.
bool StandardOutputIsTerminal();
