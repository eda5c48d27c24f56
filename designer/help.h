// The help command of every designer window. The help viewer (bookwisp) is a
// program of its own that may be placed in the program folder; without it
// the user guide that ships in the program folder (help/index.html) opens
// in the desktop's browser.
#pragma once

#include <string>

namespace quill {

class Desktop;
class Launcher;

class HelpStarter {
 public:
  static constexpr const char* kViewer = "bookwisp";
  static constexpr const char* kGuide = "help/index.html";

  HelpStarter(std::string appFolder, Launcher& launcher, Desktop& desktop)
      : appFolder_(std::move(appFolder)), launcher_(launcher), desktop_(desktop) {}

  // A viewer that fails to start is passed over silently, as the guide is
  // the fallback for a missing one; the guide then opens instead.
  void show();
  // The user guide in the browser, whatever viewer there is.
  void showGuide();

 private:
  std::string appFolder_;
  Launcher& launcher_;
  Desktop& desktop_;
};

}  // namespace quill
