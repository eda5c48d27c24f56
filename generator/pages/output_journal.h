// What a generation run needs to learn from the page generators and scripts
// it starts, which reach it through nothing else (a script creates its
// generator by name): every file written into the project's Output folder,
// and what a person has to change when a generator failed. The run opens one journal on its
// thread; writers find it with OutputJournal::current() and tell it.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace quill::pages {

class OutputJournal {
 public:
  // Becomes the thread's journal until destroyed (journals nest: the one
  // before comes back).
  explicit OutputJournal(const std::filesystem::path& outputFolder);
  ~OutputJournal();
  OutputJournal(const OutputJournal&) = delete;
  OutputJournal& operator=(const OutputJournal&) = delete;

  // The thread's journal, or nullptr outside a run.
  static OutputJournal* current() noexcept;

  // Records a file that was written (created or replaced), when it lies
  // inside the output folder; other files are not the run's pages.
  void fileWritten(const std::filesystem::path& file);
  // The files written, relative to the output folder, '/'-separated.
  const std::set<std::string>& writtenFiles() const noexcept { return written_; }

  // What a page generator's failure concerns: the file to change.
  struct Failure {
    enum class Concern { Template, Workbook, OutputFolder };
    Concern concern;
    std::string file;  // the template or the page; "" for the workbook
  };
  void generatorFailed(Failure failure) { failure_ = std::move(failure); }
  // The last failure since the previous call, if any.
  std::optional<Failure> takeGeneratorFailure() { return std::exchange(failure_, std::nullopt); }

 private:
  std::string outputPrefix_;            // the folder as given, with a trailing '/'
  std::filesystem::path outputFolder_;  // absolute, normalised
  std::set<std::string> written_;
  std::optional<Failure> failure_;
  OutputJournal* previous_;
};

}  // namespace quill::pages
