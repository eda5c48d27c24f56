// The .xlsx, .ods and .csv readers: the same catalogue gives the same
// tables as the .xls import, the cases each format has of its own, and
// files that are damaged, disguised or hostile.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "generator/import/excel2access.h"
#include "generator/import/shared_strings.h"
#include "generator/import/workbook_file.h"
#include "biff_writer.h"
#include "import_test_util.h"
#include "zip_writer.h"

using namespace importtest;
using quill::excel2Access;

namespace {

using S = std::optional<std::string>;
namespace fs = std::filesystem;

// Imports a workbook; the error text, or the rows of SHEET1 in row order.
struct Imported {
  std::string error;
  std::vector<Row> rows;
};

Imported importFile(const TempDir& dir, const std::string& name) {
  Imported result;
  result.error = excel2Access(dir / name, dir / "Data.mdb");
  if (result.error.empty()) result.rows = query(dir / "Data.mdb", "SELECT * FROM SHEET1 ORDER BY rowid");
  return result;
}

std::string cells(const std::string& row, const std::string& xml) {
  return "<sheetData><row r=\"" + row + "\">" + xml + "</row></sheetData>";
}

}  // namespace

TEST(WorkbookFormats, EveryFormatGivesTheTablesOfTheXlsImport) {
  TempDir dir;
  runPython(dir, R"PY(
import sys, os, datetime
sys.path.insert(0, os.path.join(os.environ['QUILLANT_SOURCE_DIR'], 'designs', 'tools'))
import workbook_formats as wf
items = [['Code', 'Group', 'Name', 'Price', 'Flag', 'Added', 'Note', 'Ratio'],
         ['A001', 'Bücher & Café', '日本語の商品', 1200, True, datetime.date(2024, 3, 5), 'two\nlines  and\ttab', wf.Percent(0.15)],
         ['A002', None, 'x', 0.1 + 0.2, False, datetime.datetime(2024, 3, 5, 13, 45, 7), None, 1 / 3],
         [],
         ['A004', 'g', '長い説明' * 3000, -7, None, datetime.time(18, 0, 0), 1e20, 12.5],
         [' lead and trail ', '<b>&amp;</b>', 'quote " and, comma;', 1234567890123456, None, datetime.date(2000, 2, 29), 0.00001, None]]
sheets = [('Items', items), ('Filter$_Range', [['hidden']]), ('Titles only', [['Only titles', 'Second']]),
          ('Wide', [['T%d' % c for c in range(52)], list(range(1, 53))])]
base = sys.argv[1]
for ext in ('xls', 'xlsx', 'ods', 'csv'):
    wf.write(os.path.join(base, 'Data.' + ext), sheets)
for ext in ('xls', 'xlsx'):
    wf.write(os.path.join(base, 'Mac.' + ext), sheets, date1904=True)
)PY", dir.path().string());

  // What the .xls import gives is the reference; a few cells pin it down. It
  // replaces an earlier run's database and the journal a crash left beside it.
  const std::string mdb = dir / "xls.mdb";
  ASSERT_EQ(excel2Access(dir / "Data.xls", mdb), "");
  sqlite3* old = nullptr;
  sqlite3_open(mdb.c_str(), &old);
  sqlite3_exec(old, "CREATE TABLE OLD(x)", nullptr, nullptr, nullptr);
  sqlite3_close(old);
  writeFile(mdb + "-journal", std::string(600, 'j'));
  ASSERT_EQ(excel2Access(dir / "Data.xls", mdb), "");
  EXPECT_FALSE(fs::exists(mdb + "-journal"));
  const auto reference = query(dir / "xls.mdb", "SELECT * FROM SHEET1 ORDER BY rowid");
  ASSERT_EQ(reference.size(), 5u);
  EXPECT_EQ(reference[0], (Row{S("A001"), S("Bücher & Café"), S("日本語の商品"), S("1200"), S("TRUE"),
                               S("2024-03-05"), S("two\nlines  and\ttab"), S("0.15")}));
  EXPECT_EQ(reference[1], (Row{S("A002"), {}, S("x"), S("0.3"), S("FALSE"), S("2024-03-05 13:45:07"), {},
                               S("0.333333333333333")}));
  EXPECT_EQ(reference[2], Row(8));
  EXPECT_EQ(reference[3][5], S("18:00:00"));
  EXPECT_EQ(reference[3][6], S("1E+20"));
  EXPECT_EQ(reference[4][3], S("1.23456789012346E+15"));
  EXPECT_EQ(reference[4][6], S("1E-05"));
  EXPECT_EQ(value(mdb, "SELECT count(*) FROM SHEET1 WHERE typeof(COL4) NOT IN ('text', 'null')"), S("0"));
  const auto referenceTables = tables(mdb);
  EXPECT_EQ(referenceTables, (std::vector<std::string>{"SHEET1", "SHEET2", "SHEET3"}));
  EXPECT_EQ(value(mdb, "SELECT count(*) FROM SHEET2"), S("0"));  // titles only
  EXPECT_EQ(query(mdb, "SELECT COL1, COL52 FROM SHEET3"), (std::vector<Row>{{S("1"), S("52")}}));

  // Mac.* are in the 1904 date system, whose serial numbers are 1462 days smaller.
  for (const char* name : {"Data.xlsx", "Data.ods", "Data.csv", "Mac.xls", "Mac.xlsx"}) {
    SCOPED_TRACE(name);
    const std::string db = dir / (std::string(name) + ".mdb");
    ASSERT_EQ(excel2Access(dir / name, db), "");
    const bool csv = fs::path(name).extension() == ".csv";
    EXPECT_EQ(tables(db), csv ? std::vector<std::string>{"SHEET1"} : referenceTables);
    for (const auto& table : tables(db))
      EXPECT_EQ(query(db, "SELECT * FROM " + table + " ORDER BY rowid"),
                query(dir / "xls.mdb", "SELECT * FROM " + table + " ORDER BY rowid"))
          << table;
  }
}

