// Batch mode's start-up: every error before or around the run is caught here
// and shown as "Main:" with its description; the run's own failures are
// reported by the run and only change the exit status. A project file that
// had to be read past damage is reported before the run starts.
#include "generator/app/startup.h"

#include "common/automation_error.h"
#include "generator/project/project_context.h"
#include "generator/run/generation_run.h"

namespace quill {

namespace {

// The warning for a project file that the store read past damage.
std::string damageWarning(const std::string& projectPath, const ProjectFileRewrite& rewrite) {
  const TagSyntaxFault& fault = *rewrite.damage;
  return "The project file " + projectPath + " is damaged at line " + std::to_string(fault.line) + ", column " +
         std::to_string(fault.column) + " (" + fault.what +
         "). It was read as far as possible and saved again, which loses what could not be read (the upload "
         "settings, for instance). The file as it was is kept as " + rewrite.backupPath +
         ": compare the two (tagdoc print shows them) and put back what is missing.";
}

}  // namespace

int runBatch(const std::string& projectPath, const StartupServices& services) {
  try {
    ProjectContext context;
    loadCaptionDocument(context, services.appFolder);
    loadProject(context, projectPath);
    if (context.projectRewrite.damage) services.prompter->warning(damageWarning(projectPath, context.projectRewrite));
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
