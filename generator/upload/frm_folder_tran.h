// The upload window: publishes one folder with the project's upload
// settings, shows the file being sent and its progress, and lets the user
// cancel. The main window creates it with the folder to send, shows it
// modally (exec) and deletes it once it has hidden itself:
//
//   frmFolderTran window(context, folder, prompter, mainWindow);
//   window.exec();
//
// The upload starts when the window is first shown. In sync mode (the
// settings' SyncMode) Label2 shows the plan as soon as it is made. When the
// upload ends the window hides, then says so (FinUpload; after a sync, a
// retry or a refused connection, followed by what happened), or shows
// ErrOccured and the error text. With several connections (Parallel) the
// progress bar counts files instead of one file's bytes. A
// confirmed cancel (the Cancel button, the close box or Escape, each asking
// ConfirmAbort first) hides the window and ends the upload at once: the open
// file is closed and both connections are dropped; no outcome is shown.
//
// FTP over TLS: a project that keeps no password (AskPassword) gets it
// asked for first (AskPassword caption; cancelling ends the upload quietly).
// When the server's certificate was refused, the failure is shown, then the
// certificate's fingerprint with the question whether to trust it
// (TrustCertificate); yes writes it to the project as TlsFingerprint, and
// the next upload accepts that certificate.
//
// The widgets' object names are the form's control names (Animation1,
// Label1, Label2, ProgressBar1, Command1; the upload queue is CtlFtpUL1).
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "generator/project/project_context.h"
#include "generator/upload/publish_summary.h"

class QLabel;
class QMovie;
class QProgressBar;
class QPushButton;

namespace quill {

class CtlFtpUL;
class Prompter;

class frmFolderTran : public QDialog {
  Q_OBJECT

 public:
  // Reads the window's captions from the caption document (context's
  // FormsNode) and throws the store's error when one is missing. The
  // settings are read from context's SetupNode when the upload starts.
  frmFolderTran(const ProjectContext& context, std::string localFolder, Prompter& prompter,
                QWidget* parent = nullptr);
  ~frmFolderTran() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void beginUpload();
  void fileStarted(const QString& localPath);
  void fileGrew(qint64 bytesRead);
  void fileSent();
  void planned(const PublishSummary& summary);
  void finished(const QString& errors);
  void offerTrust();
  QString outcome() const;
  void confirmCancel();
  std::string message(const char* name) const;
  QString optionalMessage(const char* name, const char* fallback) const;

  const ProjectContext& context_;
  const std::string localFolder_;
  Prompter& prompter_;
  DomNodeRef messageNode_;  // frmFolderTran / Message

  QLabel* busyAnimation_;      // Animation1
  QMovie* clip_;
  QLabel* fileLabel_;          // Label1
  QLabel* planLabel_;          // Label2
  QProgressBar* progressBar_;  // ProgressBar1
  QPushButton* cancelButton_;  // Command1
  std::unique_ptr<CtlFtpUL> queue_;  // CtlFtpUL1; a child, deleted before the window's other children

  bool started_ = false;
  bool over_ = false;        // finished, failed to start, or cancelled
  int progressShift_ = 0;    // sizes past the progress bar's int range are scaled down
  bool countFiles_ = false;  // several connections: the bar counts files
};

}  // namespace quill
