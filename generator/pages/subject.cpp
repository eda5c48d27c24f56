// clsSubject: Output/Subject.htm, the groups arranged by their first
// character. The letters are collected first (letter -> group -> number);
// the template's LetterGroup block then walks them, and its LetterRow blocks
// take the letter's groups k at a time, one per GroupLink.
#include "common/utf.h"
#include "generator/pages/page_generators.h"
#include "generator/pages/page_text.h"

namespace quill::pages {

void clsSubject::generate() {
  // An empty group has no first character and gets no letter (it keeps its
  // number all the same). A letter that comes back after another one
  // (case-mixed sorting) joins the groups it already has.
  letters_.clear();
  for (const Group& group : catalogue().groups()) {
    const std::string_view letter = firstCharacter(group.name);
    if (letter.empty()) continue;
    GroupMap* groups = letters_.find(letter);
    if (!groups) groups = &letters_.set(std::string(letter), GroupMap());
    groups->insert(group.name, group.number);
  }

  const std::shared_ptr<MarlPart> root = loadTemplate("HtmlTemplate/Subject.htm");
  addDebugMsg("Get Html");
  beginPage();
  writePart(*root);
  savePage("Subject.htm");
}

void clsSubject::writeContainer(MarlPart& child) {
  addDebugKey(child.key());
  const std::string& key = child.key();
  if (key == "LetterLink") {
    for (const auto& [letter, groups] : letters_) {
      currentLetter_ = letter;
      child.vars().reset();
      setValue(child, "Letter", column::kGroup, letter);
      setVar(child, "LetterId", letterId(letter));
      writePart(child);
    }
  } else if (key == "Link") {
    child.vars().reset();
    setValue(child, "Letter", column::kGroup, currentLetter_);
    setVar(child, "LetterId", letterId(currentLetter_));
    writePart(child);
  } else if (key == "LetterGroup") {
    for (const auto& [letter, groups] : letters_) {
      currentLetter_ = letter;
      currentGroups_ = &groups;
      position_ = 0;
      child.vars().reset();
      setValue(child, "Letter", column::kGroup, letter);
      setVar(child, "LetterId", letterId(letter));
      writePart(child);
    }
  } else if (key == "LetterRow") {
    if (!currentGroups_) return;
    while (position_ < currentGroups_->size()) {
      const size_t before = position_;
      const auto& [name, num] = currentGroups_->at(position_);
      child.vars().reset();
      setValue(child, "GroupName", column::kGroup, name);
      setVar(child, "GroupNum", std::to_string(num));
      writePart(child);
      // A row without a GroupLink would never advance: write it once only.
      if (position_ == before) break;
    }
  } else if (key == "GroupLink") {
    if (!currentGroups_ || position_ >= currentGroups_->size()) return;
    const auto& [name, num] = currentGroups_->at(position_);
    child.vars().reset();
    setValue(child, "GroupName", column::kGroup, name);
    setVar(child, "GroupNum", std::to_string(num));
    setVar(child, "GroupFile", urlEncode(groupPageName(name)));
    writePart(child);
    ++position_;
  } else {
    writePart(child);
  }
}

}  // namespace quill::pages
