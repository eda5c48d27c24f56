// The control over TLS against real servers: pyftpdlib's TLS handler in
// explicit and implicit mode, passive and active; the certificate verdicts;
// vsftpd, which refuses a data connection that does not resume the control
// connection's TLS session.
#include <gtest/gtest.h>

#include <QSslCertificate>

#include "ftp_test_support.h"
#include "tls_test_support.h"

using namespace ftptest;
using quill::FtpControl;
using tlstest::TestFtpd;
using tlstest::TestCertificates;

namespace {

TestCertificates& certificates() {
  static TestCertificates certs;
  return certs;
}

class FtpTls : public ::testing::Test {
 protected:
  FtpTls() {
    rec.attach(ftp);
    ftp.setConnectTimeout(10000);
  }

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
  QString connect(const QString& port) {
    ftp.setPort(port);
    const int before = rec.done;
    ftp.Connect("127.0.0.1", "user", "pw");
    waitUntil([&] { return rec.done > before || ftp.state().isEmpty(); }, 15000);
    if (rec.done > before && rec.lastCode == 0) return "0";
    for (const QString& e : rec.events)
      if (e.startsWith("DisConnected")) return e;
    return rec.events.join(" | ");
  }
  QByteArray stored(const QString& rel) {
    QFile f(dir.path() + "/" + rel);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

  int app_ = (ensureApp(), 0);
  QTemporaryDir dir;
  FtpControl ftp;
  Recorder rec;
};

// Explicit and implicit TLS, passive and active: log-in, folders, upload,
// download and listing, all through TLS; the pin is written in any case,
// with or without colons. (pyftpdlib drops an active data connection on
// which the client speaks before the transfer command: this also proves
// that the handshake waits for it.)
class FtpTlsModes : public FtpTls, public ::testing::WithParamInterface<std::tuple<const char*, bool>> {};

TEST_P(FtpTlsModes, LogInTransfersAndListsOverTls) {
  ASSERT_TRUE(certificates().ok());
  const auto [mode, passive] = GetParam();
  const bool implicit = QString(mode) == "implicit";
  QStringList options = {"--tls", certificates().selfSigned, "--require-tls"};
  if (implicit) options << "--implicit";
  TestFtpd server(dir.path(), options);
  ASSERT_FALSE(server.port().isEmpty());
  ftp.setSecurity(mode);
  ftp.setPassive(passive);
  QString pin = TestCertificates::fingerprint(certificates().selfSigned);
  if (implicit) pin = pin.toLower().remove(':');
  ftp.setTlsFingerprint(pin);

  ASSERT_EQ(connect(server.port()), "0") << rec.traces.join("\n").toStdString();
  EXPECT_EQ(run([&] { ftp.MkDir("sub"); }), 0);
  const QByteArray bin = [] {
    QByteArray b(300000, Qt::Uninitialized);
    for (int i = 0; i < b.size(); ++i) b[i] = char((i * 131 + i / 7) & 255);
    return b;
  }();
  ftp.setFiletype("I");
  EXPECT_EQ(run([&] { ftp.PutFile("sub/bin.dat", rec.feed(bin)); }), 0);
  EXPECT_EQ(stored("sub/bin.dat").size(), bin.size()) << server.log().toStdString();
  EXPECT_TRUE(stored("sub/bin.dat") == bin);
  ftp.setFiletype("A");
  EXPECT_EQ(run([&] { ftp.PutFile("sub/a.txt", rec.feed("one\r\ntwo\r\n")); }), 0);
  EXPECT_EQ(stored("sub/a.txt"), "one\ntwo\n");
  rec.got.clear();
  ftp.setFiletype("I");
  EXPECT_EQ(run([&] { ftp.GetFile("sub/bin.dat", "x"); }), 0);
  EXPECT_TRUE(rec.got == bin);
  rec.dirLines.clear();
  EXPECT_EQ(run([&] { ftp.Ls("sub"); }), 0);
  rec.dirLines.sort();
  EXPECT_EQ(rec.dirLines, QStringList({"a.txt", "bin.dat"}));

  // The log-in went through TLS; the trace never shows the password.
  const QStringList cmds = server.commands();
  EXPECT_EQ(cmds.mid(0, 4), implicit ? QStringList({"USER user", "PASS ***", "PBSZ 0", "PROT P"})
                                     : QStringList({"AUTH TLS", "USER user", "PASS ***", "PBSZ 0"}));
  EXPECT_TRUE(rec.seen("Connect>>PASS ***"));
  EXPECT_TRUE(rec.seen("Tcpip3:TLS "));
  EXPECT_FALSE(rec.traces.join("\n").contains("PASS pw"));
  EXPECT_EQ(run([&] { ftp.DisConnect(); }), 0);
}

INSTANTIATE_TEST_SUITE_P(All, FtpTlsModes,
                         ::testing::Combine(::testing::Values("explicit", "implicit"), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) + (std::get<1>(info.param) ? "Passive" : "Active");
                         });

// What the trust store and a pin make of each certificate. A refusal comes
// before the log-in: the server never sees USER or PASS.
TEST_F(FtpTls, CertificatesAreCheckedBeforeTheLogIn) {
  TestCertificates& c = certificates();
  ASSERT_TRUE(c.ok());
  const QString wrongPin = QString("AB:").repeated(31) + "AB";
  struct Case {
    QString pem;
    bool trustTestAuthority;
    QString pin;
    QString expected;  // "0", or what the refusal must say
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
TEST_F(FtpTls, AServerWithoutTlsIsRefused) {
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
TEST_F(FtpTls, VsftpdWithSessionReuseRequired) {
  if (!tlstest::Vsftpd::installed()) GTEST_SKIP() << "vsftpd is not installed";
  ASSERT_TRUE(certificates().ok());
  tlstest::Vsftpd server(certificates().selfSigned, dir.path());
  ASSERT_TRUE(server.up()) << server.output().toStdString();
  ftp.setSecurity("explicit");
  ftp.setTlsFingerprint(TestCertificates::fingerprint(certificates().selfSigned));
  ftp.setPort(server.port());
  const int before = rec.done;
  ftp.Connect("127.0.0.1", "anonymous", "guest");
  ASSERT_TRUE(waitUntil([&] { return rec.done > before; }, 15000)) << rec.traces.join("\n").toStdString();
  ASSERT_EQ(rec.lastCode, 0) << rec.traces.join("\n").toStdString();
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    ftp.setPassive(passive);
    const QString name = passive ? "p.dat" : "a.dat";
    const QByteArray bytes = QByteArray(70000, passive ? 'p' : 'a');
    ftp.setFiletype("I");
    EXPECT_EQ(run([&] { ftp.PutFile("up/" + name, rec.feed(bytes)); }), 0) << rec.traces.join("\n").toStdString();
    EXPECT_EQ(stored("up/" + name), bytes);
    rec.dirLines.clear();
    EXPECT_EQ(run([&] { ftp.Ls("up"); }), 0) << rec.traces.join("\n").toStdString();
    EXPECT_TRUE(rec.dirLines.join(' ').contains(name)) << rec.dirLines.join(' ').toStdString();
  }
}

}  // namespace
