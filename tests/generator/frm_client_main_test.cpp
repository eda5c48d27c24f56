// The main window and interactive start-up, headless: toolbar captions from
// a test caption document, real generation runs from the toolbar (the status
// window included), and the opening of folders and documents recorded.
#include "generator/ui/frm_client_main.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <functional>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "engine/marl_doc.h"
#include "generator/app/interactive.h"
#include "generator/pages/page_frame.h"
#include "store/store.h"
#include "test_project.h"

using namespace quill;
using namespace quill::test;

namespace {

class RecordingDesktop : public Desktop {
 public:
  std::vector<std::string> opened;
  void open(const std::string& path) override { opened.push_back(path); }
};

class AnsweringPrompter : public RecordingPrompter {
 public:
  bool confirm(const std::string&, const std::string&, bool) override { return true; }
};

// Clicks a button of a visible top-level window once the event loop gets to
// it (inside a modal dialog's loop, or while a run lets events through) and
// the condition holds.
void clickWhen(const char* window, const char* button, std::function<bool()> condition = [] { return true; }) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [=] {
    if (!condition()) return;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == window && w->isVisible())
        if (auto* b = w->findChild<QAbstractButton*>(button)) {
          timer->deleteLater();
          b->click();
          return;
        }
  });
  timer->start(5);
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qtApplication();
    registerStoreClasses();
    registerEngineClasses();
    registerPageGenerators();
    cvDomDoc::setDebugFlag(false);
    services.appFolder = project.appFolder();
    services.prompter = &prompter;
    services.desktop = &desktop;
  }

  std::unique_ptr<frmClientMain> open(const std::string& path) { return openMainWindow(context, path, services); }

  TestProject project;
  ProjectContext context;
  AnsweringPrompter prompter;
  RecordingDesktop desktop;
  InteractiveServices services;
};

}  // namespace

TEST_F(MainWindowTest, ToolbarCaptionsInOrderAndTheWorkbookOpenedWhenThere) {
  project.writeProject({});
  auto window = open(project.projectFile());
  ASSERT_TRUE(window);
  EXPECT_EQ(window->windowTitle(), "Quillant");
  QStringList captions;
  auto* toolbar = window->findChild<QToolBar*>("Toolbar1");
  for (QAction* action : toolbar->actions()) {
    QWidget* button = toolbar->widgetForAction(action);
    captions << button->objectName() + "=" + static_cast<QToolButton*>(button)->text();
  }
  EXPECT_EQ(captions.join(" "), "excel=&Sheet print=Make send=Send setup=Set");

  window->toolbarClick("excel");  // no workbook: nothing happens
  window->toolbarClick("unknown");
  EXPECT_TRUE(desktop.opened.empty());
  TestProject::writeBytes(project.folder() / "Data.ods", "x");  // the workbook the run would take
  window->findChild<QToolButton*>("excel")->click();
  EXPECT_EQ(desktop.opened, (std::vector<std::string>{project.folderText() + "Data.ods"}));

  // The upload window cannot open without its captions: the error is shown.
  window->toolbarClick("send");
  EXPECT_EQ(prompter.errors, (std::vector<std::string>{"Wrong Tag Name of \"frmFolderTran\""}));
}

// A cancel taken while a script runs (the click arrives through the run's
// own event rounds) and a failure both leave the folder unopened; a run that
// succeeds opens Output. The window is enabled again after each.
TEST_F(MainWindowTest, OnlyARunThatSucceedsOpensTheOutputFolder) {
  project.writeScript("busy.lua",
                      "function OutputFile(f) io.open(f .. 'started', 'w'):close() "
                      "local t = os.clock() while os.clock() - t < 0.2 do end "
                      "io.open(f .. 'ended', 'w'):close() end");
  project.writeScript("bad.lua", "function OutputFile(f) ErrMsg = 'broken' end");
  project.writeProject({{"True", "busy.lua", "Busy"}, {"True", "bad.lua", "Bad"}});
  project.writeWorkbook({{"A1", "G"}});
  auto window = open(project.projectFile());
  window->show();
  clickWhen("frmStatus", "Command1", [this] { return fs::exists(project.folder() / "started"); });
  window->toolbarClick("print");
  EXPECT_TRUE(fs::exists(project.folder() / "ended"));  // the entry that ran went on to its end
  EXPECT_TRUE(desktop.opened.empty());
  EXPECT_TRUE(prompter.errors.empty());  // the failing entry never ran
  EXPECT_TRUE(window->isEnabled());

  window->toolbarClick("print");
  EXPECT_EQ(prompter.errors.back(), "Failed:\r\nbroken");
  EXPECT_TRUE(desktop.opened.empty());
  EXPECT_TRUE(window->isEnabled());

  project.writeScript("bad.lua", "function OutputFile(f) end");
  prompter.errors.clear();
  window->findChild<QToolButton*>("print")->click();
  EXPECT_EQ(prompter.errors, std::vector<std::string>());
  EXPECT_EQ(desktop.opened, (std::vector<std::string>{project.folderText() + "Output"}));
  EXPECT_FALSE(fs::exists(project.folder() / "Data.mdb"));
  EXPECT_TRUE(window->isEnabled());
}

TEST_F(MainWindowTest, AMissingToolbarCaptionEndsTheStartWithMain) {
  project.writeProject({});
  auto captions = cvDomDoc::create();
  captions->readDoc(project.appFolder() + "qlang.xml");
  captions->root()->node("forms\\frmClientMain\\Toolbar1", Missing::Raise)->removeNodeAt(3);  // send
  captions->saveDoc();
  EXPECT_EQ(runInteractive(project.projectFile(), services), 1);
  EXPECT_EQ(prompter.errors, (std::vector<std::string>{"Main:Wrong Tag Name of \"send\""}));
}

// Without a ProjectDef.prj beside the program a window asks for one; closing
// it opens nothing, picking one opens that project.
TEST_F(MainWindowTest, WithoutAProjectBesideTheProgramTheUserPicksOne) {
  project.writeProject({});
  std::vector<std::string> asked;
  services.pickProject = [&](QWidget*, const QString& title) {
    asked.push_back(title.toStdString());
    return project.projectFile();
  };
  clickWhen("frmOpenProject", "Command1(1)");
  EXPECT_FALSE(open(""));
  EXPECT_TRUE(asked.empty());

  clickWhen("frmOpenProject", "Command1(0)");
  auto window = open("");
  ASSERT_TRUE(window);
  EXPECT_EQ(asked, (std::vector<std::string>{"Open"}));
  EXPECT_EQ(context.projectFolder, project.folderText());
}
