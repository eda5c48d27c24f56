// The store's strictness is a per-thread switch today: each read turns it on
// for its own duration and puts back what was there.
#include "generator/project/captions.h"

namespace quill {

namespace {

class StrictReads {
 public:
  StrictReads() : previous_(storeDebugFlag()) { setStoreDebugFlag(true); }
  ~StrictReads() { setStoreDebugFlag(previous_); }
  StrictReads(const StrictReads&) = delete;
  StrictReads& operator=(const StrictReads&) = delete;

 private:
  bool previous_;
};

}  // namespace

DomNodeRef captionNode(const DomNodeRef& parent, std::string_view name) {
  StrictReads strict;
  return parent->node(name);
}

std::string captionText(const DomNodeRef& node, std::string_view attribute) {
  StrictReads strict;
  return node->getAttr(attribute, "");
}

}  // namespace quill
