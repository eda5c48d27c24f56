// The upload window headless, against the test server: progress, the
// outcome shown after the window has hidden, cancelling with its question,
// and the errors that keep an upload from starting.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "common/automation_error.h"
#include "generator/report/prompter.h"
#include "generator/upload/frm_folder_tran.h"
#include "upload_test_support.h"

using namespace uploadtest;
using quill::frmFolderTran;

namespace {

// Message boxes as lines ("info: ...", "error: ...", "confirm: ..."), with
// whether the window was visible when each came.
class RecordingPrompter : public quill::Prompter {
 public:
  void info(const std::string& text, const std::string&) override { note("info: " + text); }
  void error(const std::string& text, const std::string&) override { note("error: " + text); }
  void warning(const std::string& text, const std::string&) override { note("warning: " + text); }
  bool confirm(const std::string& text, const std::string&, bool) override {
    note("confirm: " + text);
    return answer;
  }
  std::vector<std::string> messages;
  std::vector<bool> windowVisible;
  QWidget* window = nullptr;
  bool answer = false;

 private:
  void note(const std::string& m) {
    messages.push_back(m);
    windowVisible.push_back(window && window->isVisible());
  }
};

class UploadWindow : public ::testing::Test {
 protected:
  UploadWindow() {
    static int argc = 1;
    static char name[] = "frm_folder_tran_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
    remote = dir.path() + "/remote";
    QDir().mkpath(remote);
    writeFile(dir.path() + "/Output/a.htm", "<p>a</p>\n");
    writeFile(dir.path() + "/Output/img/big.gif", binaryBytes(300000));
    QFile::copy(programDir() + "/uploading", dir.path() + "/uploading");
    context.appFolder = dir.path().toStdString() + "/";
    auto captions = quill::cvDomDoc::create();
    captions->setRoot(quill::textToNode(
        "<lang><forms><frmFolderTran Caption=\"Uploading...\"><Command1 Caption=\"Stop\"/>"
        "<Message ConfirmAbort=\"Abort?\" ErrOccured=\"Failed:\" FinUpload=\"Done.\"/>"
        "</frmFolderTran></forms></lang>"));
    context.formsNode = captions->root()->node("forms");
  }
  // A window on the test server, with settings overridden by `ftp`.
  std::unique_ptr<frmFolderTran> window(const TestFtpd& server, const std::map<std::string, std::string>& ftp = {}) {
    const std::string prj = writeProject(dir.path() + "/project", server.port(), ftp);
    context.projectDoc = quill::cvDomDoc::create();
    context.projectDoc->readDoc(prj);
    context.setupNode = context.projectDoc->root()->node("Setup");
    auto w = std::make_unique<frmFolderTran>(context, dir.path().toStdString() + "/Output", prompter);
    prompter.window = w.get();
    bar = w->findChild<QProgressBar*>("ProgressBar1");
    QObject::connect(bar, &QProgressBar::valueChanged, [this](int v) { progress << QStringLiteral("%1/%2").arg(v).arg(bar->maximum()); });
    return w;
  }
  bool waitForMessages(size_t n) {
    return waitUntil([&] { return prompter.messages.size() >= n; }, 20000);
  }

  QTemporaryDir dir;
  QString remote;
  quill::ProjectContext context;
  RecordingPrompter prompter;
  QProgressBar* bar = nullptr;
  QStringList progress;
};

TEST_F(UploadWindow, ShowsProgressThenTheOutcomeOnceHidden) {
  TestFtpd server(remote);
  auto w = window(server);
  EXPECT_EQ(w->windowTitle(), "Uploading...");
  EXPECT_EQ(w->findChild<QPushButton*>("Command1")->text(), "Stop");
  EXPECT_EQ(w->findChild<QLabel*>("Label1")->text(), "Connecting...");
  for (const char* name : {"Animation1", "CtlFtpUL1"}) EXPECT_NE(w->findChild<QObject*>(name), nullptr) << name;
  w->show();
  ASSERT_TRUE(waitForMessages(1));
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"info: Done."});
  EXPECT_FALSE(prompter.windowVisible[0]);
  EXPECT_TRUE(progress.contains("300000/300000")) << progress.join(' ').toStdString();
  EXPECT_TRUE(progress.contains("8192/300000"));
  EXPECT_EQ(readFile(remote + "/site/img/big.gif"), binaryBytes(300000));

  TestFtpd refusing(remote);
  auto failing = window(refusing, {{"Password", "wrong"}});
  prompter.messages.clear();
  prompter.windowVisible.clear();
  failing->show();
  ASSERT_TRUE(waitForMessages(1));
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"error: Failed:\r\nAuthentication failed."});
  EXPECT_FALSE(prompter.windowVisible[0]);
}

// Cancel refused: the upload goes on. The close box then asks the same
// question; confirmed, the window hides, the upload stops and nothing more
// is shown.
TEST_F(UploadWindow, CancelAsksFirstAndTheCloseBoxIsACancel) {
  // Larger than what the socket buffers take at once, so that the upload is
  // still reading when the questions come.
  writeFile(dir.path() + "/Output/img/big.gif", binaryBytes(24 << 20));
  TestFtpd server(remote, {"--throttle", "1000000"});
  auto w = window(server);
  w->show();
  ASSERT_TRUE(waitUntil([&] { return progress.size() >= 2; }, 20000));
  prompter.answer = false;
  w->findChild<QPushButton*>("Command1")->click();
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"confirm: Abort?"});
  EXPECT_TRUE(w->isVisible());
  const qsizetype seen = progress.size();
  ASSERT_TRUE(waitUntil([&] { return progress.size() > seen + 2; }, 20000)) << progress.join(' ').toStdString();

  prompter.answer = true;
  w->close();
  EXPECT_EQ(prompter.messages.size(), 2u);
  EXPECT_EQ(prompter.messages.back(), "confirm: Abort?");
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == 2; }, 5000));
  EXPECT_FALSE(server.events("INCOMPLETE ").isEmpty());
  waitUntil([] { return false; }, 300);
  EXPECT_EQ(prompter.messages.size(), 2u);
}

TEST_F(UploadWindow, AnUploadThatCannotStartSaysWhyAndHides) {
  TestFtpd server(remote);
  auto w = window(server, {{"ServerPath", "<none>"}});
  w->show();
  ASSERT_TRUE(waitForMessages(1));
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"error: Wrong AttrName of ServerPath"});
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(server.commands().isEmpty());

  // A caption the window needs is missing: it cannot be made at all.
  context.formsNode->node("frmFolderTran")->node("Command1")->removeAttr("Caption");
  try {
    window(server);
    ADD_FAILURE() << "made without its caption";
  } catch (const quill::AutomationError& e) {
    EXPECT_EQ(e.description(), "Wrong AttrName of Caption");
  }
}

}  // namespace
