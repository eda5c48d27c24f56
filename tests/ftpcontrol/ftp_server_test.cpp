// The control against real servers started by the test on free loopback
// ports: tests/upload/ftpd.py (pyftpdlib) plain and with its TLS handler in
// explicit and implicit mode, passive and active; the certificate verdicts;
// vsftpd, which refuses a data connection that does not resume the control
// connection's TLS session.
#include <gtest/gtest.h>

#include <QSslCertificate>

#include "ftp_test_support.h"

using namespace ftptest;
using quill::FtpControl;

namespace {

class FtpServer : public ::testing::Test {
 protected:
  FtpServer() {
    rec.attach(ftp);
    ftp.setConnectTimeout(10000);
  }

  // Runs one operation to its CommandDone and gives its code.
  int run(const std::function<void()>& op) {
    const int before = rec.done;
    op();
    if (!waitUntil([&] { return rec.done > before; }, 15000)) {
      ADD_FAILURE() << "no CommandDone; trace:\n" << rec.traces.join("\n").toStdString();
      return -999;
    }
    return rec.lastCode;
  }
  // Connect's outcome: 0 when logged in, else the DisConnected line.
  QString connect(const QString& port, const QString& user = "user", const QString& password = "pw") {
    ftp.setPort(port);
    const int before = rec.done;
    ftp.Connect("127.0.0.1", user, password);
    waitUntil([&] { return rec.done > before || ftp.state().isEmpty(); }, 15000);
    if (rec.done > before && rec.lastCode == 0) return "0";
    const QStringList lost = rec.events.filter(QRegularExpression("^DisConnected"));
    return lost.isEmpty() ? rec.events.join(" | ") : lost[0];
  }
  QByteArray stored(const QString& rel) { return readFile(dir.path() + "/" + rel); }

