// The settings are read from the project definition at every OutputFile, so
// a generator that a script runs on its own behaves as in a run. The file is
// read with the store's lenient reader; nothing in it is changed or created,
// and a missing Setup node or attribute simply means the default.
#include "generator/pages/value_escaping.h"

#include "common/ascii.h"
#include "common/automation_error.h"
#include "common/variant.h"
#include "store/dom.h"

namespace quill::pages {

namespace {

// The child of node with that tag name, without creating it.
DomNodeRef childNamed(const DomNodeRef& node, std::string_view name) {
  for (const DomNodeRef& child : node->children())
    if (child->tagName() == name) return child;
  return nullptr;
}

std::vector<std::string> splitNames(std::string_view text) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of(" ,;\t", start);
    const std::string_view name = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!name.empty()) names.emplace_back(name);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return names;
}

}  // namespace

std::string escapeHtml(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 16);
  for (size_t i = 0; i < value.size(); ++i) {
    switch (const char c = value[i]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\r':
        if (i + 1 < value.size() && value[i + 1] == '\n') ++i;
        out += "<br>";
        break;
      case '\n': out += "<br>"; break;
      default: out += c;
    }
  }
  return out;
}

ValueEscaping::ValueEscaping(bool enabled, std::vector<std::string> rawColumns)
    : enabled_(enabled), rawColumns_(std::move(rawColumns)) {}

ValueEscaping ValueEscaping::forProject(const std::string& projectFolder) {
  try {
    auto doc = cvDomDoc::create();
    doc->readDoc(projectFolder + "ProjectDef.prj");
    const DomNodeRef setup = doc->root() ? childNamed(doc->root(), "Setup") : nullptr;
    if (!setup) return {};
    const std::string* escape = setup->attrTable().find("EscapeValues");
    if (!escape || !Variant(*escape).toBool()) return {};
    const std::string* raw = setup->attrTable().find("RawColumns");
    return ValueEscaping(true, raw ? splitNames(*raw) : std::vector<std::string>());
  } catch (const AutomationError&) {
    return {};  // no readable project definition: values unchanged
  }
}

bool ValueEscaping::isRaw(std::string_view column) const {
  for (const std::string& raw : rawColumns_)
    if (equalsIgnoringAsciiCase(raw, column)) return true;
  return false;
}

std::string_view ValueEscaping::apply(std::string_view column, std::string_view value, std::string& scratch) const {
  if (!enabled_ || value.find_first_of("&<>\"'\r\n") == std::string_view::npos || isRaw(column)) return value;
  scratch = escapeHtml(value);
  return scratch;
}

}  // namespace quill::pages
