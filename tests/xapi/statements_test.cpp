#include "xapi/statements.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace zept::xapi {
namespace {

const char kCourse[] = "https://courses.example.org/c/MAN-1";
const char kItemIri[] = "https://courses.example.org/c/MAN-1/sco1";
const char kRegistration[] = "0f8c3e5a-1b2c-4d3e-8f90-123456789abc";

SessionContext Context() {
  SessionContext context;
  context.login = "ana";
  context.homePage = "https://lms.example.org";
  context.registration = kRegistration;
  context.course = {kCourse, "Safety"};
  context.item = {kItemIri, "Lesson 1"};
  return context;
}

const std::string kItem =
    R"({"id":"https://courses.example.org/c/MAN-1/sco1","definition":)"
    R"({"name":{"en-US":"Lesson 1"},)"
    R"("type":"http://adlnet.gov/expapi/activities/lesson"}})";
// The course, then the attempt when there is one.
std::string GroupingCategory(const std::string& attempt = "") {
  return R"("grouping":[{"id":"https://courses.example.org/c/MAN-1","definition":)"
         R"({"name":{"en-US":"Safety"},)"
         R"("type":"http://adlnet.gov/expapi/activities/course"}})" +
         (attempt.empty()
              ? ""
              : R"(,{"id":"https://courses.example.org/c/MAN-1/sco1?attemptId=)" +
                    attempt +
                    R"(","definition":)"
                    R"({"type":"http://adlnet.gov/expapi/activities/attempt"}})") +
         R"(],"category":[{"id":"https://w3id.org/xapi/scorm","definition":)"
         R"({"type":"http://adlnet.gov/expapi/activities/profile"}}]},)"
         R"("platform":"zept"}})";
}
const std::string kGroupingCategory = GroupingCategory();

// The results of the status verbs.
const std::string kPassed = R"({"success":true,"completion":true})";
const std::string kFailed = R"({"success":false,"completion":true})";
const std::string kCompleted = R"({"completion":true})";

// A whole statement as the LRS gets it; parent is for responded.
std::string Expected(const std::string& id, const std::string& timestamp,
                     const std::string& verb, const std::string& object,
                     const std::string& result, bool parent = false,
                     const std::string& attempt = "") {
  return R"({"id":")" + id + R"(","timestamp":")" + timestamp +
         R"(","actor":{"objectType":"Agent","name":"ana","account":)"
         R"({"homePage":"https://lms.example.org","name":"ana"}},)"
         R"("verb":{"id":"http://adlnet.gov/expapi/verbs/)" +
         verb + R"(","display":{"en-US":")" + verb + R"("}},"object":)" +
         object + (result.empty() ? "" : ",\"result\":" + result) +
         R"(,"context":{"registration":"0f8c3e5a-1b2c-4d3e-8f90-123456789abc",)"
         R"("contextActivities":{)" +
         (parent ? "\"parent\":[" + kItem + "]," : "") +
         GroupingCategory(attempt);
}

std::string Ts(int second) {
  return "2026-12-08T18:40:" + std::string(second < 10 ? "0" : "") +
         std::to_string(second) + ".000Z";
}

// One event of a session: initialized (a = entry), a set (a = b), a store
// point or the end (values).
struct Step {
  enum Op { kInit, kSet, kStore, kEnd } op;
  std::string a, b;
  ElementValues values;
};
Step Init(std::string entry) { return {Step::kInit, std::move(entry), "", {}}; }
Step Set(std::string element, std::string value) {
  return {Step::kSet, std::move(element), std::move(value), {}};
}
Step Store(ElementValues values = {}) {
  return {Step::kStore, "", "", std::move(values)};
}
Step End(ElementValues values = {}) {
  return {Step::kEnd, "", "", std::move(values)};
}

// Runs the steps with ids "id-1".. and a clock that ticks a second a read.
std::vector<std::string> Session(const std::vector<Step>& steps,
                                 SessionContext context = Context()) {
  int ids = 0, seconds = 0;
  SessionStatements session(
      std::move(context), [&] { return "id-" + std::to_string(++ids); },
      [&] { return Ts(++seconds); });
  for (const Step& step : steps) {
    switch (step.op) {
      case Step::kInit:
        session.initialized(step.a);
        break;
      case Step::kSet:
        session.valueSet(step.a, step.b);
        break;
      case Step::kStore:
        session.storing(step.values);
        break;
      case Step::kEnd:
        session.terminated(step.values);
        break;
    }
  }
  std::vector<std::string> texts;
  for (Statement& statement : session.take()) {
    EXPECT_NE(statement.json.find("\"id\":\"" + statement.id + "\""),
              std::string::npos);
    texts.push_back(std::move(statement.json));
  }
  return texts;
}

