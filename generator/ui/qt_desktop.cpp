// The path becomes a file URL; what the desktop does with it is its own
// business, and a failure to open is not reported (there is no remedy).
#include "generator/ui/qt_desktop.h"

#include <QDesktopServices>
#include <QUrl>

namespace quill {

void QtDesktop::open(const std::string& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace quill
