// UTF-8 / UTF-16 conversion. Text inside the programs is UTF-8; tag documents
// and script files are UTF-16LE on disk.
//
// Conversion is lossless for any UTF-16 input: an unpaired surrogate is
// written as its own three-byte sequence (the generalised UTF-8 that some call
// WTF-8) and read back as the same code unit. Invalid UTF-8 bytes become
// U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quill {

std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);

// UTF-16LE bytes, as files hold them, straight to UTF-8 and back. An odd
// last byte is dropped.
std::string utf16leToUtf8(std::string_view bytes);
std::string utf8ToUtf16le(std::string_view utf8);
// The same into memory of the caller's, for converting a file piece by
// piece: writes the UTF-8 form of the whole units of bytes to out, which has
// room for 3 bytes a unit, and returns the number of bytes written. A
// surrogate pair must not be split between two pieces (its halves would
// become two lone surrogates).
size_t utf16leToUtf8(std::string_view bytes, char* out) noexcept;

// UTF-16LE bytes to code units and back; an odd last byte is dropped.
std::u16string utf16leToString(std::string_view bytes);
std::string stringToUtf16le(std::u16string_view text);

// Length in bytes of the UTF-8 sequence that starts with lead byte b
// (1 for ASCII and for stray continuation or invalid bytes).
inline size_t utf8SequenceLength(unsigned char b) noexcept {
  if (b < 0xC0) return 1;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  if (b < 0xF8) return 4;
  return 1;
}

// The first character (code point) of a UTF-8 text, as a view into it;
// empty for an empty text. A truncated sequence yields what is left.
std::string_view firstCharacter(std::string_view utf8) noexcept;

// The n-th character (0-based) of a UTF-8 text, empty when the text is shorter.
std::string_view nthCharacter(std::string_view utf8, size_t n) noexcept;

}  // namespace quill
