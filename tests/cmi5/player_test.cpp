#include "cmi5/player.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cmi5/harness.h"
#include "xapi/json.h"

namespace zept::cmi5 {
namespace {

namespace fs = std::filesystem;
using test::AuXml;
using test::BlockXml;
using test::CourseXml;

constexpr std::int64_t kStart = 1796731200000;  // 2026-12-08T12:00:00Z
constexpr char kCourseIri[] = "https://zept.example.org/c/course";

std::string Decode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The launch parameters of a launch URL.
std::map<std::string, std::string> Params(const std::string& url) {
  std::map<std::string, std::string> out;
  std::string query = url.substr(url.find('?') + 1);
  query = query.substr(0, query.find('#'));
  std::size_t at = 0;
  while (at <= query.size()) {
    std::size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(at, end - at);
    const std::size_t eq = pair.find('=');
    out[pair.substr(0, eq)] = Decode(pair.substr(eq + 1));
    at = end + 1;
  }
  return out;
}

std::string Member(const xapi::JsonValue& v, const char* name) {
  const xapi::JsonValue* found = v.find(name);
  return found ? found->text : std::string();
}

// A player over a progress store on disk: a clock moving a second per
// reading, ids counted from 1; "restart" opens a new player on the same
// store, as the next start of zept would.
class CoursePlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "zept-cmi5p-XXXXXX";
    dir = ::mkdtemp(pattern.data());
  }
  void TearDown() override {
    player.reset();
    store.reset();
    fs::remove_all(dir);
  }
  void open(const std::string& body) {
    course = ParseCourse(CourseXml(body), &package);
    restart();
  }
  void restart() {
    player.reset();
    store.reset();
    store = std::make_unique<scorm::ProgressStore>(dir + "/course.sqlite");
    store->captureFor("https://lrs.example.org/xapi/");
    CoursePlayerOptions options;
    options.homePage = homePage;
    options.courseIri = courseIri;
    options.tinCan = tinCan;
    options.language = language;
    options.nowMs = [this] { return now += 1000; };
    options.newId = [this] {
      char id[40];
      std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", ++ids);
      return std::string(id);
    };
    player = std::make_unique<CoursePlayer>(course, *store, options);
    player->onStatements = [this] { ++notified; };
    player->onEnded = [this](const std::string& launch) {
      ended.push_back(launch);
    };
    player->onNote = [this](const std::string& line) { notes.push_back(line); };
  }
  // A Tin Can package of one activity at a/index.html.
  void openTinCan() {
    course = Course{};
    course.id = kTinCanCourse;
    Au au;
    au.id = kTinCanActivity;
    au.url = au.packagePath = "a/index.html";
    course.aus.push_back(au);
    course.children.push_back({Child::Kind::kAu, 0});
    tinCan = true;
    restart();
  }
  // Launches the Tin Can activity: its parameters and credentials.
  void launchTinCan() {
    const xapi::JsonValue answer = askJson({"launch", kTinCanActivity});
    launchNo = Member(answer, "launch");
    params = Params(Member(answer, "url"));
    auth = params["auth"];
    ASSERT_FALSE(auth.empty()) << xapi::WriteJson(answer);
  }
  // A Tin Can statement of verb about the activity by actor (JSON), with
  // context (JSON members) when given.
  int sendTinCan(const std::string& verb, const std::string& actor,
                 const std::string& context = "") {
    const std::string body =
        "{\"actor\":" + actor +
        ",\"verb\":{\"id\":\"http://adlnet.gov/expapi/verbs/" + verb +
        "\"},\"object\":{\"id\":\"" + kTinCanActivity + "\"}" +
        (verb == "passed" ? ",\"result\":{\"success\":true}" : "") +
        (context.empty() ? "" : ",\"context\":{" + context + "}") + "}";
    const xapi::LrsAnswer answer = request("POST", "statements", "", body);
    if (answer.status != 200) last = answer.body;
    return answer.status;
  }
  std::string ask(const std::vector<std::string>& message) {
    return player->handle(message);
  }
  xapi::JsonValue askJson(const std::vector<std::string>& message) {
    const xapi::JsonParse parse = xapi::ParseJson(ask(message));
    EXPECT_TRUE(parse.ok()) << parse.error;
    return parse.value;
  }
  // Launches the AU: its parameters, the token fetched.
  void launch(const std::string& id) {
    const xapi::JsonValue answer = askJson({"launch", id});
    ASSERT_EQ(Member(answer, "url").rfind("zept://content/pkg/", 0), 0u)
        << xapi::WriteJson(answer);
    launchNo = Member(answer, "launch");
    params = Params(Member(answer, "url"));
    const xapi::LrsAnswer token =
        player->lrs({"POST", "fetch/" + launchNo, "", {}, ""});
    const xapi::JsonParse parse = xapi::ParseJson(token.body);
    ASSERT_TRUE(parse.ok());
    auth = "Basic " + Member(parse.value, "auth-token");
    // The AU reads the learner preferences before it sends anything.
    EXPECT_EQ(request("GET", "agents/profile",
                      "profileId=cmi5LearnerPreferences&agent=" +
                          Enc(params["actor"]))
                  .status,
              404);
    // The session id the launch data gives.
    const xapi::LrsAnswer data = request(
        "GET", "activities/state",
        "stateId=LMS.LaunchData&activityId=" + Enc(params["activityId"]) +
            "&agent=" + Enc(params["actor"]) +
            "&registration=" + params["registration"]);
    ASSERT_EQ(data.status, 200) << data.body;
    const xapi::JsonParse launchData = xapi::ParseJson(data.body);
    ASSERT_TRUE(launchData.ok());
    const xapi::JsonValue& context = *launchData.value.find("contextTemplate");
    session = Member(*context.find("extensions"),
                     std::string(kSessionIdExtension).c_str());
    const xapi::JsonValue* mastery = launchData.value.find("masteryScore");
    masteryScore = mastery ? mastery->text : "";
    grouping =
        xapi::WriteJson(*context.find("contextActivities")->find("grouping"));
  }
  static std::string Enc(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
      if (std::isalnum(c) || c == '-' || c == '.' || c == '_') {
        out += static_cast<char>(c);
      } else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        out += hex;
      }
    }
    return out;
  }
  xapi::LrsAnswer request(const std::string& method, const std::string& path,
                          const std::string& query,
                          const std::string& body = "") {
    return player->lrs({method,
                        path,
                        query,
                        {{"Authorization", auth},
                         {"X-Experience-API-Version", "1.0.3"},
                         {"Content-Type", "application/json"}},
                        body});
  }
  // A statement of the AU launched last, with verb and result members.
  std::string statement(const std::string& verb, const std::string& result,
                        bool moveOn) {
    char id[40];
    std::snprintf(id, sizeof id, "aaaaaaaa-0000-4000-8000-%012d", ++sent);
    return "{\"id\":\"" + std::string(id) +
           "\",\"timestamp\":\"2026-12-08T12:00:00Z\",\"actor\":" +
           params["actor"] +
           ",\"verb\":{\"id\":\"http://adlnet.gov/expapi/verbs/" + verb +
           "\"},\"object\":{\"id\":\"" + params["activityId"] + "\"}" +
           (result.empty() ? "" : ",\"result\":{" + result + "}") +
           ",\"context\":{\"registration\":\"" + params["registration"] +
           "\",\"contextActivities\":{\"category\":[{\"id\":\"" +
           std::string(kCmi5Category) + "\"}" +
           (moveOn ? ",{\"id\":\"" + std::string(kMoveOnCategory) + "\"}"
                   : "") +
           "],\"grouping\":" + grouping + "},\"extensions\":{\"" +
           std::string(kSessionIdExtension) + "\":\"" + session + "\"" +
           ((verb == "passed" || verb == "failed") && !masteryScore.empty()
                ? ",\"" + std::string(kMasteryScoreExtension) +
                      "\":" + masteryScore
                : "") +
           "}}}";
  }
  int send(const std::string& verb, const std::string& result = "",
           bool moveOn = false) {
    const xapi::LrsAnswer answer =
        request("POST", "statements", "", statement(verb, result, moveOn));
    if (answer.status != 200) last = answer.body;
    return answer.status;
  }
  // The learner's statements kept, as verb names ("launched", ...), and the
  // objects of "satisfied".
  std::vector<std::string> kept() {
    std::vector<std::string> out;
    auto lrs = store->lrs(player->learner());
    xapi::StatementFilter filter;
    filter.ascending = true;
    for (const std::string& json : lrs->statements(filter)) {
      const xapi::JsonValue s = xapi::ParseJson(json).value;
      std::string verb = Member(*s.find("verb"), "id");
      verb = verb.substr(verb.rfind('/') + 1);
      const std::string object = Member(*s.find("object"), "id");
      if (verb == "satisfied" && object != kCourseIri)
        verb += " " + object.substr(std::string(kCourseIri).size());
      out.push_back(verb);
    }
    return out;
  }
  std::string status(const std::string& id) {
    const xapi::JsonValue menu = askJson({"menu"});
    if (id.empty()) return Member(menu, "courseStatus");
    for (const xapi::JsonValue& item : menu.find("items")->items)
      if (Member(item, "id") == id) return Member(item, "status");
    return "(none)";
  }

  static constexpr char kTinCanCourse[] = "https://example.org/tc";
  static constexpr char kTinCanActivity[] = "https://example.org/tc/act";
  test::FakePackage package{{"a/index.html", "b/index.html", "c.html"}};
  std::string homePage = "https://zept.example.org/learners";
  std::string courseIri = kCourseIri;
  bool tinCan = false;
  std::string language = "en-US";
  std::vector<std::string> notes;  // the journal's lines
  Course course;
  std::string dir;
  std::unique_ptr<scorm::ProgressStore> store;
  std::unique_ptr<CoursePlayer> player;
  std::int64_t now = kStart;
  int ids = 0;
  std::vector<std::string> ended;
  std::string launchNo, auth, session, grouping, masteryScore;
  std::string last;  // the body of the last refusal
  int sent = 0;
  int notified = 0;  // times the sender was told of new statements
  std::map<std::string, std::string> params;
};

