#include "generator/app/startup.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include "generator/app/command_line.h"
#include "generator/project/project_context.h"
#include "test_project.h"

using namespace quill;
using namespace quill::test;

namespace {

class StartupTest : public ::testing::Test {
 protected:
  int start(const TestProject& p, const std::string& path) {
    StartupServices s;
    s.appFolder = p.appFolder();
    s.display = &display;
    s.prompter = &prompter;
    s.openFolder = [this](const std::string& f) { opened = f; };
    return runBatch(path, s);
  }

  RecordingDisplay display;
  RecordingPrompter prompter;
  std::string opened;
};

}  // namespace

TEST(CommandLine, ArgumentsJoinIntoOnePathAndOptionsAreRecognised) {
  const CommandLine cl = parseCommandLine({"--no-gui", "/tmp/My", "Shop/ProjectDef.prj"});
  EXPECT_TRUE(cl.noGui);
  EXPECT_EQ(cl.projectPath, "/tmp/My Shop/ProjectDef.prj");
  EXPECT_EQ(parseCommandLine({"--", "--odd"}).projectPath, "--odd");
  EXPECT_FALSE(parseCommandLine({"--bogus"}).error.empty());
  EXPECT_TRUE(parseCommandLine({}).projectPath.empty());
  // --parallel takes the next argument or a value after "="; the rest is the path.
  for (const auto& args : {std::vector<std::string>{"--upload", "--parallel", "4", "My", "Shop.prj"},
                           {"--upload", "My", "--parallel=4", "Shop.prj"}}) {
    const CommandLine upload = parseCommandLine(args);
    EXPECT_EQ(upload.parallel, 4);
    EXPECT_EQ(upload.projectPath, "My Shop.prj");
  }
  EXPECT_FALSE(parseCommandLine({"--upload", "--parallel=0", "p"}).error.empty());
}