  int app_ = (ensureApp(), 0);
  QTemporaryDir dir;
  FtpControl ftp;
  Recorder rec;
};

// Plain, explicit TLS and implicit TLS, each passive and active: log-in,
// folders, uploads in both types, append, downloads with and without REST,
// listings, renaming and deleting. Over TLS the server refuses anything
// before TLS and the pin is written in any case, with or without colons.
// (pyftpdlib drops an active data connection on which the client speaks
// before the transfer command: this also proves that the handshake waits.)
class FtpRoundTrip : public FtpServer, public ::testing::WithParamInterface<std::tuple<const char*, bool>> {};

TEST_P(FtpRoundTrip, FilesAndFoldersRoundTrip) {
  const auto [security, passive] = GetParam();
  const QString mode = security;
  QStringList options;
  if (!mode.isEmpty()) {
    ASSERT_TRUE(certificates().ok());
    options = {"--tls", certificates().selfSigned, "--require-tls"};
    QString pin = TestCertificates::fingerprint(certificates().selfSigned);
    if (mode == "implicit") options << "--implicit", pin = pin.toLower().remove(':');
    ftp.setSecurity(mode);
    ftp.setTlsFingerprint(pin);
  }
  TestFtpd server(dir.path(), options);
  ASSERT_FALSE(server.port().isEmpty()) << server.log().toStdString();
  ftp.setPassive(passive);
  ASSERT_EQ(connect(server.port()), "0") << rec.traces.join("\n").toStdString();
  EXPECT_EQ(run([&] { ftp.MkDir("sub"); }), 0);
  EXPECT_EQ(run([&] { ftp.MkDir("sub"); }), 550);  // exists: failure code, still connected
  EXPECT_TRUE(ftp.IsIdle());
  EXPECT_EQ(run([&] { ftp.Cd("sub"); }), 0);
  EXPECT_EQ(rec.lastMsg, "\"/sub\" is the current directory.");

  ftp.setFiletype("A");
  EXPECT_EQ(run([&] { ftp.PutFile("text.txt", rec.feed("line1\r\nline2\r\n")); }), 0);
  EXPECT_EQ(stored("sub/text.txt"), "line1\nline2\n");
  const QByteArray bin = binaryBytes(300000);
  ftp.setFiletype("I");
  EXPECT_EQ(run([&] { ftp.PutFile("bin.dat", rec.feed(bin)); }), 0);
  EXPECT_EQ(run([&] { ftp.AppendFile("bin.dat", rec.feed("tail")); }), 0);
  EXPECT_TRUE(stored("sub/bin.dat") == bin + "tail") << server.log().toStdString();
  EXPECT_TRUE(rec.events.contains("PutClose"));
  for (const int rest : {-1, 1000}) {
    rec.got.clear();
    ftp.setRest(rest);
    EXPECT_EQ(run([&] { ftp.GetFile("bin.dat", "local.dat"); }), 0);
    EXPECT_TRUE(rec.got == bin.mid(std::max(rest, 0)) + "tail") << rest;
    EXPECT_EQ(ftp.rest(), -1);
  }

  rec.dirLines.clear();
  EXPECT_EQ(run([&] { ftp.Ls(""); }), 0);
  rec.dirLines.sort();
  EXPECT_EQ(rec.dirLines, QStringList({"bin.dat", "text.txt"}));
  rec.dirLines.clear();
  EXPECT_EQ(run([&] { ftp.Dir(""); }), 0);
  ASSERT_EQ(rec.dirLines.size(), 2);
  EXPECT_TRUE(rec.dirLines.join('\n').contains(QRegularExpression(" 300004 .* bin\\.dat")));

  EXPECT_EQ(run([&] { ftp.Rename("bin.dat", "moved.dat"); }), 0);
  EXPECT_TRUE(QFile::exists(dir.path() + "/sub/moved.dat"));
  EXPECT_EQ(run([&] { ftp.Delete("moved.dat"); }), 0);
  EXPECT_EQ(run([&] { ftp.Delete("text.txt"); }), 0);
  EXPECT_EQ(run([&] { ftp.Cd(".."); }), 0);
  EXPECT_EQ(run([&] { ftp.RmDir("sub"); }), 0);
  EXPECT_FALSE(QDir(dir.path() + "/sub").exists());

  // The log-in went through TLS when asked; the trace never shows the password.
  const QStringList expected =
      mode.isEmpty()       ? QStringList{"USER user", "PASS ***"}
      : mode == "implicit" ? QStringList{"USER user", "PASS ***", "PBSZ 0", "PROT P"}
                           : QStringList{"AUTH TLS", "USER user", "PASS ***", "PBSZ 0"};
  EXPECT_EQ(server.commands().mid(0, expected.size()), expected);
  EXPECT_TRUE(rec.seen("Connect>>PASS ***"));
  EXPECT_EQ(rec.seen("Tcpip3:TLS "), !mode.isEmpty());
  EXPECT_FALSE(rec.traces.join("\n").contains("PASS pw"));
  rec.events.clear();
  EXPECT_EQ(run([&] { ftp.DisConnect(); }), 0);
  ASSERT_TRUE(waitUntil([&] { return rec.events.contains("DisConnected 0 "); }));
  EXPECT_EQ(ftp.state(), "");
}

INSTANTIATE_TEST_SUITE_P(All, FtpRoundTrip,
                         ::testing::Combine(::testing::Values("", "explicit", "implicit"), ::testing::Bool()),
                         [](const auto& info) {
                           const std::string mode = std::get<0>(info.param);
                           const bool passive = std::get<1>(info.param);
                           return (mode.empty() ? "plain" : mode) + (passive ? "Passive" : "Active");
                         });

// What the trust store and a pin make of each certificate. A refusal comes
// before the log-in: the server never sees USER or PASS.
TEST_F(FtpServer, CertificatesAreCheckedBeforeTheLogIn) {
  TestCertificates& c = certificates();
  ASSERT_TRUE(c.ok());
  const QString wrongPin = QString("AB:").repeated(31) + "AB";
  struct Case {
    QString pem;
    bool trustTestAuthority;
    QString pin, expected;  // expected: "0", or what the refusal must say
  } cases[] = {
      {c.selfSigned, false, "", "it is self-signed"},
      {c.selfSigned, false, wrongPin, "it is not the certificate pinned for this server"},
      {c.trusted, true, "", "0"},
      {c.trusted, true, wrongPin, "it is not the certificate pinned for this server"},
      {c.trusted, false, "", "its issuer is not trusted on this system"},
      {c.wrongName, true, "", "it was issued for example.invalid, not for 127.0.0.1"},
      {c.expired, true, "", "it expired on "},
      {c.wrongName, true, TestCertificates::fingerprint(c.wrongName), "0"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE((QFileInfo(k.pem).fileName() + " pin=" + k.pin).toStdString());
    QTemporaryDir root;
    TestFtpd server(root.path(), {"--tls", k.pem});
    FtpControl control;
    Recorder r;
    r.attach(control);
    QStringList rejected;
    QObject::connect(&control, &FtpControl::CertificateRejected,
                     [&](const QString& host, const QString& problem, const QString& fp) { rejected << host << problem << fp; });
    control.setSecurity("Explicit");
    control.setTlsFingerprint(k.pin);
    if (k.trustTestAuthority) control.addCaCertificates(QSslCertificate::fromPath(c.ca));
    control.setPort(server.port());
    control.Connect("127.0.0.1", "user", "pw");
    ASSERT_TRUE(waitUntil([&] { return r.done > 0 || control.state().isEmpty(); }, 15000));
    if (k.expected == "0") {
      EXPECT_EQ(r.lastCode, 0) << r.events.join("\n").toStdString();
      EXPECT_TRUE(rejected.isEmpty());
      continue;
    }
    const QString fp = TestCertificates::fingerprint(k.pem);
    const QString line = r.events.filter("DisConnected").value(0);
    EXPECT_TRUE(line.startsWith(QStringLiteral("DisConnected %1 the certificate of 127.0.0.1 was not accepted: ")
                                    .arg(quill::kFtpTlsCertificate)))
        << line.toStdString();
    EXPECT_TRUE(line.contains(k.expected)) << line.toStdString();
    EXPECT_TRUE(line.contains("SHA-256 fingerprint " + fp)) << line.toStdString();
    EXPECT_EQ(rejected.value(0), "127.0.0.1");
    EXPECT_EQ(rejected.value(2), fp);
    EXPECT_TRUE(waitUntil([&] { return !server.commands().isEmpty(); }, 3000));
    EXPECT_EQ(server.commands(), QStringList({"AUTH TLS"}));
  }
}

// No falling back to plain text: a server without TLS is left at once.
TEST_F(FtpServer, AServerWithoutTlsIsRefused) {
  TestFtpd plain(dir.path());
  ftp.setSecurity("explicit");
  EXPECT_EQ(connect(plain.port()),
            QStringLiteral("DisConnected %1 127.0.0.1 does not offer FTP over TLS (it answered AUTH TLS with \"500 "
                           "Command \"AUTH\" not understood.\"); the connection was closed before the log-in")
                .arg(quill::kFtpTlsRefused));
  EXPECT_EQ(plain.commands(), QStringList({"AUTH TLS"}));

  rec.events.clear();
  ftp.setSecurity("implicit");
  EXPECT_TRUE(connect(plain.port()).startsWith(QStringLiteral("DisConnected %1 TLS with 127.0.0.1 failed: ").arg(quill::kFtpTlsFailed)));
  EXPECT_TRUE(quill::isTlsFailure(quill::kFtpTlsFailed));
  EXPECT_FALSE(quill::isTlsFailure(quill::kFtpNoGreeting));
}

// vsftpd refuses a data connection whose TLS session is not the control
// connection's: transfers in both modes prove the session is resumed.
TEST_F(FtpServer, VsftpdWithSessionReuseRequired) {
  if (!Vsftpd::installed()) GTEST_SKIP() << "vsftpd is not installed";
  ASSERT_TRUE(certificates().ok());
  Vsftpd server(certificates().selfSigned, dir.path());
  ASSERT_TRUE(server.up()) << server.output().toStdString();
  ftp.setSecurity("explicit");
  ftp.setTlsFingerprint(TestCertificates::fingerprint(certificates().selfSigned));
  ASSERT_EQ(connect(server.port(), "anonymous", "guest"), "0") << rec.traces.join("\n").toStdString();
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    ftp.setPassive(passive);
    const QString name = passive ? "p.dat" : "a.dat";
    const QByteArray bytes = QByteArray(70000, passive ? 'p' : 'a');
    EXPECT_EQ(run([&] { ftp.PutFile("up/" + name, rec.feed(bytes)); }), 0) << rec.traces.join("\n").toStdString();
    EXPECT_EQ(stored("up/" + name), bytes);
    rec.dirLines.clear();
    EXPECT_EQ(run([&] { ftp.Ls("up"); }), 0) << rec.traces.join("\n").toStdString();
    EXPECT_TRUE(rec.dirLines.join(' ').contains(name)) << rec.dirLines.join(' ').toStdString();
  }
}

}  // namespace
