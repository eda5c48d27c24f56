#include "generator/import/cell_text.h"

#include <gtest/gtest.h>

#include "generator/import/excel2access.h"

using namespace quill::xls;

static std::string num(double v) {
  std::string s;
  numberText(v, s);
  return s;
}
static std::string date(double v, bool d1904 = false) {
  std::string s = "unchanged";
  dateText(v, d1904, s);
  return s;
}

TEST(ColumnLetters, FollowsTheFormulaIncludingTheMultiplesOf26) {
  EXPECT_EQ(quill::columnLetters(1), "A");
  EXPECT_EQ(quill::columnLetters(26), "Z");
  EXPECT_EQ(quill::columnLetters(27), "AA");
  EXPECT_EQ(quill::columnLetters(51), "AY");
  EXPECT_EQ(quill::columnLetters(52), std::string("B") + char(64));
  EXPECT_EQ(quill::columnLetters(53), "BA");
  EXPECT_EQ(quill::columnLetters(78), std::string("C") + char(64));
  EXPECT_EQ(quill::columnLetters(256), "IV");
  EXPECT_EQ(quill::columnLetters(0), "");
}

TEST(CellText, WholeNumbersHaveNoDecimalPointOthersRoundTrip) {
  EXPECT_EQ(num(1200.0), "1200");
  EXPECT_EQ(num(-3.0), "-3");
  EXPECT_EQ(num(-0.0), "0");
  EXPECT_EQ(num(1e20), "100000000000000000000");
  EXPECT_EQ(num(12.34), "12.34");
  EXPECT_EQ(num(0.1), "0.1");
  EXPECT_EQ(num(1.0 / 3), "0.3333333333333333");
  EXPECT_EQ(std::stod(num(1e-7)), 1e-7);
}

TEST(CellText, DatesInBothDateSystems) {
  EXPECT_EQ(date(45356), "2024-03-05");
  EXPECT_EQ(date(45356.5730902778), "2024-03-05 13:45:15");
  EXPECT_EQ(date(1), "1900-01-01");
  EXPECT_EQ(date(59), "1900-02-28");
  EXPECT_EQ(date(60), "1900-02-29");  // the sheet's own (non-existent) leap day
  EXPECT_EQ(date(61), "1900-03-01");
  EXPECT_EQ(date(0.75), "18:00:00");  // a time alone
  EXPECT_EQ(date(43890.99999999), "2020-03-01");  // rounded to the second, into the next day
  EXPECT_EQ(date(0, true), "1904-01-01");
  EXPECT_EQ(date(0.25, true), "06:00:00");
  EXPECT_EQ(date(43890 - 1462, true), "2020-02-29");
  EXPECT_EQ(date(-1), "unchanged");
  EXPECT_EQ(date(3e6), "unchanged");
}

TEST(CellText, RecognisesDateFormats) {
  for (const char* code : {"yyyy-mm-dd", "d-mmm-yy", "h:mm AM/PM", "[h]:mm:ss",
                           "[$-411]ggge\"\xE5\xB9\xB4\"m\"\xE6\x9C\x88\"d\"\xE6\x97\xA5\"",
                           "yyyy/mm/dd;@", "[Red]dd.mm.yyyy"})
    EXPECT_TRUE(isDateFormat(code)) << code;
  for (const char* code : {"General", "0.00", "#,##0_);[Red](#,##0)", "0.00E+00", "\"day\" 0",
                           "0\\d", "@", "_-* #,##0_-;\\-* #,##0_-", "[Red]General"})
    EXPECT_FALSE(isDateFormat(code)) << code;
  EXPECT_TRUE(isBuiltinDateFormat(14));
  EXPECT_TRUE(isBuiltinDateFormat(57));  // a Japanese era date
  EXPECT_FALSE(isBuiltinDateFormat(2));
  EXPECT_FALSE(isBuiltinDateFormat(49));
}
