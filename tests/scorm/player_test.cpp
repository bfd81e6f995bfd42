// The player of a standard package, as the window's page drives it: its
// messages in, text out, and what reaches the store.

#include "scorm/player.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace zept::scorm {
namespace {

namespace fs = std::filesystem;

Item Sco(const std::string& id, const std::string& title,
         const std::string& prerequisites = "") {
  Item item;
  item.identifier = id;
  item.title = title;
  item.launch = id + "/index.html";
  item.isSco = true;
  item.prerequisites = prerequisites;
  return item;
}

// The verbs of the statements waiting in the store, in capture order.
std::string Verbs(ProgressStore& store) {
  std::string verbs;
  for (const xapi::OutboxEntry& entry : store.outbox("").pending(100)) {
    const std::string& json = entry.statement.json;
    const std::string mark = "/expapi/verbs/";
    const std::size_t at = json.find(mark);
    verbs +=
        json.substr(at + mark.size(), json.find('"', at) - at - mark.size()) +
        " ";
  }
  return verbs;
}

PlayerOptions SendingResults() {
  PlayerOptions options;
  options.lrs = xapi::LrsConfig{
      "http://127.0.0.1:9/xAPI/",     "k", "s", "https://learners.example.org",
      "https://courses.example.org/", ""};
  return options;
}

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zept-player-XXXXXX";
    folder_ = ::mkdtemp(pattern);
    manifest_.identifier = "M";
    manifest_.title = "Caf\xC3\xA9 & co";
    manifest_.items = {Sco("A", "First"), Sco("B", "Second", "A")};
    Item chapter;
    chapter.identifier = "F";
    chapter.title = "Chapter";
    Item asset = Sco("E", "Glossary");
    asset.isSco = false;
    chapter.children = {Sco("C", "Third", "A&B"), Sco("D", "Bad", "A &| ("),
                        asset};
    manifest_.items.push_back(chapter);
    store_ = std::make_unique<ProgressStore>(folder_ + "/p.sqlite");
    player_ = std::make_unique<Player>(manifest_, *store_, PlayerOptions{});
    player_->onNote = [this](const std::string& line) {
      notes_ += line + "\n";
    };
    ASSERT_EQ(send({"login", "anna"}), "{\"ok\":true,\"learner\":\"anna\"}");
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string send(const std::vector<std::string>& message) {
    return player_->handle(message);
  }
  // Plays item with these API calls (function, arguments...), each
  // expected to answer "true" or a value, without LMSFinish.
  void play(const std::string& item,
            const std::vector<std::vector<std::string>>& calls) {
    const std::string answer = send({"launch", item});
    ASSERT_NE(answer.find("\"ok\":true"), std::string::npos) << answer;
    const std::size_t at = answer.find("\"launch\":\"");
    ASSERT_NE(at, std::string::npos) << answer;
    launch_ = answer.substr(at + 10, answer.find('"', at + 10) - at - 10);
    for (const std::vector<std::string>& call : calls)
      ASSERT_EQ(api(call), "true") << call[0] << " " << call[1];
  }
  // A call through the API of the last launch (or of launch, when given).
  std::string api(std::vector<std::string> call, std::string launch = "") {
    call.insert(call.begin(), launch.empty() ? launch_ : launch);
    call.insert(call.begin(), "api");
    return send(call);
  }

  std::string folder_;
  Manifest manifest_;
  std::unique_ptr<ProgressStore> store_;
  std::unique_ptr<Player> player_;
  std::string notes_;
  std::string launch_;
};

TEST_F(PlayerTest, PrerequisitesHoldItemsBackUntilMet) {
  struct Case {
    const char* item;
    const char* reasonBefore;  // "" when launchable at first
  };
  const Case cases[] = {{"A", ""},
                        {"B", "First complete: First"},
                        {"C", "First complete: First, Second"},
                        // A rule nobody can read holds nobody back.
                        {"D", ""}};
  for (const Case& c : cases) {
    const std::string answer = send({"launch", c.item});
    EXPECT_EQ(answer.find("\"ok\":true") != std::string::npos,
              *c.reasonBefore == 0)
        << c.item << ": " << answer;
    if (*c.reasonBefore) {
      EXPECT_NE(answer.find(c.reasonBefore), std::string::npos) << answer;
    }
  }
  EXPECT_NE(notes_.find("prerequisites of item D do not parse"),
            std::string::npos)
      << notes_;
  play("A", {{"LMSInitialize", ""},
             {"LMSSetValue", "cmi.core.lesson_status", "completed"},
             {"LMSCommit", ""}});
  EXPECT_EQ(store_->load("anna", "A").count("cmi.core.lesson_status"), 1u);
  EXPECT_NE(send({"launch", "B"}).find("\"ok\":true"), std::string::npos);
  EXPECT_NE(send({"menu"}).find("\"id\":\"C\",\"title\":\"Third\",\"depth\":1"),
            std::string::npos)
      << send({"menu"});
}

