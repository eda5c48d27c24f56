// The list is read whole, compared with the run's set, and written to a
// temporary file renamed over the old list, so that an interrupted save
// leaves the previous list. Files are removed before the new list is saved:
// should the save fail, the next run still finds them listed (and already
// gone, which is no error).
#include "generator/run/generated_pages.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quill {

namespace {

// A listed name is used only when it stays inside Output.
bool staysInside(const std::string& name) {
  const fs::path p(name);
  if (name.empty() || p.is_absolute()) return false;
  for (const fs::path& part : p)
    if (part == ".." || part == ".") return false;
  return true;
}

}  // namespace

std::set<std::string> readGeneratedPages(const std::string& projectFolder) {
  std::set<std::string> pages;
  std::ifstream in(fs::path(projectFolder + kGeneratedPagesFile), std::ios::binary);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) pages.insert(line);
  return pages;
}

std::vector<std::string> replaceGeneratedPages(const std::string& projectFolder,
                                               const std::set<std::string>& written) {
  const fs::path output = fs::path(projectFolder + "Output");
  std::vector<std::string> removed;
  for (const std::string& page : readGeneratedPages(projectFolder)) {
    if (written.count(page) || !staysInside(page)) continue;
    std::error_code ec;
    const fs::path file = output / fs::path(page);
    if (fs::is_regular_file(fs::symlink_status(file, ec)) && fs::remove(file, ec)) removed.push_back(page);
  }

  const fs::path list = fs::path(projectFolder + kGeneratedPagesFile);
  const fs::path tmp = fs::path(projectFolder + kGeneratedPagesFile + ".tmp");
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    // A file written and then renamed or removed again is no page; a name
    // with a line break (a script may write one) cannot be listed.
    for (const std::string& page : written) {
      std::error_code ec;
      if (page.find_first_of("\r\n") == std::string::npos && fs::is_regular_file(output / fs::path(page), ec))
        out << page << '\n';
    }
    out.close();
    std::error_code ec;
    if (out) fs::rename(tmp, list, ec);
    if (!out || ec) {
      fs::remove(tmp, ec);
      throw std::runtime_error("Cannot save the list of generated pages " + list.string());
    }
  }
  return removed;
}

}  // namespace quill
