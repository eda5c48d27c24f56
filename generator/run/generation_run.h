// One generation run: the workbook (Data.xls, .xlsx, .ods or .csv; the
// newest, with a notice, when several exist) is imported into Data.mdb, then
// every selected script entry of the project runs in a fresh script host
// with the statement OutputFile "<project folder>", its DebugMsg is shown and
// a non-empty ErrMsg ends the run. Independent of any window: the display and
// the message boxes are interfaces.
#pragma once

#include <functional>
#include <string>

#include "generator/project/project_context.h"
#include "generator/run/status_display.h"
#include "generator/ui/prompter.h"

namespace quill {

namespace script {
class ScriptHost;
}

class GenerationRun {
 public:
  // Imports a workbook into a database; returns "" or the failure's description.
  using Importer = std::function<std::string(const std::string& workbook, const std::string& database)>;

  GenerationRun(const ProjectContext& context, StatusDisplay& display, Prompter& prompter);

  void setImporter(Importer importer) { importer_ = std::move(importer); }

  // Reads the status window's captions (strict mode: a missing caption
  // raises the store's error, and no run starts).
  void loadCaptions();

  // Performs the run; "" on success (and on a cancel, or a script file that
  // cannot be read), else the error text.
  std::string printoutFile();

  bool cancelFlag() const { return display_.cancelFlag(); }

 private:
  std::string runEntries();
  bool runEntry(script::ScriptHost& host, const DomNodeRef& entry, int position, int total,
                std::string& result);

  const ProjectContext& context_;
  StatusDisplay& display_;
  Prompter& prompter_;
  Importer importer_;
  DomNodeRef messageNode_;  // frmStatus / Message
};

enum class RunOutcome { Succeeded, Failed, Cancelled };

// Frames a run: creates the Output folder when missing, loads the status
// captions, runs, reports a failure with the ErrOccured heading, and on
// success (not cancelled) hands the output folder to openFolder.
RunOutcome runGeneration(const ProjectContext& context, StatusDisplay& display, Prompter& prompter,
                         const std::function<void(const std::string& folder)>& openFolder);

}  // namespace quill
