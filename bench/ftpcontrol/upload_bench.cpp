// Upload throughput of the FTP control: file after file on one connection
// (PutFile each, 8192-byte blocks read from disk on demand), against lftp
// (mirror -R --parallel=1) and one curl process uploading every file, all to
// one pyftpdlib server on 127.0.0.1 started here. Prints medians per tool and
// the control's figures as ratios against each anchor.
//
//   ftpcontrol_upload_bench [--reps N] [--small COUNT] [--large COUNT]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

#include "ftpcontrol/ftp_control.h"

namespace {

bool waitUntil(const std::function<bool()>& pred, int ms) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > ms) return false;
    QEventLoop loop;
    QTimer::singleShot(1, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

struct FileSet {
  QString name;
  QString localDir;
  QStringList files;
  qint64 bytes = 0;
};

FileSet makeSet(const QString& root, const QString& name, int count, int size) {
  FileSet s{name, root + "/" + name, {}, 0};
  QDir().mkpath(s.localDir);
  QByteArray data(size, Qt::Uninitialized);
  for (int i = 0; i < count; ++i) {
    for (auto& c : data) c = char(QRandomGenerator::global()->bounded(256));
    const QString f = QStringLiteral("f%1.bin").arg(i, 5, 10, QLatin1Char('0'));
    QFile out(s.localDir + "/" + f);
    out.open(QIODevice::WriteOnly);
    out.write(data);
    s.files << f;
    s.bytes += size;
  }
  return s;
}

// One control, one connection, PutFile per file; the next file starts from
// the CommandDone handler, as the upload queue drives it.
double runControl(const QString& port, const FileSet& set, const QString& remoteDir, bool passive) {
  quill::FtpControl ftp;
  ftp.setPort(port);
  ftp.setPassive(passive);
  QFile file;
  qsizetype next = 0;
  bool failed = false, finished = false;
  QEventLoop loop;
  auto stop = [&](bool failure) {
    failed = failure;
    finished = true;
    loop.quit();
  };
  QObject::connect(&ftp, &quill::FtpControl::CommandDone, [&](int code, const QString& stat, const QString& m) {
    if (code != 0) {
      std::fprintf(stderr, "control: %s failed (%d %s)\n", qPrintable(stat), code, qPrintable(m));
      return stop(true);
    }
    if (next == set.files.size()) return stop(false);
    file.setFileName(set.localDir + "/" + set.files[next]);
    if (!file.open(QIODevice::ReadOnly)) return stop(true);
    ftp.setFiletype("I");
    ftp.PutFile(remoteDir + "/" + set.files[next++], [&file] { return file.read(8192); });
  });
  QObject::connect(&ftp, &quill::FtpControl::DisConnected, [&](int code, const QString& m) {
    if (!finished) {
      std::fprintf(stderr, "control: disconnected (%d %s)\n", code, qPrintable(m));
      stop(true);
    }
  });
  QObject::connect(&ftp, &quill::FtpControl::PutClose, [&] { file.close(); });
  QElapsedTimer clock;
  if (qEnvironmentVariableIsSet("FTPBENCH_TRACE"))
    QObject::connect(&ftp, &quill::FtpControl::Trace, [&](const QString& m) {
      std::fprintf(stderr, "%8.3f ms %s\n", clock.nsecsElapsed() / 1e6, qPrintable(m.left(60)));
    });
  QTimer::singleShot(600000, &loop, [&] { stop(true); });
  clock.start();
  ftp.Connect("127.0.0.1", "user", "pw");
  loop.exec();
  const double secs = clock.nsecsElapsed() / 1e9;
  if (failed) std::exit(1);
  ftp.DisConnect();
  waitUntil([&] { return ftp.state().isEmpty(); }, 5000);
  return secs;
}

double runProcess(const QString& program, const QStringList& args, const QString& dir = {}) {
  QProcess p;
  if (!dir.isEmpty()) p.setWorkingDirectory(dir);
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.setStandardOutputFile(QProcess::nullDevice());
  QElapsedTimer t;
  t.start();
  p.start(program, args);
  waitUntil([&] { return p.state() == QProcess::NotRunning; }, 300000);
  const double secs = t.nsecsElapsed() / 1e9;
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    std::fprintf(stderr, "%s failed (exit %d)\n", qPrintable(program), p.exitCode());
    return -1;
  }
  return secs;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

bool sameFiles(const FileSet& set, const QString& remoteDir) {
  for (const QString& f : set.files)
    if (QFileInfo(remoteDir + "/" + f).size() != QFileInfo(set.localDir + "/" + f).size()) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int reps = 5, small = 1000, large = 100;
  const QStringList a = app.arguments();
  for (int i = 1; i + 1 < a.size(); i += 2) {
    if (a[i] == "--reps") reps = a[i + 1].toInt();
    else if (a[i] == "--small") small = a[i + 1].toInt();
    else if (a[i] == "--large") large = a[i + 1].toInt();
  }

  QTemporaryDir work(QDir::tempPath() + "/quillant-ftpbench-XXXXXX");
  const QString remote = work.path() + "/remote";
  QDir().mkpath(remote);
  const std::vector<FileSet> sets = {makeSet(work.path(), "small", small, 5000),
                                     makeSet(work.path(), "large", large, 1 << 20)};

  // The server logs every transfer; its log goes to a file so that it never
  // waits on a pipe.
  QProcess server;
  const QString logPath = work.path() + "/ftpd.log";
  server.setProcessChannelMode(QProcess::MergedChannels);
  server.setStandardOutputFile(logPath);
  server.start("/usr/bin/python3", {"-m", "pyftpdlib", "-i", "127.0.0.1", "-p", "0", "-w", "-d", remote, "-u",
                                    "user", "-P", "pw"});
  QString port;
  static const QRegularExpression re("starting FTP server on 127\\.0\\.0\\.1:(\\d+)");
  waitUntil([&] {
    QFile log(logPath);
    if (log.open(QIODevice::ReadOnly)) {
      const auto m = re.match(QString::fromUtf8(log.readAll()));
      if (m.hasMatch()) port = m.captured(1);
    }
    return !port.isEmpty() || server.state() == QProcess::NotRunning;
  }, 15000);
  if (port.isEmpty()) {
    std::fprintf(stderr, "pyftpdlib did not start\n");
    return 1;
  }
  auto stopServer = [&] {
    ::kill(static_cast<pid_t>(server.processId()), SIGTERM);
    if (!server.waitForFinished(3000)) server.kill();
    server.waitForFinished(3000);
  };

  const QString lftp = QStandardPaths::findExecutable("lftp");
  const QString curl = QStandardPaths::findExecutable("curl");
  std::map<QString, std::map<QString, std::vector<double>>> times;  // set -> tool -> seconds

  // Passive mode is the usual case; active mode is measured too because
  // curl stalls about a second before each passive data connection on a busy
  // machine, which says little about the protocol work.
  const std::vector<const char*> tools = {"control", "lftp", "curl", "control-active", "curl-active"};
  for (const FileSet& set : sets) {
    // Remote folders are made once; every repetition overwrites in place.
    for (const char* tool : tools) QDir().mkpath(remote + "/" + tool + "_" + set.name);
    for (int r = 0; r < reps; ++r) {
      times[set.name]["control"].push_back(runControl(port, set, "control_" + set.name, true));
      times[set.name]["control-active"].push_back(runControl(port, set, "control-active_" + set.name, false));
      if (!lftp.isEmpty()) {
        const QString cmd = QStringLiteral("set ftp:passive-mode true; mirror -R --parallel=1 --transfer-all %1 "
                                           "lftp_%2; quit")
                                .arg(set.localDir, set.name);
        const double s = runProcess(lftp, {"-u", "user,pw", "-p", port, "-e", cmd, "127.0.0.1"});
        if (s >= 0) times[set.name]["lftp"].push_back(s);
      }
      if (!curl.isEmpty()) {
        // One process, one connection, every file: -T "{a,b,...}" to the
        // folder URL, run from the local folder.
        const QString glob = "{" + set.files.join(',') + "}";
        for (bool active : {false, true}) {
          const QString tool = active ? "curl-active" : "curl";
          QStringList args = {"-s", "-S", "-u", "user:pw", "-T", glob,
                              QStringLiteral("ftp://127.0.0.1:%1/%2_%3/").arg(port, tool, set.name)};
          if (active) args << "-P" << "127.0.0.1";
          const double s = runProcess(curl, args, set.localDir);
          if (s >= 0) times[set.name][tool].push_back(s);
        }
      }
    }
    for (const char* tool : tools)
      if (!times[set.name][tool].empty() && !sameFiles(set, remote + "/" + tool + "_" + set.name))
        std::fprintf(stderr, "warning: %s did not store every %s file whole\n", tool, qPrintable(set.name));
  }
  stopServer();

  std::printf("FTP upload to pyftpdlib on 127.0.0.1, %d repetitions, medians\n", reps);
  std::printf("%-6s %-15s %8s %9s %8s\n", "set", "tool", "seconds", "files/s", "MB/s");
  std::printf("(small: %d files of 5000 bytes; large: %d files of 1 MiB; MB = 10^6 bytes)\n", small, large);
  for (const FileSet& set : sets) {
    for (const char* tool : tools) {
      const auto& v = times[set.name][tool];
      if (v.empty()) continue;
      const double m = median(v);
      std::printf("%-6s %-15s %8.3f %9.1f %8.1f   runs:", qPrintable(set.name), tool, m, set.files.size() / m,
                  set.bytes / 1e6 / m);
      for (double x : v) std::printf(" %.3f", x);
      std::printf("\n");
    }
    auto ratio = [&](const char* mine, const char* anchor) {
      const auto& a = times[set.name][anchor];
      if (!a.empty())
        std::printf("%-6s %s time / %s time = %.2f (below 1 is faster)\n", qPrintable(set.name), mine, anchor,
                    median(times[set.name][mine]) / median(a));
    };
    ratio("control", "lftp");
    ratio("control", "curl");
    ratio("control-active", "curl-active");
  }
  return 0;
}
