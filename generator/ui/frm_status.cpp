// The window is laid out in its constructor: the animation and the status
// line on top, the page progress under them (hidden until an entry reports
// pages), the debug text below, the buttons at the bottom. The run drives it
// through the StatusDisplay calls and lets window events through only in
// processEvents(): between entries, and at the run's pace while one runs.
#include "generator/ui/frm_status.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMovie>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "generator/report/message_text.h"
#include "generator/report/prompter.h"

namespace quill {

namespace {
QString q(const std::string& s) { return QString::fromStdString(toLineFeeds(s)); }
}  // namespace

frmStatus::frmStatus(const std::string& appFolder, Prompter& prompter, QWidget* parent)
    : QDialog(parent),
      statusLabel_(new QLabel(this)),
      pageProgress_(new QProgressBar(this)),
      debugText_(new QPlainTextEdit(this)),
      cancelButton_(new QPushButton(tr("Cancel"), this)),
      spareButton_(new QPushButton(this)),
      busyAnimation_(new QLabel(this)),
      clip_(new QMovie(QString::fromStdString(appFolder + "printing"), QByteArray(), this)),
      prompter_(prompter) {
  setObjectName("frmStatus");
  statusLabel_->setObjectName("Label1");
  pageProgress_->setObjectName("ProgressBar1");
  debugText_->setObjectName("Text1");
  cancelButton_->setObjectName("Command1");
  spareButton_->setObjectName("Command2");
  busyAnimation_->setObjectName("Animation1");

  spareButton_->hide();
  debugText_->setReadOnly(true);
  debugText_->setMinimumSize(420, 160);
  busyAnimation_->setMovie(clip_);
  busyAnimation_->setFixedSize(48, 48);
  statusLabel_->setWordWrap(true);
  pageProgress_->setFormat("%v / %m");
  pageProgress_->hide();

  auto* top = new QHBoxLayout;
  top->addWidget(busyAnimation_);
  top->addWidget(statusLabel_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(spareButton_);
  buttons->addWidget(cancelButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(pageProgress_);
  layout->addWidget(debugText_, 1);
  layout->addLayout(buttons);

  connect(cancelButton_, &QPushButton::clicked, this, &frmStatus::confirmCancel);
}

void frmStatus::setCaptions(const std::string& title, const std::string& cancelCaption) {
  setWindowTitle(q(title));
  cancelButton_->setText(q(cancelCaption));
}

void frmStatus::started() {
  show();
  clip_->start();
}

void frmStatus::entryStarted(const std::string& statusText, int, int) {
  statusLabel_->setText(q(statusText));
  pageProgress_->hide();
}

void frmStatus::stepProgress(long done, long total) {
  // QProgressBar counts in int; a catalogue never comes near its limit.
  pageProgress_->setRange(0, static_cast<int>(std::min<long>(total, INT_MAX)));
  pageProgress_->setValue(static_cast<int>(std::min<long>(done, INT_MAX)));
  pageProgress_->show();
}

void frmStatus::setDebugText(const std::string& text) { debugText_->setPlainText(q(text)); }

// The window stays up behind the failure's message box: its status line says
// what went wrong instead of the entry that was running.
void frmStatus::failed(const std::string& explanation) {
  clip_->stop();
  statusLabel_->setText(q(explanation));
}

void frmStatus::processEvents() { QCoreApplication::processEvents(); }

void frmStatus::notice(const std::string& text) { debugText_->appendPlainText(q(text)); }

void frmStatus::confirmCancel() {
  if (cancelFlag_) return;
  if (prompter_.confirm("Abort html file printing?", {}, false)) {
    cancelFlag_ = true;
    hide();
  }
}

// Closing the window or pressing Escape is a cancel, with its question.
void frmStatus::closeEvent(QCloseEvent* event) {
  event->ignore();
  confirmCancel();
}

void frmStatus::reject() { confirmCancel(); }

}  // namespace quill
