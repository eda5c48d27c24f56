// Sync mode. Two things start at once: the local site is hashed on a worker
// thread (site_scan.h) while the pool logs in and fetches the manifest.
// Whichever ends last makes the plan (sync_plan.h); Planned reports it. The
// scan counts as ended only once its files are in siteFiles_ (scanned_),
// not when the worker is done: its result arrives by a queued signal, and a
// plan made before that would see an empty site and delete all of it. A
// dry run closes the pool there. Otherwise the plan becomes a row of stages,
// each started when the one before has ended:
//
//   create folders (one after the other, parents first)
//   send the leaves, then the lists, then the entry pages (N connections)
//   delete the files the site no longer has (N connections)
//   remove the folders that may now be empty, deepest level first
//   store the new manifest under its temporary name, then rename it
//
// The manifest is stored only when the run has had no error at all, so it
// never lists a file that did not arrive whole. A server that will not
// rename over an existing file gets the old manifest deleted first; between
// the two the server has no manifest, which the next publish takes as
// "nothing known": everything is sent again, nothing is lost.
#include "generator/upload/ctl_ftp_ul.h"

#include <QtConcurrent/QtConcurrentRun>

#include "generator/upload/site_scan.h"

namespace quill {

namespace {

constexpr int kReplyNoSuchFile = 550;

TransferPool::JobSource listSource(std::vector<TransferJob> jobs) {
  return [jobs = std::move(jobs), next = size_t{0}]() mutable -> std::optional<TransferJob> {
    if (next >= jobs.size()) return std::nullopt;
    return std::move(jobs[next++]);
  };
}

}  // namespace

QString CtlFtpUL::siteRemotePath(const std::string& relative) const {
  return relative.empty() ? siteRemote_ : siteRemote_ + QLatin1Char('/') + QString::fromStdString(relative);
}

void CtlFtpUL::startSync() {
  scan_.waitForFinished();  // the scan of an earlier run, told to stop
  stopScan_ = false;
  lastManifest_.reset();
  manifestRead_ = false;
  scanned_ = false;
  manifestReplaced_ = false;
  std::vector<FileQueue::Item> items = files_.items();
  files_.clear();
  scan_.setFuture(QtConcurrent::run([this, items = std::move(items), root = siteRemote_] {
    ScanResult r;
    try {
      r.files = scanSite(items, root, stopScan_);
    } catch (const SiteScanError& e) {
      r.error = QString::fromStdString(e.what());
    }
    return r;
  }));

  startPool();
  stages_.push_back([this] {
    manifestRead_ = true;
    if (scanned_) planSyncRun();
  });
  runStage(listSource({manifestJob(TransferJob::Kind::Retrieve, Manifest::kFileName)}), 1);
}

TransferJob CtlFtpUL::manifestJob(TransferJob::Kind kind, const char* name) const {
  TransferJob job{kind, siteRemotePath(name)};
  job.id = kManifestJob;
  if (kind == TransferJob::Kind::Rename) job.newPath = siteRemotePath(Manifest::kFileName);
  return job;
}

void CtlFtpUL::onManifestRead(const TransferJob& job, const JobOutcome& outcome) {
  if (outcome.result == JobOutcome::Result::Done) {
    lastManifest_ = outcome.data;
  } else if (outcome.result == JobOutcome::Result::Refused && outcome.code == kReplyNoSuchFile) {
    summary_.manifestNote = QStringLiteral("there is no manifest on the server yet: every file is sent");
  } else if (outcome.result == JobOutcome::Result::Refused && !outcome.atLogIn) {
    summary_.manifestNote = QStringLiteral("the server would not send the manifest (%1 %2): every file is sent, nothing is deleted")
                                .arg(outcome.code)
                                .arg(outcome.message);
  } else {
    fail(failureOf(job, outcome));
  }
}

void CtlFtpUL::onScanned() {
  if (!busy_ || !summary_.sync || stopping_ || plan_) return;  // a run that is over, or an earlier one
  ScanResult r = scan_.result();
  if (!r.error.isEmpty()) return fail(r.error);
  siteFiles_ = std::move(r.files);
  scanned_ = true;
  if (manifestRead_) planSyncRun();
}

void CtlFtpUL::planSyncRun() {
  std::optional<Manifest> last;
  if (lastManifest_) {
    try {
      last = Manifest::parse(std::string_view(lastManifest_->constData(), static_cast<size_t>(lastManifest_->size())));
    } catch (const ManifestError& e) {
      summary_.manifestNote = QStringLiteral("the manifest on the server cannot be used (%1): every file is sent, nothing is deleted")
                                  .arg(QString::fromStdString(e.what()));
    }
  }
  std::vector<std::string> folders;
  for (const QString& f : folders_)
    folders.push_back(f == siteRemote_ ? std::string() : f.mid(siteRemote_.size() + 1).toStdString());
  try {
    plan_ = planSync(siteFiles_, folders, last ? &*last : nullptr);
  } catch (const std::exception& e) {
    return fail(QString::fromStdString(e.what()));
  }
  summary_.toSend = static_cast<int64_t>(plan_->sendCount());
  summary_.bytesToSend = plan_->bytesToSend;
  summary_.unchanged = static_cast<int64_t>(plan_->unchanged);
  summary_.toDelete = static_cast<int64_t>(plan_->deletions.size());
  emit Planned(summary_);
  if (dryRun_) return closePool();
  queueSyncStages();
  onStageDone();
}

void CtlFtpUL::queueSyncStages() {
  const SyncPlan& plan = *plan_;
  if (!plan.folders.empty()) {
    stages_.push_back([this] {
      std::vector<TransferJob> jobs;
      for (const std::string& d : plan_->folders) jobs.push_back({TransferJob::Kind::MakeFolder, siteRemotePath(d)});
      runStage(listSource(std::move(jobs)), 1);  // a folder only once its parent is there
    });
  }
  for (size_t rank = 0; rank < kLinkRanks; ++rank) {
    if (plan.sends[rank].empty()) continue;
    stages_.push_back([this, rank] {
      std::vector<TransferJob> jobs;
      for (const size_t i : plan_->sends[rank]) {
        TransferJob job{TransferJob::Kind::Store, siteFiles_[i].remotePath, siteFiles_[i].localPath};
        job.id = i;
        jobs.push_back(std::move(job));
      }
      runStage(listSource(std::move(jobs)), connections_);
    });
  }
  if (!plan.deletions.empty()) {
    stages_.push_back([this] {
      std::vector<TransferJob> jobs;
      for (const std::string& p : plan_->deletions) jobs.push_back({TransferJob::Kind::Delete, siteRemotePath(p)});
      runStage(listSource(std::move(jobs)), connections_);
    });
  }
  for (size_t level = 0; level < plan.folderRemovals.size(); ++level) {
    stages_.push_back([this, level] {
      std::vector<TransferJob> jobs;
      for (const std::string& d : plan_->folderRemovals[level])
        jobs.push_back({TransferJob::Kind::RemoveFolder, siteRemotePath(d)});
      runStage(listSource(std::move(jobs)), connections_);
    });
  }
  if (!plan.manifestChanges) return;
  stages_.push_back([this] {
    if (!fileErrors_.isEmpty()) return closePool();  // some file did not arrive whole: keep the old manifest
    TransferJob store = manifestJob(TransferJob::Kind::Store, Manifest::kPartFileName);
    store.bytes = QByteArray::fromStdString(plan_->next.text());
    runStage(listSource({store}), 1);
  });
  stages_.push_back([this] { runStage(listSource({manifestJob(TransferJob::Kind::Rename, Manifest::kPartFileName)}), 1); });
}

// The rename was refused, most likely because the old manifest is in the
// way: delete it and rename again (a second refusal fails the run).
void CtlFtpUL::replaceManifest() {
  manifestReplaced_ = true;
  const std::vector<std::function<void()>> again = {
      [this] { runStage(listSource({manifestJob(TransferJob::Kind::Delete, Manifest::kFileName)}), 1); },
      [this] { runStage(listSource({manifestJob(TransferJob::Kind::Rename, Manifest::kPartFileName)}), 1); },
  };
  stages_.insert(stages_.begin(), again.begin(), again.end());
}

}  // namespace quill
