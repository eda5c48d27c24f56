// One UTF-8 decoder (decodeOne) and one UTF-16 unit reader (takeUnit) serve
// every conversion. UTF-8 to UTF-16 decodes code points and splits those
// above U+FFFF into surrogate pairs; UTF-16 to UTF-8 joins a high surrogate
// with a following low one and writes any other unit, a lone surrogate
// included, as its own sequence.
//
// The byte forms take ASCII, most of what documents and scripts hold,
// several units at a time; UTF-16LE to UTF-8 does sixteen at a time with
// SSE2, which the store's ReadDoc needs to meet its speed target (without it
// ReadDoc ran at about 0.4 of pugixml's rate instead of 0.5 or more; see
// store/dom_read.cpp).
#include "utf.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define QUILL_HAVE_SSE2 1
#endif

namespace quill {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Decodes one code point at s[i]; advances i. Returns kReplacement (and
// advances one byte) on an invalid sequence. Three-byte encodings of
// surrogates are accepted so that generalised UTF-8 round-trips.
char32_t decodeOne(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  const size_t len = utf8SequenceLength(b0);
  if (len == 1 || i + len > s.size() || b0 < 0xC2) {
    ++i;
    return b0 < 0x80 ? b0 : kReplacement;
  }
  char32_t cp = b0 & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  // Reject overlong forms and values beyond Unicode.
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
    ++i;
    return kReplacement;
  }
  i += len;
  return cp;
}

// Calls put with the UTF-16 unit or units of a code point.
template <class Put>
void splitCodePoint(char32_t cp, Put put) {
  if (cp >= 0x10000) {
    put(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
    put(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
  } else {
    put(static_cast<char16_t>(cp));
  }
}

// The code point of unit i of units (unitAt(k) reads unit k): a high
// surrogate followed by a low one is a pair, any other unit stands for
// itself. Advances i past what it took.
template <class UnitAt>
char32_t takeUnit(UnitAt unitAt, size_t units, size_t& i) {
  const char32_t cu = unitAt(i++);
  if (cu >= 0xD800 && cu <= 0xDBFF && i < units) {
    const char32_t lo = unitAt(i);
    if (lo >= 0xDC00 && lo <= 0xDFFF) {
      ++i;
      return 0x10000 + ((cu - 0xD800) << 10) + (lo - 0xDC00);
    }
  }
  return cu;
}

// Writes cp as UTF-8 at o and returns the end of what it wrote.
char* putUtf8(char* o, char32_t cp) {
  if (cp < 0x80) {
    *o++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *o++ = static_cast<char>(0xC0 | (cp >> 6));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *o++ = static_cast<char>(0xE0 | (cp >> 12));
    *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *o++ = static_cast<char>(0xF0 | (cp >> 18));
    *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return o;
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) splitCodePoint(decodeOne(utf8, i), [&](char16_t u) { out.push_back(u); });
  return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
  std::string out(3 * utf16.size(), '\0');
  char* o = out.data();
  auto unitAt = [utf16](size_t k) -> char32_t { return utf16[k]; };
  for (size_t i = 0; i < utf16.size();) o = putUtf8(o, takeUnit(unitAt, utf16.size(), i));
  out.resize(static_cast<size_t>(o - out.data()));
  return out;
}

namespace {

// Copies the leading ASCII units of p[0, units) to o as bytes and returns
// their number. May write up to 16 bytes beyond them when the units go on.
size_t copyAsciiUnits(const unsigned char* p, size_t units, char* o) noexcept {
  size_t i = 0;
#if QUILL_HAVE_SSE2
  // Sixteen units at a time: all sixteen are stored, and what follows the
  // ASCII ones is overwritten by the caller.
  const __m128i highBits = _mm_set1_epi16(static_cast<short>(0xFF80));
  for (; i + 16 <= units; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i + 16));
    const __m128i asciiA = _mm_cmpeq_epi16(_mm_and_si128(a, highBits), _mm_setzero_si128());
    const __m128i asciiB = _mm_cmpeq_epi16(_mm_and_si128(b, highBits), _mm_setzero_si128());
    const auto ascii = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(asciiA, asciiB)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), _mm_packus_epi16(a, b));
    if (ascii != 0xFFFF) return i + static_cast<size_t>(std::countr_one(ascii));
  }
#endif
  for (; i < units && p[2 * i + 1] == 0 && p[2 * i] < 0x80; ++i) o[i] = static_cast<char>(p[2 * i]);
  return i;
}

}  // namespace

size_t utf16leToUtf8(std::string_view bytes, char* out) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t units = bytes.size() / 2;
  auto unitAt = [p](size_t k) -> char32_t { return p[2 * k] | (p[2 * k + 1] << 8); };
  char* o = out;
  size_t i = 0;
  while (i < units) {
    if (p[2 * i + 1] == 0 && p[2 * i] < 0x80) {
      const size_t ascii = copyAsciiUnits(p + 2 * i, units - i, o);
      o += ascii;
      i += ascii;
    } else {
      o = putUtf8(o, takeUnit(unitAt, units, i));
    }
  }
  return static_cast<size_t>(o - out);
}

std::string utf16leToUtf8(std::string_view bytes) {
  std::string out(3 * (bytes.size() / 2), '\0');
  out.resize(utf16leToUtf8(bytes, out.data()));
  return out;
}

std::string utf8ToUtf16le(std::string_view utf8) {
  // At most two bytes a UTF-8 byte: one byte gives one unit, and four bytes
  // at most two.
  std::string out(2 * utf8.size(), '\0');
  char* o = out.data();
  auto put = [&o](char16_t u) {
    *o++ = static_cast<char>(u & 0xFF);
    *o++ = static_cast<char>(u >> 8);
  };
  size_t i = 0;
  while (i < utf8.size()) {
    // ASCII eight bytes at a time.
    if (i + 8 <= utf8.size()) {
      uint64_t v;
      std::memcpy(&v, utf8.data() + i, 8);
      if ((v & 0x8080808080808080ull) == 0) {
        for (int k = 0; k < 8; ++k) put(static_cast<char16_t>(utf8[i + k]));
        i += 8;
        continue;
      }
    }
    splitCodePoint(decodeOne(utf8, i), put);
  }
  out.resize(static_cast<size_t>(o - out.data()));
  return out;
}

std::u16string utf16leToString(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return out;
}

std::string stringToUtf16le(std::u16string_view text) {
  std::string out(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = static_cast<char>(text[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return out;
}

std::string_view firstCharacter(std::string_view utf8) noexcept { return nthCharacter(utf8, 0); }

std::string_view nthCharacter(std::string_view utf8, size_t n) noexcept {
  size_t i = 0;
  for (;;) {
    if (i >= utf8.size()) return {};
    size_t len = utf8SequenceLength(static_cast<unsigned char>(utf8[i]));
    if (i + len > utf8.size()) len = utf8.size() - i;
    if (n == 0) return utf8.substr(i, len);
    --n;
    i += len;
  }
}

}  // namespace quill
