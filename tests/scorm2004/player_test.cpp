// The player of a SCORM 2004 package as the window's page drives it:
// messages in, JSON out, and what reaches the store across restarts.

#include "scorm2004/player.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "scorm/results.h"
#include "scorm2004/results.h"
#include "util/utf8.h"

namespace zept::scorm2004 {
namespace {

namespace fs = std::filesystem;

Activity Leaf(const std::string& id, bool sco = true) {
  Activity a;
  a.identifier = a.title = id;
  a.launch = id + ".html";
  a.isSco = sco;
  return a;
}

// A forced-sequential course: flow only, forward only, no choice; two SCOs
// and an asset.
Package2004 Course() {
  Package2004 package;
  package.identifier = "M";
  package.title = "Course";
  package.root.identifier = package.root.title = "ORG";
  ControlMode& mode = package.root.sequencing.controlMode;
  mode.flow = mode.forwardOnly = true;
  mode.choice = false;
  package.root.children = {Leaf("A"), Leaf("B"), Leaf("C", false)};
  Objective primary;
  primary.id = "A-goal";
  primary.primary = primary.satisfiedByMeasure = true;
  primary.minNormalizedMeasure = 0.6;
  package.root.children[0].sequencing.objectives = {primary};
  return package;
}

// The value of a top-level field of an answer, as written ("" if absent).
std::string Field(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  const std::size_t at = json.find(key);
  if (at == std::string::npos) return "";
  const std::size_t start = at + key.size();
  std::size_t end = start;
  if (json[start] == '"') {
    end = json.find('"', start + 1) + 1;
  } else {
    while (end < json.size() && json[end] != ',' && json[end] != '}') ++end;
  }
  return json.substr(start, end - start);
}

class Player2004Test : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zept-player2004-XXXXXX";
    folder_ = ::mkdtemp(pattern);
    store_ = std::make_unique<scorm::ProgressStore>(folder_ + "/p.sqlite");
    open();
  }
  void TearDown() override {
    player_.reset();
    store_.reset();
    fs::remove_all(folder_);
  }
  // A player as a new zept process makes it, the learner chosen.
  void open() {
    PlayerOptions options;
    options.random = SeededRandom(7);
    options.lrs = lrs_;
    options.strict = strict_;
    options.mode = mode_;
    player_ = std::make_unique<Player>(package_, *store_, options);
    ASSERT_EQ(send({"login", "anna"}), "{\"ok\":true,\"learner\":\"anna\"}");
  }
  std::string send(const std::vector<std::string>& message) {
    return player_->handle(message);
  }
  std::string get(const std::string& element) {
    return send({"api", current_, "GetValue", element});
  }
  std::string deliver(const std::vector<std::string>& message) {
    const std::string answer = send(message);
    current_ = Field(answer, "launch");
    if (current_.size() >= 2)
      current_ = current_.substr(1, current_.size() - 2);
    return answer;
  }

  Package2004 package_ = Course();
  std::optional<xapi::LrsConfig> lrs_;
  bool strict_ = false;
  std::string mode_ = "normal";
  std::string folder_;
  std::unique_ptr<scorm::ProgressStore> store_;
  std::unique_ptr<Player> player_;
  std::string current_;
};

// zept --mode: every launch of the run has that cmi.mode.
TEST_F(Player2004Test, LaunchesInTheModeOfTheRun) {
  for (const char* mode : {"normal", "browse", "review"}) {
    SCOPED_TRACE(mode);
    mode_ = mode;
    TearDown();
    SetUp();
    deliver({"nav", "start"});
    ASSERT_EQ(send({"api", current_, "Initialize", ""}), "true");
    EXPECT_EQ(get("cmi.mode"), mode);
  }
}

