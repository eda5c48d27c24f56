// The whole program on the installed sample design: copy it into a project
// folder whose path holds a blank, run quillant headless, and crawl Output/.
#include <gmock/gmock.h>
#include <sqlite3.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <set>

#include "generator/import/excel2access.h"
#include "tests/pages/pages_fixture.h"

namespace quill::test {
namespace {

std::string percentDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

int64_t count(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  int64_t n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  return n;
}

TEST_F(PagesTest, SampleDesignMakesACompleteLinkedSite) {
  const fs::path design = fs::path(std::getenv("QUILLANT_PROGRAM_DIR")) / "HtmlDesign/Standard/Modern";
  const fs::path project = base_ / "My Shop";
  fs::copy(design, project, fs::copy_options::recursive);

  // What the catalogue implies: Subject.htm, Index.htm, a page per group, a page per code.
  ASSERT_EQ(excel2Access((project / "Data.xls").string(), (base_ / "expected.mdb").string()), "");
  sqlite3* db = nullptr;
  sqlite3_open((base_ / "expected.mdb").c_str(), &db);
  const int64_t groups = count(db, "select count(DISTINCT COL2) from SHEET1");
  const int64_t codes = count(db, "select count(DISTINCT COL1) from SHEET1");
  sqlite3_close(db);
  ASSERT_GT(groups, 3);
  ASSERT_GT(codes, groups);

  const std::string command = "'" + (fs::path(std::getenv("QUILLANT_PROGRAM_DIR")) / "quillant").string() +
                              "' --no-gui '" + (project / "ProjectDef.prj").string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_FALSE(fs::exists(project / "Data.mdb"));

  // Every page's links and anchors.
  const std::regex link(R"re((?:href|src)="([^"]*)")re");
  const std::regex id(R"re(\bid="([^"]*)")re");
  const std::regex placeholder(R"(\{[A-Za-z_][A-Za-z0-9_]*\})");
  std::map<std::string, std::string> pages;
  for (const auto& e : fs::directory_iterator(project / "Output"))
    if (e.path().extension() == ".htm")
      pages[e.path().filename().string()] = read(fs::relative(e.path(), base_).string());
  EXPECT_EQ(static_cast<int64_t>(pages.size()), 2 + groups + codes);
  ASSERT_TRUE(pages.count("Subject.htm") && pages.count("Index.htm"));

  std::map<std::string, std::set<std::string>> ids;
  for (const auto& [name, text] : pages)
    for (std::sregex_iterator m(text.begin(), text.end(), id), end; m != end; ++m) ids[name].insert((*m)[1]);

  size_t checked = 0;
  for (const auto& [name, text] : pages) {
    EXPECT_FALSE(std::regex_search(text, placeholder)) << name << " has an unfilled placeholder";
    for (std::sregex_iterator m(text.begin(), text.end(), link), end; m != end; ++m) {
      const std::string href = (*m)[1];
      ASSERT_EQ(href.find(':'), std::string::npos) << name << ": not a local link " << href;
      const size_t hash = href.find('#');
      std::string target = percentDecode(href.substr(0, hash));
      if (target.empty()) target = name;
      EXPECT_TRUE(fs::is_regular_file(project / "Output" / target)) << name << ": " << href;
      if (hash != std::string::npos) {
        EXPECT_TRUE(ids[target].count(href.substr(hash + 1))) << name << ": no anchor " << href;
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, pages.size() * 4);
}

}  // namespace
}  // namespace quill::test
