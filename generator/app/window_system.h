// Starting Qt's window system without letting an unreachable display end
// the process. Qt aborts when its platform cannot connect; told a list of
// platforms, it tries them in order. So unless the user named a platform
// (QT_QPA_PLATFORM), the display's platform is followed by "offscreen", and
// landing there means the display could not be reached.
#pragma once

#include <QApplication>
#include <memory>

namespace quill {

struct WindowSystem {
  std::unique_ptr<QApplication> app;
  bool displayReached = false;  // false: the app runs offscreen; show no windows
};

// Creates the QApplication. Qt's own messages about the display are kept
// back while it starts; the caller tells the user what happened.
WindowSystem startWindowSystem(const char* programName);

}  // namespace quill
