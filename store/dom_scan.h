// The tag scanner and entity coding shared by the reader, the writer and
// clsTagString (inside the store only). Everything works on views into the
// caller's text; nothing is copied until a caller keeps it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#define QUILL_HAVE_SSE2 1
#endif

namespace quill::detail {

// Trims blanks (code 32 only) on both sides.
inline std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The first c in [p, end), or nullptr. Sixteen bytes at a time with SSE2,
// inline: most searches cover the few bytes of a tag or of the text between
// two tags, where a call of memchr costs more than the search (ReadDoc was
// 10 to 15 % slower with memchr; see dom_read.cpp for its speed target).
inline const char* findByte(const char* p, const char* end, char c) {
#if QUILL_HAVE_SSE2
  const __m128i want = _mm_set1_epi8(c);
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (const int m = _mm_movemask_epi8(_mm_cmpeq_epi8(v, want)))
      return p + std::countr_zero(static_cast<unsigned>(m));
  }
#endif
  for (; p < end; ++p)
    if (*p == c) return p;
  return nullptr;
}

// The position of c in s at or after from, or npos.
inline size_t findIn(std::string_view s, char c, size_t from = 0) {
  if (from >= s.size()) return std::string_view::npos;
  const char* hit = findByte(s.data() + from, s.data() + s.size(), c);
  return hit ? static_cast<size_t>(hit - s.data()) : std::string_view::npos;
}

// The next tag at or after pos: the positions of its "<" and ">", or false
// when the rest is character data ("<" missing, ">" missing, or a ">" before
// the next "<").
bool findTag(std::string_view text, size_t pos, size_t& lt, size_t& gt);

// What ParseTag makes of the text from "<" to ">" inclusive.
struct TagScan {
  int32_t type = 0;           // a clsTagString::Type
  std::string_view name;
  std::string_view attrText;  // what ParseAttrs runs on; empty when none
};
// Raises run-time error 5 for "<?>", whose inside cannot lose a question
// mark at both ends.
TagScan parseTag(std::string_view tagText);

struct AttrView {
  std::string_view name;
  std::string_view value;  // entities not decoded
};
// ParseAttrs: appends each attribute of s to out in order of appearance
// (a repeated name appears again).
void parseAttrs(std::string_view s, std::vector<AttrView>& out);

// Appends text with the five entities encoded ("&" first).
void appendEncoded(std::string& out, std::string_view text);
// Decodes the entities of text[from, size) in place and shortens size.
// Returns the position of the first "&" that came from "&amp;" (the only
// place where a later decoding could find a new entity), or npos.
size_t decodeInPlace(char* text, size_t& size, size_t from);
size_t decodeInPlace(std::string& text, size_t from);
// The value with its entities decoded.
std::string decodedValue(std::string_view value);

}  // namespace quill::detail
