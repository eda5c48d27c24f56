#include "dispatch.h"

namespace quill {

namespace {

bool sameNameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

const MemberInfo& findOrRaise(Dispatch& object, std::string_view member) {
  const MemberInfo* m = object.classInfo().find(member);
  if (!m) throw runtimeError(kNoSuchMember, object.classInfo().className() + "." + std::string(member));
  return *m;
}

}  // namespace

const MemberInfo* ClassInfo::find(std::string_view name) const noexcept {
  for (const auto& m : members_)
    if (sameNameNoCase(m.name, name)) return &m;
  return nullptr;
}

Variant invokeGet(Dispatch& object, std::string_view member, Args args) {
  const MemberInfo& m = findOrRaise(object, member);
  if (!m.get) throw runtimeError(kNoSuchMember, object.classInfo().className() + "." + m.name);
  if (args.size() < m.requiredArgs)
    throw runtimeError(kArgumentNotOptional, object.classInfo().className() + "." + m.name);
  return m.get(object, args);
}

void invokeLet(Dispatch& object, std::string_view member, Args args, const Variant& value) {
  const MemberInfo& m = findOrRaise(object, member);
  if (!m.let) throw runtimeError(kNoSuchMember, object.classInfo().className() + "." + m.name);
  m.let(object, args, value);
}

}  // namespace quill