const std::string kTwoInABlock =
    BlockXml("https://example.org/b1",
             AuXml("https://example.org/a", "a/index.html?x=1",
                   "moveOn=\"CompletedAndPassed\" masteryScore=\"0.5\"") +
                 AuXml("https://example.org/b", "b/index.html",
                       "moveOn=\"Completed\"")) +
    AuXml("https://example.org/c", "https://elsewhere.example.org/c.html",
          "moveOn=\"NotApplicable\"");

TEST_F(CoursePlayerTest, ALaunchGivesTheParametersTheDataAndOneToken) {
  open(kTwoInABlock);
  EXPECT_EQ(Member(askJson({"login", "Ann"}), "ok"), "");
  launch("https://example.org/a");
  if (HasFatalFailure()) return;
  EXPECT_EQ(params["endpoint"], "zept://content/lrs/");
  EXPECT_EQ(params["x"], "1");  // the AU's own query stays
  EXPECT_EQ(params["activityId"],
            std::string(kCourseIri) + "/https%3A%2F%2Fexample.org%2Fa");
  EXPECT_EQ(params["actor"],
            R"({"objectType":"Agent","account":{"homePage":)"
            R"("https://zept.example.org/learners","name":"Ann"}})");
  EXPECT_EQ(params["registration"], store->registration("Ann"));
  EXPECT_FALSE(session.empty());
  // The token is given once; without it the LRS answers nothing.
  EXPECT_NE(player->lrs({"POST", "fetch/" + launchNo, "", {}, ""})
                .body.find("\"error-code\":\"1\""),
            std::string::npos);
  EXPECT_EQ(player->lrs({"GET", "about", "", {}, ""}).status, 401);
  EXPECT_EQ(player
                ->lrs({"POST",
                       "statements",
                       "",
                       {{"Authorization", "Basic wrong"},
                        {"X-Experience-API-Version", "1.0.3"}},
                       statement("initialized", "", false)})
                .status,
            401);
  // Nor may the AU change the launch data.
  EXPECT_EQ(
      request("PUT", "activities/state",
              "stateId=LMS.LaunchData&activityId=" + Enc(params["activityId"]) +
                  "&agent=" + Enc(params["actor"]) +
                  "&registration=" + params["registration"],
              "{}")
          .status,
      403);
  EXPECT_EQ(kept(), std::vector<std::string>{"launched"});
  // An AU on the network is listed and not launched.
  EXPECT_EQ(Member(askJson({"launch", "https://example.org/c"}), "ok"), "");
}

// A whole session: the rules judge, the menu follows, the block and the
// course are satisfied once each, and "terminated" brings the menu back.
TEST_F(CoursePlayerTest, ASessionSatisfiesTheBlockAndTheCourseOnce) {
  open(kTwoInABlock);
  askJson({"login", "Ann"});
  // c is NotApplicable but not playable; nothing satisfied yet.
  EXPECT_EQ(kept(), std::vector<std::string>{});
  launch("https://example.org/b");
  if (HasFatalFailure()) return;
  EXPECT_EQ(status("https://example.org/b"), "in progress");
  EXPECT_EQ(send("completed"), 403);  // before "initialized"
  EXPECT_EQ(send("initialized"), 200) << last;
  EXPECT_EQ(send("completed", R"("completion":true,"duration":"PT5S")", true),
            200);
  EXPECT_EQ(send("completed", R"("completion":true,"duration":"PT5S")", true),
            403);
  EXPECT_EQ(status("https://example.org/b"), "completed");
  EXPECT_EQ(status("https://example.org/b1"), "in progress");
  // launched, then each statement the AU sent that was taken
  EXPECT_EQ(notified, 3);
  EXPECT_EQ(send("terminated", R"("duration":"PT6S")"), 200);
  EXPECT_EQ(ended, std::vector<std::string>{launchNo});
  EXPECT_EQ(send("initialized"), 403);  // after "terminated"
  ask({"left", launchNo});              // no "abandoned" after "terminated"

  launch("https://example.org/a");
  if (HasFatalFailure()) return;
  EXPECT_EQ(send("initialized"), 200);
  EXPECT_EQ(
      send("passed",
           R"("success":true,"score":{"scaled":0.4},"duration":"PT1S")", true),
      403);  // below the mastery score
  EXPECT_EQ(
      send("passed",
           R"("success":true,"score":{"scaled":0.75},"duration":"PT1S")", true),
      200)
      << last;
  EXPECT_EQ(status("https://example.org/a"), "passed");
  EXPECT_EQ(send("completed", R"("completion":true,"duration":"PT2S")", true),
            200);
  EXPECT_EQ(status("https://example.org/b1"), "satisfied");
  EXPECT_EQ(status(""), "satisfied");
  const xapi::JsonValue menu = askJson({"menu"});
  EXPECT_EQ(Member(menu.find("items")->items[1], "score"), "75%");
  EXPECT_EQ(send("terminated", R"("duration":"PT6S")"), 200);
  EXPECT_EQ(kept(), (std::vector<std::string>{
                        "launched", "initialized", "completed", "terminated",
                        "launched", "initialized", "passed", "completed",
                        "satisfied /https%3A%2F%2Fexample.org%2Fb1",
                        "satisfied", "terminated"}));
  // The report printed as PDF has the menu's rows.
  const std::string report = player->resultsReport();
  for (const char* row : {"<s>Course</s></td><td border=\"1\"><s>Satisfied",
                          "<s>    https://example.org/b1</s></td><td "
                          "border=\"1\"><s>Satisfied",
                          "<s>        https://example.org/a</s></td><td "
                          "border=\"1\"><s>Passed</s></td><td width=\"60\" "
                          "border=\"1\" align=\"right\"><s>75%"})
    EXPECT_NE(report.find(row), std::string::npos) << row << "\n" << report;
  // The next start reads all that back and adds nothing.
  restart();
  askJson({"login", "Ann"});
  EXPECT_EQ(status("https://example.org/a"), "passed");
  EXPECT_EQ(status(""), "satisfied");
  EXPECT_EQ(kept().size(), 11u);
}

// A session that ends without "terminated" is abandoned: when the learner
// leaves it, and at the next start after a kill, once, with its duration.
TEST_F(CoursePlayerTest, ASessionCutShortIsAbandonedOnce) {
  struct Case {
    const char* name;
    bool kill;
  };
  for (const Case c : {Case{"left", false}, Case{"killed", true}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    ended.clear();
    open(kTwoInABlock);
    askJson({"login", "Ann"});
    launch("https://example.org/b");
    if (HasFatalFailure()) return;
    EXPECT_EQ(send("initialized"), 200);
    EXPECT_EQ(send("completed", R"("completion":true,"duration":"PT5S")", true),
              200);
    const std::string oldAuth = auth;
    if (c.kill) {
      restart();
      askJson({"login", "Ann"});
    } else {
      ask({"left", launchNo});
      ask({"left", launchNo});
    }
    EXPECT_EQ(kept(), (std::vector<std::string>{"launched", "initialized",
                                                "completed", "abandoned"}));
    auto lrs = store->lrs("Ann");
    xapi::StatementFilter filter;
    filter.verb = "https://w3id.org/xapi/adl/verbs/abandoned";
    const xapi::JsonValue abandoned =
        xapi::ParseJson(lrs->statements(filter).at(0)).value;
    EXPECT_NE(Member(*abandoned.find("result"), "duration"), "PT0S");
    EXPECT_EQ(status("https://example.org/b"), "completed");
    if (!c.kill) {
      // The AU's page, still sending, is refused.
      EXPECT_EQ(send("terminated", R"("duration":"PT6S")"), 403);
    }
    restart();
    askJson({"login", "Ann"});
    EXPECT_EQ(kept().size(), 4u);
  }
}

// AUs that need nothing satisfy their block and the course when the
// registration begins, before anything runs.
TEST_F(CoursePlayerTest, NotApplicableIsSatisfiedAtRegistration) {
  open(BlockXml("https://example.org/b1",
                AuXml("https://example.org/a", "a/index.html",
                      "moveOn=\"NotApplicable\"")));
  askJson({"login", "Ann"});
  EXPECT_EQ(kept(),
            (std::vector<std::string>{
                "satisfied /https%3A%2F%2Fexample.org%2Fb1", "satisfied"}));
  EXPECT_EQ(status("https://example.org/a"), "not attempted");
  EXPECT_EQ(status(""), "satisfied");
  askJson({"login", "Bob"});
  EXPECT_EQ(kept().size(), 2u);
  askJson({"login", "Ann"});
  EXPECT_EQ(kept().size(), 2u);
}

// A registration keeps the account and the IRIs it started with, whatever
// LRS configuration comes later, so the AU finds its bookmark again; a
// registration an earlier zept started keeps what its statements said.
TEST_F(CoursePlayerTest, ARegistrationKeepsTheIdentityItStartedWith) {
  open(kTwoInABlock);
  askJson({"login", "Ann"});
  launch("https://example.org/b");
  if (HasFatalFailure()) return;
  const std::string actor = params["actor"];
  const std::string activity = params["activityId"];
  const std::string bookmark = "stateId=bookmark&activityId=" + Enc(activity) +
                               "&agent=" + Enc(actor) +
                               "&registration=" + params["registration"];
  EXPECT_EQ(request("PUT", "activities/state", bookmark, "{}").status, 204);
  ask({"left", launchNo});
  homePage = "https://team.example.org/people";
  courseIri = "https://team.example.org/courses/c1";
  for (const bool forgotten : {false, true}) {
    SCOPED_TRACE(forgotten ? "identity not kept" : "identity kept");
    if (forgotten) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open((dir + "/course.sqlite").c_str(), &db), SQLITE_OK);
      EXPECT_EQ(sqlite3_exec(db,
                             "UPDATE registrations SET home_page='', "
                             "course_iri=''",
                             nullptr, nullptr, nullptr),
                SQLITE_OK);
      sqlite3_close(db);
    }
    restart();
    askJson({"login", "Ann"});
    launch("https://example.org/b");
    if (HasFatalFailure()) return;
    EXPECT_EQ(params["actor"], actor);
    EXPECT_EQ(params["activityId"], activity);
    EXPECT_EQ(request("GET", "activities/state", bookmark).status, 200);
    ask({"left", launchNo});
  }
  // A learner who starts now starts under the configuration in force.
  askJson({"login", "Bob"});
  launch("https://example.org/b");
  if (HasFatalFailure()) return;
  EXPECT_EQ(params["activityId"].rfind(courseIri + "/", 0), 0u);
  EXPECT_NE(params["actor"].find(homePage), std::string::npos);
}

