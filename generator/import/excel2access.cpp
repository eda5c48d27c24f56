#include "generator/import/excel2access.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <unordered_set>
#include <vector>

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
  int columnLimit() const { return sqlite3_limit(db_, SQLITE_LIMIT_COLUMN, -1); }
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
// is made when its first data row is written, with as many columns as the
// worksheet declared or has used so far, and grows when a cell lies beyond.
//
// Rows are inserted in order, rows left empty inside the sheet as rows of
// NULLs, so a row's rowid is its row number. That lets a cell that comes
// after a later row's cells (some writers store cells in the order a
// program wrote them) be put into place: from then on the remaining cells
// are held, sorted at the end, and either update rows already written or
// are written as further rows.
class TableWriter : public CellSink {
 public:
  TableWriter(Database& db, std::string table, std::string description)
      : db_(db), table_(std::move(table)), description_(std::move(description)),
        maxColumns_(static_cast<uint32_t>(db.columnLimit())) {}

  void dimensions(uint32_t /*rows*/, uint32_t columns) override {
    // A declared range wider than the database allows (formatting to the
    // sheet's edge) is left to the cells to decide.
    if (columns <= maxColumns_) ensureColumns(columns);
  }

  void cell(uint32_t row, uint32_t column, std::string_view text) override {
    ensureColumns(column + 1);
    if (!held_.empty() || (currentRow_ != kNoRow && row < currentRow_)) {
      hold(row, column, text);
      return;
    }
    if (row != currentRow_) {
      flush();
      currentRow_ = row;
    }
    if (row == 0) return;  // the titles
    values_[column].assign(text);
    present_[column] = true;
    rowHasValues_ = true;
  }

  // After a failure: makes sure the table exists, as far as it is known,
  // without the row that was being read.
  void keepTable() noexcept {
    try {
      if (!created_) create();
    } catch (const std::exception&) {
      // The failure being reported matters more.
    }
  }

  // Writes what is left.
  void finish() {
    flush();
    if (!held_.empty()) placeHeldCells();
    if (!created_) create();
  }

 private:
  struct Held {
    uint32_t row, column;
    size_t begin, end;  // in heldText_
  };

  void ensureColumns(uint32_t columns) {
    if (columns <= columns_) return;
    if (columns > maxColumns_)
      throw ImportError(description_ + " has a value in column " + std::to_string(columns) +
                        "; the catalogue database holds at most " + std::to_string(maxColumns_) +
                        " columns.");
    if (created_) {
      for (uint32_t i = columns_ + 1; i <= columns; ++i)
        db_.exec("ALTER TABLE " + table_ + " ADD COLUMN COL" + std::to_string(i) + " TEXT");
    }
    columns_ = columns;
    values_.resize(columns_);
    present_.resize(columns_, false);
    if (created_) prepareInsert();
  }

  void create() {
    columns_ = std::max<uint32_t>(columns_, 1);
    values_.resize(columns_);
    present_.resize(columns_, false);
    std::string sql = "CREATE TABLE " + table_ + " (";
    for (uint32_t i = 1; i <= columns_; ++i) {
      if (i > 1) sql += ", ";
      sql += "COL" + std::to_string(i) + " TEXT";
    }
    sql += ")";
    db_.exec(sql);
    created_ = true;
    prepareInsert();
  }

  void prepareInsert() {
    std::string sql = "INSERT INTO " + table_ + " VALUES (";
    for (uint32_t i = 1; i <= columns_; ++i) sql += i > 1 ? ",?" : "?";
    sql += ")";
    insert_.reset(db_.prepare(sql));
  }

  void flush() {
    if (currentRow_ == 0 || currentRow_ == kNoRow || !rowHasValues_) return;
    if (!created_) create();
    // Rows left empty inside the sheet keep their place as rows of NULLs.
    for (; nextRow_ < currentRow_; ++nextRow_) {
      for (uint32_t i = 0; i < columns_; ++i) sqlite3_bind_null(insert_.get(), static_cast<int>(i + 1));
      step(insert_.get());
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
    step(insert_.get());
    rowHasValues_ = false;
    nextRow_ = currentRow_ + 1;
  }

  void hold(uint32_t row, uint32_t column, std::string_view text) {
    held_.push_back({row, column, heldText_.size(), heldText_.size() + text.size()});
    heldText_ += text;
  }

  void placeHeldCells() {
    std::stable_sort(held_.begin(), held_.end(), [](const Held& a, const Held& b) {
      return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    std::vector<Held> cells = std::move(held_);
    held_.clear();
    const uint32_t written = nextRow_;  // rows below this one are in the table
    for (const Held& h : cells) {
      const std::string_view text = std::string_view(heldText_).substr(h.begin, h.end - h.begin);
      if (h.row == 0) continue;
      if (h.row < written) {
        if (!created_) create();
        std::unique_ptr<sqlite3_stmt, StatementDeleter> update(db_.prepare(
            "UPDATE " + table_ + " SET COL" + std::to_string(h.column + 1) + " = ? WHERE rowid = ?"));
        sqlite3_bind_text(update.get(), 1, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
        sqlite3_bind_int64(update.get(), 2, h.row);
        step(update.get());
      } else {
        cell(h.row, h.column, text);
      }
    }
    flush();
  }

  void step(sqlite3_stmt* statement) {
    if (sqlite3_step(statement) != SQLITE_DONE) {
      sqlite3_reset(statement);
      db_.fail("cannot be written");
    }
    sqlite3_reset(statement);
  }

  static constexpr uint32_t kNoRow = 0xFFFFFFFFu;
  Database& db_;
  std::string table_;
  std::string description_;  // "The workbook <path>, worksheet "<name>","
  const uint32_t maxColumns_;
  bool created_ = false;
  uint32_t columns_ = 0;
  std::unique_ptr<sqlite3_stmt, StatementDeleter> insert_;
  std::vector<std::string> values_;
  std::vector<bool> present_;
  uint32_t currentRow_ = kNoRow;
  uint32_t nextRow_ = 1;
  bool rowHasValues_ = false;
  std::vector<Held> held_;
  std::string heldText_;
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
    std::unique_ptr<WorkbookReader> reader = openWorkbookReader(workbookPath);

    // Worksheet table names ("<sheet name>$") seen so far; hidden ranges
    // ("$_") are left out without using up a number.
    std::unordered_set<std::string> seen;
    bool anyWorksheet = false;
    std::string name;
    int n = 1;
    while (reader->nextWorksheet(name)) {
      anyWorksheet = true;
      const std::string tableName = name + "$";
      if (tableName.find("$_") != std::string::npos || !seen.insert(tableName).second) continue;
      if (!db) db = std::make_unique<Database>(databasePath);
      TableWriter writer(*db, "SHEET" + std::to_string(n++),
                         "The workbook " + workbookPath + ", worksheet \"" + name + "\",");
      try {
        reader->readWorksheet(writer);
      } catch (...) {
        writer.keepTable();
        throw;
      }
      writer.finish();
    }
    if (!anyWorksheet) return "The workbook " + workbookPath + " has no worksheets.";
    if (!db) db = std::make_unique<Database>(databasePath);
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
