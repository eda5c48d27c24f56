// Template variables: a MarlVar is one hole of a template ({Title}), a
// MarlVars the ordered collection of a part's variables. A variable object is
// shared between a block and every text part of that block that uses it, so a
// value given through any of them reaches all of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/dispatch.h"
#include "common/ordered_map.h"

namespace quill {

class MarlVar final : public Dispatch {
 public:
  // A detached variable: empty name, placeholder and value.
  MarlVar() = default;
  MarlVar(std::string key, std::string startCode, std::string endCode);

  const std::string& key() const noexcept { return key_; }
  const std::string& placeholder() const noexcept { return placeholder_; }
  const std::string& value() const noexcept { return value_; }

  // Stores the text, replacing the previous value.
  void replace(std::string_view value);
  void replace(const std::string& value) { replace(std::string_view(value)); }
  void replace(const char* value) { replace(std::string_view(value)); }
  // Replace as scripts call it: a value without a text form (Null, an
  // object, an array) stores empty text instead of failing.
  void replace(const Variant& value);
  void clear() noexcept {
    value_.clear();
    codeInValue_ = false;
  }

  // True when the value holds one of the placeholder codes, so that it could
  // take part in forming another placeholder while a text is rendered.
  bool codeInValue() const noexcept { return codeInValue_; }
  // True when both codes are single characters other than word characters.
  bool plainCodes() const noexcept { return startCode_ != 0; }

  const ClassInfo& classInfo() const override;

 private:
  std::string key_;
  std::string placeholder_;
  std::string value_;
  char startCode_ = 0;  // set only for plain codes
  char endCode_ = 0;
  bool codeInValue_ = false;
};

class MarlVars final : public Dispatch {
 public:
  using VarRef = std::shared_ptr<MarlVar>;

  int32_t count() const noexcept { return static_cast<int32_t>(vars_.size()); }
  size_t size() const noexcept { return vars_.size(); }
  // The variable at a 0-based position.
  MarlVar& at(size_t position) const { return *vars_.at(position).second; }
  const VarRef& refAt(size_t position) const { return vars_.at(position).second; }

  // The name at a 1-based position; run-time error 9 outside 1..count().
  const std::string& varName(int64_t index) const;
  std::vector<std::string> varKeys() const { return vars_.keys(); }
  // The variable of that name, or nullptr.
  MarlVar* find(std::string_view name) const;
  // The variable of that name, or a new detached variable.
  VarRef getVar(std::string_view name) const;
  // Every variable of the collection gets the empty value.
  void reset() noexcept;

  const ClassInfo& classInfo() const override;

  // Used while a template is parsed.
  const VarRef& obtainVar(std::string_view name, std::string_view startCode, std::string_view endCode);
  void addVar(const VarRef& var);
  void clearVars() noexcept { vars_.clear(); }

 private:
  OrderedMap<std::string, VarRef> vars_;
};

}  // namespace quill
