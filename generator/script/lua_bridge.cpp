// Objects reach Lua as full userdata holding an ObjectRef, with one shared
// metatable: __index looks the member up in the object's ClassInfo and
// returns a property's value at once, or a closure that calls a method (bound
// to the object, so obj:M(a) and obj.M(a) both work); __newindex assigns a
// property. A weak registry table maps each object to its one userdata, so
// the same object is always the same Lua value. Every C function that calls
// into C++ runs inside guarded(), which turns a C++ exception into a Lua
// error only after the C++ frames are gone.
#include "lua_bridge.h"

#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include "common/dispatch.h"
#include "common/object_factory.h"

namespace quill::script {

namespace {

constexpr const char* kObjectMeta = "quill.Object";
constexpr const char* kNullMeta = "quill.null";
constexpr const char* kErrorMeta = "quill.AutomationError";
// Registry key of the weak table that maps a Dispatch pointer to its userdata,
// so that one object is always the same Lua value (rawequal, usable as a key).
constexpr const char* kObjectCache = "quill.objects";
constexpr const char* kNullKey = "quill.nullvalue";

// Deep enough for any real argument; stops a table that contains itself.
constexpr int kMaxTableDepth = 32;

struct ObjectBox {
  ObjectRef ref;
};

ObjectBox* toBox(lua_State* L, int index) {
  return static_cast<ObjectBox*>(luaL_testudata(L, index, kObjectMeta));
}

// The object at index, held for the length of a call.
ObjectRef checkObject(lua_State* L, int index) {
  ObjectBox* box = toBox(L, index);
  if (!box || !box->ref) throw runtimeError(kObjectNotSet);
  return box->ref;
}

bool sameObject(lua_State* L, int a, int b) {
  if (lua_rawequal(L, a, b)) return true;
  ObjectBox* x = toBox(L, a);
  ObjectBox* y = toBox(L, b);
  return x && y && x->ref && x->ref == y->ref;
}

std::string memberSource(const Dispatch& object, const std::string& member) {
  return object.classInfo().className() + "." + member;
}

Variant toVariantAt(lua_State* L, int index, int depth) {
  switch (lua_type(L, index)) {
    case LUA_TNONE:
    case LUA_TNIL:
      return {};
    case LUA_TBOOLEAN:
      return Variant(lua_toboolean(L, index) != 0);
    case LUA_TNUMBER: {
      if (lua_isinteger(L, index)) return Variant(static_cast<int64_t>(lua_tointeger(L, index)));
      const double d = lua_tonumber(L, index);
      if (std::trunc(d) == d && d >= std::numeric_limits<int32_t>::min() &&
          d <= std::numeric_limits<int32_t>::max())
        return Variant(static_cast<int32_t>(d));
      return Variant(d);
    }
    case LUA_TSTRING: {
      size_t len = 0;
      const char* s = lua_tolstring(L, index, &len);
      return Variant(std::string(s, len));
    }
    case LUA_TUSERDATA: {
      if (ObjectBox* box = toBox(L, index)) return Variant(box->ref);
      if (isNull(L, index)) return Variant(Null{});
      break;
    }
    case LUA_TTABLE: {
      if (depth >= kMaxTableDepth) throw runtimeError(kTypeMismatch);
      luaL_checkstack(L, 2, "table argument");
      const int abs = lua_absindex(L, index);
      const lua_Unsigned n = lua_rawlen(L, abs);
      Variant::Array items;
      items.reserve(n);
      for (lua_Unsigned i = 1; i <= n; ++i) {
        lua_rawgeti(L, abs, static_cast<lua_Integer>(i));
        try {
          items.push_back(toVariantAt(L, -1, depth + 1));
        } catch (...) {
          lua_pop(L, 1);
          throw;
        }
        lua_pop(L, 1);
      }
      return Variant(std::move(items));
    }
    default:
      break;
  }
  throw runtimeError(kTypeMismatch);
}

// A method or indexed property, bound to the object it was read from.
// Upvalues: 1 the object's userdata, 2 the member (light userdata).
int callMember(lua_State* L) {
  return guarded(L, [L] {
    const ObjectRef object = checkObject(L, lua_upvalueindex(1));
    Dispatch& self = *object;
    const auto* member = static_cast<const MemberInfo*>(lua_touserdata(L, lua_upvalueindex(2)));
    if (!member->get) throw runtimeError(kNoSuchMember, memberSource(self, member->name));
    const int top = lua_gettop(L);
    // obj:Member(a) passes the object first; obj.Member(a) does not.
    const int first = (top >= 1 && sameObject(L, 1, lua_upvalueindex(1))) ? 2 : 1;
    std::vector<Variant> args;
    args.reserve(top >= first ? top - first + 1 : 0);
    for (int i = first; i <= top; ++i) args.push_back(toVariant(L, i));
    if (args.size() < member->requiredArgs)
      throw runtimeError(kArgumentNotOptional, memberSource(self, member->name));
    Variant result = member->get(self, args);
    pushVariant(L, result);
    return 1;
  });
}

int objectIndex(lua_State* L) {
  return guarded(L, [L] {
    const ObjectRef object = checkObject(L, 1);
    Dispatch& self = *object;
    size_t len = 0;
    const char* name = lua_tolstring(L, 2, &len);  // numbers become text here, harmlessly
    if (!name) throw runtimeError(kNoSuchMember, self.classInfo().className());
    const MemberInfo* member = self.classInfo().find(std::string_view(name, len));
    if (!member || !member->get)
      throw runtimeError(kNoSuchMember, memberSource(self, std::string(name, len)));
    if (member->kind == MemberInfo::Kind::Property) {
      Variant value = member->get(self, {});
      pushVariant(L, value);
    } else {
      lua_pushvalue(L, 1);
      lua_pushlightuserdata(L, const_cast<MemberInfo*>(member));
      lua_pushcclosure(L, callMember, 2);
    }
    return 1;
  });
}

int objectNewIndex(lua_State* L) {
  return guarded(L, [L] {
    const ObjectRef object = checkObject(L, 1);
    Dispatch& self = *object;
    size_t len = 0;
    const char* name = lua_tolstring(L, 2, &len);
    if (!name) throw runtimeError(kNoSuchMember, self.classInfo().className());
    invokeLet(self, std::string_view(name, len), {}, toVariant(L, 3));
    return 0;
  });
}

int objectEq(lua_State* L) {
  lua_pushboolean(L, sameObject(L, 1, 2));
  return 1;
}

int objectToString(lua_State* L) {
  ObjectBox* box = toBox(L, 1);
  if (box && box->ref)
    lua_pushfstring(L, "%s: %p", box->ref->classInfo().className().c_str(),
                    static_cast<void*>(box->ref.get()));
  else
    lua_pushliteral(L, "Nothing");
  return 1;
}

int objectGc(lua_State* L) {
  // Only the reference is released: a finalizer that runs later and still
  // sees this userdata finds Nothing in it.
  if (ObjectBox* box = toBox(L, 1)) box->ref.reset();
  return 0;
}

int nullToString(lua_State* L) {
  lua_pushliteral(L, "null");
  return 1;
}

int errorToString(lua_State* L) {
  lua_getfield(L, 1, "description");
  if (!lua_isstring(L, -1)) {
    lua_pop(L, 1);
    lua_pushliteral(L, "");
  }
  return 1;
}

int errorConcat(lua_State* L) {
  luaL_tolstring(L, 1, nullptr);
  luaL_tolstring(L, 2, nullptr);
  lua_concat(L, 2);
  return 1;
}

int createObjectFn(lua_State* L) {
  return guarded(L, [L] {
    size_t len = 0;
    const char* progId = luaL_checklstring(L, 1, &len);
    ObjectRef object = createObject(std::string_view(progId, len));
    pushObject(L, object);
    return 1;
  });
}

}  // namespace

void openObjectBridge(lua_State* L) {
  luaL_newmetatable(L, kObjectMeta);
  const luaL_Reg objectMethods[] = {{"__index", objectIndex},   {"__newindex", objectNewIndex},
                                    {"__eq", objectEq},         {"__tostring", objectToString},
                                    {"__gc", objectGc},         {nullptr, nullptr}};
  luaL_setfuncs(L, objectMethods, 0);
  lua_pushliteral(L, "locked");
  lua_setfield(L, -2, "__metatable");
  lua_pop(L, 1);

  lua_newtable(L);
  lua_newtable(L);
  lua_pushliteral(L, "v");
  lua_setfield(L, -2, "__mode");
  lua_setmetatable(L, -2);
  lua_setfield(L, LUA_REGISTRYINDEX, kObjectCache);

  luaL_newmetatable(L, kErrorMeta);
  lua_pushcfunction(L, errorToString);
  lua_setfield(L, -2, "__tostring");
  lua_pushcfunction(L, errorConcat);
  lua_setfield(L, -2, "__concat");
  lua_pop(L, 1);

  lua_newuserdatauv(L, 0, 0);
  luaL_newmetatable(L, kNullMeta);
  lua_pushcfunction(L, nullToString);
  lua_setfield(L, -2, "__tostring");
  lua_pushliteral(L, "locked");
  lua_setfield(L, -2, "__metatable");
  lua_setmetatable(L, -2);
  lua_pushvalue(L, -1);
  lua_setfield(L, LUA_REGISTRYINDEX, kNullKey);
  lua_setglobal(L, "null");

  lua_pushcfunction(L, createObjectFn);
  lua_setglobal(L, "CreateObject");
}

bool isNull(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TUSERDATA) return false;
  const int abs = lua_absindex(L, index);
  lua_getfield(L, LUA_REGISTRYINDEX, kNullKey);
  const bool same = lua_rawequal(L, abs, -1);
  lua_pop(L, 1);
  return same;
}

