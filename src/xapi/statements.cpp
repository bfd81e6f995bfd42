#include "xapi/statements.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <optional>
#include <random>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>

#include "util/utf8.h"

namespace zept::xapi {

namespace {

constexpr std::string_view kVerbBase = "http://adlnet.gov/expapi/verbs/";
constexpr std::string_view kInteractions = "cmi.interactions.";
constexpr std::string_view kProgress = "cmi.progress_measure";

// Where the two data models keep what the statements report.
struct ModelNames {
  std::string_view scorePrefix;
  std::vector<std::string_view> statuses;  // each reported on its own
  std::string_view exit, sessionTime;
  std::string_view comments;  // 1.2: each set a comment; 2004: an array
  std::string_view response;  // of an interaction
  std::string_view incorrect;
};

const ModelNames& Names(DataModel model) {
  static const ModelNames k12{"cmi.core.score.",
                              {"cmi.core.lesson_status"},
                              "cmi.core.exit",
                              "cmi.core.session_time",
                              "cmi.comments",
                              "student_response",
                              "wrong"};
  static const ModelNames k2004{"cmi.score.",
                                {"cmi.completion_status", "cmi.success_status"},
                                "cmi.exit",
                                "cmi.session_time",
                                "cmi.comments_from_learner.",
                                "learner_response",
                                "incorrect"};
  return model == DataModel::kScorm2004 ? k2004 : k12;
}

// Content's text goes into the statement as it came, but always as valid
// JSON: a bad UTF-8 sequence becomes one U+FFFD.
void AppendJson(std::string& out, std::string_view text) {
  AppendJsonString(out, text);
}

std::string Json(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  AppendJson(out, text);
  return out;
}

// A SCORM decimal ("95", "-1.5", "+.5"), surrounding blanks allowed. Not
// "1e3", "nan" or "inf": what content sends as a score is rarely meant so.
std::optional<double> ParseDecimal(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::size_t digits = 0, dots = 0;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && dots == 0) {
      ++dots;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  double value = 0;
  std::string plain(text);
  if (plain.front() == '.') plain.insert(0, "0");
  if (plain.back() == '.') plain.pop_back();
  const auto [end, ec] =
      std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc() || end != plain.data() + plain.size()) {
    return std::nullopt;  // out of range
  }
  return negative ? -value : value;
}

// The shortest text that reads back as the number; always a JSON number.
std::string Number(double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : "0";
}

// A SCORM 1.2 timespan "HHHH:MM:SS.SS" as an ISO 8601 duration
// ("PT1H2M3.5S"); none for anything else.
std::optional<std::string> Duration(std::string_view span) {
  const std::size_t c1 = span.find(':');
  if (c1 == std::string_view::npos) return std::nullopt;
  const std::size_t c2 = span.find(':', c1 + 1);
  if (c2 == std::string_view::npos) return std::nullopt;
  const std::string_view hours = span.substr(0, c1);
  const std::string_view minutes = span.substr(c1 + 1, c2 - c1 - 1);
  std::string_view seconds = span.substr(c2 + 1);
  std::string_view fraction;
  if (const std::size_t dot = seconds.find('.');
      dot != std::string_view::npos) {
    fraction = seconds.substr(dot + 1);
    seconds = seconds.substr(0, dot);
    if (fraction.empty()) return std::nullopt;
  }
  const auto digits = [](std::string_view part, std::size_t min,
                         std::size_t max) {
    return part.size() >= min && part.size() <= max &&
           std::all_of(part.begin(), part.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(hours, 1, 9) || !digits(minutes, 2, 2) ||
      !digits(seconds, 2, 2) || !digits(fraction, 0, 9)) {
    return std::nullopt;
  }
  const auto integer = [](std::string_view part) {
    while (part.size() > 1 && part.front() == '0') part.remove_prefix(1);
    return std::string(part);
  };
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  std::string out = "PT";
  if (integer(hours) != "0") out += integer(hours) + "H";
  if (integer(minutes) != "0") out += integer(minutes) + "M";
  if (integer(seconds) != "0" || !fraction.empty()) {
    out += integer(seconds);
    if (!fraction.empty()) {
      out += '.';
      out += fraction;
    }
    out += 'S';
  }
  if (out == "PT") out += "0S";
  return out;
}

// result.score from SCORM 1.2's raw, min and max; none without a numeric
// raw. The range is [min, max], SCORM 1.2's 0 and 100 standing in for a
// bound not set; scaled only when raw lies in it. min and max contradicting
// raw or each other would be refused by the LRS: they are dropped, and with
// the range unknown so is scaled.
std::optional<std::string> Score(const std::string& rawText,
                                 const std::string& minText,
                                 const std::string& maxText) {
  const std::optional<double> raw = ParseDecimal(rawText);
  if (!raw) return std::nullopt;
  const std::optional<double> minSet = ParseDecimal(minText);
  const std::optional<double> maxSet = ParseDecimal(maxText);
  bool hasMin = minSet.has_value(), hasMax = maxSet.has_value();
  const double min = minSet.value_or(0), max = maxSet.value_or(100);
  const bool contradict = (hasMin && *raw < min) || (hasMax && *raw > max) ||
                          (hasMin && hasMax && min >= max);
  if (contradict) hasMin = hasMax = false;
  std::string out = "{";
  if (!contradict && max > min && *raw >= min && *raw <= max) {
    out += "\"scaled\":" + Number((*raw - min) / (max - min)) + ",";
  }
  out += "\"raw\":" + Number(*raw);
  if (hasMin) out += ",\"min\":" + Number(min);
  if (hasMax) out += ",\"max\":" + Number(max);
  return out + "}";
}

// result.score from SCORM 2004's values: scaled as given (-1 to 1), raw
// with min and max as given when they agree with it and each other (else
// raw alone, as the LRS would refuse them); none without scaled or raw.
std::optional<std::string> Score2004(const std::string& scaledText,
                                     const std::string& rawText,
                                     const std::string& minText,
                                     const std::string& maxText) {
  const std::optional<double> given = ParseDecimal(scaledText);
  const bool scaled = given && *given >= -1 && *given <= 1;
  const std::optional<double> raw = ParseDecimal(rawText);
  if (!scaled && !raw) return std::nullopt;
  std::vector<std::string> parts;
  if (scaled) parts.push_back("\"scaled\":" + Number(given.value_or(0)));
  if (raw) {
    parts.push_back("\"raw\":" + Number(*raw));
    const std::optional<double> min = ParseDecimal(minText);
    const std::optional<double> max = ParseDecimal(maxText);
    if (!(min && *raw < *min) && !(max && *raw > *max) &&
        !(min && max && *min >= *max)) {
      if (min) parts.push_back("\"min\":" + Number(*min));
      if (max) parts.push_back("\"max\":" + Number(*max));
    }
  }
  std::string out = "{";
  for (std::size_t i = 0; i < parts.size(); ++i)
    out += (i ? "," : "") + parts[i];
  return out + "}";
}

// A SCORM 2004 time interval is already an ISO 8601 duration; it is kept
// when it has that form ("P1DT2H3.5S", at least one part), else none.
std::optional<std::string> Duration2004(std::string_view span) {
  if (span.size() < 3 || span.front() != 'P') return std::nullopt;
  bool time = false, any = false, fraction = false;
  std::string_view units = "YMD";
  std::size_t digits = 0;
  for (std::size_t i = 1; i < span.size(); ++i) {
    const char c = span[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == 'T' && !time && digits == 0) {
      time = true;
      units = "HMS";
    } else if (c == '.' && time && digits > 0 && !fraction) {
      fraction = true;
      digits = 0;
    } else {
      const std::size_t at = units.find(c);
      if (at == std::string_view::npos || digits == 0) return std::nullopt;
      if (fraction && c != 'S') return std::nullopt;
      units.remove_prefix(at + 1);
      digits = 0;
      any = true;
    }
  }
  if (!any || digits != 0 || span.back() == 'T') return std::nullopt;
  return std::string(span);
}

// Localized text of SCORM 2004 ("{lang=fr}Bonjour") without its tag.
std::string_view WithoutLanguage(std::string_view text) {
  if (text.starts_with("{lang=")) {
    const std::size_t close = text.find('}');
    if (close != std::string_view::npos) text.remove_prefix(close + 1);
  }
  return text;
}

std::string Verb(std::string_view name) {
  std::string out = "{\"id\":";
  AppendJson(out, std::string(kVerbBase) + std::string(name));
  out += ",\"display\":{\"en-US\":";
  AppendJson(out, name);
  return out + "}}";
}

std::string ActivityJson(const Activity& activity, std::string_view type) {
  std::string out = "{\"id\":";
  AppendJson(out, activity.id);
  out += ",\"definition\":{";
  if (!activity.name.empty()) {
    out += "\"name\":{\"en-US\":";
    AppendJson(out, activity.name);
    out += "},";
  }
  out += "\"type\":";
  AppendJson(out, type);
  return out + "}}";
}

bool IsUuid(std::string_view text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                 (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> Split(std::string_view text, char at) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t to = text.find(at, from);
    parts.emplace_back(text.substr(from, to - from));
    if (to == std::string_view::npos) return parts;
    from = to + 1;
  }
}

std::string Join(const std::vector<std::string>& parts, std::string_view with) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += with;
    out += parts[i];
  }
  return out;
}

