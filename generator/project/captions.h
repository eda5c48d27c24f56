// Captions of the windows, read from a caption document (qlang.xml, dlang.xml) in
// strict mode whatever the store's mode is: a window node, control node or
// caption attribute that is missing raises the store's error (10002 "Wrong
// Tag Name of ...", 10006 "Wrong AttrName of ..."), which ends the window's
// load. Every window reads its captions through these two calls.
#pragma once

#include <string>
#include <string_view>

#include "store/dom.h"

namespace quill {

// The child named name of a caption node (a window's node below `forms`, or
// a control's node below its window).
DomNodeRef captionNode(const DomNodeRef& parent, std::string_view name);

// The attribute of a caption node ("Caption", "Caption1", "Tab0", ...).
std::string captionText(const DomNodeRef& node, std::string_view attribute);

}  // namespace quill
