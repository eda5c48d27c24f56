// How the parts are found: _rels/.rels names the workbook part; the
// workbook part's own relationships (<dir>/_rels/<name>.rels) name the
// worksheet, style and shared-text parts by id, and the workbook part lists
// the sheets in workbook order with those ids. Elements are matched by their
// local names, so both namespace families of the format, and any prefixes,
// are read alike.
//
// A worksheet's cells are handled in one pass of SAX events: <c> starts a
// cell (reference, type, style), <v> and the <t> runs of an inline string
// collect its value, </c> turns the value into text and hands it to the
// sink. Cell and row references may be left out; then the cell follows the
// previous one.
#include "generator/import/xlsx_reader.h"

#include <charconv>
#include <unordered_map>
#include <vector>

#include "generator/import/cell_text.h"
#include "generator/import/shared_strings.h"
#include "generator/import/xml_stream.h"
#include "generator/import/zip_package.h"

namespace quill::xlsx {
namespace {

struct Relationship {
  std::string type;
  std::string target;  // part name, resolved
};

bool endsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The folder of a part name, with its trailing slash ("" at the root).
std::string folderOf(const std::string& part) {
  size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// A relationship target relative to folder (or absolute) as a part name.
std::string resolve(const std::string& folder, std::string_view target) {
  std::string path = !target.empty() && target[0] == '/' ? std::string(target.substr(1))
                                                          : folder + std::string(target);
  std::vector<std::string> segments;
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(begin, end - begin);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(std::move(segment));
    }
    begin = end + 1;
  }
  std::string out;
  for (const auto& s : segments) out += (out.empty() ? "" : "/") + s;
  return out;
}

// Decodes the _xHHHH_ escapes with which the format writes control
// characters (and "_x005F_" for a literal underscore) into out.
void unescape(std::string_view in, std::string& out) {
  out.clear();
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  auto escapeAt = [&](size_t i) -> int {  // the code unit of an escape at i, or -1
    if (i + 7 > in.size() || in[i] != '_' || in[i + 1] != 'x' || in[i + 6] != '_') return -1;
    int v = 0;
    for (size_t k = 2; k < 6; ++k) {
      int h = hex(in[i + k]);
      if (h < 0) return -1;
      v = v * 16 + h;
    }
    return v;
  };
  for (size_t i = 0; i < in.size();) {
    int unit = in[i] == '_' ? escapeAt(i) : -1;
    if (unit < 0) {
      out.push_back(in[i++]);
      continue;
    }
    i += 7;
    uint32_t cp = static_cast<uint32_t>(unit);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      int low = escapeAt(i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
        i += 7;
      }
    }
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
}

// Text that may hold escapes, decoded only when it has an underscore.
std::string_view plainText(std::string_view text, std::string& scratch) {
  if (text.find("_x") == std::string_view::npos) return text;
  unescape(text, scratch);
  return scratch;
}

template <class T>
bool parseUnsigned(std::string_view text, T& value) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// "B12" -> column 1, row 11 (from 0). False for anything else.
bool parseCellReference(std::string_view ref, uint32_t& column, uint32_t& row) {
  size_t i = 0;
  uint32_t c = 0;
  for (; i < ref.size() && i < 4; ++i) {
    char ch = ref[i];
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    if (ch < 'A' || ch > 'Z') break;
    c = c * 26 + static_cast<uint32_t>(ch - 'A' + 1);
  }
  uint32_t r = 0;
  if (i == 0 || c > kMaxSheetColumns || !parseUnsigned(ref.substr(i), r) || r < 1 || r > kMaxSheetRows)
    return false;
  column = c - 1;
  row = r - 1;
  return true;
}

// Collects the Relationship elements of a relationships part.
class RelationshipsHandler : public XmlHandler {
 public:
  explicit RelationshipsHandler(std::string folder) : folder_(std::move(folder)) {}
  std::unordered_map<std::string, Relationship> byId;

  void startElement(const char* name, const char** attributes) override {
    if (localName(name) != "Relationship") return;
    const char* id = attribute(attributes, "Id");
    const char* type = attribute(attributes, "Type");
    const char* target = attribute(attributes, "Target");
    const char* mode = attribute(attributes, "TargetMode");
    if (!id || !type || !target || (mode && std::string_view(mode) == "External")) return;
    byId.emplace(id, Relationship{type, resolve(folder_, target)});
  }
  void endElement(const char*) override {}
  void characters(const char*, int) override {}

 private:
  std::string folder_;
};

struct SheetEntry {
  std::string name;
  std::string relationshipId;
};

class WorkbookHandler : public XmlHandler {
 public:
  std::vector<SheetEntry> sheets;
  bool date1904 = false;
  bool isWorkbook = false;

