// Each message is written whole and flushed, so that it stands before any
// later output of the run on the same terminal.
#include "generator/report/terminal_prompter.h"

#include <ostream>

#include "generator/report/message_text.h"

namespace quill {

TerminalPrompter::TerminalPrompter(std::ostream& out) : out_(out) {}

void TerminalPrompter::print(const char* kind, const std::string& text, const std::string& title) {
  out_ << "quillant: " << kind;
  if (!title.empty()) out_ << title << ": ";
  out_ << toLineFeeds(text) << std::endl;
}

void TerminalPrompter::info(const std::string& text, const std::string& title) {
  print("", text, title);
}
void TerminalPrompter::error(const std::string& text, const std::string& title) {
  print("error: ", text, title);
}
void TerminalPrompter::warning(const std::string& text, const std::string& title) {
  print("warning: ", text, title);
}
bool TerminalPrompter::confirm(const std::string& text, const std::string& title, bool defaultAnswer) {
  print("", text + (defaultAnswer ? " [OK]" : " [Cancel]"), title);
  return defaultAnswer;
}

}  // namespace quill
