#include "scorm/runtime.h"

#include <gtest/gtest.h>

#include "scorm/datamodel.h"

namespace zept::scorm {
namespace {

LaunchContext Context() {
  LaunchContext context;
  context.studentId = "s-1";
  context.studentName = "Doe, Jane";
  context.launchData = "start=2";
  context.masteryScore = "80";
  context.maxTimeAllowed = "00:30:00";
  context.timeLimitAction = "continue,no message";
  return context;
}

// The one harness: a session already initialised.
struct Session {
  Runtime api;
  explicit Session(RuntimeOptions options = {}, Values stored = {},
                   LaunchContext context = Context())
      : api(std::move(context), std::move(stored), options) {
    api.LMSInitialize("");
  }
  int error() { return std::stoi(api.LMSGetLastError()); }
};

std::string Repeat(std::string_view unit, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

// In order: earlier rows make the arrays later rows use.
struct SetCase {
  std::string element;
  std::string value;
  int lenient;  // the error code of a lenient runtime (0: "true")
  int strict;
};

const SetCase kSetCases[] = {
    // Read-only elements and the keywords.
    {"cmi.core.student_id", "x", 403, 403},
    {"cmi.core.student_name", "x", 403, 403},
    {"cmi.core.credit", "credit", 403, 403},
    {"cmi.core.entry", "resume", 403, 403},
    {"cmi.core.total_time", "00:00:01", 403, 403},
    {"cmi.core.lesson_mode", "normal", 403, 403},
    {"cmi.launch_data", "x", 403, 403},
    {"cmi.comments_from_lms", "x", 403, 403},
    {"cmi.student_data.mastery_score", "50", 403, 403},
    {"cmi.student_data.max_time_allowed", "00:01:00", 403, 403},
    {"cmi.student_data.time_limit_action", "exit,message", 403, 403},
    {"cmi._version", "3.4", 402, 402},
    {"cmi.core._children", "x", 402, 402},
    {"cmi.core.score._children", "x", 402, 402},
    {"cmi.objectives._children", "x", 402, 402},
    {"cmi.objectives._count", "1", 402, 402},
    {"cmi.student_data._children", "x", 402, 402},
    {"cmi.student_preference._children", "x", 402, 402},
    {"cmi.interactions._children", "x", 402, 402},
    {"cmi.interactions._count", "1", 402, 402},
    {"cmi.core.lesson_status._children", "x", 402, 402},
    {"cmi.core._count", "x", 402, 402},
    // Names outside the model and bad arguments.
    {"", "x", 201, 201},
    {"cmi", "x", 401, 401},
    {"cmi.core", "x", 401, 401},
    {"cmi.core.score", "1", 401, 401},
    {"cmi.core.lesson_statuss", "passed", 401, 401},
    {"cmi.core.lesson_status.", "passed", 401, 401},
    {"cmi.completion_status", "completed", 401, 401},
    {"cmi.objectives.x.id", "a", 201, 201},
    {"cmi.objectives.01.id", "a", 201, 201},
    {"cmi.objectives.-1.id", "a", 201, 201},
    {"cmi.objectives.1.id", "a", 201, 201},
    {"cmi.objectives.0", "a", 401, 401},
    // cmi.core.
    {"cmi.core.lesson_location", "page 3", 0, 0},
    {"cmi.core.lesson_location", Repeat("x", 255), 0, 0},
    {"cmi.core.lesson_location", Repeat("x", 256), 0, 405},
    {"cmi.core.lesson_location", Repeat("x", 4097), 405, 405},
    {"cmi.core.lesson_status", "passed", 0, 0},
    {"cmi.core.lesson_status", "failed", 0, 0},
    {"cmi.core.lesson_status", "completed", 0, 0},
    {"cmi.core.lesson_status", "browsed", 0, 0},
    {"cmi.core.lesson_status", "incomplete", 0, 0},
    {"cmi.core.lesson_status", "not attempted", 405, 405},
    {"cmi.core.lesson_status", "Completed", 405, 405},
    {"cmi.core.lesson_status", "", 405, 405},
    {"cmi.core.score.raw", "85", 0, 0},
    {"cmi.core.score.raw", "", 0, 0},
    {"cmi.core.score.raw", "0", 0, 0},
    {"cmi.core.score.raw", "100", 0, 0},
    {"cmi.core.score.raw", "-0.5", 405, 405},
    {"cmi.core.score.raw", "100.01", 405, 405},
    {"cmi.core.score.raw", ".5", 0, 0},
    {"cmi.core.score.raw", "1e2", 405, 405},
    {"cmi.core.score.raw", "8 5", 405, 405},
    {"cmi.core.score.min", "0", 0, 0},
    {"cmi.core.score.max", "100", 0, 0},
    {"cmi.core.score.max", "x", 405, 405},
    {"cmi.core.exit", "time-out", 0, 0},
    {"cmi.core.exit", "logout", 0, 0},
    {"cmi.core.exit", "", 0, 0},
    {"cmi.core.exit", "suspend", 0, 0},
    {"cmi.core.exit", "quit", 405, 405},
    {"cmi.core.session_time", "00:01:30", 0, 0},
    {"cmi.core.session_time", "0001:01:30.5", 0, 0},
    {"cmi.core.session_time", "00:00:05.123", 0, 405},
    {"cmi.core.session_time", "0:00:05", 0, 405},
    {"cmi.core.session_time", "01:30", 405, 405},
    {"cmi.core.session_time", "00:60:00", 405, 405},
    {"cmi.core.session_time", "10000:00:00", 405, 405},
    {"cmi.core.session_time", "PT1M30S", 405, 405},
    // Strings: lengths in UTF-16 code units, as the page counts them.
    {"cmi.suspend_data", Repeat("x", 4096), 0, 0},
    {"cmi.suspend_data", Repeat("\xC3\xA9", 4096), 0, 0},
    {"cmi.suspend_data", Repeat("\xF0\x9F\x98\x80", 2049), 0, 405},
    {"cmi.suspend_data", Repeat("x", 64000), 0, 405},
    {"cmi.suspend_data", Repeat("x", 64001), 405, 405},
    {"cmi.comments", "good", 0, 0},
    {"cmi.comments", Repeat("x", 64001), 405, 405},
    // Objectives: appended at _count.
    {"cmi.objectives.0.id", "obj1", 0, 0},
    {"cmi.objectives.0.id", "obj 1", 0, 405},
    {"cmi.objectives.0.id", "", 405, 405},
    {"cmi.objectives.0.score.raw", "70", 0, 0},
    {"cmi.objectives.0.score.min", "", 0, 0},
    {"cmi.objectives.0.score.max", "101", 405, 405},
    {"cmi.objectives.0.score._children", "x", 402, 402},
    {"cmi.objectives.0.status", "not attempted", 0, 0},
    {"cmi.objectives.0.status", "done", 405, 405},
    {"cmi.objectives.1.status", "passed", 0, 0},
    {"cmi.objectives.3.id", "obj3", 201, 201},
    // Preferences.
    {"cmi.student_preference.audio", "-1", 0, 0},
    {"cmi.student_preference.audio", "101", 405, 405},
    {"cmi.student_preference.audio", "1.5", 405, 405},
    {"cmi.student_preference.language", "fr-BE", 0, 0},
    {"cmi.student_preference.speed", "-100", 0, 0},
    {"cmi.student_preference.speed", "-101", 405, 405},
    {"cmi.student_preference.text", "1", 0, 0},
    {"cmi.student_preference.text", "2", 405, 405},
    // Interactions, responses in their type's format.
    {"cmi.interactions.0.id", "q1", 0, 0},
    {"cmi.interactions.0.type", "choice", 0, 0},
    {"cmi.interactions.0.type", "sideways", 405, 405},
    {"cmi.interactions.0.student_response", "a,b", 0, 0},
    {"cmi.interactions.0.student_response", "Paris", 0, 405},
    {"cmi.interactions.0.correct_responses.0.pattern", "{a,c}", 0, 0},
    {"cmi.interactions.0.correct_responses.2.pattern", "a", 201, 201},
    {"cmi.interactions.0.time", "13:05:00", 0, 0},
    {"cmi.interactions.0.time", "24:00:00", 405, 405},
    {"cmi.interactions.0.weighting", "1.5", 0, 0},
    {"cmi.interactions.0.weighting", "x", 405, 405},
    {"cmi.interactions.0.result", "correct", 0, 0},
    {"cmi.interactions.0.result", "wrong", 0, 0},
    {"cmi.interactions.0.result", "unanticipated", 0, 0},
    {"cmi.interactions.0.result", "neutral", 0, 0},
    {"cmi.interactions.0.result", "0.5", 0, 0},
    {"cmi.interactions.0.result", "incorrect", 405, 405},
    {"cmi.interactions.0.latency", "00:00:12", 0, 0},
    {"cmi.interactions.0.objectives.0.id", "obj1", 0, 0},
    {"cmi.interactions.0.objectives.2.id", "obj1", 201, 201},
    {"cmi.interactions.1.type", "true-false", 0, 0},
    {"cmi.interactions.1.student_response", "t", 0, 0},
    {"cmi.interactions.1.student_response", "true", 0, 405},
    {"cmi.interactions.1.student_response", Repeat("x", 4097), 405, 405},
    {"cmi.interactions.2.type", "matching", 0, 0},
    {"cmi.interactions.2.correct_responses.0.pattern", "1.a,2.c", 0, 0},
    {"cmi.interactions.2.correct_responses.0.pattern", "1-a", 0, 405},
    {"cmi.interactions.3.type", "numeric", 0, 0},
    {"cmi.interactions.3.student_response", "-2.5", 0, 0},
    {"cmi.interactions.3.student_response", "two", 0, 405},
    {"cmi.interactions.4.type", "likert", 0, 0},
    {"cmi.interactions.4.student_response", "", 0, 0},
    {"cmi.interactions.4.student_response", "ab", 0, 405},
    {"cmi.interactions.5.type", "sequencing", 0, 0},
    {"cmi.interactions.5.student_response", "c,a,b", 0, 0},
    {"cmi.interactions.6.student_response", "anything at all", 0, 0},
    {"cmi.interactions.8.id", "q8", 201, 201},
};

TEST(RuntimeTest, SetValueTable) {
  for (const bool strict : {false, true}) {
    Session session({.strict = strict});
    for (const SetCase& c : kSetCases) {
      SCOPED_TRACE((strict ? "strict " : "lenient ") + c.element + " = " +
                   c.value.substr(0, 40));
      const int expected = strict ? c.strict : c.lenient;
      EXPECT_EQ(session.api.LMSSetValue(c.element, c.value),
                expected == 0 ? "true" : "false");
      EXPECT_EQ(session.error(), expected);
    }
  }
}

struct GetCase {
  std::string element;
  std::string value;
  int error;
};

TEST(RuntimeTest, GetValueTable) {
  Session session;
  for (const auto& [element, value] :
       {std::pair{"cmi.core.lesson_location", "p2"},
        {"cmi.objectives.0.id", "obj1"},
        {"cmi.objectives.0.score.raw", "40"},
        {"cmi.interactions.0.id", "q1"},
        {"cmi.interactions.0.objectives.0.id", "obj1"},
        {"cmi.interactions.0.correct_responses.0.pattern", "a"},
        {"cmi.interactions.0.correct_responses.1.pattern", "b"},
        {"cmi.student_preference.audio", "50"}})
    ASSERT_EQ(session.api.LMSSetValue(element, value), "true") << element;
  const GetCase cases[] = {
      {"cmi._version", "3.4", 0},
      {"cmi.core._children",
       "student_id,student_name,lesson_location,credit,lesson_status,entry,"
       "score,total_time,lesson_mode,exit,session_time",
       0},
      {"cmi.core.student_id", "s-1", 0},
      {"cmi.core.student_name", "Doe, Jane", 0},
      {"cmi.core.lesson_location", "p2", 0},
      {"cmi.core.credit", "credit", 0},
      {"cmi.core.lesson_status", "not attempted", 0},
      {"cmi.core.entry", "ab-initio", 0},
      {"cmi.core.score._children", "raw,min,max", 0},
      {"cmi.core.score.raw", "", 0},
      {"cmi.core.total_time", "0000:00:00", 0},
      {"cmi.core.lesson_mode", "normal", 0},
      {"cmi.core.exit", "", 404},
      {"cmi.core.session_time", "", 404},
      {"cmi.suspend_data", "", 0},
      {"cmi.launch_data", "start=2", 0},
      {"cmi.comments", "", 0},
      {"cmi.comments_from_lms", "", 0},
      {"cmi.objectives._children", "id,score,status", 0},
      {"cmi.objectives._count", "1", 0},
      {"cmi.objectives.0.id", "obj1", 0},
      {"cmi.objectives.0.score._children", "raw,min,max", 0},
      {"cmi.objectives.0.score.raw", "40", 0},
      {"cmi.objectives.0.status", "", 0},
      {"cmi.objectives.1.id", "", 201},
      {"cmi.objectives.a.id", "", 201},
      {"cmi.student_data._children",
       "mastery_score,max_time_allowed,time_limit_action", 0},
      {"cmi.student_data.mastery_score", "80", 0},
      {"cmi.student_data.max_time_allowed", "00:30:00", 0},
      {"cmi.student_data.time_limit_action", "continue,no message", 0},
      {"cmi.student_preference._children", "audio,language,speed,text", 0},
      {"cmi.student_preference.audio", "50", 0},
      {"cmi.student_preference.speed", "", 0},
      {"cmi.interactions._children",
       "id,objectives,time,type,correct_responses,weighting,"
       "student_response,result,latency",
       0},
      {"cmi.interactions._count", "1", 0},
      {"cmi.interactions.0.id", "", 404},
      {"cmi.interactions.0.student_response", "", 404},
      {"cmi.interactions.0.objectives._count", "1", 0},
      {"cmi.interactions.0.objectives.0.id", "", 404},
      {"cmi.interactions.0.correct_responses._count", "2", 0},
      {"cmi.interactions.0.correct_responses.1.pattern", "", 404},
      {"cmi.interactions.1.objectives._count", "", 201},
      {"cmi.core.lesson_status._children", "", 202},
      {"cmi.interactions.0.objectives._children", "", 202},
      {"cmi.core._count", "", 203},
      {"cmi.core.score._count", "", 203},
      {"cmi.core.foo", "", 401},
      {"cmi.location", "", 401},
      {"", "", 201},
  };
  for (const GetCase& c : cases) {
    SCOPED_TRACE(c.element);
    EXPECT_EQ(session.api.LMSGetValue(c.element), c.value);
    EXPECT_EQ(session.error(), c.error);
  }
}

// One call and what it answers; "~" in front: the answer contains the rest.
struct Step {
  std::string function;
  std::vector<std::string> arguments;
  std::string result;
  int error;
};

TEST(RuntimeTest, StateMachine) {
  const std::vector<Step> steps = {
      {"LMSGetValue", {"cmi.core.lesson_status"}, "", 301},
      {"LMSSetValue", {"cmi.core.lesson_status", "passed"}, "false", 301},
      {"LMSCommit", {""}, "false", 301},
      {"LMSFinish", {""}, "false", 301},
      {"LMSInitialize", {"x"}, "false", 201},
      {"LMSInitialize", {""}, "true", 0},
      {"LMSInitialize", {""}, "false", 101},
      {"LMSGetDiagnostic", {""}, "~already", 101},
      {"LMSSetValue", {"cmi.core.lesson_status", "done"}, "false", 405},
      // The error functions leave the error as it is.
      {"LMSGetLastError", {}, "405", 405},
      {"LMSGetErrorString", {"405"}, "Incorrect data type", 405},
      {"LMSGetErrorString", {"301"}, "Not initialized", 405},
      {"LMSGetErrorString", {"999"}, "", 405},
      {"LMSGetErrorString", {"x"}, "", 405},
      {"LMSGetDiagnostic", {""}, "~cmi.core.lesson_status", 405},
      {"LMSGetDiagnostic", {"405"}, "~not one of passed", 405},
      {"LMSGetDiagnostic", {"202"}, "Element cannot have children", 405},
      {"LMSGetValue", {"cmi.core.lesson_status"}, "not attempted", 0},
      {"LMSGetDiagnostic", {""}, "No error", 0},
      {"LMSCommit", {"x"}, "false", 201},
      {"LMSCommit", {}, "true", 0},
      {"LMSFinish", {"x"}, "false", 201},
      {"LMSSetValue", {"cmi.core.exit", "suspend"}, "true", 0},
      {"LMSFinish", {""}, "true", 0},
      {"LMSGetValue", {"cmi.core.lesson_status"}, "", 301},
      {"LMSSetValue", {"cmi.suspend_data", "x"}, "false", 301},
      {"LMSCommit", {""}, "false", 301},
      {"LMSFinish", {""}, "false", 301},
      {"LMSInitialize", {""}, "false", 101},
      {"LMSGetDiagnostic", {"101"}, "~finished", 101},
      {"LMSSetValues", {"a", "b"}, "false", 401},
  };
  Runtime api(Context(), {});
  for (const Step& step : steps) {
    SCOPED_TRACE(step.function + (step.arguments.empty()
                                      ? std::string()
                                      : " " + step.arguments[0]));
    const std::string result = api.call(step.function, step.arguments);
    if (step.result.starts_with("~"))
      EXPECT_NE(result.find(step.result.substr(1)), std::string::npos)
          << result;
    else
      EXPECT_EQ(result, step.result);
    EXPECT_EQ(api.LMSGetLastError(), std::to_string(step.error));
  }
  EXPECT_EQ(api.state(), Runtime::State::kFinished);
}

// What the next launch sees after a session ends one way or another.
struct Settling {
  const char* name;
  std::vector<std::pair<std::string, std::string>> sets;
  Values stored;
  std::string masteryScore = "80";
  std::string credit = "credit";
  std::string lessonMode = "normal";
  bool finish = true;  // else the learner leaves without LMSFinish
  std::string status, entry, totalTime;
};

TEST(RuntimeTest, FinishSettlesStatusEntryAndTotalTime) {
  const Settling cases[] = {
      {"nothing set",
       {},
       {},
       "80",
       "credit",
       "normal",
       true,
       "completed",
       "",
       "0000:00:00"},
      {"left without finishing",
       {},
       {},
       "80",
       "credit",
       "normal",
       false,
       "completed",
       "",
       "0000:00:00"},
      {"score above the mastery score",
       {{"cmi.core.score.raw", "85"}},
       {},
       "80",
       "credit",
       "normal",
       true,
       "passed",
       "",
       "0000:00:00"},
      {"score at the mastery score",
       {{"cmi.core.score.raw", "80"}},
       {},
       "80",
       "credit",
       "normal",
       false,
       "passed",
       "",
       "0000:00:00"},
      {"score below the mastery score",
       {{"cmi.core.score.raw", "79.5"}},
       {},
       "80",
       "credit",
       "normal",
       true,
       "failed",
       "",
       "0000:00:00"},
      {"no mastery score",
       {{"cmi.core.score.raw", "10"}},
       {},
       "",
       "credit",
       "normal",
       true,
       "completed",
       "",
       "0000:00:00"},
      {"no credit",
       {{"cmi.core.score.raw", "10"}},
       {},
       "80",
       "no-credit",
       "normal",
       true,
       "completed",
       "",
       "0000:00:00"},
      {"browse mode",
       {},
       {},
       "80",
       "credit",
       "browse",
       true,
       "browsed",
       "",
       "0000:00:00"},
      {"review mode",
       {},
       {},
       "80",
       "credit",
       "review",
       true,
       "not attempted",
       "",
       "0000:00:00"},
      {"the SCO's status stands",
       {{"cmi.core.lesson_status", "completed"}, {"cmi.core.score.raw", "10"}},
       {},
       "80",
       "credit",
       "normal",
       true,
       "completed",
       "",
       "0000:00:00"},
      {"incomplete stands",
       {{"cmi.core.lesson_status", "incomplete"}, {"cmi.core.score.raw", "95"}},
       {},
       "80",
       "credit",
       "normal",
       true,
       "incomplete",
       "",
       "0000:00:00"},
      {"suspended, time summed",
       {{"cmi.core.exit", "suspend"}, {"cmi.core.session_time", "00:30:00"}},
       {{"cmi.core.total_time", "0001:45:00.5"},
        {"cmi.core.lesson_status", "incomplete"},
        {"cmi.core.entry", ""}},
       "80",
       "credit",
       "normal",
       false,
       "incomplete",
       "resume",
       "0002:15:00.50"},
      {"logout after a resume",
       {{"cmi.core.exit", "logout"}, {"cmi.core.session_time", "00:00:01.25"}},
       {{"cmi.core.entry", "resume"}, {"cmi.core.lesson_status", "failed"}},
       "80",
       "credit",
       "normal",
       true,
       "failed",
       "",
       "0000:00:01.25"},
      {"the total stays at the largest timespan",
       {{"cmi.core.session_time", "0002:00:00"}},
       {{"cmi.core.total_time", "9999:00:00"}},
       "80",
       "credit",
       "normal",
       true,
       "completed",
       "",
       "9999:59:59.99"},
  };
  for (const Settling& c : cases) {
    SCOPED_TRACE(c.name);
    LaunchContext context = Context();
    context.masteryScore = c.masteryScore;
    context.credit = c.credit;
    context.lessonMode = c.lessonMode;
    Session session({}, c.stored, context);
    for (const auto& [element, value] : c.sets)
      ASSERT_EQ(session.api.LMSSetValue(element, value), "true") << element;
    if (c.finish)
      session.api.LMSFinish("");
    else
      session.api.end();
    const Values stored = session.api.toStore();
    EXPECT_EQ(stored.at("cmi.core.lesson_status"), c.status);
    EXPECT_EQ(stored.at("cmi.core.total_time"), c.totalTime);
    EXPECT_FALSE(stored.contains("zept.session"));
    Session next({}, stored, context);
    EXPECT_EQ(next.api.LMSGetValue("cmi.core.entry"), c.entry);
    EXPECT_EQ(next.api.LMSGetValue("cmi.core.total_time"), c.totalTime);
  }
}

TEST(RuntimeTest, RelaunchAfterTheProgramDiedMidSession) {
  Values stored;
  {
    Session first;
    for (const auto& [element, value] :
         {std::pair{"cmi.core.lesson_location", "p3"},
          {"cmi.suspend_data", "state"},
          {"cmi.core.exit", "suspend"},
          {"cmi.core.session_time", "00:10:00"},
          {"cmi.objectives.0.id", "obj1"},
          {"cmi.interactions.0.id", "q1"},
          {"cmi.interactions.0.result", "wrong"}})
      ASSERT_EQ(first.api.LMSSetValue(element, value), "true");
    first.api.LMSCommit("");
    EXPECT_TRUE(first.api.unstored());
    stored = first.api.toStore();  // and the program dies here
  }
  EXPECT_EQ(stored.at("zept.session"), "open");
  // A stored copy of what the learner and the manifest provide is ignored.
  stored["cmi.core.student_name"] = "stale";
  EXPECT_EQ(stored.at("cmi.core.total_time"), "0000:00:00");

  // Both a relaunch and the results close the session once.
  const Values next = NextLaunchValues(stored, Context());
  EXPECT_EQ(next.at("cmi.core.entry"), "resume");
  EXPECT_EQ(next.at("cmi.core.total_time"), "0000:10:00");
  EXPECT_EQ(next.at("cmi.core.lesson_status"), "completed");
  EXPECT_EQ(next.at("cmi.core.exit"), "suspend");
  EXPECT_EQ(next.at("cmi.core.session_time"), "00:10:00");
  EXPECT_EQ(next.at("cmi.core.student_name"), "Doe, Jane");
  EXPECT_EQ(next.at("cmi.interactions.0.result"), "wrong");
  EXPECT_FALSE(next.contains("zept.session"));

  Session second({}, stored);
  EXPECT_EQ(second.api.LMSGetValue("cmi.core.entry"), "resume");
  EXPECT_EQ(second.api.LMSGetValue("cmi.core.total_time"), "0000:10:00");
  EXPECT_EQ(second.api.LMSGetValue("cmi.core.lesson_location"), "p3");
  EXPECT_EQ(second.api.LMSGetValue("cmi.suspend_data"), "state");
  EXPECT_EQ(second.api.LMSGetValue("cmi.core.student_name"), "Doe, Jane");
  EXPECT_EQ(second.api.LMSGetValue("cmi.objectives._count"), "1");
  // Interactions are this session's journal; the last ones stay stored
  // until this session records its own.
  EXPECT_EQ(second.api.LMSGetValue("cmi.interactions._count"), "0");
  EXPECT_EQ(second.api.toStore().at("cmi.interactions.0.id"), "q1");
  EXPECT_FALSE(second.api.toStore().contains("cmi.core.session_time"));
  ASSERT_EQ(second.api.LMSSetValue("cmi.core.session_time", "00:05:00"),
            "true");
  ASSERT_EQ(second.api.LMSSetValue("cmi.interactions.0.id", "q9"), "true");
  second.api.LMSFinish("");
  const Values last = second.api.toStore();
  EXPECT_EQ(last.at("cmi.core.total_time"), "0000:15:00");
  EXPECT_EQ(last.at("cmi.core.entry"), "");
  EXPECT_EQ(last.at("cmi.interactions.0.id"), "q9");
  EXPECT_FALSE(last.contains("cmi.interactions.0.result"));
}

TEST(RuntimeTest, LeniencyIsToldOncePerElementAndStrictRecordsIt) {
  std::vector<std::string> lines;
  Session lenient;
  lenient.api.onLeniency = [&lines](const std::string& line) {
    lines.push_back(line);
  };
  for (int i = 0; i < 3; ++i) {
    lenient.api.LMSSetValue("cmi.suspend_data", Repeat("x", 5000 + i));
    lenient.api.LMSSetValue("cmi.objectives." + std::to_string(i) + ".id",
                            "with blank");
  }
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "cmi.suspend_data: 5000 characters, past the 4096 of a "
            "CMIString4096; accepted, as lenient runtimes do");
  EXPECT_NE(lines[1].find("cmi.objectives.0.id: not a CMIIdentifier"),
            std::string::npos);

  Session strict({.strict = true});
  strict.api.LMSSetValue("cmi.suspend_data", Repeat("x", 5000));
  strict.api.LMSSetValue("cmi.location", "p1");
  strict.api.LMSGetValue("cmi.core.exit");
  strict.api.LMSGetValue("cmi.core.exit");
  // The text of another code is the diagnostic's answer, no call of
  // LMSGetErrorString the SCO made.
  strict.api.LMSGetDiagnostic("201");
  strict.api.LMSFinish("");
  EXPECT_EQ(strict.api.conformanceSummary(),
            "Calls: LMSInitialize 1, LMSFinish 1, LMSGetValue 2, "
            "LMSSetValue 2, LMSCommit 0, LMSGetLastError 0, "
            "LMSGetErrorString 0, LMSGetDiagnostic 1\n"
            "Error 401 (Not implemented error), 1 time: cmi.location\n"
            "Error 404 (Element is write only), 2 times: cmi.core.exit\n"
            "Error 405 (Incorrect data type), 1 time: cmi.suspend_data\n"
            "Refused by a strict LMS:\n"
            "  cmi.suspend_data: 5000 characters, past the 4096 of a "
            "CMIString4096\n");
}

TEST(RuntimeTest, Scorm2004NamesAreNamedInTheDiagnostic) {
  const std::pair<std::string, std::string> cases[] = {
      {"cmi.completion_status", "use cmi.core.lesson_status"},
      {"cmi.success_status", "use cmi.core.lesson_status"},
      {"cmi.location", "use cmi.core.lesson_location"},
      {"cmi.exit", "use cmi.core.exit"},
      {"cmi.session_time", "use cmi.core.session_time"},
      {"cmi.score.scaled", "use cmi.core.score.raw (0 to 100)"},
      {"cmi.objectives.2.success_status", "use cmi.objectives.2.status"},
      {"cmi.interactions.4.learner_response",
       "use cmi.interactions.4.student_response"},
      {"cmi.progress_measure", "SCORM 1.2 has nothing like it"},
      {"adl.nav.request", "no navigation requests"},
  };
  Session session;
  for (const auto& [element, hint] : cases) {
    SCOPED_TRACE(element);
    EXPECT_EQ(session.api.LMSSetValue(element, "x"), "false");
    EXPECT_EQ(session.error(), 401);
    const std::string diagnostic = session.api.LMSGetDiagnostic("");
    EXPECT_NE(diagnostic.find(element + " is a SCORM 2004 element"),
              std::string::npos);
    EXPECT_NE(diagnostic.find(hint), std::string::npos) << diagnostic;
    EXPECT_EQ(session.api.LMSGetDiagnostic("401"), diagnostic);
  }
}

TEST(RuntimeTest, BadInputIsRepairedOrRefusedNeverKept) {
  Session session({.maxValueBytes = 2000});
  // Invalid UTF-8 from the page is kept as U+FFFD.
  ASSERT_EQ(session.api.LMSSetValue("cmi.suspend_data", "a\xFF\xC3"), "true");
  EXPECT_EQ(session.api.LMSGetValue("cmi.suspend_data"),
            "a\xEF\xBF\xBD\xEF\xBF\xBD");
  // The item's values stay within their budget.
  EXPECT_EQ(session.api.LMSSetValue("cmi.suspend_data", Repeat("x", 1500)),
            "true");
  EXPECT_EQ(session.api.LMSSetValue("cmi.comments", Repeat("x", 1000)),
            "false");
  EXPECT_EQ(session.error(), 101);
  EXPECT_EQ(session.api.LMSSetValue("cmi.suspend_data", "short"), "true");
  EXPECT_EQ(session.api.LMSSetValue("cmi.comments", Repeat("x", 1000)), "true");
}

TEST(RuntimeTest, TimespansAndDecimals) {
  EXPECT_EQ(ParseTimespan("0001:02:03.4"), 372340);
  EXPECT_EQ(ParseTimespan("00:00:00.999"), 99);
  EXPECT_EQ(ParseTimespan("00:00"), std::nullopt);
  EXPECT_EQ(FormatTimespan(372340), "0001:02:03.40");
  EXPECT_EQ(FormatTimespan(-5), "0000:00:00");
  EXPECT_EQ(ParseDecimal("-.5"), -0.5);
  EXPECT_EQ(ParseDecimal("7."), 7.0);
  EXPECT_EQ(ParseDecimal("-"), std::nullopt);
  EXPECT_EQ(ParseDecimal("1.2.3"), std::nullopt);
}

}  // namespace
}  // namespace zept::scorm
