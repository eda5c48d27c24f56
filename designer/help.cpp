#include "designer/help.h"

#include <filesystem>

#include "designer/launcher.h"
#include "generator/report/desktop.h"

namespace quill {

void HelpStarter::show() {
  const std::string viewer = appFolder_ + kViewer;
  std::error_code ec;
  if (std::filesystem::is_regular_file(viewer, ec) && launcher_.start(viewer, {}, appFolder_)) return;
  showGuide();
}

void HelpStarter::showGuide() { desktop_.open(appFolder_ + kGuide); }

}  // namespace quill
