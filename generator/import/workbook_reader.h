// A streaming reader for Excel 97-2003 (BIFF8) and Excel 5.0/95 (BIFF5/7)
// workbooks, on libgsf's compound-file reader. It lists the worksheets and
// hands over each worksheet's cells in row order as text (see cell_text.h),
// formula cells with their cached results. Apart from the shared texts, only
// a buffer of the workbook stream is held at a time, so memory does not grow
// with the size of a worksheet.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quill::xls {

// A workbook that cannot be read; what() is a description for the user.
class WorkbookError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A worksheet whose cells are not stored row by row (some writers store them
// in the order a program wrote them); read it again with sorted = true.
class CellOrderError : public WorkbookError {
 public:
  using WorkbookError::WorkbookError;
};

struct Worksheet {
  std::string name;     // UTF-8
  uint32_t offset = 0;  // of its BOF record in the workbook stream
};

// Receives the cells of one worksheet, row by row; empty cells are not
// reported. text is valid during the call only.
class CellSink {
 public:
  virtual ~CellSink() = default;
  // The worksheet's used range as the file declares it: rows and columns
  // counted from A1 (0 when the sheet is empty). Reported before any cell.
  virtual void dimensions(uint32_t rows, uint32_t columns) = 0;
  virtual void cell(uint32_t row, uint32_t column, std::string_view text) = 0;
};

class WorkbookReader {
 public:
  // Opens the workbook and reads its global part (worksheet list, shared
  // strings, formats). Throws WorkbookError.
  explicit WorkbookReader(const std::string& path);
  ~WorkbookReader();
  WorkbookReader(const WorkbookReader&) = delete;
  WorkbookReader& operator=(const WorkbookReader&) = delete;

  // The worksheets in workbook order (chart and macro sheets left out).
  const std::vector<Worksheet>& worksheets() const;

  // Streams the cells of worksheets()[index] into sink. Throws
  // WorkbookError, CellOrderError when a cell comes after a later row's
  // (unless sorted: then the cells are held and sorted first, which costs
  // memory in proportion to the sheet); exceptions from the sink pass through.
  void readWorksheet(size_t index, CellSink& sink, bool sorted = false);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quill::xls
