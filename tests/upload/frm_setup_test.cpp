// The settings dialog on a project file made through the store, with a
// caption document of its own, so that every caption shown is seen to come
// from it. Controls are found by their form names.
#include "generator/upload/frm_setup.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

#include "../generator/test_project.h"
#include "common/automation_error.h"

using namespace quill;
using test::RecordingPrompter;
namespace fs = std::filesystem;

namespace {

const char* const kCaptions =
    "<lang><forms><frmSetup Caption=\"T\">"
    "<Command1 Caption0=\"-\" Caption1=\"C1\"/><SSTab1 Tab0=\"-\" Tab1=\"Page\"/>"
    "<SSTab2 Tab0=\"B\" Tab1=\"E\" Tab2=\"O\"/><Check3 Caption=\"PM\"/><Check4 Caption=\"FW\"/>"
    "<Label2 Caption0=\"L0\" Caption1=\"L1\" Caption2=\"L2\" Caption3=\"L3\" Caption4=\"L4\" Caption5=\"L5\" Caption6=\"L6\"/>"
    "<Combo4 List0=\"S0\" List1=\"S1\" List2=\"S2\"/><Check6 Caption=\"NP\"/>"
    "<Label3 Caption0=\"M0\" Caption1=\"M1\" Caption2=\"M2\" Caption3=\"M3\"/><Label4 Caption0=\"N0\"/>"
    "<Check5 Caption=\"SY\"/><Label5 Caption0=\"P0\" Caption1=\"P1\"/>"
    "</frmSetup></forms></lang>";

const char* const kFullFtp =
    "<Ftp Ip=\"ftp.shop.example\" User=\"shop\" Password=\"pw\" Account=\"\" Port=\"21\" ServerPath=\"/www\" "
    "PassMode=\"1\" TxtFile=\"htm html\" FirewallFlag=\"0\" FirewallType=\"2\" FirewallIP=\"\" FirewallUser=\"\" "
    "FirewallPassword=\"\"/>";

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SetupDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::qtApplication();
    cvDomDoc::setDebugFlag(false);
    folder_ = fs::temp_directory_path() / ("quillant-setup-" + std::to_string(::getpid()) + "-" +
                                           std::to_string(counter_++));
    fs::create_directories(folder_);
    captions_ = textToNode(kCaptions);
    context.formsNode = captions_->node("forms", Missing::Raise);
  }
  void TearDown() override {
    cvDomDoc::setDebugFlag(false);
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  // Writes ProjectDef.prj with this Setup content and loads it as the
  // program does (the store is strict from then on).
  void loadProjectWith(const std::string& setupContent) {
    auto doc = cvDomDoc::create();
    doc->setRoot(textToNode("<Project><Scripts/><Setup>" + setupContent + "</Setup></Project>"));
    doc->saveDoc(projectFile().string());
    loadProject(context, projectFile().string());
  }
  fs::path projectFile() const { return folder_ / "ProjectDef.prj"; }

  template <class T>
  T* find(const frmSetup& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(name);
    EXPECT_TRUE(widget) << name;
    return widget;
  }
  QLineEdit* field(const frmSetup& dialog, const char* name) { return find<QLineEdit>(dialog, name); }

  static inline int counter_ = 0;
  fs::path folder_;
  DomNodeRef captions_;
  ProjectContext context;
  RecordingPrompter prompter;
};

}  // namespace

