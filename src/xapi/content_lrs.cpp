#include "xapi/content_lrs.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>

#include "cmi5/vocabulary.h"
#include "platform/errors.h"
#include "util/sha256.h"
#include "util/utf8.h"
#include "xapi/statement_check.h"
#include "xapi/statements.h"

namespace zept::xapi {
namespace {

constexpr char kVersion[] = "1.0.3";
constexpr char kVoided[] = "http://adlnet.gov/expapi/verbs/voided";
constexpr std::size_t kMaxDocumentBytes = 16u << 20;

using Params = std::map<std::string, std::string>;

LrsAnswer Answer(int status, std::string body = {},
                 std::string contentType = "application/json") {
  LrsAnswer answer;
  answer.status = status;
  if (!body.empty()) answer.headers.emplace_back("Content-Type", contentType);
  answer.body = std::move(body);
  return answer;
}

// Refusals carry their reason as plain text, in a line.
LrsAnswer Refuse(int status, const std::string& reason) {
  return Answer(status, reason, "text/plain; charset=utf-8");
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string HeaderOf(const HttpHeaders& headers, std::string_view name) {
  const std::string wanted = Lower(name);
  for (const auto& [key, value] : headers)
    if (Lower(key) == wanted) return value;
  return "";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// nullopt for a bad escape or a name given twice.
std::optional<Params> ParseQuery(std::string_view query) {
  const auto decode = [](std::string_view part) -> std::optional<std::string> {
    std::string out;
    for (std::size_t i = 0; i < part.size(); ++i) {
      if (part[i] == '+') {
        out += ' ';
      } else if (part[i] == '%') {
        if (i + 2 >= part.size()) return std::nullopt;
        const int high = HexDigit(part[i + 1]), low = HexDigit(part[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
      } else {
        out += part[i];
      }
    }
    return out;
  };
  Params params;
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == query.npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    auto name = decode(pair.substr(0, eq));
    auto value = decode(eq == pair.npos ? "" : pair.substr(eq + 1));
    if (!name || !value || params.count(*name)) return std::nullopt;
    params.emplace(std::move(*name), std::move(*value));
  }
  return params;
}

std::string Param(const Params& params, const char* name) {
  const auto found = params.find(name);
  return found == params.end() ? "" : found->second;
}

// "" when every parameter is one of known.
std::string UnknownParam(const Params& params,
                         std::initializer_list<std::string_view> known) {
  for (const auto& [name, value] : params)
    if (std::find(known.begin(), known.end(), name) == known.end())
      return "the parameter '" + name + "' is not one this resource takes";
  return "";
}

// Members sorted by name at every level: two texts of one statement
// compare equal whatever order each was written in.
void Canonicalize(JsonValue& value) {
  for (JsonValue& item : value.items) Canonicalize(item);
  for (auto& member : value.members) Canonicalize(member.value);
  std::sort(value.members.begin(), value.members.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
}

std::string CanonicalText(JsonValue value) {
  Canonicalize(value);
  return WriteJson(value);
}

JsonValue String(std::string text) {
  JsonValue value;
  value.type = JsonType::kString;
  value.text = std::move(text);
  return value;
}

void Set(JsonValue& object, const std::string& name, JsonValue value) {
  if (JsonValue* found = object.find(name)) {
    *found = std::move(value);
  } else {
    object.members.push_back({name, std::move(value)});
  }
}

void Remove(JsonValue& object, std::string_view name) {
  std::erase_if(object.members,
                [&](const auto& member) { return member.name == name; });
}

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
cmi5::StatementFacts FactsOf(const JsonValue& s, bool hasId) {
  cmi5::StatementFacts facts;
  facts.hasId = hasId;
  if (const std::string* timestamp = Text(s.find("timestamp")))
    facts.timestamp = *timestamp;
  const JsonValue& actor = *s.find("actor");
  if (const std::string* type = Text(actor.find("objectType")))
    facts.actorObjectType = *type;
  if (const JsonValue* account = actor.find("account")) {
    facts.account = cmi5::Actor{account->find("homePage")->text,
                                account->find("name")->text};
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
      facts.score =
          cmi5::Score{get("scaled"), get("raw"), get("min"), get("max")};
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
    const std::string key(cmi5::kSessionIdExtension);
    if (const std::string* session = Text(extensions->find(key)))
      facts.sessionId = *session;
    if (const JsonValue* mastery =
            extensions->find(cmi5::kMasteryScoreExtension)) {
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
  std::string type = Lower(contentType.substr(0, contentType.find(';')));
  while (!type.empty() && type.back() == ' ') type.pop_back();
  return type;
}

std::string Etag(const std::string& body) {
  return "\"" + Sha256Hex(body) + "\"";
}

// Whether an If-Match / If-None-Match list names etag ("*" names any).
bool Names(const std::string& list, const std::string& etag) {
  std::size_t at = 0;
  while (at < list.size()) {
    std::size_t end = list.find(',', at);
    if (end == list.npos) end = list.size();
    std::string_view tag(list.data() + at, end - at);
    while (!tag.empty() && tag.front() == ' ') tag.remove_prefix(1);
    while (!tag.empty() && tag.back() == ' ') tag.remove_suffix(1);
    if (tag.starts_with("W/")) tag.remove_prefix(2);
    if (tag == "*" || tag == etag) return true;
    at = end + 1;
  }
  return false;
}

// Why a learner preferences document is not one: a JSON object whose
// languagePreference lists language tags, comma-separated, and whose
// audioPreference is "on" or "off". "" when it is one.
std::string PreferencesFault(const std::string& contentType,
                             const std::string& body) {
  if (MediaType(contentType) != "application/json")
    return "learner preferences are JSON";
  const JsonParse parse = ParseJson(body);
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

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// s, a valid statement with its id, as the store keeps it: with what the
// LRS sets itself ("stored", and "timestamp" when missing) and what queries
// filter on. canonical: s as it was sent.
NewStatement Kept(JsonValue& s, std::int64_t now,
                  const std::string& canonical) {
  NewStatement statement;
  statement.verb = s.find("verb")->find("id")->text;
  const JsonValue& object = *s.find("object");
  const std::string* type = Text(object.find("objectType"));
  if (type && (*type == "Agent" || *type == "Group"))
    statement.objectAgentKey = AgentKey(object);
  if (!type || *type == "Activity")
    statement.activity = object.find("id")->text;
  statement.actorKey = AgentKey(*s.find("actor"));
  if (const JsonValue* context = s.find("context")) {
    if (const std::string* registration = Text(context->find("registration")))
      statement.registration = Lower(*registration);
  }
  // From here on the members move: nothing above may be read again.
  Remove(s, "stored");
  if (!s.find("timestamp")) Set(s, "timestamp", String(TimestampOfMs(now)));
  statement.outgoing = {s.find("id")->text, WriteJson(s)};
  if (!s.find("version")) Set(s, "version", String("1.0.0"));
  Set(s, "stored", String(TimestampOfMs(now)));
  statement.json = WriteJson(s);
  statement.canonical = canonical;
  statement.storedMs = now;
  return statement;
}

}  // namespace

std::string LrsAnswer::header(std::string_view name) const {
  return HeaderOf(headers, name);
}

std::string AgentKey(const JsonValue& agent) {
  if (const std::string* mbox = Text(agent.find("mbox")))
    return "mbox:" + *mbox;
  if (const std::string* sha1 = Text(agent.find("mbox_sha1sum")))
    return "mbox_sha1sum:" + Lower(*sha1);
  if (const std::string* openid = Text(agent.find("openid")))
    return "openid:" + *openid;
  if (const JsonValue* account = agent.find("account")) {
    const std::string* home = Text(account->find("homePage"));
    const std::string* name = Text(account->find("name"));
    if (home && name) return "account:" + *home + " " + *name;
  }
  return "";
}

std::string TimestampOfMs(std::int64_t ms) {
  const std::int64_t days = (ms >= 0 ? ms : ms - 86399999) / 86400000;
  const std::int64_t inDay = ms - days * 86400000;
  // civil_from_days
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year =
      static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2);
  char out[40];
  std::snprintf(
      out, sizeof out, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ",
      static_cast<long long>(year), month, day,
      static_cast<int>(inDay / 3600000), static_cast<int>(inDay / 60000 % 60),
      static_cast<int>(inDay / 1000 % 60), static_cast<int>(inDay % 1000));
  return out;
}

std::optional<std::int64_t> MsOfTimestamp(std::string_view t) {
  if (!IsTimestamp(t)) return std::nullopt;
  const auto n = [&](std::size_t at, std::size_t length) {
    std::int64_t v = 0;
    for (std::size_t i = at; i < at + length; ++i) v = v * 10 + (t[i] - '0');
    return v;
  };
  std::int64_t ms = DaysFromCivil(n(0, 4), static_cast<unsigned>(n(5, 2)),
                                  static_cast<unsigned>(n(8, 2))) *
                        86400000 +
                    n(11, 2) * 3600000 + n(14, 2) * 60000 + n(17, 2) * 1000;
  std::size_t at = 19;
  if (at < t.size() && t[at] == '.') {
    std::int64_t scale = 100;
    for (++at; at < t.size() && std::isdigit(static_cast<unsigned char>(t[at]));
         ++at, scale /= 10)
      ms += (t[at] - '0') * scale;
  }
  if (at < t.size() && (t[at] == '+' || t[at] == '-')) {
    const std::int64_t offset = (n(at + 1, 2) * 60 + n(at + 4, 2)) * 60000;
    ms += t[at] == '+' ? -offset : offset;
  }
  return ms;
}

ContentLrs::ContentLrs(LrsStore& store, ContentLrsOptions options)
    : store_(store), options_(std::move(options)) {
  if (!options_.nowMs) {
    options_.nowMs = [] {
      using namespace std::chrono;
      return duration_cast<milliseconds>(system_clock::now().time_since_epoch())
          .count();
    };
  }
  if (!options_.newId) options_.newId = NewUuid;
}

void ContentLrs::setSession(std::optional<Cmi5Session> session) {
  session_ = std::move(session);
}

LrsAnswer ContentLrs::handle(const LrsRequest& request) {
  std::string_view path = request.path;
  while (path.starts_with('/')) path.remove_prefix(1);
  while (path.ends_with('/')) path.remove_suffix(1);
  LrsAnswer answer;
  try {
    if (path == "about") {
      answer =
          request.method == "GET"
              ? Answer(200, std::string("{\"version\":[\"") + kVersion + "\"]}")
              : Refuse(405, "about is only read");
    } else if (const std::string version =
                   HeaderOf(request.headers, "X-Experience-API-Version");
               version.empty()) {
      answer = Refuse(400, "the X-Experience-API-Version header is missing");
    } else if (version != "1.0" && !version.starts_with("1.0.")) {
      answer = Refuse(400, "xAPI version " + version + " is not supported");
    } else if (path == "statements") {
      answer = statements(request);
    } else if (path == "activities/state") {
      answer = documents(request, DocumentKind::kState);
    } else if (path == "activities/profile") {
      answer = documents(request, DocumentKind::kActivityProfile);
    } else if (path == "agents/profile") {
      answer = documents(request, DocumentKind::kAgentProfile);
    } else {
      answer = Refuse(404, "no resource " + std::string(path));
    }
  } catch (const EZeptError& error) {
    // Nothing was kept: the content may try again.
    answer = Refuse(500, std::string("not stored: ") + error.what());
  }
  answer.headers.emplace_back("X-Experience-API-Version", kVersion);
  return answer;
}

LrsAnswer ContentLrs::statements(const LrsRequest& request) {
  const std::optional<Params> params = ParseQuery(request.query);
  if (!params) return Refuse(400, "the query is not well formed");
  const std::string statementId = Param(*params, "statementId");
  const std::int64_t now = options_.nowMs();

  if (request.method == "GET") {
    if (std::string fault = UnknownParam(
            *params,
            {"statementId", "voidedStatementId", "agent", "verb", "activity",
             "registration", "related_activities", "related_agents", "since",
             "until", "limit", "format", "attachments", "ascending"});
        !fault.empty())
      return Refuse(400, fault);
    const std::string voidedId = Param(*params, "voidedStatementId");
    if (!statementId.empty() || !voidedId.empty()) {
      const std::string& id = statementId.empty() ? voidedId : statementId;
      // One statement is asked for by its id alone.
      if (std::string fault = UnknownParam(
              *params,
              {statementId.empty() ? "voidedStatementId" : "statementId",
               "format", "attachments"});
          !fault.empty())
        return Refuse(400, fault + " with a statement's id");
      const std::optional<StoredStatement> found = store_.statement(id);
      const bool wantVoided = !voidedId.empty();
      if (!found || !found->ours || found->voided != wantVoided)
        return Refuse(404, "no statement " + id);
      return Answer(200, found->json);
    }
    StatementFilter filter;
    if (std::string agent = Param(*params, "agent"); !agent.empty()) {
      const JsonParse parse = ParseJson(agent);
      if (!parse.ok()) return Refuse(400, "agent is not JSON: " + parse.error);
      if (std::string fault = ActorFault(parse.value); !fault.empty())
        return Refuse(400, fault);
      filter.agentKey = AgentKey(parse.value);
      if (filter.agentKey.empty())
        return Refuse(400, "agent has no identifier");
    }
    filter.verb = Param(*params, "verb");
    filter.activity = Param(*params, "activity");
    filter.registration = Lower(Param(*params, "registration"));
    if (!filter.registration.empty() && !IsUuid(filter.registration))
      return Refuse(400, "registration is not a UUID");
    for (const auto& [name, bound] :
         {std::pair{"since", &filter.since}, {"until", &filter.until}}) {
      const std::string text = Param(*params, name);
      if (text.empty()) continue;
      *bound = MsOfTimestamp(text);
      if (!*bound) return Refuse(400, std::string(name) + " is no timestamp");
    }
    if (std::string limit = Param(*params, "limit"); !limit.empty()) {
      if (limit.size() > 9 || !AllDigits(limit))
        return Refuse(400, "limit is not a whole number");
      filter.limit = std::stoul(limit);
    }
    filter.ascending = Param(*params, "ascending") == "true";
    std::string body = "{\"statements\":[";
    bool first = true;
    for (const std::string& json : store_.statements(filter)) {
      if (!first) body += ',';
      first = false;
      body += json;
    }
    body += "],\"more\":\"\"}";
    LrsAnswer answer = Answer(200, std::move(body));
    answer.headers.emplace_back("X-Experience-API-Consistent-Through",
                                TimestampOfMs(now));
    return answer;
  }

  const bool put = request.method == "PUT";
  if (!put && request.method != "POST")
    return Refuse(405, request.method + " is not a method of statements");
  if (std::string fault = UnknownParam(*params, {"statementId"});
      !fault.empty())
    return Refuse(400, fault);
  if (put && !IsUuid(statementId))
    return Refuse(400, "a PUT of a statement needs its statementId, a UUID");
  if (!put && !statementId.empty())
    return Refuse(400, "a POST of statements takes no statementId");
  if (MediaType(HeaderOf(request.headers, "Content-Type")) == "multipart/mixed")
    return Refuse(400, "statements with attachment data are not taken here");
  JsonParse parse = ParseJson(request.body);
  if (!parse.ok()) return Refuse(400, "the body is not JSON: " + parse.error);
  std::vector<JsonValue> sent;
  if (!put && parse.value.is(JsonType::kArray)) {
    sent = std::move(parse.value.items);
  } else {
    sent.push_back(std::move(parse.value));
  }

  if (session_ && !session_->preferencesRead)
    return Refuse(403,
                  "the AU sends statements only once it has read the "
                  "learner preferences");
  std::vector<NewStatement> added;
  std::vector<std::string> ids;
  std::set<std::string> seen;
  std::optional<cmi5::SessionState> state;
  if (session_) state = session_->state;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    JsonValue& s = sent[i];
    const std::string where =
        sent.size() > 1 ? "statement " + std::to_string(i) + ": " : "";
    if (!s.is(JsonType::kObject))
      return Refuse(400, where + "a statement is a JSON object");
    const bool hasId = s.find("id") || put;
    if (put) {
      const std::string* id = Text(s.find("id"));
      if (s.find("id") && (!id || Lower(*id) != Lower(statementId)))
        return Refuse(400, "the statement's id is not the statementId");
      if (!s.find("id"))
        s.members.insert(s.members.begin(), {"id", String(statementId)});
    }
    if (std::string fault = StatementFault(s); !fault.empty())
      return Refuse(400, where + fault);
    if (!s.find("id"))
      s.members.insert(s.members.begin(), {"id", String(options_.newId())});
    const std::string id = Lower(s.find("id")->text);
    ids.push_back(s.find("id")->text);
    const std::string canonical = CanonicalText(s);
    if (!seen.insert(id).second)
      return Refuse(400, where + "the id " + id + " is given twice");
    if (const auto stored = store_.statement(s.find("id")->text)) {
      // Sent again (the answer was lost): kept once, and said so. Once the
      // session has ended only its "terminated" may come again; anything
      // else is refused as it would be if new.
      const bool ended = state && (state->phase == cmi5::Phase::kTerminated ||
                                   state->phase == cmi5::Phase::kAbandoned);
      const bool same = stored->ours && stored->canonical == canonical;
      if (same && (!ended || s.find("verb")->find("id")->text ==
                                 cmi5::Info(cmi5::Verb::kTerminated).iri))
        continue;
      if (same)
        return Refuse(403, where + (state->phase == cmi5::Phase::kTerminated
                                        ? "the session ended with "
                                          "\"terminated\""
                                        : "the session was abandoned"));
      return Refuse(409, where + "another statement has the id " + id);
    }

    const JsonValue& object = *s.find("object");
    const std::string* objectType = Text(object.find("objectType"));
    std::string voids;
    if (s.find("verb")->find("id")->text == kVoided) {
      if (!objectType || *objectType != "StatementRef")
        return Refuse(400, where +
                               "a voiding statement's object is a "
                               "StatementRef");
      voids = object.find("id")->text;
      const auto target = store_.statement(voids);
      if (target && target->voiding)
        return Refuse(400, where + "a voiding statement cannot be voided");
    }
    if (state) {
      const cmi5::Verdict verdict =
          cmi5::Judge(session_->launch, *state, FactsOf(s, hasId));
      if (!verdict.accepted) return Refuse(403, where + verdict.reason);
      state = verdict.state;
    }

    NewStatement statement = Kept(s, now, canonical);
    statement.voids = voids;
    added.push_back(std::move(statement));
  }
  if (!added.empty()) store_.addStatements(added);
  if (state) session_->state = *state;
  if (put) return Answer(204);
  std::string body = "[";
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i) body += ',';
    body += WriteJson(String(ids[i]));
  }
  return Answer(200, body + "]");
}

void ContentLrs::record(const std::vector<Statement>& statements) {
  std::vector<NewStatement> added;
  const std::int64_t now = options_.nowMs();
  for (const Statement& statement : statements) {
    JsonParse parse = ParseJson(statement.json);
    std::string fault = parse.ok() ? StatementFault(parse.value) : parse.error;
    const std::string* id = parse.ok() ? Text(parse.value.find("id")) : nullptr;
    if (fault.empty() && (!id || *id != statement.id))
      fault = "its id is not " + statement.id;
    if (!fault.empty()) {
      throw EZeptError("zept's own statement " + statement.id +
                       " is not valid: " + fault);
    }
    const std::string canonical = CanonicalText(parse.value);
    if (const auto stored = store_.statement(statement.id)) {
      if (stored->canonical == canonical) continue;
      throw EZeptError("another statement has the id " + statement.id);
    }
    added.push_back(Kept(parse.value, now, canonical));
  }
  if (!added.empty()) store_.addStatements(added);
}

void ContentLrs::writeDocument(const DocumentKey& key,
                               const std::string& contentType,
                               const std::string& body) {
  store_.putDocument(key, {contentType, body, Etag(body), options_.nowMs()});
}

LrsAnswer ContentLrs::documents(const LrsRequest& request, DocumentKind kind) {
  const std::optional<Params> params = ParseQuery(request.query);
  if (!params) return Refuse(400, "the query is not well formed");
  const bool state = kind == DocumentKind::kState;
  const char* idName = state ? "stateId" : "profileId";
  std::string fault =
      state ? UnknownParam(*params, {"activityId", "agent", "registration",
                                     "stateId", "since"})
      : kind == DocumentKind::kActivityProfile
          ? UnknownParam(*params, {"activityId", "profileId", "since"})
          : UnknownParam(*params, {"agent", "profileId", "since"});
  if (!fault.empty()) return Refuse(400, fault);

  DocumentKey key;
  key.kind = kind;
  key.id = Param(*params, idName);
  if (kind != DocumentKind::kAgentProfile) {
    key.activity = Param(*params, "activityId");
    if (!IsIri(key.activity))
      return Refuse(400, "activityId is missing or not an IRI");
  }
  if (kind != DocumentKind::kActivityProfile) {
    const JsonParse agent = ParseJson(Param(*params, "agent"));
    if (!agent.ok()) return Refuse(400, "agent is missing or not JSON");
    if (std::string bad = ActorFault(agent.value); !bad.empty())
      return Refuse(400, bad);
    key.agent = AgentKey(agent.value);
    if (key.agent.empty()) return Refuse(400, "agent has no identifier");
  }
  if (state) {
    key.registration = Lower(Param(*params, "registration"));
    if (!key.registration.empty() && !IsUuid(key.registration))
      return Refuse(400, "registration is not a UUID");
  }
  const std::string& method = request.method;
  // The launch data is the LMS's: an AU reads it and never changes it.
  if (state && method != "GET" && method != "HEAD" &&
      (key.id == cmi5::kLaunchDataStateId ||
       (key.id.empty() && method == "DELETE")) &&
      session_)
    return Refuse(403, "the LMS's launch data is not the AU's to change");

  if (method == "GET" && key.id.empty()) {
    std::optional<std::int64_t> since;
    if (const std::string text = Param(*params, "since"); !text.empty()) {
      since = MsOfTimestamp(text);
      if (!since) return Refuse(400, "since is no timestamp");
    }
    JsonValue list;
    list.type = JsonType::kArray;
    for (std::string& id : store_.documentIds(key, since))
      list.items.push_back(String(std::move(id)));
    return Answer(200, WriteJson(list));
  }
  if (params->count("since")) return Refuse(400, "since only lists documents");
  if (key.id.empty() && !(method == "DELETE" && state))
    return Refuse(400, std::string(idName) + " is missing");

  if (method == "DELETE" && key.id.empty()) {
    store_.deleteDocuments(key);
    return Answer(204);
  }
  const bool preferences = kind == DocumentKind::kAgentProfile &&
                           key.id == cmi5::kLearnerPreferencesProfileId &&
                           session_;
  if (preferences && method != "GET" && method != "HEAD") {
    const JsonParse actor = ParseJson(cmi5::ActorJson(session_->launch.actor));
    if (key.agent != AgentKey(actor.value))
      return Refuse(403, "the learner preferences are the launch actor's");
    if (method == "PUT") {
      if (std::string fault = PreferencesFault(
              HeaderOf(request.headers, "Content-Type"), request.body);
          !fault.empty())
        return Refuse(403, fault);
    }
  }
  const std::optional<Document> existing = store_.document(key);
  if (method == "GET") {
    if (preferences) session_->preferencesRead = true;
    if (!existing) return Refuse(404, "no document " + key.id);
    LrsAnswer answer = Answer(200, existing->body, existing->contentType);
    if (existing->body.empty())
      answer.headers.emplace_back("Content-Type", existing->contentType);
    answer.headers.emplace_back("ETag", existing->etag);
    answer.headers.emplace_back("Last-Modified",
                                TimestampOfMs(existing->updatedMs));
    return answer;
  }
  if (method != "PUT" && method != "POST" && method != "DELETE")
    return Refuse(405, method + " is not a method of documents");

  // Concurrency: a client that read a document says which version it
  // changes; a profile is never overwritten blind.
  const std::string ifMatch = HeaderOf(request.headers, "If-Match");
  const std::string ifNoneMatch = HeaderOf(request.headers, "If-None-Match");
  if (!ifMatch.empty() && (!existing || !Names(ifMatch, existing->etag)))
    return Refuse(412, "the document is not the version If-Match names");
  if (!ifNoneMatch.empty() && existing && Names(ifNoneMatch, existing->etag))
    return Refuse(412, "the document exists (If-None-Match)");
  if (!state && method == "PUT" && existing && ifMatch.empty() &&
      ifNoneMatch.empty())
    return Refuse(409, "the profile exists: send If-Match with its ETag");

  if (method == "DELETE") {
    store_.deleteDocuments(key);
    return Answer(204);
  }
  if (request.body.size() > kMaxDocumentBytes)
    return Refuse(413, "a document is at most 16 MiB");
  Document document;
  document.contentType = HeaderOf(request.headers, "Content-Type");
  if (document.contentType.empty())
    document.contentType = "application/octet-stream";
  document.body = request.body;
  if (method == "POST" && existing) {
    // Both JSON objects: the new one's members replace or join the old's.
    const bool json = MediaType(document.contentType) == "application/json" &&
                      MediaType(existing->contentType) == "application/json";
    JsonParse old = ParseJson(existing->body);
    const JsonParse added = ParseJson(request.body);
    if (!json || !old.ok() || !added.ok() || !old.value.is(JsonType::kObject) ||
        !added.value.is(JsonType::kObject))
      return Refuse(400, "a POST merges JSON objects only");
    for (const auto& [name, value] : added.value.members)
      Set(old.value, name, value);
    document.body = WriteJson(old.value);
    document.contentType = existing->contentType;
  }
  if (preferences) {
    if (std::string fault =
            PreferencesFault(document.contentType, document.body);
        !fault.empty())
      return Refuse(403, fault);
  }
  document.etag = Etag(document.body);
  document.updatedMs = options_.nowMs();
  store_.putDocument(key, document);
  LrsAnswer answer = Answer(204);
  answer.headers.emplace_back("ETag", document.etag);
  return answer;
}

}  // namespace zept::xapi
