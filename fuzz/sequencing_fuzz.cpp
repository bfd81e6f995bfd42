// Random small activity trees with random sequencing definitions, then
// random navigation requests and content reports: never a crash, and the
// state stays sound after every request.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "scorm2004/sequencing.h"

namespace {

using namespace zept::scorm2004;

struct Bytes {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t next() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  bool flag() { return next() & 1; }
  std::size_t below(std::size_t bound) { return bound ? next() % bound : 0; }
};

const char* const kGlobals[] = {"g1", "g2"};

RuleCondition Condition(Bytes& in) {
  RuleCondition c;
  c.condition = static_cast<RuleConditionKind>(in.below(12));
  c.negate = in.flag();
  c.measureThreshold = (static_cast<int>(in.below(21)) - 10) / 10.0;
  if (in.flag()) c.referencedObjective = "o1";
  return c;
}

void Define(Bytes& in, Activity& a) {
  SequencingDefinition& s = a.sequencing;
  const std::uint8_t mode = in.next();
  s.controlMode.choice = mode & 1;
  s.controlMode.choiceExit = mode & 2;
  s.controlMode.flow = !(mode & 4);
  s.controlMode.forwardOnly = mode & 8;
  s.constrainedChoice.constrainChoice = mode & 16;
  s.constrainedChoice.preventActivation = mode & 32;
  s.delivery.objectiveSetByContent = mode & 64;
  s.delivery.tracked = !(in.below(16) == 0);
  s.limitConditions.attemptLimit = in.below(4);
  for (std::size_t n = in.below(3); n > 0; --n) {
    SequencingRule rule;
    rule.combination =
        in.flag() ? ConditionCombination::kAny : ConditionCombination::kAll;
    rule.conditions.push_back(Condition(in));
    const int kind = in.below(3);
    rule.action = static_cast<RuleAction>(kind == 0   ? in.below(4)
                                          : kind == 1 ? 4
                                                      : 5 + in.below(6));
    (kind == 0   ? s.preConditionRules
     : kind == 1 ? s.exitConditionRules
                 : s.postConditionRules)
        .push_back(rule);
  }
  if (in.flag()) {
    RollupRule rule;
    rule.childActivitySet = static_cast<ChildActivitySet>(in.below(5));
    rule.minimumCount = in.below(3);
    rule.minimumPercent = in.below(5) / 4.0;
    rule.conditions.push_back(
        {static_cast<RollupConditionKind>(in.below(9)), in.flag()});
    rule.action = static_cast<RollupAction>(in.below(4));
    s.rollupRules.push_back(rule);
  }
  s.rollup.requiredForSatisfied = static_cast<RollupConsideration>(in.below(4));
  s.rollup.requiredForCompleted = static_cast<RollupConsideration>(in.below(4));
  s.rollup.objectiveMeasureWeight = in.below(3);
  Objective primary;
  primary.primary = true;
  primary.satisfiedByMeasure = in.flag();
  primary.minNormalizedMeasure = in.below(5) / 4.0;
  if (in.flag()) {
    ObjectiveMap map;
    map.targetObjectiveId = kGlobals[in.below(2)];
    map.readSatisfiedStatus = in.flag();
    map.writeSatisfiedStatus = in.flag();
    map.writeNormalizedMeasure = in.flag();
    map.writeCompletionStatus = in.flag();
    primary.maps.push_back(map);
  }
  s.objectives.push_back(primary);
  if (in.flag()) {
    Objective other;
    other.id = "o1";
    ObjectiveMap map;
    map.targetObjectiveId = kGlobals[in.below(2)];
    map.writeSatisfiedStatus = in.flag();
    other.maps.push_back(map);
    s.objectives.push_back(other);
  }
  if (in.flag()) {
    s.randomization.selectionTiming =
        static_cast<RandomizationTiming>(in.below(3));
    s.randomization.selectCount = in.below(4);
    s.randomization.randomizationTiming =
        static_cast<RandomizationTiming>(in.below(3));
    s.randomization.reorderChildren = in.flag();
  }
  a.completionThreshold.completedByMeasure = in.below(8) == 0;
}

void Grow(Bytes& in, Activity& a, int depth, int& count) {
  Define(in, a);
  if (depth >= 3) return;
  for (std::size_t n = in.below(4); n > 0 && count < 16; --n) {
    Activity child;
    child.identifier = "a" + std::to_string(count++);
    Grow(in, child, depth + 1, count);
    a.children.push_back(std::move(child));
  }
}

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckState(const ActivityTree& tree, const SequencingState& state,
                const SequencingState& before) {
  Check(state.activities.size() == tree.size());
  Check(state.currentActivity == ActivityTree::kNone ||
        state.currentActivity < tree.size());
  for (std::size_t i = 0; i < tree.size(); ++i) {
    const ActivityState& a = state.activities[i];
    Check(a.activityAttemptCount >= before.activities[i].activityAttemptCount);
    // Only the current activity and its ancestors can be running.
    if (a.isActive)
      Check(state.currentActivity != ActivityTree::kNone &&
            tree.contains(i, state.currentActivity));
    for (std::size_t child : a.availableChildren)
      Check(tree.parent(child) == i);
  }
  const std::string text = SerializeState(tree, state);
  const auto parsed = ParseState(tree, text);
  Check(parsed && *parsed == state);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  Bytes in{data, size};
  Activity root;
  root.identifier = "root";
  int count = 0;
  Grow(in, root, 0, count);
  const ActivityTree tree(root);
  const RandomSource random = SeededRandom(in.next());
  SequencingState state = InitialState(tree, random);
  for (int steps = 0; steps < 64 && in.size > 0; ++steps) {
    const std::uint8_t op = in.next();
    const std::string target = tree.at(in.below(tree.size())).identifier;
    if (op >= 240) {
      AttemptReport report;
      if (in.flag()) report.completed = in.flag();
      if (in.flag()) report.primary.passed = in.flag();
      if (in.flag())
        report.primary.scaledScore =
            (static_cast<int>(in.below(21)) - 10) / 10.0;
      if (in.flag()) report.progressMeasure = in.below(5) / 4.0;
      if (in.flag()) {
        ObjectiveReport objective;
        objective.id = "o1";
        objective.passed = in.flag();
        report.objectives.push_back(objective);
      }
      if (state.currentActivity != ActivityTree::kNone)
        ReportAttempt(tree, state, state.currentActivity, report);
      continue;
    }
    const NavigationRequest request{static_cast<NavigationRequestKind>(op % 13),
                                    target};
    NavigationRequestValid(tree, state, request, random);
    const SequencingState before = state;
    const SequencingOutcome outcome = Sequence(tree, state, request, random);
    if (!outcome.exception.empty()) Check(!outcome.exceptionText.empty());
    if (outcome.delivered) {
      const std::size_t delivered = tree.find(*outcome.delivered);
      Check(delivered == state.currentActivity && tree.isLeaf(delivered) &&
            state.activities[delivered].isActive);
    }
    CheckState(tree, state, before);
  }
  return 0;
}
