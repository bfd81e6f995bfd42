#include "cmi5/launch.h"

#include <charconv>

#include "cmi5/vocabulary.h"
#include "util/utf8.h"

namespace zept::cmi5 {
namespace {

// Appends "name":value for a JSON text value.
void Member(std::string& out, std::string_view name, std::string_view json) {
  if (out.back() != '{') out += ',';
  AppendJsonString(out, name);
  out += ':';
  out += json;
}

void StringMember(std::string& out, std::string_view name,
                  std::string_view text) {
  Member(out, name, JsonString(text));
}

// The shortest text that reads back as the number.
std::string Number(double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : "0";
}

std::string IdObject(std::string_view id) {
  std::string out = "{";
  StringMember(out, "id", id);
  return out + "}";
}

std::string VerbJson(Verb verb) {
  std::string out = "{";
  StringMember(out, "id", Info(verb).iri);
  std::string display = "{";
  StringMember(display, "en-US", Info(verb).display);
  Member(out, "display", display + "}");
  return out + "}";
}

std::string ActivityJson(std::string_view id) {
  std::string out = "{";
  StringMember(out, "objectType", "Activity");
  StringMember(out, "id", id);
  return out + "}";
}

// The context every statement of the LMS carries: the registration, the
// cmi5 category (and moveOn's for a result with success or completion),
// the publisher id in grouping, the session id and the extensions given as
// "name":value members.
std::string ContextJson(const std::string& registration,
                        const std::string& sessionId,
                        const std::string& publisherId, bool moveOnCategory,
                        const std::string& moreExtensions = "") {
  std::string activities = "{";
  Member(activities, "category",
         "[" + IdObject(kCmi5Category) +
             (moveOnCategory ? "," + IdObject(kMoveOnCategory) : "") + "]");
  Member(activities, "grouping", "[" + IdObject(publisherId) + "]");
  std::string extensions = "{";
  StringMember(extensions, kSessionIdExtension, sessionId);
  extensions += moreExtensions;
  std::string out = "{";
  StringMember(out, "registration", registration);
  Member(out, "contextActivities", activities + "}");
  Member(out, "extensions", extensions + "}");
  return out + "}";
}

xapi::Statement Make(const Stamp& stamp, const Actor& actor, Verb verb,
                     const std::string& object, const std::string& result,
                     const std::string& context) {
  xapi::Statement statement{stamp.id, "{"};
  std::string& out = statement.json;
  StringMember(out, "id", stamp.id);
  StringMember(out, "timestamp", stamp.timestamp);
  Member(out, "actor", ActorJson(actor));
  Member(out, "verb", VerbJson(verb));
  Member(out, "object", object);
  if (!result.empty()) Member(out, "result", result);
  Member(out, "context", context);
  out += '}';
  return statement;
}

// A language map of the langstrings that name their language; "" when none
// does (a map key must be a language tag).
std::string LanguageMap(const LangStrings& strings) {
  std::string out = "{";
  for (const LangString& s : strings) {
    if (s.lang.empty() ||
        out.find(JsonString(s.lang) + ":") != std::string::npos) {
      continue;
    }
    StringMember(out, s.lang, s.text);
  }
  return out == "{" ? "" : out + "}";
}

}  // namespace

const char* Name(LaunchMode mode) {
  switch (mode) {
    case LaunchMode::kBrowse:
      return "Browse";
    case LaunchMode::kReview:
      return "Review";
    case LaunchMode::kNormal:
      break;
  }
  return "Normal";
}

std::string ActorJson(const Actor& actor) {
  std::string account = "{";
  StringMember(account, "homePage", actor.homePage);
  StringMember(account, "name", actor.name);
  std::string out = "{";
  StringMember(out, "objectType", "Agent");
  Member(out, "account", account + "}");
  return out + "}";
}

Launch LaunchOf(const Au& au) {
  Launch launch;
  launch.publisherId = au.id;
  launch.moveOn = au.moveOn;
  launch.masteryScore = au.masteryScore;
  launch.launchParameters = au.launchParameters;
  launch.entitlementKey = au.entitlementKey;
  return launch;
}

std::string LaunchDataJson(const Launch& launch) {
  std::string activities = "{";
  Member(activities, "grouping", "[" + IdObject(launch.publisherId) + "]");
  std::string extensions = "{";
  StringMember(extensions, kSessionIdExtension, launch.sessionId);
  std::string context = "{";
  Member(context, "contextActivities", activities + "}");
  Member(context, "extensions", extensions + "}");

  std::string out = "{";
  Member(out, "contextTemplate", context + "}");
  StringMember(out, "launchMode", Name(launch.mode));
  if (launch.launchParameters)
    StringMember(out, "launchParameters", *launch.launchParameters);
  if (launch.masteryScore)
    Member(out, "masteryScore", Number(*launch.masteryScore));
  StringMember(out, "moveOn", Name(launch.moveOn));
  if (!launch.returnUrl.empty())
    StringMember(out, "returnURL", launch.returnUrl);
  if (launch.entitlementKey) {
    std::string key = "{";
    StringMember(key, "courseStructure", *launch.entitlementKey);
    Member(out, "entitlementKey", key + "}");
  }
  return out + "}";
}

std::string IsoDuration(std::chrono::milliseconds span) {
  // xAPI compares durations to the hundredth of a second, and an LRS may
  // keep no more: what is stored here reads back the same.
  long long centis = span.count() < 0 ? 0 : span.count() / 10;
  const long long hours = centis / 360000;
  centis %= 360000;
  const long long minutes = centis / 6000;
  centis %= 6000;
  std::string out = "PT";
  if (hours) out += std::to_string(hours) + "H";
  if (minutes) out += std::to_string(minutes) + "M";
  if (centis || out == "PT") {
    out += std::to_string(centis / 100);
    if (const long long fraction = centis % 100) {
      out += fraction % 10
                 ? (fraction < 10 ? ".0" : ".") + std::to_string(fraction)
                 : "." + std::to_string(fraction / 10);
    }
    out += 'S';
  }
  return out;
}

xapi::Statement LaunchedStatement(const Launch& launch, const Stamp& stamp) {
  std::string extensions;
  const auto add = [&extensions](std::string_view name, std::string json) {
    extensions += ',' + JsonString(name) + ':' + json;
  };
  add(kLaunchModeExtension, JsonString(Name(launch.mode)));
  add(kLaunchUrlExtension, JsonString(launch.launchUrl));
  add(kMoveOnExtension, JsonString(Name(launch.moveOn)));
  if (launch.launchParameters)
    add(kLaunchParametersExtension, JsonString(*launch.launchParameters));
  if (launch.masteryScore)
    add(kMasteryScoreExtension, Number(*launch.masteryScore));
  return Make(stamp, launch.actor, Verb::kLaunched,
              ActivityJson(launch.activityId), "",
              ContextJson(launch.registration, launch.sessionId,
                          launch.publisherId, false, extensions));
}

xapi::Statement AbandonedStatement(const Launch& launch,
                                   std::chrono::milliseconds duration,
                                   const Stamp& stamp) {
  std::string result = "{";
  StringMember(result, "duration", IsoDuration(duration));
  return Make(stamp, launch.actor, Verb::kAbandoned,
              ActivityJson(launch.activityId), result + "}",
              ContextJson(launch.registration, launch.sessionId,
                          launch.publisherId, false));
}

xapi::Statement WaivedStatement(const Launch& launch, const std::string& reason,
                                const Stamp& stamp) {
  std::string extensions = "{";
  StringMember(extensions, kReasonExtension, reason);
  std::string result = "{";
  Member(result, "success", "true");
  Member(result, "completion", "true");
  Member(result, "extensions", extensions + "}");
  return Make(stamp, launch.actor, Verb::kWaived,
              ActivityJson(launch.activityId), result + "}",
              ContextJson(launch.registration, launch.sessionId,
                          launch.publisherId, true));
}

xapi::Statement SatisfiedStatement(const Actor& actor,
                                   const std::string& registration,
                                   const std::string& sessionId,
                                   const SatisfiedObject& object,
                                   const Stamp& stamp) {
  std::string definition = "{";
  if (const std::string name = LanguageMap(object.title); !name.empty())
    Member(definition, "name", name);
  StringMember(definition, "type", object.course ? kCourseType : kBlockType);
  std::string activity = "{";
  StringMember(activity, "objectType", "Activity");
  StringMember(activity, "id", object.iri);
  Member(activity, "definition", definition + "}");
  return Make(stamp, actor, Verb::kSatisfied, activity + "}", "",
              ContextJson(registration, sessionId, object.publisherId, false));
}

SatisfiedObject CourseObject(const Course& course, const std::string& iri) {
  return SatisfiedObject{true, iri, course.id, course.title};
}

SatisfiedObject BlockObject(const Course& course, std::size_t block,
                            const std::string& iri) {
  const Block& b = course.blocks.at(block);
  return SatisfiedObject{false, iri, b.id, b.title};
}

}  // namespace zept::cmi5
