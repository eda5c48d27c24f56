// The package is opened with libzip, which reads the central directory; each
// part is then inflated by zip_fread into the caller's buffer. Every byte
// that comes out is charged to one budget for the whole package, fixed when
// the package is opened from the size of the file, so that the work a file
// can cause is bounded by its size whatever its parts declare. libzip checks
// each part's checksum when the part ends.
#include "generator/import/zip_package.h"

#include <zip.h>

#include <filesystem>

#include "generator/import/workbook_reader.h"

namespace quill {
namespace {

std::string zipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

}  // namespace

class ZipPackage::PartStream : public ByteSource {
 public:
  PartStream(ZipPackage& package, zip_file_t* file, std::string part)
      : package_(package), file_(file), part_(std::move(part)) {}
  ~PartStream() override { zip_fclose(file_); }

  size_t read(char* buffer, size_t size) override {
    if (done_) return 0;
    zip_int64_t n = zip_fread(file_, buffer, size);
    if (n < 0) {
      std::string why = zip_file_strerror(file_);
      package_.damaged("its part " + part_ + " cannot be unpacked (" + why + ")");
    }
    if (n == 0) {
      done_ = true;
      return 0;
    }
    if (static_cast<uint64_t>(n) > package_.budget_)
      throw WorkbookError("The workbook " + package_.path_ + " is refused: its part " + part_ +
                          " unpacks to far more than its size on disk suggests (a zip bomb?).");
    package_.budget_ -= static_cast<uint64_t>(n);
    return static_cast<size_t>(n);
  }

 private:
  ZipPackage& package_;
  zip_file_t* file_;
  std::string part_;
  bool done_ = false;
};

ZipPackage::ZipPackage(const std::string& path) : path_(path) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw WorkbookError("The workbook " + path + " cannot be read: " + ec.message() + ".");
  budget_ = kFreeInflation + kMaxInflationRatio * static_cast<uint64_t>(size);

  int error = 0;
  archive_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (!archive_) {
    if (error == ZIP_ER_OPEN || error == ZIP_ER_READ || error == ZIP_ER_MEMORY)
      throw WorkbookError("The workbook " + path + " cannot be opened: " + zipErrorText(error) + ".");
    damaged("it is not a complete zip package (" + zipErrorText(error) + ")");
  }
}

ZipPackage::~ZipPackage() {
  if (archive_) zip_discard(archive_);
}

int64_t ZipPackage::locate(std::string_view part) const {
  const std::string name(part);
  zip_int64_t index = zip_name_locate(archive_, name.c_str(), 0);
  if (index < 0) index = zip_name_locate(archive_, name.c_str(), ZIP_FL_NOCASE);
  return index;
}

bool ZipPackage::has(std::string_view part) const { return locate(part) >= 0; }

std::unique_ptr<ByteSource> ZipPackage::open(std::string_view part) {
  const std::string name(part);
  const int64_t index = locate(part);
  if (index < 0) damaged("its part " + name + " is missing");
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(archive_, static_cast<zip_uint64_t>(index), 0, &st) != 0)
    damaged("its part " + name + " cannot be read");
  if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
    throw WorkbookError("The workbook " + path_ + " is protected by a password; save it without one.");
  zip_file_t* file = zip_fopen_index(archive_, static_cast<zip_uint64_t>(index), 0);
  if (!file) {
    zip_error_t* error = zip_get_error(archive_);
    if (zip_error_code_zip(error) == ZIP_ER_COMPNOTSUPP)
      throw WorkbookError("The workbook " + path_ + " cannot be read: its part " + name +
                          " is compressed by a method this program does not know; save the "
                          "workbook again with a spreadsheet program.");
    damaged("its part " + name + " cannot be read (" + zip_error_strerror(error) + ")");
  }
  return std::make_unique<PartStream>(*this, file, name);
}

std::string ZipPackage::readAll(std::string_view part, size_t limit) {
  auto source = open(part);
  std::string text;
  char buffer[16384];
  while (size_t n = source->read(buffer, sizeof buffer)) {
    if (text.size() + n > limit) damaged("its part " + std::string(part) + " is too large");
    text.append(buffer, n);
  }
  return text;
}

void ZipPackage::damaged(const std::string& what) const {
  throw WorkbookError("The workbook " + path_ + " is damaged: " + what + ".");
}

}  // namespace quill
