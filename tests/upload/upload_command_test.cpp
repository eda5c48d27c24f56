// quillant --upload as a user runs it: the real program in its own process,
// against the test server, with its exit status and what it printed.
#include <gtest/gtest.h>

#include <QTcpServer>

#include "upload_test_support.h"

using namespace uploadtest;

namespace {

struct Outcome {
  int exitCode = -1;
  QString out, err;
  qint64 ms = 0;
};

class UploadCommand : public ::testing::Test {
 protected:
  UploadCommand() {
    ensureApp<QCoreApplication>();
    writeFile(project + "/Output/Index.htm", "<p>index</p>\n");
    writeFile(project + "/Output/img/logo.gif", binaryBytes(20000));
    writeFile(project + "/Output/big.bin", binaryBytes(300000));
  }
  // Runs quillant with args; `whileRunning` may act on the process.
  Outcome run(const QStringList& args, const std::function<void(QProcess&)>& whileRunning = {}) {
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(programDir() + "/quillant", args);
    p.waitForStarted();
    if (whileRunning) whileRunning(p);
    waitUntil([&] { return p.state() == QProcess::NotRunning; }, 30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError()), clock.elapsed()};
  }

  QTemporaryDir dir;
  QString project = dir.path() + "/Shop";
  QString prj = project + "/ProjectDef.prj";
  QString remote = dir.path() + "/remote";
};

TEST_F(UploadCommand, PublishesWithOneLinePerFileAndChangesNothingInTheProject) {
  TestFtpd server(remote);
  writeProject(project, server.port());
  const QByteArray before = readFile(prj);
  const Outcome o = run({"--upload", prj});
  ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
  QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 5) << o.out.toStdString();
  EXPECT_EQ(lines.takeFirst(), "Uploading " + project + "/Output/ to /site on 127.0.0.1:" + server.port());
  EXPECT_TRUE(QRegularExpression("^Uploaded 3 files, 320013 bytes in \\d+\\.\\d s$").match(lines.takeLast()).hasMatch());
  lines.sort();
  EXPECT_EQ(lines, QStringList({"Index.htm 13 bytes", "big.bin 300000 bytes", "img/logo.gif 20000 bytes"}));
  EXPECT_FALSE(o.out.contains('\r') || o.out.contains('\x1b'));  // not a terminal: nothing redrawn
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(readFile(remote + "/site/img/logo.gif"), binaryBytes(20000));
  EXPECT_EQ(readFile(prj), before);
}

TEST_F(UploadCommand, FailuresEndWithStatusOneAndSayWhy) {
  QTcpServer probe;  // a port nobody listens on
  probe.listen(QHostAddress::LocalHost, 0);
  const QString deadPort = QString::number(probe.serverPort());
  probe.close();
  TestFtpd server(remote);
  const std::tuple<std::map<std::string, std::string>, bool, QString> cases[] = {
      {{{"Password", "wrong"}}, true, "quillant: error: The upload failed:\nAuthentication failed.\n"},
      {{{"Port", deadPort.toStdString()}}, true,
       "quillant: error: The upload failed:\nCannot connect to 127.0.0.1:" + deadPort + ": Connection refused"},
      {{{"Password", "<none>"}}, true, "quillant: error: " + prj + ": Wrong AttrName of Password\n"},
      {{{"Parallel", "0"}}, true,
       "quillant: error: " + prj + ": the upload setting Parallel must be a whole number from 1 to 16, not \"0\"\n"},
      {{}, false, "quillant: error: nothing to upload: there is no folder " + project + "/Output;"},
  };
  for (const auto& [settings, withOutput, expected] : cases) {
    writeProject(project, server.port(), settings);
    if (!withOutput) QDir(project + "/Output").removeRecursively();
    const Outcome o = run({"--upload", prj});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_TRUE(o.err.startsWith(expected)) << o.err.toStdString();
    EXPECT_LT(o.ms, 10000);
  }
  for (const auto& [args, expected] : {std::pair{QStringList{"--upload"}, "--upload needs the project file"},
                                       {{"--upload", "--parallel", "17", prj}, "--parallel needs a number of connections"},
                                       {{"--sync", prj}, "--sync, --dry-run and --parallel go with --upload"}}) {
    const Outcome usage = run(args);
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_TRUE(usage.err.startsWith(QString("quillant: ") + expected)) << usage.err.toStdString();
  }
  EXPECT_TRUE(run({"--help"}).out.contains("quillant --upload [--sync] [--dry-run] [--parallel N] PROJECT_FOLDER/ProjectDef.prj"));
}

// Sync from the command line, then from the settings: the plan first, what
// was sent and deleted, and the totals; a dry run lists and changes nothing.
TEST_F(UploadCommand, SyncSaysWhatItWillDoAndADryRunOnlySays) {
  TestFtpd server(remote);
  writeProject(project, server.port());
  Outcome o = run({"--upload", "--sync", "--parallel", "2", prj});
  ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
  QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 7) << o.out.toStdString();
  EXPECT_EQ(lines[0], "Uploading " + project + "/Output/ to /site on 127.0.0.1:" + server.port() + " (sync, 2 connections)");
  EXPECT_EQ(lines[1], "Note: there is no manifest on the server yet: every file is sent");
  EXPECT_EQ(lines[2], "To send: 3 files, 320013 bytes; unchanged: 0; to delete: 0");
  EXPECT_TRUE(QRegularExpression("^Uploaded 3 files, 320013 bytes in \\d+\\.\\d s; 0 unchanged, 0 deleted$").match(lines[6]).hasMatch());

  writeProject(project, server.port(), {{"SyncMode", "1"}});
  QFile::remove(project + "/Output/big.bin");
  o = run({"--upload", "--dry-run", prj});
  EXPECT_EQ(o.out.split('\n').mid(1), (QStringList{"To send: 0 files, 0 bytes; unchanged: 2; to delete: 1", "delete big.bin",
                                                   "Dry run: nothing was changed on the server.", ""}));
  EXPECT_TRUE(QFileInfo::exists(remote + "/site/big.bin"));
  o = run({"--upload", prj});
  EXPECT_TRUE(o.out.contains("\ndeleted big.bin\nUploaded 0 files, 0 bytes in ")) << o.out.toStdString();
  EXPECT_FALSE(QFileInfo::exists(remote + "/site/big.bin"));
  EXPECT_EQ(o.err, "");
}

// Ctrl-C in the middle of a file: status 130 at once, the file named as
// incomplete, both connections gone.
TEST_F(UploadCommand, CtrlCEndsWithStatus130AndDropsTheConnection) {
  TestFtpd server(remote, {"--throttle", "50000"});
  writeProject(project, server.port());
  QElapsedTimer sinceInterrupt;
  const Outcome o = run({"--upload", prj}, [&](QProcess& p) {
    ASSERT_TRUE(waitUntil([&] { return server.commands().contains("STOR /site/big.bin"); }, 20000));
    waitUntil([] { return false; }, 300);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    sinceInterrupt.start();
  });
  EXPECT_EQ(o.exitCode, 130) << o.err.toStdString();
  EXPECT_LT(sinceInterrupt.elapsed(), 3000);
  EXPECT_EQ(o.err, "quillant: upload cancelled; big.bin is incomplete on the server\n");
  EXPECT_TRUE(waitUntil([&] { return server.events("INCOMPLETE ").contains(remote + "/site/big.bin"); }, 5000));
  EXPECT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == 2; }, 5000));
}

}  // namespace
