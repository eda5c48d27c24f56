// The pacer reads the clock on every call (tens of nanoseconds, next to the
// thousands of instructions or the page between two calls) and does real
// work only once per frame. The cancel is noticed at the first call after
// the display's flag went up; the grace period counts from there.
#include "generator/run/run_pacer.h"

namespace quill {

RunPacer::RunPacer(StatusDisplay& display, std::chrono::milliseconds stopGrace)
    : display_(display), stopGrace_(stopGrace), lastFrame_(Clock::now()) {}

void RunPacer::entryStarted() {
  lastFrame_ = Clock::now();
  cancelSeen_.reset();
}

bool RunPacer::stopDue(Clock::time_point now) {
  if (!display_.cancelFlag()) return false;
  if (!cancelSeen_) cancelSeen_ = now;
  return now - *cancelSeen_ >= stopGrace_;
}

bool RunPacer::mayContinue() {
  const Clock::time_point now = Clock::now();
  if (frameDue(now)) {
    lastFrame_ = now;
    display_.processEvents();
  }
  return !stopDue(Clock::now());
}

void RunPacer::progress(long done, long total) {
  const Clock::time_point now = Clock::now();
  if (frameDue(now) || done >= total) display_.stepProgress(done, total);
  if (!mayContinue()) throw WorkCancelled();
}

}  // namespace quill
