#include "generator/run/generation_run.h"

#include <filesystem>

#include "common/automation_error.h"
#include "common/variant.h"
#include "generator/import/excel2access.h"
#include "generator/script/script_host.h"
#include "generator/script/script_text.h"

namespace fs = std::filesystem;

namespace quill {

// An error an object raised inside a script says where the script was and
// which object raised it; the host's own errors name file and line already.
static std::string describeScriptError(const script::ScriptError& e) {
  if (e.location().empty()) return e.description();
  std::string text = e.location() + ": " + e.description();
  if (!e.source().empty()) text += " (" + e.source() + ")";
  return text;
}

GenerationRun::GenerationRun(const ProjectContext& context, StatusDisplay& display, Prompter& prompter)
    : context_(context), display_(display), prompter_(prompter), importer_(excel2Access) {}

void GenerationRun::loadCaptions() {
  DomNodeRef form = context_.formsNode->node("frmStatus", Missing::Raise);
  messageNode_ = form->node("Message", Missing::Raise);
  const std::string cancel = form->node("Command1", Missing::Raise)->getAttr("Caption", Missing::Raise);
  display_.setCaptions(form->getAttr("Caption", Missing::Raise), cancel);
}

std::string GenerationRun::printoutFile() {
  try {
    display_.started();
    display_.processEvents();
    const std::string failure =
        importer_(context_.projectFolder + "Data.xls", context_.projectFolder + "Data.mdb");
    if (!failure.empty()) prompter_.error("Error on Excel2Access\r\n" + failure);
    return runEntries();
  } catch (const script::ScriptError& e) {
    return "PrintoutFile:" + describeScriptError(e);
  } catch (const AutomationError& e) {
    return "PrintoutFile:" + e.description();
  } catch (const std::exception& e) {
    return std::string("PrintoutFile:") + e.what();
  }
}

std::string GenerationRun::runEntries() {
  script::ScriptHost host;
  host.setModuleFolder(fs::path(context_.projectFolder + "Script"));
  const int total = context_.scriptsNode->length();
  for (int i = 1; i <= total; ++i) {
    if (display_.cancelFlag()) return {};
    std::string result;
    if (!runEntry(host, context_.scriptsNode->nodeAt(i), i, total, result)) return result;
  }
  host.close();  // the scripts' database handles go with it
  std::error_code ignored;
  fs::remove(fs::path(context_.projectFolder + "Data.mdb"), ignored);
  return {};
}

// Runs one entry. Returns false when the run ends here, with result as its
// outcome; true to go on with the next entry.
bool GenerationRun::runEntry(script::ScriptHost& host, const DomNodeRef& entry, int position, int total,
                             std::string& result) {
  if (!Variant(entry->getAttr("Selected", Missing::Raise)).toBool()) return true;

  const std::string scriptName = entry->getAttr("ScriptCode", Missing::Raise);
  const std::string path = context_.projectFolder + "Script/" + scriptName;
  const std::optional<std::string> text = script::readScriptFile(fs::path(path));
  if (!text) {
    // The run ends without a result here; the display still says why.
    display_.notice("cannot read the script file \"" + path + "\"; the run stops here");
    return false;
  }
  host.reset();
  host.addCode(*text, scriptName);

  display_.entryStarted(entry->getAttr("Name", Missing::Raise) + messageNode_->getAttr("Outputing", Missing::Raise),
                        position, total);
  display_.processEvents();

  host.executeStatement(script::outputFileStatement(context_.projectFolder));
  display_.setDebugText(host.eval("DebugMsg").toText());
  result = host.eval("ErrMsg").toText();
  return result.empty();
}

RunOutcome runGeneration(const ProjectContext& context, StatusDisplay& display, Prompter& prompter,
                         const std::function<void(const std::string& folder)>& openFolder) {
  const fs::path output = fs::path(context.projectFolder + "Output");
  if (!fs::exists(output)) fs::create_directories(output);

  GenerationRun run(context, display, prompter);
  run.loadCaptions();
  const std::string result = run.printoutFile();
  if (!result.empty()) {
    prompter.error(context.messageNode->getAttr("ErrOccured", Missing::Raise) + "\r\n" + result);
    return RunOutcome::Failed;
  }
  if (run.cancelFlag()) return RunOutcome::Cancelled;
  if (openFolder) openFolder(context.projectFolder + "Output");
  return RunOutcome::Succeeded;
}

}  // namespace quill
