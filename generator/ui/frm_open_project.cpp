// A small dialog: the explanation, the templates' folder (selectable, so it
// can be copied into a file browser), and the two buttons. Open runs the
// picker and accepts the dialog when a file was chosen.
#include "generator/ui/frm_open_project.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "generator/project/captions.h"

namespace quill {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

std::string pickWithFileDialog(QWidget* parent, const QString& title) {
  return QFileDialog::getOpenFileName(parent, title, QDir::homePath(), "ProjectDef.prj (ProjectDef.prj)")
      .toStdString();
}

}  // namespace

frmOpenProject::frmOpenProject(const DomNodeRef& formsNode, const std::string& appFolder, QWidget* parent)
    : QDialog(parent),
      explanation_(new QLabel(this)),
      templatesFolder_(new QLabel(q(appFolder + "HtmlDesign"), this)),
      openButton_(new QPushButton(this)),
      closeButton_(new QPushButton(this)),
      picker_(pickWithFileDialog) {
  setObjectName("frmOpenProject");
  explanation_->setObjectName("Label1");
  templatesFolder_->setObjectName("Label2");
  openButton_->setObjectName("Command1(0)");
  closeButton_->setObjectName("Command1(1)");

  explanation_->setWordWrap(true);
  explanation_->setMinimumWidth(420);
  templatesFolder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  templatesFolder_->setIndent(16);
  openButton_->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(openButton_);
  buttons->addWidget(closeButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(explanation_);
  layout->addWidget(templatesFolder_);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  const DomNodeRef form = captionNode(formsNode, "frmOpenProject");
  setWindowTitle(q(captionText(form, "Caption")));
  explanation_->setText(q(captionText(captionNode(form, "Label1"), "Caption")));
  const DomNodeRef command = captionNode(form, "Command1");
  openButton_->setText(q(captionText(command, "Caption0")));
  closeButton_->setText(q(captionText(command, "Caption1")));

  connect(openButton_, &QPushButton::clicked, this, &frmOpenProject::chooseProject);
  connect(closeButton_, &QPushButton::clicked, this, &frmOpenProject::reject);
}

void frmOpenProject::chooseProject() {
  const std::string path = picker_(this, windowTitle());
  if (path.empty()) return;
  projectPath_ = path;
  accept();
}

}  // namespace quill
