// The start-up of interactive mode follows the batch mode's: captions, then
// the project (written back in the store's form), then the window, whose
// captions are read strictly. Every error up to the shown window is a
// start-up error. The project folder stands for the program folder: the
// window's workbook and Output are the project's.
#include "generator/app/interactive.h"

#include <QApplication>
#include <filesystem>

#include "common/automation_error.h"

namespace quill {

std::unique_ptr<frmClientMain> openMainWindow(ProjectContext& context, const std::string& projectPath,
                                              const InteractiveServices& services) {
  loadCaptionDocument(context, services.appFolder);
  std::string path = projectPath;
  if (path.empty()) {
    path = context.appFolder + "ProjectDef.prj";
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(path), ec)) {
      frmOpenProject chooser(context.formsNode, context.appFolder);
      if (services.pickProject) chooser.setFilePicker(services.pickProject);
      if (chooser.exec() != QDialog::Accepted) return nullptr;
      path = chooser.projectPath();
    }
  }
  loadProject(context, path);
  return std::make_unique<frmClientMain>(context, *services.prompter, *services.desktop);
}

int runInteractive(const std::string& projectPath, const InteractiveServices& services) {
  ProjectContext context;
  std::unique_ptr<frmClientMain> window;
  try {
    window = openMainWindow(context, projectPath, services);
  } catch (const AutomationError& e) {
    services.prompter->error("Main:" + e.description());
    return 1;
  } catch (const std::exception& e) {
    services.prompter->error(std::string("Main:") + e.what());
    return 1;
  }
  if (!window) return 0;
  window->show();
  return QApplication::exec();
}

}  // namespace quill
