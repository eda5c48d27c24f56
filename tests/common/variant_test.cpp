#include "common/variant.h"

#include <gtest/gtest.h>

#include "common/automation_error.h"

using namespace quill;

static int errorOf(auto f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

TEST(Variant, TextForms) {
  EXPECT_EQ(Variant().toText(), "");
  EXPECT_EQ(Variant(true).toText(), "True");
  EXPECT_EQ(Variant(int32_t{-5}).toText(), "-5");
  EXPECT_EQ(Variant(3.0).toText(), "3");
  EXPECT_EQ(Variant(0.1 + 0.2).toText(), "0.3");
  EXPECT_EQ(Variant(1e20).toText(), "1E+20");
  EXPECT_EQ(Variant(1.5e-7).toText(), "1.5E-07");
  EXPECT_EQ(errorOf([] { Variant(Null{}).toText(); }), kInvalidUseOfNull);
  EXPECT_EQ(errorOf([] { Variant(Variant::Array{}).toText(); }), kTypeMismatch);
}

TEST(Variant, BooleanConversion) {
  EXPECT_TRUE(Variant("True").toBool());
  EXPECT_TRUE(Variant(" true ").toBool());
  EXPECT_FALSE(Variant("FALSE").toBool());
  EXPECT_TRUE(Variant("-1").toBool());
  EXPECT_FALSE(Variant("0").toBool());
  EXPECT_EQ(errorOf([] { Variant("yes").toBool(); }), kTypeMismatch);
  EXPECT_EQ(errorOf([] { Variant("").toBool(); }), kTypeMismatch);
}

TEST(Variant, LongConversionRoundsHalfToEvenAndChecksRange) {
  EXPECT_EQ(Variant(2.5).toLong(), 2);
  EXPECT_EQ(Variant(3.5).toLong(), 4);
  EXPECT_EQ(Variant(" 42 ").toLong(), 42);
  EXPECT_EQ(Variant("&HFF").toLong(), 255);
  EXPECT_EQ(errorOf([] { Variant(3e9).toLong(); }), kOverflow);
  EXPECT_EQ(errorOf([] { Variant("x").toLong(); }), kTypeMismatch);
}

TEST(Variant, WholeNumbersFromTextOrNumbers) {
  EXPECT_EQ(Variant("2").asWholeNumber(), 2);
  EXPECT_EQ(Variant(2.0).asWholeNumber(), 2);
  EXPECT_FALSE(Variant("2.5").asWholeNumber());
  EXPECT_FALSE(Variant("Setup").asWholeNumber());
  EXPECT_FALSE(Variant().asWholeNumber());
  EXPECT_EQ(Variant(int64_t{1} << 40).type(), Variant::Type::Double);
}