// The SCORM interaction types (2004 adds long-fill-in and other): their
// xAPI interactionType has the same name.
bool KnownType(std::string_view type) {
  static constexpr std::string_view kTypes[] = {
      "true-false",  "choice",     "fill-in", "long-fill-in", "matching",
      "performance", "sequencing", "likert",  "numeric",      "other"};
  return std::find(std::begin(kTypes), std::end(kTypes), type) !=
         std::end(kTypes);
}

// A SCORM 1.2 response or correct response pattern in xAPI's format for
// the type. Text already in xAPI's form ("a[,]b") is kept.
std::string XapiResponse(std::string_view type, std::string text, bool pattern,
                         DataModel model) {
  // xAPI took its response formats from SCORM 2004's: "a[,]b", "a[.]1",
  // "1[:]5", "{case_matters=true}...".
  if (model == DataModel::kScorm2004) return text;
  if (text.find("[,]") != std::string::npos ||
      text.find("[.]") != std::string::npos ||
      text.find("[:]") != std::string::npos) {
    return text;
  }
  if (type == "true-false") {
    if (text == "t" || text == "1" || text == "true") return "true";
    if (text == "f" || text == "0" || text == "false") return "false";
    return text;
  }
  if (type == "numeric") return pattern ? text + "[:]" + text : text;
  if (type != "choice" && type != "sequencing" && type != "matching") {
    return text;
  }
  // A set may come in braces: "{a,b}".
  if (text.size() >= 2 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, text.size() - 2);
  }
  std::vector<std::string> items = Split(text, ',');
  if (type == "matching") {
    for (std::string& item : items) {
      if (const std::size_t dot = item.find('.'); dot != std::string::npos) {
        item.replace(dot, 1, "[.]");
      }
    }
  }
  return Join(items, "[,]");
}

}  // namespace

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
        c == '~') {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string CourseIri(const std::string& activityBase,
                      const std::string& identifier, unsigned place) {
  std::string iri = activityBase + PercentEncode(identifier);
  if (place > 1) iri += ";" + std::to_string(place);
  return iri;
}

std::string ItemIri(const std::string& courseIri,
                    const std::string& identifier) {
  return courseIri + "/" + PercentEncode(identifier);
}

std::string NewUuid() {
  // Seeded once per thread from the system's entropy, with the time and
  // the thread mixed in should random_device be weak.
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    const auto ticks = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    const auto thread = static_cast<std::uint64_t>(
        std::hash<std::thread::id>{}(std::this_thread::get_id()));
    std::seed_seq seeds{device(),
                        device(),
                        device(),
                        device(),
                        device(),
                        device(),
                        static_cast<unsigned>(ticks),
                        static_cast<unsigned>(ticks >> 32),
                        static_cast<unsigned>(thread),
                        static_cast<unsigned>(thread >> 32)};
    return std::mt19937_64(seeds);
  }();
  std::uint64_t high = engine(), low = engine();
  high = (high & ~std::uint64_t{0xF000}) | 0x4000;  // version 4
  low = (low & ~(std::uint64_t{3} << 62)) | (std::uint64_t{2} << 62);
  char text[37];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx",
                static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF),
                static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48),
                static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
  return text;
}

