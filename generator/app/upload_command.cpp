// The command reads what it needs first (the ErrOccured text of the upload
// window's captions, the upload settings, the Output folder) so that a
// project that cannot be published fails before any connection. Then one
// CtlFtpUL runs on a local event loop; its signals drive a ProgressPrinter,
// and in sync mode a PlanPrinter for the plan.
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
#include "generator/project/captions.h"
#include "generator/project/project_context.h"
#include "generator/report/terminal_prompter.h"
#include "generator/report/terminal_status.h"
#include "generator/upload/connection_parameters.h"
#include "generator/upload/ctl_ftp_ul.h"
#include "generator/upload/password_source.h"
#include "generator/upload/publish_options.h"

namespace quill {

namespace {

constexpr int kRedrawMs = 100;     // a terminal's progress line is redrawn at most this often
constexpr int kInterruptPollMs = 50;

// What one upload needs, read before anything is sent.
struct UploadJob {
  std::string errOccured;
  ConnectionParameters connection;
  PublishOptions publish;
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
    const DomNodeRef form = captionNode(captionNode(readDocument(file)->root(), "forms"), "frmFolderTran");
    job.errOccured = captionText(captionNode(form, "Message"), "ErrOccured");
    file = projectPath;
    const DomNodeRef ftp = readDocument(file)->root()->node("Setup", Missing::Raise)->node("Ftp", Missing::Raise);
    job.connection = connectionParameters(ftp);
    job.serverPath = ftp->getAttr("ServerPath", Missing::Raise);
    job.publish = readPublishOptions(ftp);
  } catch (const AutomationError& e) {
    throw JobError{file, e.description()};
  } catch (const PublishOptionError& e) {
    throw JobError{file, e.what()};
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

// A path below `root` as it is printed: relative to root.
std::string relativeName(const QString& path, const QString& root) {
  return printable(path.startsWith(root) ? path.mid(root.size()) : path);
}

// Per-file lines. Without a terminal, or with several connections: one line
// when a file has arrived. On a terminal with one connection: the same
// line, drawn when the file starts and redrawn as it grows.
class ProgressPrinter {
 public:
  ProgressPrinter(std::ostream& out, bool redraw, const QString& root)
      : out_(out), redraw_(redraw), root_(root + QLatin1Char('/')) {}

  void started(const QString& localPath) {
    name_ = relativeName(localPath, root_);
    size_ = QFileInfo(localPath).size();
    bytes_ = 0;
    if (redraw_) draw();
  }
  void grew(qint64 bytes) {
    bytes_ = bytes;
    if (redraw_ && sinceDraw_.elapsed() >= kRedrawMs) draw();
  }
  void sent(const QString& localPath, qint64 bytes) {
    if (lineOpen_) out_ << '\r';
    out_ << relativeName(localPath, root_) << ' ' << bytes << " bytes" << (lineOpen_ ? "\x1b[K" : "") << std::endl;
    lineOpen_ = false;
    name_.clear();
  }
  // Ends a progress line that is still open, before other output.
  void breakLine() {
    if (lineOpen_) out_ << std::endl;
    lineOpen_ = false;
  }
  // The file started last, "" when it has arrived.
  const std::string& currentName() const { return name_; }

 private:
  void draw() {
    out_ << '\r' << name_ << ' ' << bytes_ << '/' << size_ << " bytes\x1b[K" << std::flush;
    lineOpen_ = true;
    sinceDraw_.start();
  }

  std::ostream& out_;
  const bool redraw_;
  const QString root_;
  std::string name_;
  qint64 size_ = 0;
  qint64 bytes_ = 0;
  bool lineOpen_ = false;  // a drawn line not ended yet
  QElapsedTimer sinceDraw_;
};

// The plan of a sync run or a dry run, before anything happens: why the
// server's manifest was not used, the numbers, and on a dry run every file
// that would be sent or deleted.
void printPlan(std::ostream& out, const CtlFtpUL& queue, const QString& localRoot) {
  const PublishSummary& s = queue.summary();
  if (!s.manifestNote.isEmpty()) out << "Note: " << printable(s.manifestNote) << std::endl;
  out << describePlan(s).toStdString() << std::endl;
  if (!s.dryRun || !queue.plan()) return;
  const SyncPlan& plan = *queue.plan();
  for (const auto& stage : plan.sends)
    for (const size_t i : stage) {
      const SiteFile& f = queue.siteFiles()[i];
      out << "send " << relativeName(f.localPath, localRoot + QLatin1Char('/')) << ' ' << f.size << " bytes" << std::endl;
    }
  for (const std::string& path : plan.deletions)
    out << "delete " << printable(QString::fromStdString(path)) << std::endl;
}

void configure(CtlFtpUL& queue, const ConnectionParameters& c) {
  queue.setUsername(QString::fromStdString(c.username));
  queue.setPassword(QString::fromStdString(c.password));
  queue.setRemoteHost(QString::fromStdString(c.remoteHost));
  queue.setAccount(QString::fromStdString(c.account));
  queue.setPort(QString::fromStdString(c.port));
  queue.setPreCommand(QString::fromStdString(c.preCommand));
  queue.setPassive(c.passive);
  queue.setSecurity(QString::fromStdString(c.security));
  queue.setTlsFingerprint(QString::fromStdString(c.tlsFingerprint));
}

// After a refused certificate: what it was, and the line that trusts it.
void explainCertificate(std::ostream& err, const CtlFtpUL::RejectedCertificate& c, const std::string& projectPath) {
  const std::string fp = c.fingerprint.toStdString();
  err << "If " << fp << "\n"
      << "is the SHA-256 fingerprint of your server's certificate (compare it with what your provider\n"
         "shows, or on the server: openssl x509 -noout -fingerprint -sha256 -in CERTIFICATE), trust it\n"
         "by adding this attribute to the Ftp node of "
      << projectPath << ":\n  TlsFingerprint=\"" << fp << "\"" << std::endl;
}

// " (sync, 4 connections, dry run)" for what differs from a plain publish.
std::string modeText(const PublishOptions& p, bool dryRun, const std::string& security) {
  std::string parts;
  auto add = [&parts](const std::string& part) { parts += (parts.empty() ? "" : ", ") + part; };
  if (!security.empty()) add(QString::fromStdString(security).toLower().toStdString() + " TLS");
  if (p.sync) add("sync");
  if (p.connections > 1) add(std::to_string(p.connections) + " connections");
  if (dryRun) add("dry run");
  return parts.empty() ? parts : " (" + parts + ")";
}

}  // namespace

int runUploadCommand(const std::string& projectPath, const std::string& appFolder,
                     const UploadCommandStreams& streams, const UploadCommandOptions& options) {
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
  if (options.sync) job.publish.sync = true;
  if (options.parallel > 0) job.publish.connections = options.parallel;
  const QString output = QString::fromStdString(job.outputFolder);
  if (!QFileInfo(output).isDir()) {
    prompter.error("nothing to upload: there is no folder " + job.outputFolder +
                   "; generate the site first (quillant " + projectPath + ")");
    return 1;
  }

  try {
    job.connection.password = resolvePassword(PasswordSource::system(), job.connection.password,
                                              job.connection.askPassword,
                                              job.connection.username + "@" + job.connection.remoteHost);
  } catch (const PasswordUnavailable& e) {
    prompter.error(projectPath + ": " + e.what());
    return 1;
  }
  streams.out << "Uploading " << job.outputFolder << "/ to " << job.serverPath << " on "
              << job.connection.remoteHost << ':' << job.connection.port << modeText(job.publish, options.dryRun, job.connection.security)
              << std::endl;
  auto queue = std::make_unique<CtlFtpUL>();
  const QString remoteRoot = QString::fromStdString(job.serverPath) + QLatin1Char('/');
  ProgressPrinter progress(streams.out, streams.outIsTerminal && job.publish.connections == 1, output);
  QEventLoop loop;
  std::optional<QString> errors;
  QObject::connect(queue.get(), &CtlFtpUL::FileUploadStart, [&](const QString& p) { progress.started(p); });
  QObject::connect(queue.get(), &CtlFtpUL::FileUploadSize, [&](qint64 n) { progress.grew(n); });
  QObject::connect(queue.get(), &CtlFtpUL::FileSent,
                   [&](const QString& p, const QString&, qint64 n) { progress.sent(p, n); });
  QObject::connect(queue.get(), &CtlFtpUL::RemoteDeleted, [&](const QString& remote) {
    progress.breakLine();
    streams.out << "deleted " << relativeName(remote, remoteRoot) << std::endl;
  });
  QObject::connect(queue.get(), &CtlFtpUL::Planned, [&](const PublishSummary&) { printPlan(streams.out, *queue, output); });
  QObject::connect(queue.get(), &CtlFtpUL::Notice, [&](const QString& text) {
    progress.breakLine();
    prompter.warning(printable(text));
  });
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
    queue.reset();  // closes the files, drops every connection, raises nothing
    loop.quit();
  });
  poll.start(kInterruptPollMs);

