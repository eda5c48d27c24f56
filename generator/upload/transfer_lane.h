// One connection of the upload's file phase, working through one job at a
// time: store a file (from disk or from memory), fetch a small file, create,
// delete or remove a folder, rename. The lane logs in when its first job
// comes and stays logged in between jobs.
//
// A try that fails for a reason that may pass — the connection lost or
// refused, no progress for the stall timeout, a 4xx reply (421 among them)
// or an unreadable PASV reply — drops the connection, waits (the waits grow
// from try to try), logs in again and does the job again, up to maxTries
// tries. Anything else ends the job at once: a 5xx reply (Refused, with the
// code, for the caller to judge: a 550 to DELE only means the file is gone),
// or a local file that cannot be opened (Failed).
//
// A lane that cannot log in while another lane of the pool is logged in
// retires instead (the server takes no more connections): it gives its job
// back untried and is not used again.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QFile;
class QTimer;

namespace quill {

class FtpControl;

struct TransferJob {
  enum class Kind : uint8_t { Store, Retrieve, MakeFolder, Delete, RemoveFolder, Rename };
  TransferJob() = default;
  TransferJob(Kind k, QString remote, QString local = {})
      : kind(k), remotePath(std::move(remote)), localPath(std::move(local)) {}

  Kind kind = Kind::Store;
  QString remotePath;
  QString localPath;  // Store: the file sent; empty when `bytes` are sent instead
  QByteArray bytes;   // Store without a local file
  QString newPath;    // Rename: the new name
  size_t id = 0;      // the caller's own reference
  int tries = 0;      // tries that failed and were tried again
};

struct JobOutcome {
  enum class Result : uint8_t {
    Done,     // the server confirmed it
    Refused,  // a final reply the lane does not try again (code, message)
    Failed,   // could not be done: `message` says why (after maxTries tries, or at once for a local cause)
  };
  static JobOutcome refused(int code, QString message, bool atLogIn) {
    JobOutcome o;
    o.result = Result::Refused;
    o.code = code;
    o.message = std::move(message);
    o.atLogIn = atLogIn;
    return o;
  }
  static JobOutcome failed(QString message, bool atLogIn = false) {
    JobOutcome o;
    o.result = Result::Failed;
    o.message = std::move(message);
    o.atLogIn = atLogIn;
    return o;
  }

  Result result = Result::Done;
  int code = 0;
  QString message;
  bool atLogIn = false;  // Refused or Failed before the log-in ended
  QString note;          // Done, yet worth reporting: a file that ended early while it was read
  QByteArray data;       // Retrieve: what arrived
  qint64 bytes = 0;      // Store: bytes sent
};

class TransferLane : public QObject {
  Q_OBJECT
 public:
  struct Settings {
    QString host, user, password;
    QString serverName;  // "host:port", for messages
    int stallTimeoutMs = 30000;
    int maxTries = 3;
    std::vector<int> retryWaitsMs = {2000, 5000};  // before the 2nd try, the 3rd, ... (the last repeats)
    qint64 blockSize = 8192;
    qint64 maxRetrieveBytes = 1 << 20;
    std::function<QString(const QString&)> transferType;  // "A" or "I" for a local path
    std::function<bool()> mayRetire;                       // another lane is logged in
  };

  TransferLane(std::unique_ptr<FtpControl> ftp, const Settings& settings, QObject* parent = nullptr);
  ~TransferLane() override;  // drops the connection; no signal follows

  // Starts a job; the lane must be free.
  void run(TransferJob job);
  bool free() const { return state_ == State::Offline || state_ == State::Ready; }
  bool loggedIn() const { return state_ == State::Ready || state_ == State::Working; }
  // Ends the lane's connection (a job waiting for its next try is dropped).
  // True when nothing is left to wait for; otherwise Closed follows.
  [[nodiscard]] bool close();

 signals:
  void Started(const TransferJob& job);  // each try of a Store
  void Progress(const TransferJob& job, qint64 bytesRead);
  void DataClosed(const TransferJob& job);  // a Store's data connection has closed
  void Retrying(const TransferJob& job, const QString& reason, int waitMs);
  void Finished(const TransferJob& job, const JobOutcome& outcome);  // the lane is free again
  void Retired(const TransferJob& job, const QString& reason);       // the job was not tried
  void Closed();
  void Trace(const QString& msg);

 private:
  enum class State : uint8_t {
    Offline,     // no connection, no job
    Connecting,  // Connect under way, holding a job
    Ready,       // logged in, no job
    Working,     // the job's operation under way
    Waiting,     // a try failed; the next starts when the wait is over
    Closing,     // QUIT sent
    Retired,     // not used again
  };

  void connectNow();
  void perform();
  void startStore();
  QByteArray nextBlock();
  void onCommandDone(int code, const QString& stat, const QString& msg);
  void onDisconnected(int code, const QString& msg);
  void onTrace(const QString& msg);
  void onPutClose();
  void onGetData(const QByteArray& data);
  void tryAgain(const QString& reason);
  void finish(JobOutcome outcome, State next);
  void setType(const QString& type);
  void closeFile();
  void noteProgress();

  std::unique_ptr<FtpControl> ftp_;
  Settings settings_;
  State state_ = State::Offline;
  std::optional<TransferJob> job_;
  bool loggedInThisConnection_ = false;
  QString typeInEffect_;  // the last TYPE sent on this connection
  QTimer* stallTimer_;
  QTimer* waitTimer_;

  // The Store under way.
  std::unique_ptr<QFile> file_;
  qint64 expectedSize_ = 0;
  qint64 sent_ = 0;
  bool sourceEnded_ = false;  // the last block has been handed over
  QString shortNote_;
  // The Retrieve under way.
  QByteArray received_;
};

}  // namespace quill
