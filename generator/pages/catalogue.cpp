// The catalogue's queries run on one read-only connection per generator,
// opened on the first query. Each query text has prepared statements kept in
// slots: a recordset borrows a free slot's statement and hands it back
// (reset) when it closes, so the per-group queries, run once per group or
// per maker, are prepared only once. A query whose statements are all lent
// out (a recordset replaced by a new one of the same query) gets one more
// slot. All queries of one generator run inside one read transaction, so the
// file lock is taken once rather than once per query.
#include "generator/pages/catalogue.h"

#include <cstdlib>
#include <utility>

namespace quill::pages {

namespace {

// The queries. Groups and makers compare by the column's own collation; items
// of a maker keep the order in which the import stored them.
constexpr std::string_view kGroupsSql = "select DISTINCT COL2 from SHEET1 order by COL2";
constexpr std::string_view kCodesSql = "select COL1 from SHEET1 order by COL1";
constexpr std::string_view kMakersSql = "select DISTINCT COL4 from SHEET1 where COL2 = ? order by COL4";
constexpr std::string_view kMakerItemsSql = "select * from SHEET1 where COL2 = ? and COL4 = ?";
// An empty maker cell is NULL (or, from some workbooks, ""), which "= ?"
// never matches; in stored order like the others.
constexpr std::string_view kNoMakerItemsSql =
    "select * from SHEET1 where COL2 = ? and (COL4 IS NULL or COL4 = '') order by rowid";
constexpr std::string_view kDetailPageSql =
    "select COL1 from SHEET1 where 'Detail_' || ifnull(COL1, '') || '.htm' = ? COLLATE NOCASE limit 1";
constexpr std::string_view kGroupItemsSql = "select * from SHEET1 where COL2 = ? order by COL1";
constexpr std::string_view kGroupItemCountSql = "select count(*) from SHEET1 where COL2 = ?";

// The per-group queries above would otherwise scan the whole table once per
// group (or per group and maker).
constexpr const char* kIndexes[] = {
    "CREATE INDEX IF NOT EXISTS quillant_sheet1_group_maker ON SHEET1(COL2, COL4)",
    "CREATE INDEX IF NOT EXISTS quillant_sheet1_group_code ON SHEET1(COL2, COL1)",
};

constexpr long long kMapLimitBytes = 1LL << 30;

}  // namespace

struct Recordset::Slot {
  std::string_view sql;
  sqlite3_stmt* stmt = nullptr;
  bool inUse = false;
};

std::string detailPageName(std::string_view code) {
  std::string name = "Detail_";
  name += code;
  name += ".htm";
  return name;
}

std::string groupPageName(std::string_view group) {
  std::string name(group);
  name += ".htm";
  return name;
}

void createCatalogueIndexes(const std::string& file) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    // The database is a temporary product of the run: nothing to sync.
    sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    for (const char* sql : kIndexes) sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  }
  sqlite3_close_v2(db);
}

// ---- Recordset ----------------------------------------------------------

Recordset& Recordset::operator=(Recordset&& other) noexcept {
  if (this != &other) {
    close();
    stmt_ = std::exchange(other.stmt_, nullptr);
    slot_ = std::exchange(other.slot_, nullptr);
    eof_ = std::exchange(other.eof_, true);
  }
  return *this;
}

void Recordset::moveNext() {
  if (eof()) return;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return;
  eof_ = true;
  if (rc != SQLITE_DONE) throw CatalogueError(sqlite3_errmsg(sqlite3_db_handle(stmt_)));
}

void Recordset::close() noexcept {
  if (!stmt_) return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  slot_->inUse = false;
  stmt_ = nullptr;
  slot_ = nullptr;
  eof_ = true;
}

int Recordset::fieldIndex(std::string_view name) const {
  for (int i = 0, n = fieldCount(); i < n; ++i)
    if (name == fieldName(i)) return i;
  return -1;
}

// ---- Catalogue ----------------------------------------------------------

Catalogue::Catalogue(std::string file) : file_(std::move(file)) {}

Catalogue::~Catalogue() {
  for (const auto& slot : slots_) sqlite3_finalize(slot->stmt);
  if (db_) sqlite3_close_v2(db_);
}

