// The window is laid out in its constructor: menu, a fixed toolbar with
// drawn images and captions under them, and a stack of two frames in the
// centre: Frame2 with a hint while no project is open, Frame1 with the
// project's name, folder and page list once one is. Every command goes
// through toolbarClick, which catches its errors and shows them.
#include "designer/frm_main.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "common/automation_error.h"
#include "common/variant.h"
#include "designer/frm_about.h"
#include "designer/frm_new_project.h"
#include "designer/frm_package.h"
#include "designer/launcher.h"
#include "designer/packaging.h"
#include "generator/import/workbook_file.h"
#include "generator/project/captions.h"
#include "generator/report/desktop.h"
#include "generator/report/prompter.h"
#include "generator/ui/toolbar_icons.h"

namespace fs = std::filesystem;

namespace quill {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// Keys whose commands need an open project.
bool needsProject(std::string_view key) {
  return key == "save" || key == "output" || key == "pack" || key == "excel" || key == "readme";
}

}  // namespace

frmMain::frmMain(DesignerContext& context, DesignerServices services, QWidget* parent)
    : QMainWindow(parent),
      context_(context),
      services_(std::move(services)),
      help_(context.appFolder, *services_.launcher, *services_.desktop),
      toolbar_(new QToolBar(this)),
      frames_(new QStackedWidget(this)),
      frame1_(new QWidget(frames_)),
      frame2_(new QWidget(frames_)),
      list_(new QTreeWidget(frame1_)),
      folderDialog_(this) {
  setObjectName("frmMain");
  form_ = captionNode(context_.formsNode, "frmMain");
  buildMenu();
  buildToolbar();
  buildList();
  loadCaptions();
  setProjectCommandsEnabled(false);
  resize(760, 460);
}

frmMain::~frmMain() = default;

void frmMain::buildMenu() {
  projectMenu_ = menuBar()->addMenu(QString());
  projectMenu_->setObjectName("mnuProj");
  helpMenu_ = menuBar()->addMenu(QString());
  helpMenu_->setObjectName("mnuHelp");
  const std::pair<const char*, const char*> items[] = {
      {"mnuProjNew", "new"}, {"mnuProjOpen", "open"}, {"mnuProjSave", "save"}, {"mnuProjExit", nullptr},
      {"mnuHelpIndex", "help"}, {"mnuHelpVersion", nullptr}};
  for (const auto& [name, key] : items) {
    QMenu* menu = std::string_view(name).starts_with("mnuHelp") ? helpMenu_ : projectMenu_;
    if (std::string_view(name) == "mnuProjExit") menu->addSeparator();
    QAction* action = menu->addAction(QString());
    action->setObjectName(name);
    if (key) action->setIcon(toolbarIcon(key));
    menu_[name] = action;
    if (key)
      connect(action, &QAction::triggered, this, [this, k = QString(key)] { toolbarClick(k); });
  }
  menu_["mnuProjNew"]->setShortcut(QKeySequence::New);
  menu_["mnuProjOpen"]->setShortcut(QKeySequence::Open);
  menu_["mnuProjSave"]->setShortcut(QKeySequence::Save);
  menu_["mnuHelpIndex"]->setShortcut(QKeySequence::HelpContents);
  connect(menu_["mnuProjExit"], &QAction::triggered, this, &QWidget::close);
  connect(menu_["mnuHelpVersion"], &QAction::triggered, this, [this] { toolbarClick("about"); });
}

void frmMain::buildToolbar() {
  toolbar_->setObjectName("Toolbar1");
  toolbar_->setMovable(false);
  toolbar_->setFloatable(false);
  toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  toolbar_->setIconSize(QSize(32, 32));
  addToolBar(Qt::TopToolBarArea, toolbar_);
  for (size_t i = 0; i < kKeys.size(); ++i) {
    // A gap between the project commands and the ones that open files.
    if (std::string_view(kKeys[i]) == "output" || std::string_view(kKeys[i]) == "excel" ||
        std::string_view(kKeys[i]) == "help")
      toolbar_->addSeparator();
    auto* button = new QToolButton(toolbar_);
    button->setObjectName(kKeys[i]);
    button->setIcon(toolbarIcon(kKeys[i]));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setMinimumWidth(72);
    toolbar_->addWidget(button);
    connect(button, &QToolButton::clicked, this, [this, key = QString(kKeys[i])] { toolbarClick(key); });
    buttons_[i] = button;
  }
}

