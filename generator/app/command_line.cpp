// The command line is read in one pass: the program's own options, "--" to
// end them, and everything else joined by blanks into the project path.
#include "generator/app/command_line.h"

#include <cstdlib>

#include "generator/upload/publish_options.h"

namespace quill {

const char* const kUsageText =
    "Usage: quillant [--no-gui] PROJECT_FOLDER/ProjectDef.prj\n"
    "       quillant --open PROJECT_FOLDER/ProjectDef.prj\n"
    "       quillant --upload [--sync] [--dry-run] [--parallel N] PROJECT_FOLDER/ProjectDef.prj\n"
    "       quillant\n"
    "\n"
    "Generates a project's catalogue site from its workbook and templates.\n"
    "\n"
    "With a project file, quillant performs one generation run and exits:\n"
    "it imports the workbook (Data.xls, Data.xlsx, Data.ods or Data.csv; the\n"
    "newest when there are several), runs the project's selected scripts and\n"
    "writes the pages into the project's Output folder. With --open it shows\n"
    "the main window for the project instead, from which the workbook is\n"
    "edited, the pages generated and the upload set up. Without arguments it\n"
    "shows the main window for the ProjectDef.prj beside the program (a\n"
    "packaged project), or explains how to open one.\n"
    "\n"
    "With --upload, quillant publishes the project's Output folder to the FTP\n"
    "server of its upload settings (server, port, user, password, save path,\n"
    "passive mode, firewall) and exits: one line per file sent, then the count\n"
    "of files, bytes and seconds. It needs no display and changes nothing in\n"
    "the project. With --sync (or SyncMode=\"1\" in the settings) it sends only\n"
    "the files that changed since the last publish and deletes the ones it\n"
    "published that the site no longer has, keeping a manifest of what it\n"
    "published in .quillant-manifest beside the site on the server.\n"
    "\n"
    "With Security=\"explicit\" or \"implicit\" in the settings it publishes\n"
    "over TLS and checks the server's certificate; a certificate it refuses is\n"
    "named with its SHA-256 fingerprint and the TlsFingerprint line that\n"
    "trusts it. The password is taken from the environment variable\n"
    "QUILLANT_FTP_PASSWORD when it is set, otherwise from the project; when\n"
    "neither has one, it is asked for on the terminal without echo.\n"
    "\n"
    "Options:\n"
    "  --open       show the main window for the project (needs a display)\n"
    "  --no-gui     run on the terminal even when a display is available\n"
    "  --upload     publish the project's Output folder instead of generating\n"
    "  --sync       with --upload: send only what changed, delete what is gone\n"
    "  --dry-run    with --upload: show what would be sent and deleted, change nothing\n"
    "  --parallel N with --upload: send over N connections (1 to 16)\n"
    "  --help       show this text and exit\n"
    "  --version    show the version and exit\n"
    "  --           end of options; everything after it is the project path\n"
    "\n"
    "Exit status: 0 on success, 1 when the run, the upload or the start-up\n"
    "failed, 2 on a usage error, 130 when cancelled with Ctrl-C (an upload\n"
    "then leaves the file it was sending incomplete on the server).\n";

namespace {

// The N of --parallel N: 1 to kMaxConnections, else 0.
int connectionCount(const std::string& s) {
  if (s.empty() || s.size() > 2 || s.find_first_not_of("0123456789") != std::string::npos) return 0;
  const int n = std::stoi(s);
  return n >= 1 && n <= kMaxConnections ? n : 0;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  std::string path;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsEnded && a.size() > 2 && a.rfind("--", 0) == 0) {
      if (a == "--help") cl.help = true;
      else if (a == "--version") cl.version = true;
      else if (a == "--no-gui") cl.noGui = true;
      else if (a == "--open") cl.open = true;
      else if (a == "--upload") cl.upload = true;
      else if (a == "--sync") cl.sync = true;
      else if (a == "--dry-run") cl.dryRun = true;
      else if (a == "--parallel" || a.rfind("--parallel=", 0) == 0) {
        const std::string n = a == "--parallel" ? (i + 1 < args.size() ? args[++i] : std::string()) : a.substr(11);
        cl.parallel = connectionCount(n);
        if (cl.parallel == 0)
          cl.error = "--parallel needs a number of connections from 1 to " + std::to_string(kMaxConnections) +
                     ", not \"" + n + "\"";
      } else cl.error = "unknown option " + a;
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
  if (cl.open && cl.projectPath.empty() && cl.error.empty()) cl.error = "--open needs the project file to open";
  if (cl.error.empty() && !cl.upload && (cl.sync || cl.dryRun || cl.parallel))
    cl.error = "--sync, --dry-run and --parallel go with --upload";
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