// zept --mode: every launch of the run is in that mode, and an item left
// without a status is settled as the runtime settles it in that mode.
TEST_F(PlayerTest, LaunchesInTheModeOfTheRun) {
  struct Case {
    const char* mode;
    const char* settled;  // the status once the SCO finished without one
  };
  for (const Case& c : {Case{"normal", "completed"}, Case{"browse", "browsed"},
                        Case{"review", "not attempted"}}) {
    SCOPED_TRACE(c.mode);
    PlayerOptions options;
    options.mode = c.mode;
    player_ = std::make_unique<Player>(manifest_, *store_, options);
    const std::string login = std::string("learner-") + c.mode;
    ASSERT_NE(send({"login", login}).find("\"ok\":true"), std::string::npos);
    play("A", {{"LMSInitialize", ""}});
    EXPECT_EQ(api({"LMSGetValue", "cmi.core.lesson_mode"}), c.mode);
    EXPECT_EQ(api({"LMSFinish", ""}), "true");
    EXPECT_EQ(player_->status("A"), c.settled);
  }
}

// A prerequisite naming a folder is met once everything under it is done.
TEST_F(PlayerTest, AFolderHasTheStatusOfWhatIsUnderIt) {
  Item section;
  section.identifier = "S";
  section.title = "Section";
  section.children = {Sco("H", "Nested")};
  manifest_.items[2].children.push_back(section);
  manifest_.items.push_back(Sco("G", "After the chapter", "F"));
  manifest_.items.push_back(Sco("K", "Started", "F=incomplete"));
  player_ = std::make_unique<Player>(manifest_, *store_, PlayerOptions{});
  send({"login", "anna"});
  struct Step {
    const char* item;
    const char* status;  // stored for the item
    const char* chapter;
    const char* section;
  };
  const Step steps[] = {
      {"", "", "not attempted", "not attempted"},
      {"C", "failed", "incomplete", "not attempted"},
      {"C", "passed", "incomplete", "not attempted"},
      {"D", "completed", "incomplete", "not attempted"},
      {"E", "completed", "incomplete", "not attempted"},
      {"H", "browsed", "incomplete", "incomplete"},
      {"H", "passed", "completed", "completed"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.item) + " " + step.status);
    if (*step.item)
      store_->save("anna", step.item,
                   {{"cmi.core.lesson_status", step.status}});
    EXPECT_EQ(player_->status("F"), step.chapter);
    EXPECT_EQ(player_->status("S"), step.section);
    const std::string held = player_->heldBackBy(manifest_.items[3]);
    EXPECT_EQ(held.empty(), step.chapter == std::string("completed")) << held;
    if (!held.empty()) {
      EXPECT_EQ(held, "First complete: Chapter");
    }
    EXPECT_EQ(player_->heldBackBy(manifest_.items[4]).empty(),
              step.chapter == std::string("incomplete"));
  }
}

TEST_F(PlayerTest, LeavingStoresTheOpenSessionAndContinueFindsIt) {
  EXPECT_EQ(player_->continueItem(), "A");
  play("A", {{"LMSInitialize", ""},
             {"LMSSetValue", "cmi.core.lesson_status", "completed"}});
  player_->leave();
  play("B", {{"LMSInitialize", ""},
             {"LMSSetValue", "cmi.core.exit", "suspend"},
             {"LMSSetValue", "cmi.suspend_data", "page=4"}});
  send({"left"});  // the page has gone without LMSFinish
  EXPECT_EQ(store_->load("anna", "A").at("cmi.core.lesson_status"),
            "completed");
  EXPECT_EQ(store_->load("anna", "B").at("cmi.suspend_data"), "page=4");
  EXPECT_EQ(player_->continueItem(), "B");
  EXPECT_TRUE(player_->playing().empty());
}

