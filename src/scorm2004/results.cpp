#include "scorm2004/results.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "scorm/results.h"
#include "scorm2004/runtime.h"
#include "scorm2004/state.h"

namespace zept::scorm2004 {

namespace {

std::string Number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

void Leaves(const ActivityTree& tree, std::vector<std::size_t>& out) {
  for (std::size_t i = 0; i < tree.size(); ++i)
    if (tree.isLeaf(i) && i != 0) out.push_back(i);
}

}  // namespace

std::string ResultsJson(const Package2004& package, scorm::ProgressStore& store,
                        const std::string& learner) {
  const ActivityTree tree(package.root);
  std::vector<std::size_t> leaves;
  Leaves(tree, leaves);

  return scorm::ResultsDocument(
      package.identifier, package.title, store, learner,
      [&](scorm::JsonWriter& json, const std::string& login) {
        const std::map<std::string, Values> all = store.loadAll(login);
        const auto item = [&all](const char* name) {
          const auto it = all.find(name);
          return it == all.end() ? Values() : it->second;
        };
        const Values stateItem = item(kStateItem);
        const auto text = stateItem.find(kStateElement);
        std::optional<SequencingState> state;
        if (text != stateItem.end()) state = ParseState(tree, text->second);
        if (!state) state = ParseState(tree, "zs1\n");
        const ActivityState& root = state->activities[0];
        const ObjectiveState& primary = root.objectives.at(0);

        json.key("course");
        json.open('{');
        json.key("completion_status");
        json.string(!root.attemptProgressStatus    ? "unknown"
                    : root.attemptCompletionStatus ? "completed"
                                                   : "incomplete");
        json.key("success_status");
        json.string(!primary.progressStatus   ? "unknown"
                    : primary.satisfiedStatus ? "passed"
                                              : "failed");
        json.key("score_scaled");
        if (primary.measureStatus)
          json.raw(Number(primary.normalizedMeasure));
        else
          json.raw("null");
        json.close('}');
        json.key("suspended");
        if (state->suspendedActivity == ActivityTree::kNone)
          json.raw("null");
        else
          json.string(tree.at(state->suspendedActivity).identifier);
        json.key("deliveries");
        json.open('[');
        const Values deliveries = item(kDeliveriesItem);
        for (std::size_t n = 0;; ++n) {
          const auto it = deliveries.find(std::to_string(n));
          if (it == deliveries.end()) break;
          json.string(it->second);
        }
        json.close(']');
        json.key("items");
        json.open('[');
        for (std::size_t i : leaves) {
          const Activity& activity = tree.at(i);
          json.open('{');
          json.key("identifier");
          json.string(activity.identifier);
          json.key("title");
          json.string(activity.title);
          json.key("attempts");
          json.number(state->activities[i].activityAttemptCount);
          json.key("values");
          // zept's own keys (the open session's mark) are not the learner's.
          scorm::WriteValues(json, item(activity.identifier.c_str()), "zept.");
          json.close('}');
        }
        json.close(']');
      });
}

}  // namespace zept::scorm2004