// A statement counts for the AU it is about, whatever else its grouping
// lists first.
TEST_F(CoursePlayerTest, AnOutcomeIsCreditedToTheAuThatSentIt) {
  open(kTwoInABlock);
  askJson({"login", "Ann"});
  launch("https://example.org/b");
  if (HasFatalFailure()) return;
  EXPECT_EQ(send("initialized"), 200);
  grouping =
      R"([{"id":"https://example.org/a"},{"id":"https://example.org/b"}])";
  EXPECT_EQ(send("completed", R"("completion":true,"duration":"PT5S")", true),
            200)
      << last;
  restart();
  askJson({"login", "Ann"});
  EXPECT_EQ(status("https://example.org/a"), "not attempted");
  EXPECT_EQ(status("https://example.org/b"), "completed");
  EXPECT_EQ(status("https://example.org/b1"), "in progress");
}

// Once a session has ended, by "terminated" or by the learner leaving, its
// token reads and writes nothing; statements are refused as before.
TEST_F(CoursePlayerTest, ALaunchAnswersNothingOnceItsSessionHasEnded) {
  for (const bool terminated : {true, false}) {
    SCOPED_TRACE(terminated ? "terminated" : "left");
    TearDown();
    SetUp();
    open(kTwoInABlock);
    askJson({"login", "Ann"});
    launch("https://example.org/b");
    if (HasFatalFailure()) return;
    EXPECT_EQ(send("initialized"), 200);
    const std::string place = "activityId=" + Enc(params["activityId"]) +
                              "&agent=" + Enc(params["actor"]) +
                              "&registration=" + params["registration"];
    if (terminated) {
      EXPECT_EQ(send("terminated", R"("duration":"PT6S")"), 200);
    } else {
      ask({"left", launchNo});
    }
    struct Ask {
      const char* method;
      const char* path;
      std::string query;
      const char* body;
    };
    const Ask asks[] = {
        {"GET", "activities/state", "stateId=LMS.LaunchData&" + place, ""},
        {"PUT", "activities/state", "stateId=bookmark&" + place, "{}"},
        {"GET", "agents/profile",
         "profileId=cmi5LearnerPreferences&agent=" + Enc(params["actor"]), ""},
        {"PUT", "agents/profile",
         "profileId=notes&agent=" + Enc(params["actor"]), "{}"},
        {"GET", "statements", "", ""},
    };
    for (const Ask& a : asks)
      EXPECT_EQ(request(a.method, a.path, a.query, a.body).status, 403)
          << a.method << " " << a.path;
    EXPECT_EQ(send("completed", R"("completion":true,"duration":"PT5S")", true),
              403);
  }
}

