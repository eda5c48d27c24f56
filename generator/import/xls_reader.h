// A streaming reader for Excel 97-2003 (BIFF8) and Excel 5.0/95 (BIFF5/7)
// workbooks, on libgsf's compound-file reader. It lists the worksheets and
// hands over each worksheet's cells as text (see cell_text.h), formula cells
// with their cached results. Apart from the shared texts, only a buffer of
// the workbook stream is held at a time, so memory does not grow with the
// size of a worksheet.
#pragma once

#include <memory>
#include <string>

#include "generator/import/workbook_reader.h"

namespace quill::xls {

class XlsReader : public WorkbookReader {
 public:
  // Opens the compound file and reads the workbook's global part (worksheet
  // list, shared strings, formats). Throws WorkbookError.
  explicit XlsReader(const std::string& path);
  ~XlsReader() override;

  bool nextWorksheet(std::string& name) override;
  void readWorksheet(CellSink& sink) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quill::xls
