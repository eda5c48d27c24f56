// The upload queue: sends a local folder tree (or single files) to an FTP
// server in one run, over two FTP controls. The first connection creates
// every remote folder (a folder before its subfolders; the replies 550 and
// 521 mean "exists" and count as success), the second stores the files one
// after the other, each as text (TYPE A) or binary (TYPE I) by its
// extension, read from disk in blocks of at most kBlockSize bytes only when
// the server takes them. One Finish signal ends every run, with "" or the
// error text. No widgets: it runs under QCoreApplication.
//
// Names go to the server as UTF-8, the form in which the generated pages
// link them. Destroying the queue during a run closes the open file, aborts
// both connections and raises no Finish: that is how a run is cancelled.
//
// Errors: BeginUpload during a run throws AutomationError 10002
// ("CtlFtpUl.BeginUpload", "It is busy in transfer data."). Everything else
// reaches the error text of Finish: the folder, or the local file and its
// remote path, that failed, with the server's reply or the system's reason;
// entries are separated by CR LF, folder errors first. A file that could not
// be read to its end is named there too, and the run goes on with the next.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "common/ordered_map.h"
#include "ftpcontrol/ftp_control.h"
#include "generator/upload/file_queue.h"

class QFile;

namespace quill {

// Error number of a BeginUpload during a run.
constexpr int32_t kUploadBusy = 10002;

class CtlFtpUL : public QObject {
  Q_OBJECT
 public:
  // Largest block read from a file at a time.
  static constexpr qint64 kBlockSize = 8192;
  // How long a connection may take to bring the server's greeting.
  static constexpr int kConnectTimeoutMs = 10000;
  static constexpr const char* kDefaultTextExt = "asp;htm;html;txt;cgi;csv;php;pl";

  explicit CtlFtpUL(QObject* parent = nullptr);
  ~CtlFtpUL() override;
  CtlFtpUL(const CtlFtpUL&) = delete;
  CtlFtpUL& operator=(const CtlFtpUL&) = delete;

  // --- connection (the same for both connections) ---
  void setRemoteHost(const QString& v) { remoteHost_ = v; }
  void setUsername(const QString& v) { username_ = v; }
  void setPassword(const QString& v) { password_ = v; }
  void setAccount(const QString& v);     // kFtpInvalidSetting for CR or LF
  void setPort(const QString& v);
  void setPreCommand(const QString& v);  // raw lines sent before the log-in, each ended by CR LF
  void setPassive(bool v);
  void setFileCode(const QString& v);    // conversion of file data; "BIN" (none) unless set

  // Extensions of the files sent as text, separated by ";". Compared as
  // written: no trimming, no case folding ("HTM" is not "htm"); an empty
  // piece is an extension too, and repeats collapse.
  QString textExt() const;
  void setTextExt(const QString& v);
  // "A" when the text after the last "." of the path is a text extension,
  // else "I" (also for a path without a ".").
  QString transferType(const QString& localPath) const;

  bool busy() const { return busy_; }

  // Queues a folder tree (the folder, then each subfolder's tree, then the
  // folder's files) or one file. A path that names nothing adds nothing.
  void AddUploadItem(const QString& localPath, const QString& remotePath);
  // Starts a run of what is queued; with nothing queued, Finish("") comes at
  // once without a connection.
  void BeginUpload();
  // Records the request only; cancel a run by destroying the queue.
  void Abort() { abortRequested_ = true; }
  bool abortRequested() const { return abortRequested_; }

  // What is queued, oldest first.
  const std::deque<QString>& folderQueue() const { return folders_; }
  const FileQueue& fileQueue() const { return files_; }

 signals:
  void Finish(const QString& errors);
  // The file connection's trace (commands sent, replies; the password never).
  void Trace(const QString& msg);
  void FileUploadStart(const QString& localPath);
  void FileUploadSize(qint64 bytesRead);
  void FileUploadEnd();

 private:
  // Each phase: Working while it sends, Closing once all went well and QUIT
  // is on its way, Failed after an error (nothing more is sent, QUIT is on
  // its way).
  enum class Phase : uint8_t { Before, Working, Closing, Failed };

  void addTree(const QString& local, const QString& remote, QSet<QString>& ancestors);
  void startFolderPhase();
  void onFolderDone(int code, const QString& stat, const QString& msg);
  void onFolderDisconnected(int code, const QString& msg);
  void afterFolderPhase();

  void startFilePhase();
  void onFileDone(int code, const QString& stat, const QString& msg);
  void startNextFile();
  QByteArray nextBlock();
  void onPutClose();
  void onFileDisconnected(int code, const QString& msg);
  void failFilePhase(const QString& error);

  [[nodiscard]] bool openConnection(FtpControl& ftp, QString& errors);
  void noteLogIn(int code, const QString& stat);
  void closeConnection(FtpControl& ftp);
  void closeFile();
  void finishRun();
  QString serverName() const;
  QString lostConnection(int code, const QString& msg) const;
  QString failedFile(const QString& reason) const;
  static void addError(QString& errors, const QString& error);

  FtpControl folderFtp_;  // ftpMkDir
  FtpControl fileFtp_;    // ftpULFile

  QString remoteHost_;
  QString username_;
  QString password_;
  OrderedMap<QString, bool> textExt_;

  bool busy_ = false;
  bool abortRequested_ = false;
  std::deque<QString> folders_;
  FileQueue files_;
  Phase folderPhase_ = Phase::Before;
  Phase filePhase_ = Phase::Before;
  QString folderErrors_;
  QString fileErrors_;
  QString currentFolder_;  // the MKD under way
  bool loggedIn_ = false;  // the phase's connection got past the log-in
  QString typeInEffect_;   // the last TYPE sent on the file connection

  // The file being sent; currentFile_ stays set from its start until the
  // server confirmed it, the QFile only while it is read.
  std::optional<FileQueue::Item> currentFile_;
  std::unique_ptr<QFile> openFile_;
  qint64 expectedSize_ = 0;
  qint64 bytesRead_ = 0;
};

}  // namespace quill
