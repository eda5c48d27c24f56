// The generator's command line. Anything that is not one of the program's
// own options is part of the project path: the arguments are joined by
// single blanks, so an unquoted path with blanks still names one file.
#pragma once

#include <string>
#include <vector>

namespace quill {

struct CommandLine {
  bool help = false;
  bool version = false;
  bool noGui = false;
  bool open = false;        // --open: the main window for projectPath
  bool upload = false;      // --upload: publish the project's Output folder
  bool sync = false;        // --sync: send only what changed (with --upload)
  bool dryRun = false;      // --dry-run: show what would be done (with --upload)
  int parallel = 0;         // --parallel N: connections (with --upload); 0: as the settings say
  std::string projectPath;  // empty: interactive mode, the project beside the program
  std::string error;        // an unknown option
};

CommandLine parseCommandLine(const std::vector<std::string>& args);

// Whether a window system is at hand: DISPLAY or WAYLAND_DISPLAY set, or a
// Qt platform plug-in named.
bool displayAvailable();

extern const char* const kUsageText;

}  // namespace quill
