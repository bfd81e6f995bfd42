#include "cmi5/launch.h"

#include <gtest/gtest.h>

#include "harness.h"

namespace zept::cmi5::test {
namespace {

const Stamp kStamp{"0d3a7e1c-1b2a-4c3d-8e4f-5a6b7c8d9e0f",
                   "2026-12-09T05:00:00.000Z"};

// The part every statement of TestLaunch() begins with, up to its verb.
std::string Head(const char* verb) {
  return R"({"id":"0d3a7e1c-1b2a-4c3d-8e4f-5a6b7c8d9e0f",)"
         R"("timestamp":"2026-12-09T05:00:00.000Z",)"
         R"("actor":{"objectType":"Agent","account":)"
         R"({"homePage":"https://zept.example.org/learners","name":"ada"}},)"
         R"("verb":)" +
         std::string(verb);
}

const std::string kAuObject =
    R"("object":{"objectType":"Activity","id":"https://zept.example.org/c/course/au1"})";

// contextActivities and the session id of TestLaunch().
std::string Context(const std::string& categories,
                    const std::string& publisher = "https://example.org/au/1",
                    const std::string& session = "session-1") {
  return R"("context":{"registration":"6f1f4a3c-0d2e-4b8a-9c1d-2e3f4a5b6c7d",)"
         R"("contextActivities":{"category":[)" +
         categories + R"(],"grouping":[{"id":")" + publisher +
         R"("}]},"extensions":{"https://w3id.org/xapi/cmi5/context/extensions/sessionid":")" +
         session + "\"";
}

const std::string kCmi5 =
    R"({"id":"https://w3id.org/xapi/cmi5/context/categories/cmi5"})";
const std::string kMoveOn =
    R"({"id":"https://w3id.org/xapi/cmi5/context/categories/moveon"})";

TEST(Cmi5LaunchTest, LaunchDataHoldsWhatTheLaunchHas) {
  Launch full = TestLaunch();
  full.launchParameters = "Start=1,\"Quiz\"";
  full.entitlementKey = "xyz-123";
  full.returnUrl = "zept://course/menu";
  full.mode = LaunchMode::kReview;
  Launch bare = TestLaunch();
  bare.masteryScore.reset();
  bare.moveOn = MoveOn::kNotApplicable;
  const std::string context =
      R"({"contextTemplate":{"contextActivities":{"grouping":[{"id":"https://example.org/au/1"}]},)"
      R"("extensions":{"https://w3id.org/xapi/cmi5/context/extensions/sessionid":"session-1"}},)";
  const struct {
    const char* name;
    Launch launch;
    std::string json;
  } cases[] = {
      {"everything", full,
       context +
           R"("launchMode":"Review","launchParameters":"Start=1,\"Quiz\"",)"
           R"("masteryScore":0.8,"moveOn":"CompletedAndPassed",)"
           R"("returnURL":"zept://course/menu",)"
           R"("entitlementKey":{"courseStructure":"xyz-123"}})"},
      {"only what is required", bare,
       context + R"("launchMode":"Normal","moveOn":"NotApplicable"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LaunchDataJson(c.launch), c.json);
  }
}

