#include "engine/template_parser.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/ascii.h"
#include "engine/entities.h"

namespace quill {

namespace {

constexpr size_t npos = std::string_view::npos;


// The first occurrence of a needle at or after a position. Answers are
// remembered, so a run of queries that moves forward through the text scans
// it once.
class NextOccurrence {
 public:
  NextOccurrence(std::string_view text, std::string_view needle) : text_(text), needle_(needle) {}

  size_t from(size_t pos) {
    if (needle_.empty()) return pos <= text_.size() ? pos : npos;
    if (known_ && pos >= from_ && (at_ == npos || pos <= at_)) return at_;
    if (known_ && pos < from_) {
      // Only the stretch before the remembered search start is new.
      const size_t limit = std::min(text_.size(), from_ + needle_.size() - 1);
      const size_t hit = text_.substr(0, limit).find(needle_, pos);
      from_ = pos;
      if (hit != npos) at_ = hit;
      return at_;
    }
    from_ = pos;
    at_ = text_.find(needle_, pos);
    known_ = true;
    return at_;
  }

 private:
  std::string_view text_;
  std::string_view needle_;
  bool known_ = false;
  size_t from_ = 0;
  size_t at_ = npos;
};

struct Tag {
  size_t begin = 0;  // the "<!--"
  size_t end = 0;    // just after the "-->"
  std::string_view type;
  std::string_view attributeText;
};

// Finds tags: "<!--", white space, the prefix, ":", a word (the part type),
// then everything up to the first following "-->" (the attribute text).
class TagScanner {
 public:
  TagScanner(std::string_view text, std::string_view prefix)
      : text_(text), prefix_(prefix), close_(text, "-->") {}

  bool next(size_t from, Tag& tag) {
    // The white space after "<!--" gives back characters only when the
    // prefix itself begins with white space.
    const bool prefixStartsWithSpace = !prefix_.empty() && isSpace(prefix_[0]);
    for (size_t i = from;; ++i) {
      if (i >= text_.size()) return false;
      i = findOpening(i);
      if (i == npos) return false;
      const size_t open = i + 4;
      size_t k = open;
      while (k < text_.size() && isSpace(text_[k])) ++k;
      for (;;) {
        if (matchAt(i, k, tag)) return true;
        if (!prefixStartsWithSpace || k == open) break;
        --k;
      }
    }
  }

 private:
  size_t findOpening(size_t from) const {
#if defined(__GLIBC__) || defined(__APPLE__)
    // The C library's memmem skips ahead far better than a search for "<",
    // which is frequent in HTML.
    const void* hit = memmem(text_.data() + from, text_.size() - from, "<!--", 4);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text_.data()) : npos;
#else
    return text_.find("<!--", from);
#endif
  }

  bool matchAt(size_t begin, size_t k, Tag& tag) {
    const size_t n = text_.size();
    if (text_.compare(k, prefix_.size(), prefix_) != 0) return false;
    const size_t colon = k + prefix_.size();
    if (colon >= n || text_[colon] != ':') return false;
    const size_t w = colon + 1;
    size_t e = w;
    while (e < n && isWordChar(text_[e])) ++e;
    if (e == w) return false;
    const size_t close = close_.from(e);
    if (close == npos) return false;
    tag.begin = begin;
    tag.end = close + 3;
    tag.type = text_.substr(w, e - w);
    tag.attributeText = text_.substr(e, close - e);
    return true;
  }

  std::string_view text_;
  std::string_view prefix_;
  NextOccurrence close_;
};

struct Placeholder {
  size_t begin = 0;  // the start code
  size_t nameBegin = 0;
  size_t nameEnd = 0;
  size_t end = 0;  // just after the end code
};

// Finds placeholders: the start code, the shortest run of one or more word
// characters that the end code follows, the end code; codes are literal text.
class PlaceholderScanner {
 public:
  PlaceholderScanner(std::string_view text, std::string_view startCode, std::string_view endCode)
      : text_(text), start_(startCode), end_(endCode), endFinder_(text, endCode) {
    plain_ = start_.size() == 1 && end_.size() == 1 && !isWordChar(start_[0]) && !isWordChar(end_[0]);
  }

  bool next(size_t from, Placeholder& ph) { return plain_ ? nextPlain(from, ph) : nextGeneral(from, ph); }

