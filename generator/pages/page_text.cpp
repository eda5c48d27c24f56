// Text helpers of the page generators. Characters are counted and upper-cased
// as Unicode code points (Qt's case tables for anything beyond ASCII); links
// and anchors are built from bytes, so they work for any catalogue value.
#include "generator/pages/page_text.h"

#include <QString>

#include "common/utf.h"

namespace quill::pages {

std::string upperCharacter(std::string_view utf8, size_t n) {
  const std::string_view ch = nthCharacter(utf8, n);
  if (ch.size() == 1) {
    char c = ch[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return std::string(1, c);
  }
  if (ch.empty()) return {};
  const QString upper = QString::fromUtf8(ch.data(), static_cast<qsizetype>(ch.size())).toUpper();
  return upper.toStdString();
}

std::string urlEncode(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
        b == '.' || b == '_' || b == '~') {
      out += c;
    } else {
      out += '%';
      out += hex[b >> 4];
      out += hex[b & 15];
    }
  }
  return out;
}

std::string letterId(std::string_view letter) {
  static const char hex[] = "0123456789ABCDEF";
  std::string id = "L";
  const std::u16string units = utf8ToUtf16(letter);
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    if (id.size() > 1) id += '-';
    std::string digits;
    do {
      digits.insert(digits.begin(), hex[cp & 15]);
      cp >>= 4;
    } while (cp != 0);
    id += digits;
  }
  return id;
}

std::optional<std::string_view> pageNameProblem(std::string_view name, bool allowEmpty) {
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\') return "it holds a path separator";
    if (b < 0x20 || b == 0x7F) return "it holds a control character";
  }
  size_t first = 0;
  size_t last = name.size();
  while (first < last && name[first] == ' ') ++first;
  while (last > first && name[last - 1] == ' ') --last;
  const std::string_view trimmed = name.substr(first, last - first);
  if (trimmed == "." || trimmed == "..") return "it names a folder";
  if (!allowEmpty && trimmed.empty()) return "it is empty";
  return std::nullopt;
}

}  // namespace quill::pages
