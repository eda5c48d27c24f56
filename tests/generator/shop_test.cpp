// The program as a shop owner runs it: `quillant --no-gui` on a copy of the
// installed sample design (in a folder whose path holds a blank) with a small
// workbook of its own, judged by its exit status, the files in Output and
// what it prints.
#include <gmock/gmock.h>
#include <unistd.h>

#include <cstdlib>
#include <sys/wait.h>

#include "common/utf.h"
#include "test_project.h"

namespace quill::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using Rows = std::vector<std::vector<std::string>>;

class ShopTest : public ::testing::Test {
 protected:
  struct Result {
    int status = -1;
    std::string out, err;
  };

  void SetUp() override {
    static int counter = 0;
    base_ = fs::temp_directory_path() /
            ("quillant-shop-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    shop_ = base_ / "My Shop";
    fs::create_directories(base_);
    fs::copy(programDir() / "HtmlDesign/Standard/Modern", shop_, fs::copy_options::recursive);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(base_, ec);
  }

  static fs::path programDir() { return std::getenv("QUILLANT_PROGRAM_DIR"); }
  fs::path output(const std::string& name = "") const { return shop_ / "Output" / name; }

  void writeWorkbook(const Rows& rows) const { writeTestWorkbook(shop_ / "Data.xls", rows, base_); }

  Result run() const {
    const std::string command = "'" + (programDir() / "quillant").string() + "' --no-gui '" +
                                (shop_ / "ProjectDef.prj").string() + "' >'" + (base_ / "out").string() + "' 2>'" +
                                (base_ / "err").string() + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(base_ / "out"), readFile(base_ / "err")};
  }

  // The project definition as text, and written back from text.
  std::string definition() const {
    return utf16ToUtf8(utf16leToString(readFile(shop_ / "ProjectDef.prj").substr(2)));
  }
  void setDefinition(const std::string& text) const {
    writeBytes(shop_ / "ProjectDef.prj", "\xFF\xFE" + stringToUtf16le(utf8ToUtf16(text)));
  }

  fs::path base_;
  fs::path shop_;
};

const Rows kTwoGroups = {{"A1", "Tools", "Saw", "Acme", "10", "0", "d"},
                         {"A2", "Tools", "Axe", "Acme", "20", "0", "d"},
                         {"B1", "Pots", "Pan", "Brand", "30", "0", "d"}};

TEST_F(ShopTest, AScriptFileThatCannotBeReadFailsTheRun) {
  writeWorkbook(kTwoGroups);
  fs::remove(shop_ / "Script/Index.lua");
  const Result r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("quillant: error: The script file " + (shop_ / "Script/Index.lua").string() +
                                " of the entry \"Code index\" does not exist: restore it, or clear the entry's "
                                "check box in the designer, then run again.\n"));
  EXPECT_THAT(r.err, HasSubstr("PrintoutFile:The script file " + (shop_ / "Script/Index.lua").string()));
  EXPECT_THAT(r.out, Not(HasSubstr("Pages written to")));
  EXPECT_TRUE(fs::exists(output("Subject.htm")));     // the entry before it ran
  EXPECT_FALSE(fs::exists(output("Detail_A1.htm")));  // the entries after it did not
}

TEST_F(ShopTest, ADamagedProjectFileIsKeptAsItWasAndReported) {
  writeWorkbook(kTwoGroups);
  std::string text = definition();
  const size_t user = text.find("User=\"\"");
  ASSERT_NE(user, std::string::npos);
  text.replace(user, 7, "User=\"shop");  // the closing quote left out
  setDefinition(text);
  const std::string damaged = readFile(shop_ / "ProjectDef.prj");

  const Result r = run();
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.err, StartsWith("quillant: warning: The project file " + (shop_ / "ProjectDef.prj").string() +
                                " is damaged at line 1, column "));
  EXPECT_THAT(r.err, HasSubstr("kept as " + (shop_ / "ProjectDef.prj.bak").string()));
  EXPECT_EQ(readFile(shop_ / "ProjectDef.prj.bak"), damaged);
  EXPECT_NE(readFile(shop_ / "ProjectDef.prj"), damaged);
}