std::string UtcTimestamp() {
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(system_clock::now());
  // Sets come in bursts within one millisecond: written once for them all.
  thread_local milliseconds lastAt{-1};
  thread_local std::string last;
  if (now.time_since_epoch() == lastAt) return last;
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  char text[32];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
      static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
      static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
      static_cast<int>(time.minutes().count()),
      static_cast<int>(time.seconds().count()),
      static_cast<int>(time.subseconds().count()));
  lastAt = now.time_since_epoch();
  last = text;
  return last;
}

struct SessionStatements::Impl {
  SessionContext context;
  const ModelNames* names = nullptr;
  std::function<std::string()> newId;
  std::function<std::string()> now;

  bool is2004() const { return context.model == DataModel::kScorm2004; }

  // What waits for the next store point: the set that last changed it
  // (its order and time).
  struct Change {
    std::uint64_t seq = 0;
    std::string at;
  };
  std::uint64_t seq = 0;
  std::optional<Change> score;
  std::optional<Change> progress;          // SCORM 2004
  std::map<std::string, Change> statuses;  // by element
  std::map<std::uint32_t, Change> interactions;
  // SCORM 1.2: every set of cmi.comments is a comment.
  struct Comment {
    Change change;
    std::string text;
  };
  std::vector<Comment> comments;
  // SCORM 2004: cmi.comments_from_learner.N, reported when its text changed.
  std::map<std::uint32_t, Change> learnerComments;