// An invisible item (a wrapper the course retries as one) hides itself
// only: what is under it shows in its place on the menu.
TEST_F(Player2004Test, AnInvisibleItemShowsWhatIsUnderIt) {
  Activity wrapper;
  wrapper.identifier = wrapper.title = "W";
  wrapper.visible = false;
  wrapper.children = {Leaf("B"), Leaf("C")};
  package_.root.children = {Leaf("A"), wrapper};
  player_.reset();
  open();
  const std::string menu = send({"menu"});
  EXPECT_EQ(menu.find("\"id\":\"W\""), std::string::npos) << menu;
  for (const char* id : {"A", "B", "C"})
    EXPECT_NE(menu.find("\"id\":\"" + std::string(id) + "\",\"title\":\"" + id +
                        "\",\"depth\":0,"),
              std::string::npos)
        << id << ": " << menu;
}

// Start is offered only where the sequencer would deliver: a course
// without flow is entered by choice, which the menu offers instead.
TEST_F(Player2004Test, StartIsOfferedOnlyWhereTheSequencerDelivers) {
  const struct {
    const char* name;
    bool flow, choice, start, choiceOfA;
  } kCases[] = {
      {"flow only", true, false, true, false},
      {"choice only (the default)", false, true, false, true},
      {"both", true, true, true, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ControlMode& mode = package_.root.sequencing.controlMode;
    mode.flow = c.flow;
    mode.choice = c.choice;
    mode.forwardOnly = false;
    // A learner of a store of its own each time.
    TearDown();
    SetUp();
    const std::string menu = send({"menu"});
    EXPECT_NE(
        menu.find(std::string("\"start\":") + (c.start ? "true" : "false")),
        std::string::npos)
        << menu;
    EXPECT_NE(menu.find(std::string("\"id\":\"A\"") +
                        ",\"title\":\"A\",\"depth\":0,\"launchable\":true,"
                        "\"completion\":\"not attempted\",\"success\":"
                        "\"unknown\",\"score\":\"\",\"choosable\":" +
                        (c.choiceOfA ? "true" : "false")),
              std::string::npos)
        << menu;
    // What is offered goes through.
    if (c.start) {
      EXPECT_EQ(Field(deliver({"nav", "start"}), "id"), "\"A\"");
    }
    if (!c.start && c.choiceOfA) {
      EXPECT_EQ(Field(deliver({"nav", "choice", "A"}), "id"), "\"A\"");
    }
  }
}

// The menu and the results say an activity's standing alike: its score
// (raw of max, else the scaled score as a percentage), its success as
// its objective holds it, and the course's rolled up; and a session that
// goes past the last activity says it finished.
TEST_F(Player2004Test, TheMenuAndTheResultsSayTheSameStanding) {
  deliver({"nav", "start"});
  ASSERT_EQ(send({"api", current_, "Initialize", ""}), "true");
  for (const auto& [element, value] :
       std::vector<std::pair<std::string, std::string>>{
           {"cmi.score.raw", "8"},
           {"cmi.score.max", "10"},
           {"cmi.score.scaled", "0.8"},
           {"cmi.completion_status", "completed"}})
    ASSERT_EQ(send({"api", current_, "SetValue", element, value}), "true");
  deliver({"nav", "continue"});
  ASSERT_EQ(send({"api", current_, "Initialize", ""}), "true");
  ASSERT_EQ(send({"api", current_, "SetValue", "cmi.score.scaled", "0.25"}),
            "true");
  deliver({"nav", "continue"});
  const std::string ended = deliver({"nav", "continue"});
  EXPECT_EQ(Field(ended, "ended"), "true") << ended;
  EXPECT_EQ(Field(ended, "end"), "\"finished\"") << ended;
  const std::string menu = send({"menu"});
  const std::string report = player_->resultsReport();
  const struct {
    const char* id;
    const char* success;
    const char* score;
  } kRows[] = {{"A", "passed", "8 of 10"}, {"B", "passed", "25%"}};
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.id);
    const std::size_t at = menu.find(std::string("\"id\":\"") + row.id);
    ASSERT_NE(at, std::string::npos) << menu;
    const std::string item = menu.substr(at, menu.find('}', at) - at);
    EXPECT_EQ(Field("{" + item, "success"),
              "\"" + std::string(row.success) + "\"")
        << item;
    EXPECT_EQ(Field("{" + item, "score"), "\"" + std::string(row.score) + "\"")
        << item;
    const std::size_t line = report.find(std::string("<s>") + row.id + "</s>");
    ASSERT_NE(line, std::string::npos) << report;
    const std::string cells =
        report.substr(line, report.find('\n', line) - line);
    EXPECT_NE(cells.find(std::string("<s>") + row.success + "</s>"),
              std::string::npos)
        << cells;
    EXPECT_NE(cells.find(std::string("<s>") + row.score + "</s>"),
              std::string::npos)
        << cells;
  }
  // The course's measure: A's and B's over its three activities (the
  // asset has none).
  EXPECT_NE(menu.find("\"score\":\"35%\"}}"), std::string::npos) << menu;
  EXPECT_NE(report.find("<s>Course: Course</s>"), std::string::npos) << report;
  EXPECT_NE(report.find("<s>35%</s>"), std::string::npos) << report;
}

