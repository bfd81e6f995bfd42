#include "scorm2004/runtime.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "scorm/datamodel.h"
#include "scorm2004/datamodel.h"
#include "scorm2004/time_interval.h"

namespace zept::scorm2004 {
namespace {

using Map = std::map<std::string, std::string, std::less<>>;
using scorm::ParseDecimal;
using scorm::RepairUtf8;

// The runtime's own marks in the store: a session began and has not
// closed; the last attempt ended, so the next launch begins a new one.
constexpr std::string_view kSessionKey = "zept.session";
constexpr std::string_view kAttemptKey = "zept.attempt";
constexpr std::string_view kPreferences = "cmi.learner_preference.";
constexpr std::string_view kNoRequest = "_none_";
using scorm::ApiRecord;
using scorm::Shortened;

std::optional<std::string_view> Find(const Map& values,
                                     std::string_view element) {
  const auto it = values.find(element);
  if (it == values.end()) return std::nullopt;
  return std::string_view(it->second);
}

std::string_view Get(const Map& values, std::string_view element) {
  return Find(values, element).value_or(std::string_view{});
}

// cmi.completion_status as GetValue gives it: a threshold and a progress
// measure decide over what the SCO set. With a threshold but no measure the
// standard answers "unknown"; lenient, the SCO's own status stands, as
// content that sets its status and not its progress expects. The sequencer
// takes the status stored at the end as it is.
std::string Completion(const Map& values, const LaunchContext2004& context,
                       bool strict) {
  const auto threshold = ParseDecimal(context.completionThreshold);
  const auto measure = ParseDecimal(Get(values, "cmi.progress_measure"));
  if (threshold && measure)
    return *measure >= *threshold ? "completed" : "incomplete";
  if (threshold && strict) return "unknown";
  return std::string(Find(values, "cmi.completion_status").value_or("unknown"));
}

// cmi.success_status likewise against the scaled passing score.
std::string Success(const Map& values, const LaunchContext2004& context,
                    bool strict) {
  const auto passing = ParseDecimal(context.scaledPassingScore);
  const auto scaled = ParseDecimal(Get(values, "cmi.score.scaled"));
  if (passing && scaled) return *scaled >= *passing ? "passed" : "failed";
  if (passing && strict) return "unknown";
  return std::string(Find(values, "cmi.success_status").value_or("unknown"));
}

// The session ends: its time joins the attempt's total, the statuses are
// settled as evaluated, and the exit (or a suspendAll request) decides
// whether the attempt goes on. terminated: the SCO called Terminate; if not,
// a SCO that never set cmi.exit was cut off and keeps its attempt. Gives
// the navigation request to process.
std::string CloseSession(Map& values, const LaunchContext2004& context,
                         std::string_view request, bool suspend, bool strict) {
  values.erase(std::string(kSessionKey));
  const std::int64_t total = AddTimeIntervals(
      ParseTimeInterval(Get(values, "cmi.total_time"), false).value_or(0),
      ParseTimeInterval(Get(values, "cmi.session_time"), false).value_or(0));
  values.insert_or_assign("cmi.total_time", FormatTimeInterval(total));
  for (const auto& [element, status] :
       {std::pair{"cmi.completion_status", Completion(values, context, strict)},
        std::pair{"cmi.success_status", Success(values, context, strict)}})
    if (status != "unknown" || values.contains(element))
      values.insert_or_assign(element, status);
  const auto exit = Find(values, "cmi.exit");
  const bool suspended =
      exit == "suspend" || request == "suspendAll" || (suspend && !exit);
  values.insert_or_assign("cmi.entry", suspended ? "resume" : "");
  if (suspended)
    values.erase(std::string(kAttemptKey));
  else
    values.insert_or_assign(std::string(kAttemptKey), "ended");
  // "logout" is kept for older content and, like "time-out", ends all.
  if (exit == "logout" || exit == "time-out") return "exitAll";
  return request == kNoRequest ? std::string() : std::string(request);
}

// What an element of the model not yet set reads as; nullopt: 403.
std::optional<std::string_view> Default(std::string_view pattern) {
  static constexpr std::pair<std::string_view, std::string_view> kDefaults[] = {
      {"cmi.entry", "ab-initio"},
      {"cmi.total_time", "PT0H0M0S"},
      {"cmi.learner_preference.audio_level", "1"},
      {"cmi.learner_preference.language", ""},
      {"cmi.learner_preference.delivery_speed", "1"},
      {"cmi.learner_preference.audio_captioning", "0"},
      {"cmi.objectives.n.success_status", "unknown"},
      {"cmi.objectives.n.completion_status", "unknown"}};
  for (const auto& [name, value] : kDefaults)
    if (name == pattern) return value;
  return std::nullopt;
}

// The element of the same record: "cmi.interactions.3.learner_response",
// "type" -> "cmi.interactions.3.type".
std::string Sibling(std::string_view element, std::size_t arrayEnd,
                    std::string_view field) {
  const std::size_t end = element.find('.', arrayEnd + 1);
  return std::string(element.substr(0, end)) + "." + std::string(field);
}

std::string_view Field(std::string_view pattern) {
  return pattern.substr(pattern.rfind(".n.") + 3);
}

}  // namespace

// values: the stored values with this session's.
struct Runtime::Impl : scorm::ValueTable {
  LaunchContext2004 context;
  RuntimeOptions options;
  std::string request{kNoRequest};
  std::string navigation;  // what close() left for the sequencer