struct SessionCase {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::string> statements;
};

TEST(SessionStatementsTest, SessionsGiveTheProfilesStatements) {
  const SessionCase cases[] = {
      {"new attempt passed: parts wait for the end, each at its set's time",
       {Init("ab-initio"), Set("cmi.core.lesson_status", "incomplete"),
        Set("cmi.core.score.raw", "80"),
        Set("cmi.core.lesson_status", "passed"), Set("cmi.suspend_data", "x"),
        End({{"cmi.core.lesson_status", "passed"},
             {"cmi.core.score.raw", "80"},
             {"cmi.core.exit", ""},
             {"cmi.core.session_time", "0000:12:30"}})},
       {Expected("id-1", Ts(1), "initialized", kItem, ""),
        Expected("id-2", Ts(3), "scored", kItem,
                 R"({"score":{"scaled":0.8,"raw":80}})"),
        Expected("id-3", Ts(4), "passed", kItem, kPassed),
        Expected("id-4", Ts(5), "terminated", kItem,
                 R"({"score":{"scaled":0.8,"raw":80},"success":true,)"
                 R"("completion":true,"duration":"PT12M30S"})")}},
      {"resumed, then suspended",
       {Init("resume"), End({{"cmi.core.lesson_status", "incomplete"},
                             {"cmi.core.exit", "suspend"},
                             {"cmi.core.session_time", "0001:02:03.5"}})},
       {Expected("id-1", Ts(1), "resumed", kItem, ""),
        Expected("id-2", Ts(2), "suspended", kItem,
                 R"({"completion":false,"duration":"PT1H2M3.5S"})")}},
      {"a score set in parts is one statement per store point that changed it",
       {Set("cmi.core.score.raw", "15"), Set("cmi.core.score.max", "20"),
        Set("cmi.core.score.min", "10"), Store(), Store(),
        Set("cmi.core.score.raw", "15"), Store(),
        Set("cmi.core.score.raw", "20"), Set("cmi.core.score.raw", "15"),
        Store(), Set("cmi.core.score.raw", "12"), Store()},
       {Expected("id-1", Ts(3), "scored", kItem,
                 R"({"score":{"scaled":0.5,"raw":15,"min":10,"max":20}})"),
        Expected("id-2", Ts(6), "scored", kItem,
                 R"({"score":{"scaled":0.2,"raw":12,"min":10,"max":20}})")}},
      {"a status once per change; failed does not repeat",
       {Set("cmi.core.lesson_status", "failed"), Store(),
        Set("cmi.core.lesson_status", "failed"), Store(),
        Set("cmi.core.lesson_status", "incomplete"), Store(),
        Set("cmi.core.lesson_status", "completed"), Store(),
        End({{"cmi.core.lesson_status", "completed"}})},
       {Expected("id-1", Ts(1), "failed", kItem, kFailed),
        Expected("id-2", Ts(3), "completed", kItem, kCompleted),
        Expected("id-3", Ts(4), "terminated", kItem,
                 R"({"completion":true})")}},
      {"values as stored win over values as set",
       {Set("cmi.core.lesson_status", "completed"),
        Store({{"cmi.core.lesson_status", "passed"}})},
       {Expected("id-1", Ts(1), "passed", kItem, kPassed)}},
      {"interactions: one responded each, in the order of their sets",
       {Set("cmi.interactions.1.id", "q 2"),
        Set("cmi.interactions.1.type", "true-false"),
        Set("cmi.interactions.1.student_response", "t"),
        Set("cmi.interactions.0.id", "q1"),
        Set("cmi.interactions.0.type", "choice"),
        Set("cmi.interactions.0.correct_responses.0.pattern", "a,b"),
        Set("cmi.interactions.0.student_response", "a,c"),
        Set("cmi.interactions.0.result", "wrong"),
        Set("cmi.interactions.0.latency", "0000:00:07.25"),
        Set("cmi.interactions.2.type", "choice"),
        Set("cmi.interactions.2.student_response", "a"), Store(),
        Set("cmi.interactions.1.result", "correct"), Store()},
       {Expected(
            "id-1", Ts(3), "responded",
            R"({"id":"https://courses.example.org/c/MAN-1/sco1/interactions/q%202",)"
            R"("definition":{"name":{"en-US":"q 2"},)"
            R"("type":"http://adlnet.gov/expapi/activities/cmi.interaction",)"
            R"("interactionType":"true-false"}})",
            R"({"response":"true"})", true),
        Expected(
            "id-2", Ts(9), "responded",
            R"({"id":"https://courses.example.org/c/MAN-1/sco1/interactions/q1",)"
            R"("definition":{"name":{"en-US":"q1"},)"
            R"("type":"http://adlnet.gov/expapi/activities/cmi.interaction",)"
            R"("interactionType":"choice","correctResponsesPattern":["a[,]b"]}})",
            R"({"response":"a[,]c","success":false,"duration":"PT7.25S"})",
            true),
        Expected(
            "id-3", Ts(12), "responded",
            R"({"id":"https://courses.example.org/c/MAN-1/sco1/interactions/q%202",)"
            R"("definition":{"name":{"en-US":"q 2"},)"
            R"("type":"http://adlnet.gov/expapi/activities/cmi.interaction",)"
            R"("interactionType":"true-false"}})",
            R"({"response":"true","success":true})", true)}},
      {"a comment each time one is set, escaped",
       {Set("cmi.comments", "Good \"lesson\"\n\x01"), Set("cmi.comments", ""),
        Set("cmi.comments", "again"), Store()},
       {Expected("id-1", Ts(1), "commented", kItem,
                 R"({"response":"Good \"lesson\"\u000a\u0001"})"),
        Expected("id-2", Ts(2), "commented", kItem,
                 R"({"response":"again"})")}},
      {"nothing after the end",
       {End(), Set("cmi.core.lesson_status", "passed"), Store(), End()},
       {Expected("id-1", Ts(1), "terminated", kItem, "")}},
  };
  for (const SessionCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Session(c.steps), c.statements);
  }
}