TEST_F(Player2004Test, FollowsTheScoAndRefusesWhatTheSequencingForbids) {
  std::string answer = deliver({"nav", "start"});
  EXPECT_EQ(Field(answer, "id"), "\"A\"");
  EXPECT_EQ(Field(answer, "url"), "\"zept://content/pkg/A.html\"");
  EXPECT_NE(answer.find("\"cmi.entry\":\"ab-initio\""), std::string::npos);
  EXPECT_NE(answer.find("\"previous\":false"), std::string::npos) << answer;
  EXPECT_EQ(send({"api", current_, "Initialize", ""}), "true");
  EXPECT_EQ(get("cmi.scaled_passing_score"), "0.6");
  EXPECT_EQ(get("cmi.objectives.0.id"), "A-goal");

  // Refused requests leave the SCO running.
  const struct {
    std::vector<std::string> message;
    std::string exception;
  } kRefused[] = {
      {{"nav", "previous"}, "NB.2.1-5"},
      {{"nav", "choice", "B"}, "NB.2.1-10"},
      {{"nav", "jump", "NOPE"}, "NB.2.1-11"},
      {{"nav", "sideways"}, ""},
  };
  for (const auto& row : kRefused) {
    answer = send(row.message);
    EXPECT_EQ(Field(answer, "ok"), "false") << answer;
    if (!row.exception.empty()) {
      EXPECT_EQ(Field(answer, "exception"), "\"" + row.exception + "\"");
      EXPECT_EQ(Field(answer, "message"),
                JsonString(ExceptionText(row.exception)));
    }
  }
  EXPECT_EQ(player_->playing(), "A");
  answer = send({"menu"});
  EXPECT_NE(
      answer.find("\"id\":\"B\",\"title\":\"B\",\"depth\":0,"
                  "\"launchable\":true,\"completion\":\"not attempted\","
                  "\"success\":\"unknown\",\"score\":\"\",\"choosable\":false,"
                  "\"reason\":" +
                  JsonString(ExceptionText("NB.2.1-10"))),
      std::string::npos)
      << answer;

  // The SCO completes, asks to continue and terminates: B follows.
  for (const auto& [element, value] :
       {std::pair{"cmi.completion_status", "completed"},
        std::pair{"cmi.score.scaled", "0.8"},
        std::pair{"adl.nav.request", "continue"}})
    EXPECT_EQ(send({"api", current_, "SetValue", element, value}), "true");
  const std::string first = current_;
  EXPECT_EQ(send({"api", current_, "Terminate", ""}), "true");
  // Asked after its Terminate, the session that ended answers.
  const struct {
    std::vector<std::string> call;
    std::string value, error;
  } kAfterTerminate[] = {{{"GetLastError"}, "0", "0"},
                         {{"GetValue", "cmi.location"}, "", "123"},
                         {{"SetValue", "cmi.location", "x"}, "false", "133"},
                         {{"Initialize", ""}, "false", "104"}};
  for (const auto& row : kAfterTerminate) {
    std::vector<std::string> message{"api", first};
    message.insert(message.end(), row.call.begin(), row.call.end());
    EXPECT_EQ(send(message), row.value) << row.call[0];
    EXPECT_EQ(send({"api", first, "GetLastError"}), row.error) << row.call[0];
  }
  answer = deliver({"next"});
  EXPECT_EQ(Field(answer, "id"), "\"B\"") << answer;
  EXPECT_EQ(current_, "2");
  EXPECT_EQ(send({"api", first, "GetValue", "cmi.location"}), "");
  EXPECT_EQ(Field(send({"next"}), "menu"), "true");
  const ObjectiveState& goal = player_->state().activities[1].objectives[0];
  EXPECT_TRUE(goal.progressStatus && goal.satisfiedStatus);
  // B is left without a request; continue delivers the asset, complete.
  EXPECT_EQ(Field(send({"left", current_}), "menu"), "true");
  EXPECT_EQ(Field(deliver({"nav", "continue"}), "id"), "\"C\"");
  EXPECT_TRUE(player_->state().activities[3].attemptCompletionStatus);
}