TEST_F(ShopTest, AGroupNamedLikeAnotherPageFailsOnlyItsOwnPage) {
  Rows rows = kTwoGroups;
  rows.push_back({"C1", "index", "Lid", "Acme", "5", "0", "d"});
  writeWorkbook(rows);
  const Result r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("quillant: error: The workbook " + (shop_ / "Data.xls").string() +
                                " holds something that the entry \"Category pages\" cannot make a page of"));
  EXPECT_THAT(r.err, HasSubstr("The group \"index\" cannot have a page of its own: index.htm would replace the "
                               "code index page Index.htm"));
  EXPECT_THAT(readFile(output("Index.htm")), HasSubstr("Detail_C1.htm"));  // still the code index
  EXPECT_FALSE(fs::exists(output("index.htm")));
  EXPECT_TRUE(fs::exists(output("Tools.htm")));
  EXPECT_TRUE(fs::exists(output("Pots.htm")));
}

TEST_F(ShopTest, PagesOfRemovedItemsGoWithTheNextRun) {
  writeWorkbook(kTwoGroups);
  writeBytes(output("about.htm"), "made by hand");
  ASSERT_EQ(run().status, 0);
  ASSERT_TRUE(fs::exists(output("Detail_A2.htm")));

  // A2 and the group Pots leave the catalogue, which is now kept as .csv.
  fs::remove(shop_ / "Data.xls");
  writeBytes(shop_ / "Data.csv", "Code,Group,Name,Maker,Price,Flag,Description\nA1,Tools,Saw,Acme,10,0,d\n");
  const Result r = run();
  ASSERT_EQ(r.status, 0);
  EXPECT_THAT(r.out, HasSubstr("Removed 3 pages from Output that this run no longer makes: Detail_A2.htm, "
                               "Detail_B1.htm, Pots.htm"));
  EXPECT_FALSE(fs::exists(output("Detail_A2.htm")));
  EXPECT_FALSE(fs::exists(output("Pots.htm")));
  EXPECT_TRUE(fs::exists(output("Detail_A1.htm")));
  EXPECT_EQ(readFile(output("about.htm")), "made by hand");
  EXPECT_TRUE(fs::exists(output("style.css")));
  EXPECT_TRUE(fs::exists(shop_ / ".quillant-pages"));  // beside Output, never uploaded
}

TEST_F(ShopTest, CatalogueTextIsShownAsTypedAndTheDescriptionAsHtml) {
  writeWorkbook({{"A1", "Pots & Pans", "Smith <Bros> \"Best\"", "O'Neil", "10", "0", "<b>bold</b> text"},
                 {"A2", "Pots & Pans", "two\\nlines", "O'Neil", "10", "0", "x"}});
  ASSERT_EQ(run().status, 0);
  const std::string detail = readFile(output("Detail_A1.htm"));
  EXPECT_THAT(detail, HasSubstr("<h1>Smith &lt;Bros&gt; &quot;Best&quot;</h1>"));
  EXPECT_THAT(detail, HasSubstr("<p class=\"desc\"><b>bold</b> text</p>"));
  EXPECT_THAT(detail, HasSubstr("<a href=\"Pots%20%26%20Pans.htm\">Pots &amp; Pans</a>"));
  EXPECT_THAT(readFile(output("Pots & Pans.htm")), HasSubstr("<h3>two<br>lines</h3>"));
}

TEST_F(ShopTest, FailuresSayWhichFileAndWhatToDoBeforeTheSystemsText) {
  // No workbook: the import fails and no script runs.
  fs::remove(shop_ / "Data.xls");
  Result r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("quillant: error: The workbook " + (shop_ / "Data.xls").string() +
                                " could not be imported, so no page was made"));
  EXPECT_THAT(r.err, HasSubstr("\n  Error on Excel2Access\n  "));
  EXPECT_FALSE(fs::exists(output("Subject.htm")));

  // An empty first worksheet.
  writeWorkbook({});
  r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("The first worksheet has no columns."));

  // A template whose block is not closed: the template file is named.
  writeWorkbook(kTwoGroups);
  std::string subject = readFile(shop_ / "HtmlTemplate/Subject.htm");
  const std::string end = "<!-- MARL:HtmlPart _KEY=\"LetterLink\" _POSITION=\"END\" -->";
  ASSERT_NE(subject.find(end), std::string::npos);
  subject.erase(subject.find(end), end.size());
  writeBytes(shop_ / "HtmlTemplate/Subject.htm", subject);
  r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("quillant: error: The template " + (shop_ / "HtmlTemplate/Subject.htm").string() +
                                " could not be used, so the entry \"Category page\" stopped"));
  EXPECT_THAT(r.err, HasSubstr("Without \"END\" definition of Key [LetterLink]"));
}

}  // namespace
}  // namespace quill::test
