// Batch mode's start-up: every error before or around the run is caught here
// and shown as "Main:" with its description; the run's own failures are
// reported by the run and only change the exit status.
#include "generator/app/startup.h"

#include "common/automation_error.h"
#include "generator/project/project_context.h"
#include "generator/run/generation_run.h"

namespace quill {

int runBatch(const std::string& projectPath, const StartupServices& services) {
  try {
    ProjectContext context;
    loadCaptionDocument(context, services.appFolder);
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
