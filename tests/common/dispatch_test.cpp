#include "common/dispatch.h"

#include <gtest/gtest.h>

#include "common/object_factory.h"

using namespace quill;

namespace {
class Counter : public Dispatch {
 public:
  int value = 0;
  const ClassInfo& classInfo() const override {
    static const ClassInfo info = [] {
      ClassInfo c("Counter");
      c.property<Counter>("Value", [](Counter& s) { return Variant(int32_t(s.value)); },
                          [](Counter& s, const Variant& v) { s.value = v.toLong(); });
      c.method<Counter>("Add", 1, [](Counter& s, Args a) {
        s.value += a[0].toLong();
        return Variant(int32_t(s.value));
      });
      return c;
    }();
    return info;
  }
};
}  // namespace

TEST(Dispatch, MembersAreFoundWithoutRegardToCase) {
  Counter c;
  invokeLet(c, "value", {}, Variant("4"));
  const Variant one[] = {Variant(int32_t{3})};
  EXPECT_EQ(invokeGet(c, "ADD", one).toLong(), 7);
  EXPECT_EQ(invokeGet(c, "Value").toLong(), 7);
}

TEST(Dispatch, UnknownMemberAndMissingArgumentRaise) {
  Counter c;
  try {
    invokeGet(c, "Nope");
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kNoSuchMember);
  }
  try {
    invokeGet(c, "Add");
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kArgumentNotOptional);
  }
}

TEST(ObjectFactory, CreatesByIdentifierAndRefusesUnknownOnes) {
  ObjectFactory::instance().registerClass("Test.Counter", [] { return std::make_shared<Counter>(); });
  auto obj = createObject("test.counter");
  ASSERT_TRUE(obj);
  EXPECT_EQ(obj->classInfo().className(), "Counter");
  try {
    createObject("No.Such");
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kCannotCreateObject);
    EXPECT_EQ(e.source(), "No.Such");
  }
}
