#include "generator/run/generation_run.h"

#include <gtest/gtest.h>

#include "test_project.h"

using namespace quill;
using namespace quill::test;

namespace {

// A script that records the folder it was given and its position in a file.
std::string recordingScript(const std::string& tag) {
  return "function OutputFile(folder)\n"
         "  local f = assert(io.open(folder .. 'trace.txt', 'a'))\n"
         "  f:write('" + tag + ":' .. folder .. '\\n')\n"
         "  f:close()\n"
         "  DebugMsg = 'did " + tag + "'\n"
         "end\n";
}

std::string readTrace(const TestProject& p) {
  std::ifstream in(p.folder() / "trace.txt");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class RunTest : public ::testing::Test {
 protected:
  std::string run(TestProject& p) {
    loadCaptions(context, p.appFolder());
    loadProject(context, p.projectFile());
    GenerationRun generation(context, display, prompter);
    generation.setImporter([this](const std::string&, const std::string& db) {
      std::ofstream(db) << "db";
      return importFailure;
    });
    generation.loadCaptions();
    return generation.printoutFile();
  }

  ProjectContext context;
  RecordingDisplay display;
  RecordingPrompter prompter;
  std::string importFailure;
};

}  // namespace

TEST_F(RunTest, RunsSelectedEntriesInOrderWithTheProjectFolder) {
  TestProject p("it's a \"shop\" \xC3\xA9t\xC3\xA9");  // blanks, quotes, non-ASCII
  p.writeScript("a.lua", recordingScript("a"));
  p.writeScript("b.lua", recordingScript("b"));
  p.writeScript("c.lua", recordingScript("c"));
  p.writeProject({{"True", "a.lua", "First"}, {"False", "b.lua", "Second"}, {"true", "c.lua", "Third"}});

  EXPECT_EQ(run(p), "");
  EXPECT_EQ(readTrace(p), "a:" + p.folderText() + "\nc:" + p.folderText() + "\n");
  EXPECT_EQ(display.statusLines, (std::vector<std::string>{"First running", "Third running"}));
  EXPECT_EQ(display.debugTexts, (std::vector<std::string>{"did a", "did c"}));
  EXPECT_FALSE(fs::exists(p.folder() / "Data.mdb"));  // removed at the end of a completed run
}

TEST_F(RunTest, ImportFailureIsShownAndTheRunGoesOn) {
  TestProject p;
  p.writeScript("a.lua", recordingScript("a"));
  p.writeProject({{"True", "a.lua", "A"}});
  importFailure = "no workbook";
  EXPECT_EQ(run(p), "");
  ASSERT_EQ(prompter.errors.size(), 1u);
  EXPECT_EQ(prompter.errors[0], "Error on Excel2Access\r\nno workbook");
  EXPECT_EQ(display.debugTexts.size(), 1u);
}

TEST_F(RunTest, ErrMsgEndsTheRunAndKeepsTheDatabase) {
  TestProject p;
  p.writeScript("a.lua", "function OutputFile(f) DebugMsg = 'partial' ErrMsg = 'broken page' end");
  p.writeScript("b.lua", recordingScript("b"));
  p.writeProject({{"True", "a.lua", "A"}, {"True", "b.lua", "B"}});
  EXPECT_EQ(run(p), "broken page");
  EXPECT_EQ(display.debugTexts, (std::vector<std::string>{"partial"}));
  EXPECT_EQ(readTrace(p), "");
  EXPECT_TRUE(fs::exists(p.folder() / "Data.mdb"));
}

TEST_F(RunTest, SelectedMustExistAndReadAsBoolean) {
  TestProject p;
  p.writeScript("a.lua", recordingScript("a"));
  p.writeProject({{"", "a.lua", "A"}});
  EXPECT_EQ(run(p), "PrintoutFile:Wrong AttrName of Selected");

  TestProject q;
  q.writeScript("a.lua", recordingScript("a"));
  q.writeProject({{"maybe", "a.lua", "A"}});
  EXPECT_EQ(run(q), "PrintoutFile:Type mismatch");
}

TEST_F(RunTest, ScriptErrorsNameFileAndLine) {
  TestProject p;
  p.writeScript("syntax.lua", "function OutputFile(f)\n  if then\nend\n");
  p.writeProject({{"True", "syntax.lua", "A"}});
  const std::string result = run(p);
  EXPECT_EQ(result.rfind("PrintoutFile:syntax.lua:2:", 0), 0u) << result;

  TestProject q;
  q.writeScript("raise.lua", "function OutputFile(f)\n  CreateObject('No.Such')\nend\n");
  q.writeProject({{"True", "raise.lua", "A"}});
  EXPECT_EQ(run(q), "PrintoutFile:raise.lua:2: ActiveX component can't create object (No.Such)");
}

TEST_F(RunTest, UnreadableScriptEndsTheRunQuietlyWithANotice) {
  TestProject p;
  TestProject::writeBytes(p.folder() / "Script" / "empty.lua", "");
  p.writeScript("b.lua", recordingScript("b"));
  p.writeProject({{"True", "empty.lua", "A"}, {"True", "b.lua", "B"}});
  EXPECT_EQ(run(p), "");
  EXPECT_EQ(readTrace(p), "");
  ASSERT_EQ(display.notices.size(), 1u);
  EXPECT_NE(display.notices[0].find("empty.lua"), std::string::npos);
}

TEST_F(RunTest, CancelStopsBeforeTheNextEntry) {
  TestProject p;
  p.writeScript("a.lua", recordingScript("a"));
  p.writeScript("b.lua", recordingScript("b"));
  p.writeProject({{"True", "a.lua", "A"}, {"True", "b.lua", "B"}});
  display.cancelAfterEntries = 1;  // cancelled while the first entry runs
  EXPECT_EQ(run(p), "");
  EXPECT_EQ(readTrace(p), "a:" + p.folderText() + "\n");  // that entry still finished
  EXPECT_TRUE(fs::exists(p.folder() / "Data.mdb"));
}

TEST_F(RunTest, Utf8ScriptWithByteOrderMarkRuns) {
  TestProject p;
  TestProject::writeBytes(p.folder() / "Script" / "u.lua",
                          "\xEF\xBB\xBF" "function OutputFile(f) DebugMsg = '\xE6\x97\xA5' end");
  p.writeProject({{"True", "u.lua", "U"}});
  EXPECT_EQ(run(p), "");
  EXPECT_EQ(display.debugTexts, (std::vector<std::string>{"\xE6\x97\xA5"}));
}
