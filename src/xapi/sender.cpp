#include "xapi/sender.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>

#include "platform/codepage.h"
#include "util/utf8.h"

namespace zept::xapi {
namespace {

// Short enough that stopping the sending thread never waits long on a
// request in flight.
constexpr int kRequestTimeoutMs = 15000;
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

enum class Verdict { kTaken, kSplit, kInvalid, kDuplicate, kStop };

struct Answer {
  Verdict verdict;
  SendReport stop;  // outcome, reason and retryAfter when kStop
};

// What an answer to a POST of statements means. A batch refused as invalid
// is split to find the culprit; a single statement refused is set aside.
Answer Judge(const platform::HttpResponse& r, const std::string& url,
             bool batch) {
  Answer a{Verdict::kStop, {}};
  SendReport& s = a.stop;
  int status = r.status;
  if (status >= 200 && status < 300) {
    a.verdict = Verdict::kTaken;
  } else if (status == 409) {
    a.verdict = batch ? Verdict::kSplit : Verdict::kDuplicate;
  } else if (status == 400 || status == 413 || status == 422) {
    // 413: a batch too large goes one by one; one statement too large never
    // will go.
    a.verdict = batch ? Verdict::kSplit : Verdict::kInvalid;
  } else if (status == 0) {
    s.outcome = SendOutcome::kUnreachable;
    s.reason = "no answer from " + url + ": " + OneLine(r.error);
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

std::string PercentEncode(const std::string& s) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

Sender::Sender(platform::Http& http, LrsConfig config, std::size_t batch)
    : http_(http),
      config_(std::move(config)),
      batch_(std::max<std::size_t>(1, batch)) {}

SendReport Sender::sendAll(Outbox& outbox) {
  SendReport report;
  const std::string url = config_.endpoint + "statements";
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
    q.timeoutMs = kRequestTimeoutMs;
    return http_.send(q);
  };
  auto stop = [&](const SendReport& why) {
    report.outcome = why.outcome;
    report.reason = why.reason;
    report.retryAfterSeconds = why.retryAfterSeconds;
    return report;
  };

  std::int64_t lastDone = INT64_MIN;
  try {
    for (;;) {
      std::vector<OutboxEntry> entries = outbox.pending(batch_);
      if (entries.empty()) return report;
      // A store that keeps giving back what it marked would loop for ever.
      if (entries.front().seq <= lastDone)
        return stop({0, 0, SendOutcome::kStoreFailed,
                     "the outbox still lists statements marked as sent", -1});
      lastDone = entries.back().seq;

      std::string body = "[";
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i) body += ',';
        body += entries[i].statement.json;
      }
      body += ']';
      const bool single = entries.size() == 1;
      platform::HttpResponse first = request("POST", url, std::move(body));
      Answer batch = Judge(first, url, !single);
      if (batch.verdict == Verdict::kTaken) {
        std::vector<std::int64_t> seqs;
        for (const auto& e : entries) seqs.push_back(e.seq);
        outbox.markSent(seqs);
        report.sent += seqs.size();
        continue;
      }
      if (batch.verdict == Verdict::kStop) return stop(batch.stop);

      // One by one, in order, each marked as soon as its fate is known; a
      // transient failure stops before any later statement goes.
      for (const auto& e : entries) {
        platform::HttpResponse r =
            single ? first : request("POST", url, "[" + e.statement.json + "]");
        Answer one = single ? batch : Judge(r, url, false);
        if (one.verdict == Verdict::kDuplicate) {
          // The LRS has a statement with this id: ours, from an earlier run
          // killed before it was marked, unless the LRS says otherwise.
          // Write-only credentials may not read it back; with random ids a
          // conflict is then ours too.
          std::string getUrl =
              url + "?statementId=" + PercentEncode(e.statement.id);
          platform::HttpResponse held = request("GET", getUrl, "");
          int got = held.status;
          if (got == 200 || got == 401 || got == 403)
            one.verdict = Verdict::kTaken;
          else if (got == 0 || got == 408 || got == 429 || got >= 500)
            one = Judge(held, getUrl, false);
          else
            one.verdict = Verdict::kInvalid;
        }
        if (one.verdict == Verdict::kTaken) {
          outbox.markSent({e.seq});
          ++report.sent;
        } else if (one.verdict == Verdict::kInvalid) {
          outbox.markRefused(e.seq, Refusal(r));
          ++report.refused;
        } else {
          return stop(one.stop);
        }
      }
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
