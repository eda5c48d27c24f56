// The Database library over SQLite: a database is a userdata holding the
// connection, closed by close(), by __close or when collected. Values are
// bound as parameters, never pasted into SQL. rows() returns an iterator
// whose statement lives in a second userdata, finalized when the loop ends,
// is left early or is collected, so an abandoned loop never holds a lock.
#include "lua_database.h"

#include <sqlite3.h>

#include <cstring>
#include <new>
#include <string_view>

#include "lua_bridge.h"

namespace quill::script {

namespace {

constexpr const char* kDatabaseMeta = "quill.Database";
constexpr const char* kRowsMeta = "quill.DatabaseRows";

struct DatabaseBox {
  sqlite3* db = nullptr;
};

struct RowsBox {
  sqlite3_stmt* stmt = nullptr;
};

// Finalizes a statement on every way out of a function, Lua errors included
// (the C++ build of Lua unwinds with exceptions).
struct StatementGuard {
  sqlite3_stmt* stmt = nullptr;
  ~StatementGuard() { sqlite3_finalize(stmt); }
};

DatabaseBox* checkDatabase(lua_State* L, int index) {
  auto* box = static_cast<DatabaseBox*>(luaL_checkudata(L, index, kDatabaseMeta));
  if (!box->db) luaL_error(L, "database is closed");
  return box;
}

[[noreturn]] void raiseSqlite(lua_State* L, sqlite3* db) {
  luaL_error(L, "%s", sqlite3_errmsg(db));
  throw std::logic_error("unreachable");  // luaL_error does not return
}

// Binds the arguments from `first` to the top of the stack to the
// statement's parameters, in order; their number must match.
void bindArguments(lua_State* L, sqlite3* db, sqlite3_stmt* stmt, int first, int last) {
  const int given = last - first + 1;
  const int wanted = sqlite3_bind_parameter_count(stmt);
  if (given != wanted)
    luaL_error(L, "the statement has %d parameter(s) but %d value(s) were given", wanted,
               given < 0 ? 0 : given);
  for (int i = 0; i < given; ++i) {
    const int index = first + i;
    const int param = i + 1;
    int rc = SQLITE_OK;
    switch (lua_type(L, index)) {
      case LUA_TNIL:
        rc = sqlite3_bind_null(stmt, param);
        break;
      case LUA_TBOOLEAN:
        rc = sqlite3_bind_int(stmt, param, lua_toboolean(L, index));
        break;
      case LUA_TNUMBER:
        rc = lua_isinteger(L, index) ? sqlite3_bind_int64(stmt, param, lua_tointeger(L, index))
                                     : sqlite3_bind_double(stmt, param, lua_tonumber(L, index));
        break;
      case LUA_TSTRING: {
        size_t len = 0;
        const char* s = lua_tolstring(L, index, &len);
        rc = sqlite3_bind_text64(stmt, param, s, len, SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
      }
      default:
        if (isNull(L, index)) {
          rc = sqlite3_bind_null(stmt, param);
          break;
        }
        luaL_error(L, "cannot bind a %s value to parameter %d", luaL_typename(L, index), param);
    }
    if (rc != SQLITE_OK) raiseSqlite(L, db);
  }
}

// Prepares the first statement of `sql`; `tail` receives what follows it.
sqlite3_stmt* prepare(lua_State* L, sqlite3* db, std::string_view sql, const char** tail) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt, tail) != SQLITE_OK)
    raiseSqlite(L, db);
  return stmt;
}

bool onlyBlanks(const char* p, const char* end) {
  for (; p < end; ++p)
    if (!std::strchr(" \t\r\n;", *p)) return false;
  return true;
}

// Prepares the text at sqlIndex, which must be one statement, and binds the
// values that follow it up to lastArg.
sqlite3_stmt* prepareBound(lua_State* L, DatabaseBox* box, int sqlIndex, int lastArg) {
  size_t len = 0;
  const char* sql = luaL_checklstring(L, sqlIndex, &len);
  const char* tail = nullptr;
  StatementGuard guard{prepare(L, box->db, std::string_view(sql, len), &tail)};
  if (!guard.stmt) luaL_error(L, "the SQL text holds no statement");
  if (tail && !onlyBlanks(tail, sql + len))
    luaL_error(L, "only one statement can take parameters; run the others separately");
  bindArguments(L, box->db, guard.stmt, sqlIndex + 1, lastArg);
  sqlite3_stmt* stmt = guard.stmt;
  guard.stmt = nullptr;
  return stmt;
}

