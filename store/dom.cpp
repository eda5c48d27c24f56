#include "store/dom.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <span>
#include <type_traits>
#include <unordered_set>

#include "common/ascii.h"
#include "common/automation_error.h"
#include "common/utf.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUILL_HAVE_SSE2 1
#endif

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#define QUILL_HAVE_FSYNC 1
#endif

namespace fs = std::filesystem;

namespace quill {

namespace {

thread_local bool tStrict = false;
std::atomic<int64_t> gLiveNodes{0};

constexpr const char* kComponent = "cvSystemDB";

// Trims blanks (code 32 only) on both sides.
inline std::string_view trim32(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Part of a view whose bounds are known to be valid (substr checks them).
inline std::string_view part(std::string_view s, size_t from, size_t count) { return {s.data() + from, count}; }
inline std::string_view rest(std::string_view s, size_t from) { return {s.data() + from, s.size() - from}; }

// The first c in [p, end), or nullptr; sixteen bytes at a time where the
// processor allows, and without a library call for short texts.
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

// The first '<' or '>' in [p, end), or nullptr.
inline const char* findAngle(const char* p, const char* end) {
#if QUILL_HAVE_SSE2
  const __m128i lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>');
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (const int m = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, gt))))
      return p + std::countr_zero(static_cast<unsigned>(m));
  }
#endif
  for (; p < end; ++p)
    if (*p == '<' || *p == '>') return p;
  return nullptr;
}

// Position of c in s at or after from, or npos.
inline size_t findIn(std::string_view s, char c, size_t from = 0) {
  if (from >= s.size()) return std::string_view::npos;
  const char* hit = findByte(s.data() + from, s.data() + s.size(), c);
  return hit ? static_cast<size_t>(hit - s.data()) : std::string_view::npos;
}

AutomationError wrongTagName(int32_t number, std::string_view index) {
  return AutomationError(number, "cvDomNode.Node", "Wrong Tag Name of \"" + std::string(index) + "\"");
}

// The entity that starts at text[i] (text[i] == '&'): its length and the
// character it stands for, or length 0.
inline size_t matchEntity(std::string_view text, size_t i, char& ch) {
  std::string_view rest = text.substr(i + 1);
  if (rest.starts_with("lt;")) return ch = '<', 4;
  if (rest.starts_with("gt;")) return ch = '>', 4;
  if (rest.starts_with("amp;")) return ch = '&', 5;
  if (rest.starts_with("quot;")) return ch = '"', 6;
  if (rest.starts_with("apos;")) return ch = '\'', 6;
  return 0;
}

// Decodes text from position `from` on, in place (the four character
// entities and then "&amp;", which is the same as one pass since no
// replacement can form or break another entity). Returns the position of the
// first '&' produced from "&amp;" (the only place where a new entity can
// start), or npos.
size_t decodeInPlace(char* text, size_t& size, size_t from) {
  size_t firstProduced = std::string::npos;
  size_t r = from, w = from;
  const size_t n = size;
  const std::string_view all(text, n);
  while (r < n) {
    const void* hit = std::memchr(text + r, '&', n - r);
    const size_t amp = hit ? static_cast<size_t>(static_cast<const char*>(hit) - text) : n;
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
    if (ch == '&' && firstProduced == std::string::npos) firstProduced = w;
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

// ---- tag scanning -------------------------------------------------------

struct TagScan {
  int32_t type = clsTagString::kNone;
  std::string_view name;
  std::string_view attrText;  // what ParseAttrs runs on; empty when none
};

// ParseTag on the text from "<" to ">" inclusive.
TagScan parseTag(std::string_view t) {
  TagScan r;
  std::string_view s = trim32(part(t, 1, t.size() - 2));
  if (!s.empty() && s.front() == '/') {
    r.type = clsTagString::kEnd;
    r.name = rest(s, 1);
    return r;
  }
  if (!s.empty() && s.back() == '/') {
    r.type = clsTagString::kEmpty;
    s = trim32(part(s, 0, s.size() - 1));
  } else if (!s.empty() && s.front() == '?' && s.back() == '?') {
    // "<?>": the inside is one question mark, which cannot be stripped from
    // both ends.
    if (s.size() < 2) throw runtimeError(kInvalidCall, kComponent);
    r.type = clsTagString::kDeclaration;
    s = part(s, 1, s.size() - 2);
  } else {
    r.type = clsTagString::kStart;
  }
  const size_t sp = findIn(s, ' ');
  if (sp == std::string_view::npos) {
    r.name = s;
  } else {
    r.name = part(s, 0, sp);
    r.attrText = rest(s, sp + 1);
  }
  return r;
}

// ParseAttrs: calls f(name, value) for each attribute in order of appearance.
template <class F>
void parseAttrs(std::string_view s, F&& f) {
  s = trim32(s);
  while (!s.empty()) {
    const size_t eq = findIn(s, '=');
    if (eq == std::string_view::npos) break;
    std::string_view name = trim32(part(s, 0, eq));
    s = trim32(rest(s, eq + 1));
    std::string_view value;
    if (!s.empty() && s.front() == '"') {
      const size_t close = findIn(s, '"', 1);
      if (close != std::string_view::npos) {
        value = part(s, 1, close - 1);
        s = trim32(rest(s, close + 1));
      } else {
        value = s;
        s = {};
      }
    } else {
      const size_t sp = findIn(s, ' ');
      if (sp != std::string_view::npos) {
        value = part(s, 0, sp);
        s = trim32(rest(s, sp + 1));
      } else {
        value = s;
        s = {};
      }
    }
    f(name, value);
  }
}

// Finds the next tag at or after pos: sets lt and gt, or returns false when
// the rest is character data ("<" missing, ">" missing or ">" first).
inline bool findTag(std::string_view text, size_t pos, size_t& lt, size_t& gt) {
  const char* base = text.data();
  const char* end = base + text.size();
  // The tag runs from the first "<" to the first ">" after it, unless a ">"
  // comes first.
  const char* open = findAngle(base + pos, end);
  if (!open || *open == '>') return false;
  const char* close = findByte(open + 1, end, '>');
  if (!close) return false;
  lt = static_cast<size_t>(open - base);
  gt = static_cast<size_t>(close - base);
  return true;
}

std::string decodedValue(std::string_view v) {
  if (v.find('&') == std::string_view::npos) return std::string(v);
  return decodeEntities(v);
}

// ---- UTF-16LE <-> UTF-8 ---------------------------------------------------

// One code point of UTF-8 at s[i] (advancing i); an invalid sequence gives
// U+FFFD and advances one byte. Three-byte surrogate forms are accepted.
char32_t decodeUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  const size_t len = utf8SequenceLength(b0);
  if (len == 1 || i + len > s.size() || b0 < 0xC2) {
    ++i;
    return b0 < 0x80 ? b0 : 0xFFFD;
  }
  char32_t cp = b0 & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
    ++i;
    return 0xFFFD;
  }
  i += len;
  return cp;
}

}  // namespace

