#include "generator/ui/frm_status.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "test_project.h"

using namespace quill;

namespace {

class AnsweringPrompter : public test::RecordingPrompter {
 public:
  bool answer = false;
  std::vector<std::string> questions;
  bool confirm(const std::string& text, const std::string&, bool) override {
    questions.push_back(text);
    return answer;
  }
};

}  // namespace

TEST(frmStatus, ShowsTheRunWhyItFailedAndCancelsOnlyWhenConfirmed) {
  test::qtApplication();
  AnsweringPrompter prompter;
  frmStatus window(std::string(std::getenv("QUILLANT_PROGRAM_DIR")) + "/", prompter);
  window.setCaptions("Status", "Stop");
  window.started();
  window.entryStarted("Index running", 1, 2);
  window.setDebugText("Get Html\r\nGet KeyIndexRow\r\n");

  EXPECT_EQ(window.windowTitle(), "Status");
  EXPECT_EQ(window.findChild<QPushButton*>("Command1")->text(), "Stop");
  EXPECT_EQ(window.findChild<QLabel*>("Label1")->text(), "Index running");
  EXPECT_EQ(window.findChild<QPlainTextEdit*>("Text1")->toPlainText(), "Get Html\nGet KeyIndexRow\n");
  EXPECT_TRUE(window.isVisible());
  for (const char* name : {"Command2", "Animation1"}) EXPECT_TRUE(window.findChild<QWidget*>(name)) << name;
  auto* pages = window.findChild<QProgressBar*>("ProgressBar1");
  EXPECT_FALSE(pages->isVisible());  // until the entry reports its pages
  window.stepProgress(3, 10);
  EXPECT_EQ(pages->text(), "3 / 10");
  window.entryStarted("Detail running", 2, 2);
  EXPECT_FALSE(pages->isVisible());

  // A failed run leaves the window up behind its message box, saying why.
  const std::string why = "The script file /p/Script/Index.lua of the entry \"Index\" does not exist.";
  window.failed(why);
  EXPECT_EQ(window.findChild<QLabel*>("Label1")->text().toStdString(), why);
  EXPECT_TRUE(window.isVisible());

  window.findChild<QPushButton*>("Command1")->click();  // answered Cancel: the run goes on
  EXPECT_FALSE(window.cancelFlag());
  EXPECT_TRUE(window.isVisible());

  prompter.answer = true;
  window.close();  // the close box asks the same question
  EXPECT_EQ(prompter.questions,
            (std::vector<std::string>{"Abort html file printing?", "Abort html file printing?"}));
  EXPECT_TRUE(window.cancelFlag());
  EXPECT_FALSE(window.isVisible());
}
