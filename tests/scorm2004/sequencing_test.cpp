#include "scorm2004/sequencing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "scorm2004/reader.h"
#include "scorm2004/sequencing_processes.h"

namespace zept::scorm2004 {
namespace {

Activity Item(std::string id) {
  Activity a;
  a.identifier = a.title = std::move(id);
  a.isSco = true;
  return a;
}

Activity Group(std::string id, std::vector<Activity> children) {
  Activity a;
  a.identifier = a.title = std::move(id);
  a.children = std::move(children);
  a.sequencing.controlMode.flow = true;
  return a;
}

SequencingRule Rule(RuleAction action, RuleConditionKind kind,
                    bool negate = false, std::string objective = "") {
  SequencingRule rule;
  rule.action = action;
  rule.conditions.push_back({kind, negate, std::move(objective), 0.0});
  return rule;
}

Objective Primary(std::string id, std::vector<ObjectiveMap> maps = {}) {
  Objective o;
  o.id = std::move(id);
  o.primary = true;
  o.maps = std::move(maps);
  return o;
}

ObjectiveMap Writes(std::string target) {
  ObjectiveMap map;
  map.targetObjectiveId = std::move(target);
  map.writeSatisfiedStatus = map.writeNormalizedMeasure = true;
  return map;
}

Activity* Find(Activity& a, const std::string& id) {
  if (a.identifier == id) return &a;
  for (Activity& child : a.children)
    if (Activity* found = Find(child, id)) return found;
  return nullptr;
}

// The one harness: a course, its state and the requests of a learner.
struct Course {
  Activity root;
  ActivityTree tree;
  RandomSource random;
  SequencingState state;
  explicit Course(Activity r, std::uint64_t seed = 1,
                  bool objectivesPerAttempt = false)
      : root(std::move(r)),
        tree(root, objectivesPerAttempt),
        random(SeededRandom(seed)),
        state(InitialState(tree, random)) {}
  Course(const Course&) = delete;  // the tree points into root

  const ActivityState& at(const std::string& id) {
    return state.activities[tree.find(id)];
  }

