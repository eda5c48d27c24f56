// Writes small .xls workbooks record by record, for the cases a spreadsheet
// writer library cannot make: formulas with cached results, strings split
// over CONTINUE records, Excel 5.0/95 byte strings, damaged streams.
#pragma once

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace biff {

struct Bytes {
  std::string b;
  Bytes& u8(unsigned v) { b.push_back(static_cast<char>(v)); return *this; }
  Bytes& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8 & 0xFF); }
  Bytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
  Bytes& f64(double d) {
    uint64_t x;
    std::memcpy(&x, &d, 8);
    return u32(static_cast<uint32_t>(x)).u32(static_cast<uint32_t>(x >> 32));
  }
  Bytes& raw(std::string_view s) { b.append(s); return *this; }
  // BIFF8 string: length (8 or 16 bits), option byte, characters.
  Bytes& text(const std::u16string& s, bool length16 = true) {
    bool wide = false;
    for (char16_t c : s) wide |= c > 0xFF;
    length16 ? u16(static_cast<unsigned>(s.size())) : u8(static_cast<unsigned>(s.size()));
    u8(wide ? 1 : 0);
    for (char16_t c : s) wide ? u16(c) : u8(c);
    return *this;
  }
};

inline std::string record(uint16_t id, const std::string& body) {
  Bytes r;
  r.u16(id).u16(static_cast<unsigned>(body.size())).raw(body);
  return r.b;
}

inline std::string bof(bool biff8, unsigned kind) {
  Bytes b;
  b.u16(biff8 ? 0x0600 : 0x0500).u16(kind).u16(0x0DBB).u16(1996);
  if (biff8) b.u32(0).u32(0x0006);
  return record(0x0809, b.b);
}
inline std::string eof() { return record(0x000A, ""); }

inline std::string cellHead(unsigned row, unsigned col, unsigned xf) {
  return Bytes().u16(row).u16(col).u16(xf).b;
}
inline std::string number(unsigned row, unsigned col, double v, unsigned xf = 0) {
  return record(0x0203, Bytes().raw(cellHead(row, col, xf)).f64(v).b);
}
inline std::string rk(unsigned row, unsigned col, uint32_t value, unsigned xf = 0) {
  return record(0x027E, Bytes().raw(cellHead(row, col, xf)).u32(value).b);
}
inline std::string label(unsigned row, unsigned col, const std::u16string& s) {
  return record(0x0204, Bytes().raw(cellHead(row, col, 0)).text(s).b);
}
inline std::string boolErr(unsigned row, unsigned col, unsigned value, bool error) {
  return record(0x0205, Bytes().raw(cellHead(row, col, 0)).u8(value).u8(error).b);
}
// A formula cell with its cached result: 8 result bytes as the file keeps them.
inline std::string formula(unsigned row, unsigned col, const std::string& result, unsigned xf = 0) {
  return record(0x0006, Bytes().raw(cellHead(row, col, xf)).raw(result).u16(0).u32(0).u16(0).b);
}
inline std::string numberResult(double v) { return Bytes().f64(v).b; }
// kind: 0 text (a STRING record follows), 1 Boolean, 2 error, 3 empty text.
inline std::string specialResult(unsigned kind, unsigned value = 0) {
  return Bytes().u8(kind).u8(0).u8(value).u8(0).u16(0).u16(0xFFFF).b;
}
// The STRING record of a text result, the characters from splitAt on moved
// into a CONTINUE record that begins with its own option byte (wide there).
inline std::string stringResult(const std::u16string& s, size_t splitAt = std::u16string::npos) {
  if (splitAt >= s.size()) return record(0x0207, Bytes().text(s).b);
  Bytes first;
  first.u16(static_cast<unsigned>(s.size())).u8(0);
  for (size_t i = 0; i < splitAt; ++i) first.u8(s[i]);
  Bytes rest;
  rest.u8(1);
  for (size_t i = splitAt; i < s.size(); ++i) rest.u16(s[i]);
  return record(0x0207, first.b) + record(0x003C, rest.b);
}

struct Sheet {
  std::string name;  // Latin-1 or UTF-16 code units as given
  std::u16string wideName;
  unsigned type = 0;  // 0 worksheet, 2 chart
  std::string records;  // between BOF and EOF
};

struct Book {
  bool biff8 = true;
  std::string globals;  // records after the BOF, before the sheet list
  std::vector<Sheet> sheets;
  std::string tail;     // records after the sheet list (SST, ...)

  std::string stream() const {
    std::vector<std::string> entries(sheets.size());
    auto boundSheet = [&](const Sheet& s, uint32_t offset) {
      Bytes b;
      b.u32(offset).u8(0).u8(s.type);
      if (biff8) b.text(s.wideName.empty() ? std::u16string(s.name.begin(), s.name.end()) : s.wideName, false);
      else b.u8(static_cast<unsigned>(s.name.size())).raw(s.name);
      return record(0x0085, b.b);
    };
    size_t size = bof(biff8, 5).size() + globals.size() + tail.size() + eof().size();
    for (const Sheet& s : sheets) size += boundSheet(s, 0).size();
    std::string out = bof(biff8, 5) + globals;
    size_t offset = size;
    std::string bodies;
    for (const Sheet& s : sheets) {
      out += boundSheet(s, static_cast<uint32_t>(offset));
      std::string body = bof(biff8, s.type == 2 ? 0x20 : 0x10) + s.records + eof();
      offset += body.size();
      bodies += body;
    }
    return out + tail + eof() + bodies;
  }

  void save(const std::string& path, const std::string& override = {}) const {
    std::string data = override.empty() ? stream() : override;
    gsf_init();
    GError* err = nullptr;
    GsfOutput* file = gsf_output_stdio_new(path.c_str(), &err);
    if (!file) throw std::runtime_error("cannot write " + path);
    GsfOutfile* ole = gsf_outfile_msole_new(file);
    GsfOutput* child = gsf_outfile_new_child(ole, biff8 ? "Workbook" : "Book", FALSE);
    gsf_output_write(child, data.size(), reinterpret_cast<const guint8*>(data.data()));
    gsf_output_close(child);
    g_object_unref(child);
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    g_object_unref(file);
  }
};

}  // namespace biff