// A SCO the learner's Continue takes away, which asks for something else in
// its unload handlers (a suspendAll, say) and terminates: Continue wins, and
// nothing of the course is suspended.
TEST_F(Player2004Test, TheLearnersRequestWinsOverTheScosOwnAsItGoes) {
  deliver({"nav", "start"});
  EXPECT_EQ(send({"api", current_, "Initialize", ""}), "true");
  EXPECT_EQ(
      send({"api", current_, "SetValue", "cmi.completion_status", "completed"}),
      "true");
  send({"taking", "continue"});
  EXPECT_EQ(
      send({"api", current_, "SetValue", "adl.nav.request", "suspendAll"}),
      "true");
  EXPECT_EQ(send({"api", current_, "Terminate", ""}), "true");
  EXPECT_EQ(Field(send({"next"}), "menu"), "true");
  EXPECT_EQ(send({"left", current_}), "");
  EXPECT_EQ(Field(deliver({"nav", "continue"}), "id"), "\"B\"");
  EXPECT_EQ(Field(send({"menu"}), "begin"), "\"\"");
  EXPECT_EQ(player_->state().suspendedActivity, ActivityTree::kNone);
  EXPECT_FALSE(player_->state().activities[1].isSuspended);
  EXPECT_EQ(store_->load("anna", "A").at("cmi.entry"), "");
}

TEST_F(Player2004Test, SuspendAllAndCrashesResumeAcrossProcesses) {
  const struct {
    const char* name;
    bool kill;  // destroyed without leave after a Commit
    const char* location;
  } kCases[] = {{"suspend all", false, "p2"}, {"killed", true, "p1"}};
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    deliver({"nav", "start"});
    send({"api", current_, "Initialize", ""});
    send({"api", current_, "SetValue", "cmi.location", "p1"});
    EXPECT_EQ(send({"api", current_, "Commit", ""}), "true");
    send({"api", current_, "SetValue", "cmi.location", "p2"});
    if (!row.kill) {
      EXPECT_EQ(send({"nav", "suspendAll"}),
                "{\"ok\":true,\"ended\":true,\"end\":\"suspended\",\"message\":"
                "\"\"}");
    }
    player_.reset();
    open();
    EXPECT_EQ(Field(send({"menu"}), "begin"), "\"resume\"");
    const std::string answer = deliver({"nav", "resumeAll"});
    EXPECT_EQ(Field(answer, "id"), "\"A\"") << answer;
    EXPECT_NE(answer.find("\"cmi.entry\":\"resume\""), std::string::npos);
    EXPECT_NE(answer.find(std::string("\"cmi.location\":\"") + row.location),
              std::string::npos)
        << answer;
    EXPECT_EQ(player_->state().activities[1].activityAttemptCount, 1u);
    EXPECT_EQ(player_->state().activities[0].activityAttemptCount, 1u);
  }
}

