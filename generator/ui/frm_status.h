// The status window of a generation run: the entry being generated, the
// debug text of the entry that finished last, a busy animation and a cancel
// button. A cancel asks first, then hides the window; the run stops before
// its next entry.
#pragma once

#include <QDialog>
#include <string>

#include "generator/run/status_display.h"

class QLabel;
class QMovie;
class QPlainTextEdit;
class QPushButton;

namespace quill {

class Prompter;

class frmStatus : public QDialog, public StatusDisplay {
  Q_OBJECT

 public:
  frmStatus(const std::string& appFolder, Prompter& prompter, QWidget* parent = nullptr);

  void setCaptions(const std::string& title, const std::string& cancelCaption) override;
  void started() override;
  void entryStarted(const std::string& statusText, int position, int total) override;
  void setDebugText(const std::string& text) override;
  void processEvents() override;
  void notice(const std::string& text) override;
  bool cancelFlag() const override { return cancelFlag_; }

  QLabel* Label1;
  QPlainTextEdit* Text1;
  QPushButton* Command1;
  QPushButton* Command2;
  QLabel* Animation1;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void confirmCancel();

  Prompter& prompter_;
  QMovie* clip_;
  bool cancelFlag_ = false;
};

}  // namespace quill
