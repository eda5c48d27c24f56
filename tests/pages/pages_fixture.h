// A project folder in a temporary place (its path holds a blank) with a
// catalogue database made directly with SQLite and templates given as text.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/object_factory.h"
#include "engine/marl_doc.h"
#include "generator/pages/page_generators.h"

namespace quill::test {

namespace fs = std::filesystem;
using Row = std::vector<std::optional<std::string>>;  // COL1, COL2, ...; nullopt is NULL

class PagesTest : public ::testing::Test {
 public:
  static std::string block(const std::string& key, const std::string& inner) {
    return "<!-- MARL:HtmlPart _KEY=\"" + key + "\" _POSITION=\"START\" -->" + inner +
           "<!-- MARL:HtmlPart _KEY=\"" + key + "\" _POSITION=\"END\" -->";
  }

 protected:
  void SetUp() override {
    registerEngineClasses();
    registerPageGenerators();
    static int counter = 0;
    base_ = fs::temp_directory_path() /
            ("quillant-pages " + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(base_ / "Output");
    fs::create_directories(base_ / "HtmlTemplate");
    fs::create_directories(base_ / "Html");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(base_, ec);
  }

  std::string folder() const { return base_.string() + "/"; }

  // SHEET1 with columns COL1..COL<columns>; collation applies to every column.
  void makeDb(const std::vector<Row>& rows, int columns = 7, const std::string& collation = "") {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((base_ / "Data.mdb").c_str(), &db), SQLITE_OK);
    std::string sql = "CREATE TABLE SHEET1(";
    for (int i = 1; i <= columns; ++i)
      sql += (i > 1 ? ", COL" : "COL") + std::to_string(i) + " TEXT" + collation;
    sql += ")";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    std::string insert = "INSERT INTO SHEET1 VALUES(?";
    for (int i = 1; i < columns; ++i) insert += ",?";
    insert += ")";
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, insert.c_str(), -1, &stmt, nullptr);
    for (const Row& row : rows) {
      for (int i = 0; i < columns; ++i) {
        if (i < static_cast<int>(row.size()) && row[i])
          sqlite3_bind_text(stmt, i + 1, row[i]->c_str(), -1, SQLITE_TRANSIENT);
        else
          sqlite3_bind_null(stmt, i + 1);
      }
      sqlite3_step(stmt);
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
  }

  void writeFile(const std::string& relative, const std::string& text) const {
    std::ofstream(base_ / relative, std::ios::binary) << text;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(base_ / relative, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool exists(const std::string& relative) const { return fs::exists(base_ / relative); }
  size_t outputCount() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(base_ / "Output"), fs::directory_iterator()));
  }

  template <class T>
  std::shared_ptr<T> run() {
    auto g = std::make_shared<T>();
    g->outputFile(folder());
    return g;
  }

  fs::path base_;
};

}  // namespace quill::test
