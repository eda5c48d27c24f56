// Each message is a modal QMessageBox over the parent window (without one,
// over the active window), with the icon and buttons its kind asks for; a
// question defaults to its default answer. CR LF line breaks become LF. A
// message without a title is titled with the program's name (the default
// title).
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

void show(QWidget* parent, QMessageBox::Icon icon, const std::string& text, const QString& title) {
  QMessageBox box(icon, title, q(text), QMessageBox::Ok, owner(parent));
  box.exec();
}
}  // namespace

QString QtPrompter::titleOf(const std::string& title) const { return q(title.empty() ? defaultTitle_ : title); }

void QtPrompter::info(const std::string& text, const std::string& title) {
  show(parent_, QMessageBox::NoIcon, text, titleOf(title));
}
void QtPrompter::error(const std::string& text, const std::string& title) {
  show(parent_, QMessageBox::Critical, text, titleOf(title));
}
void QtPrompter::warning(const std::string& text, const std::string& title) {
  show(parent_, QMessageBox::Warning, text, titleOf(title));
}
void QtPrompter::failure(const std::string& explanation, const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QString(), q(text), QMessageBox::Ok, parent_);
  box.setInformativeText(q(explanation));
  box.exec();
}
bool QtPrompter::confirm(const std::string& text, const std::string& title, bool defaultAnswer) {
  return ask(QMessageBox::Critical, text, title, defaultAnswer);
}
bool QtPrompter::confirmCaution(const std::string& text, const std::string& title, bool defaultAnswer) {
  return ask(QMessageBox::Warning, text, title, defaultAnswer);
}
bool QtPrompter::ask(QMessageBox::Icon icon, const std::string& text, const std::string& title, bool defaultAnswer) {
  QMessageBox box(icon, titleOf(title), q(text), QMessageBox::Ok | QMessageBox::Cancel, owner(parent_));
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
