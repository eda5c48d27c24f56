// A host is one lua_State, made on first use and replaced by reset(). Each
// state opens Lua's standard libraries, then removes what would let a script
// start processes, end the program or load native code, swaps the module
// searchers for one that loads Lua source from the module folder, and adds
// the object bridge and the Database library. Code runs under lua_pcall with
// a message handler that records the position; a failure becomes ScriptError.
// running_ counts the calls in progress, so that an object called from a
// script cannot close the state under it.
//
// The watch is a count hook. The host finds itself from the hook through
// the state's extra space, which holds a pointer to it. Once the watch says
// stop, the hook is set to fire on every instruction and raises each time.
#include "script_host.h"

#include <lua.hpp>

#include <system_error>

#include "lua_bridge.h"
#include "lua_database.h"

namespace quill::script {

namespace {

// load, loadfile and dofile accept only source text: a crafted binary chunk
// can break the virtual machine's safety.
constexpr const char* kTextOnlyLoaders = R"lua(
local rawload, rawloadfile, select, error = load, loadfile, select, error
function load(chunk, name, mode, ...)
  if select("#", ...) > 0 then return rawload(chunk, name, "t", ...) end
  return rawload(chunk, name, "t")
end
function loadfile(filename, mode, ...)
  if select("#", ...) > 0 then return rawloadfile(filename, "t", ...) end
  return rawloadfile(filename, "t")
end
function dofile(filename)
  local f, message = rawloadfile(filename, "t")
  if not f then error(message, 2) end
  return f()
end
)lua";

void loadModuleFile(lua_State* L, const char* name, const std::string& path) {
  if (luaL_loadfilex(L, path.c_str(), "t") != LUA_OK)
    luaL_error(L, "error loading module '%s' from file '%s':\n\t%s", name, path.c_str(),
               lua_tostring(L, -1));
  lua_pushlstring(L, path.data(), path.size());
}

bool isFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(std::filesystem::path(path), ec);
}

// The module searcher that replaces Lua's file searchers: Lua source files
// only, first in the module folder (upvalue 1, used literally, so that a
// folder name with ';' or '?' does no harm), then along package.path
// (upvalue 2 is the package table).
int searchModuleIn(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  std::string relative(name);
  for (char& c : relative)
    if (c == '.') c = '/';
  std::string tried;
  size_t folderLen = 0;
  const char* folder = lua_tolstring(L, lua_upvalueindex(1), &folderLen);
  if (folderLen > 0) {
    std::string base(folder, folderLen);
    if (base.back() != '/') base += '/';
    for (const std::string& candidate : {base + relative + ".lua", base + relative + "/init.lua"}) {
      if (isFile(candidate)) {
        loadModuleFile(L, name, candidate);
        return 2;
      }
      tried += "\n\tno file '" + candidate + "'";
    }
  }
  lua_getfield(L, lua_upvalueindex(2), "searchpath");
  lua_pushvalue(L, 1);
  lua_getfield(L, lua_upvalueindex(2), "path");
  if (lua_type(L, -1) == LUA_TSTRING && lua_rawlen(L, -1) > 0) {
    lua_call(L, 2, 2);
    if (lua_type(L, -2) == LUA_TSTRING) {
      std::string path = lua_tostring(L, -2);
      loadModuleFile(L, name, path);
      return 2;
    }
    if (lua_type(L, -1) == LUA_TSTRING) tried += lua_tostring(L, -1);
  }
  lua_pushlstring(L, tried.data(), tried.size());
  return 1;
}

int searchModule(lua_State* L) {
  return guarded(L, [L] { return searchModuleIn(L); });
}

void clearField(lua_State* L, const char* table, const char* field) {
  lua_getglobal(L, table);
  lua_pushnil(L);
  lua_setfield(L, -2, field);
  lua_pop(L, 1);
}

