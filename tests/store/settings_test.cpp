// Registry nodes over the store file and INI file nodes.
#include <gtest/gtest.h>

#include <cstdlib>

#include "store/inifile.h"
#include "store/registry.h"
#include "store_test_util.h"

using namespace quill;

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QUILLANT_REGISTRY", dir.file("registry.db").c_str(), 1); }
  void TearDown() override { unsetenv("QUILLANT_REGISTRY"); }
  storetest::TempDir dir;
  cvRegister reg;
};

TEST_F(RegistryTest, OnlyWritingCreatesKeysAndValuesReadBack) {
  auto tool = reg.root(HKEY_LOCAL_MACHINE)->node("SOFTWARE\\Acme")->node("Tool");
  EXPECT_EQ(tool->keyPath(), "SOFTWARE\\Acme\\Tool");
  EXPECT_EQ(tool->getAttr("Path", "none"), "none");
  EXPECT_FALSE(std::filesystem::exists(dir.file("registry.db")));
  EXPECT_TRUE(tool->keyExists(""));  // the root key itself

  EXPECT_TRUE(tool->setAttr("Path", "C:\\x"));
  EXPECT_EQ(tool->getAttr("Path", "none"), "C:\\x");
  EXPECT_EQ(tool->getAttr("path", "none"), "C:\\x");  // names without regard to case
  EXPECT_TRUE(tool->keyExists("SOFTWARE\\Acme\\Tool"));
  EXPECT_TRUE(tool->keyExists("software\\acme"));
  EXPECT_FALSE(tool->keyExists("Tool"));  // looked up from the root key, not from the node
  EXPECT_FALSE(reg.root(HKEY_CURRENT_USER)->keyExists("SOFTWARE\\Acme"));  // roots are separate

  EXPECT_TRUE(tool->setAttr("Empty", ""));
  EXPECT_EQ(tool->getAttr("Empty", "dflt"), "");  // stored empty is not missing
  EXPECT_TRUE(tool->setAttr("Path", "D:\\y"));
  EXPECT_EQ(tool->getAttr("Path"), "D:\\y");
}

TEST_F(RegistryTest, ValuesThatDoNotFitTheBufferReadAsTheDefault) {
  auto key = reg.root(HKEY_CURRENT_USER)->node("Big");
  ASSERT_TRUE(key->setAttr("fits", std::string(1023, 'a')));  // 1024 bytes with the terminator
  ASSERT_TRUE(key->setAttr("long", std::string(1024, 'a')));
  EXPECT_EQ(key->getAttr("fits", "d"), std::string(1023, 'a'));
  EXPECT_EQ(key->getAttr("long", "d"), "d");
  ASSERT_TRUE(key->setAttr("zero", std::string("ab\0cd", 5)));
  EXPECT_EQ(key->getAttr("zero", "d"), "ab");  // read up to the first zero byte
}

