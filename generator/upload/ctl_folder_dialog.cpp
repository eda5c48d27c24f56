// Qt's folder dialog does the work: the system's own where the platform has
// one, Qt's widget dialog otherwise. Its result is a full path, or "" when
// the dialog was cancelled.
#include "generator/upload/ctl_folder_dialog.h"

#include <QFileDialog>

namespace quill {

QString ctlFolderDialog::ShowFolder() {
  dirPath_ = QFileDialog::getExistingDirectory(owner_, title_, QString(), QFileDialog::ShowDirsOnly);
  return dirPath_;
}

}  // namespace quill
