#include "xapi/statement_check.h"

#include <gtest/gtest.h>

#include <string>

namespace zept::xapi {
namespace {

const std::string kAgent = R"({"mbox":"mailto:a@example.org"})";
const std::string kVerb =
    R"({"id":"http://adlnet.gov/expapi/verbs/completed"})";
const std::string kActivity = R"({"id":"http://example.org/a"})";

// A statement of the three required parts; extra is more members, each
// with its leading comma.
std::string S(const std::string& extra = "", const std::string& actor = kAgent,
              const std::string& verb = kVerb,
              const std::string& object = kActivity) {
  return R"({"actor":)" + actor + R"(,"verb":)" + verb + R"(,"object":)" +
         object + extra + "}";
}
std::string Obj(const std::string& object) {
  return S("", kAgent, kVerb, object);
}
std::string Actor(const std::string& actor) { return S("", actor); }

struct Case {
  std::string statement;
  std::string fault;  // a part of the reason; "" when valid
};

void Check(const Case& c) {
  SCOPED_TRACE(c.statement);
  const JsonParse parse = ParseJson(c.statement);
  ASSERT_TRUE(parse.ok()) << parse.error;
  const std::string fault = StatementFault(parse.value);
  if (c.fault.empty()) {
    EXPECT_EQ(fault, "");
  } else {
    EXPECT_NE(fault.find(c.fault), std::string::npos) << fault;
  }
}

TEST(StatementCheckTest, TopLevel) {
  const Case kCases[] = {
      {S(), ""},
      {S(R"(,"id":"3e1c5d8e-2b1a-4c7f-9e2a-0a1b2c3d4e5f","timestamp":"2026-12-08T10:00:00Z","version":"1.0.3","stored":"2026-12-08T10:00:01.123+01:00","authority":{"account":{"homePage":"https://lrs.example.org","name":"k"}})"),
       ""},
      {S(R"(,"version":"1.0")"), ""},
      {S(R"(,"id":"3e1c5d8e2b1a4c7f9e2a0a1b2c3d4e5f")"), "id is not a UUID"},
      {S(R"(,"id":"3e1c5d8e-2b1a-4c7f-9e2a-0a1b2c3d4e5g")"),
       "id is not a UUID"},
      {S(R"(,"id":null)"), "id is not a string"},
      {S(R"(,"version":"2.0.0")"), "version is not a 1.0.x"},
      {S(R"(,"version":"1.0.x")"), "version is not a 1.0.x"},
      {S(R"(,"colour":"red")"), "colour is not a property it may have"},
      {R"({"verb":)" + kVerb + R"(,"object":)" + kActivity + "}",
       "actor is missing"},
      {R"({"actor":)" + kAgent + R"(,"object":)" + kActivity + "}",
       "verb is missing"},
      {R"({"actor":)" + kAgent + R"(,"verb":)" + kVerb + "}",
       "object is missing"},
      {"[]", "the statement is not an object"},
      {S("", kAgent, R"({"id":"completed"})"),
       "verb.id is not an absolute IRI"},
      {S("", kAgent, R"({"id":"http://x.org/v","display":{"en-US":1}})"),
       "verb.display.en-US is not a string"},
      {S("", kAgent, R"({"id":"http://x.org/v","display":{"en_US":"x"}})"),
       "not named by a language tag"},
      {S("", kAgent, R"({"id":"http://x.org/v","display":"done"})"),
       "verb.display is not a language map"},
      {S("", kAgent, R"({"id":"http://x.org/v","name":"done"})"),
       "verb.name is not a property"},
      {S(R"(,"attachments":[{"usageType":"http://x.org/u","display":{"en":"a"},"contentType":"text/plain","length":3,"sha2":"ab","fileUrl":"https://x.org/f"}])"),
       ""},
      // A Group as authority: the two Agents of OAuth, never identified.
      {S(R"(,"authority":{"objectType":"Group","member":[{"mbox":"mailto:a@x.org"},{"account":{"homePage":"http://x.org","name":"app"}}]})"),
       ""},
      {S(R"(,"authority":{"objectType":"Group","member":[{"mbox":"mailto:a@x.org"}]})"),
       "authority is a Group of other than two"},
      {S(R"(,"authority":{"objectType":"Group","member":[{"mbox":"mailto:a@x.org"},{"mbox":"mailto:b@x.org"},{"mbox":"mailto:c@x.org"}]})"),
       "authority is a Group of other than two"},
      {S(R"(,"authority":{"objectType":"Group","mbox":"mailto:g@x.org","member":[{"mbox":"mailto:a@x.org"},{"mbox":"mailto:b@x.org"}]})"),
       "authority is a Group with an identifier"},
      {S(R"(,"attachments":[{"usageType":"http://x.org/u","display":{"en":"a"},"contentType":"text/plain","length":3,"sha2":"ab"}])"),
       "has no fileUrl"},
      {S(R"(,"attachments":[{"usageType":"http://x.org/u","display":{"en":"a"},"contentType":"text/plain","length":-3,"sha2":"ab","fileUrl":"https://x.org/f"}])"),
       "length is not a whole number"},
  };
  for (const Case& c : kCases) Check(c);
}

TEST(StatementCheckTest, InteractionsNameTheirType) {
  const Case kCases[] = {
      {Obj(R"({"id":"http://x.org/q","definition":{"interactionType":"choice","correctResponsesPattern":["a"],"choices":[{"id":"a"}]}})"),
       ""},
      {Obj(R"({"id":"http://x.org/q","definition":{"name":{"en":"q"}}})"), ""},
  };
  for (const Case& c : kCases) Check(c);
  for (const char* part :
       {R"("correctResponsesPattern":["a"])", R"("choices":[{"id":"a"}])",
        R"("scale":[{"id":"a"}])", R"("source":[{"id":"a"}])",
        R"("target":[{"id":"a"}])", R"("steps":[{"id":"a"}])"}) {
    Check({Obj(std::string(R"({"id":"http://x.org/q","definition":{)") +
               part + "}}"),
           "without an interactionType"});
  }
}

TEST(StatementCheckTest, TimestampsAndDurations) {
  const struct {
    std::string text;
    bool timestamp, duration;
    bool query = timestamp;  // taken as a query's since or until
  } kCases[] = {
      {"2026-12-08T10:00:00Z", true, false},
      {"2026-12-08T10:00:00.123456789+05:30", true, false},
      // What LRSs refuse, refused first: no zone, lower-case letters.
      {"2026-12-08T10:00:00", false, false, true},
      {"2026-12-08t10:00:00Z", false, false, true},
      {"2026-12-08T10:00:00z", false, false, true},
      {"2026-12-08T10:00:00.5", false, false, true},
      {"2026-12-08T10:00:00-00:00", false, false},
      {"2026-13-08T10:00:00Z", false, false},
      {"2026-12-08 10:00:00Z", false, false},
      {"2026-12-08T24:00:00Z", false, false},
      {"2026-12-08T10:00:00.Z", false, false},
      {"2026-12-08", false, false},
      {"PT1H2M3.45S", false, true},
      {"P1Y2M3DT4H", false, true},
      {"P2W", false, true},
      {"P1.5W", false, true},
      {"P1W2DT3H", false, false},  // weeks stand alone
      {"P1Y2W", false, false},
      {"PW", false, false},
      {"PT1,5S", false, false},  // a decimal comma
      {"PT0S", false, true},
      {"P", false, false},
      {"PT", false, false},
      {"PT1S2M", false, false},    // out of order
      {"PT1.5M2S", false, false},  // a fraction not on the last part
      {"P1H", false, false},
      {"1H", false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsTimestamp(c.text), c.timestamp);
    EXPECT_EQ(IsDuration(c.text), c.duration);
    EXPECT_EQ(IsTimestampShape(c.text, false), c.query);
  }
  Check({S(R"(,"timestamp":"yesterday")"), "timestamp is not an ISO 8601"});
  Check({S(R"(,"result":{"duration":"1 hour"})"),
         "result.duration is not an ISO 8601 duration"});
}

TEST(StatementCheckTest, Actors) {
  const Case kCases[] = {
      {Actor(
           R"({"objectType":"Agent","name":"A","mbox_sha1sum":"0123456789abcdef0123456789ABCDEF01234567"})"),
       ""},
      {Actor(R"({"openid":"https://openid.example.org/a"})"), ""},
      {Actor(R"({"account":{"homePage":"https://x.org","name":"a"}})"), ""},
      {Actor(R"({"name":"nobody"})"), "actor has no identifier"},
      {Actor(R"({"mbox":"mailto:a@x.org","openid":"https://x.org/a"})"),
       "more than one identifier"},
      {Actor(R"({"mbox":"a@x.org"})"), "actor.mbox is not a mailto: IRI"},
      {Actor(R"({"mbox_sha1sum":"abc"})"), "40 hexadecimal digits"},
      {Actor(R"({"account":{"homePage":"https://x.org"}})"),
       "actor.account.name is missing"},
      {Actor(R"({"account":{"homePage":"x.org","name":"a"}})"),
       "actor.account.homePage is not an absolute IRI"},
      {Actor(R"({"objectType":"Person","mbox":"mailto:a@x.org"})"),
       "is not \"Agent\" or \"Group\""},
      {Actor(R"({"mbox":"mailto:a@x.org","member":[]})"),
       "actor.member is not a property"},
      {Actor(R"({"objectType":"Group","member":[{"mbox":"mailto:a@x.org"}]})"),
       ""},
      {Actor(R"({"objectType":"Group","mbox":"mailto:g@x.org"})"), ""},
      {Actor(R"({"objectType":"Group","name":"g"})"),
       "anonymous Group without members"},
      {Actor(
           R"({"objectType":"Group","member":[{"objectType":"Group","mbox":"mailto:g@x.org"}]})"),
       "actor.member[0] is not an Agent"},
      {Actor(R"({"objectType":"Group","member":[{"name":"x"}]})"),
       "actor.member[0] has no identifier"},
      {S(R"(,"context":{"team":{"mbox":"mailto:a@x.org"}})"),
       "context.team is not a Group"},
  };
  for (const Case& c : kCases) Check(c);
}

TEST(StatementCheckTest, Objects) {
  const std::string ref =
      R"({"objectType":"StatementRef","id":"3e1c5d8e-2b1a-4c7f-9e2a-0a1b2c3d4e5f"})";
  const Case kCases[] = {
      {Obj(R"({"objectType":"Activity","id":"http://x.org/a","definition":{"name":{"en-US":"A"},"type":"http://x.org/t","moreInfo":"https://x.org/i","extensions":{"http://x.org/e":{"any":[1]}},"interactionType":"choice","correctResponsesPattern":["a"],"choices":[{"id":"a","description":{"en":"A"}}]}})"),
       ""},
      {Obj(R"({"id":"a"})"), "object.id is not an absolute IRI"},
      {Obj(R"({"id":"http://x.org/has space"})"), "not an absolute IRI"},
      {Obj(R"({"objectType":"activity","id":"http://x.org/a"})"),
       "not an object type it may have"},
      {Obj(R"({"id":"http://x.org/a","definition":{"interactionType":"essay"}})"),
       "not an interaction type"},
      {Obj(R"({"id":"http://x.org/a","definition":{"extensions":{"e":1}}})"),
       "extensions.e is not named by an IRI"},
      {Obj(R"({"id":"http://x.org/a","definition":{"choices":[{"description":{"en":"A"}}]}})"),
       "choices[0].id is missing"},
      {Obj(R"({"objectType":"Agent","mbox":"mailto:b@x.org"})"), ""},
      {Obj(R"({"objectType":"Agent"})"), "object has no identifier"},
      {Obj(ref), ""},
      {Obj(R"({"objectType":"StatementRef","id":"http://x.org/s"})"),
       "object.id is not a UUID"},
      {Obj(R"({"objectType":"SubStatement","actor":)" + kAgent + R"(,"verb":)" +
           kVerb + R"(,"object":)" + kActivity + "}"),
       ""},
      {Obj(R"({"objectType":"SubStatement","actor":)" + kAgent + R"(,"verb":)" +
           kVerb + R"(,"object":)" + kActivity +
           R"(,"id":"3e1c5d8e-2b1a-4c7f-9e2a-0a1b2c3d4e5f"})"),
       "object.id is not a property"},
      {Obj(R"({"objectType":"SubStatement","actor":)" + kAgent + R"(,"verb":)" +
           kVerb + R"(,"object":{"objectType":"SubStatement"}})"),
       "object.object.objectType is not an object type"},
      {S(R"(,"context":{"platform":"zept"})", kAgent, kVerb, ref),
       "context.platform is only for a statement about an activity"},
      {S(R"(,"context":{"revision":"2"})", kAgent, kVerb, ref),
       "context.revision is only for"},
      {S(R"(,"context":{"revision":"2","platform":"zept"})"), ""},
  };
  for (const Case& c : kCases) Check(c);
}

TEST(StatementCheckTest, ResultAndContext) {
  const Case kCases[] = {
      {S(R"(,"result":{"score":{"scaled":-1,"raw":5,"min":0,"max":10},"success":true,"completion":false,"response":"b","extensions":{}})"),
       ""},
      {S(R"(,"result":{"score":{"scaled":1.01}})"),
       "result.score.scaled is not from -1 to 1"},
      {S(R"(,"result":{"score":{"raw":11,"max":10}})"),
       "result.score.raw is above max"},
      {S(R"(,"result":{"score":{"raw":-1,"min":0}})"),
       "result.score.raw is below min"},
      {S(R"(,"result":{"score":{"min":5,"max":4}})"),
       "result.score.min is above max"},
      {S(R"(,"result":{"score":{"scaled":"0.5"}})"),
       "result.score.scaled is not a number"},
      {S(R"(,"result":{"success":"true"})"), "result.success is not true"},
      {S(R"(,"result":{"grade":"A"})"), "result.grade is not a property"},
      {S(R"(,"context":{"registration":"3e1c5d8e-2b1a-4c7f-9e2a-0a1b2c3d4e5f","language":"en-GB","contextActivities":{"parent":{"id":"http://x.org/p"},"grouping":[{"id":"http://x.org/g"}]},"statement":{"objectType":"StatementRef","id":"3e1c5d8e-2b1a-4c7f-9e2a-0a1b2c3d4e5f"},"instructor":{"mbox":"mailto:i@x.org"}})"),
       ""},
      {S(R"(,"context":{"registration":"r1"})"),
       "context.registration is not a UUID"},
      {S(R"(,"context":{"language":"english language"})"),
       "context.language is not a language tag"},
      {S(R"(,"context":{"contextActivities":{"parent":[{"id":"p"}]}})"),
       "contextActivities.parent[0].id is not an absolute IRI"},
      {S(R"(,"context":{"contextActivities":{"siblings":[]}})"),
       "contextActivities.siblings is not a property"},
      {S(R"(,"context":{"statement":{"id":"3e1c5d8e-2b1a-4c7f-9e2a-0a1b2c3d4e5f"}})"),
       "context.statement.objectType is missing"},
  };
  for (const Case& c : kCases) Check(c);
}

}  // namespace
}  // namespace zept::xapi
