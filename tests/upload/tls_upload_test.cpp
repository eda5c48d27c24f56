// Publishing over TLS as a user does it: quillant --upload against
// pyftpdlib's TLS handler, with the certificate pinned or not, the password
// from the project, the environment or a terminal.
#include <gtest/gtest.h>

#include <QProcessEnvironment>

#include "tests/ftpcontrol/tls_test_support.h"
#include "upload_test_support.h"

using namespace uploadtest;
using tlstest::TestCertificates;

namespace {

struct Outcome {
  int exitCode = -1;
  QString out, err;
};

class TlsUpload : public ::testing::Test {
 protected:
  TlsUpload() {
    ensureApp<QCoreApplication>();
    writeFile(project + "/Output/Index.htm", "<p>index</p>\n");
    writeFile(project + "/Output/img/logo.gif", binaryBytes(20000));
    writeFile(project + "/Output/big.bin", binaryBytes(300000));
  }
  // quillant with `args`, QUILLANT_FTP_PASSWORD set to `password` unless null.
  Outcome run(QStringList args, const QString& password = QString()) {
    const QString program = args.first().endsWith(".py") ? "/usr/bin/python3" : programDir() + "/quillant";
    if (program.endsWith("quillant")) args.prepend(QString());
    args.removeAll(QString());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QUILLANT_FTP_PASSWORD");
    if (!password.isNull()) env.insert("QUILLANT_FTP_PASSWORD", password);
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForStarted();
    waitUntil([&] { return p.state() == QProcess::NotRunning; }, 60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
  }
  bool siteArrived() const {
    return readFile(remote + "/site/big.bin") == binaryBytes(300000) &&
           readFile(remote + "/site/img/logo.gif") == binaryBytes(20000) &&
           readFile(remote + "/site/Index.htm") == "<p>index</p>\n";
  }

  TestCertificates certs;
  QTemporaryDir dir;
  QString project = dir.path() + "/Shop";
  QString prj = project + "/ProjectDef.prj";
  QString remote = dir.path() + "/remote";
};

// A certificate nobody trusts fails the run at once, before the log-in and
// without trying again, and the error says which line trusts it. With that
// line, every connection of a run (the folder connection and the parallel
// ones) goes through TLS, explicit or implicit, and the bytes arrive whole.
TEST_F(TlsUpload, RefusesAnUntrustedCertificateThenPublishesWithItsFingerprint) {
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
TEST_F(TlsUpload, ThePasswordComesFromTheEnvironmentOrTheTerminal) {
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
  o = run({qEnvironmentVariable("QUILLANT_SOURCE_DIR") + "/tests/upload/pty_run.py", "Password for user@127.0.0.1: ",
           "pw", programDir() + "/quillant", "--upload", prj});
  EXPECT_TRUE(o.out.contains("Password for user@127.0.0.1: ")) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("Uploaded 3 files")) << o.out.toStdString();
  EXPECT_FALSE(o.out.contains("pw\r")) << "echoed: " << o.out.toStdString();
  EXPECT_TRUE(o.out.endsWith("EXIT 0\n")) << o.out.toStdString();
}

}  // namespace
