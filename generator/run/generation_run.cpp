// The run walks the project's script entries in document order. Before the
// first one it counts the selected entries, so that the status line can say
// "entry k of n". Each selected entry gets a freshly reset script host, its
// script text and the OutputFile statement; afterwards its DebugMsg goes to
// the display and a non-empty ErrMsg ends the run. Window events are let
// through before the import and before each entry, and while an entry runs
// at the pace of the RunPacer, which also stops an entry that is still
// running a while after a cancel. An output journal is open while the run
// works, so that the page generators and the scripts' file writes tell it
// which pages they made and what stopped them; the run keeps track of where
// it is (RunPlace) so that a failure can be explained in plain words.
#include "generator/run/generation_run.h"

#include <filesystem>

#include "common/automation_error.h"
#include "common/variant.h"
#include "generator/import/excel2access.h"
#include "generator/import/workbook_file.h"
#include "generator/pages/output_journal.h"
#include "generator/run/generated_pages.h"
#include "generator/run/run_pacer.h"
#include "generator/script/script_host.h"
#include "generator/script/script_text.h"
#include "generator/script/write_watch.h"

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
  explanation_.clear();
  try {
    perform();
    return {};
  } catch (const ImportFailure& e) {
    explanation_ = explainImportFailure(place_);
    return std::string("Error on Excel2Access\r\n") + e.what();
  } catch (const ReportedFailure& e) {
    explanation_ = explainReportedFailure(place_);
    return e.what();
  } catch (const UnreadableScript& e) {
    explanation_ = explainUnreadableScript(place_);
    return std::string("PrintoutFile:") + e.what();
  } catch (const script::ScriptError& e) {
    explanation_ = explainScriptError(place_, e);
    return "PrintoutFile:" + describeScriptError(e);
  } catch (const AutomationError& e) {
    explanation_ = explainOtherFailure(place_);
    return "PrintoutFile:" + e.description();
  } catch (const std::exception& e) {
    explanation_ = explainOtherFailure(place_);
    return std::string("PrintoutFile:") + e.what();
  }
}

void GenerationRun::perform() {
  place_ = RunPlace();
  place_.captionFile = context_.appFolder + "qlang.xml";
  place_.projectFile = context_.projectDoc ? context_.projectDoc->filePath() : std::string();
  writtenPages_.clear();
  display_.started();
  display_.processEvents();
  pages::OutputJournal journal(fs::path(context_.projectFolder + "Output"));

  place_.stage = RunPlace::Stage::Importing;
  const WorkbookChoice workbook = findWorkbook(context_.projectFolder);
  place_.workbook = workbook.path;
  if (!workbook.passedOver.empty()) display_.notice(describeChoice(workbook));
  const std::string failure = importer_(workbook.path, context_.projectFolder + "Data.mdb");
  if (!failure.empty()) throw ImportFailure(failure);

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
    place_.entryPosition = i;
    const std::string* name = entry->attrTable().find("Name");
    place_.entryName = name ? *name : std::string();
    place_.scriptFile.clear();
    place_.generatorFailure.reset();
    if (!Variant(entryAttr(entry, "Selected")).toBool()) continue;
    try {
      runEntry(host, pacer, entry, ++position, selected);
    } catch (const script::ScriptStopped&) {
      return;  // cancelled while the entry ran; the database remains
    }
  }
  place_.stage = RunPlace::Stage::Preparing;
  host.close();  // the scripts' database handles go with it
  std::error_code ignored;
  fs::remove(fs::path(context_.projectFolder + "Data.mdb"), ignored);
  writtenPages_ = journal.writtenFiles();
}

// An attribute of the entry being read: its errors are the entry's.
std::string GenerationRun::entryAttr(const DomNodeRef& entry, const char* name) {
  place_.stage = RunPlace::Stage::ReadingEntry;
  return entry->getAttr(name, Missing::Raise);
}

void GenerationRun::runEntry(script::ScriptHost& host, RunPacer& pacer, const DomNodeRef& entry, int position,
                             int total) {
  const std::string scriptName = entryAttr(entry, "ScriptCode");
  const std::string name = entryAttr(entry, "Name");
  place_.scriptFile = context_.projectFolder + "Script/" + scriptName;
  const std::optional<std::string> text = script::readScriptFile(fs::path(place_.scriptFile));
  if (!text) throw UnreadableScript("The script file " + place_.scriptFile + " " + whyUnreadable(place_.scriptFile));

  place_.stage = RunPlace::Stage::RunningScript;
  pages::OutputJournal* journal = pages::OutputJournal::current();
  journal->takeGeneratorFailure();
  host.reset();
  script::watchFileWrites(host, [journal](const std::string& file) { journal->fileWritten(fs::path(file)); });
  host.addCode(*text, scriptName);

  place_.stage = RunPlace::Stage::ReadingCaptions;
  display_.entryStarted(name + messageNode_->getAttr("Outputing", Missing::Raise), position, total);
  pacer.entryStarted();
  display_.processEvents();

  place_.stage = RunPlace::Stage::RunningScript;
  host.executeStatement(script::outputFileStatement(context_.projectFolder));
  display_.setDebugText(host.eval("DebugMsg").toText());
  if (std::string errMsg = host.eval("ErrMsg").toText(); !errMsg.empty()) {
    place_.generatorFailure = journal->takeGeneratorFailure();
    throw ReportedFailure(errMsg);
  }
}

namespace {

// Removes the pages of the last successful run that this one did not make,
// and says so; a list that cannot be saved is worth a warning, no failure.
void removeStalePages(const std::string& projectFolder, const std::set<std::string>& written,
                      StatusDisplay& display, Prompter& prompter) {
  try {
    const std::vector<std::string> removed = replaceGeneratedPages(projectFolder, written);
    if (removed.empty()) return;
    constexpr size_t kNamed = 10;
    std::string text = "Removed " + std::to_string(removed.size()) + (removed.size() == 1 ? " page" : " pages") +
                       " from Output that this run no longer makes:";
    for (size_t i = 0; i < removed.size() && i < kNamed; ++i) text += (i ? ", " : " ") + removed[i];
    if (removed.size() > kNamed) text += " and " + std::to_string(removed.size() - kNamed) + " more";
    display.notice(text);
  } catch (const std::exception& e) {
    prompter.warning(std::string(e.what()) + "; pages this run no longer makes stay in Output until the next run.");
  }
}

}  // namespace

RunOutcome runGeneration(const ProjectContext& context, StatusDisplay& display, Prompter& prompter,
                         const std::function<void(const std::string& folder)>& openFolder) {
  const fs::path output = fs::path(context.projectFolder + "Output");
  if (!fs::exists(output)) fs::create_directories(output);

  GenerationRun run(context, display, prompter);
  run.showCaptions();
  const std::string result = run.printoutFile();
  if (!result.empty()) {
    display.failed(run.explanation());
    prompter.failure(run.explanation(),
                     context.messageNode->getAttr("ErrOccured", Missing::Raise) + "\r\n" + result);
    return RunOutcome::Failed;
  }
  if (run.cancelFlag()) return RunOutcome::Cancelled;
  removeStalePages(context.projectFolder, run.writtenPages(), display, prompter);
  if (openFolder) openFolder(context.projectFolder + "Output");
  return RunOutcome::Succeeded;
}

}  // namespace quill