// A course team sees why an AU recorded nothing: each refusal is said with
// its rule in the journal, once per rule and launch.
TEST_F(CoursePlayerTest, EachRefusalIsSaidOncePerRuleAndLaunch) {
  open(kTwoInABlock);
  askJson({"login", "Ann"});
  const auto said = [this] {
    std::vector<std::string> out;
    for (const std::string& line : notes)
      if (line.find("a statement was") != std::string::npos)
        out.push_back(line);
    return out;
  };
  const std::string prefix = "AU https://example.org/b (launch ";
  const std::string byCmi5 =
      "): a statement was refused by cmi5's rules for an AU (HTTP 403): ";
  launch("https://example.org/b");
  if (HasFatalFailure()) return;
  const std::string first = launchNo;
  EXPECT_EQ(send("initialized"), 200);
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(send("completed", R"("completion":true)", true), 403);
  EXPECT_EQ(send("terminated", R"("duration":"PT6S","score":{"scaled":0.5})"),
            403);
  EXPECT_EQ(request("POST", "statements", "", "{\"verb\":1}").status, 400);
  ASSERT_EQ(said().size(), 3u) << testing::PrintToString(notes);
  EXPECT_EQ(said()[0], prefix + first + byCmi5 +
                           "\"completed\" needs result.duration (said once "
                           "per launch)");
  EXPECT_EQ(said()[1], prefix + first + byCmi5 +
                           "\"terminated\" may not carry a score (said once "
                           "per launch)");
  EXPECT_NE(said()[2].find("a statement was not valid xAPI 1.0.3 (HTTP 400)"),
            std::string::npos);
  // The next launch says it again.
  ask({"left", launchNo});
  launch("https://example.org/b");
  if (HasFatalFailure()) return;
  EXPECT_EQ(send("initialized"), 200);
  EXPECT_EQ(send("completed", R"("completion":true)", true), 403);
  ASSERT_EQ(said().size(), 4u);
  EXPECT_EQ(said()[3], prefix + launchNo + byCmi5 +
                           "\"completed\" needs result.duration (said once "
                           "per launch)");
}

