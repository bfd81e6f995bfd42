#pragma once
// The IRIs cmi5 defines: its verbs, context categories and extensions, and
// the activity types of the LMS's block and course objects.

#include <optional>
#include <string_view>

namespace zept::cmi5 {

enum class Verb {
  kLaunched,
  kInitialized,
  kCompleted,
  kPassed,
  kFailed,
  kAbandoned,
  kWaived,
  kTerminated,
  kSatisfied,
};

struct VerbInfo {
  Verb verb;
  std::string_view iri;
  std::string_view display;  // en-US
  bool lms;                  // only the LMS sends it
};

inline constexpr VerbInfo kVerbs[] = {
    {Verb::kLaunched, "http://adlnet.gov/expapi/verbs/launched", "launched",
     true},
    {Verb::kInitialized, "http://adlnet.gov/expapi/verbs/initialized",
     "initialized", false},
    {Verb::kCompleted, "http://adlnet.gov/expapi/verbs/completed", "completed",
     false},
    {Verb::kPassed, "http://adlnet.gov/expapi/verbs/passed", "passed", false},
    {Verb::kFailed, "http://adlnet.gov/expapi/verbs/failed", "failed", false},
    {Verb::kAbandoned, "https://w3id.org/xapi/adl/verbs/abandoned", "abandoned",
     true},
    {Verb::kWaived, "https://w3id.org/xapi/adl/verbs/waived", "waived", true},
    {Verb::kTerminated, "http://adlnet.gov/expapi/verbs/terminated",
     "terminated", false},
    {Verb::kSatisfied, "https://w3id.org/xapi/adl/verbs/satisfied", "satisfied",
     true},
};

constexpr const VerbInfo& Info(Verb verb) {
  return kVerbs[static_cast<int>(verb)];
}

constexpr std::optional<Verb> VerbOf(std::string_view iri) {
  for (const VerbInfo& info : kVerbs) {
    if (info.iri == iri) return info.verb;
  }
  return std::nullopt;
}

inline constexpr std::string_view kVoided =
    "http://adlnet.gov/expapi/verbs/voided";

inline constexpr std::string_view kCmi5Category =
    "https://w3id.org/xapi/cmi5/context/categories/cmi5";
inline constexpr std::string_view kMoveOnCategory =
    "https://w3id.org/xapi/cmi5/context/categories/moveon";

inline constexpr std::string_view kSessionIdExtension =
    "https://w3id.org/xapi/cmi5/context/extensions/sessionid";
inline constexpr std::string_view kMasteryScoreExtension =
    "https://w3id.org/xapi/cmi5/context/extensions/masteryscore";
inline constexpr std::string_view kLaunchModeExtension =
    "https://w3id.org/xapi/cmi5/context/extensions/launchmode";
inline constexpr std::string_view kLaunchUrlExtension =
    "https://w3id.org/xapi/cmi5/context/extensions/launchurl";
inline constexpr std::string_view kMoveOnExtension =
    "https://w3id.org/xapi/cmi5/context/extensions/moveon";
inline constexpr std::string_view kLaunchParametersExtension =
    "https://w3id.org/xapi/cmi5/context/extensions/launchparameters";
inline constexpr std::string_view kReasonExtension =
    "https://w3id.org/xapi/cmi5/result/extensions/reason";

inline constexpr std::string_view kBlockType =
    "https://w3id.org/xapi/cmi5/activitytype/block";
inline constexpr std::string_view kCourseType =
    "https://w3id.org/xapi/cmi5/activitytype/course";

// The launch data's state document and the learner preferences' profile.
inline constexpr std::string_view kLaunchDataStateId = "LMS.LaunchData";
inline constexpr std::string_view kLearnerPreferencesProfileId =
    "cmi5LearnerPreferences";

}  // namespace zept::cmi5
