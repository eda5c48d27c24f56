// The frame shared by the four page generators: the script contract
// (OutputFile, DebugMsg, ErrMsg), the catalogue database Data.mdb (an SQLite
// file), the template document, and the recursive writer that walks a
// template's part tree into a page buffer written to one file per page.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/dispatch.h"
#include "common/ordered_map.h"
#include "engine/marl_doc.h"
#include "engine/marl_part.h"

namespace quill::pages {

// A forward-only, read-only cursor over the rows of one query. It borrows a
// prepared statement of its generator and resets it when closed.
class Recordset {
 public:
  Recordset() = default;
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;
  ~Recordset() { close(); }

  bool isOpen() const noexcept { return stmt_ != nullptr; }
  bool eof() const noexcept { return stmt_ == nullptr || eof_; }
  // Advances to the next row; raises std::runtime_error when the database fails.
  void moveNext();
  void close() noexcept;

  int fieldCount() const noexcept { return stmt_ ? sqlite3_column_count(stmt_) : 0; }
  const char* fieldName(int i) const { return sqlite3_column_name(stmt_, i); }
  // The index of a field by name, or -1.
  int fieldIndex(std::string_view name) const;
  bool isNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
  // The field as text (a null field reads as the empty text).
  std::string_view text(int i) const;

 private:
  friend class PageGenerator;
  sqlite3_stmt* stmt_ = nullptr;
  bool* inUse_ = nullptr;  // the cache's flag, or nullptr for a statement of its own
  bool eof_ = true;
};

// A query parameter: a text, or SQL NULL.
struct SqlValue {
  SqlValue(std::string_view t) : text(t) {}  // NOLINT: implicit on purpose
  SqlValue(const std::string& t) : text(t) {}  // NOLINT
  SqlValue(const char* t) : text(t) {}  // NOLINT
  std::string_view text;
};

class PageGenerator : public Dispatch {
 public:
  PageGenerator();
  ~PageGenerator() override;

  // Makes this generator's pages in folder + "Output/". folder is the project
  // folder and ends with the path separator. Afterwards errMsg() and
  // debugMsg() tell the outcome; nothing is thrown.
  void outputFile(std::string_view folder);

  const std::string& errMsg() const noexcept { return errMsg_; }
  const std::string& debugMsg() const noexcept { return debugMsg_; }

 protected:
  // The generator's own work, after the common start. Exceptions escaping it
  // become ErrMsg.
  virtual void generate() = 0;
  // Handles one container child of a part being written.
  virtual void writeContainer(MarlPart& child) = 0;

  bool openConnection();
  // Opens sql with its parameters bound in order; on failure ErrMsg is set
  // and the result is true (failed).
  bool openRecordset(std::string_view sql, std::initializer_list<SqlValue> params, Recordset& rs);
  bool openRecordset(std::string_view sql, Recordset& rs) { return openRecordset(sql, {}, rs); }
  void addDebugMsg(std::string_view text);

  // Loads a template by full path; "" on success, else the engine's text.
  std::string loadTemplate(const std::string& file, std::shared_ptr<MarlPart>& root);

  // Writes every child of container: text parts into the page buffer,
  // container parts through writeContainer.
  void writePart(MarlPart& container);

  // Page buffer handling: begin a page, then write it to folder + "Output/" + name.
  // On failure ErrMsg is set and the result is true.
  void beginPage() { page_.clear(); }
  bool savePage(std::string_view fileName);

  // Sets a variable of a part when the part has it.
  static void setVar(MarlPart& part, std::string_view name, std::string_view value) {
    if (MarlVar* v = part.vars().find(name)) v->replace(value);
  }

  std::string errMsg_;
  std::string debugMsg_;
  std::string path_;
  // Set by writeContainer to end the writing of the container being written
  // (its remaining children are left out; the caller's container goes on).
  bool endContainer_ = false;

 private:
  void beginRead();
  void endRead() noexcept;

  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    bool inUse = false;
  };
  sqlite3* db_ = nullptr;
  OrderedMap<std::string, std::unique_ptr<Cached>> statements_;
  std::string page_;
};

// Registers "Quillant.clsSubject", "Quillant.clsCodeIndex",
// "Quillant.clsImgList" and "Quillant.clsDetail" with the object factory.
void registerPageGenerators();

}  // namespace quill::pages

namespace quill {
using pages::registerPageGenerators;
}
