// The zip package of an .xlsx or .ods workbook, read part by part as a
// stream. All parts together may inflate to a fixed multiple of the file's
// size (plus a fixed allowance), so that a zip bomb is refused after a
// bounded amount of work, and reading never holds more than one buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct zip;

namespace quill {

// Bytes read one piece after the other.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Fills up to size bytes of buffer; returns how many, 0 at the end.
  virtual size_t read(char* buffer, size_t size) = 0;
};

class ZipPackage {
 public:
  // All parts may inflate to this many times the file's size, plus
  // kFreeInflation bytes. Workbooks compress their XML about 10 to 40 times
  // (very regular sheets more); a zip bomb's deflate data about 1000 times.
  static constexpr uint64_t kMaxInflationRatio = 250;
  static constexpr uint64_t kFreeInflation = 32u << 20;

  // Opens the package. Throws WorkbookError.
  explicit ZipPackage(const std::string& path);
  ~ZipPackage();
  ZipPackage(const ZipPackage&) = delete;
  ZipPackage& operator=(const ZipPackage&) = delete;

  const std::string& path() const { return path_; }

  // Whether the package holds the part (names compared exactly, and then
  // without regard to case).
  bool has(std::string_view part) const;

  // Streams a part. Throws WorkbookError when it is missing, encrypted,
  // compressed in a way that cannot be read, or damaged, and when the
  // package's inflation budget runs out.
  std::unique_ptr<ByteSource> open(std::string_view part);

  // A whole small part, at most limit bytes (more is refused as damage).
  std::string readAll(std::string_view part, size_t limit);

  // Throws WorkbookError("The workbook <path> is damaged: <what>.").
  [[noreturn]] void damaged(const std::string& what) const;

 private:
  class PartStream;
  int64_t locate(std::string_view part) const;

  std::string path_;
  zip* archive_ = nullptr;
  uint64_t budget_ = 0;  // bytes that may still be inflated
};

}  // namespace quill
