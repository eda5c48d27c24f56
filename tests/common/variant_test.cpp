#include "common/variant.h"

#include <gtest/gtest.h>

#include "common/automation_error.h"

using namespace quill;

namespace {

int errorOf(auto f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace

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

// CLng of each value, or the error it raises; each limit from both sides.
TEST(Variant, LongConversionAtItsLimits) {
  const struct {
    Variant value;
    int32_t expected;
    int error = 0;
  } cases[] = {
      {Variant(true), -1},
      {Variant(false), 0},
      {Variant(2.5), 2},  // half to even
      {Variant(3.5), 4},
      {Variant(" 42 "), 42},
      {Variant("&HFF"), 255},
      {Variant("&H7FFF"), 32767},  // up to four hex digits: a 16-bit value
      {Variant("&H8000"), -32768},
      {Variant("&HFFFF"), -1},
      {Variant("&H10000"), 65536},  // five or more: a 32-bit value
      {Variant("&HFFFFFFFF"), -1},
      {Variant("&H100000000"), 0, kTypeMismatch},
      {Variant("2147483647"), 2147483647},
      {Variant("2147483648"), 0, kOverflow},
      {Variant("-2147483648"), -2147483647 - 1},
      {Variant(-2147483649.0), 0, kOverflow},
      {Variant(3e9), 0, kOverflow},
      {Variant("x"), 0, kTypeMismatch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.isText() ? *c.value.text() : c.value.toText());
    if (c.error) {
      EXPECT_EQ(errorOf([&] { c.value.toLong(); }), c.error);
    } else {
      EXPECT_EQ(c.value.toLong(), c.expected);
      if (c.value.type() != Variant::Type::Double) {
        EXPECT_EQ(c.value.toDouble(), c.expected);
      }
    }
  }
  // A whole number is a Long exactly while it fits 32 bits.
  for (int64_t n : {int64_t{2147483647}, int64_t{-2147483648}})
    EXPECT_EQ(Variant(n).type(), Variant::Type::Long) << n;
  for (int64_t n : {int64_t{2147483648}, int64_t{-2147483649}, int64_t{1} << 40})
    EXPECT_EQ(Variant(n).type(), Variant::Type::Double) << n;
}

TEST(Variant, WholeNumbersFromTextOrNumbers) {
  EXPECT_EQ(Variant("2").asWholeNumber(), 2);
  EXPECT_EQ(Variant(2.0).asWholeNumber(), 2);
  EXPECT_FALSE(Variant("2.5").asWholeNumber());
  EXPECT_FALSE(Variant("Setup").asWholeNumber());
  EXPECT_FALSE(Variant().asWholeNumber());
}
