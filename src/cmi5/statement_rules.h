#pragma once
// The LMS's rules for the statements an AU sends in a session: which ones
// it takes and which it refuses, and what each taken one changes. Pure: the
// caller reads the statement (after xAPI's own validation) into
// StatementFacts, keeps the SessionState and stores what is taken.

#include <optional>
#include <string>
#include <vector>

#include "cmi5/launch.h"
#include "cmi5/move_on.h"

namespace zept::cmi5 {

struct Score {
  std::optional<double> scaled, raw, min, max;
};

// What the rules look at in a statement. A value of the wrong JSON type is
// read as missing, except the masteryScore extension, which is NaN then.
struct StatementFacts {
  bool hasId = true;  // in the body or, for a PUT, the request's
  std::optional<std::string> timestamp;
  std::string actorObjectType;   // "" when not given
  std::optional<Actor> account;  // nullopt for an actor without account
  std::string verb;              // IRI
  std::string objectType;        // "" when not given
  std::string objectId;
  // result
  std::optional<bool> success;
  std::optional<bool> completion;
  std::optional<Score> score;
  std::optional<std::string> duration;
  // context
  bool hasContext = true;
  std::optional<std::string> registration;
  std::optional<std::string> sessionId;
  std::optional<double> masteryScore;   // the extension
  std::vector<std::string> categories;  // contextActivities.category ids
  std::vector<std::string> grouping;    // contextActivities.grouping ids
};

enum class Phase {
  kLaunched,     // waiting for "initialized"
  kInitialized,  // running
  kTerminated,
  kAbandoned,
};

struct SessionState {
  Phase phase = Phase::kLaunched;
  // The cmi5 defined verbs taken in this session, bit (1 << Verb).
  unsigned verbs = 0;
  // The AU's outcome in the registration, this session's included. A new
  // session starts from the last one's.
  AuOutcome outcome{};

  bool operator==(const SessionState&) const = default;
};

struct Verdict {
  bool accepted = false;
  std::string reason;  // why it was refused, in a sentence
  // A cmi5 defined statement (cmi5 verb and category), as opposed to an
  // allowed one (any verb, no cmi5 category).
  bool defined = false;
  SessionState state;  // after it; the given one when refused
};

// The verdict on facts, sent in the session of launch whose state is state.
Verdict Judge(const Launch& launch, const SessionState& state,
              const StatementFacts& facts);

}  // namespace zept::cmi5
