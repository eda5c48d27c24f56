// The window is laid out in its constructor: a fixed toolbar of four
// buttons with drawn images and captions under them, and a centre that
// names the project. Each button calls toolbarClick with its key, which
// catches every error of the command and shows its description.
//
// print frames the run as the batch mode does (runGeneration) with a status
// window of its own; the main window stays disabled until the run is over,
// also when it fails.
#include "generator/ui/frm_client_main.h"

#include <QCloseEvent>
#include <QLabel>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>

#include "common/automation_error.h"
#include "generator/import/workbook_file.h"
#include "generator/project/captions.h"
#include "generator/report/desktop.h"
#include "generator/report/prompter.h"
#include "generator/run/generation_run.h"
#include "generator/ui/frm_status.h"
#include "generator/ui/toolbar_icons.h"
#include "generator/upload/frm_folder_tran.h"
#include "generator/upload/frm_setup.h"

namespace fs = std::filesystem;

namespace quill {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// The project's name from its definition, else its folder's name.
QString projectName(const ProjectContext& context) {
  if (const std::string* name = context.projectDoc->root()->attrTable().find("Name"); name && !name->empty())
    return q(*name);
  return q(fs::path(context.projectFolder).parent_path().filename().string());
}

}  // namespace

frmClientMain::frmClientMain(const ProjectContext& context, Prompter& prompter, Desktop& desktop, QWidget* parent)
    : QMainWindow(parent),
      context_(context),
      prompter_(prompter),
      desktop_(desktop),
      toolbar_(new QToolBar(this)),
      projectName_(new QLabel(this)),
      projectFolder_(new QLabel(this)) {
  setObjectName("frmClientMain");
  setWindowTitle("Quillant");
  toolbar_->setObjectName("Toolbar1");
  toolbar_->setMovable(false);
  toolbar_->setFloatable(false);
  toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  toolbar_->setIconSize(QSize(32, 32));
  addToolBar(Qt::TopToolBarArea, toolbar_);
  for (size_t i = 0; i < kKeys.size(); ++i) {
    auto* button = new QToolButton(toolbar_);
    button->setObjectName(kKeys[i]);
    button->setIcon(toolbarIcon(kKeys[i]));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setMinimumWidth(88);
    button->setFocusPolicy(Qt::StrongFocus);
    toolbar_->addWidget(button);
    connect(button, &QToolButton::clicked, this, [this, key = QString(kKeys[i])] { toolbarClick(key); });
    buttons_[i] = button;
  }

  QFont nameFont = projectName_->font();
  nameFont.setPointSizeF(nameFont.pointSizeF() * 1.4);
  nameFont.setBold(true);
  projectName_->setFont(nameFont);
  projectName_->setText(projectName(context));
  projectFolder_->setText(q(context.projectFolder));
  projectFolder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* centre = new QWidget(this);
  auto* layout = new QVBoxLayout(centre);
  layout->setContentsMargins(16, 12, 16, 16);
  layout->addWidget(projectName_);
  layout->addWidget(projectFolder_);
  layout->addStretch(1);
  setCentralWidget(centre);

  loadCaptions();
  buttons_[1]->setFocus();
}

void frmClientMain::loadCaptions() {
  const DomNodeRef toolbar = captionNode(captionNode(context_.formsNode, "frmClientMain"), "Toolbar1");
  for (size_t i = 0; i < kKeys.size(); ++i)
    buttons_[i]->setText(q(captionText(captionNode(toolbar, kKeys[i]), "Caption")));
}

void frmClientMain::toolbarClick(const QString& key) {
  try {
    if (key == "excel")
      editWorkbook();
    else if (key == "print")
      printPages();
    else if (key == "send")
      openUpload();
    else if (key == "setup")
      openSetup();
  } catch (const AutomationError& e) {
    prompter_.error(e.description());
  } catch (const std::exception& e) {
    prompter_.error(e.what());
  }
}

// The workbook the run would import. A missing one opens nothing and says
// nothing, as the desktop's opener would fail silently.
void frmClientMain::editWorkbook() {
  const WorkbookChoice workbook = findWorkbook(context_.projectFolder);
  if (workbook.exists) desktop_.open(workbook.path);
}

void frmClientMain::printPages() {
  setEnabled(false);
  running_ = true;
  struct Reenable {
    frmClientMain* window;
    ~Reenable() {
      window->running_ = false;
      window->setEnabled(true);
    }
  } reenable{this};
  frmStatus status(context_.appFolder, prompter_);
  status.adjustSize();
  status.move(frameGeometry().center() - status.rect().center());
  runGeneration(context_, status, prompter_, [this](const std::string& folder) { desktop_.open(folder); });
}

// The project's Output folder: in a packaged project the program's own.
void frmClientMain::openUpload() {
  frmFolderTran window(context_, context_.projectFolder + "Output", prompter_, this);
  window.exec();
}

void frmClientMain::openSetup() {
  frmSetup dialog(context_, prompter_, this);
  dialog.exec();
}

void frmClientMain::closeEvent(QCloseEvent* event) {
  if (running_)
    event->ignore();
  else
    event->accept();
}

}  // namespace quill
