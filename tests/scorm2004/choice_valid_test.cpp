// Whether a request would go through, as the menu asks it of every
// activity: answered without copying the state where that only reads it,
// it must answer as the processes on a copy do, and leave the state as it
// was.

#include <gtest/gtest.h>

#include <functional>

#include "scorm2004/sequencing.h"
#include "scorm2004/sequencing_processes.h"

namespace zept::scorm2004 {
namespace {

// The old way: every process on a copy of the state and of the draws.
bool ValidOnCopy(const ActivityTree& tree, const SequencingState& state,
                 NavigationRequestKind kind, std::size_t target,
                 const RandomSource& random) {
  SequencingState copy = state;
  RandomSource draws = random;
  processes::Context c{tree, copy, draws};
  const processes::NavigationResult navigation =
      processes::NavigationRequestProcess(c, kind, target);
  if (!navigation.valid) return false;
  if (kind != NavigationRequestKind::kContinue &&
      kind != NavigationRequestKind::kPrevious &&
      kind != NavigationRequestKind::kChoice &&
      kind != NavigationRequestKind::kJump)
    return true;
  const processes::SequencingResult result =
      processes::SequencingRequestProcess(c, navigation.sequencing,
                                          navigation.target);
  return result.delivery != processes::kNone &&
         processes::DeliveryRequestProcess(c, result.delivery).ok;
}

SequencingRule Rule(RuleAction action, RuleConditionKind condition) {
  SequencingRule rule;
  rule.action = action;
  rule.conditions = {{condition, false, "", 0.0}};
  return rule;
}

// ORG with clusters a, b, c of three leaves each (a1..c3), flow and choice
// everywhere; each case changes some activities.
Activity Tree(const std::function<void(Activity& root)>& change) {
  Activity root;
  root.identifier = "ORG";
  root.sequencing.controlMode.flow = true;
  for (const char* cluster : {"a", "b", "c"}) {
    Activity parent;
    parent.identifier = cluster;
    parent.sequencing.controlMode.flow = true;
    for (const char* n : {"1", "2", "3"}) {
      Activity leaf;
      leaf.identifier = std::string(cluster) + n;
      leaf.isSco = true;
      parent.children.push_back(leaf);
    }
    root.children.push_back(parent);
  }
  change(root);
  return root;
}

Activity* Find(Activity& activity, const std::string& id) {
  if (activity.identifier == id) return &activity;
  for (Activity& child : activity.children)
    if (Activity* found = Find(child, id)) return found;
  return nullptr;
}
Activity& At(Activity& root, const std::string& id) { return *Find(root, id); }

TEST(ChoiceValidTest, AnswersAsTheProcessesOnACopyAndChangesNothing) {
  using K = NavigationRequestKind;
  const struct {
    const char* name;
    std::function<void(Activity&)> change;
  } kCases[] = {
      {"flow and choice everywhere", [](Activity&) {}},
      {"forward only in b",
       [](Activity& r) {
         At(r, "b").sequencing.controlMode.forwardOnly = true;
       }},
      {"no choice in b",
       [](Activity& r) { At(r, "b").sequencing.controlMode.choice = false; }},
      {"a may not be left by choice",
       [](Activity& r) {
         At(r, "a").sequencing.controlMode.choiceExit = false;
       }},
      {"a2 hidden, b stops forward traversal once attempted",
       [](Activity& r) {
         At(r, "a2").sequencing.preConditionRules = {
             Rule(RuleAction::kHiddenFromChoice, RuleConditionKind::kAlways)};
         At(r, "b").sequencing.preConditionRules = {Rule(
             RuleAction::kStopForwardTraversal, RuleConditionKind::kAttempted)};
       }},
      {"a constrains choice, c prevents activation",
       [](Activity& r) {
         At(r, "a").sequencing.constrainedChoice.constrainChoice = true;
         At(r, "c").sequencing.constrainedChoice.preventActivation = true;
       }},
      {"b1 disabled once completed, c1 one attempt only",
       [](Activity& r) {
         At(r, "b1").sequencing.preConditionRules = {
             Rule(RuleAction::kDisabled, RuleConditionKind::kCompleted)};
         At(r, "c1").sequencing.limitConditions.attemptLimit = 1;
       }},
      {"skipped leaves and a cluster drawn anew each attempt",
       [](Activity& r) {
         At(r, "a3").sequencing.preConditionRules = {
             Rule(RuleAction::kSkip, RuleConditionKind::kAlways)};
         At(r, "c3").sequencing.preConditionRules = {
             Rule(RuleAction::kSkip, RuleConditionKind::kAlways)};
         Randomization& draw = At(r, "b").sequencing.randomization;
         draw.selectionTiming = RandomizationTiming::kOnEachNewAttempt;
         draw.selectCount = 2;
         draw.randomizationTiming = RandomizationTiming::kOnEachNewAttempt;
         draw.reorderChildren = true;
       }},
  };
  // The learner's way through each tree; each delivered leaf is completed
  // and passed before the next request.
  const NavigationRequest kSteps[] = {
      {K::kStart, ""},      {K::kContinue, ""},  {K::kChoice, "b2"},
      {K::kContinue, ""},   {K::kChoice, "c1"},  {K::kPrevious, ""},
      {K::kChoice, "a1"},   {K::kChoice, "b"},   {K::kContinue, ""},
      {K::kSuspendAll, ""}, {K::kResumeAll, ""}, {K::kExitAll, ""}};
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    const Activity root = Tree(row.change);
    const ActivityTree tree(root);
    const RandomSource random = SeededRandom(3);
    SequencingState state = InitialState(tree, random);
    for (std::size_t step = 0; step <= std::size(kSteps); ++step) {
      SCOPED_TRACE("after step " + std::to_string(step));
      const SequencingState before = state;
      // As the menu asks: one memo, and its copy, for every question.
      ChoiceMemo memo;
      for (std::size_t i = 0; i < tree.size(); ++i) {
        for (const K kind : {K::kChoice, K::kJump}) {
          const bool fast = NavigationRequestValid(
              tree, state, {kind, tree.at(i).identifier}, random);
          EXPECT_EQ(fast, ValidOnCopy(tree, state, kind, i, random))
              << tree.at(i).identifier;
        }
        EXPECT_EQ(ChoiceRequestValid(tree, state, i, random, nullptr, &memo),
                  ValidOnCopy(tree, state, K::kChoice, i, random))
            << tree.at(i).identifier << " with the menu's memo";
      }
      for (const K kind :
           {K::kStart, K::kResumeAll, K::kContinue, K::kPrevious, K::kExit,
            K::kExitAll, K::kSuspendAll, K::kAbandon, K::kAbandonAll}) {
        const bool valid =
            ValidOnCopy(tree, state, kind, processes::kNone, random);
        EXPECT_EQ(NavigationRequestValid(tree, state, {kind, ""}, random),
                  valid)
            << static_cast<int>(kind);
        EXPECT_EQ(NavigationRequestValid(tree, state, {kind, ""}, random,
                                         nullptr, &memo),
                  valid)
            << static_cast<int>(kind) << " with the menu's memo";
        SequencingState copy = state;
        RandomSource draws = random;
        processes::Context c{tree, copy, draws};
        EXPECT_EQ(NavigationRequestAllowed(tree, state, {kind, ""}),
                  processes::NavigationRequestProcess(c, kind, processes::kNone)
                      .valid)
            << static_cast<int>(kind);
      }
      EXPECT_TRUE(state == before);
      if (step == std::size(kSteps)) break;
      const std::size_t current = state.currentActivity;
      if (current != processes::kNone && tree.isLeaf(current)) {
        AttemptReport report;
        report.completed = true;
        report.primary.passed = true;
        ReportAttempt(tree, state, current, report);
      }
      Sequence(tree, state, kSteps[step], random);
    }
  }
}

}  // namespace
}  // namespace zept::scorm2004
