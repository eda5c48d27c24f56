// clsCodeIndex: Output/Index.htm, every item code in code order.
#include "generator/pages/page_generators.h"
#include "generator/pages/page_text.h"

namespace quill::pages {

void clsCodeIndex::generate() {
  if (openRecordset("select COL1 from SHEET1 order by COL1", codes_)) return;
  std::shared_ptr<MarlPart> root;
  std::string result = loadTemplate(path_ + "HtmlTemplate/Index.htm", root);
  if (!result.empty()) {
    errMsg_ = std::move(result);
  } else {
    addDebugMsg("Get Html");
    beginPage();
    writePart(*root);
    savePage("Index.htm");
  }
  codes_.close();
}

void clsCodeIndex::writeContainer(MarlPart& child) {
  debugMsg_ += "Get Key";
  addDebugMsg(child.key());
  const std::string& key = child.key();
  if (key == "IndexLink") {
    if (codes_.eof()) return;
    child.vars().reset();
    currentCode_.assign(codes_.text(0));
    setVar(child, "Letter1", upperCharacter(currentCode_, 0));
    setVar(child, "Letter2", upperCharacter(currentCode_, 1));
    setVar(child, "Letter3", upperCharacter(currentCode_, 2));
    setVar(child, "Code", currentCode_);
    setVar(child, "CodeFile", urlEncode("Detail_" + currentCode_ + ".htm"));
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