std::string Choice(const std::string& id) {
  return R"({"id":"https://courses.example.org/c/MAN-1/sco1/interactions/)" +
         id + R"(","definition":{"name":{"en-US":")" + id +
         R"("},"type":"http://adlnet.gov/expapi/activities/cmi.interaction",)"
         R"("interactionType":"choice"}})";
}

SessionContext Context2004();

TEST(SessionStatementsTest, OneRespondedPerAnswerWhateverTheCommits) {
  struct Case {
    const char* name;
    DataModel model;
    std::vector<Step> steps;
    std::vector<std::string> statements;
  } const cases[] = {
      {"1.2: id and type, response, result in three commits",
       DataModel::kScorm12,
       {Set("cmi.interactions.0.id", "q1"),
        Set("cmi.interactions.0.type", "choice"), Store(),
        Set("cmi.interactions.0.student_response", "a"), Store(),
        Set("cmi.interactions.0.result", "correct"), Store(), Store(),
        Set("cmi.interactions.0.latency", "0000:00:05"), Store()},
       {Expected("id-1", Ts(3), "responded", Choice("q1"),
                 R"({"response":"a"})", true),
        Expected("id-2", Ts(4), "responded", Choice("q1"),
                 R"({"response":"a","success":true})", true)}},
      {"2004: a periodic store between the sets, then the answer changed",
       DataModel::kScorm2004,
       {Set("cmi.interactions.0.id", "q1"), Store(),
        Set("cmi.interactions.0.type", "choice"), Store(),
        Set("cmi.interactions.0.learner_response", "a"),
        Set("cmi.interactions.0.result", "incorrect"), Store(),
        Set("cmi.interactions.0.description", "Which?"), Store(),
        Set("cmi.interactions.0.learner_response", "b"),
        Set("cmi.interactions.0.result", "correct"), Store()},
       {Expected("id-1", Ts(4), "responded", Choice("q1"),
                 R"({"response":"a","success":false})", true),
        Expected(
            "id-2", Ts(7), "responded",
            R"({"id":"https://courses.example.org/c/MAN-1/sco1/interactions/q1",)"
            R"("definition":{"name":{"en-US":"q1"},"description":{"en-US":"Which?"},)"
            R"("type":"http://adlnet.gov/expapi/activities/cmi.interaction",)"
            R"("interactionType":"choice"}})",
            R"({"response":"b","success":true})", true)}},
      {"a result without a response, an empty response: nothing",
       DataModel::kScorm2004,
       {Set("cmi.interactions.0.id", "q1"),
        Set("cmi.interactions.0.result", "correct"), Store(),
        Set("cmi.interactions.0.learner_response", ""), Store(), End()},
       {Expected("id-1", Ts(3), "terminated", kItem, "")}},
      {"another question at the same index is another answer",
       DataModel::kScorm12,
       {Set("cmi.interactions.0.id", "q1"),
        Set("cmi.interactions.0.type", "choice"),
        Set("cmi.interactions.0.student_response", "a"), Store(),
        Set("cmi.interactions.0.id", "q2"), Store()},
       {Expected("id-1", Ts(3), "responded", Choice("q1"),
                 R"({"response":"a"})", true),
        Expected("id-2", Ts(4), "responded", Choice("q2"),
                 R"({"response":"a"})", true)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionContext context = Context();
    context.model = c.model;
    EXPECT_EQ(Session(c.steps, context), c.statements);
  }
}

TEST(SessionStatementsTest, StatusesAsStoredWhoeverDecidedThem) {
  struct Case {
    const char* name;
    DataModel model;
    ElementValues atLaunch;
    std::vector<Step> steps;
    std::vector<std::string> statements;
  } const cases[] = {
      {"1.2: finished without a status, stored as completed",
       DataModel::kScorm12,
       {{"cmi.core.lesson_status", "not attempted"}},
       {Init("ab-initio"), End({{"cmi.core.lesson_status", "completed"}})},
       {Expected("id-1", Ts(1), "initialized", kItem, ""),
        Expected("id-2", Ts(2), "completed", kItem, kCompleted),
        Expected("id-3", Ts(3), "terminated", kItem,
                 R"({"completion":true})")}},
      {"1.2: passed by the mastery score after the SCO's sets",
       DataModel::kScorm12,
       {},
       {Set("cmi.core.score.raw", "90"),
        End({{"cmi.core.lesson_status", "passed"},
             {"cmi.core.score.raw", "90"}})},
       {Expected("id-1", Ts(1), "scored", kItem,
                 R"({"score":{"scaled":0.9,"raw":90}})"),
        Expected("id-2", Ts(2), "passed", kItem, kPassed),
        Expected("id-3", Ts(3), "terminated", kItem,
                 R"({"score":{"scaled":0.9,"raw":90},"success":true,)"
                 R"("completion":true})")}},
      {"1.2: completed by an earlier session is not reported again",
       DataModel::kScorm12,
       {{"cmi.core.lesson_status", "completed"}},
       {Store({{"cmi.core.lesson_status", "completed"}}),
        End({{"cmi.core.lesson_status", "completed"}})},
       {Expected("id-1", Ts(1), "terminated", kItem,
                 R"({"completion":true})")}},
      {"1.2: what the SCO sets is told, whatever was stored before",
       DataModel::kScorm12,
       {{"cmi.core.lesson_status", "completed"}},
       {Set("cmi.core.lesson_status", "completed"),
        Store({{"cmi.core.lesson_status", "completed"}})},
       {Expected("id-1", Ts(1), "completed", kItem, kCompleted)}},
      {"2004: success passed by the scaled passing score",
       DataModel::kScorm2004,
       {},
       {Set("cmi.score.scaled", "0.9"), Store({{"cmi.score.scaled", "0.9"}}),
        End({{"cmi.score.scaled", "0.9"},
             {"cmi.success_status", "passed"},
             {"cmi.completion_status", "completed"}})},
       {Expected("id-1", Ts(1), "scored", kItem, R"({"score":{"scaled":0.9}})"),
        Expected("id-2", Ts(2), "completed", kItem, kCompleted),
        Expected("id-3", Ts(3), "passed", kItem, R"({"success":true})"),
        Expected("id-4", Ts(4), "terminated", kItem,
                 R"({"score":{"scaled":0.9},"success":true,)"
                 R"("completion":true})")}},
      {"2004: the SCO's failed, then passed as evaluated",
       DataModel::kScorm2004,
       {{"cmi.success_status", "unknown"}},
       {Set("cmi.success_status", "failed"),
        Store({{"cmi.success_status", "failed"}}),
        End({{"cmi.success_status", "passed"}})},
       {Expected("id-1", Ts(1), "failed", kItem, R"({"success":false})"),
        Expected("id-2", Ts(2), "passed", kItem, R"({"success":true})"),
        Expected("id-3", Ts(3), "terminated", kItem, R"({"success":true})")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionContext context = Context();
    context.model = c.model;
    context.atLaunch = c.atLaunch;
    EXPECT_EQ(Session(c.steps, context), c.statements);
  }
}

TEST(SessionStatementsTest, TheAttemptAndItsProgress) {
  const std::string attempt = "5e0c1f0a-2b3c-4d5e-8f90-0123456789ab";
  const std::string progress =
      R"("extensions":{"https://w3id.org/xapi/cmi5/result/extensions/progress":)";
  struct Case {
    const char* name;
    ElementValues atLaunch;
    std::vector<Step> steps;
    std::vector<std::string> statements;
  } const cases[] = {
      {"every statement in the attempt; progress once per change",
       {},
       {Init("ab-initio"), Set("cmi.progress_measure", "0.25"), Store(),
        Set("cmi.progress_measure", "0.25"), Store(),
        Set("cmi.interactions.0.id", "q1"),
        Set("cmi.interactions.0.type", "choice"),
        Set("cmi.interactions.0.learner_response", "a"),
        Set("cmi.progress_measure", "1"), Store(),
        End({{"cmi.exit", "suspend"}})},
       {Expected("id-1", Ts(1), "initialized", kItem, "", false, attempt),
        Expected("id-2", Ts(2), "progressed", kItem,
                 R"({"score":{"scaled":0.25},)" + progress + "25}}", false,
                 attempt),
        Expected("id-3", Ts(5), "responded", Choice("q1"),
                 R"({"response":"a"})", true, attempt),
        Expected("id-4", Ts(6), "progressed", kItem,
                 R"({"score":{"scaled":1},)" + progress + "100}}", false,
                 attempt),
        Expected("id-5", Ts(7), "suspended", kItem, "", false, attempt)}},
      {"a resumed attempt's progress is not reported again",
       {{"cmi.progress_measure", "0.5"}},
       {Init("resume"), Set("cmi.progress_measure", "0.5"), Store(),
        Set("cmi.progress_measure", "0.755"), Store()},
       {Expected("id-1", Ts(1), "resumed", kItem, "", false, attempt),
        Expected("id-2", Ts(3), "progressed", kItem,
                 R"({"score":{"scaled":0.755},)" + progress + "76}}", false,
                 attempt)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionContext context = Context2004();
    context.attempt = attempt;
    context.atLaunch = c.atLaunch;
    EXPECT_EQ(Session(c.steps, context), c.statements);
  }
  // SCORM 1.2 has no progress measure.
  EXPECT_TRUE(Session({Set("cmi.progress_measure", "0.5"), Store()}).empty());
}

TEST(SessionStatementsTest, ScoresAreValidWhateverContentSets) {
  struct Case {
    const char* raw;
    const char* min;
    const char* max;
    const char* score;  // "" for no statement
  } const cases[] = {
      {"95", "", "", R"({"scaled":0.95,"raw":95})"},
      {" +07.50 ", "", "", R"({"scaled":0.075,"raw":7.5})"},
      {"150", "", "", R"({"raw":150})"},
      {"-5", "", "", R"({"raw":-5})"},
      {"-5", "-10", "10", R"({"scaled":0.25,"raw":-5,"min":-10,"max":10})"},
      {"5", "10", "0", R"({"raw":5})"},      // min above max
      {"50", "60", "100", R"({"raw":50})"},  // raw below min
      {"150", "", "200", R"({"scaled":0.75,"raw":150,"max":200})"},
      {"5", "", "", R"({"scaled":0.05,"raw":5})"},
      {"5", "x", "1e3", R"({"scaled":0.05,"raw":5})"},
      {"", "0", "100", ""},
      {"abc", "", "", ""},
      {"1e2", "", "", ""},
      {"nan", "", "", ""},
      {".", "", "", ""},
      {"1.2.3", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.raw) + " " + c.min + " " + c.max);
    std::vector<Step> steps;
    for (const auto& [name, value] :
         {std::pair{"raw", c.raw}, {"min", c.min}, {"max", c.max}}) {
      if (*value)
        steps.push_back(Set(std::string("cmi.core.score.") + name, value));
    }
    steps.push_back(Store());
    const std::vector<std::string> got = Session(steps);
    if (*c.score == 0) {
      EXPECT_TRUE(got.empty());
    } else {
      ASSERT_EQ(got.size(), 1u);
      EXPECT_EQ(got[0], Expected("id-1", Ts(static_cast<int>(steps.size()) - 1),
                                 "scored", kItem,
                                 "{\"score\":" + std::string(c.score) + "}"));
    }
  }
}

TEST(SessionStatementsTest, SessionTimeBecomesAnIsoDuration) {
  const std::pair<const char*, const char*> cases[] = {
      {"0001:02:03.5", "PT1H2M3.5S"},
      {"00:00:00", "PT0S"},
      {"0000:00:07.25", "PT7.25S"},
      {"99:59:59.99", "PT99H59M59.99S"},
      {"0010:00:00.00", "PT10H"},
      {"0000:01:00", "PT1M"},
      {"", ""},
      {"1:2:3", ""},
      {"00:00:00.", ""},
      {"-01:00:00", ""},
      {"00:00", ""},
      {"PT5S", ""},
  };
  for (const auto& [time, duration] : cases) {
    SCOPED_TRACE(time);
    const std::string result =
        *duration ? std::string(R"({"duration":")") + duration + "\"}" : "";
    EXPECT_EQ(
        Session({End({{"cmi.core.session_time", time}})}),
        std::vector{Expected("id-1", Ts(1), "terminated", kItem, result)});
  }
}

TEST(SessionStatementsTest, InteractionResponsesInXapiForm) {
  struct Case {
    const char* type;
    const char* pattern;
    const char* response;
    const char* definition;  // after the interaction's name and type
    const char* result;
  } const cases[] = {
      {"choice", "{a,b}", "b",
       R"(,"interactionType":"choice","correctResponsesPattern":["a[,]b"])",
       R"({"response":"b"})"},
      {"matching", "1.a,2.b", "1.b",
       R"(,"interactionType":"matching","correctResponsesPattern":["1[.]a[,]2[.]b"])",
       R"({"response":"1[.]b"})"},
      {"sequencing", "c,a,b", "a[,]b[,]c",
       R"(,"interactionType":"sequencing","correctResponsesPattern":["c[,]a[,]b"])",
       R"({"response":"a[,]b[,]c"})"},
      {"numeric", "5", "4.5",
       R"(,"interactionType":"numeric","correctResponsesPattern":["5[:]5"])",
       R"({"response":"4.5"})"},
      {"true-false", "0", "f",
       R"(,"interactionType":"true-false","correctResponsesPattern":["false"])",
       R"({"response":"false"})"},
      {"fill-in", "fire, exit", "Fire",
       R"(,"interactionType":"fill-in","correctResponsesPattern":["fire, exit"])",
       R"({"response":"Fire"})"},
      {"likert", "", "3", R"(,"interactionType":"likert")",
       R"({"response":"3"})"},
      {"essay", "x", "y",
       R"(,"interactionType":"other","correctResponsesPattern":["x"])",
       R"({"response":"y"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    std::vector<Step> steps = {
        Set("cmi.interactions.0.id", "q"),
        Set("cmi.interactions.0.type", c.type),
        Set("cmi.interactions.0.student_response", c.response)};
    if (*c.pattern)
      steps.push_back(
          Set("cmi.interactions.0.correct_responses.0.pattern", c.pattern));
    steps.push_back(Store());
    EXPECT_EQ(
        Session(steps),
        std::vector{Expected(
            "id-1", Ts(static_cast<int>(steps.size()) - 1), "responded",
            std::string(
                R"({"id":"https://courses.example.org/c/MAN-1/sco1/interactions/q",)"
                R"("definition":{"name":{"en-US":"q"},)"
                R"("type":"http://adlnet.gov/expapi/activities/cmi.interaction")") +
                c.definition + "}}",
            c.result, true)});
  }
}

SessionContext Context2004() {
  SessionContext context = Context();
  context.model = DataModel::kScorm2004;
  return context;
}

std::string Interaction(const std::string& id, const std::string& rest) {
  return R"({"id":"https://courses.example.org/c/MAN-1/sco1/interactions/)" +
         id + R"(","definition":{"name":{"en-US":")" + id + "\"}" + rest + "}}";
}
const char kCmiInteraction[] =
    R"(,"type":"http://adlnet.gov/expapi/activities/cmi.interaction")";

TEST(SessionStatementsTest, Scorm2004SessionsByTheirOwnNames) {
  const SessionCase cases[] = {
      {"completion and success apart, scaled as given, session time as is",
       {Init("ab-initio"), Set("cmi.completion_status", "completed"),
        Set("cmi.success_status", "passed"), Set("cmi.score.scaled", "0.8"),
        Set("cmi.score.raw", "40"), Set("cmi.score.max", "50"),
        End({{"cmi.exit", "normal"},
             {"cmi.entry", ""},
             {"cmi.session_time", "PT12M30S"}})},
       {Expected("id-1", Ts(1), "initialized", kItem, ""),
        Expected("id-2", Ts(2), "completed", kItem, kCompleted),
        Expected("id-3", Ts(3), "passed", kItem, R"({"success":true})"),
        Expected("id-4", Ts(6), "scored", kItem,
                 R"({"score":{"scaled":0.8,"raw":40,"max":50}})"),
        Expected(
            "id-5", Ts(7), "terminated", kItem,
            R"({"score":{"scaled":0.8,"raw":40,"max":50},)"
            R"("success":true,"completion":true,"duration":"PT12M30S"})")}},
      {"resumed, then suspended by its exit",
       {Init("resume"), End({{"cmi.completion_status", "incomplete"},
                             {"cmi.exit", "suspend"},
                             {"cmi.session_time", "P1DT2H3.5S"}})},
       {Expected("id-1", Ts(1), "resumed", kItem, ""),
        Expected("id-2", Ts(2), "suspended", kItem,
                 R"({"completion":false,"duration":"P1DT2H3.5S"})")}},
      {"an attempt left to resume is suspended; 1.2 names mean nothing",
       {Set("cmi.core.lesson_status", "passed"), Set("cmi.comments", "x"),
        End({{"cmi.entry", "resume"},
             {"cmi.success_status", "failed"},
             {"cmi.session_time", "00:01:00"}})},
       {Expected("id-1", Ts(1), "failed", kItem, R"({"success":false})"),
        Expected("id-2", Ts(2), "suspended", kItem, R"({"success":false})")}},
      {"a learner's comment once per text, its language tag left out",
       {Set("cmi.comments_from_learner.0.comment", "{lang=en}Good"),
        Set("cmi.comments_from_learner.0.location", "p3"),
        Set("cmi.comments_from_learner.1.comment", "More"), Store(),
        Set("cmi.comments_from_learner.0.comment", "{lang=en}Good"), Store(),
        Set("cmi.comments_from_learner.0.comment", "Better"), Store()},
       {Expected("id-1", Ts(1), "commented", kItem, R"({"response":"Good"})"),
        Expected("id-2", Ts(2), "commented", kItem, R"({"response":"More"})"),
        Expected("id-3", Ts(3), "commented", kItem,
                 R"({"response":"Better"})")}},
      {"interactions: 2004 types and formats are xAPI's",
       {Set("cmi.interactions.0.id", "q1"),
        Set("cmi.interactions.0.type", "long-fill-in"),
        Set("cmi.interactions.0.description", "{lang=en}Why?"),
        Set("cmi.interactions.0.correct_responses.0.pattern",
            "{case_matters=true}Because"),
        Set("cmi.interactions.0.learner_response", "because"),
        Set("cmi.interactions.0.result", "incorrect"),
        Set("cmi.interactions.0.latency", "PT7.25S"),
        Set("cmi.interactions.1.id", "q2"),
        Set("cmi.interactions.1.type", "matching"),
        Set("cmi.interactions.1.correct_responses.0.pattern", "1[.]a[,]2[.]b"),
        Set("cmi.interactions.1.learner_response", "1[.]a[,]2[.]c"),
        Set("cmi.interactions.1.result", "correct"),
        Set("cmi.interactions.2.id", "q3"),
        Set("cmi.interactions.2.type", "other"),
        Set("cmi.interactions.2.learner_response", "t"),
        Set("cmi.interactions.2.result", "wrong"),
        Set("cmi.interactions.2.latency", "00:00:07"), Store()},
       {Expected(
            "id-1", Ts(7), "responded",
            Interaction("q1", R"(,"description":{"en-US":"Why?"})" +
                                  std::string(kCmiInteraction) +
                                  R"(,"interactionType":"long-fill-in",)"
                                  R"("correctResponsesPattern":)"
                                  R"(["{case_matters=true}Because"])"),
            R"({"response":"because","success":false,"duration":"PT7.25S"})",
            true),
        Expected("id-2", Ts(12), "responded",
                 Interaction("q2", std::string(kCmiInteraction) +
                                       R"(,"interactionType":"matching",)"
                                       R"("correctResponsesPattern":)"
                                       R"(["1[.]a[,]2[.]b"])"),
                 R"({"response":"1[.]a[,]2[.]c","success":true})", true),
        Expected("id-3", Ts(17), "responded",
                 Interaction("q3", std::string(kCmiInteraction) +
                                       R"(,"interactionType":"other")"),
                 R"({"response":"t"})", true)}},
  };
  for (const SessionCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Session(c.steps, Context2004()), c.statements);
  }
}

TEST(SessionStatementsTest, Scorm2004ScoresAndTimesTheLrsTakes) {
  struct Case {
    ElementValues values;
    const char* result;  // of the terminated statement
  } const cases[] = {
      {{{"cmi.score.scaled", "-1"}}, R"({"score":{"scaled":-1}})"},
      {{{"cmi.score.scaled", "1.5"}, {"cmi.score.raw", "150"}},
       R"({"score":{"raw":150}})"},
      {{{"cmi.score.raw", "5"}, {"cmi.score.min", "10"}},
       R"({"score":{"raw":5}})"},
      {{{"cmi.score.raw", "5"}, {"cmi.score.min", "9"}, {"cmi.score.max", "1"}},
       R"({"score":{"raw":5}})"},
      {{{"cmi.score.min", "0"}, {"cmi.score.max", "100"}}, ""},
      {{{"cmi.session_time", "P1Y2M3DT4H5M6.75S"}},
       R"({"duration":"P1Y2M3DT4H5M6.75S"})"},
      {{{"cmi.session_time", "PT0S"}}, R"({"duration":"PT0S"})"},
      {{{"cmi.session_time", "PT"}}, ""},
      {{{"cmi.session_time", "P1DT"}}, ""},
      {{{"cmi.session_time", "PT1.5M"}}, ""},
      {{{"cmi.session_time", "PTS"}}, ""},
      {{{"cmi.session_time", "P1H"}}, ""},
      {{{"cmi.session_time", "PT1H1H"}}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    EXPECT_EQ(
        Session({End(c.values)}, Context2004()),
        std::vector{Expected("id-1", Ts(1), "terminated", kItem, c.result)});
  }
}

TEST(SessionStatementsTest, OddTextStaysValidJson) {
  // Bad UTF-8 becomes U+FFFD, control characters escapes; identifiers of
  // any length and bytes make one IRI path segment.
  const std::string huge(5000, 'x');
  SessionContext context = Context();
  context.item.name = "Le\xC3(on\x1F\x7F\xE2\x82";
  context.login = "a\"\\b";
  context.registration = "not-a-uuid";
  int ids = 0;
  SessionStatements session(
      context, [&] { return "id-" + std::to_string(++ids); },
      [] { return Ts(1); });
  session.valueSet("cmi.interactions.0.id", huge + "/\xFF");
  session.valueSet("cmi.interactions.0.student_response", "\xC0\x80\t");
  session.valueSet("cmi.interactions.7.id", "");  // no id: no statement
  session.valueSet("cmi.interactions.7.student_response", "lost");
  session.valueSet("cmi.interactions.99999999999.id", "overflow");
  session.storing({});
  const std::string item =
      R"({"id":"https://courses.example.org/c/MAN-1/sco1","definition":)"
      R"({"name":{"en-US":"Le)"
      "\xEF\xBF\xBD"
      R"((on\u001f)"
      "\x7F\xEF\xBF\xBD"
      R"("},)"
      R"("type":"http://adlnet.gov/expapi/activities/lesson"}})";
  const std::vector<Statement> got = session.take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(
      got[0].json,
      R"({"id":"id-1","timestamp":")" + Ts(1) +
          R"(","actor":{"objectType":"Agent","name":"a\"\\b",)"
          R"("account":{"homePage":"https://lms.example.org","name":"a\"\\b"}},)"
          R"("verb":{"id":"http://adlnet.gov/expapi/verbs/responded",)"
          R"("display":{"en-US":"responded"}},)"
          R"("object":{"id":"https://courses.example.org/c/MAN-1/sco1/interactions/)" +
          huge + R"(%2F%FF","definition":{"name":{"en-US":")" + huge +
          "/\xEF\xBF\xBD" +
          R"("},"type":"http://adlnet.gov/expapi/activities/cmi.interaction",)"
          R"("interactionType":"other"}},)"
          R"("result":{"response":")"
          "\xEF\xBF\xBD\xEF\xBF\xBD"
          R"(\u0009"},)"
          R"("context":{"contextActivities":{"parent":[)" +
          item + "]," + kGroupingCategory);
}

TEST(IrisTest, IdentifiersArePercentEncoded) {
  EXPECT_EQ(CourseIri("https://x.org/c/", "MAN 1/\xC3\xA4~._-Az09"),
            "https://x.org/c/MAN%201%2F%C3%A4~._-Az09");
  // A later course with the same identifier: an IRI no identifier gives.
  EXPECT_EQ(CourseIri("https://x.org/c/", "MAN-1", 1), "https://x.org/c/MAN-1");
  EXPECT_EQ(CourseIri("https://x.org/c/", "MAN-1", 2),
            "https://x.org/c/MAN-1;2");
  EXPECT_EQ(CourseIri("https://x.org/c/", "MAN-1;2"),
            "https://x.org/c/MAN-1%3B2");
  EXPECT_EQ(ItemIri("https://x.org/c/M", "sco#1?%"),
            "https://x.org/c/M/sco%231%3F%25");
  EXPECT_EQ(ItemIri("https://x.org/c/M", ""), "https://x.org/c/M/");
}

TEST(IrisTest, UuidsAndTimestampsHaveTheirForm) {
  const std::regex uuid(
      "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = NewUuid();
    ASSERT_TRUE(std::regex_match(id, uuid)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 1000u);
  const std::string now = UtcTimestamp();
  EXPECT_TRUE(std::regex_match(
      now,
      std::regex(R"(20\d\d-[01]\d-[0-3]\dT[0-2]\d:[0-5]\d:[0-6]\d\.\d{3}Z)")))
      << now;
}

}  // namespace
}  // namespace zept::xapi
