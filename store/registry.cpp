// Registry nodes over an SQLite file. Keys are rows of reg_keys (root key,
// parent key id, name; 0 is the root key itself), values rows of reg_values
// keyed by root, key id and name; names compare without regard to ASCII
// case, as the platform registry's do. Each operation opens the file, works
// in one transaction, and closes it again, so no handle outlives a call and
// several processes can share the file. Every failure, including a missing or
// unreadable file, ends in the answer "no" (false, or no value).
#include "store/registry.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "store/node_members.h"

namespace fs = std::filesystem;

namespace quill {

std::string registryPath() {
  if (const char* p = std::getenv("QUILLANT_REGISTRY"); p && *p) return p;
  fs::path base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = fs::path(h) / ".config";
  } else {
    base = ".config";
  }
  return (base / "quillant" / "registry.db").string();
}

namespace {

constexpr size_t kMaxKeyNameLength = 255;
// Another process may hold the file for the length of one call: wait for it
// rather than fail at once.
constexpr int kBusyTimeoutMs = 5000;

bool isPredefinedRoot(uint32_t root) { return root >= HKEY_CLASSES_ROOT && root <= HKEY_DYN_DATA; }

// Splits a key path at backslashes. A leading backslash or an empty name
// between two backslashes is a bad path; one trailing backslash is allowed.
bool splitPath(std::string_view path, std::vector<std::string_view>& parts) {
  parts.clear();
  if (path.empty()) return true;
  if (path.front() == '\\') return false;
  if (path.back() == '\\') path.remove_suffix(1);
  size_t start = 0;
  for (;;) {
    const size_t bs = path.find('\\', start);
    std::string_view part = path.substr(start, bs == std::string_view::npos ? std::string_view::npos : bs - start);
    if (part.empty() || part.size() > kMaxKeyNameLength) return false;
    parts.push_back(part);
    if (bs == std::string_view::npos) return true;
    start = bs + 1;
  }
}

class Db {
 public:
  // Opens the store; for writing it is created (with its folder) when missing.
  explicit Db(bool write) {
    const std::string path = registryPath();
    if (write) {
      std::error_code ec;
      const fs::path parent = fs::path(path).parent_path();
      if (!parent.empty()) fs::create_directories(parent, ec);
    }
    const int flags = write ? (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
      close();
      return;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    if (write &&
        !exec("CREATE TABLE IF NOT EXISTS reg_keys("
              " id INTEGER PRIMARY KEY, root INTEGER NOT NULL, parent INTEGER NOT NULL,"
              " name TEXT NOT NULL COLLATE NOCASE, UNIQUE(root, parent, name));"
              "CREATE TABLE IF NOT EXISTS reg_values("
              " root INTEGER NOT NULL, key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
              " data BLOB NOT NULL, PRIMARY KEY(root, key, name));"))
      close();
  }
  ~Db() { close(); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  bool ok() const { return db_ != nullptr; }
  sqlite3* get() const { return db_; }
  bool exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

 private:
  void close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  sqlite3* db_ = nullptr;
};

class Stmt {
 public:
  Stmt(const Db& db, const char* sql) {
    if (sqlite3_prepare_v2(db.get(), sql, -1, &st_, nullptr) != SQLITE_OK) st_ = nullptr;
  }
  ~Stmt() { sqlite3_finalize(st_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return st_ != nullptr; }
  void reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  void bind(int i, int64_t v) { sqlite3_bind_int64(st_, i, v); }
  void bind(int i, std::string_view v) {
    sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void bindBlob(int i, std::string_view v) {
    sqlite3_bind_blob(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  int step() { return sqlite3_step(st_); }
  int64_t column(int i) const { return sqlite3_column_int64(st_, i); }
  std::string_view blob(int i) const {
    const void* p = sqlite3_column_blob(st_, i);
    const int n = sqlite3_column_bytes(st_, i);
    return p ? std::string_view(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string_view();
  }

 private:
  sqlite3_stmt* st_ = nullptr;
};

// Id of the key at parts below root (0 for the root key itself), or -1.
int64_t findKey(const Db& db, uint32_t root, const std::vector<std::string_view>& parts) {
  Stmt st(db, "SELECT id FROM reg_keys WHERE root = ?1 AND parent = ?2 AND name = ?3");
  if (!st.ok()) return -1;
  int64_t id = 0;
  for (auto part : parts) {
    st.reset();
    st.bind(1, static_cast<int64_t>(root));
    st.bind(2, id);
    st.bind(3, part);
    if (st.step() != SQLITE_ROW) return -1;
    id = st.column(0);
  }
  return id;
}

// The usual transaction of one call: committed when commit() is reached,
// rolled back otherwise.
class Transaction {
 public:
  Transaction(Db& db, bool write) : db_(db) { open_ = db_.exec(write ? "BEGIN IMMEDIATE" : "BEGIN"); }
  ~Transaction() {
    if (open_) db_.exec("ROLLBACK");
  }
  bool ok() const { return open_; }
  bool commit() {
    if (!open_) return false;
    open_ = false;
    return db_.exec("COMMIT");
  }

 private:
  Db& db_;
  bool open_;
};

}  // namespace

namespace registry {

bool openKey(uint32_t root, std::string_view path) {
  std::vector<std::string_view> parts;
  if (!isPredefinedRoot(root) || !splitPath(path, parts)) return false;
  if (parts.empty()) return true;  // the root key itself always opens
  Db db(false);
  if (!db.ok()) return false;
  Transaction tx(db, false);
  return tx.ok() && findKey(db, root, parts) >= 0;
}

std::optional<std::string> queryValue(uint32_t root, std::string_view path, std::string_view name,
                                      size_t capacity) {
  std::vector<std::string_view> parts;
  if (!isPredefinedRoot(root) || !splitPath(path, parts)) return std::nullopt;
  Db db(false);
  if (!db.ok()) return std::nullopt;
  Transaction tx(db, false);
  if (!tx.ok()) return std::nullopt;
  const int64_t key = findKey(db, root, parts);
  if (key < 0) return std::nullopt;
  Stmt st(db, "SELECT data FROM reg_values WHERE root = ?1 AND key = ?2 AND name = ?3");
  if (!st.ok()) return std::nullopt;
  st.bind(1, static_cast<int64_t>(root));
  st.bind(2, key);
  st.bind(3, name);
  if (st.step() != SQLITE_ROW) return std::nullopt;
  const std::string_view data = st.blob(0);
  if (data.size() > capacity) return std::nullopt;  // the value does not fit the buffer
  return std::string(data);
}

bool createAndSet(uint32_t root, std::string_view path, std::string_view name, std::string_view bytes) {
  std::vector<std::string_view> parts;
  if (!isPredefinedRoot(root) || !splitPath(path, parts)) return false;
  Db db(true);
  if (!db.ok()) return false;
  Transaction tx(db, true);
  if (!tx.ok()) return false;
  Stmt find(db, "SELECT id FROM reg_keys WHERE root = ?1 AND parent = ?2 AND name = ?3");
  Stmt insert(db, "INSERT INTO reg_keys(root, parent, name) VALUES(?1, ?2, ?3)");
  if (!find.ok() || !insert.ok()) return false;
  int64_t id = 0;
  for (auto part : parts) {
    find.reset();
    find.bind(1, static_cast<int64_t>(root));
    find.bind(2, id);
    find.bind(3, part);
    if (find.step() == SQLITE_ROW) {
      id = find.column(0);
      continue;
    }
    insert.reset();
    insert.bind(1, static_cast<int64_t>(root));
    insert.bind(2, id);
    insert.bind(3, part);
    if (insert.step() != SQLITE_DONE) return false;
    id = sqlite3_last_insert_rowid(db.get());
  }
  Stmt set(db, "INSERT INTO reg_values(root, key, name, data) VALUES(?1, ?2, ?3, ?4) "
               "ON CONFLICT(root, key, name) DO UPDATE SET data = excluded.data");
  if (!set.ok()) return false;
  set.bind(1, static_cast<int64_t>(root));
  set.bind(2, id);
  set.bind(3, name);
  set.bindBlob(4, bytes);
  if (set.step() != SQLITE_DONE) return false;
  return tx.commit();
}

bool deleteKey(uint32_t root, std::string_view path) {
  std::vector<std::string_view> parts;
  if (!isPredefinedRoot(root) || !splitPath(path, parts) || parts.empty()) return false;
  Db db(false);
  if (!db.ok()) return false;  // no store: nothing to delete
  Db wdb(true);
  if (!wdb.ok()) return false;
  Transaction tx(wdb, true);
  if (!tx.ok()) return false;
  const int64_t key = findKey(wdb, root, parts);
  if (key <= 0) return false;
  Stmt children(wdb, "SELECT 1 FROM reg_keys WHERE root = ?1 AND parent = ?2 LIMIT 1");
  if (!children.ok()) return false;
  children.bind(1, static_cast<int64_t>(root));
  children.bind(2, key);
  if (children.step() == SQLITE_ROW) return false;  // a key with subkeys is not deleted
  Stmt delValues(wdb, "DELETE FROM reg_values WHERE root = ?1 AND key = ?2");
  Stmt delKey(wdb, "DELETE FROM reg_keys WHERE id = ?1");
  if (!delValues.ok() || !delKey.ok()) return false;
  delValues.bind(1, static_cast<int64_t>(root));
  delValues.bind(2, key);
  delKey.bind(1, key);
  if (delValues.step() != SQLITE_DONE || delKey.step() != SQLITE_DONE) return false;
  return tx.commit();
}

}  // namespace registry

RegNodeRef cvRegNode::create(uint32_t root, std::string keyPath) {
  auto n = std::make_shared<cvRegNode>();
  n->setLocation(root, std::move(keyPath));
  return n;
}

bool cvRegNode::keyExists(std::string_view key) const { return registry::openKey(root_, key); }

RegNodeRef cvRegNode::node(std::string_view key) const {
  return create(root_, keyPath_.empty() ? std::string(key) : keyPath_ + "\\" + std::string(key));
}

std::string cvRegNode::getAttr(std::string_view name, std::string_view defaultValue) const {
  constexpr size_t kBufferSize = 1024;
  std::optional<std::string> bytes = registry::queryValue(root_, keyPath_, name, kBufferSize);
  const size_t zero = bytes ? bytes->find('\0') : std::string::npos;
  if (zero == std::string::npos) return std::string(defaultValue);  // unread, or no terminator in the buffer
  bytes->resize(zero);
  return *std::move(bytes);
}

bool cvRegNode::setAttr(std::string_view name, std::string_view value) const {
  std::string bytes(value);
  bytes.push_back('\0');  // written with its terminator, as a string value is
  return registry::createAndSet(root_, keyPath_, name, bytes);
}

namespace {

uint32_t rootArg(const Variant& v) {
  const double d = v.toDouble();
  if (!(d >= -2147483648.0 && d <= 4294967295.0)) throw runtimeError(kOverflow);
  const int64_t n = static_cast<int64_t>(std::llround(d));
  return static_cast<uint32_t>(n < 0 ? n + 4294967296LL : n);
}

}  // namespace

const ClassInfo& cvRegNode::classInfo() const {
  using R = cvRegNode;
  static const ClassInfo info = [] {
    ClassInfo c("cvRegNode");
    c.method<R>("KeyExists", 1, [](R& r, Args a) { return Variant(r.keyExists(a[0].toText())); });
    c.method<R>("Node", 1, [](R& r, Args a) { return Variant(ObjectRef(r.node(a[0].toText()))); });
    detail::addGetAttr<R>(c);
    c.method<R>("SetAttr", 2, [](R& r, Args a) {
      const std::string name = a[0].toText();
      const std::string value = a[1].toText();
      return Variant(r.setAttr(name, value));
    });
    detail::addCallerData<R>(c);
    return c;
  }();
  return info;
}

const ClassInfo& cvRegister::classInfo() const {
  using G = cvRegister;
  static const ClassInfo info = [] {
    ClassInfo c("cvRegister");
    c.method<G>("DeleteReg", 1, [](G& g, Args a) { return Variant(g.deleteReg(a[0].toText())); });
    c.indexedProperty<G>("Root", 1, [](G& g, Args a) { return Variant(ObjectRef(g.root(rootArg(a[0])))); });
    return c;
  }();
  return info;
}

}  // namespace quill