  void startElement(const char* name, const char** attributes) override {
    const std::string_view local = localName(name);
    if (depth_++ == 0) isWorkbook = local == "workbook";
    if (local == "workbookPr") {
      const char* v = attribute(attributes, "date1904");
      date1904 = v && (std::string_view(v) == "1" || std::string_view(v) == "true");
    } else if (local == "sheet") {
      SheetEntry entry;
      for (const char** a = attributes; *a; a += 2) {
        if (std::strcmp(a[0], "name") == 0) entry.name = a[1];
        // r:id, whatever the relationships namespace's prefix.
        else if (std::strchr(a[0], ':') && localName(a[0]) == "id") entry.relationshipId = a[1];
      }
      sheets.push_back(std::move(entry));
    }
  }
  void endElement(const char*) override { --depth_; }
  void characters(const char*, int) override {}

 private:
  int depth_ = 0;
};

// Which cell formats (the cellXfs list) show dates.
class StylesHandler : public XmlHandler {
 public:
  std::vector<bool> xfIsDate;

  void startElement(const char* name, const char** attributes) override {
    const std::string_view local = localName(name);
    if (local == "numFmt") {
      const char* id = attribute(attributes, "numFmtId");
      const char* code = attribute(attributes, "formatCode");
      uint32_t n;
      if (id && code && parseUnsigned(std::string_view(id), n)) customIsDate_[n] = cells::isDateFormat(code);
    } else if (local == "cellXfs") {
      inCellXfs_ = true;
    } else if (local == "xf" && inCellXfs_) {
      const char* id = attribute(attributes, "numFmtId");
      uint32_t n = 0;
      if (id && !parseUnsigned(std::string_view(id), n)) n = 0;
      formats_.push_back(n);
    }
  }
  void endElement(const char* name) override {
    if (localName(name) == "cellXfs") inCellXfs_ = false;
  }
  void characters(const char*, int) override {}

  void finish() {
    xfIsDate.reserve(formats_.size());
    for (uint32_t id : formats_) {
      auto it = customIsDate_.find(id);
      xfIsDate.push_back(it != customIsDate_.end() ? it->second
                                                   : id <= 0xFFFF && cells::isBuiltinDateFormat(static_cast<uint16_t>(id)));
    }
  }

 private:
  std::unordered_map<uint32_t, bool> customIsDate_;
  std::vector<uint32_t> formats_;
  bool inCellXfs_ = false;
};

// Appends the text of <t> elements that are not phonetic guides (<rPh>).
class TextCollector {
 public:
  void start(std::string_view local) {
    if (local == "rPh") ++phonetic_;
    else if (local == "t" && phonetic_ == 0) collecting_ = true;
  }
  void end(std::string_view local) {
    if (local == "rPh") --phonetic_;
    else if (local == "t") collecting_ = false;
  }
  bool collecting() const { return collecting_; }
  void reset() { phonetic_ = 0, collecting_ = false; }

 private:
  int phonetic_ = 0;
  bool collecting_ = false;
};

class SharedStringsHandler : public XmlHandler {
 public:
  SharedStringsHandler(SharedStrings& strings, const ZipPackage& package)
      : strings_(strings), package_(package) {}

  void startElement(const char* name, const char**) override {
    const std::string_view local = localName(name);
    if (local == "si") {
      text_.clear();
      collector_.reset();
    } else {
      collector_.start(local);
    }
  }
  void endElement(const char* name) override {
    const std::string_view local = localName(name);
    if (local == "si") {
      if (!strings_.add(plainText(text_, scratch_))) package_.damaged("its shared texts exceed 4 GB");
    } else {
      collector_.end(local);
    }
  }
  void characters(const char* text, int length) override {
    if (!collector_.collecting()) return;
    if (text_.size() + static_cast<size_t>(length) > kMaxCellBytes)
      package_.damaged("one of its shared texts is longer than 16 MB");
    text_.append(text, static_cast<size_t>(length));
  }

 private:
  SharedStrings& strings_;
  const ZipPackage& package_;
  TextCollector collector_;
  std::string text_, scratch_;
};

enum class CellType { Number, Shared, Text, Inline, Boolean, Error, Date };

// One worksheet part's cells into a sink.
class SheetHandler : public XmlHandler {
 public:
  SheetHandler(CellSink& sink, SharedStrings& strings, const std::vector<bool>& xfIsDate, bool date1904,
               const ZipPackage& package, const std::string& sheetName)
      : sink_(sink), strings_(strings), xfIsDate_(xfIsDate), date1904_(date1904), package_(package),
        sheetName_(sheetName) {}

