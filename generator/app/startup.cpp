// Batch mode's start-up: every error before or around the run is caught here
// and shown as "Main:" with its description, after a plain sentence that
// says which file it concerns and what to do; the run's own failures are
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

// The sentence for a project file that cannot be loaded, with the place of
// its damage when the text shows one.
std::string loadFailure(const std::string& projectPath) {
  std::string sentence = "The project file " + projectPath + " cannot be loaded";
  if (const auto fault = findFileSyntaxFault(projectPath))
    sentence += ": it is damaged at line " + std::to_string(fault->line) + ", column " +
                std::to_string(fault->column) + " (" + fault->what + ")";
  return sentence + ". Check the path; put back its previous form ProjectDef.prj.bak if there is one, or repair "
                    "it with tagdoc.";
}

}  // namespace

int runBatch(const std::string& projectPath, const StartupServices& services) {
  // What the start-up is doing, as the sentence that explains its failure.
  std::string explanation = "The program's caption file " + services.appFolder +
                            "qlang.xml is missing or damaged: install the program again.";
  try {
    ProjectContext context;
    loadCaptionDocument(context, services.appFolder);
    try {
      loadProject(context, projectPath);
    } catch (const std::exception&) {
      explanation = loadFailure(projectPath);
      throw;
    }
    if (context.projectRewrite.damage) services.prompter->warning(damageWarning(projectPath, context.projectRewrite));
    explanation = "The run could not start in the project folder " +
                  (context.projectFolder.empty() ? std::string(".") : context.projectFolder) +
                  ": check that its Output folder can be made and that the program's qlang.xml is complete.";
    switch (runGeneration(context, *services.display, *services.prompter, services.openFolder)) {
      case RunOutcome::Succeeded: return 0;
      case RunOutcome::Failed: return 1;
      case RunOutcome::Cancelled: return 130;
    }
  } catch (const AutomationError& e) {
    services.prompter->failure(explanation, "Main:" + e.description());
  } catch (const std::exception& e) {
    services.prompter->failure(explanation, std::string("Main:") + e.what());
  }
  return 1;
}

}  // namespace quill
