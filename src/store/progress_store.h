#pragma once
// Where a standard package's learners and their values are kept: one SQLite
// database per package, one transaction per store, readable while another
// process writes it.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "package/manifest.h"
#include "package/package.h"
#include "platform/errors.h"
#include "platform/folders.h"
#include "store/values.h"
#include "xapi/lrs_store.h"
#include "xapi/outbox.h"

namespace zept::scorm {

class EStoreError : public EZeptError {
 public:
  using EZeptError::EZeptError;
  const char* className() const noexcept override { return "EStoreError"; }
};

// A progress store that is not a database or fails its check. Opened
// through OpenCourseStore for writing, it is set aside and replaced.
class EStoreDamaged : public EStoreError {
 public:
  using EStoreError::EStoreError;
  const char* className() const noexcept override { return "EStoreDamaged"; }
};

// The key of a course, hex: the SHA-256 of its manifest's identifier and
// its organization's. A new version of the course (pages changed, files
// added or removed, stray files, zipped or not) keeps it; courses whose
// authoring tool wrote the same identifiers share it, and are told apart
// by their marks (see CourseMarks).
std::string PackageKey(const Manifest& manifest);

// The key earlier zepts gave a package: its manifest and every file's name,
// size and checksum. Only to find their stores. Throws EPackageError as
// PackageFiles::read().
std::string ContentKey(const PackageFiles& files);

// What tells one course from another under the same key: its title and
// its launchable items' identifiers and titles.
struct CourseMarks {
  std::string title;
  std::set<std::pair<std::string, std::string>> items;
};
CourseMarks MarksOf(const Manifest& manifest);
// One course, two versions: the same title and an item in common (or no
// items on a side), or, titles differing, more than half of the marks of
// each (title and items) in common.
bool SameCourse(const CourseMarks& a, const CourseMarks& b);

// The folder of zept's own data, native: the application data folder and
// "zept" ("$XDG_DATA_HOME/zept", else "~/.local/share/zept"). zept and
// zept-results both find the stores through it. Throws EStoreError when the
// system has no such folder.
std::string DataFolder(platform::SystemFolders& folders);

// The database of a package under dataFolder (native, "$XDG_DATA_HOME/zept"
// in the program): dataFolder + "/packages/" + key + ".sqlite".
std::string StorePath(const std::string& dataFolder, const std::string& key);

// One store of a learner's values, as it was asked for.
struct StoreWrite {
  std::string login;
  std::map<std::string, Values> items;
  std::vector<xapi::Statement> statements;
  std::string endpoint;  // the LRS the statements were captured for
};

// What a learner's registration names the learner's account (its home
// page) and the course (zept's IRI of it) by: fixed when the registration
// starts, so that an LRS configuration added or changed later does not
// split one registration between two learners or two courses. "" for each
// when none is kept.
struct RegistrationIdentity {
  std::string homePage;
  std::string courseIri;

  bool operator==(const RegistrationIdentity&) const = default;
};

class ProgressStore {
 public:
  // Opens or creates the database (and its folder). readOnly: never creates
  // or writes (results); a missing database is "no progress is stored".
  // Throws EStoreError naming the path, also for a database written by a
  // newer zept, which is left untouched, and EStoreDamaged for a file that
  // is not a database or fails its check, left untouched too.
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
  // new), with the statements they caused added to the outbox: a crash
  // keeps the old ones or the new ones, statements with their values.
  // Throws EStoreError, having changed nothing.
  void save(const std::string& login, const std::string& item,
            const Values& values,
            const std::vector<xapi::Statement>& statements = {});
  // The same for several items of the learner at once (SCORM 2004: a SCO's
  // values with the sequencing state they changed), in one transaction.
  void saveItems(const std::string& login,
                 const std::map<std::string, Values>& items,
                 const std::vector<xapi::Statement>& statements = {});
  // The last save or saveItems when it failed; nullopt once one succeeds
  // (each store holds all that the session and sequencing have now, so a
  // later one that succeeds stored the earlier one's values as well).
  const std::optional<StoreWrite>& failedWrite() const;

