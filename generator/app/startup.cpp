#include "generator/app/startup.h"

#include "common/automation_error.h"
#include "generator/project/project_context.h"
#include "generator/run/generation_run.h"

namespace quill {

int runBatch(const std::string& projectPath, const StartupServices& services) {
  try {
    ProjectContext context;
    loadCaptions(context, services.appFolder);
    loadProject(context, projectPath);
    switch (runGeneration(context, *services.display, *services.prompter, services.openFolder)) {
      case RunOutcome::Succeeded: return 0;
      case RunOutcome::Failed: return 1;
      case RunOutcome::Cancelled: return 130;
    }
  } catch (const AutomationError& e) {
    services.prompter->error("Main:" + e.description());
  } catch (const std::exception& e) {
    services.prompter->error(std::string("Main:") + e.what());
  }
  return 1;
}

}  // namespace quill