  ApiRecord record{kScorm2004Api};
  std::vector<bool> reported;
  std::map<std::string, std::string, std::less<>> pastSpm;

  void rebuildCounts() { recount(ParseElement); }

  int count(std::string_view array) const {
    if (array == "cmi.comments_from_lms")
      return static_cast<int>(context.commentsFromLms.size());
    if (array == "adl.data") return static_cast<int>(context.sharedData.size());
    const auto it = counts.find(array);
    return it == counts.end() ? 0 : it->second;
  }

  std::optional<std::string_view> provided(std::string_view element) const {
    const LaunchContext2004& c = context;
    const std::pair<std::string_view, const std::string*> kProvided[] = {
        {"cmi.learner_id", &c.learnerId},
        {"cmi.learner_name", &c.learnerName},
        {"cmi.credit", &c.credit},
        {"cmi.mode", &c.mode},
        {"cmi.launch_data", &c.launchData},
        {"cmi.completion_threshold", &c.completionThreshold},
        {"cmi.scaled_passing_score", &c.scaledPassingScore},
        {"cmi.max_time_allowed", &c.maxTimeAllowed},
        {"cmi.time_limit_action", &c.timeLimitAction}};
    for (const auto& [name, value] : kProvided)
      if (name == element) return *value;
    return std::nullopt;
  }

