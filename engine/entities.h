// Conversion between the four HTML entities the engine knows and their
// characters. The table order is "&amp;", "&gt;", "&lt;", "&quot;"; decoding
// makes one pass per row in that order, so "&amp;lt;" decodes to "<".
#pragma once

#include <string>
#include <string_view>

namespace quill {

std::string htmlEntitiesDecode(std::string_view text);
std::string htmlEntitiesEncode(std::string_view text);

}  // namespace quill
