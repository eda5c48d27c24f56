// clsImgList: one page per group, Output/<group>.htm, listing the group's
// makers and, per maker, its items. The makers of every group are read
// first; the template (Html/ItemList.htm) is loaded once and written for
// each group, its MakerItems block opening the items of one maker at a time.
#include "common/ascii.h"
#include "generator/pages/page_generators.h"

#include <algorithm>

#include "generator/pages/page_text.h"
#include "generator/report/progress.h"

namespace quill::pages {

void clsImgList::generate() {
  loadMakers();
  root_ = loadTemplate("Html/ItemList.htm");
  const long pages = static_cast<long>(
      std::count_if(groups_.begin(), groups_.end(), [](const GroupMakers& g) { return !g.group.name.empty(); }));
  long written = 0;
  for (const GroupMakers& entry : groups_) {
    // Items without a group (a blank cell, or an empty row inside the
    // sheet) have no list page, as they have no letter on the subject page.
    if (entry.group.name.empty()) continue;
    try {
      makeGroupPage(entry);
    } catch (const std::exception& e) {
      recordFailure(e);  // the next group's page is still made
    }
    reportProgress(++written, pages);
  }
}

void clsImgList::loadMakers() {
  groups_.clear();
  for (Group& group : catalogue().groups()) {
    GroupMakers entry{std::move(group), {}};
    for (Recordset makers = catalogue().makersOf(entry.group.name); !makers.eof(); makers.moveNext()) {
      // An empty cell (NULL) and an empty text sort first: one empty maker.
      const std::string_view maker = makers.text(0);
      if (maker.empty() && !entry.makers.empty() && entry.makers.back().empty()) continue;
      entry.makers.emplace_back(maker);
    }
    groups_.push_back(std::move(entry));
  }
}

void clsImgList::makeGroupPage(const GroupMakers& entry) {
  const std::string& group = entry.group.name;
  checkPageName("group", group, false);
  const std::string fileName = groupPageName(group);
  checkNoOtherPage(group, fileName);
  current_ = &entry;
  setValue(*root_, "GroupName", column::kGroup, group);
  setVar(*root_, "GroupNum", std::to_string(entry.group.number));
  setVar(*root_, "GroupFile", urlEncode(fileName));
  items_.close();
  beginPage();
  writePart(*root_);
  items_.close();
  savePage(fileName);
}

// A group's page must not replace another page of the run. File names are
// compared without regard to case, as the desktops and web servers that
// keep the site do.
void clsImgList::checkNoOtherPage(const std::string& group, const std::string& fileName) {
  std::string other;
  if (equalsIgnoringAsciiCase(fileName, "Subject.htm")) {
    other = "the category page Subject.htm";
  } else if (equalsIgnoringAsciiCase(fileName, "Index.htm")) {
    other = "the code index page Index.htm";
  } else if (equalsIgnoringAsciiCase(fileName.substr(0, 7), "Detail_")) {
    if (const auto code = catalogue().codeWithDetailPage(fileName))
      other = "the page " + detailPageName(*code) + " of the item \"" + *code + "\"";
  }
  if (!other.empty())
    throw PageError(PageError::Concern::Workbook, {},
                    "The group \"" + group + "\" cannot have a page of its own: " + fileName + " would replace " +
                        other);
}

void clsImgList::writeContainer(MarlPart& child) {
  const std::string& key = child.key();
  if (key == "MakerList" || key == "MakerItems") {
    if (!current_) return;
    const bool items = key == "MakerItems";
    int n = 0;
    for (const std::string& maker : current_->makers) {
      currentMaker_ = maker;
      child.vars().reset();
      setValue(child, column::kMaker, column::kMaker, currentMaker_);
      setVar(child, "MakerId", "maker" + std::to_string(++n));
      if (items) {
        items_.close();  // its statement serves the next maker
        try {
          items_ = catalogue().itemsOf(current_->group.name, currentMaker_);
        } catch (const CatalogueError& e) {
          // The rest of this container is left out; the page is still made.
          recordFailure(e);
          endContainer_ = true;
          return;
        }
      }
      writePart(child);
    }
  } else if (key == "Item") {
    writeItem(child);
  } else if (key == column::kFlag) {
    // The flag of the current item; outside an item there is none.
    if (items_.eof()) return;
    const int i = items_.fieldIndex(column::kFlag);
    if (i < 0 || items_.isNull(i) || items_.text(i) == "0") return;
    setValue(child, column::kFlag, column::kFlag, items_.text(i));
    writePart(child);
  } else {
    writePart(child);
  }
}

void clsImgList::writeItem(MarlPart& child) {
  // Without a MakerItems part around it there are no items to write.
  if (!items_.isOpen()) return;
  const int code = items_.fieldIndex(column::kCode);
  const int fields = items_.fieldCount();
  while (!items_.eof()) {
    child.vars().reset();
    for (int i = 0; i < fields; ++i) setValue(child, items_.fieldName(i), items_.fieldName(i), items_.text(i));
    if (code >= 0) setVar(child, "CodeFile", urlEncode(detailPageName(items_.text(code))));
    writePart(child);
    items_.moveNext();
  }
}

}  // namespace quill::pages
