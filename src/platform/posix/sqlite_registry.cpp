// The registry store on SQLite: one database file per hive. Every write is
// one transaction (crash-safe with a rollback journal and full sync), and
// writers from several processes wait for each other (busy timeout).

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/posix/posix.h"

namespace zept::platform {
namespace {

constexpr int kBusyTimeoutMs = 30000;

struct KeyNames {
  std::string fold;    // folded names joined by "\": the identity
  std::string parent;  // fold of the parent key; "" for a top key
  std::string name;    // the last name as written
};

// The key and each of its ancestors, outermost first.
std::vector<KeyNames> KeyChain(const WideString& key) {
  std::vector<KeyNames> chain;
  std::string fold;
  for (const WideString& name : SplitKeyPath(key)) {
    KeyNames k;
    k.parent = fold;
    fold += (fold.empty() ? "" : "\\") + WideToUtf8(FoldName(name));
    k.fold = fold;
    k.name = WideToUtf8(name);
    chain.push_back(std::move(k));
  }
  return chain;
}

std::string KeyFold(const WideString& key) {
  std::vector<KeyNames> chain = KeyChain(key);
  return chain.empty() ? std::string() : chain.back().fold;
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
      throw ERegistryError(std::string("registry query failed: ") +
                           sqlite3_errmsg(db));
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  // True while a row is available.
  bool step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw ERegistryError(std::string("registry query failed: ") +
                         sqlite3_errmsg(db_));
  }
  std::string column(int index) {
    const auto* text =
        reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
    return text ? std::string(text, sqlite3_column_bytes(stmt_, index))
                : std::string();
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class Hive {
 public:
  explicit Hive(std::string file) : file_(std::move(file)) {}
  ~Hive() {
    if (db_) sqlite3_close(db_);
  }

  // The open database; nullptr when it does not exist yet and create is
  // false. Throws ERegistryError when it cannot be opened.
  sqlite3* db(bool create) {
    if (db_ && (writable_ || !create)) return db_;
    if (db_) {
      sqlite3_close(db_);
      db_ = nullptr;
    }
    struct stat st;
    const bool exists = ::stat(file_.c_str(), &st) == 0;
    if (!exists && !create) return nullptr;
    if (create) makeFolder();
    int flags =
        create ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
               : (::access(file_.c_str(), W_OK) == 0 ? SQLITE_OPEN_READWRITE
                                                     : SQLITE_OPEN_READONLY);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file_.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
      std::string reason = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
      sqlite3_close(db);
      throw ERegistryError(SystemErrorMessage("open registry", file_, reason));
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    db_ = db;
    writable_ = (flags & SQLITE_OPEN_READWRITE) != 0;
    if (writable_) {
      exec("PRAGMA synchronous=FULL");
      exec(
          "CREATE TABLE IF NOT EXISTS keys(fold TEXT PRIMARY KEY, parent TEXT "
          "NOT NULL, name TEXT NOT NULL) WITHOUT ROWID;"
          "CREATE INDEX IF NOT EXISTS keys_parent ON keys(parent);"
          "CREATE TABLE IF NOT EXISTS vals(key TEXT NOT NULL, fold TEXT NOT "
          "NULL, name TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY(key, "
          "fold)) WITHOUT ROWID;");
    }
    return db_;
  }

  void exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::string reason = error ? error : "unknown error";
      sqlite3_free(error);
      throw ERegistryError(
          SystemErrorMessage("update registry", file_, reason));
    }
  }

  // Runs body inside one write transaction; rolls back when it throws.
  template <typename Body>
  void write(Body body) {
    db(true);
    exec("BEGIN IMMEDIATE");
    try {
      body(db_);
      exec("COMMIT");
    } catch (...) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  static void insertChain(sqlite3* db, const std::vector<KeyNames>& chain) {
    for (const KeyNames& k : chain) {
      Statement(db,
                "INSERT OR IGNORE INTO keys(fold, parent, name) VALUES(?,?,?)")
          .bind(1, k.fold)
          .bind(2, k.parent)
          .bind(3, k.name)
          .step();
    }
  }

  const std::string& file() const { return file_; }

  // Without a database only the root key exists.
  bool tableless() {
    sqlite3* d = db(false);
    if (!d) return true;
    Statement s(d, "SELECT 1 FROM sqlite_master WHERE name='keys'");
    return !s.step();
  }

 private:
  void makeFolder() {
    std::string folder = file_.substr(0, file_.rfind('/'));
    std::string current;
    for (std::size_t i = 1; i <= folder.size(); ++i) {
      if (i == folder.size() || folder[i] == '/') {
        current = folder.substr(0, i);
        if (::mkdir(current.c_str(), 0755) != 0 && errno != EEXIST) {
          throw ERegistryError(SystemErrorMessage("create folder", current,
                                                  std::strerror(errno)));
        }
      }
    }
  }

  std::string file_;
  sqlite3* db_ = nullptr;
  bool writable_ = false;
};

class SqliteRegistry final : public RegistryStore {
 public:
  SqliteRegistry(std::string user, std::string machine)
      : user_(std::move(user)), machine_(std::move(machine)) {}

  bool keyExists(RegistryRoot root, const WideString& key) override {
    const std::string fold = KeyFold(key);
    if (fold.empty()) return true;
    Hive& h = hive(root);
    if (h.tableless()) return false;
    Statement s(h.db(false), "SELECT 1 FROM keys WHERE fold=?");
    return s.bind(1, fold).step();
  }