TEST_F(SetupDialogTest, ShowsCaptionsAndSettingsAndOkSavesEveryFieldInOrder) {
  loadProjectWith(kFullFtp);
  frmSetup dialog(context, prompter);
  EXPECT_EQ(dialog.windowTitle(), "T");
  EXPECT_EQ(find<QLabel>(dialog, "SSTab1")->text(), "Page");
  auto* tabs = find<QTabWidget>(dialog, "SSTab2");
  EXPECT_EQ(tabs->tabText(0) + tabs->tabText(1) + tabs->tabText(2), "BEO");
  EXPECT_EQ(find<QPushButton>(dialog, "Command1(1)")->text(), "C1");
  EXPECT_EQ(find<QPushButton>(dialog, "Command1(0)")->text(), "OK");
  EXPECT_EQ(find<QCheckBox>(dialog, "Check3")->text(), "PM");
  EXPECT_EQ(find<QCheckBox>(dialog, "Check4")->text(), "FW");
  QString labels;
  for (const char* name : {"Label2(0)", "Label2(5)", "Label3(0)", "Label3(3)", "Label4(0)", "Label5(0)", "Label5(1)"})
    labels += find<QLabel>(dialog, name)->text();
  EXPECT_EQ(labels, "L0L5M0M3N0P0P1");
  EXPECT_EQ(find<QCheckBox>(dialog, "Check5")->text(), "SY");

  EXPECT_EQ(field(dialog, "Text1(1)")->text(), "ftp.shop.example");
  EXPECT_EQ(field(dialog, "Text1(4)")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(field(dialog, "Text2(2)")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(field(dialog, "Text1(6)")->text(), "/www");
  EXPECT_EQ(field(dialog, "Text3")->text(), "htm html");
  EXPECT_TRUE(find<QCheckBox>(dialog, "Check3")->isChecked());
  EXPECT_FALSE(find<QCheckBox>(dialog, "Check4")->isChecked());
  EXPECT_EQ(find<QComboBox>(dialog, "Combo3")->currentIndex(), 2);
  EXPECT_EQ(find<QComboBox>(dialog, "Combo3")->itemText(3), QString::fromUtf8("USER \u30BF\u30A4\u30D7" "2"));
  EXPECT_FALSE(field(dialog, "Text2(0)")->isEnabled());  // the firewall is off

  const std::vector<std::pair<const char*, int>> limits = {{"Text1(1)", 50}, {"Text1(2)", 20}, {"Text1(3)", 50},
                                                           {"Text1(4)", 50}, {"Text1(5)", 50}, {"Text1(6)", 100},
                                                           {"Text3", 200},   {"Text2(0)", 100}, {"Text2(1)", 100},
                                                           {"Text2(2)", 100}};
  int n = 0;
  for (const auto& [name, limit] : limits) {
    QLineEdit* edit = field(dialog, name);
    EXPECT_EQ(edit->maxLength(), limit) << name;
    edit->setText(QString("v%1").arg(n++));
  }
  find<QCheckBox>(dialog, "Check3")->setChecked(false);
  find<QCheckBox>(dialog, "Check4")->setChecked(true);
  EXPECT_TRUE(field(dialog, "Text2(0)")->isEnabled());
  find<QComboBox>(dialog, "Combo3")->setCurrentIndex(1);
  find<QPushButton>(dialog, "Command1(0)")->click();

  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(prompter.errors.empty());
  auto saved = cvDomDoc::create();
  saved->readDoc(projectFile().string());
  EXPECT_EQ(nodeToText(*saved->root()->nodeAt(2)),
            "<Setup><Ftp Ip=\"v0\" User=\"v2\" Password=\"v3\" Account=\"v4\" Port=\"v1\" ServerPath=\"v5\" "
            "PassMode=\"0\" TxtFile=\"v6\" FirewallFlag=\"1\" FirewallType=\"1\" FirewallIP=\"v7\" "
            "FirewallUser=\"v8\" FirewallPassword=\"v9\"/></Setup>");
}

// Sync mode, connections and timeout show what is stored (the default for
// what makes no sense) and are saved once used; untouched defaults of a
// project that never had them are not added (the test above).
TEST_F(SetupDialogTest, PublishOptionsAreShownAndSaved) {
  loadProjectWith("<Ftp Ip=\"h\" SyncMode=\"1\" Parallel=\"4\" Timeout=\"0\"/>");
  frmSetup dialog(context, prompter);
  EXPECT_TRUE(find<QCheckBox>(dialog, "Check5")->isChecked());
  auto* connections = find<QSpinBox>(dialog, "Text4(0)");
  auto* timeout = find<QSpinBox>(dialog, "Text4(1)");
  EXPECT_EQ(connections->value() * 1000 + timeout->value(), 4030);
  EXPECT_EQ(connections->maximum(), 16);
  find<QCheckBox>(dialog, "Check5")->setChecked(false);
  timeout->setValue(90);
  dialog.accept();
  const PublishOptions saved = readPublishOptions(context.setupNode->node("Ftp", Missing::Raise));
  EXPECT_EQ(saved.sync, false);
  EXPECT_EQ(saved.connections * 1000 + saved.stallTimeoutS, 4090);
}

// The security mode and the choice to keep the password out of the file:
// shown as stored, the port following implicit TLS's convention, and saved
// with an empty Password.
TEST_F(SetupDialogTest, SecurityAndTheStoredPasswordChoiceAreShownAndSaved) {
  loadProjectWith("<Ftp Ip=\"h\" Port=\"990\" Password=\"\" Security=\"Implicit\" AskPassword=\"1\"/>");
  frmSetup dialog(context, prompter);
  auto* security = find<QComboBox>(dialog, "Combo4");
  auto* ask = find<QCheckBox>(dialog, "Check6");
  EXPECT_EQ(find<QLabel>(dialog, "Label2(6)")->text() + security->itemText(0) + security->itemText(2) + ask->text(), "L6S0S2NP");
  EXPECT_EQ(security->currentIndex(), 2);
  EXPECT_TRUE(ask->isChecked());
  EXPECT_FALSE(field(dialog, "Text1(4)")->isEnabled());
  security->setCurrentIndex(1);
  EXPECT_EQ(field(dialog, "Text1(2)")->text(), "21");
  security->setCurrentIndex(2);
  EXPECT_EQ(field(dialog, "Text1(2)")->text(), "990");
  security->setCurrentIndex(1);
  ask->setChecked(false);
  field(dialog, "Text1(4)")->setText("typed");
  ask->setChecked(true);  // what was typed never reaches the file
  dialog.accept();
  const DomNodeRef ftp = context.setupNode->node("Ftp", Missing::Raise);
  EXPECT_EQ(readFtpSettings(*context.setupNode).password, "");
  EXPECT_EQ(readSecurityOptions(ftp).security, "explicit");
  EXPECT_TRUE(readSecurityOptions(ftp).askPassword);
}

TEST_F(SetupDialogTest, CancelLeavesTheFileAsItWas) {
  loadProjectWith(kFullFtp);
  const std::string before = readBytes(projectFile());
  frmSetup dialog(context, prompter);
  field(dialog, "Text1(1)")->setText("changed");
  find<QCheckBox>(dialog, "Check3")->setChecked(false);
  find<QPushButton>(dialog, "Command1(1)")->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(readBytes(projectFile()), before);
  EXPECT_EQ(readFtpSettings(*context.setupNode).ip, "ftp.shop.example");
}

// Values that a control cannot take leave it as it was; the others load. A
// stored value longer than the input limit is shown and saved whole.
TEST_F(SetupDialogTest, UnconvertibleValuesAreSkippedAndLongValuesKept) {
  const std::string longPath(150, 'p');
  loadProjectWith("<Ftp Ip=\"h\" PassMode=\"yes\" FirewallFlag=\"\" FirewallType=\"7\" ServerPath=\"" + longPath +
                  "\" FirewallIP=\"fw\"/>");
  frmSetup dialog(context, prompter);
  EXPECT_FALSE(find<QCheckBox>(dialog, "Check3")->isChecked());
  EXPECT_FALSE(find<QCheckBox>(dialog, "Check4")->isChecked());
  EXPECT_EQ(find<QComboBox>(dialog, "Combo3")->currentIndex(), -1);
  EXPECT_EQ(field(dialog, "Text1(1)")->text(), "h");
  EXPECT_EQ(field(dialog, "Text2(0)")->text(), "fw");
  EXPECT_EQ(field(dialog, "Text1(6)")->text().size(), 150);
  dialog.accept();
  const FtpSettings saved = readFtpSettings(*context.setupNode);
  EXPECT_EQ(saved.serverPath, longPath);
  EXPECT_EQ(saved.passMode, "0");
  EXPECT_EQ(saved.firewallType, "-1");
}

// A project without an Ftp node opens empty and saves a complete one.
TEST_F(SetupDialogTest, ProjectWithoutFtpNodeGetsOne) {
  loadProjectWith("");
  frmSetup dialog(context, prompter);
  EXPECT_EQ(field(dialog, "Text1(1)")->text(), "");
  EXPECT_EQ(find<QComboBox>(dialog, "Combo3")->currentIndex(), -1);
  field(dialog, "Text1(1)")->setText("new.example");
  dialog.accept();
  EXPECT_TRUE(prompter.errors.empty());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  auto saved = cvDomDoc::create();
  saved->readDoc(projectFile().string());
  EXPECT_EQ(readFtpSettings(*saved->root()->nodeAt(2)).ip, "new.example");
  EXPECT_EQ(saved->root()->nodeAt(2)->nodeAt(1)->attrs().size(), 13u);
}

TEST_F(SetupDialogTest, AFileThatCannotBeSavedIsReportedAndTheDialogStays) {
  loadProjectWith(kFullFtp);
  frmSetup dialog(context, prompter);
  dialog.show();
  field(dialog, "Text1(1)")->setText("kept in memory");
  fs::remove(projectFile());
  fs::create_directory(projectFile());  // the save cannot replace a folder, whoever runs the test
  find<QPushButton>(dialog, "Command1(0)")->click();
  ASSERT_EQ(prompter.errors.size(), 1u);
  EXPECT_EQ(prompter.errors[0], "Path/File access error\r\n" + projectFile().string());
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(readFtpSettings(*context.setupNode).ip, "kept in memory");
}

TEST_F(SetupDialogTest, AMissingCaptionStopsTheDialog) {
  loadProjectWith(kFullFtp);
  captions_->node("forms\\frmSetup\\Label3", Missing::Raise)->removeAttr("Caption3");
  try {
    frmSetup dialog(context, prompter);
    FAIL() << "the dialog opened";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.description(), "Wrong AttrName of Caption3");
  }
}
