// The About window: the program's name, its version in the major.00.000
// form, a line on what it does, and the system information command, which
// shows what Qt can tell of the system. Clicking the image opens the user
// guide. cmdOK closes it.
#pragma once

#include <QDialog>
#include <string>

#include "designer/designer_context.h"

namespace quill {

class HelpStarter;
class Prompter;

// "1.0.23" as 1.00.023: the major number, the minor with two digits, the
// revision with three; missing parts count as 0.
std::string formatVersion(const std::string& version);

// What Qt knows of the system: operating system, kernel, processor, host,
// Qt version and screens, one fact per line.
std::string systemInformation();

class frmAbout : public QDialog {
  Q_OBJECT

 public:
  frmAbout(const DesignerContext& context, Prompter& prompter, HelpStarter& help, QWidget* parent = nullptr);

  void showSystemInfo();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::string message(const char* key) const;

  Prompter& prompter_;
  HelpStarter& help_;
  DomNodeRef form_;
};

}  // namespace quill
