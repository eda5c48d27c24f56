// Picks the reader for a workbook file from its first bytes, so that a
// workbook saved under another format's name is still read: a compound file
// is an .xls workbook, a zip package an .ods (by its mimetype part) or an
// .xlsx workbook; only text needs the name, and is read as comma-separated
// values when the name ends in .csv.
#include "generator/import/workbook_reader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/ascii.h"
#include "generator/import/csv_reader.h"
#include "generator/import/ods_reader.h"
#include "generator/import/xls_reader.h"
#include "generator/import/xlsx_reader.h"
#include "generator/import/zip_package.h"

namespace quill {
namespace {

std::unique_ptr<WorkbookReader> openPackage(const std::string& path) {
  auto package = std::make_unique<ZipPackage>(path);
  if (package->has("mimetype")) {
    const std::string type = package->readAll("mimetype", 256);
    if (type.rfind("application/vnd.oasis.opendocument.spreadsheet", 0) == 0)
      return std::make_unique<ods::OdsReader>(std::move(package));
    if (type.rfind("application/vnd.oasis.opendocument.", 0) == 0)
      throw WorkbookError("The file " + path + " is an OpenDocument file of another kind (" + type +
                          "), not a spreadsheet.");
  }
  if (package->has("[Content_Types].xml") || package->has("_rels/.rels"))
    return std::make_unique<xlsx::XlsxReader>(std::move(package));
  if (package->has("content.xml")) return std::make_unique<ods::OdsReader>(std::move(package));
  throw WorkbookError("The file " + path + " is a zip archive, not a workbook.");
}

}  // namespace

std::unique_ptr<WorkbookReader> openWorkbookReader(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) throw WorkbookError("The workbook " + path + " does not exist.");
  if (fs::is_directory(st)) throw WorkbookError("The workbook " + path + " is a folder, not a file.");
  const uintmax_t size = fs::file_size(path, ec);
  if (ec) throw WorkbookError("The workbook " + path + " cannot be read: " + ec.message() + ".");
  if (size == 0) throw WorkbookError("The workbook " + path + " is empty.");

  unsigned char magic[8] = {};
  {
    std::ifstream in(path, std::ios::binary);
    if (!in)
      throw WorkbookError("The workbook " + path + " cannot be opened: " + std::strerror(errno) + ".");
    in.read(reinterpret_cast<char*>(magic), sizeof magic);
  }
  static const unsigned char kCompoundFile[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (std::memcmp(magic, kCompoundFile, 8) == 0) return std::make_unique<xls::XlsReader>(path);
  if (magic[0] == 'P' && magic[1] == 'K' && ((magic[2] == 3 && magic[3] == 4) || (magic[2] == 5 && magic[3] == 6)))
    return openPackage(path);
  if (magic[1] == 0 && magic[0] == 0x09 && (magic[2] == 4 || magic[2] == 6 || magic[2] == 8))
    throw WorkbookError("The workbook " + path +
                        " is in an Excel format older than Excel 5.0; save it as an Excel workbook "
                        "(.xlsx or .xls).");

  const std::string extension = toLowerAscii(fs::path(path).extension().string());
  if (extension == ".csv") return std::make_unique<csv::CsvReader>(path);
  if (extension == ".xls") throw WorkbookError("The file " + path + " is not an Excel workbook (.xls).");
  if (extension == ".xlsx") throw WorkbookError("The file " + path + " is not an Excel workbook (.xlsx).");
  if (extension == ".ods")
    throw WorkbookError("The file " + path + " is not an OpenDocument spreadsheet (.ods).");
  throw WorkbookError("The file " + path + " is not a workbook (.xls, .xlsx, .ods or .csv).");
}

}  // namespace quill
