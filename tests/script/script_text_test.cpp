#include "generator/script/script_text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "generator/script/script_host.h"

using namespace quill::script;

TEST(ScriptText, DecodesUtf16leAndUtf8WithItsMark) {
  using namespace std::string_literals;
  // "a=é" in UTF-16LE, with and without a byte-order mark, and with an odd last byte.
  const std::string utf16 = "a\0=\0\xE9\0"s;
  EXPECT_EQ(decodeScriptBytes(utf16), "a=\xC3\xA9");
  EXPECT_EQ(decodeScriptBytes("\xFF\xFE"s + utf16), "a=\xC3\xA9");
  EXPECT_EQ(decodeScriptBytes(utf16 + "x"), "a=\xC3\xA9");
  // Japanese: U+65E5 U+672C
  EXPECT_EQ(decodeScriptBytes("\xE5\x65\x2C\x67"s), "\xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_EQ(decodeScriptBytes("\xEF\xBB\xBFx = '\xC3\xA9'"), "x = '\xC3\xA9'");
  // Plain UTF-8 without the mark is taken as UTF-16LE, as the file format says.
  EXPECT_EQ(decodeScriptBytes("ab"), "\xE6\x89\xA1");
}

TEST(ScriptText, ReadsScriptFilesAndRefusesEmptyOrMissingOnes) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(testing::TempDir()) / ("quill_script_text-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "s.lua", std::ios::binary) << std::string("x\0=\0001\0", 6);
  std::ofstream(dir / "empty.lua", std::ios::binary);
  EXPECT_EQ(readScriptFile(dir / "s.lua"), "x=1");
  EXPECT_FALSE(readScriptFile(dir / "empty.lua"));
  EXPECT_FALSE(readScriptFile(dir / "missing.lua"));
  EXPECT_FALSE(readScriptFile(dir));  // a folder is no script
  fs::remove_all(dir);
}

TEST(ScriptText, TheOutputFileStatementPassesAnyFolderUnchanged) {
  const std::string folders[] = {
      "/home/shop/My Projects/",
      "/p/it's \"quoted\"/",
      "C:\\Shop\\Projects\\",
      "/p/\xE6\x97\xA5\xE6\x9C\xAC/caf\xC3\xA9/",
      std::string("/p/tab\tnew\nline\rbell\a\x7F" "1/", 21) + std::string(1, '\0') + "9/",
      "/p/]]--[[ os.exit() --/",
      "/p/\\\"); os.exit(1) --/",
  };
  ScriptHost host;
  host.addCode("function OutputFile(folder) got = folder end", "t.lua");
  for (const auto& folder : folders) {
    const std::string statement = outputFileStatement(folder);
    EXPECT_EQ(statement.find('\n'), std::string::npos);
    host.executeStatement(statement);
    EXPECT_EQ(host.eval("got").toText(), folder) << statement;
  }
  EXPECT_EQ(outputFileStatement("/a b/"), "OutputFile \"/a b/\"");
}
