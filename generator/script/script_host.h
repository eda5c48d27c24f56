// The script host of a generation run: one Lua 5.4 state that a run resets
// before every script entry, loads the entry's script into, starts with the
// statement OutputFile "<project folder>" and then questions for DebugMsg
// and ErrMsg.
//
// Scripts get Lua's standard libraries without the means to start processes,
// end the program or load native code (os.execute, os.exit, io.popen,
// package.loadlib, C modules and binary chunks are absent), plus
// CreateObject(progid), the `null` value, and the `Database` library
// (lua_database.h). `require` finds Lua modules in the module folder.
//
// A watch (setWatch) is asked every few thousand instructions whether the
// script may go on: the caller's chance to let a window repaint while a
// long script runs, and to stop a script that does not end.
#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/automation_error.h"
#include "common/variant.h"

struct lua_State;
struct lua_Debug;

namespace quill::script {

// Error numbers of the host's own errors; errors raised by objects keep theirs.
enum ScriptErrorNumber : int32_t {
  kScriptRuntimeError = 1000,  // a Lua run-time error
  kScriptSyntaxError = 1002,   // a script that does not compile
  kScriptOutOfMemory = 7,
};

// Every error of the host. The description of a Lua error names the script
// and line ("Subject.lua:12: attempt to call a nil value (global 'foo')");
// an automation error raised by an object keeps number, source and
// description, and location() tells where the script was ("Subject.lua:12").
class ScriptError : public AutomationError {
 public:
  ScriptError(int32_t number, std::string source, std::string description, std::string location = {})
      : AutomationError(number, std::move(source), std::move(description)),
        location_(std::move(location)) {}
  const std::string& location() const noexcept { return location_; }

 private:
  std::string location_;
};

// A script stopped because the host's watch asked for it.
class ScriptStopped : public std::runtime_error {
 public:
  ScriptStopped() : std::runtime_error("the script was stopped") {}
};

class ScriptHost {
 public:
  // Answers whether the running script may go on.
  using Watch = std::function<bool()>;

  ScriptHost();
  ~ScriptHost();
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;

  // Where `require` looks for modules (<folder>/?.lua, <folder>/?/init.lua);
  // takes effect at the next reset. Without a folder, require finds only
  // modules preloaded by the program.
  void setModuleFolder(std::filesystem::path folder);

  // Asks watch every kWatchInstructions Lua instructions while a script of
  // this host runs, and once more when a script fails. When it answers
  // false the script is stopped: an error is raised at that instruction and
  // at every instruction after it until the next reset, so a script's own
  // pcall cannot hold it, and the call that ran the script (addCode,
  // executeStatement, eval) raises ScriptStopped. Time spent in objects'
  // methods is not watched: they are not Lua instructions.
  void setWatch(Watch watch);
  static constexpr int kWatchInstructions = 10000;

  // A fresh state: nothing of the previous scripts survives. Refused (like
  // close()) while a script of this host is running, e.g. from an object's
  // method that a script called.
  void reset();

  // Ends the current state, releasing every object and database the
  // scripts still hold (before Data.mdb is deleted, for instance). The next
  // call starts a fresh state.
  void close();

  // Compiles the script text and runs its main chunk. `chunkName` (the
  // script file's name) is what error messages show.
  void addCode(std::string_view code, std::string_view chunkName);

  // Runs one statement, e.g. outputFileStatement(folder).
  void executeStatement(std::string_view statement);

  // The value of an expression, usually a global's name: eval("ErrMsg").
  // nil is Empty, whose text is "".
  Variant eval(std::string_view expression);

  // Sets a global variable to a value (objects included).
  void setGlobal(std::string_view name, const Variant& value);

  // The current state (created on first use), for callers that add their
  // own functions.
  lua_State* state();

 private:
  void run(std::string_view code, const std::string& chunkName, const char* source, int results);
  void installWatch();
  bool mayContinue();
  static void watchHook(lua_State* L, lua_Debug* ar);

  lua_State* L_ = nullptr;
  Watch watch_;
  bool stopping_ = false;  // the watch said stop; cleared by reset
  int running_ = 0;  // nesting depth of calls into the state
  std::filesystem::path moduleFolder_;
};

}  // namespace quill::script
