// Paths are compared in absolute, normalised form, with symbolic links of the
// existing part resolved, so that a script writing "Output/../Output/x.htm"
// or through a linked folder is recorded as "x.htm". A page named plainly in
// the folder as the run gave it (every page of the built-in generators) is
// taken as it is, without asking the file system.
#include "generator/pages/output_journal.h"

namespace fs = std::filesystem;

namespace quill::pages {

namespace {

thread_local OutputJournal* t_current = nullptr;

fs::path normalised(const fs::path& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(path, ec);
  if (ec) p = fs::absolute(path, ec).lexically_normal();
  return p;
}

}  // namespace

OutputJournal::OutputJournal(const fs::path& outputFolder)
    : outputPrefix_(outputFolder.string()), outputFolder_(normalised(outputFolder)), previous_(t_current) {
  if (outputPrefix_.empty() || outputPrefix_.back() != '/') outputPrefix_ += '/';
  t_current = this;
}

OutputJournal::~OutputJournal() { t_current = previous_; }

OutputJournal* OutputJournal::current() noexcept { return t_current; }

void OutputJournal::fileWritten(const fs::path& file) {
  const std::string& text = file.native();
  if (text.starts_with(outputPrefix_)) {
    const std::string_view name = std::string_view(text).substr(outputPrefix_.size());
    if (!name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos) {
      written_.emplace(name);
      return;
    }
  }
  const fs::path relative = normalised(file).lexically_relative(outputFolder_);
  if (relative.empty() || *relative.begin() == ".." || relative == ".") return;
  written_.insert(relative.generic_string());
}

}  // namespace quill::pages
