// Navigation, termination, the sequencing requests, traversal and delivery;
// the tracking side (rules, rollup, end of attempts) is in rollup.cpp.

#include "scorm2004/sequencing.h"

#include <algorithm>
#include <utility>

#include "scorm2004/sequencing_processes.h"
#include "util/i18n.h"

namespace zept::scorm2004 {

using namespace processes;

namespace {

constexpr std::size_t kRoot = 0;

const ControlMode& Mode(Context& c, std::size_t activity) {
  return c.def(activity).controlMode;
}

// Position among the parent's available children; npos when not there.
std::size_t Position(Context& c, std::size_t activity) {
  const std::size_t parent = c.tree.parent(activity);
  if (parent == kNone) return std::string::npos;
  const auto& siblings = c.at(parent).availableChildren;
  // Where nothing was selected or shuffled away, the manifest's place.
  const std::size_t place = c.tree.place(activity);
  if (place < siblings.size() && siblings[place] == activity) return place;
  const auto found = std::find(siblings.begin(), siblings.end(), activity);
  return found == siblings.end()
             ? std::string::npos
             : static_cast<std::size_t>(found - siblings.begin());
}

bool IsLastChild(Context& c, std::size_t activity) {
  const std::size_t parent = c.tree.parent(activity);
  const auto& siblings = c.at(parent).availableChildren;
  const std::size_t at = Position(c, activity);
  return at == std::string::npos || at + 1 == siblings.size();
}

bool IsFirstChild(Context& c, std::size_t activity) {
  const std::size_t at = Position(c, activity);
  return at == std::string::npos || at == 0;
}

std::size_t Sibling(Context& c, std::size_t activity, int step) {
  const auto& siblings = c.at(c.tree.parent(activity)).availableChildren;
  return siblings[Position(c, activity) + step];
}

// The last activity a forward preorder walk of the available tree meets.
bool IsLastInPreorder(Context& c, std::size_t activity) {
  std::size_t last = kRoot;
  while (!c.at(last).availableChildren.empty())
    last = c.at(last).availableChildren.back();
  return last == activity;
}

// Whether a comes before b in a preorder walk of the available tree.
bool Before(Context& c, std::size_t a, std::size_t b) {
  if (a == b) return false;
  const std::size_t common = c.tree.commonAncestor(a, b);
  if (common == a) return true;
  if (common == b) return false;
  auto below = [&](std::size_t i) {
    while (c.tree.parent(i) != common) i = c.tree.parent(i);
    return i;
  };
  const std::size_t pa = Position(c, below(a)), pb = Position(c, below(b));
  if (pa == pb) return below(a) < below(b);
  return pa < pb;
}

// Root first.
std::vector<std::size_t> PathFromRoot(Context& c, std::size_t activity) {
  auto path = c.tree.pathUp(activity, kRoot);
  std::reverse(path.begin(), path.end());
  return path;
}

SequencingResult Deliver(std::size_t activity) {
  SequencingResult result;
  result.delivery = activity;
  return result;
}

SequencingResult Failed(std::string exception, bool endSession = false) {
  SequencingResult result;
  result.exception = std::move(exception);
  result.endSession = endSession;
  return result;
}

NavigationResult Invalid(const char* exception) {
  NavigationResult result;
  result.exception = exception;
  return result;
}

NavigationResult Valid(TerminationRequest termination,
                       SequencingRequest sequencing,
                       std::size_t target = kNone) {
  NavigationResult result;
  result.valid = true;
  result.termination = termination;
  result.sequencing = sequencing;
  result.target = target;
  return result;
}

TerminationResult TerminationFailed(const char* exception) {
  TerminationResult result;
  result.exception = exception;
  return result;
}

TerminationResult TerminationDone(SequencingRequest sequencing) {
  TerminationResult result;
  result.valid = true;
  result.sequencing = sequencing;
  return result;
}

void ResetObjectives(ActivityState& a) {
  for (ObjectiveState& o : a.objectives) o = ObjectiveState{};
}

void ResetProgress(ActivityState& a) {
  a.completionReported = a.successReported = false;
  a.attemptProgressStatus = false;
  a.attemptCompletionStatus = false;
  a.attemptCompletionAmountStatus = false;
  a.attemptCompletionAmount = 0.0;
}

// A new attempt on a cluster draws its children again when its timing
// says so; "once" ones keep what they drew.
void DrawChildrenForNewAttempt(Context& c, std::size_t activity) {
  const ActivityState& a = c.at(activity);
  if (a.isActive || a.activityAttemptCount == 0) return;
  SelectChildrenProcess(c, activity);
  RandomizeChildrenProcess(c, activity);
}

}  // namespace

namespace processes {

// NB.2.1
NavigationResult NavigationRequestProcess(Context& c,
                                          NavigationRequestKind kind,
                                          std::size_t target) {
  const std::size_t current = c.state.currentActivity;
  const bool defined = current != kNone;
  const auto endIfActive = [&] {
    return c.at(current).isActive ? TerminationRequest::kExit
                                  : TerminationRequest::kNotApplicable;
  };
  switch (kind) {
    case NavigationRequestKind::kStart:
      if (defined) return Invalid("NB.2.1-1");
      return Valid(TerminationRequest::kNotApplicable,
                   SequencingRequest::kStart);
    case NavigationRequestKind::kResumeAll:
      if (defined) return Invalid("NB.2.1-1");
      if (c.state.suspendedActivity == kNone) return Invalid("NB.2.1-3");
      return Valid(TerminationRequest::kNotApplicable,
                   SequencingRequest::kResumeAll);
    case NavigationRequestKind::kContinue:
      if (!defined) return Invalid("NB.2.1-2");
      if (current == kRoot || !Mode(c, c.tree.parent(current)).flow)
        return Invalid("NB.2.1-4");
      return Valid(endIfActive(), SequencingRequest::kContinue);
    case NavigationRequestKind::kPrevious: {
      if (!defined) return Invalid("NB.2.1-2");
      if (current == kRoot) return Invalid("NB.2.1-6");
      const ControlMode& mode = Mode(c, c.tree.parent(current));
      if (!mode.flow || mode.forwardOnly) return Invalid("NB.2.1-5");
      return Valid(endIfActive(), SequencingRequest::kPrevious);
    }
    case NavigationRequestKind::kForward:
    case NavigationRequestKind::kBackward:
      return Invalid("NB.2.1-7");
    case NavigationRequestKind::kChoice: {
      if (target == kNone) return Invalid("NB.2.1-11");
      if (target != kRoot && !Mode(c, c.tree.parent(target)).choice)
        return Invalid("NB.2.1-10");
      if (!defined)
        return Valid(TerminationRequest::kNotApplicable,
                     SequencingRequest::kChoice, target);
      // A running activity that forbids leaving by choice keeps the
      // learner inside it, a sibling chosen included.
      if (target != current && !c.tree.contains(current, target) &&
          c.at(current).isActive && !Mode(c, current).choiceExit)
        return Invalid("NB.2.1-8");
      // The current activity and its ancestors below the common one are
      // left; one that is running and forbids leaving by choice stops it.
      if (c.tree.parent(current) != c.tree.parent(target)) {
        const std::size_t common = c.tree.commonAncestor(current, target);
        auto path = c.tree.pathUp(current, common);
        path.pop_back();
        if (path.empty()) return Invalid("NB.2.1-9");
        for (std::size_t activity : path)
          if (c.at(activity).isActive && !Mode(c, activity).choiceExit)
            return Invalid("NB.2.1-8");
      }
      return Valid(endIfActive(), SequencingRequest::kChoice, target);
    }
    case NavigationRequestKind::kJump:
      if (target == kNone ||
          (target != kRoot && Position(c, target) == std::string::npos))
        return Invalid("NB.2.1-11");
      if (!defined) return Invalid("NB.2.1-2");
      return Valid(endIfActive(), SequencingRequest::kJump, target);
    case NavigationRequestKind::kExit:
    case NavigationRequestKind::kAbandon:
      if (!defined) return Invalid("NB.2.1-2");
      if (!c.at(current).isActive) return Invalid("NB.2.1-12");
      return Valid(kind == NavigationRequestKind::kExit
                       ? TerminationRequest::kExit
                       : TerminationRequest::kAbandon,
                   SequencingRequest::kExit);
    case NavigationRequestKind::kExitAll:
      if (!defined) return Invalid("NB.2.1-2");
      return Valid(TerminationRequest::kExitAll, SequencingRequest::kExit);
    case NavigationRequestKind::kAbandonAll:
      if (!defined) return Invalid("NB.2.1-2");
      return Valid(TerminationRequest::kAbandonAll, SequencingRequest::kExit);
    case NavigationRequestKind::kSuspendAll:
      if (!defined) return Invalid("NB.2.1-2");
      return Valid(TerminationRequest::kSuspendAll, SequencingRequest::kExit);
  }
  return Invalid("NB.2.1-13");
}

// TB.2.1
void SequencingExitActionRulesSubprocess(Context& c) {
  const std::size_t current = c.state.currentActivity;
  if (current == kNone || current == kRoot) return;
  const auto path = PathFromRoot(c, c.tree.parent(current));
  for (std::size_t activity : path) {
    if (SequencingRulesCheckProcess(c, activity,
                                    c.def(activity).exitConditionRules,
                                    {RuleAction::kExit})) {
      TerminateDescendentAttemptsProcess(c, activity);
      EndAttemptProcess(c, activity);
      c.state.currentActivity = activity;
      return;
    }
  }
}

// TB.2.2
PostConditionResult SequencingPostConditionRulesSubprocess(Context& c) {
  PostConditionResult result;
  const std::size_t current = c.state.currentActivity;
  if (c.at(current).isSuspended) return result;
  const SequencingRule* rule = SequencingRulesCheckProcess(
      c, current, c.def(current).postConditionRules,
      {RuleAction::kExitParent, RuleAction::kExitAll, RuleAction::kRetry,
       RuleAction::kRetryAll, RuleAction::kContinue, RuleAction::kPrevious});
  if (!rule) return result;
  switch (rule->action) {
    case RuleAction::kRetry:
      result.sequencing = SequencingRequest::kRetry;
      break;
    case RuleAction::kContinue:
      result.sequencing = SequencingRequest::kContinue;
      break;
    case RuleAction::kPrevious:
      result.sequencing = SequencingRequest::kPrevious;
      break;
    case RuleAction::kExitParent:
      result.termination = TerminationRequest::kExitParent;
      break;
    case RuleAction::kExitAll:
      result.termination = TerminationRequest::kExitAll;
      break;
    case RuleAction::kRetryAll:
      result.termination = TerminationRequest::kExitAll;
      result.sequencing = SequencingRequest::kRetry;
      break;
    default:
      break;
  }
  return result;
}

// TB.2.3
TerminationResult TerminationRequestProcess(Context& c,
                                            TerminationRequest request) {
  std::size_t& current = c.state.currentActivity;
  if (current == kNone) return TerminationFailed("TB.2.3-1");
  if ((request == TerminationRequest::kExit ||
       request == TerminationRequest::kAbandon) &&
      !c.at(current).isActive)
    return TerminationFailed("TB.2.3-2");
  // A "retry all" post-condition ends everything and then retries the root.
  SequencingRequest afterExitAll = SequencingRequest::kExit;
  if (request == TerminationRequest::kExit) {
    EndAttemptProcess(c, current);
    SequencingExitActionRulesSubprocess(c);
    PostConditionResult post;
    for (;;) {
      post = SequencingPostConditionRulesSubprocess(c);
      if (post.termination == TerminationRequest::kExitAll) {
        if (post.sequencing == SequencingRequest::kRetry)
          afterExitAll = SequencingRequest::kRetry;
        request = TerminationRequest::kExitAll;
        break;
      }
      if (post.termination == TerminationRequest::kExitParent) {
        if (current == kRoot) return TerminationFailed("TB.2.3-4");
        current = c.tree.parent(current);
        EndAttemptProcess(c, current);
        continue;
      }
      if (current == kRoot && post.sequencing != SequencingRequest::kRetry)
        return TerminationDone(SequencingRequest::kExit);
      return TerminationDone(post.sequencing);
    }
  }
  switch (request) {
    case TerminationRequest::kExitAll:
      if (c.at(current).isActive) EndAttemptProcess(c, current);
      // Exiting all ends the course's attempt: a SCO that asked to be
      // suspended has nothing to resume into; the next start is afresh.
      for (ActivityState& a : c.state.activities) a.isSuspended = false;
      c.state.suspendedActivity = kNone;
      TerminateDescendentAttemptsProcess(c, kRoot);
      EndAttemptProcess(c, kRoot);
      current = kRoot;
      return TerminationDone(afterExitAll);
    case TerminationRequest::kSuspendAll: {
      std::size_t& suspended = c.state.suspendedActivity;
      if (c.at(current).isActive || c.at(current).isSuspended) {
        OverallRollupProcess(c, current);
        suspended = current;
      } else if (current != kRoot) {
        suspended = c.tree.parent(current);
      } else {
        return TerminationFailed("TB.2.3-3");
      }
      const auto path = c.tree.pathUp(suspended, kRoot);
      if (path.empty()) return TerminationFailed("TB.2.3-5");
      for (std::size_t activity : path) {
        c.at(activity).isActive = false;
        c.at(activity).isSuspended = true;
      }
      current = kRoot;
      return TerminationDone(SequencingRequest::kExit);
    }
    case TerminationRequest::kAbandon:
      c.at(current).isActive = false;
      return TerminationDone(SequencingRequest::kNotApplicable);
    case TerminationRequest::kAbandonAll: {
      const auto path = c.tree.pathUp(current, kRoot);
      if (path.empty()) return TerminationFailed("TB.2.3-6");
      for (std::size_t activity : path) c.at(activity).isActive = false;
      current = kRoot;
      return TerminationDone(SequencingRequest::kExit);
    }
    default:
      return TerminationFailed("TB.2.3-7");
  }
}

// UP.3: ends the attempts between the current activity and the common
// ancestor with `activity`, neither included (the current one has been
// ended by its termination).
void TerminateDescendentAttemptsProcess(Context& c, std::size_t activity) {
  const std::size_t current = c.state.currentActivity;
  if (current == kNone) return;
  const std::size_t common = c.tree.commonAncestor(current, activity);
  auto path = c.tree.pathUp(current, common);
  if (path.size() < 2) return;
  for (std::size_t i = 1; i + 1 < path.size(); ++i)
    EndAttemptProcess(c, path[i]);
}

// SB.2.12
SequencingResult SequencingRequestProcess(Context& c, SequencingRequest request,
                                          std::size_t target) {
  switch (request) {
    case SequencingRequest::kStart:
      return StartSequencingRequestProcess(c);
    case SequencingRequest::kResumeAll:
      return ResumeAllSequencingRequestProcess(c);
    case SequencingRequest::kExit:
      return ExitSequencingRequestProcess(c);
    case SequencingRequest::kRetry:
      return RetrySequencingRequestProcess(c);
    case SequencingRequest::kContinue:
      return ContinueSequencingRequestProcess(c);
    case SequencingRequest::kPrevious:
      return PreviousSequencingRequestProcess(c);
    case SequencingRequest::kChoice:
      return ChoiceSequencingRequestProcess(c, target);
    case SequencingRequest::kJump:
      return JumpSequencingRequestProcess(c, target);
    default:
      return Failed("SB.2.12-1");
  }
}

// SB.2.5
SequencingResult StartSequencingRequestProcess(Context& c) {
  if (c.state.currentActivity != kNone) return Failed("SB.2.5-1");
  if (c.tree.isLeaf(kRoot)) return Deliver(kRoot);
  const FlowResult flow = FlowSubprocess(c, kRoot, Direction::kForward, true);
  if (!flow.deliverable) return Failed(flow.exception, flow.endSession);
  return Deliver(flow.activity);
}

// SB.2.6
SequencingResult ResumeAllSequencingRequestProcess(Context& c) {
  if (c.state.currentActivity != kNone) return Failed("SB.2.6-1");
  if (c.state.suspendedActivity == kNone) return Failed("SB.2.6-2");
  return Deliver(c.state.suspendedActivity);
}

// SB.2.7
SequencingResult ContinueSequencingRequestProcess(Context& c) {
  const std::size_t current = c.state.currentActivity;
  if (current == kNone) return Failed("SB.2.7-1");
  if (current != kRoot && !Mode(c, c.tree.parent(current)).flow)
    return Failed("SB.2.7-2");
  const FlowResult flow =
      FlowSubprocess(c, current, Direction::kForward, false);
  if (!flow.deliverable) return Failed(flow.exception, flow.endSession);
  return Deliver(flow.activity);
}

// SB.2.8
SequencingResult PreviousSequencingRequestProcess(Context& c) {
  const std::size_t current = c.state.currentActivity;
  if (current == kNone) return Failed("SB.2.8-1");
  if (current != kRoot && !Mode(c, c.tree.parent(current)).flow)
    return Failed("SB.2.8-2");
  const FlowResult flow =
      FlowSubprocess(c, current, Direction::kBackward, false);
  if (!flow.deliverable) return Failed(flow.exception, flow.endSession);
  return Deliver(flow.activity);
}

// SB.2.9
SequencingResult ChoiceSequencingRequestProcess(Context& c,
                                                std::size_t target) {
  if (target == kNone) return Failed("SB.2.9-1");
  const auto fromRoot = PathFromRoot(c, target);
  for (std::size_t activity : fromRoot) {
    if (activity != kRoot && Position(c, activity) == std::string::npos)
      return Failed("SB.2.9-2");
    if (SequencingRulesCheckProcess(c, activity,
                                    c.def(activity).preConditionRules,
                                    {RuleAction::kHiddenFromChoice}))
      return Failed("SB.2.9-3");
  }
  if (target != kRoot && !Mode(c, c.tree.parent(target)).choice)
    return Failed("SB.2.9-4");

  const std::size_t current = c.state.currentActivity;
  const std::size_t common =
      current == kNone ? kRoot : c.tree.commonAncestor(current, target);
  // Whether the activity may be started by choice from where the learner
  // is. Preventing activation keeps the learner out of a cluster's
  // children; the cluster itself may be chosen and entered from its start.
  auto activation = [&](std::size_t activity) {
    return c.at(activity).isActive || activity == common ||
           !c.def(activity).constrainedChoice.preventActivation;
  };
  // The walk to the target, each step checked as the traversal would; the
  // target itself is where the walk stops, so its own forward-traversal
  // rule does not stop it.
  auto walkDown = [&](std::size_t from, bool forward) -> std::string {
    auto path = c.tree.pathUp(target, from);
    std::reverse(path.begin(), path.end());
    if (path.empty()) return "SB.2.9-5";
    for (std::size_t activity : path) {
      if (forward && activity != target && activity != common) {
        const CheckResult step =
            ChoiceActivityTraversalSubprocess(c, activity, Direction::kForward);
        if (!step.ok) return step.exception;
      }
      if (activity != target && !activation(activity)) return "SB.2.9-6";
    }
    return "";
  };
  // Leaving the activities from the current one up to `to` (excluded).
  auto leave = [&](std::size_t to) -> std::string {
    auto path = c.tree.pathUp(current, to);
    if (path.size() < 2) return "SB.2.9-5";
    path.pop_back();
    for (std::size_t activity : path)
      if (c.at(activity).isActive && !Mode(c, activity).choiceExit)
        return "SB.2.9-7";
    return "";
  };

  if (current != kNone && current == target) {
    // The current activity again: nothing to walk.
  } else if (current != kNone &&
             c.tree.parent(current) == c.tree.parent(target)) {
    const auto& siblings = c.at(c.tree.parent(target)).availableChildren;
    std::size_t from = Position(c, current), to = Position(c, target);
    if (from == std::string::npos || to == std::string::npos)
      return Failed("SB.2.9-5");
    if (from < to) {
      // The first sibling from the current one that stops a forward walk;
      // a menu asking of every sibling looks for it once.
      const std::size_t parent = c.tree.parent(target);
      std::size_t stop = siblings.size();
      std::string why;
      const auto scan = [&](std::size_t end) {
        for (std::size_t i = from; i < end; ++i) {
          const CheckResult step = ChoiceActivityTraversalSubprocess(
              c, siblings[i], Direction::kForward);
          if (!step.ok) {
            stop = i;
            why = step.exception;
            return;
          }
        }
      };
      if (c.memo) {
        ChoiceMemo& memo = *c.memo;
        if (!memo.known || memo.parent != parent || memo.from != from) {
          scan(siblings.size());
          memo.known = true;
          memo.parent = parent;
          memo.from = from;
          memo.stop = stop;
          memo.exception = why;
        }
        stop = memo.stop;
        why = memo.exception;
      } else {
        scan(to);
      }
      if (stop < to) return Failed(why);
    } else if (from > to) {
      // Backward, every step asks the same of the same parent.
      const CheckResult step = ChoiceActivityTraversalSubprocess(
          c, siblings[from], Direction::kBackward);
      if (!step.ok) return Failed(step.exception);
    }
  } else if (current == kNone || current == common) {
    if (auto failed = walkDown(common, true); !failed.empty())
      return Failed(failed);
  } else if (target == common) {
    if (auto failed = leave(target); !failed.empty()) return Failed(failed);
  } else {
    if (auto failed = leave(common); !failed.empty()) return Failed(failed);
    // The lowest left activity constraining choice allows only its
    // neighbours in the flow.
    std::size_t constrained = kNone;
    auto path = c.tree.pathUp(current, common);
    path.pop_back();
    // Only a cluster constrains choice among its children; a leaf's setting
    // (from a shared collection) means nothing.
    for (std::size_t activity : path)
      if (!c.tree.isLeaf(activity) &&
          c.def(activity).constrainedChoice.constrainChoice) {
        constrained = activity;
        break;
      }
    if (constrained != kNone) {
      const Direction traverse = Before(c, constrained, target)
                                     ? Direction::kForward
                                     : Direction::kBackward;
      const std::size_t consider =
          ChoiceFlowSubprocess(c, constrained, traverse);
      if (!c.tree.contains(consider, target) && target != constrained)
        return Failed("SB.2.9-8");
    }
    const bool forward = Before(c, current, target);
    if (auto failed = walkDown(common, forward); !failed.empty())
      return Failed(failed);
  }

  if (c.tree.isLeaf(target)) return Deliver(target);
  const FlowResult flow = FlowSubprocess(c, target, Direction::kForward, true);
  if (!flow.deliverable) {
    TerminateDescendentAttemptsProcess(c, common);
    EndAttemptProcess(c, common);
    c.state.currentActivity = target;
    return Failed("SB.2.9-9");
  }
  return Deliver(flow.activity);
}

// SB.2.13
SequencingResult JumpSequencingRequestProcess(Context& c, std::size_t target) {
  if (c.state.currentActivity == kNone) return Failed("SB.2.13-1");
  return Deliver(target);
}

// SB.2.11
SequencingResult ExitSequencingRequestProcess(Context& c) {
  const std::size_t current = c.state.currentActivity;
  if (current == kNone) return Failed("SB.2.11-1");
  if (c.at(current).isActive) return Failed("SB.2.11-2");
  SequencingResult result;
  result.endSession = current == kRoot;
  return result;
}

// SB.2.10
SequencingResult RetrySequencingRequestProcess(Context& c) {
  const std::size_t current = c.state.currentActivity;
  if (current == kNone) return Failed("SB.2.10-1");
  if (c.at(current).isActive || c.at(current).isSuspended)
    return Failed("SB.2.10-2");
  // The course's own objectives start over with the course; a relaunch
  // after exiting keeps them, as the learner's record in this package.
  if (current == kRoot && c.tree.objectivesPerAttempt())
    c.state.globalObjectives.clear();
  if (c.tree.isLeaf(current)) return Deliver(current);
  const FlowResult flow = FlowSubprocess(c, current, Direction::kForward, true);
  if (!flow.deliverable) return Failed("SB.2.10-3");
  return Deliver(flow.activity);
}

// SB.2.3
FlowResult FlowSubprocess(Context& c, std::size_t activity, Direction direction,
                          bool considerChildren) {
  const TraversalResult next = FlowTreeTraversalSubprocess(
      c, activity, direction, considerChildren, Direction::kNotApplicable);
  if (next.activity == kNone)
    return {false, activity, next.endSession, next.exception};
  return FlowActivityTraversalSubprocess(c, next.activity, direction,
                                         Direction::kNotApplicable);
}

// SB.2.1
TraversalResult FlowTreeTraversalSubprocess(Context& c, std::size_t activity,
                                            Direction direction,
                                            bool considerChildren,
                                            Direction previousDirection) {
  bool reversed = false;
  // Entered backwards into a forward-only cluster and walked to its end:
  // turn back to leave it at its start.
  if (previousDirection == Direction::kBackward && activity != kRoot &&
      IsLastChild(c, activity) &&
      !c.at(c.tree.parent(activity)).availableChildren.empty()) {
    direction = Direction::kBackward;
    activity = c.at(c.tree.parent(activity)).availableChildren.front();
    reversed = true;
  }
  if (direction == Direction::kForward) {
    if (IsLastInPreorder(c, activity) ||
        (activity == kRoot && !considerChildren)) {
      TerminateDescendentAttemptsProcess(c, kRoot);
      return {kNone, Direction::kNotApplicable, true, ""};
    }
    if (c.tree.isLeaf(activity) || !considerChildren) {
      if (IsLastChild(c, activity))
        return FlowTreeTraversalSubprocess(c, c.tree.parent(activity),
                                           Direction::kForward, false,
                                           Direction::kNotApplicable);
      return {Sibling(c, activity, 1), Direction::kForward, false, ""};
    }
    DrawChildrenForNewAttempt(c, activity);
    const auto& children = c.at(activity).availableChildren;
    if (children.empty())
      return {kNone, Direction::kNotApplicable, false, "SB.2.1-2"};
    return {children.front(), Direction::kForward, false, ""};
  }
  if (activity == kRoot)
    return {kNone, Direction::kNotApplicable, false, "SB.2.1-3"};
  if (c.tree.isLeaf(activity) || !considerChildren) {
    if (!reversed && Mode(c, c.tree.parent(activity)).forwardOnly)
      return {kNone, Direction::kNotApplicable, false, "SB.2.1-4"};
    if (IsFirstChild(c, activity))
      return FlowTreeTraversalSubprocess(c, c.tree.parent(activity),
                                         Direction::kBackward, false,
                                         Direction::kNotApplicable);
    return {Sibling(c, activity, -1), Direction::kBackward, false, ""};
  }
  DrawChildrenForNewAttempt(c, activity);
  const auto& children = c.at(activity).availableChildren;
  if (children.empty())
    return {kNone, Direction::kNotApplicable, false, "SB.2.1-2"};
  if (Mode(c, activity).forwardOnly)
    return {children.front(), Direction::kForward, false, ""};
  return {children.back(), Direction::kBackward, false, ""};
}

// SB.2.2
FlowResult FlowActivityTraversalSubprocess(Context& c, std::size_t activity,
                                           Direction direction,
                                           Direction previousDirection) {
  const std::size_t parent = c.tree.parent(activity);
  if (parent != kNone && !Mode(c, parent).flow)
    return {false, activity, false, "SB.2.2-1"};
  if (SequencingRulesCheckProcess(c, activity,
                                  c.def(activity).preConditionRules,
                                  {RuleAction::kSkip})) {
    const TraversalResult next = FlowTreeTraversalSubprocess(
        c, activity, direction, false, previousDirection);
    if (next.activity == kNone)
      return {false, activity, next.endSession, next.exception};
    if (previousDirection == Direction::kBackward &&
        next.direction == Direction::kBackward)
      return FlowActivityTraversalSubprocess(
          c, next.activity, Direction::kBackward, Direction::kNotApplicable);
    return FlowActivityTraversalSubprocess(c, next.activity, direction,
                                           previousDirection);
  }
  if (CheckActivityProcess(c, activity))
    return {false, activity, false, "SB.2.2-2"};
  if (!c.tree.isLeaf(activity)) {
    const TraversalResult next = FlowTreeTraversalSubprocess(
        c, activity, direction, true, Direction::kNotApplicable);
    if (next.activity == kNone)
      return {false, activity, next.endSession, next.exception};
    if (direction == Direction::kBackward &&
        next.direction == Direction::kForward)
      return FlowActivityTraversalSubprocess(
          c, next.activity, Direction::kForward, Direction::kBackward);
    return FlowActivityTraversalSubprocess(c, next.activity, direction,
                                           Direction::kNotApplicable);
  }
  return {true, activity, false, ""};
}

// SB.2.4
CheckResult ChoiceActivityTraversalSubprocess(Context& c, std::size_t activity,
                                              Direction direction) {
  if (direction == Direction::kForward) {
    if (SequencingRulesCheckProcess(c, activity,
                                    c.def(activity).preConditionRules,
                                    {RuleAction::kStopForwardTraversal}))
      return {false, "SB.2.4-1"};
    return {true, ""};
  }
  const std::size_t parent = c.tree.parent(activity);
  if (parent == kNone) return {false, "SB.2.4-3"};
  if (Mode(c, parent).forwardOnly) return {false, "SB.2.4-2"};
  return {true, ""};
}

// SB.2.9.1
std::size_t ChoiceFlowSubprocess(Context& c, std::size_t activity,
                                 Direction direction) {
  const std::size_t next =
      ChoiceFlowTreeTraversalSubprocess(c, activity, direction);
  return next == kNone ? activity : next;
}

// SB.2.9.2
std::size_t ChoiceFlowTreeTraversalSubprocess(Context& c, std::size_t activity,
                                              Direction direction) {
  if (activity == kRoot) return kNone;
  if (direction == Direction::kForward) {
    if (IsLastInPreorder(c, activity)) return kNone;
    if (IsLastChild(c, activity))
      return ChoiceFlowTreeTraversalSubprocess(c, c.tree.parent(activity),
                                               direction);
    return Sibling(c, activity, 1);
  }
  if (IsFirstChild(c, activity))
    return ChoiceFlowTreeTraversalSubprocess(c, c.tree.parent(activity),
                                             direction);
  return Sibling(c, activity, -1);
}

// DB.1.1
CheckResult DeliveryRequestProcess(Context& c, std::size_t activity) {
  if (!c.tree.isLeaf(activity)) return {false, "DB.1.1-1"};
  // Any activity on the path refuses it alike, so it is walked up from the
  // leaf, without making the path: the menu asks this of every leaf.
  for (std::size_t a = activity; a != kNone; a = c.tree.parent(a))
    if (CheckActivityProcess(c, a)) return {false, "DB.1.1-3"};
  return {true, ""};
}

// DB.2
CheckResult ContentDeliveryEnvironmentProcess(Context& c,
                                              std::size_t activity) {
  const std::size_t current = c.state.currentActivity;
  if (current != kNone && c.at(current).isActive) return {false, "DB.2-1"};
  if (activity != c.state.suspendedActivity)
    ClearSuspendedActivitySubprocess(c, activity);
  TerminateDescendentAttemptsProcess(c, activity);
  for (std::size_t i : PathFromRoot(c, activity)) {
    ActivityState& a = c.at(i);
    if (a.isActive) continue;
    if (c.def(i).delivery.tracked) {
      if (a.isSuspended) {
        a.isSuspended = false;
      } else {
        const bool again = a.activityAttemptCount > 0;
        ++a.activityAttemptCount;
        a.activityProgressStatus = true;
        // A new attempt starts from nothing; what is shared comes back
        // from the global objectives.
        ResetProgress(a);
        ResetObjectives(a);
        a.staleObjectives = a.staleProgress = false;
        if (again) {
          const ControlMode& mode = Mode(c, i);
          for (std::size_t d = i + 1;
               d < c.tree.size() && c.tree.contains(i, d); ++d) {
            if (mode.useCurrentAttemptObjectiveInfo)
              c.at(d).staleObjectives = true;
            if (mode.useCurrentAttemptProgressInfo)
              c.at(d).staleProgress = true;
          }
        }
        for (std::size_t o = 0; o < a.objectives.size(); ++o)
          a.objectives[o] = EffectiveObjective(c, i, o);
      }
    }
    a.isActive = true;
  }
  c.state.currentActivity = activity;
  c.state.suspendedActivity = kNone;
  return {true, ""};
}

// DB.2.1
void ClearSuspendedActivitySubprocess(Context& c, std::size_t activity) {
  std::size_t& suspended = c.state.suspendedActivity;
  if (suspended == kNone) return;
  const std::size_t common = c.tree.commonAncestor(activity, suspended);
  for (std::size_t i : c.tree.pathUp(suspended, common)) {
    ActivityState& a = c.at(i);
    if (c.tree.isLeaf(i)) {
      a.isSuspended = false;
    } else if (std::none_of(a.availableChildren.begin(),
                            a.availableChildren.end(), [&](std::size_t child) {
                              return c.at(child).isSuspended;
                            })) {
      a.isSuspended = false;
    }
  }
  suspended = kNone;
}

// OP.1, for one request.
SequencingOutcome OverallSequencingProcess(Context& c,
                                           const NavigationRequest& request) {
  SequencingOutcome outcome;
  auto fail = [&](const std::string& code) {
    outcome.exception = code;
    outcome.exceptionText = std::string(ExceptionText(code));
    return outcome;
  };
  std::size_t target = kNone;
  if (!request.target.empty()) target = c.tree.find(request.target);
  const NavigationResult navigation =
      NavigationRequestProcess(c, request.kind, target);
  if (!navigation.valid) return fail(navigation.exception);
  SequencingRequest sequencing = navigation.sequencing;
  if (navigation.termination != TerminationRequest::kNotApplicable) {
    const TerminationResult termination =
        TerminationRequestProcess(c, navigation.termination);
    if (!termination.valid) return fail(termination.exception);
    if (termination.sequencing != SequencingRequest::kNotApplicable)
      sequencing = termination.sequencing;
  }
  if (sequencing == SequencingRequest::kNotApplicable) return outcome;
  const SequencingResult result =
      SequencingRequestProcess(c, sequencing, navigation.target);
  if (result.endSession) {
    // The session is over: what still runs ends, and the next session
    // starts with no current activity (a suspended one stays to resume).
    outcome.endSession = true;
    std::size_t& current = c.state.currentActivity;
    if (current != kNone)
      for (std::size_t i : c.tree.pathUp(current, kRoot))
        if (c.at(i).isActive) EndAttemptProcess(c, i);
    current = kNone;
  }
  if (!result.exception.empty()) return fail(result.exception);
  if (result.delivery == kNone) return outcome;
  const CheckResult delivery = DeliveryRequestProcess(c, result.delivery);
  if (!delivery.ok) return fail(delivery.exception);
  const CheckResult environment =
      ContentDeliveryEnvironmentProcess(c, result.delivery);
  if (!environment.ok) return fail(environment.exception);
  outcome.delivered = c.tree.at(result.delivery).identifier;
  return outcome;
}

}  // namespace processes

SequencingState InitialState(const ActivityTree& tree,
                             const RandomSource& random) {
  SequencingState state = *ParseState(tree, "zs1\n");
  Context c{tree, state, random};
  for (std::size_t i = 0; i < tree.size(); ++i) {
    SelectChildrenProcess(c, i);
    RandomizeChildrenProcess(c, i);
  }
  return state;
}

SequencingOutcome Sequence(const ActivityTree& tree, SequencingState& state,
                           const NavigationRequest& request,
                           const RandomSource& random) {
  Context c{tree, state, random};
  return OverallSequencingProcess(c, request);
}

std::pair<SequencingState, SequencingOutcome> Sequenced(
    const ActivityTree& tree, SequencingState state,
    const NavigationRequest& request, const RandomSource& random) {
  SequencingOutcome outcome = Sequence(tree, state, request, random);
  return {std::move(state), std::move(outcome)};
}

bool NavigationRequestAllowed(const ActivityTree& tree,
                              const SequencingState& state,
                              const NavigationRequest& request) {
  // The navigation request process only reads the state: no copy.
  RandomSource draws = SeededRandom(0);
  Context c{tree, const_cast<SequencingState&>(state), draws};
  const std::size_t target =
      request.target.empty() ? kNone : tree.find(request.target);
  return NavigationRequestProcess(c, request.kind, target).valid;
}

namespace {

// NavigationRequestValid with its target found in the tree (kNone for none).
bool RequestValid(const ActivityTree& tree, const SequencingState& state,
                  NavigationRequestKind kind, std::size_t target,
                  const RandomSource& random, std::string* why,
                  ChoiceMemo* memo) {
  const auto refused = [why](const std::string& code) {
    if (why) *why = code;
    return false;
  };
  // The menu asks this of every activity, so what only reads the state is
  // asked of the state itself: the navigation request and, for a leaf, the
  // choice walk and the delivery checks. A cluster's flow, or any other
  // request's, may draw children or end attempts: that takes the copies.
  Context same{tree, const_cast<SequencingState&>(state), random, memo};
  const NavigationResult navigation =
      NavigationRequestProcess(same, kind, target);
  if (!navigation.valid) return refused(navigation.exception);
  switch (kind) {
    case NavigationRequestKind::kContinue:
    case NavigationRequestKind::kPrevious:
    case NavigationRequestKind::kChoice:
    case NavigationRequestKind::kJump:
      break;
    default:
      return true;
  }
  if (kind == NavigationRequestKind::kChoice && tree.isLeaf(target)) {
    const SequencingResult result =
        ChoiceSequencingRequestProcess(same, navigation.target);
    if (result.delivery == kNone) return refused(result.exception);
    const CheckResult delivery = DeliveryRequestProcess(same, result.delivery);
    return delivery.ok || refused(delivery.exception);
  }
  // On copies: asking must change neither the state nor the draws to come.
  SequencingState own;
  SequencingState& copy = memo ? memo->copy : own;
  copy = state;
  RandomSource draws = random;
  Context c{tree, copy, draws};
  const SequencingResult result =
      SequencingRequestProcess(c, navigation.sequencing, navigation.target);
  // Continuing past the last activity ends the course: that is honoured
  // too, where going back before the first is refused.
  if (result.endSession && result.exception.empty() &&
      kind == NavigationRequestKind::kContinue)
    return true;
  if (result.delivery == kNone) return refused(result.exception);
  const CheckResult delivery = DeliveryRequestProcess(c, result.delivery);
  return delivery.ok || refused(delivery.exception);
}

}  // namespace

bool NavigationRequestValid(const ActivityTree& tree,
                            const SequencingState& state,
                            const NavigationRequest& request,
                            const RandomSource& random, std::string* why,
                            ChoiceMemo* memo) {
  const std::size_t target =
      request.target.empty() ? kNone : tree.find(request.target);
  return RequestValid(tree, state, request.kind, target, random, why, memo);
}

bool ChoiceRequestValid(const ActivityTree& tree, const SequencingState& state,
                        std::size_t target, const RandomSource& random,
                        std::string* why, ChoiceMemo* memo) {
  return RequestValid(tree, state, NavigationRequestKind::kChoice, target,
                      random, why, memo);
}

namespace {

// byMeasure: the objective is satisfied by its measure alone; what the
// content says of its success does not count.
void ApplyObjective(const ObjectiveReport& report, ObjectiveState& o,
                    bool byMeasure) {
  if (report.clearSuccess && !byMeasure)
    o.progressStatus = o.satisfiedStatus = false;
  if (report.passed && !byMeasure) {
    o.progressStatus = true;
    o.satisfiedStatus = *report.passed;
  }
  if (report.scaledScore) {
    o.measureStatus = true;
    o.normalizedMeasure = *report.scaledScore;
  }
  if (report.rawScore) o.rawScore = report.rawScore;
  if (report.minScore) o.minScore = report.minScore;
  if (report.maxScore) o.maxScore = report.maxScore;
  if (report.clearCompletion) o.completionStatus.reset();
  if (report.completed) o.completionStatus = report.completed;
  if (report.progressMeasure) o.progressMeasure = report.progressMeasure;
}

}  // namespace

void ReportAttempt(const ActivityTree& tree, SequencingState& state,
                   std::size_t activity, const AttemptReport& report) {
  if (activity >= tree.size() || !tree.sequencing(activity).delivery.tracked)
    return;
  RandomSource none = SeededRandom(0);
  Context c{tree, state, none};
  ActivityState& a = c.at(activity);
  const auto& defined = tree.sequencing(activity).objectives;
  // The primary objective's entry in cmi.objectives speaks for the attempt
  // too where cmi.completion_status and progress_measure are silent.
  AttemptReport r = report;
  if (!defined.empty() && !defined[0].id.empty()) {
    for (const ObjectiveReport& objective : report.objectives) {
      if (objective.id != defined[0].id) continue;
      if (!r.completed && !r.clearCompletion) r.completed = objective.completed;
      if (!r.progressMeasure) r.progressMeasure = objective.progressMeasure;
    }
  }
  a.completionReported =
      a.completionReported || r.completed || r.clearCompletion;
  a.successReported =
      a.successReported || r.primary.passed || r.primary.clearSuccess;
  if (r.clearCompletion)
    a.attemptProgressStatus = a.attemptCompletionStatus = false;
  if (r.completed) {
    a.attemptProgressStatus = true;
    a.attemptCompletionStatus = *r.completed;
  }
  if (r.progressMeasure) {
    a.attemptCompletionAmountStatus = true;
    a.attemptCompletionAmount = *r.progressMeasure;
  }
  // The primary objective's entry in cmi.objectives first: what cmi.*
  // itself says of success and score is the last word.
  bool primaryPassed = false;
  for (const ObjectiveReport& objective : r.objectives) {
    for (std::size_t i = 0; i < defined.size() && i < a.objectives.size(); ++i)
      if (!objective.id.empty() && defined[i].id == objective.id) {
        ApplyObjective(objective, a.objectives[i],
                       defined[i].satisfiedByMeasure);
        // No rollup judges an objective other than the primary by its
        // measure: it is judged here.
        if (i > 0 && defined[i].satisfiedByMeasure) {
          ObjectiveState& o = a.objectives[i];
          o.progressStatus = o.measureStatus;
          o.satisfiedStatus =
              o.measureStatus &&
              AtLeast(o.normalizedMeasure, defined[i].minNormalizedMeasure);
        }
        // Success the content makes unknown is unknown where it is written.
        if (objective.clearSuccess && !objective.passed &&
            !defined[i].satisfiedByMeasure)
          for (const ObjectiveMap& map : defined[i].maps)
            if (map.writeSatisfiedStatus)
              c.state.globalObjectives[map.targetObjectiveId].progressStatus =
                  false;
        // So is completion.
        if (objective.clearCompletion && !objective.completed)
          for (const ObjectiveMap& map : defined[i].maps)
            if (map.writeCompletionStatus)
              c.state.globalObjectives[map.targetObjectiveId]
                  .completionStatus.reset();
        if (i == 0 && (objective.passed || objective.clearSuccess))
          a.successReported = true;
        if (i == 0 && objective.passed) primaryPassed = true;
      }
  }
  ObjectiveReport primary = r.primary;
  if (primaryPassed) primary.clearSuccess = false;
  ApplyObjective(primary, a.objectives[0],
                 !defined.empty() && defined[0].satisfiedByMeasure);
  WriteObjectiveMaps(c, activity);
}

std::string_view ExceptionText(std::string_view code) {
  struct Row {
    std::string_view code;
    std::string_view text;
  };
  // One row per code, in the learner's words (translated where shown).
  static constexpr Row kRows[] = {
      {"NB.2.1-1", N_("The course is already under way.")},
      {"NB.2.1-2", N_("The course has not been started yet.")},
      {"NB.2.1-3", N_("There is no suspended course to resume.")},
      {"NB.2.1-4",
       N_("Moving on is not allowed here: choose an activity instead.")},
      {"NB.2.1-5", N_("Going back is not allowed here.")},
      {"NB.2.1-6", N_("There is nothing before the start of the course.")},
      {"NB.2.1-7", N_("This navigation is not supported.")},
      {"NB.2.1-8",
       N_("The current activity must be finished before choosing another one.")},
      {"NB.2.1-9", N_("There is nothing to choose there.")},
      {"NB.2.1-10", N_("Activities here cannot be chosen directly.")},
      {"NB.2.1-11", N_("The chosen activity does not exist in this course.")},
      {"NB.2.1-12", N_("The current activity has already ended.")},
      {"NB.2.1-13", N_("This navigation request is unknown.")},
      {"TB.2.3-1", N_("The course has not been started yet.")},
      {"TB.2.3-2", N_("The current activity has already ended.")},
      {"TB.2.3-3", N_("There is nothing to suspend.")},
      {"TB.2.3-4", N_("The course cannot be left from here by an exit rule.")},
      {"TB.2.3-5", N_("There is nothing to suspend.")},
      {"TB.2.3-6", N_("There is nothing to abandon.")},
      {"TB.2.3-7", N_("This way of ending an activity is unknown.")},
      {"SB.2.1-1", N_("This is the end of the course.")},
      {"SB.2.1-2", N_("This part of the course has no activities to take.")},
      {"SB.2.1-3", N_("There is nothing before the start of the course.")},
      {"SB.2.1-4", N_("This part of the course can only be taken forward.")},
      {"SB.2.2-1",
       N_("Activities here must be chosen, not moved through in order.")},
      {"SB.2.2-2",
       N_("The next activity is not available (disabled or no attempts left).")},
      {"SB.2.4-1", N_("Activities further on cannot be reached yet.")},
      {"SB.2.4-2", N_("This part of the course can only be taken forward.")},
      {"SB.2.4-3", N_("There is nothing before the start of the course.")},
      {"SB.2.5-1", N_("The course is already under way.")},
      {"SB.2.6-1", N_("The course is already under way.")},
      {"SB.2.6-2", N_("There is no suspended course to resume.")},
      {"SB.2.7-1", N_("The course has not been started yet.")},
      {"SB.2.7-2",
       N_("Moving on is not allowed here: choose an activity instead.")},
      {"SB.2.8-1", N_("The course has not been started yet.")},
      {"SB.2.8-2", N_("Going back is not allowed here.")},
      {"SB.2.9-1", N_("The chosen activity does not exist in this course.")},
      {"SB.2.9-2", N_("The chosen activity is not part of this attempt.")},
      {"SB.2.9-3", N_("The chosen activity is hidden.")},
      {"SB.2.9-4", N_("Activities here cannot be chosen directly.")},
      {"SB.2.9-5", N_("There is nothing to choose there.")},
      {"SB.2.9-6", N_("That part of the course must be entered from its start.")},
      {"SB.2.9-7", N_("The current part of the course must be finished first.")},
      {"SB.2.9-8",
       N_("Only the activities next to the current part can be chosen now.")},
      {"SB.2.9-9", N_("The chosen part of the course has nothing to take now.")},
      {"SB.2.10-1", N_("The course has not been started yet.")},
      {"SB.2.10-2", N_("The activity is still running or suspended.")},
      {"SB.2.10-3", N_("The activity has nothing to take again.")},
      {"SB.2.11-1", N_("The course has not been started yet.")},
      {"SB.2.11-2", N_("The current activity is still running.")},
      {"SB.2.12-1", N_("This sequencing request is unknown.")},
      {"SB.2.13-1", N_("The course has not been started yet.")},
      {"DB.1.1-1", N_("Only a single activity can be launched, not a group.")},
      {"DB.1.1-2", N_("There is nothing to launch.")},
      {"DB.1.1-3",
       N_("The activity is not available (disabled or no attempts left).")},
      {"DB.2-1", N_("The current activity is still running.")},
  };
  for (const Row& row : kRows)
    if (row.code == code) return row.text;
  return {};
}

}  // namespace zept::scorm2004
