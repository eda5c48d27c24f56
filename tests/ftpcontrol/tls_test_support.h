// TLS fixtures shared by the control's and the upload's tests: certificates
// made with the openssl command, the test FTP server (tests/upload/ftpd.py,
// pyftpdlib) with or without TLS, and vsftpd started as a listener of its
// own on a free loopback port. Servers are stopped by their PID.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <functional>
#include <map>
#include <optional>

namespace tlstest {

inline bool waitFor(const std::function<bool()>& pred, int ms = 15000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > ms) return false;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// Runs a program to its end; its standard output, or nothing when it failed.
inline std::optional<QString> runTool(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return std::nullopt;
  return QString::fromUtf8(p.readAllStandardOutput());
}

// Certificates for 127.0.0.1, each a PEM file holding certificate and key:
//   selfSigned  self-signed
//   trusted     issued by the test authority `ca` (trusted only when a test
//               adds ca to the control's authorities)
//   wrongName   issued by the authority for example.invalid
//   expired     issued by the authority, expired yesterday
class TestCertificates {
 public:
  TestCertificates() {
    const QString d = dir_.path() + "/";
    ca = d + "ca.pem";
    selfSigned = d + "self.pem";
    trusted = d + "trusted.pem";
    wrongName = d + "wrong.pem";
    expired = d + "expired.pem";
    ok_ = req({"-x509", "-keyout", d + "ca.key", "-out", ca, "-days", "2", "-subj", "/CN=Quillant test authority"}) &&
          req({"-x509", "-keyout", selfSigned, "-out", d + "self.crt", "-days", "2", "-subj", "/CN=127.0.0.1",
               "-addext", "subjectAltName=IP:127.0.0.1"}) &&
          issue(trusted, "127.0.0.1", "2") && issue(wrongName, "example.invalid", "2") &&
          issue(expired, "127.0.0.1", "-1");
    append(selfSigned, d + "self.crt");
  }
  bool ok() const { return ok_; }
  // The fingerprint as `openssl x509 -noout -fingerprint -sha256` prints it.
  static QString fingerprint(const QString& pem) {
    const QString out = runTool("openssl", {"x509", "-noout", "-fingerprint", "-sha256", "-in", pem}).value_or("").trimmed();
    return out.mid(out.indexOf('=') + 1);
  }

  QString ca, selfSigned, trusted, wrongName, expired;

 private:
  bool req(QStringList args) {
    return runTool("openssl", QStringList{"req", "-newkey", "rsa:2048", "-nodes"} + args).has_value();
  }
  bool issue(const QString& pem, const QString& name, const QString& days) {
    const QString key = pem + ".key", csr = pem + ".csr";
    const QString san = QRegularExpression("^[0-9.]+$").match(name).hasMatch() ? "IP:" + name : "DNS:" + name;
    const QString ext = pem + ".ext";
    QFile e(ext);
    if (!e.open(QIODevice::WriteOnly)) return false;
    e.write(("subjectAltName=" + san + "\n").toUtf8());
    e.close();
    if (!req({"-keyout", key, "-out", csr, "-subj", "/CN=" + name})) return false;
    if (!runTool("openssl", {"x509", "-req", "-in", csr, "-CA", ca, "-CAkey", dir_.path() + "/ca.key",
                            "-CAcreateserial", "-out", pem, "-days", days, "-extfile", ext}))
      return false;
    append(pem, key);
    return true;
  }
  static void append(const QString& to, const QString& from) {
    QFile in(from), out(to);
    if (in.open(QIODevice::ReadOnly) && out.open(QIODevice::Append)) out.write(in.readAll());
  }

