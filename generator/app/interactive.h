// Interactive mode: the main window for one project, until the user closes
// it. The project is the one named on the command line (--open), else the
// ProjectDef.prj beside the program; when there is none, a window explains
// how to open or create a project and lets the user pick its ProjectDef.prj.
#pragma once

#include <memory>
#include <string>

#include "generator/project/project_context.h"
#include "generator/report/desktop.h"
#include "generator/report/prompter.h"
#include "generator/ui/frm_client_main.h"
#include "generator/ui/frm_open_project.h"

namespace quill {

struct InteractiveServices {
  std::string appFolder;  // ends with the separator
  Prompter* prompter = nullptr;
  Desktop* desktop = nullptr;
  frmOpenProject::FilePicker pickProject;  // empty: the file dialog
};

// Reads the captions and the project into context and makes the main
// window (not yet shown). projectPath "" is the project beside the program,
// or the one the user picks; nullptr when the user picked none. Raises the
// store's errors (a missing caption or project file, for instance).
std::unique_ptr<frmClientMain> openMainWindow(ProjectContext& context, const std::string& projectPath,
                                              const InteractiveServices& services);

// Shows the main window and runs the event loop until it is closed. An
// error while starting is shown as "Main:" with its description. Returns
// the exit status: 0, or 1 after a start-up error.
int runInteractive(const std::string& projectPath, const InteractiveServices& services);

}  // namespace quill