  // The last value set of the elements statements come from.
  ElementValues set;
  // What was reported at the last store point.
  std::string reportedScore;
  std::string reportedProgress;
  std::map<std::string, std::string> reportedStatus;
  // Each status as last known stored, from the launch on: what the runtime
  // decided is told by a change of it.
  std::map<std::string, std::string> storedStatus;
  // An answer: the interaction's id, response and result.
  using Answer = std::tuple<std::string, std::string, std::string>;
  std::map<std::uint32_t, Answer> reportedInteractions;
  std::map<std::uint32_t, std::string> reportedComments;

  std::vector<Statement> captured;
  bool ended = false;

  Change next() { return Change{++seq, now()}; }

  // An element's value at a store point: as it will be stored, else as
  // last set.
  std::string value(const ElementValues& values,
                    const std::string& name) const {
    if (const auto it = values.find(name); it != values.end()) {
      return it->second;
    }
    if (const auto it = set.find(name); it != set.end()) return it->second;
    return {};
  }

  // The elements under prefix, by name.
  ElementValues under(const ElementValues& values, const std::string& prefix) {
    ElementValues out;
    for (const ElementValues* from :
         std::initializer_list<const ElementValues*>{&set, &values}) {
      for (auto it = from->lower_bound(prefix);
           it != from->end() &&
           it->first.compare(0, prefix.size(), prefix) == 0;
           ++it) {
        out[it->first.substr(prefix.size())] = it->second;
      }
    }
    return out;
  }

