// The designer's windows, headless: captions and their strict reads, the
// page list and its ticks, the commands' programs and files, new projects.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <fstream>

#include "common/automation_error.h"
#include "designer/frm_about.h"
#include "designer/frm_main.h"
#include "designer/frm_new_project.h"
#include "designer/frm_package.h"
#include "designer/help.h"
#include "designer_test_support.h"

using namespace quill;
using namespace quill::test;

namespace {

template <class W>
W* child(QWidget& window, const char* name) {
  W* w = window.findChild<W*>(name);
  if (!w) ADD_FAILURE() << "no control " << name;
  return w;
}

using DesignerStartup = DesignerFixture;

TEST_F(DesignerStartup, CaptionsComeFromTheCaptionDocument) {
  frmMain window(load(), services);
  EXPECT_EQ(window.windowTitle(), "Quillant Designer");
  EXPECT_EQ(child<QToolButton>(window, "output")->text(), "&Generate");
  EXPECT_EQ(child<QAction>(window, "mnuHelpVersion")->text(), "&About Quillant Designer");
  EXPECT_EQ(child<QTreeWidget>(window, "ListView1")->headerItem()->text(2), "Description");
  EXPECT_EQ(window.folderDialog().title(), "Choose a folder");
  // No project: only new, open and help work, and Frame2 covers the list.
  for (const char* key : {"save", "output", "pack", "excel", "readme"})
    EXPECT_FALSE(child<QToolButton>(window, key)->isEnabled()) << key;
  EXPECT_FALSE(child<QAction>(window, "mnuProjSave")->isEnabled());
  EXPECT_TRUE(child<QToolButton>(window, "new")->isEnabled());
  EXPECT_EQ(child<QStackedWidget>(window, "Frames")->currentWidget()->objectName(), "Frame2");
}

// A node or attribute that a window reads and the caption document lacks
// stops the window (and so the start) with the store's error.
TEST_F(DesignerStartup, MissingCaptionsAreErrors) {
  struct Case {
    const char* node;       // path below forms
    const char* attribute;  // "" removes the node itself
    int number;
    std::function<void(DesignerFixture&)> open;
  };
  auto mainWindow = [](DesignerFixture& f) { frmMain w(f.context, f.services); };
  auto newProject = [](DesignerFixture& f) {
    HelpStarter help(f.context.appFolder, f.launcher, f.desktop);
    frmNewProject w(f.context, f.services, help);
  };
  auto package = [](DesignerFixture& f) { frmPackage w(f.context, f.services, f.root.string()); };
  auto about = [](DesignerFixture& f) {
    HelpStarter help(f.context.appFolder, f.launcher, f.desktop);
    frmAbout w(f.context, f.prompter, help);
  };
  const Case cases[] = {
      {"frmMain\\Toolbar1\\pack", "", 10002, mainWindow},
      {"frmMain\\ListView1", "Header3", 10006, mainWindow},
      {"frmMain\\Menu\\mnuProjExit", "Caption", 10006, mainWindow},
      {"frmMain\\ctlFolderDialog1", "Title", 10006, mainWindow},
      {"frmNewProject\\Command1", "Caption1", 10006, newProject},
      {"frmNewProject\\Message", "Existed", 10006, newProject},
      {"frmPackage\\Message", "PlsEnterDirPath", 10006, package},
      {"frmPackage\\Label1", "Caption2", 10006, package},
      {"frmAbout\\cmdOK", "", 10002, about},
  };
  const fs::path pristine = root / "dlang.xml";
  fs::copy(appFolder / "dlang.xml", pristine);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.node) + " " + c.attribute);
    fs::copy(pristine, appFolder / "dlang.xml", fs::copy_options::overwrite_existing);
    editCaptions([&](const DomNodeRef& root) {
      const DomNodeRef node = root->node(std::string("forms\\") + c.node, Missing::Raise);
      if (*c.attribute)
        node->removeAttr(c.attribute);
      else
        node->parent()->removeNode(node);
    });
    load();
    try {
      c.open(*this);
      ADD_FAILURE() << "the window opened";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), c.number);
    }
  }
}

TEST_F(DesignerStartup, MissingDocumentsOrNodesStopTheStart) {
  const std::pair<const char*, int> cases[] = {{"System.xml", 19999}, {"dlang.xml", 19999}};
  for (const auto& [file, number] : cases) {
    fs::rename(appFolder / file, root / file);
    try {
      load();
      ADD_FAILURE() << file;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), number) << file;
      EXPECT_EQ(e.description(), std::string(file) + " in " + appFolder.string() + "/: the file is missing");
    }
    fs::rename(root / file, appFolder / file);
  }
  std::ofstream(appFolder / "System.xml") << "<?xml version=\"1.0\"?><Designer/>";  // no Init
  EXPECT_THROW(load(), AutomationError);
}