  void startElement(const char* name, const char** attributes) override {
    const std::string_view local = localName(name);
    if (local == "c") {
      startCell(attributes);
    } else if (local == "v") {
      value_.clear();
      inValue_ = true;
    } else if (local == "is") {
      inInline_ = true;
      inlineText_.clear();
      collector_.reset();
    } else if (inInline_) {
      collector_.start(local);
    } else if (local == "row") {
      const char* r = attribute(attributes, "r");
      uint32_t n = 0;
      if (r) {
        if (!parseUnsigned(std::string_view(r), n) || n < 1 || n > kMaxSheetRows)
          damaged("has a row numbered " + quoted(r));
        row_ = n - 1;
      } else {
        row_ = row_ == kNone ? 0 : row_ + 1;
      }
      column_ = kNone;
    } else if (local == "dimension") {
      const char* ref = attribute(attributes, "ref");
      std::string_view last = ref ? std::string_view(ref) : std::string_view();
      if (size_t colon = last.find(':'); colon != std::string_view::npos) last = last.substr(colon + 1);
      uint32_t column = 0, row = 0;
      if (parseCellReference(last, column, row)) reportDimensions(row + 1, column + 1);
    } else if (local == "sheetData") {
      reportDimensions(0, 0);
    }
  }

  void endElement(const char* name) override {
    const std::string_view local = localName(name);
    if (local == "v") {
      inValue_ = false;
      hasValue_ = true;
    } else if (local == "is") {
      inInline_ = false;
      hasInline_ = true;
    } else if (inInline_) {
      collector_.end(local);
    } else if (local == "c") {
      endCell();
    }
  }

  void characters(const char* text, int length) override {
    std::string* target = inValue_ ? &value_ : inInline_ && collector_.collecting() ? &inlineText_ : nullptr;
    if (!target) return;
    if (target->size() + static_cast<size_t>(length) > kMaxCellBytes)
      damaged("has a cell with more than 16 MB of text");
    target->append(text, static_cast<size_t>(length));
  }

  void finish() { reportDimensions(0, 0); }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  [[noreturn]] void damaged(const std::string& what) const {
    package_.damaged("worksheet \"" + sheetName_ + "\" " + what);
  }

  void reportDimensions(uint32_t rows, uint32_t columns) {
    if (dimensionsReported_) return;
    dimensionsReported_ = true;
    sink_.dimensions(rows, columns);
  }

  void startCell(const char** attributes) {
    const char* r = nullptr;
    const char* t = nullptr;
    const char* s = nullptr;
    for (const char** a = attributes; *a; a += 2) {
      const char* n = a[0];
      if (n[0] != '\0' && n[1] == '\0') {
        if (n[0] == 'r') r = a[1];
        else if (n[0] == 't') t = a[1];
        else if (n[0] == 's') s = a[1];
      }
    }
    if (r) {
      if (!parseCellReference(r, column_, row_)) damaged("has a cell named " + quoted(r));
    } else {
      if (row_ == kNone) row_ = 0;
      column_ = column_ == kNone ? 0 : column_ + 1;
      if (column_ >= kMaxSheetColumns) damaged("has a cell beyond column XFD");
    }
    type_ = t ? cellType(t) : CellType::Number;
    style_ = 0;
    if (s && !parseUnsigned(std::string_view(s), style_)) style_ = 0;
    hasValue_ = hasInline_ = false;
    value_.clear();
  }

  CellType cellType(std::string_view t) const {
    if (t == "n") return CellType::Number;
    if (t == "s") return CellType::Shared;
    if (t == "str") return CellType::Text;
    if (t == "inlineStr") return CellType::Inline;
    if (t == "b") return CellType::Boolean;
    if (t == "e") return CellType::Error;
    if (t == "d") return CellType::Date;
    damaged("has a cell of unknown type " + quoted(t));
  }

  void endCell() {
    std::string_view text;
    if (type_ == CellType::Inline || hasInline_) {
      text = plainText(hasInline_ ? std::string_view(inlineText_) : std::string_view(value_), scratch_);
    } else if (!hasValue_ || value_.empty()) {
      return;  // no value, or a formula whose result was never calculated
    } else if (type_ == CellType::Shared) {
      size_t index = 0;
      if (!parseUnsigned(std::string_view(value_), index) || index >= strings_.size())
        damaged("has a cell that refers to a missing shared text");
      text = strings_.at(index);  // unescaped when it was read
    } else if (type_ == CellType::Text || type_ == CellType::Error) {
      text = plainText(value_, scratch_);
    } else if (type_ == CellType::Boolean) {
      text = value_ == "1" || value_ == "true" ? "TRUE" : "FALSE";
    } else if (type_ == CellType::Date) {
      if (!cells::isoDateText(value_, scratch_)) damaged("has a cell with the date " + quoted(value_));
      text = scratch_;
    } else {
      double number;
      if (!cells::parseNumber(value_, number))
        damaged("has a cell whose number " + quoted(value_) + " cannot be read");
      const bool isDate = style_ < xfIsDate_.size() && xfIsDate_[style_];
      if (!(isDate && cells::dateText(number, date1904_, scratch_))) cells::numberText(number, scratch_);
      text = scratch_;
    }
    if (!text.empty()) {
      reportDimensions(0, 0);
      sink_.cell(row_, column_, text);
    }
  }

