// The designs as the build installs them into the program folder. Each
// HtmlDesign/<category>/<design>/ is a complete project: its definition and
// scripts must be what the run expects, its templates must nest their blocks
// as the page generators need, and the program itself, run on a copy, must
// make every page with every link and anchor resolving.
#include <gmock/gmock.h>
#include <sqlite3.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "common/utf.h"
#include "engine/marl_doc.h"
#include "generator/import/excel2access.h"
#include "store/dom.h"

namespace quill::test {
namespace {

namespace fs = std::filesystem;

fs::path programDir() { return std::getenv("QUILLANT_PROGRAM_DIR"); }

std::vector<fs::path> installedDesigns() {
  std::vector<fs::path> designs;
  for (const auto& category : fs::directory_iterator(programDir() / "HtmlDesign"))
    for (const auto& design : fs::directory_iterator(category.path())) designs.push_back(design.path());
  return designs;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Design, ProjectDefinitionAndScriptsAreWhatTheRunExpects) {
  const std::set<std::string> scriptFiles = {"Detail.lua", "Index.lua", "ItemList.lua", "Subject.lua"};
  const std::vector<std::string> entryAttrs = {"Desc", "Name", "ScriptCode", "Selected", "TempHtml"};
  const std::vector<std::string> ftpAttrs = {"Ip", "Port", "User", "Password", "Account", "ServerPath",
                                             "TxtFile", "PassMode", "FirewallFlag", "FirewallType",
                                             "FirewallIP", "FirewallUser", "FirewallPassword"};
  for (const fs::path& design : installedDesigns()) {
    SCOPED_TRACE(design.string());
    // Built into a tag document, with no white space between tags (it would
    // become element text).
    const std::string bytes = readFile(design / "ProjectDef.prj");
    ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const std::string text = utf16ToUtf8(utf16leToString(bytes.substr(2)));
    EXPECT_THAT(text, ::testing::StartsWith("<?xml version=\"1.0\"?><"));
    EXPECT_FALSE(std::regex_search(text, std::regex(R"(>\s+<|\s$)")));

    auto doc = cvDomDoc::create();
    doc->readDoc((design / "ProjectDef.prj").string());
    EXPECT_TRUE(doc->root()->hasAttr("Name"));
    std::set<std::string> scripts;
    const DomNodeRef entries = doc->root()->node("Scripts", Missing::Raise);
    for (int i = 1; i <= entries->length(); ++i) {
      const DomNodeRef entry = entries->nodeAt(i);
      std::vector<std::string> attrs = entry->attrs();
      std::sort(attrs.begin(), attrs.end());
      EXPECT_EQ(attrs, entryAttrs);
      scripts.insert(entry->getAttr("ScriptCode", Missing::Raise));
      EXPECT_TRUE(fs::is_regular_file(design / "Html" / entry->getAttr("TempHtml", Missing::Raise))) << entry->getAttr("TempHtml", Missing::Raise);
    }
    EXPECT_EQ(scripts, scriptFiles);
    EXPECT_EQ(doc->root()->node("Setup", Missing::Raise)->node("Ftp", Missing::Raise)->attrs(), ftpAttrs);

    // Each script passes both texts of its generator on (that it runs the
    // generator at all is seen in the pages of the program's run below).
    for (const std::string& name : scriptFiles)
      for (const char* needed : {"DebugMsg = g.DebugMsg", "ErrMsg = g.ErrMsg"})
        EXPECT_THAT(readFile(design / "Script" / name), ::testing::HasSubstr(needed)) << name;
  }
}

// The blocks the generators handle only inside another block, or only when
// they hold one: a Link outside a LetterGroup, or a LetterRow without a
// GroupLink, silently loses content.
TEST(Design, TemplatesNestTheirBlocksAsTheGeneratorsNeed) {
  const std::map<std::string, std::string> inside = {
      {"Link", "LetterGroup"}, {"GroupLink", "LetterRow"}, {"IndexLink", "IndexRow"}, {"Item", "MakerItems"},
      {"COL6", "Item"}};
  const std::map<std::string, std::string> holds = {{"LetterRow", "GroupLink"}, {"IndexRow", "IndexLink"}};
  struct Template {
    const char* path;
    bool rootVariables;  // only the item-list pages fill variables outside every block
  };
  const Template templates[] = {{"HtmlTemplate/Subject.htm", false}, {"HtmlTemplate/Index.htm", false},
                                {"HtmlTemplate/Detail.htm", false}, {"Html/ItemList.htm", true}};

  for (const fs::path& design : installedDesigns()) {
    for (const Template& t : templates) {
      SCOPED_TRACE((design / t.path).string());
      MarlDoc doc;
      ASSERT_EQ(doc.loadFile((design / t.path).string()), "");
      struct Open {
        const MarlPart* part;
        std::vector<std::string> keys;  // the keys of the blocks it lies in, itself included
      };
      std::vector<Open> todo = {{doc.rootPart().get(), {}}};
      while (!todo.empty()) {
        const Open open = todo.back();
        todo.pop_back();
        std::set<std::string> children;
        for (const auto& child : open.part->parts()) {
          if (child->isText()) {
            EXPECT_TRUE(!open.keys.empty() || t.rootVariables || child->vars().count() == 0)
                << "a placeholder outside every block gets no value: " << child->orgText();
            continue;
          }
          const std::string& key = child->key();
          if (const auto it = inside.find(key); it != inside.end()) {
            EXPECT_NE(std::find(open.keys.begin(), open.keys.end(), it->second), open.keys.end())
                << key << " outside " << it->second;
          }
          children.insert(key);
          std::vector<std::string> keys = open.keys;
          keys.push_back(key);
          todo.push_back({child.get(), keys});
        }
        if (!open.keys.empty()) {
          if (const auto it = holds.find(open.keys.back()); it != holds.end()) {
            EXPECT_TRUE(children.count(it->second)) << it->first << " holds no " << it->second;
          }
        }
      }
    }
  }
}

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

int64_t count(const fs::path& database, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  const int64_t n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return n;
}

TEST(Design, TheProgramMakesACompleteLinkedSite) {
  const fs::path work = fs::temp_directory_path() / ("quillant-designs-" + std::to_string(::getpid()));
  for (const fs::path& design : installedDesigns()) {
    SCOPED_TRACE(design.string());
    fs::remove_all(work);
    const fs::path project = work / "My Shop";  // a blank in the path
    fs::create_directories(work);
    fs::copy(design, project, fs::copy_options::recursive);

    // What the catalogue implies: Subject.htm, Index.htm, a page per group, a page per code.
    ASSERT_EQ(excel2Access((project / "Data.xls").string(), (work / "expected.mdb").string()), "");
    const int64_t groups = count(work / "expected.mdb", "select count(DISTINCT COL2) from SHEET1");
    const int64_t codes = count(work / "expected.mdb", "select count(DISTINCT COL1) from SHEET1");
    ASSERT_GT(groups, 3);
    ASSERT_GT(codes, groups);

    const std::string command = "'" + (programDir() / "quillant").string() + "' --no-gui '" +
                                (project / "ProjectDef.prj").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_FALSE(fs::exists(project / "Data.mdb"));

    std::map<std::string, std::string> pages;
    for (const auto& e : fs::directory_iterator(project / "Output"))
      if (e.path().extension() == ".htm") pages[e.path().filename().string()] = readFile(e.path());
    EXPECT_EQ(static_cast<int64_t>(pages.size()), 2 + groups + codes);
    ASSERT_TRUE(pages.count("Subject.htm") && pages.count("Index.htm"));

    const std::regex link(R"re((?:href|src)="([^"]*)")re");
    const std::regex id(R"re(\bid="([^"]*)")re");
    const std::regex placeholder(R"(\{[A-Za-z_][A-Za-z0-9_]*\})");
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
  fs::remove_all(work);
}

}  // namespace
}  // namespace quill::test