  std::string contextJson(const std::optional<Activity>& parent) const {
    std::string out = "{";
    if (IsUuid(context.registration)) {
      out += "\"registration\":";
      AppendJson(out, context.registration);
      out += ',';
    }
    out += "\"contextActivities\":{";
    if (parent) {
      out +=
          "\"parent\":[" +
          ActivityJson(*parent, "http://adlnet.gov/expapi/activities/lesson") +
          "],";
    }
    out += "\"grouping\":[" +
           ActivityJson(context.course,
                        "http://adlnet.gov/expapi/activities/course");
    if (!context.attempt.empty()) {
      out += ',' + ActivityJson(Activity{context.item.id + "?attemptId=" +
                                             PercentEncode(context.attempt),
                                         ""},
                                "http://adlnet.gov/expapi/activities/attempt");
    }
    out +=
        "],\"category\":[{\"id\":\"https://w3id.org/xapi/scorm\","
        "\"definition\":{\"type\":"
        "\"http://adlnet.gov/expapi/activities/profile\"}}]},"
        "\"platform\":\"zept\"}";
    return out;
  }

  void capture(std::string_view verb, const std::string& at,
               const std::string& object, const std::string& result,
               bool inItem = false) {
    Statement statement;
    statement.id = newId();
    std::string& out = statement.json;
    out = "{\"id\":";
    AppendJson(out, statement.id);
    out += ",\"timestamp\":";
    AppendJson(out, at);
    out += ",\"actor\":{\"objectType\":\"Agent\",\"name\":";
    AppendJson(out, context.login);
    out += ",\"account\":{\"homePage\":";
    AppendJson(out, context.homePage);
    out += ",\"name\":";
    AppendJson(out, context.login);
    out += "}},\"verb\":" + Verb(verb) + ",\"object\":" + object;
    if (!result.empty()) out += ",\"result\":" + result;
    out += ",\"context\":" +
           contextJson(inItem ? std::optional<Activity>(context.item)
                              : std::nullopt) +
           "}";
    captured.push_back(std::move(statement));
  }

  std::string itemJson() const {
    return ActivityJson(context.item,
                        "http://adlnet.gov/expapi/activities/lesson");
  }

  std::string scoreJson(const ElementValues& values) {
    const std::string prefix(names->scorePrefix);
    const std::string raw = value(values, prefix + "raw");
    const std::string min = value(values, prefix + "min");
    const std::string max = value(values, prefix + "max");
    if (is2004())
      return Score2004(value(values, prefix + "scaled"), raw, min, max)
          .value_or("");
    return Score(raw, min, max).value_or("");
  }

  void captureScore(const ElementValues& values, const Change& change) {
    const std::string score = scoreJson(values);
    if (score == reportedScore) return;
    reportedScore = score;
    if (!score.empty()) {
      capture("scored", change.at, itemJson(), "{\"score\":" + score + "}");
    }
  }

  // change: the set that last changed the status; none when the runtime
  // decided it (a finish without status, a passing score), reported now.
  void captureStatus(const ElementValues& values, const std::string& element,
                     const Change* change) {
    const std::string status = value(values, element);
    std::string& reported = reportedStatus[element];
    std::string& stored = storedStatus[element];
    // What the SCO set is told once per session and value, as it set it;
    // what it did not set, when the store holds another value than before.
    if (change ? status == reported : status.empty() || status == stored)
      return;
    reported = stored = status;
    if (status != "completed" && status != "passed" && status != "failed")
      return;
    const std::string at = change ? change->at : now();
    // Reports read the outcome off the statement itself. SCORM 2004's
    // success says nothing of completion.
    if (status == "completed") {
      capture(status, at, itemJson(), "{\"completion\":true}");
    } else {
      const std::string success =
          status == "passed" ? "\"success\":true" : "\"success\":false";
      capture(status, at, itemJson(),
              "{" + success + (is2004() ? "" : ",\"completion\":true") + "}");
    }
  }