class DesignerMainWindow : public DesignerFixture {
 protected:
  void SetUp() override {
    DesignerFixture::SetUp();
    window = std::make_unique<frmMain>(load(), services);
    project = root / "My Shop";
    writeProject(project, {{"Categories", "../HtmlTemplate/Subject.htm", "all categories", "True"},
                           {"Items", "ItemList.htm", "one page per item", "False"}});
  }
  void TearDown() override {
    window.reset();
    DesignerFixture::TearDown();
  }
  QTreeWidget* list() { return child<QTreeWidget>(*window, "ListView1"); }
  void click(const char* key) { child<QToolButton>(*window, key)->click(); }
  std::string selectedOnDisk(int row) {
    cvDomDoc doc;
    doc.readDoc((project / "ProjectDef.prj").string());
    return doc.root()->node("Scripts", Missing::Raise)->nodeAt(row)->getAttr("Selected", Missing::Raise);
  }

  std::unique_ptr<frmMain> window;
  fs::path project;
};

TEST_F(DesignerMainWindow, ListShowsTheScriptsAndSaveOrCloseWritesTheTicksBack) {
  window->OpenProject((project / "ProjectDef.prj").string());
  ASSERT_EQ(list()->topLevelItemCount(), 2);
  EXPECT_EQ(list()->topLevelItem(1)->text(0), "Items");
  EXPECT_EQ(list()->topLevelItem(1)->text(1), "ItemList.htm");
  EXPECT_EQ(list()->topLevelItem(1)->text(2), "one page per item");
  EXPECT_EQ(list()->topLevelItem(0)->checkState(0), Qt::Checked);
  EXPECT_EQ(list()->topLevelItem(1)->checkState(0), Qt::Unchecked);
  EXPECT_EQ(child<QStackedWidget>(*window, "Frames")->currentWidget()->objectName(), "Frame1");
  EXPECT_TRUE(child<QToolButton>(*window, "pack")->isEnabled());

  list()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  list()->topLevelItem(1)->setCheckState(0, Qt::Checked);
  click("save");
  EXPECT_EQ(selectedOnDisk(1), "False");
  EXPECT_EQ(selectedOnDisk(2), "True");
  EXPECT_TRUE(prompter.messages.empty());
  list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
  window->close();  // closing with a project saves its ticks too
  EXPECT_EQ(selectedOnDisk(1), "True");
}

TEST_F(DesignerMainWindow, ProjectsThatCannotBeOpened) {
  writeProject(root / "Empty", {});
  window->OpenProject((root / "Empty" / "ProjectDef.prj").string());
  EXPECT_EQ(list()->topLevelItemCount(), 0);
  EXPECT_TRUE(child<QToolButton>(*window, "output")->isEnabled());

  window->OpenProject((root / "nowhere" / "ProjectDef.prj").string());
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].kind, "error");
  EXPECT_NE(prompter.messages[0].text.find("Error occurred in loading the project."), std::string::npos);
  // A row without Selected is a missing attribute in strict mode.
  {
    cvDomDoc doc;
    doc.readDoc((project / "ProjectDef.prj").string());
    doc.root()->node("Scripts", Missing::Raise)->nodeAt(2)->removeAttr("Selected");
    doc.saveDoc();
  }
  window->OpenProject((project / "ProjectDef.prj").string());
  ASSERT_EQ(prompter.messages.size(), 2u);
  EXPECT_NE(prompter.messages[1].text.find("Selected"), std::string::npos) << prompter.messages[1].text;
}

// The generator gets the project file as one argument: the blank in the
// folder's name stays inside it. The ticks are saved first.
TEST_F(DesignerMainWindow, OutputStartsTheGeneratorOnTheProject) {
  window->OpenProject((project / "ProjectDef.prj").string());
  list()->topLevelItem(1)->setCheckState(0, Qt::Checked);
  click("output");
  ASSERT_EQ(launcher.starts.size(), 1u);
  EXPECT_EQ(launcher.starts[0].program, appFolder.string() + "/quillant");
  EXPECT_EQ(launcher.starts[0].arguments, std::vector<std::string>{project.string() + "/ProjectDef.prj"});
  EXPECT_EQ(selectedOnDisk(2), "True");
}

TEST_F(DesignerMainWindow, CommandsOpenTheProjectsFiles) {
  window->OpenProject((project / "ProjectDef.prj").string());
  click("excel");
  click("readme");
  emit list()->itemDoubleClicked(list()->topLevelItem(0), 0);
  click("help");  // no viewer in the program folder: the guide
  const std::vector<std::string> expected = {project.string() + "/Data.xls", project.string() + "/readme/index.htm",
                                             project.string() + "/HtmlTemplate/Subject.htm",
                                             appFolder.string() + "/help/index.html"};
  EXPECT_EQ(desktop.opened, expected);

  std::ofstream(appFolder / "bookwisp") << "";  // a help viewer beside the program
  click("help");
  ASSERT_EQ(launcher.starts.size(), 1u);
  EXPECT_EQ(launcher.starts[0].program, appFolder.string() + "/bookwisp");
}

