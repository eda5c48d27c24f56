// The dialog is laid out in its constructor, one tab at a time; then the
// captions are read (strictly: a missing one ends the construction with the
// store's error) and the settings are shown. A failed save is reported with
// the store's description and the file it could not write. Each control takes its stored
// value on its own: a flag or an index that is no number leaves its control
// as it was. An input limit never cuts a stored value: a field that holds a
// longer one accepts that length. The publish options (sync mode,
// connections, stall timeout) show their defaults when absent or unusable,
// and are written only once they are used.
#include "generator/upload/frm_setup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "common/automation_error.h"
#include "common/variant.h"
#include "generator/project/captions.h"
#include "generator/report/prompter.h"

namespace quill {

const std::array<const char*, 4> frmSetup::kFirewallTypes = {
    "OPEN", "SITE", "USER \u30BF\u30A4\u30D7" "1", "USER \u30BF\u30A4\u30D7" "2"};

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

constexpr std::array<int, 6> kServerLimits = {50, 20, 50, 50, 50, 100};  // Text1(1) .. Text1(6)
constexpr int kExtensionsLimit = 200;

// Combo4's entries, in the order of their captions List0 .. List2.
const std::array<const char*, 3> kSecurityModes = {"", "explicit", "implicit"};
const QString kPlainPort = QStringLiteral("21");
const QString kImplicitPort = QStringLiteral("990");
constexpr int kFirewallLimit = 100;

QLineEdit* lineEdit(QWidget* parent, const QString& name, bool masked = false) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  // Room for a host name or a folder without scrolling.
  edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 40);
  if (masked) {
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet("lineedit-password-character: 42");  // '*'
  }
  return edit;
}

QLabel* label(QWidget* parent, const QString& name, QWidget* buddy) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  l->setBuddy(buddy);
  return l;
}

QSpinBox* spinBox(QWidget* parent, const QString& name, int maximum) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(name);
  box->setRange(1, maximum);
  return box;
}

// Shows a stored value; the limit applies to typing, not to what is stored.
void showText(QLineEdit* edit, const std::string& value, int limit) {
  edit->setMaxLength(32767);
  edit->setText(q(value));
  edit->setMaxLength(std::max(limit, static_cast<int>(edit->text().size())));
}

// A stored flag or index as a number, the way a control takes it; nothing
// when the text is no number.
std::optional<int32_t> storedNumber(const std::string& text) {
  try {
    return Variant(text).toLong();
  } catch (const AutomationError&) {
    return std::nullopt;
  }
}

void showFlag(QCheckBox* box, const std::string& value) {
  const std::optional<int32_t> n = storedNumber(value);
  if (n == 0 || n == 1) box->setChecked(*n == 1);
}

}  // namespace

frmSetup::frmSetup(const ProjectContext& context, Prompter& prompter, QWidget* parent)
    : QDialog(parent),
      context_(context),
      prompter_(prompter),
      pageTitle_(new QLabel(this)),
      tabs_(new QTabWidget(this)),
      okButton_(new QPushButton("OK", this)),
      cancelButton_(new QPushButton(this)) {
  setObjectName("frmSetup");
  pageTitle_->setObjectName("SSTab1");
  tabs_->setObjectName("SSTab2");
  okButton_->setObjectName("Command1(0)");
  cancelButton_->setObjectName("Command1(1)");

  QFont titleFont = pageTitle_->font();
  titleFont.setBold(true);
  pageTitle_->setFont(titleFont);
  tabs_->addTab(makeBasicTab(), QString());
  tabs_->addTab(makeExtensionTab(), QString());
  tabs_->addTab(makeOptionTab(), QString());

  okButton_->setDefault(true);  // Enter is OK; Escape is Cancel (QDialog::reject)
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pageTitle_);
  layout->addWidget(tabs_, 1);
  layout->addLayout(buttons);

  connect(okButton_, &QPushButton::clicked, this, &frmSetup::accept);
  connect(cancelButton_, &QPushButton::clicked, this, &frmSetup::reject);
  connect(firewall_, &QCheckBox::toggled, this, &frmSetup::enableFirewallFields);
  connect(askPassword_, &QCheckBox::toggled, this, [this](bool on) { serverFields_[3]->setEnabled(!on); });

  loadCaptions(context.formsNode);
  showSettings(readFtpSettings(*context.setupNode));
  showSecurity(context.setupNode->existsName("Ftp") ? readSecurityOptions(context.setupNode->node("Ftp", Missing::Raise))
                                                    : SecurityOptions());
  connect(security_, &QComboBox::currentIndexChanged, this, &frmSetup::securityChosen);
  showPublishOptions(context.setupNode->existsName("Ftp")
                         ? readPublishOptions(context.setupNode->node("Ftp", Missing::Raise), true)
                         : PublishOptions());
  enableFirewallFields();
  serverFields_[0]->setFocus();
}

