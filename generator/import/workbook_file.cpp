// The folder is listed once; each entry whose name is one of the four
// workbook names is a candidate, and the candidates are ordered by their
// modification times (ties in the order of the name list, so the choice
// never depends on the listing's order).
#include "generator/import/workbook_file.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "common/ascii.h"

namespace quill {
namespace fs = std::filesystem;

namespace {

constexpr std::array<const char*, 4> kNames = {"Data.xls", "Data.xlsx", "Data.ods", "Data.csv"};

struct Candidate {
  fs::path path;
  fs::file_time_type modified;
  size_t rank;
};

std::string timeText(fs::file_time_type t) {
  const auto system = std::chrono::time_point_cast<std::chrono::seconds>(
      t - fs::file_time_type::clock::now() + std::chrono::system_clock::now());
  const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
  std::tm local{};
  localtime_r(&seconds, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return buf;
}

}  // namespace

WorkbookChoice findWorkbook(const std::string& projectFolder) {
  std::vector<Candidate> found;
  std::error_code ec;
  for (fs::directory_iterator it(projectFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    for (size_t rank = 0; rank < kNames.size(); ++rank) {
      std::error_code statError;
      if (!equalsIgnoringAsciiCase(name, kNames[rank]) || !it->is_regular_file(statError)) continue;
      const auto modified = it->last_write_time(statError);
      if (!statError) found.push_back({it->path(), modified, rank});
    }
  }
  WorkbookChoice choice;
  if (found.empty()) {
    choice.path = (fs::path(projectFolder) / kNames[0]).string();
    return choice;
  }
  std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
    return a.modified != b.modified ? a.modified > b.modified : a.rank < b.rank;
  });
  choice.path = found[0].path.string();
  choice.exists = true;
  for (size_t i = 1; i < found.size(); ++i) choice.passedOver.push_back(found[i].path.string());
  return choice;
}

std::string describeChoice(const WorkbookChoice& choice) {
  if (choice.passedOver.empty()) return {};
  std::error_code ec;
  std::string text = "The project folder holds several workbooks; importing the newest, " +
                     fs::path(choice.path).filename().string() + " (modified " +
                     timeText(fs::last_write_time(choice.path, ec)) + "), not ";
  for (size_t i = 0; i < choice.passedOver.size(); ++i) {
    const fs::path other = choice.passedOver[i];
    if (i > 0) text += i + 1 == choice.passedOver.size() ? " or " : ", ";
    text += other.filename().string() + " (" + timeText(fs::last_write_time(other, ec)) + ")";
  }
  return text + ".";
}

}  // namespace quill
