// What the import asks of a workbook file, whatever its format: the
// worksheets one after the other in workbook order, and each worksheet's
// non-empty cells as text (see cell_text.h). One reader per format
// (.xls, .xlsx, .ods, .csv) implements WorkbookReader; openWorkbookReader
// picks it from the file's first bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quill {

// A workbook that cannot be read; what() is a description for the user that
// names the file and what is wrong with it.
class WorkbookError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The largest worksheet any of the formats can hold.
constexpr uint32_t kMaxSheetRows = 1048576;
constexpr uint32_t kMaxSheetColumns = 16384;
// The longest text a reader takes for one cell (a spreadsheet holds 32,767
// characters; text files from other systems may hold more).
constexpr size_t kMaxCellBytes = 16 << 20;

// A value from the file as a message quotes it: in double quotes, cut
// after 40 bytes (at a character boundary).
inline std::string quoted(std::string_view value) {
  if (value.size() <= 40) return "\"" + std::string(value) + "\"";
  size_t cut = 40;
  while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
  return "\"" + std::string(value.substr(0, cut)) + "...\"";
}

// Receives the cells of one worksheet. Empty cells are not reported; rows
// and columns count from 0 (row 0 holds the titles). Readers report cells
// row by row as the file stores them, which is row order in all but damaged
// or unusual files: the sink copes with a row that comes late. text is valid
// during the call only.
class CellSink {
 public:
  virtual ~CellSink() = default;
  // The worksheet's used range as the file declares it, counted from A1
  // (0 when unknown). Reported once, before any cell.
  virtual void dimensions(uint32_t rows, uint32_t columns) = 0;
  virtual void cell(uint32_t row, uint32_t column, std::string_view text) = 0;
};

class WorkbookReader {
 public:
  virtual ~WorkbookReader() = default;

  // Moves to the next worksheet and sets name to its name (UTF-8); false
  // when there is none. Chart, macro and dialog sheets are left out. The
  // cells of a worksheet that was not read are skipped.
  virtual bool nextWorksheet(std::string& name) = 0;

  // Streams the cells of the current worksheet into sink; at most once per
  // worksheet. Throws WorkbookError; exceptions from the sink pass through.
  virtual void readWorksheet(CellSink& sink) = 0;
};

// Opens the workbook at path: an .xls, .xlsx or .ods workbook whatever its
// name ends with, or, for a name ending in .csv, a text file of
// comma-separated values. Throws WorkbookError.
std::unique_ptr<WorkbookReader> openWorkbookReader(const std::string& path);

}  // namespace quill
