#include "engine/marl_vars.h"

#include <cstring>

#include "common/ascii.h"

namespace quill {

namespace {
bool isPlainCode(std::string_view code) {
  return code.size() == 1 && !isWordChar(code[0]);
}
}  // namespace

MarlVar::MarlVar(std::string key, std::string startCode, std::string endCode) : key_(std::move(key)) {
  placeholder_.reserve(startCode.size() + key_.size() + endCode.size());
  placeholder_.append(startCode).append(key_).append(endCode);
  if (isPlainCode(startCode) && isPlainCode(endCode) && startCode != endCode) {
    startCode_ = startCode[0];
    endCode_ = endCode[0];
  }
}

void MarlVar::replace(std::string_view value) {
  value_.assign(value.data(), value.size());
  codeInValue_ = false;
  if (startCode_ != 0 && !value.empty()) {
    codeInValue_ = std::memchr(value.data(), startCode_, value.size()) != nullptr ||
                   std::memchr(value.data(), endCode_, value.size()) != nullptr;
  }
}

void MarlVar::replace(const Variant& value) {
  if (const std::string* s = value.text()) {
    replace(std::string_view(*s));
    return;
  }
  std::string text;
  try {
    text = value.toText();
  } catch (const AutomationError&) {
    text.clear();
  }
  replace(std::string_view(text));
}

const ClassInfo& MarlVar::classInfo() const {
  static const ClassInfo info = [] {
    ClassInfo c("MarlVar");
    c.property<MarlVar>("Key", [](MarlVar& v) { return Variant(v.key()); });
    c.method<MarlVar>("Replace", 1, [](MarlVar& v, Args a) {
      v.replace(arg(a, 0));
      return Variant();
    });
    return c;
  }();
  return info;
}

const std::string& MarlVars::varName(int64_t index) const {
  if (index < 1 || index > static_cast<int64_t>(vars_.size()))
    throw runtimeError(kSubscriptOutOfRange, "MarlVars.GetVarName");
  return vars_.at(static_cast<size_t>(index - 1)).first;
}

MarlVar* MarlVars::find(std::string_view name) const {
  auto* v = vars_.find(name);
  return v ? v->get() : nullptr;
}

MarlVars::VarRef MarlVars::getVar(std::string_view name) const {
  if (auto* v = vars_.find(name)) return *v;
  return std::make_shared<MarlVar>();
}

void MarlVars::reset() noexcept {
  for (auto& e : vars_) e.second->clear();
}

void MarlVars::addVar(const VarRef& var) {
  if (!vars_.contains(var->key())) vars_.set(var->key(), var);
}

const ClassInfo& MarlVars::classInfo() const {
  static const ClassInfo info = [] {
    ClassInfo c("MarlVars");
    c.method<MarlVars>("Count", 0, [](MarlVars& v, Args) { return Variant(v.count()); });
    c.method<MarlVars>("GetVarName", 1, [](MarlVars& v, Args a) {
      return Variant(v.varName(arg(a, 0).toLong()));
    });
    c.method<MarlVars>("GetVarKeys", 0, [](MarlVars& v, Args) { return Variant(v.varKeys()); });
    c.method<MarlVars>("GetVar", 1, [](MarlVars& v, Args a) {
      // Names are text: any other kind of index finds nothing.
      const std::string* name = arg(a, 0).text();
      return Variant(name ? v.getVar(*name) : std::make_shared<MarlVar>());
    });
    c.method<MarlVars>("Reset", 0, [](MarlVars& v, Args) {
      v.reset();
      return Variant();
    });
    return c;
  }();
  return info;
}

}  // namespace quill
