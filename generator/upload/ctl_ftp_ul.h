// The upload queue: sends a local folder tree (or single files) to an FTP
// server in one run. A first connection creates every remote folder (a
// folder before its subfolders; the replies 550 and 521 mean "exists" and
// count as success); then the file phase stores the files, each as text
// (TYPE A) or binary (TYPE I) by its extension, read from disk in blocks of
// at most kBlockSize bytes only when the server takes them. One Finish
// signal ends every run, with "" or the error text. No widgets: it runs
// under QCoreApplication.
//
// The file phase runs on one connection by default, in the queue's order,
// or on up to kMaxConnections (setConnections). A try that fails for a
// reason that may pass (the connection lost, no progress for the stall
// timeout, a 4xx reply) reconnects and does the file again, up to kMaxTries
// tries with growing waits; what needed more than one try is reported in
// summary() and by Notice.
//
// Sync mode (setSyncMode) publishes one folder tree against the manifest
// kept beside it on the server (manifest.h): the folder phase is left out;
// the file phase reads the manifest, plans (sync_plan.h; Planned reports the
// plan), creates the folders that receive files, sends only what changed,
// in an order that keeps the site's links whole, deletes what the last
// publish left and the site no longer has, and stores the new manifest
// under a temporary name before renaming it, only when everything went
// well. A dry run stops after Planned: nothing changes on the server.
//
// Names go to the server as UTF-8, the form in which the generated pages
// link them. Destroying the queue during a run closes the open files, aborts
// every connection and raises no Finish: that is how a run is cancelled.
//
// Errors: BeginUpload during a run throws AutomationError 10002
// ("CtlFtpUl.BeginUpload", "It is busy in transfer data."); in sync mode with
// anything queued but one folder tree, SyncPlanError. Everything else
// reaches the error text of Finish: the folder, or the local file and its
// remote path, that failed, with the server's reply or the system's reason;
// entries are separated by CR LF, folder errors first. A file that could not
// be read to its end is named there too, and the run goes on with the next.
#pragma once

