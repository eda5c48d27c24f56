// Desktop that hands a path to the desktop's own opener (QDesktopServices,
// xdg-open on Linux): a folder opens in the file browser, a document in the
// program associated with its type.
#pragma once

#include "generator/report/desktop.h"

namespace quill {

class QtDesktop : public Desktop {
 public:
  void open(const std::string& path) override;
};

}  // namespace quill
