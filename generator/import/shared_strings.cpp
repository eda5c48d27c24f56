// Texts are numbered by where they end in one long run of text: the first
// part of the run is a string in memory, the rest lives in a temporary file
// that is unlinked as soon as it is made. Writes to the file go through a
// pending buffer; reads refill a window of at least kWindowBytes at the
// text's start.
#include "generator/import/shared_strings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace quill {
namespace {

constexpr size_t kPendingBytes = 1u << 20;
constexpr size_t kWindowBytes = 256u << 10;

}  // namespace

SharedStrings::SharedStrings(size_t memoryBytes) : memoryBytes_(memoryBytes) {}

SharedStrings::~SharedStrings() {
  if (fd_ >= 0) ::close(fd_);
}

void SharedStrings::fileError(const char* what) const {
  throw std::runtime_error(std::string("The workbook's texts cannot be kept in a temporary file in ") +
                           tempDir_ + " (" + what + ": " + std::strerror(errno) + ").");
}

bool SharedStrings::add(std::string_view text) {
  const uint64_t start = ends_.empty() ? 0 : ends_.back();
  const uint64_t end = start + text.size();
  if (end > UINT32_MAX) return false;
  if (!spilling_ && memory_.size() + text.size() > memoryBytes_) {
    std::error_code ec;
    tempDir_ = std::filesystem::temp_directory_path(ec).string();
    if (ec) tempDir_ = "/tmp";
    std::string name = tempDir_ + "/quillant-texts-XXXXXX";
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) fileError("create");
    ::unlink(name.c_str());
    spilling_ = true;
  }
  if (spilling_) {
    pending_.append(text);
    if (pending_.size() >= kPendingBytes) flush();
  } else {
    memory_.append(text);
  }
  ends_.push_back(static_cast<uint32_t>(end));
  return true;
}

void SharedStrings::flush() {
  const char* p = pending_.data();
  size_t left = pending_.size();
  while (left > 0) {
    ssize_t n = ::pwrite(fd_, p, left, static_cast<off_t>(written_));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fileError("write");
    p += n, left -= static_cast<size_t>(n), written_ += static_cast<uint64_t>(n);
  }
  pending_.clear();
}

std::string_view SharedStrings::at(size_t index) {
  const uint64_t start = index == 0 ? 0 : ends_[index - 1];
  const uint64_t end = ends_[index];
  if (end <= memory_.size()) return std::string_view(memory_).substr(start, end - start);
  if (!pending_.empty()) flush();
  const uint64_t fileStart = start - memory_.size();
  const uint64_t length = end - start;
  if (fileStart < windowStart_ || fileStart + length > windowStart_ + window_.size()) {
    window_.resize(std::max<size_t>(kWindowBytes, length));
    size_t got = 0;
    while (got < window_.size()) {
      ssize_t n = ::pread(fd_, window_.data() + got, window_.size() - got,
                          static_cast<off_t>(fileStart + got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) fileError("read");
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    window_.resize(got);
    windowStart_ = fileStart;
  }
  return std::string_view(window_).substr(fileStart - windowStart_, length);
}

}  // namespace quill