bool storeDebugFlag() noexcept { return tStrict; }
void setStoreDebugFlag(bool strict) noexcept { tStrict = strict; }

std::string encodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendEncoded(out, text);
  return out;
}

std::string decodeEntities(std::string_view text) {
  std::string out(text);
  decodeInPlace(out, 0);
  return out;
}

namespace {

// Converts UTF-16LE bytes into out, which has room for 3 bytes per unit;
// returns the length written.
size_t convertUtf16le(const unsigned char* p, size_t units, char* out) {
  char* o = out;
  size_t i = 0;
  while (i < units) {
#if QUILL_HAVE_SSE2
    // Sixteen units at a time while they are ASCII. All sixteen are stored;
    // the output has room, and what follows the ASCII ones is overwritten.
    const __m128i highBits = _mm_set1_epi16(static_cast<short>(0xFF80));
    while (i + 16 <= units) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i + 16));
      const __m128i asciiA = _mm_cmpeq_epi16(_mm_and_si128(a, highBits), _mm_setzero_si128());
      const __m128i asciiB = _mm_cmpeq_epi16(_mm_and_si128(b, highBits), _mm_setzero_si128());
      const auto ascii = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(asciiA, asciiB)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(a, b));
      const unsigned lead = ascii == 0xFFFF ? 16 : static_cast<unsigned>(std::countr_one(ascii));
      o += lead;
      i += lead;
      if (lead < 16) break;
    }
    if (i == units) break;