  bool createKey(RegistryRoot root, const WideString& key) override {
    try {
      hive(root).write(
          [&](sqlite3* db) { Hive::insertChain(db, KeyChain(key)); });
      return true;
    } catch (const ERegistryError&) {
      return false;
    }
  }

  std::optional<WideString> readString(RegistryRoot root, const WideString& key,
                                       const WideString& name) override {
    Hive& h = hive(root);
    if (h.tableless()) return std::nullopt;
    Statement s(h.db(false), "SELECT value FROM vals WHERE key=? AND fold=?");
    s.bind(1, KeyFold(key)).bind(2, WideToUtf8(FoldName(name)));
    if (!s.step()) return std::nullopt;
    return Utf8ToWide(s.column(0));
  }

  void writeString(RegistryRoot root, const WideString& key,
                   const WideString& name, const WideString& value) override {
    hive(root).write([&](sqlite3* db) {
      std::vector<KeyNames> chain = KeyChain(key);
      Hive::insertChain(db, chain);
      Statement(db,
                "INSERT INTO vals(key, fold, name, value) VALUES(?,?,?,?) "
                "ON CONFLICT(key, fold) DO UPDATE SET value=excluded.value")
          .bind(1, chain.empty() ? std::string() : chain.back().fold)
          .bind(2, WideToUtf8(FoldName(name)))
          .bind(3, WideToUtf8(name))
          .bind(4, WideToUtf8(value))
          .step();
    });
  }

  bool deleteValue(RegistryRoot root, const WideString& key,
                   const WideString& name) override {
    Hive& h = hive(root);
    if (h.tableless()) return false;
    bool deleted = false;
    h.write([&](sqlite3* db) {
      Statement(db, "DELETE FROM vals WHERE key=? AND fold=?")
          .bind(1, KeyFold(key))
          .bind(2, WideToUtf8(FoldName(name)))
          .step();
      deleted = sqlite3_changes(db) > 0;
    });
    return deleted;
  }

  bool deleteKey(RegistryRoot root, const WideString& key) override {
    const std::string fold = KeyFold(key);
    Hive& h = hive(root);
    if (fold.empty() || h.tableless()) return false;
    bool deleted = false;
    // Descendants are the folds between "K\" and "K]" ("]" follows "\").
    const std::string low = fold + "\\", high = fold + "]";
    h.write([&](sqlite3* db) {
      Statement(db, "DELETE FROM keys WHERE fold=? OR (fold>=? AND fold<?)")
          .bind(1, fold)
          .bind(2, low)
          .bind(3, high)
          .step();
      deleted = sqlite3_changes(db) > 0;
      Statement(db, "DELETE FROM vals WHERE key=? OR (key>=? AND key<?)")
          .bind(1, fold)
          .bind(2, low)
          .bind(3, high)
          .step();
    });
    return deleted;
  }

  std::vector<WideString> listSubkeys(RegistryRoot root,
                                      const WideString& key) override {
    std::vector<WideString> names;
    Hive& h = hive(root);
    if (h.tableless()) return names;
    Statement s(h.db(false),
                "SELECT name FROM keys WHERE parent=? ORDER BY fold");
    s.bind(1, KeyFold(key));
    while (s.step()) names.push_back(Utf8ToWide(s.column(0)));
    return names;
  }

  std::vector<std::pair<WideString, WideString>> listValues(
      RegistryRoot root, const WideString& key) override {
    std::vector<std::pair<WideString, WideString>> values;
    Hive& h = hive(root);
    if (h.tableless()) return values;
    Statement s(h.db(false),
                "SELECT name, value FROM vals WHERE key=? ORDER BY fold");
    s.bind(1, KeyFold(key));
    while (s.step()) {
      values.emplace_back(Utf8ToWide(s.column(0)), Utf8ToWide(s.column(1)));
    }
    return values;
  }

  // The file's absolute path: a relative ZEPT_REGISTRY_DIR names the same
  // store from any working folder.
  WideString location(RegistryRoot root) const override {
    const std::string& file =
        (root == RegistryRoot::LocalMachine ? machine_ : user_).file();
    std::error_code error;
    const std::filesystem::path absolute =
        std::filesystem::absolute(file, error);
    return Utf8ToWide(error ? file : absolute.lexically_normal().string());
  }

 private:
  Hive& hive(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? machine_ : user_;
  }

  Hive user_;
  Hive machine_;
};

}  // namespace

std::unique_ptr<RegistryStore> NewSqliteRegistry(std::string currentUserFile,
                                                 std::string localMachineFile) {
  return std::make_unique<SqliteRegistry>(std::move(currentUserFile),
                                          std::move(localMachineFile));
}

std::unique_ptr<RegistryStore> NewDefaultRegistry(GetEnvFunction getEnv) {
  const char* dir = getEnv("ZEPT_REGISTRY_DIR");
  if (dir && *dir) {
    const std::string base(dir);
    return NewSqliteRegistry(base + "/HKCU.db", base + "/HKLM.db");
  }
  std::string config;
  if (const char* xdg = getEnv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    config = xdg;
  } else {
    const char* home = getEnv("HOME");
    config = std::string(home ? home : "") + "/.config";
  }
  return NewSqliteRegistry(config + "/zept/registry/HKCU.db",
                           "/var/lib/zept/registry/HKLM.db");
}

}  // namespace zept::platform
