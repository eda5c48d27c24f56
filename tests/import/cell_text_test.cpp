#include "generator/import/cell_text.h"

#include <gtest/gtest.h>

#include "generator/import/excel2access.h"

using namespace quill::cells;

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
  const std::pair<int, std::string> cases[] = {{1, "A"}, {26, "Z"}, {27, "AA"}, {51, "AY"}, {52, "B@"},
                                               {53, "BA"}, {78, "C@"}, {256, "IV"}, {0, ""}};
  for (const auto& [column, letters] : cases) EXPECT_EQ(quill::columnLetters(column), letters) << column;
}

TEST(CellText, NumbersAsTheGeneralFormatShowsThem) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1200.0, "1200"}, {-3.0, "-3"}, {-0.0, "0"}, {12.34, "12.34"}, {0.1, "0.1"},
      {0.1 + 0.2, "0.3"}, {1.0 / 3, "0.333333333333333"}, {-2.0 / 3, "-0.666666666666667"},
      {123456789012345.0, "123456789012345"},  // 15 digits: still whole
      {999999999999999.9, "1E+15"},           // rounds up into the exponent form
      {1e15, "1E+15"}, {1234567890123456.0, "1.23456789012346E+15"}, {1e20, "1E+20"},
      {0.0001, "0.0001"}, {0.00001, "1E-05"}, {-1.5e-7, "-1.5E-07"}, {1e-300, "1E-300"},
      {1.7976931348623157e308, "1.79769313486232E+308"},
  };
  for (const auto& c : cases) EXPECT_EQ(num(c.value), c.text) << c.value;
}

TEST(CellText, IsoDatesAndDurations) {
  const struct {
    const char* iso;
    const char* text;  // nullptr: refused
  } dates[] = {
      {"2024-03-05", "2024-03-05"}, {"2024-03-05T13:45:07", "2024-03-05 13:45:07"},
      {"2024-03-05T00:00:00", "2024-03-05"}, {"2024-03-05T13:45:07.5", "2024-03-05 13:45:08"},
      {"2024-12-31T23:59:59.6Z", "2025-01-01"}, {"2024-02-29T08:00", "2024-02-29 08:00:00"},
      {"2023-02-29", nullptr}, {"2024-04-31", nullptr}, {"2024-3-5", nullptr}, {"24-03-05", nullptr},
      {"2024-03-05X", nullptr}, {"", nullptr},
  };
  for (const auto& d : dates) {
    std::string out = "unchanged";
    EXPECT_EQ(isoDateText(d.iso, out), d.text != nullptr) << d.iso;
    EXPECT_EQ(out, d.text ? d.text : "unchanged") << d.iso;
  }
  const struct {
    const char* iso;
    double days;  // < 0 with ok = false: refused
    bool ok;
  } durations[] = {
      {"PT18H", 0.75, true}, {"PT13H45M07S", (13 * 3600 + 45 * 60 + 7) / 86400.0, true},
      {"P1DT12H", 1.5, true}, {"P0Y0M0DT06H00M00S", 0.25, true}, {"-PT12H", -0.5, true},
      {"PT1.5S", 1.5 / 86400, true}, {"P", 0, false}, {"PT", 0, false}, {"T1H", 0, false},
      {"P1Y", 0, false}, {"PT1X", 0, false},
  };
  for (const auto& d : durations) {
    double days = -99;
    EXPECT_EQ(parseIsoDuration(d.iso, days), d.ok) << d.iso;
    if (d.ok) EXPECT_DOUBLE_EQ(days, d.days) << d.iso;
  }
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
  // The built-in date formats, with both neighbours of every range: 14-22
  // (22 is date and time), 27-36 and 50-58 (East Asian dates), 45-47 (times),
  // 71-81 (Thai dates).
  for (uint16_t first : {14, 27, 45, 50, 71}) EXPECT_FALSE(isBuiltinDateFormat(first - 1)) << first - 1;
  for (uint16_t index : {14, 22, 27, 36, 45, 47, 50, 57, 58, 71, 81}) EXPECT_TRUE(isBuiltinDateFormat(index)) << index;
  for (uint16_t last : {22, 36, 47, 58, 81}) EXPECT_FALSE(isBuiltinDateFormat(last + 1)) << last + 1;
}
