// content.xml is walked with one SAX handler that keeps the element depth.
// A worksheet is a <table:table> directly inside <office:spreadsheet>; its
// rows are the <table:table-row> elements below it (inside row groups and
// header rows too) that are not inside a cell. A cell's value comes from
// its attributes (office:value-type and the value attribute of that type);
// only text cells need the cell's paragraphs, which are joined with line
// breaks, with <text:s>, <text:tab> and <text:line-break> spelled out and
// notes, annotations, drawings and ruby readings left out.
//
// A row that is not repeated sends its cells to the sink as they end; the
// cells of a repeated row are held until the row ends and then sent once
// per repetition. A repeated run of empty rows or cells only moves the
// position, so a million trailing empty rows cost nothing.
#include "generator/import/ods_reader.h"

#include <charconv>
#include <vector>

#include "generator/import/cell_text.h"
#include "generator/import/xml_stream.h"
#include "generator/import/zip_package.h"

namespace quill::ods {
namespace {

bool is(const char* name, const std::string& qualified) { return std::strcmp(name, qualified.c_str()) == 0; }

// The qualified names the reader compares with, under the prefixes that the
// document declares on its root element (the usual ones where it declares
// none).
struct Names {
  std::string documentContent, document, spreadsheet, table, tableName, tableRow, rowsRepeated, tableCell,
      coveredCell, columnsRepeated, valueType, value, dateValue, timeValue, booleanValue, stringValue,
      calcextValueType, p, s, c, tab, lineBreak, note, rubyText, annotation, drawPrefix;

  void declare(const char** attributes) {
    std::string office = "office", table = "table", text = "text", calcext = "calcext", draw = "draw";
    for (const char** a = attributes; *a; a += 2) {
      const std::string_view name(a[0]), uri(a[1]);
      if (name != "xmlns" && name.rfind("xmlns:", 0) != 0) continue;
      const std::string prefix(name.size() > 5 ? name.substr(6) : std::string_view());
      if (uri == "urn:oasis:names:tc:opendocument:xmlns:office:1.0") office = prefix;
      else if (uri == "urn:oasis:names:tc:opendocument:xmlns:table:1.0") table = prefix;
      else if (uri == "urn:oasis:names:tc:opendocument:xmlns:text:1.0") text = prefix;
      else if (uri == "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0") calcext = prefix;
      else if (uri == "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0") draw = prefix;
    }
    auto q = [](const std::string& prefix, const char* local) {
      return prefix.empty() ? std::string(local) : prefix + ":" + local;
    };
    documentContent = q(office, "document-content"), document = q(office, "document");
    spreadsheet = q(office, "spreadsheet"), annotation = q(office, "annotation");
    valueType = q(office, "value-type"), value = q(office, "value"), dateValue = q(office, "date-value");
    timeValue = q(office, "time-value"), booleanValue = q(office, "boolean-value");
    stringValue = q(office, "string-value");
    this->table = q(table, "table"), tableName = q(table, "name"), tableRow = q(table, "table-row");
    rowsRepeated = q(table, "number-rows-repeated"), tableCell = q(table, "table-cell");
    coveredCell = q(table, "covered-table-cell"), columnsRepeated = q(table, "number-columns-repeated");
    calcextValueType = q(calcext, "value-type");
    p = q(text, "p"), s = q(text, "s"), c = q(text, "c"), tab = q(text, "tab");
    lineBreak = q(text, "line-break"), note = q(text, "note"), rubyText = q(text, "ruby-text");
    drawPrefix = draw.empty() ? "" : draw + ":";
  }
};

uint64_t repeatCount(const char* text) {
  uint64_t n = 1;
  if (!text) return 1;
  std::string_view s(text);
  auto r = std::from_chars(s.data(), s.data() + s.size(), n);
  return r.ec == std::errc() && n >= 1 ? n : 1;
}

enum class ValueType { None, Number, Date, Time, Boolean, String };

ValueType valueType(const char* text) {
  if (!text) return ValueType::None;
  std::string_view t(text);
  if (t == "float" || t == "percentage" || t == "currency") return ValueType::Number;
  if (t == "date") return ValueType::Date;
  if (t == "time") return ValueType::Time;
  if (t == "boolean") return ValueType::Boolean;
  return ValueType::String;
}

// Whether the manifest marks content.xml as encrypted.
class ManifestHandler : public XmlHandler {
 public:
  bool contentEncrypted = false;

