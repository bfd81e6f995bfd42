#include "scorm2004/datamodel.h"

#include <cctype>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "scorm/datamodel.h"
#include "scorm/element_tree.h"
#include "scorm2004/time_interval.h"

namespace zept::scorm2004 {
namespace {

using scorm::ParseDecimal;
using scorm::Utf16Length;

constexpr std::string_view kCompletion[] = {"completed", "incomplete",
                                            "not attempted", "unknown"};
constexpr std::string_view kSuccess[] = {"passed", "failed", "unknown"};
constexpr std::string_view kCredit[] = {"credit", "no-credit"};
constexpr std::string_view kEntry[] = {"ab-initio", "resume", ""};
constexpr std::string_view kExit[] = {"time-out", "suspend", "logout", "normal",
                                      ""};
constexpr std::string_view kMode[] = {"browse", "normal", "review"};
constexpr std::string_view kTimeLimitAction[] = {
    "exit,message", "continue,message", "exit,no message",
    "continue,no message"};
constexpr std::string_view kCaptioning[] = {"-1", "0", "1"};
constexpr std::string_view kInteractionType[] = {
    "true-false",  "choice",     "fill-in", "long-fill-in", "matching",
    "performance", "sequencing", "likert",  "numeric",      "other"};
constexpr std::string_view kResult[] = {"correct", "incorrect", "unanticipated",
                                        "neutral"};
constexpr std::string_view kNavigation[] = {
    "continue", "previous",   "exit",       "exitAll",
    "abandon",  "abandonAll", "suspendAll", "_none_"};

constexpr auto RO = Access::kReadOnly;
constexpr auto WO = Access::kWriteOnly;
constexpr auto RW = Access::kReadWrite;
constexpr double kInf = std::numeric_limits<double>::infinity();
// Timestamps and durations are short; the limit leaves room for fractions.
constexpr std::uint32_t kShort = 64;
constexpr std::uint32_t kWords = 250;
// The lenient column widens only what real content is known to exceed:
// suspend_data, location, comments and the interactions' texts.
constexpr std::uint32_t kLarge = 1u << 20;
constexpr std::uint32_t kText = 64000;

constexpr ElementRule Keyword(std::string_view pattern, DataType type,
                              std::string_view text = {}) {
  return {pattern, RO, type, 0, 0, {}, 0, 0, text};
}
constexpr ElementRule Vocabulary(std::string_view pattern, Access access,
                                 std::span<const std::string_view> words) {
  return {pattern, access, DataType::kVocabulary, kWords, kWords, words};
}
constexpr ElementRule Real(std::string_view pattern, Access access,
                           double min = -kInf, double max = kInf) {
  return {pattern, access, DataType::kReal, kShort, kShort, {}, min, max};
}
constexpr ElementRule Row(std::string_view pattern, Access access,
                          DataType type, std::uint32_t spm,
                          std::uint32_t lenient = 0) {
  return {pattern, access, type, spm, lenient ? lenient : spm};
}

constexpr ElementRule kRules[] = {
    Keyword("cmi._version", DataType::kVersion, "1.0"),
    Keyword("cmi.comments_from_learner._children", DataType::kChildren,
            "comment,location,timestamp"),
    Keyword("cmi.comments_from_learner._count", DataType::kCount),
    Row("cmi.comments_from_learner.n.comment", RW, DataType::kLocalizedString,
        4000, kText),
    Row("cmi.comments_from_learner.n.location", RW, DataType::kCharacterString,
        250, kText),
    Row("cmi.comments_from_learner.n.timestamp", RW, DataType::kTime, kShort),
    Keyword("cmi.comments_from_lms._children", DataType::kChildren,
            "comment,location,timestamp"),
    Keyword("cmi.comments_from_lms._count", DataType::kCount),
    Row("cmi.comments_from_lms.n.comment", RO, DataType::kLocalizedString,
        4000),
    Row("cmi.comments_from_lms.n.location", RO, DataType::kCharacterString,
        250),
    Row("cmi.comments_from_lms.n.timestamp", RO, DataType::kTime, kShort),
    Vocabulary("cmi.completion_status", RW, kCompletion),
    Real("cmi.completion_threshold", RO, 0, 1),
    Vocabulary("cmi.credit", RO, kCredit),
    Vocabulary("cmi.entry", RO, kEntry),
    Vocabulary("cmi.exit", WO, kExit),
    Keyword("cmi.interactions._children", DataType::kChildren,
            "id,type,objectives,timestamp,correct_responses,weighting,"
            "learner_response,result,latency,description"),
    Keyword("cmi.interactions._count", DataType::kCount),
    Row("cmi.interactions.n.id", RW, DataType::kIdentifier, 4000),
    Vocabulary("cmi.interactions.n.type", RW, kInteractionType),
    Keyword("cmi.interactions.n.objectives._count", DataType::kCount),
    Row("cmi.interactions.n.objectives.n.id", RW, DataType::kIdentifier, 4000),
    Row("cmi.interactions.n.timestamp", RW, DataType::kTime, kShort),
    Keyword("cmi.interactions.n.correct_responses._count", DataType::kCount),
    Row("cmi.interactions.n.correct_responses.n.pattern", RW,
        DataType::kPattern, kText, kLarge),
    Real("cmi.interactions.n.weighting", RW),
    Row("cmi.interactions.n.learner_response", RW, DataType::kResponse, kText,
        kLarge),
    {"cmi.interactions.n.result", RW, DataType::kResult, kShort, kShort,
     kResult},
    Row("cmi.interactions.n.latency", RW, DataType::kTimeInterval, kShort),
    Row("cmi.interactions.n.description", RW, DataType::kLocalizedString, 250,
        kText),
    Row("cmi.launch_data", RO, DataType::kCharacterString, 4000, kLarge),
    Row("cmi.learner_id", RO, DataType::kIdentifier, 4000),
    Row("cmi.learner_name", RO, DataType::kLocalizedString, 250, 4000),
    Keyword("cmi.learner_preference._children", DataType::kChildren,
            "audio_level,language,delivery_speed,audio_captioning"),
    Real("cmi.learner_preference.audio_level", RW, 0),
    Row("cmi.learner_preference.language", RW, DataType::kLanguage, 250),
    Real("cmi.learner_preference.delivery_speed", RW, 0),
    Vocabulary("cmi.learner_preference.audio_captioning", RW, kCaptioning),
    Row("cmi.location", RW, DataType::kCharacterString, 1000, kText),
    Row("cmi.max_time_allowed", RO, DataType::kTimeInterval, kShort),
    Vocabulary("cmi.mode", RO, kMode),
    Keyword("cmi.objectives._children", DataType::kChildren,
            "id,score,success_status,completion_status,progress_measure,"
            "description"),
    Keyword("cmi.objectives._count", DataType::kCount),
    Row("cmi.objectives.n.id", RW, DataType::kIdentifier, 4000),
    Keyword("cmi.objectives.n.score._children", DataType::kChildren,
            "scaled,raw,min,max"),
    Real("cmi.objectives.n.score.scaled", RW, -1, 1),
    Real("cmi.objectives.n.score.raw", RW),
    Real("cmi.objectives.n.score.min", RW),
    Real("cmi.objectives.n.score.max", RW),
    Vocabulary("cmi.objectives.n.success_status", RW, kSuccess),
    Vocabulary("cmi.objectives.n.completion_status", RW, kCompletion),
    Real("cmi.objectives.n.progress_measure", RW, 0, 1),
    Row("cmi.objectives.n.description", RW, DataType::kLocalizedString, 250,
        kText),
    Real("cmi.progress_measure", RW, 0, 1),
    Real("cmi.scaled_passing_score", RO, -1, 1),
    Keyword("cmi.score._children", DataType::kChildren, "scaled,raw,min,max"),
    Real("cmi.score.scaled", RW, -1, 1),
    Real("cmi.score.raw", RW),
    Real("cmi.score.min", RW),
    Real("cmi.score.max", RW),
    Row("cmi.session_time", WO, DataType::kTimeInterval, kShort),
    Vocabulary("cmi.success_status", RW, kSuccess),
    Row("cmi.suspend_data", RW, DataType::kCharacterString, 64000, kLarge),
    Vocabulary("cmi.time_limit_action", RO, kTimeLimitAction),
    Row("cmi.total_time", RO, DataType::kTimeInterval, kShort),
    {"adl.nav.request", RW, DataType::kNavRequest, 4000, 4000, kNavigation},
    Row("adl.nav.request_valid.continue", RO, DataType::kNavValid, kShort),
    Row("adl.nav.request_valid.previous", RO, DataType::kNavValid, kShort),
    Row("adl.nav.request_valid.choice.{target}", RO, DataType::kNavValid,
        kShort),
    Row("adl.nav.request_valid.jump.{target}", RO, DataType::kNavValid, kShort),
    Keyword("adl.data._children", DataType::kChildren, "id,store"),
    Keyword("adl.data._count", DataType::kCount),
    Row("adl.data.n.id", RO, DataType::kIdentifier, 4000),
    Row("adl.data.n.store", RW, DataType::kCharacterString, 64000, kLarge),
};

// The language codes a tag may begin with (ISO 639-1 and both ISO 639-2
// forms, with the retired mo, mol, scc and scr still met in content), each
// list sorted, fixed width, for a binary search.
constexpr std::string_view kLanguages2 =
    "aaabaeafakamanarasavayazbabebgbhbibmbnbobrbscacechcocrcscucvcydadedvdzee"
    "eleneoeseteufafffifjfofrfygagdglgngugvhahehihohrhthuhyhziaidieigiiikiois"
    "itiujajvkakgkikjkkklkmknkokrkskukvkwkylalblglilnloltlulvmgmhmimkmlmnmomr"
    "msmtmynanbndnengnlnnnonrnvnyocojomorospapiplpsptqurmrnrorurwsascsdsesgsi"
    "skslsmsnsosqsrssstsusvswtatetgthtitktltntotrtstttwtyugukuruzvevivowawoxh"
    "yiyozazhzu";
constexpr std::string_view kLanguages3 =
    "aarabkaceachadaadyafaafhafrainakaakkalbalealgaltamhanganpapaaraarcargarm"
    "arnarpartarwasmastathausavaaveawaaymazebadbaibakbalbambanbaqbasbatbejbel"
    "bembenberbhobihbikbinbisblabntbodbosbrabrebtkbuabugbulburbyncadcaicarcat"
    "caucebcelceschachbchechgchichkchmchnchochpchrchuchvchycmccnrcopcorcoscpe"
    "cpfcppcrecrhcrpcsbcuscymczedakdandardaydeldendeudgrdindivdoidradsbduadum"
    "dutdyudzoefiegyekaellelxengenmepoesteuseweewofanfaofasfatfijfilfinfiufon"
    "frafrefrmfrofrrfrsfryfulfurgaagaygbagemgeogergezgilglagleglgglvgmhgohgon"
    "gorgotgrbgrcgregrngswgujgwihaihathauhawhebherhilhimhinhithmnhmohrvhsbhun"
    "huphyeibaiboiceidoiiiijoikuileiloinaincindineinhipkirairoislitajavjbojpn"
    "jprjrbkaakabkackalkamkankarkaskatkaukawkazkbdkhakhikhmkhokikkinkirkmbkok"
    "komkonkorkoskpekrckrlkrokrukuakumkurkutladlahlamlaolatlavlezlimlinlitlol"
    "lozltzlualublugluilunluolusmacmadmagmahmaimakmalmanmaomapmarmasmaymdfmdr"
    "menmgamicminmismkdmkhmlgmltmncmnimnomohmolmonmosmrimsamulmunmusmwlmwrmya"
    "mynmyvnahnainapnaunavnblndendondsnepnewnianicniunldnnonobnognonnornqonso"
    "nubnwcnyanymnynnyonziociojioriormosaossotaotopaapagpalpampanpappaupeoper"
    "phiphnplipolponporprapropusquerajraprarroarohromronrumrunruprussadsagsah"
    "saisalsamsansassatsccscnscoscrselsemsgasgnshnsidsinsiositslaslksloslvsma"
    "smesmismjsmnsmosmssnasndsnksogsomsonsotspasqisrdsrnsrpsrrssasswsuksunsus"
    "suxswaswesycsyrtahtaitamtatteltemtertettgktglthatibtigtirtivtkltlhtlitmh"
    "togtontpitsitsntsotuktumtupturtuttvltwityvudmugauigukrumbundurduzbvaiven"
    "vievolvotwakwalwarwaswelwenwlnwolxalxhoyaoyapyidyorypkzapzblzenzghzhazho"
    "zndzulzunzxxzza";

bool InCodes(std::string_view codes, std::string_view code) {
  const std::size_t width = code.size();
  std::size_t low = 0, high = codes.size() / width;
  while (low < high) {
    const std::size_t mid = (low + high) / 2;
    const int order = codes.substr(mid * width, width).compare(code);
    if (order == 0) return true;
    if (order < 0)
      low = mid + 1;
    else
      high = mid;
  }
  return false;
}

using Node = scorm::ElementNode<ElementRule>;
using scorm::ParseIndex;

const std::vector<Node>& Tree() {
  static const std::vector<Node> tree =
      scorm::BuildElementTree<ElementRule>(kRules);
  return tree;
}

const ElementRule* RuleOf(std::string_view pattern) {
  for (const ElementRule& rule : kRules)
    if (rule.pattern == pattern) return &rule;
  return nullptr;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "{target=ID}" and the ID, which may hold dots.
std::optional<std::string_view> TargetOf(std::string_view text) {
  constexpr std::string_view kOpen = "{target=";
  if (!text.starts_with(kOpen) || !text.ends_with('}') ||
      text.size() <= kOpen.size() + 1)
    return std::nullopt;
  return text.substr(kOpen.size(), text.size() - kOpen.size() - 1);
}

std::vector<std::string_view> Split(std::string_view text,
                                    std::string_view separator) {
  std::vector<std::string_view> items;
  while (true) {
    const std::size_t at = text.find(separator);
    items.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return items;
    text.remove_prefix(at + separator.size());
  }
}

bool IsBlankOrControl(unsigned char c) { return c <= 0x20 || c == 0x7F; }

// short_identifier_type: one word of URI characters; the brackets and
// braces of the response formats' separators and delimiters are not among
// them. Longer than the 250 characters every runtime keeps is no fault.
bool IsShortIdentifier(std::string_view text) {
  constexpr std::string_view kExcluded = "[]{}<>\"\\^`|";
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (IsBlankOrControl(c) ||
        kExcluded.find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  return true;
}

// long_identifier_type: a URI, so no blanks, and a URN has its namespace
// and its name ("urn:" alone is none).
bool IsIdentifier(std::string_view text, bool strict) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if ((c < 0x20 || c == 0x7F) || (strict && IsBlankOrControl(c)))
      return false;
  if (!strict || text.size() < 4) return true;
  std::string scheme(text.substr(0, 4));
  for (char& c : scheme) c = static_cast<char>(std::tolower(c));
  if (scheme != "urn:") return true;
  const std::size_t colon = text.find(':', 4);
  return colon != std::string_view::npos && colon > 4 &&
         colon + 1 < text.size();
}

// The text after a leading {lang=tag}, nullopt when the tag is not one.
std::optional<std::string_view> LocalizedText(std::string_view text) {
  constexpr std::string_view kLang = "{lang=";
  if (!text.starts_with(kLang)) return text;
  const std::size_t close = text.find('}');
  if (close == std::string_view::npos) return std::nullopt;
  if (!IsLanguageTag(text.substr(kLang.size(), close - kLang.size())))
    return std::nullopt;
  return text.substr(close + 1);
}

bool IsLocalized(std::string_view text) {
  return LocalizedText(text).has_value();
}

// Strips the leading {case_matters=..} / {order_matters=..} a pattern of
// the type may have, each at most once; false when one is malformed.
bool StripDelimiters(std::string_view& text, bool caseMatters,
                     bool orderMatters) {
  bool sawCase = false, sawOrder = false;
  while (true) {
    bool* seen = nullptr;
    std::string_view name;
    if (caseMatters && !sawCase && text.starts_with("{case_matters=")) {
      seen = &sawCase;
      name = "{case_matters=";
    } else if (orderMatters && !sawOrder &&
               text.starts_with("{order_matters=")) {
      seen = &sawOrder;
      name = "{order_matters=";
    } else {
      return true;
    }
    text.remove_prefix(name.size());
    if (text.starts_with("true}"))
      text.remove_prefix(5);
    else if (text.starts_with("false}"))
      text.remove_prefix(6);
    else
      return false;
    *seen = true;
  }
}

bool IsReal(std::string_view text) { return ParseDecimal(text).has_value(); }

// A list of short identifiers separated by [,], all different when unique;
// empty when it may be.
bool IsIdentifierList(std::string_view text, bool empty, bool unique) {
  if (text.empty()) return empty;
  const auto items = Split(text, "[,]");
  std::set<std::string_view> seen;
  for (std::string_view item : items) {
    if (!IsShortIdentifier(item)) return false;
    if (unique && !seen.insert(item).second) return false;
  }
  return true;
}

// Performance steps: step_name[.]step_answer, either part may be left out
// but not both; an answer may be a range in a pattern, which as text is any
// answer. A value without any [.] is one step's name.
bool IsSteps(std::string_view text) {
  if (text.find("[.]") == std::string_view::npos)
    return IsShortIdentifier(text);
  for (std::string_view step : Split(text, "[,]")) {
    const auto parts = Split(step, "[.]");
    if (parts.size() != 2 || (parts[0].empty() && parts[1].empty()))
      return false;
    if (!parts[0].empty() && !IsShortIdentifier(parts[0])) return false;
  }
  return true;
}

bool IsNumericRange(std::string_view text) {
  const auto parts = Split(text, "[:]");
  if (parts.size() != 2) return false;
  const auto low = ParseDecimal(parts[0]);
  const auto high = ParseDecimal(parts[1]);
  if ((!parts[0].empty() && !low) || (!parts[1].empty() && !high)) return false;
  return !low || !high || *low <= *high;
}

bool IsNavigationRequest(std::string_view text) {
  for (std::string_view word : kNavigation)
    if (word == text) return true;
  for (std::string_view kind : {"choice", "jump"}) {
    if (text.size() > kind.size() && text.ends_with(kind) &&
        TargetOf(text.substr(0, text.size() - kind.size())))
      return true;
  }
  return false;
}

bool InWords(std::span<const std::string_view> words, std::string_view text) {
  for (std::string_view word : words)
    if (word == text) return true;
  return false;
}

// 0, 406 or 407 for a value's form, strict or lenient.
int FormatCode(const ElementRule& rule, std::string_view value, bool strict,
               std::string_view type) {
  switch (rule.type) {
    case DataType::kCharacterString:
      return 0;
    case DataType::kLocalizedString:
      return !strict || LocalizedText(value) ? 0 : 406;
    case DataType::kIdentifier:
      return IsIdentifier(value, strict) ? 0 : 406;
    case DataType::kReal: {
      const auto number = ParseDecimal(value);
      if (!number) return 406;
      return *number >= rule.min && *number <= rule.max ? 0 : 407;
    }
    case DataType::kTimeInterval:
      return ParseTimeInterval(value, strict) ? 0 : 406;
    case DataType::kTime:
      return IsTimestamp(value, strict) ? 0 : 406;
    case DataType::kVocabulary:
      return InWords(rule.words, value) ? 0 : 406;
    case DataType::kLanguage:
      return value.empty() || IsLanguageTag(value) ? 0 : 406;
    case DataType::kResponse:
    case DataType::kPattern:
      return !strict || IsResponseFormat(type, value,
                                         rule.type == DataType::kPattern)
                 ? 0
                 : 406;
    case DataType::kResult:
      return InWords(rule.words, value) || IsReal(value) ? 0 : 406;
    case DataType::kNavRequest:
      return IsNavigationRequest(value) ? 0 : 406;
    case DataType::kNavValid:
    case DataType::kChildren:
    case DataType::kCount:
    case DataType::kVersion:
      return 406;
  }
  return 406;
}

std::string Number(double value) {
  std::string text = std::to_string(value);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

std::string FormatReason(const ElementRule& rule, int code,
                         std::string_view type) {
  if (code == 407) {
    if (rule.max == kInf) return "below " + Number(rule.min);
    return "outside " + Number(rule.min) + " to " + Number(rule.max);
  }
  switch (rule.type) {
    case DataType::kLocalizedString:
      return "not a {lang=tag} before the text";
    case DataType::kIdentifier:
      return "not an identifier (one or more characters, no blanks)";
    case DataType::kReal:
      return "not a real number";
    case DataType::kTimeInterval:
      return "not an ISO 8601 duration (P[nY][nM][nD][T[nH][nM][n.nnS]])";
    case DataType::kTime:
      return "not an ISO 8601 timestamp from 1970 to 2038 "
             "(YYYY-MM-DDThh:mm:ss.ss)";
    case DataType::kVocabulary:
      return "not one of " + scorm::Joined(rule.words);
    case DataType::kLanguage:
      return "not a language tag";
    case DataType::kResponse:
      return "not a response of a " + std::string(type) + " interaction";
    case DataType::kPattern:
      return "not a correct response of a " + std::string(type) +
             " interaction";
    case DataType::kResult:
      return "not one of " + scorm::Joined(rule.words) + " or a real number";
    case DataType::kNavRequest:
      return "not a navigation request";
    default:
      return "not a value of this element";
  }
}

}  // namespace

std::span<const ElementRule> DataModelRules() { return kRules; }

ParsedElement ParseElement(std::string_view element) {
  ParsedElement parsed;
  // A target ID may hold dots: these two are read whole.
  for (std::string_view kind : {"choice", "jump"}) {
    const std::string prefix = "adl.nav.request_valid." + std::string(kind);
    if (!element.starts_with(prefix + ".")) continue;
    const auto target = TargetOf(element.substr(prefix.size() + 1));
    if (!target) return parsed;
    parsed.fault = ParsedElement::Fault::kNone;
    parsed.rule = RuleOf(prefix + ".{target}");
    parsed.target = std::string(*target);
    return parsed;
  }
  scorm::WalkElement(
      Tree(), element,
      {.versionKeyword = true, .badIndexIsDigits = true, .opaque = "{target}"},
      parsed);
  return parsed;
}

Verdict CheckValue(const ElementRule& rule, std::string_view value,
                   std::string_view interactionType) {
  Verdict verdict;
  std::string_view counted = value;
  if (rule.type == DataType::kLocalizedString)
    counted = LocalizedText(value).value_or(value);
  const std::size_t length = Utf16Length(counted);
  const int strictFormat = FormatCode(rule, value, true, interactionType);
  const int lenientFormat =
      strictFormat ? FormatCode(rule, value, false, interactionType) : 0;
  verdict.pastSpm = length > rule.spm;
  if (verdict.pastSpm)
    verdict.spmReason = std::to_string(length) + " characters, past the " +
                        std::to_string(rule.spm) +
                        " every runtime keeps (some keep no more)";
  const bool tooLong = length > rule.lenientLength;
  const std::string pastKept =
      std::to_string(length) + " characters, past the " +
      std::to_string(rule.lenientLength) + " this runtime keeps";
  if (strictFormat) {
    verdict.strictCode = strictFormat;
    verdict.reason = FormatReason(rule, strictFormat, interactionType);
  } else if (tooLong) {
    verdict.strictCode = 351;
    verdict.reason = pastKept;
  }
  if (lenientFormat) {
    verdict.lenientCode = lenientFormat;
    verdict.lenientReason = FormatReason(rule, lenientFormat, interactionType);
  } else if (tooLong) {
    verdict.lenientCode = 351;
    verdict.lenientReason = pastKept;
  }
  return verdict;
}

bool IsResponseFormat(std::string_view type, std::string_view value,
                      bool pattern) {
  if (type == "true-false") return value == "true" || value == "false";
  if (type == "choice") return IsIdentifierList(value, true, true);
  if (type == "fill-in" || type == "long-fill-in") {
    const bool longText = type == "long-fill-in";
    if (pattern && !StripDelimiters(value, true, !longText)) return false;
    if (longText) return IsLocalized(value);
    for (std::string_view item : Split(value, "[,]"))
      if (!IsLocalized(item)) return false;
    return true;
  }
  if (type == "likert") return IsShortIdentifier(value);
  if (type == "matching") {
    for (std::string_view pair : Split(value, "[,]")) {
      const auto parts = Split(pair, "[.]");
      if (parts.size() != 2 || !IsShortIdentifier(parts[0]) ||
          !IsShortIdentifier(parts[1]))
        return false;
    }
    return true;
  }
  if (type == "performance") {
    if (pattern && !StripDelimiters(value, false, true)) return false;
    return IsSteps(value);
  }
  if (type == "sequencing") return IsIdentifierList(value, false, false);
  if (type == "numeric") return pattern ? IsNumericRange(value) : IsReal(value);
  if (type == "other") return true;
  return false;
}

bool HasOnePattern(std::string_view type) {
  return type == "true-false" || type == "likert" || type == "numeric" ||
         type == "other";
}

int CorrectResponsesLimit(std::string_view type) {
  if (HasOnePattern(type)) return 1;
  return type == "choice" ? 10 : 5;
}

bool IsLanguageTag(std::string_view tag) {
  if (tag.empty() || tag.size() > 250) return false;
  const auto parts = Split(tag, "-");
  std::string primary(parts[0]);
  for (char& c : primary) c = static_cast<char>(std::tolower(c));
  const bool special = primary == "i" || primary == "x";
  const bool known = (primary.size() == 2 && InCodes(kLanguages2, primary)) ||
                     (primary.size() == 3 && InCodes(kLanguages3, primary));
  if (!known && !special) return false;
  if (special && parts.size() == 1) return false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].empty() || parts[i].size() > 8) return false;
    for (char c : parts[i])
      if (!IsAlpha(c) && !IsDigit(c)) return false;
  }
  return true;
}

