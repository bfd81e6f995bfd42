// Elements and attributes are matched by namespace URI and exact local
// name, as 2004 packages are written against their schemas; the prefixes
// are the author's.

#include "scorm2004/reader.h"

#include <libxml/tree.h>

#include <cctype>
#include <charconv>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "package/manifest_xml.h"

namespace zept::scorm2004 {
namespace {

using namespace scorm::manifest_xml;
using scorm::EManifestError;

constexpr const char* kImscp = "http://www.imsglobal.org/xsd/imscp_v1p1";
constexpr const char* kImscp12 =
    "http://www.imsproject.org/xsd/imscp_rootv1p1p2";
constexpr const char* kImsss = "http://www.imsglobal.org/xsd/imsss";
constexpr const char* kAdlseq = "http://www.adlnet.org/xsd/adlseq_v1p3";
constexpr const char* kAdlnav = "http://www.adlnet.org/xsd/adlnav_v1p3";
constexpr const char* kAdlcp = "http://www.adlnet.org/xsd/adlcp_v1p3";

std::string_view Str(const xmlChar* text) {
  return text ? reinterpret_cast<const char*>(text) : "";
}

// Content packaging elements are also taken without a namespace or in the
// one SCORM 1.2 manifests use, which some 2004 packages kept.
bool InNamespace(const xmlNs* ns, const char* uri) {
  if (std::string_view(uri) == kImscp && (!ns || Str(ns->href) == kImscp12)) {
    return true;
  }
  return ns && Str(ns->href) == uri;
}

bool Is(const xmlNode* node, const char* ns, std::string_view name) {
  return node && node->type == XML_ELEMENT_NODE && Str(node->name) == name &&
         InNamespace(node->ns, ns);
}

std::vector<const xmlNode*> Children(const xmlNode* parent, const char* ns,
                                     std::string_view name) {
  std::vector<const xmlNode*> found;
  if (!parent) return found;
  for (const xmlNode* n = parent->children; n; n = n->next) {
    if (Is(n, ns, name)) found.push_back(n);
  }
  return found;
}

const xmlNode* Child(const xmlNode* parent, const char* ns,
                     std::string_view name) {
  if (!parent) return nullptr;
  for (const xmlNode* n = parent->children; n; n = n->next) {
    if (Is(n, ns, name)) return n;
  }
  return nullptr;
}

// The attribute, trimmed: unqualified when ns is null. Some tools write
// adlcp:scormtype in lower case, so that one name is matched without case.
std::optional<std::string> Attr(const xmlNode* node, std::string_view name,
                                const char* ns = nullptr) {
  if (!node) return std::nullopt;
  for (const xmlAttr* a = node->properties; a; a = a->next) {
    const bool sameName = name == "scormType" ? SameLetters(Str(a->name), name)
                                              : Str(a->name) == name;
    if (!sameName) continue;
    if (ns ? !(a->ns && Str(a->ns->href) == ns) : a->ns != nullptr) continue;
    std::string value;
    AppendText(a->children, value);
    return Trimmed(value);
  }
  return std::nullopt;
}

std::string AttrOr(const xmlNode* node, std::string_view name,
                   const char* ns = nullptr) {
  return Attr(node, name, ns).value_or("");
}

// An objective identifier as content sees it: URI escapes decoded and
// blanks collapsed, so that "obj%201" and " obj  1 " name one objective.
std::string ObjectiveId(const xmlNode* node, std::string_view name) {
  const std::string written = AttrOr(node, name);
  std::string decoded;
  for (std::size_t i = 0; i < written.size(); ++i) {
    const auto hex = [&](std::size_t at) {
      const char c = written[at];
      return std::isxdigit(static_cast<unsigned char>(c));
    };
    if (written[i] == '%' && i + 2 < written.size() && hex(i + 1) &&
        hex(i + 2)) {
      decoded +=
          static_cast<char>(std::stoi(written.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += written[i];
    }
  }
  std::string out;
  for (char c : decoded) {
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// xs:decimal: a sign, digits and one optional point; no exponent.
std::optional<double> ParseDecimal(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  std::size_t digits = 0;
  bool point = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && !point) {
      point = true;
    } else if (!(c == '-' && i == 0)) {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  double value = 0.0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

// xs:nonNegativeInteger, as far as unsigned holds it.
std::optional<unsigned> ParseCount(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<unsigned>(value);
}

// xs:duration: P, then years, months, days, and after T hours, minutes,
// seconds (only these with a fraction); at least one part.
bool IsDuration(std::string_view text) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  if (text.empty() || text[0] != 'P') return false;
  text.remove_prefix(1);
  const std::string_view dateUnits = "YMD";
  const std::string_view timeUnits = "HMS";
  bool time = false;
  bool any = false;
  bool anyTime = false;
  std::size_t next = 0;  // the first unit still allowed
  while (!text.empty()) {
    if (text[0] == 'T') {
      if (time) return false;
      time = true;
      next = 0;
      text.remove_prefix(1);
      if (text.empty()) return false;
      continue;
    }
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
      ++digits;
    if (digits == 0) return false;
    std::size_t length = digits;
    bool fraction = false;
    if (length < text.size() && text[length] == '.') {
      fraction = true;
      std::size_t more = 0;
      while (length + 1 + more < text.size() &&
             text[length + 1 + more] >= '0' && text[length + 1 + more] <= '9')
        ++more;
      if (more == 0) return false;
      length += 1 + more;
    }
    if (length >= text.size()) return false;
    const std::string_view units = time ? timeUnits : dateUnits;
    const std::size_t unit = units.find(text[length]);
    if (unit == std::string_view::npos || unit < next) return false;
    if (fraction && !(time && text[length] == 'S')) return false;
    next = unit + 1;
    any = true;
    if (time) anyTime = true;
    text.remove_prefix(length + 1);
  }
  return any && (!time || anyTime);
}

template <typename E>
struct Named {
  std::string_view name;
  E value;
};

const Named<RuleConditionKind> kRuleConditions[] = {
    {"satisfied", RuleConditionKind::kSatisfied},
    {"objectiveStatusKnown", RuleConditionKind::kObjectiveStatusKnown},
    {"objectiveMeasureKnown", RuleConditionKind::kObjectiveMeasureKnown},
    {"objectiveMeasureGreaterThan",
     RuleConditionKind::kObjectiveMeasureGreaterThan},
    {"objectiveMeasureLessThan", RuleConditionKind::kObjectiveMeasureLessThan},
    {"completed", RuleConditionKind::kCompleted},
    {"activityProgressKnown", RuleConditionKind::kActivityProgressKnown},
    {"attempted", RuleConditionKind::kAttempted},
    {"attemptLimitExceeded", RuleConditionKind::kAttemptLimitExceeded},
    {"timeLimitExceeded", RuleConditionKind::kTimeLimitExceeded},
    {"outsideAvailableTimeRange",
     RuleConditionKind::kOutsideAvailableTimeRange},
    {"always", RuleConditionKind::kAlways},
};

const Named<RuleAction> kPreActions[] = {
    {"skip", RuleAction::kSkip},
    {"disabled", RuleAction::kDisabled},
    {"hiddenFromChoice", RuleAction::kHiddenFromChoice},
    {"stopForwardTraversal", RuleAction::kStopForwardTraversal},
};
const Named<RuleAction> kExitActions[] = {{"exit", RuleAction::kExit}};
const Named<RuleAction> kPostActions[] = {
    {"exitParent", RuleAction::kExitParent},
    {"exitAll", RuleAction::kExitAll},
    {"retry", RuleAction::kRetry},
    {"retryAll", RuleAction::kRetryAll},
    {"continue", RuleAction::kContinue},
    {"previous", RuleAction::kPrevious},
};

const Named<ConditionCombination> kCombinations[] = {
    {"all", ConditionCombination::kAll},
    {"any", ConditionCombination::kAny},
};

const Named<bool> kOperators[] = {{"noOp", false}, {"not", true}};

const Named<ChildActivitySet> kChildActivitySets[] = {
    {"all", ChildActivitySet::kAll},
    {"any", ChildActivitySet::kAny},
    {"none", ChildActivitySet::kNone},
    {"atLeastCount", ChildActivitySet::kAtLeastCount},
    {"atLeastPercent", ChildActivitySet::kAtLeastPercent},
};

const Named<RollupConditionKind> kRollupConditions[] = {
    {"satisfied", RollupConditionKind::kSatisfied},
    {"objectiveStatusKnown", RollupConditionKind::kObjectiveStatusKnown},
    {"objectiveMeasureKnown", RollupConditionKind::kObjectiveMeasureKnown},
    {"completed", RollupConditionKind::kCompleted},
    {"activityProgressKnown", RollupConditionKind::kActivityProgressKnown},
    {"attempted", RollupConditionKind::kAttempted},
    {"attemptLimitExceeded", RollupConditionKind::kAttemptLimitExceeded},
    {"timeLimitExceeded", RollupConditionKind::kTimeLimitExceeded},
    {"outsideAvailableTimeRange",
     RollupConditionKind::kOutsideAvailableTimeRange},
};

const Named<RollupAction> kRollupActions[] = {
    {"satisfied", RollupAction::kSatisfied},
    {"notSatisfied", RollupAction::kNotSatisfied},
    {"completed", RollupAction::kCompleted},
    {"incomplete", RollupAction::kIncomplete},
};

const Named<RollupConsideration> kConsiderations[] = {
    {"always", RollupConsideration::kAlways},
    {"ifAttempted", RollupConsideration::kIfAttempted},
    {"ifNotSkipped", RollupConsideration::kIfNotSkipped},
    {"ifNotSuspended", RollupConsideration::kIfNotSuspended},
};

const Named<RandomizationTiming> kTimings[] = {
    {"never", RandomizationTiming::kNever},
    {"once", RandomizationTiming::kOnce},
    {"onEachNewAttempt", RandomizationTiming::kOnEachNewAttempt},
};

const std::string_view kTimeLimitActions[] = {"exit,message", "exit,no message",
                                              "continue,message",
                                              "continue,no message"};

// Elements of an imsss:sequencing as read, before they are combined.
struct RulesPart {
  std::vector<SequencingRule> pre, exit, post;
  // Conditions naming an objective, checked once the objectives are known.
  std::vector<std::pair<const xmlNode*, std::string>> references;
};

struct RollupPart {
  bool objectiveSatisfied = true;
  bool progressCompletion = true;
  double measureWeight = 1.0;
  std::vector<RollupRule> rules;
};

struct AdlObjectivePart {
  const xmlNode* node = nullptr;
  std::string id;
  std::vector<std::pair<const xmlNode*, ObjectiveMap>> maps;
};

// What one imsss:sequencing says, element by element: a sequencing that
// refers to one of the collection takes each element it does not write
// itself from there.
struct SequencingParts {
  std::optional<ControlMode> controlMode;
  std::optional<RulesPart> rules;
  std::optional<LimitConditions> limits;
  std::optional<RollupPart> rollup;
  std::optional<std::vector<Objective>> objectives;  // the primary first
  std::optional<std::vector<AdlObjectivePart>> adlObjectives;
  std::optional<Randomization> randomization;
  std::optional<DeliveryControls> delivery;
  std::optional<ConstrainedChoice> constrainedChoice;
  std::optional<RollupControls> considerations;  // the adlseq fields only

  void override(const SequencingParts& own) {
    const auto take = [](auto& mine, const auto& theirs) {
      if (theirs) mine = theirs;
    };
    take(controlMode, own.controlMode);
    take(rules, own.rules);
    take(limits, own.limits);
    take(rollup, own.rollup);
    take(objectives, own.objectives);
    take(adlObjectives, own.adlObjectives);
    take(randomization, own.randomization);
    take(delivery, own.delivery);
    take(constrainedChoice, own.constrainedChoice);
    take(considerations, own.considerations);
  }
};

class Reader {
 public:
  explicit Reader(Package2004& package) : p_(package) {}

  void read(const xmlNode* root) {
    p_.identifier = AttrOr(root, "identifier");
    p_.version =
        Text(Child(Child(root, kImscp, "metadata"), kImscp, "schemaversion"));
    bases_.manifest = XmlBase(root);
    const xmlNode* resources = Child(root, kImscp, "resources");
    bases_.resources = XmlBase(resources);
    for (const xmlNode* resource : Children(resources, kImscp, "resource")) {
      const std::string id = AttrOr(resource, "identifier");
      if (!resources_.emplace(id, resource).second) {
        problem(resource,
                "resource " + id + " repeats an identifier; the first is used");
      }
    }
    readCollection(Child(root, kImsss, "sequencingCollection"));
    const xmlNode* organization = chosenOrganization(root);
    p_.organization = AttrOr(organization, "identifier");
    p_.title = Text(Child(organization, kImscp, "title"));
    if (p_.title.empty()) p_.title = p_.identifier;
    p_.objectivesGlobalToSystem =
        boolean(organization, "objectivesGlobalToSystem", true, kAdlseq);
    p_.sharedDataGlobalToSystem =
        boolean(organization, "sharedDataGlobalToSystem", true, kAdlcp);
    Activity& activity = p_.root;
    activity.identifier = p_.organization;
    activity.title = p_.title;
    activity.line = static_cast<int>(xmlGetLineNo(organization));
    subject_ = "organization " + activity.identifier;
    readCompletionThreshold(organization, activity);
    readSequencing(organization, activity);
    activity.attemptAbsoluteDurationLimit =
        activity.sequencing.limitConditions.attemptAbsoluteDurationLimit;
    activityIds_.emplace(
        activity.identifier,
        "the organization on line " + std::to_string(activity.line));
    readItems(organization, 1, activity.children);
  }

 private:
  void problem(const xmlNode* where, const std::string& text) {
    p_.problems.push_back(Line(where) +
                          (subject_.empty() ? "" : subject_ + ": ") + text);
  }

  static std::string Name(const xmlNode* node) {
    return std::string(Str(node->name));
  }

  const xmlNode* chosenOrganization(const xmlNode* root) {
    const xmlNode* organizations = Child(root, kImscp, "organizations");
    const auto all = Children(organizations, kImscp, "organization");
    if (all.empty()) {
      throw EManifestError(Line(organizations ? organizations : root) +
                           "the manifest has no organization");
    }
    const std::string preferred = AttrOr(organizations, "default");
    if (preferred.empty()) return all[0];
    for (const xmlNode* organization : all) {
      if (AttrOr(organization, "identifier") == preferred) return organization;
    }
    problem(organizations, "the default organization " + preferred +
                               " is missing; the first one is used");
    return all[0];
  }

  // ---- values of attributes ----

  bool boolean(const xmlNode* node, std::string_view name, bool fallback,
               const char* ns = nullptr) {
    const auto text = Attr(node, name, ns);
    if (!text) return fallback;
    if (*text == "true" || *text == "1") return true;
    if (*text == "false" || *text == "0") return false;
    problem(node, Name(node) + " " + std::string(name) + " '" + *text +
                      "' is not true or false; " +
                      (fallback ? "true" : "false") + " is used");
    return fallback;
  }

  double decimalValue(const xmlNode* node, const std::string& what,
                      const std::string& text, double fallback, double low,
                      double high) {
    const auto value = ParseDecimal(text);
    if (value && *value >= low && *value <= high) return *value;
    problem(node, what + " '" + text + "' is not a number from " + Number(low) +
                      " to " + Number(high) + "; " + Number(fallback) +
                      " is used");
    return fallback;
  }

  double decimal(const xmlNode* node, std::string_view name, double fallback,
                 double low, double high) {
    const auto text = Attr(node, name);
    if (!text) return fallback;
    return decimalValue(node, Name(node) + " " + std::string(name), *text,
                        fallback, low, high);
  }

  // Shortest form, whatever the locale.
  static std::string Number(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
  }

  std::optional<unsigned> count(const xmlNode* node, std::string_view name,
                                const std::string& consequence) {
    const auto text = Attr(node, name);
    if (!text) return std::nullopt;
    const auto value = ParseCount(*text);
    if (!value) {
      problem(node, Name(node) + " " + std::string(name) + " '" + *text +
                        "' is not a whole number up to " +
                        std::to_string(UINT32_MAX) + "; " + consequence);
    }
    return value;
  }

  std::string duration(const xmlNode* node, std::string_view name) {
    const auto text = Attr(node, name);
    if (!text || text->empty()) return "";
    if (IsDuration(*text)) return *text;
    problem(node, Name(node) + " " + std::string(name) + " '" + *text +
                      "' is not a duration; there is no limit");
    return "";
  }

  // The named value of attribute name; fallback when it is absent. A value
  // that is none of table's, or a required one missing (no fallback), is a
  // problem whose consequence is written as given, and gives nullopt.
  template <typename E, std::size_t N>
  std::optional<E> choice(const xmlNode* node, std::string_view name,
                          const Named<E> (&table)[N], std::optional<E> fallback,
                          const std::string& consequence) {
    const auto text = Attr(node, name);
    if (!text) {
      if (fallback) return fallback;
      problem(node,
              Name(node) + " has no " + std::string(name) + "; " + consequence);
      return std::nullopt;
    }
    for (const Named<E>& entry : table) {
      if (entry.name == *text) return entry.value;
    }
    problem(node, Name(node) + " has an unknown " + std::string(name) + " '" +
                      *text + "'; " + consequence);
    return std::nullopt;
  }

  // A choice with a default, which a wrong value also gives.
  template <typename E, std::size_t N>
  E choiceOr(const xmlNode* node, std::string_view name,
             const Named<E> (&table)[N], E fallback) {
    std::string named;
    for (const Named<E>& entry : table) {
      if (entry.value == fallback) named = entry.name;
    }
    return choice(node, name, table, std::optional<E>(fallback),
                  "'" + named + "' is used")
        .value_or(fallback);
  }

  // ---- the sequencing collection ----

  void readCollection(const xmlNode* collection) {
    subject_.clear();
    for (const xmlNode* node : Children(collection, kImsss, "sequencing")) {
      const std::string id = AttrOr(node, "ID");
      subject_ = "sequencing " + id;
      if (id.empty()) {
        subject_.clear();
        problem(node, "a sequencing of the collection has no ID; it is unused");
        continue;
      }
      if (collection_.count(id)) {
        problem(node, "repeats an ID; the first is used");
        continue;
      }
      if (Attr(node, "IDRef")) {
        problem(node,
                "a sequencing of the collection cannot refer to "
                "another; its IDRef is ignored");
      }
      collection_.emplace(id, parts(node));
    }
    subject_.clear();
  }

  // ---- items ----

  void readItems(const xmlNode* parent, int depth, std::vector<Activity>& out) {
    walk_.read(
        parent, depth, out,
        [](const xmlNode* node) { return Children(node, kImscp, "item"); },
        [this](const xmlNode* node) { return readItem(node); });
  }

  Activity readItem(const xmlNode* node) {
    Activity item;
    item.identifier = AttrOr(node, "identifier");
    item.line = static_cast<int>(xmlGetLineNo(node));
    subject_ = "item" + (item.identifier.empty() ? "" : " " + item.identifier);
    if (item.identifier.empty()) {
      problem(node, "has no identifier");
    } else if (const auto [first, added] = activityIds_.emplace(
                   item.identifier,
                   "the item on line " + std::to_string(item.line));
               !added) {
      // Two activities with one identifier would share one learner's
      // values and state, the second launching as the first.
      throw EManifestError(Line(node) + "item " + item.identifier +
                           " has the identifier of " + first->second +
                           "; the manifest is invalid");
    }
    item.title = Text(Child(node, kImscp, "title"));
    if (item.title.empty()) item.title = item.identifier;
    item.visible = boolean(node, "isvisible", true);
    readCompletionThreshold(node, item);
    item.dataFromLms = Text(Child(node, kAdlcp, "dataFromLMS"));
    if (const xmlNode* action = Child(node, kAdlcp, "timeLimitAction")) {
      item.timeLimitAction = Text(action);
      bool known = false;
      for (std::string_view value : kTimeLimitActions)
        known = known || value == item.timeLimitAction;
      if (!known) {
        problem(action, "timeLimitAction '" + item.timeLimitAction +
                            "' is unknown; it is left out");
        item.timeLimitAction.clear();
      }
    }
    readHiddenControls(node, item);
    readSharedData(node, item);
    readSequencing(node, item);
    item.attemptAbsoluteDurationLimit =
        item.sequencing.limitConditions.attemptAbsoluteDurationLimit;
    readResource(node, item);
    return item;
  }

  void readResource(const xmlNode* node, Activity& item) {
    const std::string ref = AttrOr(node, "identifierref");
    const bool cluster = Child(node, kImscp, "item") != nullptr;
    if (ref.empty()) {
      if (!cluster) {
        problem(node, "a leaf without a resource; it cannot be delivered");
      }
      return;
    }
    if (cluster) {
      problem(node, "has items and names resource " + ref +
                        ", which only a leaf may; the resource is ignored");
      return;
    }
    item.resourceIdentifier = ref;
    const auto found = resources_.find(ref);
    if (found == resources_.end()) {
      problem(node, "names resource " + ref + ", which is missing");
      return;
    }
    const xmlNode* resource = found->second;
    const std::string type = AttrOr(resource, "scormType", kAdlcp);
    item.isSco = SameLetters(type, "sco");
    if (!type.empty() && !item.isSco && !SameLetters(type, "asset")) {
      problem(resource, "resource " + ref + " has an unknown scormType '" +
                            type + "'; it is an asset");
    }
    // Messages of the launch location name their item themselves.
    const std::string subject = std::move(subject_);
    subject_.clear();
    item.launch = LaunchLocation(
        bases_, resource, ref, AttrOr(resource, "href"),
        AttrOr(node, "parameters"), item.identifier, p_.problems);
    subject_ = subject;
  }

  void readCompletionThreshold(const xmlNode* node, Activity& activity) {
    const xmlNode* element = Child(node, kAdlcp, "completionThreshold");
    if (!element) return;
    CompletionThreshold& threshold = activity.completionThreshold;
    const std::string text = Text(element);
    const bool attributes = Attr(element, "completedByMeasure") ||
                            Attr(element, "minProgressMeasure") ||
                            Attr(element, "progressWeight");
    if (!attributes && !text.empty()) {
      // The 3rd edition's plain number: completion by that measure.
      const auto value = ParseDecimal(text);
      if (!value || *value < 0.0 || *value > 1.0) {
        problem(element, "completionThreshold '" + text +
                             "' is not a number from 0 to 1; it is left out");
        return;
      }
      threshold.completedByMeasure = true;
      threshold.minProgressMeasure = *value;
      threshold.given = true;
      return;
    }
    threshold.completedByMeasure =
        boolean(element, "completedByMeasure", false);
    threshold.minProgressMeasure =
        decimal(element, "minProgressMeasure", 1.0, 0.0, 1.0);
    threshold.progressWeight =
        decimal(element, "progressWeight", 1.0, 0.0, 1.0);
    threshold.given = true;
  }

  void readHiddenControls(const xmlNode* node, Activity& item) {
    const xmlNode* interface = Child(Child(node, kAdlnav, "presentation"),
                                     kAdlnav, "navigationInterface");
    HiddenControls& hidden = item.hidden;
    const std::pair<std::string_view, bool*> controls[] = {
        {"previous", &hidden.previous},
        {"continue", &hidden.continue_},
        {"exit", &hidden.exit},
        {"exitAll", &hidden.exitAll},
        {"abandon", &hidden.abandon},
        {"abandonAll", &hidden.abandonAll},
        {"suspendAll", &hidden.suspendAll},
    };
    for (const xmlNode* hide : Children(interface, kAdlnav, "hideLMSUI")) {
      const std::string text = Text(hide);
      bool known = false;
      for (const auto& [name, flag] : controls) {
        if (name == text) *flag = known = true;
      }
      if (!known) problem(hide, "hideLMSUI '" + text + "' is unknown");
    }
  }

  void readSharedData(const xmlNode* node, Activity& item) {
    for (const xmlNode* map :
         Children(Child(node, kAdlcp, "data"), kAdlcp, "map")) {
      SharedDataMap data;
      data.targetId = AttrOr(map, "targetID");
      if (data.targetId.empty()) {
        problem(map, "map has no targetID; it is left out");
        continue;
      }
      bool repeated = false;
      for (const SharedDataMap& other : item.sharedData)
        repeated = repeated || other.targetId == data.targetId;
      if (repeated) {
        problem(map, "map repeats targetID " + data.targetId +
                         "; the first is used");
        continue;
      }
      data.readSharedData = boolean(map, "readSharedData", true);
      data.writeSharedData = boolean(map, "writeSharedData", true);
      item.sharedData.push_back(std::move(data));
    }
  }

  // ---- sequencing ----

  void readSequencing(const xmlNode* node, Activity& activity) {
    const xmlNode* own = Child(node, kImsss, "sequencing");
    SequencingParts combined;
    if (const auto ref = Attr(own, "IDRef"); ref && !ref->empty()) {
      const auto found = collection_.find(*ref);
      if (found == collection_.end()) {
        problem(own, "sequencing IDRef '" + *ref +
                         "' names no sequencing of the collection; only the "
                         "activity's own is used");
      } else {
        combined = found->second;
      }
    }
    if (own) combined.override(parts(own));
    activity.sequencing = resolve(combined);
  }

  SequencingParts parts(const xmlNode* node) {
    SequencingParts out;
    if (const xmlNode* e = Child(node, kImsss, "controlMode")) {
      ControlMode& mode = out.controlMode.emplace();
      mode.choice = boolean(e, "choice", true);
      mode.choiceExit = boolean(e, "choiceExit", true);
      mode.flow = boolean(e, "flow", false);
      mode.forwardOnly = boolean(e, "forwardOnly", false);
      mode.useCurrentAttemptObjectiveInfo =
          boolean(e, "useCurrentAttemptObjectiveInfo", true);
      mode.useCurrentAttemptProgressInfo =
          boolean(e, "useCurrentAttemptProgressInfo", true);
    }
    if (const xmlNode* e = Child(node, kImsss, "sequencingRules")) {
      auto& rules = out.rules.emplace();
      for (const xmlNode* r = e->children; r; r = r->next) {
        if (Is(r, kImsss, "preConditionRule")) {
          readRule(r, kPreActions, rules.pre, rules);
        } else if (Is(r, kImsss, "exitConditionRule")) {
          readRule(r, kExitActions, rules.exit, rules);
        } else if (Is(r, kImsss, "postConditionRule")) {
          readRule(r, kPostActions, rules.post, rules);
        }
      }
    }
    if (const xmlNode* e = Child(node, kImsss, "limitConditions")) {
      LimitConditions& limits = out.limits.emplace();
      limits.attemptLimit =
          count(e, "attemptLimit", "there is no limit").value_or(0);
      limits.attemptAbsoluteDurationLimit =
          duration(e, "attemptAbsoluteDurationLimit");
      limits.activityAbsoluteDurationLimit =
          duration(e, "activityAbsoluteDurationLimit");
    }
    if (const xmlNode* e = Child(node, kImsss, "rollupRules")) {
      readRollup(e, out.rollup.emplace());
    }
    if (const xmlNode* e = Child(node, kImsss, "objectives")) {
      out.objectives = readObjectives(e);
    }
    if (const xmlNode* e = Child(node, kAdlseq, "objectives")) {
      out.adlObjectives = readAdlObjectives(e);
    }
    if (const xmlNode* e = Child(node, kImsss, "randomizationControls")) {
      Randomization& r = out.randomization.emplace();
      r.randomizationTiming =
          choiceOr(e, "randomizationTiming", kTimings, r.randomizationTiming);
      r.selectCount = count(e, "selectCount", "all are selected");
      r.reorderChildren = boolean(e, "reorderChildren", false);
      r.selectionTiming =
          choiceOr(e, "selectionTiming", kTimings, r.selectionTiming);
    }
    if (const xmlNode* e = Child(node, kImsss, "deliveryControls")) {
      DeliveryControls& d = out.delivery.emplace();
      d.tracked = boolean(e, "tracked", true);
      d.completionSetByContent = boolean(e, "completionSetByContent", false);
      d.objectiveSetByContent = boolean(e, "objectiveSetByContent", false);
    }
    if (const xmlNode* e =
            Child(node, kAdlseq, "constrainedChoiceConsiderations")) {
      ConstrainedChoice& c = out.constrainedChoice.emplace();
      c.preventActivation = boolean(e, "preventActivation", false);
      c.constrainChoice = boolean(e, "constrainChoice", false);
    }
    if (const xmlNode* e = Child(node, kAdlseq, "rollupConsiderations")) {
      RollupControls& c = out.considerations.emplace();
      c.requiredForSatisfied = choiceOr(
          e, "requiredForSatisfied", kConsiderations, c.requiredForSatisfied);
      c.requiredForNotSatisfied =
          choiceOr(e, "requiredForNotSatisfied", kConsiderations,
                   c.requiredForNotSatisfied);
      c.requiredForCompleted = choiceOr(
          e, "requiredForCompleted", kConsiderations, c.requiredForCompleted);
      c.requiredForIncomplete = choiceOr(
          e, "requiredForIncomplete", kConsiderations, c.requiredForIncomplete);
      c.measureSatisfactionIfActive =
          boolean(e, "measureSatisfactionIfActive", true);
    }
    return out;
  }

  template <std::size_t N>
  void readRule(const xmlNode* node, const Named<RuleAction> (&actions)[N],
                std::vector<SequencingRule>& out, RulesPart& rules) {
    const std::string leftOut = "the rule is left out";
    SequencingRule rule;
    const xmlNode* conditions = Child(node, kImsss, "ruleConditions");
    const xmlNode* action = Child(node, kImsss, "ruleAction");
    if (!conditions || !action) {
      problem(node, Name(node) + " has no " +
                        (conditions ? "ruleAction" : "ruleConditions") + "; " +
                        leftOut);
      return;
    }
    rule.combination = choiceOr(conditions, "conditionCombination",
                                kCombinations, ConditionCombination::kAll);
    bool whole = true;
    std::vector<std::pair<const xmlNode*, std::string>> references;
    for (const xmlNode* c : Children(conditions, kImsss, "ruleCondition")) {
      RuleCondition condition;
      const auto kind = choice(c, "condition", kRuleConditions,
                               std::optional<RuleConditionKind>(), leftOut);
      const auto negate = choice(c, "operator", kOperators,
                                 std::optional<bool>(false), leftOut);
      if (!kind || !negate) {
        whole = false;
        continue;
      }
      condition.condition = *kind;
      condition.negate = *negate;
      condition.referencedObjective = ObjectiveId(c, "referencedObjective");
      condition.measureThreshold =
          decimal(c, "measureThreshold", 0.0, -1.0, 1.0);
      if (!condition.referencedObjective.empty())
        references.emplace_back(c, condition.referencedObjective);
      rule.conditions.push_back(std::move(condition));
    }
    if (whole && rule.conditions.empty()) {
      problem(conditions, "ruleConditions has no ruleCondition; " + leftOut);
      whole = false;
    }
    std::optional<RuleAction> act;
    const std::string written = AttrOr(action, "action");
    for (const Named<RuleAction>& entry : actions) {
      if (entry.name == written) act = entry.value;
    }
    if (!act) {
      problem(action, "ruleAction '" + written + "' is not allowed in " +
                          Name(node) + "; " + leftOut);
    }
    if (!whole || !act) return;
    rule.action = *act;
    out.push_back(std::move(rule));
    for (auto& reference : references)
      rules.references.push_back(std::move(reference));
  }

  void readRollup(const xmlNode* node, RollupPart& rollup) {
    const std::string leftOut = "the rule is left out";
    rollup.objectiveSatisfied = boolean(node, "rollupObjectiveSatisfied", true);
    rollup.progressCompletion = boolean(node, "rollupProgressCompletion", true);
    rollup.measureWeight =
        decimal(node, "objectiveMeasureWeight", 1.0, 0.0, 1.0);
    for (const xmlNode* r : Children(node, kImsss, "rollupRule")) {
      RollupRule rule;
      const auto set = choice(r, "childActivitySet", kChildActivitySets,
                              std::optional(ChildActivitySet::kAll), leftOut);
      rule.minimumCount = count(r, "minimumCount", "0 is used").value_or(0);
      rule.minimumPercent = decimal(r, "minimumPercent", 0.0, 0.0, 1.0);
      const xmlNode* conditions = Child(r, kImsss, "rollupConditions");
      const xmlNode* action = Child(r, kImsss, "rollupAction");
      if (!conditions || !action) {
        problem(r, std::string("rollupRule has no ") +
                       (conditions ? "rollupAction" : "rollupConditions") +
                       "; " + leftOut);
        continue;
      }
      rule.combination = choiceOr(conditions, "conditionCombination",
                                  kCombinations, ConditionCombination::kAny);
      bool whole = set.has_value();
      for (const xmlNode* c : Children(conditions, kImsss, "rollupCondition")) {
        const auto kind = choice(c, "condition", kRollupConditions,
                                 std::optional<RollupConditionKind>(), leftOut);
        const auto negate = choice(c, "operator", kOperators,
                                   std::optional<bool>(false), leftOut);
        if (!kind || !negate) {
          whole = false;
          continue;
        }
        rule.conditions.push_back({*kind, *negate});
      }
      if (whole && rule.conditions.empty()) {
        problem(conditions,
                "rollupConditions has no rollupCondition; " + leftOut);
        whole = false;
      }
      const auto act = choice(action, "action", kRollupActions,
                              std::optional<RollupAction>(), leftOut);
      if (!whole || !act) continue;
      rule.childActivitySet = *set;
      rule.action = *act;
      rollup.rules.push_back(std::move(rule));
    }
  }

  std::optional<ObjectiveMap> readMap(const xmlNode* node) {
    ObjectiveMap map;
    map.targetObjectiveId = ObjectiveId(node, "targetObjectiveID");
    if (map.targetObjectiveId.empty()) {
      problem(node, Name(node) + " has no targetObjectiveID; it is left out");
      return std::nullopt;
    }
    return map;
  }

  std::vector<Objective> readObjectives(const xmlNode* node) {
    std::vector<Objective> out;
    const auto primaries = Children(node, kImsss, "primaryObjective");
    if (primaries.empty()) {
      problem(node,
              "objectives has no primaryObjective; one without an ID "
              "stands for it");
      out.emplace_back().primary = true;
    } else if (primaries.size() > 1) {
      problem(primaries[1], "a second primaryObjective; the first is used");
    }
    for (const xmlNode* e = node->children; e; e = e->next) {
      const bool primary = Is(e, kImsss, "primaryObjective");
      if (!primary && !Is(e, kImsss, "objective")) continue;
      if (primary && e != primaries[0]) continue;
      Objective objective;
      objective.primary = primary;
      objective.id = ObjectiveId(e, "objectiveID");
      if (!primary && objective.id.empty()) {
        problem(e, "objective has no objectiveID; it is left out");
        continue;
      }
      bool repeated = false;
      for (const Objective& other : out)
        repeated =
            repeated || (!objective.id.empty() && other.id == objective.id);
      if (repeated) {
        problem(e, "objectiveID " + objective.id +
                       " is repeated; the first is used");
        continue;
      }
      objective.satisfiedByMeasure = boolean(e, "satisfiedByMeasure", false);
      if (const xmlNode* m = Child(e, kImsss, "minNormalizedMeasure")) {
        objective.minNormalizedMeasure =
            decimalValue(m, "minNormalizedMeasure", Text(m), 1.0, -1.0, 1.0);
      }
      for (const xmlNode* m : Children(e, kImsss, "mapInfo")) {
        auto map = readMap(m);
        if (!map) continue;
        bool again = false;
        for (const ObjectiveMap& other : objective.maps)
          again = again || other.targetObjectiveId == map->targetObjectiveId;
        if (again) {
          problem(m, "mapInfo repeats targetObjectiveID " +
                         map->targetObjectiveId + "; the first is used");
          continue;
        }
        map->readSatisfiedStatus = boolean(m, "readSatisfiedStatus", true);
        map->readNormalizedMeasure = boolean(m, "readNormalizedMeasure", true);
        map->writeSatisfiedStatus = boolean(m, "writeSatisfiedStatus", false);
        map->writeNormalizedMeasure =
            boolean(m, "writeNormalizedMeasure", false);
        objective.maps.push_back(std::move(*map));
      }
      // The primary stands first whatever the order written.
      if (primary) {
        out.insert(out.begin(), std::move(objective));
      } else {
        out.push_back(std::move(objective));
      }
    }
    return out;
  }

  std::vector<AdlObjectivePart> readAdlObjectives(const xmlNode* node) {
    std::vector<AdlObjectivePart> out;
    for (const xmlNode* e : Children(node, kAdlseq, "objective")) {
      AdlObjectivePart objective;
      objective.node = e;
      objective.id = ObjectiveId(e, "objectiveID");
      for (const xmlNode* m : Children(e, kAdlseq, "mapInfo")) {
        auto map = readMap(m);
        if (!map) continue;
        map->readRawScore = boolean(m, "readRawScore", true);
        map->readMinScore = boolean(m, "readMinScore", true);
        map->readMaxScore = boolean(m, "readMaxScore", true);
        map->readCompletionStatus = boolean(m, "readCompletionStatus", true);
        map->readProgressMeasure = boolean(m, "readProgressMeasure", true);
        map->writeRawScore = boolean(m, "writeRawScore", false);
        map->writeMinScore = boolean(m, "writeMinScore", false);
        map->writeMaxScore = boolean(m, "writeMaxScore", false);
        map->writeCompletionStatus = boolean(m, "writeCompletionStatus", false);
        map->writeProgressMeasure = boolean(m, "writeProgressMeasure", false);
        objective.maps.emplace_back(m, std::move(*map));
      }
      out.push_back(std::move(objective));
    }
    return out;
  }

  SequencingDefinition resolve(const SequencingParts& parts) {
    SequencingDefinition d;
    if (parts.controlMode) d.controlMode = *parts.controlMode;
    if (parts.constrainedChoice) d.constrainedChoice = *parts.constrainedChoice;
    if (parts.limits) d.limitConditions = *parts.limits;
    if (parts.randomization) d.randomization = *parts.randomization;
    if (parts.delivery) d.delivery = *parts.delivery;
    if (parts.rollup) {
      d.rollup.rollupObjectiveSatisfied = parts.rollup->objectiveSatisfied;
      d.rollup.rollupProgressCompletion = parts.rollup->progressCompletion;
      d.rollup.objectiveMeasureWeight = parts.rollup->measureWeight;
      d.rollupRules = parts.rollup->rules;
    }
    if (const auto& c = parts.considerations) {
      d.rollup.requiredForSatisfied = c->requiredForSatisfied;
      d.rollup.requiredForNotSatisfied = c->requiredForNotSatisfied;
      d.rollup.requiredForCompleted = c->requiredForCompleted;
      d.rollup.requiredForIncomplete = c->requiredForIncomplete;
      d.rollup.measureSatisfactionIfActive = c->measureSatisfactionIfActive;
    }
    if (parts.objectives) d.objectives = *parts.objectives;
    if (d.objectives.empty()) d.objectives.emplace_back().primary = true;
    if (parts.adlObjectives) mergeAdlObjectives(*parts.adlObjectives, d);
    if (parts.rules) {
      d.preConditionRules = parts.rules->pre;
      d.exitConditionRules = parts.rules->exit;
      d.postConditionRules = parts.rules->post;
      for (const auto& [node, id] : parts.rules->references) {
        if (!findObjective(d, id)) {
          problem(node, "ruleCondition names objective " + id +
                            ", which the activity does not have");
        }
      }
    }
    return d;
  }

  static Objective* findObjective(SequencingDefinition& d,
                                  const std::string& id) {
    for (Objective& objective : d.objectives) {
      if (!id.empty() && objective.id == id) return &objective;
    }
    return nullptr;
  }

  // The 4th edition's extra read and write flags join the map of the same
  // target; a target only they name is mapped for those flags alone.
  void mergeAdlObjectives(const std::vector<AdlObjectivePart>& objectives,
                          SequencingDefinition& d) {
    for (const auto& adl : objectives) {
      Objective* objective = findObjective(d, adl.id);
      if (adl.id.empty()) {
        problem(adl.node,
                "adlseq objective has no objectiveID; its maps are "
                "left out");
        continue;
      }
      if (!objective) {
        problem(adl.node, "adlseq objective " + adl.id +
                              " is no objective of the activity; its maps "
                              "are left out");
        continue;
      }
      for (const auto& [node, extra] : adl.maps) {
        ObjectiveMap* map = nullptr;
        for (ObjectiveMap& own : objective->maps) {
          if (own.targetObjectiveId == extra.targetObjectiveId) map = &own;
        }
        if (!map) {
          map = &objective->maps.emplace_back();
          map->targetObjectiveId = extra.targetObjectiveId;
          map->readSatisfiedStatus = false;
          map->readNormalizedMeasure = false;
        }
        map->readRawScore = extra.readRawScore;
        map->readMinScore = extra.readMinScore;
        map->readMaxScore = extra.readMaxScore;
        map->readCompletionStatus = extra.readCompletionStatus;
        map->readProgressMeasure = extra.readProgressMeasure;
        map->writeRawScore = extra.writeRawScore;
        map->writeMinScore = extra.writeMinScore;
        map->writeMaxScore = extra.writeMaxScore;
        map->writeCompletionStatus = extra.writeCompletionStatus;
        map->writeProgressMeasure = extra.writeProgressMeasure;
      }
    }
  }

  Package2004& p_;
  Bases bases_;
  std::string subject_;  // what problem lines are about
  std::unordered_map<std::string, const xmlNode*> resources_;
  std::unordered_map<std::string, SequencingParts> collection_;
  // Each activity's identifier, with where it stands ("the item on line 4").
  std::unordered_map<std::string, std::string> activityIds_;
  // Its problem lines name the subject, as the others do.
  ItemWalk walk_{[this](const xmlNode* where, const std::string& text) {
    problem(where, text);
  }};
};

}  // namespace

namespace {

Package2004 ReadPackage2004Root(const xmlNode* root) {
  if (!root) throw EManifestError("the manifest has no root element");
  if (!Is(root, kImscp, "manifest")) {
    throw EManifestError(Line(root) + "the root element is '" +
                         std::string(Str(root->name)) +
                         "', not a content packaging 'manifest'");
  }
  Package2004 package;
  Reader(package).read(root);
  for (std::string& problem : package.problems) OneLine(problem);
  return package;
}

}  // namespace

Package2004 ReadPackage2004(const std::string& bytes) {
  DocPtr doc = ParseManifest(bytes);
  return ReadPackage2004Root(xmlDocGetRootElement(doc.get()));
}

ManifestReading ReadAnyManifest(const std::string& bytes) {
  DocPtr doc = ParseManifest(bytes);
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  ManifestReading reading;
  reading.manifest = scorm::manifest_xml::ReadManifestRoot(root);
  if (!reading.manifest.scorm2004.empty())
    reading.package2004 = ReadPackage2004Root(root);
  return reading;
}

}  // namespace zept::scorm2004
