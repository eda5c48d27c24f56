// The generator's main window: the project's name and folder under a
// toolbar with four commands, told apart by their keys:
//   excel  open the workbook (Data.xls, .xlsx, .ods or .csv: the one the
//          run imports) with the desktop's program for it
//   print  run the generation with the status window, then open Output
//   send   upload the site: the upload window for the Output folder
//   setup  the upload settings dialog
// The window is disabled while a run is in progress, so no second command
// can start, and it cannot be closed then.
//
// Object names are the form's control names: Toolbar1, and the buttons by
// their keys.
#pragma once

#include <QMainWindow>
#include <array>

#include "generator/project/project_context.h"

class QLabel;
class QToolBar;
class QToolButton;

namespace quill {

class Desktop;
class Prompter;

class frmClientMain : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr std::array<const char*, 4> kKeys = {"excel", "print", "send", "setup"};

  // Reads the toolbar captions below the caption document's frmClientMain
  // node; a missing one raises the store's error. The project's files are
  // those of context.projectFolder.
  frmClientMain(const ProjectContext& context, Prompter& prompter, Desktop& desktop, QWidget* parent = nullptr);

  // The toolbar command of a key; an unknown key does nothing. An error is
  // shown with its description.
  void toolbarClick(const QString& key);

  QMenu* createPopupMenu() override { return nullptr; }  // the toolbar cannot be hidden

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void loadCaptions();
  void editWorkbook();
  void printPages();
  void openUpload();
  void openSetup();

  const ProjectContext& context_;
  Prompter& prompter_;
  Desktop& desktop_;
  QToolBar* toolbar_;                    // Toolbar1
  std::array<QToolButton*, 4> buttons_;  // by kKeys
  QLabel* projectName_;
  QLabel* projectFolder_;
  bool running_ = false;
};

}  // namespace quill
