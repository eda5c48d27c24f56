// Tag document files: ReadDoc and SaveDoc.
//
// ReadDoc converts the file to UTF-8 as it reads it, in pieces of 64 KB, into
// one buffer owned by the reading (a high surrogate at the end of a piece
// waits for the next piece, so that a pair is never split), then runs the
// reader over that text. Any failure becomes error 19999 with its cause as
// description, and the document keeps its old root.
//
// SaveDoc writes the header bytes and the text as UTF-16LE, again in pieces,
// into a new file beside the target (created exclusively, flushed to disk,
// given the old file's permissions) and renames it over the target: a
// failure at any point removes the new file and leaves the old one as it was.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/utf.h"
#include "store/dom.h"
#include "store/dom_read.h"
#include "store/store_error.h"

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#define QUILL_HAVE_FSYNC 1
#endif

namespace fs = std::filesystem;

namespace quill {

namespace {

constexpr size_t kPiece = size_t{1} << 16;  // bytes, even

// The text of the file at path as UTF-8, in tree's memory; header receives
// its first two bytes.
std::string_view readText(const std::string& path, detail::ReadTree& tree, std::array<unsigned char, 2>& header) {
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) throw readDocError(kPermissionDenied);
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0) throw readDocError(kPathFileAccess);
  if (size < 3) throw readDocError(kInputPastEndOfFile);
  char head[2];
  if (!in.read(head, 2)) throw readDocError(kPathFileAccess);
  header = {static_cast<unsigned char>(head[0]), static_cast<unsigned char>(head[1])};

  // The buffer starts at one byte a unit (ASCII) and grows when a piece
  // might not fit (3 bytes a unit at most).
  const size_t units = static_cast<size_t>(size - 2) / 2;
  size_t capacity = units + 3 * (kPiece / 2) + 1;
  char* text = tree.textBuffer(capacity);
  size_t length = 0;
  std::unique_ptr<char[]> piece(new char[kPiece]);
  size_t carried = 0;  // bytes of a high surrogate kept for the next piece
  for (size_t left = units * 2; left > 0;) {
    const size_t want = std::min(kPiece - carried, left);
    if (!in.read(piece.get() + carried, static_cast<std::streamsize>(want))) throw readDocError(kPathFileAccess);
    left -= want;
    size_t bytes = carried + want;
    carried = 0;
    const auto lastHighByte = static_cast<unsigned char>(piece[bytes - 1]);
    if (left > 0 && lastHighByte >= 0xD8 && lastHighByte <= 0xDB) {
      bytes -= 2;
      carried = 2;
    }
    if (capacity - length < 3 * (bytes / 2) + 1) {
      const size_t grown = std::max(capacity + capacity / 2, length + 3 * (bytes / 2) + 1);
      text = tree.growTextBuffer(text, length, grown);
      capacity = grown;
    }
    length += utf16leToUtf8(std::string_view(piece.get(), bytes), text + length);
    if (carried) std::memcpy(piece.get(), piece.get() + bytes, 2);
  }
  return std::string_view(text, length);
}

// The run-time error that stands for a failed system call.
RuntimeError saveCause(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return kPathNotFound;
    case ENOSPC: return kDiskFull;
    default: return kPathFileAccess;
  }
}

// Writes UTF-8 text as UTF-16LE in pieces, so that a large document needs no
// second whole copy in memory.
[[nodiscard]] bool writeUtf16le(FILE* f, std::string_view text) {
  while (!text.empty()) {
    size_t n = std::min(kPiece, text.size());
    // End the piece on a character boundary (continuation bytes are 10xxxxxx).
    while (n < text.size() && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    if (n == 0) n = std::min(kPiece, text.size());
    const std::string units = utf8ToUtf16le(text.substr(0, n));
    if (std::fwrite(units.data(), 1, units.size(), f) != units.size()) return false;
    text.remove_prefix(n);
  }
  return true;
}

// A new file beside target, created exclusively; its name in tmp.
FILE* createBeside(const std::string& target, std::string& tmp) {
  static std::atomic<unsigned> counter{0};
#if QUILL_HAVE_FSYNC
  const long pid = static_cast<long>(::getpid());
#else
  const long pid = 0;
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmp = target + ".tmp" + std::to_string(pid) + "-" + std::to_string(counter.fetch_add(1));
    errno = 0;
    if (FILE* f = std::fopen(tmp.c_str(), "wbx")) return f;
    if (errno != EEXIST) throw saveDocError(saveCause(errno));
  }
  throw saveDocError(saveCause(EEXIST));
}

}  // namespace

void cvDomDoc::readDoc(std::string_view path) {
  if (!path.empty()) filePath_ = std::string(path);
  try {
    std::error_code ec;
    if (!fs::is_regular_file(fs::path(filePath_), ec)) throw readDocError(filePath_ + "is not exist.");
    const auto tree = std::make_shared<detail::ReadTree>();
    const std::string_view text = readText(filePath_, *tree, header_);
    auto container = cvDomNode::create();
    detail::readInto(*this, *container, tree, text);
    if (container->children().size() != 1) throw readDocError("Wrong format of file " + filePath_);
    root_ = container->children().front();
  } catch (const AutomationError& e) {
    if (e.number() == kReadDocFailed) throw;
    throw readDocError(e.description());
  } catch (const std::bad_alloc&) {
    throw readDocError(kOutOfMemory);
  }
}

void cvDomDoc::saveDoc(std::string_view path) {
  if (!path.empty()) filePath_ = std::string(path);
  if (!root_) throw saveDocError(kObjectNotSet);
  if (filePath_.empty()) throw saveDocError(kPathFileAccess);
  std::string text;
  try {
    text = documentText();
  } catch (const std::bad_alloc&) {
    throw saveDocError(kOutOfMemory);
  }

  std::string tmp;
  FILE* f = createBeside(filePath_, tmp);
  int err = 0;
  const char header[2] = {static_cast<char>(header_[0]), static_cast<char>(header_[1])};
  if (std::fwrite(header, 1, 2, f) != 2 || !writeUtf16le(f, text)) err = errno ? errno : EIO;
  if (!err && std::fflush(f) != 0) err = errno ? errno : EIO;
#if QUILL_HAVE_FSYNC
  if (!err && ::fsync(::fileno(f)) != 0 && errno != EINVAL) err = errno;
#endif
  if (std::fclose(f) != 0 && !err) err = errno ? errno : EIO;
  if (!err) {
    // Keep the permissions of the file being replaced.
    std::error_code ec;
    const auto st = fs::status(filePath_, ec);
    if (!ec && fs::is_regular_file(st)) fs::permissions(tmp, st.permissions(), ec);
    ec.clear();
    fs::rename(tmp, filePath_, ec);
    if (ec) err = ec.value();
  }
  if (err) {
    std::error_code ignored;
    fs::remove(tmp, ignored);
    throw saveDocError(saveCause(err));
  }
}

}  // namespace quill