// Sets up a new state. Argument 1: the module folder (UTF-8, may be empty).
int openHost(lua_State* L) {
  luaL_openlibs(L);
  clearField(L, "os", "execute");
  clearField(L, "os", "exit");
  clearField(L, "io", "popen");
  clearField(L, "package", "loadlib");
  // The debug library can attach the object metatable to foreign userdata
  // and so crash the program; scripts have no use for it.
  lua_pushnil(L);
  lua_setglobal(L, "debug");
  lua_getfield(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);
  lua_pushnil(L);
  lua_setfield(L, -2, "debug");
  lua_pop(L, 1);

  lua_getglobal(L, "package");
  const int package = lua_gettop(L);
  lua_pushliteral(L, "");
  lua_setfield(L, package, "cpath");
  lua_pushliteral(L, "");
  lua_setfield(L, package, "path");
  // Keep the preload searcher; replace the Lua, C and all-in-one searchers.
  lua_createtable(L, 2, 0);
  lua_getfield(L, package, "searchers");
  lua_rawgeti(L, -1, 1);
  lua_rawseti(L, -3, 1);
  lua_pop(L, 1);
  lua_pushvalue(L, 1);
  lua_pushvalue(L, package);
  lua_pushcclosure(L, searchModule, 2);
  lua_rawseti(L, -2, 2);
  lua_setfield(L, package, "searchers");
  lua_pop(L, 1);

  if (luaL_loadbufferx(L, kTextOnlyLoaders, std::char_traits<char>::length(kTextOnlyLoaders),
                       "=(host)", "t") != LUA_OK)
    return lua_error(L);
  lua_call(L, 0, 0);

  openObjectBridge(L);
  openDatabaseLibrary(L);
  return 0;
}

// Turns a non-text error value into text, so that every failure has a
// description; automation errors stay tables.
int messageHandler(lua_State* L) {
  if (lua_type(L, 1) == LUA_TSTRING || isAutomationErrorValue(L, 1)) return 1;
  if (luaL_callmeta(L, 1, "__tostring") && lua_type(L, -1) == LUA_TSTRING) return 1;
  lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
  return 1;
}

// Reads the error value on top of the stack, clears the stack and throws.
[[noreturn]] void throwError(lua_State* L, int status, const char* source, int32_t number) {
  if (status == LUA_ERRMEM) number = kScriptOutOfMemory;
  if (isAutomationErrorValue(L, -1)) {
    std::string location;
    AutomationError e = automationErrorFromValue(L, -1, &location);
    lua_settop(L, 0);
    throw ScriptError(e.number(), e.source(), e.description(), location);
  }
  size_t len = 0;
  const char* message = lua_tolstring(L, -1, &len);
  std::string description = message ? std::string(message, len) : std::string("unknown error");
  lua_settop(L, 0);
  throw ScriptError(number, source, std::move(description));
}

struct GlobalAssignment {
  std::string_view name;
  const Variant* value;
};

int setGlobalFn(lua_State* L) {
  auto* assignment = static_cast<GlobalAssignment*>(lua_touserdata(L, 1));
  return guarded(L, [&] {
    pushVariant(L, *assignment->value);
    lua_setglobal(L, std::string(assignment->name).c_str());
    return 0;
  });
}

}  // namespace

ScriptHost::ScriptHost() = default;

ScriptHost::~ScriptHost() { close(); }

void ScriptHost::setWatch(Watch watch) {
  watch_ = std::move(watch);
  if (L_) installWatch();
}

void ScriptHost::installWatch() {
  if (watch_)
    lua_sethook(L_, watchHook, LUA_MASKCOUNT, kWatchInstructions);
  else
    lua_sethook(L_, nullptr, 0, 0);
}

bool ScriptHost::mayContinue() {
  if (stopping_) return false;
  if (!watch_) return true;
  bool goOn = false;  // a watch that fails stops the script
  try {
    goOn = watch_();
  } catch (...) {
  }
  stopping_ = !goOn;
  return goOn;
}

