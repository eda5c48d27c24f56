// One pass over the text with a stack of the elements still open (names and
// where they began), so nesting costs heap, never stack. The first fault
// ends the pass: it is thrown as an offset and a text, and the offset becomes
// a line and a column only then.
#include "store/tag_syntax.h"

#include <vector>

namespace quill {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Characters that cannot be part of a tag or attribute name.
bool endsName(char c) {
  return isSpace(c) || c == '<' || c == '>' || c == '/' || c == '=' || c == '"' || c == '\'' || c == '&' ||
         c == '?' || c == '!';
}

constexpr std::string_view kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};

struct Fault {
  size_t at;
  std::string what;
};

class Checker {
 public:
  explicit Checker(std::string_view text) : text_(text) {}

  void run() {
    if (text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;  // a byte-order mark
    if (text_.substr(pos_).starts_with("<?")) declaration();
    bool rootSeen = false;
    while (pos_ < text_.size()) {
      if (text_[pos_] == '<') {
        markup(rootSeen);
      } else if (open_.empty()) {
        if (!isSpace(text_[pos_])) throw Fault{pos_, "text outside the top-level element"};
        ++pos_;
      } else {
        characterData();
      }
    }
    if (!open_.empty()) {
      const Open& innermost = open_.back();
      throw Fault{innermost.at, "<" + std::string(innermost.name) + "> is never closed"};
    }
    if (!rootSeen) throw Fault{pos_, "the text holds no element"};
  }

  // "line L, column C" of an offset; columns count characters.
  std::string position(size_t at) const {
    const TagSyntaxFault f = locate(at, {});
    return "line " + std::to_string(f.line) + ", column " + std::to_string(f.column);
  }

  // The fault what at an offset.
  TagSyntaxFault locate(size_t at, std::string what) const {
    TagSyntaxFault f{1, 1, std::move(what)};
    for (size_t i = 0; i < at && i < text_.size(); ++i) {
      if (text_[i] == '\n') {
        ++f.line;
        f.column = 1;
      } else if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) {
        ++f.column;  // a character's first byte
      }
    }
    return f;
  }

 private:
  struct Open {
    std::string_view name;
    size_t at;
  };

  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

