#pragma once
// Where a standard package's learners and their values are kept: one SQLite
// database per package, one transaction per store, readable while another
// process writes it.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "scorm/package.h"
#include "scorm/runtime.h"

typedef struct sqlite3 sqlite3;

namespace zept::scorm {

class EStoreError : public EZeptError {
 public:
  using EZeptError::EZeptError;
  const char* className() const noexcept override { return "EStoreError"; }
};

// A key of the package's content (manifest and every file's name, size and
// checksum where known), hex: a package moved or copied keeps it, two
// packages that differ do not share it.
std::string PackageKey(const PackageFiles& files);

// The database of a package under dataFolder (native, "$XDG_DATA_HOME/zept"
// in the program): dataFolder + "/packages/" + key + ".sqlite".
std::string StorePath(const std::string& dataFolder, const std::string& key);

class ProgressStore {
 public:
  // Opens or creates the database (and its folder). readOnly: never creates
  // or writes (results). Throws EStoreError.
  ProgressStore(const std::string& nativePath, bool readOnly = false);
  ~ProgressStore();
  ProgressStore(const ProgressStore&) = delete;
  ProgressStore& operator=(const ProgressStore&) = delete;

  // Logins, in the order they were added.
  std::vector<std::string> learners();
  bool hasLearner(const std::string& login);
  void addLearner(const std::string& login);  // nothing when present
  // {} for an item never stored.
  Values load(const std::string& login, const std::string& item);
  // Every stored item of the learner.
  std::map<std::string, Values> loadAll(const std::string& login);
  // Replaces the item's values in one transaction: a crash keeps the old
  // ones or the new ones.
  void save(const std::string& login, const std::string& item,
            const Values& values);

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace zept::scorm
