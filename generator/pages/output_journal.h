// What a generation run needs to learn from the page generators and scripts
// it starts, which reach it through nothing else (a script creates its
// generator by name): every file written into the project's Output folder,
// and the template that stopped a generator. The run opens one journal on its
// thread; writers find it with OutputJournal::current() and tell it.
#pragma once

#include <filesystem>
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

  // A template that could not be loaded (its full path).
  void templateFailed(std::string file) { failedTemplate_ = std::move(file); }
  // The template that failed since the last call, or "".
  std::string takeFailedTemplate() { return std::exchange(failedTemplate_, {}); }

 private:
  std::string outputPrefix_;            // the folder as given, with a trailing '/'
  std::filesystem::path outputFolder_;  // absolute, normalised
  std::set<std::string> written_;
  std::string failedTemplate_;
  OutputJournal* previous_;
};

}  // namespace quill::pages
