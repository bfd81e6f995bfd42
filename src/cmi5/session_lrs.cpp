#include "cmi5/session_lrs.h"

#include <cctype>
#include <limits>

#include "cmi5/vocabulary.h"
#include "util/utf8.h"

namespace zept::cmi5 {
namespace {

using xapi::JsonType;
using xapi::JsonValue;

const std::string* Text(const JsonValue* value) {
  return value && value->is(JsonType::kString) ? &value->text : nullptr;
}

std::optional<bool> Bool(const JsonValue* value) {
  if (value && value->is(JsonType::kBool)) return value->boolean;
  return std::nullopt;
}

// The ids of a contextActivities list, given as one activity or an array.
std::vector<std::string> ActivityIds(const JsonValue* list) {
  std::vector<std::string> ids;
  if (!list) return ids;
  const auto add = [&](const JsonValue& activity) {
    if (const std::string* id = Text(activity.find("id"))) ids.push_back(*id);
  };
  if (list->is(JsonType::kArray)) {
    for (const JsonValue& activity : list->items) add(activity);
  } else {
    add(*list);
  }
  return ids;
}

// What cmi5's rules look at in a valid statement, as sent.
StatementFacts FactsOf(const JsonValue& s, bool hasId) {
  StatementFacts facts;
  facts.hasId = hasId;
  if (const std::string* timestamp = Text(s.find("timestamp")))
    facts.timestamp = *timestamp;
  const JsonValue& actor = *s.find("actor");
  if (const std::string* type = Text(actor.find("objectType")))
    facts.actorObjectType = *type;
  if (const JsonValue* account = actor.find("account")) {
    facts.account =
        Actor{account->find("homePage")->text, account->find("name")->text};
  }
  facts.verb = s.find("verb")->find("id")->text;
  const JsonValue& object = *s.find("object");
  if (const std::string* type = Text(object.find("objectType")))
    facts.objectType = *type;
  if (const std::string* id = Text(object.find("id"))) facts.objectId = *id;
  if (const JsonValue* result = s.find("result")) {
    facts.success = Bool(result->find("success"));
    facts.completion = Bool(result->find("completion"));
    if (const JsonValue* score = result->find("score")) {
      const auto get = [&](const char* name) {
        const JsonValue* n = score->find(name);
        return n ? n->number() : std::nullopt;
      };
      facts.score = Score{get("scaled"), get("raw"), get("min"), get("max")};
    }
    if (const std::string* duration = Text(result->find("duration")))
      facts.duration = *duration;
  }
  const JsonValue* context = s.find("context");
  facts.hasContext = context != nullptr;
  if (!context) return facts;
  if (const std::string* registration = Text(context->find("registration")))
    facts.registration = *registration;
  if (const JsonValue* extensions = context->find("extensions")) {
    if (const std::string* session =
            Text(extensions->find(kSessionIdExtension)))
      facts.sessionId = *session;
    if (const JsonValue* mastery = extensions->find(kMasteryScoreExtension)) {
      facts.masteryScore =
          mastery->number().value_or(std::numeric_limits<double>::quiet_NaN());
    }
  }
  if (const JsonValue* activities = context->find("contextActivities")) {
    facts.categories = ActivityIds(activities->find("category"));
    facts.grouping = ActivityIds(activities->find("grouping"));
  }
  return facts;
}

std::string MediaType(const std::string& contentType) {
  std::string type = AsciiLower(contentType.substr(0, contentType.find(';')));
  while (!type.empty() && type.back() == ' ') type.pop_back();
  return type;
}

std::string HeaderOf(const xapi::HttpHeaders& headers, std::string_view name) {
  for (const auto& [key, value] : headers)
    if (AsciiLower(key) == AsciiLower(std::string(name))) return value;
  return "";
}

bool Ended(const SessionState& state) {
  return state.phase == Phase::kTerminated || state.phase == Phase::kAbandoned;
}

bool IsPreferences(const xapi::DocumentKey& key) {
  return key.kind == xapi::DocumentKind::kAgentProfile &&
         key.id == kLearnerPreferencesProfileId;
}

}  // namespace

std::string PreferencesFault(const std::string& contentType,
                             const std::string& body) {
  if (MediaType(contentType) != "application/json")
    return "learner preferences are JSON";
  const xapi::JsonParse parse = xapi::ParseJson(body);
  if (!parse.ok() || !parse.value.is(JsonType::kObject))
    return "learner preferences are a JSON object";
  const std::string* languages = Text(parse.value.find("languagePreference"));
  const std::string* audio = Text(parse.value.find("audioPreference"));
  if (!languages) return "learner preferences need a languagePreference";
  if (!audio) return "learner preferences need an audioPreference";
  if (*audio != "on" && *audio != "off")
    return "audioPreference is \"on\" or \"off\"";
  // Each tag: letters, then subtags of letters and digits, by hyphens.
  std::size_t at = 0;
  do {
    std::size_t end = languages->find(',', at);
    if (end == std::string::npos) end = languages->size();
    const std::string tag = languages->substr(at, end - at);
    std::size_t run = 0;
    bool first = true, good = !tag.empty();
    for (std::size_t i = 0; good && i <= tag.size(); ++i) {
      if (i == tag.size() || tag[i] == '-') {
        good = run >= 1 && run <= 8;
        run = 0;
        first = false;
        continue;
      }
      const char c = tag[i];
      good = std::isalpha(static_cast<unsigned char>(c)) ||
             (!first && std::isdigit(static_cast<unsigned char>(c)));
      ++run;
    }
    if (!good) return "languagePreference is language tags separated by commas";
    at = end + 1;
  } while (at <= languages->size());
  return "";
}

SessionLrs::SessionLrs(xapi::LrsStore& store, xapi::ContentLrsOptions options)
    : lrs_(store, std::move(options)) {
  lrs_.setRules(&rules_);
}

void SessionLrs::setSession(std::optional<Cmi5Session> session) {
  rules_.session = std::move(session);
  rules_.staged.reset();
}

std::optional<xapi::LrsAnswer> SessionLrs::Rules::beforeStatements() {
  if (session && !session->preferencesRead)
    return xapi::RefuseRequest(403,
                               "the AU sends statements only once it has "
                               "read the learner preferences");
  return std::nullopt;
}

std::optional<xapi::LrsAnswer> SessionLrs::Rules::resent(
    const JsonValue& statement) {
  // Once the session has ended only its "terminated" may come again;
  // anything else is refused as it would be if new.
  if (!session || !Ended(session->state)) return std::nullopt;
  if (statement.find("verb")->find("id")->text == Info(Verb::kTerminated).iri)
    return std::nullopt;
  return xapi::RefuseRequest(403, session->state.phase == Phase::kTerminated
                                      ? "the session ended with "
                                        "\"terminated\""
                                      : "the session was abandoned");
}

std::optional<xapi::LrsAnswer> SessionLrs::Rules::judge(
    const JsonValue& statement, bool hasId) {
  if (!session) return std::nullopt;
  if (!staged) staged = session->state;
  const Verdict verdict =
      Judge(session->launch, *staged, FactsOf(statement, hasId));
  if (!verdict.accepted) return xapi::RefuseRequest(403, verdict.reason);
  staged = verdict.state;
  return std::nullopt;
}

void SessionLrs::Rules::settle(bool kept) {
  if (kept && session && staged) session->state = *staged;
  staged.reset();
}

std::optional<xapi::LrsAnswer> SessionLrs::Rules::document(
    const std::string& method, const xapi::DocumentKey& key,
    const xapi::LrsRequest& request) {
  if (!session) return std::nullopt;
  // The launch data is the LMS's: an AU reads it and never changes it.
  const bool read = method == "GET" || method == "HEAD";
  if (key.kind == xapi::DocumentKind::kState && !read &&
      (key.id == kLaunchDataStateId || (key.id.empty() && method == "DELETE")))
    return xapi::RefuseRequest(
        403, "the LMS's launch data is not the AU's to change");
  if (!IsPreferences(key)) return std::nullopt;
  // A HEAD only asks whether they are there: they are not read yet.
  if (read) {
    if (method == "GET") session->preferencesRead = true;
    return std::nullopt;
  }
  const xapi::JsonParse actor =
      xapi::ParseJson(ActorJson(session->launch.actor));
  if (key.agent != xapi::AgentKey(actor.value))
    return xapi::RefuseRequest(403,
                               "the learner preferences are the launch "
                               "actor's");
  if (method == "PUT") {
    if (std::string fault = PreferencesFault(
            HeaderOf(request.headers, "Content-Type"), request.body);
        !fault.empty())
      return xapi::RefuseRequest(403, fault);
  }
  return std::nullopt;
}

std::optional<xapi::LrsAnswer> SessionLrs::Rules::documentWritten(
    const xapi::DocumentKey& key, const std::string& contentType,
    const std::string& body) {
  if (!session || !IsPreferences(key)) return std::nullopt;
  if (std::string fault = PreferencesFault(contentType, body); !fault.empty())
    return xapi::RefuseRequest(403, fault);
  return std::nullopt;
}

}  // namespace zept::cmi5