void frmMain::buildList() {
  frames_->setObjectName("Frames");
  frame1_->setObjectName("Frame1");
  frame2_->setObjectName("Frame2");
  list_->setObjectName("ListView1");
  list_->setColumnCount(3);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAlternatingRowColors(true);
  list_->header()->setStretchLastSection(true);
  list_->setColumnWidth(0, 200);
  list_->setColumnWidth(1, 200);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { editTemplate(item); });

  auto* projectName = new QLabel(frame1_);
  projectName->setObjectName("ProjectName");
  QFont bold = projectName->font();
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  bold.setBold(true);
  projectName->setFont(bold);
  auto* folder = new QLabel(frame1_);
  folder->setObjectName("ProjectFolder");
  folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* layout1 = new QVBoxLayout(frame1_);
  layout1->setContentsMargins(12, 10, 12, 12);
  layout1->addWidget(projectName);
  layout1->addWidget(folder);
  layout1->addWidget(list_, 1);

  auto* hint = new QLabel(frame2_);
  hint->setObjectName("Hint");
  hint->setWordWrap(true);
  hint->setAlignment(Qt::AlignCenter);
  hint->setMargin(40);
  auto* layout2 = new QVBoxLayout(frame2_);
  layout2->addWidget(hint);

  frames_->addWidget(frame1_);
  frames_->addWidget(frame2_);
  frames_->setCurrentWidget(frame2_);
  setCentralWidget(frames_);
}

void frmMain::loadCaptions() {
  setWindowTitle(q(captionText(form_, "Caption")));
  folderDialog_.setTitle(q(captionText(captionNode(form_, "ctlFolderDialog1"), "Title")));
  const DomNodeRef menu = captionNode(form_, "Menu");
  projectMenu_->setTitle(q(captionText(captionNode(menu, "mnuProj"), "Caption")));
  helpMenu_->setTitle(q(captionText(captionNode(menu, "mnuHelp"), "Caption")));
  for (auto& [name, action] : menu_) action->setText(q(captionText(captionNode(menu, name), "Caption")));
  const DomNodeRef toolbar = captionNode(form_, "Toolbar1");
  for (size_t i = 0; i < kKeys.size(); ++i)
    buttons_[i]->setText(q(captionText(captionNode(toolbar, kKeys[i]), "Caption")));
  const DomNodeRef columns = captionNode(form_, "ListView1");
  list_->setHeaderLabels({q(captionText(columns, "Header1")), q(captionText(columns, "Header2")),
                          q(captionText(columns, "Header3"))});
  frame2_->findChild<QLabel*>("Hint")->setText(q(captionText(captionNode(form_, "Frame2"), "Caption")));
  const DomNodeRef messages = captionNode(form_, "Message");
  for (const char* key : {"LoadError", "OpenTitle", "OpenFilter", "GeneratorFailed"}) captionText(messages, key);
}

std::string frmMain::message(const char* key) const {
  return captionText(captionNode(form_, "Message"), key);
}

void frmMain::setProjectCommandsEnabled(bool enabled) {
  menu_["mnuProjSave"]->setEnabled(enabled);
  for (size_t i = 0; i < kKeys.size(); ++i)
    if (needsProject(kKeys[i])) buttons_[i]->setEnabled(enabled);
}