void pushColumn(lua_State* L, sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
      lua_pushinteger(L, sqlite3_column_int64(stmt, column));
      break;
    case SQLITE_FLOAT:
      lua_pushnumber(L, sqlite3_column_double(stmt, column));
      break;
    case SQLITE_TEXT:
      lua_pushlstring(L, reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                      static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
      break;
    case SQLITE_BLOB: {
      const void* data = sqlite3_column_blob(stmt, column);
      lua_pushlstring(L, data ? static_cast<const char*>(data) : "",
                      static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
      break;
    }
    default:
      lua_pushnil(L);
  }
}

// Steps the statement; pushes the next row as a table, or nothing at the end.
bool pushNextRow(lua_State* L, sqlite3* db, sqlite3_stmt* stmt) {
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) raiseSqlite(L, db);
  const int columns = sqlite3_column_count(stmt);
  luaL_checkstack(L, 3, "row");
  lua_createtable(L, 0, columns);
  for (int c = 0; c < columns; ++c) {
    const char* name = sqlite3_column_name(stmt, c);
    if (!name) luaL_error(L, "out of memory");
    if (sqlite3_column_type(stmt, c) == SQLITE_NULL) continue;
    pushColumn(L, stmt, c);
    lua_setfield(L, -2, name);
  }
  return true;
}

int databaseOpen(lua_State* L) {
  const char* path = luaL_checkstring(L, 1);
  const char* mode = luaL_optstring(L, 2, "rw");
  int flags = 0;
  if (std::strcmp(mode, "r") == 0)
    flags = SQLITE_OPEN_READONLY;
  else if (std::strcmp(mode, "rw") == 0)
    flags = SQLITE_OPEN_READWRITE;
  else if (std::strcmp(mode, "rwc") == 0)
    flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  else
    luaL_argerror(L, 2, "mode must be \"r\", \"rw\" or \"rwc\"");

  auto* box = static_cast<DatabaseBox*>(lua_newuserdatauv(L, sizeof(DatabaseBox), 0));
  new (box) DatabaseBox{};
  luaL_setmetatable(L, kDatabaseMeta);
  const int rc = sqlite3_open_v2(path, &box->db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(box->db);
    box->db = nullptr;
    return luaL_error(L, "%s: %s", sqlite3_errstr(rc), path);
  }
  sqlite3_busy_timeout(box->db, 5000);
  return 1;
}

int databaseClose(lua_State* L) {
  auto* box = static_cast<DatabaseBox*>(luaL_checkudata(L, 1, kDatabaseMeta));
  // close_v2 waits for statements still open in a row loop; those loops
  // notice the closed database and stop with an error.
  sqlite3_close_v2(box->db);
  box->db = nullptr;
  return 0;
}

int databaseToString(lua_State* L) {
  auto* box = static_cast<DatabaseBox*>(luaL_checkudata(L, 1, kDatabaseMeta));
  if (box->db)
    lua_pushfstring(L, "Database: %s", sqlite3_db_filename(box->db, "main"));
  else
    lua_pushliteral(L, "Database (closed)");
  return 1;
}