QWidget* frmSetup::makeBasicTab() {
  auto* tab = new QWidget;
  auto* form = new QFormLayout(tab);
  // The security mode sits under the port it goes with, the choice to keep
  // the password out of the file under the password.
  for (int i = 0; i < 6; ++i) {
    serverFields_[i] = lineEdit(tab, QString("Text1(%1)").arg(i + 1), i == 3);  // Text1(4): password
    serverLabels_[i] = label(tab, QString("Label2(%1)").arg(i), serverFields_[i]);
    form->addRow(serverLabels_[i], serverFields_[i]);
    if (i == 1) {
      security_ = new QComboBox(tab);
      security_->setObjectName("Combo4");
      for (size_t m = 0; m < kSecurityModes.size(); ++m) security_->addItem(QString());
      serverLabels_[6] = label(tab, "Label2(6)", security_);
      form->addRow(serverLabels_[6], security_);
    }
    if (i == 3) {
      askPassword_ = new QCheckBox(tab);
      askPassword_->setObjectName("Check6");
      form->addRow(QString(), askPassword_);
    }
  }
  return tab;
}

QWidget* frmSetup::makeExtensionTab() {
  auto* tab = new QWidget;
  auto* form = new QFormLayout(tab);
  extensions_ = lineEdit(tab, "Text3");
  extensionsLabel_ = label(tab, "Label4(0)", extensions_);
  form->addRow(extensionsLabel_, extensions_);
  return tab;
}

QWidget* frmSetup::makeOptionTab() {
  auto* tab = new QWidget;
  passiveMode_ = new QCheckBox(tab);
  passiveMode_->setObjectName("Check3");
  firewall_ = new QCheckBox(tab);
  firewall_->setObjectName("Check4");
  firewallType_ = new QComboBox(tab);
  firewallType_->setObjectName("Combo3");
  for (const char* entry : kFirewallTypes) firewallType_->addItem(QString::fromUtf8(entry));
  firewallType_->setCurrentIndex(-1);

  // The firewall's fields sit under its check box, indented like its children.
  auto* firewallForm = new QFormLayout;
  firewallForm->setContentsMargins(24, 0, 0, 0);
  firewallLabels_[0] = label(tab, "Label3(0)", firewallType_);
  firewallForm->addRow(firewallLabels_[0], firewallType_);
  for (int i = 0; i < 3; ++i) {
    firewallFields_[i] = lineEdit(tab, QString("Text2(%1)").arg(i), i == 2);  // Text2(2): password
    firewallLabels_[i + 1] = label(tab, QString("Label3(%1)").arg(i + 1), firewallFields_[i]);
    firewallForm->addRow(firewallLabels_[i + 1], firewallFields_[i]);
  }
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(passiveMode_);
  layout->addWidget(firewall_);
  layout->addLayout(firewallForm);

  syncMode_ = new QCheckBox(tab);
  syncMode_->setObjectName("Check5");
  auto* publishForm = new QFormLayout;
  connections_ = spinBox(tab, "Text4(0)", kMaxConnections);
  stallTimeout_ = spinBox(tab, "Text4(1)", kMaxTimeoutS);
  publishLabels_[0] = label(tab, "Label5(0)", connections_);
  publishLabels_[1] = label(tab, "Label5(1)", stallTimeout_);
  publishForm->addRow(publishLabels_[0], connections_);
  publishForm->addRow(publishLabels_[1], stallTimeout_);
  layout->addSpacing(12);
  layout->addWidget(syncMode_);
  layout->addLayout(publishForm);
  layout->addStretch(1);
  return tab;
}

void frmSetup::loadCaptions(const DomNodeRef& formsNode) {
  const DomNodeRef form = captionNode(formsNode, "frmSetup");
  const auto text = [&form](const char* control, const std::string& attribute) {
    return q(captionText(captionNode(form, control), attribute));
  };
  setWindowTitle(q(captionText(form, "Caption")));
  passiveMode_->setText(text("Check3", "Caption"));
  firewall_->setText(text("Check4", "Caption"));
  cancelButton_->setText(text("Command1", "Caption1"));
  pageTitle_->setText(text("SSTab1", "Tab1"));
  for (int i = 0; i < 3; ++i) tabs_->setTabText(i, text("SSTab2", "Tab" + std::to_string(i)));
  for (int i = 0; i < 7; ++i) serverLabels_[i]->setText(text("Label2", "Caption" + std::to_string(i)));
  for (int i = 0; i < security_->count(); ++i) security_->setItemText(i, text("Combo4", "List" + std::to_string(i)));
  askPassword_->setText(text("Check6", "Caption"));
  for (int i = 0; i < 4; ++i) firewallLabels_[i]->setText(text("Label3", "Caption" + std::to_string(i)));
  extensionsLabel_->setText(text("Label4", "Caption0"));
  syncMode_->setText(text("Check5", "Caption"));
  for (int i = 0; i < 2; ++i) publishLabels_[i]->setText(text("Label5", "Caption" + std::to_string(i)));
}

