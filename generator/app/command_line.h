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
  bool upload = false;      // --upload: publish the project's Output folder
  std::string projectPath;  // empty: interactive mode
  std::string error;        // an unknown option
};

CommandLine parseCommandLine(const std::vector<std::string>& args);

// Whether a window system is at hand: DISPLAY or WAYLAND_DISPLAY set, or a
// Qt platform plug-in named.
bool displayAvailable();

extern const char* const kUsageText;

}  // namespace quill
