// Two layers. The decoder reads the file in pieces and hands on UTF-8 text:
// UTF-8 is checked (eight ASCII bytes at a time where it can) and passed
// through; UTF-16 is converted. A sequence cut by the end of a piece is
// carried over to the next. The parser then walks the text with a small
// state machine per field: an unquoted field runs to the next separator or
// line end; a quoted one to its closing quote, a doubled quote standing for
// one. Characters after a closing quote are kept, as most programs do.
#include "generator/import/csv_reader.h"

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace quill::csv {
namespace {

constexpr size_t kPieceBytes = 256 * 1024;

enum class Encoding { Utf8, Utf16LE, Utf16BE };

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Length of the valid UTF-8 sequence at p (up to end), 0 when it is
// invalid, or -1 when it is cut short by end.
int utf8Sequence(const unsigned char* p, const unsigned char* end) {
  const unsigned char b = p[0];
  int n;
  uint32_t min;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) n = 2, min = 0x80;
  else if (b >= 0xE0 && b <= 0xEF) n = 3, min = 0x800;
  else if (b >= 0xF0 && b <= 0xF4) n = 4, min = 0x10000;
  else return 0;
  uint32_t cp = b & (0x3F >> (n - 1));
  for (int i = 1; i < n; ++i) {
    if (p + i >= end) return -1;
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// The file's text, piece by piece, as UTF-8.
class Decoder {
 public:
  Decoder(std::FILE* file, const std::string& path) : file_(file), path_(path) {
    raw_.resize(kPieceBytes);
    size_t n = readRaw(0);
    const auto* b = reinterpret_cast<const unsigned char*>(raw_.data());
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
      carry_.assign(raw_.data() + 3, n - 3);
    } else if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
      encoding_ = Encoding::Utf16LE;
      carry_.assign(raw_.data() + 2, n - 2);
    } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
      encoding_ = Encoding::Utf16BE;
      carry_.assign(raw_.data() + 2, n - 2);
    } else {
      carry_.assign(raw_.data(), n);
    }
  }

  // Replaces out with the next piece of text; false at the end of the file.
  bool next(std::string& out) {
    out.clear();
    while (out.empty()) {
      const size_t n = ended_ ? 0 : readRaw(carry_.size());
      std::memcpy(raw_.data(), carry_.data(), carry_.size());
      const size_t total = carry_.size() + n;
      if (total == 0) return false;
      const bool last = n == 0;
      if (last) ended_ = true;
      const size_t used = encoding_ == Encoding::Utf8 ? takeUtf8(total, last, out) : takeUtf16(total, last, out);
      carry_.assign(raw_.data() + used, total - used);
      if (const void* nul = std::memchr(out.data(), 0, out.size()))
        refuse(std::string_view(out.data(), static_cast<size_t>(static_cast<const char*>(nul) - out.data())));
      lines_ += static_cast<size_t>(std::count(out.begin(), out.end(), '\n'));
      if (last && out.empty()) return false;
    }
    return true;
  }

 private:
  // Reads the next raw piece into raw_ after keep bytes; returns its size.
  size_t readRaw(size_t keep) {
    if (raw_.size() < keep + kPieceBytes) raw_.resize(keep + kPieceBytes);
    // Read into the space after the carried bytes (copied in by the caller).
    size_t n = std::fread(raw_.data() + keep, 1, kPieceBytes, file_);
    if (n == 0 && std::ferror(file_))
      throw WorkbookError("The workbook " + path_ + " cannot be read: " + std::strerror(errno) + ".");
    if (n == 0) ended_ = true;
    return n;
  }

  size_t takeUtf8(size_t total, bool last, std::string& out) {
    const auto* begin = reinterpret_cast<const unsigned char*>(raw_.data());
    const auto* end = begin + total;
    const auto* p = begin;
    while (p < end) {
      if (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if ((word & 0x8080808080808080ull) == 0) {
          p += 8;
          continue;
        }
      }
      const int n = utf8Sequence(p, end);
      if (n > 0) {
        p += n;
      } else if (n < 0 && !last) {
        break;  // finished with the next piece
      } else {
        refuse(std::string_view(raw_.data(), static_cast<size_t>(p - begin)));
      }
    }
    out.assign(raw_.data(), static_cast<size_t>(p - begin));
    return static_cast<size_t>(p - begin);
  }

  size_t takeUtf16(size_t total, bool last, std::string& out) {
    const auto* b = reinterpret_cast<const unsigned char*>(raw_.data());
    const bool le = encoding_ == Encoding::Utf16LE;
    auto unit = [&](size_t i) -> uint32_t { return le ? (b[i] | b[i + 1] << 8) : (b[i] << 8 | b[i + 1]); };
    size_t i = 0;
    out.reserve(total * 3 / 2);
    while (i + 1 < total) {
      uint32_t c = unit(i);
      if (c >= 0xD800 && c <= 0xDBFF) {
        if (i + 3 >= total) {
          if (!last) break;
          refuse(out);
        }
        uint32_t low = unit(i + 2);
        if (low < 0xDC00 || low > 0xDFFF) refuse(out);
        appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        i += 4;
      } else if (c >= 0xDC00 && c <= 0xDFFF) {
        refuse(out);
      } else {
        appendUtf8(out, c);
        i += 2;
      }
    }
    if (last && i < total) refuse(out);  // an odd last byte
    return i;
  }

  // decoded: the text of this piece before the fault, for the line number.
  [[noreturn]] void refuse(std::string_view decoded) const {
    const size_t line = lines_ + 1 + static_cast<size_t>(std::count(decoded.begin(), decoded.end(), '\n'));
    const char* what = encoding_ == Encoding::Utf8 ? "is not UTF-8 text" : "is not valid UTF-16 text";
    throw WorkbookError("The file " + path_ + " " + what + " (line " + std::to_string(line) +
                        "); save it as \"CSV UTF-8\" (comma-separated values in UTF-8) and try again.");
  }

  std::FILE* file_;
  const std::string& path_;
  Encoding encoding_ = Encoding::Utf8;
  std::string raw_, carry_;
  bool ended_ = false;
  size_t lines_ = 0;
};

