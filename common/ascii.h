// Character classes and case folding of ASCII only. Names, identifiers,
// template tags and INI keys are matched by these rules, and every other
// byte (UTF-8 sequences included) is taken as it is: no locale is consulted.
#pragma once

#include <string>
#include <string_view>

namespace quill {

constexpr char toLowerAscii(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char toUpperAscii(char c) noexcept {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string toLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = toLowerAscii(c);
  return out;
}

inline std::string toUpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = toUpperAscii(c);
  return out;
}

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (toLowerAscii(a[i]) != toLowerAscii(b[i])) return false;
  return true;
}

// A letter, digit or underscore: the characters of a name in a template.
constexpr bool isWordChar(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Blank, tab, line feed, vertical tab, form feed or carriage return.
constexpr bool isSpace(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace quill