void frmSetup::showSettings(const FtpSettings& s) {
  const std::array<const std::string*, 6> server = {&s.ip, &s.port, &s.user, &s.password, &s.account, &s.serverPath};
  for (int i = 0; i < 6; ++i) showText(serverFields_[i], *server[i], kServerLimits[i]);
  showFlag(passiveMode_, s.passMode);
  showText(extensions_, s.txtFile, kExtensionsLimit);
  showFlag(firewall_, s.firewallFlag);
  const std::optional<int32_t> type = storedNumber(s.firewallType);
  if (type && *type >= -1 && *type < firewallType_->count()) firewallType_->setCurrentIndex(*type);
  const std::array<const std::string*, 3> firewall = {&s.firewallIp, &s.firewallUser, &s.firewallPassword};
  for (int i = 0; i < 3; ++i) showText(firewallFields_[i], *firewall[i], kFirewallLimit);
}

FtpSettings frmSetup::settingsShown() const {
  const auto text = [](const QLineEdit* edit) { return edit->text().toStdString(); };
  FtpSettings s;
  s.ip = text(serverFields_[0]);
  s.port = text(serverFields_[1]);
  s.user = text(serverFields_[2]);
  s.password = askPassword_->isChecked() ? std::string() : text(serverFields_[3]);  // kept out of the file
  s.account = text(serverFields_[4]);
  s.serverPath = text(serverFields_[5]);
  s.passMode = passiveMode_->isChecked() ? "1" : "0";
  s.txtFile = text(extensions_);
  s.firewallFlag = firewall_->isChecked() ? "1" : "0";
  s.firewallType = std::to_string(firewallType_->currentIndex());
  s.firewallIp = text(firewallFields_[0]);
  s.firewallUser = text(firewallFields_[1]);
  s.firewallPassword = text(firewallFields_[2]);
  return s;
}

void frmSetup::showPublishOptions(const PublishOptions& o) {
  syncMode_->setChecked(o.sync);
  connections_->setValue(o.connections);
  stallTimeout_->setValue(o.stallTimeoutS);
}

PublishOptions frmSetup::publishOptionsShown() const {
  return {syncMode_->isChecked(), connections_->value(), stallTimeout_->value()};
}

void frmSetup::showSecurity(const SecurityOptions& o) {
  const QString stored = QString::fromStdString(o.security).trimmed().toLower();
  for (size_t i = 0; i < kSecurityModes.size(); ++i)
    if (stored == QLatin1String(kSecurityModes[i])) security_->setCurrentIndex(static_cast<int>(i));
  askPassword_->setChecked(o.askPassword);
  serverFields_[3]->setEnabled(!o.askPassword);
}

SecurityOptions frmSetup::securityShown() const {
  const int i = std::max(0, security_->currentIndex());
  return {kSecurityModes[static_cast<size_t>(i)], askPassword_->isChecked()};
}

// Implicit TLS has a port of its own by convention: the port follows the
// choice while it holds the other mode's usual one.
void frmSetup::securityChosen(int index) {
  QLineEdit* port = serverFields_[1];
  const bool implicit = index == 2;
  if (implicit && port->text() == kPlainPort) port->setText(kImplicitPort);
  if (!implicit && port->text() == kImplicitPort) port->setText(kPlainPort);
}

void frmSetup::enableFirewallFields() {
  const bool on = firewall_->isChecked();
  for (QLabel* l : firewallLabels_) l->setEnabled(on);
  firewallType_->setEnabled(on);
  for (QLineEdit* f : firewallFields_) f->setEnabled(on);
}

void frmSetup::accept() {
  try {
    writeFtpSettings(*context_.setupNode, settingsShown());
    writePublishOptions(context_.setupNode->node("Ftp", Missing::Raise), publishOptionsShown());
    writeSecurityOptions(context_.setupNode->node("Ftp", Missing::Raise), securityShown());
    context_.projectDoc->saveDoc();
  } catch (const AutomationError& e) {
    prompter_.error(e.description() + "\r\n" + context_.projectDoc->filePath());
    return;
  } catch (const std::exception& e) {
    prompter_.error(e.what() + std::string("\r\n") + context_.projectDoc->filePath());
    return;
  }
  QDialog::accept();
}

}  // namespace quill