// Comma, semicolon or tab: whichever the first record holds most of
// outside quotes (a comma when none).
char detectSeparator(std::string_view text) {
  size_t comma = 0, semicolon = 0, tab = 0;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    else if (quoted) continue;
    else if (c == '\n' || c == '\r') break;
    else if (c == ',') ++comma;
    else if (c == ';') ++semicolon;
    else if (c == '\t') ++tab;
  }
  if (semicolon > comma && semicolon >= tab) return ';';
  if (tab > comma && tab > semicolon) return '\t';
  return ',';
}

}  // namespace

struct CsvReader::Impl {
  std::string path;
  std::string name;
  std::FILE* file = nullptr;
  std::unique_ptr<Decoder> decoder;
  std::string text;  // the current piece
  size_t pos = 0;
  bool ended = false;
  int state = 0;  // 0 before the worksheet, 1 on it, 2 after it
  size_t line = 1;

  ~Impl() {
    if (file) std::fclose(file);
  }

  // Makes text[pos] available; false at the end of the file.
  bool more() {
    if (pos < text.size()) return true;
    if (ended) return false;
    pos = 0;
    if (!decoder->next(text)) ended = true;
    return !ended;
  }

  void append(std::string& field, const char* from, size_t n) {
    if (field.size() + n > kMaxCellBytes)
      throw WorkbookError("The workbook " + path + " has a value longer than 16 MB on line " +
                          std::to_string(line) + ".");
    field.append(from, n);
  }

  // Reads one field into field. Returns the character that ended it: the
  // separator, '\n' for the end of a record, or 0 for the end of the file.
  char readField(char separator, std::string& field) {
    field.clear();
    if (more() && text[pos] == '"') {
      ++pos;
      const size_t startLine = line;
      for (;;) {
        if (!more())
          throw WorkbookError("The workbook " + path + " is damaged: the quoted value that begins on line " +
                              std::to_string(startLine) + " has no closing quote.");
        const char* begin = text.data() + pos;
        const char* quote = static_cast<const char*>(std::memchr(begin, '"', text.size() - pos));
        const size_t n = quote ? static_cast<size_t>(quote - begin) : text.size() - pos;
        line += static_cast<size_t>(std::count(begin, begin + n, '\n'));
        append(field, begin, n);
        pos += n;
        if (!quote) continue;
        ++pos;  // the quote
        if (more() && text[pos] == '"') {
          field.push_back('"');
          ++pos;
          continue;
        }
        break;
      }
    }
    // Unquoted text, or what follows a closing quote.
    for (;;) {
      if (!more()) return 0;
      const char* begin = text.data() + pos;
      const char* end = text.data() + text.size();
      const char* p = begin;
      while (p < end && *p != separator && *p != '\n' && *p != '\r') ++p;
      append(field, begin, static_cast<size_t>(p - begin));
      pos += static_cast<size_t>(p - begin);
      if (p == end) continue;
      const char c = *p;
      ++pos;
      if (c == separator) return c;
      if (c == '\r' && more() && text[pos] == '\n') ++pos;
      ++line;
      return '\n';
    }
  }
};

CsvReader::CsvReader(const std::string& path) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  impl_->name = std::filesystem::path(path).stem().string();
  impl_->file = std::fopen(path.c_str(), "rb");
  if (!impl_->file)
    throw WorkbookError("The workbook " + path + " cannot be opened: " + std::strerror(errno) + ".");
  impl_->decoder = std::make_unique<Decoder>(impl_->file, impl_->path);
}

CsvReader::~CsvReader() = default;

bool CsvReader::nextWorksheet(std::string& name) {
  if (impl_->state++ != 0) return false;
  name = impl_->name;
  return true;
}

void CsvReader::readWorksheet(CellSink& sink) {
  Impl& m = *impl_;
  sink.dimensions(0, 0);
  if (!m.more()) return;
  const char separator = detectSeparator(std::string_view(m.text).substr(m.pos));
  std::string field;
  uint32_t row = 0, column = 0;
  for (;;) {
    const char end = m.readField(separator, field);
    if (!field.empty()) {
      if (column >= kMaxSheetColumns)
        throw WorkbookError("The workbook " + m.path + " has more than 16384 values on line " +
                            std::to_string(m.line) + ".");
      sink.cell(row, column, field);
    }
    if (end == separator) {
      ++column;
      continue;
    }
    if (end == 0) return;
    ++row, column = 0;
    if (!m.more()) return;  // the last record ended with a line break
  }
}

}  // namespace quill::csv
