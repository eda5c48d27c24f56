// The store's strict mode is a switch of the calling thread; each read turns
// it on for its own duration and puts back what it found.
#include "generator/upload/required.h"

namespace quill {

namespace {

class StrictReads {
 public:
  StrictReads() { cvDomDoc::setDebugFlag(true); }
  ~StrictReads() { cvDomDoc::setDebugFlag(saved_); }
  StrictReads(const StrictReads&) = delete;
  StrictReads& operator=(const StrictReads&) = delete;

 private:
  bool saved_ = cvDomDoc::debugFlag();
};

}  // namespace

DomNodeRef requiredNode(const DomNodeRef& parent, std::string_view name) {
  StrictReads strict;
  return parent->node(name);
}

std::string requiredAttr(const DomNodeRef& node, std::string_view name) {
  StrictReads strict;
  return node->getAttr(name, "");
}

}  // namespace quill