  CellSink& sink_;
  SharedStrings& strings_;
  const std::vector<bool>& xfIsDate_;
  const bool date1904_;
  const ZipPackage& package_;
  const std::string& sheetName_;
  bool dimensionsReported_ = false;
  uint32_t row_ = kNone, column_ = kNone;
  CellType type_ = CellType::Number;
  uint32_t style_ = 0;
  bool inValue_ = false, hasValue_ = false, inInline_ = false, hasInline_ = false;
  TextCollector collector_;
  std::string value_, inlineText_, scratch_;
};

}  // namespace

struct XlsxReader::Impl {
  std::unique_ptr<ZipPackage> package;
  std::string workbookPart;
  std::vector<SheetEntry> sheets;  // worksheets only, in workbook order
  std::vector<std::string> sheetParts;
  std::vector<bool> xfIsDate;
  bool date1904 = false;
  SharedStrings strings;
  size_t current = 0;  // 1 + the index of the current worksheet

  void parse(const std::string& part, XmlHandler& handler) {
    auto source = package->open(part);
    XmlStream xml(*source, handler, *package, part);
    while (xml.parse()) {
    }
  }

  std::unordered_map<std::string, Relationship> relationships(const std::string& part) {
    const std::string folder = folderOf(part);
    const std::string relsPart = folder + "_rels/" + part.substr(folder.size()) + ".rels";
    RelationshipsHandler handler(folder);
    if (package->has(relsPart)) parse(relsPart, handler);
    return std::move(handler.byId);
  }

  void open() {
    for (const auto& [id, rel] : relationships(""))
      if (endsWith(rel.type, "/officeDocument")) workbookPart = rel.target;
    if (workbookPart.empty()) workbookPart = "xl/workbook.xml";
    if (!package->has(workbookPart))
      throw WorkbookError("The file " + package->path() +
                          " is not a spreadsheet workbook: its package holds no workbook part.");
    WorkbookHandler workbook;
    parse(workbookPart, workbook);
    if (!workbook.isWorkbook)
      throw WorkbookError("The file " + package->path() +
                          " is not a spreadsheet workbook: its package holds another kind of document.");
    date1904 = workbook.date1904;

    const auto rels = relationships(workbookPart);
    for (const auto& sheet : workbook.sheets) {
      auto it = rels.find(sheet.relationshipId);
      if (it == rels.end())
        package->damaged("the part of worksheet \"" + sheet.name + "\" is not named in the workbook's relationships");
      if (!endsWith(it->second.type, "/worksheet")) continue;  // chart, dialog or macro sheet
      sheets.push_back(sheet);
      sheetParts.push_back(it->second.target);
    }
    for (const auto& [id, rel] : rels) {
      if (endsWith(rel.type, "/styles") && package->has(rel.target)) {
        StylesHandler styles;
        parse(rel.target, styles);
        styles.finish();
        xfIsDate = std::move(styles.xfIsDate);
      }
    }
    for (const auto& [id, rel] : rels) {
      if (endsWith(rel.type, "/sharedStrings") && package->has(rel.target)) {
        SharedStringsHandler handler(strings, *package);
        parse(rel.target, handler);
      }
    }
  }
};

XlsxReader::XlsxReader(std::unique_ptr<ZipPackage> package) : impl_(std::make_unique<Impl>()) {
  impl_->package = std::move(package);
  impl_->open();
}

XlsxReader::~XlsxReader() = default;

bool XlsxReader::nextWorksheet(std::string& name) {
  if (impl_->current >= impl_->sheets.size()) return false;
  name = impl_->sheets[impl_->current++].name;
  return true;
}

void XlsxReader::readWorksheet(CellSink& sink) {
  const size_t index = impl_->current - 1;
  SheetHandler handler(sink, impl_->strings, impl_->xfIsDate, impl_->date1904, *impl_->package,
                       impl_->sheets[index].name);
  impl_->parse(impl_->sheetParts.at(index), handler);
  handler.finish();
}

}  // namespace quill::xlsx
