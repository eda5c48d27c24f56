// The designer's main window: the page list of the open project under a
// toolbar and a menu. Commands, by toolbar key (and menu item):
//   new     make a project from a design template (frmNewProject), open it
//   open    open a project's ProjectDef.prj
//   save    write the ticks into the project's Scripts entries (Selected)
//   output  save, then start the generator on the project, not waiting
//   pack    save, then the packaging wizard (frmPackage)
//   excel   the project's workbook in the desktop's program for it
//   readme  the project's readme/index.htm
//   help    the help viewer, or the user guide in the browser
// Double-clicking a row opens its page template for editing. Until a
// project is open only new, open and help work, and Frame2 covers the list.
//
// Object names are the form's control names: Toolbar1 and its buttons by
// key, the menu items mnu*, ListView1, Frame1, Frame2.
#pragma once

#include <QMainWindow>
#include <array>
#include <map>

#include "designer/designer_context.h"
#include "designer/designer_services.h"
#include "designer/help.h"
#include "generator/upload/ctl_folder_dialog.h"

class QAction;
class QStackedWidget;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quill {

class frmMain : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr std::array<const char*, 8> kKeys = {"new", "open", "save", "output",
                                                       "pack", "excel", "readme", "help"};

  // Reads every caption below the caption document's frmMain node; a missing
  // one raises the store's error.
  frmMain(DesignerContext& context, DesignerServices services, QWidget* parent = nullptr);
  ~frmMain() override;

  // Opens a project file; an error is shown and stops the opening there.
  void OpenProject(const std::string& path);
  // Writes the ticks into the open project's Scripts entries and saves it.
  void SaveProjectList();
  // Runs the command of a toolbar key (or "about"); an error is shown with
  // its description.
  void toolbarClick(const QString& key);

  bool projectOpen() const { return projectDoc_ != nullptr; }
  const std::string& projectFolder() const { return projectFolder_; }
  const ctlFolderDialog& folderDialog() const { return folderDialog_; }

  QMenu* createPopupMenu() override { return nullptr; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenu();
  void buildToolbar();
  void buildList();
  void loadCaptions();
  void setProjectCommandsEnabled(bool enabled);
  void newProject();
  void openProjectFile();
  void generate();
  void package();
  void editTemplate(QTreeWidgetItem* item);
  void about();
  std::string SetNewProject();
  std::string message(const char* key) const;

  DesignerContext& context_;
  DesignerServices services_;
  HelpStarter help_;
  DomNodeRef form_;
  QToolBar* toolbar_;                       // Toolbar1
  std::array<QToolButton*, 8> buttons_{};   // by kKeys
  std::map<std::string, QAction*> menu_;    // mnu* by name
  QMenu* projectMenu_ = nullptr;
  QMenu* helpMenu_ = nullptr;
  QStackedWidget* frames_;
  QWidget* frame1_;                         // Frame1: holds the list
  QWidget* frame2_;                         // Frame2: over it while no project is open
  QTreeWidget* list_;                       // ListView1
  ctlFolderDialog folderDialog_;            // ctlFolderDialog1
  std::shared_ptr<cvDomDoc> projectDoc_;
  DomNodeRef scriptsNode_;
  std::string projectFolder_;
};

}  // namespace quill