  QTemporaryDir dir_;
  bool ok_ = false;
};

// tests/upload/ftpd.py (user "user", password "pw") serving `root`, with
// its options; its log's lines by kind.
class TestFtpd {
 public:
  explicit TestFtpd(const QString& root, const QStringList& options = {}) {
    QDir().mkpath(root);
    QObject::connect(&proc_, &QProcess::readyReadStandardOutput, [this] { log_ += proc_.readAllStandardOutput(); });
    proc_.start("/usr/bin/python3", QStringList{qEnvironmentVariable("QUILLANT_SOURCE_DIR") + "/tests/upload/ftpd.py", root} + options);
    static const QRegularExpression re("starting FTP server on 127\\.0\\.0\\.1:(\\d+)");
    waitFor([&] {
      port_ = re.match(QString::fromUtf8(log_)).captured(1);
      return !port_.isEmpty() || proc_.state() == QProcess::NotRunning;
    });
  }
  ~TestFtpd() {
    ::kill(static_cast<pid_t>(proc_.processId()), SIGTERM);
    if (!proc_.waitForFinished(3000)) proc_.kill();
  }
  const QString& port() const { return port_; }
  const QByteArray& log() const { return log_; }
  // Log lines of one kind ("CMD ", "INCOMPLETE ", "DISCONNECT"), without the kind.
  QStringList events(const QString& kind) const {
    QStringList out;
    for (const QString& line : QString::fromUtf8(log_).split('\n'))
      if (line.startsWith(kind)) out << line.mid(kind.size());
    return out;
  }
  QStringList commands() const { return events("CMD "); }
  // Each stored file with the TYPE in effect when its STOR came.
  std::map<QString, QString> typeOfEachStore() const {
    std::map<QString, QString> types;
    QString type = "A";
    for (const QString& c : commands()) {
      if (c.startsWith("TYPE ")) type = c.mid(5);
      if (c.startsWith("STOR ")) types[c.mid(5)] = type;
    }
    return types;
  }

 private:
  QProcess proc_;
  QByteArray log_;
  QString port_;
};

// A free TCP port on 127.0.0.1 (free when asked; a server takes it next).
inline quint16 freePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

// vsftpd with TLS required and TLS session reuse required on data
// connections, anonymous log-in (any password), writable folder "up".
// Runs as the user who starts it, in the foreground, stopped by its PID.
class Vsftpd {
 public:
  static constexpr const char* kProgram = "/usr/sbin/vsftpd";
  static bool installed() { return QFileInfo(kProgram).isExecutable(); }

  Vsftpd(const QString& pem, const QString& root) {
    QDir().mkpath(root + "/up");
    QFile::setPermissions(root + "/up", QFileDevice::Permissions(0x7777));
    port_ = freePort();
    const std::map<QString, QString> conf = {
        {"listen", "YES"}, {"listen_ipv6", "NO"}, {"listen_address", "127.0.0.1"},
        {"listen_port", QString::number(port_)}, {"background", "NO"}, {"run_as_launching_user", "YES"},
        {"anonymous_enable", "YES"}, {"no_anon_password", "YES"}, {"anon_root", root},
        {"anon_upload_enable", "YES"}, {"anon_mkdir_write_enable", "YES"}, {"anon_other_write_enable", "YES"},
        {"write_enable", "YES"}, {"local_enable", "NO"}, {"pasv_enable", "YES"}, {"pasv_address", "127.0.0.1"},
        {"port_enable", "YES"}, {"connect_from_port_20", "NO"}, {"ssl_enable", "YES"}, {"allow_anon_ssl", "YES"},
        {"force_anon_logins_ssl", "YES"}, {"force_anon_data_ssl", "YES"}, {"require_ssl_reuse", "YES"},
        {"rsa_cert_file", pem}, {"rsa_private_key_file", pem}, {"seccomp_sandbox", "NO"},
        {"secure_chroot_dir", dir_.path()}, {"xferlog_enable", "NO"}};
    QFile f(dir_.path() + "/vsftpd.conf");
    if (!f.open(QIODevice::WriteOnly)) return;
    for (const auto& [k, v] : conf) f.write((k + "=" + v + "\n").toUtf8());
    f.close();
    proc_.setProcessChannelMode(QProcess::MergedChannels);
    proc_.start(kProgram, {f.fileName()});
    up_ = waitFor([&] {
      if (proc_.state() == QProcess::NotRunning) return true;
      QTcpSocket s;
      s.connectToHost(QHostAddress::LocalHost, port_);
      return s.waitForConnected(200);
    }) && proc_.state() == QProcess::Running;
  }
  ~Vsftpd() {
    if (proc_.state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(proc_.processId()), SIGTERM);
    if (!proc_.waitForFinished(3000)) proc_.kill();
    proc_.waitForFinished(3000);
  }
  bool up() const { return up_; }
  QString port() const { return QString::number(port_); }
  QString output() { return QString::fromUtf8(proc_.readAll()); }

 private:
  QTemporaryDir dir_;
  QProcess proc_;
  quint16 port_ = 0;
  bool up_ = false;
};

}  // namespace tlstest
