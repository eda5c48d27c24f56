// Writes zip packages part by part for the import tests: .xlsx and .ods
// parts written by hand, parts whose compressed data is given as it is (a
// zip bomb), and parts marked as encrypted.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace ziptest {

struct Part {
  std::string name;
  std::string data;               // the part's bytes
  bool deflate = true;
  std::string compressed;         // when set: raw deflate data written as it is
  uint64_t declaredSize = 0;      // with compressed: the size the header declares
  bool encrypted = false;         // sets the "encrypted" flag
};

// Raw deflate (no zlib header) of data; with fullFlush the result ends on a
// byte boundary without a final block, so that copies can be chained.
inline std::string deflateRaw(const std::string& data, bool fullFlush = false) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, fullFlush ? Z_FULL_FLUSH : Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline void put16(std::string& s, unsigned v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8 & 0xFF));
}
inline void put32(std::string& s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

inline std::string zip(const std::vector<Part>& parts) {
  std::string out, directory;
  for (const Part& p : parts) {
    const bool raw = !p.compressed.empty();
    const std::string body = raw ? p.compressed : p.deflate ? deflateRaw(p.data) : p.data;
    const unsigned method = raw || p.deflate ? 8 : 0;
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(p.data.data()), static_cast<uInt>(p.data.size())));
    const uint32_t size = static_cast<uint32_t>(raw ? p.declaredSize : p.data.size());
    const unsigned flags = p.encrypted ? 1 : 0;
    const uint32_t offset = static_cast<uint32_t>(out.size());
    put32(out, 0x04034b50);
    put16(out, 20), put16(out, flags), put16(out, method), put16(out, 0), put16(out, 0x21);
    put32(out, crc), put32(out, static_cast<uint32_t>(body.size())), put32(out, size);
    put16(out, static_cast<unsigned>(p.name.size())), put16(out, 0);
    out += p.name + body;
    put32(directory, 0x02014b50);
    put16(directory, 20), put16(directory, 20), put16(directory, flags), put16(directory, method);
    put16(directory, 0), put16(directory, 0x21);
    put32(directory, crc), put32(directory, static_cast<uint32_t>(body.size())), put32(directory, size);
    put16(directory, static_cast<unsigned>(p.name.size())), put16(directory, 0), put16(directory, 0);
    put16(directory, 0), put16(directory, 0), put32(directory, 0), put32(directory, offset);
    directory += p.name;
  }
  const uint32_t directoryOffset = static_cast<uint32_t>(out.size());
  out += directory;
  put32(out, 0x06054b50);
  put16(out, 0), put16(out, 0);
  put16(out, static_cast<unsigned>(parts.size())), put16(out, static_cast<unsigned>(parts.size()));
  put32(out, static_cast<uint32_t>(directory.size())), put32(out, directoryOffset), put16(out, 0);
  return out;
}

// An .xlsx package: worksheets (name and the XML inside <worksheet>, or a
// chart sheet when the XML is empty), shared texts (<si> elements), styles
// (<cellXfs> and <numFmts>) and the workbook's properties element.
struct Xlsx {
  std::vector<std::pair<std::string, std::string>> sheets;
  std::string sharedStrings, styles, workbookPr;

  std::vector<Part> parts() const {
    const std::string ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    std::string list, rels;
    std::vector<Part> parts;
    // The sheet parts are numbered backwards, so that only the relationships give the order.
    for (size_t i = 0; i < sheets.size(); ++i) {
      const std::string id = "rId" + std::to_string(i + 10);
      const bool chart = sheets[i].second.empty();
      const std::string part = (chart ? "chartsheets/sheet" : "worksheets/sheet") + std::to_string(sheets.size() - i) + ".xml";
      list += "<sheet name=\"" + sheets[i].first + "\" sheetId=\"" + std::to_string(i + 1) + "\" r:id=\"" + id + "\"/>";
      rels += "<Relationship Id=\"" + id + "\" Type=\"" + rel + (chart ? "chartsheet" : "worksheet") +
              "\" Target=\"" + (i + 1 == sheets.size() ? "/xl/" + part : part) + "\"/>";
      parts.push_back({"xl/" + part, chart ? "<chartsheet " + ns + "/>" : "<worksheet " + ns + ">" + sheets[i].second + "</worksheet>"});
    }
    rels += "<Relationship Id=\"rId1\" Type=\"" + rel + "styles\" Target=\"styles.xml\"/>"
            "<Relationship Id=\"rId2\" Type=\"" + rel + "sharedStrings\" Target=\"sharedStrings.xml\"/>";
    parts.push_back({"[Content_Types].xml", "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"});
    parts.push_back({"_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                    "<Relationship Id=\"rId1\" Type=\"" + rel + "officeDocument\" Target=\"xl/workbook.xml\"/>"
                                    "</Relationships>"});
    parts.push_back({"xl/workbook.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<workbook " + ns + ">" +
                                            workbookPr + "<sheets>" + list + "</sheets></workbook>"});
    parts.push_back({"xl/_rels/workbook.xml.rels",
                     "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + rels + "</Relationships>"});
    parts.push_back({"xl/styles.xml", "<styleSheet " + ns + ">" + styles + "</styleSheet>"});
    parts.push_back({"xl/sharedStrings.xml", "<sst " + ns + ">" + sharedStrings + "</sst>"});
    return parts;
  }
};

// An .ods package around the <table:table> elements given.
inline std::vector<Part> ods(const std::string& tables, const std::string& extraNamespaces = "") {
  const std::string content =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content "
      "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\" " +
      extraNamespaces + "><office:body><office:spreadsheet>" + tables +
      "</office:spreadsheet></office:body></office:document-content>";
  return {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", false},
          {"content.xml", content},
          {"META-INF/manifest.xml",
           "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
           "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
           "</manifest:manifest>"}};
}

inline void save(const std::string& path, const std::vector<Part>& parts) {
  std::ofstream(path, std::ios::binary) << zip(parts);
}

}  // namespace ziptest
