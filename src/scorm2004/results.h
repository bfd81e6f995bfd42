#pragma once
// The results of a SCORM 2004 package as JSON, as zept-results will print
// them: per learner the course's rolled-up status, the suspended activity,
// the deliveries in order, and each activity's values and attempts.

#include <string>

#include "scorm2004/definition.h"
#include "store/progress_store.h"

namespace zept::scorm2004 {

// What a learner's progress holds beside the activities' values, under item
// names no activity can have: XML 1.0 cannot carry U+0001, so no manifest
// names an identifier with it.
//   kStateItem:       kStateElement = SerializeState of the activity tree
//   kDeliveriesItem:  "0", "1", ... = the activities delivered, in order
//   kSharedDataItem:  adl.data target id = its value
inline constexpr char kStateItem[] =
    "\x01"
    "sequencing";
inline constexpr char kStateElement[] = "state";
inline constexpr char kDeliveriesItem[] =
    "\x01"
    "deliveries";
inline constexpr char kSharedDataItem[] =
    "\x01"
    "shared";

// {"course": {"identifier", "title"}, "learners": [{"login",
// "pending_statements", "course": {"completion_status", "success_status",
// "score_scaled"}, "suspended",
// "deliveries": [ID...], "items": [{"identifier", "title", "attempts",
// "values": {ELEMENT: VALUE}}]}]}, indented by two spaces with a final
// newline. The course's statuses are the root activity's rollup
// ("unknown" and null when not known), "suspended" the activity to resume
// or null; items are the leaves in tree order, their values as stored
// (the runtime's own zept.* keys left out). learner: one login, or "" for
// every learner. Throws scorm::EUnknownLearner, or EStoreError.
std::string ResultsJson(const Package2004& package, scorm::ProgressStore& store,
                        const std::string& learner = "");

}  // namespace zept::scorm2004
