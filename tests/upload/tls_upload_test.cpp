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

// Every connection of a run goes through TLS: the folder connection and the
// parallel ones, explicit and implicit; the bytes arrive whole.
TEST_F(TlsUpload, PublishesOverEveryConnectionWithThePinnedCertificate) {
  ASSERT_TRUE(certs.ok());
  const QString pin = TestCertificates::fingerprint(certs.selfSigned);
  for (const char* mode : {"explicit", "implicit"}) {
    SCOPED_TRACE(mode);
    QDir(remote).removeRecursively();
    QStringList options = {"--tls", certs.selfSigned, "--require-tls"};
    if (QString(mode) == "implicit") options << "--implicit";
    TestFtpd server(remote, options);
    writeProject(project, server.port(), {{"Security", mode}, {"TlsFingerprint", pin.toStdString()}});
    const Outcome o = run({"--upload", "--parallel", "3", prj});
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.startsWith("Uploading " + project + "/Output/ to /site on 127.0.0.1:" + server.port() +
                                 " (" + mode + " TLS, 3 connections)"))
        << o.out.toStdString();
    EXPECT_TRUE(siteArrived());
    const QStringList cmds = server.commands();
    EXPECT_GE(cmds.filter(QRegularExpression("^USER ")).size(), 2);
    EXPECT_EQ(cmds.filter(QRegularExpression("^PROT P$")).size(), cmds.filter(QRegularExpression("^USER ")).size());
  }
}

// A certificate nobody trusts: the run fails at once, before the log-in,
// without trying again, and says which line trusts it.
TEST_F(TlsUpload, AnUntrustedCertificateFailsAtOnceAndSaysHowToTrustIt) {
  ASSERT_TRUE(certs.ok());
  TestFtpd server(remote, {"--tls", certs.selfSigned});
  writeProject(project, server.port(), {{"Security", "explicit"}});
  const Outcome o = run({"--upload", prj});
  const QString fp = TestCertificates::fingerprint(certs.selfSigned);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_TRUE(o.err.contains("the certificate of 127.0.0.1 was not accepted: it is self-signed (SHA-256 fingerprint " + fp + ")"))
      << o.err.toStdString();
  EXPECT_TRUE(o.err.endsWith("by adding this attribute to the Ftp node of " + prj + ":\n  TlsFingerprint=\"" + fp + "\"\n"))
      << o.err.toStdString();
  EXPECT_FALSE(o.err.contains("trying again"));
  EXPECT_EQ(server.commands(), QStringList({"AUTH TLS"}));  // one connection, nothing of the log-in
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