void pushObject(lua_State* L, const ObjectRef& object) {
  if (!object) {
    lua_pushnil(L);
    return;
  }
  luaL_checkstack(L, 3, "object");
  lua_getfield(L, LUA_REGISTRYINDEX, kObjectCache);
  if (lua_rawgetp(L, -1, object.get()) == LUA_TUSERDATA) {
    lua_remove(L, -2);
    return;
  }
  lua_pop(L, 1);
  void* memory = lua_newuserdatauv(L, sizeof(ObjectBox), 0);
  new (memory) ObjectBox{object};
  luaL_setmetatable(L, kObjectMeta);
  lua_pushvalue(L, -1);
  lua_rawsetp(L, -3, object.get());
  lua_remove(L, -2);
}

ObjectRef toObject(lua_State* L, int index) {
  ObjectBox* box = toBox(L, index);
  return box ? box->ref : nullptr;
}

void pushVariant(lua_State* L, const Variant& value) {
  luaL_checkstack(L, 2, "value");
  switch (value.type()) {
    case Variant::Type::Empty:
      lua_pushnil(L);
      break;
    case Variant::Type::Null:
      lua_getfield(L, LUA_REGISTRYINDEX, kNullKey);
      break;
    case Variant::Type::Boolean:
      lua_pushboolean(L, value.toBool());
      break;
    case Variant::Type::Long:
      lua_pushinteger(L, value.toLong());
      break;
    case Variant::Type::Double:
      lua_pushnumber(L, value.toDouble());
      break;
    case Variant::Type::String: {
      const std::string* s = value.text();
      lua_pushlstring(L, s->data(), s->size());
      break;
    }
    case Variant::Type::Object:
      pushObject(L, value.toObject());
      break;
    case Variant::Type::Array: {
      const auto& items = value.toArray();
      lua_createtable(L, static_cast<int>(items.size()), 0);
      lua_Integer i = 0;
      for (const auto& item : items) {
        pushVariant(L, item);
        lua_rawseti(L, -2, ++i);
      }
      break;
    }
  }
}

