// The connections of the upload's file phase: up to N lanes (transfer_lane.h)
// working through the jobs of one stage at a time. A stage draws its jobs
// from a source, in order, and hands each to a free lane, a logged-in one
// first; it ends (StageDone) when the source is exhausted and every job has
// finished, so that the next stage starts only after the last one is
// complete. With one connection the jobs run one after the other in the
// source's order. A job whose lane retired goes to the front of the stage
// again, untried.
#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "generator/upload/transfer_lane.h"

namespace quill {

class FtpControl;

class TransferPool : public QObject {
  Q_OBJECT
 public:
  // Makes the FTP control of lane `number` (1, 2, ...), configured.
  using ControlFactory = std::function<std::unique_ptr<FtpControl>(int number)>;
  // The next job of a stage, or nothing once the stage has no more.
  using JobSource = std::function<std::optional<TransferJob>()>;

  TransferPool(ControlFactory makeControl, TransferLane::Settings settings, int connections,
               QObject* parent = nullptr);
  ~TransferPool() override;  // drops every connection; no signal follows

  // Starts a stage on at most `width` connections at once (1: one job after
  // the other). The previous stage must have ended.
  void runStage(JobSource source, int width);
  // Starts no more jobs of this stage; StageDone follows when the ones under
  // way have finished.
  void abandonStage();
  // Ends every connection; Closed follows (from the event loop).
  void close();

 signals:
  void JobStarted(const TransferJob& job);
  void JobProgress(const TransferJob& job, qint64 bytesRead);
  void JobDataClosed(const TransferJob& job);
  void JobRetrying(const TransferJob& job, const QString& reason, int waitMs);
  // The handler may call abandonStage.
  void JobFinished(const TransferJob& job, const JobOutcome& outcome);
  void LaneRetired(const QString& reason);
  void StageDone();
  void Closed();
  void Trace(const QString& msg);

 private:
  TransferLane* freeLane();
  std::optional<TransferJob> nextJob();
  void dispatch();
  void onFinished(const TransferJob& job, const JobOutcome& outcome);
  void onRetired(const TransferJob& job, const QString& reason);
  void checkStageDone();

  ControlFactory makeControl_;
  TransferLane::Settings settings_;
  const int maxLanes_;
  std::vector<std::unique_ptr<TransferLane>> lanes_;

  JobSource source_;
  std::deque<TransferJob> returned_;  // jobs of retired lanes, tried first
  bool stageRunning_ = false;
  bool sourceDone_ = true;
  int width_ = 1;
  int running_ = 0;
  int closing_ = 0;
};

}  // namespace quill
