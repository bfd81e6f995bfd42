// The system globals on SQLite in WAL mode, as the packages' stores are:
// several zept windows of one learner read and write them at once, each
// write one short transaction. An objective is one row whose NULL columns
// are the fields not known, so that sqlite3 shows it plainly.

#include "scorm2004/global_store.h"

#include <sqlite3.h>

#include <filesystem>

#include "platform/errors.h"
#include "store/sqlite_statement.h"

namespace zept::scorm2004 {
namespace {

using scorm::EStoreDamaged;
using scorm::EStoreError;
using Statement = scorm::SqlStatement;

constexpr char kUse[] = "use the learner's global store";

// PRAGMA user_version of the layout below; a newer file is never touched.
constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

constexpr char kSchema[] =
    "CREATE TABLE objectives(login TEXT NOT NULL, target TEXT NOT NULL,"
    " satisfied INTEGER, measure REAL, raw_score REAL, min_score REAL,"
    " max_score REAL, completed INTEGER, progress_measure REAL,"
    " PRIMARY KEY(login, target));"
    "CREATE TABLE shared_data(login TEXT NOT NULL, target TEXT NOT NULL,"
    " value TEXT NOT NULL, PRIMARY KEY(login, target));"
    "PRAGMA user_version=1;";  // kSchemaVersion

// In a package's store: "o TARGET" / "d TARGET" = "1" for each objective or
// shared data target stored there and not yet in the system store.
constexpr char kPendingItem[] =
    "\x01"
    "system";

std::optional<double> Known(bool known, double value) {
  return known ? std::optional<double>(value) : std::nullopt;
}

// What the store keeps of an objective: a field not known has no value.
ObjectiveState Normal(ObjectiveState o) {
  if (!o.progressStatus) o.satisfiedStatus = false;
  if (!o.measureStatus) o.normalizedMeasure = 0.0;
  return o;
}

// theirs with each field mine changed from own (all three Normal).
ObjectiveState Merged(const ObjectiveState& mine, const ObjectiveState& own,
                      const ObjectiveState& theirs) {
  ObjectiveState out = theirs;
  if (mine.progressStatus != own.progressStatus ||
      mine.satisfiedStatus != own.satisfiedStatus) {
    out.progressStatus = mine.progressStatus;
    out.satisfiedStatus = mine.satisfiedStatus;
  }
  if (mine.measureStatus != own.measureStatus ||
      mine.normalizedMeasure != own.normalizedMeasure) {
    out.measureStatus = mine.measureStatus;
    out.normalizedMeasure = mine.normalizedMeasure;
  }
  for (std::optional<double> ObjectiveState::*field :
       {&ObjectiveState::rawScore, &ObjectiveState::minScore,
        &ObjectiveState::maxScore, &ObjectiveState::progressMeasure})
    if (mine.*field != own.*field) out.*field = mine.*field;
  if (mine.completionStatus != own.completionStatus)
    out.completionStatus = mine.completionStatus;
  return out;
}

template <typename Map>
typename Map::mapped_type ValueOr(const Map& map,
                                  const typename Map::key_type& key) {
  const auto it = map.find(key);
  return it == map.end() ? typename Map::mapped_type{} : it->second;
}

}  // namespace

std::string GlobalStorePath(const std::string& dataFolder) {
  return dataFolder + "/globals.sqlite";
}

struct GlobalStore::Impl {
  std::string path;
  sqlite3* db = nullptr;
  ~Impl() { sqlite3_close_v2(db); }