  void startElement(const char* name, const char** attributes) override {
    if (localName(name) == "file-entry") {
      const char* path = nullptr;
      for (const char** a = attributes; *a; a += 2)
        if (localName(a[0]) == "full-path") path = a[1];
      inContent_ = path && std::string_view(path) == "content.xml";
    } else if (localName(name) == "encryption-data" && inContent_) {
      contentEncrypted = true;
    }
  }
  void endElement(const char* name) override {
    if (localName(name) == "file-entry") inContent_ = false;
  }
  void characters(const char*, int) override {}

 private:
  bool inContent_ = false;
};

class ContentHandler : public XmlHandler {
 public:
  explicit ContentHandler(const ZipPackage& package) : package_(package) {}

  void setStream(XmlStream* xml) { xml_ = xml; }
  void setSink(CellSink* sink) { sink_ = sink; }
  size_t sheetsStarted() const { return sheetsStarted_; }
  bool inSheet() const { return sheetDepth_ != 0; }
  const std::string& sheetName() const { return sheetName_; }

  void startElement(const char* name, const char** attributes) override {
    ++depth_;
    if (depth_ == 1) {
      n_.declare(attributes);
      if (!is(name, n_.documentContent) && !is(name, n_.document))
        throw WorkbookError("The file " + package_.path() + " is not an OpenDocument spreadsheet.");
      return;
    }
    if (cellDepth_) {
      startInCell(name, attributes);
    } else if (sheetDepth_) {
      if (is(name, n_.tableCell) || is(name, n_.coveredCell)) startCell(attributes);
      else if (is(name, n_.tableRow)) startRow(attributes);
    } else if (spreadsheetDepth_ && depth_ == spreadsheetDepth_ + 1 && is(name, n_.table)) {
      const char* sheet = attribute(attributes, n_.tableName.c_str());
      sheetName_ = sheet ? sheet : "";
      sheetDepth_ = depth_;
      row_ = 0;
      ++sheetsStarted_;
      xml_->pause();
    } else if (!spreadsheetDepth_ && is(name, n_.spreadsheet)) {
      spreadsheetDepth_ = depth_;
    }
  }

  void endElement(const char* name) override {
    if (cellDepth_) {
      if (depth_ == cellDepth_) endCell();
      else endInCell(name);
    } else if (sheetDepth_) {
      if (depth_ == sheetDepth_) {
        sheetDepth_ = 0;
        xml_->pause();
      } else if (depth_ == rowDepth_) {
        endRow();
      }
    } else if (depth_ == spreadsheetDepth_) {
      spreadsheetDepth_ = 0;
    }
    --depth_;
  }

