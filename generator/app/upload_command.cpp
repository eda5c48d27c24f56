// The command reads what it needs first (the ErrOccured text of the upload
// window's captions, the upload settings, the Output folder) so that a
// project that cannot be published fails before any connection. Then one
// CtlFtpUL runs on a local event loop; its signals drive a ProgressPrinter.
// Ctrl-C sets the process-wide cancel flag of TerminalStatus, which a timer
// looks at: the queue is destroyed, which closes the open file and drops
// both connections. A second Ctrl-C ends the program at once.
#include "generator/app/upload_command.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <memory>
#include <optional>
#include <ostream>

#include "common/automation_error.h"
#include "generator/project/project_context.h"
#include "generator/report/terminal_prompter.h"
#include "generator/report/terminal_status.h"
#include "generator/upload/connection_parameters.h"
#include "generator/upload/ctl_ftp_ul.h"
#include "generator/upload/required.h"

namespace quill {

namespace {

constexpr int kRedrawMs = 100;     // a terminal's progress line is redrawn at most this often
constexpr int kInterruptPollMs = 50;

// What one upload needs, read before anything is sent.
struct UploadJob {
  std::string errOccured;
  ConnectionParameters connection;
  std::string serverPath;
  std::string outputFolder;
};

// A failure to read the job, with the file it concerns.
struct JobError {
  std::string file;
  std::string description;
};

std::shared_ptr<cvDomDoc> readDocument(const std::string& path) {
  auto doc = cvDomDoc::create();
  doc->readDoc(path);
  return doc;
}

UploadJob readJob(const std::string& projectPath, const std::string& appFolder) {
  UploadJob job;
  std::string file = appFolder + "qlang.xml";
  try {
    const DomNodeRef form = requiredNode(requiredNode(readDocument(file)->root(), "forms"), "frmFolderTran");
    job.errOccured = requiredAttr(requiredNode(form, "Message"), "ErrOccured");
    file = projectPath;
    const DomNodeRef ftp = requiredNode(requiredNode(readDocument(file)->root(), "Setup"), "Ftp");
    job.connection = connectionParameters(ftp);
    job.serverPath = requiredAttr(ftp, "ServerPath");
  } catch (const AutomationError& e) {
    throw JobError{file, e.description()};
  }
  job.outputFolder = folderOf(projectPath) + "Output";
  return job;
}

// A name as it may be printed: control characters become '?', so that a
// log never receives escape sequences from a file name.
std::string printable(const QString& name) {
  std::string s = name.toStdString();
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return s;
}

// Per-file lines. Without a terminal: one line when a file has been sent.
// On a terminal: the same line, drawn when the file starts and redrawn as
// it grows.
class ProgressPrinter {
 public:
  ProgressPrinter(std::ostream& out, bool terminal, const QString& root)
      : out_(out), terminal_(terminal), root_(root + QLatin1Char('/')) {}

  void started(const QString& localPath) {
    name_ = printable(localPath.startsWith(root_) ? localPath.mid(root_.size()) : localPath);
    size_ = QFileInfo(localPath).size();
    bytes_ = 0;
    if (terminal_) draw();
  }
  void grew(qint64 bytes) {
    bytes_ = bytes;
    if (terminal_ && sinceDraw_.elapsed() >= kRedrawMs) draw();
  }
  void ended() {
    ++files_;
    totalBytes_ += bytes_;
    if (terminal_) out_ << '\r';
    out_ << name_ << ' ' << bytes_ << " bytes" << (terminal_ ? "\x1b[K" : "") << std::endl;
    name_.clear();
  }
  // Ends a progress line that is still open, before other output.
  void breakLine() {
    if (terminal_ && !name_.empty()) out_ << std::endl;
  }

  const std::string& currentName() const { return name_; }
  int files() const { return files_; }
  qint64 totalBytes() const { return totalBytes_; }

