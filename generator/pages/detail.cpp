// clsDetail: one page per item, Output/Detail_<code>.htm, group by group (in
// group order) and within a group in code order, with the previous and next
// item of the same group. The items of a group are one cursor; the next
// item's code is read by moving the cursor before the current page is made.
#include "generator/pages/page_generators.h"

#include <algorithm>

#include "generator/pages/page_text.h"
#include "generator/report/progress.h"

namespace quill::pages {

void clsDetail::generate() {
  const std::vector<Group> groups = catalogue().groups();
  root_ = loadTemplate("HtmlTemplate/Detail.htm");
  rowFields_.clear();
  long pages = 0;
  for (const Group& group : groups) pages += catalogue().itemCountOf(group.name);
  long written = 0;
  for (const Group& group : groups) {
    currentGroup_ = group;
    groupFile_ = urlEncode(groupPageName(group.name));
    items_ = catalogue().itemsOf(group.name);
    const int code = items_.fieldIndex(column::kCode);
    previousCode_.clear();
    while (!items_.eof()) {
      readRow();
      items_.moveNext();
      if (items_.eof() || code < 0)
        nextCode_.clear();
      else
        nextCode_.assign(items_.text(code));
      makeDetailPage();  // a page that cannot be made stops the remaining ones
      previousCode_ = currentCode_;
      reportProgress(++written, std::max(pages, written));
    }
    items_.close();
  }
}

// Copies the current row into the row fields and takes its code.
void clsDetail::readRow() {
  for (int i = 0, fields = items_.fieldCount(); i < fields; ++i) {
    const char* name = items_.fieldName(i);
    // Every row has the same columns: overwrite in place when the entry is there.
    if (static_cast<size_t>(i) < rowFields_.size() && rowFields_.at(i).first == name)
      rowFields_.at(i).second.assign(items_.text(i));
    else
      rowFields_.set(name, std::string(items_.text(i)));
  }
  const std::string* code = rowFields_.find(column::kCode);
  currentCode_ = code ? *code : std::string();
}

void clsDetail::makeDetailPage() {
  checkPageName("item code", currentCode_, true);
  beginPage();
  writePart(*root_);
  savePage(detailPageName(currentCode_));
}

void clsDetail::writeContainer(MarlPart& child) {
  child.vars().reset();
  const std::string& key = child.key();
  if (key == "Detail") {
    groupLetter_ = upperCharacter(currentCode_, 0);
    setValue(child, "GroupLetter", column::kCode, groupLetter_);
    setValue(child, "Letter1", column::kCode, groupLetter_);
    setValue(child, "Letter2", column::kCode, upperCharacter(currentCode_, 1));
    setValue(child, "Letter3", column::kCode, upperCharacter(currentCode_, 2));
    for (const auto& [name, value] : rowFields_) setValue(child, name, name, value);
    setValue(child, "Code", column::kCode, currentCode_);
    setVar(child, "CodeFile", urlEncode(detailPageName(currentCode_)));
    setValue(child, "GroupName", column::kGroup, currentGroup_.name);
    setVar(child, "GroupFile", groupFile_);
    writePart(child);
  } else if (key == "ReturnLink") {
    setVar(child, "GroupNum", std::to_string(currentGroup_.number));
    setValue(child, "GroupName", column::kGroup, currentGroup_.name);
    setVar(child, "GroupFile", groupFile_);
    writePart(child);
  } else if (key == "PrevItemLink" || key == "NextItemLink") {
    const std::string& code = key == "PrevItemLink" ? previousCode_ : nextCode_;
    if (code.empty()) return;
    setValue(child, "Code", column::kCode, code);
    setVar(child, "CodeFile", urlEncode(detailPageName(code)));
    writePart(child);
  } else {
    writePart(child);
  }
}

}  // namespace quill::pages
