#include <ostream>

#include "generator/ui/prompter.h"

namespace quill {

std::string toTerminalText(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i] == '\r' ? '\n' : text[i]);
  }
  return out;
}

TerminalPrompter::TerminalPrompter(std::ostream& out) : out_(out) {}

void TerminalPrompter::print(const char* kind, const std::string& text, const std::string& title) {
  out_ << "quillant: " << kind;
  if (!title.empty()) out_ << title << ": ";
  out_ << toTerminalText(text) << std::endl;
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
