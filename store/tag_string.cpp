// clsTagString: one scan of a text for its first tag, with the scanner the
// reader uses, the results copied into the members scripts read.
#include "store/dom.h"
#include "store/dom_scan.h"

namespace quill {

void clsTagString::inputString(std::string_view src) {
  tagName.clear();
  beforeText.clear();
  afterText.clear();
  tagType = kNone;
  tagAttr.clear();
  tagText.clear();
  size_t lt, gt;
  if (!detail::findTag(src, 0, lt, gt)) {
    beforeText = std::string(src);
    return;
  }
  beforeText = std::string(src.substr(0, lt));
  afterText = std::string(src.substr(gt + 1));
  tagText = std::string(src.substr(lt, gt - lt + 1));
  const detail::TagScan tag = detail::parseTag(tagText);
  tagType = tag.type;
  tagName = std::string(tag.name);
  std::vector<detail::AttrView> attrs;
  detail::parseAttrs(tag.attrText, attrs);
  for (const auto& a : attrs) tagAttr.set(std::string(a.name), std::string(a.value));
}

}  // namespace quill
