#include "generator/ui/frm_status.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMovie>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "generator/ui/prompter.h"

namespace quill {

namespace {
QString q(const std::string& s) { return QString::fromStdString(toTerminalText(s)); }
}  // namespace

frmStatus::frmStatus(const std::string& appFolder, Prompter& prompter, QWidget* parent)
    : QDialog(parent),
      Label1(new QLabel(this)),
      Text1(new QPlainTextEdit(this)),
      Command1(new QPushButton(tr("Cancel"), this)),
      Command2(new QPushButton(this)),
      Animation1(new QLabel(this)),
      prompter_(prompter),
      clip_(new QMovie(QString::fromStdString(appFolder + "printing"), QByteArray(), this)) {
  setObjectName("frmStatus");
  Label1->setObjectName("Label1");
  Text1->setObjectName("Text1");
  Command1->setObjectName("Command1");
  Command2->setObjectName("Command2");
  Animation1->setObjectName("Animation1");

  Command2->hide();  // on the form, without behaviour
  Text1->setReadOnly(true);
  Text1->setMinimumSize(420, 160);
  Animation1->setMovie(clip_);
  Animation1->setFixedSize(48, 48);
  Label1->setWordWrap(true);

  auto* top = new QHBoxLayout;
  top->addWidget(Animation1);
  top->addWidget(Label1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Command2);
  buttons->addWidget(Command1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Text1, 1);
  layout->addLayout(buttons);

  connect(Command1, &QPushButton::clicked, this, &frmStatus::confirmCancel);
}

void frmStatus::setCaptions(const std::string& title, const std::string& cancelCaption) {
  setWindowTitle(q(title));
  Command1->setText(q(cancelCaption));
}

void frmStatus::started() {
  show();
  clip_->start();
}

void frmStatus::entryStarted(const std::string& statusText, int, int) { Label1->setText(q(statusText)); }

void frmStatus::setDebugText(const std::string& text) { Text1->setPlainText(q(text)); }

void frmStatus::processEvents() { QCoreApplication::processEvents(); }

void frmStatus::notice(const std::string& text) { Text1->appendPlainText(q(text)); }

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
