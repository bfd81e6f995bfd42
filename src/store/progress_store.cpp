// The progress store on SQLite, in WAL mode: zept-results reads a snapshot
// while zept writes, and a commit is one append to the log. With WAL,
// synchronous=NORMAL never tears the database: a crash of the program keeps
// every committed store, a power cut at worst the last few, whole.
//
// One row per element rather than one serialised map per item: a store
// rewrites only the elements whose value changed (most commits change a
// few short ones), so a 64,000-character suspend_data that stayed the same
// costs a comparison, not a rewrite; and the rows read plainly in sqlite3.

#include "store/progress_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "platform/codepage.h"
#include "store/sqlite_statement.h"
#include "util/sha256.h"
#include "xapi/config.h"
#include "xapi/statements.h"

namespace zept::scorm {
namespace {

using Statement = SqlStatement;

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

// Added within layout 1: an earlier zept reads such a store as before, and a
// store it made gets the tables at its next writable open.
constexpr char kMarksSchema[] =
    "CREATE TABLE IF NOT EXISTS course(title TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS course_items(item TEXT NOT NULL,"
    " title TEXT NOT NULL, PRIMARY KEY(item, title));"
    // The outbox of statements for the LRS, in capture order: state 0 to
    // send, 2 refused as invalid (reason says why); 1 was sent, kept by
    // earlier zepts (now their ids go to the table sent). State 3 is
    // staged: held back until its values are stored (reason holds their
    // place and token, see stage()); never sent in that state.
    "CREATE TABLE IF NOT EXISTS statements(seq INTEGER PRIMARY KEY"
    " AUTOINCREMENT, id TEXT NOT NULL UNIQUE, login TEXT NOT NULL,"
    " json TEXT NOT NULL, state INTEGER NOT NULL DEFAULT 0, reason TEXT);"
    "CREATE INDEX IF NOT EXISTS statements_by_state ON statements(state, seq);"
    "CREATE TABLE IF NOT EXISTS registrations(login TEXT PRIMARY KEY NOT NULL,"
    " registration TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS lrs(file TEXT NOT NULL);";

// Added later within layout 1: each statement's endpoint (the one in force
// when it was captured, "" for statements of an earlier zept) and when it
// was captured (milliseconds since 1970); the configuration file last found
// for each endpoint.
constexpr char kEndpointsSchema[] =
    "ALTER TABLE statements ADD COLUMN endpoint TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE statements ADD COLUMN captured INTEGER;"
    "ALTER TABLE lrs ADD COLUMN endpoint TEXT NOT NULL DEFAULT '';"
    "UPDATE statements SET captured=CAST(round((julianday(json_extract(json,"
    " '$.timestamp')) - 2440587.5) * 86400000) AS INTEGER)"
    " WHERE json_valid(json);"
    "CREATE INDEX IF NOT EXISTS statements_by_endpoint ON"
    " statements(endpoint, state, seq);";

// Sent statements leave the outbox, whose pages take the next ones; their
// ids stay apart (a statement captured again is never sent twice) for this
// long.
constexpr char kSentSchema[] =
    "CREATE TABLE sent(id TEXT PRIMARY KEY NOT NULL, captured INTEGER)"
    " WITHOUT ROWID;"
    "INSERT OR IGNORE INTO sent(id, captured) SELECT id, captured FROM"
    " statements WHERE state=1;"
    "DELETE FROM statements WHERE state=1;";
// Added later within layout 1: what the LRS zept serves to content keeps.
// Statements in arrival order (seq), with the columns queries filter on
// and canonical, the statement as sent with its members in order, to tell
// a resend from a conflict; documents (kind: 0 state, 1 activity profile,
// 2 agent profile) with "" for a part of the key their kind lacks.
constexpr char kLrsSchema[] =
    "CREATE TABLE IF NOT EXISTS lrs_statements(seq INTEGER PRIMARY KEY"
    " AUTOINCREMENT, id TEXT NOT NULL UNIQUE, login TEXT NOT NULL,"
    " json TEXT NOT NULL, canonical TEXT NOT NULL, stored INTEGER NOT NULL,"
    " actor TEXT NOT NULL, object_agent TEXT NOT NULL, verb TEXT NOT NULL,"
    " activity TEXT NOT NULL, registration TEXT NOT NULL,"
    " voids TEXT NOT NULL, voided INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS lrs_statements_by_login ON"
    " lrs_statements(login, stored, seq);"
    "CREATE TABLE IF NOT EXISTS lrs_documents(login TEXT NOT NULL,"
    " kind INTEGER NOT NULL, activity TEXT NOT NULL, agent TEXT NOT NULL,"
    " registration TEXT NOT NULL, id TEXT NOT NULL,"
    " content_type TEXT NOT NULL, body BLOB NOT NULL, etag TEXT NOT NULL,"
    " updated INTEGER NOT NULL,"
    " PRIMARY KEY(login, kind, activity, agent, registration, id))"
    " WITHOUT ROWID;"
    // The data of statements' attachments, once per content hash.
    "CREATE TABLE IF NOT EXISTS lrs_attachments(login TEXT NOT NULL,"
    " sha2 TEXT NOT NULL, content_type TEXT NOT NULL, body BLOB NOT NULL,"
    " PRIMARY KEY(login, sha2)) WITHOUT ROWID;";

// Added later within layout 1: what a registration's statements name the
// learner's account and the course by, fixed when it starts ("": started
// by an earlier zept, which did not keep them).
constexpr char kIdentitySchema[] =
    "ALTER TABLE registrations ADD COLUMN home_page TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE registrations ADD COLUMN course_iri TEXT NOT NULL DEFAULT '';";

constexpr std::int64_t kSentKeptMs = 30LL * 24 * 3600 * 1000;

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch())
      .count();
}