TEST_F(PlayerTest, AnswersTheScreensAndRefusesWhatItCannotTake) {
  struct Case {
    std::vector<std::string> message;
    const char* contains;
  };
  const Case cases[] = {
      {{"api", "", "LMSInitialize", ""}, "false"},  // nothing launched
      {{"api", "", "LMSGetValue", "cmi.core.lesson_status"}, ""},
      {{"api", "", "LMSGetLastError"}, "301"},
      {{"api", "", "LMSGetErrorString", "301"}, "Not initialized"},
      {{"login", " \t "}, "\"ok\":false"},
      {{"login", "tab\there"}, "\"ok\":false"},
      {{"login", "Anna & \"Ben\""}, "\"ok\":true"},
      {{"start"}, "\"learners\":[\"anna\",\"Anna & \\\"Ben\\\"\"]"},
      {{"start"}, "\"title\":\"Caf\xC3\xA9 & co\""},
      {{"launch", "F"}, "no item F"},  // a folder of the tree
      {{"launch", "nowhere"}, "no item nowhere"},
      {{"unknown"}, ""},
  };
  for (const Case& c : cases) {
    const std::string answer = send(c.message);
    EXPECT_NE(answer.find(c.contains), std::string::npos)
        << c.message[0] << " -> " << answer;
  }
}

TEST_F(PlayerTest, AnEarlierLaunchsApiNeverReachesTheItemPlayingNow) {
  play("A", {{"LMSInitialize", ""}});
  const std::string first = launch_;
  send({"left"});
  play("B", {{"LMSInitialize", ""},
             {"LMSSetValue", "cmi.core.lesson_status", "incomplete"}});
  // A window of A's, or a timer of its page, still calling A's API.
  struct Case {
    std::vector<std::string> call;
    const char* answer;
  };
  const Case cases[] = {
      {{"LMSSetValue", "cmi.core.lesson_status", "completed"}, "false"},
      {{"LMSGetLastError"}, "301"},
      {{"LMSGetValue", "cmi.core.lesson_status"}, ""},
      {{"LMSFinish", ""}, "false"},
      {{"LMSGetErrorString", "301"}, "Not initialized"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(api(c.call, first), c.answer) << c.call[0];
  EXPECT_EQ(api({"LMSGetValue", "cmi.core.lesson_status"}), "incomplete");
  EXPECT_EQ(api({"LMSGetLastError"}), "0");
  // A call the page refused as too large still has its error code.
  EXPECT_EQ(send({"api-too-large", launch_, "LMSSetValue"}), "false");
  EXPECT_EQ(api({"LMSGetLastError"}), "405");
  EXPECT_NE(notes_.find("API of an earlier launch was refused"),
            std::string::npos)
      << notes_;
}

TEST_F(PlayerTest, TheLaunchCarriesWhatGetValueGivesForCallsOnlyPosted) {
  play("A", {{"LMSInitialize", ""},
             {"LMSSetValue", "cmi.core.lesson_status", "completed"},
             {"LMSSetValue", "cmi.core.exit", "suspend"},
             {"LMSSetValue", "cmi.core.session_time", "00:01:00"}});
  send({"left"});
  const std::string answer = send({"launch", "A"});
  EXPECT_NE(answer.find("\"cmi.core.lesson_status\":\"completed\""),
            std::string::npos)
      << answer;
  EXPECT_NE(answer.find("\"cmi.core.entry\":\"resume\""), std::string::npos);
  // Write-only values are not readable.
  EXPECT_EQ(answer.find("cmi.core.exit"), std::string::npos) << answer;
  EXPECT_EQ(answer.find("cmi.core.session_time"), std::string::npos);
}

// A disk that fills up (a small tmpfs): what failed to be stored stays with
// its learner and item, the SCO is told, and it lands once there is room.
TEST(PlayerFullDiskTest, ValuesStayWithTheirLearnerUntilStored) {
  char pattern[] = "/tmp/zept-full-XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  if (std::system(
          ("mount -t tmpfs -o size=256k tmpfs " + folder + " 2>/dev/null")
              .c_str()) != 0) {
    fs::remove(folder);
    GTEST_SKIP() << "a tmpfs cannot be mounted here";
  }
  struct Unmount {
    std::string folder;
    ~Unmount() {
      std::system(("umount " + folder).c_str());
      fs::remove(folder);
    }
  } unmount{folder};
  Manifest manifest;
  manifest.items = {Sco("A", "First")};
  std::string notes;
  {
    ProgressStore store(folder + "/p.sqlite");
    Player player(manifest, store, SendingResults());
    int asked = 0;
    player.onRetryStore = [&](const std::string&) { return ++asked < 2; };
    ASSERT_NE(player.handle({"login", "anna"}).find("\"ok\":true"),
              std::string::npos);
    const std::string launched = player.handle({"launch", "A"});
    const std::string number =
        launched.substr(launched.find("\"launch\":\"") + 10, 1);
    const auto api = [&](std::vector<std::string> call) {
      call.insert(call.begin(), {"api", number});
      return player.handle(call);
    };
    ASSERT_EQ(api({"LMSInitialize", ""}), "true");
    ASSERT_EQ(api({"LMSSetValue", "cmi.suspend_data", "page=7"}), "true");
    {
      std::ofstream filler(folder + "/filler", std::ios::binary);
      const std::string block(4096, 'x');
      while (filler.write(block.data(), block.size())) {
      }
    }
    EXPECT_EQ(api({"LMSCommit", ""}), "false");
    EXPECT_EQ(api({"LMSGetLastError"}), "101");
    EXPECT_NE(api({"LMSGetDiagnostic", ""}).find("full"), std::string::npos)
        << api({"LMSGetDiagnostic", ""});
    // Leaving asks to retry (twice here), then keeps the session.
    player.handle({"left"});
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(player.unstored());
    const std::string other = player.handle({"login", "ben"});
    EXPECT_NE(other.find("\"ok\":false"), std::string::npos) << other;
    EXPECT_EQ(player.learner(), "anna");
    fs::remove(folder + "/filler");
    EXPECT_TRUE(player.storeOpen());
    EXPECT_NE(player.handle({"login", "ben"}).find("\"ok\":true"),
              std::string::npos);
    EXPECT_EQ(store.load("anna", "A").at("cmi.suspend_data"), "page=7");
    EXPECT_TRUE(store.load("ben", "A").empty());
    // The statements of the stores that failed waited with the values,
    // the status the runtime settled on leaving among them.
    EXPECT_EQ(Verbs(store), "initialized completed terminated ");
  }
}

