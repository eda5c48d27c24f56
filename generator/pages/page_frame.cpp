#include "generator/pages/page_frame.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "common/automation_error.h"
#include "common/object_factory.h"

namespace quill::pages {

// ---- Recordset ----------------------------------------------------------

void Recordset::moveNext() {
  if (eof()) return;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return;
  eof_ = true;
  if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(sqlite3_db_handle(stmt_)));
}

void Recordset::close() noexcept {
  if (!stmt_) return;
  if (inUse_) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    *inUse_ = false;
  } else {
    sqlite3_finalize(stmt_);
  }
  stmt_ = nullptr;
  inUse_ = nullptr;
  eof_ = true;
}

int Recordset::fieldIndex(std::string_view name) const {
  for (int i = 0, n = fieldCount(); i < n; ++i)
    if (name == fieldName(i)) return i;
  return -1;
}

std::string_view Recordset::text(int i) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
  if (!p) return {};
  return {p, static_cast<size_t>(sqlite3_column_bytes(stmt_, i))};
}

// ---- PageGenerator ------------------------------------------------------

PageGenerator::PageGenerator() = default;

PageGenerator::~PageGenerator() {
  for (auto& entry : statements_) sqlite3_finalize(entry.second->stmt);
  if (db_) sqlite3_close_v2(db_);
}

void PageGenerator::outputFile(std::string_view folder) {
  path_.assign(folder);
  try {
    generate();
  } catch (const AutomationError& e) {
    errMsg_ = e.description();
  } catch (const std::exception& e) {
    errMsg_ = e.what();
  }
  endRead();
}

bool PageGenerator::openConnection() {
  if (db_) {
    beginRead();
    return false;
  }
  const std::string file = path_ + "Data.mdb";
  sqlite3* db = nullptr;
  // Never create the database: a missing catalogue is an error. The
  // connection is used by this object's thread only.
  const int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    errMsg_ = "Cannot open the catalogue database " + file + ": " +
              (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    return true;
  }
  sqlite3_busy_timeout(db, 2000);
  db_ = db;
  // Indexes for the per-group queries of the item-list and detail pages, so
  // they do not scan the table once per group. Made once per database (the
  // database is temporary, so nothing is synced); a failure only costs speed.
  // The per-group queries visit the table in index order, not in stored
  // order: map the file so that revisiting a page costs no read call.
  sqlite3_exec(db_, "PRAGMA synchronous=OFF; PRAGMA mmap_size=1073741824; PRAGMA cache_size=-16384",
               nullptr, nullptr, nullptr);
  sqlite3_exec(db_,
               "CREATE INDEX IF NOT EXISTS quillant_sheet1_group_maker ON SHEET1(COL2, COL4);"
               "CREATE INDEX IF NOT EXISTS quillant_sheet1_group_code ON SHEET1(COL2, COL1);",
               nullptr, nullptr, nullptr);
  beginRead();
  return false;
}

void PageGenerator::beginRead() {
  // One read transaction for all the queries of an outputFile call, instead
  // of taking and dropping the file lock for each query.
  if (sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
}

void PageGenerator::endRead() noexcept {
  if (db_ && !sqlite3_get_autocommit(db_)) {
    for (auto& entry : statements_) sqlite3_reset(entry.second->stmt);
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }
}

bool PageGenerator::openRecordset(std::string_view sql, std::initializer_list<SqlValue> params,
                                  Recordset& rs) {
  rs.close();
  if (openConnection()) return true;
  sqlite3_stmt* stmt = nullptr;
  bool* inUse = nullptr;
  auto* cached = statements_.find(sql);
  if (cached && !(*cached)->inUse) {
    stmt = (*cached)->stmt;
    inUse = &(*cached)->inUse;
  } else {
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
      errMsg_ = sqlite3_errmsg(db_);
      sqlite3_finalize(stmt);
      return true;
    }
    if (!cached) {
      auto entry = std::make_unique<Cached>();
      entry->stmt = stmt;
      inUse = &entry->inUse;
      statements_.insert(std::string(sql), std::move(entry));
    }
  }
  rs.stmt_ = stmt;
  rs.inUse_ = inUse;
  if (inUse) *inUse = true;
  int i = 1;
  for (const SqlValue& p : params)
    sqlite3_bind_text(stmt, i++, p.text.data(), static_cast<int>(p.text.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    rs.eof_ = false;
    return false;
  }
  rs.eof_ = true;
  if (rc == SQLITE_DONE) return false;
  errMsg_ = sqlite3_errmsg(db_);
  rs.close();
  return true;
}

void PageGenerator::addDebugMsg(std::string_view text) {
  debugMsg_ += text;
  debugMsg_ += "\r\n";
}

std::string PageGenerator::loadTemplate(const std::string& file, std::shared_ptr<MarlPart>& root) {
  const ObjectRef object = createObject("MarlEngine.MarlDoc");
  auto* doc = dynamic_cast<MarlDoc*>(object.get());
  if (!doc) return "MarlEngine.MarlDoc is not the template engine's document";
  std::string result = doc->loadFile(file);
  if (result.empty()) root = doc->rootPart();
  return result;
}

void PageGenerator::writePart(MarlPart& container) {
  for (const auto& child : container.parts()) {
    if (child->partType() == MarlPart::kText)
      child->appendText(page_);
    else if (child->partType() == MarlPart::kContainer)
      writeContainer(*child);
    if (endContainer_) {
      endContainer_ = false;
      return;
    }
  }
}

bool PageGenerator::savePage(std::string_view fileName) {
  const std::string file = path_ + "Output/" + std::string(fileName);
  std::FILE* f = std::fopen(file.c_str(), "wb");
  bool failed = f == nullptr;
  int error = errno;
  if (f) {
    // The page is complete in memory: one write, no stream buffer.
    std::setvbuf(f, nullptr, _IONBF, 0);
    if (!page_.empty() && std::fwrite(page_.data(), 1, page_.size(), f) != page_.size()) {
      failed = true;
      error = errno;
    }
    if (std::fclose(f) != 0 && !failed) {
      failed = true;
      error = errno;
    }
  }
  if (failed) errMsg_ = "Cannot write the page " + file + ": " + std::strerror(error);
  return failed;
}

}  // namespace quill::pages
