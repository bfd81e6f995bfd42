#include "xapi/sender.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>

#include "platform/codepage.h"
#include "util/utf8.h"
#include "xapi/config.h"
#include "xapi/statements.h"

namespace zept::xapi {
namespace {

constexpr std::size_t kReasonMax = 500;

// Text in one line of at most kReasonMax bytes, cut between characters.
std::string OneLine(const std::string& text) {
  std::string out;
  bool space = false;
  for (unsigned char c : text) {
    if (c < ' ' || c == 0x7F) {
      space = !out.empty();
      continue;
    }
    if (c == ' ') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += static_cast<char>(c);
  }
  if (out.size() > kReasonMax) {
    std::size_t cut = kReasonMax;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
      --cut;
    out = out.substr(0, cut) + "...";
  }
  return out;
}

// A string member of a JSON error object, as LRSs explain a refusal: its
// "message", or the first of its "warnings".
std::optional<std::string> JsonMessage(const std::string& body,
                                       const std::string& key = "\"message\"") {
  std::size_t at = 0;
  while ((at = body.find(key, at)) != std::string::npos) {
    std::size_t before = at;
    while (before > 0 &&
           std::isspace(static_cast<unsigned char>(body[before - 1])))
      --before;
    std::size_t i = at + key.size();
    at = i;
    if (before == 0 || (body[before - 1] != '{' && body[before - 1] != ','))
      continue;
    while (i < body.size() && std::isspace(static_cast<unsigned char>(body[i])))
      ++i;
    if (i >= body.size() || body[i] != ':') continue;
    ++i;
    while (
        i < body.size() &&
        (std::isspace(static_cast<unsigned char>(body[i])) || body[i] == '['))
      ++i;
    if (i >= body.size() || body[i] != '"') continue;
    std::string text;
    for (++i; i < body.size(); ++i) {
      char c = body[i];
      if (c == '"') return text;
      if (c != '\\') {
        text += c;
        continue;
      }
      if (++i >= body.size()) break;
      switch (body[i]) {
        case 'n':
        case 'r':
        case 't':
        case 'b':
        case 'f':
          text += ' ';
          break;
        case 'u': {
          if (i + 4 >= body.size()) return std::nullopt;
          std::uint32_t cp = 0;
          for (int k = 1; k <= 4; ++k) {
            char h = body[i + k];
            cp <<= 4;
            if (h >= '0' && h <= '9')
              cp |= h - '0';
            else if (h >= 'a' && h <= 'f')
              cp |= h - 'a' + 10;
            else if (h >= 'A' && h <= 'F')
              cp |= h - 'A' + 10;
            else
              return std::nullopt;
          }
          i += 4;
          // Halves of a pair are not worth joining for a line of text.
          AppendUtf8CodePoint(text, cp >= 0xD800 && cp < 0xE000 ? 0xFFFD : cp);
          break;
        }
        default:
          text += body[i];
      }
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::string Refusal(const platform::HttpResponse& r) {
  std::optional<std::string> said = JsonMessage(r.body);
  if (!said) said = JsonMessage(r.body, "\"warnings\"");
  std::string why = OneLine(said.value_or(r.body));
  std::string line = "the LRS answered " + std::to_string(r.status);
  return why.empty() ? line : line + ": " + why;
}

// Retry-After in seconds, or as an HTTP date (any of the three forms:
// "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
// "Sun Nov  6 08:49:37 1994"); -1 when it says neither.
int RetryAfter(const platform::HttpResponse& r) {
  auto it = r.headers.find("retry-after");
  if (it == r.headers.end()) return -1;
  const std::string& v = it->second;
  if (!v.empty() && v.find_first_not_of("0123456789") == std::string::npos)
    return v.size() > 9 ? 1 << 30 : std::stoi(v);

  static const char* const kMonths[] = {"jan", "feb", "mar", "apr",
                                        "may", "jun", "jul", "aug",
                                        "sep", "oct", "nov", "dec"};
  int day = -1, month = -1, year = -1, hh = -1, mm = -1, ss = -1;
  std::string token;
  auto take = [&]() {
    if (token.empty()) return;
    std::string t = AsciiLower(token);
    token.clear();
    if (t.size() == 8 && t[2] == ':' && t[5] == ':') {
      hh = std::stoi(t.substr(0, 2));
      mm = std::stoi(t.substr(3, 2));
      ss = std::stoi(t.substr(6, 2));
    } else if (t.find_first_not_of("0123456789") == std::string::npos) {
      int n = t.size() > 4 ? -1 : std::stoi(t);
      if (t.size() <= 2 && day < 0)
        day = n;
      else if (t.size() == 2)
        year = n < 70 ? 2000 + n : 1900 + n;
      else if (t.size() == 4)
        year = n;
    } else if (t.size() == 3) {
      for (int m = 0; m < 12; ++m)
        if (t == kMonths[m]) month = m + 1;
    }
  };
  for (char c : v) {
    if (c == ' ' || c == ',' || c == '-')
      take();
    else if ((c >= '0' && c <= '9') || c == ':' || (c >= 'A' && c <= 'Z') ||
             (c >= 'a' && c <= 'z'))
      token += c;
    else
      return -1;
  }
  take();
  if (day < 1 || day > 31 || month < 0 || year < 0 || hh < 0 || hh > 23 ||
      mm < 0 || mm > 59 || ss < 0 || ss > 60)
    return -1;
  using namespace std::chrono;
  year_month_day date{std::chrono::year(year), std::chrono::month(month),
                      std::chrono::day(day)};
  if (!date.ok()) return -1;
  auto when = sys_days(date) + hours(hh) + minutes(mm) + seconds(ss);
  auto left = duration_cast<seconds>(when - system_clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

enum class Verdict { kTaken, kSplit, kInvalid, kDuplicate, kStalled, kStop };

struct Answer {
  Verdict verdict;
  SendReport stop;  // outcome, reason and retryAfter when kStop
};

void SkipSpace(const std::string& s, std::size_t& i) {
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
}

// An xAPI error is a JSON object; a proxy's or a server's page is not.
bool IsJsonObject(const std::string& body) {
  std::size_t i = 0;
  SkipSpace(body, i);
  std::size_t end = body.size();
  while (end > i && std::isspace(static_cast<unsigned char>(body[end - 1])))
    --end;
  return end - i >= 2 && body[i] == '{' && body[end - 1] == '}';
}

// Whether body is a JSON array of exactly these ids, in this order: what an
// LRS answers to a POST of statements it stored. UUIDs in any case.
bool ListsIds(const std::string& body, const std::vector<OutboxEntry>& sent) {
  std::size_t i = 0;
  SkipSpace(body, i);
  if (i >= body.size() || body[i++] != '[') return false;
  for (std::size_t n = 0; n < sent.size(); ++n) {
    SkipSpace(body, i);
    if (n > 0) {
      if (i >= body.size() || body[i++] != ',') return false;
      SkipSpace(body, i);
    }
    const std::string& id = sent[n].statement.id;
    if (i >= body.size() || body[i++] != '"') return false;
    if (body.size() - i < id.size() + 1 || body[i + id.size()] != '"' ||
        AsciiLower(body.substr(i, id.size())) != AsciiLower(id))
      return false;
    i += id.size() + 1;
  }
  SkipSpace(body, i);
  if (i >= body.size() || body[i++] != ']') return false;
  SkipSpace(body, i);
  return i == body.size();
}

SendReport EndpointFault(const std::string& what, const std::string& url) {
  return {0, 0, SendOutcome::kUnreachable,
          what + "; nothing is marked sent or set aside (check the endpoint " +
              url + ")",
          -1};
}

// What an answer to a POST of statements means. A batch refused as invalid
// is split to find the culprit; a single statement refused may be set
// aside. An answer no LRS would give stops the send whatever its status.
Answer Judge(const platform::HttpResponse& r, const std::string& url,
             const std::vector<OutboxEntry>& posted) {
  const bool batch = posted.size() > 1;
  Answer a{Verdict::kStop, {}};
  SendReport& s = a.stop;
  int status = r.status;
  if (status >= 200 && status < 300) {
    // A captive portal or a misrouted proxy answers 200 too.
    if (ListsIds(r.body, posted))
      a.verdict = Verdict::kTaken;
    else
      s = EndpointFault(Refusal(r) + ", not the ids of the statements posted",
                        url);
  } else if (status == 409) {
    a.verdict = batch ? Verdict::kSplit : Verdict::kDuplicate;
  } else if (status == 400 || status == 413 || status == 422) {
    // 413 may come from a proxy in front of the LRS: a batch too large goes
    // one by one. Otherwise only the LRS's own error is about statements.
    if (status != 413 && !IsJsonObject(r.body))
      s = EndpointFault(Refusal(r) + " (not an LRS's error)", url);
    else
      a.verdict = batch ? Verdict::kSplit : Verdict::kInvalid;
  } else if (status == 0) {
    s.outcome = SendOutcome::kUnreachable;
    s.reason = "no answer from " + url + ": " + OneLine(r.error);
    if (r.stalled) a.verdict = Verdict::kStalled;
  } else if (status == 401 || status == 403) {
    s.outcome = SendOutcome::kCredentials;
    s.reason = "the LRS refused zept's credentials";
  } else if (status == 429 || status == 408 || status >= 500) {
    s.outcome = SendOutcome::kBusy;
    s.reason = Refusal(r);
    s.retryAfterSeconds = RetryAfter(r);
  } else {
    // Redirects, 404, 405...: the endpoint is wrong, not the statements;
    // they wait for it to be put right.
    s.outcome = SendOutcome::kUnreachable;
    s.reason = Refusal(r) + " (check the endpoint " + url + ")";
    auto location = r.headers.find("location");
    if (status >= 300 && status < 400 && location != r.headers.end())
      s.reason = "the LRS answered " + std::to_string(status) + ", moved to " +
                 OneLine(location->second) + " (check the endpoint)";
  }
  return a;
}

}  // namespace

Sender::Sender(platform::Http& http, LrsConfig config, std::size_t batch,
               SendLimits limits)
    : http_(http),
      config_(std::move(config)),
      batch_(std::max<std::size_t>(1, batch)),
      limits_(limits) {}

SendReport Sender::sendAll(Outbox& outbox) {
  SendReport report;
  const std::string url = config_.endpoint + "statements";
  const bool direct = IsLoopbackEndpoint(config_.endpoint);
  auto request = [&](const std::string& method, const std::string& to,
                     std::string body) {
    platform::HttpRequest q;
    q.method = method;
    q.url = to;
    q.headers = {{"X-Experience-API-Version", "1.0.3"}};
    if (method == "POST")
      q.headers.insert(q.headers.begin(), {"Content-Type", "application/json"});
    q.body = std::move(body);
    q.username = config_.username;
    q.password = config_.password;
    q.timeoutMs = 0;
    q.connectTimeoutMs = limits_.connectTimeoutMs;
    q.lowSpeedBytes = limits_.lowSpeedBytes;
    q.lowSpeedSeconds = limits_.lowSpeedSeconds;
    q.direct = direct;
    return http_.send(q);
  };
  auto stop = [&](const SendReport& why) {
    report.outcome = why.outcome;
    report.reason = why.reason;
    report.retryAfterSeconds = why.retryAfterSeconds;
    return report;
  };

  // Statements refused before the LRS took any in this run: set aside once
  // it takes one, as the LRS then works and refuses these alone.
  std::vector<std::pair<std::int64_t, std::string>> doubted;
  bool taken = false;
  auto markTaken = [&](const std::vector<std::int64_t>& seqs) {
    for (const auto& [seq, why] : doubted) outbox.markRefused(seq, why);
    report.refused += doubted.size();
    doubted.clear();
    outbox.markSent(seqs);
    report.sent += seqs.size();
    taken = true;
  };

  std::int64_t lastDone = INT64_MIN;
  int stalls = 0;
  try {
    for (;;) {
      std::vector<OutboxEntry> entries = outbox.pending(batch_);
      if (entries.empty()) return report;
      // A store that keeps giving back what it marked would loop for ever.
      if (entries.front().seq <= lastDone)
        return stop({0, 0, SendOutcome::kStoreFailed,
                     "the outbox still lists statements marked as sent", -1});

      std::string body = "[";
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i) body += ',';
        body += entries[i].statement.json;
      }
      body += ']';
      const bool single = entries.size() == 1;
      platform::HttpResponse first = request("POST", url, std::move(body));
      Answer batch = Judge(first, url, entries);
      if (batch.verdict == Verdict::kStalled && batch_ > 1 && stalls < 3) {
        // A slow link: smaller batches may get through where this did not.
        ++stalls;
        batch_ = std::max<std::size_t>(1, entries.size() / 2);
        continue;
      }
      lastDone = entries.back().seq;
      if (batch.verdict == Verdict::kTaken) {
        std::vector<std::int64_t> seqs;
        for (const auto& e : entries) seqs.push_back(e.seq);
        markTaken(seqs);
        continue;
      }
      if (batch.verdict == Verdict::kStop || batch.verdict == Verdict::kStalled)
        return stop(batch.stop);

      // One by one, in order, each marked as soon as its fate is known; a
      // transient failure stops before any later statement goes.
      for (const auto& e : entries) {
        platform::HttpResponse r =
            single ? first : request("POST", url, "[" + e.statement.json + "]");
        Answer one = single ? batch : Judge(r, url, {e});
        if (one.verdict == Verdict::kDuplicate) {
          // The LRS has a statement with this id: ours, from an earlier run
          // killed before it was marked, unless the LRS says otherwise.
          // Write-only credentials may not read it back; with random ids a
          // conflict is then ours too.
          std::string getUrl =
              url + "?statementId=" + PercentEncode(e.statement.id);
          platform::HttpResponse held = request("GET", getUrl, "");
          int got = held.status;
          if (got == 200 && held.body.find(e.statement.id) == std::string::npos)
            one.stop =
                EndpointFault(Refusal(held) + ", not the statement", url);
          else if (got == 200 || got == 401 || got == 403)
            one.verdict = Verdict::kTaken;
          else if (got == 0 || got == 408 || got == 429 || got >= 500)
            one = Judge(held, getUrl, {});
          else
            one.verdict = Verdict::kInvalid;
        }
        if (one.verdict == Verdict::kTaken) {
          markTaken({e.seq});
        } else if (one.verdict == Verdict::kInvalid) {
          // An LRS naming the statement in its error refuses that one.
          if (taken || r.body.find(e.statement.id) != std::string::npos) {
            outbox.markRefused(e.seq, Refusal(r));
            ++report.refused;
          } else {
            doubted.emplace_back(e.seq, Refusal(r));
          }
        } else {
          return stop(one.stop);
        }
      }
      if (!doubted.empty())
        return stop(
            EndpointFault("the LRS refused every statement it was sent (" +
                              std::to_string(doubted.size()) +
                              ") and took none: " + doubted.front().second,
                          url));
    }
  } catch (const std::exception& e) {
    return stop({0, 0, SendOutcome::kStoreFailed,
                 "the outbox: " + OneLine(e.what()), -1});
  }
}

int RetryDelaySeconds(int failures, int retryAfterSeconds) {
  int delay = 0;
  if (failures > 0)
    delay = failures > 9 ? 300 : std::min(300, 1 << (failures - 1));
  return std::max(delay, std::min(retryAfterSeconds, 3600));
}

}  // namespace zept::xapi
