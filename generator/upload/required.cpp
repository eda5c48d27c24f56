// Each read asks the store to raise rather than create (Missing::Raise).
#include "generator/upload/required.h"

namespace quill {

DomNodeRef requiredNode(const DomNodeRef& parent, std::string_view name) {
  return parent->node(name, Missing::Raise);
}

std::string requiredAttr(const DomNodeRef& node, std::string_view name) {
  return node->getAttr(name, Missing::Raise);
}

}  // namespace quill
