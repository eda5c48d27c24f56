// The run walks the project's script entries in document order. Before the
// first one it counts the selected entries, so that the status line can say
// "entry k of n". Each selected entry gets a freshly reset script host, its
// script text and the OutputFile statement; afterwards its DebugMsg goes to
// the display and a non-empty ErrMsg ends the run. Window events are let
// through before the import and before each entry, and while an entry runs
// at the pace of the RunPacer, which also stops an entry that is still
// running a while after a cancel.
#include "generator/run/generation_run.h"

#include <filesystem>

#include "common/automation_error.h"
#include "common/variant.h"
#include "generator/import/excel2access.h"
#include "generator/import/workbook_file.h"
#include "generator/run/run_pacer.h"
#include "generator/script/script_host.h"
#include "generator/script/script_text.h"

namespace fs = std::filesystem;

namespace quill {

namespace {

// An error an object raised inside a script says where the script was and
// which object raised it; the host's own errors name file and line already.
std::string describeScriptError(const script::ScriptError& e) {
  if (e.location().empty()) return e.description();
  std::string text = e.location() + ": " + e.description();
  if (!e.source().empty()) text += " (" + e.source() + ")";
  return text;
}

// Whether an entry is selected, for counting only: an entry whose Selected
// attribute is missing or no Boolean counts, since the run stops on it when
// it gets there.
bool countsAsSelected(const DomNodeRef& entry) {
  const std::string* selected = entry->attrTable().find("Selected");
  if (!selected) return true;
  try {
    return Variant(*selected).toBool();
  } catch (const AutomationError&) {
    return true;
  }
}

}  // namespace

GenerationRun::GenerationRun(const ProjectContext& context, StatusDisplay& display, Prompter& prompter)
    : context_(context), display_(display), prompter_(prompter), importer_(excel2Access) {}

void GenerationRun::showCaptions() {
  DomNodeRef form = context_.formsNode->node("frmStatus", Missing::Raise);
  messageNode_ = form->node("Message", Missing::Raise);
  const std::string cancel = form->node("Command1", Missing::Raise)->getAttr("Caption", Missing::Raise);
  display_.setCaptions(form->getAttr("Caption", Missing::Raise), cancel);
}

std::string GenerationRun::printoutFile() {
  try {
    perform();
    return {};
  } catch (const ReportedFailure& e) {
    return e.what();
  } catch (const script::ScriptError& e) {
    return "PrintoutFile:" + describeScriptError(e);
  } catch (const AutomationError& e) {
    return "PrintoutFile:" + e.description();
  } catch (const std::exception& e) {
    return std::string("PrintoutFile:") + e.what();
  }
}

void GenerationRun::perform() {
  display_.started();
  display_.processEvents();
  const WorkbookChoice workbook = findWorkbook(context_.projectFolder);
  if (!workbook.passedOver.empty()) display_.notice(describeChoice(workbook));
  const std::string failure = importer_(workbook.path, context_.projectFolder + "Data.mdb");
  if (!failure.empty()) prompter_.error("Error on Excel2Access\r\n" + failure);

  RunPacer pacer(display_, stopGrace_);
  ScopedProgressSink progressSink(pacer);
  script::ScriptHost host;
  host.setModuleFolder(fs::path(context_.projectFolder + "Script"));
  host.setWatch([&pacer] { return pacer.mayContinue(); });
  const int entries = context_.scriptsNode->length();
  int selected = 0;
  for (int i = 1; i <= entries; ++i) selected += countsAsSelected(context_.scriptsNode->nodeAt(i));

  int position = 0;
  for (int i = 1; i <= entries; ++i) {
    if (display_.cancelFlag()) return;
    const DomNodeRef entry = context_.scriptsNode->nodeAt(i);
    if (!Variant(entry->getAttr("Selected", Missing::Raise)).toBool()) continue;
    try {
      runEntry(host, pacer, entry, ++position, selected);
    } catch (const script::ScriptStopped&) {
      return;  // cancelled while the entry ran; the database remains
    }
  }
  host.close();  // the scripts' database handles go with it
  std::error_code ignored;
  fs::remove(fs::path(context_.projectFolder + "Data.mdb"), ignored);
}

void GenerationRun::runEntry(script::ScriptHost& host, RunPacer& pacer, const DomNodeRef& entry, int position,
                             int total) {
  const std::string scriptName = entry->getAttr("ScriptCode", Missing::Raise);
  const std::string path = context_.projectFolder + "Script/" + scriptName;
  const std::optional<std::string> text = script::readScriptFile(fs::path(path));
  if (!text) throw UnreadableScript("The script file \"" + path + "\" is missing, empty or unreadable.");
  host.reset();
  host.addCode(*text, scriptName);

  display_.entryStarted(entry->getAttr("Name", Missing::Raise) + messageNode_->getAttr("Outputing", Missing::Raise),
                        position, total);
  pacer.entryStarted();
  display_.processEvents();

  host.executeStatement(script::outputFileStatement(context_.projectFolder));
  display_.setDebugText(host.eval("DebugMsg").toText());
  if (std::string errMsg = host.eval("ErrMsg").toText(); !errMsg.empty()) throw ReportedFailure(errMsg);
}

RunOutcome runGeneration(const ProjectContext& context, StatusDisplay& display, Prompter& prompter,
                         const std::function<void(const std::string& folder)>& openFolder) {
  const fs::path output = fs::path(context.projectFolder + "Output");
  if (!fs::exists(output)) fs::create_directories(output);

  GenerationRun run(context, display, prompter);
  run.showCaptions();
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
