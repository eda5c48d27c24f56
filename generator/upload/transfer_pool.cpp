// dispatch() is the only place that starts jobs: it runs when a stage
// starts and whenever a job finishes or comes back. A lane may finish a job
// while it is being started (a local file that cannot be opened), which
// calls dispatch() again from within; the loop reads the counts afresh on
// every turn, so that is safe. The end of a stage and of the pool are
// announced from the event loop (queued), never from inside a lane's
// signal, so a handler that starts the next stage starts it on a quiet pool.
#include "generator/upload/transfer_pool.h"

#include <QMetaObject>
#include <algorithm>

#include "ftpcontrol/ftp_control.h"

namespace quill {

TransferPool::TransferPool(ControlFactory makeControl, TransferLane::Settings settings, int connections,
                           QObject* parent)
    : QObject(parent), makeControl_(std::move(makeControl)), settings_(std::move(settings)),
      maxLanes_(std::max(1, connections)) {
  settings_.mayRetire = [this] {
    return std::any_of(lanes_.begin(), lanes_.end(), [](const auto& lane) { return lane->loggedIn(); });
  };
}

TransferPool::~TransferPool() {
  for (auto& lane : lanes_) lane->disconnect(this);
  lanes_.clear();
}

void TransferPool::runStage(JobSource source, int width) {
  source_ = std::move(source);
  sourceDone_ = false;
  stageRunning_ = true;
  width_ = std::clamp(width, 1, maxLanes_);
  dispatch();
  checkStageDone();
}

void TransferPool::abandonStage() {
  source_ = nullptr;
  sourceDone_ = true;
  returned_.clear();
}

void TransferPool::close() {
  abandonStage();
  closing_ = 0;
  for (auto& lane : lanes_)
    if (!lane->close()) ++closing_;
  if (closing_ == 0) QMetaObject::invokeMethod(this, &TransferPool::Closed, Qt::QueuedConnection);
}

TransferLane* TransferPool::freeLane() {
  TransferLane* offline = nullptr;
  for (auto& lane : lanes_) {
    if (!lane->free()) continue;
    if (lane->loggedIn()) return lane.get();
    if (!offline) offline = lane.get();
  }
  if (offline || static_cast<int>(lanes_.size()) >= maxLanes_) return offline;
  const int number = static_cast<int>(lanes_.size()) + 1;
  auto lane = std::make_unique<TransferLane>(makeControl_(number), settings_, this);
  TransferLane* l = lane.get();
  connect(l, &TransferLane::Started, this, &TransferPool::JobStarted);
  connect(l, &TransferLane::Progress, this, &TransferPool::JobProgress);
  connect(l, &TransferLane::DataClosed, this, &TransferPool::JobDataClosed);
  connect(l, &TransferLane::Retrying, this, &TransferPool::JobRetrying);
  connect(l, &TransferLane::Trace, this, &TransferPool::Trace);
  connect(l, &TransferLane::Finished, this, &TransferPool::onFinished);
  connect(l, &TransferLane::Retired, this, &TransferPool::onRetired);
  connect(l, &TransferLane::Closed, this, [this] {
    if (closing_ > 0 && --closing_ == 0) emit Closed();
  });
  lanes_.push_back(std::move(lane));
  return l;
}

std::optional<TransferJob> TransferPool::nextJob() {
  if (!returned_.empty()) {
    TransferJob job = std::move(returned_.front());
    returned_.pop_front();
    return job;
  }
  if (sourceDone_) return std::nullopt;
  std::optional<TransferJob> job = source_();
  if (!job) sourceDone_ = true;
  return job;
}

void TransferPool::dispatch() {
  while (stageRunning_ && running_ < width_ && (!returned_.empty() || !sourceDone_)) {
    TransferLane* lane = freeLane();
    if (!lane) return;
    std::optional<TransferJob> job = nextJob();
    if (!job) return;
    ++running_;
    lane->run(std::move(*job));
  }
}

void TransferPool::onFinished(const TransferJob& job, const JobOutcome& outcome) {
  --running_;
  emit JobFinished(job, outcome);
  dispatch();
  checkStageDone();
}

void TransferPool::onRetired(const TransferJob& job, const QString& reason) {
  --running_;
  returned_.push_front(job);
  emit LaneRetired(reason);
  dispatch();
  checkStageDone();
}

void TransferPool::checkStageDone() {
  if (!stageRunning_ || running_ > 0 || !returned_.empty() || !sourceDone_) return;
  stageRunning_ = false;
  QMetaObject::invokeMethod(this, &TransferPool::StageDone, Qt::QueuedConnection);
}

}  // namespace quill
