// Each sentence names the file first and ends with what to do. An entry is
// named by its Name as the status window shows it; the line of a script
// error is read from the "file:line:" in front of the host's description or
// from the object error's location.
#include "generator/run/failure_explanation.h"

#include <cctype>
#include <filesystem>

#include "generator/script/script_host.h"

namespace fs = std::filesystem;

namespace quill {

namespace {

std::string entry(const RunPlace& place) {
  if (!place.entryName.empty()) return "the entry \"" + place.entryName + "\"";
  return "entry " + std::to_string(place.entryPosition) + " of the script list";
}

// The line number after "<name>:" in text, or "" when there is none.
std::string lineAfter(const std::string& text, const std::string& name) {
  const size_t at = text.find(name + ":");
  if (at == std::string::npos) return {};
  size_t i = at + name.size() + 1;
  std::string digits;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) digits += text[i++];
  return digits;
}

}  // namespace

std::string whyUnreadable(const std::string& scriptFile) {
  std::error_code ec;
  const fs::path path(scriptFile);
  if (!fs::exists(path, ec)) return "does not exist";
  if (fs::is_directory(path, ec)) return "is a folder";
  if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) == 0 && !ec) return "is empty";
  return "cannot be read";
}

std::string explainImportFailure(const RunPlace& place) {
  return "The workbook " + place.workbook +
         " could not be imported, so no page was made: fix what the message below names (or save the workbook "
         "again from the spreadsheet program), then run again.";
}

std::string explainUnreadableScript(const RunPlace& place) {
  return "The script file " + place.scriptFile + " of " + entry(place) + " " + whyUnreadable(place.scriptFile) +
         ": restore it, or clear the entry's check box in the designer, then run again.";
}

std::string explainScriptError(const RunPlace& place, const script::ScriptError& error) {
  const std::string name = fs::path(place.scriptFile).filename().string();
  std::string line = lineAfter(error.location(), name);
  if (line.empty()) line = lineAfter(error.description(), name);
  return "The script " + place.scriptFile + " of " + entry(place) + " failed" +
         (line.empty() ? std::string() : " at line " + line) + ": fix the script" +
         (line.empty() ? std::string() : " there") + ", then run again.";
}

std::string explainReportedFailure(const RunPlace& place) {
  using Concern = pages::OutputJournal::Failure::Concern;
  if (place.generatorFailure) {
    switch (place.generatorFailure->concern) {
      case Concern::Template:
        return "The template " + place.generatorFailure->file + " could not be used, so " + entry(place) +
               " stopped: fix the template where the message below says, then run again.";
      case Concern::Workbook:
        return "The workbook " + place.workbook + " holds something that " + entry(place) +
               " cannot make a page of: change it in the workbook as the message below says, then run again.";
      case Concern::OutputFolder:
        return "The page " + place.generatorFailure->file + " could not be written, so " + entry(place) +
               " stopped: check that the Output folder and its files can be written, then run again.";
    }
  }
  return "The script " + place.scriptFile + " of " + entry(place) +
         " stopped the run with the message below: fix what it names, then run again.";
}

std::string explainOtherFailure(const RunPlace& place) {
  if (place.stage == RunPlace::Stage::ReadingEntry)
    return "Entry " + std::to_string(place.entryPosition) + " of the script list in the project file " +
           place.projectFile + " cannot be run as it stands: fix it in the designer (or with tagdoc), then run again.";
  if (place.stage == RunPlace::Stage::ReadingCaptions)
    return "The program's caption file " + place.captionFile +
           " lacks a text that the run shows: install the program again.";
  if (place.stage == RunPlace::Stage::RunningScript)
    return "The script " + place.scriptFile + " of " + entry(place) +
           " failed with the error below: fix the script or what the error names, then run again.";
  return "The run stopped with the error below: fix what it names, then run again.";
}

}  // namespace quill
