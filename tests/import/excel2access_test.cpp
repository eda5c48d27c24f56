#include "generator/import/excel2access.h"

#include <freexl.h>
#include <gtest/gtest.h>

#include <memory>

#include "biff_writer.h"
#include "import_test_util.h"

using namespace importtest;
using quill::excel2Access;

namespace {

using S = std::optional<std::string>;

std::string xf(unsigned format) { return biff::record(0x00E0, biff::Bytes().u16(0).u16(format).raw(std::string(16, '\0')).b); }

}  // namespace

TEST(Excel2Access, SharedTextsAgreeWithFreeXL) {
  // Many texts of many lengths, Latin-1 and Japanese, so that the shared
  // text table spills over many CONTINUE records at every kind of boundary.
  // (FreeXL gives up on texts longer than one record; the first test has those.)
  TempDir dir;
  const std::string xls = dir / "Data.xls", mdb = dir / "Data.mdb";
  runPython(dir, R"PY(
import sys, xlwt, random
random.seed(7)
wb = xlwt.Workbook(encoding='utf-8')
s = wb.add_sheet('S')
s.write(0, 0, 'title')
alphabet = 'abcxyzéüñ日本語商品価格カタログ 0123'
for r in range(1, 800):
    for c in range(3):
        n = random.choice([0, 1, 5, 40, 300, 2000])
        if n:
            s.write(r, c, ''.join(random.choice(alphabet) for _ in range(n)))
    s.write(r, 3, r * 7)
wb.save(sys.argv[1])
)PY", xls);
  ASSERT_EQ(excel2Access(xls, mdb), "");

  // freexl_open allocates a handle even when it fails, and may return OK
  // without one.
  const void* h = nullptr;
  int rc = freexl_open(xls.c_str(), &h);
  std::unique_ptr<const void, int (*)(const void*)> handle(h, freexl_close);
  ASSERT_EQ(rc, FREEXL_OK);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(freexl_select_active_worksheet(h, 0), FREEXL_OK);
  unsigned int rowCount = 0;
  unsigned short colCount = 0;
  ASSERT_EQ(freexl_worksheet_dimensions(h, &rowCount, &colCount), FREEXL_OK);
  auto rows = query(mdb, "SELECT * FROM SHEET1 ORDER BY rowid");
  ASSERT_EQ(rows.size(), rowCount - 1);
  ASSERT_EQ(rows[0].size(), colCount);
  int mismatches = 0;
  for (unsigned r = 1; r < rowCount; ++r) {
    for (unsigned short c = 0; c < colCount; ++c) {
      FreeXL_CellValue v;
      ASSERT_EQ(freexl_get_cell_value(h, r, c, &v), FREEXL_OK);
      S expected;
      if (v.type == FREEXL_CELL_TEXT || v.type == FREEXL_CELL_SST_TEXT) expected = v.value.text_value;
      else if (v.type == FREEXL_CELL_INT) expected = std::to_string(v.value.int_value);
      if (rows[r - 1][c] != expected && ++mismatches < 5)
        ADD_FAILURE() << "row " << r << " column " << c;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Excel2Access, FormulaCellsImportTheirCachedResults) {
  TempDir dir;
  const std::string xls = dir / "Data.xls", mdb = dir / "Data.mdb";
  biff::Book book;
  book.globals = xf(0) + xf(14) + xf(164) +
                 biff::record(0x041E, biff::Bytes().u16(164).text(u"yyyy/mm/dd hh:mm").b);
  std::string titles;
  for (unsigned c = 0; c < 7; ++c) titles += biff::label(0, c, u"T");
  std::string chart = biff::bof(true, 0x20) + biff::record(0x1001, "xx") + biff::eof();
  book.sheets.push_back({"Chart", {}, 2, ""});
  book.sheets.push_back({"Calc", {}, 0,
      titles +
      biff::formula(1, 0, biff::numberResult(42.0)) +
      biff::formula(1, 1, biff::numberResult(2.5)) +
      biff::formula(1, 2, biff::specialResult(0)) + biff::stringResult(u"total") +
      biff::formula(1, 3, biff::specialResult(1, 1)) +
      biff::formula(1, 4, biff::specialResult(2, 0x07)) +
      biff::formula(1, 5, biff::specialResult(3)) +
      biff::formula(1, 6, biff::numberResult(45356), 1) +
      biff::formula(2, 0, biff::specialResult(0)) + biff::record(0x04BC, "shared") +
      biff::stringResult(u"ab\u65E5\u672C", 2) +
      biff::rk(2, 1, (1234u << 2) | 3) +
      biff::record(0x00BD, biff::Bytes().u16(2).u16(2).u16(0).u32(7u << 2 | 2).u16(0).u32(0x3FF00000).u16(3).b) +
      biff::boolErr(2, 4, 1, false) + biff::boolErr(2, 5, 0x2A, true) +
      biff::number(2, 6, 45356.5, 2) + chart});
  book.save(xls);

  ASSERT_EQ(excel2Access(xls, mdb), "");
  EXPECT_EQ(tables(mdb), (std::vector<std::string>{"SHEET1"}));  // the chart sheet is no table
  auto rows = query(mdb, "SELECT * FROM SHEET1 ORDER BY rowid");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (Row{S("42"), S("2.5"), S("total"), S("TRUE"), S("#DIV/0!"), {}, S("2024-03-05")}));
  EXPECT_EQ(rows[1], (Row{S("ab日本"), S("12.34"), S("7"), S("1"), S("TRUE"), S("#N/A"), S("2024-03-05 12:00:00")}));
}

TEST(Excel2Access, ReadsExcel95WorkbooksInTheirCodePage) {
  TempDir dir;
  // A project folder with blanks, quotes and non-ASCII characters in its path.
  const std::string project = dir / "My \"shop\" 'Café' 日本";
  std::filesystem::create_directory(project);
  const std::string xls = project + "/Data.xls", mdb = project + "/Data.mdb";
  biff::Book book;
  book.biff8 = false;
  book.globals = biff::record(0x0042, biff::Bytes().u16(932).b);
  auto label5 = [](unsigned row, unsigned col, const std::string& bytes) {
    return biff::record(0x0204, biff::Bytes().u16(row).u16(col).u16(0).u16(static_cast<unsigned>(bytes.size())).raw(bytes).b);
  };
  book.sheets.push_back({"\x8F\xA4\x95\x69", {}, 0,  // 商品
                         label5(0, 0, "Name") + label5(1, 0, "\x93\xFA\x96\x7B\x8C\xEA") +
                             biff::number(1, 1, 3.0)});
  book.save(xls);
  ASSERT_EQ(excel2Access(xls, mdb), "");
  EXPECT_EQ(query(mdb, "SELECT * FROM SHEET1"), (std::vector<Row>{{S("日本語"), S("3")}}));
}

TEST(Excel2Access, ADatabaseThatCannotBeDeletedIsReported) {
  TempDir dir;
  biff::Book book;
  book.sheets.push_back({"S", {}, 0, biff::number(1, 0, 1)});
  book.save(dir / "Data.xls");
  std::filesystem::create_directory(dir / "Data.mdb");
  writeFile(dir / "Data.mdb/keep", "x");
  std::string err = excel2Access(dir / "Data.xls", dir / "Data.mdb");
  EXPECT_EQ(err.rfind("The old database " + (dir / "Data.mdb") + " cannot be deleted: ", 0), 0u) << err;
  EXPECT_TRUE(std::filesystem::exists(dir / "Data.mdb/keep"));
}

TEST(Excel2Access, WhatWasImportedBeforeAFailureStays) {
  TempDir dir;
  const std::string xls = dir / "Data.xls", mdb = dir / "Data.mdb";
  biff::Book book;
  book.sheets.push_back({"Good", {}, 0, biff::number(0, 0, 0) + biff::number(1, 0, 1) + biff::number(2, 0, 2)});
  book.sheets.push_back({"Bad", {}, 0, biff::number(1, 0, 5) + biff::record(0x00FD, biff::Bytes().u16(2).u16(0).u16(0).u32(0).b)});
  book.save(xls);
  std::string err = excel2Access(xls, mdb);
  EXPECT_EQ(err, "The workbook " + xls + " is damaged: a cell of worksheet \"Bad\" refers to a missing shared text.");
  EXPECT_EQ(query(mdb, "SELECT COL1 FROM SHEET1"), (std::vector<Row>{{S("1")}, {S("2")}}));
  EXPECT_EQ(tables(mdb), (std::vector<std::string>{"SHEET1", "SHEET2"}));
}

// Some writers store cells in the order a program wrote them, or beyond the
// range they declare.
TEST(Excel2Access, FullSizeWorksheetAndCellsBeyondTheDeclaredRangeOrOutOfOrder) {
  TempDir dir;
  const std::string xls = dir / "Data.xls", mdb = dir / "Data.mdb";
  biff::Book book;
  std::string full = biff::record(0x0200, biff::Bytes().u32(0).u32(65536).u16(0).u16(256).u16(0).b);
  for (unsigned c = 0; c < 256; ++c) full += biff::number(0, c, c);
  for (unsigned c = 0; c < 256; ++c) full += biff::number(1, c, c + 1);
  full += biff::label(65535, 255, u"last");
  book.sheets.push_back({"Full", {}, 0, full});
  std::string narrow = biff::record(0x0200, biff::Bytes().u32(0).u32(2).u16(0).u16(2).u16(0).b);
  book.sheets.push_back({"Narrow", {}, 0, narrow + biff::number(0, 0, 1) + biff::number(1, 0, 1) + biff::number(1, 4, 5)});
  book.sheets.push_back({"Scattered", {}, 0,
                         biff::number(2, 1, 22) + biff::number(0, 0, 0) + biff::number(1, 0, 11) +
                             biff::number(2, 0, 21) + biff::number(0, 1, 0) + biff::number(1, 1, 12)});
  book.save(xls);

  ASSERT_EQ(excel2Access(xls, mdb), "");
  EXPECT_EQ(value(mdb, "SELECT count(*) FROM SHEET1"), S("65535"));
  EXPECT_EQ(value(mdb, "SELECT COL256 FROM SHEET1 WHERE rowid = 1"), S("256"));
  EXPECT_EQ(value(mdb, "SELECT COL256 FROM SHEET1 WHERE rowid = 65535"), S("last"));
  EXPECT_EQ(value(mdb, "SELECT count(*) FROM SHEET1 WHERE COL1 IS NOT NULL"), S("1"));
  EXPECT_EQ(query(mdb, "SELECT * FROM SHEET2"), (std::vector<Row>{{S("1"), {}, {}, {}, S("5")}}));
  EXPECT_EQ(query(mdb, "SELECT * FROM SHEET3 ORDER BY rowid"),
            (std::vector<Row>{{S("11"), S("12")}, {S("21"), S("22")}}));
}