 private:
  void draw() {
    out_ << '\r' << name_ << ' ' << bytes_ << '/' << size_ << " bytes\x1b[K" << std::flush;
    sinceDraw_.start();
  }

  std::ostream& out_;
  const bool terminal_;
  const QString root_;
  std::string name_;
  qint64 size_ = 0;
  qint64 bytes_ = 0;
  int files_ = 0;
  qint64 totalBytes_ = 0;
  QElapsedTimer sinceDraw_;
};

void configure(CtlFtpUL& queue, const ConnectionParameters& c) {
  queue.setUsername(QString::fromStdString(c.username));
  queue.setPassword(QString::fromStdString(c.password));
  queue.setRemoteHost(QString::fromStdString(c.remoteHost));
  queue.setAccount(QString::fromStdString(c.account));
  queue.setPort(QString::fromStdString(c.port));
  queue.setPreCommand(QString::fromStdString(c.preCommand));
  queue.setPassive(c.passive);
}

}  // namespace

int runUploadCommand(const std::string& projectPath, const std::string& appFolder,
                     const UploadCommandStreams& streams) {
  TerminalPrompter prompter(streams.err);
  if (!QFileInfo(QString::fromStdString(projectPath)).isFile()) {
    prompter.error("no such project file: " + projectPath);
    return 1;
  }
  UploadJob job;
  try {
    job = readJob(projectPath, appFolder);
  } catch (const JobError& e) {
    prompter.error(e.file + ": " + e.description);
    return 1;
  }
  const QString output = QString::fromStdString(job.outputFolder);
  if (!QFileInfo(output).isDir()) {
    prompter.error("nothing to upload: there is no folder " + job.outputFolder +
                   "; generate the site first (quillant " + projectPath + ")");
    return 1;
  }

  streams.out << "Uploading " << job.outputFolder << "/ to " << job.serverPath << " on "
              << job.connection.remoteHost << ':' << job.connection.port << std::endl;
  auto queue = std::make_unique<CtlFtpUL>();
  ProgressPrinter progress(streams.out, streams.outIsTerminal, output);
  QEventLoop loop;
  std::optional<QString> errors;
  QObject::connect(queue.get(), &CtlFtpUL::FileUploadStart, [&](const QString& p) { progress.started(p); });
  QObject::connect(queue.get(), &CtlFtpUL::FileUploadSize, [&](qint64 n) { progress.grew(n); });
  QObject::connect(queue.get(), &CtlFtpUL::FileUploadEnd, [&] { progress.ended(); });
  QObject::connect(queue.get(), &CtlFtpUL::Finish, [&](const QString& e) {
    errors = e;
    loop.quit();
  });

  TerminalStatus::installInterruptHandler();
  const TerminalStatus interrupts(streams.err);
  bool cancelled = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!interrupts.cancelFlag()) return;
    cancelled = true;
    queue.reset();  // closes the file, drops both connections, raises nothing
    loop.quit();
  });
  poll.start(kInterruptPollMs);

  QElapsedTimer clock;
  clock.start();
  try {
    configure(*queue, job.connection);
    queue->AddUploadItem(output, QString::fromStdString(job.serverPath));
    queue->BeginUpload();
  } catch (const AutomationError& e) {
    prompter.error(job.errOccured + "\r\n" + e.description());
    return 1;
  }
  if (!errors) loop.exec();
  progress.breakLine();

  if (cancelled) {
    const std::string file = progress.currentName();
    prompter.info("upload cancelled" + (file.empty() ? std::string() : "; " + file + " is incomplete on the server"));
    return 130;
  }
  if (!errors->isEmpty()) {
    prompter.error(job.errOccured + "\r\n" + errors->toStdString());
    return 1;
  }
  streams.out << "Uploaded " << progress.files() << " files, " << progress.totalBytes() << " bytes in "
              << QString::number(clock.elapsed() / 1000.0, 'f', 1).toStdString() << " s" << std::endl;
  return 0;
}

}  // namespace quill
