// Each message is a modal QMessageBox over the parent window, with the icon
// and buttons its kind asks for; a question defaults to its default answer.
#include "generator/ui/qt_prompter.h"

#include <QMessageBox>

namespace quill {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }

void show(QWidget* parent, QMessageBox::Icon icon, const std::string& text, const std::string& title) {
  QMessageBox box(icon, q(title), q(text), QMessageBox::Ok, parent);
  box.exec();
}
}  // namespace

void QtPrompter::info(const std::string& text, const std::string& title) {
  show(parent_, QMessageBox::NoIcon, text, title);
}
void QtPrompter::error(const std::string& text, const std::string& title) {
  show(parent_, QMessageBox::Critical, text, title);
}
void QtPrompter::warning(const std::string& text, const std::string& title) {
  show(parent_, QMessageBox::Warning, text, title);
}
void QtPrompter::failure(const std::string& explanation, const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QString(), q(text), QMessageBox::Ok, parent_);
  box.setInformativeText(q(explanation));
  box.exec();
}
bool QtPrompter::confirm(const std::string& text, const std::string& title, bool defaultAnswer) {
  QMessageBox box(QMessageBox::Critical, q(title), q(text), QMessageBox::Ok | QMessageBox::Cancel,
                  parent_);
  box.setDefaultButton(defaultAnswer ? QMessageBox::Ok : QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

}  // namespace quill
