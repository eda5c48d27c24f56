// How a run goes. BeginUpload starts the folder phase on folderFtp_: its
// Connect's CommandDone (the log-in) and each MkDir's CommandDone send the
// next MKD until the folder queue is empty; then QUIT. When that connection
// has closed, the file phase starts on a TransferPool (transfer_pool.h) of
// one or more connections: the whole file queue is one stage, its jobs
// drawn from the queue as connections come free. When the stage is over,
// or a failure has stopped it, the pool closes its connections and the run
// finishes. Sync mode (ctl_ftp_ul_sync.cpp) runs everything on the pool, as
// a row of stages (stages_) started one after the other.
//
// The folder phase has a state (Phase): Working while it sends, Closing
// once QUIT is on its way after success, Failed once QUIT is on its way
// after an error; in the last two nothing more is sent, and QUIT's own
// CommandDone closes our side at once (Abend) instead of waiting for the
// server to hang up. A connection that closes while the phase is Working was
// lost, whatever the socket says, and that is an error.
//
// Every job's outcome comes to onJobFinished, which counts what was sent
// and deleted, raises FileSent and RemoteDeleted, and turns failures into
// the error text. A failure stops the file phase: no further job starts,
// the ones under way finish, the connections close.
#include "generator/upload/ctl_ftp_ul.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <stdexcept>
#include <utility>

#include "common/automation_error.h"

