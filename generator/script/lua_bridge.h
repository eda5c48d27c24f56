// The bridge between Lua values and Variants, and the userdata through which
// scripts reach Dispatch objects by member name.
//
//   Variant -> Lua: Empty nil, Null the sentinel `null`, Boolean boolean,
//   Long integer, Double float, String string, Object userdata (Nothing nil),
//   Array a sequence starting at 1.
//   Lua -> Variant: nil Empty, `null` Null, boolean Boolean, a number Long
//   when whole and within 32 bits else Double, string String (a string stays
//   text even when it reads as a number), object userdata Object, a table the
//   Array of its sequence part. Anything else raises 13 "Type mismatch".
//
// An AutomationError raised by an object becomes a Lua error whose value is
// a table { number, source, description, location } whose tostring is the
// description.
#pragma once

#include <optional>
#include <string>

#include <lua.hpp>

#include "common/automation_error.h"
#include "common/variant.h"

namespace quill::script {

// Registers the metatables, the global `null` and CreateObject(progid).
void openObjectBridge(lua_State* L);

void pushVariant(lua_State* L, const Variant& value);
// Raises AutomationError 13 for a value that has no Variant form.
Variant toVariant(lua_State* L, int index);

void pushObject(lua_State* L, const ObjectRef& object);
// The object wrapped by the userdata at index, or nullptr.
ObjectRef toObject(lua_State* L, int index);
bool isNull(lua_State* L, int index);

// Pushes the error value of an automation error (see above). `level` is the
// call level whose script position is recorded as its location.
void pushAutomationError(lua_State* L, const AutomationError& error, int level = 1);
// True when the value at index is such an error value.
bool isAutomationErrorValue(lua_State* L, int index);
// Reads number, source, description and location back from such a value.
AutomationError automationErrorFromValue(lua_State* L, int index, std::string* location = nullptr);

// Runs `body` (which returns the number of results it pushed) and turns any
// C++ exception it throws into a Lua error: an AutomationError into the
// error table above, any other std::exception into a message with the
// script position. Lua errors raised inside pass through untouched.
template <class Body>
int guarded(lua_State* L, Body&& body) {
  std::optional<AutomationError> failure;
  std::string message;
  try {
    return body();
  } catch (const AutomationError& e) {
    failure.emplace(e);
  } catch (const std::exception& e) {
    message = e.what();
  }
  if (failure) {
    pushAutomationError(L, *failure);
  } else {
    luaL_where(L, 1);
    lua_pushlstring(L, message.data(), message.size());
    lua_concat(L, 2);
  }
  return lua_error(L);
}

}  // namespace quill::script
