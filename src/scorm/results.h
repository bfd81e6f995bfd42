#pragma once
// The results of a standard package as JSON, what zept-results prints: per
// learner and launchable item, the values the SCO would get at its next
// launch.

#include <functional>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "scorm/manifest.h"
#include "scorm/progress_store.h"
#include "scorm/runtime.h"
#include "util/utf8.h"

namespace zept::scorm {

// The learner asked for has no progress in the store.
class EUnknownLearner : public EZeptError {
 public:
  using EZeptError::EZeptError;
  const char* className() const noexcept override { return "EUnknownLearner"; }
};

// What an item's stored values show: NextLaunchValues, or a stand-in in
// tests.
using NextValuesFunction =
    std::function<Values(const Values& stored, const LaunchContext& context)>;

// {"course": {"identifier", "title"}, "learners": [{"login", "items":
// [{"identifier", "title", "values": {ELEMENT: VALUE}}]}]}, indented by two
// spaces, with a final newline. learner: one login, or "" for every learner
// in the order they were added; items in organization order, elements by
// name. Throws EUnknownLearner, or EStoreError from the store.
std::string ResultsJson(const Manifest& manifest, ProgressStore& store,
                        const std::string& learner = "",
                        const NextValuesFunction& next = NextLaunchValues);

// The order of element names in the results: as text, but array indexes
// by number ("cmi.objectives.2" before "cmi.objectives.10").
bool ElementBefore(std::string_view a, std::string_view b);

// The LaunchContext of a learner's launch of an item: the login is both the
// student id and name; the rest comes from the manifest.
LaunchContext ContextFor(const std::string& login, const Item& item);

// JSON strings are written alike everywhere (util/utf8.h).
using ::zept::JsonString;

}  // namespace zept::scorm
