// The strict form that tagdoc build requires and that start-up uses to tell a
// damaged project file: what the programs write passes, and each way a hand
// edit or a cut breaks the text is found at its line and column.
#include "store/tag_syntax.h"

#include <gtest/gtest.h>

#include "store/dom.h"

using namespace quill;

namespace {

TEST(TagSyntax, AcceptsWhatTheProgramsWriteAndIndentedHandEdits) {
  auto node = textToNode("<a/>");
  node->loadAttr("Name", "\xE6\x97\xA5 \"q\" <&> 'x'");
  node->setText("1 > 0 & 2 < 3\r\nline");
  node->appendNode(textToNode("<b c=\"\">t</b>"));
  const std::string texts[] = {
      "<a/>",
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<a>\r\n  <b x = \"1\"  y=\"&amp;&lt;&gt;&quot;&apos;\"/>\r\n</a >\r\n",
      "<Project Name=\"M\"><Scripts><Script Selected=\"True\"/></Scripts><Setup><Ftp Ip=\"\"/></Setup></Project>",
      "<a>x<b>y</b>z<c></c></a>",
      "<?xml version=\"1.0\"?>" + nodeToText(*node),
  };
  for (const std::string& text : texts) EXPECT_EQ(findTagSyntaxFault(text), std::nullopt) << text;
}

TEST(TagSyntax, FindsTheFirstFaultAtItsLineAndColumn) {
  struct Case {
    const char* text;
    int line, column;
    const char* what;  // part of the description
  } cases[] = {
      {"<a>\n<Ftp Ip=\"1.2 User=\"bob\"/></a>", 2, 20, "is a quote missing"},  // a quote left out
      {"<a>\n  <b>\n", 2, 3, "<b> is never closed"},                            // cut short
      {"<a x=\"1>2\"/>", 1, 8, "'>' in the value of attribute x"},
      {"<a x=\"1", 1, 6, "no closing quote"},
      {"<a>Smith & Sons</a>", 1, 10, "bare '&'"},
      {"<a>&nbsp;</a>", 1, 4, "bare '&'"},
      {"<a>1 > 0</a>", 1, 6, "bare '>'"},
      {"<a>x < y</a>", 1, 6, "bare '<'"},
      {"<a x=1/>", 1, 6, "double quotes"},
      {"<a x='1'/>", 1, 6, "double quotes"},
      {"<a x/>", 1, 4, "has no value"},
      {"<a\tx=\"1\"/>", 1, 3, "only spaces"},
      {"<a x=\"1\" x=\"2\"/>", 1, 10, "given twice"},
      {"<a><b></a>", 1, 7, "does not close <b>, opened at line 1, column 4"},
      {"<a/></a>", 1, 5, "closes no element"},
      {"<a/><b/>", 1, 5, "second top-level element"},
      {"<a/>x", 1, 5, "text outside"},
      {"<a><!-- note --></a>", 1, 4, "comments"},
      {"<a>\n  x <b/></a>", 2, 3, "drops text that stands right before an empty-element tag (<b/>)"},
      {"<a><?xml version=\"1.0\"?></a>", 1, 4, "very start"},
      {"<?xml version=\"1.0\"?>", 1, 22, "no element"},
      {"\xC3\xA9t\xC3\xA9 <a/>", 1, 1, "text outside"},
      {"<a>\xC3\xA9t\xC3\xA9 & </a>", 1, 8, "bare '&'"},  // columns count characters
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto fault = findTagSyntaxFault(c.text);
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->line, c.line);
    EXPECT_EQ(fault->column, c.column);
    EXPECT_NE(fault->what.find(c.what), std::string::npos) << fault->what;
  }
}

TEST(TagSyntax, DeepNestingNeedsNoStack) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "<n>";
  EXPECT_EQ(findTagSyntaxFault(text)->what, "<n> is never closed");
  for (int i = 0; i < 200000; ++i) text += "</n>";
  EXPECT_EQ(findTagSyntaxFault(text), std::nullopt);
}

}  // namespace