// What satisfies an AU leads in the menu: completed, then failed,
// satisfies CompletedOrPassed.
TEST_F(CoursePlayerTest, TheMenuLeadsWithWhatSatisfiesTheAu) {
  open(BlockXml("https://example.org/b1",
                AuXml("https://example.org/a", "a/index.html",
                      "moveOn=\"CompletedOrPassed\" masteryScore=\"0.5\"")));
  askJson({"login", "Ann"});
  launch("https://example.org/a");
  if (HasFatalFailure()) return;
  EXPECT_EQ(send("initialized"), 200);
  EXPECT_EQ(send("completed", R"("completion":true,"duration":"PT5S")", true),
            200);
  EXPECT_EQ(
      send("failed",
           R"("success":false,"score":{"scaled":0.2},"duration":"PT6S")", true),
      200)
      << last;
  for (const bool restarted : {false, true}) {
    SCOPED_TRACE(restarted ? "after a restart" : "while playing");
    if (restarted) {
      restart();
      askJson({"login", "Ann"});
    }
    EXPECT_EQ(status("https://example.org/a"), "completed");
    EXPECT_EQ(status("https://example.org/b1"), "satisfied");
  }
}

// The menu, the launch and the results page show the langstrings of the
// learner's language: the tag itself, else its language, else the first.
TEST_F(CoursePlayerTest, TitlesAreThoseOfTheLearnersLanguage) {
  const auto titles = [](const std::string& element, const std::string& name) {
    return "<" + element + "><langstring lang=\"en-US\">" + name +
           "</langstring><langstring lang=\"fr-FR\">" + name +
           " (fr-FR)</langstring><langstring lang=\"fr-CA\">" + name +
           " (fr-CA)</langstring><langstring lang=\"de\">" + name +
           " (de)</langstring></" + element + ">";
  };
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<courseStructure "
      "xmlns=\"https://w3id.org/xapi/profiles/cmi5/v1/CourseStructure.xsd\">"
      "<course id=\"" + test::kCourseId + "\">" + titles("title", "Course") +
      test::Text("description", "About") + "</course><au id=\"https://example.org/a\">" +
      titles("title", "Unit") + test::Text("description", "d") +
      "<url>a/index.html</url></au></courseStructure>";
  const struct {
    const char* language;
    const char* suffix;
  } cases[] = {
      {"en-US", ""},          {"fr-FR", " (fr-FR)"}, {"fr-CA", " (fr-CA)"},
      {"fr", " (fr-FR)"},     {"fr-BE", " (fr-FR)"}, {"de-AT", " (de)"},
      {"es-ES", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    language = c.language;
    course = ParseCourse(xml, &package);
    restart();
    askJson({"login", "Ann"});
    const xapi::JsonValue menu = askJson({"menu"});
    EXPECT_EQ(Member(menu, "title"), std::string("Course") + c.suffix);
    const xapi::JsonValue* items = menu.find("items");
    ASSERT_TRUE(items && !items->items.empty());
    EXPECT_EQ(Member(items->items[0], "title"), std::string("Unit") + c.suffix);
    EXPECT_EQ(Member(askJson({"launch", "https://example.org/a"}), "title"),
              std::string("Unit") + c.suffix);
    EXPECT_NE(player->resultsReport().find(std::string("Unit") + c.suffix),
              std::string::npos);
    player->leave();
  }
}

// Tin Can content sends statements for its launch's learner only: another
// actor's would reach the course team's LRS with zept's credentials.
TEST_F(CoursePlayerTest, TinCanContentRecordsForItsLearnerOnly) {
  openTinCan();
  askJson({"login", "Ann"});
  launchTinCan();
  if (HasFatalFailure()) return;
  const std::string others[] = {
      R"({"account":{"homePage":"https://zept.example.org/learners",)"
      R"("name":"victim"}})",
      R"({"mbox":"mailto:boss@example.org"})",
  };
  for (const std::string& actor : others)
    EXPECT_EQ(sendTinCan("passed", actor), 403) << actor;
  // Nor in a batch beside the learner's own.
  const std::string batch =
      "[{\"actor\":" + params["actor"] +
      ",\"verb\":{\"id\":\"http://adlnet.gov/expapi/verbs/experienced\"},"
      "\"object\":{\"id\":\"" +
      kTinCanActivity + "\"}},{\"actor\":" + others[0] +
      ",\"verb\":{\"id\":\"http://adlnet.gov/expapi/verbs/experienced\"},"
      "\"object\":{\"id\":\"" +
      kTinCanActivity + "\"}}]";
  EXPECT_EQ(request("POST", "statements", "", batch).status, 403);
  EXPECT_NE(status(kTinCanActivity), "passed");
  EXPECT_TRUE(store->lrs("Ann")->statements({}).empty());
  EXPECT_EQ(sendTinCan("passed", params["actor"]), 200) << last;
  EXPECT_EQ(status(kTinCanActivity), "passed");
}

// A Tin Can statement counts for the learner's registration when it names
// it or none (xAPI leaves it optional), in play and after a restart alike.
TEST_F(CoursePlayerTest, TinCanStatusesFollowTheRegistrationOrNone) {
  struct Case {
    const char* name;
    bool named, other;
    bool counts;
  };
  for (const Case c : {Case{"no registration", false, false, true},
                       Case{"the learner's", true, false, true},
                       Case{"another", true, true, false}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    openTinCan();
    askJson({"login", "Ann"});
    launchTinCan();
    if (HasFatalFailure()) return;
    const std::string registration =
        c.other ? "0f1f4a3c-0d2e-4b8a-9c1d-2e3f4a5b6c7d"
                : params["registration"];
    EXPECT_EQ(
        sendTinCan("passed", params["actor"],
                   c.named ? "\"registration\":\"" + registration + "\"" : ""),
        200)
        << last;
    for (const bool restarted : {false, true}) {
      if (restarted) {
        restart();
        askJson({"login", "Ann"});
      }
      EXPECT_EQ(status(kTinCanActivity) == "passed", c.counts)
          << (restarted ? "after a restart" : "while playing");
    }
  }
}

// Once the learner has left a Tin Can launch, its credentials are answered
// no more.
TEST_F(CoursePlayerTest, ATinCanLaunchLeftAnswersNothing) {
  openTinCan();
  askJson({"login", "Ann"});
  launchTinCan();
  if (HasFatalFailure()) return;
  EXPECT_EQ(sendTinCan("experienced", params["actor"]), 200) << last;
  ask({"left", launchNo});
  EXPECT_EQ(sendTinCan("experienced", params["actor"]), 403);
  EXPECT_EQ(request("GET", "statements", "").status, 403);
}

}  // namespace
}  // namespace zept::cmi5
