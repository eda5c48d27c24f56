#include "designer/designer_services.h"

#include <QFileDialog>

namespace quill {

QString openFileDialog(QWidget* parent, const QString& title, const QString& folder, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, folder, filter);
}

// A path that may not exist yet (a new folder), so no overwrite question.
QString savePathDialog(QWidget* parent, const QString& title, const QString& preset) {
  return QFileDialog::getSaveFileName(parent, title, preset, QString(), nullptr, QFileDialog::DontConfirmOverwrite);
}

}  // namespace quill
