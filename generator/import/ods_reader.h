// The .ods reader (OpenDocument spreadsheets). All worksheets live in one
// part, content.xml, which is parsed once from beginning to end while it
// streams out of the package: the parse pauses at the start and at the end
// of every worksheet, so that the import can create a worksheet's table
// before its cells arrive. Runs of repeated rows and cells cost nothing
// unless they hold a value.
#pragma once

#include <memory>
#include <string>

#include "generator/import/workbook_reader.h"

namespace quill {
class ZipPackage;
}

namespace quill::ods {

class OdsReader : public WorkbookReader {
 public:
  // Throws WorkbookError.
  explicit OdsReader(std::unique_ptr<ZipPackage> package);
  ~OdsReader() override;

  bool nextWorksheet(std::string& name) override;
  void readWorksheet(CellSink& sink) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quill::ods
