// How a run goes. BeginUpload starts the folder phase on folderFtp_: its
// Connect's CommandDone (the log-in) and each MkDir's CommandDone send the
// next MKD until the folder queue is empty; then QUIT. When that connection
// has closed, the file phase starts on fileFtp_ the same way, one PutFile
// per CommandDone. Each phase has a state (Phase): Working while it sends,
// Closing once QUIT is on its way after success, Failed once QUIT is on its
// way after an error; in the last two nothing more is sent, and QUIT's own
// CommandDone closes our side at once (Abend) instead of waiting for the
// server to hang up. A connection that closes while its phase is Working
// was lost, whatever the socket says, and that is an error: a server that
// hangs up in the middle of a file must not make a run look successful.
//
// A file is opened when its turn comes and read unbuffered, one block per
// request of the control (nextBlock), so that memory stays flat whatever
// the size of the site. PutClose closes it. When the data ends before the
// size the file had when it was opened (a read error, or a file cut short
// meanwhile) the remote file is short: that is recorded and the run goes on.
#include "generator/upload/ctl_ftp_ul.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <utility>

#include "common/automation_error.h"

namespace quill {

namespace {

// MKD replies that usually mean the folder exists already.
constexpr int kReplyFileUnavailable = 550;
constexpr int kReplyFolderExists = 521;

const QString kConnectStat = QStringLiteral("Connect");
const QString kPutFileStat = QStringLiteral("PutFile");
const QString kMkDirStat = QStringLiteral("MkDir");

}  // namespace

CtlFtpUL::CtlFtpUL(QObject* parent) : QObject(parent) {
  folderFtp_.setObjectName(QStringLiteral("ftpMkDir"));
  fileFtp_.setObjectName(QStringLiteral("ftpULFile"));
  for (FtpControl* ftp : {&folderFtp_, &fileFtp_}) {
    ftp->setSysCode(QStringLiteral("UTF8"));
    ftp->setConnectTimeout(kConnectTimeoutMs);
  }
  setTextExt(QString::fromLatin1(kDefaultTextExt));

  QObject::connect(&folderFtp_, &FtpControl::CommandDone, this, &CtlFtpUL::onFolderDone);
  QObject::connect(&folderFtp_, &FtpControl::DisConnected, this, &CtlFtpUL::onFolderDisconnected);
  QObject::connect(&fileFtp_, &FtpControl::CommandDone, this, &CtlFtpUL::onFileDone);
  QObject::connect(&fileFtp_, &FtpControl::DisConnected, this, &CtlFtpUL::onFileDisconnected);
  QObject::connect(&fileFtp_, &FtpControl::PutClose, this, &CtlFtpUL::onPutClose);
  QObject::connect(&fileFtp_, &FtpControl::Trace, this, &CtlFtpUL::Trace);
}

// Nothing of the run reaches us any more: the file closes, both connections
// are interrupted and dropped, and no Finish is raised.
CtlFtpUL::~CtlFtpUL() {
  QObject::disconnect(&folderFtp_, nullptr, this, nullptr);
  QObject::disconnect(&fileFtp_, nullptr, this, nullptr);
  closeFile();
  for (FtpControl* ftp : {&folderFtp_, &fileFtp_}) {
    ftp->Abort();
    ftp->Abend();
  }
}

// ---------------------------------------------------------------- settings

void CtlFtpUL::setAccount(const QString& v) {
  folderFtp_.setAccount(v);
  fileFtp_.setAccount(v);
}

void CtlFtpUL::setPort(const QString& v) {
  folderFtp_.setPort(v);
  fileFtp_.setPort(v);
}

void CtlFtpUL::setPreCommand(const QString& v) {
  folderFtp_.setPreCommand(v);
  fileFtp_.setPreCommand(v);
}

void CtlFtpUL::setPassive(bool v) {
  folderFtp_.setPassive(v);
  fileFtp_.setPassive(v);
}

void CtlFtpUL::setFileCode(const QString& v) {
  folderFtp_.setFileCode(v);
  fileFtp_.setFileCode(v);
}

QString CtlFtpUL::textExt() const {
  QStringList keys;
  for (const auto& entry : textExt_) keys << entry.first;
  return keys.join(QLatin1Char(';'));
}

void CtlFtpUL::setTextExt(const QString& v) {
  textExt_ = {};
  for (const QString& piece : v.split(QLatin1Char(';'))) textExt_.set(piece, true);
}

QString CtlFtpUL::transferType(const QString& localPath) const {
  const qsizetype dot = localPath.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return QStringLiteral("I");
  return textExt_.contains(localPath.mid(dot + 1)) ? QStringLiteral("A") : QStringLiteral("I");
}

// ---------------------------------------------------------------- queueing

void CtlFtpUL::AddUploadItem(const QString& localPath, const QString& remotePath) {
  const QFileInfo info(localPath);
  if (info.isFile()) {
    files_.add(localPath, remotePath);
    return;
  }
  if (!info.isDir()) return;
  QSet<QString> ancestors;
  addTree(localPath, remotePath, ancestors);
}

// Depth first, the subfolders before the folder's own files. `ancestors`
// holds the folders on the way down, so that a link back up is not followed
// round and round. Hidden files go too (.htaccess); only regular files,
// as a pipe or a device would never end. The folder is read entry by entry,
// never listed whole.
void CtlFtpUL::addTree(const QString& local, const QString& remote, QSet<QString>& ancestors) {
  const QString canonical = QFileInfo(local).canonicalFilePath();
  if (ancestors.contains(canonical)) return;
  ancestors.insert(canonical);
  folders_.push_back(remote);
  for (QDirIterator sub(local, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden); sub.hasNext();) {
    sub.next();
    addTree(sub.filePath(), remote + QLatin1Char('/') + sub.fileName(), ancestors);
  }
  for (QDirIterator file(local, QDir::Files | QDir::Hidden); file.hasNext();) {
    file.next();
    files_.addIn(local, remote, file.fileName());
  }
  ancestors.remove(canonical);
}

void CtlFtpUL::BeginUpload() {
  if (busy_) throw AutomationError(kUploadBusy, "CtlFtpUl.BeginUpload", "It is busy in transfer data.");
  busy_ = true;
  abortRequested_ = false;
  folderErrors_.clear();
  fileErrors_.clear();
  startFolderPhase();
}

// ---------------------------------------------------------------- folders

void CtlFtpUL::startFolderPhase() {
  if (folders_.empty()) return afterFolderPhase();
  folderPhase_ = Phase::Working;
  if (!openConnection(folderFtp_, folderErrors_)) {
    folderPhase_ = Phase::Before;
    afterFolderPhase();
  }
}

void CtlFtpUL::onFolderDone(int code, const QString& stat, const QString& msg) {
  if (folderPhase_ == Phase::Closing || folderPhase_ == Phase::Failed) {
    folderFtp_.Abend();  // QUIT answered: no need to wait for the server to hang up
    return;
  }
  if (folderPhase_ != Phase::Working) return;
  noteLogIn(code, stat);
  if (code != 0 && code != kReplyFileUnavailable && code != kReplyFolderExists) {
    folderErrors_ = stat == kMkDirStat
                        ? QStringLiteral("Cannot create the remote folder \"%1\": %2").arg(currentFolder_, msg)
                        : msg;
    folderPhase_ = Phase::Failed;
    closeConnection(folderFtp_);
    return;
  }
  if (folders_.empty()) {
    folderPhase_ = Phase::Closing;
    closeConnection(folderFtp_);
    return;
  }
  currentFolder_ = folders_.front();
  folders_.pop_front();
  try {
    folderFtp_.MkDir(currentFolder_);
  } catch (const AutomationError& e) {
    folderErrors_ = QStringLiteral("Cannot create the remote folder \"%1\": %2")
                        .arg(currentFolder_, QString::fromStdString(e.description()));
    folderPhase_ = Phase::Failed;
    closeConnection(folderFtp_);
  }
}

void CtlFtpUL::onFolderDisconnected(int code, const QString& msg) {
  const Phase phase = std::exchange(folderPhase_, Phase::Before);
  if (phase == Phase::Before) return;
  if (phase == Phase::Working)
    addError(folderErrors_, lostConnection(code, msg));
  else if (phase == Phase::Failed && code != 0)
    addError(folderErrors_, msg);
  afterFolderPhase();
}

void CtlFtpUL::afterFolderPhase() {
  if (!folderErrors_.isEmpty() || files_.empty()) return finishRun();
  startFilePhase();
}

// ---------------------------------------------------------------- files

void CtlFtpUL::startFilePhase() {
  filePhase_ = Phase::Working;
  if (!openConnection(fileFtp_, fileErrors_)) {
    filePhase_ = Phase::Before;
    finishRun();
  }
}

void CtlFtpUL::onFileDone(int code, const QString& stat, const QString& msg) {
  if (filePhase_ == Phase::Closing || filePhase_ == Phase::Failed) {
    fileFtp_.Abend();
    return;
  }
  if (filePhase_ != Phase::Working) return;
  noteLogIn(code, stat);
  if (code != 0) {
    failFilePhase(stat == kPutFileStat && currentFile_ ? failedFile(msg) : msg);
    return;
  }
  if (stat == kPutFileStat) currentFile_.reset();  // the server has it
  if (files_.empty()) {
    filePhase_ = Phase::Closing;
    closeConnection(fileFtp_);
    return;
  }
  startNextFile();
}

void CtlFtpUL::startNextFile() {
  currentFile_ = files_.take();
  emit FileUploadStart(currentFile_->localPath);
  openFile_ = std::make_unique<QFile>(currentFile_->localPath);
  // Unbuffered: each block is one read of the file, made when asked for.
  if (!openFile_->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
    failFilePhase(failedFile(QStringLiteral("cannot open the local file: ") + openFile_->errorString()));
    return;
  }
  expectedSize_ = openFile_->size();
  bytesRead_ = 0;
  try {
    // TYPE goes out only when the type changes: one command less per file.
    const QString type = transferType(currentFile_->localPath);
    fileFtp_.setFiletype(type == typeInEffect_ ? QString() : type);
    typeInEffect_ = type;
    fileFtp_.PutFile(currentFile_->remotePath, [this] { return nextBlock(); });
  } catch (const AutomationError& e) {
    failFilePhase(failedFile(QString::fromStdString(e.description())));
  }
}

QByteArray CtlFtpUL::nextBlock() {
  if (!openFile_) return {};
  const QByteArray block = openFile_->read(kBlockSize);
  if (!block.isEmpty()) {
    bytesRead_ += block.size();
    emit FileUploadSize(bytesRead_);
    return block;
  }
  const bool readError = openFile_->error() != QFileDevice::NoError;
  if (readError || bytesRead_ < expectedSize_) {
    const QString reason = readError ? openFile_->errorString() : QStringLiteral("the file ended early");
    addError(fileErrors_, QStringLiteral("\"%1\" is short on the server: %2 of the %3 bytes of \"%4\" were read (%5)")
                              .arg(currentFile_->remotePath)
                              .arg(bytesRead_)
                              .arg(expectedSize_)
                              .arg(currentFile_->localPath, reason));
    closeFile();
  }
  return {};
}

void CtlFtpUL::onPutClose() {
  closeFile();
  emit FileUploadEnd();
}

void CtlFtpUL::onFileDisconnected(int code, const QString& msg) {
  const Phase phase = std::exchange(filePhase_, Phase::Before);
  if (phase == Phase::Before) return;
  closeFile();
  if (phase == Phase::Working) {
    const QString lost = lostConnection(code, msg);
    addError(fileErrors_, currentFile_ ? failedFile(lost) : lost);
  } else if (phase == Phase::Failed && code != 0) {
    addError(fileErrors_, msg);
  }
  currentFile_.reset();
  finishRun();
}

void CtlFtpUL::failFilePhase(const QString& error) {
  filePhase_ = Phase::Failed;
  closeFile();
  currentFile_.reset();
  addError(fileErrors_, error);
  closeConnection(fileFtp_);
}

// ---------------------------------------------------------------- helpers

bool CtlFtpUL::openConnection(FtpControl& ftp, QString& errors) {
  loggedIn_ = false;
  typeInEffect_.clear();
  try {
    ftp.Connect(remoteHost_, username_, password_);
    return true;
  } catch (const AutomationError& e) {
    errors = QString::fromStdString(e.description());
    return false;
  }
}

void CtlFtpUL::noteLogIn(int code, const QString& stat) {
  if (code == 0 && stat == kConnectStat) loggedIn_ = true;
}

// QUIT when the connection can take it; otherwise it is dropped.
void CtlFtpUL::closeConnection(FtpControl& ftp) {
  try {
    ftp.DisConnect();
  } catch (const AutomationError&) {
    ftp.Abend();
  }
}

void CtlFtpUL::closeFile() {
  if (!openFile_) return;
  openFile_->close();
  openFile_.reset();
}

void CtlFtpUL::finishRun() {
  QString errors;
  addError(errors, std::exchange(folderErrors_, QString()));
  addError(errors, std::exchange(fileErrors_, QString()));
  busy_ = false;
  folders_.clear();
  files_.clear();
  folderPhase_ = filePhase_ = Phase::Before;
  emit Finish(errors);
}

QString CtlFtpUL::serverName() const { return remoteHost_ + QLatin1Char(':') + folderFtp_.port(); }

// A connection closed while its phase was still at work. Before the log-in
// ended that is a connection that failed; afterwards one that was lost. A
// close without a socket error is the server hanging up.
QString CtlFtpUL::lostConnection(int code, const QString& msg) const {
  const QString reason = code != 0 ? msg : QStringLiteral("the server closed the connection");
  return (loggedIn_ ? QStringLiteral("The connection to %1 was lost: %2") : QStringLiteral("Cannot connect to %1: %2"))
      .arg(serverName(), reason);
}

QString CtlFtpUL::failedFile(const QString& reason) const {
  return QStringLiteral("Sending \"%1\" to \"%2\" failed: %3")
      .arg(currentFile_->localPath, currentFile_->remotePath, reason);
}

void CtlFtpUL::addError(QString& errors, const QString& error) {
  if (error.isEmpty()) return;
  if (!errors.isEmpty()) errors += QStringLiteral("\r\n");
  errors += error;
}

}  // namespace quill