// Every start writes the project file back in the store's form; whenever
// that changes its bytes the old ones are kept as ProjectDef.prj.bak, and a
// file that was read past damage is reported with the place of the damage.
TEST_F(StartupTest, ProjectFileIsRewrittenKeepingTheBytesItHadAndDamageIsReported) {
  TestProject p;
  p.writeWorkbook({{"A1", "G"}});
  const std::string backup = p.projectFile() + ".bak";
  struct Case {
    std::u16string text;
    std::u16string rewritten;
    const char* warning;  // "" for none
  } cases[] = {
      {u"\uFEFF<?xml version=\"1.0\"?><P><Scripts/>\r\n<Setup/></P>",
       u"\uFEFF<?xml version=\"1.0\"?><P><Scripts/><Setup/></P>", ""},
      // Unchanged: no backup is written, the last one stays.
      {u"\uFEFF<?xml version=\"1.0\"?><P><Scripts/><Setup/></P>",
       u"\uFEFF<?xml version=\"1.0\"?><P><Scripts/><Setup/></P>", ""},
      // Cut short inside Setup.
      {u"\uFEFF<P><Scripts/><Setup><Ftp Ip=\"h\"",
       u"\uFEFF<?xml version=\"1.0\"?><P><Scripts/><Setup>&lt;Ftp Ip=&quot;h&quot;</Setup></P>",
       "is damaged at line 1, column 32 (the text ends inside the tag <Ftp>)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(utf16ToUtf8(c.text));
    const std::string before = stringToUtf16le(c.text);
    const std::string lastBackup = readFile(backup);
    TestProject::writeBytes(p.projectFile(), before);
    prompter.errors.clear();
    opened.clear();
    EXPECT_EQ(start(p, p.projectFile()), 0);
    EXPECT_EQ(readFile(p.projectFile()), stringToUtf16le(c.rewritten));
    EXPECT_EQ(readFile(backup), c.text == c.rewritten ? lastBackup : before);
    if (*c.warning) {
      ASSERT_EQ(prompter.errors.size(), 1u);
      EXPECT_NE(prompter.errors[0].find(c.warning), std::string::npos) << prompter.errors[0];
      EXPECT_NE(prompter.errors[0].find("kept as " + backup), std::string::npos);
    } else {
      EXPECT_TRUE(prompter.errors.empty());
    }
    EXPECT_EQ(opened, p.folderText() + "Output");
  }
}

TEST_F(StartupTest, StartupErrorsAreShownAsMainAfterAPlainSentence) {
  TestProject p;
  TestProject::writeBytes(p.projectFile(), stringToUtf16le(u"\uFEFF<P><Scripts/></P>"));
  EXPECT_EQ(start(p, p.projectFile()), 1);
  ASSERT_EQ(prompter.errors.size(), 1u);
  EXPECT_EQ(prompter.errors[0], "Main:Wrong Tag Name of \"Setup\"");
  EXPECT_EQ(prompter.explanations[0].find("The project file " + p.projectFile() + " cannot be loaded. "), 0u);

  TestProject::writeBytes(p.projectFile(), stringToUtf16le(u"\uFEFF<P><Scripts/><Setup/></P><Q/>"));
  EXPECT_EQ(start(p, p.projectFile()), 1);
  EXPECT_EQ(prompter.explanations.back().find("The project file " + p.projectFile() +
                                              " cannot be loaded: it is damaged at line 1, column 26"),
            0u)
      << prompter.explanations.back();

  prompter.errors.clear();
  EXPECT_EQ(start(p, p.folderText() + "missing.prj"), 1);
  ASSERT_EQ(prompter.errors.size(), 1u);
  EXPECT_EQ(prompter.errors[0], "Main:" + p.folderText() + "missing.prjis not exist.");
}

TEST_F(StartupTest, FailedRunReportsUnderItsHeadingAndOpensNothing) {
  TestProject p;
  p.writeWorkbook({{"A1", "G"}});
  p.writeScript("a.lua", "function OutputFile(f) ErrMsg = 'bad' end");
  p.writeProject({{"True", "a.lua", "A"}});
  EXPECT_EQ(start(p, p.projectFile()), 1);
  EXPECT_EQ(prompter.errors.back(), "Failed:\r\nbad");
  EXPECT_EQ(display.failures, prompter.explanations);  // the status window says it too
  EXPECT_EQ(opened, "");
}

TEST_F(StartupTest, BareFileNameWorksFromTheProjectFolder) {
  TestProject p;
  p.writeProject({});
  const fs::path before = fs::current_path();
  fs::current_path(p.folder());
  ProjectContext context;
  loadProject(context, "ProjectDef.prj");
  fs::current_path(before);
  EXPECT_EQ(context.projectFolder, "");
  EXPECT_EQ(context.scriptsNode->length(), 0);
}

// The program itself, as a user runs it.
TEST(QuillantProgram, HelpVersionAndUsageErrors) {
  const std::string exe = std::string(std::getenv("QUILLANT_PROGRAM_DIR")) + "/quillant";
  EXPECT_EQ(std::system((exe + " --help >/dev/null").c_str()), 0);
  EXPECT_EQ(std::system((exe + " --version >/dev/null").c_str()), 0);
  EXPECT_EQ(WEXITSTATUS(std::system((exe + " --bogus 2>/dev/null").c_str())), 2);
}

// Ctrl-C in a terminal run: nothing is asked but what happens is said, the
// entry that runs finishes, the next one does not start, and the exit status
// tells of the cancel.
TEST(QuillantProgram, InterruptStopsTheRunBeforeTheNextEntry) {
  TestProject p;
  // The first script waits on its standard input, which the test holds open
  // until the interrupt has been sent.
  p.writeScript("wait.lua",
                "function OutputFile(f) io.read('a') io.open(f .. 'first', 'w'):close() end");
  p.writeScript("next.lua", "function OutputFile(f) io.open(f .. 'second', 'w'):close() end");
  p.writeProject({{"True", "wait.lua", "Wait"}, {"True", "next.lua", "Next"}});
  p.writeWorkbook({{"A1", "G"}});

  int input[2];
  ASSERT_EQ(pipe(input), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(input[0], 0);
    close(input[1]);
    const std::string exe = std::string(std::getenv("QUILLANT_PROGRAM_DIR")) + "/quillant";
    const std::string project = p.projectFile();
    freopen("/dev/null", "w", stdout);
    freopen((p.folder() / "stderr.txt").c_str(), "w", stderr);
    execl(exe.c_str(), exe.c_str(), "--no-gui", project.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(input[0]);
  // Wait until the first entry has started (the status line is printed
  // before the script runs; the Output folder exists before that).
  for (int i = 0; i < 200 && !fs::exists(p.folder() / "Output"); ++i) usleep(10000);
  usleep(200000);
  kill(pid, SIGINT);
  usleep(100000);
  close(input[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_TRUE(fs::exists(p.folder() / "first"));
  EXPECT_FALSE(fs::exists(p.folder() / "second"));
  EXPECT_NE(readFile(p.folder() / "stderr.txt").find("quillant: stopping after this step; Ctrl-C again to stop now"),
            std::string::npos);
}
