#include "cmi5/statement_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "harness.h"

namespace zept::cmi5::test {
namespace {

using Alter = std::function<void(StatementFacts&)>;

// A statement of verb changed by alter, and the reason it is refused for
// ("" when taken).
struct Step {
  std::string verb;
  Alter alter;
  std::string refused;
};

Step Take(Verb verb, Alter alter = {}) {
  return {std::string(Info(verb).iri), std::move(alter), ""};
}
Step Refuse(Verb verb, std::string reason, Alter alter = {}) {
  return {std::string(Info(verb).iri), std::move(alter), std::move(reason)};
}

// Judges each step in turn, going on from the state of the last one.
SessionState Play(const Launch& launch, SessionState state,
                  const std::vector<Step>& steps) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    SCOPED_TRACE("step " + std::to_string(i + 1) + " " + step.verb);
    StatementFacts facts = Valid(launch, step.verb);
    if (step.alter) step.alter(facts);
    const Verdict verdict = Judge(launch, state, facts);
    if (step.refused.empty()) {
      EXPECT_TRUE(verdict.accepted) << verdict.reason;
    } else {
      EXPECT_FALSE(verdict.accepted);
      EXPECT_NE(verdict.reason.find(step.refused), std::string::npos)
          << verdict.reason;
      EXPECT_EQ(verdict.state, state) << "a refusal changes nothing";
    }
    state = verdict.state;
  }
  return state;
}

SessionState Running() {
  return SessionState{Phase::kInitialized, 1u << int(Verb::kInitialized), {}};
}

Score Scaled(double scaled) { return Score{scaled, {}, {}, {}}; }

