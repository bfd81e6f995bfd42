// The SCORM 2004 sequencing engine on a big course, measured.
//   A tree of 1,111 activities built here: the root, 10 clusters, 10
//   sub-clusters each, 10 SCOs under each sub-cluster (c4s9l9 is the 500th
//   SCO). Flow everywhere; at every cluster "satisfied if all satisfied"
//   and "completed if any completed" with measure weights 1 and 2; each SCO
//   has a primary objective satisfied by measure and a second one written to
//   a global objective. The first half of the SCOs have been taken.
//   Printed, the median of several runs in ms:
//     continue  from c4s9l9 (ended, passed) to c5s0l0 and from c4s9l4 to
//               c4s9l5: the whole overall sequencing process, the end of the
//               attempt and its rollup included (target under 50 ms);
//     rollup    the overall rollup process from one SCO to the root
//               (target under 5 ms), and every cluster rolled up again;
//     choice    from c4s9l9 to the last SCO, c9s9l9, and whether a choice
//               of each activity would go through (NavigationRequestValid,
//               as the player's table of contents asks after a delivery);
//     state     SerializeState + ParseState of the tree with every SCO
//               taken, and the text's size;
//     player    through scorm2004::Player with its store on disk: the
//               SCO c4s9l9 sets its results and the learner asks for
//               continue (the session's end, its rollup, sequencing, the
//               next delivery and the transaction that stores it all;
//               target under 50 ms), and the ["menu"] answer with its
//               choice of every activity (target under 10 ms; beside it,
//               the earlier figures), also in the course made without
//               choice (every item refused).
//
//   A wide course too: one cluster of 10,000 SCOs whose primary objectives
//   all read and write one global objective, played through the player:
//     continue  from the 5,000th SCO, passed, to the next (target under
//               50 ms), and the ["menu"] while it plays (target under
//               10 ms), then the ["menu"] when 9,999 of them are disabled,
//               each refused with its reason (target under 10 ms). Beside
//               each, the figures measured quiet before the menu asked its
//               questions of one copy of the state kept from menu to menu,
//               and before the overall rollup took each cluster once and
//               the menu stopped trying refused items on a copy of the
//               state (10,000 SCOs could not be measured then: the figures
//               for 1,000 are given too).
//
//   build/bench/zept_sequencing_bench [RUNS] [WIDE]
//   (RUNS: 31 unless given; WIDE: the wide course's SCOs, 10,000 unless
//   given)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scorm2004/player.h"
#include "scorm2004/results.h"
#include "scorm2004/sequencing.h"
#include "scorm2004/sequencing_processes.h"
#include "scorm2004/state.h"

