// The four page generators on small catalogues and templates, in a project
// folder whose path holds a blank, with a catalogue made directly with SQLite.
#include <gmock/gmock.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "common/dispatch.h"
#include "common/object_factory.h"
#include "generator/pages/page_generators.h"
#include "generator/report/progress.h"

namespace quill::test {
namespace {

namespace fs = std::filesystem;
using pages::clsCodeIndex;
using pages::clsDetail;
using pages::clsImgList;
using pages::clsSubject;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Row = std::vector<std::optional<std::string>>;  // COL1, COL2, ...; nullopt is NULL

class PagesTest : public ::testing::Test {
 public:
  static std::string block(const std::string& key, const std::string& inner) {
    return "<!-- MARL:HtmlPart _KEY=\"" + key + "\" _POSITION=\"START\" -->" + inner +
           "<!-- MARL:HtmlPart _KEY=\"" + key + "\" _POSITION=\"END\" -->";
  }

 protected:
  void SetUp() override {
    registerPageGenerators();
    static int counter = 0;
    base_ = fs::temp_directory_path() /
            ("quillant-pages " + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    for (const char* folder : {"Output", "HtmlTemplate", "Html"}) fs::create_directories(base_ / folder);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(base_, ec);
  }

  std::string folder() const { return base_.string() + "/"; }

  // SHEET1 with columns COL1..COL7; collation applies to every column.
  void makeDb(const std::vector<Row>& rows, const std::string& collation = "") {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((base_ / "Data.mdb").c_str(), &db), SQLITE_OK);
    std::string sql = "CREATE TABLE SHEET1(";
    for (int i = 1; i <= 7; ++i) sql += (i > 1 ? ", COL" : "COL") + std::to_string(i) + " TEXT" + collation;
    ASSERT_EQ(sqlite3_exec(db, (sql + ")").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO SHEET1 VALUES(?,?,?,?,?,?,?)", -1, &stmt, nullptr);
    for (const Row& row : rows) {
      for (int i = 0; i < 7; ++i) {
        if (i < static_cast<int>(row.size()) && row[i])
          sqlite3_bind_text(stmt, i + 1, row[i]->c_str(), -1, SQLITE_TRANSIENT);
        else
          sqlite3_bind_null(stmt, i + 1);
      }
      sqlite3_step(stmt);
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
  }

  void writeFile(const std::string& relative, const std::string& text) const {
    std::ofstream(base_ / relative, std::ios::binary) << text;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(base_ / relative, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool exists(const std::string& relative) const { return fs::exists(base_ / relative); }
  size_t outputCount() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(base_ / "Output"), fs::directory_iterator()));
  }

  template <class T>
  std::shared_ptr<T> run() {
    auto g = std::make_shared<T>();
    g->outputFile(folder());
    return g;
  }

  fs::path base_;
};

std::optional<std::string> opt(const char* text) {
  return text ? std::optional<std::string>(text) : std::nullopt;
}

Row item(const char* code, const char* group, const char* maker = "M", const char* flag = "0") {
  return {opt(code), opt(group), std::string("name ") + (code ? code : ""), opt(maker), "100", opt(flag), "desc"};
}

const std::string kSubject =
    "[" + PagesTest::block("LetterLink", "<{Letter}|{LetterId}>") + "]" +
    PagesTest::block("LetterGroup", "\n{Letter}:" + PagesTest::block("Link", "#{LetterId}") +
                                         PagesTest::block("LetterRow", "(" +
                                             PagesTest::block("GroupLink", "{GroupName}={GroupNum}@{GroupFile};") +
                                             PagesTest::block("GroupLink", "{GroupName}={GroupNum}@{GroupFile};") +
                                             PagesTest::block("GroupLink", "{GroupName}={GroupNum}@{GroupFile};") + ")"));

TEST_F(PagesTest, SubjectGroupsByLetterInRowsWithTrace) {
  makeDb({item("1", "Banana"), item("2", "Apple"), item("3", "Avocado"), item("4", "Apple"),
          item("5", "B&<x>"), item("6", nullptr)});
  writeFile("HtmlTemplate/Subject.htm", kSubject);
  auto g = run<clsSubject>();
  EXPECT_EQ(g->errMsg(), "");
  // The empty group sorts first: it gets number 1 but no letter.
  EXPECT_EQ(read("Output/Subject.htm"),
            "[<A|L41><B|L42>]"
            "\nA:#L41(Apple=2@Apple.htm;Avocado=3@Avocado.htm;)"
            "\nB:#L42(B&<x>=4@B%26%3Cx%3E.htm;Banana=5@Banana.htm;)");
  EXPECT_THAT(g->debugMsg(), StartsWith("Get Html\r\nGet KeyLetterLink\r\n"
                                        "Get KeyLetterGroup\r\nGet KeyLink\r\nGet KeyLetterRow\r\n"
                                        "Get KeyGroupLink\r\nGet KeyGroupLink\r\nGet KeyGroupLink\r\n"));
}

TEST_F(PagesTest, SubjectLetterComingBackJoinsItsLetterAndUnicodeLetters) {
  // Case-insensitive sorting puts "apple" between "Apple"-like groups: A, a, A.
  makeDb({item("1", "Axe"), item("2", "apple"), item("3", "Acorn"), item("4", "和食"), item("5", "éclair")},
          " COLLATE NOCASE");
  writeFile("HtmlTemplate/Subject.htm", kSubject);
  auto g = run<clsSubject>();
  EXPECT_EQ(g->errMsg(), "");
  const std::string page = read("Output/Subject.htm");
  EXPECT_THAT(page, StartsWith("[<A|L41><a|L61><é|LE9><和|L548C>]"));
  EXPECT_THAT(page, HasSubstr("A:#L41(Acorn=1@Acorn.htm;Axe=3@Axe.htm;)"));
  EXPECT_THAT(page, HasSubstr("和:#L548C(和食=5@%E5%92%8C%E9%A3%9F.htm;)"));
}

TEST_F(PagesTest, IndexRowsLettersAndLinkOutsideRows) {
  makeDb({item("c", "G"), item("AB2", "G"), item("ab1", "G"), item("éx", "G"), item("d", "G")});
  writeFile("HtmlTemplate/Index.htm",
            block("IndexLink", "first={Code};") +
                block("IndexRow", "(" + block("IndexLink", "{Letter1}{Letter2}{Letter3}:{Code}@{CodeFile} ") +
                                      block("IndexLink", "{Letter1}{Letter2}{Letter3}:{Code}@{CodeFile} ") + ")") +
                block("IndexLink", "after"));
  auto g = run<clsCodeIndex>();
  EXPECT_EQ(g->errMsg(), "");
  EXPECT_EQ(read("Output/Index.htm"),
            "first=AB2;(AB1:ab1@Detail_ab1.htm C:c@Detail_c.htm )(D:d@Detail_d.htm "
            "ÉX:éx@Detail_%C3%A9x.htm )");
  EXPECT_THAT(g->debugMsg(), StartsWith("Get Html\r\nGet KeyIndexLink\r\nGet KeyIndexRow\r\n"));
}

TEST_F(PagesTest, RowsWithoutLinksAndEmptyCatalogueEnd) {
  makeDb({item("a", "G"), item("b", "G")});
  writeFile("HtmlTemplate/Index.htm", "<" + block("IndexRow", "row") + ">");
  writeFile("HtmlTemplate/Subject.htm", block("LetterGroup", block("LetterRow", "row")));
  EXPECT_EQ(run<clsCodeIndex>()->errMsg(), "");
  EXPECT_EQ(read("Output/Index.htm"), "<row>");
  EXPECT_EQ(run<clsSubject>()->errMsg(), "");
  EXPECT_EQ(read("Output/Subject.htm"), "row");
}

const std::string kItemList =
    "{GroupName}#{GroupNum}@{GroupFile}|" + PagesTest::block("MakerList", "[{COL4}:{MakerId}]") +
    PagesTest::block("MakerItems", "\n{COL4}:" + PagesTest::block("Item", " {COL1}/{COL3}@{CodeFile}" +
                                                                          PagesTest::block("COL6", "!{COL6}")));

TEST_F(PagesTest, ItemListsPerGroupWithApostropheFlagsAndEmptyMaker) {
  makeDb({item("2", "Chef's", "Zed", "SALE"), item("1", "Chef's", "Zed", "0"), item("3", "Chef's", nullptr),
          item("4", "Chef's", "O'Neil", nullptr), item("6", "Chef's", ""), item("5", "Tools", "Ace", "1"),
          item("0", "Chef's", nullptr)});
  writeFile("Html/ItemList.htm", kItemList);
  writeFile("HtmlTemplate/ItemList.htm", "wrong folder");
  auto g = run<clsImgList>();
  EXPECT_EQ(g->errMsg(), "");
  EXPECT_EQ(g->debugMsg(), "");
  // Items of a maker keep their stored order; items without a maker (an
  // empty cell or an empty text) are listed under one empty maker.
  EXPECT_EQ(read("Output/Chef's.htm"),
            "Chef's#1@Chef%27s.htm|[:maker1][O'Neil:maker2][Zed:maker3]"
            "\n: 3/name 3@Detail_3.htm 6/name 6@Detail_6.htm 0/name 0@Detail_0.htm"
            "\nO'Neil: 4/name 4@Detail_4.htm\nZed: 2/name 2@Detail_2.htm!SALE 1/name 1@Detail_1.htm");
  EXPECT_EQ(read("Output/Tools.htm"), "Tools#2@Tools.htm|[Ace:maker1]\nAce: 5/name 5@Detail_5.htm!1");
}

// A group that cannot name a page, or whose page would replace the subject
// page, the code index or an item's page (in any letter case), fails that
// page and sets ErrMsg (the last such group's); a blank group has no page and
// is no error. The other pages are made.
TEST_F(PagesTest, ItemListGroupsThatCannotHaveAPageFailOnlyTheirOwn) {
  const struct {
    std::vector<Row> rows;
    const char* errMsg;
    std::set<std::string> pages;  // in Output, besides the code index
  } cases[] = {
      {{item("1", "../evil"), item("2", "A\tB"), item("3", "  "), item("4", "Good")},
       "The group \"A\tB\" cannot name a page file: it holds a control character", {"Good.htm"}},
      {{item("x", "Detail_X"), item("1", "index"), item("2", "SUBJECT"), item("3", "Detail_none"),
        item("4", "Good")},
       "The group \"index\" cannot have a page of its own: index.htm would replace the code index page "
       "Index.htm",
       {"Detail_none.htm", "Good.htm"}},
      {{item("1", nullptr), item("2", "Good")}, "", {"Good.htm"}},  // an empty row inside the sheet
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.errMsg);
    fs::remove(base_ / "Data.mdb");
    fs::remove_all(base_ / "Output");
    fs::create_directories(base_ / "Output");
    makeDb(c.rows);
    writeFile("Html/ItemList.htm", "{GroupName}");
    writeFile("Output/Index.htm", "the code index");
    EXPECT_EQ(run<clsImgList>()->errMsg(), c.errMsg);
    EXPECT_EQ(read("Output/Index.htm"), "the code index");
    std::set<std::string> made;
    for (const auto& e : fs::directory_iterator(base_ / "Output")) made.insert(e.path().filename().string());
    made.erase("Index.htm");
    EXPECT_EQ(made, c.pages);
    for (const std::string& page : c.pages) EXPECT_EQ(read("Output/" + page), fs::path(page).stem());
    EXPECT_FALSE(exists("evil.htm"));
  }
}

TEST_F(PagesTest, DetailPrevNextPerGroupAndReturnLink) {
  makeDb({item("b2", "Beta"), item("a2", "Alpha"), item("a1", "Alpha"), item("a3", "Alpha"),
          item("solo", "Solo"), item("b1", "Beta")});
  writeFile("HtmlTemplate/Detail.htm",
            block("Detail", "{GroupLetter}{Letter2}{Letter3}|{Code}|{COL3}|{GroupName}@{GroupFile}") +
                block("PrevItemLink", " <{Code}@{CodeFile}") + block("ReturnLink", " ^{GroupNum}@{GroupFile}") +
                block("NextItemLink", " >{Code}"));
  auto g = run<clsDetail>();
  EXPECT_EQ(g->errMsg(), "");
  EXPECT_EQ(g->debugMsg(), "");
  EXPECT_EQ(read("Output/Detail_a1.htm"), "A1|a1|name a1|Alpha@Alpha.htm ^1@Alpha.htm >a2");
  EXPECT_EQ(read("Output/Detail_a2.htm"), "A2|a2|name a2|Alpha@Alpha.htm <a1@Detail_a1.htm ^1@Alpha.htm >a3");
  EXPECT_EQ(read("Output/Detail_a3.htm"), "A3|a3|name a3|Alpha@Alpha.htm <a2@Detail_a2.htm ^1@Alpha.htm");
  // The first item of the second group has no previous link.
  EXPECT_EQ(read("Output/Detail_b1.htm"), "B1|b1|name b1|Beta@Beta.htm ^2@Beta.htm >b2");
  EXPECT_EQ(read("Output/Detail_solo.htm"), "SOL|solo|name solo|Solo@Solo.htm ^3@Solo.htm");
}

TEST_F(PagesTest, DetailSameCodeLaterGroupWinsEmptyCodeAndBadCodeStops) {
  makeDb({item("x", "A", "first"), item("x", "B", "second"), item(nullptr, "C"), item("d/1", "D"),
          item("e", "E")});
  writeFile("HtmlTemplate/Detail.htm", block("Detail", "{Code}:{COL4}"));
  auto g = run<clsDetail>();
  EXPECT_EQ(g->errMsg(), "The item code \"d/1\" cannot name a page file: it holds a path separator");
  EXPECT_EQ(read("Output/Detail_x.htm"), "x:second");
  EXPECT_EQ(read("Output/Detail_.htm"), ":M");
  EXPECT_FALSE(exists("Output/Detail_e.htm"));  // the failure stops the remaining pages
  EXPECT_EQ(outputCount(), 2u);
}

TEST_F(PagesTest, PageThatCannotBeWrittenStopsDetailsButNotItemLists) {
  std::vector<Row> rows;
  for (const char* code : {"a", "b", "c", "d"}) rows.push_back(item(code, code[0] < 'c' ? "G1" : "G2"));
  makeDb(rows);
  writeFile("HtmlTemplate/Detail.htm", block("Detail", "{Code}"));
  writeFile("Html/ItemList.htm", "{GroupName}");
  fs::create_directories(base_ / "Output/Detail_b.htm");
  fs::create_directories(base_ / "Output/G1.htm");
  auto detail = run<clsDetail>();
  EXPECT_THAT(detail->errMsg(), StartsWith("Cannot write the page " + folder() + "Output/Detail_b.htm: "));
  EXPECT_TRUE(exists("Output/Detail_a.htm"));
  EXPECT_FALSE(exists("Output/Detail_c.htm"));
  auto lists = run<clsImgList>();
  EXPECT_THAT(lists->errMsg(), HasSubstr("Output/G1.htm: "));
  EXPECT_EQ(read("Output/G2.htm"), "G2");
}

// The generators that write many pages report each one, and a sink that
// cancels stops them at once without any ErrMsg.
TEST_F(PagesTest, ManyPageGeneratorsReportProgressAndStopOnCancel) {
  struct Sink : ProgressSink {
    std::vector<std::string> seen;
    size_t cancelAt = 0;  // never
    void progress(long done, long total) override {
      seen.push_back(std::to_string(done) + "/" + std::to_string(total));
      if (seen.size() == cancelAt) throw WorkCancelled();
    }
  } sink;
  ScopedProgressSink installed(sink);
  makeDb({item("a", "G1"), item("b", "G1"), item("c", "G2")});
  writeFile("HtmlTemplate/Detail.htm", block("Detail", "{Code}"));
  writeFile("Html/ItemList.htm", "{GroupName}");
  EXPECT_EQ(run<clsDetail>()->errMsg(), "");
  EXPECT_EQ(sink.seen, (std::vector<std::string>{"1/3", "2/3", "3/3"}));
  sink.seen.clear();
  EXPECT_EQ(run<clsImgList>()->errMsg(), "");
  EXPECT_EQ(sink.seen, (std::vector<std::string>{"1/2", "2/2"}));

  fs::remove_all(base_ / "Output");
  fs::create_directories(base_ / "Output");
  sink.seen.clear();
  sink.cancelAt = 2;
  clsDetail detail;
  EXPECT_THROW(detail.outputFile(folder()), WorkCancelled);
  EXPECT_EQ(outputCount(), 2u);
  EXPECT_EQ(detail.errMsg(), "");
}

TEST_F(PagesTest, FailuresBeforeAnyPage) {
  // No database: nothing is created, every generator reports it.
  writeFile("HtmlTemplate/Subject.htm", kSubject);
  auto g = run<clsSubject>();
  EXPECT_THAT(g->errMsg(), HasSubstr("Data.mdb"));
  EXPECT_FALSE(exists("Data.mdb"));
  // No template: the engine's message, no page; the catalogue is only read.
  makeDb({item("a", "G")});
  const std::string catalogue = read("Data.mdb");
  for (auto errMsg : {run<clsCodeIndex>()->errMsg(), run<clsImgList>()->errMsg(), run<clsDetail>()->errMsg()})
    EXPECT_THAT(errMsg, StartsWith("Invalid path of"));
  EXPECT_EQ(outputCount(), 0u);
  EXPECT_EQ(read("Data.mdb"), catalogue);
}

// With EscapeValues="1" catalogue values are HTML-escaped and their line
// breaks become <br>, except in the raw columns; links stay URL-encoded.
TEST_F(PagesTest, EscapedValuesUnlessTheirColumnIsRaw) {
  std::string definition = "\xFF\xFE";
  for (const char c : std::string("<P><Scripts/><Setup EscapeValues=\"1\" RawColumns=\"col7, COL9\"/></P>"))
    definition += std::string{c, '\0'};
  writeFile("ProjectDef.prj", definition);
  makeDb({{"<b>1", "A&B", "Smith <Bros>", "O\"Neil's", "9", "<new>", "<p>raw</p>\r\nline"},
          {"c2", "A&B", "two\r\nlines\rand\nmore", "O\"Neil's", "9", "0", "x"}});
  writeFile("HtmlTemplate/Subject.htm", kSubject);
  writeFile("HtmlTemplate/Index.htm", block("IndexLink", "{Letter1}{Letter2}:{Code}@{CodeFile};"));
  writeFile("Html/ItemList.htm", kItemList);
  writeFile("HtmlTemplate/Detail.htm", block("Detail", "{GroupName}|{Code}|{COL3}|{COL7}") +
                                           block("NextItemLink", "|{Code}@{CodeFile}"));
  for (auto errMsg : {run<clsSubject>()->errMsg(), run<clsCodeIndex>()->errMsg(), run<clsImgList>()->errMsg(),
                      run<clsDetail>()->errMsg()})
    EXPECT_EQ(errMsg, "");
  EXPECT_EQ(read("Output/Subject.htm"), "[<A|L41>]\nA:#L41(A&amp;B=1@A%26B.htm;)");
  EXPECT_EQ(read("Output/Index.htm"), "&lt;B:&lt;b&gt;1@Detail_%3Cb%3E1.htm;");
  EXPECT_EQ(read("Output/A&B.htm"), "A&amp;B#1@A%26B.htm|[O&quot;Neil&#39;s:maker1]\nO&quot;Neil&#39;s:"
                                    " &lt;b&gt;1/Smith &lt;Bros&gt;@Detail_%3Cb%3E1.htm!&lt;new&gt;"
                                    " c2/two<br>lines<br>and<br>more@Detail_c2.htm");
  EXPECT_EQ(read("Output/Detail_<b>1.htm"),
            "A&amp;B|&lt;b&gt;1|Smith &lt;Bros&gt;|<p>raw</p>\r\nline|c2@Detail_c2.htm");
}

TEST_F(PagesTest, LateBoundThroughTheFactory) {
  makeDb({item("a", "G")});
  writeFile("HtmlTemplate/Index.htm", block("IndexLink", "{Code}"));
  ObjectRef g = createObject("Quillant.clsCodeIndex");
  const Variant args[] = {Variant(folder())};
  invokeGet(*g, "OutputFile", args);
  EXPECT_EQ(invokeGet(*g, "ErrMsg").toText(), "");
  EXPECT_EQ(invokeGet(*g, "DebugMsg").toText(), "Get Html\r\nGet KeyIndexLink\r\n");
  EXPECT_EQ(read("Output/Index.htm"), "a");  // the design's scripts make the other three by name
}

}  // namespace
}  // namespace quill::test
