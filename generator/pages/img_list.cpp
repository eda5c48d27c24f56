// clsImgList: one page per group, Output/<group>.htm, listing the group's
// makers and, per maker, its items. The template is Html/ItemList.htm.
#include "generator/pages/page_generators.h"
#include "generator/pages/page_text.h"

namespace quill::pages {

void clsImgList::generate() {
  if (loadMakers()) return;
  if (loadTemplate()) return;
  int n = 0;
  for (const auto& [group, makers] : groups_) {
    ++n;
    // Items without a group (a blank cell, or an empty row inside the
    // sheet) have no list page, as they have no letter on the subject page.
    if (group.empty()) continue;
    currentGroup_ = group;
    currentMakers_ = &makers;
    makeGroupPage(n);  // a failed page leaves ErrMsg set; the next group goes on
  }
}

bool clsImgList::loadMakers() {
  Recordset groups;
  if (openRecordset("select DISTINCT COL2 from SHEET1 order by COL2", groups)) return true;
  groups_.clear();
  Recordset makers;
  for (; !groups.eof(); groups.moveNext()) {
    const std::string group(groups.text(0));
    if (openRecordset("select DISTINCT COL4 from SHEET1 where COL2 = ? order by COL4", {group}, makers))
      return true;
    MakerMap map;
    for (; !makers.eof(); makers.moveNext()) map.insert(std::string(makers.text(0)), std::string());
    makers.close();
    groups_.insert(group, std::move(map));
  }
  return false;
}

bool clsImgList::loadTemplate() {
  errMsg_ = PageGenerator::loadTemplate(path_ + "Html/ItemList.htm", root_);
  return !errMsg_.empty();
}

bool clsImgList::makeGroupPage(int groupNum) {
  if (const std::string why = pageNameProblem(currentGroup_, false); !why.empty()) {
    errMsg_ = "The group \"" + currentGroup_ + "\" cannot name a page file: " + why;
    return true;
  }
  const std::string fileName = currentGroup_ + ".htm";
  setVar(*root_, "GroupName", currentGroup_);
  setVar(*root_, "GroupNum", std::to_string(groupNum));
  setVar(*root_, "GroupFile", urlEncode(fileName));
  items_.close();
  beginPage();
  writePart(*root_);
  items_.close();
  return savePage(fileName);
}

void clsImgList::writeContainer(MarlPart& child) {
  const std::string& key = child.key();
  if (key == "MakerList" || key == "MakerItems") {
    if (!currentMakers_) return;
    const bool items = key == "MakerItems";
    int n = 0;
    for (const auto& entry : *currentMakers_) {
      currentMaker_ = entry.first;
      child.vars().reset();
      setVar(child, "COL4", currentMaker_);
      setVar(child, "MakerId", "maker" + std::to_string(++n));
      if (items && openRecordset("select * from SHEET1 where  COL2=? and COL4 =?",
                                 {currentGroup_, currentMaker_}, items_)) {
        endContainer_ = true;
        return;
      }
      writePart(child);
    }
  } else if (key == "Item") {
    writeItem(child);
  } else if (key == "COL6") {
    // The flag of the current item; outside an item there is none.
    if (items_.eof()) return;
    const int i = items_.fieldIndex("COL6");
    if (i < 0 || items_.isNull(i) || items_.text(i) == "0") return;
    setVar(child, "COL6", items_.text(i));
    writePart(child);
  } else {
    writePart(child);
  }
}

void clsImgList::writeItem(MarlPart& child) {
  // Without a MakerItems part around it there are no items to write.
  if (!items_.isOpen()) return;
  const int code = items_.fieldIndex("COL1");
  const int fields = items_.fieldCount();
  while (!items_.eof()) {
    child.vars().reset();
    for (int i = 0; i < fields; ++i) setVar(child, items_.fieldName(i), items_.text(i));
    if (code >= 0) setVar(child, "CodeFile", urlEncode("Detail_" + std::string(items_.text(code)) + ".htm"));
    writePart(child);
    items_.moveNext();
  }
}

}  // namespace quill::pages
