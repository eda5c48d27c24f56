#include "designer/frm_about.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QVBoxLayout>
#include <cstdio>
#include <sstream>

#include "designer/help.h"
#include "generator/project/captions.h"
#include "generator/report/prompter.h"
#include "generator/ui/toolbar_icons.h"

#ifndef QUILLANT_VERSION
#define QUILLANT_VERSION "0.0.0"
#endif

namespace quill {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

std::string formatVersion(const std::string& version) {
  int part[3] = {0, 0, 0};
  std::istringstream in(version);
  std::string piece;
  for (int i = 0; i < 3 && std::getline(in, piece, '.'); ++i) {
    try {
      part[i] = std::stoi(piece);
    } catch (const std::exception&) {
    }
  }
  char text[48];
  std::snprintf(text, sizeof text, "%d.%02d.%03d", part[0], part[1], part[2]);
  return text;
}

std::string systemInformation() {
  QStringList lines;
  lines << "Operating system: " + QSysInfo::prettyProductName();
  lines << "Kernel: " + QSysInfo::kernelType() + " " + QSysInfo::kernelVersion();
  lines << "Processor: " + QSysInfo::currentCpuArchitecture() + " (built for " + QSysInfo::buildCpuArchitecture() + ")";
  lines << "Host name: " + QSysInfo::machineHostName();
  lines << "Qt: " + QString(qVersion()) + ", platform " + QGuiApplication::platformName();
  for (const QScreen* screen : QGuiApplication::screens())
    lines << QString("Screen %1: %2 x %3, %4 dpi")
                 .arg(screen->name())
                 .arg(screen->size().width())
                 .arg(screen->size().height())
                 .arg(qRound(screen->logicalDotsPerInch()));
  return lines.join('\n').toStdString();
}

frmAbout::frmAbout(const DesignerContext& context, Prompter& prompter, HelpStarter& help, QWidget* parent)
    : QDialog(parent), prompter_(prompter), help_(help) {
  setObjectName("frmAbout");
  form_ = captionNode(context.formsNode, "frmAbout");
  setWindowTitle(q(captionText(form_, "Caption")));
  message("NoSysInfo");
  message("SysInfoTitle");

  auto* image = new QLabel(this);
  image->setObjectName("picIcon");
  image->setPixmap(toolbarIcon("output").pixmap(64, 64));
  image->setCursor(Qt::PointingHandCursor);
  image->installEventFilter(this);
  auto* title = new QLabel(q(captionText(captionNode(form_, "lblTitle"), "Caption")), this);
  title->setObjectName("lblTitle");
  QFont big = title->font();
  big.setPointSizeF(big.pointSizeF() * 1.5);
  big.setBold(true);
  title->setFont(big);
  auto* version = new QLabel(
      q(captionText(captionNode(form_, "lblVersion"), "Caption")).arg(q(formatVersion(QUILLANT_VERSION))), this);
  version->setObjectName("lblVersion");
  auto* description = new QLabel(q(captionText(captionNode(form_, "lblDescription"), "Caption")), this);
  description->setObjectName("lblDescription");
  description->setWordWrap(true);
  description->setMinimumWidth(320);
  auto* ok = new QPushButton(q(captionText(captionNode(form_, "cmdOK"), "Caption")), this);
  ok->setObjectName("cmdOK");
  ok->setDefault(true);
  auto* sysInfo = new QPushButton(q(captionText(captionNode(form_, "cmdSysInfo"), "Caption")), this);
  sysInfo->setObjectName("cmdSysInfo");

  auto* texts = new QVBoxLayout;
  texts->addWidget(title);
  texts->addWidget(version);
  texts->addSpacing(8);
  texts->addWidget(description);
  texts->addStretch(1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok);
  buttons->addWidget(sysInfo);
  buttons->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(image, 0, Qt::AlignTop);
  layout->addSpacing(8);
  layout->addLayout(texts, 1);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(sysInfo, &QPushButton::clicked, this, &frmAbout::showSystemInfo);
}

std::string frmAbout::message(const char* key) const {
  return captionText(captionNode(form_, "Message"), key);
}

void frmAbout::showSystemInfo() {
  if (QSysInfo::productType() == "unknown")
    prompter_.info(message("NoSysInfo"), message("SysInfoTitle"));
  else
    prompter_.info(systemInformation(), message("SysInfoTitle"));
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    help_.showGuide();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace quill
