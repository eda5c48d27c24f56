// The lane is a small state machine (State) driven by its control's
// CommandDone and DisConnected and by two timers: the stall timer runs while
// the lane waits for the server (log-in, an operation) and is restarted by
// every sign of progress (a line sent or received, a block taken, bytes
// received); the wait timer runs between a failed try and the next.
//
// A try that may pass is ended in one place, tryAgain: the state moves to
// Waiting before the connection is dropped, so the DisConnected that the
// drop raises at once is recognised as our own doing. The job's try count
// goes up there and nowhere else.
//
// A Store reads its file unbuffered, one block per request of the control,
// and counts what it handed over. When the data connection closes before the
// source was read to its end, the server holds a short file whatever its
// final reply said: that try failed too.
#include "generator/upload/transfer_lane.h"

#include <QFile>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "common/automation_error.h"
#include "ftpcontrol/ftp_control.h"

namespace quill {

namespace {

const QString kConnectStat = QStringLiteral("Connect");

bool mayPass(int code) { return code < 0 || (code >= 400 && code < 500); }

}  // namespace

TransferLane::TransferLane(std::unique_ptr<FtpControl> ftp, const Settings& settings, QObject* parent)
    : QObject(parent), ftp_(std::move(ftp)), settings_(settings), stallTimer_(new QTimer(this)), waitTimer_(new QTimer(this)) {
  stallTimer_->setSingleShot(true);
  waitTimer_->setSingleShot(true);
  connect(stallTimer_, &QTimer::timeout, this, [this] {
    tryAgain(QStringLiteral("The connection to %1 stalled: nothing moved for %2 seconds")
                 .arg(settings_.serverName)
                 .arg(settings_.stallTimeoutMs / 1000.0));
  });
  connect(waitTimer_, &QTimer::timeout, this, &TransferLane::connectNow);
  connect(ftp_.get(), &FtpControl::CommandDone, this, &TransferLane::onCommandDone);
  connect(ftp_.get(), &FtpControl::DisConnected, this, &TransferLane::onDisconnected);
  connect(ftp_.get(), &FtpControl::Trace, this, &TransferLane::onTrace);
  connect(ftp_.get(), &FtpControl::PutClose, this, &TransferLane::onPutClose);
  connect(ftp_.get(), &FtpControl::GetData, this, &TransferLane::onGetData);
}

TransferLane::~TransferLane() {
  ftp_->disconnect(this);
  closeFile();
  ftp_->Abort();
  ftp_->Abend();
}

void TransferLane::run(TransferJob job) {
  job_ = std::move(job);
  if (state_ == State::Ready)
    perform();
  else
    connectNow();
}

bool TransferLane::close() {
  waitTimer_->stop();
  stallTimer_->stop();
  job_.reset();
  if (state_ != State::Ready) {
    if (state_ != State::Offline && state_ != State::Retired) {
      state_ = State::Retired;
      ftp_->Abend();
    }
    state_ = State::Retired;
    return true;
  }
  state_ = State::Closing;
  try {
    ftp_->DisConnect();
  } catch (const AutomationError&) {
    state_ = State::Retired;
    ftp_->Abend();
    return true;
  }
  return false;
}

// ---------------------------------------------------------------- a try

void TransferLane::connectNow() {
  state_ = State::Connecting;
  loggedInThisConnection_ = false;
  typeInEffect_.clear();
  stallTimer_->start(settings_.stallTimeoutMs);
  try {
    ftp_->Connect(settings_.host, settings_.user, settings_.password);
  } catch (const AutomationError& e) {  // a host or port the socket refuses outright
    stallTimer_->stop();
    finish(JobOutcome::failed(QStringLiteral("Cannot connect to %1: %2")
                                  .arg(settings_.serverName, QString::fromStdString(e.description())),
                              true),
           State::Offline);
  }
}

void TransferLane::perform() {
  state_ = State::Working;
  stallTimer_->start(settings_.stallTimeoutMs);
  const TransferJob& job = *job_;
  try {
    switch (job.kind) {
      case TransferJob::Kind::Store: startStore(); return;
      case TransferJob::Kind::Retrieve:
        received_.clear();
        setType(QStringLiteral("I"));
        ftp_->GetFile(job.remotePath, QString());
        return;
      case TransferJob::Kind::MakeFolder: ftp_->MkDir(job.remotePath); return;
      case TransferJob::Kind::Delete: ftp_->Delete(job.remotePath); return;
      case TransferJob::Kind::RemoveFolder: ftp_->RmDir(job.remotePath); return;
      case TransferJob::Kind::Rename: ftp_->Rename(job.remotePath, job.newPath); return;
    }
  } catch (const AutomationError& e) {  // a name with CR or LF, which would smuggle in a command
    closeFile();
    finish(JobOutcome::failed(QString::fromStdString(e.description())), State::Ready);
  }
}

void TransferLane::startStore() {
  const TransferJob& job = *job_;
  sent_ = 0;
  sourceEnded_ = false;
  shortNote_.clear();
  emit Started(job);
  if (job.localPath.isEmpty()) {
    expectedSize_ = job.bytes.size();
    setType(QStringLiteral("I"));
  } else {
    file_ = std::make_unique<QFile>(job.localPath);
    // Unbuffered: each block is one read of the file, made when asked for.
    if (!file_->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
      const QString why = QStringLiteral("cannot open the local file: ") + file_->errorString();
      closeFile();
      finish(JobOutcome::failed(why), State::Ready);
      return;
    }
    expectedSize_ = file_->size();
    setType(settings_.transferType(job.localPath));
  }
  ftp_->PutFile(job.remotePath, [this] { return nextBlock(); });
}

QByteArray TransferLane::nextBlock() {
  if (!job_ || sourceEnded_) return {};
  noteProgress();
  if (!file_ && job_->localPath.isEmpty()) {
    const QByteArray block = job_->bytes.mid(sent_, settings_.blockSize);
    sent_ += block.size();
    if (block.isEmpty()) sourceEnded_ = true;
    return block;
  }
  if (!file_) return {};
  const QByteArray block = file_->read(settings_.blockSize);
  if (!block.isEmpty()) {
    sent_ += block.size();
    emit Progress(*job_, sent_);
    return block;
  }
  sourceEnded_ = true;
  const bool readError = file_->error() != QFileDevice::NoError;
  if (readError || sent_ < expectedSize_) {
    const QString reason = readError ? file_->errorString() : QStringLiteral("the file ended early");
    shortNote_ = QStringLiteral("\"%1\" is short on the server: %2 of the %3 bytes of \"%4\" were read (%5)")
                     .arg(job_->remotePath)
                     .arg(sent_)
                     .arg(expectedSize_)
                     .arg(job_->localPath, reason);
  }
  closeFile();
  return {};
}

void TransferLane::onPutClose() {
  closeFile();
  if (job_) emit DataClosed(*job_);
}

void TransferLane::onGetData(const QByteArray& data) {
  noteProgress();
  if (received_.size() < settings_.maxRetrieveBytes) received_.append(data.left(settings_.maxRetrieveBytes - received_.size() + 1));
}

// ---------------------------------------------------------------- replies

void TransferLane::onCommandDone(int code, const QString& stat, const QString& msg) {
  if (state_ == State::Closing) {
    ftp_->Abend();  // QUIT answered: no need to wait for the server to hang up
    return;
  }
  if (state_ != State::Connecting && state_ != State::Working) return;
  stallTimer_->stop();
  const bool logIn = state_ == State::Connecting;
  if (code != 0) {
    if (mayPass(code)) return tryAgain(QString::number(code) + QLatin1Char(' ') + msg);
    closeFile();
    const JobOutcome out = JobOutcome::refused(code, msg, logIn);
    if (logIn) {
      // A refused log-in leaves nothing to use the connection for.
      state_ = State::Offline;
      ftp_->Abend();
    }
    return finish(out, logIn ? State::Offline : State::Ready);
  }
  if (logIn) {
    if (stat != kConnectStat) return;
    loggedInThisConnection_ = true;
    return perform();
  }
  JobOutcome out;
  switch (job_->kind) {
    case TransferJob::Kind::Store:
      if (!sourceEnded_)
        return tryAgain(QStringLiteral("the data connection closed after %1 of the %2 bytes").arg(sent_).arg(expectedSize_));
      out.bytes = sent_;
      out.note = shortNote_;
      break;
    case TransferJob::Kind::Retrieve: out.data = std::exchange(received_, QByteArray()); break;
    default: break;
  }
  out.message = msg;
  finish(out, State::Ready);
}

void TransferLane::onDisconnected(int code, const QString& msg) {
  switch (state_) {
    case State::Closing:
      state_ = State::Retired;
      emit Closed();
      return;
    case State::Ready: state_ = State::Offline; return;  // an idle connection the server ended
    case State::Connecting:
    case State::Working: {
      const QString reason = code != 0 ? msg : QStringLiteral("the server closed the connection");
      if (isTlsFailure(code)) {  // a certificate or a server that will not speak TLS: no try can mend it
        closeFile();
        JobOutcome out = JobOutcome::failed(QStringLiteral("Cannot connect to %1: %2").arg(settings_.serverName, reason),
                                            !loggedInThisConnection_);
        out.code = code;
        return finish(out, State::Offline);
      }
      tryAgain((loggedInThisConnection_ ? QStringLiteral("The connection to %1 was lost: %2")
                                        : QStringLiteral("Cannot connect to %1: %2"))
                   .arg(settings_.serverName, reason));
      return;
    }
    default: return;  // dropped on purpose
  }
}

void TransferLane::onTrace(const QString& msg) {
  noteProgress();
  emit Trace(msg);
}

void TransferLane::noteProgress() {
  if (stallTimer_->isActive()) stallTimer_->start(settings_.stallTimeoutMs);
}

// ---------------------------------------------------------------- endings

void TransferLane::tryAgain(const QString& reason) {
  stallTimer_->stop();
  closeFile();
  const bool neverLoggedIn = !loggedInThisConnection_;
  state_ = State::Waiting;
  ftp_->Abend();
  if (neverLoggedIn && settings_.mayRetire && settings_.mayRetire()) {
    state_ = State::Retired;
    TransferJob job = *std::exchange(job_, std::nullopt);
    emit Retired(job, reason);
    return;
  }
  ++job_->tries;
  if (job_->tries >= settings_.maxTries) {
    finish(JobOutcome::failed(reason, neverLoggedIn), State::Offline);
    return;
  }
  const auto& waits = settings_.retryWaitsMs;
  const int wait = waits.empty() ? 0 : waits[std::min<size_t>(job_->tries - 1, waits.size() - 1)];
  emit Retrying(*job_, reason, wait);
  if (state_ == State::Waiting) waitTimer_->start(wait);
}

// The lane is free before Finished is raised, so that its handler may hand
// it the next job.
void TransferLane::finish(JobOutcome outcome, State next) {
  stallTimer_->stop();
  state_ = next;
  const TransferJob job = *std::exchange(job_, std::nullopt);
  emit Finished(job, outcome);
}

void TransferLane::setType(const QString& type) {
  // TYPE goes out only when the type changes: one command less per file.
  ftp_->setFiletype(type == typeInEffect_ ? QString() : type);
  typeInEffect_ = type;
}

void TransferLane::closeFile() {
  if (!file_) return;
  file_->close();
  file_.reset();
}

}  // namespace quill
