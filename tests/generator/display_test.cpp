// The program as a user starts it, about displays: one that is named but
// cannot be reached, and the main window asked for without one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

#include "test_project.h"

using namespace quill;
using namespace quill::test;

namespace {

struct Outcome {
  int status;
  std::string errors;
};

// Runs quillant with the given environment options of env(1) and arguments.
Outcome runQuillant(const std::string& environment, const std::string& arguments, const TestProject& p) {
  const std::string exe = std::string(std::getenv("QUILLANT_PROGRAM_DIR")) + "/quillant";
  const std::string errors = p.folderText() + "stderr.txt";
  // A runtime folder of its own, as a desktop session has, keeps Qt quiet about it.
  const fs::path runtime = p.folder() / "runtime";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  const int status = std::system(("env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY " + environment + " XDG_RUNTIME_DIR='" +
                                  runtime.string() + "' " + exe + " " + arguments + " >/dev/null 2>'" + errors + "'")
                                     .c_str());
  return {WEXITSTATUS(status), readFile(errors)};
}

}  // namespace

TEST(QuillantProgram, AnUnreachableDisplayFallsBackToTheTerminal) {
  cvDomDoc::setDebugFlag(false);
  TestProject p;
  p.writeScript("a.lua", "function OutputFile(f) io.open(f .. 'ran', 'w'):close() end");
  p.writeProject({{"True", "a.lua", "A"}});
  p.writeWorkbook({{"A1", "G"}});
  const std::string project = "'" + p.projectFile() + "'";

  Outcome batch = runQuillant("DISPLAY=:59999", project, p);
  EXPECT_EQ(batch.status, 0) << batch.errors;
  EXPECT_TRUE(fs::exists(p.folder() / "ran"));
  EXPECT_EQ(batch.errors, "quillant: the display :59999 cannot be reached; running on the terminal.\n");

  Outcome window = runQuillant("DISPLAY=:59999", "--open " + project, p);
  EXPECT_EQ(window.status, 1);
  EXPECT_EQ(window.errors, "quillant: the display :59999 cannot be reached; the main window cannot open.\n");

  EXPECT_EQ(runQuillant("-u DISPLAY", "--open " + project, p).status, 2);
  EXPECT_EQ(runQuillant("DISPLAY=:59999", "--open", p).status, 2);
  EXPECT_EQ(runQuillant("DISPLAY=:59999", "--no-gui", p).status, 2);
}
