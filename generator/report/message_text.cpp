// One pass over the text: a CR followed by LF is dropped (the LF stays), a
// lone CR becomes LF.
#include "generator/report/message_text.h"

namespace quill {

std::string toLineFeeds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i] == '\r' ? '\n' : text[i]);
  }
  return out;
}

}  // namespace quill