#include <QByteArray>
#include <QFutureWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/ordered_map.h"
#include "ftpcontrol/ftp_control.h"
#include "generator/upload/file_queue.h"
#include "generator/upload/publish_options.h"
#include "generator/upload/publish_summary.h"
#include "generator/upload/sync_plan.h"
#include "generator/upload/transfer_pool.h"

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
  static constexpr int kMaxTries = 3;

  explicit CtlFtpUL(QObject* parent = nullptr);
  ~CtlFtpUL() override;
  CtlFtpUL(const CtlFtpUL&) = delete;
  CtlFtpUL& operator=(const CtlFtpUL&) = delete;

  // --- connection (the same for every connection) ---
  void setRemoteHost(const QString& v) { remoteHost_ = v; }
  void setUsername(const QString& v) { username_ = v; }
  void setPassword(const QString& v) { password_ = v; }
  void setAccount(const QString& v) { settings_.setAccount(v); }  // kFtpInvalidSetting for CR or LF
  void setPort(const QString& v) { settings_.setPort(v); }
  // Raw lines sent before the log-in, each ended by CR LF.
  void setPreCommand(const QString& v) { settings_.setPreCommand(v); }
  void setPassive(bool v) { settings_.setPassive(v); }
  // Conversion of file data; "BIN" (none) unless set.
  void setFileCode(const QString& v) { settings_.setFileCode(v); }
  // FTP over TLS: "", "explicit" or "implicit" (kFtpInvalidSetting
  // otherwise), and the pinned certificate (see FtpControl).
  void setSecurity(const QString& v) { settings_.setSecurity(v); }
  void setTlsFingerprint(const QString& v) { settings_.setTlsFingerprint(v); }

  // The certificate a connection of the last run refused, if one did.
  struct RejectedCertificate {
    QString host, problem, fingerprint;
  };
  const std::optional<RejectedCertificate>& rejectedCertificate() const { return rejected_; }

  // --- how a run publishes ---
  void setSyncMode(bool on) { syncMode_ = on; }
  void setDryRun(bool on) { dryRun_ = on; }
  // Connections of the file phase, 1 to kMaxConnections.
  void setConnections(int n);
  // Seconds without progress after which a connection counts as lost.
  void setStallTimeout(int seconds);
  // Milliseconds to wait before the second try of a file, the third, ...
  void setRetryWaits(std::vector<int> waitsMs) { retryWaitsMs_ = std::move(waitsMs); }

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

  // The numbers of the run; the plan's once Planned has come, the outcome's
  // once Finish has.
  const PublishSummary& summary() const { return summary_; }
  // Sync mode, from Planned until the next run: the plan and the local
  // files its sends refer to.
  const SyncPlan* plan() const { return plan_ ? &*plan_ : nullptr; }
  const std::vector<SiteFile>& siteFiles() const { return siteFiles_; }

 signals:
  void Finish(const QString& errors);
  // The file phase's trace (commands sent, replies; the password never).
  void Trace(const QString& msg);
  void FileUploadStart(const QString& localPath);
  void FileUploadSize(qint64 bytesRead);
  void FileUploadEnd();
  // Sync mode and dry runs: the plan, before anything changes on the server.
  void Planned(const PublishSummary& summary);
  // A file the server has confirmed, with the bytes sent.
  void FileSent(const QString& localPath, const QString& remotePath, qint64 bytes);
  void RemoteDeleted(const QString& remotePath);
  // Something worth telling while the run goes on: a try that failed and is
  // made again, a connection the server refused.
  void Notice(const QString& text);
  // A connection refused the server's certificate (the run fails).
  void CertificateRejected(const QString& host, const QString& problem, const QString& fingerprint);

 private:
  // Each phase: Working while it sends, Closing once all went well and QUIT
  // is on its way, Failed after an error (nothing more is sent, QUIT is on
  // its way).
  enum class Phase : uint8_t { Before, Working, Closing, Failed };

  void addTree(const QString& local, const QString& remote, QSet<QString>& ancestors);
  // The one place where a connection's FTP control is configured (every
  // control of a run goes through it).
  void configure(FtpControl& ftp) const;
  std::unique_ptr<FtpControl> newControl(const QString& objectName);
  void watchCertificates(FtpControl& ftp);

  void startFolderPhase();
  static void closeConnection(FtpControl& ftp);
  void onFolderDone(int code, const QString& stat, const QString& msg);
  void onFolderDisconnected(int code, const QString& msg);
  void afterFolderPhase();

  // The file phase, on the pool.
  void startPool();
  void runStage(TransferPool::JobSource source, int width);
  void onJobFinished(const TransferJob& job, const JobOutcome& outcome);
  void onStageDone();
  void fail(const QString& error);
  void closePool();
  QString failureOf(const TransferJob& job, const JobOutcome& outcome) const;
  static QString describeJob(const TransferJob& job);

  // Sync mode (ctl_ftp_ul_sync.cpp). The manifest's own jobs carry this id.
  static constexpr size_t kManifestJob = SIZE_MAX;
  void startSync();
  TransferJob manifestJob(TransferJob::Kind kind, const char* name) const;
  void onManifestRead(const TransferJob& job, const JobOutcome& outcome);
  void onScanned();
  void planSyncRun();
  void queueSyncStages();
  void replaceManifest();
  QString siteRemotePath(const std::string& relative) const;
  void planDryRun();

  void finishRun();
  QString serverName() const;
  QString lostConnection(int code, const QString& msg) const;
  static void addError(QString& errors, const QString& error);

  FtpControl settings_;  // never connects: holds (and checks) what every control gets
  FtpControl folderFtp_;                // ftpMkDir
  std::unique_ptr<TransferPool> pool_;  // ftpULFile, and more with several connections

  std::optional<RejectedCertificate> rejected_;
  QString remoteHost_;
  QString username_;
  QString password_;
  OrderedMap<QString, bool> textExt_;
  bool syncMode_ = false;
  bool dryRun_ = false;
  int connections_ = 1;
  int stallTimeoutMs_ = kDefaultStallTimeoutS * 1000;
  std::vector<int> retryWaitsMs_ = {2000, 5000};

  bool busy_ = false;
  bool abortRequested_ = false;
  std::deque<QString> folders_;
  FileQueue files_;
  int trees_ = 0;    // folder trees queued
  int singles_ = 0;  // single files queued
  QString siteRemote_;  // where the first folder tree queued goes
  Phase folderPhase_ = Phase::Before;
  QString folderErrors_;
  QString fileErrors_;
  QString currentFolder_;  // the MKD under way
  bool loggedIn_ = false;  // the folder connection got past the log-in

  // The file phase: stages still to run, and whether a failure stopped it.
  std::deque<std::function<void()>> stages_;
  bool stageRunning_ = false;
  bool stopping_ = false;
  PublishSummary summary_;

  // Sync mode.
  struct ScanResult {
    std::vector<SiteFile> files;
    QString error;
  };
  std::atomic<bool> stopScan_{false};
  QFutureWatcher<ScanResult> scan_;
  std::optional<QByteArray> lastManifest_;  // as read; nullopt: none on the server
  bool manifestRead_ = false;
  bool scanned_ = false;  // siteFiles_ holds the scan's result
  std::vector<SiteFile> siteFiles_;
  std::optional<SyncPlan> plan_;
  bool manifestReplaced_ = false;  // the old manifest was deleted to make way for the new
};

}  // namespace quill
