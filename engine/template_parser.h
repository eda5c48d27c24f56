// The template parser: a hand-written scanner for the tag and placeholder
// shapes, and a loop that builds the part tree with an explicit stack of open
// blocks. Work is linear in the length of the template; nesting depth costs
// heap, never stack.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/marl_part.h"

namespace quill {

struct ParseSettings {
  std::string prefix = "MARL";  // tag prefix
  std::string startCode = "{";  // placeholder codes
  std::string endCode = "}";
};

struct ParseResult {
  std::shared_ptr<MarlPart> root;
  // One line per block left without its END tag, innermost first; empty on success.
  std::string errors;
};

// Attribute text of a tag to its attributes: CR LF pairs removed, every
// name="value" match taken in order, values entity-decoded, a repeated name
// keeping its first position and its last value.
AttrMap parseTagAttributes(std::string_view attributeText);

class TemplateParser {
 public:
  explicit TemplateParser(const ParseSettings& settings) : settings_(settings) {}
  ParseResult parse(std::string_view text);

 private:
  std::shared_ptr<MarlPart> makeTextPart(MarlPart& container, std::string_view text);

  const ParseSettings& settings_;
};

}  // namespace quill