  Statement query(const char* sql) { return Statement(db, path, sql, kUse); }
  void exec(const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      scorm::FailSql(db, path, kUse);
  }
  int userVersion() {
    Statement s = query("PRAGMA user_version");
    return s.step() ? static_cast<int>(*s.real(0)) : 0;
  }
  void checkVersion(int version) const {
    if (version > kSchemaVersion)
      throw EStoreError("the learners' global store '" + path +
                        "' was written by a newer zept (layout " +
                        std::to_string(version) + ", this one reads up to " +
                        std::to_string(kSchemaVersion) +
                        "); it is left as it is");
  }
  template <typename Body>
  void write(Body body) {
    exec("BEGIN IMMEDIATE");
    try {
      body();
      exec("COMMIT");
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }
};

GlobalStore::GlobalStore(const std::string& nativePath)
    : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.path = nativePath;
  std::error_code error;
  const std::filesystem::path folder =
      std::filesystem::path(nativePath).parent_path();
  scorm::MakeStoreFolder(folder, error);
  if (error)
    throw EStoreError(
        SystemErrorMessage("create folder", folder.string(), error.message()));
  if (sqlite3_open_v2(
          nativePath.c_str(), &d.db,
          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
          nullptr) != SQLITE_OK)
    scorm::FailSql(d.db, nativePath, "open the learners' global store");
  scorm::MakeStoreFilesPrivate(nativePath);
  sqlite3_busy_timeout(d.db, kBusyTimeoutMs);
  d.checkVersion(d.userVersion());
  {
    Statement check = d.query("PRAGMA quick_check");
    const std::string result = check.step() ? check.text(0) : "no answer";
    if (result != "ok")
      throw EStoreDamaged("the learners' global store '" + nativePath +
                          "' is damaged: " + result.substr(0, 200));
  }
  bool isWal;
  {
    Statement wal = d.query("PRAGMA journal_mode=WAL");
    isWal = wal.step() && wal.text(0) == "wal";
  }
  d.exec(isWal ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=FULL");
  d.write([&] {
    // Another zept may have made the tables since the first look.
    const int now = d.userVersion();
    d.checkVersion(now);
    if (now == 0) d.exec(kSchema);
  });
}

GlobalStore::~GlobalStore() = default;

std::map<std::string, ObjectiveState> GlobalStore::objectives(
    const std::string& login, const std::set<std::string>& targets) {
  std::map<std::string, ObjectiveState> found;
  Statement s = impl_->query(
      "SELECT satisfied, measure, raw_score, min_score, max_score, completed,"
      " progress_measure FROM objectives WHERE login=? AND target=?");
  for (const std::string& target : targets) {
    s.bind(1, login).bind(2, target);
    if (s.step()) {
      ObjectiveState o;
      if (const auto satisfied = s.real(0)) {
        o.progressStatus = true;
        o.satisfiedStatus = *satisfied != 0;
      }
      if (const auto measure = s.real(1)) {
        o.measureStatus = true;
        o.normalizedMeasure = *measure;
      }
      o.rawScore = s.real(2);
      o.minScore = s.real(3);
      o.maxScore = s.real(4);
      if (const auto completed = s.real(5))
        o.completionStatus = *completed != 0;
      o.progressMeasure = s.real(6);
      found.emplace(target, o);
    }
    s.reset();
  }
  return found;
}

Values GlobalStore::data(const std::string& login,
                         const std::set<std::string>& targets) {
  Values found;
  Statement s =
      impl_->query("SELECT value FROM shared_data WHERE login=? AND target=?");
  for (const std::string& target : targets) {
    if (s.bind(1, login).bind(2, target).step()) found[target] = s.text(0);
    s.reset();
  }
  return found;
}

void GlobalStore::write(
    const std::string& login,
    const std::map<std::string, ObjectiveState>& objectives,
    const std::map<std::string, std::optional<std::string>>& data) {
  Impl& d = *impl_;
  d.write([&] {
    Statement put = d.query(
        "INSERT OR REPLACE INTO objectives(login, target, satisfied, measure,"
        " raw_score, min_score, max_score, completed, progress_measure)"
        " VALUES(?,?,?,?,?,?,?,?,?)");
    for (const auto& [target, o] : objectives) {
      put.bind(1, login)
          .bind(2, target)
          .bind(3, Known(o.progressStatus, o.satisfiedStatus ? 1 : 0))
          .bind(4, Known(o.measureStatus, o.normalizedMeasure))
          .bind(5, o.rawScore)
          .bind(6, o.minScore)
          .bind(7, o.maxScore)
          .bind(8, o.completionStatus
                       ? std::optional<double>(*o.completionStatus ? 1 : 0)
                       : std::nullopt)
          .bind(9, o.progressMeasure)
          .step();
      put.reset();
    }
    Statement set = d.query(
        "INSERT OR REPLACE INTO shared_data(login, target, value) "
        "VALUES(?,?,?)");
    Statement remove =
        d.query("DELETE FROM shared_data WHERE login=? AND target=?");
    for (const auto& [target, value] : data) {
      Statement& s = value ? set : remove;
      s.bind(1, login).bind(2, target);
      if (value) s.bind(3, *value);
      s.step();
      s.reset();
    }
  });
}

OpenedGlobalStore OpenGlobalStore(const std::string& dataFolder) {
  const std::string path = GlobalStorePath(dataFolder);
  OpenedGlobalStore opened;
  try {
    opened.store = std::make_unique<GlobalStore>(path);
  } catch (const EStoreDamaged& e) {
    const std::string aside = scorm::SetAsideDamaged(path);
    if (!aside.empty())
      opened.note =
          "The objectives and data your courses share are damaged and "
          "cannot be read (" +
          std::string(e.what()) + "). They were kept as '" + aside +
          "'; each course gives again what it holds of them.";
    opened.store = std::make_unique<GlobalStore>(path);
  }
  return opened;
}

namespace {

// The targets the package keeps global to the system.
void SystemTargets(const Package2004& package,
                   std::set<std::string>& objectives,
                   std::set<std::string>& data) {
  std::function<void(const Activity&)> walk = [&](const Activity& activity) {
    if (package.objectivesGlobalToSystem)
      for (const Objective& objective : activity.sequencing.objectives)
        for (const ObjectiveMap& map : objective.maps)
          objectives.insert(map.targetObjectiveId);
    if (package.sharedDataGlobalToSystem)
      for (const SharedDataMap& map : activity.sharedData)
        data.insert(map.targetId);
    for (const Activity& child : activity.children) walk(child);
  };
  walk(package.root);
}

}  // namespace

bool SharesWithSystem(const Package2004& package) {
  std::set<std::string> objectives, data;
  SystemTargets(package, objectives, data);
  return !objectives.empty() || !data.empty();
}

PackageGlobals::PackageGlobals(const Package2004& package, GlobalStore* store,
                               std::function<void(const std::string&)> problem)
    : store_(store), problem_(std::move(problem)) {
  if (!store_) return;
  SystemTargets(package, objectiveTargets_, dataTargets_);
  if (objectiveTargets_.empty() && dataTargets_.empty()) store_ = nullptr;
}

void PackageGlobals::load(const std::string& login,
                          const std::map<std::string, Values>& packageItems,
                          SequencingState& state, Values& shared) {
  if (!store_) return;
  login_ = login;
  seenObjectives_.clear();
  seenData_.clear();
  pendingObjectives_.clear();
  pendingData_.clear();
  holds(state, shared);
  const auto marks = packageItems.find(kPendingItem);
  marked_ = marks != packageItems.end() && !marks->second.empty();
  if (marked_)
    for (const auto& [name, value] : marks->second) {
      if (name.starts_with("o ")) pendingObjectives_.insert(name.substr(2));
      if (name.starts_with("d ")) pendingData_.insert(name.substr(2));
    }
  refresh(state, shared);
}

void PackageGlobals::refresh(SequencingState& state, Values& shared) {
  if (!store_ || login_.empty()) return;
  std::map<std::string, ObjectiveState> objectives;
  Values data;
  try {
    objectives = store_->objectives(login_, objectiveTargets_);
    data = store_->data(login_, dataTargets_);
  } catch (const std::exception& e) {
    // The package's own values serve until the store reads again.
    if (problem_) problem_(e.what());
    return;
  }
  for (const std::string& target : objectiveTargets_) {
    if (pendingObjectives_.contains(target)) continue;
    const auto it = objectives.find(target);
    seenObjectives_[target] =
        it == objectives.end() ? ObjectiveState{} : it->second;
    if (it != objectives.end()) state.globalObjectives[target] = it->second;
  }
  for (const std::string& target : dataTargets_) {
    if (pendingData_.contains(target)) continue;
    const auto it = data.find(target);
    seenData_[target] = it == data.end()
                            ? std::nullopt
                            : std::optional<std::string>(it->second);
    if (it != data.end()) shared[target] = it->second;
  }
}

void PackageGlobals::holds(const SequencingState& state, const Values& shared) {
  for (const std::string& target : objectiveTargets_)
    ownObjectives_[target] = Normal(ValueOr(state.globalObjectives, target));
  for (const std::string& target : dataTargets_) {
    const auto now = shared.find(target);
    ownData_[target] = now == shared.end()
                           ? std::nullopt
                           : std::optional<std::string>(now->second);
  }
}

// What the system store lacks of state and shared: what the package changed
// of each target since it last held it, over what the store had when last
// read or written, and the pending targets whole.
void PackageGlobals::changed(const SequencingState& state, const Values& shared,
                             std::map<std::string, ObjectiveState>& objectives,
                             Data& data) const {
  for (const std::string& target : objectiveTargets_) {
    const ObjectiveState value =
        Normal(ValueOr(state.globalObjectives, target));
    if (pendingObjectives_.contains(target)) {
      objectives[target] = value;
      continue;
    }
    const ObjectiveState seen = Normal(ValueOr(seenObjectives_, target));
    const ObjectiveState merged =
        Merged(value, ValueOr(ownObjectives_, target), seen);
    if (merged != seen) objectives[target] = merged;
  }
  for (const std::string& target : dataTargets_) {
    const auto now = shared.find(target);
    const std::optional<std::string> value =
        now == shared.end() ? std::nullopt
                            : std::optional<std::string>(now->second);
    if (pendingData_.contains(target) || (value != ValueOr(seenData_, target) &&
                                          value != ValueOr(ownData_, target)))
      data[target] = value;
  }
}

void PackageGlobals::save(scorm::ProgressStore& packageStore,
                          const std::string& login,
                          std::map<std::string, Values> items,
                          const std::vector<xapi::Statement>& statements,
                          const SequencingState& state, const Values& shared) {
  if (!store_) {
    packageStore.saveItems(login, items, statements);
    return;
  }
  std::map<std::string, ObjectiveState> objectives;
  Data data;
  changed(state, shared, objectives, data);
  const bool marking = !objectives.empty() || !data.empty();
  if (marking || marked_) {
    Values& marks = items[kPendingItem];
    marks.clear();
    for (const auto& [target, value] : objectives) marks["o " + target] = "1";
    for (const auto& [target, value] : data) marks["d " + target] = "1";
  }
  packageStore.saveItems(login, items, statements);
  holds(state, shared);
  marked_ = marking;
  if (!marking) return;
  for (const auto& [target, value] : objectives)
    pendingObjectives_.insert(target);
  for (const auto& [target, value] : data) pendingData_.insert(target);
  try {
    store_->write(login, objectives, data);
  } catch (const std::exception& e) {
    if (problem_)
      problem_(std::string(e.what()) +
               "; what the course shares with others is kept in it and "
               "written at its next store");
    return;
  }
  for (const auto& [target, value] : objectives) {
    seenObjectives_[target] = value;
    pendingObjectives_.erase(target);
  }
  for (const auto& [target, value] : data) {
    seenData_[target] = value;
    pendingData_.erase(target);
  }
  try {
    packageStore.saveItems(login, {{kPendingItem, {}}});
    marked_ = false;
  } catch (const std::exception&) {
    // The mark goes with the package's next store; until then the marked
    // targets keep the package's values, which are the same.
  }
}

}  // namespace zept::scorm2004