// Statements reach the outbox with the values that caused them: a set is
// only in the outbox once it is committed; leaving ends the session.
TEST_F(PlayerTest, StatementsAreStoredWithTheirValues) {
  player_ = std::make_unique<Player>(manifest_, *store_, SendingResults());
  int told = 0;
  player_->onStatements = [&] { ++told; };
  ASSERT_EQ(send({"login", "anna"}), "{\"ok\":true,\"learner\":\"anna\"}");
  play("A", {{"LMSInitialize", ""},
             {"LMSSetValue", "cmi.core.score.raw", "80"},
             {"LMSSetValue", "cmi.core.lesson_status", "passed"}});
  EXPECT_EQ(Verbs(*store_), "");
  ASSERT_EQ(api({"LMSCommit", ""}), "true");
  EXPECT_EQ(Verbs(*store_), "initialized scored passed ");
  ASSERT_EQ(api({"LMSSetValue", "cmi.core.exit", "suspend"}), "true");
  send({"left"});
  EXPECT_EQ(Verbs(*store_), "initialized scored passed suspended ");
  EXPECT_EQ(told, 2);
  // The next session resumes; nothing is captured for a session that
  // never began.
  play("A", {{"LMSInitialize", ""}, {"LMSFinish", ""}});
  play("B", {});
  send({"left"});
  EXPECT_EQ(Verbs(*store_),
            "initialized scored passed suspended resumed terminated ");
  const std::string registration = store_->registration("anna");
  for (const xapi::OutboxEntry& entry : store_->outbox("").pending(100))
    EXPECT_NE(entry.statement.json.find(registration), std::string::npos);
}

// Each statement's attempt, numbered in the order they first appear
// ("1 1 2 ..."); "-" for a statement without one.
std::string Attempts(ProgressStore& store) {
  std::vector<std::string> seen;
  std::string out;
  for (const xapi::OutboxEntry& entry : store.outbox("").pending(100)) {
    const std::string& json = entry.statement.json;
    const std::string mark = "?attemptId=";
    const std::size_t at = json.find(mark);
    if (at == std::string::npos) {
      out += "- ";
      continue;
    }
    const std::string id =
        json.substr(at + mark.size(), json.find('"', at) - at - mark.size());
    auto it = std::find(seen.begin(), seen.end(), id);
    if (it == seen.end()) it = seen.insert(seen.end(), id);
    out += std::to_string(it - seen.begin() + 1) + " ";
  }
  return out;
}