TEST(Cmi5StatementRulesTest, OneStatementInARunningSession) {
  const Launch launch = TestLaunch();
  const struct {
    const char* name;
    Step step;
  } cases[] = {
      {"an allowed statement", {kExperienced, {}, ""}},
      {"an allowed statement about another object",
       {kExperienced, [](auto& f) { f.objectId = "https://other.org/x"; }, ""}},
      {"no id",
       Refuse(Verb::kCompleted, "has no id", [](auto& f) { f.hasId = false; })},
      {"no timestamp", Refuse(Verb::kCompleted, "has no timestamp",
                              [](auto& f) { f.timestamp.reset(); })},
      {"timestamp not in UTC",
       Refuse(Verb::kCompleted, "not in UTC",
              [](auto& f) { f.timestamp = "2026-12-09T05:00:00.000-06:00"; })},
      {"zero offset is UTC",
       Take(Verb::kCompleted,
            [](auto& f) { f.timestamp = "2026-12-09T05:00:00+00:00"; })},
      {"actor a Group", Refuse(Verb::kPassed, "actor is not an Agent",
                               [](auto& f) { f.actorObjectType = "Group"; })},
      {"actor named by mbox",
       Refuse(Verb::kPassed, "not the account the AU was launched with",
              [](auto& f) { f.account.reset(); })},
      {"another learner's account",
       Refuse(Verb::kPassed, "not the account",
              [](auto& f) { f.account->name = "bob"; })},
      {"voiding", {std::string(kVoided), {}, "may not void"}},
      {"no context", Refuse(Verb::kPassed, "has no context",
                            [](auto& f) { f.hasContext = false; })},
      {"no registration", Refuse(Verb::kPassed, "registration is not",
                                 [](auto& f) { f.registration.reset(); })},
      {"another registration",
       Refuse(Verb::kPassed, "registration is not",
              [](auto& f) {
                f.registration = "ccaf384c-f8d4-4e7a-8304-49af58f0b176";
              })},
      {"an allowed statement without session id",
       {kExperienced, [](auto& f) { f.sessionId.reset(); },
        "session id extension is not"}},
      {"another session", Refuse(Verb::kCompleted, "session id",
                                 [](auto& f) { f.sessionId = "session-0"; })},
      {"another object", Refuse(Verb::kPassed, "object is not the activity id",
                                [](auto& f) {
                                  f.objectId =
                                      "http://example.com/not/the/lms/id";
                                })},
      {"the publisher's id as object",
       Refuse(Verb::kPassed, "object is not",
              [&](auto& f) { f.objectId = launch.publisherId; })},
      {"object a statement reference",
       Refuse(Verb::kPassed, "object is not",
              [](auto& f) { f.objectType = "StatementRef"; })},
      {"grouping without publisher id",
       Refuse(Verb::kCompleted, "grouping lacks the AU's publisher id",
              [](auto& f) { f.grouping.clear(); })},
      {"passed with completion",
       Refuse(Verb::kPassed, "\"passed\" may not carry result.completion",
              [](auto& f) { f.completion = true; })},
      {"completed with success",
       Refuse(Verb::kCompleted, "\"completed\" may not carry result.success",
              [](auto& f) { f.success = true; })},
      {"completed without completion",
       Refuse(Verb::kCompleted, "needs result.completion true",
              [](auto& f) { f.completion.reset(); })},
      {"completed with completion false",
       Refuse(Verb::kCompleted, "needs result.completion true",
              [](auto& f) { f.completion = false; })},
      {"completed with a score",
       Refuse(Verb::kCompleted, "\"completed\" may not carry a score",
              [](auto& f) {
                f.score = Score{0.5, 50, 0, 100};
              })},
      {"terminated with a score",
       Refuse(Verb::kTerminated, "may not carry a score",
              [](auto& f) { f.score = Scaled(0.5); })},
      {"terminated without duration",
       Refuse(Verb::kTerminated, "\"terminated\" needs result.duration",
              [](auto& f) { f.duration.reset(); })},
      {"completed without duration",
       Refuse(Verb::kCompleted, "needs result.duration",
              [](auto& f) { f.duration.reset(); })},
      {"passed without duration", Refuse(Verb::kPassed, "needs result.duration",
                                         [](auto& f) { f.duration.reset(); })},
      {"failed without duration", Refuse(Verb::kFailed, "needs result.duration",
                                         [](auto& f) { f.duration.reset(); })},
      {"passed without success",
       Refuse(Verb::kPassed, "\"passed\" needs result.success true",
              [](auto& f) { f.success.reset(); })},
      {"failed without success",
       Refuse(Verb::kFailed, "\"failed\" needs result.success false",
              [](auto& f) { f.success.reset(); })},
      {"passed without a score", Take(Verb::kPassed)},
      {"passed at the mastery score", Take(Verb::kPassed,
                                           [](auto& f) {
                                             f.score = Score{0.8, 80, 0, 100};
                                             f.masteryScore = 0.8;
                                           })},
      {"passed below the mastery score",
       Refuse(Verb::kPassed, "below the mastery score",
              [](auto& f) {
                f.score = Scaled(0.79);
                f.masteryScore = 0.8;
              })},
      {"failed at the mastery score",
       Refuse(Verb::kFailed, "at or above the mastery score",
              [](auto& f) {
                f.score = Scaled(0.8);
                f.masteryScore = 0.8;
              })},
      {"failed above the mastery score", Refuse(Verb::kFailed, "at or above",
                                                [](auto& f) {
                                                  f.score = Scaled(0.81);
                                                  f.masteryScore = 0.8;
                                                })},
      {"failed below the mastery score", Take(Verb::kFailed,
                                              [](auto& f) {
                                                f.score = Scaled(0.79);
                                                f.masteryScore = 0.8;
                                              })},
      {"judged on a score without the masteryScore extension",
       Refuse(Verb::kPassed, "needs the launch's masteryScore extension",
              [](auto& f) { f.score = Scaled(0.9); })},
      {"another masteryScore in the extension",
       Refuse(Verb::kPassed, "masteryScore extension",
              [](auto& f) {
                f.score = Scaled(0.9);
                f.masteryScore = 0.7;
              })},
      {"a masteryScore extension that is no number",
       Refuse(Verb::kFailed, "masteryScore extension",
              [](auto& f) { f.masteryScore = std::nan(""); })},
      {"raw without min",
       Refuse(Verb::kPassed, "a raw score needs its min and max",
              [](auto& f) {
                f.score = Score{{}, 90, {}, 100};
              })},
      {"raw without max",
       Refuse(Verb::kFailed, "a raw score needs its min and max",
              [](auto& f) {
                f.score = Score{{}, 10, 0, {}};
              })},
      {"scaled above 1", Refuse(Verb::kPassed, "from 0 to 1",
                                [](auto& f) {
                                  f.score = Scaled(1.5);
                                  f.masteryScore = 0.8;
                                })},
      {"completed without the moveOn category",
       Refuse(Verb::kCompleted, "needs the moveOn category",
              [](auto& f) { f.categories.pop_back(); })},
      {"passed without the moveOn category",
       Refuse(Verb::kPassed, "needs the moveOn category",
              [](auto& f) { f.categories.pop_back(); })},
      {"failed without the moveOn category",
       Refuse(Verb::kFailed, "needs the moveOn category",
              [](auto& f) { f.categories.pop_back(); })},
      {"an allowed statement with the moveOn category",
       {kExperienced,
        [](auto& f) { f.categories = {std::string(kMoveOnCategory)}; },
        "the moveOn category is only for"}},
      {"terminated with the moveOn category",
       Refuse(Verb::kTerminated, "the moveOn category is only for",
              [](auto& f) {
                f.categories.push_back(std::string(kMoveOnCategory));
              })},
      {"the cmi5 category on another verb",
       {kExperienced,
        [](auto& f) { f.categories = {std::string(kCmi5Category)}; },
        "the cmi5 category is only for cmi5's verbs"}},
      {"launched from the AU",
       Refuse(Verb::kLaunched, "only the LMS sends \"launched\"")},
      {"satisfied from the AU", Refuse(Verb::kSatisfied, "only the LMS sends")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Play(launch, Running(), {c.step});
  }
}

TEST(Cmi5StatementRulesTest, ACmi5VerbWithoutTheCategoryIsAnAllowedStatement) {
  const Launch launch = TestLaunch();
  StatementFacts facts = Valid(launch, Verb::kCompleted);
  facts.categories.clear();
  const Verdict verdict = Judge(launch, Running(), facts);
  EXPECT_TRUE(verdict.accepted) << verdict.reason;
  EXPECT_FALSE(verdict.defined);
  EXPECT_EQ(verdict.state, Running()) << "it counts for nothing";
}

TEST(Cmi5StatementRulesTest, SessionsAndRegistrations) {
  const AuOutcome kNone{}, kCompleted{true}, kPassed{false, true},
      kFailed{false, false, true};
  const struct {
    const char* name;
    LaunchMode mode;
    SessionState start;
    std::vector<Step> steps;
    Phase phase;
    AuOutcome outcome;
  } cases[] = {
      {"a whole session",
       LaunchMode::kNormal,
       {},
       {Take(Verb::kInitialized),
        {kExperienced, {}, ""},
        Take(Verb::kPassed),
        Take(Verb::kCompleted),
        Take(Verb::kTerminated)},
       Phase::kTerminated,
       {true, true}},
      {"initialized comes first",
       LaunchMode::kNormal,
       {},
       {{kExperienced, {}, "a session begins with \"initialized\""},
        Refuse(Verb::kCompleted, "begins with"),
        Refuse(Verb::kTerminated, "begins with"),
        Take(Verb::kInitialized)},
       Phase::kInitialized,
       kNone},
      {"initialized without the cmi5 category is not the first",
       LaunchMode::kNormal,
       {},
       {Refuse(Verb::kInitialized, "begins with",
               [](auto& f) { f.categories.clear(); })},
       Phase::kLaunched,
       kNone},
      {"each verb once a session",
       LaunchMode::kNormal,
       {},
       {Take(Verb::kInitialized),
        Refuse(Verb::kInitialized, "the session already has \"initialized\""),
        Take(Verb::kFailed), Refuse(Verb::kFailed, "already has \"failed\""),
        Refuse(Verb::kPassed, "one \"passed\" or \"failed\"")},
       Phase::kInitialized,
       kFailed},
      {"nothing after terminated",
       LaunchMode::kNormal,
       {},
       {Take(Verb::kInitialized),
        Take(Verb::kTerminated),
        {kExperienced, {}, "the session ended with \"terminated\""},
        Refuse(Verb::kTerminated, "ended"),
        Refuse(Verb::kCompleted, "ended")},
       Phase::kTerminated,
       kNone},
      {"nothing after abandoned",
       LaunchMode::kNormal,
       {Phase::kAbandoned, 0, {}},
       {Refuse(Verb::kTerminated, "the session was abandoned")},
       Phase::kAbandoned,
       kNone},
      {"one completed a registration",
       LaunchMode::kNormal,
       {Phase::kLaunched, 0, kCompleted},
       {Take(Verb::kInitialized),
        Refuse(Verb::kCompleted,
               "the registration already has \"completed\" for the AU"),
        Take(Verb::kPassed)},
       Phase::kInitialized,
       {true, true}},
      {"one passed a registration, no failed after it",
       LaunchMode::kNormal,
       {Phase::kLaunched, 0, kPassed},
       {Take(Verb::kInitialized),
        Refuse(Verb::kPassed, "the registration already has \"passed\""),
        Refuse(Verb::kFailed, "\"failed\" after the AU was passed")},
       Phase::kInitialized,
       kPassed},
      {"passed after failing in an earlier session",
       LaunchMode::kNormal,
       {Phase::kLaunched, 0, kFailed},
       {Take(Verb::kInitialized), Take(Verb::kFailed),
        Refuse(Verb::kPassed, "one")},
       Phase::kInitialized,
       kFailed},
      {"a new session after failing",
       LaunchMode::kNormal,
       {Phase::kLaunched, 0, kFailed},
       {Take(Verb::kInitialized), Take(Verb::kPassed)},
       Phase::kInitialized,
       {false, true, true}},
      {"browse takes no judgement",
       LaunchMode::kBrowse,
       {},
       {Take(Verb::kInitialized),
        Refuse(Verb::kCompleted,
               "in Browse mode an AU sends only \"initialized\" and "
               "\"terminated\""),
        Refuse(Verb::kFailed, "in Browse mode"),
        Refuse(Verb::kPassed, "in Browse mode"),
        {kExperienced, {}, ""},
        Take(Verb::kTerminated)},
       Phase::kTerminated,
       kNone},
      {"review takes no judgement",
       LaunchMode::kReview,
       {Phase::kLaunched, 0, kCompleted},
       {Take(Verb::kInitialized), Refuse(Verb::kPassed, "in Review mode"),
        Take(Verb::kTerminated)},
       Phase::kTerminated,
       kCompleted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Launch launch = TestLaunch();
    launch.mode = c.mode;
    const SessionState end = Play(launch, c.start, c.steps);
    EXPECT_EQ(end.phase, c.phase);
    EXPECT_EQ(end.outcome, c.outcome);
  }
}

}  // namespace
}  // namespace zept::cmi5::test
