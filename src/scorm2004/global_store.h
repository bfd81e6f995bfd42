#pragma once
// The learner's objectives and shared data that every package on the
// machine sees (an organization keeping them global to the system): one
// SQLite database in zept's data folder, keyed by login and target id, and
// the player's side of it, PackageGlobals.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "scorm2004/definition.h"
#include "scorm2004/runtime.h"
#include "scorm2004/state.h"
#include "store/progress_store.h"
#include "xapi/outbox.h"

namespace zept::scorm2004 {

// dataFolder + "/globals.sqlite": not under "packages", whose every file
// zept-sync opens as a package's store.
std::string GlobalStorePath(const std::string& dataFolder);

class GlobalStore {
 public:
  // Opens or creates the database (and its folder). Throws
  // scorm::EStoreError naming the path, also for a layout of a newer zept
  // (left untouched), and scorm::EStoreDamaged for a file that is not a
  // database or fails its check (left untouched too).
  explicit GlobalStore(const std::string& nativePath);
  ~GlobalStore();
  GlobalStore(const GlobalStore&) = delete;
  GlobalStore& operator=(const GlobalStore&) = delete;

  // The learner's values of those targets ever written; the others absent.
  std::map<std::string, ObjectiveState> objectives(
      const std::string& login, const std::set<std::string>& targets);
  Values data(const std::string& login, const std::set<std::string>& targets);
  // All in one transaction (a data value nullopt is removed). Throws
  // scorm::EStoreError, having changed nothing.
  void write(const std::string& login,
             const std::map<std::string, ObjectiveState>& objectives,
             const std::map<std::string, std::optional<std::string>>& data);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Whether the package maps an objective or shared data to a target it keeps
// global to the system.
bool SharesWithSystem(const Package2004& package);

struct OpenedGlobalStore {
  std::unique_ptr<GlobalStore> store;
  // For the learner when a damaged store was set aside; "" otherwise.
  std::string note;
};
// The store under dataFolder. A damaged one is moved aside under a dated
// name, as a package's is, and a new one made. Throws scorm::EStoreError.
OpenedGlobalStore OpenGlobalStore(const std::string& dataFolder);

// A package's share of the system globals, kept in step by its player: the
// system values are read over the state at login and before each request,
// and what the package changed is written to the system store after each
// store of the package. The package's store is written first, with a mark
// of the targets on their way to the system store; the mark goes once they
// are there. A target marked (the system write failed, or the program
// stopped between the two) keeps the package's value over the system's and
// is written again at the next store: nothing is lost, and the learner's
// values are never reported as unstored while the package holds them.
// Only what the package changed goes, field by field: what its sequencer
// or SCO still holds as it had it (read at a launch, say) leaves what
// another course wrote since.
class PackageGlobals {
 public:
  // store null, or the package keeping both kinds within itself: nothing
  // is read or written. problem: a system store that failed (its values
  // stay in the package, to be written again).
  PackageGlobals(const Package2004& package, GlobalStore* store,
                 std::function<void(const std::string&)> problem);

  void load(const std::string& login,
            const std::map<std::string, Values>& packageItems,
            SequencingState& state, Values& shared);
  void refresh(SequencingState& state, Values& shared);
  // Stores the learner's items in the package's store (throwing as it does,
  // having done nothing else), then in the system store what state and
  // shared changed. login: the one load() was given.
  void save(scorm::ProgressStore& packageStore, const std::string& login,
            std::map<std::string, Values> items,
            const std::vector<xapi::Statement>& statements,
            const SequencingState& state, const Values& shared);

 private:
  using Data = std::map<std::string, std::optional<std::string>>;
  void changed(const SequencingState& state, const Values& shared,
               std::map<std::string, ObjectiveState>& objectives,
               Data& data) const;
  void holds(const SequencingState& state, const Values& shared);

  GlobalStore* store_;
  std::function<void(const std::string&)> problem_;
  std::set<std::string> objectiveTargets_;
  std::set<std::string> dataTargets_;
  std::string login_;
  // As last read from the system store or written to it.
  std::map<std::string, ObjectiveState> seenObjectives_;
  Data seenData_;
  // As the package itself last held them: at load, and after each store.
  // A value the package still holds so was not changed by it, and does not
  // go over what another course wrote since.
  std::map<std::string, ObjectiveState> ownObjectives_;
  Data ownData_;
  // In the package's store, not yet in the system's.
  std::set<std::string> pendingObjectives_;
  std::set<std::string> pendingData_;
  bool marked_ = false;  // the package's store holds a mark
};

}  // namespace zept::scorm2004