  // GetValue without the session's state: the code and the value, or the
  // code and why.
  std::pair<int, std::string> lookup(
      const std::string& element,
      const std::function<std::string(const std::string&)>& valid) const {
    if (element.empty()) return {301, "no element named"};
    const ParsedElement parsed = ParseElement(element);
    using Fault = ParsedElement::Fault;
    if (parsed.fault == Fault::kNoChildren)
      return {301, Shortened(element) + ": that element has no children"};
    if (parsed.fault == Fault::kNotAnArray)
      return {301, Shortened(element) + ": that element is not an array"};
    if (parsed.fault == Fault::kBadIndex)
      return {301, Shortened(element) + ": no record has that index"};
    if (parsed.fault != Fault::kNone)
      return {401, Shortened(element) +
                       " is not an element of the SCORM 2004 data model"};
    const ElementRule& rule = *parsed.rule;
    if (rule.access == Access::kWriteOnly)
      return {405, element + " is write-only"};
    for (int level = 0; level < parsed.indexCount; ++level) {
      const std::string_view array =
          std::string_view(element).substr(0, parsed.arrayEnd[level]);
      if (parsed.index[level] >= count(array))
        return {301, element + ": past the " + std::to_string(count(array)) +
                         " records of " + std::string(array)};
    }
    const auto unset = [&element]() -> std::pair<int, std::string> {
      return {403, element + " has no value yet"};
    };
    switch (rule.type) {
      case DataType::kChildren:
      case DataType::kVersion:
        return {0, std::string(rule.text)};
      case DataType::kCount:
        return {0, std::to_string(count(std::string_view(element).substr(
                       0, element.size() - 7)))};
      case DataType::kNavValid: {
        std::string asked =
            rule.pattern.ends_with(".continue") ? "continue"
            : rule.pattern.ends_with(".previous")
                ? "previous"
                : "{target=" + parsed.target + "}" +
                      (rule.pattern.find(".choice.") != std::string_view::npos
                           ? "choice"
                           : "jump");
        std::string answer = valid ? valid(asked) : "unknown";
        if (answer != "true" && answer != "false") answer = "unknown";
        return {0, answer};
      }
      case DataType::kNavRequest:
        return {0, request};
      default:
        break;
    }
    if (element.starts_with("cmi.comments_from_lms.")) {
      const CommentFromLms& comment =
          context.commentsFromLms[static_cast<std::size_t>(parsed.index[0])];
      const std::string_view field = Field(rule.pattern);
      const std::string& value = field == "comment"    ? comment.comment
                                 : field == "location" ? comment.location
                                                       : comment.timestamp;
      if (value.empty()) return unset();
      return {0, value};
    }
    if (element.starts_with("adl.data.")) {
      const SharedDataTarget& target =
          context.sharedData[static_cast<std::size_t>(parsed.index[0])];
      if (Field(rule.pattern) == "id") return {0, target.id};
      if (!target.read)
        return {405, element + ": the SCO may not read " + target.id};
      if (!target.value) return unset();
      return {0, *target.value};
    }
    if (const auto given = provided(element)) {
      if (!given->empty()) return {0, std::string(*given)};
      if (element == "cmi.time_limit_action") return {0, "continue,no message"};
      if (element == "cmi.learner_id" || element == "cmi.learner_name")
        return {0, ""};
      return unset();
    }
    if (element == "cmi.completion_status")
      return {0, Completion(values, context, options.strict)};
    if (element == "cmi.success_status")
      return {0, Success(values, context, options.strict)};
    if (const auto value = Find(values, element))
      return {0, std::string(*value)};
    if (const auto fallback = Default(rule.pattern))
      return {0, std::string(*fallback)};
    return unset();
  }
};

Runtime::Runtime(LaunchContext2004 context, Values stored,
                 RuntimeOptions options)
    : impl_(std::make_unique<Impl>()) {
  Impl& impl = *impl_;
  impl.context = std::move(context);
  impl.options = options;
  impl.values = Map(stored.begin(), stored.end());
  if (impl.values.contains(kSessionKey)) {
    // The program ended under the SCO: its attempt is kept to resume.
    CloseSession(impl.values, impl.context, kNoRequest, true, options.strict);
    unstored_ = true;
  }
  // A new attempt keeps only the learner's preferences, which are the
  // learner's rather than the attempt's.
  if (impl.context.newAttempt.value_or(impl.values.contains(kAttemptKey))) {
    Map kept;
    for (auto& [element, value] : impl.values)
      if (element.starts_with(kPreferences))
        kept.emplace(element, std::move(value));
    if (kept.size() != impl.values.size()) unstored_ = true;
    impl.values = std::move(kept);
  }
  impl.reported.assign(DataModelRules().size(), false);
  impl.rebuildCounts();
}

Runtime::~Runtime() = default;
Runtime::Runtime(Runtime&&) noexcept = default;
Runtime& Runtime::operator=(Runtime&&) noexcept = default;

void Runtime::succeed() { impl_->record.succeed(); }

// GetDiagnostic answers at most 255 characters (the version says so to the
// record); a name from the page can make a longer one.
void Runtime::fail(int code, std::string_view element, std::string diagnostic) {
  impl_->record.fail(code, element, std::move(diagnostic));
}

void Runtime::refuse(int code, std::string_view function,
                     std::string diagnostic) {
  fail(code, function, std::move(diagnostic));
}

std::string Runtime::Initialize(const std::string& parameter) try {
  impl_->record.count(scorm::kInitialize);
  if (state_ != State::kNotInitialized) {
    if (state_ == State::kRunning)
      fail(103, "Initialize", "Initialize was already called in this session");
    else
      fail(104, "Initialize",
           "the session has terminated; the next launch starts a new one");
    return "false";
  }
  if (!parameter.empty()) {
    fail(201, "Initialize", "Initialize takes \"\"");
    return "false";
  }
  Impl& impl = *impl_;
  // This session's own write-only values start empty.
  impl.values.erase("cmi.exit");
  impl.values.erase("cmi.session_time");
  impl.values.try_emplace("cmi.entry", "ab-initio");
  impl.values.try_emplace("cmi.total_time", "PT0H0M0S");
  // The manifest's objectives are there from the start, after any the
  // attempt already has, with what the sequencer read for them.
  impl.rebuildCounts();
  std::set<std::string, std::less<>> known;
  const int objectives = impl.count("cmi.objectives");
  for (int i = 0; i < objectives; ++i)
    known.insert(std::string(
        Get(impl.values, "cmi.objectives." + std::to_string(i) + ".id")));
  int next = objectives;
  const auto add = [&](const std::string& id) {
    if (!id.empty() && known.insert(id).second)
      impl.values.insert_or_assign(
          "cmi.objectives." + std::to_string(next++) + ".id", id);
  };
  for (const std::string& id : impl.context.objectiveIds) add(id);
  for (const ObjectiveAtLaunch& objective : impl.context.objectiveValues) {
    add(objective.id);
    int index = 0;
    while (index < next &&
           Get(impl.values, "cmi.objectives." + std::to_string(index) +
                                ".id") != objective.id)
      ++index;
    if (index == next) continue;  // no id
    const std::string prefix = "cmi.objectives." + std::to_string(index) + ".";
    const std::pair<std::string_view, const std::string*> kFields[] = {
        {"success_status", &objective.successStatus},
        {"completion_status", &objective.completionStatus},
        {"score.scaled", &objective.scaledScore},
        {"score.raw", &objective.rawScore},
        {"score.min", &objective.minScore},
        {"score.max", &objective.maxScore},
        {"progress_measure", &objective.progressMeasure}};
    for (const auto& [field, value] : kFields)
      if (!value->empty())
        impl.values.insert_or_assign(prefix + std::string(field), *value);
  }
  impl.values.insert_or_assign(std::string(kSessionKey), "open");
  impl.rebuildCounts();
  state_ = State::kRunning;
  unstored_ = true;
  succeed();
  return "true";
} catch (...) {
  fail(101, "Initialize", "internal error");
  return "false";
}

void Runtime::close(bool suspend) {
  impl_->navigation =
      CloseSession(impl_->values, impl_->context, impl_->request, suspend,
                   impl_->options.strict);
  state_ = State::kTerminated;
  unstored_ = true;
}

std::string Runtime::Terminate(const std::string& parameter) try {
  impl_->record.count(scorm::kFinish);
  if (state_ != State::kRunning) {
    if (state_ == State::kNotInitialized)
      fail(112, "Terminate", "Terminate before Initialize");
    else
      fail(113, "Terminate", "Terminate was already called");
    return "false";
  }
  if (!parameter.empty()) {
    fail(201, "Terminate", "Terminate takes \"\"");
    return "false";
  }
  close(false);
  succeed();
  return "true";
} catch (...) {
  fail(111, "Terminate", "internal error");
  return "false";
}

void Runtime::end(bool suspend) {
  try {
    if (state_ == State::kRunning) close(suspend);
  } catch (...) {
    // Nothing to tell: the learner has left; toStore() still has the values.
  }
}

std::string Runtime::Commit(const std::string& parameter) try {
  impl_->record.count(scorm::kCommit);
  if (state_ != State::kRunning) {
    if (state_ == State::kNotInitialized)
      fail(142, "Commit", "Commit before Initialize");
    else
      fail(143, "Commit", "Commit after Terminate");
    return "false";
  }
  if (!parameter.empty()) {
    fail(201, "Commit", "Commit takes \"\"");
    return "false";
  }
  succeed();
  return "true";
} catch (...) {
  fail(391, "Commit", "internal error");
  return "false";
}

std::string Runtime::GetValue(const std::string& element) try {
  impl_->record.count(scorm::kGetValue);
  if (state_ != State::kRunning) {
    if (state_ == State::kNotInitialized)
      fail(122, element, "GetValue before Initialize");
    else
      fail(123, element, "GetValue after Terminate");
    return "";
  }
  auto [code, text] = impl_->lookup(element, requestValid);
  if (code) {
    fail(code, element, std::move(text));
    return "";
  }
  succeed();
  return text;
} catch (...) {
  fail(101, element, "internal error");
  return "";
}

std::string Runtime::peek(const std::string& element) const {
  try {
    auto [code, text] = impl_->lookup(element, requestValid);
    return code ? std::string() : text;
  } catch (...) {
    return "";
  }
}

std::string Runtime::SetValue(const std::string& element,
                              const std::string& value) try {
  impl_->record.count(scorm::kSetValue);
  return setValue(element, value);
} catch (...) {
  fail(101, element, "internal error");
  return "false";
}

std::string Runtime::setValue(const std::string& element,
                              const std::string& given) {
  if (state_ != State::kRunning) {
    if (state_ == State::kNotInitialized)
      fail(132, element, "SetValue before Initialize");
    else
      fail(133, element, "SetValue after Terminate");
    return "false";
  }
  if (element.empty()) {
    fail(351, element, "no element named");
    return "false";
  }
  const ParsedElement parsed = ParseElement(element);
  if (parsed.keyword) {
    fail(404, element,
         Shortened(element) + " is a keyword, which is read-only");
    return "false";
  }
  if (parsed.fault == ParsedElement::Fault::kBadIndex) {
    fail(351, element, Shortened(element) + ": no record has that index");
    return "false";
  }
  if (parsed.fault != ParsedElement::Fault::kNone) {
    fail(
        401, element,
        Shortened(element) + " is not an element of the SCORM 2004 data model");
    return "false";
  }
  const ElementRule& rule = *parsed.rule;
  if (rule.access == Access::kReadOnly) {
    fail(404, element, element + " is read-only");
    return "false";
  }
  Impl& impl = *impl_;
  for (int level = 0; level < parsed.indexCount; ++level) {
    const std::string_view array =
        std::string_view(element).substr(0, parsed.arrayEnd[level]);
    // An array grows by one, at index _count; adl.data never grows.
    const int count = impl.count(array);
    if (parsed.index[level] > count ||
        (parsed.index[level] == count && array == "adl.data")) {
      fail(351, element,
           element + ": past " + std::string(array) + "._count, which is " +
               std::to_string(count));
      return "false";
    }
  }
  const std::string_view field = Field(rule.pattern);
  const bool interaction = element.starts_with("cmi.interactions.");
  const bool objective = element.starts_with("cmi.objectives.");
  // A record is known by its id: nothing else of it is set before, not
  // even an interaction's objectives.
  if ((interaction || objective) &&
      !(parsed.indexCount == 1 && field == "id")) {
    const std::string id = Sibling(element, parsed.arrayEnd[0], "id");
    if (!impl.values.contains(id)) {
      fail(408, element, element + ": set " + id + " first");
      return "false";
    }
  }
  std::string_view interactionType;
  if (rule.type == DataType::kResponse || rule.type == DataType::kPattern) {
    const std::string typeElement =
        Sibling(element, parsed.arrayEnd[0], "type");
    const auto type = Find(impl.values, typeElement);
    if (!type) {
      fail(408, element, element + ": set " + typeElement + " first");
      return "false";
    }
    interactionType = *type;
  }
  // Some types have exactly one correct response, whatever it is.
  if (rule.type == DataType::kPattern && parsed.index[1] > 0 &&
      HasOnePattern(interactionType)) {
    fail(351, element,
         element + ": a " + std::string(interactionType) +
             " interaction has one correct response");
    return "false";
  }
  SharedDataTarget* target = nullptr;
  if (element.starts_with("adl.data.")) {
    target =
        &impl.context.sharedData[static_cast<std::size_t>(parsed.index[0])];
    if (!target->write) {
      fail(404, element, element + ": the SCO may not write " + target->id);
      return "false";
    }
  }

  const std::optional<std::string> repaired = RepairUtf8(given);
  const std::string& value = repaired ? *repaired : given;
  Verdict verdict = CheckValue(rule, value, interactionType);
  // The rules between records of the model, which the table cannot see.
  const auto refuseBoth = [&verdict](std::string why) {
    verdict.strictCode = verdict.lenientCode = 351;
    verdict.reason = verdict.lenientReason = std::move(why);
  };
  if (!verdict.strictCode && objective && parsed.indexCount == 1 &&
      field == "id") {
    const auto old = Find(impl.values, element);
    if (old && *old != value)
      refuseBoth("an objective's id does not change once set");
    for (int i = 0; i < impl.count("cmi.objectives"); ++i)
      if (i != parsed.index[0] &&
          Get(impl.values, "cmi.objectives." + std::to_string(i) + ".id") ==
              value)
        refuseBoth("objective " + std::to_string(i) + " has that id");
  }
  if (!verdict.strictCode && interaction && parsed.indexCount == 2) {
    const std::string_view array =
        std::string_view(element).substr(0, parsed.arrayEnd[1]);
    const std::string suffix = field == "id" ? ".id" : ".pattern";
    if (field == "id" || interactionType == "choice") {
      for (int i = 0; i < impl.count(array); ++i)
        if (i != parsed.index[1] &&
            Get(impl.values,
                std::string(array) + "." + std::to_string(i) + suffix) == value)
          refuseBoth(std::string(array) + "." + std::to_string(i) +
                     " is the same");
    }
    if (field == "pattern" &&
        parsed.index[1] >= CorrectResponsesLimit(interactionType)) {
      verdict.pastSpm = true;
      verdict.spmReason =
          "a " + std::string(interactionType) + " interaction with more than " +
          std::to_string(CorrectResponsesLimit(interactionType)) +
          " correct responses, past what every runtime keeps";
    }
  }

  const std::size_t row = &rule - DataModelRules().data();
  if (verdict.pastSpm && !verdict.strictCode && !verdict.lenientCode) {
    const std::string line = element + ": " + verdict.spmReason;
    impl.pastSpm.try_emplace(std::string(rule.pattern), line);
    if (!impl.reported[row]) {
      impl.reported[row] = true;
      if (onLeniency) onLeniency(line + "; kept");
    }
  }
  if (verdict.strictCode) {
    if (!verdict.lenientCode) {
      const std::string line = element + ": " + verdict.reason;
      impl.record.refusedByStrict.try_emplace(std::string(rule.pattern), line);
      if (!impl.options.strict && !impl.reported[row]) {
        impl.reported[row] = true;
        if (onLeniency) onLeniency(line + "; accepted, as lenient runtimes do");
      }
    }
    if (impl.options.strict || verdict.lenientCode) {
      const bool strict = impl.options.strict;
      fail(strict ? verdict.strictCode : verdict.lenientCode, element,
           element + ": " + (strict ? verdict.reason : verdict.lenientReason));
      return "false";
    }
  }

  if (rule.type == DataType::kNavRequest) {
    impl.request = value;
    succeed();
    return "true";
  }
  if (target) {
    // An empty store is no value: the next read is 403 again.
    if (value.empty())
      target->value.reset();
    else
      target->value = value;
    target->set = true;
    if (onSharedData) onSharedData(target->id, value);
    unstored_ = true;
    succeed();
    return "true";
  }
  if (!impl.fits(element, value, impl.options.maxValueBytes)) {
    fail(351, element,
         element + ": the SCO's values would pass the " +
             std::to_string(impl.options.maxValueBytes) +
             " bytes this runtime keeps");
    return "false";
  }
  impl.set(element, value, parsed);
  unstored_ = true;
  succeed();
  return "true";
}

std::string Runtime::GetLastError() { return impl_->record.lastError(); }

std::string Runtime::GetErrorString(const std::string& code) {
  return impl_->record.errorString(code);
}

std::string Runtime::GetDiagnostic(const std::string& code) {
  return impl_->record.diagnostic(code);
}

std::string Runtime::call(const std::string& function,
                          const std::vector<std::string>& arguments) {
  static constexpr scorm::ApiMembers<Runtime> kMembers{
      &Runtime::Initialize,     &Runtime::Terminate,    &Runtime::GetValue,
      &Runtime::SetValue,       &Runtime::Commit,       &Runtime::GetLastError,
      &Runtime::GetErrorString, &Runtime::GetDiagnostic};
  return scorm::CallByName(*this, kMembers, impl_->record, function, arguments);
}

std::string Runtime::own(const std::string& key) const {
  const auto it = impl_->values.find(key);
  return it == impl_->values.end() ? std::string() : it->second;
}

void Runtime::keep(const std::string& key, const std::string& value) {
  impl_->values.insert_or_assign(key, value);
}

Values Runtime::toStore() const {
  return Values(impl_->values.begin(), impl_->values.end());
}

Values Runtime::valuesAtEnd(bool suspend) const {
  Map values = impl_->values;
  if (state_ == State::kRunning)
    CloseSession(values, impl_->context, impl_->request, suspend,
                 impl_->options.strict);
  return Values(values.begin(), values.end());
}

const std::string& Runtime::navigationRequest() const {
  return impl_->navigation;
}

const std::vector<SharedDataTarget>& Runtime::sharedData() const {
  return impl_->context.sharedData;
}

std::string Runtime::conformanceSummary() const {
  std::string out = impl_->record.summary();
  if (!impl_->pastSpm.empty()) out += "Past what every LMS keeps:\n";
  for (const auto& [pattern, line] : impl_->pastSpm) out += "  " + line + "\n";
  return out;
}

const scorm::ApiVersion kScorm2004Api = {
    "SCORM 2004",
    {"Initialize", "Terminate", "GetValue", "SetValue", "Commit",
     "GetLastError", "GetErrorString", "GetDiagnostic"},
    ErrorString,
    101,
    101,
    351,
    255};

}  // namespace zept::scorm2004
