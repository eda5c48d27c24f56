// The upload window headless, against the test server: progress, the
// outcome shown once the window has hidden, cancelling with its question,
// and the errors that keep an upload from starting.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <filesystem>

#include "common/automation_error.h"
#include "generator/report/prompter.h"
#include "generator/upload/frm_folder_tran.h"
#include "tests/ftpcontrol/tls_test_support.h"
#include "upload_test_support.h"

using namespace uploadtest;
using quill::frmFolderTran;

namespace {

// Message boxes as lines ("info: ...", "error: ...", "confirm: ..."),
// each with whether the window was visible when it came.
class RecordingPrompter : public quill::Prompter {
 public:
  void info(const std::string& text, const std::string&) override { note("info: " + text); }
  void error(const std::string& text, const std::string&) override { note("error: " + text); }
  void warning(const std::string& text, const std::string&) override { note("warning: " + text); }
  bool confirm(const std::string& text, const std::string&, bool) override { return note("confirm: " + text), answer; }
  std::optional<std::string> askPassword(const std::string& text, const std::string&) override {
    return note("password: " + text), password;
  }
  std::optional<std::string> password;
  std::vector<std::pair<std::string, bool>> messages;
  QWidget* window = nullptr;
  bool answer = false;

 private:
  void note(const std::string& m) { messages.emplace_back(m, window && window->isVisible()); }
};

class UploadWindow : public ::testing::Test {
 protected:
  UploadWindow() {
    ensureApp<QApplication>();
    writeFile(dir.path() + "/Output/a.htm", "<p>a</p>\n");
    writeFile(dir.path() + "/Output/img/big.gif", binaryBytes(300000));
    QFile::copy(programDir() + "/uploading", dir.path() + "/uploading");
    context.appFolder = dir.path().toStdString() + "/";
    auto captions = quill::cvDomDoc::create();
    captions->setRoot(quill::textToNode(
        "<lang><forms><frmFolderTran><Command1 Caption=\"Stop\"/>"
        "<Message ConfirmAbort=\"Abort?\" ErrOccured=\"Failed:\" FinUpload=\"Done.\"/></frmFolderTran></forms></lang>"));
    context.formsNode = captions->root()->node("forms", quill::Missing::Raise);
  }
  // A window on the test server, with settings overridden by `ftp`.
  std::unique_ptr<frmFolderTran> window(const TestFtpd& server, const std::map<std::string, std::string>& ftp = {}) {
    context.projectDoc = quill::cvDomDoc::create();
    context.projectDoc->readDoc(writeProject(dir.path() + "/project", server.port(), ftp));
    context.setupNode = context.projectDoc->root()->node("Setup", quill::Missing::Raise);
    auto w = std::make_unique<frmFolderTran>(context, dir.path().toStdString() + "/Output", prompter);
    prompter.window = w.get();
    prompter.messages.clear();
    progress.clear();
    auto* bar = w->findChild<QProgressBar*>("ProgressBar1");
    QObject::connect(bar, &QProgressBar::valueChanged, [this, bar](int v) {
      progress << QStringLiteral("%1/%2").arg(v).arg(bar->maximum());
    });
    return w;
  }
  bool waitForMessage() { return waitUntil([&] { return !prompter.messages.empty(); }, 20000); }

  QTemporaryDir dir;
  QString remote = dir.path() + "/remote";
  quill::ProjectContext context;
  RecordingPrompter prompter;
  QStringList progress;
};

TEST_F(UploadWindow, ShowsProgressThenTheOutcomeOnceHidden) {
  TestFtpd server(remote);
  auto w = window(server);
  EXPECT_EQ(w->windowTitle() + " " + w->findChild<QLabel*>("Label1")->text(), "Uploading... Connecting...");
  EXPECT_EQ(w->findChild<QPushButton*>("Command1")->text(), "Stop");
  for (const char* name : {"Animation1", "CtlFtpUL1"}) EXPECT_NE(w->findChild<QObject*>(name), nullptr) << name;
  w->show();
  ASSERT_TRUE(waitForMessage());
  EXPECT_EQ(prompter.messages, (decltype(prompter.messages){{"info: Done.", false}}));
  EXPECT_TRUE(progress.contains("8192/300000") && progress.contains("300000/300000")) << progress.join(' ').toStdString();
  EXPECT_EQ(readFile(remote + "/site/img/big.gif"), binaryBytes(300000));

  // Sync over two connections: the plan on Label2, and what happened after
  // the message; published again, nothing is sent.
  for (const char* sent : {"Sent: 2 files, 300009 bytes; unchanged: 0; deleted: 0",
                           "Sent: 0 files, 0 bytes; unchanged: 2; deleted: 0"}) {
    auto syncing = window(server, {{"ServerPath", "/synced"}, {"SyncMode", "1"}, {"Parallel", "2"}});
    syncing->show();
    ASSERT_TRUE(waitForMessage());
    EXPECT_EQ(prompter.messages, (decltype(prompter.messages){{std::string("info: Done.\r\n") + sent, false}}));
    EXPECT_TRUE(syncing->findChild<QLabel*>("Label2")->text().startsWith("To send: ")) << sent;
  }

  auto failing = window(server, {{"Password", "wrong"}});
  failing->show();
  ASSERT_TRUE(waitForMessage());
  EXPECT_EQ(prompter.messages, (decltype(prompter.messages){{"error: Failed:\r\nAuthentication failed.", false}}));
}

// Cancel refused: the upload goes on. The close box asks the same question;
// confirmed, the window hides, the file is closed, both connections are
// dropped and nothing more is shown.
TEST_F(UploadWindow, CancelAsksFirstAndTheCloseBoxIsACancel) {
  // More than the socket buffers take at once, so that the file is still
  // being read when the questions come.
  writeFile(dir.path() + "/Output/img/big.gif", binaryBytes(24 << 20));
  TestFtpd server(remote, {"--throttle", "1000000"});
  auto w = window(server);
  w->show();
  ASSERT_TRUE(waitUntil([&] { return progress.size() >= 2; }, 20000));
  w->findChild<QPushButton*>("Command1")->click();
  EXPECT_TRUE(w->isVisible());
  const qsizetype seen = progress.size();
  EXPECT_TRUE(waitUntil([&] { return progress.size() > seen + 2; }, 20000)) << "the upload stopped";

  auto fileIsOpen = [&] {
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
      if (std::filesystem::read_symlink(fd.path(), ec).filename() == "big.gif") return true;
    return false;
  };
  EXPECT_TRUE(fileIsOpen());
  prompter.answer = true;
  w->close();
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(fileIsOpen());
  EXPECT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == 2; }, 5000));
  EXPECT_FALSE(server.events("INCOMPLETE ").isEmpty());
  waitUntil([] { return false; }, 300);
  EXPECT_EQ(prompter.messages, (decltype(prompter.messages){{"confirm: Abort?", true}, {"confirm: Abort?", true}}));
}

