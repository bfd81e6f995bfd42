#include "scorm/runtime.h"

#include <algorithm>
#include <array>
#include <exception>
#include <set>

#include "scorm/datamodel.h"

namespace zept::scorm {
namespace {

using Map = std::map<std::string, std::string, std::less<>>;

// The runtime's own mark in the store: a session began and has not closed.
constexpr std::string_view kSessionKey = "zept.session";
constexpr std::string_view kInteractions = "cmi.interactions.";

template <typename M>
std::string_view Get(const M& values, std::string_view element) {
  const auto it = values.find(element);
  return it == values.end() ? std::string_view{} : std::string_view(it->second);
}

// The learner left: the session's time joins the total, the exit decides the
// next entry, and a status the SCO never set is settled. Only a status left
// "not attempted" is settled: a status the SCO set stands, as the content
// judged it (a mastery score never turns a "completed" into "failed").
template <typename M>
void CloseSession(M& values, const LaunchContext& context) {
  const auto open = values.find(kSessionKey);
  if (open == values.end()) return;
  values.erase(open);
  const std::int64_t total =
      ParseTimespan(Get(values, "cmi.core.total_time")).value_or(0) +
      ParseTimespan(Get(values, "cmi.core.session_time")).value_or(0);
  values.insert_or_assign(std::string("cmi.core.total_time"),
                          FormatTimespan(total));
  values.insert_or_assign(
      std::string("cmi.core.entry"),
      std::string(Get(values, "cmi.core.exit") == "suspend" ? "resume" : ""));
  std::string status(Get(values, "cmi.core.lesson_status"));
  const std::string_view mode = context.lessonMode;
  if ((status.empty() || status == "not attempted") && mode != "review") {
    status = mode == "browse" ? "browsed" : "completed";
    const auto mastery = ParseDecimal(context.masteryScore);
    const auto raw = ParseDecimal(Get(values, "cmi.core.score.raw"));
    if (context.credit == "credit" && mode == "normal" && mastery && raw)
      status = *raw >= *mastery ? "passed" : "failed";
  }
  if (!status.empty())
    values.insert_or_assign(std::string("cmi.core.lesson_status"), status);
}

// The read-only values that come from the learner and the manifest.
Map Provided(const LaunchContext& context) {
  return {
      {"cmi.core.student_id", context.studentId},
      {"cmi.core.student_name", context.studentName},
      {"cmi.core.credit", context.credit},
      {"cmi.core.lesson_mode", context.lessonMode},
      {"cmi.launch_data", context.launchData},
      {"cmi.student_data.mastery_score", context.masteryScore},
      {"cmi.student_data.max_time_allowed", context.maxTimeAllowed},
      {"cmi.student_data.time_limit_action", context.timeLimitAction},
  };
}

// What a value not yet set reads as.
std::string_view Default(std::string_view element) {
  if (element == "cmi.core.entry") return "ab-initio";
  if (element == "cmi.core.lesson_status") return "not attempted";
  if (element == "cmi.core.total_time") return "0000:00:00";
  return {};
}

}  // namespace

// values: the stored values with this session's.
struct Runtime::Impl : scorm::ValueTable {
  LaunchContext context;
  RuntimeOptions options;
  Map provided;
  // The interactions of an earlier session, kept until this one records its
  // own: interactions are a journal of one session's answers.
  Map earlierInteractions;
  bool interactionsSet = false;

  ApiRecord record{kScorm12Api};
  std::vector<bool> reported;  // a leniency, by row, told once