// The statements in the outbox, each as its verb and its attempt numbered
// in the order they first appear: "initialized:1 scored:1 ...".
std::string VerbsAndAttempts(scorm::ProgressStore& store) {
  std::vector<std::string> seen;
  std::string out;
  for (const xapi::OutboxEntry& entry : store.outbox("").pending(100)) {
    const std::string& json = entry.statement.json;
    const auto text = [&json](const std::string& mark) {
      const std::size_t at = json.find(mark);
      if (at == std::string::npos) return std::string();
      return json.substr(at + mark.size(),
                         json.find('"', at + mark.size()) - at - mark.size());
    };
    const std::string attempt = text("?attemptId=");
    auto it = std::find(seen.begin(), seen.end(), attempt);
    if (it == seen.end()) it = seen.insert(seen.end(), attempt);
    out += text("/expapi/verbs/") + ":" +
           (attempt.empty() ? "-" : std::to_string(it - seen.begin() + 1)) +
           " ";
  }
  return out;
}

// The success the scaled passing score decides is reported; the attempt
// goes on across a restart and a new one begins when the sequencer says.
TEST_F(Player2004Test, StatementsOfTheAttemptsAsStored) {
  lrs_ = xapi::LrsConfig{
      "http://127.0.0.1:9/xAPI/",     "k", "s", "https://learners.example.org",
      "https://courses.example.org/", ""};
  ControlMode& mode = package_.root.sequencing.controlMode;
  mode.choice = true;
  mode.forwardOnly = false;
  player_.reset();
  open();
  std::string expected;
  const auto check = [&](const std::string& more) {
    expected += more;
    EXPECT_EQ(VerbsAndAttempts(*store_), expected);
  };
  deliver({"nav", "start"});
  send({"api", current_, "Initialize", ""});
  send({"api", current_, "SetValue", "cmi.score.scaled", "0.9"});
  send({"api", current_, "SetValue", "cmi.progress_measure", "0.5"});
  EXPECT_EQ(send({"api", current_, "Commit", ""}), "true");
  check("initialized:1 scored:1 progressed:1 ");
  send({"nav", "suspendAll"});
  check("passed:1 suspended:1 ");

  player_.reset();
  store_ = std::make_unique<scorm::ProgressStore>(folder_ + "/p.sqlite");
  open();
  EXPECT_EQ(Field(deliver({"nav", "resumeAll"}), "id"), "\"A\"");
  send({"api", current_, "Initialize", ""});
  send({"api", current_, "SetValue", "cmi.progress_measure", "0.5"});
  EXPECT_EQ(Field(deliver({"nav", "continue"}), "id"), "\"B\"");
  check("resumed:1 terminated:1 ");
  EXPECT_EQ(Field(deliver({"nav", "choice", "A"}), "id"), "\"A\"");
  send({"api", current_, "Initialize", ""});
  send({"nav", "suspendAll"});
  check("initialized:2 suspended:2 ");
  // The course's IRI is the first of its identifier's.
  const std::string first = store_->outbox("").pending(1).at(0).statement.json;
  EXPECT_NE(first.find("\"https://courses.example.org/M/A?attemptId="),
            std::string::npos)
      << first;
}

TEST_F(Player2004Test, NavigatingOnEndsTheScoAsItsTerminateWould) {
  deliver({"nav", "start"});
  send({"api", current_, "Initialize", ""});
  EXPECT_EQ(Field(deliver({"nav", "continue"}), "id"), "\"B\"");
  EXPECT_FALSE(player_->state().activities[1].isSuspended);
  EXPECT_EQ(store_->load("anna", "A").at("cmi.entry"), "");
}

TEST_F(Player2004Test, AnAbandonedAttemptReportsNothing) {
  for (const auto& [request, reported] :
       {std::pair{"abandonAll", false}, std::pair{"exitAll", true}}) {
    SCOPED_TRACE(request);
    TearDown();
    SetUp();
    deliver({"nav", "start"});
    send({"api", current_, "Initialize", ""});
    send({"api", current_, "SetValue", "cmi.completion_status", "completed"});
    send({"api", current_, "SetValue", "adl.nav.request", request});
    EXPECT_EQ(send({"api", current_, "Terminate", ""}), "true");
    EXPECT_EQ(player_->state().activities[1].attemptProgressStatus, reported);
  }
}

