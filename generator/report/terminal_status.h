// Status of a run on a terminal: one line per entry with its position, the
// entry's debug text indented below it. Ctrl-C asks nothing: it sets the
// cancel flag (and says what will happen), and the run stops before its next
// entry; a second Ctrl-C ends the program at once.
#pragma once

#include <iosfwd>

#include "generator/report/status_display.h"

namespace quill {

class TerminalStatus : public StatusDisplay {
 public:
  explicit TerminalStatus(std::ostream& out);

  // Routes SIGINT to the cancel flag of every TerminalStatus. firstNote, when
  // given, is printed on stderr at the first Ctrl-C to say what happens (a
  // text that lives as long as the program).
  static void installInterruptHandler(const char* firstNote = nullptr);

  void setCaptions(const std::string& title, const std::string& cancelCaption) override;
  void started() override;
  void entryStarted(const std::string& statusText, int position, int total) override;
  void setDebugText(const std::string& text) override;
  // The explanation is printed with the error by the terminal prompter.
  void failed(const std::string&) override {}
  void processEvents() override {}
  void notice(const std::string& text) override;
  bool cancelFlag() const override;

 private:
  std::ostream& out_;
  std::string title_;
};

}  // namespace quill
