// The folder picker shared by the generator and the designer: shows the
// system's folder dialog with a prompt and remembers the folder chosen.
#pragma once

#include <QString>

class QWidget;

namespace quill {

class ctlFolderDialog {
 public:
  explicit ctlFolderDialog(QWidget* owner = nullptr) : owner_(owner) {}

  // The folder chosen by the last ShowFolder; "" after a cancel.
  QString dirPath() const { return dirPath_; }
  void setDirPath(const QString& v) { dirPath_ = v; }
  // The prompt shown in the dialog.
  QString title() const { return title_; }
  void setTitle(const QString& v) { title_ = v; }

  // Shows the dialog, owned by the owner window; returns the full path of
  // the folder chosen (also kept in dirPath), or "" when the user cancels.
  // Only folders of the file system can be chosen.
  QString ShowFolder();

 private:
  QWidget* owner_;
  QString dirPath_;
  QString title_ = QStringLiteral("Select Folder");
};

}  // namespace quill
