// Late binding by member name. Every object that scripts (and other
// components) may reach without knowing its C++ type derives from Dispatch
// and describes its public members once, in a ClassInfo:
//
//   - a method is called with arguments;
//   - a property is read without arguments and may be written (let);
//   - an indexed property is read with arguments (node:Node("Setup")).
//
// Member names are matched without regard to ASCII case, as automation
// clients do. The script host maps properties to fields and methods and
// indexed properties to calls.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation_error.h"
#include "variant.h"

namespace quill {

using Args = std::span<const Variant>;

// Argument i, or Empty when the caller passed fewer (an omitted optional argument).
inline const Variant& arg(Args args, size_t i) {
  static const Variant empty;
  return i < args.size() ? args[i] : empty;
}

class Dispatch;

struct MemberInfo {
  enum class Kind { Method, Property, IndexedProperty };
  using Getter = std::function<Variant(Dispatch& self, Args args)>;
  using Setter = std::function<void(Dispatch& self, Args args, const Variant& value)>;

  std::string name;
  Kind kind = Kind::Method;
  size_t requiredArgs = 0;  // fewer arguments raise 449 "Argument not optional"
  Getter get;               // the call for a method; the reader for a property
  Setter let;               // the writer of a property; empty when read-only
};

class ClassInfo {
 public:
  explicit ClassInfo(std::string className) : className_(std::move(className)) {}

  const std::string& className() const noexcept { return className_; }
  const std::vector<MemberInfo>& members() const noexcept { return members_; }
  const MemberInfo* find(std::string_view name) const noexcept;

  // Typed registration helpers: T is the concrete class the functions take.
  template <class T>
  ClassInfo& method(std::string name, size_t requiredArgs,
                    std::function<Variant(T&, Args)> call) {
    return add({std::move(name), MemberInfo::Kind::Method, requiredArgs, wrapGet(std::move(call)), {}});
  }
  template <class T>
  ClassInfo& property(std::string name, std::function<Variant(T&)> get,
                      std::function<void(T&, const Variant&)> let = {}) {
    MemberInfo::Getter g;
    if (get) g = [get](Dispatch& d, Args) { return get(static_cast<T&>(d)); };
    MemberInfo::Setter s;
    if (let) s = [let](Dispatch& d, Args, const Variant& v) { let(static_cast<T&>(d), v); };
    return add({std::move(name), MemberInfo::Kind::Property, 0, std::move(g), std::move(s)});
  }
  template <class T>
  ClassInfo& indexedProperty(std::string name, size_t requiredArgs,
                             std::function<Variant(T&, Args)> get,
                             std::function<void(T&, Args, const Variant&)> let = {}) {
    MemberInfo::Setter s;
    if (let) s = [let](Dispatch& d, Args a, const Variant& v) { let(static_cast<T&>(d), a, v); };
    return add({std::move(name), MemberInfo::Kind::IndexedProperty, requiredArgs,
                wrapGet(std::move(get)), std::move(s)});
  }

 private:
  template <class T>
  static MemberInfo::Getter wrapGet(std::function<Variant(T&, Args)> f) {
    return [f](Dispatch& d, Args a) { return f(static_cast<T&>(d), a); };
  }
  ClassInfo& add(MemberInfo m) {
    members_.push_back(std::move(m));
    return *this;
  }

  std::string className_;
  std::vector<MemberInfo> members_;
};

class Dispatch : public std::enable_shared_from_this<Dispatch> {
 public:
  virtual ~Dispatch() = default;
  virtual const ClassInfo& classInfo() const = 0;
};

// Calls a method or reads a property (with index arguments for an indexed
// property). Raises 438 for an unknown member, 449 for missing arguments.
Variant invokeGet(Dispatch& object, std::string_view member, Args args = {});
// Writes a property. Raises 438 for an unknown or read-only member.
void invokeLet(Dispatch& object, std::string_view member, Args args, const Variant& value);

}  // namespace quill
