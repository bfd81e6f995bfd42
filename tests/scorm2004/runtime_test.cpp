#include "scorm2004/runtime.h"

#include <gtest/gtest.h>

#include "scorm2004/datamodel.h"

namespace zept::scorm2004 {
namespace {

LaunchContext2004 Context() {
  LaunchContext2004 context;
  context.learnerId = "jdoe";
  context.learnerName = "Doe, Jane";
  context.launchData = "start=2";
  context.objectiveIds = {"obj-a", "obj-b"};
  context.commentsFromLms = {{"{lang=en}Read chapter 2", "", "2024-01-02"}};
  return context;
}

// The one harness: a session already initialised.
struct Session {
  Runtime api;
  explicit Session(RuntimeOptions options = {}, Values stored = {},
                   LaunchContext2004 context = Context())
      : api(std::move(context), std::move(stored), options) {
    api.Initialize("");
  }
  int error() { return std::stoi(api.GetLastError()); }
  // The values the next launch starts from, after the SCO terminated.
  Values finish() {
    EXPECT_EQ(api.Terminate(""), "true");
    return api.toStore();
  }
};

std::string Repeat(std::string_view unit, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

TEST(Runtime2004Test, StateMachine) {
  enum Where { kBefore, kRunning, kAfter };
  const struct {
    Where where;
    std::string function;
    std::vector<std::string> arguments;
    std::string answer;
    int error;
  } kCases[] = {
      {kBefore, "Initialize", {""}, "true", 0},
      {kBefore, "Initialize", {"x"}, "false", 201},
      {kRunning, "Initialize", {""}, "false", 103},
      {kAfter, "Initialize", {""}, "false", 104},
      {kBefore, "Terminate", {""}, "false", 112},
      {kRunning, "Terminate", {"x"}, "false", 201},
      {kRunning, "Terminate", {""}, "true", 0},
      {kAfter, "Terminate", {""}, "false", 113},
      {kBefore, "GetValue", {"cmi.learner_id"}, "", 122},
      {kRunning, "GetValue", {"cmi.learner_id"}, "jdoe", 0},
      {kRunning, "GetValue", {""}, "", 301},
      {kAfter, "GetValue", {"cmi.learner_id"}, "", 123},
      {kBefore, "SetValue", {"cmi.location", "p1"}, "false", 132},
      {kRunning, "SetValue", {"cmi.location", "p1"}, "true", 0},
      {kRunning, "SetValue", {"", "p1"}, "false", 351},
      {kAfter, "SetValue", {"cmi.location", "p1"}, "false", 133},
      {kBefore, "Commit", {""}, "false", 142},
      {kRunning, "Commit", {"x"}, "false", 201},
      {kRunning, "Commit", {""}, "true", 0},
      {kAfter, "Commit", {""}, "false", 143},
      {kRunning, "LMSInitialize", {""}, "false", 101},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.function + " in state " + std::to_string(c.where));
    Runtime api(Context(), {});
    if (c.where != kBefore) api.Initialize("");
    if (c.where == kAfter) api.Terminate("");
    EXPECT_EQ(api.call(c.function, c.arguments), c.answer);
    EXPECT_EQ(api.GetLastError(), std::to_string(c.error));
    // The error functions work in every state and leave the error alone.
    EXPECT_EQ(api.GetErrorString(std::to_string(c.error)),
              ErrorString(c.error));
    EXPECT_FALSE(api.GetDiagnostic("").empty());
    EXPECT_EQ(api.GetLastError(), std::to_string(c.error));
  }
  Runtime api(Context(), {});
  // A diagnostic stays within 255 and cuts no character in two.
  api.refuse(391, "Commit", "x" + Repeat("\xC3\xA9", 200));
  EXPECT_EQ(api.GetDiagnostic(""), "x" + Repeat("\xC3\xA9", 125) + "...");
  EXPECT_EQ(api.GetErrorString("999"), "");
  EXPECT_EQ(api.GetErrorString("abc"), "");
  EXPECT_EQ(api.GetErrorString("408"), "Data Model Dependency Not Established");
}

// In order: earlier rows make the records later rows use.
struct SetCase {
  std::string element;
  std::string value;
  int lenient;  // the error code of a lenient runtime (0: "true")
  int strict;
};

const SetCase kSetCases[] = {
    // Keywords and read-only elements.
    {"cmi._version", "1.0", 404, 404},
    {"cmi.interactions._count", "1", 404, 404},
    {"cmi.objectives._children", "x", 404, 404},
    {"cmi.location._children", "x", 404, 404},
    {"cmi.learner_id", "x", 404, 404},
    {"cmi.credit", "credit", 404, 404},
    {"cmi.entry", "resume", 404, 404},
    {"cmi.total_time", "PT1S", 404, 404},
    {"cmi.completion_threshold", "0.5", 404, 404},
    {"cmi.comments_from_lms.0.comment", "x", 404, 404},
    {"adl.nav.request_valid.continue", "true", 404, 404},
    // Names outside the model.
    {"cmi", "x", 401, 401},
    {"cmi.core.lesson_status", "passed", 401, 401},
    {"cmi.objectives.x.id", "a", 401, 401},
    {"cmi.objectives.01.id", "a", 351, 351},
    {"adl.nav.request_valid.choice", "a", 401, 401},
    // Strings, statuses, times.
    {"cmi.location", "p3", 0, 0},
    {"cmi.location", Repeat("x", 1000), 0, 0},
    // Past the SPM is kept (the conformance tests store more); past what
    // this runtime keeps is refused.
    {"cmi.location", Repeat("\xC3\xA9", 1001), 0, 0},
    {"cmi.location", Repeat("x", 64001), 351, 351},
    {"cmi.suspend_data", Repeat("x", 64000), 0, 0},
    {"cmi.suspend_data", Repeat("x", 64001), 0, 0},
    {"cmi.completion_status", "completed", 0, 0},
    {"cmi.completion_status", "passed", 406, 406},
    {"cmi.completion_status", "", 406, 406},
    {"cmi.success_status", "failed", 0, 0},
    {"cmi.success_status", "completed", 406, 406},
    {"cmi.exit", "normal", 0, 0},
    {"cmi.exit", "logout", 0, 0},
    {"cmi.exit", "", 0, 0},
    {"cmi.exit", "quit", 406, 406},
    {"cmi.session_time", "PT1M30S", 0, 0},
    {"cmi.session_time", "PT1.125S", 0, 406},
    {"cmi.session_time", "00:01:30", 0, 406},
    {"cmi.session_time", "01:30", 406, 406},
    // Reals and their ranges.
    {"cmi.score.scaled", "0.5", 0, 0},
    {"cmi.score.scaled", "-1", 0, 0},
    {"cmi.score.scaled", "1.5", 407, 407},
    {"cmi.score.scaled", "x", 406, 406},
    {"cmi.score.raw", "150", 0, 0},
    {"cmi.score.min", "-20", 0, 0},
    {"cmi.score.max", "1e2", 406, 406},
    {"cmi.progress_measure", "0.3", 0, 0},
    {"cmi.progress_measure", "1.2", 407, 407},
    {"cmi.learner_preference.audio_level", "2.5", 0, 0},
    {"cmi.learner_preference.audio_level", "-1", 407, 407},
    {"cmi.learner_preference.delivery_speed", "0.5", 0, 0},
    {"cmi.learner_preference.audio_captioning", "1", 0, 0},
    {"cmi.learner_preference.audio_captioning", "2", 406, 406},
    {"cmi.learner_preference.language", "fr-CA", 0, 0},
    {"cmi.learner_preference.language", "", 0, 0},
    {"cmi.learner_preference.language", "fr_CA", 406, 406},
    {"cmi.learner_preference.language", "sp", 406, 406},  // not a language
    // Comments.
    {"cmi.comments_from_learner.0.comment", "{lang=en}Nice", 0, 0},
    {"cmi.comments_from_learner.0.comment", "{lang=}Nice", 0, 406},
    {"cmi.comments_from_learner.0.location", "p2", 0, 0},
    {"cmi.comments_from_learner.0.timestamp", "2024-05-01T10:00:00", 0, 0},
    {"cmi.comments_from_learner.0.timestamp", "2024-05-01T10:00:00Z", 0, 406},
    {"cmi.comments_from_learner.0.timestamp", "yesterday", 406, 406},
    {"cmi.comments_from_learner.2.comment", "x", 351, 351},
    // Objectives: obj-a and obj-b come from the manifest.
    {"cmi.objectives.2.score.scaled", "0.5", 408, 408},
    {"cmi.objectives.2.id", "obj-c", 0, 0},
    {"cmi.objectives.2.id", "obj-d", 351, 351},
    {"cmi.objectives.2.id", "obj-c", 0, 0},
    {"cmi.objectives.3.id", "obj-a", 351, 351},
    {"cmi.objectives.0.success_status", "passed", 0, 0},
    {"cmi.objectives.0.success_status", "done", 406, 406},
    {"cmi.objectives.0.completion_status", "not attempted", 0, 0},
    {"cmi.objectives.0.progress_measure", "2", 407, 407},
    {"cmi.objectives.0.score.scaled", "-1.5", 407, 407},
    {"cmi.objectives.0.score.raw", "12", 0, 0},
    {"cmi.objectives.0.description", "{lang=de}Ziel", 0, 0},
    {"cmi.objectives.4.id", "obj-e", 351, 351},
    // Interactions: the id first, the type before any response.
    {"cmi.interactions.0.type", "choice", 408, 408},
    {"cmi.interactions.0.id", "q 1", 0, 406},
    {"cmi.interactions.0.id", "urn:", 0, 406},
    {"cmi.interactions.0.id", "", 406, 406},
    {"cmi.interactions.0.id", "q1", 0, 0},
    {"cmi.interactions.0.learner_response", "a", 408, 408},
    {"cmi.interactions.0.type", "sideways", 406, 406},
    {"cmi.interactions.0.type", "choice", 0, 0},
    {"cmi.interactions.0.learner_response", "a[,]b", 0, 0},
    {"cmi.interactions.0.learner_response", "a b", 0, 406},
    {"cmi.interactions.0.correct_responses.0.pattern", "a[,]c", 0, 0},
    {"cmi.interactions.0.correct_responses.1.pattern", "a[,]c", 351, 351},
    {"cmi.interactions.0.correct_responses.1.pattern", "b", 0, 0},
    {"cmi.interactions.0.correct_responses.3.pattern", "c", 351, 351},
    {"cmi.interactions.0.objectives.0.id", "obj-a", 0, 0},
    {"cmi.interactions.0.objectives.1.id", "obj-a", 351, 351},
    {"cmi.interactions.0.timestamp", "2024-05-01T10:00:00.5Z", 0, 0},
    {"cmi.interactions.0.weighting", "2", 0, 0},
    {"cmi.interactions.0.weighting", "heavy", 406, 406},
    {"cmi.interactions.0.result", "incorrect", 0, 0},
    {"cmi.interactions.0.result", "0.75", 0, 0},
    {"cmi.interactions.0.result", "wrong", 406, 406},
    {"cmi.interactions.0.latency", "PT12S", 0, 0},
    {"cmi.interactions.0.latency", "12", 406, 406},
    {"cmi.interactions.0.description", "{lang=en}Capital?", 0, 0},
    {"cmi.interactions.1.objectives.0.id", "obj-a", 408, 408},
    {"cmi.interactions.1.id", "q2", 0, 0},
    {"cmi.interactions.1.type", "true-false", 0, 0},
    {"cmi.interactions.1.correct_responses.0.pattern", "true", 0, 0},
    {"cmi.interactions.1.correct_responses.1.pattern", "false", 351, 351},
    {"cmi.interactions.1.correct_responses.1.pattern", "maybe", 351, 351},
    {"cmi.interactions.3.id", "q4", 351, 351},
    // Navigation requests.
    {"adl.nav.request", "continue", 0, 0},
    {"adl.nav.request", "{target=intro.1}choice", 0, 0},
    {"adl.nav.request", "{target=intro}jump", 0, 0},
    {"adl.nav.request", "{target=}choice", 406, 406},
    {"adl.nav.request", "choice", 406, 406},
    {"adl.nav.request", "start", 406, 406},
    {"adl.nav.request", "_none_", 0, 0},
};

TEST(Runtime2004Test, SetValueTable) {
  for (const bool strict : {false, true}) {
    Session session({.strict = strict});
    for (const SetCase& c : kSetCases) {
      SCOPED_TRACE((strict ? "strict " : "lenient ") + c.element + " = " +
                   c.value.substr(0, 40));
      const int expected = strict ? c.strict : c.lenient;
      EXPECT_EQ(session.api.SetValue(c.element, c.value),
                expected == 0 ? "true" : "false");
      EXPECT_EQ(session.error(), expected);
    }
  }
}

TEST(Runtime2004Test, GetValueTable) {
  Session session;
  session.api.SetValue("cmi.interactions.0.id", "q1");
  const struct {
    std::string element;
    std::string value;
    int error;
  } kCases[] = {
      {"cmi._version", "1.0", 0},
      {"cmi.learner_id", "jdoe", 0},
      {"cmi.learner_name", "Doe, Jane", 0},
      {"cmi.launch_data", "start=2", 0},
      {"cmi.credit", "credit", 0},
      {"cmi.mode", "normal", 0},
      {"cmi.entry", "ab-initio", 0},
      {"cmi.total_time", "PT0H0M0S", 0},
      {"cmi.completion_status", "unknown", 0},
      {"cmi.success_status", "unknown", 0},
      {"cmi.time_limit_action", "continue,no message", 0},
      {"cmi.learner_preference.audio_level", "1", 0},
      {"cmi.learner_preference.audio_captioning", "0", 0},
      {"cmi.learner_preference.language", "", 0},
      {"cmi.score._children", "scaled,raw,min,max", 0},
      {"cmi.objectives._count", "2", 0},
      {"cmi.objectives.1.id", "obj-b", 0},
      {"cmi.objectives.1.success_status", "unknown", 0},
      {"cmi.objectives.1.completion_status", "unknown", 0},
      {"cmi.objectives.1.score.scaled", "", 403},
      {"cmi.objectives.2.id", "", 301},
      {"cmi.comments_from_lms._count", "1", 0},
      {"cmi.comments_from_lms.0.comment", "{lang=en}Read chapter 2", 0},
      {"cmi.comments_from_lms.0.location", "", 403},
      {"cmi.comments_from_learner._count", "0", 0},
      {"cmi.interactions._count", "1", 0},
      {"cmi.interactions.0.id", "q1", 0},
      {"cmi.interactions.0.type", "", 403},
      {"cmi.interactions.0.objectives._count", "0", 0},
      {"cmi.interactions.0.correct_responses._count", "0", 0},
      {"cmi.location", "", 403},
      {"cmi.suspend_data", "", 403},
      {"cmi.score.raw", "", 403},
      {"cmi.completion_threshold", "", 403},
      {"cmi.scaled_passing_score", "", 403},
      {"cmi.max_time_allowed", "", 403},
      {"cmi.exit", "", 405},
      {"cmi.session_time", "", 405},
      {"cmi.location._children", "", 301},
      {"cmi.location._count", "", 301},
      {"cmi.location._version", "", 401},
      {"cmi.core.student_id", "", 401},
      {"adl.nav.request", "_none_", 0},
      {"adl.data._count", "0", 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.element);
    EXPECT_EQ(session.api.GetValue(c.element), c.value);
    EXPECT_EQ(session.error(), c.error);
  }
}

TEST(Runtime2004Test, ResponseFormats) {
  const struct {
    std::string_view type;
    std::string value;
    bool response, pattern;  // valid as a learner response, as a pattern
  } kCases[] = {
      {"true-false", "true", true, true},
      {"true-false", "false", true, true},
      {"true-false", "t", false, false},
      {"true-false", "1", false, false},
      {"choice", "", true, true},
      {"choice", "a", true, true},
      {"choice", "a[,]b[,]urn:x:c", true, true},
      {"choice", "a[,]a", false, false},
      {"choice", "a[,]", false, false},
      {"choice", "a b", false, false},
      {"choice", "{a}", false, false},
      {"fill-in", "Paris", true, true},
      {"fill-in", "{lang=fr}Paris[,]{lang=en}Paris", true, true},
      // A learner's text may look like the delimiters; a pattern's may not.
      {"fill-in", "{case_matters=true}{order_matters=false}a[,]b", true, true},
      {"fill-in", "{order_matters=true}{case_matters=false}a", true, true},
      {"fill-in", "{case_matters=yes}a", true, false},
      {"fill-in", "{lang=12}a", false, false},
      {"fill-in", "{lang=frl}z", false, false},  // no such language
      // Past the SPM (250 characters, 10 items) is no fault.
      {"fill-in", Repeat("x", 251), true, true},
      {"fill-in", Repeat("a[,]", 10) + "a", true, true},
      {"long-fill-in", "{lang=en}" + Repeat("x", 4000), true, true},
      {"long-fill-in", "{case_matters=true}Some text", true, true},
      {"long-fill-in", "{case_matters=true}{lang=x}Some text", true, false},
      {"long-fill-in", "{lang=eng}{case_matters=true}Text", true, true},
      {"likert", "strongly_agree", true, true},
      {"likert", "", false, false},
      {"likert", "a[,]b", false, false},
      {"matching", "1[.]a[,]2[.]b", true, true},
      {"matching", "1[.]a[,]2", false, false},
      {"matching", "1.a", false, false},
      {"performance", "step1[.]10[,]step2[.]on", true, true},
      {"performance", "[.]answer[,]s2[.]", true, true},
      {"performance", "{order_matters=false}s1[.]1.5[:]2", false, true},
      {"performance", "{order_matters=no}s1[.]1", false, false},
      {"performance", "step1", true, true},  // one step, named
      {"performance", "s1[.]a[,]s2", false, false},
      {"performance", "[.]a[.]b", false, false},
      {"performance", "[.]", false, false},
      {"sequencing", "c[,]a[,]b", true, true},
      {"sequencing", "", false, false},
      {"numeric", "-2.5", true, false},
      {"numeric", "1[:]5", false, true},
      {"numeric", "[:]5", false, true},
      {"numeric", "1[:]", false, true},
      {"numeric", "5[:]1", false, false},
      {"numeric", "two", false, false},
      {"other", "anything [,] at all", true, true},
      {"other", Repeat("x", 4001), true, true},
      {"sideways", "a", false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.type) + ": " + c.value.substr(0, 40));
    EXPECT_EQ(IsResponseFormat(c.type, c.value, false), c.response);
    EXPECT_EQ(IsResponseFormat(c.type, c.value, true), c.pattern);
  }
}

TEST(Runtime2004Test, StatusEvaluation) {
  const struct {
    std::string threshold, measure, completion;  // "" when unset
    std::string passing, scaled, success;
    std::string strictCompletion, lenientCompletion;
    std::string strictSuccess, lenientSuccess;
  } kCases[] = {
      {"", "", "", "", "", "", "unknown", "unknown", "unknown", "unknown"},
      {"", "0.2", "completed", "", "0.1", "passed", "completed", "completed",
       "passed", "passed"},
      {"0.8", "0.8", "incomplete", "0.5", "0.5", "failed", "completed",
       "completed", "passed", "passed"},
      {"0.8", "0.79", "completed", "0.5", "0.49", "passed", "incomplete",
       "incomplete", "failed", "failed"},
      {"0.8", "", "completed", "0.5", "", "passed", "unknown", "completed",
       "unknown", "passed"},
      {"0", "0", "", "-1", "-1", "", "completed", "completed", "passed",
       "passed"},
  };
  for (const auto& c : kCases) {
    for (const bool strict : {false, true}) {
      SCOPED_TRACE("threshold " + c.threshold + " measure " + c.measure +
                   (strict ? " strict" : " lenient"));
      LaunchContext2004 context = Context();
      context.completionThreshold = c.threshold;
      context.scaledPassingScore = c.passing;
      Session session({.strict = strict}, {}, context);
      const std::pair<std::string, std::string> kSets[] = {
          {"cmi.progress_measure", c.measure},
          {"cmi.completion_status", c.completion},
          {"cmi.score.scaled", c.scaled},
          {"cmi.success_status", c.success}};
      for (const auto& [element, value] : kSets) {
        if (!value.empty()) {
          EXPECT_EQ(session.api.SetValue(element, value), "true");
        }
      }
      const std::string completion =
          strict ? c.strictCompletion : c.lenientCompletion;
      const std::string success = strict ? c.strictSuccess : c.lenientSuccess;
      EXPECT_EQ(session.api.GetValue("cmi.completion_status"), completion);
      EXPECT_EQ(session.api.GetValue("cmi.success_status"), success);
      // What the store keeps is what the SCO was told.
      const Values stored = session.finish();
      EXPECT_EQ(stored.contains("cmi.completion_status")
                    ? stored.at("cmi.completion_status")
                    : "unknown",
                completion);
      EXPECT_EQ(stored.contains("cmi.success_status")
                    ? stored.at("cmi.success_status")
                    : "unknown",
                success);
    }
  }
}

TEST(Runtime2004Test, SessionsOfAnAttempt) {
  // Suspended: the next launch resumes with the values and the time summed.
  Session first;
  first.api.SetValue("cmi.location", "p5");
  first.api.SetValue("cmi.learner_preference.language", "de");
  first.api.SetValue("cmi.session_time", "PT1M30.5S");
  first.api.SetValue("cmi.exit", "suspend");
  Session second({}, first.finish());
  EXPECT_EQ(second.api.GetValue("cmi.entry"), "resume");
  EXPECT_EQ(second.api.GetValue("cmi.location"), "p5");
  EXPECT_EQ(second.api.GetValue("cmi.total_time"), "PT0H1M30.5S");
  EXPECT_EQ(second.api.GetValue("cmi.exit"), "");
  EXPECT_EQ(second.error(), 405);
  // Any other exit ends the attempt: the next one starts afresh, keeping
  // only the learner's preferences.
  second.api.SetValue("cmi.session_time", "PT1H");
  second.api.SetValue("cmi.exit", "normal");
  const Values ended = second.finish();
  EXPECT_EQ(ended.at("cmi.total_time"), "PT1H1M30.5S");
  EXPECT_EQ(second.api.navigationRequest(), "");
  Session third({}, ended);
  EXPECT_EQ(third.api.GetValue("cmi.entry"), "ab-initio");
  EXPECT_EQ(third.api.GetValue("cmi.total_time"), "PT0H0M0S");
  EXPECT_EQ(third.api.GetValue("cmi.location"), "");
  EXPECT_EQ(third.error(), 403);
  EXPECT_EQ(third.api.GetValue("cmi.learner_preference.language"), "de");
  EXPECT_EQ(third.api.GetValue("cmi.objectives._count"), "2");

  // A session time too long to hold is refused, and the total kept; one
  // that only overflows the sum holds the total at the largest.
  const struct {
    const char* before;
    const char* session;
    bool taken;
    const char* total;
  } kLongSessions[] = {
      {"PT1H", "P3000000000Y", false, "PT1H0M0S"},
      {"PT999999999999H", "PT2H", true, "PT999999999999H59M59.99S"},
  };
  for (const auto& row : kLongSessions) {
    Session before;
    before.api.SetValue("cmi.session_time", row.before);
    before.api.SetValue("cmi.exit", "suspend");
    Session after({}, before.finish());
    EXPECT_EQ(after.api.SetValue("cmi.session_time", row.session),
              row.taken ? "true" : "false")
        << row.session;
    after.api.SetValue("cmi.exit", "suspend");
    EXPECT_EQ(after.finish().at("cmi.total_time"), row.total) << row.session;
  }

  // What the sequencer read for the objectives is there at launch.
  LaunchContext2004 read = Context();
  ObjectiveAtLaunch passedB, scoredC;
  passedB.id = "obj-b";
  passedB.successStatus = "passed";
  scoredC.id = "obj-c";
  scoredC.scaledScore = "0.5";
  read.objectiveValues = {passedB, scoredC};
  Session fourth({}, third.finish(), read);
  EXPECT_EQ(fourth.api.GetValue("cmi.objectives.1.success_status"), "passed");
  EXPECT_EQ(fourth.api.GetValue("cmi.objectives.2.id"), "obj-c");
  EXPECT_EQ(fourth.api.GetValue("cmi.objectives.2.score.scaled"), "0.5");

  // suspendAll suspends too; logout and time-out end all.
  const struct {
    std::string exit, request, entry, navigation;
  } kExits[] = {{"", "suspendAll", "resume", "suspendAll"},
                {"suspend", "continue", "resume", "continue"},
                {"logout", "continue", "ab-initio", "exitAll"},
                {"time-out", "", "ab-initio", "exitAll"},
                {"", "{target=b}choice", "ab-initio", "{target=b}choice"}};
  for (const auto& c : kExits) {
    SCOPED_TRACE(c.exit + " " + c.request);
    Session session;
    session.api.SetValue("cmi.exit", c.exit);
    if (!c.request.empty()) session.api.SetValue("adl.nav.request", c.request);
    const Values stored = session.finish();
    EXPECT_EQ(session.api.navigationRequest(), c.navigation);
    EXPECT_EQ(Session({}, stored).api.GetValue("cmi.entry"), c.entry);
  }

  // A session cut off (the program stopped with it open, or end(true) as
  // the course closes) keeps its attempt when the SCO had not said how it
  // left; taken away by the learner's navigation (end(false)) it ends as
  // Terminate("") would.
  Session cut;
  cut.api.SetValue("cmi.location", "p7");
  cut.api.SetValue("cmi.session_time", "PT10S");
  Values open = cut.api.toStore();
  EXPECT_EQ(open.at("zept.session"), "open");
  Runtime relaunched(Context(), open);
  EXPECT_TRUE(relaunched.unstored());
  relaunched.Initialize("");
  EXPECT_EQ(relaunched.GetValue("cmi.entry"), "resume");
  EXPECT_EQ(relaunched.GetValue("cmi.location"), "p7");
  EXPECT_EQ(relaunched.GetValue("cmi.total_time"), "PT0H0M10S");
  EXPECT_EQ(cut.api.valuesAtEnd(false).at("cmi.entry"), "");
  EXPECT_EQ(cut.api.valuesAtEnd(false).at("zept.attempt"), "ended");
  EXPECT_EQ(cut.api.state(), Runtime::State::kRunning);
  cut.api.end(true);
  EXPECT_EQ(cut.api.state(), Runtime::State::kTerminated);
  EXPECT_EQ(cut.api.toStore().at("cmi.entry"), "resume");
  // The sequencer may begin a new attempt whatever the last one said.
  LaunchContext2004 fresh = Context();
  fresh.newAttempt = true;
  EXPECT_EQ(Session({}, cut.api.toStore(), fresh).api.GetValue("cmi.location"),
            "");
}

TEST(Runtime2004Test, RequestValidThroughThePlayer) {
  Session session;
  EXPECT_EQ(session.api.GetValue("adl.nav.request_valid.continue"), "unknown");
  std::vector<std::string> asked;
  session.api.requestValid = [&asked](const std::string& request) {
    asked.push_back(request);
    if (request == "continue") return std::string("true");
    if (request == "{target=x}jump") return std::string("maybe");
    return std::string("false");
  };
  const struct {
    std::string element, value;
    int error;
  } kCases[] = {
      {"adl.nav.request_valid.continue", "true", 0},
      {"adl.nav.request_valid.previous", "false", 0},
      {"adl.nav.request_valid.choice.{target=mod.1}", "false", 0},
      {"adl.nav.request_valid.jump.{target=x}", "unknown", 0},
      {"adl.nav.request_valid.choice", "", 401},
      {"adl.nav.request_valid.choice.{target=}", "", 401},
      {"adl.nav.request_valid.choice.mod", "", 401},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.element);
    EXPECT_EQ(session.api.GetValue(c.element), c.value);
    EXPECT_EQ(session.error(), c.error);
  }
  EXPECT_EQ(asked, (std::vector<std::string>{"continue", "previous",
                                             "{target=mod.1}choice",
                                             "{target=x}jump"}));
}

