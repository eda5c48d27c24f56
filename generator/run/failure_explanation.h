// The plain sentence that opens the report of a failed run: which file (and
// line, where known), what went wrong in everyday words, and what to do. The
// system's own text (PrintoutFile:..., Error on Excel2Access, a script's
// ErrMsg) follows it unchanged.
#pragma once

#include <optional>
#include <string>

#include "generator/pages/output_journal.h"

namespace quill {

namespace script {
class ScriptError;
}

// Where the run was when it failed.
struct RunPlace {
  enum class Stage { Preparing, Importing, ReadingEntry, ReadingCaptions, RunningScript };
  Stage stage = Stage::Preparing;
  std::string captionFile;   // the program's qlang.xml
  std::string projectFile;   // ProjectDef.prj
  std::string workbook;      // Data.xls
  int entryPosition = 0;     // 1-based position of the entry in the script list
  std::string entryName;     // its Name, when it has one
  std::string scriptFile;    // its script file
  // What a page generator of the entry said its failure concerns.
  std::optional<pages::OutputJournal::Failure> generatorFailure;
};

// Why a script file cannot be run, as a predicate: "does not exist", "is
// empty", "is a folder" or "cannot be read".
std::string whyUnreadable(const std::string& scriptFile);

std::string explainImportFailure(const RunPlace& place);
std::string explainUnreadableScript(const RunPlace& place);
std::string explainScriptError(const RunPlace& place, const script::ScriptError& error);
std::string explainReportedFailure(const RunPlace& place);
// Any other error: of the entry's attributes while it was being read, of the
// caption file while a text was taken from it, otherwise a general sentence.
std::string explainOtherFailure(const RunPlace& place);

}  // namespace quill
