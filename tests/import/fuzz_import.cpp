// libFuzzer target (built with -DQUILLANT_FUZZ=ON and clang): the first byte
// chooses what the rest is, a whole file (.xlsx, .ods, .xls or .csv) or one
// part of an otherwise valid .xlsx or .ods package, so that the XML readers
// are reached past the zip layer. The import must return, with or without a
// description, and never crash.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "generator/import/excel2access.h"
#include "zip_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const std::string base = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/quillant-import-fuzz-" + std::to_string(::getpid());
  }();
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string name = ".xlsx", file;
  ziptest::Xlsx book;
  book.sheets = {{"S", "<sheetData><row><c t=\"s\"><v>0</v></c><c s=\"1\"><v>45356.5</v></c></row></sheetData>"}};
  book.sharedStrings = "<si><t>x</t></si>";
  book.styles = "<cellXfs><xf/><xf numFmtId=\"22\"/></cellXfs>";
  switch (data[0] % 7) {
    case 0: file = bytes; break;
    case 1: name = ".ods", file = bytes; break;
    case 2: name = ".xls", file = bytes; break;
    case 3: name = ".csv", file = bytes; break;
    case 4: book.sheets[0].second = bytes, file = ziptest::zip(book.parts()); break;
    case 5: book.sharedStrings = bytes, file = ziptest::zip(book.parts()); break;
    default: {
      auto parts = ziptest::ods("");
      parts[1].data = bytes;
      name = ".ods", file = ziptest::zip(parts);
      break;
    }
  }
  std::ofstream(base + name, std::ios::binary) << file;
  (void)quill::excel2Access(base + name, base + ".mdb");
  return 0;
}