std::vector<Group> Catalogue::groups() {
  std::vector<Group> groups;
  int number = 0;
  for (Recordset rs = query(kGroupsSql, {}); !rs.eof(); rs.moveNext())
    groups.push_back({std::string(rs.text(0)), ++number});
  return groups;
}

Recordset Catalogue::codes() { return query(kCodesSql, {}); }

Recordset Catalogue::makersOf(std::string_view group) { return query(kMakersSql, {group}); }

Recordset Catalogue::itemsOf(std::string_view group, std::string_view maker) {
  if (maker.empty()) return query(kNoMakerItemsSql, {group});
  return query(kMakerItemsSql, {group, maker});
}

Recordset Catalogue::itemsOf(std::string_view group) { return query(kGroupItemsSql, {group}); }

std::optional<std::string> Catalogue::codeWithDetailPage(std::string_view fileName) {
  const Recordset rs = query(kDetailPageSql, {fileName});
  if (rs.eof()) return std::nullopt;
  return std::string(rs.text(0));
}

long Catalogue::itemCountOf(std::string_view group) {
  Recordset count = query(kGroupItemCountSql, {group});
  return count.eof() ? 0 : std::stol(std::string(count.text(0)));
}

void Catalogue::open() {
  // Read-only, and never created: a missing catalogue is an error. The
  // connection is used by this object's thread only.
  const int rc = sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw CatalogueError("Cannot open the catalogue database " + file_ + ": " + why);
  }
  // The per-group queries visit rows in index order, not in stored order, so
  // the same table pages are read again and again; beyond SQLite's small
  // page cache each visit would be a read call. Mapping the file makes it a
  // memory access (a fifth of a whole run on 20,000 items). The limit is
  // address space, not memory, and larger than any catalogue's file.
  const std::string mapSize = "PRAGMA mmap_size=" + std::to_string(kMapLimitBytes);
  sqlite3_exec(db_, mapSize.c_str(), nullptr, nullptr, nullptr);
}

void Catalogue::fail() const { throw CatalogueError(describeFailure()); }

std::string Catalogue::describeFailure() const {
  const std::string message = sqlite3_errmsg(db_);
  constexpr std::string_view kNoColumn = "no such column: COL";
  if (!message.starts_with(kNoColumn)) return message;
  const int missing = std::atoi(message.c_str() + kNoColumn.size());
  int columns = 0;
  bool rows = false;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, "select * from SHEET1 limit 1", -1, &stmt, nullptr) == SQLITE_OK) {
    columns = sqlite3_column_count(stmt);
    rows = sqlite3_step(stmt) == SQLITE_ROW;
  }
  sqlite3_finalize(stmt);
  const std::string need =
      "The pages need the item code in column A, the group in column B and the maker in column D of the first "
      "worksheet, below a row of titles (" + message + ").";
  // An empty worksheet imports as a table of one column and no rows.
  if (columns <= 1 && !rows) return "The first worksheet has no columns. " + need;
  if (missing < 1 || missing > 26) return message;
  return "The first worksheet has no column " + std::string(1, static_cast<char>('A' + missing - 1)) + ". " + need;
}

Recordset Catalogue::query(std::string_view sql, std::initializer_list<std::string_view> params) {
  if (!db_) open();
  if (sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);

  Recordset::Slot* slot = nullptr;
  for (const auto& s : slots_)
    if (s->sql == sql && !s->inUse) slot = s.get();
  if (!slot) {
    auto fresh = std::make_unique<Recordset::Slot>();
    fresh->sql = sql;
    if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &fresh->stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(fresh->stmt);
      fail();
    }
    slot = fresh.get();
    slots_.push_back(std::move(fresh));
  }

  Recordset rs;
  rs.stmt_ = slot->stmt;
  rs.slot_ = slot;
  slot->inUse = true;
  int i = 1;
  for (const std::string_view p : params)
    sqlite3_bind_text(rs.stmt_, i++, p.data(), static_cast<int>(p.size()), SQLITE_TRANSIENT);
  const int rc = sqlite3_step(rs.stmt_);
  rs.eof_ = rc != SQLITE_ROW;
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail();
  return rs;
}

void Catalogue::endRead() noexcept {
  if (!db_ || sqlite3_get_autocommit(db_)) return;
  for (const auto& slot : slots_) sqlite3_reset(slot->stmt);
  sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
}

}  // namespace quill::pages
