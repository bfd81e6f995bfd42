#include "scorm/datamodel.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "scorm/element_tree.h"
#include "scorm/scan.h"
#include "util/utf8.h"

namespace zept::scorm {
namespace {

constexpr std::string_view kSetStatus[] = {"passed", "completed", "failed",
                                           "incomplete", "browsed"};
// Objectives may be set back to "not attempted"; the lesson's status may not.
constexpr std::string_view kStatus[] = {
    "passed", "completed", "failed", "incomplete", "browsed", "not attempted"};
constexpr std::string_view kExit[] = {"time-out", "suspend", "logout", ""};
constexpr std::string_view kEntry[] = {"ab-initio", "resume", ""};
constexpr std::string_view kCredit[] = {"credit", "no-credit"};
constexpr std::string_view kMode[] = {"browse", "normal", "review"};
constexpr std::string_view kTimeLimitAction[] = {
    "exit,message", "exit,no message", "continue,message",
    "continue,no message"};
constexpr std::string_view kInteractionType[] = {
    "true-false",  "choice",     "fill-in", "matching",
    "performance", "sequencing", "likert",  "numeric"};
constexpr std::string_view kResult[] = {"correct", "wrong", "unanticipated",
                                        "neutral"};

constexpr auto RO = Access::kReadOnly;
constexpr auto WO = Access::kWriteOnly;
constexpr auto RW = Access::kReadWrite;
constexpr std::uint32_t k255 = 255, k4096 = 4096, k64000 = 64000;
// Timestamps are short; the lenient limit leaves room for long fractions.
constexpr std::uint32_t kTimeLength = 64;

// Scores are CMIDecimal or CMIBlank from 0 to 100.
constexpr ElementRule Score(std::string_view pattern) {
  return {pattern, RW, DataType::kDecimal, k255, k255, {}, true, 0, 100};
}
constexpr ElementRule Keyword(std::string_view pattern, DataType type,
                              std::string_view text = {}) {
  return {pattern, RO, type, 0, 0, {}, false, 0, 0, text};
}
constexpr ElementRule Vocabulary(std::string_view pattern, Access access,
                                 std::span<const std::string_view> words) {
  return {pattern, access, DataType::kVocabulary, k255, k255, words};
}

// The lenient column widens only what real content is known to exceed:
// suspend_data, comments, lesson_location and the interactions' responses.
constexpr ElementRule kRules[] = {
    Keyword("cmi._version", DataType::kVersion, "3.4"),
    Keyword("cmi.core._children", DataType::kChildren,
            "student_id,student_name,lesson_location,credit,lesson_status,"
            "entry,score,total_time,lesson_mode,exit,session_time"),
    {"cmi.core.student_id", RO, DataType::kIdentifier, k255, k255},
    {"cmi.core.student_name", RO, DataType::kString, k255, k255},
    {"cmi.core.lesson_location", RW, DataType::kString, k255, k4096},
    Vocabulary("cmi.core.credit", RO, kCredit),
    Vocabulary("cmi.core.lesson_status", RW, kSetStatus),
    Vocabulary("cmi.core.entry", RO, kEntry),
    Keyword("cmi.core.score._children", DataType::kChildren, "raw,min,max"),
    Score("cmi.core.score.raw"),
    Score("cmi.core.score.min"),
    Score("cmi.core.score.max"),
    {"cmi.core.total_time", RO, DataType::kTimespan, kTimeLength, kTimeLength},
    Vocabulary("cmi.core.lesson_mode", RO, kMode),
    Vocabulary("cmi.core.exit", WO, kExit),
    {"cmi.core.session_time", WO, DataType::kTimespan, kTimeLength,
     kTimeLength},
    {"cmi.suspend_data", RW, DataType::kString, k4096, k64000},
    {"cmi.launch_data", RO, DataType::kString, k4096, k4096},
    {"cmi.comments", RW, DataType::kString, k4096, k64000},
    {"cmi.comments_from_lms", RO, DataType::kString, k4096, k4096},
    Keyword("cmi.objectives._children", DataType::kChildren, "id,score,status"),
    Keyword("cmi.objectives._count", DataType::kCount),
    {"cmi.objectives.n.id", RW, DataType::kIdentifier, k255, k255},
    Keyword("cmi.objectives.n.score._children", DataType::kChildren,
            "raw,min,max"),
    Score("cmi.objectives.n.score.raw"),
    Score("cmi.objectives.n.score.min"),
    Score("cmi.objectives.n.score.max"),
    Vocabulary("cmi.objectives.n.status", RW, kStatus),
    Keyword("cmi.student_data._children", DataType::kChildren,
            "mastery_score,max_time_allowed,time_limit_action"),
    {"cmi.student_data.mastery_score",
     RO,
     DataType::kDecimal,
     k255,
     k255,
     {},
     false,
     0,
     100},
    {"cmi.student_data.max_time_allowed", RO, DataType::kTimespan, kTimeLength,
     kTimeLength},
    Vocabulary("cmi.student_data.time_limit_action", RO, kTimeLimitAction),
    Keyword("cmi.student_preference._children", DataType::kChildren,
            "audio,language,speed,text"),
    {"cmi.student_preference.audio",
     RW,
     DataType::kSInteger,
     k255,
     k255,
     {},
     false,
     -1,
     100},
    {"cmi.student_preference.language", RW, DataType::kString, k255, k255},
    {"cmi.student_preference.speed",
     RW,
     DataType::kSInteger,
     k255,
     k255,
     {},
     false,
     -100,
     100},
    {"cmi.student_preference.text",
     RW,
     DataType::kSInteger,
     k255,
     k255,
     {},
     false,
     -1,
     1},
    Keyword("cmi.interactions._children", DataType::kChildren,
            "id,objectives,time,type,correct_responses,weighting,"
            "student_response,result,latency"),
    Keyword("cmi.interactions._count", DataType::kCount),
    {"cmi.interactions.n.id", WO, DataType::kIdentifier, k255, k255},
    Keyword("cmi.interactions.n.objectives._count", DataType::kCount),
    {"cmi.interactions.n.objectives.n.id", WO, DataType::kIdentifier, k255,
     k255},
    {"cmi.interactions.n.time", WO, DataType::kTime, kTimeLength, kTimeLength},
    Vocabulary("cmi.interactions.n.type", WO, kInteractionType),
    Keyword("cmi.interactions.n.correct_responses._count", DataType::kCount),
    {"cmi.interactions.n.correct_responses.n.pattern", WO, DataType::kFeedback,
     k255, k4096},
    {"cmi.interactions.n.weighting", WO, DataType::kDecimal, k255, k255},
    {"cmi.interactions.n.student_response", WO, DataType::kFeedback, k255,
     k4096},
    {"cmi.interactions.n.result", WO, DataType::kResult, k255, k255, kResult},
    {"cmi.interactions.n.latency", WO, DataType::kTimespan, kTimeLength,
     kTimeLength},
};

using Node = scorm::ElementNode<ElementRule>;

const std::vector<Node>& Tree() {
  static const std::vector<Node> tree =
      scorm::BuildElementTree<ElementRule>(kRules);
  return tree;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits of a fixed count at the front of text, advanced past them.
std::optional<int> TakeDigits(std::string_view& text, std::size_t fewest,
                              std::size_t most) {
  const std::size_t n = DigitsAtFront(text, most);
  if (n < fewest) return std::nullopt;
  return static_cast<int>(TakeDigitRun(text, n));
}

// [H]H[HH]:MM:SS[.S[S]] in hundredths. Strict: two to maxHours hour digits
// and at most two decimals; lenient: one hour digit and any decimals.
std::optional<std::int64_t> ParseClock(std::string_view text,
                                       std::size_t maxHours, int hourLimit,
                                       bool strict) {
  const auto hours = TakeDigits(text, strict ? 2 : 1, maxHours);
  if (!hours || *hours >= hourLimit || !Take(text, ':')) return std::nullopt;
  const auto minutes = TakeDigits(text, 2, 2);
  if (!minutes || *minutes > 59 || !Take(text, ':')) return std::nullopt;
  const auto seconds = TakeDigits(text, 2, 2);
  if (!seconds || *seconds > 59) return std::nullopt;
  int hundredths = 0;
  if (Take(text, '.')) {
    if (text.empty() || (strict && text.size() > 2) || !AllDigits(text))
      return std::nullopt;
    hundredths = (text[0] - '0') * 10 + (text.size() > 1 ? text[1] - '0' : 0);
    text = {};
  }
  if (!text.empty()) return std::nullopt;
  return ((static_cast<std::int64_t>(*hours) * 60 + *minutes) * 60 + *seconds) *
             100 +
         hundredths;
}

bool IsDecimal(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  bool digits = false, point = false;
  for (char c : text) {
    if (IsDigit(c)) {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

bool IsShortIdentifier(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z'); }

// Comma-separated items, each checked by item; braces around allowed.
template <typename Item>
bool IsList(std::string_view text, bool braces, Item item) {
  if (braces && text.size() >= 2 && text.front() == '{' && text.back() == '}')
    text = text.substr(1, text.size() - 2);
  if (text.empty()) return false;
  while (true) {
    const std::size_t comma = text.find(',');
    if (!item(text.substr(0, comma))) return false;
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

bool IsSingle(std::string_view s) {
  return s.size() == 1 && IsShortIdentifier(s[0]);
}

// The response formats of the interaction types.
bool IsFeedback(std::string_view text, std::string_view type) {
  if (type == "true-false")
    return text == "0" || text == "1" || text == "t" || text == "f";
  if (type == "choice" || type == "sequencing")
    return IsList(text, type == "choice", IsSingle);
  if (type == "numeric") return IsDecimal(text);
  if (type == "likert") return text.empty() || IsSingle(text);
  if (type == "matching")
    return IsList(text, true, [](std::string_view pair) {
      return pair.size() == 3 && IsShortIdentifier(pair[0]) && pair[1] == '.' &&
             IsShortIdentifier(pair[2]);
    });
  return true;  // fill-in, performance, or no type set yet
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsIdentifier(std::string_view text, bool strict) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (IsControl(c) || (strict && c == ' ')) return false;
  return true;
}

bool InWords(std::span<const std::string_view> words, std::string_view text) {
  for (std::string_view word : words)
    if (word == text) return true;
  return false;
}

bool InRange(const ElementRule& rule, std::string_view text) {
  const auto value = ParseDecimal(text);
  return value && *value >= rule.min && *value <= rule.max;
}

bool FormatOk(const ElementRule& rule, std::string_view value, bool strict,
              std::string_view interactionType) {
  switch (rule.type) {
    case DataType::kString:
      return true;
    case DataType::kIdentifier:
      return IsIdentifier(value, strict);
    case DataType::kDecimal:
      return (rule.blank && value.empty()) ||
             (IsDecimal(value) && InRange(rule, value));
    case DataType::kSInteger: {
      std::string_view digits = value;
      if (!digits.empty() && digits.front() == '-') digits.remove_prefix(1);
      return AllDigits(digits) && InRange(rule, value);
    }
    case DataType::kTimespan:
      return ParseClock(value, 4, 10000, strict).has_value();
    case DataType::kTime:
      return ParseClock(value, 2, 24, strict).has_value();
    case DataType::kFeedback:
      return !strict || IsFeedback(value, interactionType);
    case DataType::kVocabulary:
      return InWords(rule.words, value);
    case DataType::kResult:
      return InWords(rule.words, value) || IsDecimal(value);
    case DataType::kChildren:
    case DataType::kCount:
    case DataType::kVersion:
      return false;
  }
  return false;
}

std::string FormatReason(const ElementRule& rule,
                         std::string_view interactionType) {
  switch (rule.type) {
    case DataType::kIdentifier:
      return "not a CMIIdentifier (one or more characters, no blanks)";
    case DataType::kDecimal:
      if (std::isfinite(rule.min))
        return "not a CMIDecimal from " + std::to_string(int(rule.min)) +
               " to " + std::to_string(int(rule.max)) +
               (rule.blank ? " or blank" : "");
      return "not a CMIDecimal";
    case DataType::kSInteger:
      return "not a CMISInteger from " + std::to_string(int(rule.min)) +
             " to " + std::to_string(int(rule.max));
    case DataType::kTimespan:
      return "not a CMITimespan (HHHH:MM:SS.SS)";
    case DataType::kTime:
      return "not a CMITime (HH:MM:SS.SS)";
    case DataType::kFeedback:
      return "not a response of a " + std::string(interactionType) +
             " interaction";
    case DataType::kVocabulary:
      return "not one of " + Joined(rule.words);
    case DataType::kResult:
      return "not one of " + Joined(rule.words) + " or a CMIDecimal";
    default:
      return "not a value of this element";
  }
}

std::string TypeName(const ElementRule& rule) {
  if (rule.type == DataType::kString)
    return rule.strictLength > 255 ? "CMIString4096" : "CMIString255";
  if (rule.type == DataType::kFeedback) return "CMIFeedback";
  if (rule.type == DataType::kIdentifier) return "CMIIdentifier";
  return "value";
}

}  // namespace

std::span<const ElementRule> DataModelRules() { return kRules; }

ParsedElement ParseElement(std::string_view element) {
  ParsedElement parsed;
  WalkElement(Tree(), element, {}, parsed);
  return parsed;
}

Verdict CheckValue(const ElementRule& rule, std::string_view value,
                   std::string_view interactionType) {
  Verdict verdict;
  const std::size_t length = Utf16Length(value);
  const bool strictFormat = FormatOk(rule, value, true, interactionType);
  const bool lenientFormat =
      strictFormat || FormatOk(rule, value, false, interactionType);
  verdict.strictOk = strictFormat && length <= rule.strictLength;
  verdict.lenientOk = lenientFormat && length <= rule.lenientLength;
  const auto pastLength = [&](std::uint32_t limit) {
    return std::to_string(length) + " characters, past the " +
           std::to_string(limit) + " of a " + TypeName(rule);
  };
  if (!strictFormat)
    verdict.reason = FormatReason(rule, interactionType);
  else if (!verdict.strictOk)
    verdict.reason = pastLength(rule.strictLength);
  if (!lenientFormat)
    verdict.lenientReason = verdict.reason;
  else if (!verdict.lenientOk)
    verdict.lenientReason = std::to_string(length) + " characters, past the " +
                            std::to_string(rule.lenientLength) +
                            " this runtime accepts (the standard allows " +
                            std::to_string(rule.strictLength) + ")";
  return verdict;
}

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (unsigned char c : utf8) {
    if (c < 0x80 || c >= 0xF8)
      ++units;
    else if (c >= 0xF0)
      units += 2;  // a surrogate pair
    else if (c >= 0xC0)
      ++units;
  }
  return units;
}

std::optional<std::string> RepairUtf8(std::string_view text) {
  // The length of a valid sequence at i, or 0.
  const auto sequence = [&text](std::size_t i) -> std::size_t {
    const Utf8Char read = ReadUtf8(text, i, Utf8Bad::kByte);
    return read.valid ? read.length : 0;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t n = sequence(i);
    if (n == 0) break;
    i += n;
  }
  if (i == text.size()) return std::nullopt;
  std::string out(text.substr(0, i));
  while (i < text.size()) {
    const std::size_t n = sequence(i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::optional<std::int64_t> ParseTimespan(std::string_view text) {
  return ParseClock(text, 4, 10000, false);
}

std::string FormatTimespan(std::int64_t hundredths) {
  constexpr std::int64_t kLargest = ((9999LL * 60 + 59) * 60 + 59) * 100 + 99;
  if (hundredths < 0) hundredths = 0;
  if (hundredths > kLargest) hundredths = kLargest;
  const std::int64_t seconds = hundredths / 100;
  char text[24];
  const int fraction = static_cast<int>(hundredths % 100);
  if (fraction)
    std::snprintf(text, sizeof text, "%04lld:%02lld:%02lld.%02d",
                  static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60), fraction);
  else
    std::snprintf(text, sizeof text, "%04lld:%02lld:%02lld",
                  static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60));
  return text;
}

std::optional<double> ParseDecimal(std::string_view text) {
  if (!IsDecimal(text)) return std::nullopt;
  // from_chars reads neither "5." nor ".5" the same on every library.
  std::string plain(text);
  if (plain.back() == '.') plain.pop_back();
  const std::size_t point = plain.find('.');
  if (point == 0 || (point == 1 && plain[0] == '-')) plain.insert(point, "0");
  double value = 0;
  const auto [end, error] =
      std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (error != std::errc() || end != plain.data() + plain.size())
    return std::nullopt;
  return value;
}

std::string_view ErrorString(int code) {
  switch (code) {
    case 0:
      return "No error";
    case 101:
      return "General exception";
    case 201:
      return "Invalid argument error";
    case 202:
      return "Element cannot have children";
    case 203:
      return "Element not an array - cannot have count";
    case 301:
      return "Not initialized";
    case 401:
      return "Not implemented error";
    case 402:
      return "Invalid set value, element is a keyword";
    case 403:
      return "Element is read only";
    case 404:
      return "Element is write only";
    case 405:
      return "Incorrect data type";
  }
  return {};
}

std::optional<std::string> Scorm2004Hint(std::string_view element) {
  // SCORM 2004 names by pattern, and what SCORM 1.2 has instead ("" when it
  // has nothing).
  static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
      {"cmi.completion_status", "cmi.core.lesson_status"},
      {"cmi.success_status", "cmi.core.lesson_status"},
      {"cmi.location", "cmi.core.lesson_location"},
      {"cmi.exit", "cmi.core.exit"},
      {"cmi.entry", "cmi.core.entry"},
      {"cmi.session_time", "cmi.core.session_time"},
      {"cmi.total_time", "cmi.core.total_time"},
      {"cmi.credit", "cmi.core.credit"},
      {"cmi.mode", "cmi.core.lesson_mode"},
      {"cmi.learner_id", "cmi.core.student_id"},
      {"cmi.learner_name", "cmi.core.student_name"},
      {"cmi.score._children", "cmi.core.score._children"},
      {"cmi.score.scaled", "cmi.core.score.raw (0 to 100)"},
      {"cmi.score.raw", "cmi.core.score.raw"},
      {"cmi.score.min", "cmi.core.score.min"},
      {"cmi.score.max", "cmi.core.score.max"},
      {"cmi.scaled_passing_score", "cmi.student_data.mastery_score (0 to 100)"},
      {"cmi.max_time_allowed", "cmi.student_data.max_time_allowed"},
      {"cmi.time_limit_action", "cmi.student_data.time_limit_action"},
      {"cmi.completion_threshold", ""},
      {"cmi.progress_measure", ""},
      {"cmi.learner_preference._children", "cmi.student_preference._children"},
      {"cmi.learner_preference.audio_level", "cmi.student_preference.audio"},
      {"cmi.learner_preference.language", "cmi.student_preference.language"},
      {"cmi.learner_preference.delivery_speed", "cmi.student_preference.speed"},
      {"cmi.learner_preference.audio_captioning",
       "cmi.student_preference.text"},
      {"cmi.comments_from_learner._count", "cmi.comments"},
      {"cmi.comments_from_learner.n.comment", "cmi.comments"},
      {"cmi.comments_from_lms._count", "cmi.comments_from_lms"},
      {"cmi.comments_from_lms.n.comment", "cmi.comments_from_lms"},
      {"cmi.objectives.n.success_status", "cmi.objectives.n.status"},
      {"cmi.objectives.n.completion_status", "cmi.objectives.n.status"},
      {"cmi.objectives.n.score.scaled",
       "cmi.objectives.n.score.raw (0 to 100)"},
      {"cmi.interactions.n.learner_response",
       "cmi.interactions.n.student_response"},
      {"cmi.interactions.n.timestamp", "cmi.interactions.n.time"},
      {"cmi.interactions.n.description", ""},
  };
  if (element.starts_with("adl."))
    return std::string(element) +
           " is a SCORM 2004 element; SCORM 1.2 has no navigation requests "
           "or adl data: the learner moves with the player's own buttons";
  // The pattern of the name, indices as "n", and the indices in order.
  std::string pattern;
  std::vector<std::string_view> indices;
  std::size_t start = 0;
  while (start <= element.size()) {
    std::size_t dot = element.find('.', start);
    if (dot == std::string_view::npos) dot = element.size();
    const std::string_view name = element.substr(start, dot - start);
    if (!pattern.empty()) pattern += '.';
    if (AllDigits(name) && indices.size() < 2) {
      pattern += 'n';
      indices.push_back(name);
    } else {
      pattern += name;
    }
    start = dot + 1;
  }
  for (const auto& [name, instead] : kNames) {
    if (name != pattern) continue;
    if (instead.empty())
      return std::string(element) +
             " is a SCORM 2004 element; SCORM 1.2 has nothing like it";
    // The SCORM 1.2 name with the same indices.
    std::string use;
    std::size_t next = 0;
    std::string_view rest = instead;
    while (!rest.empty()) {
      const std::size_t n = rest.find(".n.");
      if (n == std::string_view::npos || next >= indices.size()) {
        use += rest;
        break;
      }
      use += rest.substr(0, n + 1);
      use += indices[next++];
      rest.remove_prefix(n + 2);
    }
    return std::string(element) +
           " is a SCORM 2004 element; on this SCORM 1.2 API use " + use;
  }
  return std::nullopt;
}

}  // namespace zept::scorm
