// Message boxes on a terminal: every message is one line (or several) on the
// given stream, prefixed "quillant:" and its kind; a question is printed with
// its default answer, which is also the answer.
#pragma once

#include <iosfwd>

#include "generator/report/prompter.h"

namespace quill {

class TerminalPrompter : public Prompter {
 public:
  explicit TerminalPrompter(std::ostream& out);
  void info(const std::string& text, const std::string& title = {}) override;
  void error(const std::string& text, const std::string& title = {}) override;
  void warning(const std::string& text, const std::string& title = {}) override;
  // The explanation on the error line, the system's text indented below it.
  void failure(const std::string& explanation, const std::string& text) override;
  bool confirm(const std::string& text, const std::string& title = {},
               bool defaultAnswer = false) override;

 private:
  void print(const char* kind, const std::string& text, const std::string& title);
  std::ostream& out_;
};

}  // namespace quill
