#pragma once
// One launch of an AU as the LMS fixes it, the LMS.LaunchData state
// document it writes before the AU loads, and the statements the LMS sends
// itself: launched, satisfied, abandoned and waived. Texts are JSON, ids
// and timestamps given by the caller so that a store can keep them.

#include <chrono>
#include <optional>
#include <string>

#include "cmi5/course.h"
#include "xapi/outbox.h"

namespace zept::cmi5 {

enum class LaunchMode { kNormal, kBrowse, kReview };
// "Normal", "Browse", "Review".
const char* Name(LaunchMode mode);

// The learner as every statement of the registration names them: an Agent
// with an account.
struct Actor {
  std::string homePage;
  std::string name;

  bool operator==(const Actor&) const = default;
};

// {"objectType":"Agent","account":{"homePage":...,"name":...}}: the launch
// URL's actor and every statement's, the same text.
std::string ActorJson(const Actor& actor);

struct Launch {
  Actor actor;
  std::string registration;  // UUID, one per learner and course
  std::string sessionId;     // new for each launch
  std::string activityId;    // the LMS's own IRI for the AU
  std::string publisherId;   // the AU's id in cmi5.xml
  LaunchMode mode = LaunchMode::kNormal;
  MoveOn moveOn = MoveOn::kNotApplicable;
  std::optional<double> masteryScore;
  std::optional<std::string> launchParameters;
  std::optional<std::string> entitlementKey;
  // The AU's fully qualified URL without the launch's parameters.
  std::string launchUrl;
  std::string returnUrl;  // "" for none
};

// A Launch with what the course structure says of au; the caller adds the
// learner, the ids, the mode and the URLs.
Launch LaunchOf(const Au& au);

// The LMS.LaunchData document: contextTemplate (the session id extension,
// the publisher id in grouping), launchMode, launchParameters, masteryScore,
// moveOn, returnURL and entitlementKey as far as the launch has them.
std::string LaunchDataJson(const Launch& launch);

// A statement's id and timestamp (ISO 8601, UTC).
struct Stamp {
  std::string id;
  std::string timestamp;
};

// ISO 8601 duration of a span: "PT1H2M3.45S", "PT0S"; centiseconds at most.
std::string IsoDuration(std::chrono::milliseconds span);

// "launched", before the AU loads: the context carries the launch mode, URL,
// moveOn, and the launch parameters and mastery score when there are.
xapi::Statement LaunchedStatement(const Launch& launch, const Stamp& stamp);

// "abandoned": the session ended without "terminated"; duration: from the
// launch to the AU's last statement.
xapi::Statement AbandonedStatement(const Launch& launch,
                                   std::chrono::milliseconds duration,
                                   const Stamp& stamp);

// "waived" with its reason ("Tested Out", "Equivalent AU", "Equivalent
// Outside Activity", "Administrative"). launch.sessionId must be a new
// session id used for nothing else but the "satisfied" it causes.
xapi::Statement WaivedStatement(const Launch& launch, const std::string& reason,
                                const Stamp& stamp);

// The block or course object of a "satisfied" statement.
struct SatisfiedObject {
  bool course = false;      // else a block
  std::string iri;          // the LMS's own, never the publisher's id
  std::string publisherId;  // the id in cmi5.xml, put in grouping
  LangStrings title;
};

// "satisfied": sessionId is the launch's whose statement satisfied it, or a
// new one when nothing ran (NotApplicable at registration, a waiver).
xapi::Statement SatisfiedStatement(const Actor& actor,
                                   const std::string& registration,
                                   const std::string& sessionId,
                                   const SatisfiedObject& object,
                                   const Stamp& stamp);

// The satisfied object of the course, or of one of its blocks.
SatisfiedObject CourseObject(const Course& course, const std::string& iri);
SatisfiedObject BlockObject(const Course& course, std::size_t block,
                            const std::string& iri);

}  // namespace zept::cmi5
