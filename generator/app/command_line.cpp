// The command line is read in one pass: the program's own options, "--" to
// end them, and everything else joined by blanks into the project path.
#include "generator/app/command_line.h"

#include <cstdlib>

namespace quill {

const char* const kUsageText =
    "Usage: quillant [--no-gui] [PROJECT_FOLDER/ProjectDef.prj]\n"
    "       quillant --upload PROJECT_FOLDER/ProjectDef.prj\n"
    "\n"
    "Generates a project's catalogue site from its workbook and templates.\n"
    "\n"
    "With a project file, quillant performs one generation run and exits:\n"
    "it imports the workbook (Data.xls, Data.xlsx, Data.ods or Data.csv; the\n"
    "newest when there are several), runs the project's selected scripts and\n"
    "writes the pages into the project's Output folder. Without one, it opens\n"
    "the project in the program folder in its main window.\n"
    "\n"
    "With --upload, quillant publishes the project's Output folder to the FTP\n"
    "server of its upload settings (server, port, user, password, save path,\n"
    "passive mode, firewall) and exits: one line per file sent, then the count\n"
    "of files, bytes and seconds. It needs no display and changes nothing in\n"
    "the project.\n"
    "\n"
    "Options:\n"
    "  --no-gui     run on the terminal even when a display is available\n"
    "  --upload     publish the project's Output folder instead of generating\n"
    "  --help       show this text and exit\n"
    "  --version    show the version and exit\n"
    "  --           end of options; everything after it is the project path\n"
    "\n"
    "Exit status: 0 on success, 1 when the run, the upload or the start-up\n"
    "failed, 2 on a usage error, 130 when cancelled with Ctrl-C (an upload\n"
    "then leaves the file it was sending incomplete on the server).\n";

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  std::string path;
  bool optionsEnded = false;
  for (const std::string& a : args) {
    if (!optionsEnded && a.size() > 2 && a.rfind("--", 0) == 0) {
      if (a == "--help") cl.help = true;
      else if (a == "--version") cl.version = true;
      else if (a == "--no-gui") cl.noGui = true;
      else if (a == "--upload") cl.upload = true;
      else cl.error = "unknown option " + a;
      continue;
    }
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
      continue;
    }
    if (!path.empty()) path += ' ';
    path += a;
  }
  cl.projectPath = std::move(path);
  return cl;
}

bool displayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* v = std::getenv(name);
    if (v && *v) return true;
  }
  return false;
}

}  // namespace quill
