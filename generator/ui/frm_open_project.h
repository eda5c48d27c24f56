// The window that quillant shows when it starts without a project: there is
// no ProjectDef.prj beside the program. It says how to open or create a
// project, names the folder of design templates, and its Open button picks
// a ProjectDef.prj with a file dialog.
//
// Object names: Label1 (the explanation), Label2 (the templates' folder),
// Command1(0) Open, Command1(1) Close.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "store/dom.h"

class QLabel;
class QPushButton;

namespace quill {

class frmOpenProject : public QDialog {
  Q_OBJECT

 public:
  // Picks a project file; returns "" when the user chose none.
  using FilePicker = std::function<std::string(QWidget* parent, const QString& title)>;

  // Reads the captions below the caption document's node frmOpenProject; a
  // missing one raises the store's error.
  frmOpenProject(const DomNodeRef& formsNode, const std::string& appFolder, QWidget* parent = nullptr);

  // The file dialog by default.
  void setFilePicker(FilePicker picker) { picker_ = std::move(picker); }

  // The ProjectDef.prj chosen, "" until one is.
  const std::string& projectPath() const { return projectPath_; }

 private:
  void chooseProject();

  QLabel* explanation_;       // Label1
  QLabel* templatesFolder_;   // Label2
  QPushButton* openButton_;   // Command1(0)
  QPushButton* closeButton_;  // Command1(1)
  FilePicker picker_;
  std::string projectPath_;
};

}  // namespace quill
