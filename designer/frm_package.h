// The packaging wizard, three pages on SSTab1 (start, folder, done) with
// back and next (Command1(0), Command1(1)); on the done page the close
// button (Command3) takes the next button's place. Next on the folder page
// makes the package (PackageMaker); if that fails or is declined the wizard
// stays on the folder page.
//
// Object names are the form's control names: SSTab1, fraTab(0..2),
// Command1(0), Command1(1), Command3, Label1(0..2), Label5, Text2, Command4.
#pragma once

#include <QDialog>

#include "designer/designer_context.h"
#include "designer/designer_services.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace quill {

class frmPackage : public QDialog {
  Q_OBJECT

 public:
  frmPackage(const DesignerContext& context, const DesignerServices& services, const std::string& projectFolder,
             QWidget* parent = nullptr);

  int page() const { return page_; }
  // Back (index 0) or next (any other index).
  void Command1Click(int index);

 private:
  void showPage();
  void browse();
  std::string message(const char* key) const;

  const DesignerContext& context_;
  const DesignerServices& services_;
  std::string projectFolder_;
  DomNodeRef form_;
  QStackedWidget* tabs_;  // SSTab1
  QPushButton* back_;     // Command1(0)
  QPushButton* next_;     // Command1(1)
  QPushButton* close_;    // Command3
  QLineEdit* folder_;     // Text2
  QPushButton* browse_;   // Command4
  QLabel* doneText_ = nullptr;  // Label1(2), followed by the package's folder
  QString doneCaption_;
  int page_ = 0;
};

}  // namespace quill
