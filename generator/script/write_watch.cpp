// Each wrapped function is a C closure over the original function and a
// userdata that owns the callback (freed with the state). The wrapper calls
// the original with all its arguments and, when it succeeded, reports the
// file; a script sees the same results and errors as before.
#include "generator/script/write_watch.h"

#include <filesystem>
#include <new>

#include "lua_bridge.h"
#include "script_host.h"

namespace quill::script {

namespace {

using Callback = std::function<void(const std::string&)>;

constexpr const char* kCallbackMeta = "quillant.writewatch";

int freeCallback(lua_State* L) {
  static_cast<Callback*>(luaL_checkudata(L, 1, kCallbackMeta))->~Callback();
  return 0;
}

void report(lua_State* L, int nameIndex) {
  size_t length = 0;
  const char* name = lua_tolstring(L, nameIndex, &length);
  if (!name) return;
  auto* callback = static_cast<Callback*>(lua_touserdata(L, lua_upvalueindex(2)));
  guarded(L, [&] {
    (*callback)(std::string(name, length));
    return 0;
  });
}

bool fileExists(lua_State* L, int nameIndex) {
  const char* name = lua_tostring(L, nameIndex);
  std::error_code ec;
  return name && std::filesystem::exists(std::filesystem::path(name), ec);
}

// Calls the original function (upvalue 1) with the arguments; returns the
// number of results, which replace the arguments on the stack above the copy
// of the name kept at index args + 1.
int callOriginal(lua_State* L, int args) {
  lua_pushvalue(L, lua_upvalueindex(1));
  for (int i = 1; i <= args; ++i) lua_pushvalue(L, i);
  lua_call(L, args, LUA_MULTRET);
  return lua_gettop(L) - args;
}

int watchedOpen(lua_State* L) {
  const int args = lua_gettop(L);
  const char* mode = args >= 2 ? lua_tostring(L, 2) : "r";
  const bool creates = mode && (mode[0] == 'w' || (mode[0] == 'a' && !fileExists(L, 1)));
  const int results = callOriginal(L, args);
  if (creates && !lua_isnil(L, args + 1)) report(L, 1);
  return results;
}

int watchedOutput(lua_State* L) {
  const int args = lua_gettop(L);
  const bool named = args >= 1 && lua_type(L, 1) == LUA_TSTRING;
  const int results = callOriginal(L, args);  // raises when the file cannot be opened
  if (named) report(L, 1);
  return results;
}

int watchedRename(lua_State* L) {
  const int args = lua_gettop(L);
  const int results = callOriginal(L, args);
  if (args >= 2 && lua_toboolean(L, args + 1)) report(L, 2);
  return results;
}

// Replaces table[field] by a closure of wrapper over the original and the
// callback userdata at index callback.
void wrap(lua_State* L, const char* table, const char* field, lua_CFunction wrapper, int callback) {
  if (lua_getglobal(L, table) != LUA_TTABLE) {
    lua_pop(L, 1);
    return;
  }
  lua_getfield(L, -1, field);
  lua_pushvalue(L, callback);
  lua_pushcclosure(L, wrapper, 2);
  lua_setfield(L, -2, field);
  lua_pop(L, 1);
}

// Runs inside lua_pcall: argument 1 is a light userdata, the callback to move
// into the state.
int installWatch(lua_State* L) {
  auto* written = static_cast<Callback*>(lua_touserdata(L, 1));
  void* memory = lua_newuserdatauv(L, sizeof(Callback), 0);
  new (memory) Callback(std::move(*written));
  if (luaL_newmetatable(L, kCallbackMeta)) {
    lua_pushcfunction(L, freeCallback);
    lua_setfield(L, -2, "__gc");
    lua_pushboolean(L, 0);
    lua_setfield(L, -2, "__metatable");
  }
  lua_setmetatable(L, -2);
  const int callback = lua_gettop(L);
  wrap(L, "io", "open", watchedOpen, callback);
  wrap(L, "io", "output", watchedOutput, callback);
  wrap(L, "os", "rename", watchedRename, callback);
  return 0;
}

}  // namespace

void watchFileWrites(ScriptHost& host, Callback written) {
  lua_State* L = host.state();
  lua_pushcfunction(L, installWatch);
  lua_pushlightuserdata(L, &written);
  if (lua_pcall(L, 1, 0, 0) != LUA_OK) {
    std::string message = lua_tostring(L, -1) ? lua_tostring(L, -1) : "cannot watch the script's files";
    lua_pop(L, 1);
    throw ScriptError(kScriptOutOfMemory, "ScriptHost.Reset", message);
  }
}

}  // namespace quill::script
