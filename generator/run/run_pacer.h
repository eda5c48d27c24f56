// Keeps the status display alive while a run step works on the window
// thread. The script host asks mayContinue() every few thousand
// instructions, the page generators report their pages through progress();
// both let window events through at most once per frame, so the window
// repaints, the busy animation moves and a click on Cancel is taken within
// a frame, while no other command can start (the main window is disabled
// during a run).
//
// A confirmed cancel stops the run before its next entry, as it always did.
// When the entry that runs is still running a grace period after the
// cancel was seen, the pacer stops it too: mayContinue() answers false and
// progress() raises WorkCancelled.
#pragma once

#include <chrono>
#include <optional>

#include "generator/report/progress.h"
#include "generator/report/status_display.h"

namespace quill {

class RunPacer : public ProgressSink {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFrame{50};
  static constexpr std::chrono::milliseconds kStopGrace{3000};

  explicit RunPacer(StatusDisplay& display, std::chrono::milliseconds stopGrace = kStopGrace);

  // Lets window events through when a frame is due; false once the user
  // cancelled and the grace period is over.
  bool mayContinue();

  // Hands the latest figures to the display when a frame is due (showing
  // every page would cost more than writing it), then as mayContinue();
  // raises WorkCancelled instead of answering false.
  void progress(long done, long total) override;

  // A new entry starts: its progress and its grace period are its own.
  void entryStarted();

 private:
  bool frameDue(Clock::time_point now) const { return now - lastFrame_ >= kFrame; }
  bool stopDue(Clock::time_point now);

  StatusDisplay& display_;
  std::chrono::milliseconds stopGrace_;
  Clock::time_point lastFrame_;
  std::optional<Clock::time_point> cancelSeen_;
};

}  // namespace quill