  // The learner's registration in the course for the LRS (a UUID), made
  // and kept the first time it is asked for.
  std::string registration(const std::string& login);
  // The identity kept for the learner's registration; {} when none is.
  RegistrationIdentity registrationIdentity(const std::string& login);
  // Keeps identity for the learner's registration (made when new) unless
  // one is kept already; the identity kept. Throws EStoreError.
  RegistrationIdentity keepRegistrationIdentity(
      const std::string& login, const RegistrationIdentity& identity);
  // The LRS in force: statements stored from now on through this store are
  // for endpoint, and the configuration at nativePath is remembered as the
  // last found for it. Without a call, statements are stored for no
  // endpoint and never sent. Statements of an earlier zept that remembered
  // the same file become endpoint's.
  void rememberLrs(const std::string& endpoint, const std::string& nativePath);
  // Each endpoint's last configuration file (native), by EndpointKey; ""
  // for the one an earlier zept remembered without its endpoint.
  std::vector<std::pair<std::string, std::string>> lrsFiles();
  // Statements an earlier zept stored without their endpoint become
  // endpoint's (that of the file it remembered); the number of them.
  std::size_t adoptUntagged(const std::string& endpoint);
  // Statements captured while no LRS was configured (content's, kept by
  // zept's own LRS) go to the first LRS configured: they become endpoint's;
  // the number of them. Those of an earlier zept whose configuration is
  // remembered without its endpoint stay as they are (see adoptUntagged).
  std::size_t adoptUnconfigured(const std::string& endpoint);
  // The statements captured with no LRS configured still to send.
  std::size_t unconfiguredPending();
  // Statements waiting for endpoint `from` (to send, or staged) are for
  // `to` from now on, as the course team asked; the number of them.
  std::size_t reassign(const std::string& from, const std::string& to);
  // The endpoint statements stored from now on are for (see rememberLrs),
  // and a change of it alone, for statements kept from an earlier run.
  std::string captureEndpoint() const;
  void captureFor(const std::string& endpoint);
  // Statements still to send by endpoint ("" for those of an earlier zept
  // not yet adopted).
  std::map<std::string, std::size_t> pendingByEndpoint();
  // When the oldest statement still to send to endpoint was captured, in
  // milliseconds since 1970; 0 when none.
  std::int64_t oldestPending(const std::string& endpoint);
  // Statements set aside as refused go back in line, in their order; the
  // number of them.
  std::size_t retryRefused();
  // Statements held back until the values that caused them are known to be
  // stored elsewhere (the shell's trackings, at place): staged with token,
  // a mark of those values (a staged statement with the same id takes the
  // new token). settle() makes the learner's statements staged at place
  // with token pending, in the order they were staged, and removes their
  // other ones staged at place, in one transaction; the number made pending.
  void stage(const std::string& login, const std::string& place,
             const std::vector<xapi::Statement>& statements,
             const std::string& token);
  std::size_t settle(const std::string& login, const std::string& place,
                     const std::string& token);
  // Statements still to send: of a learner, or of everyone ("").
  std::size_t pendingStatements(const std::string& login = "");
  // Statements the LRS refused as invalid: id and its reason.
  std::vector<std::pair<std::string, std::string>> refusedStatements();
  // The outbox of an endpoint's statements, for its sender: it may run on
  // another thread with a store of its own opened on the same file. Valid
  // until the next call.
  xapi::Outbox& outbox(const std::string& endpoint);

  // What the LRS that content talks to keeps for login, in this store
  // (valid while the store is). Its statements enter the outbox of the
  // endpoint in force. A store an earlier zept wrote reads as empty.
  std::unique_ptr<xapi::LrsStore> lrs(const std::string& login);

  // Whether the store holds the course marked so (a store without marks
  // holds any). claim() also makes it the course's, with these marks, in one
  // transaction: false, having changed nothing, when it holds another.
  bool holds(const CourseMarks& marks);
  // The title of the course the store holds ("" when it has no marks).
  std::string courseTitle();
  bool claim(const CourseMarks& marks);

 private:
  void writeItems(const std::string& login,
                  const std::map<std::string, Values>& items,
                  const std::vector<xapi::Statement>& statements);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Where values that could not be stored in the data folder are kept until
// they can be: zept's folder under the user's state folder, then under the
// cache folder, those the system has (never a shared temporary folder).
std::vector<std::string> KeepingFolders(platform::SystemFolders& folders);

// The file under a keeping folder that keeps the values of the course key:
// folder + "/unsaved/" + key + ".sqlite", a store of the same layout.
std::string KeptPath(const std::string& folder, const std::string& key);

// Keeps write for the course key in the first of folders that takes it;
// its file. Throws EStoreError naming why each folder failed.
std::string KeepUnsaved(const std::vector<std::string>& folders,
                        const std::string& key, const StoreWrite& write);

// Stores in store, learner by learner, what was kept for key under folders,
// then removes what was kept; the logins whose values were stored. A kept
// file that is damaged is set aside as a store is. Throws EStoreError,
// leaving what is kept as it is (a store that took some of it takes it
// again the same).
std::vector<std::string> StoreKept(const std::vector<std::string>& folders,
                                   const std::string& key,
                                   ProgressStore& store);

// Moves a damaged database, with its log, beside itself under a dated name
// ("NAME.damaged-STAMP.sqlite", never over another): its new name, or ""
// when another zept has moved it already. Throws EStoreError.
std::string SetAsideDamaged(const std::string& nativePath);

struct CourseStore {
  std::unique_ptr<ProgressStore> store;
  // Names the store (its file is StorePath(dataFolder, key)): the window of
  // the course and the learners' locks go by it.
  std::string key;
  // Its place among the courses with these identifiers: 1 under PackageKey,
  // n under PackageKey + "-n" (also for an earlier zept's store that stays
  // under its own name for now, the place it takes). The course's
  // statements tell the courses apart by it.
  unsigned place = 1;
  // For the learner when a damaged store was set aside; "" otherwise.
  std::string note;
};

// The store of a course under dataFolder: the one under PackageKey (or
// PackageKey + "-2", "-3"... for other courses with the same identifiers)
// that holds it, else the store an earlier zept made for this very content
// (moved under the new key, never over another; used where it is while an
// earlier zept has it open), else a new one in the first free or damaged
// place. A damaged store is moved aside under a dated name (note says so)
// only then: it may be another course's. readOnly: creates, moves and
// writes nothing, and throws EStoreDamaged when a damaged store may be the
// course's, EStoreError when none holds it.
CourseStore OpenCourseStore(const std::string& dataFolder,
                            const Manifest& manifest, const PackageFiles& files,
                            bool readOnly = false);

}  // namespace zept::scorm
