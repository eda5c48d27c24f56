#include "generator/import/excel2access.h"

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "common/ordered_map.h"
#include "generator/import/workbook_reader.h"
#include "generator/pages/catalogue.h"

namespace quill {
namespace {

class ImportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void removeOldDatabase(const std::string& path) {
  namespace fs = std::filesystem;
  // The journal files too: a stale hot journal beside the new file would be
  // played back into it.
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    fs::path p = path + suffix;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(p, ec))) continue;
    if (!fs::remove(p, ec) || ec)
      throw ImportError("The old database " + p.string() + " cannot be deleted: " +
                        (ec ? ec.message() : std::string("unknown error")) + ".");
  }
}

class Database {
 public:
  explicit Database(const std::string& path) : path_(path) {
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                             nullptr);
    if (rc != SQLITE_OK) fail("cannot be created");
    // A temporary product of the run: no need to survive a power cut.
    exec("PRAGMA page_size=16384; PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF; BEGIN");
    inTransaction_ = true;
  }
  ~Database() {
    commit(true);
    sqlite3_close_v2(db_);
  }

  void exec(const std::string& sql) {
    char* msg = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
      std::string why = msg ? msg : sqlite3_errmsg(db_);
      sqlite3_free(msg);
      throw ImportError("The database " + path_ + " cannot be written: " + why + ".");
    }
  }
  sqlite3_stmt* prepare(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                           SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
      fail("cannot be written");
    return stmt;
  }
  [[noreturn]] void fail(const char* what) const {
    std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
    throw ImportError("The database " + path_ + " " + what + ": " + why + ".");
  }
  // Ends the transaction; quietly keeps what was made when unwinding after a failure.
  void commit(bool quiet = false) {
    if (!inTransaction_) return;
    inTransaction_ = false;
    if (quiet) {
      sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    } else {
      exec("COMMIT");
    }
  }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
  bool inTransaction_ = false;
};

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

// Writes the cells of one worksheet into its table, row by row. The table
// gets the columns the worksheet declares and grows when a cell lies beyond.
class TableWriter : public xls::CellSink {
 public:
  TableWriter(Database& db, std::string table) : db_(db), table_(std::move(table)) {}

  void dimensions(uint32_t /*rows*/, uint32_t columns) override {
    if (columns_ == 0) create(std::max<uint32_t>(columns, 1));
  }

  void cell(uint32_t row, uint32_t column, std::string_view text) override {
    if (row != currentRow_) {
      flush();
      currentRow_ = row;
    }
    if (column >= columns_) addColumns(column + 1);
    if (row == 0) return;  // the titles
    values_[column].assign(text);
    present_[column] = true;
    rowHasValues_ = true;
  }

  // Writes the last row.
  void finish() {
    if (columns_ == 0) create(1);
    flush();
  }

 private:
  void create(uint32_t columns) {
    std::string sql = "CREATE TABLE " + table_ + " (";
    for (uint32_t i = 1; i <= columns; ++i) {
      if (i > 1) sql += ", ";
      sql += "COL" + std::to_string(i) + " TEXT";
    }
    sql += ")";
    db_.exec(sql);
    columns_ = columns;
    prepareInsert();
  }

  void addColumns(uint32_t columns) {
    for (uint32_t i = columns_ + 1; i <= columns; ++i)
      db_.exec("ALTER TABLE " + table_ + " ADD COLUMN COL" + std::to_string(i) + " TEXT");
    columns_ = columns;
    prepareInsert();
  }

  void prepareInsert() {
    std::string sql = "INSERT INTO " + table_ + " VALUES (";
    for (uint32_t i = 1; i <= columns_; ++i) sql += i > 1 ? ",?" : "?";
    sql += ")";
    insert_.reset(db_.prepare(sql));
    values_.resize(columns_);
    present_.resize(columns_, false);
  }

  void flush() {
    if (currentRow_ == 0 || currentRow_ == kNoRow || !rowHasValues_) return;
    // Rows left empty inside the sheet keep their place as rows of NULLs.
    for (; nextRow_ < currentRow_; ++nextRow_) {
      for (uint32_t i = 0; i < columns_; ++i) sqlite3_bind_null(insert_.get(), static_cast<int>(i + 1));
      step();
    }
    for (uint32_t i = 0; i < columns_; ++i) {
      int p = static_cast<int>(i + 1);
      if (present_[i]) {
        sqlite3_bind_text(insert_.get(), p, values_[i].data(), static_cast<int>(values_[i].size()),
                          SQLITE_STATIC);
        present_[i] = false;
      } else {
        sqlite3_bind_null(insert_.get(), p);
      }
    }
    step();
    rowHasValues_ = false;
    nextRow_ = currentRow_ + 1;
  }

  void step() {
    if (sqlite3_step(insert_.get()) != SQLITE_DONE) {
      sqlite3_reset(insert_.get());
      db_.fail("cannot be written");
    }
    sqlite3_reset(insert_.get());
  }

  static constexpr uint32_t kNoRow = 0xFFFFFFFFu;
  Database& db_;
  std::string table_;
  uint32_t columns_ = 0;
  std::unique_ptr<sqlite3_stmt, StatementDeleter> insert_;
  std::vector<std::string> values_;
  std::vector<bool> present_;
  uint32_t currentRow_ = kNoRow;
  uint32_t nextRow_ = 1;
  bool rowHasValues_ = false;
};

}  // namespace

std::string columnLetters(int n) {
  if (n < 1) return {};
  if (n <= 26) return std::string(1, static_cast<char>(64 + n));
  return {static_cast<char>(64 + n / 26), static_cast<char>(64 + n % 26)};
}

std::string excel2Access(const std::string& workbookPath, const std::string& databasePath) {
  std::unique_ptr<Database> db;
  try {
    // The old database goes first, so that a workbook that cannot be read
    // never leaves the previous catalogue behind for the run to publish.
    removeOldDatabase(databasePath);
    xls::WorkbookReader reader(workbookPath);
    const auto& sheets = reader.worksheets();
    if (sheets.empty()) return "The workbook " + workbookPath + " has no worksheets.";

    // Worksheet table name -> database table name; hidden ranges ("$_") are
    // left out without using up a number.
    OrderedMap<std::string, std::string> tables;
    std::vector<size_t> sheetIndex;
    int n = 1;
    for (size_t i = 0; i < sheets.size(); ++i) {
      std::string name = sheets[i].name + "$";
      if (name.find("$_") != std::string::npos || tables.contains(name)) continue;
      tables.insert(name, "SHEET" + std::to_string(n++));
      sheetIndex.push_back(i);
    }

    db = std::make_unique<Database>(databasePath);
    for (size_t k = 0; k < tables.size(); ++k) {
      const std::string& table = tables.at(k).second;
      try {
        TableWriter writer(*db, table);
        reader.readWorksheet(sheetIndex[k], writer);
        writer.finish();
      } catch (const xls::CellOrderError&) {
        // Cells not stored row by row: start the table again from sorted cells.
        db->exec("DROP TABLE IF EXISTS " + table);
        TableWriter writer(*db, table);
        reader.readWorksheet(sheetIndex[k], writer, true);
        writer.finish();
      }
    }
    db->commit();
    db.reset();
    pages::createCatalogueIndexes(databasePath);
    return {};
  } catch (const std::exception& e) {
    db.reset();  // keeps the tables and rows made so far
    return e.what();
  }
}

}  // namespace quill
