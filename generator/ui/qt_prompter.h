// Prompter that shows QMessageBox dialogs owned by a parent window.
#pragma once

#include "generator/report/prompter.h"

class QWidget;

namespace quill {

class QtPrompter : public Prompter {
 public:
  explicit QtPrompter(QWidget* parent = nullptr) : parent_(parent) {}
  void setParent(QWidget* parent) { parent_ = parent; }
  void info(const std::string& text, const std::string& title = {}) override;
  void error(const std::string& text, const std::string& title = {}) override;
  void warning(const std::string& text, const std::string& title = {}) override;
  // The system's text as the message, the explanation below it.
  void failure(const std::string& explanation, const std::string& text) override;
  bool confirm(const std::string& text, const std::string& title = {},
               bool defaultAnswer = false) override;
  std::optional<std::string> askPassword(const std::string& text, const std::string& title = {}) override;

 private:
  QWidget* parent_;
};

}  // namespace quill
