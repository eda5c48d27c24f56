// Prompter that shows QMessageBox dialogs owned by a parent window.
#pragma once

#include <QMessageBox>

#include "generator/report/prompter.h"

class QWidget;

namespace quill {

class QtPrompter : public Prompter {
 public:
  explicit QtPrompter(QWidget* parent = nullptr) : parent_(parent) {}
  void setParent(QWidget* parent) { parent_ = parent; }
  // The title of messages that are given none ("Quillant" unless set).
  void setDefaultTitle(const std::string& title) { defaultTitle_ = title; }
  void info(const std::string& text, const std::string& title = {}) override;
  void error(const std::string& text, const std::string& title = {}) override;
  void warning(const std::string& text, const std::string& title = {}) override;
  // The system's text as the message, the explanation below it.
  void failure(const std::string& explanation, const std::string& text) override;
  bool confirm(const std::string& text, const std::string& title = {},
               bool defaultAnswer = false) override;
  bool confirmCaution(const std::string& text, const std::string& title = {},
                      bool defaultAnswer = false) override;
  std::optional<std::string> askPassword(const std::string& text, const std::string& title = {}) override;

 private:
  QString titleOf(const std::string& title) const;
  bool ask(QMessageBox::Icon icon, const std::string& text, const std::string& title, bool defaultAnswer);

  QWidget* parent_;
  std::string defaultTitle_ = "Quillant";
};

}  // namespace quill
