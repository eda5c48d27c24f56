// quillant: generates a project's catalogue site.
//
//   quillant <project folder>/ProjectDef.prj   one generation run, then exit
//   quillant --upload <...>/ProjectDef.prj     publish its Output folder, then exit
//   quillant                                   the project of the program folder, main window
//
// Without a display (or with --no-gui) the run reports on the terminal.
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "engine/marl_doc.h"
#include "generator/app/command_line.h"
#include "generator/app/startup.h"
#include "generator/app/upload_command.h"
#include "generator/pages/page_frame.h"
#include "generator/report/terminal_prompter.h"
#include "generator/report/terminal_status.h"
#include "generator/ui/frm_status.h"
#include "generator/ui/qt_prompter.h"
#include "store/store.h"

using namespace quill;

namespace {

int usageError(const std::string& message) {
  std::cerr << "quillant: " << message << "\nTry 'quillant --help' for more information.\n";
  return 2;
}

// Publishing runs without windows, whatever the display.
int uploadMain(const CommandLine& cl, char* program) {
  if (cl.projectPath.empty()) return usageError("--upload needs the project file, for example MyShop/ProjectDef.prj");
  int qtArgc = 1;
  char* qtArgv[] = {program, nullptr};
  QCoreApplication app(qtArgc, qtArgv);
  const std::string appFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
  return runUploadCommand(cl.projectPath, appFolder, {std::cout, std::cerr, isatty(STDOUT_FILENO) == 1});
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

  const bool gui = !cl.noGui && displayAvailable();
  int qtArgc = 1;  // Qt sees no arguments: the command line is the project path
  std::unique_ptr<QCoreApplication> app;
  if (gui)
    app = std::make_unique<QApplication>(qtArgc, argv);
  else
    app = std::make_unique<QCoreApplication>(qtArgc, argv);

  registerStoreClasses();
  registerEngineClasses();
  registerPageGenerators();

  if (cl.projectPath.empty())
    return usageError(
        "the main window is not part of this build yet; give the project file to run, "
        "for example: quillant MyShop/ProjectDef.prj");

  StartupServices services;
  services.appFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
  TerminalStatus terminalStatus(std::cout);
  TerminalPrompter terminalPrompter(std::cerr);
  QtPrompter windowPrompter;
  std::unique_ptr<frmStatus> statusWindow;
  if (gui) {
    statusWindow = std::make_unique<frmStatus>(services.appFolder, windowPrompter);
    windowPrompter.setParent(statusWindow.get());
    services.display = statusWindow.get();
    services.prompter = &windowPrompter;
    services.openFolder = [](const std::string& folder) {
      QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder)));
    };
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
