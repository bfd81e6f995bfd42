// The progress store on SQLite, in WAL mode: zept-results reads a snapshot
// while zept writes, and a commit is one append to the log. With WAL,
// synchronous=NORMAL never tears the database: a crash of the program keeps
// every committed store, a power cut at worst the last few, whole.
//
// One row per element rather than one serialised map per item: a store
// rewrites only the elements whose value changed (most commits change a
// few short ones), so a 64,000-character suspend_data that stayed the same
// costs a comparison, not a rewrite; and the rows read plainly in sqlite3.

#include "scorm/progress_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>

#include "platform/codepage.h"
#include "util/sha256.h"

namespace zept::scorm {
namespace {

// PRAGMA user_version of the layout below; a newer file is never touched.
constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

constexpr char kSchema[] =
    "CREATE TABLE learners(login TEXT PRIMARY KEY NOT NULL,"
    " added INTEGER NOT NULL);"
    "CREATE TABLE item_values(login TEXT NOT NULL, item TEXT NOT NULL,"
    " element TEXT NOT NULL, value TEXT NOT NULL,"
    " PRIMARY KEY(login, item, element));"
    "PRAGMA user_version=1;";  // kSchemaVersion

void AppendNumber(std::string& out, std::uint64_t n, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(n >> (8 * i));
}

// Lengths in front of every part, so no two packages hash the same bytes.
void AppendText(std::string& out, const std::string& text) {
  AppendNumber(out, text.size(), 8);
  out += text;
}

[[noreturn]] void Fail(sqlite3* db, const std::string& path,
                       const std::string& operation) {
  throw EStoreError(SystemErrorMessage(operation, path, sqlite3_errmsg(db)));
}

// A prepared statement whose failures name the store.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& path, const char* sql,
            const char* operation)
      : db_(db), path_(path), operation_(operation) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
      Fail(db_, path_, operation_);
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Texts are bound, never written into the SQL: a login may hold quotes.
  Statement& bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_STATIC);
    return *this;
  }
  // True while a row is available.
  bool step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail(db_, path_, operation_);
  }
  void reset() { sqlite3_reset(stmt_); }
  std::string text(int column) {
    const auto* p =
        static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    return p ? std::string(p, sqlite3_column_bytes(stmt_, column))
             : std::string();
  }
  int integer(int column) { return sqlite3_column_int(stmt_, column); }

 private:
  sqlite3* db_;
  const std::string& path_;
  const char* operation_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

std::string PackageKey(const PackageFiles& files) {
  std::vector<PackageEntry> entries = files.entries();
  std::sort(entries.begin(), entries.end(),
            [](const PackageEntry& a, const PackageEntry& b) {
              return a.path < b.path;
            });
  Sha256 sha;
  const std::optional<std::string> manifest = files.read("imsmanifest.xml");
  std::string part(1, manifest ? '\1' : '\0');
  AppendText(part, manifest.value_or(""));
  sha.update(part);
  for (const PackageEntry& entry : entries) {
    part.clear();
    AppendText(part, entry.path);
    AppendNumber(part, entry.size, 8);
    AppendNumber(part, entry.crc, 4);
    sha.update(part);
  }
  return sha.hexDigest();
}

std::string DataFolder(platform::SystemFolders& folders) {
  const WideString appData = folders.specialFolder(platform::kCsidlAppData);
  if (appData.empty()) {
    throw EStoreError("this system has no folder for the programs' data");
  }
  return WideToUtf8(appData) + "/zept";
}

std::string StorePath(const std::string& dataFolder, const std::string& key) {
  return dataFolder + "/packages/" + key + ".sqlite";
}

struct ProgressStore::Impl {
  std::string path;
  bool readOnly = false;
  sqlite3* db = nullptr;

  ~Impl() { sqlite3_close_v2(db); }

  [[noreturn]] void fail(const std::string& operation) const {
    Fail(db, path, operation);
  }
  Statement query(const char* sql, const char* operation) {
    return Statement(db, path, sql, operation);
  }

  void exec(const char* sql, const char* operation) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      fail(operation);
    }
  }

  int userVersion();
  // Appends the learner to the list; nothing when present.
  void insertLearner(const std::string& login) {
    query(
        "INSERT INTO learners(login, added) VALUES(?, (SELECT "
        "ifnull(max(added), 0) + 1 FROM learners)) "
        "ON CONFLICT(login) DO NOTHING",
        "write progress store")
        .bind(1, login)
        .step();
  }
  void checkVersion(int version) const {
    if (version > kSchemaVersion) {
      throw EStoreError("the progress store '" + path +
                        "' was written by a newer zept (layout " +
                        std::to_string(version) + ", this one reads up to " +
                        std::to_string(kSchemaVersion) +
                        "); it is left as it is");
    }
  }

  // Runs body in one write transaction; rolls back when anything throws.
  template <typename Body>
  void write(Body body) {
    exec("BEGIN IMMEDIATE", "write progress store");
    try {
      body();
      exec("COMMIT", "write progress store");
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }
};

