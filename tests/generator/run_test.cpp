#include "generator/run/generation_run.h"

#include <gtest/gtest.h>

#include <chrono>

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
    loadCaptionDocument(context, p.appFolder());
    loadProject(context, p.projectFile());
    GenerationRun generation(context, display, prompter);
    generation.setStopGrace(stopGrace);
    generation.setImporter([this](const std::string& workbook, const std::string& db) {
      importedWorkbook = workbook;
      std::ofstream(db) << "db";
      return importFailure;
    });
    generation.showCaptions();
    return generation.printoutFile();
  }

  ProjectContext context;
  RecordingDisplay display;
  RecordingPrompter prompter;
  std::string importFailure;
  std::string importedWorkbook;
  std::chrono::milliseconds stopGrace = RunPacer::kStopGrace;
};

}  // namespace

TEST_F(RunTest, RunsSelectedEntriesInOrderWithTheProjectFolder) {
  TestProject p("it's a \"shop\" \xC3\xA9t\xC3\xA9");  // blanks, quotes, non-ASCII
  p.writeScript("a.lua", recordingScript("a"));
  p.writeScript("b.lua", recordingScript("b"));
  TestProject::writeBytes(p.folder() / "Script" / "c.lua", "\xEF\xBB\xBF" + recordingScript("c"));
  p.writeProject({{"True", "a.lua", "First"}, {"False", "b.lua", "Second"}, {"true", "c.lua", "Third"}});

  EXPECT_EQ(run(p), "");
  EXPECT_EQ(display.title, "Status");
  EXPECT_EQ(readTrace(p), "a:" + p.folderText() + "\nc:" + p.folderText() + "\n");
  EXPECT_EQ(display.statusLines, (std::vector<std::string>{"First running", "Third running"}));
  EXPECT_EQ(display.positions, (std::vector<std::string>{"1/2", "2/2"}));  // of the selected entries
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

// Every way the first entry can end the run: the result, the debug text
// shown, and the second entry never runs; the database stays.
TEST_F(RunTest, FailuresEndTheRunWithTheirTextAndKeepTheDatabase) {
  struct Case {
    std::string selected;  // "" leaves the attribute out
    std::string script;    // "" writes an empty file
    std::string result;
    std::vector<std::string> debugTexts;
  };
  const Case cases[] = {
      {"True", "function OutputFile(f) DebugMsg = 'partial' ErrMsg = 'broken page' end", "broken page", {"partial"}},
      {"", recordingScript("a"), "PrintoutFile:Wrong AttrName of Selected", {}},
      {"maybe", recordingScript("a"), "PrintoutFile:Type mismatch", {}},
      {"True", "function OutputFile(f)\n  CreateObject('No.Such')\nend\n",
       "PrintoutFile:first.lua:2: ActiveX component can't create object (No.Such)", {}},
      {"True", "", "PrintoutFile:The script file \"<folder>Script/first.lua\" is missing, empty or unreadable.", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    TestProject p;
    TestProject::writeBytes(p.folder() / "Script" / "first.lua", "");
    if (!c.script.empty()) p.writeScript("first.lua", c.script);
    p.writeScript("second.lua", recordingScript("second"));
    p.writeProject({{c.selected, "first.lua", "First"}, {"True", "second.lua", "Second"}});
    std::string expected = c.result;
    if (const size_t at = expected.find("<folder>"); at != std::string::npos) expected.replace(at, 8, p.folderText());

    display = RecordingDisplay();
    EXPECT_EQ(run(p), expected);
    EXPECT_EQ(display.debugTexts, c.debugTexts);
    EXPECT_EQ(readTrace(p), "");
    EXPECT_TRUE(fs::exists(p.folder() / "Data.mdb"));
  }
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

// A long entry lets window events through while it runs; an entry that does
// not end is stopped once a cancel is older than the grace period, and the
// run ends as cancelled, not as failed.
TEST_F(RunTest, LongEntriesStayResponsiveAndACancelStopsOneThatDoesNotEnd) {
  TestProject p;
  p.writeScript("busy.lua",
                "function OutputFile(f) local t = os.clock() while os.clock() - t < 0.3 do end "
                "DebugMsg = 'busy done' end");
  p.writeScript("loop.lua", "function OutputFile(f) while true do pcall(function() while true do end end) end end");
  p.writeScript("b.lua", recordingScript("b"));
  p.writeProject({{"True", "busy.lua", "Busy"}, {"True", "loop.lua", "Loop"}, {"True", "b.lua", "B"}});
  display.cancelAfterEntries = 2;  // the user cancels while the loop runs
  stopGrace = std::chrono::milliseconds(0);
  EXPECT_EQ(run(p), "");
  EXPECT_TRUE(display.cancel);
  EXPECT_GE(display.eventRounds, 2 + 3);  // before the import and each entry, and during the busy one
  EXPECT_EQ(display.debugTexts, (std::vector<std::string>{"busy done"}));
  EXPECT_EQ(readTrace(p), "");
  EXPECT_TRUE(fs::exists(p.folder() / "Data.mdb"));
}

TEST_F(RunTest, TheNewestWorkbookIsImportedAndTheRunSaysWhich) {
  TestProject p;
  p.writeScript("a.lua", recordingScript("a"));
  p.writeProject({{"True", "a.lua", "A"}});
  TestProject::writeBytes(p.folder() / "Data.xls", "old");
  TestProject::writeBytes(p.folder() / "Data.csv", "Code\nA\n");
  fs::last_write_time(p.folder() / "Data.xls", fs::file_time_type::clock::now() - std::chrono::hours(24));
  EXPECT_EQ(run(p), "");
  EXPECT_EQ(importedWorkbook, (p.folder() / "Data.csv").string());
  ASSERT_EQ(display.notices.size(), 1u);
  EXPECT_NE(display.notices[0].find("importing the newest, Data.csv"), std::string::npos) << display.notices[0];
  EXPECT_NE(display.notices[0].find("not Data.xls"), std::string::npos) << display.notices[0];
}
