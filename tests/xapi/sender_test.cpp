#include "xapi/sender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "platform/errors.h"
#include "platform/fake/fakes.h"
#include "xapi/config.h"
#include "xapi/send_loop.h"

namespace zept::xapi {
namespace {

using platform::FakeHttp;
using platform::HttpResponse;

// The store's outbox as a map: what a sender may read and mark.
class MemoryOutbox final : public Outbox {
 public:
  explicit MemoryOutbox(int count) {
    for (int i = 1; i <= count; ++i) {
      std::string id = "id-" + std::to_string(i);
      all[i] = {id, "{\"id\":\"" + id + "\"}"};
    }
  }
  std::map<std::int64_t, Statement> all;
  std::set<std::int64_t> sent;
  std::map<std::int64_t, std::string> refused;
  bool broken = false;

  std::vector<OutboxEntry> pending(std::size_t limit) override {
    if (broken) throw EFileError("cannot read 'outbox': disk I/O error");
    std::vector<OutboxEntry> out;
    for (const auto& [seq, s] : all)
      if (out.size() < limit && !sent.count(seq) && !refused.count(seq))
        out.push_back({seq, s});
    return out;
  }
  void markSent(const std::vector<std::int64_t>& seqs) override {
    sent.insert(seqs.begin(), seqs.end());
  }
  void markRefused(std::int64_t seq, const std::string& reason) override {
    refused[seq] = reason;
  }
  std::size_t pendingCount() override { return pending(1u << 30).size(); }
};

LrsConfig TestConfig() {
  LrsConfig c;
  c.endpoint = "https://lrs.example.org/xAPI/";
  c.username = "key";
  c.password = "secret";
  return c;
}

// What went to the LRS, in short: "POST 1,2", "POST 3", "GET id-3".
std::vector<std::string> Traffic(const FakeHttp& http) {
  std::vector<std::string> out;
  for (const auto& r : http.requests) {
    if (r.method == "GET") {
      out.push_back("GET " + r.url.substr(r.url.find('=') + 1));
      continue;
    }
    std::string seqs;
    for (std::size_t at = 0;
         (at = r.body.find("id-", at)) != std::string::npos;) {
      at += 3;
      seqs += (seqs.empty() ? "" : ",") +
              r.body.substr(at, r.body.find('"', at) - at);
    }
    out.push_back("POST " + seqs);
  }
  return out;
}

// An answer that stands for what a working LRS says to a POST: the ids of
// the statements posted, in order.
const char kEcho[] = "<the posted ids>";

HttpResponse Stored() { return FakeHttp::Answer(200, kEcho); }

HttpResponse Stall() {
  HttpResponse r = FakeHttp::Failure("Operation timed out after 20000 ms");
  r.stalled = true;
  return r;
}

// Answers requests from script, kEcho replaced by the request's ids.
void Play(FakeHttp& http, std::vector<HttpResponse> script) {
  auto left =
      std::make_shared<std::deque<HttpResponse>>(script.begin(), script.end());
  http.answer = [left](const platform::HttpRequest& q) {
    if (left->empty()) return FakeHttp::Failure("no scripted answer");
    HttpResponse r = left->front();
    left->pop_front();
    if (r.body != kEcho) return r;
    r.body = "[";
    for (std::size_t at = 0;
         (at = q.body.find("\"id\":\"", at)) != std::string::npos;) {
      at += 6;
      r.body += (r.body.size() > 1 ? ",\"" : "\"") +
                q.body.substr(at, q.body.find('"', at) - at + 1);
    }
    r.body += "]";
    return r;
  };
}

TEST(Sender, PostsBatchesAsStoredWithItsHeaders) {
  MemoryOutbox outbox(3);
  FakeHttp http;
  http.script = {FakeHttp::Answer(200, "[\"id-1\",\"id-2\"]"),
                 FakeHttp::Answer(200, " [ \"ID-3\" ]\n")};
  SendReport report = Sender(http, TestConfig(), 2).sendAll(outbox);
  EXPECT_EQ(report.outcome, SendOutcome::kDone);
  EXPECT_EQ(report.sent, 3u);
  ASSERT_EQ(http.requests.size(), 2u);
  const auto& first = http.requests[0];
  EXPECT_EQ(first.method, "POST");
  EXPECT_EQ(first.url, "https://lrs.example.org/xAPI/statements");
  EXPECT_EQ(first.body, "[{\"id\":\"id-1\"},{\"id\":\"id-2\"}]");
  EXPECT_EQ(first.username, "key");
  EXPECT_EQ(first.password, "secret");
  // No limit on the whole: a slow link gets through, a stalled one not.
  EXPECT_EQ(first.timeoutMs, 0);
  EXPECT_GT(first.connectTimeoutMs, 0);
  EXPECT_GT(first.lowSpeedBytes, 0);
  EXPECT_GT(first.lowSpeedSeconds, 0);
  EXPECT_FALSE(first.direct) << "an LRS elsewhere follows the proxy settings";
  using Header = std::pair<std::string, std::string>;
  EXPECT_EQ(first.headers,
            (std::vector<Header>{{"Content-Type", "application/json"},
                                 {"X-Experience-API-Version", "1.0.3"}}));
  EXPECT_EQ(http.requests[1].body, "[{\"id\":\"id-3\"}]");
  EXPECT_EQ(outbox.pendingCount(), 0u);
}

TEST(Sender, AnswersOfTheLrs) {
  const auto ok = Stored();
  const auto bad = FakeHttp::Answer(
      400, "{\"code\":400,\n\"message\":\"invalid verb \\\"x\\\"\"}");
  const auto conflict = FakeHttp::Answer(409, "Conflict");
  struct Case {
    std::string name;
    int statements;
    std::vector<HttpResponse> script;
    SendOutcome outcome;
    std::vector<std::string> traffic;
    std::set<std::int64_t> sent;
    std::set<std::int64_t> refused;
    std::string reason = "";  // in the report's, or the refusal's
    int retryAfter = -1;
  };
  const Case cases[] = {
      {"a 409 on a batch: one new, one the LRS holds",
       2,
       {conflict, ok, conflict, FakeHttp::Answer(200, "{\"id\":\"id-2\"}")},
       SendOutcome::kDone,
       {"POST 1,2", "POST 1", "POST 2", "GET id-2"},
       {1, 2},
       {}},
      {"a 409 for a statement the LRS does not hold, and no other taken",
       1,
       {conflict, FakeHttp::Answer(404)},
       SendOutcome::kUnreachable,
       {"POST 1", "GET id-1"},
       {},
       {},
       "the LRS answered 409: Conflict"},
      {"a 409 the LRS cannot check for write-only credentials",
       1,
       {conflict, FakeHttp::Answer(403)},
       SendOutcome::kDone,
       {"POST 1", "GET id-1"},
       {1},
       {}},
      {"a 400 in a batch sets aside the bad one, the rest go in order",
       3,
       {bad, ok, bad, ok},
       SendOutcome::kDone,
       {"POST 1,2,3", "POST 1", "POST 2", "POST 3"},
       {1, 3},
       {2},
       "the LRS answered 400: invalid verb \"x\""},
      {"a 400 whose reason is among its warnings, set aside once the LRS "
       "takes a later one",
       2,
       {FakeHttp::Answer(400, "{\"warnings\": [\"batch\"]}"),
        FakeHttp::Answer(400,
                         "{\"errorId\":\"e\",\"warnings\": "
                         "[\"Problem in 'statements.0.result'\", \"x\"]}"),
        ok},
       SendOutcome::kDone,
       {"POST 1,2", "POST 1", "POST 2"},
       {2},
       {1},
       "the LRS answered 400: Problem in 'statements.0.result'"},
      {"an LRS that refuses each statement sets none aside",
       2,
       {bad, bad, bad},
       SendOutcome::kUnreachable,
       {"POST 1,2", "POST 1", "POST 2"},
       {},
       {},
       "refused every statement it was sent (2)"},
      {"a refusal that names the statement sets it aside alone",
       1,
       {FakeHttp::Answer(400, "{\"message\":\"Statement id-1 is invalid\"}")},
       SendOutcome::kDone,
       {"POST 1"},
       {},
       {1},
       "Statement id-1 is invalid"},
      {"a 400 that is no LRS's error: nothing set aside or split",
       3,
       {FakeHttp::Answer(400,
                         "<html><h1>400 Bad Request</h1>The plain HTTP "
                         "request was sent to HTTPS port</html>")},
       SendOutcome::kUnreachable,
       {"POST 1,2,3"},
       {},
       {},
       "not an LRS's error"},
      {"a 200 with a page is no delivery",
       2,
       {FakeHttp::Answer(200, "<html>Sign in to the network</html>")},
       SendOutcome::kUnreachable,
       {"POST 1,2"},
       {},
       {},
       "not the ids of the statements posted"},
      {"a 200 with half the ids is no delivery",
       2,
       {FakeHttp::Answer(200, "[\"id-1\"]")},
       SendOutcome::kUnreachable,
       {"POST 1,2"},
       {},
       {},
       "not the ids"},
      {"a 200 with the ids out of order is no delivery",
       2,
       {FakeHttp::Answer(200, "[\"id-2\",\"id-1\"]")},
       SendOutcome::kUnreachable,
       {"POST 1,2"},
       {},
       {},
       "not the ids"},
      {"a 204 to a POST is no delivery",
       1,
       {FakeHttp::Answer(204)},
       SendOutcome::kUnreachable,
       {"POST 1"},
       {},
       {},
       "not the ids"},
      {"a 409 answered by a page for the statement's GET",
       1,
       {conflict, FakeHttp::Answer(200, "<html>portal</html>")},
       SendOutcome::kUnreachable,
       {"POST 1", "GET id-1"},
       {},
       {},
       "not the statement"},
      {"a stalled batch goes again in halves",
       4,
       {Stall(), ok, ok},
       SendOutcome::kDone,
       {"POST 1,2,3,4", "POST 1,2", "POST 3,4"},
       {1, 2, 3, 4},
       {}},
      {"a link that keeps stalling is given up",
       8,
       {Stall(), Stall(), Stall(), Stall()},
       SendOutcome::kUnreachable,
       {"POST 1,2,3,4,5,6,7,8", "POST 1,2,3,4", "POST 1,2", "POST 1"},
       {},
       {},
       "timed out"},
      {"a 400 batch and then the LRS fails: nothing later goes",
       3,
       {bad, ok, FakeHttp::Answer(503)},
       SendOutcome::kBusy,
       {"POST 1,2,3", "POST 1", "POST 2"},
       {1},
       {},
       "503"},
      {"401 stops with nothing marked",
       2,
       {FakeHttp::Answer(401)},
       SendOutcome::kCredentials,
       {"POST 1,2"},
       {},
       {},
       "the LRS refused zept's credentials"},
      {"500",
       2,
       {FakeHttp::Answer(500, "<html>\n<b>down</b>")},
       SendOutcome::kBusy,
       {"POST 1,2"},
       {},
       {},
       "the LRS answered 500: <html> <b>down</b>"},
      {"429 with seconds",
       1,
       {FakeHttp::Answer(429, "", {{"retry-after", "120"}})},
       SendOutcome::kBusy,
       {"POST 1"},
       {},
       {},
       "429",
       120},
      {"429 with a date long past",
       1,
       {FakeHttp::Answer(429, "",
                         {{"retry-after", "Sun, 06 Nov 1994 08:49:37 GMT"}})},
       SendOutcome::kBusy,
       {"POST 1"},
       {},
       {},
       "429",
       0},
      {"429 with nonsense",
       1,
       {FakeHttp::Answer(429, "", {{"retry-after", "soon"}})},
       SendOutcome::kBusy,
       {"POST 1"},
       {},
       {},
       "429",
       -1},
      {"no answer",
       2,
       {FakeHttp::Failure("Failed to connect to lrs.example.org port 443")},
       SendOutcome::kUnreachable,
       {"POST 1,2"},
       {},
       {},
       "Failed to connect to lrs.example.org port 443"},
      {"a wrong endpoint is not the statements' fault",
       2,
       {FakeHttp::Answer(404, "Not Found")},
       SendOutcome::kUnreachable,
       {"POST 1,2"},
       {},
       {},
       "check the endpoint"},
      {"a redirect is not followed",
       1,
       {FakeHttp::Answer(301, "", {{"location", "https://elsewhere/"}})},
       SendOutcome::kUnreachable,
       {"POST 1"},
       {},
       {},
       "https://elsewhere/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryOutbox outbox(c.statements);
    FakeHttp http;
    Play(http, c.script);
    SendReport report = Sender(http, TestConfig()).sendAll(outbox);
    EXPECT_EQ(report.outcome, c.outcome);
    EXPECT_EQ(Traffic(http), c.traffic);
    EXPECT_EQ(outbox.sent, c.sent);
    EXPECT_EQ(report.sent, c.sent.size());
    EXPECT_EQ(report.refused, c.refused.size());
    std::set<std::int64_t> refused;
    for (const auto& [seq, why] : outbox.refused) {
      refused.insert(seq);
      EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
    EXPECT_EQ(refused, c.refused);
    if (c.outcome != SendOutcome::kDone) {
      EXPECT_NE(report.reason.find(c.reason), std::string::npos)
          << report.reason;
    }
    EXPECT_EQ(report.retryAfterSeconds, c.retryAfter);
  }
}

TEST(Sender, RetryAfterAsAComingDateAndLongReasons) {
  std::time_t in2Minutes = std::time(nullptr) + 120;
  std::tm tm{};
  gmtime_r(&in2Minutes, &tm);
  char date[64];
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  MemoryOutbox outbox(1);
  FakeHttp http;
  http.script = {FakeHttp::Answer(429, "", {{"retry-after", date}})};
  SendReport report = Sender(http, TestConfig()).sendAll(outbox);
  EXPECT_GE(report.retryAfterSeconds, 110) << date;
  EXPECT_LE(report.retryAfterSeconds, 120) << date;

  // A refusal is kept in one line of bounded length.
  http.script = {FakeHttp::Answer(
      400, "{\"message\":\"id-1\\n" + std::string(3000, 'x') + "\"}\n")};
  EXPECT_EQ(Sender(http, TestConfig()).sendAll(outbox).refused, 1u);
  EXPECT_LT(outbox.refused[1].size(), 600u);
  EXPECT_EQ(outbox.refused[1].find('\n'), std::string::npos);
}

// The batch a stall left is kept for the caller's next sends, and an LRS
// on this machine is never reached through a proxy.
TEST(Sender, KeepsTheHalvedBatchAndGoesDirectToThisMachine) {
  MemoryOutbox outbox(3);
  FakeHttp http;
  Play(http, {Stall(), Stored(), Stored(), Stored()});
  LrsConfig local = TestConfig();
  local.endpoint = "http://127.0.0.1:8080/xAPI/";
  Sender sender(http, local, 4);
  EXPECT_EQ(sender.sendAll(outbox).outcome, SendOutcome::kDone);
  EXPECT_EQ(sender.batch(), 1u);
  EXPECT_EQ(Traffic(http), (std::vector<std::string>{"POST 1,2,3", "POST 1",
                                                     "POST 2", "POST 3"}));
  for (const auto& q : http.requests) EXPECT_TRUE(q.direct);
  local.endpoint = "http://localhost/xAPI/";
  http.requests.clear();
  Play(http, {FakeHttp::Answer(500)});
  MemoryOutbox more(1);
  Sender(http, local).sendAll(more);
  ASSERT_EQ(http.requests.size(), 1u);
  EXPECT_TRUE(http.requests[0].direct);
}

TEST(Sender, AFailingOutboxStopsTheSend) {
  MemoryOutbox outbox(2);
  outbox.broken = true;
  FakeHttp http;
  SendReport report = Sender(http, TestConfig()).sendAll(outbox);
  EXPECT_EQ(report.outcome, SendOutcome::kStoreFailed);
  EXPECT_NE(report.reason.find("disk I/O error"), std::string::npos);
  EXPECT_TRUE(http.requests.empty());
}

TEST(Sender, RetryDelays) {
  const int cases[][3] = {
      // failures, Retry-After, delay
      {1, -1, 1},    {2, -1, 2},    {3, -1, 4},
      {9, -1, 256},  {10, -1, 300}, {1000, -1, 300},
      {1, 120, 120}, {9, 5, 256},   {1, 100000, 3600},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RetryDelaySeconds(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

TEST(LrsConfig, Parsing) {
  const std::string good =
      "; zept's LRS\n"
      "[lrs]\n"
      "  endpoint = https://lrs.example.org/xAPI  \n"
      "# the key\n"
      "username=KEY\n"
      "password=a=b;#c\n"
      "\n"
      "homepage=https://learners.example.org\n"
      "activity-base=https://courses.example.org/\n";
  auto config = [&](std::string from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  std::string crlf;
  for (char c : good) crlf += c == '\n' ? "\r\n" : std::string(1, c);
  struct Case {
    std::string name, text;
    std::string error;  // empty: parses
    std::string endpoint = "https://lrs.example.org/xAPI/";
  };
  const Case cases[] = {
      {"good", good, ""},
      {"CR LF", crlf, ""},
      {"already with its slash", config("/xAPI  ", "/xAPI/"), ""},
      {"http on this machine",
       config("https://lrs.example.org", "http://127.0.0.1:8080"), "",
       "http://127.0.0.1:8080/xAPI/"},
      {"http on ::1", config("https://lrs.example.org", "http://[::1]"), "",
       "http://[::1]/xAPI/"},
      {"missing key", config("username=KEY\n", ""),
       "lrs.conf: no username in the [lrs] section"},
      {"empty value", config("KEY", ""),
       "lrs.conf: no username in the [lrs] section"},
      {"bad line", config("# the key", "username KEY"),
       "lrs.conf: line 4: expected key=value"},
      {"unknown key", config("username", "user"),
       "lrs.conf: line 5: unknown key 'user'"},
      {"key before the section", "endpoint=x\n" + good, "lrs.conf: line 1:"},
      {"http elsewhere", config("https://lrs", "http://lrs"),
       "lrs.conf: line 3: the endpoint must be https"},
      {"http on a look-alike host",
       config("https://lrs.example.org", "http://127.0.0.1.example.org"),
       "line 3: the endpoint must be https"},
      {"not a web address", config("https://lrs.example.org/xAPI", "ftp://x/"),
       "line 3: the endpoint is not"},
      {"relative homepage", config("https://learners.example.org", "learners"),
       "line 8: the homepage"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    auto parsed = ParseLrsConfig(c.text, "lrs.conf", error);
    if (!c.error.empty()) {
      EXPECT_FALSE(parsed);
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->endpoint, c.endpoint);
    EXPECT_EQ(parsed->username, "KEY");
    EXPECT_EQ(parsed->password, "a=b;#c");
    EXPECT_EQ(parsed->homePage, "https://learners.example.org");
    EXPECT_EQ(parsed->activityBase, "https://courses.example.org/");
    EXPECT_EQ(parsed->file, "lrs.conf");
  }
}

TEST(LrsConfig, Places) {
  using V = std::vector<std::string>;
  // The course team's file for its course wins over the user's.
  EXPECT_EQ(LrsConfigPlaces("/x/my.conf", "/cfg", "/home/ann", "/media/cd"),
            (V{"/x/my.conf", "/media/cd/zept-lrs.conf", "/cfg/zept/lrs.conf"}));
  EXPECT_EQ(LrsConfigPlaces("", "", "/home/ann", ""),
            (V{"/home/ann/.config/zept/lrs.conf"}));
  EXPECT_EQ(LrsConfigPlaces("", "", "", ""), V{});
}

TEST(LrsConfig, EndpointKeysAndThisMachine) {
  const struct {
    const char* endpoint;
    const char* key;
    bool loopback;
  } cases[] = {
      {"https://lrs.example.org/xAPI/", "https://lrs.example.org/xAPI/", false},
      {"HTTPS://LRS.Example.org/xAPI", "https://lrs.example.org/xAPI/", false},
      {"https://lrs.example.org/XAPI/", "https://lrs.example.org/XAPI/", false},
      {"http://127.0.0.1:8080/xAPI/", "http://127.0.0.1:8080/xAPI/", true},
      {"http://127.1.2.3/", "http://127.1.2.3/", true},
      {"http://LOCALHOST:80/x/", "http://localhost:80/x/", true},
      {"http://[::1]:8080/", "http://[::1]:8080/", true},
      {"http://127.0.0.1.example.org/", "http://127.0.0.1.example.org/", false},
      {"https://128.0.0.1/", "https://128.0.0.1/", false},
      {"", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EndpointKey(c.endpoint), c.key) << c.endpoint;
    EXPECT_EQ(IsLoopbackEndpoint(c.endpoint), c.loopback) << c.endpoint;
  }
}

// Waits up to a second for what another thread does.
bool Eventually(const std::function<bool()>& done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

struct LoopProbe {
  std::mutex mutex;
  std::vector<SendOutcome> script;  // then kDone
  std::vector<SendOutcome> reports;
  std::atomic<int> sends{0};

  SendReport sendOnce() {
    std::lock_guard<std::mutex> lock(mutex);
    SendReport r;
    int n = sends++;
    if (n < static_cast<int>(script.size())) r.outcome = script[n];
    return r;
  }
  void onReport(const SendReport& r) {
    std::lock_guard<std::mutex> lock(mutex);
    reports.push_back(r.outcome);
  }
  std::size_t reportCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return reports.size();
  }
  SendLoop loop(SendLoopTiming timing = {std::chrono::milliseconds(50),
                                         std::chrono::milliseconds(1)}) {
    return SendLoop([this] { return sendOnce(); },
                    [this](const SendReport& r) { onReport(r); }, timing);
  }
};

TEST(SendLoop, SendsAtStartOnNotifyAndRetriesFailures) {
  LoopProbe probe;
  probe.script = {SendOutcome::kUnreachable, SendOutcome::kBusy};
  SendLoop loop = probe.loop();
  loop.start();
  ASSERT_TRUE(Eventually([&] { return probe.reportCount() == 3; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(probe.sends, 3) << "nothing more without new statements";
  // A burst of notifies goes in one send.
  for (int i = 0; i < 5; ++i) loop.notify();
  ASSERT_TRUE(Eventually([&] { return probe.sends == 4; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  loop.stop();
  EXPECT_EQ(probe.sends, 4);
  EXPECT_EQ(probe.reports, (std::vector<SendOutcome>{
                               SendOutcome::kUnreachable, SendOutcome::kBusy,
                               SendOutcome::kDone, SendOutcome::kDone}));
}

TEST(SendLoop, StopsWaitingAtOnceAndRefusedCredentialsEndTheTries) {
  for (SendOutcome outcome : {SendOutcome::kBusy, SendOutcome::kCredentials}) {
    LoopProbe probe;
    probe.script = {outcome};
    // Real seconds: a busy LRS is next tried in a second.
    SendLoop loop =
        probe.loop({std::chrono::milliseconds(1), std::chrono::seconds(1)});
    loop.start();
    ASSERT_TRUE(Eventually([&] { return probe.reportCount() == 1; }));
    loop.notify();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    auto before = std::chrono::steady_clock::now();
    loop.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before,
              std::chrono::milliseconds(500));
    EXPECT_EQ(probe.sends, 1);
  }
}

// At the program's end: a flush cuts the wait after a failure short and
// says whether the outbox emptied; after refused credentials it is no use.
TEST(SendLoop, FlushSendsAtOnce) {
  for (SendOutcome outcome : {SendOutcome::kBusy, SendOutcome::kCredentials}) {
    LoopProbe probe;
    probe.script = {outcome};
    SendLoop loop =
        probe.loop({std::chrono::seconds(10), std::chrono::seconds(10)});
    loop.start();
    ASSERT_TRUE(Eventually([&] { return probe.reportCount() == 1; }));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(loop.flush(std::chrono::seconds(5)),
              outcome == SendOutcome::kBusy);
    EXPECT_LT(std::chrono::steady_clock::now() - before,
              std::chrono::milliseconds(500));
    EXPECT_EQ(probe.sends, outcome == SendOutcome::kBusy ? 2 : 1);
  }
}

}  // namespace
}  // namespace zept::xapi
