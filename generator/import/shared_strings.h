// The shared texts of an .xlsx workbook, which cells refer to by number.
// The first memoryBytes of text are kept in memory; what comes after goes
// to an unnamed temporary file and is read back through a window, so that a
// workbook with a million distinct texts does not need their size in memory.
// Cells mostly refer to the texts in the order in which they were added, so
// the window seldom moves backwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

class SharedStrings {
 public:
  static constexpr size_t kDefaultMemoryBytes = 16u << 20;

  explicit SharedStrings(size_t memoryBytes = kDefaultMemoryBytes);
  ~SharedStrings();
  SharedStrings(const SharedStrings&) = delete;
  SharedStrings& operator=(const SharedStrings&) = delete;

  // Adds the next text. False when all texts together would exceed 4 GB.
  // Throws std::runtime_error when the temporary file cannot be written.
  [[nodiscard]] bool add(std::string_view text);

  size_t size() const { return ends_.size(); }

  // Text number index (below size()); valid until the next call.
  std::string_view at(size_t index);

 private:
  void flush();
  [[noreturn]] void fileError(const char* what) const;

  size_t memoryBytes_;
  std::string memory_;         // texts [0, memory_.size())
  std::vector<uint32_t> ends_;  // where each text ends
  bool spilling_ = false;
  int fd_ = -1;
  std::string pending_;  // added texts not yet written to the file
  uint64_t written_ = 0;  // bytes in the file
  std::string window_;
  uint64_t windowStart_ = 0;  // file offset of window_
  std::string tempDir_;
};

}  // namespace quill
