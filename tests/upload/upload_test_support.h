// Shared fixtures of the upload tests: the test FTP server (ftpd.py, a
// pyftpdlib with a command log and faults on request) started on a free
// loopback port and stopped by its PID, a local site tree, and a project
// whose upload settings point at the server.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <functional>
#include <map>
#include <string>

#include "store/dom.h"

namespace uploadtest {

inline bool waitUntil(const std::function<bool()>& pred, int ms = 10000) {
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

inline QString sourceDir() { return QString::fromLocal8Bit(qgetenv("QUILLANT_SOURCE_DIR")); }
inline QString programDir() { return QString::fromLocal8Bit(qgetenv("QUILLANT_PROGRAM_DIR")); }

// The test server serving `root`; `options` are ftpd.py's fault options.
class TestFtpd {
 public:
  explicit TestFtpd(const QString& root, const QStringList& options = {}) {
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&proc_, &QProcess::readyReadStandardOutput, [this] { log_ += proc_.readAllStandardOutput(); });
    proc_.start("/usr/bin/python3", QStringList{sourceDir() + "/tests/upload/ftpd.py", root} + options);
    static const QRegularExpression re("starting FTP server on 127\\.0\\.0\\.1:(\\d+)");
    waitUntil([&] {
      const auto m = re.match(QString::fromUtf8(log_));
      if (m.hasMatch()) port_ = m.captured(1);
      return !port_.isEmpty() || proc_.state() == QProcess::NotRunning;
    }, 15000);
  }
  ~TestFtpd() {
    if (proc_.state() == QProcess::NotRunning) return;
    ::kill(static_cast<pid_t>(proc_.processId()), SIGTERM);
    if (!proc_.waitForFinished(3000)) proc_.kill();
    proc_.waitForFinished(3000);
  }
  const QString& port() const { return port_; }
  // The command lines received, oldest first.
  QStringList commands() const { return events("CMD "); }
  // Lines of one kind ("CMD ", "RECEIVED ", "INCOMPLETE ", "DISCONNECT"), without the kind.
  QStringList events(const QString& kind) const {
    QStringList out;
    for (const QString& line : QString::fromUtf8(log_).split('\n'))
      if (line.startsWith(kind)) out << line.mid(kind.size());
    return out;
  }
  // Each stored file with the TYPE in effect when its STOR came.
  std::map<QString, QString> typeOfEachStore() const {
    std::map<QString, QString> types;
    QString type = "A";  // FTP's default
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

inline void writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  f.open(QIODevice::WriteOnly);
  f.write(bytes);
}

inline QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Bytes that are the same every run and not text.
inline QByteArray binaryBytes(int n) {
  QByteArray b(n, Qt::Uninitialized);
  for (int i = 0; i < n; ++i) b[i] = char((i * 131 + i / 7) & 255);
  return b;
}

// A project folder whose ProjectDef.prj has upload settings for the test
// server; `ftp` overrides attributes of Setup\Ftp.
inline std::string writeProject(const QString& folder, const QString& port,
                                const std::map<std::string, std::string>& ftp = {}) {
  std::map<std::string, std::string> attrs = {
      {"Ip", "127.0.0.1"}, {"Port", port.toStdString()}, {"User", "user"}, {"Password", "pw"},
      {"Account", ""}, {"ServerPath", "/site"}, {"TxtFile", "htm"}, {"PassMode", "1"},
      {"FirewallFlag", "0"}, {"FirewallType", "-1"}, {"FirewallIP", ""}, {"FirewallUser", ""},
      {"FirewallPassword", ""}};
  for (const auto& [k, v] : ftp) attrs[k] = v;
  auto node = quill::cvDomNode::create("Ftp");
  for (const auto& [k, v] : attrs)
    if (v != "<none>") node->loadAttr(k, v);
  auto setup = quill::cvDomNode::create("Setup");
  setup->appendNode(node);
  auto root = quill::cvDomNode::create("Project");
  root->loadAttr("Name", "Test");
  root->appendNode(quill::cvDomNode::create("Scripts"));
  root->appendNode(setup);
  auto doc = quill::cvDomDoc::create();
  doc->setRoot(root);
  QDir().mkpath(folder);
  const std::string path = (folder + "/ProjectDef.prj").toStdString();
  doc->saveDoc(path);
  return path;
}

}  // namespace uploadtest