void AppendNumber(std::string& out, std::uint64_t n, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(n >> (8 * i));
}

// Lengths in front of every part, so no two packages hash the same bytes.
void AppendText(std::string& out, const std::string& text) {
  AppendNumber(out, text.size(), 8);
  out += text;
}

}  // namespace

std::string PackageKey(const Manifest& manifest) {
  // Tagged: a course key and a content key never hash the same bytes.
  std::string part;
  AppendText(part, "zept course");
  AppendText(part, manifest.identifier);
  AppendText(part, manifest.organization);
  return Sha256Hex(part);
}

CourseMarks MarksOf(const Manifest& manifest) {
  CourseMarks marks;
  marks.title = manifest.title;
  for (const Item* item : LaunchableItems(manifest))
    marks.items.emplace(item->identifier, item->title);
  return marks;
}

bool SameCourse(const CourseMarks& a, const CourseMarks& b) {
  std::size_t shared = 0;
  for (const auto& item : a.items) shared += b.items.count(item);
  if (a.title == b.title)
    return shared > 0 || a.items.empty() || b.items.empty();
  // The titles differ: the items must carry the likeness on their own.
  return shared * 2 > std::max(a.items.size(), b.items.size()) + 1;
}

std::string ContentKey(const PackageFiles& files) {
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
  // The statements of one endpoint, for its sender.
  struct EndpointOutbox final : xapi::Outbox {
    Impl* store = nullptr;
    std::string endpoint;
    std::vector<xapi::OutboxEntry> pending(std::size_t limit) override;
    void markSent(const std::vector<std::int64_t>& seqs) override;
    void markRefused(std::int64_t seq, const std::string& reason) override;
    std::size_t pendingCount() override;
  };

  std::string path;
  bool readOnly = false;
  sqlite3* db = nullptr;
  // The endpoint statements stored from now on are for.
  std::string endpoint;
  EndpointOutbox outbox;
  std::optional<StoreWrite> failedWrite;

  // A store of an earlier zept opened read-only lacks the newer tables.
  bool hasTable(const char* name);
  bool hasColumn(const char* table, const char* column);

  StatementCache cache;

  ~Impl() {
    cache.finalize();
    sqlite3_close_v2(db);
  }

  [[noreturn]] void fail(const std::string& operation) const {
    FailSql(db, path, operation);
  }
  Statement query(const char* sql, const char* operation) {
    return Statement(db, path, sql, operation, cache);
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

  // A file that is a database but whose pages do not hold together.
  void checkIntact() {
    Statement s = query("PRAGMA quick_check", "check progress store");
    const std::string result = s.step() ? s.text(0) : "no answer";
    if (result != "ok") {
      throw EStoreDamaged("the progress store '" + path +
                          "' is damaged: " + result.substr(0, 200));
    }
  }
  // {} when the store holds no marks.
  std::optional<CourseMarks> marks();

  // Adds statements to the outbox, within a write.
  void enqueue(const std::string& login,
               const std::vector<xapi::Statement>& statements);

  struct LearnerLrs;

  // Runs body in one write transaction; rolls back when anything throws.
  template <typename Body>
  void write(Body body) {
    query("BEGIN IMMEDIATE", "write progress store").step();
    try {
      body();
      query("COMMIT", "write progress store").step();
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

void ProgressStore::Impl::enqueue(
    const std::string& login, const std::vector<xapi::Statement>& statements) {
  if (statements.empty()) return;
  // A statement captured twice (a store retried after a failure that did
  // commit) is kept once.
  Statement add = query(
      "INSERT INTO statements(id, login, json, endpoint, captured) "
      "SELECT ?1,?2,?3,?4,?5 WHERE NOT EXISTS(SELECT 1 FROM sent WHERE "
      "id=?1) ON CONFLICT(id) DO NOTHING",
      kWrite);
  const std::int64_t now = NowMs();
  for (const xapi::Statement& statement : statements) {
    add.bind(1, statement.id)
        .bind(2, login)
        .bind(3, statement.json)
        .bind(4, endpoint)
        .bind(5, now)
        .step();
    add.reset();
  }
}

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
    MakeStoreFolder(folder, error);
    if (error) {
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
  // Before WAL mode makes its files: they take the database's mode.
  if (!readOnly) MakeStoreFilesPrivate(nativePath);
  sqlite3_busy_timeout(d.db, kBusyTimeoutMs);
  // Checked before anything is written: a newer layout is refused whole.
  const int version = d.userVersion();
  d.checkVersion(version);
  d.checkIntact();
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
    d.exec(kMarksSchema, "create progress store");
    if (!d.hasColumn("statements", "endpoint"))
      d.exec(kEndpointsSchema, "create progress store");
    if (!d.hasTable("sent")) d.exec(kSentSchema, "create progress store");
    d.exec(kLrsSchema, "create progress store");
    if (!d.hasColumn("registrations", "home_page"))
      d.exec(kIdentitySchema, "create progress store");
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
                         const Values& values,
                         const std::vector<xapi::Statement>& statements) {
  saveItems(login, {{item, values}}, statements);
}

void ProgressStore::saveItems(const std::string& login,
                              const std::map<std::string, Values>& items,
                              const std::vector<xapi::Statement>& statements) {
  CheckLogin(login);
  Impl& d = *impl_;
  try {
    writeItems(login, items, statements);
  } catch (...) {
    d.failedWrite = StoreWrite{login, items, statements, d.endpoint};
    throw;
  }
  d.failedWrite.reset();
}

const std::optional<StoreWrite>& ProgressStore::failedWrite() const {
  return impl_->failedWrite;
}

void ProgressStore::writeItems(const std::string& login,
                               const std::map<std::string, Values>& items,
                               const std::vector<xapi::Statement>& statements) {
  Impl& d = *impl_;
  d.write([&] {
    d.insertLearner(login);
    d.enqueue(login, statements);
    for (const auto& [item, values] : items) {
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
    }
  });
}

std::string ProgressStore::registration(const std::string& login) {
  CheckLogin(login);
  Impl& d = *impl_;
  const auto stored = [&]() -> std::optional<std::string> {
    Statement s =
        d.query("SELECT registration FROM registrations WHERE login=?", kRead);
    if (s.bind(1, login).step()) return s.text(0);
    return std::nullopt;
  };
  if (auto found = stored()) return *found;
  d.write([&] {
    d.query(
         "INSERT INTO registrations(login, registration) VALUES(?,?) "
         "ON CONFLICT(login) DO NOTHING",
         kWrite)
        .bind(1, login)
        .bind(2, xapi::NewUuid())
        .step();
  });
  return stored().value_or("");
}

RegistrationIdentity ProgressStore::registrationIdentity(
    const std::string& login) {
  Impl& d = *impl_;
  if (!d.hasColumn("registrations", "home_page")) return {};
  Statement s = d.query(
      "SELECT home_page, course_iri FROM registrations WHERE login=?", kRead);
  if (!s.bind(1, login).step()) return {};
  return {s.text(0), s.text(1)};
}

RegistrationIdentity ProgressStore::keepRegistrationIdentity(
    const std::string& login, const RegistrationIdentity& identity) {
  registration(login);
  Impl& d = *impl_;
  d.write([&] {
    d.query(
         "UPDATE registrations SET home_page=?2, course_iri=?3 WHERE "
         "login=?1 AND home_page='' AND course_iri=''",
         kWrite)
        .bind(1, login)
        .bind(2, identity.homePage)
        .bind(3, identity.courseIri)
        .step();
  });
  return registrationIdentity(login);
}

std::size_t ProgressStore::adoptUnconfigured(const std::string& endpoint) {
  Impl& d = *impl_;
  std::size_t adopted = 0;
  if (!d.hasColumn("statements", "endpoint")) return 0;
  d.write([&] {
    // Untagged statements are an earlier zept's while the file it used is
    // remembered without its endpoint: those wait for that file's LRS.
    d.query(
         "UPDATE statements SET endpoint=? WHERE endpoint='' AND state IN "
         "(0, 3) AND NOT EXISTS(SELECT 1 FROM lrs WHERE endpoint='')",
         kWrite)
        .bind(1, xapi::EndpointKey(endpoint))
        .step();
    adopted = static_cast<std::size_t>(sqlite3_changes(d.db));
  });
  return adopted;
}

std::size_t ProgressStore::unconfiguredPending() {
  Impl& d = *impl_;
  if (!d.hasColumn("statements", "endpoint")) return 0;
  Statement s = d.query(
      "SELECT count(*) FROM statements WHERE endpoint='' AND state=0 AND NOT "
      "EXISTS(SELECT 1 FROM lrs WHERE endpoint='')",
      kRead);
  return s.step() ? static_cast<std::size_t>(s.integer64(0)) : 0;
}

void ProgressStore::rememberLrs(const std::string& endpoint,
                                const std::string& nativePath) {
  Impl& d = *impl_;
  d.endpoint = xapi::EndpointKey(endpoint);
  for (const auto& [known, file] : lrsFiles()) {
    // An earlier zept's statements were for the file that is in force
    // again: theirs is the endpoint it names now.
    if (known.empty() && file == nativePath) adoptUntagged(d.endpoint);
    if (known == d.endpoint && file == nativePath) return;
  }
  d.write([&] {
    d.query("DELETE FROM lrs WHERE endpoint=?", kWrite)
        .bind(1, d.endpoint)
        .step();
    d.query("INSERT INTO lrs(file, endpoint) VALUES(?,?)", kWrite)
        .bind(1, nativePath)
        .bind(2, d.endpoint)
        .step();
  });
}

std::vector<std::pair<std::string, std::string>> ProgressStore::lrsFiles() {
  std::vector<std::pair<std::string, std::string>> files;
  if (!impl_->hasTable("lrs")) return files;
  const bool tagged = impl_->hasColumn("lrs", "endpoint");
  Statement s = impl_->query(
      tagged ? "SELECT endpoint, file FROM lrs" : "SELECT '', file FROM lrs",
      kRead);
  while (s.step()) files.emplace_back(s.text(0), s.text(1));
  return files;
}

std::size_t ProgressStore::adoptUntagged(const std::string& endpoint) {
  Impl& d = *impl_;
  std::size_t adopted = 0;
  d.write([&] {
    d.query("UPDATE statements SET endpoint=? WHERE endpoint=''", kWrite)
        .bind(1, xapi::EndpointKey(endpoint))
        .step();
    adopted = static_cast<std::size_t>(sqlite3_changes(d.db));
    d.query(
         "UPDATE lrs SET endpoint=?1 WHERE endpoint='' AND NOT EXISTS("
         "SELECT 1 FROM lrs WHERE endpoint=?1)",
         kWrite)
        .bind(1, xapi::EndpointKey(endpoint))
        .step();
    d.exec("DELETE FROM lrs WHERE endpoint=''", kWrite);
  });
  return adopted;
}

std::size_t ProgressStore::reassign(const std::string& from,
                                    const std::string& to) {
  Impl& d = *impl_;
  std::size_t moved = 0;
  if (!d.hasColumn("statements", "endpoint")) return 0;
  d.write([&] {
    d.query(
         "UPDATE statements SET endpoint=? WHERE endpoint=? AND state IN "
         "(0, 3)",
         kWrite)
        .bind(1, xapi::EndpointKey(to))
        .bind(2, xapi::EndpointKey(from))
        .step();
    moved = static_cast<std::size_t>(sqlite3_changes(d.db));
  });
  return moved;
}

std::string ProgressStore::captureEndpoint() const { return impl_->endpoint; }

void ProgressStore::captureFor(const std::string& endpoint) {
  impl_->endpoint = xapi::EndpointKey(endpoint);
}

std::map<std::string, std::size_t> ProgressStore::pendingByEndpoint() {
  std::map<std::string, std::size_t> counts;
  if (!impl_->hasColumn("statements", "endpoint")) {
    if (std::size_t n = pendingStatements()) counts[""] = n;
    return counts;
  }
  Statement s = impl_->query(
      "SELECT endpoint, count(*) FROM statements WHERE state=0 "
      "GROUP BY endpoint ORDER BY endpoint",
      kRead);
  while (s.step()) counts[s.text(0)] = static_cast<std::size_t>(s.integer64(1));
  return counts;
}

std::int64_t ProgressStore::oldestPending(const std::string& endpoint) {
  if (!impl_->hasColumn("statements", "captured")) return 0;
  Statement s = impl_->query(
      "SELECT ifnull(min(captured), 0) FROM statements WHERE state=0 AND "
      "endpoint=?",
      kRead);
  return s.bind(1, xapi::EndpointKey(endpoint)).step() ? s.integer64(0) : 0;
}

std::size_t ProgressStore::retryRefused() {
  Impl& d = *impl_;
  std::size_t back = 0;
  if (!d.hasTable("statements")) return 0;
  d.write([&] {
    d.exec("UPDATE statements SET state=0, reason=NULL WHERE state=2", kWrite);
    back = static_cast<std::size_t>(sqlite3_changes(d.db));
  });
  return back;
}

// The reason of a staged statement: its place and token, "\n" between.
void ProgressStore::stage(const std::string& login, const std::string& place,
                          const std::vector<xapi::Statement>& statements,
                          const std::string& token) {
  CheckLogin(login);
  if (statements.empty()) return;
  Impl& d = *impl_;
  d.write([&] {
    // One already pending, sent or refused stays as it is: never twice.
    Statement add = d.query(
        "INSERT INTO statements(id, login, json, state, reason, endpoint, "
        "captured) SELECT ?1,?2,?3,3,?4,?5,?6 WHERE NOT EXISTS(SELECT 1 "
        "FROM sent WHERE id=?1) ON CONFLICT(id) DO UPDATE SET "
        "reason=excluded.reason WHERE state=3",
        kWrite);
    const std::int64_t now = NowMs();
    for (const xapi::Statement& statement : statements) {
      add.bind(1, statement.id)
          .bind(2, login)
          .bind(3, statement.json)
          .bind(4, place + "\n" + token)
          .bind(5, d.endpoint)
          .bind(6, now)
          .step();
      add.reset();
    }
  });
}

std::size_t ProgressStore::settle(const std::string& login,
                                  const std::string& place,
                                  const std::string& token) {
  Impl& d = *impl_;
  std::size_t promoted = 0;
  const std::string scope = place + "\n";
  d.write([&] {
    d.query(
         "UPDATE statements SET state=0, reason=NULL "
         "WHERE state=3 AND login=? AND reason=?",
         kWrite)
        .bind(1, login)
        .bind(2, scope + token)
        .step();
    promoted = static_cast<std::size_t>(sqlite3_changes(d.db));
    // Another place of the learner's (another copy of the course) settles
    // its own.
    d.query(
         "DELETE FROM statements WHERE state=3 AND login=? AND "
         "substr(reason, 1, length(?2))=?2",
         kWrite)
        .bind(1, login)
        .bind(2, scope)
        .step();
  });
  return promoted;
}

std::size_t ProgressStore::pendingStatements(const std::string& login) {
  if (!impl_->hasTable("statements")) return 0;
  Statement s = impl_->query(
      "SELECT count(*) FROM statements WHERE state=0 AND (?1='' OR login=?1)",
      kRead);
  return s.bind(1, login).step() ? static_cast<std::size_t>(s.integer64(0)) : 0;
}

std::vector<std::pair<std::string, std::string>>
ProgressStore::refusedStatements() {
  std::vector<std::pair<std::string, std::string>> refused;
  if (!impl_->hasTable("statements")) return refused;
  Statement s = impl_->query(
      "SELECT id, ifnull(reason, '') FROM statements WHERE state=2 "
      "ORDER BY seq",
      kRead);
  while (s.step()) refused.emplace_back(s.text(0), s.text(1));
  return refused;
}

xapi::Outbox& ProgressStore::outbox(const std::string& endpoint) {
  impl_->outbox.store = impl_.get();
  impl_->outbox.endpoint = xapi::EndpointKey(endpoint);
  return impl_->outbox;
}

bool ProgressStore::Impl::hasTable(const char* name) {
  return query("SELECT 1 FROM sqlite_master WHERE type='table' AND name=?",
               kRead)
      .bind(1, std::string(name))
      .step();
}

bool ProgressStore::Impl::hasColumn(const char* table, const char* column) {
  return query("SELECT 1 FROM pragma_table_info(?) WHERE name=?", kRead)
      .bind(1, std::string(table))
      .bind(2, std::string(column))
      .step();
}

std::vector<xapi::OutboxEntry> ProgressStore::Impl::EndpointOutbox::pending(
    std::size_t limit) {
  std::vector<xapi::OutboxEntry> entries;
  if (!store->hasTable("statements")) return entries;
  Statement s = store->query(
      "SELECT seq, id, json FROM statements WHERE endpoint=? AND state=0 "
      "ORDER BY seq LIMIT ?",
      kRead);
  s.bind(1, endpoint).bind(2, static_cast<std::int64_t>(limit));
  while (s.step()) {
    entries.push_back({s.integer64(0), {s.text(1), s.text(2)}});
  }
  return entries;
}

void ProgressStore::Impl::EndpointOutbox::markSent(
    const std::vector<std::int64_t>& seqs) {
  if (seqs.empty()) return;
  store->write([&] {
    Statement keep = store->query(
        "INSERT OR IGNORE INTO sent(id, captured) SELECT id, captured FROM "
        "statements WHERE seq=? AND endpoint=?",
        kWrite);
    Statement drop = store->query(
        "DELETE FROM statements WHERE seq=? AND endpoint=?", kWrite);
    for (std::int64_t seq : seqs) {
      keep.bind(1, seq).bind(2, endpoint).step();
      keep.reset();
      drop.bind(1, seq).bind(2, endpoint).step();
      drop.reset();
    }
    store->query("DELETE FROM sent WHERE captured<?", kWrite)
        .bind(1, NowMs() - kSentKeptMs)
        .step();
  });
}

void ProgressStore::Impl::EndpointOutbox::markRefused(
    std::int64_t seq, const std::string& reason) {
  store->write([&] {
    store->query("UPDATE statements SET state=2, reason=? WHERE seq=?", kWrite)
        .bind(1, reason)
        .bind(2, seq)
        .step();
  });
}

std::size_t ProgressStore::Impl::EndpointOutbox::pendingCount() {
  if (!store->hasTable("statements")) return 0;
  Statement s = store->query(
      "SELECT count(*) FROM statements WHERE endpoint=? AND state=0", kRead);
  return s.bind(1, endpoint).step() ? static_cast<std::size_t>(s.integer64(0))
                                    : 0;
}

std::optional<CourseMarks> ProgressStore::Impl::marks() {
  // A store of an earlier zept opened read-only may lack the tables.
  if (!query("SELECT 1 FROM sqlite_master WHERE name='course'", kRead).step())
    return std::nullopt;
  CourseMarks marks;
  {
    Statement s = query("SELECT title FROM course", kRead);
    if (!s.step()) return std::nullopt;
    marks.title = s.text(0);
  }
  Statement s = query("SELECT item, title FROM course_items", kRead);
  while (s.step()) marks.items.emplace(s.text(0), s.text(1));
  return marks;
}

std::string ProgressStore::courseTitle() {
  const std::optional<CourseMarks> stored = impl_->marks();
  return stored ? stored->title : "";
}

struct ProgressStore::Impl::LearnerLrs final : xapi::LrsStore {
  Impl& d;
  std::string login;

  LearnerLrs(Impl& store, std::string who) : d(store), login(std::move(who)) {}

  // A store an earlier zept wrote, opened read-only, lacks the tables.
  // Once there, they stay: a table is never dropped.
  bool hasTables() {
    if (!tablesSeen)
      tablesSeen = d.hasTable("lrs_statements") && d.hasTable("lrs_documents");
    return tablesSeen;
  }
  bool tablesSeen = false;

  std::optional<xapi::StoredStatement> statement(
      const std::string& id) override {
    if (!hasTables()) return std::nullopt;
    Statement s = d.query(
        "SELECT json, canonical, login=?2, voided, voids<>'' FROM "
        "lrs_statements WHERE id=?1",
        kRead);
    if (!s.bind(1, id).bind(2, login).step()) return std::nullopt;
    return xapi::StoredStatement{s.text(0), s.text(1), s.integer(2) != 0,
                                 s.integer(3) != 0, s.integer(4) != 0};
  }

  void addStatements(const std::vector<xapi::NewStatement>& added) override {
    CheckLogin(login);
    d.write([&] {
      d.insertLearner(login);
      Statement add = d.query(
          "INSERT INTO lrs_statements(id, login, json, canonical, stored, "
          "actor, object_agent, verb, activity, registration, voids) "
          "VALUES(?,?,?,?,?,?,?,?,?,?,?)",
          kWrite);
      Statement voiding = d.query(
          "UPDATE lrs_statements SET voided=1 WHERE id=? AND login=?", kWrite);
      Statement attach = d.query(
          "INSERT OR IGNORE INTO lrs_attachments(login, sha2, content_type, "
          "body) VALUES(?,?,?,?)",
          kWrite);
      std::vector<xapi::Statement> outgoing;
      for (const xapi::NewStatement& statement : added) {
        add.bind(1, statement.outgoing.id)
            .bind(2, login)
            .bind(3, statement.json)
            .bind(4, statement.canonical)
            .bind(5, statement.storedMs)
            .bind(6, statement.actorKey)
            .bind(7, statement.objectAgentKey)
            .bind(8, statement.verb)
            .bind(9, statement.activity)
            .bind(10, statement.registration)
            .bind(11, statement.voids)
            .step();
        add.reset();
        if (!statement.voids.empty()) {
          voiding.bind(1, statement.voids).bind(2, login).step();
          voiding.reset();
        }
        for (const xapi::Attachment& attachment : statement.attachments) {
          attach.bind(1, login)
              .bind(2, attachment.sha2)
              .bind(3, attachment.contentType)
              .bind(4, attachment.body)
              .step();
          attach.reset();
        }
        outgoing.push_back(statement.outgoing);
      }
      d.enqueue(login, outgoing);
    });
  }

  std::vector<std::string> statements(
      const xapi::StatementFilter& filter) override {
    std::vector<std::string> found;
    if (!hasTables()) return found;
    const std::string order = filter.ascending ? "ASC" : "DESC";
    const std::string sql =
        "SELECT json FROM lrs_statements WHERE login=?1 AND voided=0 AND "
        "(((?2='' OR actor=?2 OR object_agent=?2) AND (?3='' OR verb=?3) AND "
        "(?4='' OR activity=?4) AND (?5='' OR registration=?5)) OR "
        "(?10=1 AND activity='' AND object_agent='')) AND "
        "(?6 IS NULL OR stored>?6) AND (?7 IS NULL OR stored<=?7) "
        "ORDER BY stored " +
        order + ", seq " + order + " LIMIT ?8 OFFSET ?9";
    Statement s = d.query(sql.c_str(), kRead);
    s.bind(1, login)
        .bind(2, filter.agentKey)
        .bind(3, filter.verb)
        .bind(4, filter.activity)
        .bind(5, filter.registration);
    if (filter.since) s.bind(6, *filter.since);
    if (filter.until) s.bind(7, *filter.until);
    s.bind(8, filter.limit ? static_cast<std::int64_t>(filter.limit)
                           : std::int64_t{-1});
    s.bind(9, static_cast<std::int64_t>(filter.offset));
    s.bind(10, std::int64_t{filter.withReferences});
    while (s.step()) found.push_back(s.text(0));
    return found;
  }

  std::optional<xapi::Document> document(
      const xapi::DocumentKey& key) override {
    if (!hasTables()) return std::nullopt;
    Statement s = d.query(
        "SELECT content_type, body, etag, updated FROM lrs_documents WHERE "
        "login=? AND kind=? AND activity=? AND agent=? AND registration=? "
        "AND id=?",
        kRead);
    if (!bindKey(s, key).bind(6, key.id).step()) return std::nullopt;
    return xapi::Document{s.text(0), s.text(1), s.text(2), s.integer64(3)};
  }

  void putDocument(const xapi::DocumentKey& key,
                   const xapi::Document& document) override {
    CheckLogin(login);
    d.write([&] {
      d.insertLearner(login);
      Statement s = d.query(
          "INSERT OR REPLACE INTO lrs_documents(login, kind, activity, agent, "
          "registration, id, content_type, body, etag, updated) "
          "VALUES(?,?,?,?,?,?,?,?,?,?)",
          kWrite);
      bindKey(s, key)
          .bind(6, key.id)
          .bind(7, document.contentType)
          .bind(8, document.body)
          .bind(9, document.etag)
          .bind(10, document.updatedMs)
          .step();
    });
  }

  void deleteDocuments(const xapi::DocumentKey& key) override {
    if (!hasTables()) return;
    d.write([&] {
      Statement s = d.query(
          "DELETE FROM lrs_documents WHERE login=? AND kind=? AND "
          "activity=? AND agent=? AND registration=? AND (?6='' OR id=?6)",
          kWrite);
      bindKey(s, key).bind(6, key.id).step();
    });
  }

  std::vector<std::string> documentIds(
      const xapi::DocumentKey& key,
      std::optional<std::int64_t> since) override {
    std::vector<std::string> ids;
    if (!hasTables()) return ids;
    Statement s = d.query(
        "SELECT id FROM lrs_documents WHERE login=? AND kind=? AND "
        "activity=? AND agent=? AND registration=? AND "
        "(?6 IS NULL OR updated>?6) ORDER BY id",
        kRead);
    bindKey(s, key);
    if (since) s.bind(6, *since);
    while (s.step()) ids.push_back(s.text(0));
    return ids;
  }

  std::optional<xapi::Attachment> attachment(const std::string& sha2) override {
    if (!d.hasTable("lrs_attachments")) return std::nullopt;
    Statement s = d.query(
        "SELECT content_type, body FROM lrs_attachments WHERE login=? AND "
        "sha2=?",
        kRead);
    if (!s.bind(1, login).bind(2, sha2).step()) return std::nullopt;
    return xapi::Attachment{sha2, s.text(0), s.text(1)};
  }

  std::int64_t bytes() override {
    if (!hasTables()) return 0;
    const bool attachments = d.hasTable("lrs_attachments");
    Statement s = d.query(
        attachments
            ? "SELECT (SELECT ifnull(sum(length(json) + length(canonical)), 0) "
              "FROM lrs_statements WHERE login=?1) + (SELECT "
              "ifnull(sum(length(CAST(body AS BLOB))), 0) FROM lrs_documents "
              "WHERE "
              "login=?1) + (SELECT ifnull(sum(length(CAST(body AS BLOB))), 0) "
              "FROM "
              "lrs_attachments WHERE login=?1)"
            : "SELECT (SELECT ifnull(sum(length(json) + length(canonical)), 0) "
              "FROM lrs_statements WHERE login=?1) + (SELECT "
              "ifnull(sum(length(CAST(body AS BLOB))), 0) FROM lrs_documents "
              "WHERE "
              "login=?1)",
        kRead);
    return s.bind(1, login).step() ? s.integer64(0) : 0;
  }

 private:
  Statement& bindKey(Statement& s, const xapi::DocumentKey& key) {
    return s.bind(1, login)
        .bind(2, static_cast<std::int64_t>(key.kind))
        .bind(3, key.activity)
        .bind(4, key.agent)
        .bind(5, key.registration);
  }
};

std::unique_ptr<xapi::LrsStore> ProgressStore::lrs(const std::string& login) {
  return std::make_unique<Impl::LearnerLrs>(*impl_, login);
}

bool ProgressStore::holds(const CourseMarks& marks) {
  const std::optional<CourseMarks> stored = impl_->marks();
  return !stored || SameCourse(*stored, marks);
}

bool ProgressStore::claim(const CourseMarks& marks) {
  Impl& d = *impl_;
  bool held = false;
  d.write([&] {
    const std::optional<CourseMarks> stored = d.marks();
    if (stored && !SameCourse(*stored, marks)) return;
    held = true;
    // The latest version's marks, so that the next one is likened to it.
    if (stored && stored->title == marks.title && stored->items == marks.items)
      return;
    d.exec("DELETE FROM course; DELETE FROM course_items", kWrite);
    d.query("INSERT INTO course(title) VALUES(?)", kWrite)
        .bind(1, marks.title)
        .step();
    Statement put =
        d.query("INSERT INTO course_items(item, title) VALUES(?,?)", kWrite);
    for (const auto& [item, title] : marks.items) {
      put.bind(1, item).bind(2, title).step();
      put.reset();
    }
  });
  return held;
}

namespace {

namespace fs = std::filesystem;

// Beyond any real clash of identifiers between a learner's courses.
constexpr int kMaxCourses = 64;

// Moves from to to, never over a file there: false (nothing moved) when to
// exists. A hard link makes the check and the move one step; filesystems
// without them get a look, then a rename.
bool MoveNoReplace(const std::string& from, const std::string& to) {
  std::error_code error;
  fs::create_hard_link(from, to, error);
  if (!error) {
    fs::remove(from, error);
    if (!error) return true;
    std::error_code ignored;
    fs::remove(to, ignored);
    throw EStoreError(SystemErrorMessage("move", from, error.message()));
  }
  if (error == std::errc::file_exists) return false;
  if (fs::exists(to, error)) return false;
  fs::rename(from, to, error);
  if (error)
    throw EStoreError(SystemErrorMessage("move", from, error.message()));
  return true;
}

// "20261208-160501", in UTC.
std::string Stamp() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(now - day);
  char text[32];
  std::snprintf(
      text, sizeof text, "%04d%02d%02d-%02d%02d%02d",
      static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
      static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
      static_cast<int>(time.minutes().count()),
      static_cast<int>(time.seconds().count()));
  return text;
}

// Moves a damaged store, with its log, to "NAME.damaged-STAMP.sqlite" (or
// "...-2.sqlite" and on, never over another) beside it; its new name, or ""
// when another zept has moved it already.
std::string SetAside(const std::string& path) {
  std::string stem = path;
  if (stem.ends_with(".sqlite")) stem.resize(stem.size() - 7);
  stem += ".damaged-" + Stamp();
  for (int n = 1; n <= kMaxCourses; ++n) {
    const std::string aside =
        stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".sqlite";
    std::error_code error;
    if (!fs::exists(path, error)) return "";
    if (fs::exists(aside + "-wal", error) || !MoveNoReplace(path, aside))
      continue;
    for (const char* log : {"-wal", "-shm"}) {
      if (fs::exists(path + log, error)) MoveNoReplace(path + log, aside + log);
    }
    return aside;
  }
  throw EStoreError("the damaged progress store '" + path +
                    "' cannot be moved aside: too many are there already");
}

void SetAsideAndTell(const std::string& path, const EStoreDamaged& damage,
                     std::string& note) {
  const std::string aside = SetAside(path);
  if (aside.empty()) return;
  note = "The progress stored for this course is damaged and cannot be read (" +
         std::string(damage.what()) + "). It was kept as '" + aside +
         "', and the course starts again with no progress.";
}

// A writable store at path; a damaged one is set aside, note says so, and an
// empty one takes its place.
std::unique_ptr<ProgressStore> OpenOrSetAside(const std::string& path,
                                              std::string& note) {
  try {
    return std::make_unique<ProgressStore>(path);
  } catch (const EStoreDamaged& e) {
    SetAsideAndTell(path, e, note);
    return std::make_unique<ProgressStore>(path);
  }
}

// Readies the store an earlier zept kept for this content and moves it to
// path: false when it stays where it is, an earlier zept having it open.
bool TakeOver(const std::string& earlier, const std::string& path,
              std::string& note) {
  // Closed by the last connection, its log is written into it and removed.
  try {
    ProgressStore store(earlier);
  } catch (const EStoreDamaged& e) {
    SetAsideAndTell(earlier, e, note);
    return true;  // nothing worth taking: the course starts afresh
  }
  std::error_code error;
  if (fs::exists(earlier + "-wal", error)) return false;
  MoveNoReplace(earlier, path);  // when path came meanwhile, it is opened
  return true;
}

}  // namespace

std::string SetAsideDamaged(const std::string& nativePath) {
  return SetAside(nativePath);
}

std::vector<std::string> KeepingFolders(platform::SystemFolders& folders) {
  std::vector<std::string> out;
  for (int csidl :
       {platform::kCsidlLocalAppData, platform::kCsidlInternetCache}) {
    const WideString folder = folders.specialFolder(csidl);
    if (!folder.empty()) out.push_back(WideToUtf8(folder) + "/zept");
  }
  return out;
}

std::string KeptPath(const std::string& folder, const std::string& key) {
  return folder + "/unsaved/" + key + ".sqlite";
}

std::string KeepUnsaved(const std::vector<std::string>& folders,
                        const std::string& key, const StoreWrite& write) {
  std::string why;
  for (const std::string& folder : folders) {
    const std::string path = KeptPath(folder, key);
    try {
      ProgressStore kept(path);
      kept.captureFor(write.endpoint);
      kept.saveItems(write.login, write.items, write.statements);
      return path;
    } catch (const std::exception& e) {
      why += (why.empty() ? "" : "; ") + std::string(e.what());
    }
  }
  throw EStoreError(why.empty() ? "this system has no folder to keep them in"
                                : why);
}

std::vector<std::string> StoreKept(const std::vector<std::string>& folders,
                                   const std::string& key,
                                   ProgressStore& store) {
  std::vector<std::string> stored;
  for (const std::string& folder : folders) {
    const std::string path = KeptPath(folder, key);
    std::error_code error;
    if (!fs::exists(path, error)) continue;
    std::unique_ptr<ProgressStore> opened;
    try {
      opened = std::make_unique<ProgressStore>(path);
    } catch (const EStoreDamaged&) {
      // Nothing can be read of it: set aside, it holds the course no more.
      SetAsideDamaged(path);
      continue;
    }
    {
      ProgressStore& kept = *opened;
      // The statements go with the first learner's values: a kept store
      // holds the one learner whose store failed. Each keeps the LRS it was
      // captured for.
      const std::string inForce = store.captureEndpoint();
      std::vector<std::pair<std::string, std::vector<xapi::Statement>>> groups;
      for (const auto& [endpoint, count] : kept.pendingByEndpoint()) {
        groups.emplace_back(endpoint, std::vector<xapi::Statement>{});
        for (xapi::OutboxEntry& entry : kept.outbox(endpoint).pending(count))
          groups.back().second.push_back(std::move(entry.statement));
      }
      try {
        for (const std::string& login : kept.learners()) {
          store.captureFor(groups.empty() ? inForce : groups.front().first);
          store.saveItems(login, kept.loadAll(login),
                          groups.empty() ? std::vector<xapi::Statement>{}
                                         : groups.front().second);
          for (std::size_t g = 1; g < groups.size(); ++g) {
            store.captureFor(groups[g].first);
            store.saveItems(login, {}, groups[g].second);
          }
          groups.clear();
          stored.push_back(login);
        }
      } catch (...) {
        store.captureFor(inForce);
        throw;
      }
      store.captureFor(inForce);
      opened.reset();
    }
    for (const char* suffix : {"", "-wal", "-shm"})
      if (!fs::remove(path + suffix, error) && error)
        throw EStoreError(
            SystemErrorMessage("remove", path + suffix, error.message()));
  }
  return stored;
}

CourseStore OpenCourseStore(const std::string& dataFolder,
                            const Manifest& manifest, const PackageFiles& files,
                            bool readOnly) {
  const std::string base = PackageKey(manifest);
  const CourseMarks marks = MarksOf(manifest);
  CourseStore found;
  std::error_code error;
  const auto pathOf = [&](int n) {
    found.key = n == 1 ? base : base + "-" + std::to_string(n);
    found.place = static_cast<unsigned>(n);
    return StorePath(dataFolder, found.key);
  };
  // Every store of these identifiers first: one made before a gap counts.
  // A damaged one may be another course's, which this one's must not hide:
  // it is set aside when its place is wanted, and its learner told then.
  std::optional<EStoreDamaged> damage;
  for (int n = 1; n <= kMaxCourses; ++n) {
    const std::string path = pathOf(n);
    if (!fs::exists(path, error)) continue;
    try {
      found.store = std::make_unique<ProgressStore>(path, readOnly);
    } catch (const EStoreDamaged& e) {
      if (!damage) damage = e;
      continue;
    }
    if (readOnly ? found.store->holds(marks) : found.store->claim(marks))
      return found;
  }
  const std::string contentKey = ContentKey(files);
  const std::string earlier = StorePath(dataFolder, contentKey);
  if (readOnly) {
    if (damage) throw *damage;
    if (!fs::exists(earlier, error)) {
      throw EStoreError("no progress is stored for this package (none of '" +
                        dataFolder + "/packages' holds it)");
    }
    found.key = contentKey;
    found.place = 1;
    found.store = std::make_unique<ProgressStore>(earlier, true);
    return found;
  }
  // The first free place, unless another zept takes it meanwhile: the claim
  // decides.
  for (int n = 1; n <= kMaxCourses; ++n) {
    const std::string path = pathOf(n);
    if (!fs::exists(path, error) && fs::exists(earlier, error) &&
        !TakeOver(earlier, path, found.note)) {
      found.key = contentKey;
      found.store = OpenOrSetAside(earlier, found.note);
      found.store->claim(marks);
      return found;
    }
    found.store = OpenOrSetAside(path, found.note);
    if (found.store->claim(marks)) return found;
  }
  throw EStoreError("more than " + std::to_string(kMaxCourses) +
                    " courses with the identifiers of this one have progress "
                    "under '" +
                    dataFolder + "/packages'");
}

}  // namespace zept::scorm
