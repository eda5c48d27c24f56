// quillant --upload [--sync] [--dry-run] [--parallel N] <project
// folder>/ProjectDef.prj: publishes the project's Output folder with its
// stored upload settings, from a terminal or a cron job. One line per file
// sent on stdout (name and bytes; on a terminal, with one connection, the
// line grows while the file is sent), a closing line with the count, the
// bytes and the seconds. In sync mode a plan line comes first (what will be
// sent, left unchanged and deleted), a line per file deleted, and the closing
// line adds what was unchanged and deleted; a dry run prints the plan, a line
// per file it would send or delete, and stops. Failures go to stderr, and so
// do the files that are tried again. The project definition is only read,
// never rewritten.
#pragma once

#include <iosfwd>
#include <string>

namespace quill {

struct UploadCommandStreams {
  std::ostream& out;
  std::ostream& err;
  bool outIsTerminal = false;  // progress may redraw its line
};

// What the command line adds to the stored settings.
struct UploadCommandOptions {
  bool sync = false;    // sync mode, whatever SyncMode says
  bool dryRun = false;  // plan only
  int parallel = 0;     // connections; 0: as Parallel says
};

// Runs the upload on the running Qt event loop's thread. Returns the exit
// status: 0 uploaded, 1 failed (the caption document's ErrOccured text and
// the error text on err), 130 cancelled with Ctrl-C (the open file is
// closed and both connections are dropped).
int runUploadCommand(const std::string& projectPath, const std::string& appFolder,
                     const UploadCommandStreams& streams, const UploadCommandOptions& options = {});

}  // namespace quill