std::string_view ErrorString(int code) {
  switch (code) {
    case 0:
      return "No Error";
    case 101:
      return "General Exception";
    case 102:
      return "General Initialization Failure";
    case 103:
      return "Already Initialized";
    case 104:
      return "Content Instance Terminated";
    case 111:
      return "General Termination Failure";
    case 112:
      return "Termination Before Initialization";
    case 113:
      return "Termination After Termination";
    case 122:
      return "Retrieve Data Before Initialization";
    case 123:
      return "Retrieve Data After Termination";
    case 132:
      return "Store Data Before Initialization";
    case 133:
      return "Store Data After Termination";
    case 142:
      return "Commit Before Initialization";
    case 143:
      return "Commit After Termination";
    case 201:
      return "General Argument Error";
    case 301:
      return "General Get Failure";
    case 351:
      return "General Set Failure";
    case 391:
      return "General Commit Failure";
    case 401:
      return "Undefined Data Model Element";
    case 402:
      return "Unimplemented Data Model Element";
    case 403:
      return "Data Model Element Value Not Initialized";
    case 404:
      return "Data Model Element Is Read Only";
    case 405:
      return "Data Model Element Is Write Only";
    case 406:
      return "Data Model Element Type Mismatch";
    case 407:
      return "Data Model Element Value Out Of Range";
    case 408:
      return "Data Model Dependency Not Established";
  }
  return {};
}

}  // namespace zept::scorm2004
