// The `Database` library of the script host: SQL on the catalogue database
// (an SQLite file) with values always bound as parameters.
//
//   local db = Database.open(path [, mode])   -- mode "rw" (default), "r", "rwc"
//   for row in db:rows(sql, ...) do ... end   -- row: table keyed by column name
//   db:query(sql, ...)  -> list of rows
//   db:value(sql, ...)  -> first column of the first row, or nil
//   db:exec(sql, ...)   -> number of rows changed
//   db:close()
//
// NULL reads as nil; nil and `null` bind as NULL. Errors are Lua errors that
// carry the script position and SQLite's message.
#pragma once

#include <lua.hpp>

namespace quill::script {

void openDatabaseLibrary(lua_State* L);

}  // namespace quill::script
