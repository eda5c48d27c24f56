// What the FTP control's and the upload's tests share: the application
// object, a bounded wait on the event loop, files, free loopback ports,
// certificates made with the openssl command, and the test servers
// (tests/upload/ftpd.py on pyftpdlib, and vsftpd), each listening on a free
// port of 127.0.0.1 and stopped by its PID.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <sys/prctl.h>

#include <csignal>
#include <functional>
#include <map>
#include <optional>
#include <ostream>

#include "tests/test_application.h"

// Readable failure output for Qt texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) { *os << '[' << l.join(" | ").toStdString() << ']'; }
inline void PrintTo(const QByteArray& b, std::ostream* os) { *os << '"' << b.toStdString() << '"'; }

namespace servertest {

// The application object, once per process (QApplication where a test shows
// a widget).
template <class App = QCoreApplication>
void ensureApp() {
  quill::test::testApplication<App>();
}

// Runs the event loop until pred() holds or the time is up.
inline bool waitUntil(const std::function<bool()>& pred, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > ms) return false;
    QEventLoop loop;
    QTimer::singleShot(2, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// Lets the event loop run for a while (to show that something does NOT happen).
inline void settle(int ms = 150) { waitUntil([] { return false; }, ms); }

inline QString programDir() { return qEnvironmentVariable("QUILLANT_PROGRAM_DIR"); }

inline void writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

inline QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// n bytes in which every byte value occurs.
inline QByteArray binaryBytes(int n) {
  QByteArray b(n, Qt::Uninitialized);
  for (int i = 0; i < n; ++i) b[i] = char((unsigned(i) * 131u + unsigned(i) / 7u) & 255u);
  return b;
}

// A free TCP port on 127.0.0.1 (free when asked; a server takes it next, or
// nobody listens on it).
inline quint16 freePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

// Starts a server that dies with the test process, so that a test that
// aborts (a failed assertion under a sanitizer, say) leaves no server behind.
inline void startServer(QProcess& p, const QString& program, const QStringList& args) {
  p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
  p.start(program, args);
}

// Ends a server the test started: SIGTERM to its PID, then SIGKILL.
inline void stopByPid(QProcess& p) {
  if (p.state() == QProcess::NotRunning) return;
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  if (!p.waitForFinished(3000)) p.kill(), p.waitForFinished(3000);
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
    const QString key = pem + ".key", csr = pem + ".csr", ext = pem + ".ext";
    const bool ip = QRegularExpression("^[0-9.]+$").match(name).hasMatch();
    writeFile(ext, ("subjectAltName=" + QString(ip ? "IP:" : "DNS:") + name + "\n").toUtf8());
    if (!req({"-keyout", key, "-out", csr, "-subj", "/CN=" + name})) return false;
    if (!runTool("openssl", {"x509", "-req", "-in", csr, "-CA", ca, "-CAkey", dir_.path() + "/ca.key",
                            "-CAcreateserial", "-out", pem, "-days", days, "-extfile", ext}))
      return false;
    append(pem, key);
    return true;
  }
  static void append(const QString& to, const QString& from) {
    QFile out(to);
    if (out.open(QIODevice::Append)) out.write(readFile(from));
  }

  QTemporaryDir dir_;
  bool ok_ = false;
};

// The certificates, made once per test process.
inline TestCertificates& certificates() {
  static TestCertificates certs;
  return certs;
}

// tests/upload/ftpd.py (user "user", password "pw") serving `root`, with
// its options; its log's lines by kind.
class TestFtpd {
 public:
  explicit TestFtpd(const QString& root, const QStringList& options = {}) {
    QDir().mkpath(root);
    QObject::connect(&proc_, &QProcess::readyReadStandardOutput, [this] { log_ += proc_.readAllStandardOutput(); });
    const QString script = qEnvironmentVariable("QUILLANT_SOURCE_DIR") + "/tests/upload/ftpd.py";
    startServer(proc_, "/usr/bin/python3", QStringList{script, root} + options);
    static const QRegularExpression re("starting FTP server on 127\\.0\\.0\\.1:(\\d+)");
    waitUntil([&] {
      port_ = re.match(QString::fromUtf8(log_)).captured(1);
      return !port_.isEmpty() || proc_.state() == QProcess::NotRunning;
    }, 15000);
  }
  ~TestFtpd() { stopByPid(proc_); }
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

 private:
  QProcess proc_;
  QByteArray log_;
  QString port_;
};

// vsftpd with TLS required and TLS session reuse required on data
// connections, anonymous log-in (any password), writable folder "up".
// Runs as the user who starts it, in the foreground.
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
    QByteArray text;
    for (const auto& [k, v] : conf) text += (k + "=" + v + "\n").toUtf8();
    writeFile(dir_.path() + "/vsftpd.conf", text);
    proc_.setProcessChannelMode(QProcess::MergedChannels);
    startServer(proc_, kProgram, {dir_.path() + "/vsftpd.conf"});
    up_ = waitUntil([&] {
      if (proc_.state() == QProcess::NotRunning) return true;
      QTcpSocket s;
      s.connectToHost(QHostAddress::LocalHost, port_);
      return s.waitForConnected(200);
    }, 15000) && proc_.state() == QProcess::Running;
  }
  ~Vsftpd() { stopByPid(proc_); }
  bool up() const { return up_; }
  QString port() const { return QString::number(port_); }
  QString output() { return QString::fromUtf8(proc_.readAll()); }

 private:
  QTemporaryDir dir_;
  QProcess proc_;
  quint16 port_ = 0;
  bool up_ = false;
};

}  // namespace servertest
