// Which comments are tags, in any spelling or case, is checked against the
// literal rules in random_test; these are the worked cases around it.
#include <filesystem>
#include <fstream>

#include "engine/template_parser.h"
#include "test_util.h"

using namespace quill;
using namespace quill::test;

namespace {

std::vector<std::string> childTexts(const MarlPart& p) {
  std::vector<std::string> out;
  for (const auto& c : p.parts()) out.push_back(c->isText() ? std::string(c->orgText()) : "[" + c->key() + "]");
  return out;
}

using Texts = std::vector<std::string>;

}  // namespace

TEST(Parser, WorkedExampleFromFile) {
  const auto dir = std::filesystem::temp_directory_path() / ("marl_example_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto file = dir / "page.htm";
  std::ofstream(file, std::ios::binary) << "\xEF\xBB\xBF<html><title>{Title}</title>\r\n"
                                        << startTag("Row") << "\r\n<tr><td>{Name}</td></tr>\r\n"
                                        << endTag("Row") << "\r\n</html>\r\n";
  MarlDoc doc;
  ASSERT_EQ(doc.loadFile(file.string()), "");
  std::filesystem::remove_all(dir);

  // The byte-order mark is skipped; line breaks stay in the text.
  const MarlPart& root = *doc.rootPart();
  ASSERT_EQ(childTexts(root), (Texts{"<html><title>{Title}</title>\r\n", "[Row]", "\r\n</html>\r\n"}));
  const MarlPart& row = child(root, 2);
  EXPECT_EQ(row.attrKeys(), (Texts{"_KEY", "_POSITION"}));
  root.vars().find("Title")->replace(std::string_view("T"));
  row.vars().find("Name")->replace(std::string_view("N"));
  EXPECT_EQ(root.getText(), "<html><title>T</title>\r\n\r\n</html>\r\n");
  EXPECT_EQ(row.getText(), "\r\n<tr><td>N</td></tr>\r\n");
}

TEST(Parser, Attributes) {
  const AttrMap a = parseTagAttributes(
      " _KEY=\"K\" junk x = \"a &amp;lt; b\" q='single' n=unquoted _KEY=\"L\"\r\nm=\"split\r\nvalue\" "
      "lf=\"no\nend\" z=\"&quot;&AMP;&#60;&nbsp;\"");
  EXPECT_EQ(a.keys(), (Texts{"_KEY", "x", "m", "z"}));
  EXPECT_EQ(a.get("_KEY"), "L");  // first position, last value
  EXPECT_EQ(a.get("x"), "a < b");
  EXPECT_EQ(a.get("m"), "splitvalue");
  EXPECT_EQ(a.get("z"), "\"&AMP;&#60;&nbsp;");
  // A line feed left inside a value breaks that match only.
  EXPECT_EQ(parseTagAttributes("a=\"x\ny\" b=\"2\"").keys(), (Texts{"b"}));
  EXPECT_EQ(parseTagAttributes("a=\"x\r\ny\"").get("a"), "xy");

  MarlDoc doc;
  ASSERT_EQ(loadText(doc, "<!-- MARL:HtmlPart _KEY='A' _POSITION=\"START\" -->x" + endTag("")), "");
  const MarlPart& block = child(*doc.rootPart(), 1);
  EXPECT_EQ(block.key(), "");
  EXPECT_EQ(block.attrKeys(), (Texts{"_POSITION", "_KEY"}));
  EXPECT_EQ(block.getAttr("_KEY", "none"), "");
}

TEST(Parser, UnclosedBlocksReportInnermostFirstAndKeepTheRoot) {
  MarlDoc doc;
  ASSERT_EQ(loadText(doc, "old"), "");
  const auto old = doc.rootPart();
  EXPECT_EQ(loadText(doc, startTag("IndexRow") + "a" + startTag("LetterRow") + "b" + endTag("IndexRow")),
            "Without \"END\" definition of Key [LetterRow]\r\nWithout \"END\" definition of Key [IndexRow]\r\n");
  EXPECT_EQ(doc.rootPart(), old);
  EXPECT_EQ(doc.loadFile("/no/such/dir\\t.htm", "SOURCE_TYPE=0"), "Invalid path of \"/no/such/dir/t.htm\"");
  EXPECT_EQ(doc.rootPart(), old);
  EXPECT_EQ(loadText(doc, "new"), "");  // the source type stays 1 from here on
  EXPECT_EQ(child(*doc.rootPart(), 1).orgText(), "new");
  EXPECT_EQ(child(*old, 1).orgText(), "old");  // parts of the old root stay valid
}

TEST(Parser, Options) {
  MarlDoc doc;
  EXPECT_EQ(doc.loadFile("[[a]]<!--X:HtmlPart _KEY=\"k\" _POSITION=\"START\"-->[b]" + endTag("k") +
                             "<!--X:HtmlPart _KEY=\"k\" _POSITION=\"END\"-->",
                         "source_type=1;Var_Start_Code=[;VAR_END_CODE=]=ignored;MARL_ID=X;other=1;"),
            "");
  EXPECT_EQ(doc.appName(), "X");
  const MarlPart& root = *doc.rootPart();
  EXPECT_EQ(root.vars().varKeys(), (Texts{"a"}));
  EXPECT_EQ(root.vars().at(0).placeholder(), "[a]");
  EXPECT_EQ(childTexts(child(root, 2)), (Texts{"[b]" + endTag("k")}));

  // Defaults return at every load, except the source type.
  doc.setAppName("X");
  ASSERT_EQ(doc.loadFile("<!--X:HtmlPart _KEY=\"k\" _POSITION=\"START\"-->{a}"), "");
  EXPECT_EQ(doc.rootPart()->vars().varKeys(), (Texts{"a"}));
  EXPECT_EQ(doc.appName(), "MARL");
  EXPECT_EQ(doc.sourceType(), 1);
  EXPECT_EQ(doc.loadFile("x", "SOURCE_TYPE=0"), "Invalid path of \"x\"");
  EXPECT_EQ(doc.loadFile("x", "SOURCE_TYPE=7"), "");
  EXPECT_EQ(doc.rootPart()->parts().count(), 0);
  EXPECT_EQ(doc.loadFile("x", ";"), "");  // one trailing ";" and nothing else

  for (const char* bad : {"SOURCE_TYPE", "SOURCE_TYPE=1;;", ";;", "a=1;;b=2", "=1;x"})
    EXPECT_EQ(errorNumber([&] { doc.loadFile("x", bad); }), kSubscriptOutOfRange) << bad;
  for (const char* bad : {"SOURCE_TYPE=one", "SOURCE_TYPE="})
    EXPECT_EQ(errorNumber([&] { doc.loadFile("x", bad); }), kTypeMismatch) << bad;
}

TEST(Parser, DeepNestingAndLongTagRunsNeedNoStack) {
  constexpr int kDepth = 100000;
  std::string text;
  for (int i = 0; i < kDepth; ++i) text += "<!--MARL:HtmlPart _KEY=\"k\" _POSITION=\"START\"-->";
  std::string unclosed = text;
  for (int i = 0; i < kDepth; ++i) text += "<!--MARL:HtmlPart _KEY=\"k\" _POSITION=\"END\"-->";
  {
    MarlDoc doc;
    ASSERT_EQ(loadText(doc, text), "");
    const MarlPart* p = doc.rootPart().get();
    int depth = 0;
    while (p->parts().count() == 1) p = p->parts().at(0).get(), ++depth;
    EXPECT_EQ(depth, kDepth);
    const std::string message = loadText(doc, unclosed);
    EXPECT_EQ(message.size(), kDepth * std::string("Without \"END\" definition of Key [k]\r\n").size());
  }
  std::string run;
  for (int i = 0; i < 1000000; ++i) run += "<!--MARL:T-->";
  MarlDoc doc;
  ASSERT_EQ(loadText(doc, run + "x"), "");
  EXPECT_EQ(childTexts(*doc.rootPart()), (Texts{"x"}));
}

TEST(Parser, PathologicalShapesStayLinear) {
  // Each of these would take hours if a failed match rescanned the rest.
  const size_t n = 1 << 20;
  auto times = [](const std::string& s, size_t k) {
    std::string out;
    while (k--) out += s;
    return out;
  };
  const std::pair<std::string, std::string> cases[] = {
      {times("<!--MARL:HtmlPart ", n / 18), ""}, {"<!--" + std::string(n, ' '), ""}, {times("{a", n / 2), ""},
      {"<!--MARL:HtmlPart " + times("a=\"b\n", n / 5) + "-->", ""}, {"<!--MARL:" + std::string(n, 'a'), ""},
      {std::string(n, 'a'), "VAR_START_CODE=a;VAR_END_CODE=b"}, {times("a{", n / 2), "VAR_START_CODE=;VAR_END_CODE=}"},
      {"<!--" + std::string(n, ' ') + "M", "MARL_ID= M"}};
  for (const auto& [text, opt] : cases) {
    MarlDoc doc;
    EXPECT_EQ(loadText(doc, text, opt), "") << opt;
  }
}
