// Packaging through the wizard's controls, and a package that generates on
// its own: the generator started from the package finds its libraries and
// files there.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <fstream>
#include <set>

#include "designer/frm_package.h"
#include "designer/packaging.h"
#include "designer_test_support.h"

using namespace quill;
using namespace quill::test;

namespace {

class DesignerPackaging : public DesignerFixture {
 protected:
  void SetUp() override {
    DesignerFixture::SetUp();
    context = loadDesignerContext(programDir().string());  // the built generator and its files
    project = root / "My Shop";
    fs::copy(programDir() / "HtmlDesign" / "Standard" / "Modern", project, fs::copy_options::recursive);
  }

  // Next on the start page, the folder typed, next again.
  int package(const std::string& folder) {
    frmPackage wizard(context, services, project.string());
    wizard.findChild<QPushButton*>("Command1(1)")->click();
    wizard.findChild<QLineEdit*>("Text2")->setText(QString::fromStdString(folder));
    wizard.findChild<QPushButton*>("Command1(1)")->click();
    if (wizard.page() == 2) {
      EXPECT_TRUE(wizard.findChild<QPushButton*>("Command3")->isVisibleTo(&wizard));
    }
    return wizard.page();
  }

  static std::set<std::string> entries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
  }

  std::set<std::string> expectedEntries() const {
    std::set<std::string> names = {"quillant", "printing",   "uploading", "qlang.xml", "ProjectDef.prj",
                                   "Data.xls", "Html",       "Script",    "Output",    "HtmlTemplate"};
    for (const std::string& library : componentLibraries(programDir().string())) names.insert(library);
    return names;
  }

  fs::path project;
};

// New folders with and without a final separator, and an existing folder
// whose own files stay.
TEST_F(DesignerPackaging, PackagesIntoNewAndExistingFolders) {
  fs::create_directories(root / "existing");
  std::ofstream(root / "existing" / "notes.txt") << "mine";
  const struct {
    std::string folder;
    const char* question;
  } cases[] = {{(root / "new").string(), "The folder does not exist. Create it?"},
               {(root / "deeper" / "new").string() + "/", "The folder does not exist. Create it?"},
               {(root / "existing").string(), "The folder already exists. Copy the package into it, overwriting "
                                              "the files of the same names?"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    prompter.messages.clear();
    desktop.opened.clear();
    EXPECT_EQ(package(c.folder), 2);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, c.question);
    EXPECT_EQ(desktop.opened, std::vector<std::string>{c.folder});
    std::set<std::string> got = entries(c.folder);
    EXPECT_EQ(got.erase("notes.txt"), c.folder.ends_with("existing") ? 1u : 0u);
    EXPECT_EQ(got, expectedEntries());
    EXPECT_TRUE(fs::exists(fs::path(c.folder) / "Script" / "Subject.lua"));
  }
}

TEST_F(DesignerPackaging, DeclinedOrEmptyFolderStaysOnTheFolderPage) {
  prompter.answer = false;
  EXPECT_EQ(package((root / "new").string()), 1);
  EXPECT_FALSE(fs::exists(root / "new"));
  EXPECT_EQ(package(""), 1);
  ASSERT_EQ(prompter.messages.size(), 2u);
  EXPECT_EQ(prompter.messages[1].kind, "error");
  EXPECT_EQ(prompter.messages[1].text, "Please enter the package folder.");
  EXPECT_TRUE(desktop.opened.empty());
}

// What could not be copied is named in one message, and the wizard does not
// call the package done.
TEST_F(DesignerPackaging, FailedCopiesAreListedAndNotDone) {
  fs::remove_all(project / "Script");
  fs::remove(project / "Data.xls");
  EXPECT_EQ(package((root / "new").string()), 1);
  ASSERT_EQ(prompter.messages.size(), 2u);
  const std::string& text = prompter.messages[1].text;
  EXPECT_EQ(prompter.messages[1].kind, "error");
  EXPECT_EQ(text.rfind("The package is incomplete", 0), 0u);
  EXPECT_NE(text.find("\r\nData.xls: "), std::string::npos);
  EXPECT_NE(text.find("\r\nScript: "), std::string::npos);
  EXPECT_EQ(text.find("Html:"), std::string::npos);
  EXPECT_TRUE(desktop.opened.empty());

  // A package folder inside a folder it copies is refused for that folder.
  prompter.messages.clear();
  EXPECT_EQ(package((project / "Output" / "package").string()), 1);
  ASSERT_EQ(prompter.messages.size(), 2u);
  EXPECT_NE(prompter.messages[1].text.find("\r\nOutput: "), std::string::npos) << prompter.messages[1].text;
  EXPECT_FALSE(fs::exists(project / "Output" / "package" / "Output"));
}

// A project that asks for its password at upload hands none on.
TEST_F(DesignerPackaging, APasswordNotToBeStoredStaysBehind) {
  for (const char* ask : {"1", "0"}) {
    cvDomDoc doc;
    doc.readDoc((project / "ProjectDef.prj").string());
    const DomNodeRef ftp = doc.root()->node("Setup\\Ftp", Missing::Raise);
    ftp->setAttr("Password", "secret", Missing::Raise);
    ftp->setAttr("AskPassword", ask, Missing::Create);
    doc.saveDoc();
    const fs::path folder = root / (std::string("ask") + ask);
    ASSERT_EQ(package(folder.string()), 2);
    cvDomDoc packaged;
    packaged.readDoc((folder / "ProjectDef.prj").string());
    EXPECT_EQ(packaged.root()->node("Setup\\Ftp", Missing::Raise)->getAttr("Password", Missing::Raise),
              std::string(ask) == "1" ? "" : "secret");
  }
}

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
    const int status = ::pclose(p);
    if (status != 0) out += "\n[exit status " + std::to_string(status) + "]";
  }
  return out;
}

// The package's own quillant, with the package's libraries, generates the
// packaged project there.
TEST_F(DesignerPackaging, APackageGeneratesOnItsOwn) {
  const fs::path folder = root / "hand over";
  ASSERT_EQ(package(folder.string()), 2);
  const std::string quillant = "'" + (folder / "quillant").string() + "'";
  const std::string libraries = run("env -u LD_LIBRARY_PATH ldd " + quillant);
  EXPECT_NE(libraries.find((folder / "libcvsystemdb.so").string()), std::string::npos) << libraries;
  EXPECT_EQ(libraries.find("not found"), std::string::npos) << libraries;
  fs::remove(folder / "Output" / "Subject.htm");
  const std::string out =
      run("cd / && env -u DISPLAY -u WAYLAND_DISPLAY " + quillant + " --no-gui '" + (folder / "ProjectDef.prj").string() + "'");
  EXPECT_EQ(out.find("[exit status"), std::string::npos) << out;
  EXPECT_TRUE(fs::exists(folder / "Output" / "Subject.htm")) << out;
  EXPECT_TRUE(fs::exists(folder / "Output" / "Index.htm")) << out;
}

}  // namespace
