// The workbook import: every worksheet of a workbook (.xls, .xlsx, .ods or
// .csv; see workbook_reader.h) copied into a fresh SQLite catalogue database
// (named Data.mdb by the run), one text table per worksheet.
#pragma once

#include <string>

namespace quill {

// Imports the workbook at workbookPath into a new database at databasePath
// (an existing file there is replaced). Tables SHEET1, SHEET2, ... follow the
// worksheets in workbook order, leaving out worksheets whose table name
// ("<sheet name>$") contains "$_" without using up a number; their columns
// COL1, COL2, ... are TEXT; the first worksheet row holds the titles and is not
// stored; empty cells are NULL. Returns "" on success, otherwise a description
// of what went wrong; tables and rows made before a failure stay. Shows
// nothing itself.
std::string excel2Access(const std::string& workbookPath, const std::string& databasePath);

// The spreadsheet-style letters of a 1-based column number: "A" to "Z" for 1
// to 26; above, the character 64 + n / 26 followed by the character
// 64 + n % 26 (27 -> "AA", 52 -> "B@", 256 -> "IV"). "" for n < 1.
std::string columnLetters(int n);

}  // namespace quill
