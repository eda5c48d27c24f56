#include <gtest/gtest.h>
#include <unistd.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/marl_doc.h"
#include "generator/script/script_host.h"
#include "generator/script/script_text.h"

using namespace quill::script;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // One folder per test process: ctest runs tests side by side.
    dir = fs::path(testing::TempDir()) / ("quill_script_db-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = (dir / "Data.mdb").string();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE SHEET1 (COL1 TEXT, COL2 TEXT, COL3 TEXT);"
                           "INSERT INTO SHEET1 VALUES ('A1', 'O''Neil & Sons', '10');"
                           "INSERT INTO SHEET1 VALUES ('A2', 'Acme', NULL);"
                           "INSERT INTO SHEET1 VALUES ('A3', 'Acme', '30');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    host.setGlobal("path", quill::Variant(path));
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string text(std::string_view expr) { return host.eval(expr).toText(); }

  fs::path dir;
  std::string path;
  ScriptHost host;
};

}  // namespace

TEST_F(DatabaseTest, BindsValuesAsParameters) {
  host.addCode(
      "local db = Database.open(path)\n"
      "local maker = \"O'Neil & Sons\"\n"
      "code = db:value('SELECT COL1 FROM SHEET1 WHERE COL2 = ?', maker)\n"
      "local list = {}\n"
      "for row in db:rows('SELECT COL1, COL3 FROM SHEET1 WHERE COL2 = ? ORDER BY COL1', 'Acme') do\n"
      "  list[#list + 1] = row.COL1 .. '=' .. tostring(row.COL3)\n"
      "end\n"
      "acme = table.concat(list, ',')\n"
      "changed = db:exec('UPDATE SHEET1 SET COL3 = ? WHERE COL1 = ?', nil, 'A1')\n"
      "rows = #db:query('SELECT * FROM SHEET1 WHERE COL3 IS NULL')\n"
      "db:exec(\"INSERT INTO SHEET1 VALUES ('A4', 'x', 'y'); INSERT INTO SHEET1 VALUES ('A5', 'x', 'y')\")\n"
      "total = db:value('SELECT COUNT(*) FROM SHEET1')\n"
      "db:close()\n",
      "Db.lua");
  EXPECT_EQ(text("code"), "A1");
  EXPECT_EQ(text("acme"), "A2=nil,A3=30");
  EXPECT_EQ(host.eval("changed").toLong(), 1);
  EXPECT_EQ(host.eval("rows").toLong(), 2);
  EXPECT_EQ(host.eval("total").toLong(), 5);
}

TEST_F(DatabaseTest, ReportsMistakesWithTheScriptLine) {
  auto failure = [&](const std::string& code) {
    try {
      host.addCode("local db = Database.open(path)\n" + code, "Db.lua");
    } catch (const ScriptError& e) {
      return e.description();
    }
    return std::string("no error");
  };
  EXPECT_EQ(failure("db:query('SELECT * FROM SHEET9')"), "Db.lua:2: no such table: SHEET9");
  EXPECT_EQ(failure("db:query('SELECT * FROM SHEET1 WHERE COL1 = ?')"),
            "Db.lua:2: the statement has 1 parameter(s) but 0 value(s) were given");
  EXPECT_EQ(failure("db:close(); db:query('SELECT 1')"), "Db.lua:2: database is closed");
  EXPECT_NE(failure("Database.open(path .. '.missing')").find("unable to open"), std::string::npos);
  EXPECT_FALSE(fs::exists(path + ".missing"));
}

TEST_F(DatabaseTest, ALoopLeftEarlyReleasesItsStatement) {
  // A statement left open would keep the table locked against DROP.
  host.addCode(
      "local db = Database.open(path)\n"
      "for row in db:rows('SELECT * FROM SHEET1') do break end\n"
      "db:exec('DROP TABLE SHEET1')\n"
      "left = db:value(\"SELECT COUNT(*) FROM sqlite_master WHERE name = 'SHEET1'\")\n",
      "Db.lua");
  EXPECT_EQ(host.eval("left").toLong(), 0);
}

TEST_F(DatabaseTest, TheDocumentedExampleWritesItsPage) {
  const char* root = std::getenv("QUILLANT_SOURCE_DIR");
  const std::string doc = readAll(fs::path(root ? root : QUILLANT_TEST_SOURCE_DIR) / "docs" / "scripting.md");
  const auto start = doc.find("```lua\n", doc.find("<!-- example script: start -->"));
  const auto end = doc.find("```\n<!-- example script: end -->");
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  host.addCode(doc.substr(start + 7, end - start - 7), "Items.lua");
  quill::registerEngineClasses();
  fs::create_directories(dir / "Output");
  fs::create_directories(dir / "Html");
  std::ofstream(dir / "Html" / "Items.htm", std::ios::binary)
      << "<h1>{Title}</h1><!-- MARL:HtmlPart _KEY=\"Row\" _POSITION=\"START\" -->"
         "<tr>{Code}|{Name}|{Price}</tr><!-- MARL:HtmlPart _KEY=\"Row\" _POSITION=\"END\" --></table>";
  const std::string folder = dir.string() + "/";
  host.executeStatement(outputFileStatement(folder));
  EXPECT_EQ(text("ErrMsg"), "");
  EXPECT_EQ(text("DebugMsg"), "3 items written to Items.htm");
  EXPECT_EQ(readAll(dir / "Output" / "Items.htm"),
            "<h1>Catalogue</h1><tr>A1|O'Neil &amp; Sons|10</tr><tr>A2|Acme|</tr><tr>A3|Acme|30</tr></table>");
}
