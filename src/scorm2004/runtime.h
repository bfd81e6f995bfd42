#pragma once
// The SCORM 2004 runtime behind window.API_1484_11: the state machine of the
// eight functions and the cmi and adl data model, for one launch of one SCO.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scorm/runtime.h"

namespace zept::scorm2004 {

// A learner's values of a SCO by full element name ("cmi.location"), the
// same map the SCORM 1.2 runtime gives the progress store.
using Values = scorm::Values;

struct CommentFromLms {
  std::string comment;  // may begin with {lang=tag}
  std::string location;
  std::string timestamp;
};

// One adl.data target of the SCO (adlcp:data/adlcp:map) and its value.
struct SharedDataTarget {
  std::string id;
  bool read = true;                  // readSharedData
  bool write = true;                 // writeSharedData
  std::optional<std::string> value;  // nullopt: never written
  // The SCO stored it in this session. Only then is value written back:
  // else it is what the SCO was given, which another course may have
  // changed since.
  bool set = false;
};

// What the sequencer read for an objective of the SCO before the launch (a
// shared global objective it maps, say); "" where it knows nothing.
struct ObjectiveAtLaunch {
  std::string id;
  std::string successStatus;  // passed, failed
  std::string completionStatus;
  std::string scaledScore;
  std::string rawScore, minScore, maxScore;
  std::string progressMeasure;
};

// What the runtime provides rather than the SCO: from the learner and from
// the item in the manifest. "" is "not given" (GetValue answers 403).
struct LaunchContext2004 {
  std::string learnerId;  // the learner's login
  std::string learnerName;
  std::string launchData;           // adlcp:dataFromLMS
  std::string completionThreshold;  // adlcp:completionThreshold, 0 to 1
  std::string
      scaledPassingScore;       // the primary objective's minNormalizedMeasure
  std::string maxTimeAllowed;   // an ISO 8601 duration
  std::string timeLimitAction;  // "" reads as "continue,no message"
  std::string credit = "credit";
  std::string mode = "normal";
  // The objective ids of the item, in the manifest's order: cmi.objectives
  // holds them from the start.
  std::vector<std::string> objectiveIds;
  // Their values as the sequencer read them: at launch they replace what
  // the attempt stored (an objective not in objectiveIds is added).
  std::vector<ObjectiveAtLaunch> objectiveValues;
  std::vector<CommentFromLms> commentsFromLms;
  std::vector<SharedDataTarget> sharedData;
  // Whether this launch begins a new attempt on the SCO (its values start
  // afresh, cmi.entry "ab-initio"). nullopt: as the last session left it (a
  // new attempt unless it was suspended). The sequencer decides later.
  std::optional<bool> newAttempt;
};

// The SCORM 1.2 runtime's options, so the player sets either the same way:
// strict (the standard's formats, and the record behind
// conformanceSummary()) and the budget of a SCO's values (past it a set is
// refused with 351).
using RuntimeOptions = scorm::RuntimeOptions;

// The SCORM 2004 API's names and codes.
extern const scorm::ApiVersion kScorm2004Api;

class Runtime {
 public:
  enum class State { kNotInitialized, kRunning, kTerminated };

  // stored: what the store holds for the learner and SCO ({} the first
  // time). A new Runtime is a new session. A session the store holds as
  // still open (the program ended before the SCO terminated) is closed
  // first, as end() would have closed it.
  Runtime(LaunchContext2004 context, Values stored,
          RuntimeOptions options = {});
  ~Runtime();
  Runtime(Runtime&&) noexcept;
  Runtime& operator=(Runtime&&) noexcept;

  // The API, with the standard's names. Never throws.
  std::string Initialize(const std::string& parameter);
  std::string Terminate(const std::string& parameter);
  std::string GetValue(const std::string& element);
  std::string SetValue(const std::string& element, const std::string& value);
  std::string Commit(const std::string& parameter);
  std::string GetLastError();
  std::string GetErrorString(const std::string& code);
  std::string GetDiagnostic(const std::string& code);
  // The same by function name, arguments as the page passed them; an
  // unknown name answers "false" and sets 101. Never throws.
  std::string call(const std::string& function,
                   const std::vector<std::string>& arguments);

  State state() const { return state_; }

  // The SCO was taken away while its session runs: closes it as
  // Terminate("") would. suspend: the course is being suspended or closed,
  // so a SCO that set no cmi.exit keeps its attempt to resume rather than
  // ending it. Nothing when it is not running.
  void end(bool suspend);
  // The values end(suspend) would leave, the session itself untouched.
  Values valuesAtEnd(bool suspend) const;

  // What the store should hold for the learner and SCO now. After Terminate
  // or end(), with total_time summed, cmi.entry for the next launch and the
  // statuses as evaluated. While the session runs it also holds
  // "zept.session" = "open", so a relaunch from it closes the session once.
  Values toStore() const;
  bool unstored() const { return unstored_; }
  void markStored() { unstored_ = false; }
  // A call the program answered "false" itself (what Commit asked for could
  // not be stored: 391; a call too large to take): GetLastError gives code
  // and GetDiagnostic diagnostic.
  void refuse(int code, std::string_view function, std::string diagnostic);

  // What GetValue would answer now, "" where it would fail; the error state
  // is left alone. For the player and the sequencer.
  std::string peek(const std::string& element) const;
  // A value of the player's own ("zept." and a name) kept and stored with
  // the SCO's for this attempt, never shown to the SCO; "" when none.
  std::string own(const std::string& key) const;
  void keep(const std::string& key, const std::string& value);

  // After Terminate or end(): the navigation request the SCO left for the
  // sequencer ("continue", "{target=ID}choice", "exitAll" for an exit of
  // "logout" or "time-out", ...), "" for none.
  const std::string& navigationRequest() const;

  // The adl.data targets with their values as the SCO left them.
  const std::vector<SharedDataTarget>& sharedData() const;

  // adl.nav.request_valid.*: the player answers for the sequencer, given the
  // request as the SCO would set it ("continue", "previous",
  // "{target=ID}choice", "{target=ID}jump"): "true", "false" or "unknown".
  // Unset: "unknown".
  std::function<std::string(const std::string& request)> requestValid;
  // Each adl.data store the SCO sets, as it is set.
  std::function<void(const std::string& id, const std::string& value)>
      onSharedData;
  // One line each time a leniency is first used in this session, for the
  // journal and the trace log.
  std::function<void(const std::string& line)> onLeniency;

  // Calls made, errors by code with the elements that caused them, elements
  // used that a strict LMS refuses. Several lines of text.
  std::string conformanceSummary() const;

 private:
  struct Impl;
  std::string setValue(const std::string& element, const std::string& value);
  void fail(int code, std::string_view element, std::string diagnostic);
  void succeed();
  void close(bool suspend);

  State state_ = State::kNotInitialized;
  bool unstored_ = false;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zept::scorm2004