void frmMain::OpenProject(const std::string& path) {
  try {
    auto doc = cvDomDoc::create();
    // Absolute, as the generator starts in the program folder.
    const fs::path file = fs::absolute(fs::path(path)).lexically_normal();
    const std::string folder = withSeparator(file.parent_path().string());
    doc->readDoc(file.string());
    const DomNodeRef scripts = doc->root()->node("Scripts", Missing::Raise);
    projectDoc_ = doc;
    scriptsNode_ = scripts;
    projectFolder_ = folder;
    list_->clear();
    for (int i = 1; i <= scripts->length(); ++i) {
      const DomNodeRef entry = scripts->nodeAt(i);
      auto* row = new QTreeWidgetItem(list_);
      row->setText(0, q(entry->getAttr("Name", Missing::Raise)));
      row->setText(1, q(entry->getAttr("TempHtml", Missing::Raise)));
      row->setText(2, q(entry->getAttr("Desc", Missing::Raise)));
      row->setCheckState(0, Variant(entry->getAttr("Selected", Missing::Raise)).toBool() ? Qt::Checked : Qt::Unchecked);
    }
    setProjectCommandsEnabled(true);
    const std::string* name = doc->root()->attrTable().find("Name");
    frame1_->findChild<QLabel*>("ProjectName")
        ->setText(name && !name->empty() ? q(*name) : q(file.parent_path().filename().string()));
    frame1_->findChild<QLabel*>("ProjectFolder")->setText(q(folder));
    frames_->setCurrentWidget(frame1_);
    list_->setFocus();
  } catch (const AutomationError& e) {
    services_.prompter->error(message("LoadError") + "\r\n" + e.description());
  } catch (const std::exception& e) {
    services_.prompter->error(message("LoadError") + "\r\n" + e.what());
  }
}

void frmMain::SaveProjectList() {
  if (!projectDoc_) return;
  const int rows = list_->topLevelItemCount();
  for (int i = 1; i <= scriptsNode_->length() && i <= rows; ++i) {
    const bool ticked = list_->topLevelItem(i - 1)->checkState(0) == Qt::Checked;
    scriptsNode_->nodeAt(i)->setAttr("Selected", ticked ? "True" : "False", Missing::Raise);
  }
  projectDoc_->saveDoc();
}

void frmMain::toolbarClick(const QString& key) {
  try {
    if (needsProject(key.toStdString()) && !projectDoc_) return;
    if (key == "new")
      newProject();
    else if (key == "open")
      openProjectFile();
    else if (key == "save")
      SaveProjectList();
    else if (key == "output")
      generate();
    else if (key == "pack")
      package();
    else if (key == "excel")
      services_.desktop->open(findWorkbook(projectFolder_).path);
    else if (key == "readme")
      services_.desktop->open(projectFolder_ + "readme" + static_cast<char>(fs::path::preferred_separator) +
                              "index.htm");
    else if (key == "help")
      help_.show();
    else if (key == "about")  // the menu's only: the toolbar has no such key
      about();
  } catch (const AutomationError& e) {
    services_.prompter->error(e.description());
  } catch (const std::exception& e) {
    services_.prompter->error(e.what());
  }
}

std::string frmMain::SetNewProject() {
  frmNewProject window(context_, services_, help_, this);
  window.exec();
  return window.projectFile();
}

void frmMain::newProject() {
  const std::string path = SetNewProject();
  if (!path.empty()) OpenProject(path);
}

void frmMain::openProjectFile() {
  const QString path = services_.pickOpenFile(this, q(message("OpenTitle")), q(services_.projectsFolder),
                                              q(message("OpenFilter")));
  if (!path.isEmpty()) OpenProject(path.toStdString());
}

// The generator gets the project file as one argument, blanks and all; it
// starts in the program folder like every program of the folder.
void frmMain::generate() {
  SaveProjectList();
  const std::string program = context_.appFolder + kGeneratorProgram;
  if (!services_.launcher->start(program, {projectFolder_ + "ProjectDef.prj"}, context_.appFolder))
    services_.prompter->error(message("GeneratorFailed") + "\r\n" + program);
}

void frmMain::package() {
  SaveProjectList();
  frmPackage wizard(context_, services_, projectFolder_, this);
  wizard.exec();
}

// Templates are named relative to Html (the built-in generators' ones lie
// in ../HtmlTemplate); the path is tidied before the desktop sees it.
void frmMain::editTemplate(QTreeWidgetItem* item) {
  if (!item || !projectDoc_) return;
  const fs::path file = (fs::path(projectFolder_) / "Html" / item->text(1).toStdString()).lexically_normal();
  services_.desktop->open(file.string());
}

void frmMain::about() {
  frmAbout window(context_, *services_.prompter, help_, this);
  window.exec();
}

void frmMain::closeEvent(QCloseEvent* event) {
  try {
    SaveProjectList();
  } catch (const std::exception&) {
  }
  try {
    context_.settingsDoc->saveDoc();
  } catch (const std::exception&) {
  }
  event->accept();
}

}  // namespace quill