TEST_F(Player2004Test, SharedDataReachesTheNextScoAtOnce) {
  TearDown();
  for (Activity& a : package_.root.children) a.sharedData = {{"notes"}};
  SetUp();
  deliver({"nav", "start"});
  send({"api", current_, "Initialize", ""});
  EXPECT_EQ(send({"api", current_, "SetValue", "adl.data.0.store", "x"}),
            "true");
  send({"api", current_, "SetValue", "adl.nav.request", "continue"});
  send({"api", current_, "Terminate", ""});
  EXPECT_EQ(Field(deliver({"next"}), "id"), "\"B\"");
  send({"api", current_, "Initialize", ""});
  EXPECT_EQ(get("adl.data.0.store"), "x");
}

TEST_F(Player2004Test, SharedDataOfTheCourseOnlyLastsItsAttempt) {
  for (const auto& [global, kept] :
       {std::pair{true, "x"}, std::pair{false, ""}}) {
    SCOPED_TRACE(global);
    TearDown();
    for (Activity& a : package_.root.children) a.sharedData = {{"notes"}};
    package_.sharedDataGlobalToSystem = global;
    SetUp();
    deliver({"nav", "start"});
    send({"api", current_, "Initialize", ""});
    send({"api", current_, "SetValue", "adl.data.0.store", "x"});
    send({"api", current_, "SetValue", "adl.nav.request", "exitAll"});
    send({"api", current_, "Terminate", ""});
    EXPECT_EQ(Field(deliver({"nav", "start"}), "id"), "\"A\"");
    send({"api", current_, "Initialize", ""});
    EXPECT_EQ(get("adl.data.0.store"), kept);
  }
}

// Completed by measure with no progress measure set: the books make the
// attempt unknown; lenient, the SCO's own word stands. Either way what the
// SCO reads back is what the sequencer rolls up.
TEST_F(Player2004Test, CompletionByMeasureWithoutAMeasureIsOneAnswer) {
  const struct {
    bool strict;
    const char* progress;  // "" never set
    const char* completion;
  } kCases[] = {
      {false, "", "completed"},
      {true, "", "unknown"},
      {false, "0.5", "incomplete"},
      {true, "0.9", "completed"},
  };
  CompletionThreshold& threshold =
      package_.root.children[0].completionThreshold;
  threshold.completedByMeasure = true;
  threshold.minProgressMeasure = 0.8;
  int n = 0;
  for (const auto& row : kCases) {
    SCOPED_TRACE(std::string(row.strict ? "strict " : "lenient ") +
                 row.progress);
    player_.reset();
    store_ = std::make_unique<scorm::ProgressStore>(
        folder_ + "/c" + std::to_string(n++) + ".sqlite");
    strict_ = row.strict;
    open();
    deliver({"nav", "start"});
    send({"api", current_, "Initialize", ""});
    send({"api", current_, "SetValue", "cmi.completion_status", "completed"});
    if (*row.progress)
      send({"api", current_, "SetValue", "cmi.progress_measure", row.progress});
    EXPECT_EQ(get("cmi.completion_status"), row.completion);
    send({"api", current_, "SetValue", "adl.nav.request", "continue"});
    send({"api", current_, "Terminate", ""});
    deliver({"next"});
    const ActivityState& a = player_->state().activities[1];
    const std::string rolled = !a.attemptProgressStatus    ? "unknown"
                               : a.attemptCompletionStatus ? "completed"
                                                           : "incomplete";
    EXPECT_EQ(rolled, row.completion);
  }
}

