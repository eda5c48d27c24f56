// The .xls reader. The compound file's "Workbook" (BIFF8) or "Book" (BIFF5)
// stream is read record by record through one buffer: first the global part
// up to its EOF record (code page, date system, formats, shared texts and the
// worksheet list), then, for each worksheet, its records from the offset the
// worksheet list gives. Records that may run on into CONTINUE records are
// read through a cursor that pulls those records as it goes.
#include "generator/import/xls_reader.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>
#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "generator/import/cell_text.h"

namespace quill::xls {
namespace {

// Record identifiers (BIFF5 and BIFF8 share them).
enum : uint16_t {
  kFormula = 0x0006,
  kEof = 0x000A,
  kDateMode = 0x0022,
  kFilePass = 0x002F,
  kContinue = 0x003C,
  kCodePage = 0x0042,
  kBoundSheet = 0x0085,
  kMulRk = 0x00BD,
  kRString = 0x00D6,
  kXf = 0x00E0,
  kSst = 0x00FC,
  kLabelSst = 0x00FD,
  kDimensions = 0x0200,
  kNumber = 0x0203,
  kLabel = 0x0204,
  kBoolErr = 0x0205,
  kString = 0x0207,
  kBof2 = 0x0009,
  kBof3 = 0x0209,
  kBof4 = 0x0409,
  kRk = 0x027E,
  kFormat = 0x041E,
  kBof = 0x0809,
};

constexpr uint32_t kMaxColumns = 256;

inline uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline double f64(const uint8_t* p) {
  uint64_t bits = static_cast<uint64_t>(u32(p)) | static_cast<uint64_t>(u32(p + 4)) << 32;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

double rkValue(uint32_t rk) {
  double v;
  if (rk & 2) {
    v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, sizeof v);
  }
  return (rk & 1) ? v / 100.0 : v;
}

const char* errorText(uint8_t code) {
  switch (code) {
    case 0x00: return "#NULL!";
    case 0x07: return "#DIV/0!";
    case 0x0F: return "#VALUE!";
    case 0x17: return "#REF!";
    case 0x1D: return "#NAME?";
    case 0x24: return "#NUM!";
    case 0x2A: return "#N/A";
    default: return "#N/A";
  }
}

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

struct Record {
  uint16_t id = 0;
  uint32_t size = 0;
  const uint8_t* data = nullptr;
  uint64_t offset = 0;
};

// The workbook stream read record by record through one buffer.
class RecordStream {
 public:
  RecordStream(GsfInput* in, std::string path)
      : in_(in), size_(static_cast<uint64_t>(gsf_input_size(in))), path_(std::move(path)),
        buf_(1 << 18) {}

  uint64_t size() const { return size_; }

  void seek(uint64_t offset) {
    if (offset >= size_ || gsf_input_seek(in_, static_cast<gsf_off_t>(offset), G_SEEK_SET))
      damaged("a worksheet lies outside the workbook stream");
    bufStart_ = offset;
    pos_ = end_ = 0;
  }

  // The next record; false at the end of the stream. A record cut short
  // by the end of the stream is damage.
  bool next(Record& r) {
    if (!fill(4)) {
      if (end_ != pos_) damaged("the workbook stream ends inside a record");
      return false;
    }
    r.offset = bufStart_ + pos_;
    r.id = u16(&buf_[pos_]);
    r.size = u16(&buf_[pos_ + 2]);
    if (!fill(4 + r.size)) damaged("the workbook stream ends inside a record");
    r.data = &buf_[pos_ + 4];
    pos_ += 4 + r.size;
    return true;
  }

  // The identifier of the next record, without reading it; 0xFFFF at the end.
  uint16_t peekId() {
    if (!fill(4)) return 0xFFFF;
    return u16(&buf_[pos_]);
  }

  [[noreturn]] void damaged(const std::string& what) const {
    throw WorkbookError("The workbook " + path_ + " is damaged: " + what + ".");
  }

 private:
  // Makes n bytes available from pos_; false when the stream ends first.
  bool fill(size_t n) {
    if (end_ - pos_ >= n) return true;
    if (pos_ > 0) {
      std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
      bufStart_ += pos_;
      end_ -= pos_;
      pos_ = 0;
    }
    uint64_t left = size_ - std::min(size_, bufStart_ + end_);
    size_t want = static_cast<size_t>(std::min<uint64_t>(buf_.size() - end_, left));
    if (want > 0) {
      if (!gsf_input_read(in_, want, buf_.data() + end_))
        throw WorkbookError("The workbook " + path_ + " cannot be read.");
      end_ += want;
    }
    return end_ - pos_ >= n;
  }

