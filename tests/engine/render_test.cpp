#include "common/dispatch.h"
#include "test_util.h"

using namespace quill;
using namespace quill::test;

// Variables, values and the late-bound surface of parts. How placeholders
// are found and replaced is checked against the literal rules in random_test.
TEST(Render, VariablesAndValues) {
  MarlDoc doc;
  ASSERT_EQ(loadText(doc, "{Title}" + startTag("B") + "[{Title}][{X}]" + endTag("B") + "({X}){Title}"), "");
  const MarlPart& root = *doc.rootPart();
  const MarlPart& block = child(root, 2);
  EXPECT_EQ(root.getText(), "()");
  EXPECT_EQ(block.getText(), "[][]");

  // Through one text part's Vars, seen by every text part of the container.
  const std::vector<Variant> title{"Title"};
  invokeGet(*invokeGet(*child(root, 3).varsRef(), "GetVar", title).toObject(), "Replace", std::vector<Variant>{"a"});
  EXPECT_EQ(root.getText(), "a()a");
  root.vars().find("X")->replace(Variant("b"));
  root.vars().find("X")->replace(Variant(int32_t{7}));
  EXPECT_EQ(root.getText(), "a(7)a");
  root.vars().find("X")->replace(Variant(Null{}));
  EXPECT_EQ(root.getText(), "a()a");
  EXPECT_EQ(block.getText(), "[][]");  // the block has its own variables

  // Unknown names and non-text names give a detached variable.
  const Variant none[] = {Variant("title")};
  const Variant number[] = {Variant(int32_t{1})};
  for (const auto& args : {std::span<const Variant>(none), std::span<const Variant>(number)}) {
    const ObjectRef v = invokeGet(*root.varsRef(), "GetVar", args).toObject();
    invokeGet(*v, "Replace", std::vector<Variant>{"zz"});
    EXPECT_EQ(invokeGet(*v, "Key").toText(), "");
  }
  EXPECT_EQ(root.getText(), "a()a");

  root.vars().reset();
  EXPECT_EQ(root.getText(), "()");
  EXPECT_EQ(root.vars().varName(2), "X");
  EXPECT_EQ(errorNumber([&] { root.vars().varName(3); }), kSubscriptOutOfRange);
  EXPECT_EQ(errorNumber([&] { root.vars().varName(0); }), kSubscriptOutOfRange);
  EXPECT_TRUE(invokeGet(*child(root, 1).partsRef(), "Count").toLong() == 0);
  EXPECT_TRUE(invokeGet(*MarlVars().getVar("x"), "Key").toText().empty());
  // GetText ignores its argument.
  const Variant layer[] = {Variant(int32_t{5})};
  EXPECT_EQ(invokeGet(*doc.rootPart(), "GetText", layer).toText(), root.getText());
}

TEST(Render, PartsAndAttributesThroughLateBinding) {
  MarlDoc doc;
  ASSERT_EQ(loadText(doc, "t<!-- MARL:HtmlPart _KEY=\"B\" _POSITION=\"START\" extra=\"e\" -->x" + endTag("B")), "");
  const ObjectRef parts = invokeGet(*doc.rootPart(), "Parts").toObject();
  EXPECT_EQ(invokeGet(*parts, "Count").toLong(), 2);
  for (const Variant& bad : {Variant(int32_t{0}), Variant(int32_t{3}), Variant("x"), Variant()}) {
    try {
      invokeGet(*parts, "GetPart", std::span<const Variant>(&bad, 1));
      ADD_FAILURE() << "no error";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), 8003);
      EXPECT_EQ(e.description(), "Wrong Index of " + bad.toText());
    }
  }
  const Variant two[] = {Variant("2")};
  const ObjectRef block = invokeGet(*parts, "GetPart", two).toObject();
  const ObjectRef text = invokeGet(*parts, "GetPart", std::vector<Variant>{int32_t{1}}).toObject();
  EXPECT_EQ(invokeGet(*block, "PartType").toLong(), 1);
  EXPECT_EQ(invokeGet(*text, "PartType").toLong(), 2);
  EXPECT_EQ(invokeGet(*text, "Key").toText(), "");
  EXPECT_EQ(invokeGet(*block, "GetAttr", std::vector<Variant>{"_POSITION"}).toText(), "START");
  EXPECT_EQ(invokeGet(*block, "GetAttr", std::vector<Variant>{"_KEY", "d"}).toText(), "B");
  EXPECT_EQ(invokeGet(*text, "GetAttr", std::vector<Variant>{"_KEY", "d"}).toText(), "d");
  EXPECT_EQ(invokeGet(*block, "GetAttrCount").toLong(), 3);
  EXPECT_EQ(invokeGet(*block, "GetAttrName", std::vector<Variant>{int32_t{1}}).toText(), "_KEY");
  EXPECT_EQ(errorNumber([&] { invokeGet(*block, "GetAttrName", std::vector<Variant>{int32_t{4}}); }),
            kSubscriptOutOfRange);
  EXPECT_TRUE(invokeGet(*text, "GetAttrKeys").toArray().empty());
  EXPECT_EQ(invokeGet(*block, "GetAttrKeys").toArray().size(), 3u);
  EXPECT_EQ(invokeGet(*block, "OrgText").toText(), "");
  EXPECT_EQ(invokeGet(*text, "OrgText").toText(), "t");
}