TEST(Cmi5LaunchTest, TheLmsStatements) {
  Launch withParameters = TestLaunch();
  withParameters.launchParameters = "p=1";
  Launch plain = TestLaunch();
  plain.masteryScore.reset();
  plain.mode = LaunchMode::kBrowse;
  const std::string launchedVerb =
      R"({"id":"http://adlnet.gov/expapi/verbs/launched","display":{"en-US":"launched"}})";
  const std::string ext = ",\"https://w3id.org/xapi/cmi5/context/extensions/";
  const Course course = ParseCourse(
      CourseXml(BlockXml(
          "https://example.org/block/1",
          AuXml("https://example.org/au/1", "https://content.example.org/"))),
      nullptr);
  const struct {
    const char* name;
    xapi::Statement statement;
    std::string json;
  } cases[] = {
      {"launched", LaunchedStatement(withParameters, kStamp),
       Head(launchedVerb.c_str()) + "," + kAuObject + "," + Context(kCmi5) +
           ext + R"(launchmode":"Normal")" + ext +
           R"(launchurl":"zept://package/au1/index.html?a=1")" + ext +
           R"(moveon":"CompletedAndPassed")" + ext +
           R"(launchparameters":"p=1")" + ext + R"(masteryscore":0.8}}})"},
      {"launched without parameters or mastery score",
       LaunchedStatement(plain, kStamp),
       Head(launchedVerb.c_str()) + "," + kAuObject + "," + Context(kCmi5) +
           ext + R"(launchmode":"Browse")" + ext +
           R"(launchurl":"zept://package/au1/index.html?a=1")" + ext +
           R"(moveon":"CompletedAndPassed"}}})"},
      {"abandoned",
       AbandonedStatement(TestLaunch(), std::chrono::milliseconds(83456),
                          kStamp),
       Head(
           R"({"id":"https://w3id.org/xapi/adl/verbs/abandoned","display":{"en-US":"abandoned"}})") +
           "," + kAuObject + R"(,"result":{"duration":"PT1M23.45S"},)" +
           Context(kCmi5) + "}}}"},
      {"waived", WaivedStatement(TestLaunch(), "Administrative", kStamp),
       Head(
           R"({"id":"https://w3id.org/xapi/adl/verbs/waived","display":{"en-US":"waived"}})") +
           "," + kAuObject +
           R"(,"result":{"success":true,"completion":true,"extensions":)"
           R"({"https://w3id.org/xapi/cmi5/result/extensions/reason":"Administrative"}},)" +
           Context(kCmi5 + "," + kMoveOn) + "}}}"},
      {"satisfied block",
       SatisfiedStatement(
           TestLaunch().actor, TestLaunch().registration, "session-2",
           BlockObject(course, 0, "https://zept.example.org/b1"), kStamp),
       Head(
           R"({"id":"https://w3id.org/xapi/adl/verbs/satisfied","display":{"en-US":"satisfied"}})") +
           R"(,"object":{"objectType":"Activity","id":"https://zept.example.org/b1",)"
           R"("definition":{"name":{"en-US":"https://example.org/block/1"},)"
           R"("type":"https://w3id.org/xapi/cmi5/activitytype/block"}},)" +
           Context(kCmi5, "https://example.org/block/1", "session-2") + "}}}"},
      {"satisfied course",
       SatisfiedStatement(
           TestLaunch().actor, TestLaunch().registration, "session-1",
           CourseObject(course, "https://zept.example.org/c"), kStamp),
       Head(
           R"({"id":"https://w3id.org/xapi/adl/verbs/satisfied","display":{"en-US":"satisfied"}})") +
           R"(,"object":{"objectType":"Activity","id":"https://zept.example.org/c",)"
           R"("definition":{"name":{"en-US":"Course"},)"
           R"("type":"https://w3id.org/xapi/cmi5/activitytype/course"}},)" +
           Context(kCmi5, kCourseId) + "}}}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.statement.id, kStamp.id);
    EXPECT_EQ(c.statement.json, c.json);
  }
}

TEST(Cmi5LaunchTest, TextFromTheCourseStaysValidJson) {
  Launch launch = TestLaunch();
  launch.actor.name = "a\"b\\c\n";
  launch.launchParameters = "\xC3(";  // bad UTF-8
  EXPECT_EQ(ActorJson(launch.actor),
            R"({"objectType":"Agent","account":{"homePage":)"
            R"("https://zept.example.org/learners","name":"a\"b\\c\u000a"}})");
  EXPECT_NE(
      LaunchDataJson(launch).find("\"launchParameters\":\"\xEF\xBF\xBD(\""),
      std::string::npos);
  // Titles without a language are left out of the name, a map of tags.
  const SatisfiedObject object{
      true, "https://zept.example.org/c", kCourseId, {{"", "untagged"}}};
  const std::string json =
      SatisfiedStatement(launch.actor, launch.registration, "s", object, kStamp)
          .json;
  EXPECT_NE(json.find(R"("definition":{"type":)"), std::string::npos) << json;
}

TEST(Cmi5LaunchTest, Durations) {
  const std::pair<long long, const char*> cases[] = {
      {0, "PT0S"},       {9, "PT0S"},
      {10, "PT0.01S"},   {500, "PT0.5S"},
      {1234, "PT1.23S"}, {60000, "PT1M"},
      {3600000, "PT1H"}, {3723450, "PT1H2M3.45S"},
      {-5, "PT0S"},      {360000000, "PT100H"},
      {3605, "PT3.6S"}};
  for (const auto& [ms, text] : cases)
    EXPECT_EQ(IsoDuration(std::chrono::milliseconds(ms)), text) << ms;
}

}  // namespace
}  // namespace zept::cmi5::test
