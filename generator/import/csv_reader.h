// The .csv reader: one worksheet, named after the file, whose cells are the
// fields of the file's records (RFC 4180: fields in double quotes may hold
// separators, doubled quotes and line breaks; records end with CR LF, LF or
// CR). The separator is a comma, semicolon or tab, whichever the title row
// holds most of outside quotes. The text is UTF-8, with or without a
// byte-order mark, or UTF-16 with a byte-order mark; anything else is
// refused with a message that says how to save the file, since guessing a
// code page would garble the catalogue. Fields are taken as text exactly as
// they stand; empty fields are empty cells.
#pragma once

#include <memory>
#include <string>

#include "generator/import/workbook_reader.h"

namespace quill::csv {

class CsvReader : public WorkbookReader {
 public:
  // Throws WorkbookError.
  explicit CsvReader(const std::string& path);
  ~CsvReader() override;

  bool nextWorksheet(std::string& name) override;
  void readWorksheet(CellSink& sink) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quill::csv
