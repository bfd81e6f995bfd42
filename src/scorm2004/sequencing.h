#pragma once
// The sequencing engine of SCORM 2004: a navigation request and the state
// in, the new state and what to deliver out. Pure: no clock, no files; the
// processes themselves, named as the sequencing book names them, are in
// sequencing_processes.h.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scorm2004/state.h"

namespace zept::scorm2004 {

enum class NavigationRequestKind {
  kStart,
  kResumeAll,
  kContinue,
  kPrevious,
  kForward,   // never valid: the book reserves it
  kBackward,  // idem
  kChoice,
  kJump,
  kExit,
  kExitAll,
  kSuspendAll,
  kAbandon,
  kAbandonAll,
};

struct NavigationRequest {
  NavigationRequestKind kind = NavigationRequestKind::kStart;
  std::string target;  // activity identifier, for choice and jump
};

struct SequencingOutcome {
  // Identifier of the activity to launch; nullopt when nothing is.
  std::optional<std::string> delivered;
  // The sequencing session is over (exit all, suspend all, past the end).
  bool endSession = false;
  // "" when the request went through, else the book's code ("SB.2.9-3")
  // and what it means for the learner.
  std::string exception;
  std::string exceptionText;
};

// What the content reported for an objective through the run-time
// (cmi.success_status, score.*, ... or cmi.objectives.n.*); nullopt leaves
// a value as it is.
struct ObjectiveReport {
  std::string id;                     // cmi.objectives.n.id; "" the primary
  std::optional<bool> passed;         // passed / failed
  bool clearSuccess = false;          // "unknown"
  std::optional<double> scaledScore;  // -1 .. 1
  std::optional<double> rawScore;
  std::optional<double> minScore;
  std::optional<double> maxScore;
  std::optional<bool> completed;  // an objective's own completion
  bool clearCompletion = false;   // "unknown"
  std::optional<double> progressMeasure;
};

// The attempt's own completion (cmi.completion_status, progress_measure)
// and its objectives; the engine applies the objective maps' writes.
struct AttemptReport {
  std::optional<bool> completed;          // completed / incomplete
  bool clearCompletion = false;           // "unknown"
  std::optional<double> progressMeasure;  // 0 .. 1
  ObjectiveReport primary;
  // Objectives the activity does not define are passed over.
  std::vector<ObjectiveReport> objectives;
};

// Runs the overall sequencing process for one request, in place. Whatever
// went through before an exception stays done, as in the book.
SequencingOutcome Sequence(const ActivityTree& tree, SequencingState& state,
                           const NavigationRequest& request,
                           const RandomSource& random);

// The same as a pure function: the state in, the new state out.
std::pair<SequencingState, SequencingOutcome> Sequenced(
    const ActivityTree& tree, SequencingState state,
    const NavigationRequest& request, const RandomSource& random);

// What questions asked of one unchanged state share (the menu asks of
// every activity): made empty, passed to each of them.
struct ChoiceMemo {
  bool known = false;
  std::size_t parent = 0, from = 0, stop = 0;
  std::string exception;
  // The copy a question that sequences is tried on, assigned afresh each
  // time: its room is reused, so a tree of thousands is not allocated anew.
  SequencingState copy;
  // Ready for questions of another state; the copy's room stays.
  void forget() { known = false; }
};

// adl.nav.request_valid.*: whether the request would be honoured now,
// without ending the current attempt (its values may still change).
// Continue, previous, choice and jump must lead to an activity to deliver
// (continue may end the course instead); the others only need to be valid
// navigation requests.
// why: when refused, the book's code ("" if none). memo: see ChoiceMemo.
bool NavigationRequestValid(const ActivityTree& tree,
                            const SequencingState& state,
                            const NavigationRequest& request,
                            const RandomSource& random,
                            std::string* why = nullptr,
                            ChoiceMemo* memo = nullptr);

// The same for a choice of the tree's activity at index target: what the
// menu asks of every item, without looking each up by its identifier.
bool ChoiceRequestValid(const ActivityTree& tree, const SequencingState& state,
                        std::size_t target, const RandomSource& random,
                        std::string* why = nullptr, ChoiceMemo* memo = nullptr);

// Whether the navigation request itself is allowed where the learner is,
// before any sequencing: what a Continue button offers.
bool NavigationRequestAllowed(const ActivityTree& tree,
                              const SequencingState& state,
                              const NavigationRequest& request);

// Stores what the content reported for the activity (no effect on an
// untracked one) and writes the mapped global objectives.
void ReportAttempt(const ActivityTree& tree, SequencingState& state,
                   std::size_t activity, const AttemptReport& report);

// The learner's words for an exception code; "" for an unknown code.
std::string_view ExceptionText(std::string_view code);

}  // namespace zept::scorm2004