  void rebuildCounts() { recount(ParseElement); }
};

Runtime::Runtime(LaunchContext context, Values stored, RuntimeOptions options)
    : impl_(std::make_unique<Impl>()) {
  impl_->context = std::move(context);
  impl_->options = options;
  impl_->values = Map(stored.begin(), stored.end());
  if (impl_->values.contains(kSessionKey)) {
    CloseSession(impl_->values, impl_->context);
    unstored_ = true;
  }
  impl_->provided = Provided(impl_->context);
  impl_->reported.assign(DataModelRules().size(), false);
}

Runtime::~Runtime() = default;
Runtime::Runtime(Runtime&&) noexcept = default;
Runtime& Runtime::operator=(Runtime&&) noexcept = default;

void Runtime::succeed() { impl_->record.succeed(); }

void Runtime::fail(int code, std::string_view element, std::string diagnostic) {
  impl_->record.fail(code, element, std::move(diagnostic));
}

std::string Runtime::LMSInitialize(const std::string& parameter) try {
  impl_->record.count(kInitialize);
  if (state_ != State::kNotInitialized) {
    fail(101, "LMSInitialize",
         state_ == State::kRunning
             ? "LMSInitialize was already called in this session"
             : "the session has finished; the next launch starts a new one");
    return "false";
  }
  if (!parameter.empty()) {
    fail(201, "LMSInitialize", "LMSInitialize takes \"\"");
    return "false";
  }
  Impl& impl = *impl_;
  // This session's own write-only values start empty.
  impl.values.erase("cmi.core.exit");
  impl.values.erase("cmi.core.session_time");
  const auto first = impl.values.lower_bound(kInteractions);
  auto last = first;
  while (last != impl.values.end() && last->first.starts_with(kInteractions))
    ++last;
  impl.earlierInteractions = Map(first, last);
  impl.values.erase(first, last);
  for (std::string_view element :
       {"cmi.core.entry", "cmi.core.lesson_status", "cmi.core.total_time"})
    impl.values.try_emplace(std::string(element), Default(element));
  impl.values.insert_or_assign(std::string(kSessionKey), "open");
  impl.rebuildCounts();
  state_ = State::kRunning;
  unstored_ = true;
  succeed();
  return "true";
} catch (...) {
  fail(101, "LMSInitialize", "internal error");
  return "false";
}

void Runtime::close() {
  CloseSession(impl_->values, impl_->context);
  state_ = State::kFinished;
  unstored_ = true;
}

void Runtime::refuse(int code, std::string_view function,
                     std::string diagnostic) {
  fail(code, function, std::move(diagnostic));
}

bool Runtime::outsideSession(std::string_view function,
                             std::string_view element) {
  if (state_ == State::kRunning) return false;
  fail(301, element,
       std::string(function) +
           (state_ == State::kNotInitialized
                ? " before LMSInitialize"
                : " after LMSFinish: the session has ended"));
  return true;
}

std::string Runtime::LMSFinish(const std::string& parameter) try {
  impl_->record.count(kFinish);
  if (outsideSession("LMSFinish", "LMSFinish")) return "false";
  if (!parameter.empty()) {
    fail(201, "LMSFinish", "LMSFinish takes \"\"");
    return "false";
  }
  close();
  succeed();
  return "true";
} catch (...) {
  fail(101, "LMSFinish", "internal error");
  return "false";
}

void Runtime::end() {
  try {
    if (state_ == State::kRunning) close();
  } catch (...) {
    // Nothing to tell: the learner has left; toStore() still has the values.
  }
}

std::string Runtime::LMSCommit(const std::string& parameter) try {
  impl_->record.count(kCommit);
  if (outsideSession("LMSCommit", "LMSCommit")) return "false";
  if (!parameter.empty()) {
    fail(201, "LMSCommit", "LMSCommit takes \"\"");
    return "false";
  }
  succeed();
  return "true";
} catch (...) {
  fail(101, "LMSCommit", "internal error");
  return "false";
}

std::string Runtime::LMSGetValue(const std::string& element) try {
  impl_->record.count(kGetValue);
  return getValue(element);
} catch (...) {
  fail(101, element, "internal error");
  return "";
}

std::string Runtime::LMSSetValue(const std::string& element,
                                 const std::string& value) try {
  impl_->record.count(kSetValue);
  return setValue(element, value);
} catch (...) {
  fail(101, element, "internal error");
  return "false";
}

namespace {

// The faults of an element that are the same for a get and a set; the code
// and the diagnostic, or 0.
std::pair<int, std::string> ElementFault(const std::string& element,
                                         const ParsedElement& parsed,
                                         bool set) {
  using Fault = ParsedElement::Fault;
  if (set && parsed.keyword)
    return {402, element + " is a keyword, which is never set"};
  switch (parsed.fault) {
    case Fault::kNone:
      return {0, {}};
    case Fault::kUnknown:
      if (element.empty()) return {201, "no element named"};
      if (auto hint = Scorm2004Hint(Shortened(element)))
        return {401, std::move(*hint)};
      return {401, Shortened(element) +
                       " is not an element of the SCORM 1.2 data model"};
    case Fault::kBadIndex:
      return {201, Shortened(element) + ": an array index is not a number"};
    case Fault::kNoChildren:
      return {202, Shortened(element) + ": that element has no children"};
    case Fault::kNotAnArray:
      return {203, Shortened(element) + ": that element is not an array"};
  }
  return {401, {}};
}

}  // namespace

std::string Runtime::getValue(const std::string& element) {
  if (outsideSession("LMSGetValue", element)) return "";
  const ParsedElement parsed = ParseElement(element);
  if (auto [code, why] = ElementFault(element, parsed, false); code) {
    fail(code, element, std::move(why));
    return "";
  }
  const ElementRule& rule = *parsed.rule;
  if (rule.access == Access::kWriteOnly) {
    fail(404, element, element + " is write-only");
    return "";
  }
  const Impl& impl = *impl_;
  for (int level = 0; level < parsed.indexCount; ++level) {
    const std::string_view array =
        std::string_view(element).substr(0, parsed.arrayEnd[level]);
    if (parsed.index[level] >= impl.count(array)) {
      fail(201, element,
           element + ": past the " + std::to_string(impl.count(array)) +
               " elements of " + std::string(array));
      return "";
    }
  }
  std::string value;
  switch (rule.type) {
    case DataType::kChildren:
    case DataType::kVersion:
      value = rule.text;
      break;
    case DataType::kCount:
      value = std::to_string(
          impl.count(std::string_view(element).substr(0, element.size() - 7)));
      break;
    default:
      // What the learner and the manifest provide wins over a stored copy.
      if (const auto from = impl.provided.find(element);
          from != impl.provided.end())
        value = from->second;
      else if (const auto it = impl.values.find(element);
               it != impl.values.end())
        value = it->second;
  }
  succeed();
  return value;
}

std::string Runtime::setValue(const std::string& element,
                              const std::string& given) {
  if (outsideSession("LMSSetValue", element)) return "false";
  const ParsedElement parsed = ParseElement(element);
  if (auto [code, why] = ElementFault(element, parsed, true); code) {
    fail(code, element, std::move(why));
    return "false";
  }
  const ElementRule& rule = *parsed.rule;
  if (rule.access == Access::kReadOnly) {
    fail(403, element, element + " is read-only");
    return "false";
  }
  Impl& impl = *impl_;
  for (int level = 0; level < parsed.indexCount; ++level) {
    const std::string_view array =
        std::string_view(element).substr(0, parsed.arrayEnd[level]);
    // An array grows by one, at index _count.
    if (parsed.index[level] > impl.count(array)) {
      fail(201, element,
           element + ": past " + std::string(array) + "._count, which is " +
               std::to_string(impl.count(array)));
      return "false";
    }
  }
  const std::optional<std::string> repaired = RepairUtf8(given);
  const std::string& value = repaired ? *repaired : given;

  std::string_view interactionType;
  std::string typeElement;
  if (rule.type == DataType::kFeedback) {
    // cmi.interactions.N.type, N being the element's first index.
    const std::size_t end =
        element.find('.', parsed.arrayEnd[0] + 1);  // after N
    typeElement = element.substr(0, end) + ".type";
    interactionType = Get(impl.values, typeElement);
  }
  const Verdict verdict = CheckValue(rule, value, interactionType);
  const std::size_t row = &rule - DataModelRules().data();
  if (!verdict.strictOk) {
    if (verdict.lenientOk) {
      const std::string line = element + ": " + verdict.reason;
      impl.record.refusedByStrict.try_emplace(std::string(rule.pattern), line);
      if (!impl.options.strict && !impl.reported[row]) {
        impl.reported[row] = true;
        if (onLeniency) onLeniency(line + "; accepted, as lenient runtimes do");
      }
    }
    if (impl.options.strict || !verdict.lenientOk) {
      fail(405, element,
           element + ": " +
               (impl.options.strict || verdict.lenientReason.empty()
                    ? verdict.reason
                    : verdict.lenientReason));
      return "false";
    }
  }
  if (!impl.fits(element, value, impl.options.maxValueBytes)) {
    fail(101, element,
         element + ": the item's values would pass the " +
             std::to_string(impl.options.maxValueBytes) +
             " bytes this runtime keeps");
    return "false";
  }
  impl.set(element, value, parsed);
  if (element.starts_with(kInteractions)) impl.interactionsSet = true;
  unstored_ = true;
  succeed();
  return "true";
}

std::string Runtime::LMSGetLastError() { return impl_->record.lastError(); }

std::string Runtime::LMSGetErrorString(const std::string& code) {
  return impl_->record.errorString(code);
}

std::string Runtime::LMSGetDiagnostic(const std::string& code) {
  return impl_->record.diagnostic(code);
}

std::string Runtime::call(const std::string& function,
                          const std::vector<std::string>& arguments) {
  static constexpr ApiMembers<Runtime> kMembers{
      &Runtime::LMSInitialize,     &Runtime::LMSFinish,
      &Runtime::LMSGetValue,       &Runtime::LMSSetValue,
      &Runtime::LMSCommit,         &Runtime::LMSGetLastError,
      &Runtime::LMSGetErrorString, &Runtime::LMSGetDiagnostic};
  return CallByName(*this, kMembers, impl_->record, function, arguments);
}

Values Runtime::toStore() const {
  const Impl& impl = *impl_;
  Values stored(impl.values.begin(), impl.values.end());
  if (!impl.interactionsSet)
    stored.insert(impl.earlierInteractions.begin(),
                  impl.earlierInteractions.end());
  return stored;
}

std::string Runtime::conformanceSummary() const {
  return impl_->record.summary();
}

Values NextLaunchValues(const Values& stored, const LaunchContext& context) {
  Map values(stored.begin(), stored.end());
  CloseSession(values, context);
  Values next;
  for (const auto& [element, value] : values) {
    const ParsedElement parsed = ParseElement(element);
    if (parsed.rule && !parsed.keyword) next.emplace(element, value);
  }
  for (const auto& [element, value] : Provided(context))
    next.insert_or_assign(element, value);
  // Every element outside the arrays, as LMSGetValue would give it.
  for (const ElementRule& rule : DataModelRules()) {
    if (rule.access == Access::kWriteOnly ||
        rule.pattern.find(".n.") != std::string_view::npos ||
        rule.type == DataType::kChildren || rule.type == DataType::kCount ||
        rule.type == DataType::kVersion)
      continue;
    next.try_emplace(std::string(rule.pattern), Default(rule.pattern));
  }
  return next;
}

const ApiVersion kScorm12Api = {
    "SCORM 1.2",
    {"LMSInitialize", "LMSFinish", "LMSGetValue", "LMSSetValue", "LMSCommit",
     "LMSGetLastError", "LMSGetErrorString", "LMSGetDiagnostic"},
    ErrorString,
    401,
    301,
    405};

std::string AnswerOutsideSession(const std::string& function,
                                 const std::vector<std::string>& arguments,
                                 const std::string& why) {
  return AnswerOutsideSession(kScorm12Api, function, arguments, why);
}

}  // namespace zept::scorm
