#include "xapi/statement_check.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <initializer_list>
#include <span>

namespace zept::xapi {
namespace {

bool Digits(std::string_view text, std::size_t at, std::size_t n) {
  if (text.size() < at + n) return false;
  for (std::size_t i = at; i < at + n; ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

bool Hex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// What a property's value must be. Objects with properties of their own
// have a table below; the rest are checked by one function each.
enum class Kind {
  kString,
  kBool,
  kNumber,
  kInteger,
  kIri,
  kMbox,
  kSha1,
  kUuid,
  kTimestamp,
  kDuration,
  kLanguageTag,
  kVersion,
  kLanguageMap,
  kExtensions,
  kStringArray,
  kInteractionType,
  kAccount,
  kActor,       // Agent or Group
  kAgent,       // Agent only (a group's member)
  kGroup,       // Group only (context.team)
  kAgentArray,  // a group's members
  kVerb,
  kObject,     // of a statement
  kSubObject,  // of a sub-statement: no sub-statement again
  kStatementRef,
  kDefinition,
  kComponents,  // an interaction's choices, scale, source, target, steps
  kResult,
  kScore,
  kContext,
  kContextActivities,
  kActivities,  // an Activity or an array of them
  kActivity,
  kAttachments,
};

struct Property {
  std::string_view name;
  Kind kind;
  bool required = false;
};

using Shape = std::span<const Property>;

constexpr Property kStatementShape[] = {
    {"id", Kind::kUuid},
    {"actor", Kind::kActor, true},
    {"verb", Kind::kVerb, true},
    {"object", Kind::kObject, true},
    {"result", Kind::kResult},
    {"context", Kind::kContext},
    {"timestamp", Kind::kTimestamp},
    {"stored", Kind::kTimestamp},
    {"authority", Kind::kActor},
    {"version", Kind::kVersion},
    {"attachments", Kind::kAttachments},
};
constexpr Property kSubStatementShape[] = {
    {"objectType", Kind::kString, true}, {"actor", Kind::kActor, true},
    {"verb", Kind::kVerb, true},         {"object", Kind::kSubObject, true},
    {"result", Kind::kResult},           {"context", Kind::kContext},
    {"timestamp", Kind::kTimestamp},     {"attachments", Kind::kAttachments},
};
// An Agent's or Group's; the identifiers are counted apart.
constexpr Property kAgentShape[] = {
    {"objectType", Kind::kString}, {"name", Kind::kString},
    {"mbox", Kind::kMbox},         {"mbox_sha1sum", Kind::kSha1},
    {"openid", Kind::kIri},        {"account", Kind::kAccount},
};
constexpr Property kGroupShape[] = {
    {"objectType", Kind::kString, true},
    {"name", Kind::kString},
    {"mbox", Kind::kMbox},
    {"mbox_sha1sum", Kind::kSha1},
    {"openid", Kind::kIri},
    {"account", Kind::kAccount},
    {"member", Kind::kAgentArray},
};
constexpr Property kAccountShape[] = {
    {"homePage", Kind::kIri, true},
    {"name", Kind::kString, true},
};
constexpr Property kVerbShape[] = {
    {"id", Kind::kIri, true},
    {"display", Kind::kLanguageMap},
};
constexpr Property kActivityShape[] = {
    {"objectType", Kind::kString},
    {"id", Kind::kIri, true},
    {"definition", Kind::kDefinition},
};
constexpr Property kStatementRefShape[] = {
    {"objectType", Kind::kString, true},
    {"id", Kind::kUuid, true},
};
constexpr Property kDefinitionShape[] = {
    {"name", Kind::kLanguageMap},
    {"description", Kind::kLanguageMap},
    {"type", Kind::kIri},
    {"moreInfo", Kind::kIri},
    {"extensions", Kind::kExtensions},
    {"interactionType", Kind::kInteractionType},
    {"correctResponsesPattern", Kind::kStringArray},
    {"choices", Kind::kComponents},
    {"scale", Kind::kComponents},
    {"source", Kind::kComponents},
    {"target", Kind::kComponents},
    {"steps", Kind::kComponents},
};
constexpr Property kComponentShape[] = {
    {"id", Kind::kString, true},
    {"description", Kind::kLanguageMap},
};
constexpr Property kResultShape[] = {
    {"score", Kind::kScore},       {"success", Kind::kBool},
    {"completion", Kind::kBool},   {"response", Kind::kString},
    {"duration", Kind::kDuration}, {"extensions", Kind::kExtensions},
};
constexpr Property kScoreShape[] = {
    {"scaled", Kind::kNumber},
    {"raw", Kind::kNumber},
    {"min", Kind::kNumber},
    {"max", Kind::kNumber},
};
constexpr Property kContextShape[] = {
    {"registration", Kind::kUuid},
    {"instructor", Kind::kActor},
    {"team", Kind::kGroup},
    {"contextActivities", Kind::kContextActivities},
    {"revision", Kind::kString},
    {"platform", Kind::kString},
    {"language", Kind::kLanguageTag},
    {"statement", Kind::kStatementRef},
    {"extensions", Kind::kExtensions},
};
constexpr Property kContextActivitiesShape[] = {
    {"parent", Kind::kActivities},
    {"grouping", Kind::kActivities},
    {"category", Kind::kActivities},
    {"other", Kind::kActivities},
};
constexpr Property kAttachmentShape[] = {
    {"usageType", Kind::kIri, true},
    {"display", Kind::kLanguageMap, true},
    {"description", Kind::kLanguageMap},
    {"contentType", Kind::kString, true},
    {"length", Kind::kInteger, true},
    {"sha2", Kind::kString, true},
    {"fileUrl", Kind::kIri},
};

constexpr std::string_view kInteractionTypes[] = {
    "true-false",  "choice",     "fill-in", "long-fill-in", "matching",
    "performance", "sequencing", "likert",  "numeric",      "other"};

bool AgentKeyless(const JsonValue& actor) {
  for (const char* name : {"mbox", "mbox_sha1sum", "openid", "account"})
    if (actor.find(name)) return false;
  return true;
}

class Checker {
 public:
  // The first fault found; "" for none.
  std::string fault;
  bool dataMayCome = false;

  bool check(const JsonValue& value, Kind kind, const std::string& path) {
    switch (kind) {
      case Kind::kString:
        return is(value, JsonType::kString, path, "a string");
      case Kind::kBool:
        return is(value, JsonType::kBool, path, "true or false");
      case Kind::kNumber:
        return is(value, JsonType::kNumber, path, "a number");
      case Kind::kInteger:
        return is(value, JsonType::kNumber, path, "a number") &&
               (value.text.find_first_of(".eE-") == std::string::npos ||
                bad(path, "is not a whole number of zero or more"));
      case Kind::kIri:
        return text(value, path, IsIri, "an absolute IRI");
      case Kind::kMbox:
        return text(value, path, IsMbox, "a mailto: IRI");
      case Kind::kSha1:
        return text(value, path, IsSha1, "40 hexadecimal digits");
      case Kind::kUuid:
        return text(value, path, IsUuid, "a UUID");
      case Kind::kTimestamp:
        return text(value, path, IsTimestamp, "an ISO 8601 timestamp");
      case Kind::kDuration:
        return text(value, path, IsDuration, "an ISO 8601 duration");
      case Kind::kLanguageTag:
        return text(value, path, IsLanguageTag, "a language tag");
      case Kind::kVersion:
        return text(value, path, IsVersion, "a 1.0.x version");
      case Kind::kInteractionType:
        return text(value, path, IsInteractionType, "an interaction type");
      case Kind::kLanguageMap:
        return languageMap(value, path);
      case Kind::kExtensions:
        return extensions(value, path);
      case Kind::kStringArray:
        return array(value, path, Kind::kString);
      case Kind::kAccount:
        return shape(value, kAccountShape, path);
      case Kind::kActor:
        return actor(value, path, true, true);
      case Kind::kAgent:
        return actor(value, path, true, false);
      case Kind::kGroup:
        return actor(value, path, false, true);
      case Kind::kAgentArray:
        return array(value, path, Kind::kAgent);
      case Kind::kVerb:
        return shape(value, kVerbShape, path);
      case Kind::kObject:
      case Kind::kSubObject:
        return object(value, path, kind == Kind::kObject);
      case Kind::kStatementRef:
        return statementRef(value, path);
      case Kind::kDefinition:
        return shape(value, kDefinitionShape, path);
      case Kind::kComponents:
        if (!is(value, JsonType::kArray, path, "an array")) return false;
        for (std::size_t i = 0; i < value.items.size(); ++i)
          if (!shape(value.items[i], kComponentShape, at(path, i)))
            return false;
        return true;
      case Kind::kResult:
        return shape(value, kResultShape, path);
      case Kind::kScore:
        return shape(value, kScoreShape, path) && score(value, path);
      case Kind::kContext:
        return shape(value, kContextShape, path);
      case Kind::kContextActivities:
        return shape(value, kContextActivitiesShape, path);
      case Kind::kActivities:
        if (value.is(JsonType::kArray))
          return array(value, path, Kind::kActivity);
        return check(value, Kind::kActivity, path);
      case Kind::kActivity:
        return activity(value, path);
      case Kind::kAttachments:
        if (!is(value, JsonType::kArray, path, "an array")) return false;
        for (std::size_t i = 0; i < value.items.size(); ++i) {
          const JsonValue& item = value.items[i];
          if (!shape(item, kAttachmentShape, at(path, i))) return false;
          // Without a fileUrl its data comes in the request's parts, which
          // the LRS then matches.
          if (!item.find("fileUrl") && !dataMayCome)
            return bad(at(path, i),
                       "has no fileUrl (no data can come with it)");
        }
        return true;
    }
    return bad(path, "is not known");
  }

  // Every property of value known to shape and valid, the required ones
  // present.
  bool shape(const JsonValue& value, Shape properties,
             const std::string& path) {
    if (!is(value, JsonType::kObject, path, "an object")) return false;
    for (const auto& [name, member] : value.members) {
      const Property* known = nullptr;
      for (const Property& property : properties)
        if (property.name == name) known = &property;
      if (!known) return bad(join(path, name), "is not a property it may have");
      // JSON null is no value: xAPI has no property that may be null.
      if (!check(member, known->kind, join(path, name))) return false;
    }
    for (const Property& property : properties) {
      if (property.required && !value.find(property.name))
        return bad(join(path, property.name), "is missing");
    }
    return true;
  }

  bool statement(const JsonValue& value) {
    if (!shape(value, kStatementShape, "")) return false;
    // A Group as authority is the pair of an OAuth consumer and its user.
    if (const JsonValue* authority = value.find("authority")) {
      const std::string* type = nullptr;
      if (const JsonValue* t = authority->find("objectType"))
        type = t->is(JsonType::kString) ? &t->text : nullptr;
      if (type && *type == "Group") {
        const JsonValue* members = authority->find("member");
        if (!AgentKeyless(*authority))
          return bad("authority", "is a Group with an identifier");
        if (!members || members->items.size() != 2)
          return bad("authority", "is a Group of other than two Agents");
      }
    }
    return contextFits(value, "");
  }

 private:
  static std::string join(const std::string& path, std::string_view name) {
    return path.empty() ? std::string(name) : path + "." + std::string(name);
  }
  static std::string at(const std::string& path, std::size_t i) {
    return path + "[" + std::to_string(i) + "]";
  }

  bool bad(const std::string& path, const std::string& why) {
    if (fault.empty())
      fault = (path.empty() ? std::string("the statement") : path) + " " + why;
    return false;
  }
  bool is(const JsonValue& value, JsonType type, const std::string& path,
          const char* what) {
    return value.is(type) || bad(path, std::string("is not ") + what);
  }
  bool text(const JsonValue& value, const std::string& path,
            bool (*valid)(std::string_view), const char* what) {
    return is(value, JsonType::kString, path, "a string") &&
           (valid(value.text) || bad(path, std::string("is not ") + what));
  }
  bool array(const JsonValue& value, const std::string& path, Kind kind) {
    if (!is(value, JsonType::kArray, path, "an array")) return false;
    for (std::size_t i = 0; i < value.items.size(); ++i)
      if (!check(value.items[i], kind, at(path, i))) return false;
    return true;
  }

  bool languageMap(const JsonValue& value, const std::string& path) {
    if (!is(value, JsonType::kObject, path, "a language map")) return false;
    for (const auto& [tag, text] : value.members) {
      if (!IsLanguageTag(tag))
        return bad(join(path, tag), "is not named by a language tag");
      if (!is(text, JsonType::kString, join(path, tag), "a string"))
        return false;
    }
    return true;
  }

  bool extensions(const JsonValue& value, const std::string& path) {
    if (!is(value, JsonType::kObject, path, "an object")) return false;
    for (const auto& [key, ignored] : value.members)
      if (!IsIri(key)) return bad(join(path, key), "is not named by an IRI");
    return true;
  }

  bool actor(const JsonValue& value, const std::string& path, bool agent,
             bool group) {
    if (!is(value, JsonType::kObject, path, "an object")) return false;
    const JsonValue* type = value.find("objectType");
    const bool isGroup =
        type && type->is(JsonType::kString) && type->text == "Group";
    if (type && !isGroup &&
        !(type->is(JsonType::kString) && type->text == "Agent"))
      return bad(join(path, "objectType"), "is not \"Agent\" or \"Group\"");
    if (isGroup && !group) return bad(path, "is not an Agent");
    if (!isGroup && !agent) return bad(path, "is not a Group");
    if (!shape(value, isGroup ? Shape(kGroupShape) : Shape(kAgentShape), path))
      return false;
    int identifiers = 0;
    for (const char* name : {"mbox", "mbox_sha1sum", "openid", "account"})
      identifiers += value.find(name) != nullptr;
    if (identifiers > 1)
      return bad(path,
                 "has more than one identifier (mbox, mbox_sha1sum, "
                 "openid, account)");
    if (identifiers == 0 && !isGroup)
      return bad(path,
                 "has no identifier (mbox, mbox_sha1sum, openid, "
                 "account)");
    if (identifiers == 0 && !value.find("member"))
      return bad(path, "is an anonymous Group without members");
    return true;
  }

  bool activity(const JsonValue& value, const std::string& path) {
    if (!shape(value, kActivityShape, path)) return false;
    const JsonValue* type = value.find("objectType");
    if (type && type->text != "Activity")
      return bad(join(path, "objectType"), "is not \"Activity\"");
    // An interaction's parts mean nothing without its type.
    if (const JsonValue* definition = value.find("definition");
        definition && !definition->find("interactionType")) {
      for (const char* name : {"correctResponsesPattern", "choices", "scale",
                               "source", "target", "steps"})
        if (definition->find(name))
          return bad(join(join(path, "definition"), name),
                     "is given without an interactionType");
    }
    return true;
  }

  bool statementRef(const JsonValue& value, const std::string& path) {
    if (!shape(value, kStatementRefShape, path)) return false;
    if (value.find("objectType")->text != "StatementRef")
      return bad(join(path, "objectType"), "is not \"StatementRef\"");
    return true;
  }

  bool object(const JsonValue& value, const std::string& path,
              bool subStatement) {
    if (!is(value, JsonType::kObject, path, "an object")) return false;
    const JsonValue* type = value.find("objectType");
    const std::string kind =
        type && type->is(JsonType::kString) ? type->text : "Activity";
    if (type && !type->is(JsonType::kString))
      return bad(join(path, "objectType"), "is not a string");
    if (kind == "Activity") return activity(value, path);
    if (kind == "Agent" || kind == "Group")
      return actor(value, path, true, true);
    if (kind == "StatementRef") return statementRef(value, path);
    if (kind == "SubStatement" && subStatement)
      return shape(value, kSubStatementShape, path) && contextFits(value, path);
    return bad(join(path, "objectType"),
               "is not an object type it may have (\"" + kind + "\")");
  }

  bool score(const JsonValue& value, const std::string& path) {
    const auto get = [&](const char* name) {
      const JsonValue* member = value.find(name);
      return member ? member->number() : std::nullopt;
    };
    const auto scaled = get("scaled"), raw = get("raw"), min = get("min"),
               max = get("max");
    if (scaled && (*scaled < -1 || *scaled > 1))
      return bad(join(path, "scaled"), "is not from -1 to 1");
    if (min && max && *min > *max)
      return bad(join(path, "min"), "is above max");
    if (raw && min && *raw < *min)
      return bad(join(path, "raw"), "is below min");
    if (raw && max && *raw > *max)
      return bad(join(path, "raw"), "is above max");
    return true;
  }

  // revision and platform describe an activity: only for one.
  bool contextFits(const JsonValue& value, const std::string& path) {
    const JsonValue* context = value.find("context");
    if (!context) return true;
    const JsonValue* object = value.find("object");
    const JsonValue* type = object->find("objectType");
    if (!type || type->text == "Activity") return true;
    for (const char* name : {"revision", "platform"}) {
      if (context->find(name))
        return bad(join(join(path, "context"), name),
                   "is only for a statement about an activity");
    }
    return true;
  }

  static bool IsMbox(std::string_view text) {
    return text.starts_with("mailto:") && text.find('@') != text.npos &&
           IsIri(text);
  }
  static bool IsSha1(std::string_view text) {
    if (text.size() != 40) return false;
    for (char c : text)
      if (!Hex(c)) return false;
    return true;
  }
  static bool IsVersion(std::string_view text) {
    if (!text.starts_with("1.0")) return false;
    if (text.size() == 3) return true;
    return text[3] == '.' && Digits(text, 4, text.size() - 4);
  }
  static bool IsInteractionType(std::string_view text) {
    for (std::string_view type : kInteractionTypes)
      if (type == text) return true;
    return false;
  }
};

}  // namespace

bool IsUuid(std::string_view text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !Hex(text[i])) return false;
  }
  return true;
}

bool IsIri(std::string_view text) {
  // A scheme, ':' and something after it; no spaces or controls anywhere.
  const std::size_t colon = text.find(':');
  if (colon == 0 || colon == text.npos || colon + 1 == text.size())
    return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = text[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' &&
        c != '.')
      return false;
  }
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || c == '<' || c == '>' || c == '"' ||
        c == '{' || c == '}' || c == '|' || c == '\\' || c == '^' || c == '`')
      return false;
  }
  return true;
}

