// The part tree of a parsed template. A container part (the root or a block)
// holds text parts and inner blocks in document order; a text part holds the
// literal text between tags and the variables found in it. Parts are built
// once by the parser and never change afterwards, apart from the values of
// their variables.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/dispatch.h"
#include "common/ordered_map.h"
#include "engine/marl_vars.h"

namespace quill {

class MarlPart;
class TemplateParser;

using AttrMap = OrderedMap<std::string, std::string>;

class MarlParts final : public Dispatch {
 public:
  using PartRef = std::shared_ptr<MarlPart>;

  MarlParts() = default;
  MarlParts(const MarlParts&) = delete;
  MarlParts& operator=(const MarlParts&) = delete;
  // Tears a deep tree down without recursing once per level.
  ~MarlParts() override;

  int32_t count() const noexcept { return static_cast<int32_t>(items_.size()); }
  size_t size() const noexcept { return items_.size(); }
  // The part at a 1-based position; error 8003 "Wrong Index of <index>" otherwise.
  const PartRef& part(int64_t index) const;
  // GetPart as scripts call it: any numeric value from 1 to count().
  const PartRef& getPart(const Variant& index) const;
  // 0-based access and iteration for native callers.
  const PartRef& at(size_t position) const { return items_.at(position); }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

  const ClassInfo& classInfo() const override;

 private:
  friend class TemplateParser;
  friend class MarlPart;
  void addPart(PartRef part) { items_.push_back(std::move(part)); }

  std::vector<PartRef> items_;
};

class MarlPart final : public Dispatch {
 public:
  enum Type : int16_t { kContainer = 1, kText = 2 };

  // A new part is an empty container part.
  MarlPart() = default;

  const std::string& key() const noexcept { return key_; }
  const std::string& orgText() const noexcept { return orgText_; }
  int16_t partType() const noexcept { return type_; }
  bool isText() const noexcept { return type_ == kText; }

  // Children in document order (always empty for text parts).
  MarlParts& parts() const { return *partsRef(); }
  const std::shared_ptr<MarlParts>& partsRef() const;
  MarlVars& vars() const { return *varsRef(); }
  const std::shared_ptr<MarlVars>& varsRef() const;
  const AttrMap& attrs() const noexcept { return attrs_; }

  // The rendered text: a text part's text with every placeholder replaced
  // by its variable's value; a container's text parts rendered one after
  // the other (inner blocks contribute nothing).
  std::string getText() const;
  // Appends the rendered text to out.
  void appendText(std::string& out) const;

  // The attribute's value, or fallback when the part has no such attribute.
  std::string getAttr(std::string_view name, std::string_view fallback = {}) const;
  std::vector<std::string> attrKeys() const { return attrs_.keys(); }
  int32_t attrCount() const noexcept { return static_cast<int32_t>(attrs_.size()); }
  // The name at a 1-based position; run-time error 9 outside 1..attrCount().
  const std::string& attrName(int64_t index) const;

  const ClassInfo& classInfo() const override;

 private:
  friend class TemplateParser;
  friend class MarlParts;

  // One literal run of a text part followed by a placeholder (var set), or
  // the trailing literal run (var null).
  struct Segment {
    size_t begin;
    size_t length;
    const MarlVar* var;
  };

  bool canRenderBySegments() const noexcept;
  void appendBySegments(std::string& out) const;
  void appendSequentially(std::string& out) const;

  std::string key_;
  std::string orgText_;
  int16_t type_ = kContainer;
  // Set by the parser for a text part whose segments render exactly as the
  // variable-by-variable replacement does, as long as no value holds a code.
  bool segmentsExact_ = false;
  mutable std::shared_ptr<MarlParts> parts_;
  mutable std::shared_ptr<MarlVars> vars_;
  AttrMap attrs_;
  std::vector<Segment> segments_;
};

}  // namespace quill
