// Each message is a modal QMessageBox over the parent window (without one,
// over the active window), with the icon and buttons its kind asks for; a
// question defaults to its default answer. CR LF line breaks become LF. A
// message without a title is titled with the program's name.
#include "generator/ui/qt_prompter.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

#include "generator/report/message_text.h"

namespace quill {

namespace {
QString q(const std::string& s) { return QString::fromStdString(toLineFeeds(s)); }

QWidget* owner(QWidget* parent) { return parent ? parent : QApplication::activeWindow(); }

QString titleOf(const std::string& title) { return title.empty() ? QString("Quillant") : q(title); }

void show(QWidget* parent, QMessageBox::Icon icon, const std::string& text, const std::string& title) {
  QMessageBox box(icon, titleOf(title), q(text), QMessageBox::Ok, owner(parent));
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
  QMessageBox box(QMessageBox::Critical, titleOf(title), q(text), QMessageBox::Ok | QMessageBox::Cancel,
                  owner(parent_));
  box.setDefaultButton(defaultAnswer ? QMessageBox::Ok : QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

std::optional<std::string> QtPrompter::askPassword(const std::string& text, const std::string& title) {
  bool ok = false;
  const QString answer = QInputDialog::getText(owner(parent_), titleOf(title), q(text), QLineEdit::Password, QString(), &ok);
  if (!ok) return std::nullopt;
  return answer.toStdString();
}

}  // namespace quill
