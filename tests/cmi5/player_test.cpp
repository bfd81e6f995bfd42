#include "cmi5/player.h"

#include <gtest/gtest.h>
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
    options.homePage = "https://zept.example.org/learners";
    options.courseIri = kCourseIri;
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

  test::FakePackage package{{"a/index.html", "b/index.html", "c.html"}};
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

}  // namespace
}  // namespace zept::cmi5