TEST(Runtime2004Test, SharedDataPermissions) {
  LaunchContext2004 context = Context();
  context.sharedData = {{"both", true, true, "v"},
                        {"readonly", true, false, std::nullopt},
                        {"writeonly", false, true, std::nullopt}};
  Session session({}, {}, context);
  std::vector<std::string> written;
  session.api.onSharedData = [&written](const std::string& id,
                                        const std::string& value) {
    written.push_back(id + "=" + value);
  };
  // set: SetValue(element, value); otherwise GetValue(element).
  const struct {
    bool set;
    std::string element, value, answer;
    int error;
  } kCases[] = {
      {false, "adl.data._children", "", "id,store", 0},
      {false, "adl.data._count", "", "3", 0},
      {false, "adl.data.0.id", "", "both", 0},
      {false, "adl.data.0.store", "", "v", 0},
      {true, "adl.data.0.store", "w", "true", 0},
      {false, "adl.data.0.store", "", "w", 0},
      {false, "adl.data.1.store", "", "", 403},
      {true, "adl.data.1.store", "x", "false", 404},
      {true, "adl.data.2.store", "y", "true", 0},
      {false, "adl.data.2.store", "", "", 405},
      {true, "adl.data.0.id", "z", "false", 404},
      {true, "adl.data.3.store", "z", "false", 351},
      {false, "adl.data.3.id", "", "", 301},
      {true, "adl.data.1.store", "", "false", 404},
      {true, "adl.data.0.store", "", "true", 0},  // empty: no value again
      {false, "adl.data.0.store", "", "", 403},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.element + " " + c.value);
    EXPECT_EQ(c.set ? session.api.SetValue(c.element, c.value)
                    : session.api.GetValue(c.element),
              c.answer);
    EXPECT_EQ(session.error(), c.error);
  }
  EXPECT_EQ(written,
            (std::vector<std::string>{"both=w", "writeonly=y", "both="}));
  EXPECT_EQ(session.api.sharedData()[2].value, "y");
  EXPECT_FALSE(session.api.toStore().contains("adl.data.0.store"));
}

TEST(Runtime2004Test, LeniencyAndBudget) {
  std::vector<std::string> lines;
  Session lenient({.maxValueBytes = 4096});
  lenient.api.onLeniency = [&lines](const std::string& line) {
    lines.push_back(line);
  };
  lenient.api.SetValue("cmi.session_time", "PT1.125S");
  lenient.api.SetValue("cmi.session_time", "PT1.1255S");
  EXPECT_EQ(lines.size(), 1u);  // told once per element
  EXPECT_EQ(lenient.api.SetValue("cmi.location", Repeat("x", 1001)), "true");
  EXPECT_EQ(lenient.api.SetValue("cmi.suspend_data", Repeat("x", 5000)),
            "false");
  EXPECT_EQ(lenient.error(), 351);
  const std::string summary = lenient.api.conformanceSummary();
  EXPECT_NE(summary.find("Error 351 (General Set Failure), 1 time"),
            std::string::npos);
  EXPECT_NE(summary.find("cmi.session_time"), std::string::npos);
  EXPECT_NE(summary.find("Past what every LMS keeps:\n  cmi.location"),
            std::string::npos);
}

}  // namespace
}  // namespace zept::scorm2004
