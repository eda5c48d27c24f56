// Upload throughput of the FTP control: file after file on one connection
// (PutFile each, 8192-byte blocks read from disk on demand), against lftp
// (mirror -R --parallel=1) and one curl process uploading every file, all to
// one pyftpdlib server on 127.0.0.1 started here. Prints medians per tool, the
// control's ratios against each anchor, and the median of the ratios taken
// within each repetition (every tool runs once per repetition, back to back).
//
// Every timed run uploads into a new, empty folder (see the note in main).
//
// lftp runs twice: as it comes, and lean. As it comes it negotiates features,
// tries TLS, lists the folder with MLSD, sets each file's time (MFMT) and
// finally its permissions (SITE CHMOD), and deletes a file that is there
// before storing it again. The lean run leaves all of that out, so that per
// file it sends what the control sends bar TYPE: PASV and STOR. Short traced
// runs of each variant print the commands sent, so the claim can be checked
// on the machine at hand.
//
// curl is measured in active mode only, against the control in active mode:
// in passive mode curl stalls about a second before some data connections on
// a busy machine (its figure swung from 0.6 to 18 s), which says nothing about
// the protocol work. --curl-passive adds that column, marked unreliable.
//
//   ftpcontrol_upload_bench [--reps N] [--small COUNT] [--large COUNT] [--curl-passive]
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
#include <QThread>
#include <QTimer>
#include <unistd.h>

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
// When `commands` is given, the commands sent are appended to it.
double runControl(const QString& port, const FileSet& set, const QString& remoteDir, bool passive,
                  QStringList* commands = nullptr) {
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
  if (commands)
    QObject::connect(&ftp, &quill::FtpControl::Trace, [commands](const QString& m) {
      const qsizetype at = m.indexOf(QLatin1String(">>"));
      if (at >= 0) *commands << m.mid(at + 2);
    });
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

// Runs a program to its end; its standard error goes to `errors` when given,
// else to ours. Returns the wall time, or -1 on failure.
double runProcess(const QString& program, const QStringList& args, const QString& dir = {},
                  QByteArray* errors = nullptr) {
  QProcess p;
  if (!dir.isEmpty()) p.setWorkingDirectory(dir);
  p.setProcessChannelMode(errors ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
  p.setStandardOutputFile(QProcess::nullDevice());
  QElapsedTimer t;
  t.start();
  p.start(program, args);
  waitUntil([&] {
    if (errors) *errors += p.readAllStandardError();
    return p.state() == QProcess::NotRunning;
  }, 300000);
  const double secs = t.nsecsElapsed() / 1e9;
  if (errors) *errors += p.readAllStandardError();
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    std::fprintf(stderr, "%s failed (exit %d)\n", qPrintable(program), p.exitCode());
    return -1;
  }
  return secs;
}

// The two ways lftp is run. Both mirror the local folder into the remote one
// with one transfer at a time and transfer every file, present or not.
QString lftpScript(bool lean, const QString& localDir, const QString& remoteDir) {
  if (!lean)
    return QStringLiteral("set ftp:passive-mode true; mirror -R --parallel=1 --transfer-all %1 %2; quit")
        .arg(localDir, remoteDir);
  // No FEAT and no AUTH TLS; --overwrite stores over a file instead of
  // deleting it first; --ignore-time skips the MDTM per file; no time setting
  // afterwards (MFMT needs FEAT, so only the SITE UTIME forms are left to turn
  // off); --no-perms drops the SITE CHMOD per file.
  return QStringLiteral("set ftp:passive-mode true; set ftp:use-feat no; set ftp:ssl-allow no; "
                        "set ftp:use-site-utime no; set ftp:use-site-utime2 no; "
                        "mirror -R --parallel=1 --transfer-all --overwrite --ignore-time --no-perms --no-umask "
                        "%1 %2; quit")
      .arg(localDir, remoteDir);
}

// The commands an lftp debug trace (-d) shows it sending, in order.
QStringList sentCommands(const QByteArray& trace) {
  QStringList out;
  for (const QByteArray& line : trace.split('\n')) {
    const qsizetype at = line.indexOf("---> ");
    if (at >= 0) out << QString::fromUtf8(line.mid(at + 5)).trimmed();
  }
  return out;
}

// The commands on one line, in order; a password is never shown.
void printCommands(const char* who, const char* situation, const QStringList& commands) {
  std::printf("%s, %s (%lld commands):\n", who, situation, static_cast<long long>(commands.size()));
  QStringList shown;
  for (QString c : commands) {
    if (c.startsWith(QLatin1String("PASS "))) c = QStringLiteral("PASS ***");
    shown << c;
  }
  std::printf("  %s\n", qPrintable(shown.join(QLatin1String(" | "))));
}

double loadAverage() {
  QFile f("/proc/loadavg");
  return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(0).toDouble() : -1;
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
  bool curlPassive = false;
  const QStringList a = app.arguments();
  for (int i = 1; i < a.size(); ++i) {
    const bool hasValue = i + 1 < a.size();
    if (a[i] == "--reps" && hasValue) reps = a[++i].toInt();
    else if (a[i] == "--small" && hasValue) small = a[++i].toInt();
    else if (a[i] == "--large" && hasValue) large = a[++i].toInt();
    else if (a[i] == "--curl-passive") curlPassive = true;
    else {
      std::fprintf(stderr, "usage: ftpcontrol_upload_bench [--reps N] [--small COUNT] [--large COUNT] "
                           "[--curl-passive]\n");
      return 2;
    }
  }
  const double loadBefore = loadAverage();

  QTemporaryDir work(QDir::tempPath() + "/quillant-ftpbench-XXXXXX");
  const QString remote = work.path() + "/remote";
  QDir().mkpath(remote);
  const std::vector<FileSet> sets = {makeSet(work.path(), "small", small, 5000),
                                     makeSet(work.path(), "large", large, 1 << 20)};
  const FileSet probe = makeSet(work.path(), "probe", 2, 5000);

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
  const QStringList lftpLogin = {"-u", "user,pw", "-p", port};

  // What goes over the wire: each variant uploads the probe folder into an
  // empty folder, as every timed run does, and again over the files now
  // there, both traced.
  std::printf("Commands sent (2 files; PASS shown as ***)\n");
  for (const char* situation : {"into an empty folder", "over the same files"}) {
    QStringList commands;
    QDir().mkpath(remote + "/probe_control");
    runControl(port, probe, "probe_control", true, &commands);
    printCommands("control", situation, commands);
  }
  if (!lftp.isEmpty()) {
    for (bool lean : {false, true}) {
      const QString dir = lean ? "probe_lftp-lean" : "probe_lftp";
      QDir().mkpath(remote + "/" + dir);
      for (const char* situation : {"into an empty folder", "over the same files"}) {
        QByteArray trace;
        runProcess(lftp, QStringList{"-d"} + lftpLogin +
                             QStringList{"-e", lftpScript(lean, probe.localDir, dir), "127.0.0.1"},
                   {}, &trace);
        printCommands(lean ? "lftp lean" : "lftp as it comes", situation, sentCommands(trace));
      }
    }
  }
  std::printf("\n");

  std::vector<QString> tools = {"control", "lftp", "lftp-lean", "control-active", "curl-active"};
  if (curlPassive) tools.push_back("curl-passive");
  // A run of one tool on one set into the remote folder dir; -1 when it failed.
  auto runTool = [&](const QString& tool, const FileSet& set, const QString& dir) -> double {
    QDir().mkpath(remote + "/" + dir);
    // The previous run's files are on disk before this one starts.
    ::sync();
    if (tool == "control" || tool == "control-active") return runControl(port, set, dir, tool == "control");
    if (tool.startsWith("lftp")) {
      if (lftp.isEmpty()) return -1;
      return runProcess(lftp, lftpLogin + QStringList{"-e", lftpScript(tool == "lftp-lean", set.localDir, dir),
                                                      "127.0.0.1"});
    }
    if (curl.isEmpty()) return -1;
    // One process, one connection, every file: -T "{a,b,...}" to the folder
    // URL, run from the local folder.
    QStringList args = {"-s", "-S", "-u", "user:pw", "-T", "{" + set.files.join(',') + "}",
                        QStringLiteral("ftp://127.0.0.1:%1/%2/").arg(port, dir)};
    if (tool == "curl-active") args << "-P" << "127.0.0.1";
    return runProcess(curl, args, set.localDir);
  };

  // Every run stores into a new, empty folder, so the server does the same
  // work for every tool. Storing over existing files is not: on this
  // machine's ext4 a file truncated and written again is flushed when it is
  // closed, which made every tool that overwrites (the control, curl, lftp
  // lean) several times slower than lftp as it comes, whose DELE first makes
  // it write new files. One untimed run of each tool comes first.
  std::map<QString, std::map<QString, std::vector<double>>> times;  // set -> tool -> seconds, -1 = failed
  for (const FileSet& set : sets) {
    for (const QString& tool : tools) runTool(tool, set, tool + "_" + set.name + "_warm");
    for (int r = 0; r < reps; ++r) {
      for (const QString& tool : tools) {
        const QString dir = tool + "_" + set.name + "_" + QString::number(r);
        times[set.name][tool].push_back(runTool(tool, set, dir));
        if (!sameFiles(set, remote + "/" + dir))
          std::fprintf(stderr, "warning: %s did not store every %s file whole\n", qPrintable(tool),
                       qPrintable(set.name));
      }
      // The large set would fill the disk; removed between repetitions,
      // before the next run's sync.
      for (const QString& tool : tools)
        QDir(remote + "/" + tool + "_" + set.name + "_" + QString::number(r)).removeRecursively();
    }
  }
  stopServer();

  auto valid = [](const std::vector<double>& v) {
    std::vector<double> out;
    for (double x : v)
      if (x >= 0) out.push_back(x);
    return out;
  };
  std::printf("FTP upload to pyftpdlib on 127.0.0.1, %d repetitions (each tool once per repetition, in turn), "
              "medians\n",
              reps);
  std::printf("(small: %d files of 5000 bytes; large: %d files of 1 MiB; MB = 10^6 bytes; load average %.1f "
              "before, %.1f after, %d cores)\n",
              small, large, loadBefore, loadAverage(), QThread::idealThreadCount());
  std::printf("%-6s %-15s %8s %9s %8s\n", "set", "tool", "seconds", "files/s", "MB/s");
  for (const FileSet& set : sets) {
    for (const QString& tool : tools) {
      const auto v = valid(times[set.name][tool]);
      if (v.empty()) continue;
      const double m = median(v);
      std::printf("%-6s %-15s %8.3f %9.1f %8.1f   runs:", qPrintable(set.name), qPrintable(tool), m,
                  set.files.size() / m, set.bytes / 1e6 / m);
      for (double x : v) std::printf(" %.3f", x);
      std::printf(tool == "curl-passive" ? "   (unreliable: stalls before data connections)\n" : "\n");
    }
    // Ratio of the medians, and the median of the ratios within each
    // repetition (the two tools ran back to back).
    auto ratio = [&](const QString& mine, const QString& anchor) {
      const auto& x = times[set.name][mine];
      const auto& y = times[set.name][anchor];
      std::vector<double> paired;
      for (size_t i = 0; i < x.size() && i < y.size(); ++i)
        if (x[i] > 0 && y[i] > 0) paired.push_back(x[i] / y[i]);
      if (paired.empty()) return;
      std::printf("%-6s %-14s / %-15s = %.2f by medians, %.2f by repetition (", qPrintable(set.name),
                  qPrintable(mine), qPrintable(anchor), median(valid(x)) / median(valid(y)), median(paired));
      for (size_t i = 0; i < paired.size(); ++i) std::printf(i ? " %.2f" : "%.2f", paired[i]);
      std::printf(")\n");
    };
    ratio("control", "lftp");
    ratio("control", "lftp-lean");
    ratio("control-active", "curl-active");
    if (curlPassive) ratio("control", "curl-passive");
  }
  std::printf("(time ratios: below 1 is faster than the anchor)\n");
  return 0;
}
