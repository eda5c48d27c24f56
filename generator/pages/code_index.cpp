// clsCodeIndex: Output/Index.htm, every item code in code order. The codes
// are one cursor that the IndexLink blocks take from, one code each; an
// IndexRow block is written again while codes are left.
#include "generator/pages/page_generators.h"
#include "generator/pages/page_text.h"

namespace quill::pages {

void clsCodeIndex::generate() {
  codes_ = catalogue().codes();
  const std::shared_ptr<MarlPart> root = loadTemplate("HtmlTemplate/Index.htm");
  addDebugMsg("Get Html");
  beginPage();
  writePart(*root);
  codes_.close();
  savePage("Index.htm");
}

void clsCodeIndex::writeContainer(MarlPart& child) {
  addDebugKey(child.key());
  const std::string& key = child.key();
  if (key == "IndexLink") {
    if (codes_.eof()) return;
    child.vars().reset();
    currentCode_.assign(codes_.text(0));
    setValue(child, "Letter1", column::kCode, upperCharacter(currentCode_, 0));
    setValue(child, "Letter2", column::kCode, upperCharacter(currentCode_, 1));
    setValue(child, "Letter3", column::kCode, upperCharacter(currentCode_, 2));
    setValue(child, "Code", column::kCode, currentCode_);
    setVar(child, "CodeFile", urlEncode(detailPageName(currentCode_)));
    writePart(child);
    codes_.moveNext();
    ++taken_;
  } else if (key == "IndexRow") {
    while (!codes_.eof()) {
      const size_t before = taken_;
      child.vars().reset();
      writePart(child);
      // A row without an IndexLink would never move on: write it once only.
      if (taken_ == before) break;
    }
  } else {
    writePart(child);
  }
}

}  // namespace quill::pages
