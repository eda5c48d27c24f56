// Message and trace texts carry CR LF line breaks (scripts and captions are
// written that way); terminals and Qt's text widgets want LF alone.
#pragma once

#include <string>
#include <string_view>

namespace quill {

// text with every CR LF, and every lone CR, turned into LF.
std::string toLineFeeds(std::string_view text);

}  // namespace quill