Variant toVariant(lua_State* L, int index) { return toVariantAt(L, index, 0); }

void pushAutomationError(lua_State* L, const AutomationError& error, int level) {
  luaL_checkstack(L, 4, "error");
  lua_createtable(L, 0, 4);
  lua_pushinteger(L, error.number());
  lua_setfield(L, -2, "number");
  lua_pushlstring(L, error.source().data(), error.source().size());
  lua_setfield(L, -2, "source");
  lua_pushlstring(L, error.description().data(), error.description().size());
  lua_setfield(L, -2, "description");
  // "Subject.lua:12: " -> "Subject.lua:12"
  luaL_where(L, level);
  size_t len = 0;
  const char* where = lua_tolstring(L, -1, &len);
  while (len > 0 && (where[len - 1] == ' ' || where[len - 1] == ':')) --len;
  lua_pushlstring(L, where, len);
  lua_setfield(L, -3, "location");
  lua_pop(L, 1);
  luaL_setmetatable(L, kErrorMeta);
}

bool isAutomationErrorValue(lua_State* L, int index) {
  if (!lua_istable(L, index) || !lua_getmetatable(L, index)) return false;
  luaL_getmetatable(L, kErrorMeta);
  const bool same = lua_rawequal(L, -1, -2);
  lua_pop(L, 2);
  return same;
}

AutomationError automationErrorFromValue(lua_State* L, int index, std::string* location) {
  const int abs = lua_absindex(L, index);
  auto field = [&](const char* name) {
    lua_getfield(L, abs, name);
    size_t len = 0;
    const char* s = lua_type(L, -1) == LUA_TSTRING ? lua_tolstring(L, -1, &len) : nullptr;
    std::string text = s ? std::string(s, len) : std::string();
    lua_pop(L, 1);
    return text;
  };
  lua_getfield(L, abs, "number");
  const auto number = static_cast<int32_t>(lua_tointeger(L, -1));
  lua_pop(L, 1);
  if (location) *location = field("location");
  return AutomationError(number, field("source"), field("description"));
}

}  // namespace quill::script