  // result of progressed: SCORM 2004's progress measure (0 to 1) as the
  // profile's scaled score and as a percentage in the progress extension.
  static std::string ProgressJson(const std::string& text) {
    const std::optional<double> measure = ParseDecimal(text);
    if (!measure || *measure < 0 || *measure > 1) return "";
    return "{\"score\":{\"scaled\":" + Number(*measure) +
           "},\"extensions\":{\"https://w3id.org/xapi/cmi5/result/extensions/"
           "progress\":" +
           std::to_string(static_cast<int>(*measure * 100 + 0.5)) + "}}";
  }

  void captureProgress(const ElementValues& values, const Change& change) {
    const std::string result =
        ProgressJson(value(values, std::string(kProgress)));
    if (result == reportedProgress) return;
    reportedProgress = result;
    if (!result.empty()) capture("progressed", change.at, itemJson(), result);
  }

  void captureComment(const ElementValues& values, std::uint32_t n,
                      const Change& change) {
    const std::string text = value(
        values, std::string(names->comments) + std::to_string(n) + ".comment");
    std::string& reported = reportedComments[n];
    if (text == reported) return;
    reported = text;
    const std::string_view said = WithoutLanguage(text);
    if (!said.empty())
      capture("commented", change.at, itemJson(),
              "{\"response\":" + Json(said) + "}");
  }

  void captureInteraction(const ElementValues& values, std::uint32_t n,
                          const Change& change) {
    ElementValues fields =
        under(values, std::string(kInteractions) + std::to_string(n) + ".");
    // One statement per answer: a response, then each change of it or of
    // its result; the other fields go with it as they are then.
    const std::string& id = fields["id"];
    const std::string& response = fields[std::string(names->response)];
    if (id.empty() || response.empty()) return;
    Answer answer{id, response, fields["result"]};
    const auto reported = reportedInteractions.find(n);
    if (reported != reportedInteractions.end() && reported->second == answer)
      return;
    reportedInteractions[n] = std::move(answer);

    // The profile asks for a type: one content did not give is "other".
    const std::string type =
        KnownType(fields["type"]) ? fields["type"] : "other";
    std::string object = "{\"id\":";
    AppendJson(object, context.item.id + "/interactions/" + PercentEncode(id));
    object += ",\"definition\":{\"name\":{\"en-US\":";
    AppendJson(object, id);
    object += "}";
    if (const std::string_view description =
            WithoutLanguage(fields["description"]);
        !description.empty()) {
      object += ",\"description\":{\"en-US\":";
      AppendJson(object, description);
      object += "}";
    }
    object +=
        ",\"type\":\"http://adlnet.gov/expapi/activities/cmi.interaction\"";
    {
      object += ",\"interactionType\":";
      AppendJson(object, type);
      // correct_responses.N.pattern, in the order of N.
      std::map<std::uint32_t, std::string> patterns;
      for (const auto& [name, text] : fields) {
        constexpr std::string_view kPrefix = "correct_responses.";
        constexpr std::string_view kSuffix = ".pattern";
        if (name.size() <= kPrefix.size() + kSuffix.size() ||
            name.compare(0, kPrefix.size(), kPrefix) != 0 ||
            name.compare(name.size() - kSuffix.size(), kSuffix.size(),
                         kSuffix) != 0) {
          continue;
        }
        const std::string_view index(
            name.data() + kPrefix.size(),
            name.size() - kPrefix.size() - kSuffix.size());
        std::uint32_t k = 0;
        const auto [end, ec] =
            std::from_chars(index.data(), index.data() + index.size(), k);
        if (ec == std::errc() && end == index.data() + index.size()) {
          patterns[k] = XapiResponse(type, text, true, context.model);
        }
      }
      if (!patterns.empty()) {
        object += ",\"correctResponsesPattern\":[";
        bool first = true;
        for (const auto& [k, pattern] : patterns) {
          if (!first) object += ',';
          first = false;
          AppendJson(object, pattern);
        }
        object += ']';
      }
    }
    object += "}}";

    std::vector<std::string> result;
    result.push_back("\"response\":" +
                     Json(XapiResponse(type, response, false, context.model)));
    if (fields["result"] == "correct") result.push_back("\"success\":true");
    if (fields["result"] == names->incorrect)
      result.push_back("\"success\":false");
    const std::string& latency = fields["latency"];
    if (const auto duration =
            is2004() ? Duration2004(latency) : Duration(latency)) {
      result.push_back("\"duration\":" + Json(*duration));
    }
    capture("responded", change.at, object,
            result.empty() ? "" : "{" + Join(result, ",") + "}", true);
  }