namespace {

constexpr char kRead[] = "read progress store";
constexpr char kWrite[] = "write progress store";

void CheckLogin(const std::string& login) {
  if (login.empty()) throw EStoreError("a learner's login cannot be empty");
}

}  // namespace

int ProgressStore::Impl::userVersion() {
  Statement s = query("PRAGMA user_version", "open progress store");
  return s.step() ? s.integer(0) : 0;
}

ProgressStore::ProgressStore(const std::string& nativePath, bool readOnly)
    : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.path = nativePath;
  d.readOnly = readOnly;
  std::error_code error;
  if (readOnly && !std::filesystem::exists(nativePath, error)) {
    throw EStoreError("no progress is stored for this package ('" + nativePath +
                      "' does not exist)");
  }
  if (!readOnly) {
    const std::filesystem::path folder =
        std::filesystem::path(nativePath).parent_path();
    if (!folder.empty() &&
        !std::filesystem::create_directories(folder, error) && error) {
      throw EStoreError(SystemErrorMessage("create folder", folder.string(),
                                           error.message()));
    }
  }
  const int flags = (readOnly ? SQLITE_OPEN_READONLY
                              : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                    SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(nativePath.c_str(), &d.db, flags, nullptr) != SQLITE_OK) {
    d.fail("open progress store");
  }
  sqlite3_busy_timeout(d.db, kBusyTimeoutMs);
  // Checked before anything is written: a newer layout is refused whole.
  const int version = d.userVersion();
  d.checkVersion(version);
  if (readOnly) {
    if (version == 0) {
      throw EStoreError("no progress is stored for this package ('" +
                        nativePath + "' is empty)");
    }
    return;
  }
  bool isWal;
  {
    Statement wal = d.query("PRAGMA journal_mode=WAL", "open progress store");
    isWal = wal.step() && wal.text(0) == "wal";
  }
  // Where WAL is impossible the rollback journal with full syncs is as safe.
  d.exec(isWal ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=FULL",
         "open progress store");
  d.write([&] {
    // Another zept may have made the tables since the first look.
    const int now = d.userVersion();
    d.checkVersion(now);
    if (now == 0) d.exec(kSchema, "create progress store");
  });
}

ProgressStore::~ProgressStore() = default;

std::vector<std::string> ProgressStore::learners() {
  Statement s =
      impl_->query("SELECT login FROM learners ORDER BY added, rowid", kRead);
  std::vector<std::string> logins;
  while (s.step()) logins.push_back(s.text(0));
  return logins;
}

bool ProgressStore::hasLearner(const std::string& login) {
  Statement s = impl_->query("SELECT 1 FROM learners WHERE login=?", kRead);
  return s.bind(1, login).step();
}

void ProgressStore::addLearner(const std::string& login) {
  CheckLogin(login);
  impl_->write([&] { impl_->insertLearner(login); });
}

Values ProgressStore::load(const std::string& login, const std::string& item) {
  Statement s = impl_->query(
      "SELECT element, value FROM item_values WHERE login=? AND item=?", kRead);
  s.bind(1, login).bind(2, item);
  Values values;
  while (s.step()) values.emplace(s.text(0), s.text(1));
  return values;
}

std::map<std::string, Values> ProgressStore::loadAll(const std::string& login) {
  Statement s = impl_->query(
      "SELECT item, element, value FROM item_values WHERE login=?", kRead);
  s.bind(1, login);
  std::map<std::string, Values> items;
  while (s.step()) items[s.text(0)].emplace(s.text(1), s.text(2));
  return items;
}

void ProgressStore::save(const std::string& login, const std::string& item,
                         const Values& values) {
  CheckLogin(login);
  Impl& d = *impl_;
  d.write([&] {
    d.insertLearner(login);
    std::vector<std::string> gone;
    {
      Statement s = d.query(
          "SELECT element FROM item_values WHERE login=? AND item=?", kWrite);
      s.bind(1, login).bind(2, item);
      while (s.step()) {
        std::string element = s.text(0);
        if (!values.count(element)) gone.push_back(std::move(element));
      }
    }
    Statement remove = d.query(
        "DELETE FROM item_values WHERE login=? AND item=? AND element=?",
        kWrite);
    for (const std::string& element : gone) {
      remove.bind(1, login).bind(2, item).bind(3, element).step();
      remove.reset();
    }
    // An unchanged value is compared, not rewritten.
    Statement put = d.query(
        "INSERT INTO item_values(login, item, element, value) "
        "VALUES(?,?,?,?) ON CONFLICT(login, item, element) DO "
        "UPDATE SET value=excluded.value "
        "WHERE value IS NOT excluded.value",
        kWrite);
    for (const auto& [element, value] : values) {
      put.bind(1, login).bind(2, item).bind(3, element).bind(4, value).step();
      put.reset();
    }
  });
}

}  // namespace zept::scorm