  // A navigation request by its name answers what was delivered, "end",
  // "-" (nothing) or "!CODE"; "pass", "fail", "score", "done" report for
  // the current activity; "valid:NAME" answers "1" or "0".
  std::string step(const std::string& op, const std::string& arg) {
    static const std::map<std::string, NavigationRequestKind> kKinds = {
        {"start", NavigationRequestKind::kStart},
        {"resumeAll", NavigationRequestKind::kResumeAll},
        {"continue", NavigationRequestKind::kContinue},
        {"previous", NavigationRequestKind::kPrevious},
        {"forward", NavigationRequestKind::kForward},
        {"choice", NavigationRequestKind::kChoice},
        {"jump", NavigationRequestKind::kJump},
        {"exit", NavigationRequestKind::kExit},
        {"exitAll", NavigationRequestKind::kExitAll},
        {"suspendAll", NavigationRequestKind::kSuspendAll},
        {"abandon", NavigationRequestKind::kAbandon},
        {"abandonAll", NavigationRequestKind::kAbandonAll}};
    AttemptReport report;
    if (op == "pass" || op == "fail") report.primary.passed = op == "pass";
    if (op == "score") report.primary.scaledScore = std::stod(arg);
    if (op == "done") report.completed = true;
    if (op == "unknown") report.clearCompletion = true;
    if (op == "passObjective" || op == "incompleteObjective" ||
        op == "measureObjective" || op == "clearObjective" ||
        op == "scoreObjective" || op == "completeObjective" ||
        op == "unknownObjective" || op == "failObjective") {
      ObjectiveReport objective;
      objective.id = arg;
      if (op == "passObjective" || op == "failObjective")
        objective.passed = op == "passObjective";
      if (op == "clearObjective") objective.clearSuccess = true;
      if (op == "scoreObjective") objective.scaledScore = 0.7;
      if (op == "incompleteObjective") objective.completed = false;
      if (op == "completeObjective") objective.completed = true;
      if (op == "unknownObjective") objective.clearCompletion = true;
      if (op == "incompleteObjective" || op == "measureObjective")
        objective.progressMeasure = 0.8;
      report.objectives.push_back(objective);
    }
    if (op == "pass" || op == "fail" || op == "score" || op == "done" ||
        op == "unknown" || op == "passObjective" ||
        op == "incompleteObjective" || op == "measureObjective" ||
        op == "clearObjective" || op == "scoreObjective" ||
        op == "completeObjective" || op == "unknownObjective" ||
        op == "failObjective") {
      ReportAttempt(tree, state, state.currentActivity, report);
      return "";
    }
    if (op.rfind("allowed:", 0) == 0)
      return NavigationRequestAllowed(tree, state,
                                      {kKinds.at(op.substr(8)), arg})
                 ? "1"
                 : "0";
    if (op.rfind("valid:", 0) == 0)
      return NavigationRequestValid(tree, state, {kKinds.at(op.substr(6)), arg},
                                    random)
                 ? "1"
                 : "0";
    const SequencingOutcome outcome =
        Sequence(tree, state, {kKinds.at(op), arg}, random);
    if (!outcome.exception.empty()) {
      EXPECT_FALSE(outcome.exceptionText.empty()) << outcome.exception;
      return "!" + outcome.exception;
    }
    if (outcome.delivered) return *outcome.delivered;
    return outcome.endSession ? "end" : "-";
  }
};

struct Step {
  const char* op;
  const char* arg;
  const char* expect;  // ignored for reports
};

struct Scenario {
  const char* name;
  std::function<Activity()> course;
  std::vector<Step> steps;
};

Activity Linear() {
  Activity root = Group("root", {Item("a"), Item("b"), Item("c")});
  root.sequencing.controlMode.choice = false;
  return root;
}

// Pretest then lesson: the lesson reads what the pretest wrote to a global
// objective and is skipped when it is satisfied.
Activity Pretest() {
  Activity pretest = Item("pretest");
  pretest.sequencing.delivery.objectiveSetByContent = true;
  pretest.sequencing.objectives = {Primary("p", {Writes("mastery")})};
  Activity lesson = Item("lesson");
  ObjectiveMap reads;
  reads.targetObjectiveId = "mastery";
  lesson.sequencing.objectives = {Primary("l", {reads})};
  lesson.sequencing.preConditionRules = {
      Rule(RuleAction::kSkip, RuleConditionKind::kSatisfied)};
  Activity module = Group("module", {std::move(pretest), std::move(lesson)});
  RollupRule any;
  any.childActivitySet = ChildActivitySet::kAny;
  any.conditions = {{RollupConditionKind::kSatisfied, false}};
  module.sequencing.rollupRules = {any};
  return Group("root", {std::move(module), Item("final")});
}

// A failed quiz sends the learner back to the lesson of its module.
Activity Remediation() {
  Activity quiz = Item("quiz");
  quiz.sequencing.delivery.objectiveSetByContent = true;
  quiz.sequencing.postConditionRules = {
      Rule(RuleAction::kExitParent, RuleConditionKind::kAlways)};
  Activity module = Group("module", {Item("lesson"), std::move(quiz)});
  module.sequencing.postConditionRules = {
      Rule(RuleAction::kRetry, RuleConditionKind::kSatisfied, true)};
  return Group("root", {std::move(module), Item("summary")});
}

Activity Limited() {
  Activity root = Group("root", {Item("a"), Item("b")});
  Find(root, "a")->sequencing.limitConditions.attemptLimit = 1;
  return root;
}

// Three modules for the choice constraints, each set on by a variant.
Activity Modules(const std::function<void(Activity&)>& variant) {
  Activity root =
      Group("root", {Group("A", {Item("a1"), Item("a2")}),
                     Group("B", {Item("b1")}), Group("C", {Item("c1")})});
  variant(root);
  return root;
}

Activity Shared(bool byMeasure) {
  Activity x = Item("x");
  ObjectiveMap writes;
  writes.targetObjectiveId = "g";
  writes.writeCompletionStatus = writes.writeProgressMeasure = true;
  x.sequencing.objectives = {Primary("px", {writes})};
  Activity y = Item("y");
  ObjectiveMap reads;
  reads.targetObjectiveId = "g";
  y.sequencing.objectives = {Primary("py", {reads})};
  y.completionThreshold.completedByMeasure = byMeasure;
  y.completionThreshold.minProgressMeasure = 0.5;
  y.sequencing.preConditionRules = {
      Rule(RuleAction::kSkip, RuleConditionKind::kCompleted, !byMeasure)};
  return Group("root", {std::move(x), std::move(y), Item("z")});
}

// x writes its objective o1 to "shared"; y, reading it as o2, is skipped
// when o2 is satisfied.
Activity SharedObjective() {
  Activity x = Item("x");
  Objective written;
  written.id = "o1";
  written.maps = {Writes("shared")};
  x.sequencing.objectives = {Primary("px"), written};
  Activity y = Item("y");
  Objective read;
  read.id = "o2";
  read.maps = {ObjectiveMap{}};
  read.maps[0].targetObjectiveId = "shared";
  y.sequencing.objectives = {Primary("py"), read};
  y.sequencing.preConditionRules = {
      Rule(RuleAction::kSkip, RuleConditionKind::kSatisfied, false, "o2")};
  return Group("root", {std::move(x), std::move(y), Item("z")});
}

// writer writes its measure to g; y, satisfied by the measure it reads
// from g, is skipped when satisfied.
Activity ByMeasure(Activity writer) {
  ObjectiveMap writes;
  writes.targetObjectiveId = "g";
  writes.writeNormalizedMeasure = true;
  writer.sequencing.objectives = {Primary("pw", {writes})};
  Activity y = Item("y");
  ObjectiveMap reads;
  reads.targetObjectiveId = "g";
  y.sequencing.objectives = {Primary("py", {reads})};
  y.sequencing.objectives[0].satisfiedByMeasure = true;
  y.sequencing.objectives[0].minNormalizedMeasure = 0.5;
  y.sequencing.preConditionRules = {
      Rule(RuleAction::kSkip, RuleConditionKind::kSatisfied)};
  return Group("root", {std::move(writer), std::move(y), Item("z")});
}

// x completes and writes it to g; y, never attempted, reads g and is
// skipped when its progress is known, by its objective or by itself.
Activity KnownThroughGlobal(const char* referenced) {
  Activity root = Shared(false);
  Activity& y = *Find(root, "y");
  y.completionThreshold.completedByMeasure = false;
  y.sequencing.preConditionRules = {
      Rule(RuleAction::kSkip, RuleConditionKind::kActivityProgressKnown, false,
           referenced)};
  return root;
}

const Scenario kScenarios[] = {
    {"forced sequential order",
     Linear,
     {{"valid:previous", "", "0"}, {"start", "", "a"},
      {"start", "", "!NB.2.1-1"},  {"valid:previous", "", "0"},
      {"valid:continue", "", "1"}, {"continue", "", "b"},
      {"previous", "", "a"},       {"choice", "c", "!NB.2.1-10"},
      {"valid:choice", "c", "0"},  {"forward", "", "!NB.2.1-7"},
      {"continue", "", "b"},       {"continue", "", "c"},
      {"valid:continue", "", "1"},  // it ends the course
      {"continue", "", "end"},     {"continue", "", "!NB.2.1-2"},
      {"start", "", "a"},          {"jump", "c", "c"},
      {"abandon", "", "-"},        {"exit", "", "!NB.2.1-12"},
      {"continue", "", "end"}}},
    {"exit rule leaves a mastered module",
     [] {
       Activity module = Group("module", {Item("m1"), Item("m2")});
       for (Activity& item : module.children)
         item.sequencing.delivery.objectiveSetByContent = true;
       RollupRule any;
       any.childActivitySet = ChildActivitySet::kAny;
       any.conditions = {{RollupConditionKind::kSatisfied, false}};
       module.sequencing.rollupRules = {any};
       module.sequencing.exitConditionRules = {
           Rule(RuleAction::kExit, RuleConditionKind::kSatisfied)};
       return Group("root", {std::move(module), Item("after")});
     },
     {{"start", "", "m1"},
      {"fail", "", ""},
      {"continue", "", "m2"},
      {"previous", "", "m1"},
      {"pass", "", ""},
      {"continue", "", "after"}}},
    {"pretest passed skips the lesson",
     Pretest,
     {{"start", "", "pretest"},
      {"pass", "", ""},
      {"continue", "", "final"},
      {"continue", "", "end"}}},
    {"pretest failed leads to the lesson",
     Pretest,
     {{"start", "", "pretest"},
      {"fail", "", ""},
      {"continue", "", "lesson"},
      {"continue", "", "final"}}},
    {"remediation retries the module until the quiz is passed",
     Remediation,
     {{"start", "", "lesson"},
      {"continue", "", "quiz"},
      {"fail", "", ""},
      {"continue", "", "lesson"},
      {"continue", "", "quiz"},
      {"pass", "", ""},
      {"continue", "", "summary"}}},
    {"attempt limit disables the activity",
     Limited,
     {{"start", "", "a"},
      {"continue", "", "b"},
      {"valid:previous", "", "0"},
      {"previous", "", "!SB.2.2-2"},
      {"choice", "a", "!DB.1.1-3"},
      {"choice", "b", "b"}}},
    {"constrained choice allows only the next module",
     [] {
       return Modules([](Activity& root) {
         Find(root, "A")->sequencing.constrainedChoice.constrainChoice = true;
       });
     },
     {{"choice", "a1", "a1"},
      {"valid:choice", "c1", "0"},
      {"choice", "c1", "!SB.2.9-8"},
      {"choice", "b1", "b1"}}},
    // Forward only holds between siblings; choosing back into another
    // cluster leaves the current one first and is no step back among them.
    {"forward only refuses going back, not choosing another cluster",
     [] {
       return Modules([](Activity& root) {
         root.sequencing.controlMode.forwardOnly = true;
       });
     },
     {{"choice", "b1", "b1"},
      {"previous", "", "!SB.2.1-4"},
      {"choice", "C", "c1"},
      {"choice", "B", "b1"}}},
    {"choice exit keeps the learner in a running module",
     [] {
       return Modules([](Activity& root) {
         Find(root, "A")->sequencing.controlMode.choiceExit = false;
       });
     },
     {{"choice", "a1", "a1"},
      {"choice", "b1", "!NB.2.1-8"},
      {"choice", "a2", "a2"},
      {"continue", "", "b1"},
      {"choice", "a1", "a1"}}},
    {"choice exit on a running leaf keeps its siblings out of reach",
     [] {
       return Modules([](Activity& root) {
         Find(root, "a1")->sequencing.controlMode.choiceExit = false;
       });
     },
     {{"choice", "a1", "a1"},
      {"valid:choice", "a2", "0"},
      {"choice", "a2", "!NB.2.1-8"},
      {"continue", "", "a2"},
      {"choice", "b1", "b1"}}},
    {"continue is allowed where flow is, though nothing follows",
     [] {
       return Modules(
           [](Activity& root) { root.sequencing.controlMode.flow = false; });
     },
     {{"choice", "a2", "a2"},
      {"allowed:continue", "", "1"},
      {"valid:continue", "", "0"},
      {"continue", "", "!SB.2.2-1"}}},
    {"a global read but unknown leaves the objective unknown",
     [] {
       Activity x = Item("x");
       ObjectiveMap reads;
       reads.targetObjectiveId = "g";
       x.sequencing.objectives = {Primary("px", {reads})};
       x.sequencing.preConditionRules = {
           Rule(RuleAction::kHiddenFromChoice, RuleConditionKind::kSatisfied)};
       return Group("root", {std::move(x), Item("z")});
     },
     {{"start", "", "x"}, {"continue", "", "z"}, {"choice", "x", "x"}}},
    {"hidden, prevented and unknown targets",
     [] {
       return Modules([](Activity& root) {
         Find(root, "C")->sequencing.preConditionRules = {
             Rule(RuleAction::kHiddenFromChoice, RuleConditionKind::kAlways)};
         Find(root, "B")->sequencing.constrainedChoice.preventActivation = true;
       });
     },
     {{"choice", "a1", "a1"},
      {"choice", "c1", "!SB.2.9-3"},
      {"choice", "b1", "!SB.2.9-6"},
      {"choice", "nowhere", "!NB.2.1-11"},
      {"continue", "", "a2"},
      {"continue", "", "b1"}}},
    {"a leaf constrains no choice",
     [] {
       return Modules([](Activity& root) {
         Find(root, "a1")->sequencing.constrainedChoice.constrainChoice = true;
       });
     },
     {{"choice", "a1", "a1"}, {"choice", "b1", "b1"}}},
    {"a cluster preventing activation is chosen and entered from its start",
     [] {
       return Modules([](Activity& root) {
         Find(root, "B")->sequencing.constrainedChoice.preventActivation = true;
       });
     },
     {{"choice", "B", "b1"}, {"choice", "A", "a1"}}},
    {"an objective the content passes disables another activity",
     [] {
       Activity x = Item("x");
       Objective written;
       written.id = "o1";
       written.maps = {Writes("shared")};
       x.sequencing.objectives = {Primary("px"), written};
       Activity y = Item("y");
       Objective read;
       read.id = "o2";
       read.maps = {ObjectiveMap{}};
       read.maps[0].targetObjectiveId = "shared";
       y.sequencing.objectives = {Primary("py"), read};
       y.sequencing.preConditionRules = {Rule(
           RuleAction::kDisabled, RuleConditionKind::kSatisfied, false, "o2")};
       return Group("root", {std::move(x), std::move(y), Item("z")});
     },
     {{"start", "", "x"},
      {"valid:continue", "", "1"},
      {"passObjective", "o1", ""},
      {"valid:continue", "", "0"},
      {"continue", "", "!SB.2.2-2"},
      {"choice", "y", "!DB.1.1-3"},
      {"choice", "z", "z"}}},
    {"completion the content leaves unknown is not taken as done",
     [] {
       Activity a = Item("a");
       a.sequencing.postConditionRules = {
           Rule(RuleAction::kRetry, RuleConditionKind::kActivityProgressKnown)};
       return Group("root", {std::move(a), Item("b")});
     },
     {{"start", "", "a"},
      {"unknown", "", ""},
      {"continue", "", "b"},
      {"previous", "", "a"},
      {"continue", "", "a"}}},
    // x reports its primary objective incomplete at 0.8 through
    // cmi.objectives; y reads both and is skipped when not completed, or
    // when completed by a measure of 0.5.
    {"the primary objective's completion is the attempt's",
     [] { return Shared(false); },
     {{"start", "", "x"},
      {"incompleteObjective", "px", ""},
      {"continue", "", "z"}}},
    {"a progress measure read completes by measure",
     [] { return Shared(true); },
     {{"start", "", "x"},
      {"incompleteObjective", "px", ""},
      {"continue", "", "z"}}},
    {"the primary objective's progress alone is the attempt's",
     [] { return Shared(true); },
     {{"start", "", "x"},
      {"measureObjective", "px", ""},
      {"continue", "", "z"}}},
    {"a completion read without a measure does not complete by measure",
     [] { return Shared(true); },
     {{"start", "", "x"}, {"done", "", ""}, {"continue", "", "y"}}},
    {"a measure read satisfies by measure",
     [] { return ByMeasure(Item("x")); },
     {{"start", "", "x"}, {"score", "0.8", ""}, {"continue", "", "z"}}},
    {"a satisfaction read without a measure leaves it unknown by measure",
     [] {
       Activity root = ByMeasure(Item("x"));
       Find(root, "x")->sequencing.objectives[0].maps = {Writes("g")};
       Find(root, "y")->sequencing.preConditionRules = {Rule(
           RuleAction::kSkip, RuleConditionKind::kObjectiveStatusKnown, true)};
       return root;
     },
     {{"start", "", "x"}, {"pass", "", ""}, {"continue", "", "z"}}},
    {"success reported without a measure is not written by measure",
     [] {
       Activity root = ByMeasure(Item("x"));
       Objective& px = Find(root, "x")->sequencing.objectives[0];
       px.maps = {Writes("g")};
       px.satisfiedByMeasure = true;
       Activity& y = *Find(root, "y");
       y.sequencing.objectives[0].satisfiedByMeasure = false;
       y.sequencing.preConditionRules = {Rule(
           RuleAction::kSkip, RuleConditionKind::kObjectiveStatusKnown, true)};
       return root;
     },
     {{"start", "", "x"}, {"pass", "", ""}, {"continue", "", "z"}}},
    {"a cluster never entered rolls up what its leaves read",
     [] {
       Activity x = Item("x");
       x.sequencing.objectives = {Primary("px", {Writes("g")})};
       ObjectiveMap reads;
       reads.targetObjectiveId = "g";
       Activity c1 = Item("c1");
       c1.sequencing.objectives = {Primary("pc", {reads})};
       Activity cluster = Group("C", {std::move(c1)});
       RollupRule all;
       all.conditions = {{RollupConditionKind::kSatisfied, false}};
       all.action = RollupAction::kCompleted;
       cluster.sequencing.rollupRules = {all};
       cluster.sequencing.preConditionRules = {
           Rule(RuleAction::kSkip, RuleConditionKind::kCompleted)};
       return Group("root", {std::move(x), std::move(cluster), Item("z")});
     },
     {{"start", "", "x"}, {"pass", "", ""}, {"continue", "", "z"}}},
    {"a measure rolled up to unknown is unknown in its global",
     [] { return ByMeasure(Group("M", {Item("m1")})); },
     {{"start", "", "m1"},
      {"score", "0.8", ""},
      {"continue", "", "z"},
      {"choice", "m1", "m1"},
      {"continue", "", "y"}}},
    {"an objective named by a rule is known through its global",
     [] { return KnownThroughGlobal("py"); },
     {{"start", "", "x"}, {"done", "", ""}, {"continue", "", "z"}}},
    {"an activity never attempted has no progress of its own",
     [] { return KnownThroughGlobal(""); },
     {{"start", "", "x"}, {"done", "", ""}, {"continue", "", "y"}}},
    {"an objective other than the primary is satisfied by its measure",
     [] {
       Activity root = SharedObjective();
       Objective& o1 = Find(root, "x")->sequencing.objectives[1];
       o1.satisfiedByMeasure = true;
       o1.minNormalizedMeasure = 0.5;
       return root;
     },
     {{"start", "", "x"}, {"scoreObjective", "o1", ""}, {"continue", "", "z"}}},
    {"an untracked activity does not know what its maps read",
     [] {
       Activity root = SharedObjective();
       Find(root, "y")->sequencing.delivery.tracked = false;
       return root;
     },
     {{"start", "", "x"}, {"passObjective", "o1", ""}, {"continue", "", "y"}}},
    {"an untracked cluster's rules do not see its children's completion",
     [] {
       Activity cluster = Group("C", {Item("c1")});
       cluster.sequencing.delivery.tracked = false;
       cluster.sequencing.exitConditionRules = {
           Rule(RuleAction::kExit, RuleConditionKind::kCompleted)};
       cluster.sequencing.postConditionRules = {
           Rule(RuleAction::kPrevious, RuleConditionKind::kCompleted)};
       return Group("root", {Item("a"), std::move(cluster), Item("z")});
     },
     {{"start", "", "a"},
      {"continue", "", "c1"},
      {"done", "", ""},
      {"continue", "", "z"}}},
    {"success the content makes unknown is unknown in its global",
     [] { return SharedObjective(); },
     {{"start", "", "x"},
      {"passObjective", "o1", ""},
      {"clearObjective", "o1", ""},
      {"continue", "", "y"}}},
    // w fails the shared objective, x in C passes it; C, whose objective
    // maps the same global, only read it and must not write it back.
    {"a cluster writes back no objective it only read",
     [] {
       Activity root = SharedObjective();
       Activity w = Item("w");
       w.sequencing.objectives = Find(root, "x")->sequencing.objectives;
       Objective mapped;
       mapped.id = "c1";
       mapped.maps = {Writes("shared")};
       Activity cluster = Group("C", {std::move(root.children[0])});
       cluster.sequencing.objectives = {Primary("pc"), mapped};
       root.children[0] = std::move(cluster);
       root.children.insert(root.children.begin(), std::move(w));
       return root;
     },
     {{"start", "", "w"},
      {"failObjective", "o1", ""},
      {"continue", "", "x"},
      {"passObjective", "o1", ""},
      {"continue", "", "z"}}},
    {"a cluster attempted again still skips what its children achieved",
     [] {
       Activity a1 = Item("a1");
       a1.sequencing.preConditionRules = {
           Rule(RuleAction::kSkip, RuleConditionKind::kSatisfied)};
       return Group("root", {Item("s"), Group("A", {std::move(a1), Item("a2")}),
                             Item("b1")});
     },
     {{"start", "", "s"},
      {"continue", "", "a1"},
      {"pass", "", ""},
      {"continue", "", "a2"},
      {"continue", "", "b1"},
      {"previous", "", "a2"},
      {"previous", "", "s"}}},
    {"suspend all, then resume all",
     [] { return Modules([](Activity&) {}); },
     {{"start", "", "a1"},
      {"continue", "", "a2"},
      {"resumeAll", "", "!NB.2.1-1"},
      {"suspendAll", "", "end"},
      {"start", "", "a1"},
      {"suspendAll", "", "end"},
      {"resumeAll", "", "a1"},
      {"continue", "", "a2"},
      {"exitAll", "", "end"},
      {"resumeAll", "", "!NB.2.1-3"}}},
};

TEST(SequencingTest, Scenarios) {
  for (const Scenario& scenario : kScenarios) {
    Course course(scenario.course());
    for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
      const Step& s = scenario.steps[i];
      const std::string got = course.step(s.op, s.arg);
      if (got.empty()) continue;  // a report
      EXPECT_EQ(got, s.expect)
          << scenario.name << ", step " << i << ": " << s.op << " " << s.arg;
    }
  }
}

TEST(SequencingTest, AttemptsAndSuspension) {
  Course course(Modules([](Activity&) {}));
  course.step("start", "");
  course.step("continue", "");  // a2
  course.step("suspendAll", "");
  EXPECT_EQ(course.state.suspendedActivity, course.tree.find("a2"));
  EXPECT_TRUE(course.at("a2").isSuspended && course.at("A").isSuspended);
  EXPECT_EQ(course.step("resumeAll", ""), "a2");
  // Resuming continues the attempts it suspended.
  EXPECT_EQ(course.at("a2").activityAttemptCount, 1u);
  EXPECT_EQ(course.at("root").activityAttemptCount, 1u);
  EXPECT_FALSE(course.at("a2").isSuspended || course.at("A").isSuspended);
  course.step("exitAll", "");
  EXPECT_EQ(course.step("start", ""), "a1");
  EXPECT_EQ(course.at("root").activityAttemptCount, 2u);
  EXPECT_EQ(course.at("a1").activityAttemptCount, 2u);
  // A SCO left suspended when all is exited is not resumed: the course
  // starts afresh.
  course.state.activities[course.tree.find("a1")].isSuspended = true;
  course.step("exitAll", "");
  EXPECT_EQ(course.step("start", ""), "a1");
  EXPECT_EQ(course.at("root").activityAttemptCount, 3u);
  EXPECT_EQ(course.at("a1").activityAttemptCount, 3u);
}

TEST(SequencingTest, AClusterOfUntrackedChildrenIsDoneWhenTheyAre) {
  Activity c1 = Item("c1");
  c1.sequencing.delivery.tracked = false;
  Course course(Group("root", {Group("C", {std::move(c1)}), Item("z")}));
  EXPECT_EQ(course.step("start", ""), "c1");
  EXPECT_EQ(course.step("continue", ""), "z");
  EXPECT_TRUE(course.at("C").attemptProgressStatus &&
              course.at("C").attemptCompletionStatus);
  EXPECT_TRUE(course.at("C").objectives[0].progressStatus &&
              course.at("C").objectives[0].satisfiedStatus);
}

// "All" over children none of whom counts: it holds where the course
// leaves them out, not where they only have no finished attempt yet.
TEST(SequencingTest, AnAllRuleOverNoCountedChild) {
  const auto considers = [](RollupConsideration required) {
    return [required](RollupControls& r) {
      r.requiredForSatisfied = r.requiredForNotSatisfied = required;
      r.requiredForCompleted = r.requiredForIncomplete = required;
    };
  };
  const auto uncounted = [](RollupControls& r) {
    r.rollupObjectiveSatisfied = r.rollupProgressCompletion = false;
  };
  const struct {
    const char* name;
    std::function<void(RollupControls&)> a, b;
    bool known;  // the root completed and satisfied, else both unknown
  } kCases[] = {
      {"suspended and not attempted",
       considers(RollupConsideration::kIfNotSuspended),
       considers(RollupConsideration::kIfNotSuspended), false},
      {"suspended and not attempted yet",
       considers(RollupConsideration::kIfNotSuspended),
       considers(RollupConsideration::kIfAttempted), false},
      {"left out by their controls", uncounted, uncounted, true},
      {"one left out by its controls",
       considers(RollupConsideration::kIfNotSuspended), uncounted, true},
  };
  for (const auto& row : kCases) {
    Activity a = Item("a"), b = Item("b");
    row.a(a.sequencing.rollup);
    row.b(b.sequencing.rollup);
    Course course(Group("root", {std::move(a), std::move(b)}));
    ASSERT_EQ(course.step("start", ""), "a");
    // The SCO leaves with cmi.exit "suspend".
    course.state.activities[course.tree.find("a")].isSuspended = true;
    ASSERT_EQ(course.step("continue", ""), "b") << row.name;
    const ActivityState& root = course.at("root");
    EXPECT_EQ(root.attemptProgressStatus, row.known) << row.name;
    EXPECT_EQ(root.attemptCompletionStatus, row.known) << row.name;
    EXPECT_EQ(root.objectives[0].progressStatus, row.known) << row.name;
    EXPECT_EQ(root.objectives[0].satisfiedStatus, row.known) << row.name;
  }
}

// Thousands of SCOs on one global objective: the overall rollup takes
// each cluster once, not once per SCO that reads the global (which made a
// Continue take seconds at 4,000 and never return at 10,000).
TEST(SequencingTest, AWideCourseOnOneGlobalContinuesAtOnce) {
  std::vector<Activity> leaves;
  for (int n = 0; n < 4000; ++n) {
    Activity leaf = Item("w" + std::to_string(n));
    ObjectiveMap map;
    map.targetObjectiveId = "shared";
    map.readSatisfiedStatus = map.writeSatisfiedStatus = true;
    leaf.sequencing.objectives = {Primary("p", {map})};
    leaves.push_back(std::move(leaf));
  }
  Course course(Group("root", std::move(leaves)));
  ASSERT_EQ(course.step("start", ""), "w0");
  course.step("pass", "");
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(course.step("continue", ""), "w1");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  // Every SCO reads the passed global: the course is satisfied.
  EXPECT_TRUE(course.at("root").objectives[0].progressStatus &&
              course.at("root").objectives[0].satisfiedStatus);
}

// The public simple remediation sample, its manifest as published: tests 2
// and 4 failed, the wrapper retried through Etiquette and Having Fun, both
// tests passed; the skipped tests 1 and 3 count by the globals they read,
// so the course is satisfied and ends.
TEST(SequencingTest, ThePublicRemediationSampleEndsSatisfied) {
  std::ifstream in(std::string(ZEPT_TEST_PACKAGES) +
                   "/golf-simple-remediation/imsmanifest.xml");
  std::ostringstream manifest;
  manifest << in.rdbuf();
  const Package2004 package = ReadPackage2004(manifest.str());
  Course course(package.root, 1, !package.objectivesGlobalToSystem);
  const std::vector<std::pair<std::string, const char*>> kVisits = {
      {"playing_item", ""},   {"etuqiette_item", ""}, {"handicapping_item", ""},
      {"havingfun_item", ""}, {"test_1", "pass"},     {"test_2", "fail"},
      {"test_3", "pass"},     {"test_4", "fail"},     {"etuqiette_item", ""},
      {"havingfun_item", ""}, {"test_2", "pass"},     {"test_4", "pass"}};
  std::string next = "start";
  for (const auto& [id, result] : kVisits) {
    ASSERT_EQ(course.step(next, ""), id);
    course.step("done", "");
    if (*result) course.step(result, "");
    next = "continue";
  }
  EXPECT_EQ(course.step("continue", ""), "end");
  const ActivityState& root = course.at(package.root.identifier);
  EXPECT_TRUE(root.attemptProgressStatus && root.attemptCompletionStatus);
  EXPECT_TRUE(root.objectives[0].progressStatus &&
              root.objectives[0].satisfiedStatus);
}

TEST(SequencingTest, GlobalObjectiveWrittenByOneReadByAnother) {
  Course course(Pretest());
  course.step("start", "");
  course.step("pass", "");
  const ObjectiveState& mastery = course.state.globalObjectives.at("mastery");
  EXPECT_TRUE(mastery.progressStatus && mastery.satisfiedStatus);
  course.step("continue", "");
  // The skipped lesson reads it, and the module rolls it up by its rule.
  processes::Context c{course.tree, course.state, course.random};
  const ObjectiveState lesson =
      processes::EffectiveObjective(c, course.tree.find("lesson"), 0);
  EXPECT_TRUE(lesson.progressStatus && lesson.satisfiedStatus);
  EXPECT_TRUE(course.at("module").objectives[0].satisfiedStatus);
}

TEST(SequencingTest, ObjectiveCompletionReachesItsGlobal) {
  const struct {
    std::vector<std::string> reports;
    std::optional<bool> global;
  } kCases[] = {
      {{"completeObjective"}, true},
      {{"incompleteObjective"}, false},
      // Made unknown by the content: unknown for the readers too.
      {{"completeObjective", "unknownObjective"}, std::nullopt},
      {{"unknownObjective", "incompleteObjective"}, false},
  };
  for (const auto& row : kCases) {
    Activity root = SharedObjective();
    Find(root, "x")->sequencing.objectives[1].maps[0].writeCompletionStatus =
        true;
    Course course(std::move(root));
    course.step("start", "");
    for (const std::string& report : row.reports) course.step(report, "o1");
    EXPECT_EQ(course.state.globalObjectives["shared"].completionStatus,
              row.global)
        << row.reports.back();
  }
}

// x passes its objective o1, kept in the global "shared", skips itself once
// it has, and ends the course, which retries; y, which reads "shared", is
// skipped unless the retry cleared the objectives the course keeps to one
// attempt.
TEST(SequencingTest, RetryingTheCourseClearsObjectivesItKeepsPerAttempt) {
  for (const bool perAttempt : {false, true}) {
    Activity root = SharedObjective();
    Activity& x = *Find(root, "x");
    x.sequencing.preConditionRules = {
        Rule(RuleAction::kSkip, RuleConditionKind::kSatisfied, false, "o1")};
    x.sequencing.postConditionRules = {
        Rule(RuleAction::kExitParent, RuleConditionKind::kAlways)};
    root.sequencing.postConditionRules = {
        Rule(RuleAction::kRetry, RuleConditionKind::kAlways)};
    Course course(std::move(root), 1, perAttempt);
    course.step("start", "");
    course.step("passObjective", "o1");
    EXPECT_EQ(course.step("continue", ""), perAttempt ? "y" : "z");
  }
}

TEST(SequencingTest, RollupThroughTwoLevels) {
  Activity m1 = Group("m1", {Item("x"), Item("y")});
  RollupRule rule;  // satisfied when at least one attempted child is
  rule.childActivitySet = ChildActivitySet::kAtLeastCount;
  rule.minimumCount = 1;
  rule.conditions = {{RollupConditionKind::kSatisfied, false}};
  m1.sequencing.rollupRules = {rule};
  m1.children[1].sequencing.rollup.objectiveMeasureWeight = 3.0;
  // z does not count for the root's completion until attempted.
  Activity z = Item("z");
  z.sequencing.rollup.requiredForCompleted = RollupConsideration::kIfAttempted;
  z.sequencing.rollup.requiredForIncomplete = RollupConsideration::kIfAttempted;
  for (Activity* a : {&m1.children[0], &m1.children[1], &z})
    a->sequencing.delivery.objectiveSetByContent = true;
  Course course(Group("root", {std::move(m1), std::move(z)}));

  course.step("start", "");  // x
  course.step("score", "0.8");
  course.step("pass", "");
  course.step("continue", "");  // y
  course.step("score", "0.4");
  course.step("fail", "");
  ASSERT_EQ(course.step("continue", ""), "z");
  const ObjectiveState& m = course.at("m1").objectives[0];
  EXPECT_TRUE(m.progressStatus && m.satisfiedStatus);
  EXPECT_TRUE(m.measureStatus);
  EXPECT_DOUBLE_EQ(m.normalizedMeasure, (0.8 + 3 * 0.4) / 4);
  EXPECT_TRUE(course.at("m1").attemptProgressStatus &&
              course.at("m1").attemptCompletionStatus);
  // The root counts z's weight though z has no measure yet.
  const ObjectiveState& r = course.at("root").objectives[0];
  EXPECT_DOUBLE_EQ(r.normalizedMeasure, 0.5 / 2);
  EXPECT_FALSE(r.progressStatus);
  // z did not count for completion when m1 ended, before z's attempt.
  EXPECT_TRUE(course.at("root").attemptCompletionStatus);
  course.step("pass", "");
  course.step("continue", "");
  EXPECT_TRUE(r.progressStatus && r.satisfiedStatus);
  EXPECT_TRUE(course.at("root").attemptCompletionStatus);
}

TEST(SequencingTest, SelectionAndRandomizationFollowTheRandomSource) {
  auto pool = [] {
    std::vector<Activity> items;
    for (const char* id : {"q1", "q2", "q3", "q4", "q5"})
      items.push_back(Item(id));
    Activity root = Group("root", std::move(items));
    root.sequencing.randomization.selectCount = 3;
    root.sequencing.randomization.selectionTiming = RandomizationTiming::kOnce;
    root.sequencing.randomization.reorderChildren = true;
    root.sequencing.randomization.randomizationTiming =
        RandomizationTiming::kOnce;
    return root;
  };
  Course course(pool(), 7), again(pool(), 7);
  const auto& available = course.at("root").availableChildren;
  ASSERT_EQ(available.size(), 3u);
  EXPECT_EQ(available, again.at("root").availableChildren);
  // Flow visits exactly the drawn ones in the drawn order; the others
  // cannot be chosen.
  std::vector<std::size_t> visited;
  for (std::string got = course.step("start", ""); got != "end";
       got = course.step("continue", "")) {
    ASSERT_NE(got[0], '!') << got;
    visited.push_back(course.tree.find(got));
  }
  EXPECT_EQ(visited, available);
  for (const char* id : {"q1", "q2", "q3", "q4", "q5"}) {
    if (std::find(available.begin(), available.end(), course.tree.find(id)) ==
        available.end()) {
      EXPECT_EQ(course.step("choice", id), "!SB.2.9-2") << id;
    }
  }
  // Different seeds draw differently, at least for one of a few.
  bool differs = false;
  for (std::uint64_t seed = 1; seed < 6; ++seed)
    differs |= Course(pool(), seed).at("root").availableChildren != available;
  EXPECT_TRUE(differs);
}

TEST(SequencingTest, StateTextRoundTrips) {
  Activity root = Pretest();
  root.children[1].identifier = "final 100%";
  Course course(std::move(root));
  course.step("start", "");
  course.step("score", "-0.125");
  course.step("pass", "");
  course.step("continue", "");
  course.step("suspendAll", "");
  const std::string text = SerializeState(course.tree, course.state);
  const auto parsed = ParseState(course.tree, text);
  ASSERT_TRUE(parsed.has_value()) << text;
  EXPECT_EQ(*parsed, course.state) << text;
  EXPECT_EQ(SerializeState(course.tree, *parsed), text);
  EXPECT_NE(text.find("final%20100%25"), std::string::npos) << text;

  for (const char* bad :
       {"", "zs2\n", "zs1\nx y\n", "zs1\na root\t1\n",
        "zs1\na root\t-1\t\t\t\t*\n", "zs1\na root\t1\tq\t\t\t*\n",
        "zs1\na root\t1\t\t\t\tx\n", "zs1\ng g\t1;;;;;\n",
        "zs1\ng g\tx;;;;;;\n", "zs1\ng g\t;nan;;;;;\n", "zs1\nc bad%zz\n"})
    EXPECT_FALSE(ParseState(course.tree, bad).has_value()) << bad;
  // Names the tree no longer has are passed over.
  EXPECT_TRUE(ParseState(course.tree, "zs1\nc gone\na gone\t1\t\t\t\t*\n"));
}

// A course updated under a stored state: what still fits the new tree is
// kept, each part that does not is reset and named.
TEST(SequencingTest, AnUpdatedCourseKeepsTheStateThatStillFits) {
  const auto course = [](bool withIntro, bool withQ3) {
    std::vector<Activity> questions;
    for (const char* id : {"q1", "q2", "q3"})
      if (withQ3 || std::string(id) != "q3") questions.push_back(Item(id));
    Activity quiz = Group("quiz", std::move(questions));
    quiz.sequencing.randomization.reorderChildren = true;
    quiz.sequencing.randomization.randomizationTiming =
        RandomizationTiming::kOnce;
    std::vector<Activity> parts;
    if (withIntro) parts.push_back(Item("intro"));
    parts.push_back(std::move(quiz));
    parts.push_back(Item("outro"));
    return Group("root", std::move(parts));
  };
  // A learner passed the intro, went on to the quiz drawn in an order of
  // its own, and suspended the course there.
  // A seed that draws another order than the manifest's, q3 not first.
  std::uint64_t seed = 1;
  for (;; ++seed) {
    const auto drawn = Course(course(true, true), seed).at("quiz");
    if (drawn.availableChildren != std::vector<std::size_t>{3, 4, 5} &&
        drawn.availableChildren[0] != 5)
      break;
  }
  Course before(course(true, true), seed);
  ASSERT_EQ(before.step("start", ""), "intro");
  before.step("pass", "");
  const std::string first = before.step("continue", "");
  ASSERT_EQ(first[0], 'q');
  before.step("score", "0.5");
  ASSERT_EQ(before.step("suspendAll", ""), "end");
  const std::string text = SerializeState(before.tree, before.state);

  struct UpdateCase {
    const char* name;
    bool withIntro, withQ3;
    std::vector<std::string> reset;
    std::vector<std::string> quizOrder;  // after the update
  };
  std::vector<std::string> drawn;
  for (std::size_t i : before.at("quiz").availableChildren)
    drawn.push_back(before.tree.at(i).identifier);
  const UpdateCase cases[] = {
      {"unchanged", true, true, {}, drawn},
      {"the randomized cluster lost a child",
       true,
       false,
       {"the activities under quiz no longer fit the order stored for them; "
        "all of them are available again, in the course's order"},
       {"q1", "q2"}},
      {"an activity gone, the suspended one with it",
       false,
       true,
       {"the suspended activity " + first + " is no longer in the course",
        "activity intro is no longer in the course; what was done in it is "
        "dropped",
        "activity " + first +
            " is no longer in the course; what was done in it is dropped"},
       drawn},
  };
  for (const UpdateCase& c : cases) {
    SCOPED_TRACE(c.name);
    Activity root = course(c.withIntro, c.withQ3);
    // Without the intro the suspended question goes too, renamed.
    if (!c.withIntro) Find(root, first)->identifier = "renamed";
    const ActivityTree tree(root);
    std::vector<std::string> reset;
    const auto parsed = ParseState(tree, text, &reset);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(reset, c.reset);
    std::vector<std::string> order;
    for (std::size_t i :
         parsed->activities[tree.find("quiz")].availableChildren)
      order.push_back(tree.at(i).identifier);
    std::vector<std::string> expected = c.quizOrder;
    for (std::string& id : expected)
      if (!c.withIntro && id == first) id = "renamed";
    EXPECT_EQ(order, expected);
    // Each activity still there keeps its attempts and objectives.
    for (const char* id : {"root", "intro", "quiz", "q1", "q2", "outro"}) {
      const std::size_t now = tree.find(id);
      if (now == ActivityTree::kNone) continue;
      const ActivityState& was = before.at(id);
      const ActivityState& is = parsed->activities[now];
      EXPECT_EQ(is.activityAttemptCount, was.activityAttemptCount) << id;
      EXPECT_EQ(is.objectives, was.objectives) << id;
      EXPECT_EQ(is.isSuspended, was.isSuspended && c.withIntro) << id;
    }
    const std::size_t suspended =
        c.withIntro ? tree.find(first) : ActivityTree::kNone;
    EXPECT_EQ(parsed->suspendedActivity, suspended);
  }
}

}  // namespace
}  // namespace zept::scorm2004
