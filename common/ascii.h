// Case-insensitive comparison and folding of ASCII letters only: member
// names, programmatic identifiers, declaration and INI names compare this
// way, and other characters (UTF-8 bytes included) compare exactly.
#pragma once

#include <string>
#include <string_view>

namespace quill {

constexpr char toLowerAscii(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string toLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = toLowerAscii(c);
  return out;
}

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (toLowerAscii(a[i]) != toLowerAscii(b[i])) return false;
  return true;
}

}  // namespace quill