TEST_F(UploadWindow, AnUploadThatCannotStartSaysWhyAndHides) {
  TestFtpd server(remote);
  auto w = window(server, {{"ServerPath", "<none>"}});
  w->show();
  ASSERT_TRUE(waitForMessage());
  EXPECT_EQ(prompter.messages, (decltype(prompter.messages){{"error: Wrong AttrName of ServerPath", true}}));
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(server.commands().isEmpty());

  // Without its Cancel caption the window cannot be made at all.
  context.formsNode->node("frmFolderTran", quill::Missing::Raise)->node("Command1", quill::Missing::Raise)->removeAttr("Caption");
  EXPECT_THROW(window(server), quill::AutomationError);
}

// A project that keeps no password asks for it; a certificate nobody trusts
// fails the upload, then its fingerprint is offered for trust, and once
// trusted the next upload goes through. Cancelling the password question
// ends the upload without a word.
TEST_F(UploadWindow, AsksForThePasswordAndOffersToTrustTheCertificate) {
  tlstest::TestCertificates certs;
  ASSERT_TRUE(certs.ok());
  TestFtpd server(remote, {"--tls", certs.selfSigned, "--require-tls"});
  const std::map<std::string, std::string> tls = {{"Security", "explicit"}, {"Password", ""}, {"AskPassword", "1"}};
  const std::string fp = tlstest::TestCertificates::fingerprint(certs.selfSigned).toStdString();

  auto w = window(server, tls);
  prompter.password = std::nullopt;
  w->show();
  ASSERT_TRUE(waitUntil([&] { return !w->isVisible(); }, 20000));
  waitUntil([] { return false; }, 200);
  EXPECT_EQ(prompter.messages, (decltype(prompter.messages){{"password: Password for user on 127.0.0.1:", true}}));
  EXPECT_TRUE(server.commands().isEmpty());

  w = window(server, tls);
  prompter.password = "pw";
  prompter.answer = true;
  w->show();
  ASSERT_TRUE(waitUntil([&] { return prompter.messages.size() >= 3; }, 20000));
  ASSERT_EQ(prompter.messages.size(), 3u);
  EXPECT_TRUE(prompter.messages[1].first.starts_with("error: Failed:\r\nCannot connect to 127.0.0.1:" + server.port().toStdString() +
                                                     ": the certificate of 127.0.0.1 was not accepted: it is self-signed"))
      << prompter.messages[1].first;
  EXPECT_TRUE(prompter.messages[2].first.starts_with("confirm: The certificate of 127.0.0.1 is not trusted: it is self-signed."));
  EXPECT_NE(prompter.messages[2].first.find(fp), std::string::npos);
  auto saved = quill::cvDomDoc::create();
  saved->readDoc(dir.path().toStdString() + "/project/ProjectDef.prj");
  const quill::DomNodeRef ftp = saved->root()->node("Setup", quill::Missing::Raise)->node("Ftp", quill::Missing::Raise);
  EXPECT_EQ(*ftp->attrTable().find("TlsFingerprint"), fp);
  EXPECT_EQ(*ftp->attrTable().find("Password"), "");

  // The next upload, with the project as it was saved.
  context.projectDoc = saved;
  context.setupNode = saved->root()->node("Setup", quill::Missing::Raise);
  auto again = std::make_unique<frmFolderTran>(context, dir.path().toStdString() + "/Output", prompter);
  prompter.window = again.get();
  prompter.messages.clear();
  again->show();
  ASSERT_TRUE(waitUntil([&] { return prompter.messages.size() >= 2; }, 20000));
  EXPECT_EQ(prompter.messages.back().first, "info: Done.");
  EXPECT_EQ(readFile(remote + "/site/img/big.gif"), binaryBytes(300000));
}

}  // namespace