void ScriptHost::watchHook(lua_State* L, lua_Debug*) {
  ScriptHost* host = *static_cast<ScriptHost**>(lua_getextraspace(L));
  const bool wasStopping = host->stopping_;
  if (host->mayContinue()) return;
  if (!wasStopping) lua_sethook(L, watchHook, LUA_MASKCOUNT, 1);
  luaL_error(L, "the script was stopped");
}

void ScriptHost::setModuleFolder(std::filesystem::path folder) { moduleFolder_ = std::move(folder); }

void ScriptHost::close() {
  if (running_ > 0)
    throw ScriptError(kScriptRuntimeError, "ScriptHost.Reset", "cannot end the state of a running script");
  if (L_) {
    lua_State* L = L_;
    L_ = nullptr;
    lua_close(L);
  }
}

void ScriptHost::reset() {
  close();
  lua_State* L = luaL_newstate();
  if (!L) throw ScriptError(kScriptOutOfMemory, "ScriptHost.Reset", "not enough memory");
  lua_pushcfunction(L, openHost);
  const std::string folder = moduleFolder_.string();
  lua_pushlstring(L, folder.data(), folder.size());
  const int status = lua_pcall(L, 1, 0, 0);
  if (status != LUA_OK) {
    std::string message = lua_tostring(L, -1) ? lua_tostring(L, -1) : "cannot start the script host";
    lua_close(L);
    throw ScriptError(status == LUA_ERRMEM ? kScriptOutOfMemory : kScriptRuntimeError,
                      "ScriptHost.Reset", message);
  }
  L_ = L;
  *static_cast<ScriptHost**>(lua_getextraspace(L)) = this;
  stopping_ = false;
  installWatch();
}

lua_State* ScriptHost::state() {
  if (!L_) reset();
  return L_;
}

void ScriptHost::run(std::string_view code, const std::string& chunkName, const char* source,
                     int results) {
  lua_State* L = state();
  lua_settop(L, 0);
  lua_pushcfunction(L, messageHandler);
  const int status = luaL_loadbufferx(L, code.data(), code.size(), chunkName.c_str(), "t");
  if (status != LUA_OK) throwError(L, status, source, kScriptSyntaxError);
  ++running_;
  const int callStatus = lua_pcall(L, 0, results, 1);
  --running_;
  if (callStatus == LUA_OK) return;
  // A failure after the watch said stop (or while it says so: an object may
  // have given up on its own) is the stop, whatever the error says.
  if (!mayContinue()) {
    lua_settop(L, 0);
    throw ScriptStopped();
  }
  throwError(L, callStatus, source, kScriptRuntimeError);
}

void ScriptHost::addCode(std::string_view code, std::string_view chunkName) {
  // '@' makes Lua print the name as it is: "Subject.lua:12: ...".
  run(code, "@" + std::string(chunkName), "ScriptHost.AddCode", 0);
  lua_settop(L_, 0);
}

void ScriptHost::executeStatement(std::string_view statement) {
  run(statement, "=statement", "ScriptHost.ExecuteStatement", 0);
  lua_settop(L_, 0);
}

Variant ScriptHost::eval(std::string_view expression) {
  run("return " + std::string(expression), "=eval", "ScriptHost.Eval", 1);
  try {
    Variant value = toVariant(L_, -1);
    lua_settop(L_, 0);
    return value;
  } catch (const AutomationError& e) {
    lua_settop(L_, 0);
    throw ScriptError(e.number(), "ScriptHost.Eval", e.description());
  }
}

void ScriptHost::setGlobal(std::string_view name, const Variant& value) {
  lua_State* L = state();
  lua_settop(L, 0);
  GlobalAssignment assignment{name, &value};
  lua_pushcfunction(L, setGlobalFn);
  lua_pushlightuserdata(L, &assignment);
  ++running_;
  const int status = lua_pcall(L, 1, 0, 0);
  --running_;
  if (status != LUA_OK) throwError(L, status, "ScriptHost.SetGlobal", kScriptRuntimeError);
}

}  // namespace quill::script