  GsfInput* in_;
  uint64_t size_;
  std::string path_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0, end_ = 0;
  uint64_t bufStart_ = 0;
};

// Reads a record's body and, where the record may run on, the CONTINUE
// records that follow it, pulling them from the stream as it goes. In BIFF8,
// a string's characters that run over into a CONTINUE record start there with
// a fresh option byte (compressed or UTF-16).
class Cursor {
 public:
  Cursor(RecordStream& stream, const Record& r, size_t pos, bool continues)
      : stream_(stream), d_(r.data), size_(r.size), pos_(std::min<size_t>(pos, r.size)),
        continues_(continues) {}

  bool atEnd() { return pos_ >= size_ && !(continues_ && stream_.peekId() == kContinue); }

  uint8_t u8() {
    while (pos_ >= size_)
      if (!advance()) cut();
    return d_[pos_++];
  }
  uint16_t u16() {
    if (size_ - pos_ >= 2) {
      uint16_t v = xls::u16(d_ + pos_);
      pos_ += 2;
      return v;
    }
    uint16_t lo = u8();
    return static_cast<uint16_t>(lo | u8() << 8);
  }
  uint32_t u32() {
    uint32_t lo = u16();
    return lo | static_cast<uint32_t>(u16()) << 16;
  }
  void skip(size_t n) {
    while (n > 0) {
      while (pos_ >= size_)
        if (!advance()) cut();
      size_t k = std::min(n, size_ - pos_);
      pos_ += k;
      n -= k;
    }
  }
  void bytes(size_t n, std::string& out) {
    out.clear();
    while (n > 0) {
      while (pos_ >= size_)
        if (!advance()) cut();
      size_t k = std::min(n, size_ - pos_);
      out.append(reinterpret_cast<const char*>(d_ + pos_), k);
      pos_ += k;
      n -= k;
    }
  }

  // Appends count characters to out as UTF-8. A surrogate without its
  // partner is kept as its own three-byte sequence, as common/utf.h does.
  void chars(size_t count, bool wide, std::string& out) {
    char16_t high = 0;
    while (count > 0) {
      if (pos_ >= size_) {
        if (!advance()) cut();
        if (pos_ >= size_) continue;
        wide = d_[pos_++] & 1;
        continue;
      }
      size_t avail = size_ - pos_;
      size_t n = std::min(count, wide ? avail / 2 : avail);
      if (n == 0) cut();
      size_t old = out.size();
      out.resize(old + n * 3 + 3);
      char* p = out.data() + old;
      const uint8_t* s = d_ + pos_;
      if (!wide) {
        if (high) p = put(p, high), high = 0;
        for (size_t i = 0; i < n; ++i) {
          uint8_t c = s[i];
          if (c < 0x80) {
            *p++ = static_cast<char>(c);
          } else {
            *p++ = static_cast<char>(0xC0 | c >> 6);
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
          }
        }
        pos_ += n;
      } else {
        for (size_t i = 0; i < n; ++i) {
          char16_t c = static_cast<char16_t>(s[2 * i] | s[2 * i + 1] << 8);
          if (high) {
            if (c >= 0xDC00 && c <= 0xDFFF) {
              uint32_t cp = 0x10000 + ((high - 0xD800) << 10) + (c - 0xDC00);
              *p++ = static_cast<char>(0xF0 | cp >> 18);
              *p++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
              *p++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
              *p++ = static_cast<char>(0x80 | (cp & 0x3F));
              high = 0;
              continue;
            }
            p = put(p, high), high = 0;
          }
          if (c >= 0xD800 && c <= 0xDBFF) high = c;
          else p = put(p, c);
        }
        pos_ += 2 * n;
      }
      out.resize(static_cast<size_t>(p - out.data()));
      count -= n;
    }
    if (high) {
      char buf[3];
      out.append(buf, static_cast<size_t>(put(buf, high) - buf));
    }
  }

 private:
  static char* put(char* p, char16_t c) {
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | c >> 6);
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | c >> 12);
      *p++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return p;
  }
  bool advance() {
    if (!continues_ || stream_.peekId() != kContinue) return false;
    Record r;
    stream_.next(r);
    d_ = r.data;
    size_ = r.size;
    pos_ = 0;
    return true;
  }
  [[noreturn]] void cut() const { stream_.damaged("a text runs past the end of its record"); }

  RecordStream& stream_;
  const uint8_t* d_;
  size_t size_;
  size_t pos_;
  bool continues_;
};

