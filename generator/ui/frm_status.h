// The status window of a generation run: the entry being generated, the
// pages it has written of those it will write, the debug text of the entry
// that finished last, a busy animation and a cancel button. A cancel asks
// first, then hides the window; the run stops before its next entry.
//
// The widgets' object names are the form's control names (Label1, Text1,
// Command1, Command2, Animation1, and ProgressBar1 for the pages): captions
// in qlang.xml and the tests find them by those names.
#pragma once

#include <QDialog>
#include <string>

#include "generator/report/status_display.h"

class QLabel;
class QMovie;
class QPlainTextEdit;
class QProgressBar;
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
  void stepProgress(long done, long total) override;
  void setDebugText(const std::string& text) override;
  void failed(const std::string& explanation) override;
  void processEvents() override;
  void notice(const std::string& text) override;
  bool cancelFlag() const override { return cancelFlag_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void confirmCancel();

  QLabel* statusLabel_;        // Label1
  QProgressBar* pageProgress_; // ProgressBar1: pages of the entry that runs
  QPlainTextEdit* debugText_;  // Text1
  QPushButton* cancelButton_;  // Command1
  QPushButton* spareButton_;   // Command2: on the form, without behaviour
  QLabel* busyAnimation_;      // Animation1
  QMovie* clip_;
  Prompter& prompter_;
  bool cancelFlag_ = false;
};

}  // namespace quill
