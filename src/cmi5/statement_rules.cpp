#include "cmi5/statement_rules.h"

#include <algorithm>

#include "cmi5/vocabulary.h"

namespace zept::cmi5 {
namespace {

enum class Must { kAbsent, kTrue, kFalse };

// What the result of each verb an AU may send holds: success, completion,
// whether a score may be given and whether the duration must be.
struct ResultRule {
  Verb verb;
  Must success;
  Must completion;
  bool score;
  bool duration;
};

constexpr ResultRule kResultRules[] = {
    {Verb::kInitialized, Must::kAbsent, Must::kAbsent, false, false},
    {Verb::kCompleted, Must::kAbsent, Must::kTrue, false, true},
    {Verb::kPassed, Must::kTrue, Must::kAbsent, true, true},
    {Verb::kFailed, Must::kFalse, Must::kAbsent, true, true},
    {Verb::kTerminated, Must::kAbsent, Must::kAbsent, false, true},
};

const ResultRule* RuleFor(Verb verb) {
  for (const ResultRule& rule : kResultRules) {
    if (rule.verb == verb) return &rule;
  }
  return nullptr;
}

bool Meets(Must must, const std::optional<bool>& value) {
  switch (must) {
    case Must::kAbsent:
      return !value;
    case Must::kTrue:
      return value == true;
    case Must::kFalse:
      return value == false;
  }
  return false;
}

unsigned Bit(Verb verb) { return 1u << static_cast<int>(verb); }

bool Holds(const std::vector<std::string>& ids, std::string_view id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// cmi5 wants every timestamp in UTC: "Z" or a zero offset.
bool InUtc(const std::string& timestamp) {
  return timestamp.ends_with('Z') || timestamp.ends_with('z') ||
         timestamp.ends_with("+00:00");
}

std::string Quoted(Verb verb) {
  return "\"" + std::string(Info(verb).display) + "\"";
}

// The reason a defined statement of verb breaks the rules of its result
// and categories; "" when it keeps them.
std::string ResultFault(const Launch& launch, Verb verb,
                        const StatementFacts& facts, bool moveOnCategory) {
  const ResultRule* rule = RuleFor(verb);
  const std::string name = Quoted(verb);
  if (!Meets(rule->success, facts.success)) {
    return rule->success == Must::kAbsent
               ? name + " may not carry result.success"
               : name + " needs result.success " +
                     (rule->success == Must::kTrue ? "true" : "false");
  }
  if (!Meets(rule->completion, facts.completion)) {
    return rule->completion == Must::kAbsent
               ? name + " may not carry result.completion"
               : name + " needs result.completion true";
  }
  if (facts.score && !rule->score) return name + " may not carry a score";
  if (rule->duration && !facts.duration) return name + " needs result.duration";
  const bool judged =
      rule->success != Must::kAbsent || rule->completion != Must::kAbsent;
  if (judged && !moveOnCategory) {
    return name + " needs the moveOn category in contextActivities";
  }
  if (!judged && moveOnCategory) {
    return "the moveOn category is only for completed, passed and failed";
  }
  if (facts.score) {
    const Score& score = *facts.score;
    if (score.raw && (!score.min || !score.max)) {
      return "a raw score needs its min and max";
    }
    if (score.scaled && (*score.scaled < 0 || *score.scaled > 1)) {
      return "a scaled score lies from 0 to 1";
    }
  }
  if (launch.masteryScore && (verb == Verb::kPassed || verb == Verb::kFailed)) {
    const double mastery = *launch.masteryScore;
    const std::optional<double> scaled =
        facts.score ? facts.score->scaled : std::nullopt;
    if (scaled && verb == Verb::kPassed && *scaled < mastery) {
      return "\"passed\" with a scaled score below the mastery score";
    }
    if (scaled && verb == Verb::kFailed && *scaled >= mastery) {
      return "\"failed\" with a scaled score at or above the mastery score";
    }
    if ((scaled && !facts.masteryScore) ||
        (facts.masteryScore && !(*facts.masteryScore == mastery))) {
      return name +
             " judged on a score needs the launch's masteryScore "
             "extension";
    }
  }
  return "";
}

}  // namespace

Verdict Judge(const Launch& launch, const SessionState& state,
              const StatementFacts& facts) {
  Verdict verdict;
  verdict.state = state;
  const auto refuse = [&verdict](std::string reason) {
    verdict.reason = std::move(reason);
    return verdict;
  };

  if (!facts.hasId) return refuse("the statement has no id");
  if (!facts.timestamp) return refuse("the statement has no timestamp");
  if (!InUtc(*facts.timestamp)) return refuse("the timestamp is not in UTC");
  if (!facts.actorObjectType.empty() && facts.actorObjectType != "Agent")
    return refuse("the actor is not an Agent");
  if (!facts.account || *facts.account != launch.actor)
    return refuse("the actor is not the account the AU was launched with");
  if (facts.verb == kVoided) return refuse("an AU may not void statements");
  if (!facts.hasContext) return refuse("the statement has no context");
  if (facts.registration != launch.registration)
    return refuse("context.registration is not the launch's registration");
  if (facts.sessionId != launch.sessionId)
    return refuse("the session id extension is not the launch's session");
  if (state.phase == Phase::kTerminated)
    return refuse("the session ended with \"terminated\"");
  if (state.phase == Phase::kAbandoned)
    return refuse("the session was abandoned");

  const std::optional<Verb> verb = VerbOf(facts.verb);
  const bool cmi5Category = Holds(facts.categories, kCmi5Category);
  const bool moveOnCategory = Holds(facts.categories, kMoveOnCategory);
  verdict.defined = verb && cmi5Category;
  if (cmi5Category && !verb)
    return refuse("the cmi5 category is only for cmi5's verbs");
  if (verdict.defined && Info(*verb).lms)
    return refuse("only the LMS sends " + Quoted(*verb));
  if (state.phase == Phase::kLaunched &&
      !(verdict.defined && *verb == Verb::kInitialized)) {
    return refuse("a session begins with \"initialized\"");
  }
  if (!verdict.defined) {
    if (moveOnCategory)
      return refuse(
          "the moveOn category is only for completed, passed and failed");
    verdict.accepted = true;
    return verdict;
  }

  if ((!facts.objectType.empty() && facts.objectType != "Activity") ||
      facts.objectId != launch.activityId) {
    return refuse("the object is not the activity id of the launch");
  }
  if (!Holds(facts.grouping, launch.publisherId))
    return refuse("context grouping lacks the AU's publisher id");
  if (launch.mode != LaunchMode::kNormal && *verb != Verb::kInitialized &&
      *verb != Verb::kTerminated) {
    return refuse(std::string("in ") + Name(launch.mode) +
                  " mode an AU sends only \"initialized\" and "
                  "\"terminated\"");
  }
  if (std::string fault = ResultFault(launch, *verb, facts, moveOnCategory);
      !fault.empty()) {
    return refuse(std::move(fault));
  }
  if (state.verbs & Bit(*verb))
    return refuse("the session already has " + Quoted(*verb));
  const unsigned judged = Bit(Verb::kPassed) | Bit(Verb::kFailed);
  if ((Bit(*verb) & judged) && (state.verbs & judged))
    return refuse("a session has one \"passed\" or \"failed\"");
  AuOutcome& outcome = verdict.state.outcome;
  if (*verb == Verb::kCompleted && outcome.completed)
    return refuse("the registration already has \"completed\" for the AU");
  if (*verb == Verb::kPassed && outcome.passed)
    return refuse("the registration already has \"passed\" for the AU");
  if (*verb == Verb::kFailed && outcome.passed)
    return refuse("\"failed\" after the AU was passed in the registration");

  verdict.state.verbs |= Bit(*verb);
  switch (*verb) {
    case Verb::kInitialized:
      verdict.state.phase = Phase::kInitialized;
      break;
    case Verb::kTerminated:
      verdict.state.phase = Phase::kTerminated;
      break;
    case Verb::kCompleted:
      outcome.completed = true;
      break;
    case Verb::kPassed:
      outcome.passed = true;
      break;
    case Verb::kFailed:
      outcome.failed = true;
      break;
    default:
      break;
  }
  verdict.accepted = true;
  return verdict;
}

}  // namespace zept::cmi5