TEST(WorkbookFormats, XlsxCellsOfEveryKind) {
  const std::string dateStyles =
      "<numFmts count=\"2\"><numFmt numFmtId=\"164\" formatCode=\"yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;\"/>"
      "<numFmt numFmtId=\"165\" formatCode=\"0.0&quot; days&quot;\"/></numFmts>"
      "<cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs>"
      "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"22\"/><xf numFmtId=\"164\"/>"
      "<xf numFmtId=\"165\"/><xf numFmtId=\"23\"/></cellXfs>";
  const std::string serials = "<c t=\"n\" s=\"1\"><v>45356</v></c><c s=\"2\"><v>45356.5</v></c>"
                              "<c s=\"3\"><v>45356</v></c><c s=\"4\"><v>1.5</v></c><c s=\"5\"><v>45356</v></c>"
                              "<c s=\"9\"><v>45356</v></c>";
  const struct Case {
    const char* what;
    ziptest::Xlsx book;
    std::vector<Row> rows;
  } cases[] = {
      {"shared texts: runs joined, phonetic guides left out, escapes decoded",
       {{{"S", cells("2", "<c r=\"A2\" t=\"s\"><v>0</v></c><c r=\"B2\" t=\"s\"><v>1</v></c><c r=\"C2\" t=\"s\"><v>2</v></c>")}},
        "<si><r><t>Bü</t></r><r><rPr><b/></rPr><t xml:space=\"preserve\">cher </t></r></si>"
        "<si><t>漢字</t><rPh sb=\"0\" eb=\"2\"><t>カンジ</t></rPh><phoneticPr fontId=\"1\"/></si>"
        "<si><t>a_x000D__x000A_b_x005F_x0041_ _xD83D__xDE00_</t></si>"},
       {{S("Bücher "), S("漢字"), S("a\r\nb_x0041_ \xF0\x9F\x98\x80")}}},
      {"inline texts and cached formula results; a formula never calculated is empty",
       {{{"S", cells("2", "<c r=\"A2\" t=\"inlineStr\"><is><r><t>in</t></r><r><t>line</t></r></is></c>"
                          "<c r=\"B2\" t=\"str\"><f>A2&amp;\"!\"</f><v>inline!</v></c>"
                          "<c r=\"C2\" t=\"b\"><f>TRUE()</f><v>1</v></c><c r=\"D2\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"
                          "<c r=\"E2\"><f>1+1</f><v>2</v></c><c r=\"F2\"><f t=\"shared\" ref=\"F2:F3\" si=\"0\">E2*2</f></c>"
                          "<c r=\"G2\"><f t=\"shared\" si=\"0\"/><v>4.5</v></c>")}}},
       {{S("inline"), S("inline!"), S("TRUE"), S("#DIV/0!"), S("2"), {}, S("4.5")}}},
      {"references left out, rows out of order, a declared range wider than the values",
       {{{"S", "<dimension ref=\"A1:D4\"/><sheetData><row><c><v>0</v></c></row><row r=\"4\"><c><v>41</v></c><c><v>42</v></c></row>"
               "<row r=\"2\"><c r=\"B2\"><v>22</v></c></row></sheetData>"}}},
       {{{}, S("22"), {}, {}}, Row(4), {S("41"), S("42"), {}, {}}}},
      {"built-in and custom date formats in the 1900 system",
       {{{"S", cells("2", serials)}}, "", dateStyles},
       {{S("2024-03-05"), S("2024-03-05 12:00:00"), S("2024-03-05"), S("1.5"), S("45356"), S("45356")}}},
      {"the same serial numbers in the 1904 system",
       {{{"S", cells("2", serials)}}, "", dateStyles, "<workbookPr date1904=\"1\"/>"},
       {{S("2028-03-06"), S("2028-03-06 12:00:00"), S("2028-03-06"), S("1.5"), S("45356"), S("45356")}}},
      {"dates written as ISO text",
       {{{"S", cells("2", "<c t=\"d\"><v>2024-03-05T13:45:07Z</v></c><c t=\"d\"><v>2024-03-05</v></c>")}}},
       {{S("2024-03-05 13:45:07"), S("2024-03-05")}}},
      {"sheet order from the workbook part; chart sheets are no tables",
       {{{"Chart", ""}, {"First", cells("2", "<c><v>1</v></c>")}, {"Second", cells("2", "<c><v>2</v></c>")}}},
       {{S("1")}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ziptest::save(dir / "Data.xlsx", c.book.parts());
    Imported got = importFile(dir, "Data.xlsx");
    EXPECT_EQ(got.error, "");
    EXPECT_EQ(got.rows, c.rows);
  }
}

TEST(WorkbookFormats, OdsCellsOfEveryKind) {
  auto table = [](const std::string& name, const std::string& rows) {
    return "<table:table table:name=\"" + name + "\"><table:table-column table:number-columns-repeated=\"1024\"/>" + rows +
           "</table:table>";
  };
  const std::string titles = "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>T</text:p></table:table-cell></table:table-row>";
  auto row = [](const std::string& cells, const std::string& attributes = "") {
    return "<table:table-row" + attributes + ">" + cells + "</table:table-row>";
  };
  auto cell = [](const std::string& attributes, const std::string& inner = "") {
    return "<table:table-cell " + attributes + ">" + inner + "</table:table-cell>";
  };
  const struct Case {
    const char* what;
    std::string tables;
    std::vector<Row> rows;
  } cases[] = {
      {"value types",
       table("S", titles + row(cell("office:value-type=\"float\" office:value=\"0.30000000000000004\"", "<text:p>0.3</text:p>") +
                               cell("office:value-type=\"percentage\" office:value=\"0.15\"", "<text:p>15%</text:p>") +
                               cell("office:value-type=\"currency\" office:currency=\"EUR\" office:value=\"12.5\"") +
                               cell("office:value-type=\"date\" office:date-value=\"2024-03-05T13:45:07.6\"") +
                               cell("office:value-type=\"time\" office:time-value=\"PT18H00M00S\"") +
                               cell("office:value-type=\"boolean\" office:boolean-value=\"false\"") +
                               cell("office:value-type=\"string\" office:string-value=\"from attribute\"", "<text:p>shown</text:p>") +
                               cell("office:value-type=\"string\" office:string-value=\"\" calcext:value-type=\"error\"", "<text:p>#DIV/0!</text:p>") +
                               cell("", "<text:p>no type</text:p>"))),
       {{S("0.3"), S("0.15"), S("12.5"), S("2024-03-05 13:45:08"), S("18:00:00"), S("FALSE"), S("from attribute"),
         S("#DIV/0!"), S("no type")}}},
      {"paragraphs, spacing, white space, and what is no part of the value",
       table("S", titles + row(cell("office:value-type=\"string\"",
                                    "<text:p>a<text:s text:c=\"3\"/>b<text:tab/>c<text:line-break/>d</text:p><text:p/>"
                                    "<text:p>\n   <text:span>x</text:span>  \t y <text:a>z</text:a>\n</text:p>") +
                               cell("office:value-type=\"string\"",
                                    "<office:annotation><text:p>a comment</text:p></office:annotation><draw:frame><draw:text-box>"
                                    "<text:p>in a frame</text:p></draw:text-box></draw:frame><text:p>value<text:note><text:note-body>"
                                    "<text:p>note</text:p></text:note-body></text:note></text:p>"))),
       {{S("a   b\tc\nd\n\nx y z"), S("value")}}},
      {"repeated cells and rows, covered cells, groups; a million trailing empty rows and columns",
       table("S", titles + "<table:table-row-group>" +
                      row(cell("office:value-type=\"float\" office:value=\"7\" table:number-columns-repeated=\"2\"") +
                          "<table:covered-table-cell table:number-columns-repeated=\"2\"/>" +
                          cell("office:value-type=\"float\" office:value=\"8\""), " table:number-rows-repeated=\"2\"") +
                      "</table:table-row-group>" + row("<table:table-cell table:number-columns-repeated=\"3\"/>", " table:number-rows-repeated=\"2\"") +
                      row(cell("office:value-type=\"float\" office:value=\"9\"")) +
                      row("<table:table-cell table:number-columns-repeated=\"16384\"/>", " table:number-rows-repeated=\"1048000\"")),
       {{S("7"), S("7"), {}, {}, S("8")}, {S("7"), S("7"), {}, {}, S("8")}, Row(5), Row(5), {S("9"), {}, {}, {}, {}}}},
      {"worksheets: hidden ranges and tables inside cells are no worksheets",
       table("Filter$_x", titles + row(cell("office:value-type=\"float\" office:value=\"1\""))) +
           table("Real", titles + row(cell("", "<table:table table:name=\"inner\"><table:table-row>" +
                                                      cell("office:value-type=\"float\" office:value=\"5\"") +
                                                      "</table:table-row></table:table><text:p>outer</text:p>"))),
       {{S("outer")}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ziptest::save(dir / "Data.ods", ziptest::ods(c.tables));
    Imported got = importFile(dir, "Data.ods");
    EXPECT_EQ(got.error, "");
    EXPECT_EQ(got.rows, c.rows);
  }
}

TEST(WorkbookFormats, CsvRecordsSeparatorsAndEncodings) {
  auto utf16 = [](const std::u16string& text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
      const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
      out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
  };
  const struct Case {
    const char* what;
    std::string bytes;
    std::vector<Row> rows;
    const char* error = nullptr;  // the end of the expected description
  } cases[] = {
      {"quotes, doubled quotes, line breaks inside quotes, CR LF",
       "Code,Name\r\n\"A,1\",\"say \"\"hi\"\"\r\nnext line\"\r\nB2,\"\"\r\n",
       {{S("A,1"), S("say \"hi\"\r\nnext line")}, {S("B2"), {}}}},
      {"semicolons, a blank line kept as an empty row, no final line break, text after a closing quote",
       "Code;Name;Price\nA;\"x\"y;1,5\n\n;;\nB;;2", {{S("A"), S("xy"), S("1,5")}, Row(3), Row(3), {S("B"), {}, S("2")}}},
      {"tabs; a comma inside the title does not count", "Code\tName, long\tPrice\na\tb\tc\n", {{S("a"), S("b"), S("c")}}},
      {"one column; lone CR line ends", "Code\rA\rB\r", {{S("A")}, {S("B")}}},
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" "Name\nCaf\xC3\xA9\n", {{S("Café")}}},
      {"UTF-16LE with a byte-order mark", utf16(u"Name;Emoji\r\n日本;\U0001F600\r\n", false), {{S("日本"), S("\U0001F600")}}},
      {"UTF-16BE with a byte-order mark", utf16(u"Name\n\u00C5sa\n", true), {{S("Åsa")}}},
      {"a Latin-1 file is refused", "Name\nCaf\xE9\n", {}, " is not UTF-8 text (line 2); save it as \"CSV UTF-8\" "
                                                           "(comma-separated values in UTF-8) and try again."},
      {"UTF-16 without a byte-order mark is refused", std::string("N\0a\0m\0e\0", 8), {}, " is not UTF-8 text (line 1); save it as \"CSV UTF-8\" (comma-separated values in UTF-8) and try again."},
      {"an unpaired surrogate is refused", utf16(u"Name\n", false) + std::string("\x00\xD8" "a\x00", 4), {}, " is not valid UTF-16 text (line 2); save it as \"CSV UTF-8\" (comma-separated values in UTF-8) and try again."},
      {"a quote that never closes", "Code,Name\nA,\"open\nB,x\n", {}, " is damaged: the quoted value that begins on line 2 has no closing quote."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    writeFile(dir / "Data.csv", c.bytes);
    Imported got = importFile(dir, "Data.csv");
    if (c.error) {
      EXPECT_EQ(got.error.rfind("The ", 0), 0u) << got.error;
      EXPECT_EQ(got.error.substr(std::min(got.error.size(), got.error.find(dir / "Data.csv"))), (dir / "Data.csv") + c.error);
    } else {
      EXPECT_EQ(got.error, "");
      EXPECT_EQ(got.rows, c.rows);
    }
  }
}

TEST(WorkbookFormats, DamagedDisguisedAndHostileFilesAreRefusedClearly) {
  ziptest::Xlsx good;
  good.sheets = {{"S", cells("1", "<c t=\"s\"><v>0</v></c>")}};
  good.sharedStrings = "<si><t>x</t></si>";
  auto withPart = [&](const std::string& name, const std::string& data) {
    auto parts = good.parts();
    for (auto& p : parts)
      if (p.name == name) p.data = data;
    return ziptest::zip(parts);
  };
  const std::string goodZip = ziptest::zip(good.parts());
  // 1 MB of blanks deflates into about a kilobyte: 200 copies make a file of
  // 200 KB that unpacks to 200 MB, far beyond its budget (as 2 GB would be).
  const std::string megabyte = ziptest::deflateRaw(std::string(1 << 20, ' '), true);
  std::string bomb = ziptest::deflateRaw("<worksheet><sheetData>", true);
  for (int i = 0; i < 200; ++i) bomb += megabyte;
  bomb += std::string("\x03\x00", 2);  // an empty final block
  auto bombParts = good.parts();
  bombParts[0].compressed = bomb;
  bombParts[0].declaredSize = 200u << 20;
  auto encryptedParts = good.parts();
  encryptedParts[0].encrypted = true;
  auto encryptedOds = ziptest::ods("");
  encryptedOds[2].data = "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
                         "<manifest:file-entry manifest:full-path=\"content.xml\"><manifest:encryption-data/>"
                         "</manifest:file-entry></manifest:manifest>";
  auto text = ziptest::ods("");
  text[0].data = "application/vnd.oasis.opendocument.text";
  std::string flipped = goodZip;
  flipped[60] ^= 0x55;  // inside the first part's compressed data

  auto xls = [](biff::Book book, size_t cut = 0) {
    TempDir scratch;
    const std::string stream = book.stream();
    book.save(scratch / "b.xls", stream.substr(0, stream.size() - cut));
    return readFile(scratch / "b.xls");
  };
  biff::Book charts, lockedBook, cut;
  charts.sheets.push_back({"Chart1", {}, 2, ""});
  lockedBook.globals = biff::record(0x002F, std::string(54, '\1'));
  lockedBook.sheets.push_back({"S", {}, 0, biff::number(1, 0, 1)});
  cut.sheets.push_back({"S", {}, 0, biff::number(0, 0, 1) + biff::number(1, 0, 2)});

  const char* locked = "The workbook @ is protected by a password; save it without one.";
  const struct Case {
    const char* name;
    std::optional<std::string> bytes;  // none: no such file
    const char* error;                 // how it begins; @ stands for the path
  } cases[] = {
      {"Data.xlsx", goodZip.substr(0, goodZip.size() / 2),
       "The workbook @ is damaged: it is not a complete zip package (Not a zip archive)."},
      {"Data.xlsx", flipped, "The workbook @ is damaged: its part xl/worksheets/sheet1.xml "},
      {"Data.xlsx", ziptest::zip({{"readme.txt", "hello"}}), "The file @ is a zip archive, not a workbook."},
      {"Data.xlsx", withPart("xl/workbook.xml", "<document/>"),
       "The file @ is not a spreadsheet workbook: its package holds another kind of document."},
      {"Data.xlsx", withPart("xl/worksheets/sheet1.xml", "<worksheet><sheetData><row></sheetData>"),
       "The workbook @ is damaged: its part xl/worksheets/sheet1.xml is not well-formed XML "
       "(line 1, column 30: mismatched tag)."},
      {"Data.xlsx", withPart("xl/sharedStrings.xml", "<!DOCTYPE sst [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
                                                     "\"&a;&a;&a;&a;&a;\">]><sst><si><t>&b;</t></si></sst>"),
       "The workbook @ is damaged: its part xl/sharedStrings.xml holds a document type declaration."},
      {"Data.xlsx", withPart("xl/sharedStrings.xml", "<sst/>"),
       "The workbook @ is damaged: worksheet \"S\" has a cell that refers to a missing shared text."},
      {"Data.xlsx", withPart("xl/worksheets/sheet1.xml", cells("1", "<c r=\"XFE1\"><v>1</v></c>")),
       "The workbook @ is damaged: worksheet \"S\" has a cell named \"XFE1\"."},
      {"Data.xlsx", ziptest::zip(bombParts),
       "The workbook @ is refused: its part xl/worksheets/sheet1.xml unpacks to far more than its size on "
       "disk suggests (a zip bomb?)."},
      {"Data.xlsx", ziptest::zip(encryptedParts), locked},
      {"Data.ods", ziptest::zip(encryptedOds), locked},
      {"Data.ods", ziptest::zip(text),
       "The file @ is an OpenDocument file of another kind (application/vnd.oasis.opendocument.text), not a "
       "spreadsheet."},
      {"Data.ods", "Code,Name\n", "The file @ is not an OpenDocument spreadsheet (.ods)."},
      {"Data.xlsx", std::string(1000, '\x7F'), "The file @ is not an Excel workbook (.xlsx)."},
      {"Data.xls", std::nullopt, "The workbook @ does not exist."},
      {"Data.xls", "", "The workbook @ is empty."},
      {"Data.xls", "Code,Name\nA1,Pen\n", "The file @ is not an Excel workbook (.xls)."},
      // A zip package is read as the workbook it holds, whatever its name says.
      {"Data.xls", std::string("PK\x03\x04", 4) + std::string(100, '\0'),
       "The workbook @ is damaged: it is not a complete zip package (Not a zip archive)."},
      {"Data.xls", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(50, 'x'),
       "The workbook @ is damaged"},
      {"Data.xls", xls(charts), "The workbook @ has no worksheets."},
      {"Data.xls", xls(lockedBook), locked},
      {"Data.xls", xls(cut, 10), "The workbook @ is damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    TempDir dir;
    if (c.bytes) writeFile(dir / c.name, *c.bytes);
    writeFile(dir / "Data.mdb", "an earlier catalogue");  // never passes for this workbook's
    const std::string error = excel2Access(dir / c.name, dir / "Data.mdb");
    std::string expected = c.error;
    expected.replace(expected.find('@'), 1, dir / c.name);
    EXPECT_EQ(error.substr(0, expected.size()), expected);
    EXPECT_NE(readFile(dir / "Data.mdb"), "an earlier catalogue");
  }
}

TEST(WorkbookFormats, MutatedFilesNeverCrash) {
  // Valid files of each format, then a few hundred changed at random: in the
  // XML of their parts (re-packed, so the parsers see the damage) and in
  // their raw bytes. Each import succeeds or says what is wrong with the file.
  ziptest::Xlsx xlsx;
  xlsx.sheets = {{"S", "<dimension ref=\"A1:C3\"/><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" s=\"1\"><v>45356.5</v></c>"
                       "<c r=\"C1\" t=\"inlineStr\"><is><r><t>in</t></r></is></c></row><row r=\"3\"><c t=\"b\"><v>1</v></c>"
                       "<c t=\"str\"><f>x</f><v>t_x000D_</v></c><c t=\"d\"><v>2024-03-05</v></c></row></sheetData>"},
                 {"T", "<sheetData><row><c><v>1.5</v></c></row></sheetData>"}};
  xlsx.sharedStrings = "<si><t>Bü</t><rPh><t>x</t></rPh></si><si><r><t>a</t></r></si>";
  xlsx.styles = "<numFmts><numFmt numFmtId=\"164\" formatCode=\"yy-mm\"/></numFmts><cellXfs><xf/><xf numFmtId=\"164\"/></cellXfs>";
  const auto odsParts = ziptest::ods(
      "<table:table table:name=\"S\"><table:table-row table:number-rows-repeated=\"2\"><table:table-cell office:value-type=\"float\" "
      "office:value=\"1.5\" table:number-columns-repeated=\"2\"/><table:table-cell office:value-type=\"string\"><text:p>a<text:s "
      "text:c=\"2\"/>b</text:p><text:p>c</text:p></table:table-cell><table:table-cell office:value-type=\"date\" "
      "office:date-value=\"2024-03-05T10:00:00\"/></table:table-row></table:table><table:table table:name=\"T\"/>");
  const std::vector<std::pair<std::string, std::vector<ziptest::Part>>> packages = {{"Data.xlsx", xlsx.parts()}, {"Data.ods", odsParts}};
  const std::string csvText = "\xEF\xBB\xBF" "Code;Name\n\"a;b\";\"x\"\"y\"\nc;d\r\n";
  const std::string tokens[] = {"<", ">", "&", "\"", "</c>", "<v>", "r=\"ZZ0\"", "t=\"s\"", "99999999999", "_x", "\xFF", "\n", ";", "\"\""};

  std::mt19937 random(20261207);
  auto mutate = [&](std::string s) {
    for (int n = 1 + static_cast<int>(random() % 4); n > 0 && !s.empty(); --n) {
      const size_t at = random() % s.size();
      switch (random() % 4) {
        case 0: s[at] = static_cast<char>(random()); break;
        case 1: s.erase(at, 1 + random() % 16); break;
        case 2: s.insert(at, tokens[random() % std::size(tokens)]); break;
        default: s.insert(at, s.substr(random() % s.size(), random() % 64)); break;
      }
    }
    return s;
  };
  TempDir dir;
  int imported = 0, refused = 0;
  for (int i = 0; i < 360; ++i) {
    std::string name, bytes;
    if (i % 3 == 2) {
      name = "Data.csv", bytes = mutate(csvText);
    } else {
      const auto& [packageName, parts] = packages[i % 3];
      auto changed = parts;
      if (i % 6 < 4) {
        auto& part = changed[random() % changed.size()];
        part.data = mutate(part.data);
        bytes = ziptest::zip(changed);
      } else {
        bytes = mutate(ziptest::zip(changed));
      }
      name = packageName;
    }
    writeFile(dir / name, bytes);
    const std::string error = excel2Access(dir / name, dir / "Data.mdb");
    if (error.empty()) {
      ++imported;
    } else {
      ++refused;
      EXPECT_NE(error.find(dir / name), std::string::npos) << error;
    }
  }
  EXPECT_GT(imported, 20);
  EXPECT_GT(refused, 20);
}

TEST(WorkbookFormats, SharedTextsBeyondTheMemoryBudgetComeBackFromTheTemporaryFile) {
  quill::SharedStrings strings(1000);
  std::vector<std::string> texts;
  std::mt19937 random(7);
  for (int i = 0; i < 5000; ++i) {
    texts.push_back(std::string(random() % 40, static_cast<char>('a' + i % 26)) + std::to_string(i));
    ASSERT_TRUE(strings.add(texts.back()));
  }
  texts.push_back(std::string(600000, 'L'));  // longer than the read window
  ASSERT_TRUE(strings.add(texts.back()));
  for (int k = 0; k < 20000; ++k) {
    const size_t i = k < 5001 ? k : random() % texts.size();
    ASSERT_EQ(strings.at(i), texts[i]) << i;
  }
}

TEST(WorkbookFormats, TheNewestWorkbookOfTheProjectIsTaken) {
  TempDir dir;
  const std::string folder = dir.path().string() + "/";
  auto choice = quill::findWorkbook(folder);
  EXPECT_EQ(choice.path, dir / "Data.xls");
  EXPECT_FALSE(choice.exists);

  writeFile(dir / "data.XLSX", "x");
  choice = quill::findWorkbook(folder);
  EXPECT_EQ(choice.path, dir / "data.XLSX");
  EXPECT_TRUE(choice.exists && choice.passedOver.empty());
  EXPECT_EQ(quill::describeChoice(choice), "");

  const auto now = fs::file_time_type::clock::now();
  writeFile(dir / "Data.xls", "x");
  writeFile(dir / "Data.csv", "x");
  fs::create_directory(dir / "Data.ods");  // a folder is no workbook
  fs::last_write_time(dir / "Data.xls", now - std::chrono::hours(48));
  fs::last_write_time(dir / "data.XLSX", now - std::chrono::hours(1));
  fs::last_write_time(dir / "Data.csv", now - std::chrono::hours(24));
  choice = quill::findWorkbook(folder);
  EXPECT_EQ(choice.path, dir / "data.XLSX");
  EXPECT_EQ(choice.passedOver, (std::vector<std::string>{dir / "Data.csv", dir / "Data.xls"}));
  const std::string sentence = quill::describeChoice(choice);
  EXPECT_EQ(sentence.rfind("The project folder holds several workbooks; importing the newest, data.XLSX (modified ", 0), 0u)
      << sentence;
  EXPECT_NE(sentence.find("), not Data.csv ("), std::string::npos) << sentence;
  EXPECT_NE(sentence.find(") or Data.xls ("), std::string::npos) << sentence;

  // The same time: the order of the names decides, not the folder listing.
  fs::last_write_time(dir / "Data.xls", now - std::chrono::hours(1));
  EXPECT_EQ(quill::findWorkbook(folder).path, dir / "Data.xls");
}
