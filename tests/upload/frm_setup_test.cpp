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
#include <QTemporaryDir>

#include "../generator/test_project.h"
#include "common/automation_error.h"
#include "upload_test_support.h"

using namespace quill;
using test::RecordingPrompter;

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

class SetupDialogTest : public ::testing::Test {
 protected:
  SetupDialogTest() {
    test::qtApplication();
    cvDomDoc::setDebugFlag(false);
    captions_ = textToNode(kCaptions);
    context.formsNode = captions_->node("forms", Missing::Raise);
  }
  ~SetupDialogTest() override { cvDomDoc::setDebugFlag(false); }

  // Writes ProjectDef.prj with this Setup content and loads it as the
  // program does (the store is strict from then on).
  void loadProjectWith(const std::string& setupContent) {
    auto doc = cvDomDoc::create();
    doc->setRoot(textToNode("<Project><Scripts/><Setup>" + setupContent + "</Setup></Project>"));
    doc->saveDoc(projectFile().toStdString());
    loadProject(context, projectFile().toStdString());
  }
  QString projectFile() const { return folder_.path() + "/ProjectDef.prj"; }
  DomNodeRef savedSetup() {
    auto saved = cvDomDoc::create();
    saved->readDoc(projectFile().toStdString());
    return saved->root()->nodeAt(2);
  }

  template <class T>
  T* find(const frmSetup& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(name);
    EXPECT_TRUE(widget) << name;
    return widget;
  }
  QLineEdit* field(const frmSetup& dialog, const char* name) { return find<QLineEdit>(dialog, name); }

  QTemporaryDir folder_;
  DomNodeRef captions_;
  ProjectContext context;
  RecordingPrompter prompter;
};

}  // namespace

