// The whole program on the installed sample design, with its catalogue as
// Data.xls, Data.xlsx, Data.ods and Data.csv in turn: each makes the same
// site, page for page and byte for byte.
#include <gtest/gtest.h>

#include <map>

#include "import_test_util.h"

using namespace importtest;
namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> readTree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    files[fs::relative(e.path(), root).string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

}  // namespace

TEST(SampleProject, EveryWorkbookFormatMakesTheSameSite) {
  const fs::path programDir = std::getenv("QUILLANT_PROGRAM_DIR");
  const fs::path tool = fs::path(std::getenv("QUILLANT_SOURCE_DIR")) / "designs/tools/make_sample_workbook.py";
  TempDir dir;
  std::map<std::string, std::map<std::string, std::string>> sites;
  for (const std::string format : {"xls", "xlsx", "ods", "csv"}) {
    SCOPED_TRACE(format);
    const fs::path project = dir.path() / ("My Shop " + format);
    fs::copy(programDir / "HtmlDesign/Standard/Modern", project, fs::copy_options::recursive);
    if (format != "xls") {
      fs::remove(project / "Data.xls");
      const std::string make = "/usr/bin/python3 '" + tool.string() + "' '" + (project / ("Data." + format)).string() +
                               "' >/dev/null";
      ASSERT_EQ(std::system(make.c_str()), 0) << make;
    }
    const std::string run = "'" + (programDir / "quillant").string() + "' --no-gui '" +
                            (project / "ProjectDef.prj").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(run.c_str()), 0) << run;
    sites[format] = readTree(project / "Output");
  }
  const auto& reference = sites["xls"];
  ASSERT_GT(reference.size(), 60u);
  for (const auto& [format, site] : sites) {
    EXPECT_EQ(site.size(), reference.size()) << format;
    for (const auto& [page, text] : reference) {
      auto it = site.find(page);
      ASSERT_NE(it, site.end()) << format << ": no " << page;
      EXPECT_TRUE(it->second == text) << format << ": " << page << " differs";
    }
  }
}