namespace {

using namespace zept::scorm2004;
using Clock = std::chrono::steady_clock;

constexpr int kFanOut = 10;

Activity Leaf(const std::string& id, int n) {
  Activity leaf;
  leaf.identifier = leaf.title = id;
  leaf.isSco = true;
  leaf.launch = "sco.html?page=" + id;
  SequencingDefinition& s = leaf.sequencing;
  s.rollup.objectiveMeasureWeight = n % 3 == 0 ? 2.0 : 1.0;
  Objective primary;
  primary.id = "p-" + id;
  primary.primary = true;
  primary.satisfiedByMeasure = true;
  primary.minNormalizedMeasure = 0.6;
  Objective shared;
  shared.id = "o-" + id;
  ObjectiveMap map;
  map.targetObjectiveId = "g-" + id;
  map.writeSatisfiedStatus = map.writeNormalizedMeasure = true;
  shared.maps.push_back(map);
  s.objectives = {primary, shared};
  return leaf;
}

Activity Cluster(const std::string& id, int n) {
  Activity cluster;
  cluster.identifier = cluster.title = id;
  SequencingDefinition& s = cluster.sequencing;
  s.controlMode.flow = true;
  s.rollup.objectiveMeasureWeight = n % 2 == 0 ? 2.0 : 1.0;
  RollupRule satisfied;
  satisfied.childActivitySet = ChildActivitySet::kAll;
  satisfied.conditions = {{RollupConditionKind::kSatisfied, false}};
  satisfied.action = RollupAction::kSatisfied;
  RollupRule completed;
  completed.childActivitySet = ChildActivitySet::kAny;
  completed.conditions = {{RollupConditionKind::kCompleted, false}};
  completed.action = RollupAction::kCompleted;
  s.rollupRules = {satisfied, completed};
  Objective primary;
  primary.primary = true;
  s.objectives = {primary};
  return cluster;
}

Activity Course() {
  Activity root = Cluster("course", 0);
  for (int c = 0; c < kFanOut; ++c) {
    const std::string cid = "c" + std::to_string(c);
    Activity cluster = Cluster(cid, c);
    for (int s = 0; s < kFanOut; ++s) {
      const std::string sid = cid + "s" + std::to_string(s);
      Activity sub = Cluster(sid, s);
      for (int l = 0; l < kFanOut; ++l)
        sub.children.push_back(Leaf(sid + "l" + std::to_string(l), l));
      cluster.children.push_back(std::move(sub));
    }
    root.children.push_back(std::move(cluster));
  }
  return root;
}

// What an ended SCO reports: completed, a score that passes two times in
// three, the second objective alike.
AttemptReport Report(const std::string& id, int n) {
  const double scaled = (n % 3 == 2) ? 0.4 : 0.85;
  AttemptReport report;
  report.completed = true;
  report.progressMeasure = 1.0;
  report.primary.passed = scaled >= 0.6;
  report.primary.scaledScore = scaled;
  report.primary.rawScore = scaled * 100;
  report.primary.minScore = 0;
  report.primary.maxScore = 100;
  ObjectiveReport shared;
  shared.id = "o-" + id;
  shared.passed = scaled >= 0.6;
  shared.scaledScore = scaled;
  report.objectives = {shared};
  return report;
}

// The SCOs before `end` in tree order as taken once and ended (the current
// one is left alone), rolled up to the root.
void TakeLeavesBefore(const ActivityTree& tree, SequencingState& state,
                      std::size_t end, const RandomSource& random) {
  processes::Context c{tree, state, random};
  int n = 0;
  for (std::size_t i = 0; i < end; ++i) {
    if (!tree.isLeaf(i) || i == state.currentActivity) continue;
    ActivityState& a = state.activities[i];
    a.activityProgressStatus = true;
    a.activityAttemptCount = std::max(a.activityAttemptCount, 1u);
    ReportAttempt(tree, state, i, Report(tree.at(i).identifier, n++));
    processes::OverallRollupProcess(c, i);
  }
}

std::size_t Find(const ActivityTree& tree, const std::string& id) {
  const std::size_t i = tree.find(id);
  if (i == ActivityTree::kNone) {
    std::fprintf(stderr, "no activity %s\n", id.c_str());
    std::exit(1);
  }
  return i;
}

void Expect(const SequencingOutcome& outcome, const std::string& delivered,
            const char* what) {
  if (outcome.delivered != delivered || !outcome.exception.empty()) {
    std::fprintf(stderr, "%s: expected %s, got %s (%s)\n", what,
                 delivered.c_str(), outcome.delivered.value_or("none").c_str(),
                 outcome.exception.c_str());
    std::exit(1);
  }
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
  double median, min, max;
};

// Each run gets its own copy of `start`, made before the clock starts.
template <typename Run>
Figures Time(int runs, const SequencingState& start, Run run) {
  std::vector<SequencingState> copies(runs + 1, start);
  std::vector<double> ms;
  for (int r = 0; r <= runs; ++r) {
    const auto begin = Clock::now();
    run(copies[r]);
    const double taken = Ms(Clock::now() - begin);
    if (r > 0) ms.push_back(taken);  // the first warms the caches
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.front(), ms.back()};
}

void Print(const char* what, const Figures& f, double target) {
  std::printf("%-46s median %9.4f ms  (min %.4f, max %.4f)", what, f.median,
              f.min, f.max);
  if (target > 0)
    std::printf("  target < %g ms: %s", target,
                f.median < target ? "met" : "MISSED");
  std::printf("\n");
}

// The answer's "id", "" when it delivered nothing.
std::string Delivered(const std::string& answer) {
  const std::size_t at = answer.find("\"id\":\"");
  if (at == std::string::npos) return "";
  return answer.substr(at + 6, answer.find('"', at + 6) - at - 6);
}

std::string LaunchOf(const std::string& answer) {
  const std::size_t at = answer.find("\"launch\":\"");
  if (at == std::string::npos) return "";
  return answer.substr(at + 10, answer.find('"', at + 10) - at - 10);
}

// The player on the course, its learner where `state` is (c4s9l9 just
// delivered), its store in a temporary folder.
void PlayerFigures(const Activity& root, const ActivityTree& tree,
                   const SequencingState& state, int runs) {
  char pattern[] = "/tmp/zept-sequencing-bench-XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  {
    Package2004 package;
    package.identifier = "BENCH";
    package.title = "Bench course";
    package.root = root;
    zept::scorm::ProgressStore store(folder + "/p.sqlite");
    // Stored as a player leaves it: suspended at c4s9l9, resumed below.
    SequencingState suspended = state;
    Sequence(tree, suspended, {NavigationRequestKind::kSuspendAll, ""},
             SeededRandom(1));
    store.saveItems(
        "anna",
        {{kStateItem, {{kStateElement, SerializeState(tree, suspended)}}}});
    PlayerOptions options;
    options.random = SeededRandom(1);
    Player player(package, store, options);
    player.handle({"login", "anna"});
    std::string answer = player.handle({"nav", "resumeAll"});
    if (Delivered(answer) != "c4s9l9") {
      std::fprintf(stderr, "player: resumeAll gave %s\n", answer.c_str());
      std::exit(1);
    }
    std::vector<double> ms, menuMs;
    std::size_t menuBytes = 0;
    for (int r = 0; r <= runs; ++r) {
      const std::string launch = LaunchOf(answer);
      for (const std::vector<std::string>& call :
           std::vector<std::vector<std::string>>{
               {"Initialize", ""},
               {"SetValue", "cmi.completion_status", "completed"},
               {"SetValue", "cmi.success_status", "passed"},
               {"SetValue", "cmi.score.scaled", "0.85"}}) {
        std::vector<std::string> message = {"api", launch};
        message.insert(message.end(), call.begin(), call.end());
        if (player.handle(message) != "true") {
          std::fprintf(stderr, "player: %s refused\n", call[0].c_str());
          std::exit(1);
        }
      }
      auto begin = Clock::now();
      const std::string menu = player.handle({"menu"});
      if (r > 0) menuMs.push_back(Ms(Clock::now() - begin));
      menuBytes = menu.size();
      begin = Clock::now();
      answer = player.handle({"nav", "continue"});
      if (r > 0) ms.push_back(Ms(Clock::now() - begin));
      if (Delivered(answer) != "c5s0l0") {
        std::fprintf(stderr, "player: continue gave %.300s\n", answer.c_str());
        std::exit(1);
      }
      // Back to c4s9l9 for the next run, untimed.
      answer = player.handle({"nav", "choice", "c4s9l9"});
      if (Delivered(answer) != "c4s9l9") {
        std::fprintf(stderr, "player: choice gave %.300s\n", answer.c_str());
        std::exit(1);
      }
    }
    const auto print = [](const char* what, std::vector<double>& v,
                          double target) {
      std::sort(v.begin(), v.end());
      Print(what, {v[v.size() / 2], v.front(), v.back()}, target);
    };
    print("player: continue c4s9l9 -> c5s0l0, stored", ms, 50);
    print("player: [\"menu\"] of 1,111 activities", menuMs, 10);
    std::printf(
        "  (before: 15.0 ms quiet, 19.2 ms under load, while the menu copied "
        "the state for each question it asked the sequencer; 6.6 ms before "
        "it showed scores and asked about Start)\n");
    std::printf("  (the menu's answer: %zu bytes)\n", menuBytes);

    // The same course without choice: every item is refused, with its
    // reason, while the first SCO plays.
    std::function<void(Activity&)> noChoice = [&](Activity& a) {
      a.sequencing.controlMode.choice = false;
      for (Activity& child : a.children) noChoice(child);
    };
    noChoice(package.root);
    Player closed(package, store, options);
    closed.handle({"login", "ben"});
    if (Delivered(closed.handle({"nav", "start"})) != "c0s0l0") {
      std::fprintf(stderr, "player: no start without choice\n");
      std::exit(1);
    }
    menuMs.clear();
    for (int r = 0; r <= runs; ++r) {
      const auto begin = Clock::now();
      closed.handle({"menu"});
      if (r > 0) menuMs.push_back(Ms(Clock::now() - begin));
    }
    print("player: [\"menu\"], no choice anywhere", menuMs, 10);
  }
  std::filesystem::remove_all(folder);
}

