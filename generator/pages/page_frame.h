// The frame shared by the four page generators: the script contract
// (OutputFile, DebugMsg, ErrMsg), the catalogue, the page templates, and the
// recursive writer that walks a template's part tree into a page buffer
// written to one file per page.
//
// Inside a generator a failure is an exception; outputFile() is the boundary
// that turns the one that stopped the generator into ErrMsg.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/dispatch.h"
#include "engine/marl_part.h"
#include "generator/pages/catalogue.h"
#include "generator/pages/output_journal.h"
#include "generator/pages/value_escaping.h"

namespace quill::pages {

// A page that cannot be made: its template does not load, a catalogue value
// cannot name its file, or its file cannot be written. what() is the text for
// ErrMsg; concern() and file() say what a person has to change.
class PageError : public std::runtime_error {
 public:
  using Concern = OutputJournal::Failure::Concern;
  PageError(Concern concern, std::string file, const std::string& what)
      : std::runtime_error(what), concern_(concern), file_(std::move(file)) {}
  Concern concern() const noexcept { return concern_; }
  const std::string& file() const noexcept { return file_; }

 private:
  Concern concern_;
  std::string file_;
};

class PageGenerator : public Dispatch {
 public:
  PageGenerator();
  ~PageGenerator() override;

  // Makes this generator's pages in folder + "Output/". folder is the project
  // folder and ends with the path separator. Afterwards errMsg() and
  // debugMsg() tell the outcome. Generators that write many pages report
  // them to the thread's progress sink (generator/report/progress.h); a
  // WorkCancelled raised by the sink is the only exception that leaves.
  void outputFile(std::string_view folder);

  const std::string& errMsg() const noexcept { return errMsg_; }
  const std::string& debugMsg() const noexcept { return debugMsg_; }

 protected:
  // The generator's own work, after the common start. An exception escaping
  // it stops the generator and becomes ErrMsg.
  virtual void generate() = 0;
  // Handles one container child of a part being written.
  virtual void writeContainer(MarlPart& child) = 0;

  // The project's catalogue, opened on the first query and kept open for the
  // life of the generator.
  Catalogue& catalogue();

  // Loads the template at relativePath in the project folder and returns its
  // root part; raises PageError with the engine's message.
  std::shared_ptr<MarlPart> loadTemplate(std::string_view relativePath) const;

  // Writes every child of container: text parts into the page buffer,
  // container parts through writeContainer.
  void writePart(MarlPart& container);

  // Page buffer handling: begin a page, then write it to folder + "Output/" +
  // fileName; raises PageError when the file cannot be written.
  void beginPage() { page_.clear(); }
  void savePage(std::string_view fileName) const;

  // Raises PageError when value (a group or an item code, named by what) cannot
  // be part of a page file name; see pageNameProblem.
  static void checkPageName(std::string_view what, const std::string& value, bool allowEmpty);

  // A failure that ends one page but not the generator: ErrMsg tells the last
  // one, and the run's journal what it concerns.
  void recordFailure(const std::exception& e);

  void addDebugMsg(std::string_view text);
  void addDebugKey(const std::string& key);

  // Sets a variable of a part when the part has it.
  static void setVar(MarlPart& part, std::string_view name, std::string_view value) {
    if (MarlVar* v = part.vars().find(name)) v->replace(value);
  }
  // Sets a variable to a catalogue value taken from column (or derived from
  // it), escaped as the project asks (value_escaping.h).
  void setValue(MarlPart& part, std::string_view name, std::string_view column, std::string_view value) {
    if (MarlVar* v = part.vars().find(name)) v->replace(escaping_.apply(column, value, scratch_));
  }

  // Set by writeContainer to end the writing of the container being written
  // (its remaining children are left out; the caller's container goes on).
  bool endContainer_ = false;

 private:
  std::string errMsg_;
  std::string debugMsg_;
  std::string path_;
  std::unique_ptr<Catalogue> catalogue_;
  std::string page_;
  ValueEscaping escaping_;
  std::string scratch_;  // an escaped value
};

// Registers "Quillant.clsSubject", "Quillant.clsCodeIndex",
// "Quillant.clsImgList" and "Quillant.clsDetail" with the object factory.
void registerPageGenerators();

}  // namespace quill::pages

namespace quill {
using pages::registerPageGenerators;
}