// A menu of many items on one global objective, all but one disabled:
// each says why at once (trying each on a copy of the whole state, with
// its rollup, took minutes).
TEST_F(Player2004Test, AMenuOfManySaysWhyAtOnce) {
  package_.root.sequencing.controlMode.choice = true;
  package_.root.children.clear();
  for (int n = 0; n < 500; ++n) {
    Activity leaf = Leaf("w" + std::to_string(n));
    Objective primary;
    primary.id = "p";
    primary.primary = true;
    ObjectiveMap map;
    map.targetObjectiveId = "shared";
    map.readSatisfiedStatus = map.writeSatisfiedStatus = true;
    primary.maps = {map};
    leaf.sequencing.objectives = {primary};
    if (n > 0) {
      SequencingRule rule;
      rule.action = RuleAction::kDisabled;
      rule.conditions.push_back({RuleConditionKind::kAlways, false, "", 0.0});
      leaf.sequencing.preConditionRules = {rule};
    }
    package_.root.children.push_back(std::move(leaf));
  }
  player_.reset();
  open();
  ASSERT_EQ(Field(deliver({"nav", "start"}), "id"), "\"w0\"");
  const auto begin = std::chrono::steady_clock::now();
  const std::string menu = send({"menu"});
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
  const std::string refused =
      "\"choosable\":false,\"reason\":" + JsonString(ExceptionText("DB.1.1-3"));
  std::size_t count = 0;
  for (std::size_t at = 0; (at = menu.find(refused, at)) != std::string::npos;
       ++at)
    ++count;
  EXPECT_EQ(count, 499u);
  EXPECT_NE(
      menu.find("\"id\":\"w0\",\"title\":\"w0\",\"depth\":0,"
                "\"launchable\":true,\"completion\":\"unknown\","
                "\"success\":\"unknown\",\"score\":\"\",\"choosable\":true,"
                "\"reason\":\"\"}"),
      std::string::npos)
      << menu.substr(0, 600);
}

TEST_F(Player2004Test, ResultsJson) {
  deliver({"nav", "start"});
  send({"api", current_, "Initialize", ""});
  for (const auto& [element, value] :
       {std::pair{"cmi.completion_status", "completed"},
        std::pair{"cmi.score.scaled", "0.5"}, std::pair{"cmi.exit", "normal"},
        std::pair{"cmi.session_time", "PT1M"},
        std::pair{"adl.nav.request", "continue"}})
    send({"api", current_, "SetValue", element, value});
  send({"api", current_, "Terminate", ""});
  deliver({"next"});
  player_->leave();
  store_->addLearner("bob");
  const std::string kHead = R"({
  "course": {
    "identifier": "M",
    "title": "Course"
  },
  "learners": [
)";
  const std::string kAnna = R"(    {
      "login": "anna",
      "pending_statements": 0,
      "course": {
        "completion_status": "unknown",
        "success_status": "unknown",
        "score_scaled": 0.16666666666666666
      },
      "suspended": "B",
      "deliveries": [
        "A",
        "B"
      ],
      "items": [
        {
          "identifier": "A",
          "title": "A",
          "attempts": 1,
          "values": {
            "cmi.completion_status": "completed",
            "cmi.entry": "",
            "cmi.exit": "normal",
            "cmi.objectives.0.id": "A-goal",
            "cmi.score.scaled": "0.5",
            "cmi.session_time": "PT1M",
            "cmi.success_status": "failed",
            "cmi.total_time": "PT0H1M0S"
          }
        },
        {
          "identifier": "B",
          "title": "B",
          "attempts": 1,
          "values": {}
        },
        {
          "identifier": "C",
          "title": "C",
          "attempts": 0,
          "values": {}
        }
      ]
    })";
  // Nothing sequenced yet: the course unknown, nothing delivered.
  const std::string kBob = R"(    {
      "login": "bob",
      "pending_statements": 0,
      "course": {
        "completion_status": "unknown",
        "success_status": "unknown",
        "score_scaled": null
      },
      "suspended": null,
      "deliveries": [],
      "items": [
        {
          "identifier": "A",
          "title": "A",
          "attempts": 0,
          "values": {}
        },
        {
          "identifier": "B",
          "title": "B",
          "attempts": 0,
          "values": {}
        },
        {
          "identifier": "C",
          "title": "C",
          "attempts": 0,
          "values": {}
        }
      ]
    })";
  const std::pair<const char*, std::string> kCases[] = {
      {"", kHead + kAnna + ",\n" + kBob + "\n  ]\n}\n"},
      {"bob", kHead + kBob + "\n  ]\n}\n"},
  };
  for (const auto& [learner, json] : kCases) {
    SCOPED_TRACE(learner);
    EXPECT_EQ(ResultsJson(package_, *store_, learner), json);
  }
  EXPECT_THROW(ResultsJson(package_, *store_, "carl"), scorm::EUnknownLearner);
}

}  // namespace
}  // namespace zept::scorm2004
