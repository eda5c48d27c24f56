// Opening a folder in the file browser or a document with the program the
// desktop associates with it. The program asks the desktop (ui/qt_desktop.h);
// tests record what would have been opened.
#pragma once

#include <string>

namespace quill {

class Desktop {
 public:
  virtual ~Desktop() = default;
  // Opens path (a folder or a file). Whether the desktop managed to is not
  // reported: there is nothing the caller could do about it.
  virtual void open(const std::string& path) = 0;
};

}  // namespace quill