int databaseExec(lua_State* L) {
  DatabaseBox* box = checkDatabase(L, 1);
  size_t len = 0;
  const char* sql = luaL_checklstring(L, 2, &len);
  if (lua_gettop(L) > 2) {
    StatementGuard guard{prepareBound(L, box, 2, lua_gettop(L))};
    int rc;
    while ((rc = sqlite3_step(guard.stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) raiseSqlite(L, box->db);
  } else {
    // Without values the text may hold several statements, run in order.
    const char* rest = sql;
    const char* end = sql + len;
    while (rest < end && !onlyBlanks(rest, end)) {
      const char* tail = nullptr;
      StatementGuard guard{prepare(L, box->db, std::string_view(rest, end - rest), &tail)};
      if (!guard.stmt) break;
      int rc;
      while ((rc = sqlite3_step(guard.stmt)) == SQLITE_ROW) {
      }
      if (rc != SQLITE_DONE) raiseSqlite(L, box->db);
      rest = tail;
    }
  }
  lua_pushinteger(L, sqlite3_changes64(box->db));
  return 1;
}

int databaseQuery(lua_State* L) {
  DatabaseBox* box = checkDatabase(L, 1);
  StatementGuard guard{prepareBound(L, box, 2, lua_gettop(L))};
  lua_newtable(L);
  lua_Integer n = 0;
  while (pushNextRow(L, box->db, guard.stmt)) lua_rawseti(L, -2, ++n);
  return 1;
}

int databaseValue(lua_State* L) {
  DatabaseBox* box = checkDatabase(L, 1);
  StatementGuard guard{prepareBound(L, box, 2, lua_gettop(L))};
  const int rc = sqlite3_step(guard.stmt);
  if (rc == SQLITE_ROW && sqlite3_column_count(guard.stmt) > 0) {
    pushColumn(L, guard.stmt, 0);
    return 1;
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) raiseSqlite(L, box->db);
  lua_pushnil(L);
  return 1;
}

int rowsClose(lua_State* L) {
  auto* rows = static_cast<RowsBox*>(luaL_checkudata(L, 1, kRowsMeta));
  sqlite3_finalize(rows->stmt);
  rows->stmt = nullptr;
  return 0;
}

// Upvalues: 1 the rows userdata, 2 the database userdata (kept alive).
int rowsNext(lua_State* L) {
  auto* rows = static_cast<RowsBox*>(lua_touserdata(L, lua_upvalueindex(1)));
  auto* box = static_cast<DatabaseBox*>(lua_touserdata(L, lua_upvalueindex(2)));
  if (!rows->stmt) return 0;
  if (!box->db) {
    sqlite3_finalize(rows->stmt);
    rows->stmt = nullptr;
    return luaL_error(L, "database is closed");
  }
  if (pushNextRow(L, box->db, rows->stmt)) return 1;
  sqlite3_finalize(rows->stmt);
  rows->stmt = nullptr;
  return 0;
}

int databaseRows(lua_State* L) {
  DatabaseBox* box = checkDatabase(L, 1);
  const int lastArg = lua_gettop(L);
  // The holder first, so that its __gc finalizes the statement whatever fails next.
  auto* rows = static_cast<RowsBox*>(lua_newuserdatauv(L, sizeof(RowsBox), 0));
  rows->stmt = nullptr;
  luaL_setmetatable(L, kRowsMeta);
  rows->stmt = prepareBound(L, box, 2, lastArg);
  lua_pushvalue(L, -1);
  lua_pushvalue(L, 1);
  lua_pushcclosure(L, rowsNext, 2);
  // iterator, state, control, closing value: a loop left early finalizes
  // the statement at once.
  lua_pushnil(L);
  lua_pushnil(L);
  lua_pushvalue(L, -4);
  return 4;
}

}  // namespace

void openDatabaseLibrary(lua_State* L) {
  luaL_newmetatable(L, kDatabaseMeta);
  const luaL_Reg methods[] = {{"exec", databaseExec},   {"query", databaseQuery},
                              {"value", databaseValue}, {"rows", databaseRows},
                              {"close", databaseClose}, {nullptr, nullptr}};
  luaL_newlib(L, methods);
  lua_setfield(L, -2, "__index");
  lua_pushcfunction(L, databaseClose);
  lua_setfield(L, -2, "__gc");
  lua_pushcfunction(L, databaseClose);
  lua_setfield(L, -2, "__close");
  lua_pushcfunction(L, databaseToString);
  lua_setfield(L, -2, "__tostring");
  lua_pop(L, 1);

  luaL_newmetatable(L, kRowsMeta);
  lua_pushcfunction(L, rowsClose);
  lua_setfield(L, -2, "__gc");
  lua_pushcfunction(L, rowsClose);
  lua_setfield(L, -2, "__close");
  lua_pop(L, 1);

  lua_newtable(L);
  lua_pushcfunction(L, databaseOpen);
  lua_setfield(L, -2, "open");
  lua_setglobal(L, "Database");
}

}  // namespace quill::script
