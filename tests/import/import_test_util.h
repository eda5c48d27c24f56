// Temporary folders, Python-made workbooks and database queries for the import tests.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace importtest {

using Row = std::vector<std::optional<std::string>>;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quill-import-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a Python script (with xlwt) that gets the output path as sys.argv[1].
inline void runPython(const TempDir& dir, const std::string& script, const std::string& out) {
  std::string file = dir / "make.py";
  writeFile(file, script);
  std::string cmd = "/usr/bin/python3 '" + file + "' '" + out + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

inline std::vector<Row> query(const std::string& db, const std::string& sql) {
  std::vector<Row> rows;
  sqlite3* h = nullptr;
  EXPECT_EQ(sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(h, sql.c_str(), -1, &s, nullptr), SQLITE_OK)
      << sql << ": " << sqlite3_errmsg(h);
  while (s && sqlite3_step(s) == SQLITE_ROW) {
    Row row;
    for (int i = 0; i < sqlite3_column_count(s); ++i) {
      if (sqlite3_column_type(s, i) == SQLITE_NULL) row.emplace_back();
      else row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, i)));
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(s);
  sqlite3_close(h);
  return rows;
}

inline std::optional<std::string> value(const std::string& db, const std::string& sql) {
  auto rows = query(db, sql);
  if (rows.empty() || rows[0].empty()) return std::nullopt;
  return rows[0][0];
}

inline std::vector<std::string> tables(const std::string& db) {
  std::vector<std::string> names;
  for (auto& r : query(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY rowid"))
    names.push_back(*r[0]);
  return names;
}

}  // namespace importtest
