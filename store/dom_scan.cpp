// Tag scanning and entity coding. A tag runs from the first "<" to the first
// ">" after it, unless a ">" comes first, in which case the rest of the text
// is character data; ParseTag and ParseAttrs then cut the tag into views of
// its name and attributes. Every search looks for one character from a
// position on (findIn), so a scan is linear.
//
// Decoding is done in place with one pass: the four character entities and
// "&amp;" are replaced as they are met, which gives the same text as
// replacing "&amp;" last, since no replacement can form or break another.
#include "store/dom_scan.h"

#include <cstring>

#include "common/automation_error.h"
#include "store/dom.h"
#include "store/store_error.h"

namespace quill::detail {

namespace {

constexpr size_t npos = std::string_view::npos;

// The entity that starts at text[i] (text[i] == '&'): its length and the
// character it stands for, or length 0.
size_t matchEntity(std::string_view text, size_t i, char& ch) {
  const std::string_view rest = text.substr(i + 1);
  if (rest.starts_with("lt;")) return ch = '<', 4;
  if (rest.starts_with("gt;")) return ch = '>', 4;
  if (rest.starts_with("amp;")) return ch = '&', 5;
  if (rest.starts_with("quot;")) return ch = '"', 6;
  if (rest.starts_with("apos;")) return ch = '\'', 6;
  return 0;
}

}  // namespace

bool findTag(std::string_view text, size_t pos, size_t& lt, size_t& gt) {
  // The first ">" from pos is the tag's end when it comes after the "<".
  lt = findIn(text, '<', pos);
  gt = findIn(text, '>', pos);
  return lt != npos && gt != npos && lt < gt;
}

TagScan parseTag(std::string_view t) {
  TagScan r;
  std::string_view s = trimBlanks(t.substr(1, t.size() - 2));
  if (!s.empty() && s.front() == '/') {
    r.type = clsTagString::kEnd;
    r.name = s.substr(1);
    return r;
  }
  if (!s.empty() && s.back() == '/') {
    r.type = clsTagString::kEmpty;
    s = trimBlanks(s.substr(0, s.size() - 1));
  } else if (!s.empty() && s.front() == '?' && s.back() == '?') {
    if (s.size() < 2) throw runtimeError(kInvalidCall, kStoreComponent);
    r.type = clsTagString::kDeclaration;
    s = s.substr(1, s.size() - 2);
  } else {
    r.type = clsTagString::kStart;
  }
  const size_t sp = findIn(s, ' ');
  r.name = s.substr(0, sp);
  if (sp != npos) r.attrText = s.substr(sp + 1);
  return r;
}

void parseAttrs(std::string_view s, std::vector<AttrView>& out) {
  s = trimBlanks(s);
  while (!s.empty()) {
    const size_t eq = findIn(s, '=');
    if (eq == npos) break;
    const std::string_view name = trimBlanks(s.substr(0, eq));
    s = trimBlanks(s.substr(eq + 1));
    std::string_view value;
    const bool quoted = !s.empty() && s.front() == '"';
    const size_t end = quoted ? findIn(s, '"', 1) : findIn(s, ' ');
    if (end == npos) {
      value = s;  // an unclosed quote stays part of the value
      s = {};
    } else {
      value = quoted ? s.substr(1, end - 1) : s.substr(0, end);
      s = trimBlanks(s.substr(end + 1));
    }
    out.push_back(AttrView{name, value});
  }
}

void appendEncoded(std::string& out, std::string_view text) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* rep;
    switch (text[i]) {
      case '&': rep = "&amp;"; break;
      case '<': rep = "&lt;"; break;
      case '>': rep = "&gt;"; break;
      case '"': rep = "&quot;"; break;
      case '\'': rep = "&apos;"; break;
      default: continue;
    }
    out.append(text.data() + start, i - start);
    out.append(rep);
    start = i + 1;
  }
  out.append(text.data() + start, text.size() - start);
}

size_t decodeInPlace(char* text, size_t& size, size_t from) {
  size_t firstProduced = npos;
  size_t r = from, w = from;
  const size_t n = size;
  const std::string_view all(text, n);
  while (r < n) {
    size_t amp = all.find('&', r);
    if (amp == npos) amp = n;
    if (w != r) std::memmove(text + w, text + r, amp - r);
    w += amp - r;
    r = amp;
    if (r >= n) break;
    char ch;
    const size_t len = matchEntity(all, r, ch);
    if (len == 0) {
      text[w++] = '&';
      ++r;
      continue;
    }
    if (ch == '&' && firstProduced == npos) firstProduced = w;
    text[w++] = ch;
    r += len;
  }
  size = w;
  return firstProduced;
}

size_t decodeInPlace(std::string& text, size_t from) {
  size_t size = text.size();
  const size_t firstProduced = decodeInPlace(text.data(), size, from);
  text.resize(size);
  return firstProduced;
}

std::string decodedValue(std::string_view value) {
  std::string out(value);
  if (value.find('&') != npos) decodeInPlace(out, 0);
  return out;
}

}  // namespace quill::detail

namespace quill {

std::string encodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  detail::appendEncoded(out, text);
  return out;
}

std::string decodeEntities(std::string_view text) { return detail::decodedValue(text); }

}  // namespace quill
