// clsDetail: one page per item, Output/Detail_<code>.htm, group by group (in
// group order) and within a group in code order, with the previous and next
// item of the same group.
#include "generator/pages/page_generators.h"
#include "generator/pages/page_text.h"

namespace quill::pages {

void clsDetail::generate() {
  if (loadGroups()) return;
  if (loadTemplate()) return;
  rowFields_.clear();
  for (const auto& [group, num] : groupNumbers_) {
    currentGroup_ = group;
    currentGroupNum_ = num;
    groupFile_ = urlEncode(group + ".htm");
    if (openRecordset("select * from SHEET1 where  COL2=? order by COL1", {group}, items_)) return;
    const int fields = items_.fieldCount();
    const int code = items_.fieldIndex("COL1");
    previousCode_.clear();
    while (!items_.eof()) {
      for (int i = 0; i < fields; ++i) {
        const char* name = items_.fieldName(i);
        // Every row has the same columns: overwrite in place when the entry is there.
        if (static_cast<size_t>(i) < rowFields_.size() && rowFields_.at(i).first == name)
          rowFields_.at(i).second.assign(items_.text(i));
        else
          rowFields_.set(name, std::string(items_.text(i)));
      }
      const std::string* current = rowFields_.find("COL1");
      currentCode_ = current ? *current : std::string();
      items_.moveNext();
      if (items_.eof() || code < 0)
        nextCode_.clear();
      else
        nextCode_.assign(items_.text(code));
      if (makeDetailPage()) return;
      previousCode_ = currentCode_;
    }
    items_.close();
  }
}

bool clsDetail::loadGroups() {
  Recordset rs;
  if (openRecordset("select DISTINCT COL2 from SHEET1 order by COL2", rs)) return true;
  groupNumbers_.clear();
  for (int n = 1; !rs.eof(); rs.moveNext(), ++n) groupNumbers_.insert(std::string(rs.text(0)), n);
  return false;
}

bool clsDetail::loadTemplate() {
  errMsg_ = PageGenerator::loadTemplate(path_ + "HtmlTemplate/Detail.htm", root_);
  return !errMsg_.empty();
}

bool clsDetail::makeDetailPage() {
  if (const std::string why = pageNameProblem(currentCode_, true); !why.empty()) {
    errMsg_ = "The item code \"" + currentCode_ + "\" cannot name a page file: " + why;
    return true;
  }
  beginPage();
  writePart(*root_);
  return savePage("Detail_" + currentCode_ + ".htm");
}

void clsDetail::writeContainer(MarlPart& child) {
  child.vars().reset();
  const std::string& key = child.key();
  if (key == "Detail") {
    groupLetter_ = upperCharacter(currentCode_, 0);
    setVar(child, "GroupLetter", groupLetter_);
    setVar(child, "Letter1", groupLetter_);
    setVar(child, "Letter2", upperCharacter(currentCode_, 1));
    setVar(child, "Letter3", upperCharacter(currentCode_, 2));
    for (const auto& [name, value] : rowFields_) setVar(child, name, value);
    setVar(child, "Code", currentCode_);
    setVar(child, "CodeFile", urlEncode("Detail_" + currentCode_ + ".htm"));
    setVar(child, "GroupName", currentGroup_);
    setVar(child, "GroupFile", groupFile_);
    writePart(child);
  } else if (key == "ReturnLink") {
    setVar(child, "GroupNum", std::to_string(currentGroupNum_));
    setVar(child, "GroupName", currentGroup_);
    setVar(child, "GroupFile", groupFile_);
    writePart(child);
  } else if (key == "PrevItemLink" || key == "NextItemLink") {
    const std::string& code = key == "PrevItemLink" ? previousCode_ : nextCode_;
    if (code.empty()) return;
    setVar(child, "Code", code);
    setVar(child, "CodeFile", urlEncode("Detail_" + code + ".htm"));
    writePart(child);
  } else {
    writePart(child);
  }
}

}  // namespace quill::pages
