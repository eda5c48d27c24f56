// The control against a real server: pyftpdlib started by the test on a free
// loopback port, in passive and in active mode.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>

#include "ftp_test_support.h"

using namespace ftptest;
using quill::FtpControl;

namespace {

// pyftpdlib with one user, serving `root`; stopped by its PID.
class PyFtpd {
 public:
  explicit PyFtpd(const QString& root) {
    const QStringList args = {"-m", "pyftpdlib", "-i", "127.0.0.1", "-p", "0", "-w", "-d", root, "-u", "user", "-P", "pw"};
    proc_.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&proc_, &QProcess::readyRead, [this] { log_ += proc_.readAll(); });
    proc_.start("/usr/bin/python3", args);
    static const QRegularExpression re("starting FTP server on 127\\.0\\.0\\.1:(\\d+)");
    waitUntil([&] {
      const auto m = re.match(QString::fromUtf8(log_));
      if (m.hasMatch()) port_ = m.captured(1);
      return !port_.isEmpty() || proc_.state() == QProcess::NotRunning;
    }, 15000);
  }
  ~PyFtpd() {
    if (proc_.state() != QProcess::NotRunning) {
      ::kill(static_cast<pid_t>(proc_.processId()), SIGTERM);
      if (!proc_.waitForFinished(3000)) proc_.kill();
      proc_.waitForFinished(3000);
    }
  }
  const QString& port() const { return port_; }
  const QByteArray& log() const { return log_; }

 private:
  QProcess proc_;
  QByteArray log_;
  QString port_;
};

class FtpPyftpd : public ::testing::TestWithParam<bool> {
 protected:
  FtpPyftpd() { rec.attach(ftp); }

  // Runs one operation to its CommandDone and gives its code.
  int run(const std::function<void()>& op) {
    const int before = rec.done;
    op();
    if (!waitUntil([&] { return rec.done > before; }, 10000)) {
      ADD_FAILURE() << "no CommandDone; trace:\n" << rec.traces.join("\n").toStdString();
      return -999;
    }
    return rec.lastCode;
  }
  QByteArray stored(const QString& rel) {
    QFile f(dir.path() + "/" + rel);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  void login(PyFtpd& server) {
    ASSERT_FALSE(server.port().isEmpty()) << server.log().toStdString();
    ftp.setPort(server.port());
    ftp.setPassive(GetParam());
    ASSERT_EQ(run([&] { ftp.Connect("127.0.0.1", "user", "pw"); }), 0) << rec.lastMsg.toStdString();
  }

  int app_ = (ensureApp(), 0);
  QTemporaryDir dir;
  FtpControl ftp;
  Recorder rec;
};

TEST_P(FtpPyftpd, FilesAndFoldersRoundTrip) {
  PyFtpd server(dir.path());
  login(server);
  EXPECT_EQ(run([&] { ftp.MkDir("sub"); }), 0);
  EXPECT_EQ(run([&] { ftp.MkDir("sub"); }), 550);  // exists: failure code, still connected
  EXPECT_TRUE(ftp.IsIdle());
  EXPECT_EQ(run([&] { ftp.Cd("sub"); }), 0);
  EXPECT_EQ(rec.lastMsg, "\"/sub\" is the current directory.");

  ftp.setFiletype("A");
  EXPECT_EQ(run([&] { ftp.PutFile("text.txt", rec.feed("line1\r\nline2\r\n")); }), 0);
  EXPECT_EQ(stored("sub/text.txt"), "line1\nline2\n");

  QByteArray bin(100000, Qt::Uninitialized);
  for (auto& c : bin) c = char(QRandomGenerator::global()->bounded(256));
  ftp.setFiletype("I");
  EXPECT_EQ(run([&] { ftp.PutFile("bin.dat", rec.feed(bin)); }), 0);
  EXPECT_EQ(stored("sub/bin.dat"), bin);
  EXPECT_EQ(run([&] { ftp.AppendFile("bin.dat", rec.feed("tail")); }), 0);
  EXPECT_EQ(stored("sub/bin.dat"), bin + "tail");
  EXPECT_TRUE(rec.events.contains("PutClose"));

  rec.got.clear();
  EXPECT_EQ(run([&] { ftp.GetFile("bin.dat", "local.dat"); }), 0);
  EXPECT_EQ(rec.got, bin + "tail");
  rec.got.clear();
  ftp.setRest(1000);
  EXPECT_EQ(run([&] { ftp.GetFile("bin.dat", "local.dat"); }), 0);
  EXPECT_EQ(rec.got, bin.mid(1000) + "tail");
  EXPECT_EQ(ftp.rest(), -1);

  rec.dirLines.clear();
  EXPECT_EQ(run([&] { ftp.Ls(""); }), 0);
  rec.dirLines.sort();
  EXPECT_EQ(rec.dirLines, QStringList({"bin.dat", "text.txt"}));
  rec.dirLines.clear();
  EXPECT_EQ(run([&] { ftp.Dir(""); }), 0);
  ASSERT_EQ(rec.dirLines.size(), 2);
  EXPECT_TRUE(rec.dirLines.join('\n').contains(QRegularExpression(" 100004 .* bin\\.dat")));

  EXPECT_EQ(run([&] { ftp.Rename("bin.dat", "moved.dat"); }), 0);
  EXPECT_TRUE(QFile::exists(dir.path() + "/sub/moved.dat"));
  EXPECT_EQ(run([&] { ftp.Delete("moved.dat"); }), 0);
  EXPECT_EQ(run([&] { ftp.Delete("text.txt"); }), 0);
  EXPECT_EQ(run([&] { ftp.Cd(".."); }), 0);
  EXPECT_EQ(run([&] { ftp.RmDir("sub"); }), 0);
  EXPECT_FALSE(QDir(dir.path() + "/sub").exists());

  rec.events.clear();
  EXPECT_EQ(run([&] { ftp.DisConnect(); }), 0);
  ASSERT_TRUE(waitUntil([&] { return rec.events.contains("DisConnected 0 "); }));
  EXPECT_EQ(ftp.state(), "");
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpPyftpd, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

}  // namespace
