// The window is laid out in its constructor: the animation and the file
// name on top, the progress bar below, Cancel at the bottom. Its first
// showEvent posts beginUpload, so that the window is on screen (and exec's
// loop running) before anything can hide it again. The queue's signals move
// the progress bar; Finish hides the window before the outcome is shown, as
// the main window expects to get control back then. Every message box text
// comes from the caption document when it is needed; the sentences of a
// sync publish (PlanText, OutcomeText, RetriedText) have built-in wordings
// for a caption document that lacks them.
#include "generator/upload/frm_folder_tran.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <climits>

#include "common/automation_error.h"
#include "generator/report/message_text.h"
#include "generator/report/prompter.h"
#include "generator/upload/connection_parameters.h"
#include "generator/upload/ctl_ftp_ul.h"
#include "generator/upload/publish_options.h"
#include "generator/project/captions.h"

namespace quill {

namespace {
QString q(const std::string& s) { return QString::fromStdString(toLineFeeds(s)); }

const char* const kAskPassword = "Password for {user} on {host}:";
const char* const kTrustCertificate =
    "The certificate of {host} is not trusted: {problem}.\r\n\r\nIts SHA-256 fingerprint is\r\n{fingerprint}"
    "\r\n\r\nTrust this certificate for this project? Say yes only if this is your server's fingerprint (your "
    "provider can tell you). The next upload will accept it.";
}  // namespace

frmFolderTran::frmFolderTran(const ProjectContext& context, std::string localFolder, Prompter& prompter,
                             QWidget* parent)
    : QDialog(parent),
      context_(context),
      localFolder_(std::move(localFolder)),
      prompter_(prompter),
      busyAnimation_(new QLabel(this)),
      clip_(new QMovie(QString::fromStdString(context.appFolder + "uploading"), QByteArray(), this)),
      fileLabel_(new QLabel(tr("Connecting..."), this)),
      planLabel_(new QLabel(this)),
      progressBar_(new QProgressBar(this)),
      cancelButton_(new QPushButton(tr("Cancel"), this)),
      queue_(std::make_unique<CtlFtpUL>(this)) {
  setObjectName("frmFolderTran");
  busyAnimation_->setObjectName("Animation1");
  fileLabel_->setObjectName("Label1");
  planLabel_->setObjectName("Label2");
  progressBar_->setObjectName("ProgressBar1");
  cancelButton_->setObjectName("Command1");
  queue_->setObjectName("CtlFtpUL1");
  setWindowTitle(tr("Uploading..."));

  const DomNodeRef form = captionNode(context.formsNode, "frmFolderTran");
  messageNode_ = captionNode(form, "Message");
  cancelButton_->setText(q(captionText(captionNode(form, "Command1"), "Caption")));

  busyAnimation_->setMovie(clip_);
  busyAnimation_->setMinimumSize(272, 60);
  busyAnimation_->setAlignment(Qt::AlignCenter);
  fileLabel_->setMinimumWidth(360);
  planLabel_->setWordWrap(true);
  planLabel_->hide();
  progressBar_->setTextVisible(false);
  progressBar_->hide();

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancelButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(busyAnimation_);
  layout->addWidget(planLabel_);
  layout->addWidget(fileLabel_);
  layout->addWidget(progressBar_);
  layout->addLayout(buttons);

  connect(cancelButton_, &QPushButton::clicked, this, &frmFolderTran::confirmCancel);
  connect(queue_.get(), &CtlFtpUL::FileUploadStart, this, &frmFolderTran::fileStarted);
  connect(queue_.get(), &CtlFtpUL::FileUploadSize, this, &frmFolderTran::fileGrew);
  connect(queue_.get(), &CtlFtpUL::FileSent, this, &frmFolderTran::fileSent);
  connect(queue_.get(), &CtlFtpUL::Planned, this, &frmFolderTran::planned);
  connect(queue_.get(), &CtlFtpUL::Finish, this, &frmFolderTran::finished);
}

frmFolderTran::~frmFolderTran() = default;

void frmFolderTran::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  QTimer::singleShot(0, this, &frmFolderTran::beginUpload);
}

// The settings are read afresh for every upload, in the order the queue is
// given them.
void frmFolderTran::beginUpload() {
  try {
    if (!clip_->isValid()) throw std::runtime_error("Cannot play the animation " + clip_->fileName().toStdString());
    clip_->start();
    const DomNodeRef ftp = context_.setupNode->node("Ftp", Missing::Raise);
    ConnectionParameters c = connectionParameters(ftp);
    if (c.askPassword) {
      const QString question = optionalMessage("AskPassword", kAskPassword)
                                   .replace(QLatin1String("{user}"), QString::fromStdString(c.username))
                                   .replace(QLatin1String("{host}"), QString::fromStdString(c.remoteHost));
      const std::optional<std::string> password = prompter_.askPassword(question.toStdString());
      if (!password) {  // cancelled: nothing to report
        over_ = true;
        hide();
        return;
      }
      c.password = *password;
    }
    queue_->setUsername(QString::fromStdString(c.username));
    queue_->setPassword(QString::fromStdString(c.password));
    queue_->setSecurity(QString::fromStdString(c.security));
    queue_->setTlsFingerprint(QString::fromStdString(c.tlsFingerprint));
    queue_->setRemoteHost(QString::fromStdString(c.remoteHost));
    queue_->setAccount(QString::fromStdString(c.account));
    queue_->setPort(QString::fromStdString(c.port));
    queue_->setPreCommand(QString::fromStdString(c.preCommand));
    queue_->setPassive(c.passive);
    const PublishOptions options = readPublishOptions(ftp);
    applyPublishOptions(*queue_, options);
    queue_->AddUploadItem(QString::fromStdString(localFolder_), QString::fromStdString(ftp->getAttr("ServerPath", Missing::Raise)));
    countFiles_ = options.connections > 1;
    if (countFiles_) {
      progressBar_->setRange(0, static_cast<int>(queue_->fileQueue().size()));
      progressBar_->setValue(0);
    }
    queue_->BeginUpload();
  } catch (const AutomationError& e) {
    over_ = true;
    prompter_.error(e.description());
    hide();
  } catch (const std::exception& e) {
    over_ = true;
    prompter_.error(e.what());
    hide();
  }
}