  // White space in a paragraph's character data is collapsed: tabs and line
  // breaks count as blanks, a run of blanks is one, and blanks at the start
  // and end of the paragraph are dropped (<text:s> and <text:tab> spell out
  // the blanks that count).
  void characters(const char* text, int length) override {
    if (!paragraphDepth_ || skipDepth_) return;
    const char* end = text + length;
    while (text < end) {
      const char* run = text;
      while (text < end && *text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') ++text;
      if (text > run) {
        if (pendingBlank_) append(" ", 1);
        pendingBlank_ = false;
        append(run, static_cast<size_t>(text - run));
        paragraphHasText_ = true;
      }
      for (; text < end && (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r'); ++text)
        pendingBlank_ = paragraphHasText_;
    }
  }

 private:
  struct HeldCell {
    uint32_t column;
    uint64_t repeat;
    std::string text;
  };

  [[noreturn]] void damaged(const std::string& what) const {
    package_.damaged("worksheet \"" + sheetName_ + "\" " + what);
  }

  void startRow(const char** attributes) {
    rowDepth_ = depth_;
    rowRepeat_ = repeatCount(attribute(attributes, n_.rowsRepeated.c_str()));
    column_ = 0;
    held_ = 0;
  }

  void endRow() {
    rowDepth_ = 0;
    if (held_ > 0) {
      if (row_ + rowRepeat_ > kMaxSheetRows) damaged("has values beyond row 1048576");
      uint64_t cells = 0;
      for (size_t i = 0; i < held_; ++i) cells += heldCells_[i].repeat;
      chargeCopies(cells * (rowRepeat_ - 1));
      for (uint64_t r = 0; r < rowRepeat_; ++r)
        for (size_t i = 0; i < held_; ++i)
          for (uint64_t c = 0; c < heldCells_[i].repeat; ++c)
            send(static_cast<uint32_t>(row_ + r), static_cast<uint32_t>(heldCells_[i].column + c),
                 heldCells_[i].text);
    }
    row_ += rowRepeat_;
    rowRepeat_ = 1;
  }

  // Repetition lets a few bytes stand for many cells; past a budget of
  // copies the file is refused rather than filling the database for hours.
  void chargeCopies(uint64_t copies) {
    copies_ += copies;
    if (copies_ > kMaxCopies) damaged("repeats its values in more than 16 million cells");
  }

  void startCell(const char** attributes) {
    cellDepth_ = depth_;
    columnRepeat_ = 1;
    type_ = ValueType::None;
    bool error = false;
    const char* stringValue = nullptr;
    value_.clear();
    for (const char** a = attributes; *a; a += 2) {
      const char* n = a[0];
      if (is(n, n_.valueType)) type_ = valueType(a[1]);
      else if (is(n, n_.value) || is(n, n_.dateValue) || is(n, n_.timeValue) || is(n, n_.booleanValue))
        value_ = a[1];
      else if (is(n, n_.stringValue)) stringValue = a[1];
      else if (is(n, n_.columnsRepeated)) columnRepeat_ = repeatCount(a[1]);
      else if (is(n, n_.calcextValueType)) error = std::string_view(a[1]) == "error";
    }
    // An error result is a text cell that shows the error; a text cell may
    // carry its value in office:string-value instead of its paragraphs.
    if (error) type_ = ValueType::None;
    if (type_ == ValueType::String && stringValue) {
      value_ = stringValue;
      textFromValue_ = true;
    } else {
      textFromValue_ = false;
    }
    text_.clear();
    paragraphs_ = 0;
  }

  bool wantsParagraphs() const {
    return (type_ == ValueType::String && !textFromValue_) || type_ == ValueType::None;
  }

  void startInCell(const char* name, const char** attributes) {
    if (skipDepth_) return;
    if (depth_ == cellDepth_ + 1) {
      if (is(name, n_.p) && wantsParagraphs()) {
        if (paragraphs_++ > 0) append("\n", 1);
        paragraphDepth_ = depth_;
        paragraphHasText_ = pendingBlank_ = false;
      }
      return;
    }
    if (!paragraphDepth_) return;
    if (is(name, n_.s)) {
      const uint64_t count = repeatCount(attribute(attributes, n_.c.c_str()));
      if (count > kMaxCellBytes) damaged("has a cell with more than 16 MB of text");
      appendSpacing(' ', static_cast<size_t>(count));
    } else if (is(name, n_.tab)) {
      appendSpacing('\t', 1);
    } else if (is(name, n_.lineBreak)) {
      appendSpacing('\n', 1);
    } else if (is(name, n_.note) || is(name, n_.rubyText) || is(name, n_.annotation) ||
               (!n_.drawPrefix.empty() && std::string_view(name).rfind(n_.drawPrefix, 0) == 0)) {
      skipDepth_ = depth_;
    }
  }

  void endInCell(const char*) {
    if (depth_ == skipDepth_) skipDepth_ = 0;
    else if (depth_ == paragraphDepth_) paragraphDepth_ = 0;
  }

  void endCell() {
    cellDepth_ = paragraphDepth_ = skipDepth_ = 0;
    if (!sink_) {  // a worksheet that is skipped
      column_ += columnRepeat_;
      return;
    }
    std::string_view text;
    switch (type_) {
      case ValueType::Number: {
        double number;
        if (!cells::parseNumber(value_, number)) damaged("has a cell whose number cannot be read");
        cells::numberText(number, scratch_);
        text = scratch_;
        break;
      }
      case ValueType::Date:
        if (!cells::isoDateText(value_, scratch_)) damaged("has a cell with the date " + quoted(value_));
        text = scratch_;
        break;
      case ValueType::Time: {
        double days;
        if (!cells::parseIsoDuration(value_, days)) damaged("has a cell with the time " + quoted(value_));
        if (!cells::dateText(days, false, scratch_)) cells::numberText(days, scratch_);
        text = scratch_;
        break;
      }
      case ValueType::Boolean:
        text = value_ == "true" || value_ == "1" ? "TRUE" : "FALSE";
        break;
      case ValueType::String:
        text = textFromValue_ ? std::string_view(value_) : std::string_view(text_);
        break;
      case ValueType::None:
        text = text_;
        break;
    }
    if (!text.empty()) {
      if (column_ + columnRepeat_ > kMaxSheetColumns) damaged("has values beyond column XFD");
      chargeCopies(columnRepeat_ - 1);
      if (rowRepeat_ == 1) {
        for (uint64_t c = 0; c < columnRepeat_; ++c)
          send(static_cast<uint32_t>(row_), static_cast<uint32_t>(column_ + c), text);
      } else {
        if (held_ == heldCells_.size()) heldCells_.emplace_back();
        HeldCell& h = heldCells_[held_++];
        h.column = static_cast<uint32_t>(column_);
        h.repeat = columnRepeat_;
        h.text.assign(text);
      }
    }
    column_ += columnRepeat_;
  }

  void send(uint32_t row, uint32_t column, std::string_view text) {
    if (row >= kMaxSheetRows) damaged("has values beyond row 1048576");
    sink_->cell(row, column, text);
  }

  void append(const char* text, size_t length) {
    if (text_.size() + length > kMaxCellBytes) damaged("has a cell with more than 16 MB of text");
    text_.append(text, length);
  }
  void appendSpacing(char c, size_t count) {
    if (pendingBlank_) append(" ", 1);
    if (text_.size() + count > kMaxCellBytes) damaged("has a cell with more than 16 MB of text");
    text_.append(count, c);
    pendingBlank_ = false;
    paragraphHasText_ = true;
  }

  const ZipPackage& package_;
  Names n_;
  XmlStream* xml_ = nullptr;
  CellSink* sink_ = nullptr;
  std::string sheetName_;
  size_t sheetsStarted_ = 0;
  // Depths (from 1 at the root) of the open elements that matter; 0 = none open.
  int depth_ = 0, spreadsheetDepth_ = 0, sheetDepth_ = 0, rowDepth_ = 0, cellDepth_ = 0;
  int paragraphDepth_ = 0, skipDepth_ = 0;
  uint64_t row_ = 0, rowRepeat_ = 1, column_ = 0, columnRepeat_ = 1;
  ValueType type_ = ValueType::None;
  bool textFromValue_ = false;
  int paragraphs_ = 0;
  bool paragraphHasText_ = false, pendingBlank_ = false;
  std::string value_, text_, scratch_;
  std::vector<HeldCell> heldCells_;
  size_t held_ = 0;
  static constexpr uint64_t kMaxCopies = 16u << 20;
  uint64_t copies_ = 0;
};

}  // namespace

struct OdsReader::Impl {
  std::unique_ptr<ZipPackage> package;
  std::unique_ptr<ByteSource> content;
  ContentHandler handler;
  std::unique_ptr<XmlStream> xml;
  bool ended = false;

  explicit Impl(std::unique_ptr<ZipPackage> p) : package(std::move(p)), handler(*package) {}

  // Parses on; false once content.xml has ended.
  bool parse() {
    if (!ended && !xml->parse()) ended = true;
    return !ended;
  }
};

OdsReader::OdsReader(std::unique_ptr<ZipPackage> package)
    : impl_(std::make_unique<Impl>(std::move(package))) {
  ZipPackage& p = *impl_->package;
  if (p.has("META-INF/manifest.xml")) {
    ManifestHandler manifest;
    auto source = p.open("META-INF/manifest.xml");
    XmlStream xml(*source, manifest, p, "META-INF/manifest.xml");
    while (xml.parse()) {
    }
    if (manifest.contentEncrypted)
      throw WorkbookError("The workbook " + p.path() + " is protected by a password; save it without one.");
  }
  impl_->content = p.open("content.xml");
  impl_->xml = std::make_unique<XmlStream>(*impl_->content, impl_->handler, p, "content.xml");
  impl_->handler.setStream(impl_->xml.get());
}

OdsReader::~OdsReader() = default;

bool OdsReader::nextWorksheet(std::string& name) {
  Impl& m = *impl_;
  m.handler.setSink(nullptr);
  while (m.handler.inSheet() && m.parse()) {
  }
  const size_t seen = m.handler.sheetsStarted();
  while (m.handler.sheetsStarted() == seen)
    if (!m.parse()) return false;
  name = m.handler.sheetName();
  return true;
}

void OdsReader::readWorksheet(CellSink& sink) {
  Impl& m = *impl_;
  m.handler.setSink(&sink);
  sink.dimensions(0, 0);
  while (m.handler.inSheet() && m.parse()) {
  }
  m.handler.setSink(nullptr);
}

}  // namespace quill::ods
