#include "scorm2004/player.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <exception>
#include <map>
#include <utility>

#include "package/package.h"
#include "scorm/results.h"
#include "scorm2004/datamodel.h"
#include "scorm2004/results.h"
#include "scorm2004/sequencing_processes.h"
#include "util/utf8.h"
#include "util/i18n.h"

namespace zept::scorm2004 {

namespace {

constexpr std::size_t kNone = ActivityTree::kNone;

struct RequestName {
  std::string_view name;
  NavigationRequestKind kind;
};
// The requests the page and the SCOs may make, by their adl.nav.request
// names.
constexpr RequestName kRequests[] = {
    {"start", NavigationRequestKind::kStart},
    {"resumeAll", NavigationRequestKind::kResumeAll},
    {"continue", NavigationRequestKind::kContinue},
    {"previous", NavigationRequestKind::kPrevious},
    {"choice", NavigationRequestKind::kChoice},
    {"jump", NavigationRequestKind::kJump},
    {"exit", NavigationRequestKind::kExit},
    {"exitAll", NavigationRequestKind::kExitAll},
    {"suspendAll", NavigationRequestKind::kSuspendAll},
    {"abandon", NavigationRequestKind::kAbandon},
    {"abandonAll", NavigationRequestKind::kAbandonAll},
};

std::optional<NavigationRequest> Request(std::string_view name,
                                         std::string target = "") {
  for (const RequestName& row : kRequests)
    if (row.name == name) {
      const bool targeted = row.kind == NavigationRequestKind::kChoice ||
                            row.kind == NavigationRequestKind::kJump;
      if (targeted == target.empty()) return std::nullopt;
      return NavigationRequest{row.kind, std::move(target)};
    }
  return std::nullopt;
}

// As a SCO writes it: "continue", "{target=ID}choice".
std::optional<NavigationRequest> RuntimeRequest(std::string_view text) {
  constexpr std::string_view kTarget = "{target=";
  if (!text.starts_with(kTarget)) return Request(text);
  const std::size_t close = text.find('}');
  if (close == std::string_view::npos) return std::nullopt;
  return Request(
      text.substr(close + 1),
      std::string(text.substr(kTarget.size(), close - kTarget.size())));
}

std::string Number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::optional<double> Real(const Values& values, const std::string& name) {
  const auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  double value = 0;
  const char* end = it->second.data() + it->second.size();
  const auto [ptr, error] = std::from_chars(it->second.data(), end, value);
  if (error != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::string Get(const Values& values, const std::string& name) {
  const auto it = values.find(name);
  return it == values.end() ? std::string() : it->second;
}

// What the SCO's values say of its objective under prefix ("cmi." for the
// primary, "cmi.objectives.N." for the others).
ObjectiveReport ObjectiveFrom(const Values& values, const std::string& prefix) {
  ObjectiveReport report;
  const std::string success = Get(values, prefix + "success_status");
  if (success == "passed" || success == "failed")
    report.passed = success == "passed";
  else if (success == "unknown")
    report.clearSuccess = true;
  report.scaledScore = Real(values, prefix + "score.scaled");
  report.rawScore = Real(values, prefix + "score.raw");
  report.minScore = Real(values, prefix + "score.min");
  report.maxScore = Real(values, prefix + "score.max");
  report.progressMeasure = Real(values, prefix + "progress_measure");
  const std::string completion = Get(values, prefix + "completion_status");
  if (completion == "completed" || completion == "incomplete" ||
      completion == "not attempted")
    report.completed = completion == "completed";
  else if (completion == "unknown")
    report.clearCompletion = true;
  return report;
}

// The attempt's results as the runtime holds them, told to the sequencer.
// A SCO left suspended keeps its attempt: its leaf is suspended so that
// the sequencer resumes rather than ends it.
void Report(const ActivityTree& tree, SequencingState& state,
            std::size_t activity, const Values& values) {
  if (activity == kNone) return;
  AttemptReport report;
  const ObjectiveReport own = ObjectiveFrom(values, "cmi.");
  report.completed = own.completed;
  report.clearCompletion = Get(values, "cmi.completion_status") == "unknown";
  report.progressMeasure = own.progressMeasure;
  report.primary = own;
  report.primary.completed.reset();
  report.primary.clearCompletion = false;
  report.primary.progressMeasure.reset();
  for (int n = 0;; ++n) {
    const std::string prefix = "cmi.objectives." + std::to_string(n) + ".";
    const auto id = values.find(prefix + "id");
    if (id == values.end()) break;
    ObjectiveReport objective = ObjectiveFrom(values, prefix);
    objective.id = id->second;
    report.objectives.push_back(std::move(objective));
  }
  ReportAttempt(tree, state, activity, report);
  state.activities[activity].isSuspended =
      tree.isLeaf(activity) && Get(values, "cmi.entry") == "resume";
}

// What the menu and the results say of an activity, from the sequencing
// state read through the objective maps: the menu's Passed is the
// results' passed.
struct Standing {
  std::string completion;  // not attempted, unknown, completed, incomplete
  std::string success;     // unknown, passed, failed
  std::string score;       // scorm::ScoreText of the primary objective
};

Standing StandingOf(processes::Context& c, std::size_t i) {
  const ActivityState& a = c.state.activities[i];
  const ObjectiveState primary = processes::EffectiveObjective(c, i, 0);
  Standing out;
  out.completion =
      !a.activityProgressStatus                           ? "not attempted"
      : !processes::EffectiveAttemptProgressStatus(c, i)  ? "unknown"
      : processes::EffectiveAttemptCompletionStatus(c, i) ? "completed"
                                                          : "incomplete";
  out.success = !primary.progressStatus   ? "unknown"
                : primary.satisfiedStatus ? "passed"
                                          : "failed";
  const auto text = [](const std::optional<double>& value) {
    return value ? Number(*value) : std::string();
  };
  out.score = scorm::ScoreText(
      text(primary.rawScore), text(primary.maxScore),
      primary.measureStatus ? Number(primary.normalizedMeasure) : "");
  return out;
}

// The learner's words for a refused request.
std::string Why(const SequencingOutcome& outcome) {
  return outcome.exceptionText.empty()
             ? Fill(_("This is not possible now (%s)."), {outcome.exception})
             : std::string(_(outcome.exceptionText.c_str()));
}

// The answer to a request the sequencer refused, with its exception code.
std::string Refused(const SequencingOutcome& outcome) {
  return "{\"ok\":false,\"exception\":" + JsonString(outcome.exception) +
         ",\"message\":" + JsonString(Why(outcome)) + "}";
}

// The adl.data values with what the session set: what the SCO only read
// stays as the store has it now.
Values SharedAfter(Values shared, const Runtime& runtime) {
  for (const SharedDataTarget& target : runtime.sharedData()) {
    if (!target.set) continue;
    if (target.value)
      shared[target.id] = *target.value;
    else
      shared.erase(target.id);
  }
  return shared;
}

// The values GetValue gives at the launch, for calls the page can only
// post: every readable element with a value, by name.
std::string LaunchValues(const Runtime& runtime) {
  std::vector<std::string> names;
  for (const ElementRule& rule : DataModelRules()) {
    const std::string_view pattern = rule.pattern;
    if (pattern.find(".n") == std::string_view::npos &&
        pattern.starts_with("cmi."))
      names.emplace_back(pattern);
  }
  const Values stored = runtime.toStore();
  for (const auto& [name, value] : stored)
    if (name.starts_with("cmi.")) names.push_back(name);
  std::sort(names.begin(), names.end(), scorm::ElementBefore);
  names.erase(std::unique(names.begin(), names.end()), names.end());
  std::string out = "{";
  for (const std::string& name : names) {
    const ParsedElement parsed = ParseElement(name);
    if (parsed.fault != ParsedElement::Fault::kNone || parsed.keyword ||
        parsed.rule->access == Access::kWriteOnly)
      continue;
    const std::string value = runtime.peek(name);
    if (value.empty() && !stored.contains(name)) continue;
    if (out.size() > 1) out += ',';
    out += JsonString(name) + ":" + JsonString(value);
  }
  return out + "}";
}

}  // namespace

Player::Player(const Package2004& package, scorm::ProgressStore& store,
               PlayerOptions options)
    : RuntimePlayer(store, options, package.title, package.problems,
                    kScorm2004Api, "activity", "2004"),
      package_(package),
      tree_(package.root, !package.objectivesGlobalToSystem),
      random_(options.random ? options.random
                             : SeededRandom(static_cast<std::uint64_t>(
                                   std::chrono::steady_clock::now()
                                       .time_since_epoch()
                                       .count()))),
      state_(InitialState(tree_, random_)),
      globals_(package, options.globals, [this](const std::string& problem) {
        if (onProblem) onProblem(problem);
      }) {}

Player::~Player() = default;

std::string Player::other(const std::vector<std::string>& message) {
  const std::string& kind = message[0];
  if (kind == "nav" && message.size() >= 2) {
    const std::optional<NavigationRequest> request =
        Request(message[1], message.size() >= 3 ? message[2] : "");
    if (!request) return Answer(false, _("This navigation request is unknown."));
    return navigate(*request);
  }
  if (kind == "next") {
    std::string answer =
        next_.empty() ? "{\"ok\":true,\"menu\":true}" : std::move(next_);
    next_.clear();
    return answer;
  }
  if (kind == "taking") {
    taking_ = message.size() >= 2 ? message[1] : "";
    return "";
  }
  if (kind == "left") {
    const std::string taking = std::exchange(taking_, std::string());
    if (!runtime_ || (message.size() >= 2 && message[1] != launchNumber()))
      return "";
    next_.clear();
    if (!taking.empty()) {
      taking_ = taking;
      const std::string answer = takenAway();
      taking_.clear();
      return answer;
    }
    // Taken away as the course closes, the SCO's attempt is kept.
    return proceed(std::nullopt, false,
                   message.size() >= 3 && message[2] == "closing");
  }
  return "";
}

std::optional<std::string> Player::answerEnded(
    const std::vector<std::string>& message, const std::string& function,
    const std::vector<std::string>& arguments) {
  // A SCO's calls after its own Terminate (GetLastError, to see that it
  // went well) are answered by its ended session, as they were before.
  if (ended_ && message.size() >= 3 && message[1] == endedLaunch_ &&
      message[0] == "api")
    return ended_->call(function, arguments);
  return std::nullopt;
}

std::string Player::call(const std::string& function,
                         const std::vector<std::string>& arguments) {
  // The learner's request replaces what the SCO asked for as it goes, a
  // suspendAll that would have kept its attempt included.
  if (function == "Terminate" && !taking_.empty()) dropOwnRequest();
  const std::string value = runtime_->call(function, arguments);
  if (value != "true") return value;
  captureCall(function, arguments,
              function == "Initialize" ? runtime_->peek("cmi.entry") : "");
  // What Commit asks for reaches the disk before the SCO is told it did.
  if (function == "Commit" && !storeOpen()) {
    runtime_->refuse(391, function,
                     "Commit could not store the values: " + lastProblem_);
    return "false";
  }
  // Terminate: the attempt is reported and the SCO's navigation request
  // followed, stored with its values; the page asks ["next"] for the rest.
  if (function == "Terminate") {
    next_ = taking_.empty() ? proceed(std::nullopt) : takenAway();
    if (runtime_ && runtime_->unstored()) {
      runtime_->refuse(111, function,
                       "Terminate could not store the values: " + lastProblem_);
      return "false";
    }
  }
  return value;
}

void Player::loadLearner() {
  runtime_.reset();
  ended_.reset();
  statements_.reset();
  playing_.clear();
  playingIndex_ = kNone;
  next_.clear();
  std::map<std::string, Values> all = store_.loadAll(learner_);
  const std::string text = Get(all[kStateItem], kStateElement);
  std::optional<SequencingState> state;
  if (!text.empty()) {
    std::vector<std::string> reset;
    state = ParseState(tree_, text, &reset);
    if (!state && onNote)
      onNote("The sequencing state of " + learner_ +
             " does not read; the course starts afresh");
    // The course was updated since: the rest of the state is kept.
    if (state && onNote)
      for (const std::string& line : reset)
        onNote("The sequencing state of " + learner_ + ": " + line);
  }
  state_ = state ? std::move(*state) : InitialState(tree_, random_);
  deliveries_.clear();
  const Values& deliveries = all[kDeliveriesItem];
  for (std::size_t n = 0;; ++n) {
    const auto it = deliveries.find(std::to_string(n));
    if (it == deliveries.end()) break;
    deliveries_.push_back(it->second);
  }
  shared_ = all[kSharedDataItem];
  globals_.load(learner_, all, state_, shared_);
  // The last process ended while an activity was delivered (killed, or
  // the power went): its session is closed as cut off and the course
  // suspended, so the learner resumes where the store says they were.
  const std::size_t current = state_.currentActivity;
  if (current != kNone && tree_.isLeaf(current) &&
      state_.activities[current].isActive) {
    const std::string& id = tree_.at(current).identifier;
    runtime_ = std::make_unique<Runtime>(
        contextFor(current, state_, shared_, false), all[id], RuntimeOptions{});
    playing_ = id;
    playingIndex_ = current;
    proceed(NavigationRequest{NavigationRequestKind::kSuspendAll, ""});
  }
}

LaunchContext2004 Player::contextFor(std::size_t index,
                                     const SequencingState& state,
                                     const Values& shared,
                                     std::optional<bool> newAttempt) const {
  const Activity& activity = tree_.at(index);
  LaunchContext2004 context;
  context.learnerId = context.learnerName = learner_;
  context.mode = options_.mode;
  context.launchData = activity.dataFromLms;
  if (activity.completionThreshold.completedByMeasure)
    context.completionThreshold =
        Number(activity.completionThreshold.minProgressMeasure);
  const std::vector<Objective>& objectives = activity.sequencing.objectives;
  if (!objectives.empty() && objectives[0].satisfiedByMeasure)
    context.scaledPassingScore = Number(objectives[0].minNormalizedMeasure);
  context.maxTimeAllowed = activity.attemptAbsoluteDurationLimit;
  context.timeLimitAction = activity.timeLimitAction;
  // What the objectives hold now, read through their maps (a shared
  // global objective another activity satisfied, say).
  SequencingState copy = state;
  RandomSource none = SeededRandom(0);
  processes::Context c{tree_, copy, none};
  for (std::size_t o = 0; o < objectives.size(); ++o) {
    if (objectives[o].id.empty()) continue;
    context.objectiveIds.push_back(objectives[o].id);
    const ObjectiveState known = processes::EffectiveObjective(c, index, o);
    ObjectiveAtLaunch values;
    values.id = objectives[o].id;
    if (known.progressStatus)
      values.successStatus = known.satisfiedStatus ? "passed" : "failed";
    if (known.measureStatus)
      values.scaledScore = Number(known.normalizedMeasure);
    if (known.rawScore) values.rawScore = Number(*known.rawScore);
    if (known.minScore) values.minScore = Number(*known.minScore);
    if (known.maxScore) values.maxScore = Number(*known.maxScore);
    if (known.completionStatus)
      values.completionStatus =
          *known.completionStatus ? "completed" : "incomplete";
    if (known.progressMeasure)
      values.progressMeasure = Number(*known.progressMeasure);
    context.objectiveValues.push_back(std::move(values));
  }
  for (const SharedDataMap& map : activity.sharedData) {
    SharedDataTarget target;
    target.id = map.targetId;
    target.read = map.readSharedData;
    target.write = map.writeSharedData;
    if (const auto it = shared.find(map.targetId); it != shared.end())
      target.value = it->second;
    context.sharedData.push_back(std::move(target));
  }
  context.newAttempt = newAttempt;
  return context;
}

// The learner's request comes after: it wins over the SCO's own, which a
// page taken away often sets in its unload handlers.
void Player::dropOwnRequest() {
  if (runtime_ && runtime_->state() == Runtime::State::kRunning)
    runtime_->call("SetValue", {"adl.nav.request", "_none_"});
}

std::string Player::takenAway() {
  dropOwnRequest();
  std::string answer = proceed(std::nullopt, false, taking_ == "suspendAll",
                               /*ownRequest=*/false);
  return answer.starts_with("{\"ok\":true") ? "" : answer;
}

std::string Player::navigate(const NavigationRequest& request) {
  if (learner_.empty()) return Answer(false, _("Choose a learner first."));
  next_.clear();
  taking_.clear();
  return proceed(request, true);
}

std::string Player::proceed(const std::optional<NavigationRequest>& asked,
                            bool tryFirst, bool closing, bool ownRequest) {
  globals_.refresh(state_, shared_);
  SequencingState next = state_;
  std::map<std::string, Values> items;
  std::optional<NavigationRequest> request = asked;
  Values shared = shared_;
  if (runtime_) {
    // A SCO taken away ends its attempt as Terminate("") would, unless the
    // course is being suspended or closed.
    const bool suspend =
        asked ? asked->kind == NavigationRequestKind::kSuspendAll : closing;
    if (asked && tryFirst) {
      // A request the sequencer refuses leaves the activity delivered (a
      // SCO running): it is tried on a copy first, with the session closed
      // as leaving would close it.
      SequencingState trial = state_;
      Report(tree_, trial, playingIndex_, runtime_->valuesAtEnd(suspend));
      RandomSource draws = random_;
      const SequencingOutcome outcome = Sequence(tree_, trial, *request, draws);
      if (!outcome.exception.empty() && !outcome.endSession)
        return Refused(outcome);
    }
    runtime_->end(suspend);
    const Values values = runtime_->toStore();
    captureStatements(values, true);
    // An abandoned attempt's results do not reach the sequencer.
    const std::optional<NavigationRequest> ending =
        request ? request : RuntimeRequest(runtime_->navigationRequest());
    const bool abandoned =
        ending && (ending->kind == NavigationRequestKind::kAbandon ||
                   ending->kind == NavigationRequestKind::kAbandonAll);
    if (!abandoned) Report(tree_, next, playingIndex_, values);
    items[playing_] = values;
    shared = SharedAfter(std::move(shared), *runtime_);
    items[kSharedDataItem] = shared;
    if (!request && ownRequest) {
      const std::string& own = runtime_->navigationRequest();
      request = RuntimeRequest(own);
      if (!own.empty() && !request && onNote)
        onNote(playing_ + ": the navigation request " + own +
               " is not one zept knows; it is passed over");
    }
  }

  SequencingOutcome outcome;
  std::size_t delivered = kNone;
  bool newAttempt = true;
  if (request) {
    // Shared data scoped to the course lasts one attempt of it.
    if (!package_.sharedDataGlobalToSystem &&
        request->kind == NavigationRequestKind::kStart)
      shared.clear();
    const SequencingState before = next;
    outcome = Sequence(tree_, next, *request, random_);
    if (outcome.delivered) {
      delivered = tree_.find(*outcome.delivered);
      newAttempt = next.activities[delivered].activityAttemptCount !=
                   before.activities[delivered].activityAttemptCount;
    }
  }
  std::vector<std::string> deliveries = deliveries_;
  std::unique_ptr<Runtime> started;
  if (delivered != kNone) {
    const Activity& activity = tree_.at(delivered);
    const std::string& id = activity.identifier;
    Values stored = items.contains(id) ? items[id] : store_.load(learner_, id);
    // The sequencer resumes only a suspended attempt.
    if (!newAttempt) stored["cmi.entry"] = "resume";
    if (!activity.isSco) {
      // An asset says nothing to the runtime: being opened completes it.
      if (newAttempt) stored.clear();
      stored["cmi.completion_status"] = "completed";
      AttemptReport opened;
      opened.completed = true;
      ReportAttempt(tree_, next, delivered, opened);
      newAttempt = false;
    }
    RuntimeOptions runtimeOptions;
    runtimeOptions.strict = options_.strict;
    started = std::make_unique<Runtime>(
        contextFor(delivered, next, shared, newAttempt), stored,
        runtimeOptions);
    // The attempt's id for its statements, kept with its values: a new
    // attempt has lost the last one's.
    if (options_.lrs && activity.isSco &&
        started->own(xapi::kAttemptIdKey).empty())
      started->keep(xapi::kAttemptIdKey, xapi::NewUuid());
    // A new attempt's fresh values replace the last one's with the state
    // that began it.
    items[id] = started->toStore();
    deliveries.push_back(id);
    Values list;
    for (std::size_t n = 0; n < deliveries.size(); ++n)
      list[std::to_string(n)] = deliveries[n];
    items[kDeliveriesItem] = std::move(list);
  }
  items[kStateItem] = {{kStateElement, SerializeState(tree_, next)}};
  try {
    globals_.save(store_, learner_, items, captured_, next, shared);
  } catch (const std::exception& e) {
    storeFailed(e);
    return unsavedAnswer();
  }
  lastProblem_.clear();
  state_ = std::move(next);
  deliveries_ = std::move(deliveries);
  shared_ = std::move(shared);
  statementsStored();
  if (runtime_) {
    if (options_.strict && onSessionSummary)
      onSessionSummary(tree_.at(playingIndex_).title,
                       runtime_->conformanceSummary());
    ended_.reset();
    if (runtime_->state() == Runtime::State::kTerminated) {
      ended_ = std::move(runtime_);
      endedLaunch_ = launchNumber();
    }
    runtime_.reset();
    statements_.reset();
    playing_.clear();
    playingIndex_ = kNone;
  }
  if (!started) {
    if (outcome.endSession) {
      // How the session ended, for the menu's words: suspended, left
      // (exit all, abandon all), or finished (past the last activity).
      const NavigationRequestKind kind =
          request ? request->kind : NavigationRequestKind::kExitAll;
      const char* end = kind == NavigationRequestKind::kSuspendAll ? "suspended"
                        : kind == NavigationRequestKind::kExitAll ||
                                kind == NavigationRequestKind::kAbandonAll
                            ? "left"
                            : "finished";
      if (onNote && std::string_view(end) == "finished")
        onNote(learner_ + " has reached the end of the course");
      return "{\"ok\":true,\"ended\":true,\"end\":\"" + std::string(end) +
             "\",\"message\":" +
             JsonString(outcome.exception.empty() ? "" : Why(outcome)) + "}";
    }
    if (!outcome.exception.empty()) return Refused(outcome);
    return "{\"ok\":true,\"menu\":true}";
  }

  started->markStored();
  runtime_ = std::move(started);
  playingIndex_ = delivered;
  const Activity& activity = tree_.at(delivered);
  playing_ = activity.identifier;
  begun_ = false;
  if (options_.lrs && activity.isSco)
    captureSession(package_.identifier, package_.title, playing_,
                   activity.title, xapi::DataModel::kScorm2004,
                   runtime_->own(xapi::kAttemptIdKey), runtime_->toStore());
  const std::string number = nextLaunch();
  runtime_->requestValid = [this](const std::string& text) -> std::string {
    const std::optional<NavigationRequest> request = RuntimeRequest(text);
    if (!request) return "unknown";
    return NavigationRequestValid(tree_, state_, *request, random_) ? "true"
                                                                    : "false";
  };
  runtime_->onLeniency = [this,
                          title = activity.title](const std::string& line) {
    if (onNote) onNote(title + ": " + line);
  };
  std::string out = "{\"ok\":true,\"id\":" + JsonString(playing_) +
                    ",\"title\":" + JsonString(activity.title);
  const std::optional<std::string> file = scorm::PackagePath(
      "", activity.launch.substr(0, activity.launch.find_first_of("?#")));
  if (activity.launch.empty() || (hasFile && file && !hasFile(*file))) {
    const std::string missing = file ? *file : activity.launch;
    if (onNote)
      onNote("Activity " + playing_ + " cannot start: its launch page " +
             (missing.empty() ? "is not named" : missing + " is missing") +
             " in the package");
    out += ",\"missing\":" + JsonString(missing);
  } else {
    out += ",\"url\":" + JsonString(scorm::LaunchUrl(activity.launch));
  }
  out += ",\"launch\":" + JsonString(number);
  out += ",\"values\":" + LaunchValues(*runtime_);
  return out + "," + controls(state_) + "}";
}

// "controls": which requests the sequencer would take now, and "hidden":
// the ones the delivered activity asks the player not to show.
std::string Player::controls(const SequencingState& state, ChoiceMemo* memo) {
  std::string out = "\"controls\":{";
  bool first = true;
  for (const RequestName& row : kRequests) {
    if (row.kind == NavigationRequestKind::kChoice ||
        row.kind == NavigationRequestKind::kJump)
      continue;
    if (!first) out += ',';
    first = false;
    out += JsonString(row.name);
    // Continue is offered wherever flow allows it, even where nothing
    // follows; pressing it then tells why. Start and Resume all are
    // offered only where the sequencer, asked on a copy, delivers: a
    // course without flow is entered by choice.
    bool offered = row.kind == NavigationRequestKind::kContinue
                       ? NavigationRequestAllowed(tree_, state, {row.kind, ""})
                       : NavigationRequestValid(tree_, state, {row.kind, ""},
                                                random_, nullptr, memo);
    if (offered && (row.kind == NavigationRequestKind::kStart ||
                    row.kind == NavigationRequestKind::kResumeAll)) {
      SequencingState own;
      SequencingState& copy = memo ? memo->copy : own;
      copy = state;
      RandomSource draws = random_;
      offered =
          Sequence(tree_, copy, {row.kind, ""}, draws).delivered.has_value();
    }
    out += offered ? ":true" : ":false";
  }
  out += "},\"hidden\":[";
  if (state.currentActivity != kNone) {
    const HiddenControls& hidden = tree_.at(state.currentActivity).hidden;
    const std::pair<const char*, bool> kHidden[] = {
        {"previous", hidden.previous},
        {"continue", hidden.continue_},
        {"exit", hidden.exit},
        {"exitAll", hidden.exitAll},
        {"abandon", hidden.abandon},
        {"abandonAll", hidden.abandonAll},
        {"suspendAll", hidden.suspendAll}};
    first = true;
    for (const auto& [name, on] : kHidden) {
      if (!on) continue;
      if (!first) out += ',';
      first = false;
      out += JsonString(name);
    }
  }
  return out + "]";
}

std::string Player::menu() {
  std::string out = "{\"title\":" + JsonString(package_.title) +
                    ",\"learner\":" + JsonString(learner_) +
                    ",\"note\":" + JsonString(resultsNote_);
  const bool underWay = state_.currentActivity != kNone;
  out += ",\"begin\":";
  out += underWay                            ? "\"\""
         : state_.suspendedActivity != kNone ? "\"resume\""
                                             : "\"start\"";
  out +=
      ",\"current\":" +
      JsonString(underWay ? tree_.at(state_.currentActivity).identifier : "");
  // One copy serves every question that sequences, and the choice walk
  // is shared by the siblings asked about.
  ChoiceMemo& memo = menuMemo_;
  memo.forget();
  out += "," + controls(state_, &memo) + ",\"items\":[";
  out.reserve(out.size() + tree_.size() * 160);
  // The standings and the rules that hide items only read the state: they
  // are asked of it, not of a copy.
  RandomSource draws = random_;
  processes::Context c{tree_, state_, draws};
  const std::string kNoReason = "\"\"";
  std::map<std::string, std::string> reasons;
  // A choice names its activity by identifier: where two share one, the
  // first is the one a choice of either would take.
  const bool unique = tree_.identifiersUnique();
  bool first = true;
  std::function<void(std::size_t, int)> walk = [&](std::size_t parent,
                                                   int depth) {
    for (std::size_t i : state_.activities[parent].availableChildren) {
      const Activity& activity = tree_.at(i);
      // An item the manifest makes invisible hides itself only: what is
      // under it shows in its place (a wrapper a course retries as one).
      if (!activity.visible) {
        walk(i, depth);
        continue;
      }
      // Hidden from choice goes with what is under it: none of it can be
      // chosen.
      if (processes::SequencingRulesCheckProcess(
              c, i, tree_.sequencing(i).preConditionRules,
              {RuleAction::kHiddenFromChoice}))
        continue;
      const Standing standing = StandingOf(c, i);
      // The check says why it refuses: trying each refused item on a copy
      // of the state made a menu of thousands take seconds.
      std::string why;
      const bool choosable =
          !learner_.empty() &&
          ChoiceRequestValid(tree_, state_,
                             unique ? i : tree_.find(activity.identifier),
                             random_, &why, &memo);
      // The reason as JSON, made once per code: thousands of items share
      // a few.
      const std::string* reason = &kNoReason;
      if (!choosable && !learner_.empty()) {
        auto [it, added] = reasons.try_emplace(why);
        if (added) {
          SequencingOutcome refused;
          refused.exception = why;
          refused.exceptionText = std::string(ExceptionText(why));
          it->second =
              JsonString(why.empty() ? _("This activity cannot be chosen now.")
                                     : Why(refused));
        }
        reason = &it->second;
      }
      // Appended piece by piece: a menu of thousands of items is megabytes.
      out += first ? "{\"id\":" : ",{\"id\":";
      first = false;
      AppendJsonString(out, activity.identifier);
      out += ",\"title\":";
      AppendJsonString(out, activity.title);
      out += ",\"depth\":";
      out += std::to_string(depth);
      out += tree_.isLeaf(i) ? ",\"launchable\":true" : ",\"launchable\":false";
      out += ",\"completion\":";
      AppendJsonString(out, standing.completion);
      out += ",\"success\":";
      AppendJsonString(out, standing.success);
      out += ",\"score\":";
      AppendJsonString(out, standing.score);
      out += choosable ? ",\"choosable\":true" : ",\"choosable\":false";
      out += ",\"reason\":";
      out += *reason;
      out += '}';
      walk(i, depth + 1);
    }
  };
  walk(0, 0);
  // The course itself, which a choice may name as well.
  const bool rootChoosable =
      !learner_.empty() &&
      ChoiceRequestValid(tree_, state_, 0, random_, nullptr, &memo);
  const Standing course = StandingOf(c, 0);
  out += "],\"root\":{\"id\":" + JsonString(package_.root.identifier) +
         ",\"choosable\":" + (rootChoosable ? "true" : "false") +
         ",\"completion\":" + JsonString(course.completion) +
         ",\"success\":" + JsonString(course.success) +
         ",\"score\":" + JsonString(course.score) + "}}";
  return out;
}

void Player::storeSession() {
  std::map<std::string, Values> items{{playing_, runtime_->toStore()}};
  Values shared = SharedAfter(shared_, *runtime_);
  if (shared != shared_) items[kSharedDataItem] = shared;
  captureStatements(items[playing_], false);
  globals_.save(store_, learner_, items, captured_, state_, shared);
  shared_ = std::move(shared);
  runtime_->markStored();
}

void Player::leave() {
  if (learner_.empty()) return;
  for (;;) {
    if (!runtime_ && state_.currentActivity == kNone) return;
    // Closing the course suspends it, so that the learner resumes all.
    // Nothing that leaves can be refused: the request is not tried first.
    if (runtime_) runtime_->end(true);
    next_.clear();
    proceed(state_.currentActivity == kNone
                ? std::nullopt
                : std::optional<NavigationRequest>(NavigationRequest{
                      NavigationRequestKind::kSuspendAll, ""}));
    if (lastProblem_.empty() || !retryStore()) return;
  }
}

std::string Player::resultsReport() {
  storeOpen();
  std::string xml =
      scorm::ReportHead(package_.title, learner_) +
      "<tr><td width=\"200\" border=\"1\"><s>" +
      scorm::ReportText(_("ACTIVITY")) + "</s></td><td border=\"1\"><s>" +
      scorm::ReportText(_("COMPLETION")) + "</s></td><td border=\"1\"><s>" +
      scorm::ReportText(_("SUCCESS")) +
      "</s></td><td width=\"60\" border=\"1\" align=\"right\"><s>" +
      scorm::ReportText(_("SCORE")) +
      "</s></td><td width=\"90\" border=\"1\" align=\"right\"><s>" +
      scorm::ReportText(_("TIME")) + "</s></td></tr>\n";
  // The vocabulary's words, lower case as the report has always shown them.
  static constexpr const char* kWords[] = {
      N_("not attempted"), N_("unknown"), N_("completed"),
      N_("incomplete"),    N_("passed"),  N_("failed")};
  const auto word = [](const std::string& token) -> std::string {
    for (const char* known : kWords) {
      if (token == known) return _(known);
    }
    return token;
  };
  SequencingState copy = state_;
  RandomSource draws = random_;
  processes::Context c{tree_, copy, draws};
  const auto cell = [](const std::string& text, const char* attributes) {
    return std::string("<td ") + attributes + "><s>" + scorm::ReportText(text) +
           "</s></td>";
  };
  // The course first, then its activities, as the menu says them.
  for (std::size_t i = 0; i < tree_.size(); ++i) {
    if (i != 0 && !tree_.isLeaf(i)) continue;
    const Activity& activity = tree_.at(i);
    const Standing standing = StandingOf(c, i);
    const std::string time =
        i == 0
            ? std::string()
            : Get(store_.load(learner_, activity.identifier), "cmi.total_time");
    xml += "<tr>" +
           cell(i == 0 ? _("Course: ") + package_.title : activity.title,
                "width=\"200\" border=\"1\"") +
           cell(word(standing.completion), "border=\"1\"") +
           cell(word(standing.success), "border=\"1\"") +
           cell(standing.score, "width=\"60\" border=\"1\" align=\"right\"") +
           cell(time, "width=\"90\" border=\"1\" align=\"right\"") + "</tr>\n";
  }
  return xml + scorm::kReportTail;
}

}  // namespace zept::scorm2004