  std::string_view name() {
    const size_t start = pos_;
    while (pos_ < text_.size() && !endsName(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  void skipSpaces() {
    while (peek() == ' ') ++pos_;
  }

  // At '&': one of the five entities must follow.
  void entity(const char* where) {
    for (const std::string_view e : kEntities)
      if (text_.substr(pos_).starts_with(e)) {
        pos_ += e.size();
        return;
      }
    throw Fault{pos_, std::string("a bare '&' ") + where + " must be written &amp;"};
  }

  void characterData() {
    while (pos_ < text_.size() && text_[pos_] != '<') {
      if (textStart_ == std::string_view::npos && !isSpace(text_[pos_])) textStart_ = pos_;
      if (text_[pos_] == '&') {
        entity("in text");
        continue;
      }
      if (text_[pos_] == '>') throw Fault{pos_, "a bare '>' in text must be written &gt;"};
      ++pos_;
    }
  }

  void markup(bool& rootSeen) {
    const size_t at = pos_;
    const char next = at + 1 < text_.size() ? text_[at + 1] : '\0';
    if (next == '/') return endTag();
    if (next == '!') throw Fault{at, "comments, CDATA and DOCTYPE are not part of a tag document"};
    if (next == '?') throw Fault{at, "a declaration <?...?> may only stand at the very start"};
    if (open_.empty() && rootSeen) throw Fault{at, "a second top-level element; a tag document holds one"};
    ++pos_;
    const std::string_view tag = name();
    if (tag.empty()) throw Fault{at, "a bare '<' must be written &lt;"};
    const bool empty = attributes(tag, "/>");
    if (empty && textStart_ != std::string_view::npos)
      throw Fault{textStart_, "the reader drops text that stands right before an empty-element tag (<" +
                                  std::string(tag) + "/>); move it after the tag or write <" + std::string(tag) +
                                  "></" + std::string(tag) + ">"};
    textStart_ = std::string_view::npos;
    if (open_.empty()) rootSeen = true;
    if (!empty) open_.push_back({tag, at});
  }

  void endTag() {
    const size_t at = pos_;
    pos_ += 2;
    const std::string_view tag = name();
    skipSpaces();
    if (peek() != '>') throw Fault{at, "the end tag </" + std::string(tag) + " is not ended with '>'"};
    ++pos_;
    if (open_.empty()) throw Fault{at, "the end tag </" + std::string(tag) + "> closes no element"};
    if (open_.back().name != tag)
      throw Fault{at, "the end tag </" + std::string(tag) + "> does not close <" + std::string(open_.back().name) +
                          ">, opened at " + position(open_.back().at)};
    open_.pop_back();
    textStart_ = std::string_view::npos;
  }

  void declaration() {
    const size_t at = pos_;
    pos_ += 2;
    if (name() != "xml") throw Fault{at, "the declaration must be <?xml ...?>"};
    attributes("?xml", "?>");
  }

  // Reads the attributes of the tag named tag up to and including '>' (or
  // the special ending, "/>" or "?>"). Returns whether the special ending
  // closed the tag.
  bool attributes(std::string_view tag, std::string_view specialEnd) {
    const std::string inTag = " in <" + std::string(tag) + ">";
    std::vector<std::string_view> seen;
    bool spaced = true;  // a space before the next attribute
    while (true) {
      const char c = peek();
      if (c == '\0') throw Fault{pos_, "the text ends inside the tag <" + std::string(tag) + ">"};
      if (c == ' ') {
        skipSpaces();
        spaced = true;
        continue;
      }
      if (text_.substr(pos_).starts_with(specialEnd)) {
        pos_ += specialEnd.size();
        return true;
      }
      if (c == '>' && specialEnd != "?>") {
        ++pos_;
        return false;
      }
      if (c == '\t' || c == '\r' || c == '\n')
        throw Fault{pos_, "a tab or line break" + inTag + "; only spaces may separate attributes"};
      const size_t start = pos_;
      const std::string_view attr = name();
      if (attr.empty()) throw Fault{pos_, "unexpected '" + std::string(1, c) + "'" + inTag};
      if (!spaced)
        throw Fault{start, "no space between the value of attribute " + std::string(seen.back()) + " and " +
                               std::string(attr) + inTag + " (is a quote missing?)"};
      skipSpaces();
      if (peek() != '=') throw Fault{start, "attribute " + std::string(attr) + inTag + " has no value"};
      ++pos_;
      skipSpaces();
      if (peek() != '"')
        throw Fault{pos_, "the value of attribute " + std::string(attr) + inTag + " must be in double quotes"};
      attributeValue(attr, inTag);
      for (const std::string_view s : seen)
        if (s == attr) throw Fault{start, "attribute " + std::string(attr) + " is given twice" + inTag};
      seen.push_back(attr);
      spaced = false;
    }
  }

  // At the opening quote of the value of attr.
  void attributeValue(std::string_view attr, const std::string& inTag) {
    const size_t quote = pos_++;
    while (true) {
      const char c = peek();
      if (c == '\0')
        throw Fault{quote, "the value of attribute " + std::string(attr) + inTag + " has no closing quote"};
      if (c == '"') break;
      if (c == '<' || c == '>')
        throw Fault{pos_, std::string("'") + c + "' in the value of attribute " + std::string(attr) + inTag +
                              " must be written " + (c == '<' ? "&lt;" : "&gt;") + " (or a quote is missing)"};
      if (c == '&')
        entity("in an attribute value");
      else
        ++pos_;
    }
    ++pos_;
  }

  std::string_view text_;
  size_t pos_ = 0;
  size_t textStart_ = std::string_view::npos;  // non-blank text since the last tag
  std::vector<Open> open_;
};

}  // namespace

std::optional<TagSyntaxFault> findTagSyntaxFault(std::string_view utf8Text) {
  Checker checker(utf8Text);
  try {
    checker.run();
    return std::nullopt;
  } catch (const Fault& fault) {
    return checker.locate(fault.at, fault.what);
  }
}

}  // namespace quill
