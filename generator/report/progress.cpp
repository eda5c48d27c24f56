// One sink pointer per thread: the run and the work it starts share a thread
// (scripts run on it synchronously), and nothing else can see the sink.
#include "generator/report/progress.h"

namespace quill {

namespace {
thread_local ProgressSink* t_sink = nullptr;
}  // namespace

void reportProgress(long done, long total) {
  if (t_sink) t_sink->progress(done, total);
}

ScopedProgressSink::ScopedProgressSink(ProgressSink& sink) : previous_(t_sink) { t_sink = &sink; }

ScopedProgressSink::~ScopedProgressSink() { t_sink = previous_; }

}  // namespace quill
