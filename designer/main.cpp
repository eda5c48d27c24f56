// quillant-designer: makes catalogue projects from design templates, ticks
// the pages to generate, starts the generator and packages projects.
//
//   quillant-designer                      the main window, no project open
//   quillant-designer <ProjectDef.prj>     the main window with that project
//
// It reads System.xml and dlang.xml from its own folder; without them, or
// without a display, it does not start.
#include <QApplication>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "common/automation_error.h"
#include "designer/designer_context.h"
#include "designer/frm_main.h"
#include "designer/launcher.h"
#include "generator/app/window_system.h"
#include "generator/ui/qt_desktop.h"
#include "generator/ui/qt_prompter.h"
#include "store/store.h"

using namespace quill;

namespace {

const char* const kUsage =
    "Usage: quillant-designer [ProjectDef.prj]\n"
    "Makes catalogue projects from the design templates in HtmlDesign/, chooses\n"
    "the pages to generate, starts quillant on a project and packages a project\n"
    "with the generator into a folder that can be handed on.\n";

bool displayNamed() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    if (const char* v = std::getenv(name); v && *v) return true;
  return false;
}

int cannotStart(const std::string& why, bool windows) {
  std::cerr << "quillant-designer: " << why << "\n";
  if (windows) QMessageBox::critical(nullptr, "Quillant Designer", QString::fromStdString(why));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string projectFile;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help")) {
      std::cout << kUsage;
      return 0;
    }
    if (!std::strcmp(argv[i], "--version")) {
      std::cout << "quillant-designer " << QUILLANT_VERSION << "\n";
      return 0;
    }
    if (argv[i][0] == '-' || !projectFile.empty()) {
      std::cerr << "quillant-designer: unexpected argument " << argv[i] << "\n" << kUsage;
      return 2;
    }
    projectFile = argv[i];
  }
  if (!displayNamed()) return cannotStart("the Designer needs a display (DISPLAY or WAYLAND_DISPLAY)", false);
  WindowSystem ws = startWindowSystem(argv[0]);
  if (!ws.displayReached) return cannotStart("the display cannot be reached", false);

  registerStoreClasses();
  const std::string appFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
  DesignerContext context;
  try {
    context = loadDesignerContext(appFolder);
  } catch (const AutomationError& e) {
    return cannotStart("cannot start: " + e.description(), true);
  } catch (const std::exception& e) {
    return cannotStart(std::string("cannot start: ") + e.what(), true);
  }

  QtPrompter prompter;
  QtDesktop desktop;
  ProcessLauncher launcher;
  DesignerServices services;
  services.prompter = &prompter;
  services.desktop = &desktop;
  services.launcher = &launcher;
  services.pickOpenFile = openFileDialog;
  services.pickSavePath = savePathDialog;
  services.projectsFolder = defaultProjectsFolder(
      appFolder, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString());
  try {
    prompter.setDefaultTitle(context.messageNode->getAttr("Title", Missing::Raise));
    frmMain window(context, services);
    prompter.setParent(&window);
    window.show();
    if (!projectFile.empty()) window.OpenProject(projectFile);
    return QApplication::exec();
  } catch (const AutomationError& e) {
    return cannotStart("cannot start: " + e.description(), true);
  }
}
