#pragma once
// The processes and subprocesses of the sequencing book, one function each
// under the book's name, over a tree and its state. sequencing.h is the way
// in for callers; these are here for the engine and its tests.

#include <cstddef>
#include <string>
#include <vector>

#include "scorm2004/sequencing.h"
#include "scorm2004/state.h"

namespace zept::scorm2004::processes {

constexpr std::size_t kNone = ActivityTree::kNone;

struct Context {
  const ActivityTree& tree;
  SequencingState& state;
  const RandomSource& random;
  // Kept across questions asked of one unchanged state (the menu's).
  ChoiceMemo* memo = nullptr;
  ActivityState& at(std::size_t i) { return state.activities[i]; }
  const SequencingDefinition& def(std::size_t i) const {
    return tree.sequencing(i);
  }
};

enum class Direction { kNotApplicable, kForward, kBackward };

enum class TerminationRequest {
  kNotApplicable,
  kExit,
  kExitParent,
  kExitAll,
  kSuspendAll,
  kAbandon,
  kAbandonAll,
};

enum class SequencingRequest {
  kNotApplicable,
  kStart,
  kResumeAll,
  kContinue,
  kPrevious,
  kChoice,
  kJump,
  kExit,
  kRetry,
};

// Rule conditions evaluate to one of three values; unknown counts as false
// once the rule is decided.
enum class Tri { kFalse, kTrue, kUnknown };

// Every result carries the exception code ("" for none).
struct NavigationResult {
  bool valid = false;
  TerminationRequest termination = TerminationRequest::kNotApplicable;
  SequencingRequest sequencing = SequencingRequest::kNotApplicable;
  std::size_t target = kNone;
  std::string exception;
};

struct TerminationResult {
  bool valid = false;
  SequencingRequest sequencing = SequencingRequest::kNotApplicable;
  std::string exception;
};

struct PostConditionResult {
  TerminationRequest termination = TerminationRequest::kNotApplicable;
  SequencingRequest sequencing = SequencingRequest::kNotApplicable;
};

struct SequencingResult {
  std::size_t delivery = kNone;
  bool endSession = false;
  std::string exception;
};

struct TraversalResult {
  std::size_t activity = kNone;
  Direction direction = Direction::kNotApplicable;
  bool endSession = false;
  std::string exception;
};

struct FlowResult {
  bool deliverable = false;
  std::size_t activity = kNone;
  bool endSession = false;
  std::string exception;
};

struct CheckResult {
  bool ok = false;
  std::string exception;
};

// Tracking as the processes read it: the objective maps' reads applied.
// Whether a measure reaches a threshold. Weights and thresholds are
// decimals of a few digits, so a weighted mean that is exactly the
// threshold in decimal (0.25 * 0.2 + 0.75 * 0.6) must meet it though its
// binary sum falls a rounding error short.
inline bool AtLeast(double measure, double threshold) {
  return measure >= threshold - 1e-10;
}

// ownValues false: what the activity recorded in an earlier attempt of its
// parent is passed over; what its maps read from the globals still counts.
ObjectiveState EffectiveObjective(Context& c, std::size_t activity,
                                  std::size_t objective, bool ownValues = true);
// Completion of the current attempt, read through the primary objective's
// completion map when it has one.
bool EffectiveAttemptProgressStatus(Context& c, std::size_t activity,
                                    bool ownValues = true);
bool EffectiveAttemptCompletionStatus(Context& c, std::size_t activity,
                                      bool ownValues = true);
// Writes what the activity's objectives know to the globals they map to.
void WriteObjectiveMaps(Context& c, std::size_t activity);

// Navigation and the overall process.
NavigationResult NavigationRequestProcess(Context& c,
                                          NavigationRequestKind kind,
                                          std::size_t target);
SequencingOutcome OverallSequencingProcess(Context& c,
                                           const NavigationRequest& request);

// Termination.
TerminationResult TerminationRequestProcess(Context& c,
                                            TerminationRequest request);
void SequencingExitActionRulesSubprocess(Context& c);
PostConditionResult SequencingPostConditionRulesSubprocess(Context& c);
void TerminateDescendentAttemptsProcess(Context& c, std::size_t activity);
void EndAttemptProcess(Context& c, std::size_t activity);

// Rollup.
void OverallRollupProcess(Context& c, std::size_t activity);
void MeasureRollupProcess(Context& c, std::size_t activity);
void CompletionMeasureRollupProcess(Context& c, std::size_t activity);
void ObjectiveRollupProcess(Context& c, std::size_t activity);
void ObjectiveRollupUsingMeasureProcess(Context& c, std::size_t activity);
void ObjectiveRollupUsingRulesProcess(Context& c, std::size_t activity);
void ObjectiveRollupUsingDefaultProcess(Context& c, std::size_t activity);
void ActivityProgressRollupProcess(Context& c, std::size_t activity);
void ActivityProgressRollupUsingMeasureProcess(Context& c,
                                               std::size_t activity);
void ActivityProgressRollupUsingRulesProcess(Context& c, std::size_t activity);
void ActivityProgressRollupUsingDefaultProcess(Context& c,
                                               std::size_t activity);
bool RollupRuleCheckSubprocess(Context& c, std::size_t activity,
                               const std::vector<RollupRule>& rules,
                               RollupAction action);
Tri EvaluateRollupConditionsSubprocess(Context& c, std::size_t child,
                                       const RollupRule& rule);
bool CheckChildForRollupSubprocess(Context& c, std::size_t child,
                                   RollupAction action);

// Rules and checks.
// The first rule among those with one of the actions whose conditions
// hold; nullptr when none.
const SequencingRule* SequencingRulesCheckProcess(
    Context& c, std::size_t activity, const std::vector<SequencingRule>& rules,
    std::initializer_list<RuleAction> actions);
bool SequencingRuleCheckSubprocess(Context& c, std::size_t activity,
                                   const SequencingRule& rule);
bool CheckActivityProcess(Context& c, std::size_t activity);
bool LimitConditionsCheckProcess(Context& c, std::size_t activity);

// Sequencing requests.
SequencingResult SequencingRequestProcess(Context& c, SequencingRequest request,
                                          std::size_t target);
SequencingResult StartSequencingRequestProcess(Context& c);
SequencingResult ResumeAllSequencingRequestProcess(Context& c);
SequencingResult ContinueSequencingRequestProcess(Context& c);
SequencingResult PreviousSequencingRequestProcess(Context& c);
SequencingResult ChoiceSequencingRequestProcess(Context& c, std::size_t target);
SequencingResult JumpSequencingRequestProcess(Context& c, std::size_t target);
SequencingResult ExitSequencingRequestProcess(Context& c);
SequencingResult RetrySequencingRequestProcess(Context& c);

// Traversal.
FlowResult FlowSubprocess(Context& c, std::size_t activity, Direction direction,
                          bool considerChildren);
TraversalResult FlowTreeTraversalSubprocess(Context& c, std::size_t activity,
                                            Direction direction,
                                            bool considerChildren,
                                            Direction previousDirection);
FlowResult FlowActivityTraversalSubprocess(Context& c, std::size_t activity,
                                           Direction direction,
                                           Direction previousDirection);
CheckResult ChoiceActivityTraversalSubprocess(Context& c, std::size_t activity,
                                              Direction direction);
std::size_t ChoiceFlowSubprocess(Context& c, std::size_t activity,
                                 Direction direction);
std::size_t ChoiceFlowTreeTraversalSubprocess(Context& c, std::size_t activity,
                                              Direction direction);

// Delivery.
CheckResult DeliveryRequestProcess(Context& c, std::size_t activity);
CheckResult ContentDeliveryEnvironmentProcess(Context& c, std::size_t activity);
void ClearSuspendedActivitySubprocess(Context& c, std::size_t activity);

// Selection and randomization.
void SelectChildrenProcess(Context& c, std::size_t activity);
void RandomizeChildrenProcess(Context& c, std::size_t activity);

}  // namespace zept::scorm2004::processes
