#include "generator/run/generation_run.h"

#include <gtest/gtest.h>

#include <chrono>

#include "generator/run/generated_pages.h"

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

std::string readTrace(const TestProject& p) { return readFile(p.folder() / "trace.txt"); }

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
    const std::string result = generation.printoutFile();
    explanation = generation.explanation();
    return result;
  }

  ProjectContext context;
  RecordingDisplay display;
  RecordingPrompter prompter;
  std::string importFailure;
  std::string explanation;
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

TEST_F(RunTest, ImportFailureStopsTheRunBeforeAnyScript) {
  TestProject p;
  p.writeScript("a.lua", recordingScript("a"));
  p.writeProject({{"True", "a.lua", "A"}});
  importFailure = "no workbook";
  EXPECT_EQ(run(p), "Error on Excel2Access\r\nno workbook");
  EXPECT_EQ(explanation.find("The workbook " + p.folderText() + "Data.xls could not be imported"), 0u);
  EXPECT_EQ(readTrace(p), "");
  EXPECT_TRUE(display.statusLines.empty());
}

// A cancel between entries is run in frm_client_main_test and startup_test.

// Every way the first entry can end the run: the result, the plain sentence
// that explains it, the debug text shown, and the second entry never runs;
// the database stays.
TEST_F(RunTest, FailuresEndTheRunWithTheirTextAndAnExplanationAndKeepTheDatabase) {
  struct Case {
    std::string selected;  // "" leaves the attribute out
    std::string script;    // "" writes an empty file
    std::string result;
    std::string explanation;  // how it begins
    std::vector<std::string> debugTexts;
  };
  const Case cases[] = {
      {"True", "function OutputFile(f) DebugMsg = 'partial' ErrMsg = 'broken page' end", "broken page",
       "The script <folder>Script/first.lua of the entry \"First\" stopped the run with the message below",
       {"partial"}},
      {"", recordingScript("a"), "PrintoutFile:Wrong AttrName of Selected",
       "Entry 1 of the script list in the project file <folder>ProjectDef.prj cannot be run", {}},
      {"maybe", recordingScript("a"), "PrintoutFile:Type mismatch", "Entry 1 of the script list", {}},
      {"True", "function OutputFile(f)\n  CreateObject('No.Such')\nend\n",
       "PrintoutFile:first.lua:2: ActiveX component can't create object (No.Such)",
       "The script <folder>Script/first.lua of the entry \"First\" failed at line 2: fix the script there", {}},
      {"True", "function OutputFile(f)\n\n  x = = 1\nend\n", "PrintoutFile:first.lua:3: unexpected symbol near '='",
       "The script <folder>Script/first.lua of the entry \"First\" failed at line 3", {}},
      {"True", "", "PrintoutFile:The script file <folder>Script/first.lua is empty",
       "The script file <folder>Script/first.lua of the entry \"First\" is empty: restore it, or clear", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    TestProject p;
    TestProject::writeBytes(p.folder() / "Script" / "first.lua", "");
    if (!c.script.empty()) p.writeScript("first.lua", c.script);
    p.writeScript("second.lua", recordingScript("second"));
    p.writeProject({{c.selected, "first.lua", "First"}, {"True", "second.lua", "Second"}});
    const auto withFolder = [&](std::string text) {
      if (const size_t at = text.find("<folder>"); at != std::string::npos) text.replace(at, 8, p.folderText());
      return text;
    };

    display = RecordingDisplay();
    EXPECT_EQ(run(p), withFolder(c.result));
    EXPECT_EQ(explanation.find(withFolder(c.explanation)), 0u) << explanation;
    EXPECT_EQ(display.debugTexts, c.debugTexts);
    EXPECT_EQ(readTrace(p), "");
    EXPECT_TRUE(fs::exists(p.folder() / "Data.mdb"));
  }
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

// The pages a successful run wrote are listed beside Output; the next
// successful run removes those it did not write again. A failed run removes
// nothing and leaves the list; files no run wrote are never touched.
TEST_F(RunTest, PagesTheLastSuccessfulRunMadeAndThisOneDidNotAreRemoved) {
  TestProject p;
  fs::create_directories(p.folder() / "Output");
  TestProject::writeBytes(p.folder() / "Output" / "hand.htm", "made by hand");
  p.writeProject({{"True", "pages.lua", "Pages"}});
  p.writeWorkbook({{"A1", "G"}});
  const auto runWith = [&](const std::string& body) {
    p.writeScript("pages.lua", "function OutputFile(f)\n local o = f .. 'Output/'\n" + body + "\nend\n");
    display = RecordingDisplay();
    loadCaptionDocument(context, p.appFolder());
    loadProject(context, p.projectFile());
    return runGeneration(context, display, prompter, nullptr);
  };

  // Written with "w", through io.output, by renaming; appending to a file
  // that exists and writing outside Output make no pages.
  ASSERT_EQ(runWith("io.open(o .. 'a.htm', 'w'):close()\n"
                    "io.output(o .. 'b.htm'); io.write('b'); io.close()\n"
                    "io.open(o .. 'c.tmp', 'wb'):close(); assert(os.rename(o .. 'c.tmp', o .. 'c.htm'))\n"
                    "io.open(o .. 'hand.htm', 'a'):close()\n"
                    "io.open(f .. 'notes.txt', 'w'):close()"),
            RunOutcome::Succeeded);
  EXPECT_EQ(readGeneratedPages(p.folderText()), (std::set<std::string>{"a.htm", "b.htm", "c.htm"}));

  ASSERT_EQ(runWith("io.open(o .. 'a.htm', 'w'):close() ErrMsg = 'stopped'"), RunOutcome::Failed);
  EXPECT_TRUE(fs::exists(p.folder() / "Output" / "b.htm"));
  EXPECT_EQ(readGeneratedPages(p.folderText()).size(), 3u);

  ASSERT_EQ(runWith("io.open(o .. 'a.htm', 'w'):close()"), RunOutcome::Succeeded);
  EXPECT_EQ(display.notices,
            std::vector<std::string>{"Removed 2 pages from Output that this run no longer makes: b.htm, c.htm"});
  EXPECT_TRUE(fs::exists(p.folder() / "Output" / "a.htm"));
  EXPECT_FALSE(fs::exists(p.folder() / "Output" / "b.htm"));
  EXPECT_FALSE(fs::exists(p.folder() / "Output" / "c.htm"));
  EXPECT_EQ(readFile(p.folder() / "Output" / "hand.htm"), "made by hand");
  EXPECT_EQ(readGeneratedPages(p.folderText()), std::set<std::string>{"a.htm"});
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
