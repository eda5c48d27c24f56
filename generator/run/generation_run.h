// One generation run: the workbook (Data.xls, .xlsx, .ods or .csv; the
// newest, with a notice, when several exist) is imported into Data.mdb, then every
// selected script entry of the project runs in a fresh script host with the
// statement OutputFile "<project folder>", its DebugMsg is shown and a
// non-empty ErrMsg ends the run. Independent of any window: the display and
// the message boxes are interfaces (generator/report).
//
// Inside, a failure is an exception. printoutFile() gives the outcome as
// text, the way the status window's PrintoutFile reports it, and
// runGeneration() frames a run the way the main window and batch mode start
// one.
#pragma once

#include <chrono>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>

#include "generator/project/project_context.h"
#include "generator/report/prompter.h"
#include "generator/report/status_display.h"
#include "generator/run/failure_explanation.h"
#include "generator/run/run_pacer.h"

namespace quill {

namespace script {
class ScriptHost;
}

// A script entry's non-empty ErrMsg: the run ends with exactly this text.
class ReportedFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A selected entry whose script file is missing, empty or unreadable: the
// run cannot go on as the project describes it.
class UnreadableScript : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The workbook import failed: no script runs on a catalogue that is not there.
class ImportFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class GenerationRun {
 public:
  // Imports a workbook into a database; returns "" or the failure's description.
  using Importer = std::function<std::string(const std::string& workbook, const std::string& database)>;

  GenerationRun(const ProjectContext& context, StatusDisplay& display, Prompter& prompter);

  void setImporter(Importer importer) { importer_ = std::move(importer); }
  // How long an entry may go on running after a confirmed cancel before it
  // is stopped (the run then ends as cancelled).
  void setStopGrace(std::chrono::milliseconds grace) { stopGrace_ = grace; }

  // Reads the status window's title and cancel caption from the caption
  // document and hands them to the display (strict mode: a missing caption
  // raises the store's error, and no run starts).
  void showCaptions();

  // Performs the run. Returns when every selected entry has run (the database
  // is then deleted) or when the user cancelled (between entries, or an
  // entry still running the stop grace after the cancel). Otherwise raises
  // ImportFailure, ReportedFailure, UnreadableScript, the script host's
  // ScriptError or the store's errors, and the database remains.
  void perform();

  // The run's outcome as text: "" for success or a cancel, a script's ErrMsg
  // as it stands, "Error on Excel2Access" and the import's description,
  // "PrintoutFile:" + the description of any error raised.
  std::string printoutFile();

  // After a failed printoutFile(): the plain sentence that explains it.
  const std::string& explanation() const { return explanation_; }
  // After a completed run: the files the run wrote into Output (relative).
  const std::set<std::string>& writtenPages() const { return writtenPages_; }

  bool cancelFlag() const { return display_.cancelFlag(); }

 private:
  void runEntry(script::ScriptHost& host, RunPacer& pacer, const DomNodeRef& entry, int position, int total);
  std::string entryAttr(const DomNodeRef& entry, const char* name);

  const ProjectContext& context_;
  StatusDisplay& display_;
  Prompter& prompter_;
  Importer importer_;
  std::chrono::milliseconds stopGrace_ = RunPacer::kStopGrace;
  DomNodeRef messageNode_;  // frmStatus / Message
  RunPlace place_;          // where the run is, for the explanation of a failure
  std::string explanation_;
  std::set<std::string> writtenPages_;
};

enum class RunOutcome { Succeeded, Failed, Cancelled };

// Frames a run: creates the Output folder when missing, shows the status
// captions, runs, reports a failure (a plain explanation, then the
// ErrOccured heading and the result), and on success (not cancelled) removes
// the pages that the last successful run made and this one did not
// (generated_pages.h) and hands the output folder to openFolder.
RunOutcome runGeneration(const ProjectContext& context, StatusDisplay& display, Prompter& prompter,
                         const std::function<void(const std::string& folder)>& openFolder);

}  // namespace quill
