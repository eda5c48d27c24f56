// Progress within one step of a run. Long work that runs below the script
// host (a page generator writing thousands of pages) cannot be handed a
// display: scripts create it by name. So it reports to the progress sink of
// its thread, which the run installs for its duration; without one,
// reportProgress does nothing.
//
// A sink may stop the work by raising WorkCancelled from progress(). Work
// that catches failures to report them must let WorkCancelled pass.
#pragma once

#include <stdexcept>

namespace quill {

class WorkCancelled : public std::runtime_error {
 public:
  WorkCancelled() : std::runtime_error("the run was cancelled") {}
};

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // done of total units (pages) are finished; may raise WorkCancelled.
  virtual void progress(long done, long total) = 0;
};

// Tells the calling thread's sink, if any, how far the current work is.
void reportProgress(long done, long total);

// Installs a sink for the calling thread while it lives; the previous one
// comes back afterwards.
class ScopedProgressSink {
 public:
  explicit ScopedProgressSink(ProgressSink& sink);
  ~ScopedProgressSink();
  ScopedProgressSink(const ScopedProgressSink&) = delete;
  ScopedProgressSink& operator=(const ScopedProgressSink&) = delete;

 private:
  ProgressSink* previous_;
};

}  // namespace quill
