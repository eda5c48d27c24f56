// How catalogue values go into pages. By default exactly as they are in the
// workbook, so that a shop owner's <b> works (and older designs look as they
// always did). A project may ask for HTML escaping in its Setup node:
//
//   <Setup EscapeValues="1" RawColumns="COL7"> ... </Setup>
//
// Then & < > " ' in every value become entities and line breaks become <br>,
// except in the columns RawColumns names (separated by blanks or commas,
// letter case ignored), which stay unchanged. Values derived from a column
// (a group's name and letter from COL2, an item's code and its letters from
// COL1) follow that column.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quill::pages {

// value with & < > " ' as entities and each line break (CR LF, CR or LF) as <br>.
std::string escapeHtml(std::string_view value);

class ValueEscaping {
 public:
  ValueEscaping() = default;  // values unchanged
  ValueEscaping(bool enabled, std::vector<std::string> rawColumns);

  // The settings of the project whose definition is projectFolder +
  // "ProjectDef.prj"; unchanged values when it has none or cannot be read.
  static ValueEscaping forProject(const std::string& projectFolder);

  bool enabled() const noexcept { return enabled_; }
  bool isRaw(std::string_view column) const;

  // The value of column as it goes into a page: value itself, or its escaped
  // form kept in scratch.
  std::string_view apply(std::string_view column, std::string_view value, std::string& scratch) const;

 private:
  bool enabled_ = false;
  std::vector<std::string> rawColumns_;
};

}  // namespace quill::pages