bool IsTimestamp(std::string_view t) {
  // YYYY-MM-DDThh:mm:ss[.f+](Z|+hh:mm|-hh:mm): the zone is required and the
  // letters are upper case, as the LRSs statements go on to refuse
  // otherwise; "-00:00" is refused as xAPI asks.
  return IsTimestampShape(t, true);
}

bool IsTimestampShape(std::string_view t, bool strict) {
  if (!(Digits(t, 0, 4) && t.size() >= 19 && t[4] == '-' && Digits(t, 5, 2) &&
        t[7] == '-' && Digits(t, 8, 2) &&
        (t[10] == 'T' || (!strict && t[10] == 't')) && Digits(t, 11, 2) &&
        t[13] == ':' && Digits(t, 14, 2) && t[16] == ':' && Digits(t, 17, 2)))
    return false;
  const auto number = [&](std::size_t at) {
    return (t[at] - '0') * 10 + (t[at + 1] - '0');
  };
  const int month = number(5), day = number(8);
  if (month < 1 || month > 12 || day < 1 || day > 31 || number(11) > 23 ||
      number(14) > 59 || number(17) > 60)
    return false;
  std::size_t at = 19;
  if (at < t.size() && t[at] == '.') {
    ++at;
    const std::size_t from = at;
    while (at < t.size() && std::isdigit(static_cast<unsigned char>(t[at])))
      ++at;
    if (at == from) return false;
  }
  const std::string_view zone = t.substr(at);
  if (zone == "Z") return true;
  if (!strict && (zone.empty() || zone == "z")) return true;
  if (zone == "-00:00") return false;
  return zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') &&
         Digits(zone, 1, 2) && zone[3] == ':' && Digits(zone, 4, 2) &&
         number(at + 1) <= 23 && number(at + 4) <= 59;
}