TEST_F(SetupDialogTest, ShowsCaptionsAndSettingsAndOkSavesEveryFieldInOrder) {
  loadProjectWith(kFullFtp);
  frmSetup dialog(context, prompter);
  EXPECT_EQ(dialog.windowTitle(), "T");
  auto* tabs = find<QTabWidget>(dialog, "SSTab2");
  EXPECT_EQ(tabs->tabText(0) + tabs->tabText(1) + tabs->tabText(2), "BEO");
  const std::pair<const char*, const char*> texts[] = {
      {"SSTab1", "Page"},     {"Command1(1)", "C1"},       {"Command1(0)", "OK"}, {"Check3", "PM"},
      {"Check4", "FW"},       {"Check5", "SY"},            {"Label2(0)", "L0"},   {"Label2(5)", "L5"},
      {"Label3(0)", "M0"},    {"Label3(3)", "M3"},         {"Label4(0)", "N0"},   {"Label5(0)", "P0"},
      {"Label5(1)", "P1"},    {"Text1(1)", "ftp.shop.example"}, {"Text1(6)", "/www"}, {"Text3", "htm html"}};
  for (const auto& [name, text] : texts)
    EXPECT_EQ(find<QWidget>(dialog, name)->property("text"), text) << name;
  EXPECT_EQ(field(dialog, "Text1(4)")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(field(dialog, "Text2(2)")->echoMode(), QLineEdit::Password);
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
  EXPECT_EQ(nodeToText(*savedSetup()),
            "<Setup><Ftp Ip=\"v0\" User=\"v2\" Password=\"v3\" Account=\"v4\" Port=\"v1\" ServerPath=\"v5\" "
            "PassMode=\"0\" TxtFile=\"v6\" FirewallFlag=\"1\" FirewallType=\"1\" FirewallIP=\"v7\" "
            "FirewallUser=\"v8\" FirewallPassword=\"v9\"/></Setup>");
}

// The options beside the original form's: sync mode, connections and
// timeout show what is stored (the default for what makes no sense); the
// security mode and the choice to keep the password out of the file show as
// stored, the port following implicit TLS's convention. Once used they are
// saved, the password empty; untouched defaults of a project that never had
// them are not added (the first test).
TEST_F(SetupDialogTest, PublishAndSecurityOptionsAreShownAndSaved) {
  loadProjectWith("<Ftp Ip=\"h\" SyncMode=\"1\" Parallel=\"4\" Timeout=\"0\" Port=\"990\" Password=\"\" "
                  "Security=\"Implicit\" AskPassword=\"1\"/>");
  frmSetup dialog(context, prompter);
  EXPECT_TRUE(find<QCheckBox>(dialog, "Check5")->isChecked());
  auto* connections = find<QSpinBox>(dialog, "Text4(0)");
  auto* timeout = find<QSpinBox>(dialog, "Text4(1)");
  EXPECT_EQ(connections->value() * 1000 + timeout->value(), 4030);
  EXPECT_EQ(connections->maximum(), 16);
  auto* security = find<QComboBox>(dialog, "Combo4");
  auto* ask = find<QCheckBox>(dialog, "Check6");
  const QString captions = find<QLabel>(dialog, "Label2(6)")->text() + security->itemText(0) + security->itemText(2);
  EXPECT_EQ(captions + ask->text(), "L6S0S2NP");
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
  find<QCheckBox>(dialog, "Check5")->setChecked(false);
  timeout->setValue(90);
  dialog.accept();
  const DomNodeRef ftp = context.setupNode->node("Ftp", Missing::Raise);
  const PublishOptions saved = readPublishOptions(ftp);
  EXPECT_EQ(saved.sync, false);
  EXPECT_EQ(saved.connections * 1000 + saved.stallTimeoutS, 4090);
  EXPECT_EQ(readFtpSettings(*context.setupNode).password, "");
  EXPECT_EQ(readSecurityOptions(ftp).security, "explicit");
  EXPECT_TRUE(readSecurityOptions(ftp).askPassword);
}

// Values that a control cannot take leave it as it was; the others load. A
// stored value longer than the input limit is shown and saved whole. A
// project without an Ftp node opens empty. Either way all settings are saved.
TEST_F(SetupDialogTest, UnconvertibleValuesAreSkippedLongValuesKeptAndAMissingNodeMade) {
  const std::string longPath(150, 'p');
  const std::string bad = "<Ftp Ip=\"h\" PassMode=\"yes\" FirewallFlag=\"\" FirewallType=\"7\" "
                          "ServerPath=\"" + longPath + "\" FirewallIP=\"fw\"/>";
  for (const std::string& ftp : {bad, std::string()}) {
    SCOPED_TRACE(ftp);
    const bool none = ftp.empty();
    loadProjectWith(ftp);
    frmSetup dialog(context, prompter);
    EXPECT_FALSE(find<QCheckBox>(dialog, "Check3")->isChecked());
    EXPECT_FALSE(find<QCheckBox>(dialog, "Check4")->isChecked());
    EXPECT_EQ(find<QComboBox>(dialog, "Combo3")->currentIndex(), -1);
    EXPECT_EQ(field(dialog, "Text1(1)")->text() + field(dialog, "Text2(0)")->text(), none ? "" : "hfw");
    EXPECT_EQ(field(dialog, "Text1(6)")->text().size(), none ? 0 : 150);
    dialog.accept();
    EXPECT_TRUE(prompter.errors.empty());
    const FtpSettings saved = readFtpSettings(*savedSetup());
    EXPECT_EQ(saved.serverPath, none ? "" : longPath);
    EXPECT_EQ(saved.passMode + " " + saved.firewallType, "0 -1");
    EXPECT_EQ(savedSetup()->nodeAt(1)->attrs().size(), 13u);
  }
}

// Cancel leaves the file as it was; a file that cannot be saved is reported
// and the dialog stays, with what was typed kept in memory.
TEST_F(SetupDialogTest, CancelAndAFailedSaveLeaveTheFileAsItWas) {
  loadProjectWith(kFullFtp);
  const QByteArray before = uploadtest::readFile(projectFile());
  for (const bool cancel : {true, false}) {
    frmSetup dialog(context, prompter);
    dialog.show();
    field(dialog, "Text1(1)")->setText("typed");
    find<QCheckBox>(dialog, "Check3")->setChecked(false);
    if (!cancel) QFile::remove(projectFile()), QDir().mkdir(projectFile());  // a folder cannot be replaced
    find<QPushButton>(dialog, cancel ? "Command1(1)" : "Command1(0)")->click();
    EXPECT_EQ(dialog.isVisible(), !cancel);
    if (cancel) EXPECT_EQ(dialog.result(), QDialog::Rejected);
    if (cancel) EXPECT_EQ(uploadtest::readFile(projectFile()), before);
    EXPECT_EQ(readFtpSettings(*context.setupNode).ip, cancel ? "ftp.shop.example" : "typed");
  }
  const std::string failed = "Path/File access error\r\n" + projectFile().toStdString();
  EXPECT_EQ(prompter.errors, std::vector<std::string>{failed});
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