void frmFolderTran::fileStarted(const QString& localPath) {
  fileLabel_->setText(QFileInfo(localPath).fileName());
  if (countFiles_) {
    progressBar_->show();
    return;
  }
  const qint64 size = QFileInfo(localPath).size();
  progressShift_ = 0;
  while ((size >> progressShift_) > INT_MAX) ++progressShift_;
  progressBar_->setMaximum(static_cast<int>(size >> progressShift_));
  progressBar_->setValue(0);
  progressBar_->show();
}

void frmFolderTran::fileGrew(qint64 bytesRead) {
  if (!countFiles_) progressBar_->setValue(static_cast<int>(bytesRead >> progressShift_));
}

void frmFolderTran::fileSent() {
  if (countFiles_) progressBar_->setValue(progressBar_->value() + 1);
}

void frmFolderTran::planned(const PublishSummary& summary) {
  QString text = describePlan(summary, optionalMessage("PlanText", kPlanText));
  if (!summary.manifestNote.isEmpty()) text += QLatin1Char('\n') + summary.manifestNote;
  planLabel_->setText(text);
  planLabel_->show();
  if (countFiles_) progressBar_->setRange(0, static_cast<int>(summary.toSend));
}

// What happened, when there is more to say than that the site is up.
QString frmFolderTran::outcome() const {
  const PublishSummary& s = queue_->summary();
  QStringList lines;
  if (s.sync) lines << describeOutcome(s, optionalMessage("OutcomeText", kOutcomeText));
  if (!s.retried.isEmpty()) lines << describeRetries(s, optionalMessage("RetriedText", kRetriedText));
  lines << s.notes;
  return lines.join(QStringLiteral("\r\n"));
}

void frmFolderTran::finished(const QString& errors) {
  over_ = true;
  clip_->stop();
  hide();
  try {
    const QString more = outcome();
    if (errors.isEmpty())
      prompter_.info(message("FinUpload") + (more.isEmpty() ? std::string() : "\r\n" + more.toStdString()));
    else
      prompter_.error(message("ErrOccured") + "\r\n" + errors.toStdString());
  } catch (const AutomationError& e) {
    prompter_.error(e.description());
  }
  if (queue_->rejectedCertificate()) offerTrust();
}

void frmFolderTran::offerTrust() {
  const CtlFtpUL::RejectedCertificate c = *queue_->rejectedCertificate();
  const QString text = optionalMessage("TrustCertificate", kTrustCertificate)
                           .replace(QLatin1String("{host}"), c.host)
                           .replace(QLatin1String("{problem}"), c.problem)
                           .replace(QLatin1String("{fingerprint}"), c.fingerprint);
  if (!prompter_.confirm(text.toStdString(), {}, false)) return;
  try {
    context_.setupNode->node("Ftp", Missing::Raise)->loadAttr("TlsFingerprint", c.fingerprint.toStdString());
    context_.projectDoc->saveDoc();
  } catch (const AutomationError& e) {
    prompter_.error(e.description() + "\r\n" + context_.projectDoc->filePath());
  }
}

void frmFolderTran::confirmCancel() {
  if (over_) return;
  bool abort = false;
  try {
    abort = prompter_.confirm(message("ConfirmAbort"), {}, false);
  } catch (const AutomationError& e) {
    prompter_.error(e.description());
    return;
  }
  if (!abort || over_) return;  // refused, or the upload ended while the question was open
  over_ = true;
  queue_.reset();  // closes the open file and drops both connections; no Finish follows
  hide();
}

// The close box is a cancel, with its question; once the upload is over the
// window closes as any other.
void frmFolderTran::closeEvent(QCloseEvent* event) {
  if (over_) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  confirmCancel();
}

void frmFolderTran::reject() {
  if (over_) {
    QDialog::reject();
    return;
  }
  confirmCancel();
}

std::string frmFolderTran::message(const char* name) const { return captionText(messageNode_, name); }

QString frmFolderTran::optionalMessage(const char* name, const char* fallback) const {
  return messageNode_->hasAttr(name) ? q(captionText(messageNode_, name)) : QString::fromUtf8(fallback);
}

}  // namespace quill
