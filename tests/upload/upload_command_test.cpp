// quillant --upload as a user runs it: the real program in its own process,
// against the test server (plain, or pyftpdlib's TLS handler with the
// certificate pinned or not), with its exit status and what it printed; the
// password from the project, the environment or a terminal.
#include <gtest/gtest.h>

#include <QProcessEnvironment>

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
  // Runs quillant with args (or, when the first is a .py script, that
  // script), QUILLANT_FTP_PASSWORD set to `password` unless null;
  // `whileRunning` may act on the process.
  Outcome run(const QStringList& args, const QString& password = QString(),
              const std::function<void(QProcess&)>& whileRunning = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QUILLANT_FTP_PASSWORD");
    if (!password.isNull()) env.insert("QUILLANT_FTP_PASSWORD", password);
    p.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    p.start(args.value(0).endsWith(".py") ? "/usr/bin/python3" : programDir() + "/quillant", args);
    p.waitForStarted();
    if (whileRunning) whileRunning(p);
    waitUntil([&] { return p.state() == QProcess::NotRunning; }, 60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError()), clock.elapsed()};
  }
  bool siteArrived() const {
    return readFile(remote + "/site/big.bin") == binaryBytes(300000) &&
           readFile(remote + "/site/img/logo.gif") == binaryBytes(20000) &&
           readFile(remote + "/site/Index.htm") == "<p>index</p>\n";
  }

  QTemporaryDir dir;
  QString project = dir.path() + "/Shop";
  QString prj = project + "/ProjectDef.prj";
  QString remote = dir.path() + "/remote";
};

TEST_F(UploadCommand, FailuresEndWithStatusOneAndSayWhy) {
  const QString deadPort = QString::number(freePort());  // nobody listens on it
  TestFtpd server(remote);
  const std::tuple<std::map<std::string, std::string>, bool, QString> cases[] = {
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

// A plain publish prints one line per file and changes nothing in the
// project. Sync from the command line, then from the settings: the plan
// first, what was sent and deleted, and the totals; a dry run lists and
// changes nothing.
TEST_F(UploadCommand, PublishesPlainOrInSyncAndADryRunOnlySays) {
  TestFtpd server(remote);
  writeProject(project, server.port());
  const QByteArray before = readFile(prj);
  Outcome o = run({"--upload", prj});
  ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
  QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 5) << o.out.toStdString();
  const QString uploading = "Uploading " + project + "/Output/ to /site on 127.0.0.1:" + server.port();
  EXPECT_EQ(lines.takeFirst(), uploading);
  EXPECT_TRUE(QRegularExpression("^Uploaded 3 files, 320013 bytes in \\d+\\.\\d s$").match(lines.takeLast()).hasMatch());
  lines.sort();
  EXPECT_EQ(lines, QStringList({"Index.htm 13 bytes", "big.bin 300000 bytes", "img/logo.gif 20000 bytes"}));
  EXPECT_FALSE(o.out.contains('\r') || o.out.contains('\x1b'));  // not a terminal: nothing redrawn
  EXPECT_EQ(o.err, "");
  EXPECT_TRUE(siteArrived());
  EXPECT_EQ(readFile(prj), before);

  o = run({"--upload", "--sync", "--parallel", "2", prj});
  ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
  lines = o.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 7) << o.out.toStdString();
  EXPECT_EQ(lines[0], uploading + " (sync, 2 connections)");
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
  const Outcome o = run({"--upload", prj}, QString(), [&](QProcess& p) {
    ASSERT_TRUE(waitUntil([&] { return server.commands().contains("STOR /site/big.bin"); }, 20000));
    settle(300);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    sinceInterrupt.start();
  });
  EXPECT_EQ(o.exitCode, 130) << o.err.toStdString();
  EXPECT_LT(sinceInterrupt.elapsed(), 3000);
  EXPECT_EQ(o.err, "quillant: upload cancelled; big.bin is incomplete on the server\n");
  EXPECT_TRUE(waitUntil([&] { return server.events("INCOMPLETE ").contains(remote + "/site/big.bin"); }, 5000));
  EXPECT_TRUE(waitUntil([&] { return server.events("DISCONNECT").size() == 2; }, 5000));
}

