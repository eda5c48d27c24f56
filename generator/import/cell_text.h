// How workbook cell values become the text stored in the catalogue database:
// whole numbers without a decimal point, other numbers in their shortest
// round-trip form, dates as YYYY-MM-DD (with " hh:mm:ss" when there is a time
// part), times alone as hh:mm:ss.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quill::xls {

// Replaces out with the text of a number.
void numberText(double value, std::string& out);

// Replaces out with the text of a date serial number of the workbook's date
// system (1900, or 1904 when date1904). Returns false, leaving out untouched,
// when the serial is no date (negative or beyond the year 9999).
bool dateText(double serial, bool date1904, std::string& out);

// Whether a number format code shows its value as a date or time.
bool isDateFormat(std::string_view code);

// Whether a built-in number format (one the workbook does not spell out)
// shows a date or time.
bool isBuiltinDateFormat(uint16_t index);

}  // namespace quill::xls
