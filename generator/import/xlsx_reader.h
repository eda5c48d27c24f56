// The .xlsx reader (Office Open XML spreadsheets, transitional and strict).
// Opening reads the package's small parts: the relationships that lead to
// the workbook part, the worksheet list and the date system from the
// workbook part, the number formats, and the shared texts. Each worksheet
// part is then parsed as it streams out of the package, so memory does not
// grow with the number of rows.
#pragma once

#include <memory>
#include <string>

#include "generator/import/workbook_reader.h"

namespace quill {
class ZipPackage;
}

namespace quill::xlsx {

class XlsxReader : public WorkbookReader {
 public:
  // Throws WorkbookError.
  explicit XlsxReader(std::unique_ptr<ZipPackage> package);
  ~XlsxReader() override;

  bool nextWorksheet(std::string& name) override;
  void readWorksheet(CellSink& sink) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quill::xlsx
