#pragma once
// Where a standard package's learners and their values are kept: one SQLite
// database per package, one transaction per store, readable while another
// process writes it.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/folders.h"
#include "scorm/package.h"
#include "scorm/runtime.h"

namespace zept::scorm {

class EStoreError : public EZeptError {
 public:
  using EZeptError::EZeptError;
  const char* className() const noexcept override { return "EStoreError"; }
};

// A key of the package's content (manifest and every file's name, size and
// checksum where known), hex: a package moved or copied keeps it, two
// packages that differ do not share it. A folder's files carry no checksum,
// so a folder and the same files zipped have different keys. Throws
// EPackageError as PackageFiles::read().
std::string PackageKey(const PackageFiles& files);

// The folder of zept's own data, native: the application data folder and
// "zept" ("$XDG_DATA_HOME/zept", else "~/.local/share/zept"). zept and
// zept-results both find the stores through it. Throws EStoreError when the
// system has no such folder.
std::string DataFolder(platform::SystemFolders& folders);

// The database of a package under dataFolder (native, "$XDG_DATA_HOME/zept"
// in the program): dataFolder + "/packages/" + key + ".sqlite".
std::string StorePath(const std::string& dataFolder, const std::string& key);

class ProgressStore {
 public:
  // Opens or creates the database (and its folder). readOnly: never creates
  // or writes (results); a missing database is "no progress is stored".
  // Throws EStoreError naming the path, also for a database written by a
  // newer zept, which is left untouched.
  ProgressStore(const std::string& nativePath, bool readOnly = false);
  ~ProgressStore();
  ProgressStore(const ProgressStore&) = delete;
  ProgressStore& operator=(const ProgressStore&) = delete;

  // Logins, in the order they were added.
  std::vector<std::string> learners();
  bool hasLearner(const std::string& login);
  // Nothing when present. Logins are any non-empty UTF-8 text.
  void addLearner(const std::string& login);
  // {} for an item never stored.
  Values load(const std::string& login, const std::string& item);
  // Every stored item of the learner.
  std::map<std::string, Values> loadAll(const std::string& login);
  // Replaces the item's values in one transaction (adding the learner when
  // new): a crash keeps the old ones or the new ones. Throws EStoreError,
  // having changed nothing.
  void save(const std::string& login, const std::string& item,
            const Values& values);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zept::scorm