  // A store point: what changed since the last one, in the order of the
  // sets that changed it.
  void storePoint(const ElementValues& values) {
    enum Kind {
      kScore,
      kProgress,
      kStatus,
      kInteraction,
      kComment,
      kLearnerComment
    };
    struct Pending {
      std::uint64_t seq;
      Kind kind;
      std::size_t index;
      std::string_view element;
    };
    std::vector<Pending> pending;
    if (score) pending.push_back({score->seq, kScore, 0, {}});
    if (progress) pending.push_back({progress->seq, kProgress, 0, {}});
    // A status no set changed may have been decided by the runtime: it is
    // reported after what was set.
    for (const std::string_view element : names->statuses) {
      const auto it = statuses.find(std::string(element));
      pending.push_back({it == statuses.end() ? UINT64_MAX : it->second.seq,
                         kStatus, 0, element});
    }
    for (const auto& [n, change] : interactions) {
      pending.push_back({change.seq, kInteraction, n, {}});
    }
    for (std::size_t i = 0; i < comments.size(); ++i) {
      pending.push_back({comments[i].change.seq, kComment, i, {}});
    }
    for (const auto& [n, change] : learnerComments) {
      pending.push_back({change.seq, kLearnerComment, n, {}});
    }
    std::stable_sort(
        pending.begin(), pending.end(),
        [](const Pending& a, const Pending& b) { return a.seq < b.seq; });
    for (const Pending& p : pending) {
      const auto n = static_cast<std::uint32_t>(p.index);
      switch (p.kind) {
        case kScore:
          captureScore(values, *score);
          break;
        case kProgress:
          captureProgress(values, *progress);
          break;
        case kStatus: {
          const auto it = statuses.find(std::string(p.element));
          captureStatus(values, std::string(p.element),
                        it == statuses.end() ? nullptr : &it->second);
          break;
        }
        case kInteraction:
          captureInteraction(values, n, interactions[n]);
          break;
        case kComment:
          capture("commented", comments[p.index].change.at, itemJson(),
                  "{\"response\":" + Json(comments[p.index].text) + "}");
          break;
        case kLearnerComment:
          captureComment(values, n, learnerComments[n]);
          break;
      }
    }
    score.reset();
    progress.reset();
    statuses.clear();
    interactions.clear();
    comments.clear();
    learnerComments.clear();
  }