bool IsDuration(std::string_view d) {
  // P[nY][nM][nD][T[nH][nM][nS]] or PnW, at least one part, a fraction
  // (with a point) on the last one only: weeks mixed with other units and
  // decimal commas are ISO 8601 that LRSs refuse.
  if (d.size() < 3 || d[0] != 'P') return false;
  if (d.back() == 'W') {
    std::size_t at = 1;
    while (at + 1 < d.size() && std::isdigit(static_cast<unsigned char>(d[at])))
      ++at;
    if (at < d.size() - 1 && d[at] == '.') {
      const std::size_t from = ++at;
      while (at + 1 < d.size() &&
             std::isdigit(static_cast<unsigned char>(d[at])))
        ++at;
      if (at == from) return false;
    }
    return at == d.size() - 1 && at > 1 &&
           std::isdigit(static_cast<unsigned char>(d[1]));
  }
  constexpr std::string_view kDateUnits = "YMD", kTimeUnits = "HMS";
  std::size_t at = 1;
  bool time = false, any = false, fraction = false;
  std::size_t unit = 0;  // the next unit allowed, in order
  while (at < d.size()) {
    if (d[at] == 'T') {
      if (time) return false;
      time = true;
      unit = 0;
      ++at;
      if (at == d.size()) return false;
      continue;
    }
    if (fraction) return false;
    const std::size_t from = at;
    while (at < d.size() && std::isdigit(static_cast<unsigned char>(d[at])))
      ++at;
    if (at == from) return false;
    if (at < d.size() && d[at] == '.') {
      ++at;
      const std::size_t digits = at;
      while (at < d.size() && std::isdigit(static_cast<unsigned char>(d[at])))
        ++at;
      if (at == digits) return false;
      fraction = true;
    }
    if (at == d.size()) return false;
    const std::string_view units = time ? kTimeUnits : kDateUnits;
    const std::size_t found = units.find(d[at], unit);
    if (found == units.npos) return false;
    unit = found + 1;
    any = true;
    ++at;
  }
  return any;
}

bool IsLanguageTag(std::string_view tag) {
  // RFC 5646's shape: subtags of 1 to 8 letters or digits joined by '-',
  // the first of letters (or the private "x" / grandfathered "i").
  if (tag.empty()) return false;
  std::size_t at = 0, subtag = 0;
  while (at <= tag.size()) {
    const std::size_t end = std::min(tag.find('-', at), tag.size());
    const std::size_t length = end - at;
    if (length < 1 || length > 8) return false;
    for (std::size_t i = at; i < end; ++i) {
      const auto c = static_cast<unsigned char>(tag[i]);
      if (!(std::isalpha(c) || (subtag > 0 && std::isdigit(c)))) return false;
    }
    ++subtag;
    at = end + 1;
  }
  return true;
}

std::string StatementFault(const JsonValue& statement, bool dataMayCome) {
  Checker checker;
  checker.dataMayCome = dataMayCome;
  checker.statement(statement);
  return checker.fault;
}

std::string ActorFault(const JsonValue& actor) {
  Checker checker;
  checker.check(actor, Kind::kActor, "agent");
  return checker.fault;
}

}  // namespace zept::xapi
