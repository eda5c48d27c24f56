// Message boxes behind one small interface, so that the logic that shows
// them runs and is tested without a modal dialog. The windows show
// QMessageBox (ui/qt_prompter.h); on a terminal, TerminalPrompter prints to
// stderr and answers questions with their default.
#pragma once

#include <optional>
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
  // A failure: a plain explanation for people (which file, where, what to
  // do) and the system's own text. Shown by default as error(text); a
  // terminal puts the explanation first.
  virtual void failure(const std::string& /*explanation*/, const std::string& text) { error(text); }
  // OK / Cancel question; true for OK.
  virtual bool confirm(const std::string& text, const std::string& title = {},
                       bool defaultAnswer = false) = 0;
  // The same question about something harmless (making a folder): shown with
  // the exclamation icon rather than the critical one where icons differ.
  virtual bool confirmCaution(const std::string& text, const std::string& title = {}, bool defaultAnswer = false) {
    return confirm(text, title, defaultAnswer);
  }
  // Asks for a password, what is typed not shown; nullopt when cancelled
  // or when there is nobody to ask (the default).
  virtual std::optional<std::string> askPassword(const std::string& /*text*/, const std::string& /*title*/ = {}) {
    return std::nullopt;
  }
};

}  // namespace quill
