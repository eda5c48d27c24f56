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
void TerminalPrompter::failure(const std::string& explanation, const std::string& text) {
  out_ << "quillant: error: " << toLineFeeds(explanation) << '\n';
  const std::string lines = toLineFeeds(text);
  for (size_t start = 0; start < lines.size();) {
    size_t end = lines.find('\n', start);
    if (end == std::string::npos) end = lines.size();
    out_ << "  " << std::string_view(lines).substr(start, end - start) << '\n';
    start = end + 1;
  }
  out_.flush();
}
bool TerminalPrompter::confirm(const std::string& text, const std::string& title, bool defaultAnswer) {
  print("", text + (defaultAnswer ? " [OK]" : " [Cancel]"), title);
  return defaultAnswer;
}

}  // namespace quill