// A certificate nobody trusts fails the run at once, before the log-in and
// without trying again, and the error says which line trusts it. With that
// line, every connection of a run (the folder connection and the parallel
// ones) goes through TLS, explicit or implicit, and the bytes arrive whole.
TEST_F(UploadCommand, RefusesAnUntrustedCertificateThenPublishesWithItsFingerprint) {
  TestCertificates& certs = certificates();
  ASSERT_TRUE(certs.ok());
  const QString fp = TestCertificates::fingerprint(certs.selfSigned);
  TestFtpd refusing(remote, {"--tls", certs.selfSigned});
  writeProject(project, refusing.port(), {{"Security", "explicit"}});
  const Outcome refused = run({"--upload", "--parallel", "3", prj});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.err.contains("the certificate of 127.0.0.1 was not accepted: it is self-signed (SHA-256 fingerprint " +
                                   fp + ")"))
      << refused.err.toStdString();
  EXPECT_TRUE(refused.err.endsWith("to the Ftp node of " + prj + ":\n  TlsFingerprint=\"" + fp + "\"\n"));
  EXPECT_FALSE(refused.err.contains("trying again"));
  EXPECT_EQ(refusing.commands(), QStringList({"AUTH TLS"}));  // one connection, nothing of the log-in

  for (const char* mode : {"explicit", "implicit"}) {
    SCOPED_TRACE(mode);
    QDir(remote).removeRecursively();
    QStringList options = {"--tls", certs.selfSigned, "--require-tls"};
    if (QString(mode) == "implicit") options << "--implicit";
    TestFtpd server(remote, options);
    writeProject(project, server.port(), {{"Security", mode}, {"TlsFingerprint", fp.toStdString()}});
    const Outcome o = run({"--upload", "--parallel", "3", prj});
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.contains(" (" + QString(mode) + " TLS, 3 connections)\n")) << o.out.toStdString();
    EXPECT_TRUE(siteArrived());
    const QStringList users = server.commands().filter(QRegularExpression("^USER "));
    EXPECT_GE(users.size(), 2);
    EXPECT_EQ(server.commands().filter(QRegularExpression("^PROT P$")).size(), users.size());
  }
}

// Where the password comes from when the project keeps none: the
// environment, else a terminal that does not echo it, else nowhere.
TEST_F(UploadCommand, ThePasswordComesFromTheEnvironmentOrTheTerminal) {
  TestFtpd server(remote);
  writeProject(project, server.port(), {{"Password", ""}, {"AskPassword", "1"}});
  Outcome o = run({"--upload", prj});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(o.err, "quillant: error: " + prj + ": the project keeps no FTP password and there is no terminal to ask for it; "
                         "set the environment variable QUILLANT_FTP_PASSWORD\n");
  o = run({"--upload", prj}, "pw");
  EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
  EXPECT_TRUE(siteArrived());
  QDir(remote + "/site").removeRecursively();

  // A password in the project is set aside for the environment's.
  writeProject(project, server.port(), {{"Password", "stale"}});
  EXPECT_EQ(run({"--upload", prj}, "pw").exitCode, 0);

  writeProject(project, server.port(), {{"Password", ""}, {"AskPassword", "1"}});
  const QString pty = qEnvironmentVariable("QUILLANT_SOURCE_DIR") + "/tests/upload/pty_run.py";
  o = run({pty, "Password for user@127.0.0.1: ", "pw", programDir() + "/quillant", "--upload", prj});
  EXPECT_TRUE(o.out.contains("Password for user@127.0.0.1: ")) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("Uploaded 3 files")) << o.out.toStdString();
  EXPECT_FALSE(o.out.contains("pw\r")) << "echoed: " << o.out.toStdString();
  EXPECT_TRUE(o.out.endsWith("EXIT 0\n")) << o.out.toStdString();
}

}  // namespace
