// quillant: generates a project's catalogue site.
//
//   quillant <project folder>/ProjectDef.prj            one generation run, then exit
//   quillant --open <project folder>/ProjectDef.prj     the main window for that project
//   quillant --upload [--sync] [--dry-run] [--parallel N] <project folder>/ProjectDef.prj
//                                                       publish its Output folder, then exit
//   quillant                                            the project beside the program, main window
//
// Without a display (or with --no-gui) a run reports on the terminal; a
// display that is named but cannot be reached counts as none, with a notice.
#include <QCoreApplication>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "engine/marl_doc.h"
#include "generator/app/command_line.h"
#include "generator/app/interactive.h"
#include "generator/app/startup.h"
#include "generator/app/upload_command.h"
#include "generator/app/window_system.h"
#include "generator/pages/page_frame.h"
#include "generator/report/terminal_prompter.h"
#include "generator/report/terminal_status.h"
#include "generator/ui/frm_status.h"
#include "generator/ui/qt_desktop.h"
#include "generator/ui/qt_prompter.h"
#include "store/store.h"

using namespace quill;

namespace {

int usageError(const std::string& message) {
  std::cerr << "quillant: " << message << "\nTry 'quillant --help' for more information.\n";
  return 2;
}

const char* const kWindowNeeded =
    "the main window needs a display; to generate without one, give the project file: "
    "quillant --no-gui MyShop/ProjectDef.prj";

std::string displayName() {
  for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"})
    if (const char* v = std::getenv(name); v && *v) return v;
  return {};
}

// Publishing runs without windows, whatever the display.
int uploadMain(const CommandLine& cl, char* program) {
  if (cl.projectPath.empty()) return usageError("--upload needs the project file, for example MyShop/ProjectDef.prj");
  int qtArgc = 1;
  char* qtArgv[] = {program, nullptr};
  QCoreApplication app(qtArgc, qtArgv);
  const std::string appFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
  return runUploadCommand(cl.projectPath, appFolder, {std::cout, std::cerr, isatty(STDOUT_FILENO) == 1},
                          {cl.sync, cl.dryRun, cl.parallel});
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine cl = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (cl.help) {
    std::cout << kUsageText;
    return 0;
  }
  if (cl.version) {
    std::cout << "quillant " << QUILLANT_VERSION << "\n";
    return 0;
  }
  if (!cl.error.empty()) return usageError(cl.error);
  if (cl.upload) return uploadMain(cl, argv[0]);
  const bool interactive = cl.open || cl.projectPath.empty();
  if (interactive && cl.noGui) return usageError(kWindowNeeded);

  bool gui = !cl.noGui && displayAvailable();
  std::unique_ptr<QCoreApplication> app;
  if (gui) {
    WindowSystem ws = startWindowSystem(argv[0]);
    app = std::move(ws.app);
    if (!ws.displayReached) {
      std::cerr << "quillant: the display " << displayName() << " cannot be reached; "
                << (interactive ? "the main window cannot open." : "running on the terminal.") << "\n";
      if (interactive) return 1;
      gui = false;
    }
  } else {
    static int qtArgc = 1;  // Qt sees no arguments: the command line is the project path
    app = std::make_unique<QCoreApplication>(qtArgc, argv);
  }
  if (interactive && !gui) return usageError(kWindowNeeded);

  registerStoreClasses();
  registerEngineClasses();
  registerPageGenerators();

  const std::string appFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
  if (interactive) {
    QtPrompter prompter;  // over the active window
    QtDesktop desktop;
    InteractiveServices services;
    services.appFolder = appFolder;
    services.prompter = &prompter;
    services.desktop = &desktop;
    return runInteractive(cl.projectPath, services);
  }

  StartupServices services;
  services.appFolder = appFolder;
  TerminalStatus terminalStatus(std::cout);
  TerminalPrompter terminalPrompter(std::cerr);
  QtPrompter windowPrompter;
  QtDesktop desktop;
  std::unique_ptr<frmStatus> statusWindow;
  if (gui) {
    statusWindow = std::make_unique<frmStatus>(services.appFolder, windowPrompter);
    windowPrompter.setParent(statusWindow.get());
    services.display = statusWindow.get();
    services.prompter = &windowPrompter;
    services.openFolder = [&desktop](const std::string& folder) { desktop.open(folder); };
  } else {
    services.display = &terminalStatus;
    services.prompter = &terminalPrompter;
    TerminalStatus::installInterruptHandler("\nquillant: stopping after this step; Ctrl-C again to stop now\n");
    services.openFolder = [](const std::string& folder) {
      std::cout << "Pages written to " << folder << "/\n";
    };
  }
  return runBatch(cl.projectPath, services);
}
