// The visible surface of the FTP control: one label, Label1, filling the
// widget and showing the control's last connection event. The control itself
// needs no widget; this class only shows it.
#pragma once

#include <QWidget>

class QLabel;

namespace quill {

class FtpControl;

class FtpWidget : public QWidget {
  Q_OBJECT
 public:
  // Creates its own control unless one is given (the widget does not take
  // ownership of a given control).
  explicit FtpWidget(QWidget* parent = nullptr, FtpControl* control = nullptr);

  FtpControl& control() { return *control_; }
  QLabel* Label1() const { return label_; }

 private:
  FtpControl* control_;
  QLabel* label_;
};

}  // namespace quill
