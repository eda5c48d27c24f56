// The new-project window: a category (Combo1) and a design (ListView1) from
// the program folder's HtmlDesign, the project's name (Text1) and folder
// (Text2). The folder's last part follows the name as it is typed. Create
// copies the design into the folder, writes the name into its
// ProjectDef.prj and closes the window with projectFile() set; a failure is shown
// and the window stays, so that name or folder can be changed.
//
// Object names are the form's control names; members of a control array
// carry their index: Label1(0), Command1(0) (create), Command1(1) (cancel).
#pragma once

#include <QDialog>

#include "designer/designer_context.h"
#include "designer/designer_services.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace quill {

class HelpStarter;

class frmNewProject : public QDialog {
  Q_OBJECT

 public:
  frmNewProject(const DesignerContext& context, const DesignerServices& services, HelpStarter& help,
                QWidget* parent = nullptr);

  // The created project's ProjectDef.prj; "" until a project was created.
  std::string projectFile() const { return result_; }

  // The create command.
  void create();

 private:
  void fillDesigns();
  void followName(const QString& name);
  void browse();
  std::string message(const char* key) const;

  const DesignerContext& context_;
  const DesignerServices& services_;
  HelpStarter& help_;
  DomNodeRef form_;
  QComboBox* category_;   // Combo1
  QListWidget* designs_;  // ListView1
  QLineEdit* name_;       // Text1
  QLineEdit* folder_;     // Text2
  QPushButton* create_;   // Command1(0)
  QPushButton* cancel_;   // Command1(1)
  QPushButton* browse_;   // Command2
  QPushButton* helpButton_;  // Command3
  std::string result_;
};

}  // namespace quill