 private:
  // Codes that are single non-word characters: the name is the whole word
  // run after the start code, and no start code can lie inside it.
  bool nextPlain(size_t from, Placeholder& ph) {
    const size_t n = text_.size();
    const char sc = start_[0], ec = end_[0];
    while (from < n) {
      const void* hit = std::memchr(text_.data() + from, sc, n - from);
      if (!hit) return false;
      const size_t i = static_cast<size_t>(static_cast<const char*>(hit) - text_.data());
      size_t e = i + 1;
      while (e < n && isWordChar(text_[e])) ++e;
      if (e > i + 1 && e < n && text_[e] == ec) {
        ph = {i, i + 1, e, e + 1};
        return true;
      }
      from = e > i + 1 ? e : i + 1;
    }
    return false;
  }

  bool nextGeneral(size_t from, Placeholder& ph) {
    const size_t n = text_.size();
    for (size_t i = from; i < n; ++i) {
      i = text_.find(start_, i);
      if (i == npos) return false;
      const size_t nb = i + start_.size();
      if (nb >= n) return false;
      const size_t we = wordEnd(nb);
      if (we == nb) continue;
      const size_t f = endFinder_.from(nb + 1);
      if (f != npos && f <= we) {
        ph = {i, nb, f, f + end_.size()};
        return true;
      }
    }
    return false;
  }

  // End of the run of word characters that starts at or runs through pos.
  size_t wordEnd(size_t pos) {
    if (pos >= runBegin_ && pos < runEnd_) return runEnd_;
    size_t e = pos;
    while (e < text_.size() && isWordChar(text_[e])) ++e;
    runBegin_ = pos;
    runEnd_ = e;
    return e;
  }

  std::string_view text_;
  std::string_view start_;
  std::string_view end_;
  NextOccurrence endFinder_;
  bool plain_ = false;
  size_t runBegin_ = 0;
  size_t runEnd_ = 0;
};

}  // namespace

AttrMap parseTagAttributes(std::string_view attributeText) {
  std::string stripped;
  std::string_view s = attributeText;
  if (attributeText.find("\r\n") != npos) {
    stripped.reserve(attributeText.size());
    size_t done = 0;
    for (size_t hit = attributeText.find("\r\n"); hit != npos; hit = attributeText.find("\r\n", done)) {
      stripped.append(attributeText.substr(done, hit - done));
      done = hit + 2;
    }
    stripped.append(attributeText.substr(done));
    s = stripped;
  }

  // Each match is: white space, a name of word characters, white space, "=",
  // white space, a double quote, a value without line feeds, a double quote.
  // The leftmost match starts at the first word run whose tail fits; a run
  // whose tail does not fit is skipped as a whole.
  AttrMap attrs;
  const size_t n = s.size();
  size_t p = 0;
  while (p < n) {
    size_t a = p;
    while (a < n && !isWordChar(s[a])) ++a;
    if (a >= n) break;
    size_t b = a;
    while (b < n && isWordChar(s[b])) ++b;
    size_t t = b;
    while (t < n && isSpace(s[t])) ++t;
    if (t < n && s[t] == '=') {
      ++t;
      while (t < n && isSpace(s[t])) ++t;
      if (t < n && s[t] == '"') {
        size_t q = t + 1;
        while (q < n && s[q] != '"' && s[q] != '\n') ++q;
        if (q < n && s[q] == '"') {
          attrs.set(std::string(s.substr(a, b - a)), htmlEntitiesDecode(s.substr(t + 1, q - t - 1)));
          p = q + 1;
          continue;
        }
      }
    }
    p = b;
  }
  return attrs;
}

std::shared_ptr<MarlPart> TemplateParser::newPart() {
  return std::allocate_shared<MarlPart>(ArenaAllocator<MarlPart>(arena_));
}

MarlParts& TemplateParser::partsOf(MarlPart& container) {
  if (!container.parts_) container.parts_ = std::allocate_shared<MarlParts>(ArenaAllocator<MarlParts>(arena_));
  return *container.parts_;
}

MarlVar* TemplateParser::obtainVar(MarlPart& container, std::string_view name) {
  if (!container.vars_) container.vars_ = std::allocate_shared<MarlVars>(ArenaAllocator<MarlVars>(arena_));
  MarlVars& vars = *container.vars_;
  if (MarlVar* v = vars.find(name)) return v;
  auto var = std::allocate_shared<MarlVar>(ArenaAllocator<MarlVar>(arena_), std::string(name), settings_.startCode,
                                           settings_.endCode);
  vars.addVar(var);
  return var.get();
}

