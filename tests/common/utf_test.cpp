#include "common/utf.h"

#include <gtest/gtest.h>

#include <random>

using namespace quill;

// Random unit sequences, rich in the values at the edges of each encoding
// length and of the surrogate ranges, and in ASCII runs of every length
// around the converters' word sizes.
TEST(Utf, EveryUtf16RoundTripsThroughUtf8AndBothByteForms) {
  const char16_t edges[] = {0x00,   0x41,   0x7F,   0x80,   0x7FF,  0x800,  0xD7FF, 0xD800,
                            0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF, 0x65E5, 0xE9};
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::u16string units;
    for (int n = std::uniform_int_distribution<int>(0, 24)(rng); n > 0; --n) {
      if (rng() % 3 == 0)
        units.append(rng() % 11, u'a');
      else
        units.push_back(edges[rng() % std::size(edges)]);
    }
    const std::string utf8 = utf16ToUtf8(units);
    const std::string bytes = stringToUtf16le(units);
    ASSERT_EQ(utf8ToUtf16(utf8), units);
    ASSERT_EQ(utf16leToUtf8(bytes), utf8);
    ASSERT_EQ(utf8ToUtf16le(utf8), bytes);
    ASSERT_EQ(utf16leToString(bytes), units);
  }
}

TEST(Utf, Utf8DecodingAtTheEdgesOfEachLength) {
  const struct {
    const char* utf8;
    std::u16string utf16;
  } cases[] = {
      {"\x7F", u"\x7F"},
      {"\xC2\x80", u"\u0080"},
      {"\xC1\xBF", u"\uFFFD\uFFFD"},  // overlong two-byte form
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD"},  // overlong three-byte form
      {"\xF0\x90\x80\x80", u"\U00010000"},
      {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // overlong four-byte form
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond Unicode
      {"\xED\xA0\x80", std::u16string(1, char16_t(0xD800))},  // a lone surrogate's own form
      {"a\xFF" "b", u"a\uFFFDb"},
      {"\xE6\x97", u"\uFFFD\uFFFD"},  // truncated sequence
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(utf8ToUtf16le(c.utf8), stringToUtf16le(c.utf16));
  }
  EXPECT_EQ(utf16leToString(std::string("a\0b\0c", 5)), u"ab");  // an odd last byte is dropped
  EXPECT_EQ(utf16leToUtf8(std::string("a\0b\0c", 5)), "ab");
}

TEST(Utf, CharactersAreCodePointsNotBytes) {
  EXPECT_EQ(firstCharacter("\xE6\x97\xA5\xE6\x9C\xAC"), "\xE6\x97\xA5");
  EXPECT_EQ(nthCharacter("ab\xC3\xA9z", 2), "\xC3\xA9");
  EXPECT_EQ(nthCharacter("ab", 2), "");
  EXPECT_EQ(firstCharacter(""), "");
}
