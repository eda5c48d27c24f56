#include "store/dom.h"

#include <gtest/gtest.h>

#include "common/utf.h"
#include "store_test_util.h"

using namespace quill;
using storetest::expectError;

namespace {

constexpr Missing kCreate = Missing::Create;
constexpr Missing kRaise = Missing::Raise;

class DomTest : public ::testing::Test {
 protected:
  // Reads an ASCII document text through a file.
  std::shared_ptr<cvDomDoc> read(const std::string& text, const std::string& header = "\xFF\xFE") {
    storetest::writeBytes(path, storetest::tagFile(text, header));
    auto doc = cvDomDoc::create();
    doc->readDoc(path);
    return doc;
  }
  // Saves and returns the file's text (without the header bytes) as UTF-8.
  std::string saved(cvDomDoc& doc) {
    doc.saveDoc(path);
    return utf16leToUtf8(storetest::readBytes(path).substr(2));
  }

  storetest::TempDir dir;
  std::string path = dir.file("doc.xml");
};

TEST_F(DomTest, ReadsAndWritesBackUnchangedWithItsHeaderBytes) {
  const std::string text = R"(<?xml version="1.0"?><a x="1"><b/></a>)";
  auto doc = read(text, "\x12\x34");
  EXPECT_EQ(doc->root()->tagName(), "a");
  EXPECT_EQ(doc->root()->getAttr("x", kRaise), "1");
  ASSERT_EQ(doc->root()->length(), 1);
  EXPECT_EQ(doc->root()->nodeAt(1)->tagName(), "b");
  doc->saveDoc();
  EXPECT_EQ(storetest::readBytes(path), storetest::tagFile(text, "\x12\x34"));

  auto fresh = cvDomDoc::create();
  fresh->setRoot(fresh->createNode("r"));
  fresh->saveDoc(dir.file("new.xml"));
  EXPECT_EQ(storetest::readBytes(dir.file("new.xml")), storetest::tagFile(R"(<?xml version="1.0"?><r/>)", std::string(2, '\0')));
}

TEST_F(DomTest, ReaderKeepsItsDocumentedQuirks) {
  struct Case {
    const char* input;
    const char* written;  // root element as written back
  } cases[] = {
      {"<a>x<b>z</b>y</a>", "<a>xy<b>z</b></a>"},
      {"<a>x<b/>y</a>", "<a>y<b/></a>"},  // text before an empty-element tag is dropped
      {"<a></a>", "<a/>"},
      {"<a>1 > 0</a>", "<a>1 &gt; 0&lt;/a&gt;</a>"},  // the end tag is no longer recognised
      {"<a>t</A>u</a>", "<a>tu</a>"},                   // end tags are case-sensitive
      {"<a>&amp;lt;</b></a>", "<a>&lt;</a>"},           // decoded at every end tag met
      {"<a>x<b>y", "<a>x<b>y</b></a>"},                 // unclosed elements end with the text
      {"<a>x<c>1</c>y", "<a>x\r\ny<c>1</c></a>"},       // text after the last tag follows a line break
      {"<a>\r\n  <b>t</b>\r\n  <c/>\r\n  <?xml z=\"1\"?>\r\n</a>\r\n", "<a>\r\n  \r\n<b>t</b><c/></a>"},
      {"<a><!-- c --><b/></a>", "<a><!--><b/></!--></a>"},  // a comment is an unclosed start tag
      {"<x a=1 b=2/>", "<x a=\"1\" b=\"2\"/>"},
      {"<x a='1' b c=\"2 3\" d=\"4/>", "<x a=\"&apos;1&apos;\" b c=\"2 3\" d=\"&quot;4\"/>"},
      {"<a>\r\n</a>\r\n", "<a>\r\n</a>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    auto doc = read(c.input);
    EXPECT_EQ(nodeToText(*doc->root()), c.written);
  }
  auto doc = read("<x a='1' b c=\"2 3\"/>");
  EXPECT_EQ(doc->root()->attrs(), (std::vector<std::string>{"a", "b c"}));
}

TEST_F(DomTest, EntitiesRoundTripInTextAndAttributes) {
  auto doc = cvDomDoc::create();
  auto root = doc->createNode("a");
  root->setText("1 < 2 & 'x'");
  root->setAttr("q", "say \"hi\" & <go>", kCreate);
  doc->setRoot(root);
  const std::string text = saved(*doc);
  EXPECT_EQ(text,
            "<?xml version=\"1.0\"?><a q=\"say &quot;hi&quot; &amp; &lt;go&gt;\">1 &lt; 2 &amp; &apos;x&apos;</a>");
  auto back = read(text);
  EXPECT_EQ(back->root()->getText(), "1 < 2 & 'x'");
  EXPECT_EQ(back->root()->getAttr("q", kRaise), "say \"hi\" & <go>");
}

TEST_F(DomTest, DeclarationAttributesAreReadAnywhereAndKeptInOrder) {
  auto doc = read(R"(<?xml version="1.0" encoding="UTF-16"?><a><?xml Standalone="yes"?></a>)");
  EXPECT_EQ(doc->declaration().keys(), (std::vector<std::string>{"version", "encoding", "standalone"}));
  EXPECT_EQ(saved(*doc), R"(<?xml version="1.0" encoding="UTF-16" standalone="yes"?><a/>)");
  doc->setAttr("Version", "2");
  EXPECT_EQ(doc->getAttr("VERSION"), "2");
  EXPECT_EQ(doc->declaration().size(), 3u);
  EXPECT_EQ(doc->getAttr("missing", "dflt"), "dflt");
}

TEST_F(DomTest, ReadFailuresRaise19999AndKeepTheOldRoot) {
  auto doc = cvDomDoc::create();
  auto old = doc->createNode("old");
  doc->setRoot(old);
  const std::string missing = dir.file("none.xml");
  expectError([&] { doc->readDoc(missing); }, 19999, "ReadDoc", missing + "is not exist.");
  const struct {
    std::string bytes;
    std::string description;
  } cases[] = {
      {"", "Input past end of file"},
      {"\xFF\xFE", "Input past end of file"},  // the header alone
      {"\xFF\xFE<", "Wrong format of file " + path},  // one byte of text: no element
      {storetest::tagFile(R"(<?xml version="1.0"?>)"), "Wrong format of file " + path},
      {storetest::tagFile("<a/><b/>"), "Wrong format of file " + path},
      {storetest::tagFile("<a><?></a>"), "Invalid procedure call or argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.description);
    storetest::writeBytes(path, c.bytes);
    expectError([&] { doc->readDoc(path); }, 19999, "ReadDoc", c.description);
  }
  EXPECT_EQ(doc->root(), old);
}

TEST_F(DomTest, AttributesInLenientAndStrictMode) {
  auto n = cvDomNode::create("n");
  EXPECT_EQ(n->getAttr("x", kCreate), "");
  EXPECT_EQ(n->attrs(), std::vector<std::string>{"x"});  // created with the default
  EXPECT_EQ(n->getAttr("x", kCreate, "5"), "");          // stored empty: the default is not used
  n->setAttr("y", "1", kCreate);
  n->setAttr("x", "2", kRaise);
  EXPECT_EQ(n->value(), R"(<n x="2" y="1"/>)");  // replaced in place
  expectError([&] { n->getAttr("z", kRaise); }, 10006, "DomNode.SetAttr", "Wrong AttrName of z");
  expectError([&] { n->setAttr("z", "1", kRaise); }, 10006, "DomNode.SetAttr", "Wrong AttrName of z");
  EXPECT_EQ(n->getAttr("y", kRaise), "1");
  EXPECT_EQ(n->attrs().size(), 2u);
}

TEST_F(DomTest, NodeAddressing) {
  auto n = cvDomNode::create("n");
  expectError([&] { n->node("Setup\\Ftp", kRaise); }, 10002, "cvDomNode.Node", "Wrong Tag Name of \"Setup\"");
  EXPECT_EQ(n->length(), 0);
  auto ftp = n->node("Setup\\Ftp", kCreate);
  EXPECT_EQ(ftp->tagName(), "Ftp");
  EXPECT_EQ(n->length(), 1);
  EXPECT_EQ(n->node("Setup", kRaise)->nodeAt(1), ftp);
  EXPECT_EQ(n->node("Setup\\Ftp", kRaise), ftp);
  expectError([&] { n->node("Setup\\Ftp\\Deeper", kRaise); }, 10002, "cvDomNode.Node", "Wrong Tag Name of \"Deeper\"");
  EXPECT_EQ(ftp->length(), 0);
  EXPECT_EQ(ftp->parent(), nullptr);  // lenient creation does not set Parent
  EXPECT_NE(n->node("setup", kCreate), n->node("Setup", kRaise));  // names are case-sensitive: a second child
  EXPECT_EQ(n->length(), 2);

  expectError([&] { n->nodeVar(Variant(int32_t{3}), kCreate); }, 10005, "cvDomNode.Node", "Wrong Tag Name of \"3\"");
  expectError([&] { n->nodeVar(Variant(int32_t{-1}), kCreate); }, 10005);
  expectError([&] { n->nodeVar(Variant(int32_t{0}), kCreate); }, kSubscriptOutOfRange);
  EXPECT_EQ(n->nodeVar(Variant(int32_t{2}), kRaise)->tagName(), "setup");
  expectError([&] { n->nodeVar(Variant("2"), kCreate); }, kInvalidCall);  // a number as text is no tag name
  expectError([&] { n->nodeVar(Variant("9"), kCreate); }, 10005);

  EXPECT_TRUE(n->exists(Variant("2")));
  EXPECT_FALSE(n->exists(Variant(int32_t{3})));
  EXPECT_TRUE(n->exists(Variant("Setup")));
  EXPECT_FALSE(n->exists(Variant("Setup\\Ftp")));  // paths are not resolved
}

TEST_F(DomTest, ReplacingAndRemovingChildren) {
  auto n = cvDomNode::create("n");
  for (const char* t : {"a", "b", "c"}) n->appendNode(cvDomNode::create(t));
  auto x = cvDomNode::create("x");
  EXPECT_EQ(n->setNode(Variant("b"), x), x);
  EXPECT_EQ(n->length(), 3);
  EXPECT_EQ(n->nodeAt(2), x);
  EXPECT_EQ(n->setNode(Variant("zz"), cvDomNode::create("y")), nullptr);
  auto y = cvDomNode::create("y");
  n->setNode(Variant(int32_t{1}), y);
  EXPECT_EQ(n->value(), "<n><y/><x/><c/></n>");
  EXPECT_EQ(n->removeNode(cvDomNode::create("c")), nullptr);  // identity, not equality
  EXPECT_EQ(n->length(), 3);
  EXPECT_EQ(n->removeNodeVar(Variant(int32_t{2})), x);
  EXPECT_EQ(n->value(), "<n><y/><c/></n>");
  EXPECT_EQ(n->nodeAt(2)->parent(), n);
  n->removeAllNode();
  EXPECT_EQ(n->length(), 0);

  auto doc = cvDomDoc::create();
  expectError([&] { doc->createNode(""); }, 10002, "", "");
}

TEST_F(DomTest, ANodeCannotBecomeItsOwnDescendantOrHoldNothing) {
  auto a = cvDomNode::create("a");
  auto b = cvDomNode::create("b");
  a->appendNode(b);
  expectError([&] { a->appendNode(a); }, kInvalidCall);
  expectError([&] { b->appendNode(a); }, kInvalidCall);
  EXPECT_EQ(b->setNode(Variant("c"), a), nullptr);  // no child of that name: nothing to replace
  b->appendNode(cvDomNode::create("c"));
  expectError([&] { b->setNode(Variant("c"), a); }, kInvalidCall);
  expectError([&] { a->appendNode(nullptr); }, kObjectNotSet);
  expectError([&] { a->setNode(Variant(int32_t{1}), nullptr); }, kObjectNotSet);
  EXPECT_EQ(a->value(), "<a><b><c/></b></a>");
}

TEST_F(DomTest, ValueReadsAndReplacesTheNode) {
  auto holder = cvDomNode::create("holder");
  auto n = holder->node("n", kCreate);
  n->data = 7;
  n->setValue(R"(<m k="v">t<c></c></m>)");
  EXPECT_EQ(n->tagName(), "m");
  EXPECT_EQ(n->getAttr("k", kRaise), "v");
  EXPECT_EQ(n->getText(), "t");
  ASSERT_EQ(n->length(), 1);
  EXPECT_EQ(n->nodeAt(1)->parent(), n);
  EXPECT_EQ(n->data, 7);
  EXPECT_EQ(n->value(), R"(<m k="v">t<c/></m>)");
  n->setValue("<p/><q/>");  // several elements: the unnamed container
  EXPECT_EQ(n->tagName(), "");
  EXPECT_EQ(n->length(), 2);
  expectError([&] { n->setValue("<?>"); }, kInvalidCall);
  expectError([&] { n->setValue("</><a/>"); }, kObjectNotSet);
  EXPECT_EQ(n->length(), 2);  // unchanged by the failed lets
}

TEST_F(DomTest, NodesReadFromAFileWorkLikeNodesBuiltInMemory) {
  const int64_t before = cvDomNode::liveCount();
  const std::string text = R"(<r><a k="1"><b/><c>t &amp; u</c></a><d/></r>)";
  {
    // A node kept after its document is gone still has its children.
    DomNodeRef a = read(text)->root()->nodeAt(1);
    ASSERT_EQ(a->length(), 2);
    EXPECT_EQ(a->nodeAt(2)->parent(), a);
    EXPECT_EQ(a->node("c", kRaise)->getText(), "t & u");
    EXPECT_EQ(a->value(), R"(<a k="1"><b/><c>t &amp; u</c></a>)");
  }
  {
    auto doc = read(text);
    DomNodeRef r = doc->root();
    r->node("a", kRaise)->appendNode(cvDomNode::create("z"));  // after the children read
    r->setNode(Variant("d"), cvDomNode::create("x"));
    EXPECT_EQ(r->value(), R"(<r><a k="1"><b/><c>t &amp; u</c><z/></a><x/></r>)");
    r->node("a", kRaise)->removeAllNode();
    EXPECT_EQ(r->value(), R"(<r><a k="1"/><x/></r>)");
  }
  {
    auto doc = read(text);
    DomNodeRef a = doc->root()->nodeAt(1);
    EXPECT_EQ(doc->root()->node("a\\c", kRaise)->getText(), "t & u");
    expectError([&] { a->node("b", kRaise)->appendNode(doc->root()); }, kInvalidCall);
    a->setValue(doc->root()->value());  // a copy of the whole document in place of a
    EXPECT_EQ(a->nodeAt(1)->parent(), a);
    EXPECT_EQ(nodeToText(*doc->root()), R"(<r><r><a k="1"><b/><c>t &amp; u</c></a><d/></r><d/></r>)");
  }
  EXPECT_EQ(cvDomNode::liveCount(), before);
}

TEST_F(DomTest, RepeatedAttributesKeepTheirFirstPlaceAndLastValue) {
  // Written straight from what was read, and from the nodes made from it.
  std::string many = "<m";
  for (int i = 0; i < 15; ++i) many += " a" + std::to_string(i % 7) + "=\"" + std::to_string(i) + "&amp;\"";
  many += "/>";
  std::string manyWritten = "<m";
  for (int i : {14, 8, 9, 10, 11, 12, 13}) manyWritten += " a" + std::to_string(i % 7) + "=\"" + std::to_string(i) + "&amp;\"";
  manyWritten += "/>";
  const std::string text = R"(<r><a k="1" j="&lt;" k="3&amp;"><b j=2 j=3/></a>)" + many + "</r>";
  const std::string written = R"(<r><a k="3&amp;" j="&lt;"><b j="3"/></a>)" + manyWritten + "</r>";
  auto doc = read(text);
  EXPECT_EQ(nodeToText(*doc->root()), written);
  EXPECT_EQ(doc->root()->node("a", kRaise)->getAttr("k", kRaise), "3&");
  EXPECT_EQ(nodeToText(*doc->root()), written);
  EXPECT_EQ(doc->root()->nodeAt(2)->attrs().size(), 7u);
}

TEST_F(DomTest, Utf16TextIsKeptExactlyAcrossTheReadersPieces) {
  // Any UTF-16 reads and writes back unchanged: pairs, lone surrogates of
  // both kinds. The file is read in pieces of 32768 units, and a high
  // surrogate that ends a piece is held back for the next one, which then
  // takes one unit less from the file: the pieces end at units 32767, 65534
  // and 98301. The text is mostly three UTF-8 bytes a unit at first, then
  // mostly ASCII.
  std::u16string units = u"<a>\u65E5";
  units += {0xD83D, 0xDE00, 0xD800, u'x', 0xDC00, 0xDBFF, 0xDFFF};
  while (units.size() < 100000) units.push_back(units.size() % 4 ? u'\u65E5' : u'x');
  while (units.size() < 140000) units.push_back(units.size() % 37 == 0 ? u'\u00E9' : u'x');
  units[32767] = 0xD83D;  // a pair split between two pieces
  units[32768] = 0xDE00;
  units[65534] = 0xD800;  // a lone high surrogate at the end of a piece
  units[98301] = 0xDBFF;  // the highest pair split between two pieces
  units[98302] = 0xDFFF;
  units += u"</a>";
  const std::string bytes = "\xFF\xFE" + stringToUtf16le(units);
  storetest::writeBytes(path, bytes);
  auto doc = cvDomDoc::create();
  doc->readDoc(path);
  EXPECT_EQ(doc->root()->text(), utf16ToUtf8(units.substr(3, units.size() - 7)));
  doc->saveDoc();
  const std::string decl = storetest::tagFile(R"(<?xml version="1.0"?>)", "");
  EXPECT_EQ(storetest::readBytes(path), "\xFF\xFE" + decl + bytes.substr(2));
}

}  // namespace
