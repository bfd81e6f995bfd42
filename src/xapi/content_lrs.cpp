#include "xapi/content_lrs.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <set>

#include "platform/errors.h"
#include "util/sha1.h"
#include "util/sha256.h"
#include "util/utf8.h"
#include "xapi/multipart.h"
#include "xapi/statement_check.h"
#include "xapi/statements.h"

namespace zept::xapi {
namespace {

constexpr char kVersion[] = "1.0.3";
constexpr char kVoided[] = "http://adlnet.gov/expapi/verbs/voided";
// Parameters of ours in a "more" link: where the page starts, and the
// last stored time the first page saw, so later pages see the same set.
constexpr char kPageParam[] = "page";
constexpr char kThroughParam[] = "through";

using Params = std::map<std::string, std::string>;

LrsAnswer Answer(int status, std::string body = {},
                 std::string contentType = "application/json") {
  LrsAnswer answer;
  answer.status = status;
  if (!body.empty()) answer.headers.emplace_back("Content-Type", contentType);
  answer.body = std::move(body);
  return answer;
}

LrsAnswer Refuse(int status, const std::string& reason) {
  return Answer(status, reason, "text/plain; charset=utf-8");
}

// A bound refused the request: said to the content and to the journal.
LrsAnswer OverBound(const std::string& reason) {
  LrsAnswer answer = Refuse(413, reason);
  answer.journal = "zept's LRS refused a request: " + reason;
  return answer;
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

std::string MediaType(const std::string& contentType) {
  std::string type = Lower(contentType.substr(0, contentType.find(';')));
  while (!type.empty() && type.back() == ' ') type.pop_back();
  return type;
}

std::string Etag(const std::string& body) {
  return "\"" + Sha1Hex(body) + "\"";
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

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void ContextActivitiesAsArrays(JsonValue& s);

// s, a valid statement with its id, as the store keeps it: with what the
// LRS sets itself ("stored", and "timestamp" when missing) and what queries
// filter on. canonical: s as it was sent.
NewStatement Kept(JsonValue& s, std::int64_t now, const std::string& canonical,
                  const JsonValue* authority = nullptr) {
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
  if (authority && !s.find("authority")) Set(s, "authority", *authority);
  ContextActivitiesAsArrays(s);
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
  if (!IsTimestampShape(t, false)) return std::nullopt;
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
  if (at < t.size() && (t[at] == '+' || t[at] == '-') && t.size() >= at + 6) {
    const std::int64_t offset = (n(at + 1, 2) * 60 + n(at + 4, 2)) * 60000;
    ms += t[at] == '+' ? -offset : offset;
  }
  return ms;
}

namespace {

// What a GET of statements filters on besides since and until; each part
// "" (or false) when not asked for.
struct Query {
  std::string agentKey, verb, activity, registration;
  bool relatedActivities = false, relatedAgents = false;
  bool empty() const {
    return agentKey.empty() && verb.empty() && activity.empty() &&
           registration.empty();
  }
};

bool IsAgentOrGroup(const JsonValue& value) {
  const std::string* type = Text(value.find("objectType"));
  return type && (*type == "Agent" || *type == "Group");
}

// Whether key names actor, an Agent or Group, or one of a Group's members.
bool NamesAgent(const JsonValue* actor, const std::string& key, bool members) {
  if (!actor || !actor->is(JsonType::kObject)) return false;
  if (AgentKey(*actor) == key) return true;
  if (!members) return false;
  if (const JsonValue* list = actor->find("member"))
    for (const JsonValue& member : list->items)
      if (AgentKey(member) == key) return true;
  return false;
}

bool HasActivity(const JsonValue* list, const std::string& id) {
  if (!list) return false;
  if (list->is(JsonType::kObject)) {
    const std::string* found = Text(list->find("id"));
    return found && *found == id;
  }
  for (const JsonValue& activity : list->items)
    if (const std::string* found = Text(activity.find("id"));
        found && *found == id)
      return true;
  return false;
}

// The parts of a statement (or sub-statement) the filters look at.
bool ActivityMatches(const JsonValue& s, const Query& q) {
  const JsonValue* object = s.find("object");
  if (object) {
    const std::string* type = Text(object->find("objectType"));
    const std::string* id = Text(object->find("id"));
    if ((!type || *type == "Activity") && id && *id == q.activity) return true;
  }
  if (!q.relatedActivities) return false;
  if (const JsonValue* context = s.find("context")) {
    if (const JsonValue* lists = context->find("contextActivities"))
      for (const auto& member : lists->members)
        if (HasActivity(&member.value, q.activity)) return true;
  }
  const std::string* type = object ? Text(object->find("objectType")) : nullptr;
  return type && *type == "SubStatement" && ActivityMatches(*object, q);
}

bool AgentMatches(const JsonValue& s, const Query& q) {
  const bool related = q.relatedAgents;
  if (NamesAgent(s.find("actor"), q.agentKey, related)) return true;
  const JsonValue* object = s.find("object");
  if (object && IsAgentOrGroup(*object) &&
      NamesAgent(object, q.agentKey, related))
    return true;
  if (!related) return false;
  if (NamesAgent(s.find("authority"), q.agentKey, true)) return true;
  if (const JsonValue* context = s.find("context")) {
    if (NamesAgent(context->find("instructor"), q.agentKey, true) ||
        NamesAgent(context->find("team"), q.agentKey, true))
      return true;
  }
  const std::string* type = object ? Text(object->find("objectType")) : nullptr;
  return type && *type == "SubStatement" && AgentMatches(*object, q);
}

bool Matches(const JsonValue& s, const Query& q) {
  if (!q.verb.empty()) {
    const JsonValue* verb = s.find("verb");
    const std::string* id = verb ? Text(verb->find("id")) : nullptr;
    if (!id || *id != q.verb) return false;
  }
  if (!q.registration.empty()) {
    const JsonValue* context = s.find("context");
    const std::string* registration =
        context ? Text(context->find("registration")) : nullptr;
    if (!registration || Lower(*registration) != q.registration) return false;
  }
  if (!q.activity.empty() && !ActivityMatches(s, q)) return false;
  if (!q.agentKey.empty() && !AgentMatches(s, q)) return false;
  return true;
}

// An Agent or Group reduced to what identifies it (format=ids): its
// identifier, or an anonymous Group's members by theirs.
JsonValue AgentIds(const JsonValue& agent) {
  JsonValue out;
  out.type = JsonType::kObject;
  for (const auto& member : agent.members) {
    if (member.name == "objectType" || member.name == "mbox" ||
        member.name == "mbox_sha1sum" || member.name == "openid" ||
        member.name == "account")
      out.members.push_back(member);
  }
  if (AgentKey(agent).empty()) {
    if (const JsonValue* list = agent.find("member")) {
      JsonValue members;
      members.type = JsonType::kArray;
      for (const JsonValue& one : list->items)
        members.items.push_back(AgentIds(one));
      out.members.push_back({"member", std::move(members)});
    }
  }
  return out;
}

JsonValue ActivityIdOnly(const JsonValue& activity) {
  JsonValue out;
  out.type = JsonType::kObject;
  if (const JsonValue* id = activity.find("id"))
    out.members.push_back({"id", *id});
  return out;
}

// The languages of an Accept-Language header, most wanted first.
std::vector<std::string> AcceptedLanguages(const std::string& header) {
  std::vector<std::pair<double, std::string>> ranked;
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t end = header.find(',', at);
    if (end == std::string::npos) end = header.size();
    std::string part = header.substr(at, end - at);
    at = end + 1;
    double q = 1;
    if (const std::size_t semi = part.find(';'); semi != std::string::npos) {
      const std::size_t eq = part.find("q=", semi);
      if (eq != std::string::npos) q = std::atof(part.c_str() + eq + 2);
      part.erase(semi);
    }
    part.erase(0, part.find_first_not_of(' '));
    while (!part.empty() && part.back() == ' ') part.pop_back();
    if (!part.empty() && q > 0) ranked.emplace_back(q, Lower(part));
  }
  std::stable_sort(
      ranked.begin(), ranked.end(),
      [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> languages;
  for (auto& [q, tag] : ranked) languages.push_back(std::move(tag));
  return languages;
}

bool IsLanguageMap(const JsonValue& value) {
  if (!value.is(JsonType::kObject) || value.members.empty()) return false;
  for (const auto& member : value.members)
    if (!member.value.is(JsonType::kString) || !IsLanguageTag(member.name))
      return false;
  return true;
}

// format=canonical: each language map keeps the one entry the reader
// prefers (its Accept-Language), else its first.
void ReduceLanguages(JsonValue& value,
                     const std::vector<std::string>& languages) {
  for (JsonValue& item : value.items) ReduceLanguages(item, languages);
  for (auto& member : value.members) {
    const bool map = (member.name == "display" || member.name == "name" ||
                      member.name == "description") &&
                     IsLanguageMap(member.value);
    if (!map) {
      ReduceLanguages(member.value, languages);
      continue;
    }
    auto& entries = member.value.members;
    std::size_t chosen = 0;
    bool found = false;
    for (const std::string& wanted : languages) {
      for (std::size_t i = 0; i < entries.size() && !found; ++i) {
        const std::string tag = Lower(entries[i].name);
        if (wanted == "*" || tag == wanted ||
            tag.substr(0, tag.find('-')) == wanted) {
          chosen = i;
          found = true;
        }
      }
      if (found) break;
    }
    JsonMember kept = std::move(entries[chosen]);
    entries.clear();
    entries.push_back(std::move(kept));
  }
}

// Context activities are answered as arrays, however they were sent.
void ContextActivitiesAsArrays(JsonValue& s) {
  if (JsonValue* context = s.find("context")) {
    if (JsonValue* lists = context->find("contextActivities")) {
      for (auto& member : lists->members) {
        if (!member.value.is(JsonType::kObject)) continue;
        JsonValue list;
        list.type = JsonType::kArray;
        list.items.push_back(std::move(member.value));
        member.value = std::move(list);
      }
    }
  }
  JsonValue* object = s.find("object");
  const std::string* type = object ? Text(object->find("objectType")) : nullptr;
  if (type && *type == "SubStatement") ContextActivitiesAsArrays(*object);
}

void ReduceToIds(JsonValue& s) {
  if (JsonValue* actor = s.find("actor")) *actor = AgentIds(*actor);
  if (JsonValue* authority = s.find("authority"))
    *authority = AgentIds(*authority);
  if (JsonValue* verb = s.find("verb")) {
    if (const JsonValue* id = verb->find("id")) {
      JsonValue only;
      only.type = JsonType::kObject;
      only.members.push_back({"id", *id});
      *verb = std::move(only);
    }
  }
  if (JsonValue* object = s.find("object")) {
    const std::string* type = Text(object->find("objectType"));
    if (!type || *type == "Activity") {
      *object = ActivityIdOnly(*object);
    } else if (*type == "Agent" || *type == "Group") {
      *object = AgentIds(*object);
    } else if (*type == "SubStatement") {
      ReduceToIds(*object);
    }
  }
  if (JsonValue* context = s.find("context")) {
    if (JsonValue* instructor = context->find("instructor"))
      *instructor = AgentIds(*instructor);
    if (JsonValue* team = context->find("team")) *team = AgentIds(*team);
    if (JsonValue* lists = context->find("contextActivities")) {
      for (auto& member : lists->members) {
        if (member.value.is(JsonType::kArray)) {
          for (JsonValue& activity : member.value.items)
            activity = ActivityIdOnly(activity);
        } else if (member.value.is(JsonType::kObject)) {
          member.value = ActivityIdOnly(member.value);
        }
      }
    }
  }
}

std::optional<std::string> Base64UrlDecode(std::string_view text) {
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '-' || c == '+')
      v = 62;
    else if (c == '_' || c == '/')
      v = 63;
    else if (c == '=')
      break;
    else
      return std::nullopt;
    buffer = buffer << 6 | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>(buffer >> bits & 0xFF);
    }
  }
  return out;
}

constexpr char kSignatureUsage[] =
    "http://adlnet.gov/expapi/attachments/signature";

// Why jws is not a signature of statement as xAPI has them: a compact JWS
// by RS256, RS384 or RS512 whose payload is the statement as signed. The
// RSA signature itself is not verified: that needs the signer's key.
std::string SignatureFault(const std::string& jws, const JsonValue& statement) {
  const std::size_t first = jws.find('.');
  const std::size_t second =
      first == std::string::npos ? first : jws.find('.', first + 1);
  if (second == std::string::npos || jws.find('.', second + 1) != jws.npos)
    return "the signature is not a compact JWS";
  const auto header = Base64UrlDecode(std::string_view(jws).substr(0, first));
  const auto payload = Base64UrlDecode(
      std::string_view(jws).substr(first + 1, second - first - 1));
  const JsonParse head = ParseJson(header.value_or(""));
  if (!head.ok() || !head.value.is(JsonType::kObject))
    return "the signature's header is not JSON";
  const std::string* alg = Text(head.value.find("alg"));
  if (!alg || (*alg != "RS256" && *alg != "RS384" && *alg != "RS512"))
    return "the signature's algorithm is not RS256, RS384 or RS512";
  const JsonParse signedStatement = ParseJson(payload.value_or(""));
  if (!signedStatement.ok() || !signedStatement.value.is(JsonType::kObject))
    return "the signature's payload is not a statement in JSON";
  for (const char* name : {"actor", "verb", "object"}) {
    const JsonValue* mine = statement.find(name);
    const JsonValue* theirs = signedStatement.value.find(name);
    if (!mine || !theirs || CanonicalText(*mine) != CanonicalText(*theirs))
      return std::string("the signature's payload differs in ") + name;
  }
  return "";
}

// A query's value put back in a link.
std::string QueryOf(const Params& params) {
  std::string out;
  for (const auto& [name, value] : params) {
    if (!out.empty()) out += '&';
    out += PercentEncode(name) + "=" + PercentEncode(value);
  }
  return out;
}

bool IsBoolText(const std::string& text) {
  return text.empty() || text == "true" || text == "false";
}

// The names the alternate request syntax carries as headers.
constexpr std::string_view kFormHeaders[] = {
    "authorization", "x-experience-api-version",
    "content-type",  "content-length",
    "if-match",      "if-none-match"};

}  // namespace

LrsAnswer RefuseRequest(int status, const std::string& reason) {
  return Refuse(status, reason);
}

LrsRequest PlainRequest(const LrsRequest& request, std::string* fault) {
  const auto fail = [&](const std::string& why) {
    if (fault) *fault = why;
    return request;
  };
  if (fault) fault->clear();
  const std::optional<Params> params = ParseQuery(request.query);
  if (!params || !params->count("method")) return request;
  if (request.method != "POST")
    return fail("the alternate request syntax is a POST");
  if (params->size() != 1)
    return fail(
        "the alternate request syntax takes no parameter but method in the "
        "query");
  const std::string method = Param(*params, "method");
  if (method != "GET" && method != "PUT" && method != "POST" &&
      method != "DELETE" && method != "HEAD")
    return fail("method " + method + " is not one of xAPI's");
  if (MediaType(HeaderOf(request.headers, "Content-Type")) !=
      "application/x-www-form-urlencoded")
    return fail(
        "the alternate request syntax sends a form "
        "(application/x-www-form-urlencoded)");
  const std::optional<Params> form = ParseQuery(request.body);
  if (!form) return fail("the form is not well formed");
  LrsRequest plain;
  plain.method = method;
  plain.path = request.path;
  Params query;
  for (const auto& [name, value] : *form) {
    const std::string lower = Lower(name);
    if (lower == "content") {
      plain.body = value;
    } else if (std::find(std::begin(kFormHeaders), std::end(kFormHeaders),
                         lower) != std::end(kFormHeaders)) {
      plain.headers.emplace_back(name, value);
    } else {
      query.emplace(name, value);
    }
  }
  // Headers sent as headers count too, unless the form gives them.
  for (const auto& [name, value] : request.headers) {
    const std::string lower = Lower(name);
    if (lower == "content-type" || lower == "content-length") continue;
    if (HeaderOf(plain.headers, lower).empty())
      plain.headers.emplace_back(name, value);
  }
  plain.query = QueryOf(query);
  return plain;
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
  if (!options_.authority.empty()) {
    JsonParse authority = ParseJson(options_.authority);
    if (authority.ok() && ActorFault(authority.value).empty())
      authority_ = std::move(authority.value);
  }
}

std::int64_t& ContentLrs::bytesKept() {
  if (!bytesKept_) bytesKept_ = store_.bytes();
  return *bytesKept_;
}

LrsAnswer ContentLrs::handle(const LrsRequest& asked) {
  std::string alternateFault;
  const LrsRequest request = PlainRequest(asked, &alternateFault);
  std::string_view path = request.path;
  while (path.starts_with('/')) path.remove_prefix(1);
  while (path.ends_with('/')) path.remove_suffix(1);
  // HEAD is a GET whose body is left out.
  const bool head = request.method == "HEAD";
  head_ = head;
  LrsRequest get;
  if (head) {
    get = request;
    get.method = "GET";
  }
  const LrsRequest& r = head ? get : request;
  LrsAnswer answer;
  try {
    if (!alternateFault.empty()) {
      answer = Refuse(400, alternateFault);
    } else if (path == "about") {
      answer =
          r.method == "GET"
              ? Answer(200, std::string("{\"version\":[\"") + kVersion + "\"]}")
              : Refuse(405, "about is only read");
    } else if (const std::string version =
                   HeaderOf(r.headers, "X-Experience-API-Version");
               version.empty()) {
      answer = Refuse(400, "the X-Experience-API-Version header is missing");
    } else if (version != "1.0" && !version.starts_with("1.0.")) {
      answer = Refuse(400, "xAPI version " + version + " is not supported");
    } else if (path == "statements") {
      answer = statements(r);
    } else if (path == "activities/state") {
      answer = documents(r, DocumentKind::kState);
    } else if (path == "activities/profile") {
      answer = documents(r, DocumentKind::kActivityProfile);
    } else if (path == "agents/profile") {
      answer = documents(r, DocumentKind::kAgentProfile);
    } else if (path == "activities") {
      answer = activities(r);
    } else if (path == "agents") {
      answer = agents(r);
    } else {
      answer = Refuse(404, "no resource " + std::string(path));
    }
  } catch (const EZeptError& error) {
    // Nothing was kept: the content may try again.
    if (rules_) rules_->settle(false);
    bytesKept_.reset();
    answer = Refuse(500, std::string("not stored: ") + error.what());
  }
  if (path == "statements" && r.method == "GET" &&
      answer.header("X-Experience-API-Consistent-Through").empty())
    answer.headers.emplace_back("X-Experience-API-Consistent-Through",
                                TimestampOfMs(options_.nowMs()));
  if (head) {
    answer.headers.emplace_back("Content-Length",
                                std::to_string(answer.body.size()));
    answer.body.clear();
  }
  answer.headers.emplace_back("X-Experience-API-Version", kVersion);
  return answer;
}

LrsAnswer ContentLrs::getStatements(const LrsRequest& request,
                                    const Params& params) {
  const std::int64_t now = options_.nowMs();
  if (std::string fault = UnknownParam(
          params, {"statementId", "voidedStatementId", "agent", "verb",
                   "activity", "registration", "related_activities",
                   "related_agents", "since", "until", "limit", "format",
                   "attachments", "ascending", kPageParam, kThroughParam});
      !fault.empty())
    return Refuse(400, fault);
  const std::string format = Param(params, "format");
  if (!format.empty() && format != "ids" && format != "exact" &&
      format != "canonical")
    return Refuse(400, "format is ids, exact or canonical");
  for (const char* name :
       {"attachments", "ascending", "related_activities", "related_agents"})
    if (!IsBoolText(Param(params, name)))
      return Refuse(400, std::string(name) + " is true or false");
  const bool ids = format == "ids", canonical = format == "canonical";
  const std::vector<std::string> languages =
      canonical
          ? AcceptedLanguages(HeaderOf(request.headers, "Accept-Language"))
          : std::vector<std::string>();
  const auto shaped = [&](const std::string& json) {
    if (!ids && !canonical) return json;
    JsonParse parse = ParseJson(json);
    if (!parse.ok()) return json;
    if (ids) ReduceToIds(parse.value);
    if (canonical) ReduceLanguages(parse.value, languages);
    return WriteJson(parse.value);
  };
  const auto withConsistency = [&](LrsAnswer answer) {
    answer.headers.emplace_back("X-Experience-API-Consistent-Through",
                                TimestampOfMs(now));
    return answer;
  };
  // attachments=true: the JSON, then the data of the answered statements'
  // attachments, each once, as parts.
  const bool withData = Param(params, "attachments") == "true";
  const auto withAttachments = [&](LrsAnswer answer,
                                   const std::vector<std::string>& answered) {
    if (!withData) return answer;
    std::vector<Attachment> data;
    std::set<std::string> seen;
    for (const std::string& json : answered) {
      const JsonParse parse = ParseJson(json);
      const JsonValue* list =
          parse.ok() ? parse.value.find("attachments") : nullptr;
      if (!list) continue;
      for (const JsonValue& attachment : list->items) {
        const std::string* sha2 = Text(attachment.find("sha2"));
        if (!sha2 || !seen.insert(Lower(*sha2)).second) continue;
        if (auto kept = store_.attachment(Lower(*sha2)))
          data.push_back(std::move(*kept));
      }
    }
    const std::string boundary = "zept-" + Sha1Hex(answer.body);
    std::string body = "--" + boundary +
                       "\r\nContent-Type: application/json\r\n\r\n" +
                       answer.body + "\r\n";
    for (const Attachment& attachment : data) {
      body +=
          "--" + boundary + "\r\nContent-Type: " + attachment.contentType +
          "\r\nContent-Transfer-Encoding: binary\r\nX-Experience-API-Hash: " +
          attachment.sha2 + "\r\n\r\n" + attachment.body + "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    answer.body = std::move(body);
    for (auto& [name, value] : answer.headers)
      if (Lower(name) == "content-type")
        value = "multipart/mixed; boundary=" + boundary;
    return answer;
  };

  const std::string statementId = Param(params, "statementId");
  const std::string voidedId = Param(params, "voidedStatementId");
  if (!statementId.empty() || !voidedId.empty() ||
      params.count("statementId") || params.count("voidedStatementId")) {
    const std::string& id = statementId.empty() ? voidedId : statementId;
    // One statement is asked for by its id alone.
    if (std::string fault = UnknownParam(
            params, {statementId.empty() ? "voidedStatementId" : "statementId",
                     "format", "attachments"});
        !fault.empty())
      return Refuse(400, fault + " with a statement's id");
    if (!IsUuid(id)) return Refuse(400, "the statement's id is not a UUID");
    const std::optional<StoredStatement> found = store_.statement(id);
    const bool wantVoided = !voidedId.empty();
    if (!found || !found->ours || found->voided != wantVoided)
      return withConsistency(Refuse(404, "no statement " + id));
    LrsAnswer answer = withConsistency(
        withAttachments(Answer(200, shaped(found->json)), {found->json}));
    if (const JsonParse stored = ParseJson(found->json); stored.ok()) {
      if (const std::string* at = Text(stored.value.find("stored")))
        answer.headers.emplace_back("Last-Modified", *at);
    }
    return answer;
  }

  StatementFilter filter;
  Query query;
  if (params.count("agent")) {
    const JsonParse parse = ParseJson(Param(params, "agent"));
    if (!parse.ok()) return Refuse(400, "agent is not JSON: " + parse.error);
    if (std::string fault = ActorFault(parse.value); !fault.empty())
      return Refuse(400, "agent: " + fault);
    query.agentKey = AgentKey(parse.value);
    if (query.agentKey.empty()) return Refuse(400, "agent has no identifier");
  }
  query.verb = Param(params, "verb");
  if (params.count("verb") && !IsIri(query.verb))
    return Refuse(400, "verb is not an IRI");
  query.activity = Param(params, "activity");
  if (params.count("activity") && !IsIri(query.activity))
    return Refuse(400, "activity is not an IRI");
  query.registration = Lower(Param(params, "registration"));
  if (params.count("registration") && !IsUuid(query.registration))
    return Refuse(400, "registration is not a UUID");
  query.relatedActivities = Param(params, "related_activities") == "true";
  query.relatedAgents = Param(params, "related_agents") == "true";
  for (const auto& [name, bound] :
       {std::pair{"since", &filter.since}, {"until", &filter.until}}) {
    if (!params.count(name)) continue;
    *bound = MsOfTimestamp(Param(params, name));
    if (!*bound) return Refuse(400, std::string(name) + " is no timestamp");
  }
  std::size_t limit = 0;
  if (params.count("limit")) {
    const std::string text = Param(params, "limit");
    if (text.empty() || text.size() > 9 || !AllDigits(text))
      return Refuse(400, "limit is not a whole number");
    limit = std::stoul(text);
  }
  const LrsBounds& bounds = options_.bounds;
  if (limit == 0 || limit > bounds.pageStatements)
    limit = bounds.pageStatements;
  std::size_t page = 0;
  std::int64_t through = now;
  if (params.count(kPageParam) || params.count(kThroughParam)) {
    const std::string pageText = Param(params, kPageParam);
    const std::string throughText = Param(params, kThroughParam);
    if (pageText.empty() || pageText.size() > 9 || !AllDigits(pageText) ||
        throughText.empty() || throughText.size() > 15 ||
        !AllDigits(throughText))
      return Refuse(400, "not a page of this LRS's");
    page = std::stoul(pageText);
    through = std::stoll(throughText);
  }
  // Later pages see what the first saw: nothing stored after it.
  filter.until = filter.until ? std::min(*filter.until, through) : through;
  filter.ascending = Param(params, "ascending") == "true";

  std::vector<std::string> found;
  bool more = false;
  if (query.empty()) {
    filter.offset = page;
    filter.limit = limit + 1;
    found = store_.statements(filter);
    more = found.size() > limit;
    if (more) found.pop_back();
  } else {
    // The store narrows the search to what may match; the related filters
    // look into context, which only the JSON holds.
    filter.withReferences = true;
    filter.verb = query.verb;
    filter.registration = query.registration;
    if (!query.relatedAgents) filter.agentKey = query.agentKey;
    if (!query.relatedActivities) filter.activity = query.activity;
    // Filters apply to a statement, or to the one its StatementRef targets
    // (and so on), so they are tested here rather than in the store.
    std::size_t skipped = 0;
    for (std::string& json : store_.statements(filter)) {
      JsonParse parse = ParseJson(json);
      if (!parse.ok()) continue;
      bool match = Matches(parse.value, query);
      const JsonValue* at = &parse.value;
      JsonParse target;
      for (int depth = 0; !match && depth < 10; ++depth) {
        const JsonValue* object = at->find("object");
        const std::string* type =
            object ? Text(object->find("objectType")) : nullptr;
        const std::string* id = object ? Text(object->find("id")) : nullptr;
        if (!type || *type != "StatementRef" || !id) break;
        const std::optional<StoredStatement> targeted = store_.statement(*id);
        if (!targeted || !targeted->ours) break;
        target = ParseJson(targeted->json);
        if (!target.ok()) break;
        at = &target.value;
        match = Matches(*at, query);
      }
      if (!match) continue;
      if (skipped < page) {
        ++skipped;
        continue;
      }
      if (found.size() == limit) {
        more = true;
        break;
      }
      found.push_back(std::move(json));
    }
  }

  std::string body = "{\"statements\":[";
  std::size_t taken = 0;
  for (const std::string& json : found) {
    const std::string text = shaped(json);
    // A page holds at least one statement, and stops at its bytes.
    if (taken && body.size() + text.size() > bounds.pageBytes) {
      more = true;
      found.resize(taken);
      break;
    }
    if (taken) body += ',';
    body += text;
    ++taken;
  }
  body += "],\"more\":\"";
  if (more) {
    Params next = params;
    next[kPageParam] = std::to_string(page + taken);
    next[kThroughParam] = std::to_string(through);
    body += options_.root + "statements?" + QueryOf(next);
  }
  body += "\"}";
  return withConsistency(withAttachments(Answer(200, std::move(body)), found));
}

LrsAnswer ContentLrs::statements(const LrsRequest& request) {
  const std::optional<Params> params = ParseQuery(request.query);
  if (!params) return Refuse(400, "the query is not well formed");
  if (request.method == "GET") return getStatements(request, *params);
  const std::string statementId = Param(*params, "statementId");
  const std::int64_t now = options_.nowMs();

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
  const std::string contentType = HeaderOf(request.headers, "Content-Type");
  const std::string mediaType = MediaType(contentType);
  const bool multipart = mediaType == "multipart/mixed";
  if (!multipart && mediaType.starts_with("multipart/"))
    return Refuse(400,
                  "statements come as application/json or multipart/mixed");
  const LrsBounds& bounds = options_.bounds;
  if (request.body.size() > bounds.requestBytes)
    return OverBound(
        "a request of statements of " + std::to_string(request.body.size()) +
        " bytes is over the bound of " + std::to_string(bounds.requestBytes));
  // With attachment data: the statements first, as JSON, then one part
  // per attachment, found by its SHA-256.
  std::vector<Part> parts;
  if (multipart) {
    std::string fault;
    auto split = SplitParts(request.body, BoundaryOf(contentType), fault);
    if (!split || split->empty()) return Refuse(400, fault);
    parts = std::move(*split);
    if (MediaType(HeaderOf(parts.front().headers, "Content-Type")) !=
        "application/json")
      return Refuse(400, "the first part holds the statements, as JSON");
    for (std::size_t i = 1; i < parts.size(); ++i) {
      const std::string hash =
          Lower(HeaderOf(parts[i].headers, "X-Experience-API-Hash"));
      if (hash.empty())
        return Refuse(
            400, "part " + std::to_string(i) + " has no X-Experience-API-Hash");
      if (Lower(HeaderOf(parts[i].headers, "Content-Transfer-Encoding")) !=
          "binary")
        return Refuse(400, "part " + std::to_string(i) +
                               " is not sent with Content-Transfer-Encoding "
                               "binary");
      if (Sha256Hex(parts[i].body) != hash)
        return Refuse(400, "part " + std::to_string(i) +
                               " is not what its X-Experience-API-Hash says");
    }
  }
  const std::string& json = multipart ? parts.front().body : request.body;
  std::vector<bool> partUsed(parts.size(), false);
  JsonParse parse = ParseJson(json);
  if (!parse.ok()) return Refuse(400, "the body is not JSON: " + parse.error);
  std::vector<JsonValue> sent;
  if (!put && parse.value.is(JsonType::kArray)) {
    sent = std::move(parse.value.items);
  } else {
    sent.push_back(std::move(parse.value));
  }

  if (rules_) {
    if (auto refusal = rules_->beforeStatements()) return *refusal;
  }
  // The rules' judgement of this batch holds only if the batch is kept.
  struct Settle {
    LrsRules* rules;
    bool kept = false;
    ~Settle() {
      if (rules) rules->settle(kept);
    }
  } settle{rules_};
  std::vector<NewStatement> added;
  std::vector<std::string> ids;
  std::set<std::string> seen;
  std::int64_t adding = 0;
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
    if (std::string fault = StatementFault(s, true); !fault.empty())
      return Refuse(400, where + fault);
    // Each attachment without a fileUrl has its data in a part; a
    // signature's is a JWS of the statement.
    std::vector<Attachment> data;
    if (const JsonValue* attachments = s.find("attachments")) {
      for (const JsonValue& attachment : attachments->items) {
        const std::string sha2 = Lower(attachment.find("sha2")->text);
        const std::string& type = attachment.find("contentType")->text;
        const bool signature =
            attachment.find("usageType")->text == kSignatureUsage;
        if (signature && MediaType(type) != "application/octet-stream")
          return Refuse(400, where +
                                 "a signature's contentType is "
                                 "application/octet-stream");
        std::size_t found = 0;
        for (std::size_t i = 1; i < parts.size() && !found; ++i)
          if (Lower(HeaderOf(parts[i].headers, "X-Experience-API-Hash")) ==
              sha2)
            found = i;
        if (!found) {
          if (attachment.find("fileUrl") && !signature) continue;
          return Refuse(400, where + "the data of attachment " + sha2 +
                                 " did not come with it");
        }
        partUsed[found] = true;
        if (signature) {
          if (std::string fault = SignatureFault(parts[found].body, s);
              !fault.empty())
            return Refuse(400, where + fault);
        }
        data.push_back({sha2, type, parts[found].body});
      }
    }
    if (!s.find("id"))
      s.members.insert(s.members.begin(), {"id", String(options_.newId())});
    const std::string id = Lower(s.find("id")->text);
    ids.push_back(s.find("id")->text);
    const std::string canonical = CanonicalText(s);
    if (canonical.size() > bounds.statementBytes)
      return OverBound(where + "a statement of " +
                       std::to_string(canonical.size()) +
                       " bytes is over the bound of " +
                       std::to_string(bounds.statementBytes));
    if (!seen.insert(id).second)
      return Refuse(400, where + "the id " + id + " is given twice");
    if (const auto stored = store_.statement(s.find("id")->text)) {
      // Sent again (the answer was lost): kept once, and said so.
      const bool same = stored->ours && stored->canonical == canonical;
      if (same) {
        if (rules_) {
          if (auto refusal = rules_->resent(s)) {
            refusal->body = where + refusal->body;
            return *refusal;
          }
        }
        continue;
      }
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
    if (rules_) {
      if (auto refusal = rules_->judge(s, hasId)) {
        refusal->body = where + refusal->body;
        return *refusal;
      }
    }

    NewStatement statement =
        Kept(s, now, canonical, authority_ ? &*authority_ : nullptr);
    statement.voids = voids;
    adding += static_cast<std::int64_t>(statement.json.size() +
                                        statement.canonical.size());
    for (const Attachment& attachment : data)
      adding += static_cast<std::int64_t>(attachment.body.size());
    statement.attachments = std::move(data);
    added.push_back(std::move(statement));
  }
  for (std::size_t i = 1; i < parts.size(); ++i)
    if (!partUsed[i])
      return Refuse(400, "part " + std::to_string(i) +
                             " is the data of no attachment of the "
                             "statements");
  if (!added.empty()) {
    if (bytesKept() + adding > bounds.learnerBytes)
      return OverBound("the learner's statements and documents would pass " +
                       std::to_string(bounds.learnerBytes) + " bytes");
    store_.addStatements(added);
    bytesKept() += adding;
  }
  settle.kept = true;
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
  if (!added.empty()) {
    store_.addStatements(added);
    bytesKept_.reset();
  }
}

void ContentLrs::writeDocument(const DocumentKey& key,
                               const std::string& contentType,
                               const std::string& body) {
  store_.putDocument(key, {contentType, body, Etag(body), options_.nowMs()});
  bytesKept_.reset();
}

LrsAnswer ContentLrs::activities(const LrsRequest& request) {
  if (request.method != "GET")
    return Refuse(405, request.method + " is not a method of activities");
  const std::optional<Params> params = ParseQuery(request.query);
  if (!params) return Refuse(400, "the query is not well formed");
  if (std::string fault = UnknownParam(*params, {"activityId"}); !fault.empty())
    return Refuse(400, fault);
  const std::string id = Param(*params, "activityId");
  if (!IsIri(id)) return Refuse(400, "activityId is missing or not an IRI");
  JsonValue activity;
  activity.type = JsonType::kObject;
  activity.members.push_back({"objectType", String("Activity")});
  activity.members.push_back({"id", String(id)});
  // Everything the latest statements about it said of it, oldest first:
  // language maps merged, the latest statement's word on anything else.
  StatementFilter filter;
  filter.activity = id;
  filter.limit = options_.bounds.pageStatements;
  const std::vector<std::string> latest = store_.statements(filter);
  JsonValue definition;
  for (auto at = latest.rbegin(); at != latest.rend(); ++at) {
    const std::string& json = *at;
    const JsonParse parse = ParseJson(json);
    if (!parse.ok()) continue;
    const JsonValue* object = parse.value.find("object");
    const JsonValue* given = object ? object->find("definition") : nullptr;
    if (!given || !given->is(JsonType::kObject)) continue;
    definition.type = JsonType::kObject;
    for (const auto& [name, value] : given->members) {
      JsonValue* known = definition.find(name);
      if (known && IsLanguageMap(*known) && IsLanguageMap(value)) {
        for (const auto& [tag, text] : value.members) Set(*known, tag, text);
      } else {
        Set(definition, name, value);
      }
    }
  }
  if (definition.is(JsonType::kObject))
    activity.members.push_back({"definition", std::move(definition)});
  return Answer(200, WriteJson(activity));
}

LrsAnswer ContentLrs::agents(const LrsRequest& request) {
  if (request.method != "GET")
    return Refuse(405, request.method + " is not a method of agents");
  const std::optional<Params> params = ParseQuery(request.query);
  if (!params) return Refuse(400, "the query is not well formed");
  if (std::string fault = UnknownParam(*params, {"agent"}); !fault.empty())
    return Refuse(400, fault);
  const JsonParse agent = ParseJson(Param(*params, "agent"));
  if (!agent.ok()) return Refuse(400, "agent is missing or not JSON");
  if (std::string fault = ActorFault(agent.value); !fault.empty())
    return Refuse(400, "agent: " + fault);
  if (AgentKey(agent.value).empty())
    return Refuse(400, "agent has no identifier");
  // A Person: each property a list of what is known of the agent.
  JsonValue person;
  person.type = JsonType::kObject;
  person.members.push_back({"objectType", String("Person")});
  for (const char* name :
       {"name", "mbox", "mbox_sha1sum", "openid", "account"}) {
    if (const JsonValue* value = agent.value.find(name)) {
      JsonValue list;
      list.type = JsonType::kArray;
      list.items.push_back(*value);
      person.members.push_back({name, std::move(list)});
    }
  }
  return Answer(200, WriteJson(person));
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
      return Refuse(400, "agent: " + bad);
    key.agent = AgentKey(agent.value);
    if (key.agent.empty()) return Refuse(400, "agent has no identifier");
  }
  if (state) {
    key.registration = Lower(Param(*params, "registration"));
    if (params->count("registration") && !IsUuid(key.registration))
      return Refuse(400, "registration is not a UUID");
  }
  const std::string& method = request.method;
  if (method != "GET" && method != "PUT" && method != "POST" &&
      method != "DELETE")
    return Refuse(405, method + " is not a method of documents");
  if (rules_) {
    if (auto refusal = rules_->document(head_ ? "HEAD" : method, key, request))
      return *refusal;
  }

  if (method == "GET" && !params->count(idName)) {
    std::optional<std::int64_t> since;
    if (params->count("since")) {
      since = MsOfTimestamp(Param(*params, "since"));
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
    bytesKept_.reset();
    return Answer(204);
  }
  const std::optional<Document> existing = store_.document(key);
  if (method == "GET") {
    if (!existing) return Refuse(404, "no document " + key.id);
    LrsAnswer answer = Answer(200, existing->body, existing->contentType);
    if (existing->body.empty())
      answer.headers.emplace_back("Content-Type", existing->contentType);
    answer.headers.emplace_back("ETag", existing->etag);
    answer.headers.emplace_back("Last-Modified",
                                TimestampOfMs(existing->updatedMs));
    return answer;
  }

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
    bytesKept_.reset();
    return Answer(204);
  }
  const LrsBounds& bounds = options_.bounds;
  if (request.body.size() > bounds.documentBytes)
    return OverBound("a document of " + std::to_string(request.body.size()) +
                     " bytes is over the bound of " +
                     std::to_string(bounds.documentBytes));
  Document document;
  document.contentType = HeaderOf(request.headers, "Content-Type");
  if (document.contentType.empty())
    document.contentType = "application/octet-stream";
  document.body = request.body;
  // What is POSTed as JSON is a JSON object. To no document it is taken as
  // a PUT; else both are JSON objects, the new one's members replacing or
  // joining the old's.
  const bool postsJson =
      method == "POST" && MediaType(document.contentType) == "application/json";
  const JsonParse added = postsJson ? ParseJson(request.body) : JsonParse{};
  if (postsJson && (!added.ok() || !added.value.is(JsonType::kObject)))
    return Refuse(400, "a POST merges JSON objects only");
  if (method == "POST" && existing) {
    JsonParse old = ParseJson(existing->body);
    if (!postsJson || MediaType(existing->contentType) != "application/json" ||
        !old.ok() || !old.value.is(JsonType::kObject))
      return Refuse(400, "a POST merges JSON objects only");
    for (const auto& [name, value] : added.value.members)
      Set(old.value, name, value);
    document.body = WriteJson(old.value);
    document.contentType = existing->contentType;
    if (document.body.size() > bounds.documentBytes)
      return OverBound("the merged document of " +
                       std::to_string(document.body.size()) +
                       " bytes is over the bound of " +
                       std::to_string(bounds.documentBytes));
  }
  if (rules_) {
    if (auto refusal =
            rules_->documentWritten(key, document.contentType, document.body))
      return *refusal;
  }
  const std::int64_t growth =
      static_cast<std::int64_t>(document.body.size()) -
      (existing ? static_cast<std::int64_t>(existing->body.size()) : 0);
  if (growth > 0 && bytesKept() + growth > bounds.learnerBytes)
    return OverBound("the learner's statements and documents would pass " +
                     std::to_string(bounds.learnerBytes) + " bytes");
  document.etag = Etag(document.body);
  document.updatedMs = options_.nowMs();
  store_.putDocument(key, document);
  bytesKept() += growth;
  LrsAnswer answer = Answer(204);
  answer.headers.emplace_back("ETag", document.etag);
  return answer;
}

}  // namespace zept::xapi