  QElapsedTimer clock;
  clock.start();
  try {
    configure(*queue, job.connection);
    applyPublishOptions(*queue, job.publish);
    queue->setDryRun(options.dryRun);
    queue->AddUploadItem(output, QString::fromStdString(job.serverPath));
    queue->BeginUpload();
  } catch (const AutomationError& e) {
    prompter.error(job.errOccured + "\r\n" + e.description());
    return 1;
  } catch (const std::exception& e) {
    prompter.error(job.errOccured + "\r\n" + e.what());
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
    if (queue->rejectedCertificate()) explainCertificate(streams.err, *queue->rejectedCertificate(), projectPath);
    return 1;
  }
  const PublishSummary& s = queue->summary();
  if (s.dryRun) {
    streams.out << "Dry run: nothing was changed on the server." << std::endl;
    return 0;
  }
  streams.out << "Uploaded " << s.sent << " files, " << s.bytesSent << " bytes in "
              << QString::number(clock.elapsed() / 1000.0, 'f', 1).toStdString() << " s";
  if (s.sync) streams.out << "; " << s.unchanged << " unchanged, " << s.deleted << " deleted";
  streams.out << std::endl;
  const QString retried = describeRetries(s);
  if (!retried.isEmpty()) streams.out << printable(retried) << std::endl;
  return 0;
}

}  // namespace quill
