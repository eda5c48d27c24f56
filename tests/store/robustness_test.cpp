// Hostile and damaged input: deep nesting, failed saves, and many random
// documents given to ReadDoc and to Value.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <random>

#include "common/utf.h"
#include "store/dom.h"
#include "store_test_util.h"

using namespace quill;

namespace {

TEST(DomRobustness, DeepNestingReadsWritesAndFreesWithoutRecursion) {
  constexpr int kDepth = 100000;
  std::string text;
  for (int i = 0; i < kDepth; ++i) text += "<a>";
  text += "x";
  for (int i = 0; i < kDepth; ++i) text += "</a>";
  storetest::TempDir dir;
  const std::string path = dir.file("deep.xml");
  storetest::writeBytes(path, "\xFF\xFE" + utf8ToUtf16le(text));
  const int64_t before = cvDomNode::liveCount();
  {
    auto doc = cvDomDoc::create();
    doc->readDoc(path);
    doc->saveDoc();
    EXPECT_EQ(utf16leToUtf8(storetest::readBytes(path).substr(2)), "<?xml version=\"1.0\"?>" + text);
    auto copy = cvDomNode::create();
    copy->setValue(text);
    EXPECT_EQ(copy->value(), text);
  }
  {
    // Every end tag decodes the open element's text; many unmatched ones
    // after a long text must not rescan it each time.
    std::string many = "<a>" + std::string(1 << 20, 'x') + "&amp;";
    for (int i = 0; i < 200000; ++i) many += "</b>";
    many += "</a>";
    auto node = cvDomNode::create();
    node->setValue(many);
    EXPECT_EQ(node->getText().size(), (1u << 20) + 1);
  }
  EXPECT_EQ(cvDomNode::liveCount(), before);
}

TEST(DomRobustness, AFailedSaveKeepsTheOldFile) {
  storetest::TempDir dir;
  const std::string path = dir.file("keep.prj");
  auto doc = cvDomDoc::create();
  doc->setRoot(doc->createNode("old"));
  doc->saveDoc(path);
  const std::string old = storetest::readBytes(path);

  doc->setRoot(doc->createNode("new"));
  doc->root()->setText(std::string(20000, 'z'));
  // The new file cannot be written in full: the file size limit stops it.
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &small);
  int number = 0;
  try {
    doc->saveDoc();
  } catch (const AutomationError& e) {
    number = e.number();
    EXPECT_EQ(e.source(), "clxDom->SaveDoc");
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_GT(number, 10000);
  EXPECT_EQ(storetest::readBytes(path), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no temporary left

  auto empty = cvDomDoc::create();
  storetest::expectError([&] { empty->saveDoc(path); }, 10091, "clxDom->SaveDoc",
                         "Object variable or With block variable not set");
  storetest::expectError([&] { doc->saveDoc(dir.file("no/such/folder.prj")); }, 10076, "clxDom->SaveDoc",
                         "Path not found");
  EXPECT_EQ(storetest::readBytes(path), old);
}

// Documents built from the pieces the reader reacts to, then damaged.
std::string randomDocument(std::mt19937& rng) {
  static const char* pieces[] = {
      "<a>", "</a>", "<b x=\"1\">", "</b>", "<c/>", "<?xml version=\"1.0\"?>", "<?>", "</>", "<>",
      "< / >", "<!-- x -->", "&amp;", "&lt;", "&", "amp;", "text", " ", "\r\n", ">", "<", "\"",
      "=", "'", "/", "?", "<d a=\"&quot;\" b=c d", "</A>", "\xE6\x97\xA5", "<e", "x=\"", "\\"};
  std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> count(0, 40);
  std::string s;
  for (int n = count(rng); n > 0; --n) s += pieces[pick(rng)];
  return s;
}

void mutate(std::string& bytes, std::mt19937& rng) {
  std::uniform_int_distribution<int> kind(0, 3);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int m = kind(rng); m > 0 && !bytes.empty(); --m) {
    const size_t at = std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(rng);
    switch (kind(rng)) {
      case 0: bytes[at] = static_cast<char>(byte(rng)); break;
      case 1: bytes.erase(at, 1); break;
      case 2: bytes.insert(at, 1, static_cast<char>(byte(rng))); break;
      default: bytes.resize(at); break;
    }
  }
}

TEST(DomRobustness, AnyBytesEitherReadOrRaiseTheStoreError) {
  storetest::TempDir dir;
  std::mt19937 rng(20261207);
  const int64_t before = cvDomNode::liveCount();
  int read = 0, refused = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string text = randomDocument(rng);
    std::string bytes = "\xFF\xFE" + utf8ToUtf16le(text);
    mutate(bytes, rng);
    const std::string path = dir.file("fuzz" + std::to_string(i) + ".xml");  // new files write fast
    storetest::writeBytes(path, bytes);
    auto doc = cvDomDoc::create();
    try {
      doc->readDoc(path);
      ++read;
      EXPECT_FALSE(doc->documentText().empty());  // whatever was read can be written
    } catch (const AutomationError& e) {
      ++refused;
      ASSERT_EQ(e.number(), 19999) << e.description();
    }
    // Value takes any text (the raw bytes as UTF-8, valid or not).
    auto node = cvDomNode::create("n");
    for (const std::string& t : {text, bytes}) {
      try {
        node->setValue(t);
      } catch (const AutomationError& e) {
        ASSERT_TRUE(e.number() == kInvalidCall || e.number() == kObjectNotSet) << e.description();
      }
    }
  }
  EXPECT_GT(read, 100);
  EXPECT_GT(refused, 100);
  EXPECT_EQ(cvDomNode::liveCount(), before);  // nothing leaked
}

}  // namespace
