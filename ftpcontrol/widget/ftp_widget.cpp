// The widget holds the label in a zero-margin layout and follows the
// control's LabelChanged signal; it also routes the control's messages to a
// message box with an exclamation icon.
#include "ftpcontrol/widget/ftp_widget.h"

#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include "ftpcontrol/ftp_control.h"

namespace quill {

FtpWidget::FtpWidget(QWidget* parent, FtpControl* control)
    : QWidget(parent), control_(control ? control : new FtpControl(this)), label_(new QLabel(this)) {
  label_->setObjectName(QStringLiteral("Label1"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(label_);
  label_->setText(control_->labelText());
  connect(control_, &FtpControl::LabelChanged, label_, &QLabel::setText);
  control_->setMessageHandler([this](const QString& text) {
    QMessageBox::warning(this, QString(), text);
  });
}

}  // namespace quill
