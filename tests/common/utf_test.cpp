#include "common/utf.h"

#include <gtest/gtest.h>

using namespace quill;

TEST(Utf, RoundTripsEveryUtf16IncludingLoneSurrogates) {
  const std::u16string text = u"A\u00e9\u65e5\U0001F600" + std::u16string(1, char16_t(0xD800)) + u"z";
  EXPECT_EQ(utf8ToUtf16(utf16ToUtf8(text)), text);
  EXPECT_EQ(utf16ToUtf8(u"\u00e9\u65e5"), "\xC3\xA9\xE6\x97\xA5");
}

TEST(Utf, InvalidUtf8BecomesReplacementCharacter) {
  EXPECT_EQ(utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(utf8ToUtf16("\xE6\x97"), u"\uFFFD\uFFFD");  // truncated sequence
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
}

TEST(Utf, Utf16leBytesDropAnOddLastByte) {
  EXPECT_EQ(utf16leToString(std::string("a\0b\0c", 5)), u"ab");
  EXPECT_EQ(stringToUtf16le(u"\u65e5"), std::string("\xE5\x65", 2));
}

TEST(Utf, CharactersAreCodePointsNotBytes) {
  EXPECT_EQ(firstCharacter("\xE6\x97\xA5\xE6\x9C\xAC"), "\xE6\x97\xA5");
  EXPECT_EQ(nthCharacter("ab\xC3\xA9z", 2), "\xC3\xA9");
  EXPECT_EQ(nthCharacter("ab", 2), "");
  EXPECT_EQ(firstCharacter(""), "");
}
