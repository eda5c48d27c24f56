// quillant --upload <project folder>/ProjectDef.prj: publishes the project's
// Output folder with its stored upload settings, from a terminal or a cron
// job. One line per file sent on stdout (name and bytes; on a terminal the
// line grows while the file is sent), a closing line with the count, the
// bytes and the seconds. Failures go to stderr. The project definition is
// only read, never rewritten.
#pragma once

#include <iosfwd>
#include <string>

namespace quill {

struct UploadCommandStreams {
  std::ostream& out;
  std::ostream& err;
  bool outIsTerminal = false;  // progress may redraw its line
};

// Runs the upload on the running Qt event loop's thread. Returns the exit
// status: 0 uploaded, 1 failed (the caption document's ErrOccured text and
// the error text on err), 130 cancelled with Ctrl-C (the open file is
// closed and both connections are dropped).
int runUploadCommand(const std::string& projectPath, const std::string& appFolder,
                     const UploadCommandStreams& streams);

}  // namespace quill
