// The store as other components and users meet it: creation by programmatic
// identifier, members by name, and the tagdoc tool on the repository's data
// files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/object_factory.h"
#include "store/store.h"
#include "store_test_util.h"

using namespace quill;
namespace fs = std::filesystem;

namespace {

Variant call(const ObjectRef& o, const char* member, std::initializer_list<Variant> args = {}) {
  return invokeGet(*o, member, Args(args.begin(), args.size()));
}

TEST(StoreSurface, ClassesAreCreatedByIdentifierAndReachedByMemberName) {
  registerStoreClasses();
  for (const char* id : {"cvSystemDB.cvDomDoc", "cvSystemDB.cvDomNode", "cvSystemDB.cvRegister",
                         "cvSystemDB.cvRegNode", "cvSystemDB.cvIniFile", "cvSystemDB.cvIniNode"})
    EXPECT_TRUE(createObject(id)) << id;

  ObjectRef doc = createObject("cvSystemDB.cvDomDoc");
  EXPECT_EQ(call(doc, "Version").toText(), "1.0.12");

  ObjectRef root = call(doc, "CreateNode", {Variant("Project")}).toObject();
  invokeLet(*doc, "Root", {}, Variant(root));
  ObjectRef ftp = call(root, "Node", {Variant("Setup\\Ftp")}).toObject();
  call(ftp, "SetAttr", {Variant("Port"), Variant(int32_t{21})});
  EXPECT_EQ(call(ftp, "GetAttr", {Variant("Port")}).toText(), "21");
  EXPECT_EQ(call(root, "Length").toLong(), 1);
  EXPECT_TRUE(call(root, "Exists", {Variant(int32_t{1})}).toBool());
  EXPECT_EQ(call(root, "Value").toText(), R"(<Project><Setup><Ftp Port="21"/></Setup></Project>)");
  const Variant& names = call(ftp, "Attrs");
  EXPECT_EQ(names.toArray().size(), 1u);

  ObjectRef other = createObject("cvSystemDB.cvDomNode");
  invokeLet(*other, "TagName", {}, Variant("Other"));
  const Variant pos[] = {Variant(int32_t{1})};
  invokeLet(*root, "Node", pos, Variant(other));
  EXPECT_EQ(call(root, "Value").toText(), "<Project><Other/></Project>");
  ObjectRef held = createObject("cvSystemDB.cvIniFile");
  invokeLet(*other, "DataVariant", {}, Variant(held));  // held as a reference
  EXPECT_EQ(call(other, "DataVariant").toObject(), held);

  // DebugFlag makes the late-bound lookups strict; C++ callers choose at
  // each call, whatever the flag.
  invokeLet(*doc, "DebugFlag", {}, Variant(true));
  EXPECT_TRUE(call(createObject("cvSystemDB.cvDomDoc"), "DebugFlag").toBool());  // one value per thread
  storetest::expectError([&] { call(root, "Node", {Variant("Missing")}); }, 10002);
  storetest::expectError([&] { call(root, "GetAttr", {Variant("Missing")}); }, 10006);
  storetest::expectError([&] { call(root, "SetAttr", {Variant("Missing"), Variant("1")}); }, 10006);
  auto native = std::dynamic_pointer_cast<cvDomNode>(root);
  EXPECT_EQ(native->getAttr("Made", Missing::Create, "d"), "d");
  EXPECT_EQ(native->node("Made", Missing::Create)->tagName(), "Made");
  invokeLet(*doc, "DebugFlag", {}, Variant(false));
  EXPECT_EQ(call(call(root, "Node", {Variant("Late")}).toObject(), "TagName").toText(), "Late");
  EXPECT_EQ(call(root, "GetAttr", {Variant("Late"), Variant("d")}).toText(), "d");
  storetest::expectError([&] { native->getAttr("Other", Missing::Raise); }, 10006);

  ObjectRef ini = createObject("cvSystemDB.cvIniFile");
  ObjectRef section = call(ini, "Root", {Variant("Main")}).toObject();
  EXPECT_EQ(std::dynamic_pointer_cast<cvIniNode>(call(section, "Node", {Variant(int32_t{2})}).toObject())->section(),
            "Main_2");
  ObjectRef reg = createObject("cvSystemDB.cvRegister");
  ObjectRef hklm = call(reg, "Root", {Variant(-2147483646.0)}).toObject();
  EXPECT_EQ(std::dynamic_pointer_cast<cvRegNode>(hklm)->rootKey(), HKEY_LOCAL_MACHINE);
}

std::string folder(const char* variable, const char* fallback) {
  const char* v = std::getenv(variable);
  return v && *v ? v : fallback;
}
const std::string kProgramDir = folder("QUILLANT_PROGRAM_DIR", STORE_TEST_PROGRAM_DIR);
const std::string kSourceDir = folder("QUILLANT_SOURCE_DIR", STORE_TEST_SOURCE_DIR);

// Runs the program-folder tool; true when it exits with 0.
bool tagdoc(const std::string& args) {
  const std::string cmd = kProgramDir + "/tagdoc " + args;
  return std::system(cmd.c_str()) == 0;
}

TEST(Tagdoc, RoundTripsTheDataFilesByteForByte) {
  const fs::path src = kSourceDir, bin = kProgramDir;
  std::vector<std::pair<fs::path, fs::path>> files;  // readable source, built document
  for (const auto& e : fs::directory_iterator(src / "data"))
    if (e.path().extension() == ".xml") files.emplace_back(e.path(), bin / e.path().filename());
  files.emplace_back(src / "designs/Standard/Modern/ProjectDef.prj",
                     bin / "HtmlDesign/Standard/Modern/ProjectDef.prj");
  ASSERT_GE(files.size(), 2u);
  storetest::TempDir dir;
  int n = 0;
  for (const auto& [source, built] : files) {
    SCOPED_TRACE(source.string());
    const std::string printed = dir.file("printed" + std::to_string(n));
    const std::string rebuilt = dir.file("rebuilt" + std::to_string(n++));
    ASSERT_TRUE(tagdoc("print '" + built.string() + "' > '" + printed + "'"));
    EXPECT_EQ(storetest::readBytes(printed), storetest::readBytes(source.string()));
    ASSERT_TRUE(tagdoc("build '" + printed + "' '" + rebuilt + "'"));
    EXPECT_EQ(storetest::readBytes(rebuilt), storetest::readBytes(built.string()));
    auto doc = cvDomDoc::create();
    doc->readDoc(built.string());  // and the store reads what was built
  }
}

TEST(Tagdoc, RoundTripsADocumentSavedByTheStoreAndRefusesIllFormedText) {
  storetest::TempDir dir;
  auto doc = cvDomDoc::create();
  storetest::writeBytes(dir.file("d.prj"), storetest::tagFile("<a/>"));
  doc->readDoc(dir.file("d.prj"));
  doc->root()->setAttr("Name", "\xE6\x97\xA5\xE6\x9C\xAC \"q\" <&>", Missing::Create);
  doc->root()->node("Scripts", Missing::Create)->setText("line 1\r\nline 2");
  doc->saveDoc();
  ASSERT_TRUE(tagdoc("print '" + dir.file("d.prj") + "' > '" + dir.file("d.txt") + "'"));
  ASSERT_TRUE(tagdoc("build '" + dir.file("d.txt") + "' '" + dir.file("e.prj") + "'"));
  EXPECT_EQ(storetest::readBytes(dir.file("e.prj")), storetest::readBytes(dir.file("d.prj")));

  // A text the reader would take apart differently is refused at its place.
  storetest::writeBytes(dir.file("amp.txt"), "<a>\n<b>Smith & Sons</b></a>");
  EXPECT_FALSE(tagdoc("build '" + dir.file("amp.txt") + "' '" + dir.file("amp.prj") + "' 2>'" +
                      dir.file("err.txt") + "'"));
  EXPECT_NE(storetest::readBytes(dir.file("err.txt")).find("amp.txt:2:10: a bare '&' in text"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.file("amp.prj")));
  EXPECT_TRUE(tagdoc("--help > /dev/null"));
}

}  // namespace