  // N of prefix + "N." + rest.
  static std::optional<std::uint32_t> Index(const std::string& element,
                                            std::string_view prefix) {
    if (element.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const char* begin = element.data() + prefix.size();
    const char* end = element.data() + element.size();
    std::uint32_t n = 0;
    const auto [at, ec] = std::from_chars(begin, end, n);
    if (ec == std::errc() && at != begin && at != end && *at == '.') return n;
    return std::nullopt;
  }

  void valueSet(const std::string& element, const std::string& value) {
    if (!is2004() && element == names->comments) {
      if (!value.empty()) comments.push_back({next(), value});
      return;
    }
    const bool isScore =
        element.compare(0, names->scorePrefix.size(), names->scorePrefix) == 0;
    const bool isStatus =
        std::find(names->statuses.begin(), names->statuses.end(), element) !=
        names->statuses.end();
    const bool isProgress = is2004() && element == kProgress;
    const std::optional<std::uint32_t> interaction =
        Index(element, kInteractions);
    std::optional<std::uint32_t> comment;
    if (is2004() && element.ends_with(".comment"))
      comment = Index(element, names->comments);
    if (!isScore && !isStatus && !isProgress && !interaction && !comment)
      return;
    std::string& last = set[element];
    if (last == value) return;
    last = value;
    if (isScore) score = next();
    if (isStatus) statuses[element] = next();
    if (isProgress) progress = next();
    if (interaction) interactions[*interaction] = next();
    if (comment) learnerComments[*comment] = next();
  }

  void terminated(const ElementValues& values) {
    storePoint(values);
    std::vector<std::string> result;
    if (const std::string score = scoreJson(values); !score.empty()) {
      result.push_back("\"score\":" + score);
    }
    if (is2004()) {
      const std::string success = value(values, "cmi.success_status");
      if (success == "passed") result.push_back("\"success\":true");
      if (success == "failed") result.push_back("\"success\":false");
      const std::string completion = value(values, "cmi.completion_status");
      if (completion == "completed") {
        result.push_back("\"completion\":true");
      } else if (completion == "incomplete" || completion == "not attempted") {
        result.push_back("\"completion\":false");
      }
    } else {
      const std::string status =
          value(values, std::string(names->statuses.front()));
      if (status == "passed") result.push_back("\"success\":true");
      if (status == "failed") result.push_back("\"success\":false");
      if (status == "completed" || status == "passed" || status == "failed") {
        result.push_back("\"completion\":true");
      } else if (status == "incomplete") {
        result.push_back("\"completion\":false");
      }
    }
    const std::string span = value(values, std::string(names->sessionTime));
    if (const auto duration = is2004() ? Duration2004(span) : Duration(span)) {
      result.push_back("\"duration\":" + Json(*duration));
    }
    // A 2004 attempt the learner will resume was suspended, whatever ended
    // the session (leaving zept suspends all).
    const bool suspended =
        value(values, std::string(names->exit)) == "suspend" ||
        (is2004() && value(values, "cmi.entry") == "resume");
    capture(suspended ? "suspended" : "terminated", now(), itemJson(),
            result.empty() ? "" : "{" + Join(result, ",") + "}");
  }
};

SessionStatements::SessionStatements(SessionContext context,
                                     std::function<std::string()> newId,
                                     std::function<std::string()> now)
    : impl_(std::make_shared<Impl>()) {
  impl_->context = std::move(context);
  impl_->names = &Names(impl_->context.model);
  impl_->newId = newId ? std::move(newId) : NewUuid;
  impl_->now = now ? std::move(now) : UtcTimestamp;
  Impl& impl = *impl_;
  for (const std::string_view element : impl.names->statuses) {
    if (const auto it = impl.context.atLaunch.find(std::string(element));
        it != impl.context.atLaunch.end())
      impl.storedStatus[it->first] = it->second;
  }
  if (impl.is2004()) {
    if (const auto it = impl.context.atLaunch.find(std::string(kProgress));
        it != impl.context.atLaunch.end())
      impl.reportedProgress = Impl::ProgressJson(it->second);
  }
  impl.context.atLaunch.clear();
}

void SessionStatements::initialized(const std::string& entry) {
  impl_->ended = false;
  impl_->capture(entry == "resume" ? "resumed" : "initialized", impl_->now(),
                 impl_->itemJson(), "");
}

void SessionStatements::valueSet(const std::string& element,
                                 const std::string& value) {
  if (!impl_->ended) impl_->valueSet(element, value);
}

void SessionStatements::storing(const ElementValues& values) {
  if (!impl_->ended) impl_->storePoint(values);
}

void SessionStatements::terminated(const ElementValues& values) {
  if (impl_->ended) return;
  impl_->terminated(values);
  impl_->ended = true;
}

std::vector<Statement> SessionStatements::take() {
  std::vector<Statement> out;
  out.swap(impl_->captured);
  return out;
}

}  // namespace zept::xapi