// What the runtime decides is reported; an attempt goes on while resumed,
// also after zept restarts, and a session after completion begins another.
TEST_F(PlayerTest, StatementsFollowStoredStatusesAndAttempts) {
  struct Session {
    std::vector<std::vector<std::string>> calls;
    bool restart;  // zept starts again before it
    const char* verbs;
    const char* attempts;
  } const sessions[] = {
      {{{"LMSInitialize", ""}, {"LMSFinish", ""}},
       false,
       "initialized completed terminated ",
       "1 1 1 "},
      {{{"LMSInitialize", ""},
        {"LMSSetValue", "cmi.core.exit", "suspend"},
        {"LMSFinish", ""}},
       false,
       "initialized suspended ",
       "2 2 "},
      {{{"LMSInitialize", ""}, {"LMSFinish", ""}},
       true,
       "resumed terminated ",
       "2 2 "},
      {{{"LMSInitialize", ""},
        {"LMSSetValue", "cmi.core.lesson_status", "incomplete"},
        {"LMSFinish", ""}},
       true,
       "initialized terminated ",
       "3 3 "},
      {{{"LMSInitialize", ""},
        {"LMSSetValue", "cmi.core.score.raw", "90"},
        {"LMSFinish", ""}},
       false,
       "initialized scored terminated ",
       "3 3 3 "},
  };
  std::string verbs, attempts;
  for (const Session& session : sessions) {
    if (session.restart || verbs.empty()) {
      player_.reset();
      store_ = std::make_unique<ProgressStore>(folder_ + "/p.sqlite");
      player_ = std::make_unique<Player>(manifest_, *store_, SendingResults());
      ASSERT_NE(send({"login", "anna"}).find("\"ok\":true"), std::string::npos);
    }
    play("A", session.calls);
    verbs += session.verbs;
    attempts += session.attempts;
    SCOPED_TRACE(verbs);
    EXPECT_EQ(Verbs(*store_), verbs);
    EXPECT_EQ(Attempts(*store_), attempts);
  }
}

// A second course with the same manifest identifier (its store at the
// second place) reports under an IRI of its own.
TEST_F(PlayerTest, ALaterCourseOfTheSameIdentifierHasItsOwnIri) {
  for (const unsigned place : {1u, 2u}) {
    SCOPED_TRACE(place);
    store_ = std::make_unique<ProgressStore>(folder_ + "/p" +
                                             std::to_string(place) + ".sqlite");
    PlayerOptions options = SendingResults();
    options.place = place;
    player_ = std::make_unique<Player>(manifest_, *store_, options);
    ASSERT_NE(send({"login", "anna"}).find("\"ok\":true"), std::string::npos);
    play("A", {{"LMSInitialize", ""}, {"LMSFinish", ""}});
    const std::string course = place == 1 ? "https://courses.example.org/M"
                                          : "https://courses.example.org/M;2";
    for (const xapi::OutboxEntry& entry : store_->outbox("").pending(100)) {
      const std::string& json = entry.statement.json;
      EXPECT_NE(json.find("{\"id\":\"" + course + "\","), std::string::npos)
          << json;
      EXPECT_NE(json.find("\"object\":{\"id\":\"" + course + "/A\","),
                std::string::npos)
          << json;
    }
  }
}

TEST_F(PlayerTest, AnAssetIsCompletedByBeingOpened) {
  EXPECT_EQ(player_->status("E"), "not attempted");
  EXPECT_NE(send({"launch", "E"}).find("\"ok\":true"), std::string::npos);
  send({"left"});
  EXPECT_EQ(player_->status("E"), "completed");
}

TEST_F(PlayerTest, TheResultsReportIsPlainAsciiXml) {
  play("A",
       {{"LMSInitialize", ""}, {"LMSSetValue", "cmi.core.score.raw", "85"}});
  const std::string report = player_->resultsReport();
  EXPECT_NE(report.find("<p fontsize=\"16\">Caf&#233; &amp; co</p>"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("<s>First</s>"), std::string::npos);
  EXPECT_NE(report.find("<s>85</s>"), std::string::npos) << report;
  for (unsigned char c : report) EXPECT_LT(c, 0x80);
}

// The example package reads as its authors meant: no problems, the quiz
// behind both other items, its mastery score.
TEST(ExamplePackageTest, ReadsWithoutProblems) {
  const std::unique_ptr<PackageFiles> files =
      OpenFolderPackage(ZEPT_SOURCE_DIR "/examples/scorm12-package");
  const Manifest manifest = ReadManifest(*files->read("imsmanifest.xml"));
  EXPECT_TRUE(manifest.problems.empty());
  std::string launches;
  for (const Item* item : LaunchableItems(manifest))
    launches += item->identifier + "=" + item->launch + " ";
  EXPECT_EQ(launches,
            "INTRO=intro/index.html TECHNIQUE=technique/index.html "
            "QUIZ=quiz/index.html ");
  const Item& quiz = manifest.items[1].children[1];
  EXPECT_EQ(quiz.prerequisites, "INTRO & TECHNIQUE");
  EXPECT_EQ(quiz.masteryScore, "80");
  for (const Item* item : LaunchableItems(manifest))
    EXPECT_TRUE(files->exists(item->launch)) << item->launch;
}

}  // namespace
}  // namespace zept::scorm
