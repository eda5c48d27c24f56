// The folder picker: a choice is kept, and a cancel after it leaves no
// folder, not the earlier one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include "generator/upload/ctl_folder_dialog.h"

namespace {

// Answers the next modal folder dialog: chooses `folder`, or cancels when empty.
void answerNextDialog(const QString& folder, QString* prompt) {
  QTimer::singleShot(50, [folder, prompt] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    *prompt = dialog->windowTitle();
    if (folder.isEmpty()) return dialog->reject();
    // Typed into the name field, as a user may; the file list loads later.
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(folder);
    QMetaObject::invokeMethod(dialog, "accept");  // protected in QFileDialog
  });
}

TEST(FolderPicker, KeepsTheChoiceAndForgetsItOnCancel) {
  static int argc = 1;
  static char name[] = "ctl_folder_dialog_test";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QApplication(argc, argv);
  QTemporaryDir dir;
  quill::ctlFolderDialog picker;
  EXPECT_EQ(picker.title(), "Select Folder");
  EXPECT_EQ(picker.dirPath(), "");

  QString prompt;
  answerNextDialog(dir.path(), &prompt);
  EXPECT_EQ(picker.ShowFolder(), dir.path());
  EXPECT_EQ(picker.dirPath(), dir.path());
  EXPECT_EQ(prompt, "Select Folder");

  picker.setTitle("Where to?");
  answerNextDialog({}, &prompt);
  EXPECT_EQ(picker.ShowFolder(), "");
  EXPECT_EQ(picker.dirPath(), "");
  EXPECT_EQ(prompt, "Where to?");
}

}  // namespace
