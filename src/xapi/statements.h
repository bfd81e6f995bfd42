#pragma once
// What a learner did in an item, as xAPI statements of the SCORM profile.
// The runtimes (a package's SCORM 1.2 runtime, the shell's LMSSetValue
// commands) report their events here and store what take() gives in the
// same transaction as the values; the statement texts are final when taken.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xapi/outbox.h"

namespace zept::xapi {

struct Activity {
  std::string id;    // IRI
  std::string name;  // its title, as definition.name ("en-US")
};

// The runtime whose element names the session reports: SCORM 1.2's
// ("cmi.core.lesson_status") or SCORM 2004's ("cmi.completion_status",
// "cmi.success_status", "cmi.score.scaled", ...).
enum class DataModel { kScorm12, kScorm2004 };

// Values by element name of the session's data model.
using ElementValues = std::map<std::string, std::string>;

// Who and what the statements of one item's session are about.
struct SessionContext {
  std::string login;
  std::string homePage;
  std::string registration;  // UUID of the learner in the course
  Activity course;
  Activity item;
  DataModel model = DataModel::kScorm12;
  // The SCORM attempt of the item the session belongs to (a UUID), "" for
  // none: its activity, the item's IRI + "?attemptId=" + it, joins the
  // course in grouping.
  std::string attempt{};
  // The item's values as the session found them: statuses and a progress
  // they hold were reported by an earlier session.
  ElementValues atLaunch{};
};

// Where the players keep an item's attempt id among its stored values, so
// that a resumed attempt keeps it.
inline constexpr char kAttemptIdKey[] = "zept.attempt_id";

// The IRIs: the course is activityBase + the manifest identifier (or the
// shell course's tracking id) percent-encoded; an item is the course's id +
// "/" + its identifier, percent-encoded. place is the course's among those
// with its identifier (its store's): a later one's IRI ends in ";" + place,
// which no percent-encoded identifier holds.
std::string CourseIri(const std::string& activityBase,
                      const std::string& identifier, unsigned place = 1);
std::string ItemIri(const std::string& courseIri,
                    const std::string& identifier);

// RFC 3986's unreserved characters as they are, every other byte %XX: any
// text makes one path segment or one query value.
std::string PercentEncode(std::string_view text);

// A new random (version 4) UUID, lower-case.
std::string NewUuid();
// Now, ISO 8601 in UTC with milliseconds: "2026-12-08T18:40:02.123Z".
std::string UtcTimestamp();

class SessionStatements {
 public:
  // newId and now default to NewUuid and UtcTimestamp; tests pass their own.
  explicit SessionStatements(SessionContext context,
                             std::function<std::string()> newId = {},
                             std::function<std::string()> now = {});

  // LMSInitialize (Initialize) succeeded; entry is the cmi.core.entry
  // (cmi.entry) the item was given ("resume" reports the session as
  // resumed).
  void initialized(const std::string& entry);
  // An LMSSetValue the runtime took. Cheap: called on every set.
  void valueSet(const std::string& element, const std::string& value);
  // The values are about to be stored (LMSCommit, a periodic store): what
  // waits for a store point is captured now.
  void storing(const ElementValues& values);
  // The session ended (LMSFinish, Terminate, or the learner left): values
  // as they will be stored, with the exit and the session time. A SCORM
  // 2004 session whose attempt goes on (its next cmi.entry "resume") is
  // reported suspended, as one that set cmi.exit "suspend".
  void terminated(const ElementValues& values);

  // The statements captured since the last take, in capture order.
  std::vector<Statement> take();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace zept::xapi
