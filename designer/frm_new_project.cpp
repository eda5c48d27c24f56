// Laid out as a form: category and design on the left, name and folder
// below, the buttons on the right. The design list shows folder icons in an
// icon view, one per design.
#include "designer/frm_new_project.h"

#include <QComboBox>
#include <QDir>
#include <QFileIconProvider>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "designer/help.h"
#include "designer/new_project.h"
#include "generator/project/captions.h"
#include "generator/report/prompter.h"

namespace quill {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

frmNewProject::frmNewProject(const DesignerContext& context, const DesignerServices& services, HelpStarter& help,
                             QWidget* parent)
    : QDialog(parent),
      context_(context),
      services_(services),
      help_(help),
      category_(new QComboBox(this)),
      designs_(new QListWidget(this)),
      name_(new QLineEdit(this)),
      folder_(new QLineEdit(this)),
      create_(new QPushButton(this)),
      cancel_(new QPushButton(this)),
      browse_(new QPushButton(this)),
      helpButton_(new QPushButton(this)) {
  setObjectName("frmNewProject");
  category_->setObjectName("Combo1");
  designs_->setObjectName("ListView1");
  name_->setObjectName("Text1");
  folder_->setObjectName("Text2");
  create_->setObjectName("Command1(0)");
  cancel_->setObjectName("Command1(1)");
  browse_->setObjectName("Command2");
  helpButton_->setObjectName("Command3");

  form_ = captionNode(context_.formsNode, "frmNewProject");
  setWindowTitle(q(captionText(form_, "Caption")));
  const DomNodeRef labels = captionNode(form_, "Label1");
  const DomNodeRef listLabels = captionNode(form_, "Label2");
  const DomNodeRef commands = captionNode(form_, "Command1");
  create_->setText(q(captionText(commands, "Caption0")));
  cancel_->setText(q(captionText(commands, "Caption1")));
  browse_->setText(q(captionText(captionNode(form_, "Command2"), "Caption")));
  helpButton_->setText(q(captionText(captionNode(form_, "Command3"), "Caption")));
  for (const char* key : {"Existed", "ErrMakeFolder", "ErrSetupDefine", "BrowseTitle"}) message(key);

  auto label = [this](const DomNodeRef& node, const char* attribute, const char* name, QWidget* buddy) {
    auto* l = new QLabel(q(captionText(node, attribute)), this);
    l->setObjectName(name);
    l->setBuddy(buddy);
    return l;
  };
  designs_->setViewMode(QListView::IconMode);
  designs_->setIconSize(QSize(48, 48));
  designs_->setGridSize(QSize(110, 80));
  designs_->setMovement(QListView::Static);
  designs_->setResizeMode(QListView::Adjust);
  designs_->setMinimumSize(380, 110);
  designs_->setMaximumHeight(140);
  folder_->setMinimumWidth(380);
  create_->setDefault(true);

  auto* grid = new QGridLayout;
  grid->addWidget(label(listLabels, "Caption0", "Label2(0)", category_), 0, 0);
  grid->addWidget(category_, 0, 1, 1, 2);
  grid->addWidget(label(listLabels, "Caption1", "Label2(1)", designs_), 1, 0, Qt::AlignTop);
  grid->addWidget(designs_, 1, 1, 1, 2);
  grid->addWidget(label(labels, "Caption1", "Label1(1)", name_), 2, 0);
  grid->addWidget(name_, 2, 1, 1, 2);
  grid->addWidget(label(labels, "Caption0", "Label1(0)", folder_), 3, 0);
  grid->addWidget(folder_, 3, 1);
  grid->addWidget(browse_, 3, 2);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(create_);
  buttons->addWidget(cancel_);
  buttons->addSpacing(12);
  buttons->addWidget(helpButton_);
  buttons->addStretch(1);
  auto* layout = new QGridLayout(this);
  layout->addLayout(grid, 0, 0);
  layout->addLayout(buttons, 0, 1);

  connect(category_, &QComboBox::currentIndexChanged, this, [this] { fillDesigns(); });
  connect(name_, &QLineEdit::textChanged, this, &frmNewProject::followName);
  connect(create_, &QPushButton::clicked, this, &frmNewProject::create);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(browse_, &QPushButton::clicked, this, &frmNewProject::browse);
  connect(helpButton_, &QPushButton::clicked, this, [this] { help_.show(); });

  for (const std::string& category : subfolderNames(context_.appFolder + "HtmlDesign"))
    category_->addItem(q(category));
  folder_->setText(q(withSeparator(services_.projectsFolder)));
  name_->setText(q(proposeProjectName(services_.projectsFolder)));
  // The name is what a user changes first: typing replaces the proposal.
  name_->selectAll();
  name_->setFocus();
}

std::string frmNewProject::message(const char* key) const {
  return captionText(captionNode(form_, "Message"), key);
}

void frmNewProject::fillDesigns() {
  designs_->clear();
  const QIcon folderIcon = QFileIconProvider().icon(QFileIconProvider::Folder);
  const std::string category = context_.appFolder + "HtmlDesign/" + category_->currentText().toStdString();
  for (const std::string& design : subfolderNames(category)) designs_->addItem(new QListWidgetItem(folderIcon, q(design)));
  if (designs_->count() > 0) designs_->setCurrentRow(0);
}

// A folder typed without any separator is the user's own and stays.
void frmNewProject::followName(const QString& name) {
  const QString folder = folder_->text();
  const qsizetype last = std::max(folder.lastIndexOf('/'), folder.lastIndexOf(QDir::separator()));
  if (last >= 0) folder_->setText(folder.left(last + 1) + name);
}

void frmNewProject::browse() {
  const QString path = services_.pickSavePath(this, q(message("BrowseTitle")), folder_->text());
  if (!path.isEmpty()) folder_->setText(path);
}

void frmNewProject::create() {
  using Outcome = NewProjectResult::Outcome;
  const QListWidgetItem* design = designs_->currentItem();
  if (!design) return;  // no design to copy: nothing to make
  const std::string source = context_.appFolder + "HtmlDesign/" + category_->currentText().toStdString()  + "/" +
                             design->text().toStdString();
  const NewProjectResult r = createProject(source, folder_->text().toStdString(), name_->text().toStdString());
  switch (r.outcome) {
    case Outcome::Existed:
      services_.prompter->info(QString(q(message("Existed"))).arg(name_->text()).toStdString());
      return;
    case Outcome::CannotMakeFolder:
      services_.prompter->error(message("ErrMakeFolder") + (r.detail.empty() ? "" : "\r\n" + r.detail));
      return;
    case Outcome::CannotSetUpDefinition:
      services_.prompter->error(message("ErrSetupDefine") + "\r\n" + r.detail);
      return;
    case Outcome::Created:
      result_ = r.projectFile;
      accept();
      return;
  }
}

}  // namespace quill
