// The pages are a stack rather than visible tabs: a wizard moves on by its
// buttons. Each page is a frame with its text at the top; the folder page
// adds the folder's label, field and browse button.
#include "designer/frm_package.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "designer/packaging.h"
#include "generator/project/captions.h"
#include "generator/report/prompter.h"

namespace quill {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

frmPackage::frmPackage(const DesignerContext& context, const DesignerServices& services,
                       const std::string& projectFolder, QWidget* parent)
    : QDialog(parent),
      context_(context),
      services_(services),
      projectFolder_(withSeparator(projectFolder)),
      tabs_(new QStackedWidget(this)),
      back_(new QPushButton(this)),
      next_(new QPushButton(this)),
      close_(new QPushButton(this)),
      folder_(new QLineEdit(this)),
      browse_(new QPushButton(this)) {
  setObjectName("frmPackage");
  tabs_->setObjectName("SSTab1");
  back_->setObjectName("Command1(0)");
  next_->setObjectName("Command1(1)");
  close_->setObjectName("Command3");
  folder_->setObjectName("Text2");
  browse_->setObjectName("Command4");

  form_ = captionNode(context_.formsNode, "frmPackage");
  setWindowTitle(q(captionText(form_, "Caption")));
  const DomNodeRef commands = captionNode(form_, "Command1");
  back_->setText(q(captionText(commands, "Caption0")));
  next_->setText(q(captionText(commands, "Caption1")));
  close_->setText(q(captionText(captionNode(form_, "Command3"), "Caption")));
  browse_->setText(q(captionText(captionNode(form_, "Command4"), "Caption")));
  for (const char* key : {"NewFolderConfirm", "OverwriteFolderConfirm", "ErrMakeFolder", "PlsEnterDirPath",
                          "CopyFailed", "BrowseTitle"})
    message(key);

  const DomNodeRef texts = captionNode(form_, "Label1");
  for (int i = 0; i < 3; ++i) {
    auto* frame = new QWidget(tabs_);
    frame->setObjectName(QString("fraTab(%1)").arg(i));
    auto* text = new QLabel(q(captionText(texts, "Caption" + std::to_string(i))), frame);
    text->setObjectName(QString("Label1(%1)").arg(i));
    text->setWordWrap(true);
    if (i == 2) {
      doneText_ = text;
      doneCaption_ = text->text();
      text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    auto* layout = new QVBoxLayout(frame);
    layout->addWidget(text);
    if (i == 1) {
      auto* label = new QLabel(q(captionText(captionNode(form_, "Label5"), "Caption0")), frame);
      label->setObjectName("Label5");
      label->setBuddy(folder_);
      auto* row = new QHBoxLayout;
      row->addWidget(folder_, 1);
      row->addWidget(browse_);
      layout->addSpacing(8);
      layout->addWidget(label);
      layout->addLayout(row);
    }
    layout->addStretch(1);
    tabs_->addWidget(frame);
  }
  tabs_->setMinimumSize(460, 150);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(back_);
  buttons->addWidget(next_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_, 1);
  layout->addLayout(buttons);

  connect(back_, &QPushButton::clicked, this, [this] { Command1Click(0); });
  connect(next_, &QPushButton::clicked, this, [this] { Command1Click(1); });
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  connect(browse_, &QPushButton::clicked, this, &frmPackage::browse);

  folder_->setText(q(projectFolder_ + "package"));
  next_->setDefault(true);
  showPage();
}

std::string frmPackage::message(const char* key) const {
  return captionText(captionNode(form_, "Message"), key);
}

void frmPackage::Command1Click(int index) {
  page_ = index == 0 ? std::max(page_ - 1, 0) : std::min(page_ + 1, 2);
  if (page_ == 2) {
    const std::string folder = folder_->text().trimmed().toStdString();
    if (folder.empty()) {
      services_.prompter->error(message("PlsEnterDirPath"));
      page_ = 1;
    } else {
      PackageTexts texts{message("NewFolderConfirm"), message("OverwriteFolderConfirm"), message("ErrMakeFolder"),
                         message("CopyFailed")};
      PackageMaker maker(context_.appFolder, projectFolder_, texts, *services_.prompter, *services_.desktop);
      if (maker.make(folder))
        doneText_->setText(doneCaption_ + "\n\n" + q(folder));
      else
        page_ = 1;
    }
  }
  showPage();
}

void frmPackage::showPage() {
  tabs_->setCurrentIndex(page_);
  back_->setEnabled(page_ == 1);
  next_->setVisible(page_ < 2);
  close_->setVisible(page_ == 2);
  if (page_ == 2) close_->setDefault(true);
  if (page_ == 1) folder_->setFocus();
}

void frmPackage::browse() {
  const QString path = services_.pickSavePath(this, q(message("BrowseTitle")), folder_->text());
  if (!path.isEmpty()) folder_->setText(path);
}

}  // namespace quill