std::shared_ptr<MarlPart> TemplateParser::makeTextPart(MarlPart& container, size_t begin, size_t end) {
  auto part = newPart();
  part->type_ = MarlPart::kText;
  part->key_ = container.key_;
  part->store_ = store_;
  const std::string_view all = store_->text;
  const std::string_view text = all.substr(begin, end - begin);
  part->orgText_ = text;
  auto& segments = store_->segments;
  part->segBegin_ = static_cast<uint32_t>(segments.size());
  const uint32_t mark = ++textParts_;

  const std::string& sc = settings_.startCode;
  const std::string& ec = settings_.endCode;
  PlaceholderScanner scanner(text, sc, ec);
  // Segments render exactly like the variable-by-variable replacement when
  // every placeholder string in the text is one the scanner found (single,
  // distinct, non-word codes) and no literal run ends in an open start code
  // ("{Na" before a placeholder), which an inserted value could complete.
  const bool plainCodes = sc.size() == 1 && ec.size() == 1 && sc != ec && !isWordChar(sc[0]) && !isWordChar(ec[0]);
  bool fragile = false;
  size_t literal = 0;
  Placeholder ph;
  while (scanner.next(literal, ph)) {
    const std::string_view name = text.substr(ph.nameBegin, ph.nameEnd - ph.nameBegin);
    MarlVar* var = obtainVar(container, name);
    const bool firstUse = var->seenInPart_ != mark;
    var->seenInPart_ = mark;
    if (firstUse) part->lastNewVar_ = static_cast<uint32_t>(segments.size());
    segments.push_back({begin + literal, ph.begin - literal, var, firstUse});
    if (plainCodes && !fragile) {
      size_t j = ph.begin;
      while (j > literal && isWordChar(text[j - 1])) --j;
      fragile = j > literal && text[j - 1] == sc[0];
    }
    literal = ph.end;
  }
  segments.push_back({begin + literal, text.size() - literal, nullptr, false});
  part->segEnd_ = static_cast<uint32_t>(segments.size());
  part->segmentsExact_ = plainCodes && !fragile;
  if (part->segEnd_ - part->segBegin_ > 1) part->containerVars_ = container.vars_;
  return part;
}

ParseResult TemplateParser::parse(std::string source) {
  store_ = std::make_shared<TextStore>();
  store_->text = std::move(source);
  arena_ = std::make_shared<ObjectArena>();
  store_->segments.reserve(store_->text.size() / 32 + 16);
  const std::string_view text = store_->text;
  textParts_ = 0;
  ParseResult result;
  result.root = newPart();
  // Open containers, innermost last; the root is never popped.
  std::vector<std::shared_ptr<MarlPart>> open{result.root};

  TagScanner tags(text, settings_.prefix);
  const size_t n = text.size();
  size_t pos = 0;
  Tag tag;
  while (pos < n) {
    const bool found = tags.next(pos, tag);
    const size_t stop = found ? tag.begin : n;
    if (stop > pos) {
      MarlPart& container = *open.back();
      partsOf(container).addPart(makeTextPart(container, pos, stop));
    }
    if (!found) break;
    pos = tag.end;
    if (tag.type != "HtmlPart") continue;

    AttrMap attrs = parseTagAttributes(tag.attributeText);
    const std::string* position = attrs.find("_POSITION");
    if (!position) continue;
    if (*position == "START") {
      auto block = newPart();
      // A START tag without a key still lists "_KEY", empty, after its own attributes.
      if (const std::string* key = attrs.find("_KEY"))
        block->key_ = *key;
      else
        attrs.set("_KEY", std::string());
      block->attrs_ = new (arena_->allocate(sizeof(AttrMap), alignof(AttrMap))) AttrMap(std::move(attrs));
      open.push_back(std::move(block));
    } else if (*position == "END") {
      const std::string* key = attrs.find("_KEY");
      if ((key ? std::string_view(*key) : std::string_view()) != open.back()->key_) continue;
      if (open.size() == 1) break;  // the root is closed: the rest is not read
      auto block = std::move(open.back());
      open.pop_back();
      partsOf(*open.back()).addPart(std::move(block));
    }
  }

  for (size_t i = open.size(); i-- > 1;) {
    result.errors.append("Without \"END\" definition of Key [").append(open[i]->key_).append("]\r\n");
  }
  return result;
}

}  // namespace quill
