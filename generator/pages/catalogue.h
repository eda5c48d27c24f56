// The catalogue as the page generators see it: table SHEET1 of Data.mdb, the
// SQLite file that the workbook import makes in the project folder. This is
// the one place that knows
//   - the table and the columns read by meaning: COL1 item code, COL2 group,
//     COL4 maker, COL6 flag (every column also reaches the templates under
//     its own name);
//   - the queries on them, and the indexes that the import makes for them;
//   - the group numbering that the subject, item-list and detail pages share;
//   - the names of the pages made from catalogue values.
// The generators open the database read-only: it belongs to the import.
// Every failure of the database raises CatalogueError with SQLite's text
// (put plainly when the first worksheet lacks a column the pages need).
#pragma once

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quill::pages {

// The columns that the generators read, by meaning. Templates see them under
// these names too (a maker is offered as COL4, a flag block is keyed COL6).
namespace column {
inline constexpr std::string_view kCode = "COL1";
inline constexpr std::string_view kGroup = "COL2";
inline constexpr std::string_view kMaker = "COL4";
inline constexpr std::string_view kFlag = "COL6";
}  // namespace column

inline constexpr std::string_view kCatalogueFile = "Data.mdb";

class CatalogueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The pages named after catalogue values. The names are file names inside
// Output/; links to them are these names URL-encoded.
std::string detailPageName(std::string_view code);   // "Detail_" + code + ".htm"
std::string groupPageName(std::string_view group);   // group + ".htm"

// Makes the indexes that the per-group queries below need, in the database
// at file; the import calls it once the tables are complete. An index that
// cannot be made (a sheet without those columns) is left out: the queries
// then fail or run slower, but the import does not.
void createCatalogueIndexes(const std::string& file);

// A group and its number: the 1-based position of the group among all
// distinct groups in name order, the empty group included.
struct Group {
  std::string name;
  int number = 0;
};

class Catalogue;

// A forward-only, read-only cursor over the rows of one query. Movable; it
// hands its statement back to the catalogue when closed or destroyed, so it
// must not outlive the catalogue.
class Recordset {
 public:
  Recordset() = default;
  Recordset(Recordset&& other) noexcept { *this = std::move(other); }
  Recordset& operator=(Recordset&& other) noexcept;
  ~Recordset() { close(); }

  bool isOpen() const noexcept { return stmt_ != nullptr; }
  bool eof() const noexcept { return stmt_ == nullptr || eof_; }
  void moveNext();
  void close() noexcept;

  int fieldCount() const noexcept { return stmt_ ? sqlite3_column_count(stmt_) : 0; }
  const char* fieldName(int i) const { return sqlite3_column_name(stmt_, i); }
  // The index of a field by name, or -1.
  int fieldIndex(std::string_view name) const;
  bool isNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
  // The field as text (a null field reads as the empty text).
  std::string_view text(int i) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, i))) : std::string_view();
  }

 private:
  friend class Catalogue;
  struct Slot;  // a prepared statement of the catalogue, lent to one recordset at a time

  sqlite3_stmt* stmt_ = nullptr;
  Slot* slot_ = nullptr;
  bool eof_ = true;
};

class Catalogue {
 public:
  // The database at file, opened on the first query.
  explicit Catalogue(std::string file);
  ~Catalogue();
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;

  std::vector<Group> groups();
  // COL1 of every item, in code order.
  Recordset codes();
  // The distinct makers of a group, in name order.
  Recordset makersOf(std::string_view group);
  // Every column of the items of a group and maker, in stored order. The
  // empty maker takes the items whose maker cell is empty (NULL or "").
  Recordset itemsOf(std::string_view group, std::string_view maker);
  // Every column of the items of a group, in code order.
  Recordset itemsOf(std::string_view group);
  // The number of items that itemsOf(group) lists.
  long itemCountOf(std::string_view group);
  // The code of an item whose detail page is fileName when file names are
  // compared without regard to ASCII case, if there is one.
  std::optional<std::string> codeWithDetailPage(std::string_view fileName);

  // Ends the read transaction that the first query began; the next query
  // begins a new one.
  void endRead() noexcept;

 private:
  Recordset query(std::string_view sql, std::initializer_list<std::string_view> params);
  void open();
  [[noreturn]] void fail() const;
  // SQLite's text for a failed query, said plainly when a column the
  // generators need is missing from the first worksheet.
  std::string describeFailure() const;

  std::string file_;
  sqlite3* db_ = nullptr;
  std::vector<std::unique_ptr<Recordset::Slot>> slots_;
};

}  // namespace quill::pages