namespace quill {

namespace {

// MKD replies that usually mean the folder exists already.
constexpr int kReplyFileUnavailable = 550;
constexpr int kReplyFolderExists = 521;

const QString kConnectStat = QStringLiteral("Connect");
const QString kMkDirStat = QStringLiteral("MkDir");

bool isSiteFile(const TransferJob& job) { return job.kind == TransferJob::Kind::Store && !job.localPath.isEmpty(); }

// Replies that do not keep a job from its purpose: the folder exists, the
// file is gone, the folder to remove still holds someone else's files.
bool replyMeetsPurpose(const TransferJob& job, int code) {
  switch (job.kind) {
    case TransferJob::Kind::MakeFolder: return code == kReplyFileUnavailable || code == kReplyFolderExists;
    case TransferJob::Kind::Delete: return code == kReplyFileUnavailable;
    case TransferJob::Kind::RemoveFolder: return code >= 500;
    default: return false;
  }
}

}  // namespace

CtlFtpUL::CtlFtpUL(QObject* parent) : QObject(parent) {
  folderFtp_.setObjectName(QStringLiteral("ftpMkDir"));
  settings_.setSysCode(QStringLiteral("UTF8"));
  setTextExt(QString::fromLatin1(kDefaultTextExt));
  QObject::connect(&folderFtp_, &FtpControl::CommandDone, this, &CtlFtpUL::onFolderDone);
  QObject::connect(&folderFtp_, &FtpControl::DisConnected, this, &CtlFtpUL::onFolderDisconnected);
  QObject::connect(&scan_, &QFutureWatcher<ScanResult>::finished, this, &CtlFtpUL::onScanned);
  watchCertificates(folderFtp_);
}

void CtlFtpUL::watchCertificates(FtpControl& ftp) {
  QObject::connect(&ftp, &FtpControl::CertificateRejected, this,
                   [this](const QString& host, const QString& problem, const QString& fingerprint) {
                     rejected_ = RejectedCertificate{host, problem, fingerprint};
                     emit CertificateRejected(host, problem, fingerprint);
                   });
}

// Nothing of the run reaches us any more: the files close, every connection
// is interrupted and dropped, and no Finish is raised.
CtlFtpUL::~CtlFtpUL() {
  scan_.disconnect(this);
  stopScan_ = true;
  scan_.waitForFinished();
  QObject::disconnect(&folderFtp_, nullptr, this, nullptr);
  folderFtp_.Abort();
  folderFtp_.Abend();
  if (pool_) pool_->disconnect(this);
  pool_.reset();
}

// ---------------------------------------------------------------- settings

void CtlFtpUL::setConnections(int n) {
  if (n < 1 || n > kMaxConnections)
    throw std::out_of_range("the number of connections must be from 1 to " + std::to_string(kMaxConnections));
  connections_ = n;
}

void CtlFtpUL::setStallTimeout(int seconds) {
  if (seconds < 1) throw std::out_of_range("the stall timeout must be at least one second");
  stallTimeoutMs_ = seconds * 1000;
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

// The settings go over as the control's persisted properties, which copies
// every one of them the same way (TLS mode and pinned certificate too).
void CtlFtpUL::configure(FtpControl& ftp) const {
  FtpControl::PropertyBag bag;
  settings_.writeProperties(bag);
  ftp.readProperties(bag);
  ftp.setConnectTimeout(kConnectTimeoutMs);
}

std::unique_ptr<FtpControl> CtlFtpUL::newControl(const QString& objectName) {
  auto ftp = std::make_unique<FtpControl>();
  ftp->setObjectName(objectName);
  configure(*ftp);
  watchCertificates(*ftp);
  return ftp;
}

// ---------------------------------------------------------------- queueing

void CtlFtpUL::AddUploadItem(const QString& localPath, const QString& remotePath) {
  const QFileInfo info(localPath);
  if (info.isFile()) {
    files_.add(localPath, remotePath);
    ++singles_;
    return;
  }
  if (!info.isDir()) return;
  if (trees_++ == 0) siteRemote_ = remotePath;
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
  if (syncMode_ && (trees_ > 1 || singles_ > 0))
    throw SyncPlanError("sync mode publishes one folder tree; more was queued");
  busy_ = true;
  abortRequested_ = false;
  rejected_.reset();
  folderErrors_.clear();
  fileErrors_.clear();
  stages_.clear();
  stopping_ = false;
  plan_.reset();
  siteFiles_.clear();
  summary_ = {};
  summary_.sync = syncMode_ && trees_ == 1;
  summary_.dryRun = dryRun_;
  if (summary_.sync) return startSync();
  if (dryRun_) return planDryRun();
  startFolderPhase();
}

// Without sync a dry run needs no server: every queued file would be sent.
void CtlFtpUL::planDryRun() {
  SyncPlan plan;
  for (const FileQueue::Item& item : files_.items()) {
    const qint64 size = QFileInfo(item.localPath).size();
    plan.sends[0].push_back(siteFiles_.size());
    siteFiles_.push_back({item.localPath, item.remotePath, {}, size, {}});
    plan.bytesToSend += size;
  }
  summary_.toSend = static_cast<int64_t>(siteFiles_.size());
  summary_.bytesToSend = plan.bytesToSend;
  plan_ = std::move(plan);
  emit Planned(summary_);
  finishRun();
}

// ---------------------------------------------------------------- folders

void CtlFtpUL::startFolderPhase() {
  if (folders_.empty()) return afterFolderPhase();
  folderPhase_ = Phase::Working;
  loggedIn_ = false;
  try {
    configure(folderFtp_);
    folderFtp_.Connect(remoteHost_, username_, password_);
  } catch (const AutomationError& e) {
    folderErrors_ = QString::fromStdString(e.description());
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
  if (code == 0 && stat == kConnectStat) loggedIn_ = true;
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
  startPool();
  runStage(
      [this]() -> std::optional<TransferJob> {
        if (files_.empty()) return std::nullopt;
        FileQueue::Item item = files_.take();
        return TransferJob{TransferJob::Kind::Store, item.remotePath, item.localPath};
      },
      connections_);
}

// QUIT when the connection can take it; otherwise it is dropped.
void CtlFtpUL::closeConnection(FtpControl& ftp) {
  try {
    ftp.DisConnect();
  } catch (const AutomationError&) {
    ftp.Abend();
  }
}

// ---------------------------------------------------------------- file phase

void CtlFtpUL::startPool() {
  TransferLane::Settings s;
  s.host = remoteHost_;
  s.user = username_;
  s.password = password_;
  s.serverName = serverName();
  s.stallTimeoutMs = stallTimeoutMs_;
  s.maxTries = kMaxTries;
  s.retryWaitsMs = retryWaitsMs_;
  s.blockSize = kBlockSize;
  s.maxRetrieveBytes = Manifest::kMaxBytes + 1;
  s.transferType = [this](const QString& path) { return transferType(path); };
  auto make = [this](int n) {
    return newControl(n == 1 ? QStringLiteral("ftpULFile") : QStringLiteral("ftpULFile%1").arg(n));
  };
  pool_ = std::make_unique<TransferPool>(make, s, connections_);
  TransferPool* pool = pool_.get();
  QObject::connect(pool, &TransferPool::Trace, this, &CtlFtpUL::Trace);
  QObject::connect(pool, &TransferPool::JobStarted, this, [this](const TransferJob& job) {
    if (isSiteFile(job)) emit FileUploadStart(job.localPath);
  });
  QObject::connect(pool, &TransferPool::JobProgress, this, [this](const TransferJob& job, qint64 n) {
    if (isSiteFile(job)) emit FileUploadSize(n);
  });
  QObject::connect(pool, &TransferPool::JobDataClosed, this, [this](const TransferJob& job) {
    if (isSiteFile(job)) emit FileUploadEnd();
  });
  QObject::connect(pool, &TransferPool::JobRetrying, this,
                   [this](const TransferJob& job, const QString& reason, int waitMs) {
                     emit Notice(QStringLiteral("%1: %2; trying again in %3 s (try %4 of %5)")
                                     .arg(describeJob(job), reason)
                                     .arg(waitMs / 1000.0)
                                     .arg(job.tries + 1)
                                     .arg(kMaxTries));
                   });
  QObject::connect(pool, &TransferPool::LaneRetired, this, [this](const QString& reason) {
    const QString note = QStringLiteral("The server took no further connection (%1); going on with fewer").arg(reason);
    summary_.notes << note;
    emit Notice(note);
  });
  QObject::connect(pool, &TransferPool::JobFinished, this, &CtlFtpUL::onJobFinished);
  QObject::connect(pool, &TransferPool::StageDone, this, &CtlFtpUL::onStageDone);
  QObject::connect(pool, &TransferPool::Closed, this, &CtlFtpUL::finishRun);
}

void CtlFtpUL::runStage(TransferPool::JobSource source, int width) {
  stageRunning_ = true;
  pool_->runStage(std::move(source), width);
}

void CtlFtpUL::onJobFinished(const TransferJob& job, const JobOutcome& outcome) {
  const bool done = outcome.result == JobOutcome::Result::Done ||
                    (outcome.result == JobOutcome::Result::Refused && replyMeetsPurpose(job, outcome.code));
  if (job.kind == TransferJob::Kind::Retrieve) return onManifestRead(job, outcome);
  if (!done) {
    if (job.kind == TransferJob::Kind::Rename && outcome.result == JobOutcome::Result::Refused && !manifestReplaced_)
      return replaceManifest();
    return fail(failureOf(job, outcome));
  }
  if (job.tries > 0) summary_.retried << QStringLiteral("%1 (%2 tries)").arg(describeJob(job)).arg(job.tries + 1);
  if (isSiteFile(job)) {
    ++summary_.sent;
    summary_.bytesSent += outcome.bytes;
    addError(fileErrors_, outcome.note);
    emit FileSent(job.localPath, job.remotePath, outcome.bytes);
  } else if (job.kind == TransferJob::Kind::Delete && job.id != kManifestJob) {
    ++summary_.deleted;
    emit RemoteDeleted(job.remotePath);
  }
}

void CtlFtpUL::onStageDone() {
  stageRunning_ = false;
  if (stopping_ || stages_.empty()) return closePool();
  const std::function<void()> next = std::move(stages_.front());
  stages_.pop_front();
  next();
}

// No further job starts; the pool closes once the jobs under way are over.
void CtlFtpUL::fail(const QString& error) {
  addError(fileErrors_, error);
  stopping_ = true;
  if (stageRunning_)
    pool_->abandonStage();
  else
    closePool();
}

void CtlFtpUL::closePool() {
  stages_.clear();
  if (pool_)
    pool_->close();  // Closed finishes the run
  else
    finishRun();
}

QString CtlFtpUL::failureOf(const TransferJob& job, const JobOutcome& outcome) const {
  if (outcome.atLogIn && outcome.result == JobOutcome::Result::Refused) return outcome.message;
  if (isTlsFailure(outcome.code)) return outcome.message;  // no file is to blame
  const QString tries = job.tries > 1 ? QStringLiteral(" after %1 tries").arg(job.tries) : QString();
  switch (job.kind) {
    case TransferJob::Kind::Store:
      if (isSiteFile(job))
        return QStringLiteral("Sending \"%1\" to \"%2\" failed%3: %4").arg(job.localPath, job.remotePath, tries, outcome.message);
      return QStringLiteral("Storing \"%1\" failed%2: %3").arg(job.remotePath, tries, outcome.message);
    case TransferJob::Kind::Retrieve:
      return QStringLiteral("Reading \"%1\" failed%2: %3").arg(job.remotePath, tries, outcome.message);
    case TransferJob::Kind::MakeFolder:
      return QStringLiteral("Cannot create the remote folder \"%1\"%2: %3").arg(job.remotePath, tries, outcome.message);
    case TransferJob::Kind::Delete:
      return QStringLiteral("Cannot delete \"%1\"%2: %3").arg(job.remotePath, tries, outcome.message);
    case TransferJob::Kind::RemoveFolder:
      return QStringLiteral("Cannot remove the folder \"%1\"%2: %3").arg(job.remotePath, tries, outcome.message);
    case TransferJob::Kind::Rename:
      return QStringLiteral("Cannot rename \"%1\" to \"%2\"%3: %4").arg(job.remotePath, job.newPath, tries, outcome.message);
  }
  return outcome.message;
}

QString CtlFtpUL::describeJob(const TransferJob& job) {
  switch (job.kind) {
    case TransferJob::Kind::Store: return job.remotePath;
    case TransferJob::Kind::Retrieve: return QStringLiteral("reading ") + job.remotePath;
    case TransferJob::Kind::MakeFolder: return QStringLiteral("creating ") + job.remotePath;
    case TransferJob::Kind::Delete: return QStringLiteral("deleting ") + job.remotePath;
    case TransferJob::Kind::RemoveFolder: return QStringLiteral("removing ") + job.remotePath;
    case TransferJob::Kind::Rename: return QStringLiteral("renaming ") + job.remotePath;
  }
  return job.remotePath;
}

// ---------------------------------------------------------------- the end

void CtlFtpUL::finishRun() {
  QString errors;
  addError(errors, std::exchange(folderErrors_, QString()));
  addError(errors, std::exchange(fileErrors_, QString()));
  busy_ = false;
  folders_.clear();
  files_.clear();
  trees_ = singles_ = 0;
  folderPhase_ = Phase::Before;
  stages_.clear();
  stageRunning_ = false;
  stopScan_ = true;  // a scan still under way is of no use any more
  if (pool_) pool_.release()->deleteLater();  // we may be inside one of its signals
  emit Finish(errors);
}

QString CtlFtpUL::serverName() const { return remoteHost_ + QLatin1Char(':') + settings_.port(); }

// The folder connection closed while its phase was still at work. Before the
// log-in ended that is a connection that failed; afterwards one that was
// lost. A close without a socket error is the server hanging up.
QString CtlFtpUL::lostConnection(int code, const QString& msg) const {
  const QString reason = code != 0 ? msg : QStringLiteral("the server closed the connection");
  return (loggedIn_ ? QStringLiteral("The connection to %1 was lost: %2") : QStringLiteral("Cannot connect to %1: %2"))
      .arg(serverName(), reason);
}

void CtlFtpUL::addError(QString& errors, const QString& error) {
  if (error.isEmpty()) return;
  if (!errors.isEmpty()) errors += QStringLiteral("\r\n");
  errors += error;
}

}  // namespace quill
