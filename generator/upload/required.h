// Reads of the caption document and the upload settings that must find what
// they ask for, whatever mode the store is in: a missing node raises the
// store's 10002 ("Wrong Tag Name of ..."), a missing attribute its 10006
// ("Wrong AttrName of ..."), and nothing is added to the document. The one
// place in upload/ that knows how the store is asked for a strict read.
#pragma once

#include <string>
#include <string_view>

#include "store/dom.h"

namespace quill {

DomNodeRef requiredNode(const DomNodeRef& parent, std::string_view name);
std::string requiredAttr(const DomNodeRef& node, std::string_view name);

}  // namespace quill