TEST_F(RegistryTest, DeleteRegRemovesLeafKeysBelowLocalMachineOnly) {
  auto machine = reg.root(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(machine->node("A\\B")->setAttr("v", "1"));
  ASSERT_TRUE(reg.root(HKEY_CURRENT_USER)->node("C")->setAttr("v", "1"));
  EXPECT_FALSE(reg.deleteReg("A"));  // has a subkey
  EXPECT_FALSE(reg.deleteReg("C"));  // not below HKEY_LOCAL_MACHINE
  EXPECT_FALSE(reg.deleteReg(""));
  EXPECT_TRUE(reg.deleteReg("A\\B"));
  EXPECT_FALSE(machine->keyExists("A\\B"));
  EXPECT_EQ(machine->node("A\\B")->getAttr("v", "gone"), "gone");
  EXPECT_TRUE(reg.deleteReg("A"));
  EXPECT_FALSE(reg.deleteReg("A"));
  EXPECT_TRUE(reg.root(HKEY_CURRENT_USER)->keyExists("C"));
}

TEST_F(RegistryTest, BadRootsPathsAndStoresFailQuietly) {
  EXPECT_FALSE(cvRegNode::create(0x12345678u, "X")->setAttr("v", "1"));
  EXPECT_EQ(cvRegNode::create(0x12345678u, "X")->getAttr("v", "d"), "d");
  EXPECT_FALSE(reg.root(HKEY_CURRENT_USER)->node("\\Lead")->setAttr("v", "1"));
  EXPECT_FALSE(reg.root(HKEY_CURRENT_USER)->node("a\\\\b")->setAttr("v", "1"));
  // A key name is at most 255 bytes.
  const std::string longest(255, 'k'), tooLong(256, 'k');
  EXPECT_TRUE(reg.root(HKEY_CURRENT_USER)->node("a\\" + longest)->setAttr("v", "1"));
  EXPECT_TRUE(reg.root(HKEY_CURRENT_USER)->keyExists("a\\" + longest));
  EXPECT_FALSE(reg.root(HKEY_CURRENT_USER)->node("a\\" + tooLong)->setAttr("v", "1"));
  EXPECT_FALSE(reg.root(HKEY_CURRENT_USER)->keyExists("a\\" + tooLong));
  storetest::writeBytes(dir.file("blocker"), "");
  setenv("QUILLANT_REGISTRY", dir.file("blocker/registry.db").c_str(), 1);  // parent is a file
  EXPECT_FALSE(reg.root(HKEY_CURRENT_USER)->node("K")->setAttr("v", "1"));
  EXPECT_EQ(reg.root(HKEY_CURRENT_USER)->node("K")->getAttr("v", "d"), "d");
}

TEST(RegistryLocation, FollowsTheEnvironment) {
  setenv("QUILLANT_REGISTRY", "/x/r.db", 1);
  EXPECT_EQ(registryPath(), "/x/r.db");
  unsetenv("QUILLANT_REGISTRY");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(registryPath(), "/cfg/quillant/registry.db");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(registryPath(), "/home/u/.config/quillant/registry.db");
}

class IniTest : public ::testing::Test {
 protected:
  storetest::TempDir dir;
  std::shared_ptr<cvIniFile> file = cvIniFile::create();
  std::string path = dir.file("app.ini");
  void SetUp() override { file->IniFileName = path; }
};

TEST_F(IniTest, ReadsWithTheProfileRules) {
  const std::string lines =
      "[ Main ]\r\n  Name  =  Widget  \r\nEmpty=\r\nQuoted=\" padded \"\r\n"
      "Two=\"\"\r\nOne=\"\r\nApos='a'\r\nUneven=\"a'\r\n"
      "Long=" + std::string(1100, 'L') + "\n"
      "; settings\r\n[Other]\r\nName=wrong\r\nMissing=wrong\r\n";
  const struct {
    const char* key;
    std::string expected;
  } cases[] = {
      {"NAME", "Widget"},
      {"Empty", "dflt"},  // present but empty reads as the default
      {"Quoted", " padded "},
      {"Two", "dflt"},  // a pair of quotes around nothing is an empty value
      {"One", "\""},
      {"Apos", "a"},
      {"Uneven", "\"a'"},
      {"Long", std::string(1023, 'L')},
      {"Missing", "dflt"},
  };
  // The first section may follow a UTF-8 byte-order mark.
  for (const std::string start : {"", "\xEF\xBB\xBF"}) {
    SCOPED_TRACE(start.size());
    storetest::writeBytes(path, start + lines);
    auto main = file->root("main");
    for (const auto& c : cases) EXPECT_EQ(main->getAttr(c.key, "dflt"), c.expected) << c.key;
  }
  EXPECT_EQ(file->root("Nowhere")->getAttr("Name"), "");
  file->IniFileName = dir.file("absent.ini");
  EXPECT_EQ(file->root("Main")->getAttr("Name", "none"), "none");
}

TEST_F(IniTest, WritesCreateFileAndSectionAndKeepOtherLines) {
  auto main = file->root("Main");
  EXPECT_TRUE(main->setAttr("Name", "Widget"));
  EXPECT_TRUE(main->node("Sub")->setAttr("Size", "3"));
  EXPECT_EQ(storetest::readBytes(path), "[Main]\r\nName=Widget\r\n[Main_Sub]\r\nSize=3\r\n");
  EXPECT_EQ(file->root("")->node("x")->section(), "_x");
  EXPECT_TRUE(main->setAttr("name", "Gadget"));
  EXPECT_TRUE(main->setAttr("Color", "red"));
  EXPECT_EQ(storetest::readBytes(path), "[Main]\r\nname=Gadget\r\nColor=red\r\n[Main_Sub]\r\nSize=3\r\n");
  EXPECT_EQ(main->getAttr("NAME"), "Gadget");

  // A byte-order mark stays, and the section after it is found.
  storetest::writeBytes(path, "\xEF\xBB\xBF[Main]\nName=x\n");
  EXPECT_TRUE(main->setAttr("Size", "4"));
  EXPECT_EQ(storetest::readBytes(path), "\xEF\xBB\xBF[Main]\nName=x\nSize=4\r\n");

  // Existing nodes follow a change of the file name.
  file->IniFileName = dir.file("second.ini");
  EXPECT_TRUE(main->setAttr("Name", "Other"));
  EXPECT_EQ(main->getAttr("Name"), "Other");
  EXPECT_EQ(storetest::readBytes(dir.file("second.ini")), "[Main]\r\nName=Other\r\n");
  file->IniFileName = dir.file("no/such/folder.ini");
  EXPECT_FALSE(main->setAttr("Name", "x"));
}

}  // namespace
