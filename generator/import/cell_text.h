// How workbook cell values become the text stored in the catalogue database,
// the same for every workbook format: numbers as a spreadsheet's General
// format shows them (at most 15 significant digits, whole numbers without a
// decimal point), dates as YYYY-MM-DD (with " hh:mm:ss" when there is a time
// part), times alone as hh:mm:ss.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quill::cells {

// Replaces out with the text of a number: rounded to 15 significant digits,
// without trailing zeros, in exponent form ("1.5E+15", "1E-05") when its
// decimal exponent is 15 or more, or below -4.
void numberText(double value, std::string& out);

// Reads a number as the formats write it ("12", "-0.5", "1.5E-05"); false
// unless the whole text is one finite number.
bool parseNumber(std::string_view text, double& value);

// Replaces out with the text of a date serial number of the workbook's date
// system (1900, or 1904 when date1904). Returns false, leaving out untouched,
// when the serial is no date (negative or beyond the year 9999).
bool dateText(double serial, bool date1904, std::string& out);

// Replaces out with the text of an ISO 8601 date or date and time
// ("2024-03-05", "2024-03-05T13:45:07.25", a zone suffix is ignored), rounded
// to the second like dateText. Returns false, leaving out untouched, when the
// text is no such date or lies outside the years 1 to 9999.
bool isoDateText(std::string_view iso, std::string& out);

// Reads an ISO 8601 duration of days, hours, minutes and seconds
// ("PT13H45M07S", "-P1DT2H") as a number of days; false when it is none.
bool parseIsoDuration(std::string_view iso, double& days);

// Whether a number format code shows its value as a date or time.
bool isDateFormat(std::string_view code);

// Whether a built-in number format (one the workbook does not spell out)
// shows a date or time.
bool isBuiltinDateFormat(uint16_t index);

}  // namespace quill::cells
