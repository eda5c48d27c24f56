// Message boxes behind one small interface, so that the logic that shows
// them runs and is tested without a modal dialog. The window build shows
// QMessageBox; the terminal build prints to stderr and answers questions
// with their default.
#pragma once

#include <iosfwd>
#include <string>

namespace quill {

class Prompter {
 public:
  virtual ~Prompter() = default;
  // Plain message, OK button.
  virtual void info(const std::string& text, const std::string& title = {}) = 0;
  // Message with the critical-stop icon, OK button.
  virtual void error(const std::string& text, const std::string& title = {}) = 0;
  // Message with the exclamation icon, OK button.
  virtual void warning(const std::string& text, const std::string& title = {}) = 0;
  // OK / Cancel question; true for OK.
  virtual bool confirm(const std::string& text, const std::string& title = {},
                       bool defaultAnswer = false) = 0;
};

class TerminalPrompter : public Prompter {
 public:
  explicit TerminalPrompter(std::ostream& out);
  void info(const std::string& text, const std::string& title = {}) override;
  void error(const std::string& text, const std::string& title = {}) override;
  void warning(const std::string& text, const std::string& title = {}) override;
  bool confirm(const std::string& text, const std::string& title = {},
               bool defaultAnswer = false) override;

 private:
  void print(const char* kind, const std::string& text, const std::string& title);
  std::ostream& out_;
};

// Message texts carry CR LF line breaks; a terminal wants LF.
std::string toTerminalText(std::string text);

}  // namespace quill