#endif
    // Four ASCII units at a time.
    if (i + 4 <= units) {
      uint64_t w;
      std::memcpy(&w, p + 2 * i, 8);
      if ((w & 0xFF80FF80FF80FF80ull) == 0) {
        o[0] = static_cast<char>(w);
        o[1] = static_cast<char>(w >> 16);
        o[2] = static_cast<char>(w >> 32);
        o[3] = static_cast<char>(w >> 48);
        o += 4;
        i += 4;
        continue;
      }
    }
    char32_t cu = p[2 * i] | (p[2 * i + 1] << 8);
    if (cu < 0x80) {
      *o++ = static_cast<char>(cu);
      ++i;
      continue;
    }
    if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < units) {
      const char32_t lo = p[2 * i + 2] | (p[2 * i + 3] << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cu = 0x10000 + ((cu - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    // A lone surrogate keeps its own three bytes.
    if (cu < 0x800) {
      *o++ = static_cast<char>(0xC0 | (cu >> 6));
      *o++ = static_cast<char>(0x80 | (cu & 0x3F));
    } else if (cu < 0x10000) {
      *o++ = static_cast<char>(0xE0 | (cu >> 12));
      *o++ = static_cast<char>(0x80 | ((cu >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (cu & 0x3F));
    } else {
      *o++ = static_cast<char>(0xF0 | (cu >> 18));
      *o++ = static_cast<char>(0x80 | ((cu >> 12) & 0x3F));
      *o++ = static_cast<char>(0x80 | ((cu >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (cu & 0x3F));
    }
    ++i;
  }
  return static_cast<size_t>(o - out);
}

}  // namespace

std::string utf16leBytesToUtf8(std::string_view bytes) {
  const size_t units = bytes.size() / 2;
  std::unique_ptr<char[]> buf(new char[units * 3 + 1]);
  const size_t n = convertUtf16le(reinterpret_cast<const unsigned char*>(bytes.data()), units, buf.get());
  return std::string(buf.get(), n);
}

std::string utf8ToUtf16leBytes(std::string_view text) {
  std::string out;
  out.resize(text.size() * 2);
  char* o = out.data();
  size_t w = 0;
  size_t i = 0;
  const size_t n = text.size();
  auto grow = [&](size_t need) {
    if (w + need > out.size()) {
      out.resize(std::max(out.size() * 2, w + need));
      o = out.data();
    }
  };
  while (i < n) {
    if (i + 8 <= n) {
      uint64_t v;
      std::memcpy(&v, text.data() + i, 8);
      if ((v & 0x8080808080808080ull) == 0) {
        grow(16);
        for (int k = 0; k < 8; ++k) {
          o[w++] = text[i + k];
          o[w++] = 0;
        }
        i += 8;
        continue;
      }
    }
    const auto b = static_cast<unsigned char>(text[i]);
    grow(4);
    if (b < 0x80) {
      o[w++] = static_cast<char>(b);
      o[w++] = 0;
      ++i;
      continue;
    }
    const char32_t cp = decodeUtf8(text, i);
    auto put = [&](char32_t u) {
      o[w++] = static_cast<char>(u & 0xFF);
      o[w++] = static_cast<char>((u >> 8) & 0xFF);
    };
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  out.resize(w);
  return out;
}

// ---- cvDomNode --------------------------------------------------------------

cvDomNode::cvDomNode() noexcept { gLiveNodes.fetch_add(1, std::memory_order_relaxed); }
cvDomNode::cvDomNode(std::string tagName) noexcept : tagName_(std::move(tagName)) {
  gLiveNodes.fetch_add(1, std::memory_order_relaxed);
}

// Releases the subtree without recursion, so that a deep document cannot
// overflow the stack when it is freed.
cvDomNode::~cvDomNode() {
  gLiveNodes.fetch_sub(1, std::memory_order_relaxed);
  if (children_.empty()) return;
  ChildList pending = std::move(children_);
  while (!pending.empty()) {
    DomNodeRef n = std::move(pending.back());
    pending.pop_back();
    if (n && n.use_count() == 1) {
      for (auto& c : n->children_) pending.push_back(std::move(c));
      n->children_.clear();
    }
  }
}

int64_t cvDomNode::liveCount() noexcept { return gLiveNodes.load(std::memory_order_relaxed); }

DomNodeRef cvDomNode::create(std::string tagName) { return std::make_shared<cvDomNode>(std::move(tagName)); }

std::string cvDomNode::getAttr(std::string_view name, std::string_view defaultValue) {
  if (const std::string* v = attrs_.find(name)) return *v;
  if (tStrict) throw AutomationError(10006, "DomNode.SetAttr", "Wrong AttrName of " + std::string(name));
  attrs_.set(std::string(name), std::string(defaultValue));
  return std::string(defaultValue);
}

void cvDomNode::setAttr(std::string_view name, std::string value) {
  if (std::string* v = attrs_.find(name)) {
    *v = std::move(value);
    return;
  }
  if (tStrict) throw AutomationError(10006, "DomNode.SetAttr", "Wrong AttrName of " + std::string(name));
  attrs_.set(std::string(name), std::move(value));
}

void cvDomNode::removeAttr(std::string_view name) { attrs_.erase(name); }

std::string cvDomNode::getText(std::string_view defaultValue) const {
  return text_.empty() ? std::string(defaultValue) : text_;
}

DomNodeRef cvDomNode::childNamed(std::string_view name) const {
  ensureChildren();
  for (const auto& c : children_)
    if (c && c->tagName_ == name) return c;
  return nullptr;
}

bool cvDomNode::existsName(std::string_view name) const { return childNamed(name) != nullptr; }

DomNodeRef cvDomNode::nodeAt(int64_t position) const {
  ensureChildren();
  if (position < 0 || position > static_cast<int64_t>(children_.size()))
    throw wrongTagName(10005, std::to_string(position));
  if (position == 0) throw runtimeError(kSubscriptOutOfRange, kComponent);
  return children_[static_cast<size_t>(position - 1)];
}

namespace {

// One step of a name lookup on node n (no backslash in step).
DomNodeRef lookupStep(cvDomNode& n, std::string_view step) {
  // A text that reads as a number is a position given as text: it is not a
  // tag name, and the child list has no keys to look it up by.
  if (auto d = parseNumber(step)) {
    if (*d < 0 || *d > n.length()) throw wrongTagName(10005, step);
    throw runtimeError(kInvalidCall, kComponent);
  }
  for (const auto& c : n.children())
    if (c && c->tagName() == step) return c;
  if (tStrict) throw wrongTagName(10002, step);
  auto created = cvDomNode::create(std::string(step));
  n.children().push_back(created);
  return created;
}

}  // namespace

DomNodeRef cvDomNode::node(std::string_view nameOrPath) {
  if (nameOrPath.find('\\') == std::string_view::npos) return lookupStep(*this, nameOrPath);
  DomNodeRef cur;
  cvDomNode* at = this;
  std::string_view rest = nameOrPath;
  for (;;) {
    const size_t bs = rest.find('\\');
    if (bs == std::string_view::npos) return lookupStep(*at, rest);
    cur = lookupStep(*at, rest.substr(0, bs));
    at = cur.get();
    rest = rest.substr(bs + 1);
  }
}

DomNodeRef cvDomNode::nodeVar(const Variant& index) {
  if (index.isNumeric()) {
    const double d = index.toDouble();
    if (d < 0 || d > length()) throw wrongTagName(10005, index.toText());
    if (index.isText()) throw runtimeError(kInvalidCall, kComponent);
    return nodeAt(index.toLong());
  }
  return node(std::string_view(index.toText()));
}

bool cvDomNode::exists(const Variant& index) const {
  if (auto n = index.asWholeNumber()) return *n >= 1 && *n <= length();
  return existsName(index.toText());
}

void cvDomNode::checkAdoptable(const DomNodeRef& newNode) const {
  if (!newNode) throw runtimeError(kObjectNotSet, kComponent);
  // A node may not become its own descendant: the tree would never be
  // freed and could not be written.
  std::vector<const cvDomNode*> pending{newNode.get()};
  std::unordered_set<const cvDomNode*> seen;
  while (!pending.empty()) {
    const cvDomNode* n = pending.back();
    pending.pop_back();
    if (n == this) throw runtimeError(kInvalidCall, kComponent);
    // Children not made into nodes yet cannot hold this node.
    if (n->children_.empty() || !seen.insert(n).second) continue;
    for (const auto& c : n->children_)
      if (c) pending.push_back(c.get());
  }
}

DomNodeRef cvDomNode::setNode(const Variant& index, DomNodeRef newNode) {
  if (!newNode) throw runtimeError(kObjectNotSet, kComponent);
  ensureChildren();
  if (auto pos = index.asWholeNumber()) {
    if (*pos < 1 || *pos > length()) throw runtimeError(kSubscriptOutOfRange, kComponent);
    checkAdoptable(newNode);
    children_[static_cast<size_t>(*pos - 1)] = newNode;
    return newNode;
  }
  const std::string name = index.toText();
  for (auto& c : children_) {
    if (c && c->tagName_ == name) {
      checkAdoptable(newNode);
      c = newNode;
      return newNode;
    }
  }
  return nullptr;
}

DomNodeRef cvDomNode::removeNodeAt(int64_t position) {
  if (position < 1 || position > length()) throw runtimeError(kSubscriptOutOfRange, kComponent);
  ensureChildren();
  auto it = children_.begin() + (position - 1);
  DomNodeRef removed = std::move(*it);
  children_.erase(it);
  return removed;
}

DomNodeRef cvDomNode::removeNode(const DomNodeRef& child) {
  if (!child) return nullptr;
  ensureChildren();
  for (auto it = children_.begin(); it != children_.end(); ++it) {
    if (*it == child) {
      DomNodeRef removed = std::move(*it);
      children_.erase(it);
      return removed;
    }
  }
  return nullptr;
}

DomNodeRef cvDomNode::removeNodeVar(const Variant& index) {
  if (index.isNumeric()) return removeNodeAt(index.toLong());
  return removeNode(index.as<cvDomNode>());
}

void cvDomNode::appendNode(DomNodeRef newNode) {
  checkAdoptable(newNode);
  ensureChildren();
  newNode->parent_ = std::static_pointer_cast<cvDomNode>(weak_from_this().lock());
  children_.push_back(std::move(newNode));
}

std::string cvDomNode::value() const { return nodeToText(*this); }

void cvDomNode::setValue(std::string_view text) {
  DomNodeRef parsed = textToNode(text);
  attrs_ = std::move(parsed->attrs_);
  children_ = std::move(parsed->children_);
  parsed->children_.clear();
  // Children not made yet are made later as this node's.
  pending_ = parsed->pending_;
  pendingTree_ = std::move(parsed->pendingTree_);
  parsed->pending_ = nullptr;
  // The adopted children now belong to this node.
  auto self = std::static_pointer_cast<cvDomNode>(weak_from_this().lock());
  for (auto& c : children_)
    if (c && c->parent_.lock() == parsed) c->parent_ = self;
  setText(parsed->getText());
  tagName_ = parsed->tagName_;
}

// ---- reading ------------------------------------------------------------

namespace detail {

// An attribute as read: name and value (entities not yet decoded) in the
// text of the reading.
struct ReadAttr {
  std::string_view name;
  std::string_view value;
};

// An element as read. Its text is either a piece of the text of the reading
// (capacity 0) or a buffer of its own in the reading's blocks.
struct ReadElement {
  std::string_view name;
  const ReadAttr* attrs = nullptr;
  size_t attrCount = 0;
  char* text = nullptr;
  size_t textSize = 0;
  size_t textCapacity = 0;
  ReadElement* firstChild = nullptr;
  ReadElement* next = nullptr;
  size_t childCount = 0;
};

// Memory blocks for readings. Blocks of the usual sizes that a reading
// releases are kept, up to kPoolLimit bytes in all, for the next one: reading
// one document after another then reuses memory instead of handing it back to
// the system and faulting it in again. Small blocks are not kept.
class BlockPool {
 public:
  static constexpr size_t kSmallestPooled = size_t{16} << 10;
  static constexpr size_t kLargestPooled = size_t{4} << 20;
  static constexpr size_t kPoolLimit = size_t{16} << 20;

  // The size of the block that holds `bytes`: a power of two when pooled.
  static size_t blockSize(size_t bytes) {
    if (bytes < kSmallestPooled || bytes > kLargestPooled) return bytes;
    return std::bit_ceil(bytes);
  }

  static char* take(size_t size) {
    if (pooled(size)) {
      BlockPool& p = instance();
      std::lock_guard lock(p.mutex_);
      for (size_t i = p.free_.size(); i-- > 0;) {
        if (p.free_[i].first != size) continue;
        char* b = p.free_[i].second;
        p.free_.erase(p.free_.begin() + static_cast<std::ptrdiff_t>(i));
        p.bytes_ -= size;
        return b;
      }
    }
    return static_cast<char*>(::operator new(size));
  }

  static void give(char* block, size_t size) noexcept {
    if (pooled(size)) {
      BlockPool& p = instance();
      std::lock_guard lock(p.mutex_);
      if (p.bytes_ + size <= kPoolLimit && p.free_.size() < p.free_.capacity()) {
        p.free_.emplace_back(size, block);
        p.bytes_ += size;
        return;
      }
    }
    ::operator delete(block);
  }

 private:
  BlockPool() { free_.reserve(kPoolLimit / kSmallestPooled); }
  static bool pooled(size_t size) { return size >= kSmallestPooled && size <= kLargestPooled; }
  // Never destroyed: readings may end after static destruction has begun.
  static BlockPool& instance() {
    static BlockPool* pool = new BlockPool;
    return *pool;
  }

  std::mutex mutex_;
  std::vector<std::pair<size_t, char*>> free_;
  size_t bytes_ = 0;
};

// What one reading made: the text it read and its elements, in large blocks
// released together when the last node that still needs them is gone.
class ReadTree {
 public:
  ReadTree() = default;
  ReadTree(const ReadTree&) = delete;
  ReadTree& operator=(const ReadTree&) = delete;
  ~ReadTree() {
    for (const auto& [b, size] : blocks_) BlockPool::give(b, size);
  }

  // A buffer for the text to read, owned by the tree.
  char* textBuffer(size_t bytes) { return newBlock(bytes); }
  // The buffer moved to a larger one, keeping its first `used` bytes.
  char* growTextBuffer(char* buffer, size_t used, size_t bytes) {
    char* grown = newBlock(bytes);
    std::memcpy(grown, buffer, used);
    const auto old = std::find_if(blocks_.begin(), blocks_.end(), [&](const auto& b) { return b.first == buffer; });
    BlockPool::give(old->first, old->second);
    blocks_.erase(old);
    return grown;
  }
  // Sizes the blocks for the elements of a text of that length.
  void expectText(size_t bytes) {
    nextBlock_ = std::clamp(std::bit_ceil(2 * bytes + 1), kSmallestBlock, kLargestBlock);
  }

  void* allocate(size_t bytes) {
    bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
    if (static_cast<size_t>(end_ - cur_) < bytes) {
      // Large pieces get a block of their own; the current one stays open.
      if (bytes > nextBlock_ / 4) return newBlock(bytes);
      cur_ = newBlock(nextBlock_);
      end_ = cur_ + nextBlock_;
      nextBlock_ = std::min(nextBlock_ * 2, kLargestBlock);
    }
    void* p = cur_;
    cur_ += bytes;
    return p;
  }
  template <class T>
  T* make() {
    static_assert(alignof(T) <= kAlign && std::is_trivially_destructible_v<T>);
    return new (allocate(sizeof(T))) T();
  }

 private:
  static constexpr size_t kAlign = alignof(std::max_align_t);
  static constexpr size_t kSmallestBlock = 256;
  static constexpr size_t kLargestBlock = size_t{1} << 20;

  char* newBlock(size_t bytes) {
    const size_t size = BlockPool::blockSize(bytes);
    if (blocks_.size() == blocks_.capacity()) blocks_.reserve(2 * blocks_.size() + 8);
    char* b = BlockPool::take(size);
    blocks_.emplace_back(b, size);
    return b;
  }

  std::vector<std::pair<char*, size_t>> blocks_;
  char* cur_ = nullptr;
  char* end_ = nullptr;
  size_t nextBlock_ = BlockPool::kSmallestPooled;
};

}  // namespace detail

using detail::ReadAttr;
using detail::ReadElement;
using detail::ReadTree;

DomNodeRef cvDomNode::fromElement(const ReadElement& e, const std::shared_ptr<const ReadTree>& tree,
                                  const std::weak_ptr<cvDomNode>& parent) {
  auto node = std::make_shared<cvDomNode>(std::string(e.name));
  if (e.attrCount) {
    node->attrs_.reserve(e.attrCount);
    for (size_t i = 0; i < e.attrCount; ++i)
      node->attrs_.set(std::string(e.attrs[i].name), decodedValue(e.attrs[i].value));
  }
  node->text_.assign(e.text, e.textSize);
  node->parent_ = parent;
  if (e.firstChild) {
    node->pending_ = &e;
    node->pendingTree_ = tree;
  }
  return node;
}

void cvDomNode::expandChildren() const {
  const std::weak_ptr<cvDomNode> self =
      std::static_pointer_cast<cvDomNode>(const_cast<cvDomNode*>(this)->weak_from_this().lock());
  ChildList made;
  made.reserve(pending_->childCount);
  for (const ReadElement* c = pending_->firstChild; c; c = c->next) made.push_back(fromElement(*c, pendingTree_, self));
  children_ = std::move(made);
  pending_ = nullptr;
  pendingTree_.reset();
}

void cvDomNode::removeAllNode() {
  children_ = ChildList();
  pending_ = nullptr;
  pendingTree_.reset();
}

namespace {

// Appends to an element's text, moving it into a buffer of its own first
// when it is still a piece of the text read. (That text belongs to the
// reading, which decodes entities in such pieces in place.)
void appendText(ReadTree& tree, ReadElement& e, std::string_view more) {
  if (more.empty()) return;
  if (e.textSize == 0 && e.textCapacity == 0) {
    // The piece itself, until something is added to it.
    e.text = const_cast<char*>(more.data());
    e.textSize = more.size();
    return;
  }
  if (e.textSize + more.size() > e.textCapacity) {
    const size_t capacity = std::max<size_t>(2 * (e.textSize + more.size()), 32);
    char* grown = static_cast<char*>(tree.allocate(capacity));
    std::memcpy(grown, e.text, e.textSize);
    e.text = grown;
    e.textCapacity = capacity;
  }
  std::memcpy(e.text + e.textSize, more.data(), more.size());
  e.textSize += more.size();
}

}  // namespace

void cvDomDoc::parseText(cvDomNode& start, std::string_view text) {
  const auto tree = std::make_shared<ReadTree>();
  char* copy = tree->textBuffer(text.size() + 1);
  std::memcpy(copy, text.data(), text.size());
  parseInto(start, tree, std::string_view(copy, text.size()));
}

// The elements read are kept as plain records in the reading's blocks; the
// nodes of the caller's tree (start, and its ancestors when an end tag
// leaves it) get theirs as nodes at the end, which make their own children
// on first use.
void cvDomDoc::parseInto(cvDomNode& start, const std::shared_ptr<ReadTree>& tree, std::string_view text) {
  tree->expectText(text.size());
  struct Frame {
    cvDomNode* node;          // a node of the caller's tree, or null
    DomNodeRef hold;          // keeps a node reached through Parent alive
    ReadElement* element;     // else an element of this reading
    ReadElement* lastChild;
    size_t dirty;             // first place where an entity may start
    std::string_view name() const { return node ? std::string_view(node->tagName()) : element->name; }
  };
  // Elements read as children of the caller's nodes, in order.
  struct Adoption {
    cvDomNode* parent;
    DomNodeRef hold;
    const ReadElement* element;
  };
  std::vector<Frame> stack;
  std::vector<Adoption> adoptions;
  std::vector<ReadAttr> attrScratch;
  stack.push_back(Frame{&start, nullptr, nullptr, nullptr, start.text().find('&')});

  auto current = [&]() -> Frame& {
    if (stack.empty()) throw runtimeError(kObjectNotSet, kComponent);
    return stack.back();
  };
  // Text before a tag; an entity may span the old end and the new piece.
  auto appendBefore = [&](Frame& f, std::string_view before) {
    if (before.empty()) return;
    size_t oldLen;
    std::string_view now;
    if (f.node) {
      std::string& t = f.node->textRef();
      oldLen = t.size();
      t.append(before);
      now = t;
    } else {
      oldLen = f.element->textSize;
      appendText(*tree, *f.element, before);
      now = std::string_view(f.element->text, f.element->textSize);
    }
    if (f.dirty == std::string::npos) {
      const size_t from = oldLen >= 5 ? oldLen - 5 : 0;
      const size_t amp = findIn(now, '&', from);
      if (amp != std::string::npos) f.dirty = amp;
    }
  };
  auto decodeText = [&](Frame& f) {
    if (f.dirty == std::string::npos) return;
    if (f.node)
      f.dirty = decodeInPlace(f.node->textRef(), f.dirty);
    else
      f.dirty = decodeInPlace(f.element->text, f.element->textSize, f.dirty);
  };
  auto element = [&](Frame& f, const TagScan& tag) {
    ReadElement* e = tree->make<ReadElement>();
    e->name = tag.name;
    if (!tag.attrText.empty()) {
      attrScratch.clear();
      parseAttrs(tag.attrText, [&](std::string_view name, std::string_view value) {
        attrScratch.push_back(ReadAttr{name, value});
      });
      auto* attrs = static_cast<ReadAttr*>(tree->allocate(sizeof(ReadAttr) * attrScratch.size()));
      std::uninitialized_copy(attrScratch.begin(), attrScratch.end(), attrs);
      e->attrs = attrs;
      e->attrCount = attrScratch.size();
    }
    if (f.node) {
      adoptions.push_back(Adoption{f.node, f.hold, e});
    } else {
      (f.lastChild ? f.lastChild->next : f.element->firstChild) = e;
      f.lastChild = e;
      ++f.element->childCount;
    }
    return e;
  };
  // Gives the caller's nodes their children read so far.
  auto adopt = [&]() {
    for (const Adoption& a : adoptions) {
      const std::weak_ptr<cvDomNode> parent =
          std::static_pointer_cast<cvDomNode>(a.parent->weak_from_this().lock());
      DomNodeRef child = cvDomNode::fromElement(*a.element, tree, parent);
      a.parent->children().push_back(std::move(child));
    }
    adoptions.clear();
  };

  try {
    size_t pos = 0;
    const size_t n = text.size();
    while (pos < n) {
      size_t lt, gt;
      if (!findTag(text, pos, lt, gt)) {
        Frame& f = current();
        const bool hadText = f.node ? !f.node->text().empty() : f.element->textSize > 0;
        if (f.node) {
          if (hadText) f.node->textRef().append("\r\n");
          f.node->textRef().append(text.substr(pos));
        } else {
          if (hadText) appendText(*tree, *f.element, "\r\n");
          appendText(*tree, *f.element, text.substr(pos));
        }
        break;
      }
      const std::string_view before = text.substr(pos, lt - pos);
      const TagScan tag = parseTag(text.substr(lt, gt - lt + 1));
      pos = gt + 1;
      switch (tag.type) {
        case clsTagString::kStart: {
          Frame& f = current();
          appendBefore(f, before);
          ReadElement* e = element(f, tag);
          stack.push_back(Frame{nullptr, nullptr, e, nullptr, std::string::npos});
          break;
        }
        case clsTagString::kEnd: {
          Frame& f = current();
          appendBefore(f, before);
          decodeText(f);
          if (tag.name == f.name()) {
            if (stack.size() > 1) {
              stack.pop_back();
            } else {
              // Past the outermost node: on with its parent, if any.
              DomNodeRef p = f.node ? f.node->parent() : nullptr;
              stack.pop_back();
              if (p) {
                const size_t amp = p->text().find('&');
                cvDomNode* raw = p.get();
                stack.push_back(Frame{raw, std::move(p), nullptr, nullptr, amp});
              }
            }
          }
          break;
        }
        case clsTagString::kEmpty:
          element(current(), tag);
          break;
        case clsTagString::kDeclaration:
          parseAttrs(tag.attrText, [&](std::string_view name, std::string_view value) {
            declaration_.set(toLowerAscii(name), std::string(value));
          });
          break;
      }
    }
  } catch (...) {
    adopt();
    throw;
  }
  adopt();
}

DomNodeRef textToNode(std::string_view text) {
  cvDomDoc scratch;
  auto container = cvDomNode::create();
  scratch.parseText(*container, text);
  if (container->children().size() == 1) {
    DomNodeRef only = container->children().front();
    return only;
  }
  return container;
}

// ---- writing ------------------------------------------------------------

namespace {

void appendAttr(std::string& out, std::string_view name, std::string_view value) {
  out.push_back(' ');
  out.append(name);
  out.append("=\"");
  appendEncoded(out, value);
  out.push_back('"');
}

void openTag(std::string& out, const cvDomNode& n) {
  out.push_back('<');
  out.append(n.tagName());
  for (const auto& [name, value] : n.attrTable()) appendAttr(out, name, value);
}

// The start tag of an element as read, with the attributes a node made from
// it would have: the first place of each name, with the last value given.
void openTag(std::string& out, const ReadElement& e) {
  out.push_back('<');
  out.append(e.name);
  const auto attrs = std::span(e.attrs, e.attrCount);
  if (attrs.size() > 12) {
    // Many attributes: the table itself rather than pairwise comparisons.
    AttrTable table;
    table.reserve(attrs.size());
    for (const ReadAttr& a : attrs) table.set(std::string(a.name), std::string(a.value));
    for (const auto& [name, value] : table) appendAttr(out, name, decodedValue(value));
    return;
  }
  for (size_t i = 0; i < attrs.size(); ++i) {
    const std::string_view name = attrs[i].name;
    if (std::any_of(attrs.begin(), attrs.begin() + i, [&](const ReadAttr& a) { return a.name == name; }))
      continue;
    std::string_view value = attrs[i].value;
    for (size_t j = i + 1; j < attrs.size(); ++j)
      if (attrs[j].name == name) value = attrs[j].value;
    if (value.find('&') == std::string_view::npos)
      appendAttr(out, name, value);
    else
      appendAttr(out, name, decodeEntities(value));
  }
}

}  // namespace

// Children not made into nodes yet are written from what was read.
void cvDomNode::writeTo(std::string& out, const cvDomNode& root) {
  struct Frame {
    const cvDomNode* node;       // a node, or null for an element read
    const ReadElement* element;  // else the element read
    size_t next;                 // the node's next child, or
    const ReadElement* read;     // the next child still as read
  };
  std::vector<Frame> stack;
  auto openNode = [&](const cvDomNode& n) {
    openTag(out, n);
    if (n.text_.empty() && n.children_.empty() && !n.pending_) {
      out.append("/>");
      return;
    }
    out.push_back('>');
    appendEncoded(out, n.text_);
    stack.push_back(Frame{&n, nullptr, 0, n.pending_ ? n.pending_->firstChild : nullptr});
  };
  auto openRead = [&](const ReadElement& e) {
    openTag(out, e);
    if (e.textSize == 0 && !e.firstChild) {
      out.append("/>");
      return;
    }
    out.push_back('>');
    appendEncoded(out, std::string_view(e.text, e.textSize));
    stack.push_back(Frame{nullptr, &e, 0, e.firstChild});
  };
  openNode(root);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.read) {
      const ReadElement* child = f.read;
      f.read = child->next;
      openRead(*child);
      continue;
    }
    if (f.node && f.next < f.node->children_.size()) {
      const cvDomNode* child = f.node->children_[f.next++].get();
      if (child) openNode(*child);
      continue;
    }
    out.append("</");
    out.append(f.node ? std::string_view(f.node->tagName_) : f.element->name);
    out.push_back('>');
    stack.pop_back();
  }
}

std::string nodeToText(const cvDomNode& node) {
  std::string out;
  cvDomNode::writeTo(out, node);
  return out;
}

// ---- cvDomDoc -------------------------------------------------------------

cvDomDoc::cvDomDoc() { declaration_.set("version", "1.0"); }

DomNodeRef cvDomDoc::createNode(std::string tagName) const {
  if (tagName.empty()) throw AutomationError(10002, "", "");
  return cvDomNode::create(std::move(tagName));
}

std::string cvDomDoc::getAttr(std::string_view name, std::string_view defaultValue) const {
  if (const std::string* v = declaration_.find(toLowerAscii(name))) return *v;
  return std::string(defaultValue);
}

void cvDomDoc::setAttr(std::string_view name, std::string value) {
  declaration_.set(toLowerAscii(name), std::move(value));
}

void cvDomDoc::removeAttr(std::string_view name) { declaration_.erase(toLowerAscii(name)); }

std::string cvDomDoc::documentText() const {
  std::string out = "<?xml";
  for (const auto& [name, value] : declaration_) {
    out.push_back(' ');
    out.append(name);
    out.append("=\"");
    out.append(value);
    out.push_back('"');
  }
  out.append("?>");
  if (root_) cvDomNode::writeTo(out, *root_);
  return out;
}

void cvDomDoc::readDoc(std::string_view path) {
  if (!path.empty()) filePath_ = std::string(path);
  try {
    std::error_code ec;
    if (!fs::is_regular_file(fs::path(filePath_), ec))
      throw AutomationError(19999, "ReadDoc", filePath_ + "is not exist.");
    // The text as UTF-8, converted as the file is read in pieces. The buffer
    // starts at one byte a unit (ASCII) and grows when a piece might not fit
    // (3 bytes a unit at most).
    const auto tree = std::make_shared<ReadTree>();
    char* text = nullptr;
    size_t textLength = 0;
    {
      std::ifstream in(fs::path(filePath_), std::ios::binary);
      if (!in) throw AutomationError(19999, "ReadDoc", "Permission denied");
      in.seekg(0, std::ios::end);
      const std::streamoff size = in.tellg();
      in.seekg(0, std::ios::beg);
      if (size < 0) throw AutomationError(19999, "ReadDoc", "Path/File access error");
      if (size < 3) throw AutomationError(19999, "ReadDoc", "Input past end of file");
      char header[2];
      if (!in.read(header, 2)) throw AutomationError(19999, "ReadDoc", "Path/File access error");
      header_ = {static_cast<unsigned char>(header[0]), static_cast<unsigned char>(header[1])};
      const size_t units = static_cast<size_t>(size - 2) / 2;
      constexpr size_t kPiece = size_t{1} << 16;  // bytes, even
      size_t capacity = units + 3 * (kPiece / 2) + 1;
      text = tree->textBuffer(capacity);
      std::unique_ptr<unsigned char[]> piece(new unsigned char[kPiece]);
      size_t carried = 0;  // bytes of a high surrogate kept for the next piece
      for (size_t left = units * 2; left > 0;) {
        const size_t want = std::min(kPiece - carried, left);
        if (!in.read(reinterpret_cast<char*>(piece.get()) + carried, static_cast<std::streamsize>(want)))
          throw AutomationError(19999, "ReadDoc", "Path/File access error");
        left -= want;
        size_t count = (carried + want) / 2;
        carried = 0;
        // A pair split between two pieces is converted with the next one.
        const unsigned lastHighByte = piece[2 * count - 1];  // of the last unit
        if (left > 0 && lastHighByte >= 0xD8 && lastHighByte <= 0xDB) {
          --count;
          carried = 2;
        }
        if (capacity - textLength < 3 * count + 1) {
          const size_t grown = std::max(capacity + capacity / 2, textLength + 3 * count + 1);
          text = tree->growTextBuffer(text, textLength, grown);
          capacity = grown;
        }
        textLength += convertUtf16le(piece.get(), count, text + textLength);
        if (carried) std::memcpy(piece.get(), piece.get() + 2 * count, 2);
      }
    }
    auto container = cvDomNode::create();
    parseInto(*container, tree, std::string_view(text, textLength));
    if (container->children().size() != 1)
      throw AutomationError(19999, "ReadDoc", "Wrong format of file " + filePath_);
    root_ = container->children().front();
  } catch (const AutomationError& e) {
    if (e.number() == 19999) throw;
    throw AutomationError(19999, "ReadDoc", e.description());
  } catch (const std::bad_alloc&) {
    throw AutomationError(19999, "ReadDoc", "Out of memory");
  }
}

namespace {

// Writes UTF-8 text as UTF-16LE in pieces, so that a large document needs no
// second whole copy in memory.
bool writeUtf16le(FILE* f, std::string_view text) {
  constexpr size_t kPiece = 1 << 16;
  while (!text.empty()) {
    size_t n = std::min(kPiece, text.size());
    // End the piece on a character boundary (continuation bytes are 10xxxxxx).
    while (n < text.size() && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    if (n == 0) n = std::min(kPiece, text.size());
    const std::string units = utf8ToUtf16leBytes(text.substr(0, n));
    if (std::fwrite(units.data(), 1, units.size(), f) != units.size()) return false;
    text.remove_prefix(n);
  }
  return true;
}

[[noreturn]] void saveFailure(int err) {
  int32_t number;
  const char* text;
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      number = 76;
      text = "Path not found";
      break;
    case ENOSPC:
      number = 61;
      text = "Disk full";
      break;
    default:
      number = 75;
      text = "Path/File access error";
      break;
  }
  throw AutomationError(10000 + number, "clxDom->SaveDoc", text);
}

}  // namespace

void cvDomDoc::saveDoc(std::string_view path) {
  if (!path.empty()) filePath_ = std::string(path);
  if (!root_)
    throw AutomationError(10000 + kObjectNotSet, "clxDom->SaveDoc", runtimeErrorText(kObjectNotSet));
  if (filePath_.empty()) saveFailure(EACCES);
  std::string text;
  try {
    text = documentText();
  } catch (const std::bad_alloc&) {
    throw AutomationError(10007, "clxDom->SaveDoc", "Out of memory");
  }

  // Write a new file beside the old one and rename it over: a failure at any
  // point leaves the old file as it was.
  const fs::path target(filePath_);
  static std::atomic<unsigned> counter{0};
  std::string tmp;
  FILE* f = nullptr;
  for (int attempt = 0; attempt < 100 && !f; ++attempt) {
    tmp = filePath_ + ".tmp" + std::to_string(
#if QUILL_HAVE_FSYNC
                                   static_cast<long>(::getpid())
#else
                                   0L
#endif
                                   ) +
          "-" + std::to_string(counter.fetch_add(1));
    errno = 0;
    f = std::fopen(tmp.c_str(), "wbx");
    if (!f && errno != EEXIST) saveFailure(errno);
  }
  if (!f) saveFailure(EEXIST);
  int err = 0;
  const char header[2] = {static_cast<char>(header_[0]), static_cast<char>(header_[1])};
  if (std::fwrite(header, 1, 2, f) != 2 || !writeUtf16le(f, text)) err = errno ? errno : EIO;
  if (!err && std::fflush(f) != 0) err = errno ? errno : EIO;
#if QUILL_HAVE_FSYNC
  if (!err && ::fsync(::fileno(f)) != 0 && errno != EINVAL) err = errno;
#endif
  if (std::fclose(f) != 0 && !err) err = errno ? errno : EIO;
  std::error_code ec;
  if (!err) {
    // Keep the permissions of the file being replaced.
    const auto st = fs::status(target, ec);
    if (!ec && fs::is_regular_file(st)) fs::permissions(tmp, st.permissions(), ec);
    ec.clear();
    fs::rename(tmp, target, ec);
    if (ec) err = ec.value();
  }
  if (err) {
    std::error_code ignored;
    fs::remove(tmp, ignored);
    saveFailure(err);
  }
}

// ---- clsTagString -----------------------------------------------------------

void clsTagString::inputString(std::string_view src) {
  tagName.clear();
  beforeText.clear();
  afterText.clear();
  tagType = kNone;
  tagAttr.clear();
  tagText.clear();
  size_t lt, gt;
  if (!findTag(src, 0, lt, gt)) {
    beforeText = std::string(src);
    return;
  }
  beforeText = std::string(src.substr(0, lt));
  afterText = std::string(src.substr(gt + 1));
  tagText = std::string(src.substr(lt, gt - lt + 1));
  const TagScan tag = parseTag(tagText);
  tagType = tag.type;
  tagName = std::string(tag.name);
  parseAttrs(tag.attrText, [&](std::string_view name, std::string_view value) {
    tagAttr.set(std::string(name), std::string(value));
  });
}

}  // namespace quill
