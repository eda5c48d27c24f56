#include "dispatch.h"

#include "common/ascii.h"

namespace quill {

namespace {

const MemberInfo& findOrRaise(Dispatch& object, std::string_view member) {
  const MemberInfo* m = object.classInfo().find(member);
  if (!m) throw runtimeError(kNoSuchMember, object.classInfo().className() + "." + std::string(member));
  return *m;
}

}  // namespace

const MemberInfo* ClassInfo::find(std::string_view name) const noexcept {
  for (const auto& m : members_)
    if (equalsIgnoringAsciiCase(m.name, name)) return &m;
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
