// The main window's toolbar images, drawn as vector shapes so that they are
// sharp at any scale and need no image files: a worksheet with a pencil
// (excel), a page being written (print), a cloud with an arrow up (send)
// and a cog (setup); the designer's new, open, save, output (the print
// image), pack, readme and help. A disabled button gets the same shapes in grey.
#pragma once

#include <QIcon>
#include <string_view>

namespace quill {

// The image of the toolbar button with this key; an empty icon for others.
QIcon toolbarIcon(std::string_view key);

}  // namespace quill
