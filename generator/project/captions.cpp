// Each read asks the store to raise rather than create (Missing::Raise).
#include "generator/project/captions.h"

namespace quill {

DomNodeRef captionNode(const DomNodeRef& parent, std::string_view name) {
  return parent->node(name, Missing::Raise);
}

std::string captionText(const DomNodeRef& node, std::string_view attribute) {
  return node->getAttr(attribute, Missing::Raise);
}

}  // namespace quill