// The wide course: SCOs w0 .. w(count - 1) under one cluster, each primary
// objective reading and writing the global "shared"; every one but the
// first disabled when `disabled`.
Activity WideCourse(int count, bool disabled) {
  Activity root;
  root.identifier = root.title = "wide";
  root.sequencing.controlMode.flow = true;
  for (int n = 0; n < count; ++n) {
    Activity leaf;
    leaf.identifier = leaf.title = "w" + std::to_string(n);
    leaf.isSco = true;
    leaf.launch = "sco.html";
    Objective primary;
    primary.id = "p";
    primary.primary = true;
    ObjectiveMap map;
    map.targetObjectiveId = "shared";
    map.readSatisfiedStatus = map.writeSatisfiedStatus = true;
    primary.maps.push_back(map);
    leaf.sequencing.objectives = {primary};
    if (disabled && n > 0) {
      SequencingRule rule;
      rule.action = RuleAction::kDisabled;
      rule.conditions.push_back({RuleConditionKind::kAlways, false, "", 0.0});
      leaf.sequencing.preConditionRules = {rule};
    }
    root.children.push_back(std::move(leaf));
  }
  return root;
}

void WideFigures(int count, int runs) {
  char pattern[] = "/tmp/zept-sequencing-bench-XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  {
    zept::scorm::ProgressStore store(folder + "/p.sqlite");
    PlayerOptions options;
    options.random = SeededRandom(1);
    const auto play = [&](Package2004& package, const std::string& learner,
                          const std::string& id) {
      package.identifier = "WIDE";
      package.title = "Wide course";
      auto player = std::make_unique<Player>(package, store, options);
      player->handle({"login", learner});
      const std::string answer =
          player->handle({"nav", id.empty() ? "start" : "choice", id});
      const std::string want = id.empty() ? "w0" : id;
      if (Delivered(answer) != want) {
        std::fprintf(stderr, "wide: %s gave %.300s\n", want.c_str(),
                     answer.c_str());
        std::exit(1);
      }
      return std::make_pair(std::move(player), LaunchOf(answer));
    };
    const auto print = [](const char* what, std::vector<double>& v,
                          double target, const char* before) {
      std::sort(v.begin(), v.end());
      Print(what, {v[v.size() / 2], v.front(), v.back()}, target);
      std::printf("  (before: %s)\n", before);
    };
    Package2004 wide;
    wide.root = WideCourse(count, false);
    const std::string middle = "w" + std::to_string(count / 2);
    const std::string next = "w" + std::to_string(count / 2 + 1);
    auto [player, launch] = play(wide, "anna", middle);
    std::vector<double> ms, menuMs;
    for (int r = 0; r <= runs; ++r) {
      for (const std::vector<std::string>& call :
           std::vector<std::vector<std::string>>{
               {"Initialize", ""},
               {"SetValue", "cmi.completion_status", "completed"},
               {"SetValue", "cmi.success_status", "passed"}}) {
        std::vector<std::string> message = {"api", launch};
        message.insert(message.end(), call.begin(), call.end());
        player->handle(message);
      }
      auto begin = Clock::now();
      player->handle({"menu"});
      if (r > 0) menuMs.push_back(Ms(Clock::now() - begin));
      begin = Clock::now();
      std::string answer = player->handle({"nav", "continue"});
      if (r > 0) ms.push_back(Ms(Clock::now() - begin));
      if (Delivered(answer) != next) {
        std::fprintf(stderr, "wide: continue gave %.300s\n", answer.c_str());
        std::exit(1);
      }
      answer = player->handle({"nav", "choice", middle});
      launch = LaunchOf(answer);
    }
    std::printf("wide course: %d SCOs on one global objective, %d runs\n",
                count, runs);
    print("wide: continue to the next SCO, stored", ms, 50,
          "10,000 SCOs: not back after 145 s; 1,000: 427 ms");
    print("wide: [\"menu\"]", menuMs, 10,
          "10,000 SCOs: 12.6 ms, a state copied per question; 1,000 SCOs: "
          "18 ms");

    Package2004 disabled;
    disabled.root = WideCourse(count, true);
    auto [closed, unused] = play(disabled, "ben", "");
    menuMs.clear();
    std::size_t refused = 0;
    for (int r = 0; r <= runs; ++r) {
      const auto begin = Clock::now();
      const std::string menu = closed->handle({"menu"});
      if (r > 0) menuMs.push_back(Ms(Clock::now() - begin));
      refused = 0;
      for (std::size_t at = 0;
           (at = menu.find("\"choosable\":false", at)) != std::string::npos;
           ++at)
        ++refused;
    }
    print("wide: [\"menu\"], all but one disabled", menuMs, 10,
          "10,000 SCOs: 13.0 ms, a state copied per question; 4.4 s when "
          "each refused item was tried on a copy; 1,000 on one global: 272 s");
    std::printf("  (%zu items refused)\n", refused);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
  const Activity root = Course();
  const ActivityTree tree(root);
  const RandomSource random = SeededRandom(1);
  std::printf("tree: %zu activities, %d runs each\n", tree.size(), runs);

  // The learner started, took the first 499 SCOs, chose the 500th, ended it.
  SequencingState state = InitialState(tree, random);
  Expect(Sequence(tree, state, {NavigationRequestKind::kStart, ""}, random),
         "c0s0l0", "start");
  const std::size_t middle = Find(tree, "c4s9l9");
  TakeLeavesBefore(tree, state, middle, random);
  Expect(
      Sequence(tree, state, {NavigationRequestKind::kChoice, "c4s9l9"}, random),
      "c4s9l9", "choice of the middle SCO");
  ReportAttempt(tree, state, middle, Report("c4s9l9", 0));

  Print("continue c4s9l9 -> c5s0l0 (overall process)",
        Time(runs, state,
             [&](SequencingState& s) {
               Expect(Sequence(tree, s, {NavigationRequestKind::kContinue, ""},
                               random),
                      "c5s0l0", "continue");
             }),
        50);

  {
    // What the rollup made of it, to see it ran.
    SequencingState after = state;
    Sequence(tree, after, {NavigationRequestKind::kContinue, ""}, random);
    processes::Context c{tree, after, random};
    for (const char* id : {"c4s9", "c4", "course"}) {
      const std::size_t i = Find(tree, id);
      const ObjectiveState o = processes::EffectiveObjective(c, i, 0);
      std::printf("  after it, %-6s measure %s%.3f, %s, %s\n", id,
                  o.measureStatus ? "" : "(unknown) ", o.normalizedMeasure,
                  !o.progressStatus   ? "satisfaction unknown"
                  : o.satisfiedStatus ? "satisfied"
                                      : "not satisfied",
                  !processes::EffectiveAttemptProgressStatus(c, i)
                      ? "completion unknown"
                  : processes::EffectiveAttemptCompletionStatus(c, i)
                      ? "completed"
                      : "incomplete");
    }
  }

  // The same within a sub-cluster: c4s9l4, ended, to c4s9l5.
  SequencingState inside = state;
  Expect(Sequence(tree, inside, {NavigationRequestKind::kChoice, "c4s9l4"},
                  random),
         "c4s9l4", "choice of c4s9l4");
  ReportAttempt(tree, inside, Find(tree, "c4s9l4"), Report("c4s9l4", 0));
  Print("continue c4s9l4 -> c4s9l5 (overall process)",
        Time(runs, inside,
             [&](SequencingState& s) {
               Expect(Sequence(tree, s, {NavigationRequestKind::kContinue, ""},
                               random),
                      "c4s9l5", "continue");
             }),
        50);

  Print("rollup from c4s9l9 to the root",
        Time(runs, state,
             [&](SequencingState& s) {
               processes::Context c{tree, s, random};
               processes::OverallRollupProcess(c, middle);
             }),
        5);

  // Every cluster rolled up again, the deepest first.
  Print("rollup of all 111 clusters, bottom-up",
        Time(runs, state,
             [&](SequencingState& s) {
               processes::Context c{tree, s, random};
               for (std::size_t i = tree.size(); i-- > 0;) {
                 if (tree.isLeaf(i)) continue;
                 processes::MeasureRollupProcess(c, i);
                 processes::CompletionMeasureRollupProcess(c, i);
                 processes::ObjectiveRollupProcess(c, i);
                 processes::ActivityProgressRollupProcess(c, i);
               }
             }),
        0);

  Print("choice c4s9l9 -> c9s9l9 (overall process)",
        Time(runs, state,
             [&](SequencingState& s) {
               Expect(
                   Sequence(tree, s, {NavigationRequestKind::kChoice, "c9s9l9"},
                            random),
                   "c9s9l9", "choice");
             }),
        0);

  // What the player's table of contents asks after each delivery: whether
  // a choice of each activity would go through.
  std::size_t choosable = 0;
  Print("choice valid? for all 1,111 activities",
        Time(std::min(runs, 5), state,
             [&](SequencingState& s) {
               choosable = 0;
               for (std::size_t i = 0; i < tree.size(); ++i)
                 choosable += NavigationRequestValid(
                     tree, s,
                     {NavigationRequestKind::kChoice, tree.at(i).identifier},
                     random);
             }),
        0);
  std::printf("  (%zu of them choosable)\n", choosable);

  // Every SCO taken: the most text the state makes.
  SequencingState full = state;
  TakeLeavesBefore(tree, full, tree.size(), random);
  const std::string text = SerializeState(tree, full);
  const auto parsed = ParseState(tree, text);
  if (!parsed || !(*parsed == full))
    std::printf("state: the round trip does NOT give the state back\n");
  Print("state serialise",
        Time(runs, full,
             [&](SequencingState& s) {
               if (SerializeState(tree, s).empty()) std::exit(1);
             }),
        0);
  Print("state parse",
        Time(runs, full,
             [&](SequencingState&) {
               if (!ParseState(tree, text)) std::exit(1);
             }),
        0);
  Print("state serialise + parse",
        Time(runs, full,
             [&](SequencingState& s) {
               if (!ParseState(tree, SerializeState(tree, s))) std::exit(1);
             }),
        0);
  std::printf(
      "state text: %zu bytes, %zu lines\n", text.size(),
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));

  PlayerFigures(root, tree, state, std::min(runs, 11));
  WideFigures(argc > 2 ? std::max(2, std::atoi(argv[2])) : 10000,
              std::min(runs, 11));
  return 0;
}
