// The strict form of tag document text: well formed, and read the same way
// by the store's lenient reader as by any XML parser. The programs write
// only this form; a text outside it is either damaged or hand-made in a way
// that the reader would take apart differently (a '>' in text ends tag
// recognition, a tab cannot separate attributes, comments never close).
//
// The form: an optional declaration <?xml ...?> at the very start, then
// exactly one element, white space around it. Elements: <name attrs>content
// </name> or <name attrs/>, attributes separated by spaces only, every value
// in double quotes; text and values hold no bare '<', '>' or '&' (only the
// entities &amp; &lt; &gt; &quot; &apos;); no comments, CDATA, doctype or
// other processing instructions; no repeated attribute; no text right before
// an empty-element tag (the reader drops it).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quill {

struct TagSyntaxFault {
  int line = 1;    // 1-based
  int column = 1;  // 1-based, in characters
  std::string what;
};

// The first place where utf8Text leaves the strict form, or nothing when it
// keeps to it. One pass, no recursion.
std::optional<TagSyntaxFault> findTagSyntaxFault(std::string_view utf8Text);

}  // namespace quill
