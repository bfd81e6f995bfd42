#pragma once
// A prepared SQLite statement whose failures throw the stores' errors,
// naming the file and what was being done. Shared by the progress stores
// and the learners' global store.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/errors.h"
#include "store/progress_store.h"

namespace zept::scorm {

// EStoreDamaged for a file SQLite finds damaged, EStoreError otherwise.
[[noreturn]] inline void FailSql(sqlite3* db, const std::string& path,
                                 const std::string& operation) {
  const std::string message =
      SystemErrorMessage(operation, path, sqlite3_errmsg(db));
  const int code = sqlite3_errcode(db) & 0xff;
  if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
    throw EStoreDamaged(message);
  throw EStoreError(message);
}

// A store holds a learner's answers: its files (the database and SQLite's
// journal, WAL and shared-memory files beside it) are the learner's alone,
// whatever the umask, and so is a folder made for them. Stores made by
// earlier zepts are narrowed as they are opened; a folder that was there
// already is left as it is (it may be anyone's, such as /tmp).
// Makes folder and its parents as needed; error says why it could not.
inline void MakeStoreFolder(const std::filesystem::path& folder,
                            std::error_code& error) {
  if (folder.empty() || !std::filesystem::create_directories(folder, error))
    return;
  std::error_code ignored;
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                               ignored);
}
inline void MakeStoreFilesPrivate(const std::string& nativePath) {
  constexpr auto kOwnerOnly = std::filesystem::perms::owner_read |
                              std::filesystem::perms::owner_write;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::error_code ignored;
    const std::string path = nativePath + suffix;
    if (std::filesystem::exists(path, ignored))
      std::filesystem::permissions(path, kOwnerOnly, ignored);
  }
}

// Statements prepared once for a connection's life: preparing one costs
// more than running most of the stores' statements. Finalize before the
// connection closes.
class StatementCache {
 public:
  struct Entry {
    sqlite3_stmt* stmt = nullptr;
    bool inUse = false;
  };
  // The entry for sql, prepared on first use.
  Entry* find(sqlite3* db, const char* sql) {
    Entry& entry = entries_[sql];
    if (!entry.stmt &&
        sqlite3_prepare_v2(db, sql, -1, &entry.stmt, nullptr) != SQLITE_OK) {
      entries_.erase(sql);
      return nullptr;
    }
    return &entry;
  }
  void finalize() {
    for (auto& [sql, entry] : entries_) sqlite3_finalize(entry.stmt);
    entries_.clear();
  }

 private:
  std::unordered_map<std::string, Entry> entries_;
};

class SqlStatement {
 public:
  SqlStatement(sqlite3* db, const std::string& path, const char* sql,
               const char* operation)
      : db_(db), path_(path), operation_(operation) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
      FailSql(db_, path_, operation_);
  }
  // The cache's statement, or one of its own while that one is being
  // stepped (a query made inside a walk of the same query).
  SqlStatement(sqlite3* db, const std::string& path, const char* sql,
               const char* operation, StatementCache& cache)
      : db_(db), path_(path), operation_(operation) {
    StatementCache::Entry* entry = cache.find(db, sql);
    if (!entry) FailSql(db_, path_, operation_);
    if (entry->inUse) {
      if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
        FailSql(db_, path_, operation_);
      return;
    }
    entry->inUse = true;
    cached_ = entry;
    stmt_ = entry->stmt;
  }
  ~SqlStatement() {
    if (!cached_) {
      sqlite3_finalize(stmt_);
      return;
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    cached_->inUse = false;
  }
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;

  // Texts are bound, never written into the SQL: a login may hold quotes.
  SqlStatement& bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_STATIC);
    return *this;
  }
  SqlStatement& bind(int index, std::int64_t n) {
    sqlite3_bind_int64(stmt_, index, n);
    return *this;
  }
  // nullopt: NULL.
  SqlStatement& bind(int index, std::optional<double> value) {
    if (value)
      sqlite3_bind_double(stmt_, index, *value);
    else
      sqlite3_bind_null(stmt_, index);
    return *this;
  }
  // True while a row is available.
  bool step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    FailSql(db_, path_, operation_);
  }
  void reset() { sqlite3_reset(stmt_); }
  std::string text(int column) {
    const auto* p =
        static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    return p ? std::string(p, sqlite3_column_bytes(stmt_, column))
             : std::string();
  }
  int integer(int column) { return sqlite3_column_int(stmt_, column); }
  std::int64_t integer64(int column) {
    return sqlite3_column_int64(stmt_, column);
  }
  // nullopt for NULL.
  std::optional<double> real(int column) {
    if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(stmt_, column);
  }

 private:
  sqlite3* db_;
  const std::string& path_;
  const char* operation_;
  sqlite3_stmt* stmt_ = nullptr;
  StatementCache::Entry* cached_ = nullptr;
};

}  // namespace zept::scorm
