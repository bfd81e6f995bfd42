// Tracking as the rules see it, the rule checks, the end of an attempt and
// rollup: the processes that only read definitions and write tracking.

#include <algorithm>
#include <optional>
#include <vector>

#include "scorm2004/sequencing_processes.h"

namespace zept::scorm2004::processes {

namespace {

const Objective* DefinedObjective(Context& c, std::size_t activity,
                                  std::size_t objective) {
  const auto& objectives = c.def(activity).objectives;
  return objective < objectives.size() ? &objectives[objective] : nullptr;
}

const ObjectiveState* Global(Context& c, const std::string& id) {
  const auto found = c.state.globalObjectives.find(id);
  return found == c.state.globalObjectives.end() ? nullptr : &found->second;
}

Tri FromBool(bool value) { return value ? Tri::kTrue : Tri::kFalse; }

Tri Known(bool known, bool value) {
  return known ? FromBool(value) : Tri::kUnknown;
}

Tri Not(Tri value) {
  return value == Tri::kUnknown ? value : FromBool(value == Tri::kFalse);
}

Tri And(Tri a, Tri b) {
  if (a == Tri::kFalse || b == Tri::kFalse) return Tri::kFalse;
  if (a == Tri::kUnknown || b == Tri::kUnknown) return Tri::kUnknown;
  return Tri::kTrue;
}

Tri Or(Tri a, Tri b) {
  if (a == Tri::kTrue || b == Tri::kTrue) return Tri::kTrue;
  if (a == Tri::kUnknown || b == Tri::kUnknown) return Tri::kUnknown;
  return Tri::kFalse;
}

bool AttemptLimitExceeded(Context& c, std::size_t activity) {
  const unsigned limit = c.def(activity).limitConditions.attemptLimit;
  const ActivityState& a = c.at(activity);
  return limit > 0 && a.activityProgressStatus &&
         a.activityAttemptCount >= limit;
}

std::size_t ReferencedObjective(Context& c, std::size_t activity,
                                const std::string& id) {
  if (id.empty()) return 0;
  const auto& objectives = c.def(activity).objectives;
  for (std::size_t i = 0; i < objectives.size(); ++i)
    if (objectives[i].id == id) return i;
  return kNone;
}

// The rule and rollup conditions share their meaning on the tracking data.
// stale: the activity's own objective (or progress) values date from an
// earlier attempt of its parent and do not count; the globals still do.
Tri Condition(Context& c, std::size_t activity, std::size_t objective,
              RuleConditionKind kind, double threshold,
              bool staleObjectives = false, bool staleProgress = false) {
  const ActivityState& a = c.at(activity);
  const bool needsObjective =
      kind == RuleConditionKind::kSatisfied ||
      kind == RuleConditionKind::kObjectiveStatusKnown ||
      kind == RuleConditionKind::kObjectiveMeasureKnown ||
      kind == RuleConditionKind::kObjectiveMeasureGreaterThan ||
      kind == RuleConditionKind::kObjectiveMeasureLessThan;
  if (needsObjective && objective >= a.objectives.size()) return Tri::kUnknown;
  // An untracked activity keeps no objective or attempt progress, not even
  // what its maps would read or its children roll up: unknown to its rules.
  const bool tracked = c.def(activity).delivery.tracked;
  const ObjectiveState o =
      needsObjective && tracked
          ? EffectiveObjective(c, activity, objective, !staleObjectives)
          : ObjectiveState{};
  switch (kind) {
    case RuleConditionKind::kSatisfied:
      return Known(o.progressStatus, o.satisfiedStatus);
    case RuleConditionKind::kObjectiveStatusKnown:
      return FromBool(o.progressStatus);
    case RuleConditionKind::kObjectiveMeasureKnown:
      return FromBool(o.measureStatus);
    case RuleConditionKind::kObjectiveMeasureGreaterThan:
      return Known(o.measureStatus, !AtLeast(threshold, o.normalizedMeasure));
    case RuleConditionKind::kObjectiveMeasureLessThan:
      return Known(o.measureStatus, !AtLeast(o.normalizedMeasure, threshold));
    case RuleConditionKind::kCompleted:
      if (!tracked) return Tri::kUnknown;
      return Known(
          EffectiveAttemptProgressStatus(c, activity, !staleProgress),
          EffectiveAttemptCompletionStatus(c, activity, !staleProgress));
    case RuleConditionKind::kActivityProgressKnown:
      return FromBool(
          tracked && a.activityProgressStatus &&
          EffectiveAttemptProgressStatus(c, activity, !staleProgress));
    case RuleConditionKind::kAttempted:
      return FromBool(a.activityProgressStatus && a.activityAttemptCount > 0);
    case RuleConditionKind::kAttemptLimitExceeded:
      return FromBool(AttemptLimitExceeded(c, activity));
    case RuleConditionKind::kTimeLimitExceeded:
    case RuleConditionKind::kOutsideAvailableTimeRange:
      // No durations are tracked, so no limit is ever past.
      return Tri::kFalse;
    case RuleConditionKind::kAlways:
      return Tri::kTrue;
  }
  return Tri::kUnknown;
}

RuleConditionKind RuleKindOf(RollupConditionKind kind) {
  switch (kind) {
    case RollupConditionKind::kSatisfied:
      return RuleConditionKind::kSatisfied;
    case RollupConditionKind::kObjectiveStatusKnown:
      return RuleConditionKind::kObjectiveStatusKnown;
    case RollupConditionKind::kObjectiveMeasureKnown:
      return RuleConditionKind::kObjectiveMeasureKnown;
    case RollupConditionKind::kCompleted:
      return RuleConditionKind::kCompleted;
    case RollupConditionKind::kActivityProgressKnown:
      return RuleConditionKind::kActivityProgressKnown;
    case RollupConditionKind::kAttempted:
      return RuleConditionKind::kAttempted;
    case RollupConditionKind::kAttemptLimitExceeded:
      return RuleConditionKind::kAttemptLimitExceeded;
    case RollupConditionKind::kTimeLimitExceeded:
      return RuleConditionKind::kTimeLimitExceeded;
    case RollupConditionKind::kOutsideAvailableTimeRange:
      return RuleConditionKind::kOutsideAvailableTimeRange;
  }
  return RuleConditionKind::kAlways;
}

ObjectiveState& Primary(Context& c, std::size_t activity) {
  return c.at(activity).objectives[0];
}

void SetPrimarySatisfied(Context& c, std::size_t activity, bool known,
                         bool satisfied) {
  ObjectiveState& o = Primary(c, activity);
  o.progressStatus = known;
  o.satisfiedStatus = known && satisfied;
}

void SetCompletion(Context& c, std::size_t activity, bool known,
                   bool completed) {
  ActivityState& a = c.at(activity);
  a.attemptProgressStatus = known;
  a.attemptCompletionStatus = known && completed;
}

bool HasRollupRule(Context& c, std::size_t activity,
                   std::initializer_list<RollupAction> actions) {
  for (const RollupRule& rule : c.def(activity).rollupRules)
    if (std::find(actions.begin(), actions.end(), rule.action) != actions.end())
      return true;
  return false;
}

RollupRule DefaultRule(RollupConditionKind condition, RollupAction action) {
  RollupRule rule;
  rule.childActivitySet = ChildActivitySet::kAll;
  rule.conditions.push_back({condition, false});
  rule.action = action;
  return rule;
}

}  // namespace

ObjectiveState EffectiveObjective(Context& c, std::size_t activity,
                                  std::size_t objective, bool ownValues) {
  ObjectiveState o =
      ownValues ? c.at(activity).objectives.at(objective) : ObjectiveState{};
  const Objective* defined = DefinedObjective(c, activity, objective);
  if (!defined) return o;
  for (const ObjectiveMap& map : defined->maps) {
    const ObjectiveState* g = Global(c, map.targetObjectiveId);
    // An objective that reads its satisfaction from a global it does not
    // write is the global's: unknown there is unknown here.
    if (!defined->satisfiedByMeasure && map.readSatisfiedStatus &&
        !map.writeSatisfiedStatus && (!g || !g->progressStatus))
      o.progressStatus = o.satisfiedStatus = false;
    if (!g) continue;
    if (map.readSatisfiedStatus && g->progressStatus) {
      o.progressStatus = true;
      o.satisfiedStatus = g->satisfiedStatus;
    }
    if (map.readNormalizedMeasure && g->measureStatus) {
      o.measureStatus = true;
      o.normalizedMeasure = g->normalizedMeasure;
    }
    if (map.readRawScore && g->rawScore) o.rawScore = g->rawScore;
    if (map.readMinScore && g->minScore) o.minScore = g->minScore;
    if (map.readMaxScore && g->maxScore) o.maxScore = g->maxScore;
    if (map.readCompletionStatus && g->completionStatus)
      o.completionStatus = g->completionStatus;
    if (map.readProgressMeasure && g->progressMeasure)
      o.progressMeasure = g->progressMeasure;
  }
  // Satisfied by measure: only a measure, read or its own, decides (not
  // while the attempt runs, unless the activity says so).
  if (defined->satisfiedByMeasure &&
      (!c.at(activity).isActive ||
       c.def(activity).rollup.measureSatisfactionIfActive)) {
    o.progressStatus = o.measureStatus;
    o.satisfiedStatus =
        o.measureStatus &&
        AtLeast(o.normalizedMeasure, defined->minNormalizedMeasure);
  }
  return o;
}

namespace {
// The primary objective's completion read from a global, if any.
std::optional<bool> GlobalCompletion(Context& c, std::size_t activity) {
  const Objective* defined = DefinedObjective(c, activity, 0);
  if (!defined) return {};
  std::optional<bool> result;
  const CompletionThreshold& threshold =
      c.tree.at(activity).completionThreshold;
  for (const ObjectiveMap& map : defined->maps) {
    if (!map.readProgressMeasure && !map.readCompletionStatus) continue;
    const ObjectiveState* g = Global(c, map.targetObjectiveId);
    if (!g) continue;
    // Completed by measure: only a progress measure read decides, as the
    // activity's own would.
    if (threshold.completedByMeasure) {
      if (map.readProgressMeasure && g->progressMeasure)
        result = AtLeast(*g->progressMeasure, threshold.minProgressMeasure);
    } else if (map.readCompletionStatus && g->completionStatus)
      result = g->completionStatus;
  }
  return result;
}
}  // namespace

bool EffectiveAttemptProgressStatus(Context& c, std::size_t activity,
                                    bool ownValues) {
  return (ownValues && c.at(activity).attemptProgressStatus) ||
         GlobalCompletion(c, activity).has_value();
}

bool EffectiveAttemptCompletionStatus(Context& c, std::size_t activity,
                                      bool ownValues) {
  if (const auto global = GlobalCompletion(c, activity)) return *global;
  return ownValues && c.at(activity).attemptCompletionStatus;
}

void WriteObjectiveMaps(Context& c, std::size_t activity) {
  ActivityState& a = c.at(activity);
  if (!c.tree.at(activity).sequencing.delivery.tracked) return;
  // The primary objective carries the attempt's completion and progress.
  ObjectiveState& primary = a.objectives[0];
  if (a.attemptProgressStatus)
    primary.completionStatus = a.attemptCompletionStatus;
  else
    primary.completionStatus.reset();
  if (a.attemptCompletionAmountStatus)
    primary.progressMeasure = a.attemptCompletionAmount;
  else
    primary.progressMeasure.reset();
  for (std::size_t i = 0; i < a.objectives.size(); ++i) {
    // Rollup sets only a cluster's primary objective: its others hold what
    // they read at the attempt's start, and writing that back would undo
    // what a leaf wrote since.
    if (i > 0 && !c.tree.isLeaf(activity)) break;
    const Objective* defined = DefinedObjective(c, activity, i);
    if (!defined) continue;
    const ObjectiveState& o = a.objectives[i];
    for (const ObjectiveMap& map : defined->maps) {
      // Only what is known is written: a new attempt does not wipe what
      // the learner achieved elsewhere.
      auto write = [&]() -> ObjectiveState& {
        return c.state.globalObjectives[map.targetObjectiveId];
      };
      if (map.writeSatisfiedStatus && o.progressStatus) {
        write().progressStatus = true;
        write().satisfiedStatus = o.satisfiedStatus;
      }
      if (map.writeNormalizedMeasure && o.measureStatus) {
        write().measureStatus = true;
        write().normalizedMeasure = o.normalizedMeasure;
      }
      if (map.writeRawScore && o.rawScore) write().rawScore = o.rawScore;
      if (map.writeMinScore && o.minScore) write().minScore = o.minScore;
      if (map.writeMaxScore && o.maxScore) write().maxScore = o.maxScore;
      if (map.writeCompletionStatus && o.completionStatus)
        write().completionStatus = o.completionStatus;
      if (map.writeProgressMeasure && o.progressMeasure)
        write().progressMeasure = o.progressMeasure;
    }
  }
}

// UP.2
const SequencingRule* SequencingRulesCheckProcess(
    Context& c, std::size_t activity, const std::vector<SequencingRule>& rules,
    std::initializer_list<RuleAction> actions) {
  for (const SequencingRule& rule : rules) {
    if (std::find(actions.begin(), actions.end(), rule.action) == actions.end())
      continue;
    if (SequencingRuleCheckSubprocess(c, activity, rule)) return &rule;
  }
  return nullptr;
}

// UP.2.1
bool SequencingRuleCheckSubprocess(Context& c, std::size_t activity,
                                   const SequencingRule& rule) {
  if (rule.conditions.empty()) return false;
  const bool all = rule.combination == ConditionCombination::kAll;
  Tri result = all ? Tri::kTrue : Tri::kFalse;
  for (const RuleCondition& condition : rule.conditions) {
    const std::size_t objective =
        ReferencedObjective(c, activity, condition.referencedObjective);
    const RuleConditionKind kind = condition.condition;
    Tri value;
    if (!condition.referencedObjective.empty() && objective != kNone &&
        objective < c.at(activity).objectives.size() &&
        (kind == RuleConditionKind::kCompleted ||
         kind == RuleConditionKind::kActivityProgressKnown)) {
      // Naming an objective asks for its completion, which a global it
      // reads may know before the activity was ever attempted.
      const std::optional<bool> completion =
          EffectiveObjective(c, activity, objective).completionStatus;
      value = kind == RuleConditionKind::kCompleted
                  ? Known(completion.has_value(), completion.value_or(false))
                  : FromBool(completion.has_value());
    } else {
      value =
          Condition(c, activity, objective, kind, condition.measureThreshold);
    }
    if (condition.negate) value = Not(value);
    result = all ? And(result, value) : Or(result, value);
  }
  return result == Tri::kTrue;
}

// UP.1: only the attempt limit; durations are not tracked.
bool LimitConditionsCheckProcess(Context& c, std::size_t activity) {
  const ActivityState& a = c.at(activity);
  if (!c.def(activity).delivery.tracked) return false;
  if (a.isActive || a.isSuspended) return false;
  return AttemptLimitExceeded(c, activity);
}

// UP.5: true when the activity may not be delivered.
bool CheckActivityProcess(Context& c, std::size_t activity) {
  if (SequencingRulesCheckProcess(c, activity,
                                  c.def(activity).preConditionRules,
                                  {RuleAction::kDisabled}))
    return true;
  return LimitConditionsCheckProcess(c, activity);
}

// UP.4
void EndAttemptProcess(Context& c, std::size_t activity) {
  ActivityState& a = c.at(activity);
  if (c.tree.isLeaf(activity)) {
    const DeliveryControls& delivery = c.def(activity).delivery;
    if (delivery.tracked && !a.isSuspended) {
      // Content that says nothing of itself is taken as done; what it
      // said, unknown included, stands.
      if (!delivery.completionSetByContent && !a.attemptProgressStatus &&
          !a.completionReported)
        SetCompletion(c, activity, true, true);
      if (!delivery.objectiveSetByContent && !a.successReported &&
          !Primary(c, activity).progressStatus)
        SetPrimarySatisfied(c, activity, true, true);
    }
  } else {
    a.isSuspended =
        std::any_of(a.availableChildren.begin(), a.availableChildren.end(),
                    [&](std::size_t child) { return c.at(child).isSuspended; });
  }
  a.isActive = false;
  WriteObjectiveMaps(c, activity);
  OverallRollupProcess(c, activity);
}

// RB.1.5
namespace {

void RollupOne(Context& c, std::size_t i) {
  if (!c.tree.isLeaf(i)) {
    MeasureRollupProcess(c, i);
    CompletionMeasureRollupProcess(c, i);
  }
  ObjectiveRollupProcess(c, i);
  ActivityProgressRollupProcess(c, i);
  WriteObjectiveMaps(c, i);
}

bool ReadsGlobals(Context& c, std::size_t activity) {
  for (const Objective& objective : c.def(activity).objectives)
    for (const ObjectiveMap& map : objective.maps)
      if (c.state.globalObjectives.contains(map.targetObjectiveId)) return true;
  return false;
}

}  // namespace

void OverallRollupProcess(Context& c, std::size_t activity) {
  if (c.state.globalObjectives.empty()) {
    for (std::size_t i = activity; i != kNone; i = c.tree.parent(i))
      RollupOne(c, i);
    return;
  }
  // What the globals hold reaches the clusters above the leaves that read
  // them, wherever they are in the tree. Each cluster is rolled up once,
  // after all those under it: preorder puts them after their ancestors.
  // (Once per reading leaf made a wide course quadratic.)
  std::vector<char> due(c.tree.size(), 0);
  const auto mark = [&](std::size_t from) {
    for (std::size_t i = from; i != kNone && !due[i]; i = c.tree.parent(i))
      due[i] = 1;
  };
  mark(activity);
  for (std::size_t i = 0; i < c.tree.size(); ++i)
    if (c.tree.isLeaf(i) && i != activity && !c.at(i).isActive &&
        ReadsGlobals(c, i))
      mark(c.tree.parent(i));
  for (std::size_t i = c.tree.size(); i-- > 0;)
    if (due[i]) RollupOne(c, i);
}

// RB.1.1a
void MeasureRollupProcess(Context& c, std::size_t activity) {
  double total = 0.0, counted = 0.0;
  bool valid = false;
  for (std::size_t child : c.at(activity).availableChildren) {
    if (!c.def(child).delivery.tracked) continue;
    const double weight = c.def(child).rollup.objectiveMeasureWeight;
    counted += weight;
    const ObjectiveState o =
        EffectiveObjective(c, child, 0, !c.at(child).staleObjectives);
    if (o.measureStatus) {
      total += o.normalizedMeasure * weight;
      valid = true;
    }
  }
  ObjectiveState& target = Primary(c, activity);
  if (!valid || counted <= 0.0) {
    target.measureStatus = false;
    // A measure rolled up to unknown is unknown in the globals it writes
    // too, or a stale one would be read back.
    if (const Objective* defined = DefinedObjective(c, activity, 0))
      for (const ObjectiveMap& map : defined->maps)
        if (map.writeNormalizedMeasure)
          c.state.globalObjectives[map.targetObjectiveId].measureStatus = false;
  } else {
    target.measureStatus = true;
    target.normalizedMeasure = total / counted;
  }
}

// RB.1.1b
void CompletionMeasureRollupProcess(Context& c, std::size_t activity) {
  double total = 0.0, counted = 0.0;
  bool valid = false;
  for (std::size_t child : c.at(activity).availableChildren) {
    if (!c.def(child).delivery.tracked) continue;
    const double weight = c.tree.at(child).completionThreshold.progressWeight;
    counted += weight;
    const ActivityState& a = c.at(child);
    if (a.attemptCompletionAmountStatus && !a.staleProgress) {
      total += a.attemptCompletionAmount * weight;
      valid = true;
    }
  }
  ActivityState& a = c.at(activity);
  if (!valid || counted <= 0.0) {
    a.attemptCompletionAmountStatus = false;
  } else {
    a.attemptCompletionAmountStatus = true;
    a.attemptCompletionAmount = total / counted;
  }
}

// RB.1.2
void ObjectiveRollupProcess(Context& c, std::size_t activity) {
  if (c.def(activity).objectives.empty()
          ? false
          : c.def(activity).objectives[0].satisfiedByMeasure)
    ObjectiveRollupUsingMeasureProcess(c, activity);
  else if (HasRollupRule(
               c, activity,
               {RollupAction::kSatisfied, RollupAction::kNotSatisfied}))
    ObjectiveRollupUsingRulesProcess(c, activity);
  else
    ObjectiveRollupUsingDefaultProcess(c, activity);
}

// RB.1.2a
void ObjectiveRollupUsingMeasureProcess(Context& c, std::size_t activity) {
  const Objective& defined = c.def(activity).objectives[0];
  const ObjectiveState o = EffectiveObjective(c, activity, 0);
  const ActivityState& a = c.at(activity);
  if (!o.measureStatus) {
    SetPrimarySatisfied(c, activity, false, false);
  } else if (!a.isActive ||
             c.def(activity).rollup.measureSatisfactionIfActive) {
    SetPrimarySatisfied(
        c, activity, true,
        AtLeast(o.normalizedMeasure, defined.minNormalizedMeasure));
  } else {
    SetPrimarySatisfied(c, activity, false, false);
  }
}

// RB.1.2b: not satisfied first, so that satisfied wins when both hold.
void ObjectiveRollupUsingRulesProcess(Context& c, std::size_t activity) {
  const auto& rules = c.def(activity).rollupRules;
  if (RollupRuleCheckSubprocess(c, activity, rules,
                                RollupAction::kNotSatisfied))
    SetPrimarySatisfied(c, activity, true, false);
  if (RollupRuleCheckSubprocess(c, activity, rules, RollupAction::kSatisfied))
    SetPrimarySatisfied(c, activity, true, true);
}

// RB.1.2c: the default rules, "not satisfied when all are known, satisfied
// when all are satisfied".
void ObjectiveRollupUsingDefaultProcess(Context& c, std::size_t activity) {
  if (c.tree.isLeaf(activity)) return;
  const std::vector<RollupRule> rules = {
      DefaultRule(RollupConditionKind::kObjectiveStatusKnown,
                  RollupAction::kNotSatisfied),
      DefaultRule(RollupConditionKind::kSatisfied, RollupAction::kSatisfied)};
  if (RollupRuleCheckSubprocess(c, activity, rules,
                                RollupAction::kNotSatisfied))
    SetPrimarySatisfied(c, activity, true, false);
  if (RollupRuleCheckSubprocess(c, activity, rules, RollupAction::kSatisfied))
    SetPrimarySatisfied(c, activity, true, true);
}

// RB.1.3
void ActivityProgressRollupProcess(Context& c, std::size_t activity) {
  if (c.tree.at(activity).completionThreshold.completedByMeasure)
    ActivityProgressRollupUsingMeasureProcess(c, activity);
  else if (HasRollupRule(c, activity,
                         {RollupAction::kCompleted, RollupAction::kIncomplete}))
    ActivityProgressRollupUsingRulesProcess(c, activity);
  else
    ActivityProgressRollupUsingDefaultProcess(c, activity);
}

// RB.1.3a
void ActivityProgressRollupUsingMeasureProcess(Context& c,
                                               std::size_t activity) {
  const ActivityState& a = c.at(activity);
  if (!a.attemptCompletionAmountStatus) {
    // The run-time judged a SCO's own attempt against the threshold
    // already: what it reported stands, so the sequencer and GetValue agree.
    if (c.tree.isLeaf(activity) && a.completionReported) return;
    SetCompletion(c, activity, false, false);
    return;
  }
  SetCompletion(
      c, activity, true,
      AtLeast(a.attemptCompletionAmount,
              c.tree.at(activity).completionThreshold.minProgressMeasure));
}

// RB.1.3b
void ActivityProgressRollupUsingRulesProcess(Context& c, std::size_t activity) {
  const auto& rules = c.def(activity).rollupRules;
  if (RollupRuleCheckSubprocess(c, activity, rules, RollupAction::kIncomplete))
    SetCompletion(c, activity, true, false);
  if (RollupRuleCheckSubprocess(c, activity, rules, RollupAction::kCompleted))
    SetCompletion(c, activity, true, true);
}

// RB.1.3c: "incomplete when all progress is known, completed when all are
// completed".
void ActivityProgressRollupUsingDefaultProcess(Context& c,
                                               std::size_t activity) {
  if (c.tree.isLeaf(activity)) return;
  const std::vector<RollupRule> rules = {
      DefaultRule(RollupConditionKind::kActivityProgressKnown,
                  RollupAction::kIncomplete),
      DefaultRule(RollupConditionKind::kCompleted, RollupAction::kCompleted)};
  if (RollupRuleCheckSubprocess(c, activity, rules, RollupAction::kIncomplete))
    SetCompletion(c, activity, true, false);
  if (RollupRuleCheckSubprocess(c, activity, rules, RollupAction::kCompleted))
    SetCompletion(c, activity, true, true);
}

namespace {

// The consideration a child's rollup controls put to the action; nullopt
// when the controls leave it out of that action altogether.
std::optional<RollupConsideration> Required(Context& c, std::size_t child,
                                            RollupAction action) {
  const RollupControls& controls = c.def(child).rollup;
  switch (action) {
    case RollupAction::kSatisfied:
    case RollupAction::kNotSatisfied:
      if (!controls.rollupObjectiveSatisfied) return std::nullopt;
      return action == RollupAction::kSatisfied
                 ? controls.requiredForSatisfied
                 : controls.requiredForNotSatisfied;
    case RollupAction::kCompleted:
    case RollupAction::kIncomplete:
      if (!controls.rollupProgressCompletion) return std::nullopt;
      return action == RollupAction::kCompleted
                 ? controls.requiredForCompleted
                 : controls.requiredForIncomplete;
  }
  return std::nullopt;
}

// A child left out only until it has a finished attempt.
bool AwaitsAttempt(Context& c, std::size_t child, RollupAction action) {
  const auto required = Required(c, child, action);
  return required == RollupConsideration::kIfNotSuspended ||
         required == RollupConsideration::kIfAttempted;
}

}  // namespace

// RB.1.4
bool RollupRuleCheckSubprocess(Context& c, std::size_t activity,
                               const std::vector<RollupRule>& rules,
                               RollupAction action) {
  for (const RollupRule& rule : rules) {
    if (rule.action != action) continue;
    std::size_t trues = 0, falses = 0, unknowns = 0;
    // Whether a child is out because the course says so (untracked, its
    // rollup controls, skipped) rather than for want of a finished attempt.
    bool leftOutByDesign = false;
    for (std::size_t child : c.at(activity).availableChildren) {
      if (!c.def(child).delivery.tracked) {
        leftOutByDesign = true;
        continue;
      }
      if (!CheckChildForRollupSubprocess(c, child, action)) {
        leftOutByDesign = leftOutByDesign || !AwaitsAttempt(c, child, action);
        continue;
      }
      switch (EvaluateRollupConditionsSubprocess(c, child, rule)) {
        case Tri::kTrue:
          ++trues;
          break;
        case Tri::kFalse:
          ++falses;
          break;
        case Tri::kUnknown:
          ++unknowns;
          break;
      }
    }
    const std::size_t size = trues + falses + unknowns;
    // "All" of nothing holds where the course left every child out; where
    // they are only not attempted or suspended yet, nothing is known.
    if (size == 0) {
      if (rule.childActivitySet == ChildActivitySet::kAll && leftOutByDesign)
        return true;
      continue;
    }
    bool change = false;
    switch (rule.childActivitySet) {
      case ChildActivitySet::kAll:
        change = trues == size;
        break;
      case ChildActivitySet::kAny:
        change = trues > 0;
        break;
      case ChildActivitySet::kNone:
        change = falses == size;
        break;
      case ChildActivitySet::kAtLeastCount:
        change = trues >= rule.minimumCount;
        break;
      case ChildActivitySet::kAtLeastPercent:
        change = static_cast<double>(trues) / static_cast<double>(size) >=
                 rule.minimumPercent;
        break;
    }
    if (change) return true;
  }
  return false;
}

// RB.1.4.1
Tri EvaluateRollupConditionsSubprocess(Context& c, std::size_t child,
                                       const RollupRule& rule) {
  if (rule.conditions.empty()) return Tri::kUnknown;
  const bool all = rule.combination == ConditionCombination::kAll;
  Tri result = all ? Tri::kTrue : Tri::kFalse;
  const ActivityState& a = c.at(child);
  for (const RollupCondition& condition : rule.conditions) {
    const RuleConditionKind kind = RuleKindOf(condition.condition);
    const bool progress = kind == RuleConditionKind::kCompleted ||
                          kind == RuleConditionKind::kActivityProgressKnown;
    const bool objective = kind == RuleConditionKind::kSatisfied ||
                           kind == RuleConditionKind::kObjectiveStatusKnown ||
                           kind == RuleConditionKind::kObjectiveMeasureKnown;
    // A child left over from an earlier attempt of this cluster counts
    // with what it reads from the globals only: a global is no attempt's.
    Tri value =
        Condition(c, child, 0, kind, 0.0, objective && a.staleObjectives,
                  progress && a.staleProgress);
    if (condition.negate) value = Not(value);
    result = all ? And(result, value) : Or(result, value);
  }
  return result;
}

// RB.1.4.2
bool CheckChildForRollupSubprocess(Context& c, std::size_t child,
                                   RollupAction action) {
  const auto required = Required(c, child, action);
  if (!required) return false;
  const ActivityState& a = c.at(child);
  switch (*required) {
    case RollupConsideration::kAlways:
      return true;
    case RollupConsideration::kIfNotSuspended:
      return a.activityProgressStatus &&
             !(a.activityAttemptCount > 0 && a.isSuspended);
    case RollupConsideration::kIfAttempted:
      return a.activityProgressStatus && a.activityAttemptCount > 0;
    case RollupConsideration::kIfNotSkipped:
      return SequencingRulesCheckProcess(c, child,
                                         c.def(child).preConditionRules,
                                         {RuleAction::kSkip}) == nullptr;
  }
  return true;
}

// SR.1
void SelectChildrenProcess(Context& c, std::size_t activity) {
  if (c.tree.isLeaf(activity)) return;
  ActivityState& a = c.at(activity);
  if (a.isActive || a.isSuspended) return;
  const Randomization& r = c.def(activity).randomization;
  const bool now =
      r.selectionTiming == RandomizationTiming::kOnEachNewAttempt ||
      (r.selectionTiming == RandomizationTiming::kOnce &&
       !a.activityProgressStatus);
  const auto& all = c.tree.children(activity);
  if (!now || !r.selectCount || *r.selectCount >= all.size()) return;
  // A partial shuffle of positions picks them evenly; the picked keep
  // their manifest order.
  std::vector<std::size_t> positions(all.size());
  for (std::size_t i = 0; i < positions.size(); ++i) positions[i] = i;
  for (std::size_t i = 0; i < *r.selectCount; ++i)
    std::swap(positions[i], positions[i + c.random(positions.size() - i)]);
  positions.resize(*r.selectCount);
  std::sort(positions.begin(), positions.end());
  a.availableChildren.clear();
  for (std::size_t p : positions) a.availableChildren.push_back(all[p]);
}

// SR.2
void RandomizeChildrenProcess(Context& c, std::size_t activity) {
  if (c.tree.isLeaf(activity)) return;
  ActivityState& a = c.at(activity);
  if (a.isActive || a.isSuspended) return;
  const Randomization& r = c.def(activity).randomization;
  const bool now =
      r.randomizationTiming == RandomizationTiming::kOnEachNewAttempt ||
      (r.randomizationTiming == RandomizationTiming::kOnce &&
       !a.activityProgressStatus);
  if (!now || !r.reorderChildren) return;
  auto& children = a.availableChildren;
  for (std::size_t i = children.size(); i > 1; --i)
    std::swap(children[i - 1], children[c.random(i)]);
}

}  // namespace zept::scorm2004::processes