// Byte strings of Excel 5.0/95 workbooks, in the workbook's code page.
class CodePage {
 public:
  ~CodePage() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  void set(uint16_t codePage) {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    cd_ = reinterpret_cast<iconv_t>(-1);
    std::string name;
    switch (codePage) {
      case 367: name = "ASCII"; break;
      case 1200: name = "UTF-16LE"; break;
      case 10000: case 32768: name = "MACINTOSH"; break;
      case 32769: name = "CP1252"; break;
      default: name = "CP" + std::to_string(codePage); break;
    }
    cd_ = iconv_open("UTF-8", name.c_str());
  }
  void decode(std::string_view in, std::string& out) {
    out.clear();
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {  // unknown code page: Latin-1
      for (unsigned char c : in) appendUtf8(out, c);
      return;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.resize(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    while (srcLeft > 0) {
      if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) break;  // cannot happen with four bytes per byte
      // An invalid or incomplete sequence: one replacement character per byte.
      if (dstLeft < 3) break;
      std::memcpy(dst, "\xEF\xBF\xBD", 3);
      dst += 3, dstLeft -= 3;
      ++src, --srcLeft;
    }
    out.resize(out.size() - dstLeft);
  }

 private:
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

struct GObjectDeleter {
  void operator()(void* p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectDeleter>;

// A worksheet as the workbook lists it.
struct Worksheet {
  std::string name;     // UTF-8
  uint32_t offset = 0;  // of its BOF record in the workbook stream
};

}  // namespace

struct XlsReader::Impl {
  std::string path;
  GPtr<GsfInput> file;
  GPtr<GsfInfile> container;
  GPtr<GsfInput> stream;
  std::unique_ptr<RecordStream> records;
  bool biff8 = true;
  bool date1904 = false;
  CodePage codePage;
  // The shared texts, one after the other, and where each begins and ends.
  std::string sstText;
  std::vector<std::pair<uint32_t, uint32_t>> sst;
  std::vector<bool> xfIsDate;
  std::vector<Worksheet> sheets;
  size_t current = 0;  // 1 + the index of the current worksheet
  // Scratch space reused for every cell.
  std::string text, raw, decoded;

  void open();
  void readGlobals();
  void readSheet(const Worksheet& sheet, CellSink& sink);

  // Appends to out a string with a length prefix of lengthBytes (1 or 2):
  // in BIFF8 an option byte and the characters, in BIFF5 bytes in the
  // workbook's code page.
  void readString(Cursor& c, int lengthBytes, std::string& out) {
    size_t count = lengthBytes == 2 ? c.u16() : c.u8();
    if (!biff8) {
      c.bytes(count, raw);
      codePage.decode(raw, decoded);
      out += decoded;
      return;
    }
    uint8_t flags = c.u8();
    size_t runs = (flags & 8) ? c.u16() : 0;
    size_t ext = (flags & 4) ? c.u32() : 0;
    c.chars(count, flags & 1, out);
    c.skip(runs * 4);
    c.skip(ext);
  }
};

namespace {

std::once_flag gsfInitOnce;

}  // namespace

void XlsReader::Impl::open() {
  std::call_once(gsfInitOnce, [] { gsf_init(); });
  GError* err = nullptr;
  file.reset(gsf_input_stdio_new(path.c_str(), &err));
  if (!file) {
    std::string why = err ? err->message : "unknown error";
    if (err) g_error_free(err);
    throw WorkbookError("The workbook " + path + " cannot be opened: " + why + ".");
  }
  container.reset(gsf_infile_msole_new(file.get(), &err));
  if (!container) {
    if (err) g_error_free(err);
    throw WorkbookError("The workbook " + path + " is damaged: its compound-file structure cannot be read.");
  }
  int n = gsf_infile_num_children(container.get());
  for (int i = 0; i < n && !stream; ++i) {
    const char* name = gsf_infile_name_by_index(container.get(), i);
    if (!name) continue;
    if (g_ascii_strcasecmp(name, "Workbook") == 0) {
      biff8 = true;
    } else if (g_ascii_strcasecmp(name, "Book") == 0) {
      biff8 = false;
    } else {
      continue;
    }
    stream.reset(gsf_infile_child_by_index(container.get(), i));
  }
  if (!stream) {
    // Password-protected workbooks of the newer formats come in a compound file.
    GPtr<GsfInput> encrypted(gsf_infile_child_by_name(container.get(), "EncryptedPackage"));
    if (encrypted)
      throw WorkbookError("The workbook " + path + " is protected by a password; save it without one.");
    throw WorkbookError("The file " + path + " is not an Excel workbook (.xls): it holds no workbook stream.");
  }
  records = std::make_unique<RecordStream>(stream.get(), path);
}

void XlsReader::Impl::readGlobals() {
  RecordStream& rs = *records;
  Record r;
  if (!rs.next(r) || (r.id != kBof && r.id != kBof2 && r.id != kBof3 && r.id != kBof4) || r.size < 4)
    throw WorkbookError("The file " + path + " is not an Excel workbook (.xls): its workbook stream does not begin a workbook.");
  if (r.id != kBof)
    throw WorkbookError("The workbook " + path +
                        " is in an Excel format older than Excel 5.0; save it as an Excel 97-2003 "
                        "workbook (.xls).");
  uint16_t version = u16(r.data);
  if (version == 0x0600) biff8 = true;
  else if (version == 0x0500) biff8 = false;
  if (u16(r.data + 2) != 0x0005) rs.damaged("the workbook stream does not begin with the workbook part");
  codePage.set(1252);

  std::unordered_map<uint16_t, bool> formatIsDate;
  std::vector<uint16_t> xfFormat;
  struct RawSheet { uint32_t offset; std::string name; };
  std::vector<RawSheet> raw5;  // BIFF5 names, decoded once the code page is known

  while (rs.next(r)) {
    if (r.id == kEof) break;
    switch (r.id) {
      case kFilePass:
        throw WorkbookError("The workbook " + path + " is protected by a password; save it without one.");
      case kCodePage:
        if (r.size >= 2) codePage.set(u16(r.data));
        break;
      case kDateMode:
        if (r.size >= 2) date1904 = u16(r.data) == 1;
        break;
      case kFormat: {
        if (r.size < 3) break;
        Cursor c(rs, r, 2, false);
        text.clear();
        readString(c, biff8 ? 2 : 1, text);
        formatIsDate[u16(r.data)] = cells::isDateFormat(text);
        break;
      }
      case kXf:
        if (r.size >= 4) xfFormat.push_back(u16(r.data + 2));
        break;
      case kBoundSheet: {
        if (r.size < 7) rs.damaged("a worksheet entry is cut short");
        uint32_t offset = u32(r.data);
        uint8_t type = r.data[5];
        Cursor c(rs, r, 6, false);
        if (type != 0) break;  // chart, macro or module sheet
        if (biff8) {
          std::string name;
          readString(c, 1, name);
          sheets.push_back({std::move(name), offset});
        } else {
          size_t len = c.u8();
          std::string bytes;
          c.bytes(len, bytes);
          raw5.push_back({offset, std::move(bytes)});
        }
        break;
      }
      case kSst: {
        Cursor c(rs, r, 0, true);
        c.skip(4);
        uint32_t unique = c.u32();
        sst.reserve(std::min<uint32_t>(unique, 1u << 20));
        for (uint32_t i = 0; i < unique && !c.atEnd(); ++i) {
          size_t begin = sstText.size();
          readString(c, 2, sstText);
          if (sstText.size() > 0xFFFFFFFFu) rs.damaged("its shared texts are too large");
          sst.emplace_back(static_cast<uint32_t>(begin), static_cast<uint32_t>(sstText.size()));
        }
        break;
      }
      default:
        break;
    }
  }
  for (auto& s : raw5) {
    std::string name;
    codePage.decode(s.name, name);
    sheets.push_back({std::move(name), s.offset});
  }
  xfIsDate.resize(xfFormat.size());
  for (size_t i = 0; i < xfFormat.size(); ++i) {
    auto it = formatIsDate.find(xfFormat[i]);
    xfIsDate[i] = it != formatIsDate.end() ? it->second : cells::isBuiltinDateFormat(xfFormat[i]);
  }
}

void XlsReader::Impl::readSheet(const Worksheet& sheet, CellSink& sink) {
  RecordStream& rs = *records;
  rs.seek(sheet.offset);
  Record r;
  if (!rs.next(r) || r.id != kBof || r.size < 4)
    rs.damaged("worksheet \"" + sheet.name + "\" does not begin where the workbook says");
  uint16_t kind = u16(r.data + 2);
  if (kind != 0x0010) {  // a dialog or other non-worksheet part: no cells
    sink.dimensions(0, 0);
    return;
  }

  bool dimensionsSeen = false;
  bool pendingString = false;
  uint32_t pendingRow = 0, pendingColumn = 0;

  auto need = [&](uint32_t n) {
    if (r.size < n) rs.damaged("a cell record of worksheet \"" + sheet.name + "\" is cut short");
  };
  auto emit = [&](uint32_t row, uint32_t column, std::string_view value) {
    if (column >= kMaxColumns)
      rs.damaged("worksheet \"" + sheet.name + "\" has a cell beyond column 256");
    if (!dimensionsSeen) {
      sink.dimensions(0, 0);
      dimensionsSeen = true;
    }
    if (!value.empty()) sink.cell(row, column, value);
  };
  auto number = [&](uint32_t row, uint32_t column, uint16_t xf, double v) {
    if (!(xf < xfIsDate.size() && xfIsDate[xf] && cells::dateText(v, date1904, text))) cells::numberText(v, text);
    emit(row, column, text);
  };

  for (;;) {
    if (!rs.next(r)) rs.damaged("worksheet \"" + sheet.name + "\" has no end");
    switch (r.id) {
      case kEof:
        if (!dimensionsSeen) sink.dimensions(0, 0);
        return;
      case kBof: {  // an embedded chart or other substream: skip it whole
        int depth = 1;
        while (depth > 0) {
          if (!rs.next(r)) rs.damaged("worksheet \"" + sheet.name + "\" has no end");
          if (r.id == kBof) ++depth;
          else if (r.id == kEof) --depth;
        }
        break;
      }
      case kDimensions:
        if (!dimensionsSeen) {
          dimensionsSeen = true;
          if (biff8 && r.size >= 12)
            sink.dimensions(u32(r.data + 4), std::min<uint32_t>(u16(r.data + 10), kMaxColumns));
          else if (!biff8 && r.size >= 8)
            sink.dimensions(u16(r.data + 2), std::min<uint32_t>(u16(r.data + 6), kMaxColumns));
          else
            sink.dimensions(0, 0);
        }
        break;
      case kNumber:
        need(14);
        number(u16(r.data), u16(r.data + 2), u16(r.data + 4), f64(r.data + 6));
        break;
      case kRk:
        need(10);
        number(u16(r.data), u16(r.data + 2), u16(r.data + 4), rkValue(u32(r.data + 6)));
        break;
      case kMulRk: {
        need(6);
        uint32_t row = u16(r.data), first = u16(r.data + 2);
        uint32_t count = (r.size - 6) / 6;
        for (uint32_t i = 0; i < count; ++i) {
          const uint8_t* p = r.data + 4 + 6 * i;
          number(row, first + i, u16(p), rkValue(u32(p + 2)));
        }
        break;
      }
      case kLabelSst: {
        need(10);
        uint32_t index = u32(r.data + 6);
        if (index >= sst.size())
          rs.damaged("a cell of worksheet \"" + sheet.name + "\" refers to a missing shared text");
        emit(u16(r.data), u16(r.data + 2),
             std::string_view(sstText).substr(sst[index].first, sst[index].second - sst[index].first));
        break;
      }
      case kLabel:
      case kRString: {
        need(8);
        uint32_t row = u16(r.data), column = u16(r.data + 2);
        Cursor c(rs, r, 6, biff8);
        text.clear();
        readString(c, 2, text);
        emit(row, column, text);
        break;
      }
      case kBoolErr:
        need(8);
        emit(u16(r.data), u16(r.data + 2),
             r.data[7] ? errorText(r.data[6]) : (r.data[6] ? "TRUE" : "FALSE"));
        break;
      case kFormula: {
        need(14);
        uint32_t row = u16(r.data), column = u16(r.data + 2);
        const uint8_t* result = r.data + 6;
        pendingString = false;
        if (u16(result + 6) != 0xFFFF) {
          number(row, column, u16(r.data + 4), f64(result));
        } else {
          switch (result[0]) {
            case 0:  // text, in the STRING record that follows
              pendingString = true;
              pendingRow = row, pendingColumn = column;
              break;
            case 1: emit(row, column, result[2] ? "TRUE" : "FALSE"); break;
            case 2: emit(row, column, errorText(result[2])); break;
            default: emit(row, column, {}); break;  // empty text
          }
        }
        break;
      }
      case kString: {
        if (!pendingString) break;
        pendingString = false;
        Cursor c(rs, r, 0, biff8);
        text.clear();
        readString(c, 2, text);
        emit(pendingRow, pendingColumn, text);
        break;
      }
      default:
        break;
    }
  }
}

XlsReader::XlsReader(const std::string& path) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  impl_->open();
  impl_->readGlobals();
}

XlsReader::~XlsReader() = default;

bool XlsReader::nextWorksheet(std::string& name) {
  if (impl_->current >= impl_->sheets.size()) return false;
  name = impl_->sheets[impl_->current++].name;
  return true;
}

void XlsReader::readWorksheet(CellSink& sink) {
  impl_->readSheet(impl_->sheets.at(impl_->current - 1), sink);
}

}  // namespace quill::xls