TEST_F(DesignerMainWindow, ClosingWithoutAProjectWritesOnlyTheSettings) {
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (const auto& e : fs::recursive_directory_iterator(root)) fs::last_write_time(e.path(), old);
  const auto before = snapshot(root, "program/System.xml");
  window->close();
  EXPECT_NE(fs::last_write_time(appFolder / "System.xml"), old);
  EXPECT_EQ(snapshot(root, "program/System.xml"), before);
}

class DesignerNewProject : public DesignerFixture {
 protected:
  std::unique_ptr<frmNewProject> open() {
    load();
    help = std::make_unique<HelpStarter>(context.appFolder, launcher, desktop);
    return std::make_unique<frmNewProject>(context, services, *help);
  }
  std::unique_ptr<HelpStarter> help;
};

TEST_F(DesignerNewProject, ProposesTheFirstFreeNameAndTheFolderFollowsIt) {
  fs::create_directories(projects / "Project1");
  fs::create_directories(projects / "Project2");
  auto window = open();
  EXPECT_EQ(child<QComboBox>(*window, "Combo1")->currentText(), "Standard");
  EXPECT_EQ(child<QListWidget>(*window, "ListView1")->currentItem()->text(), "Modern");
  auto* name = child<QLineEdit>(*window, "Text1");
  auto* folder = child<QLineEdit>(*window, "Text2");
  EXPECT_EQ(name->text(), "Project3");
  EXPECT_EQ(folder->text().toStdString(), projects.string() + "/Project3");
  name->setText("Tea Shop");
  EXPECT_EQ(folder->text().toStdString(), projects.string() + "/Tea Shop");
  folder->setText("shops");  // typed without a separator: the user's own
  name->setText("Coffee");
  EXPECT_EQ(folder->text(), "shops");
}

TEST_F(DesignerNewProject, CreatesTheProjectWithItsName) {
  auto window = open();
  child<QLineEdit>(*window, "Text1")->setText("Tea Shop");
  child<QPushButton>(*window, "Command1(0)")->click();
  const fs::path made = projects / "Tea Shop";
  EXPECT_EQ(window->projectFile(), (made / "ProjectDef.prj").string());
  EXPECT_EQ(window->result(), QDialog::Accepted);  // closed by create
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(fs::exists(made / "Script" / "Subject.lua"));
  cvDomDoc doc;
  doc.readDoc((made / "ProjectDef.prj").string());
  EXPECT_EQ(doc.root()->getAttr("Name", Missing::Raise), "Tea Shop");
}

TEST_F(DesignerNewProject, AnExistingFolderIsRefusedAndLeftAlone) {
  fs::create_directories(projects / "Shop");
  std::ofstream(projects / "Shop" / "notes.txt") << "mine";
  const auto before = snapshot(root, "program/System.xml");  // not touched either, but read by load()
  auto window = open();
  child<QLineEdit>(*window, "Text1")->setText("Shop");
  child<QPushButton>(*window, "Command1(0)")->click();
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].kind, "info");
  EXPECT_EQ(prompter.messages[0].text, "The project \"Shop\" already exists.");
  EXPECT_EQ(window->projectFile(), "");
  EXPECT_EQ(snapshot(root, "program/System.xml"), before);
}

TEST_F(DesignerNewProject, ADesignWithoutANameFailsAtTheDefinition) {
  const fs::path design = appFolder / "HtmlDesign" / "Standard" / "Modern" / "ProjectDef.prj";
  {
    cvDomDoc doc;
    doc.readDoc(design.string());
    doc.root()->removeAttr("Name");
    doc.saveDoc();
  }
  auto window = open();
  child<QPushButton>(*window, "Command1(0)")->click();
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0].kind, "error");
  EXPECT_EQ(prompter.messages[0].text, "Can not set up the project definition file.\r\nWrong AttrName of Name");
  EXPECT_EQ(window->projectFile(), "");
}

TEST(DesignerAbout, VersionForm) {
  const std::pair<const char*, const char*> cases[] = {
      {"1.0.23", "1.00.023"}, {"1.0.0", "1.00.000"}, {"2.15.7", "2.15.007"}, {"3", "3.00.000"}};
  for (const auto& [version, shown] : cases) EXPECT_EQ(formatVersion(version), shown) << version;
  EXPECT_NE(systemInformation().find("Qt: "), std::string::npos);
}

// A program folder that cannot take a Projects folder (here: it is a file,
// which holds for root too) sends new projects to the documents folder.
TEST_F(DesignerStartup, DefaultProjectsFolder) {
  EXPECT_EQ(defaultProjectsFolder(appFolder.string(), (root / "Documents").string()),
            (appFolder / "Projects").string() + "/");
  std::ofstream(root / "program.bin") << "";
  EXPECT_EQ(defaultProjectsFolder((root / "program.bin").string(), (root / "Documents").string()),
            (root / "Documents" / "Quillant Projects").string() + "/");
  EXPECT_TRUE(fs::is_directory(root / "Documents" / "Quillant Projects"));
}

}  // namespace
