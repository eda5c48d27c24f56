// Shared fixtures of the upload tests: the test FTP server (ftpd.py) on a
// free loopback port, stopped by its PID; files; a project whose upload
// settings point at the server.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <functional>
#include <map>
#include <ostream>

#include "tests/test_application.h"
#include "store/dom.h"
#include "tests/ftpcontrol/tls_test_support.h"

// Readable failure output for Qt texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace uploadtest {

template <class App = QCoreApplication>
void ensureApp() {
  quill::test::testApplication<App>();
}

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

inline QString programDir() { return qEnvironmentVariable("QUILLANT_PROGRAM_DIR"); }

using tlstest::TestFtpd;

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

inline QByteArray binaryBytes(int n) {
  QByteArray b(n, Qt::Uninitialized);
  for (int i = 0; i < n; ++i) b[i] = char((unsigned(i) * 131u + unsigned(i) / 7u) & 255u);
  return b;
}

// folder/ProjectDef.prj with upload settings for the test server; `ftp`
// overrides attributes of Setup\Ftp ("<none>" leaves one out).
inline std::string writeProject(const QString& folder, const QString& port,
                                const std::map<std::string, std::string>& ftp = {}) {
  std::map<std::string, std::string> attrs = {
      {"Ip", "127.0.0.1"}, {"Port", port.toStdString()}, {"User", "user"}, {"Password", "pw"}, {"Account", ""},
      {"ServerPath", "/site"}, {"PassMode", "1"}, {"FirewallFlag", "0"}};
  for (const auto& [k, v] : ftp) attrs[k] = v;
  auto node = quill::cvDomNode::create("Ftp");
  for (const auto& [k, v] : attrs)
    if (v != "<none>") node->loadAttr(k, v);
  auto setup = quill::cvDomNode::create("Setup");
  setup->appendNode(node);
  auto doc = quill::cvDomDoc::create();
  doc->setRoot(quill::cvDomNode::create("Project"));
  doc->root()->appendNode(setup);
  QDir().mkpath(folder);
  const std::string path = (folder + "/ProjectDef.prj").toStdString();
  doc->saveDoc(path);
  return path;
}

}  // namespace uploadtest
