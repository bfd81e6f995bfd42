#include "xapi/content_lrs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "cmi5/session_lrs.h"
#include "cmi5/vocabulary.h"
#include "platform/errors.h"
#include "store/progress_store.h"
#include "util/sha256.h"
#include "xapi/statements.h"

namespace zept::xapi {
namespace {

namespace fs = std::filesystem;

constexpr char kEndpoint[] = "https://lrs.example.org/xapi/";
constexpr std::int64_t kStart = 1796731200000;  // 2026-12-08T12:00:00Z

const std::string kId1 = "11111111-1111-4111-8111-111111111111";
const std::string kId2 = "22222222-2222-4222-8222-222222222222";
const std::string kReg = "3333aaaa-3333-4333-8333-33333333333b";
const std::string kAnn = R"({"mbox":"mailto:ann@example.org"})";
const std::string kAnnQuery =
    "agent=%7B%22mbox%22%3A%22mailto%3Aann%40example.org%22%7D";

// A valid statement by Ann; extra: more members, each with its comma.
std::string AnnStatement(const std::string& verb = "completed",
                         const std::string& extra = "",
                         const std::string& activity = "http://example.org/a") {
  return R"({"actor":)" + kAnn +
         R"(,"verb":{"id":"http://adlnet.gov/expapi/verbs/)" + verb +
         R"("},"object":{"id":")" + activity + "\"}" + extra + "}";
}
std::string WithId(const std::string& id,
                   const std::string& verb = "completed") {
  return AnnStatement(verb, R"(,"id":")" + id + "\"");
}

// One request and what its answer must be: the status and a part of the
// body ("" for any).
struct Step {
  std::string method, path, query, body;
  int status;
  std::string answerHas = "";
  HttpHeaders headers = {};
};

// Each test on a new progress store on disk, with a clock that moves a
// second per request and ids counted from 1.
class ContentLrsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "zept-lrs-XXXXXX";
    dir = ::mkdtemp(pattern.data());
    path = dir + "/course.sqlite";
    open();
  }
  void TearDown() override {
    lrs.reset();
    learner.reset();
    store.reset();
    fs::remove_all(dir);
  }
  void open(bool readOnly = false) {
    lrs.reset();
    learner.reset();
    store = std::make_unique<scorm::ProgressStore>(path, readOnly);
    store->captureFor(kEndpoint);
    learner = store->lrs("ann");
    lrs = std::make_unique<ContentLrs>(
        *learner, ContentLrsOptions{
                      [this] { return now += 1000; },
                      [this] {
                        char id[40];
                        std::snprintf(id, sizeof id,
                                      "00000000-0000-4000-8000-%012d", ++ids);
                        return std::string(id);
                      },
                      bounds, "", root});
  }

  LrsAnswer send(const Step& step) { return lrs->handle(RequestOf(step)); }
  static LrsRequest RequestOf(const Step& step) {
    LrsRequest request{step.method, step.path, step.query, step.headers,
                       step.body};
    request.headers.emplace_back("X-Experience-API-Version", "1.0.3");
    return request;
  }
  void run(const std::vector<Step>& steps) {
    runOn(steps, [&](const LrsRequest& r) { return lrs->handle(r); });
  }
  void runOn(const std::vector<Step>& steps,
             const std::function<LrsAnswer(const LrsRequest&)>& handle) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const Step& step = steps[i];
      SCOPED_TRACE("step " + std::to_string(i + 1) + ": " + step.method + " " +
                   step.path + "?" + step.query);
      const LrsAnswer answer = handle(RequestOf(step));
      EXPECT_EQ(answer.status, step.status) << answer.body;
      EXPECT_NE(answer.body.find(step.answerHas), std::string::npos)
          << answer.body;
      EXPECT_EQ(answer.header("x-experience-api-version"), "1.0.3");
    }
  }
  // The ids waiting in the outbox for the LRS, in order.
  std::vector<std::string> outbox() {
    std::vector<std::string> found;
    for (const OutboxEntry& entry : store->outbox(kEndpoint).pending(100))
      found.push_back(entry.statement.id);
    return found;
  }

  std::string dir, path;
  std::unique_ptr<scorm::ProgressStore> store;
  std::unique_ptr<LrsStore> learner;
  std::unique_ptr<ContentLrs> lrs;
  std::int64_t now = kStart;
  int ids = 0;
  LrsBounds bounds;  // open() takes them
  std::string root;
};

// The ids of a StatementResult's statements, in order, and its "more".
std::pair<std::vector<std::string>, std::string> Page(const LrsAnswer& answer) {
  const JsonParse parse = ParseJson(answer.body);
  std::vector<std::string> ids;
  if (!parse.ok()) return {ids, "not JSON"};
  for (const JsonValue& s : parse.value.find("statements")->items)
    ids.push_back(s.find("id")->text);
  return {ids, parse.value.find("more")->text};
}

std::string Encoded(const std::string& text) { return PercentEncode(text); }

TEST_F(ContentLrsTest, StatementsAreKeptOnceAndForwardedInOrder) {
  run({
      {"PUT", "statements", "statementId=" + kId1, AnnStatement(), 204},
      // A resend of the same statement (its answer lost) is taken once.
      {"PUT", "statements", "statementId=" + kId1, AnnStatement(), 204},
      {"PUT", "/statements/", "statementId=" + kId1, WithId(kId1), 204},
      {"PUT", "statements", "statementId=" + kId1, AnnStatement("passed"), 409,
       "another statement"},
      {"POST", "statements", "",
       "[" + WithId(kId2) + "," + AnnStatement() + "]", 200,
       "[\"" + kId2 + "\",\"00000000-0000-4000-8000-000000000001\"]"},
      {"POST", "statements", "", WithId(kId2), 200, "[\"" + kId2 + "\"]"},
      {"POST", "statements", "", "[]", 200, "[]"},
      {"GET", "statements", "statementId=" + kId1, "", 200,
       R"("stored":"2026-12-08T12:00:01.000Z")"},
      {"GET", "statements", "statementId=" + kId1, "", 200,
       R"("timestamp":"2026-12-08T12:00:01.000Z")"},
      {"GET", "statements", "statementId=" + kId1, "", 200,
       R"("version":"1.0.0")"},
  });
  EXPECT_EQ(outbox(), (std::vector<std::string>{
                          kId1, kId2, "00000000-0000-4000-8000-000000000001"}));
  // What is forwarded has the id and timestamp, not this LRS's "stored".
  const auto pending = store->outbox(kEndpoint).pending(1);
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].statement.json,
            R"({"id":")" + kId1 + R"(","actor":)" + kAnn +
                R"(,"verb":{"id":"http://adlnet.gov/expapi/verbs/completed"},)"
                R"("object":{"id":"http://example.org/a"},)"
                R"("timestamp":"2026-12-08T12:00:01.000Z"})");
}

TEST_F(ContentLrsTest, RefusedRequestsKeepNothing) {
  run({
      {"PUT", "statements", "statementId=" + kId1,
       AnnStatement("completed", R"(,"result":{"score":{"scaled":2}})"), 400,
       "result.score.scaled is not from -1 to 1"},
      // One invalid statement refuses the whole batch.
      {"POST", "statements", "", "[" + AnnStatement() + ",{\"actor\":1}]", 400,
       "statement 1: actor is not an object"},
      {"POST", "statements", "", "[" + WithId(kId1) + "," + WithId(kId1) + "]",
       400, "given twice"},
      {"PUT", "statements", "", AnnStatement(), 400, "needs its statementId"},
      {"PUT", "statements", "statementId=" + kId2, WithId(kId1), 400,
       "not the statementId"},
      {"POST", "statements", "statementId=" + kId1, AnnStatement(), 400,
       "takes no statementId"},
      {"PUT", "statements", "statementId=" + kId1, "{\"actor\":", 400,
       "the body is not JSON"},
      {"POST", "statements", "", "[1]", 400, "a statement is a JSON object"},
      {"DELETE", "statements", "", "", 405},
      {"GET", "statements", "colour=red", "", 400, "'colour'"},
      {"GET", "statements", "verb=%zz", "", 400, "not well formed"},
      {"GET", "statements", "limit=ten", "", 400, "limit"},
      {"GET", "statements", "since=today", "", 400, "since"},
      {"GET", "statements", "agent=%7B%7D", "", 400, "has no identifier"},
      {"GET", "statements", "statementId=" + kId1, "", 404},
      {"GET", "statements",
       "statementId=" + kId1 + "&voidedStatementId=" + kId2, "", 400,
       "with a statement's id"},
      {"GET", "statements", "statementId=" + kId1 + "&verb=http://x.org/v", "",
       400, "'verb'"},
      {"GET", "statements",
       "agent=%7B%22objectType%22%3A%22Group%22%2C%22member%22%3A%5B" +
           kAnnQuery.substr(6) + "%5D%7D",
       "", 400, "agent has no identifier"},
      {"GET", "activities", "", "", 400, "activityId"},
      {"GET", "activity", "", "", 404},
  });
  EXPECT_TRUE(outbox().empty());
  LrsAnswer answer = lrs->handle({"GET", "statements", "", {}, ""});
  EXPECT_EQ(answer.status, 400);
  EXPECT_NE(answer.body.find("X-Experience-API-Version"), std::string::npos);
  answer = lrs->handle(
      {"GET", "statements", "", {{"X-Experience-API-Version", "0.95"}}, ""});
  EXPECT_EQ(answer.status, 400);
  answer = lrs->handle({"GET", "about", "", {}, ""});
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body, R"({"version":["1.0.3"]})");
}

TEST_F(ContentLrsTest, QueriesAndVoiding) {
  const std::string inReg = R"(,"context":{"registration":")" + kReg + "\"}";
  run({
      {"POST", "statements", "", AnnStatement("completed", inReg), 200},
      {"POST", "statements", "", AnnStatement("passed"), 200},
      {"POST", "statements", "",
       AnnStatement("experienced", "", "http://example.org/b"), 200},
      {"POST", "statements", "",
       R"({"actor":{"mbox":"mailto:bob@example.org"},"verb":{"id":"http://x.org/met"},"object":{"objectType":"Agent","mbox":"mailto:ann@example.org"}})",
       200},
  });
  const struct {
    std::string query;
    std::vector<int> found;  // the numbers of the ids, newest first
    bool more = false;       // a page follows
  } kQueries[] = {
      {"", {4, 3, 2, 1}},
      {"verb=http%3A%2F%2Fadlnet.gov%2Fexpapi%2Fverbs%2Fpassed", {2}},
      {"activity=http://example.org/b", {3}},
      {"registration=" + kReg, {1}},
      {"registration=3333AAAA-3333-4333-8333-33333333333B", {1}},
      {kAnnQuery, {4, 3, 2, 1}},  // as the actor and as the object
      {"agent=%7B%22mbox%22%3A%22mailto%3Abob%40example.org%22%7D", {4}},
      {"since=2026-12-08T12:00:02.000Z", {4, 3}},
      {"until=2026-12-08T13:00:02%2B01:00", {2, 1}},
      {"limit=2", {4, 3}, true},
      {"limit=2&ascending=true", {1, 2}, true},
      {"limit=0&format=exact&attachments=false", {4, 3, 2, 1}},
  };
  for (const auto& q : kQueries) {
    SCOPED_TRACE(q.query);
    const LrsAnswer answer = send({"GET", "statements", q.query, "", 200});
    ASSERT_EQ(answer.status, 200) << answer.body;
    std::string expected = "{\"statements\":[";
    std::size_t at = 0;
    for (int n : q.found) {
      const std::string id = "\"id\":\"00000000-0000-4000-8000-00000000000" +
                             std::to_string(n) + "\"";
      at = answer.body.find(id, at);
      EXPECT_NE(at, std::string::npos) << id << " in order";
    }
    EXPECT_EQ(std::count(answer.body.begin(), answer.body.end(), '{'),
              std::count(answer.body.begin(), answer.body.end(), '}'));
    EXPECT_TRUE(answer.body.starts_with(expected)) << answer.body;
    EXPECT_EQ(answer.body.ends_with("],\"more\":\"\"}"), !q.more);
    // Each statement's actor has an "mbox"; count them.
    std::size_t statements = 0;
    for (std::size_t p = answer.body.find("\"stored\""); p != std::string::npos;
         p = answer.body.find("\"stored\"", p + 1))
      ++statements;
    EXPECT_EQ(statements, q.found.size());
    EXPECT_FALSE(answer.header("X-Experience-API-Consistent-Through").empty());
  }
  const std::string first = "00000000-0000-4000-8000-000000000001";
  const std::string voiding =
      R"({"actor":)" + kAnn +
      R"(,"verb":{"id":"http://adlnet.gov/expapi/verbs/voided"},"object":{"objectType":"StatementRef","id":")" +
      first + "\"}}";
  run({
      {"POST", "statements", "", voiding, 200},
      {"GET", "statements", "statementId=" + first, "", 404},
      {"GET", "statements", "voidedStatementId=" + first, "", 200, first},
      // Filters reach through a StatementRef: the voiding statement is
      // found by what the statement it voids was about.
      {"GET", "statements", "registration=" + kReg, "", 200,
       "{\"statements\":[{\"id\":\"00000000-0000-4000-8000-000000000005\""},
      {"GET", "statements",
       "voidedStatementId=00000000-0000-4000-8000-000000000002", "", 404},
      // A voiding statement is never voided in turn.
      {"POST", "statements", "",
       R"({"actor":)" + kAnn +
           R"(,"verb":{"id":"http://adlnet.gov/expapi/verbs/voided"},"object":{"objectType":"StatementRef","id":"00000000-0000-4000-8000-000000000005"}})",
       400, "cannot be voided"},
      {"POST", "statements", "",
       R"({"actor":)" + kAnn +
           R"(,"verb":{"id":"http://adlnet.gov/expapi/verbs/voided"},"object":{"id":"http://example.org/a"}})",
       400, "StatementRef"},
  });
}

TEST_F(ContentLrsTest, StateDocuments) {
  const std::string at = "activityId=http%3A%2F%2Fexample.org%2Fa&" + kAnnQuery;
  const HttpHeaders json = {{"Content-Type", "application/json"}};
  run({
      {"PUT", "activities/state", at + "&stateId=bookmark", "page 3", 204},
      {"GET", "activities/state", at + "&stateId=bookmark", "", 200, "page 3"},
      {"PUT", "activities/state", at + "&stateId=bookmark", "page 4", 204},
      {"GET", "activities/state", at + "&stateId=bookmark", "", 200, "page 4"},
      {"POST", "activities/state", at + "&stateId=bookmark", "{}", 400,
       "merges JSON objects only", json},
      {"POST", "activities/state", at + "&stateId=data", R"({"a":1,"b":2})",
       204, "", json},
      {"POST", "activities/state", at + "&stateId=data", R"({"b":3,"c":[4]})",
       204, "", json},
      {"GET", "activities/state", at + "&stateId=data", "", 200,
       R"({"a":1,"b":3,"c":[4]})"},
      {"POST", "activities/state", at + "&stateId=data", "[1]", 400,
       "merges JSON objects only", json},
      {"PUT", "activities/state",
       at + "&registration=" + kReg + "&stateId=bookmark", "other", 204},
      {"GET", "activities/state", at, "", 200, R"(["bookmark","data"])"},
      {"GET", "activities/state", at + "&since=2026-12-08T12:00:03Z", "", 200,
       R"(["data"])"},
      {"GET", "activities/state", at + "&registration=" + kReg, "", 200,
       R"(["bookmark"])"},
      {"DELETE", "activities/state", at + "&stateId=bookmark", "", 204},
      {"GET", "activities/state", at + "&stateId=bookmark", "", 404},
      {"DELETE", "activities/state", at, "", 204},
      {"GET", "activities/state", at, "", 200, "[]"},
      {"GET", "activities/state", at + "&registration=" + kReg, "", 200,
       R"(["bookmark"])"},
      {"GET", "activities/state", kAnnQuery, "", 400, "activityId"},
      {"GET", "activities/state", "activityId=http://example.org/a", "", 400,
       "agent"},
      {"GET", "activities/state", at + "&registration=r1", "", 400,
       "registration"},
      {"PUT", "activities/state", at, "x", 400, "stateId is missing"},
      {"GET", "activities/state", at + "&stateId=a&since=2026-12-08T12:00:06Z",
       "", 400, "since"},
      // A POST to no document is a PUT; what it sends as JSON is an object.
      {"POST", "activities/state", at + "&stateId=note", "plain words", 204},
      {"GET", "activities/state", at + "&stateId=note", "", 200, "plain words"},
      {"POST", "activities/state", at + "&stateId=new", "{\"a\":", 400,
       "JSON objects only", json},
  });
  // State stays local: nothing is forwarded.
  EXPECT_TRUE(outbox().empty());
}

TEST_F(ContentLrsTest, ProfilesAreChangedOnlyByWhoeverReadThem) {
  const std::string activity =
      "activityId=http%3A%2F%2Fexample.org%2Fa&profileId=p";
  const std::string agent = kAnnQuery + "&profileId=cmi5LearnerPreferences";
  for (const std::string& where :
       {std::string("activities/profile"), std::string("agents/profile")}) {
    SCOPED_TRACE(where);
    const std::string query = where == "agents/profile" ? agent : activity;
    run({{"PUT", where, query, "v1", 204}});
    const std::string etag =
        send({"GET", where, query, "", 200}).header("ETag");
    // A document's ETag is its SHA-1, quoted.
    ASSERT_EQ(etag, "\"5a6df720540c20d95d530d3fd6885511223d5d20\"");
    run({
        {"PUT", where, query, "v2", 409, "If-Match"},
        {"PUT", where, query, "v2", 412, "", {{"If-Match", "\"stale\""}}},
        {"PUT", where, query, "v2", 412, "", {{"If-None-Match", "*"}}},
        {"GET", where, query, "", 200, "v1"},
        {"PUT", where, query, "v2", 204, "", {{"If-Match", "\"x\", " + etag}}},
        {"DELETE", where, query, "", 412, "", {{"If-Match", etag}}},
        {"GET", where, query, "", 200, "v2"},
        {"DELETE", where, query, "", 204},
        {"PUT", where, query, "v3", 412, "", {{"If-Match", "*"}}},
        {"PUT", where, query, "v3", 204, "", {{"If-None-Match", "*"}}},
        {"GET", where, query.substr(0, query.find("&profileId")), "", 200,
         "[\"" + query.substr(query.find("profileId=") + 10) + "\"]"},
        {"DELETE", where, query, "", 204, "", {{"If-Match", "*"}}},
    });
  }
}

TEST_F(ContentLrsTest, EverythingSurvivesTheProcessAndOlderStoresRead) {
  run({
      {"PUT", "statements", "statementId=" + kId1, AnnStatement(), 204},
      {"PUT", "activities/state",
       "activityId=http://example.org/a&stateId=s&" + kAnnQuery, "kept", 204},
  });
  open();
  run({
      {"GET", "statements", "statementId=" + kId1, "", 200, kId1},
      {"GET", "activities/state",
       "activityId=http://example.org/a&stateId=s&" + kAnnQuery, "", 200,
       "kept"},
      {"PUT", "statements", "statementId=" + kId1, AnnStatement(), 204},
  });
  EXPECT_EQ(outbox(), std::vector<std::string>{kId1});
  EXPECT_EQ(store->learners(), std::vector<std::string>{"ann"});

  // A store of an earlier zept, without the LRS's tables: read as empty,
  // and given them at its next writable open.
  lrs.reset();
  learner.reset();
  store.reset();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db, "DROP TABLE lrs_statements; DROP TABLE lrs_documents;",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);
  open(/*readOnly=*/true);
  run({{"GET", "statements", "statementId=" + kId1, "", 404},
       {"GET", "statements", "", "", 200, "{\"statements\":[]"}});
  // Nothing can be kept in a store opened to read: the content is told so.
  run({{"PUT", "statements", "statementId=" + kId2, AnnStatement(), 500,
        "not stored"}});
  open();
  run({{"PUT", "statements", "statementId=" + kId2, AnnStatement(), 204},
       {"GET", "statements", "statementId=" + kId2, "", 200, kId2}});
}

TEST_F(ContentLrsTest, Cmi5SessionsAreJudged) {
  cmi5::Launch launch;
  launch.actor = {"https://zept.example/learners", "ann"};
  launch.registration = kReg;
  launch.sessionId = "session-1";
  launch.activityId = "https://zept.example/course/au1";
  launch.publisherId = "https://publisher.example/au1";
  launch.moveOn = cmi5::MoveOn::kCompleted;
  launch.launchUrl = "https://zept.example/content/au1/index.html";
  // The AU's LRS: the same store under cmi5's rules for its session.
  cmi5::SessionLrs au(*learner,
                      ContentLrsOptions{[this] { return now += 1000; }, {}});
  au.setSession(cmi5::Cmi5Session{launch, {}});
  const auto run = [&](const std::vector<Step>& steps) {
    runOn(steps, [&](const LrsRequest& r) { return au.handle(r); });
  };
  // zept's own statements go first, unjudged, each kept once.
  const Statement launched = cmi5::LaunchedStatement(
      launch,
      {"77777777-7777-4777-8777-777777777777", "2026-12-08T11:59:59.000Z"});
  au.record({launched});
  au.record({launched});
  EXPECT_THROW(au.record({{kId1, R"({"id":")" + kId1 + "\"}"}}), EZeptError);
  EXPECT_THROW(au.record({{kId2, WithId(kId1)}}), EZeptError);

  int n = 0;
  const auto cmi5 = [&](cmi5::Verb verb, const std::string& result = "") {
    char id[40];
    std::snprintf(id, sizeof id, "99999999-0000-4000-8000-%012d", ++n);
    return std::string(R"({"id":")") + id +
           R"(","timestamp":"2026-12-08T12:00:00.000Z","actor":{"objectType":"Agent","account":{"homePage":"https://zept.example/learners","name":"ann"}},"verb":{"id":")" +
           std::string(cmi5::Info(verb).iri) +
           R"("},"object":{"id":"https://zept.example/course/au1"})" + result +
           R"(,"context":{"registration":")" + kReg +
           R"(","extensions":{"https://w3id.org/xapi/cmi5/context/extensions/sessionid":"session-1"},"contextActivities":{"category":[{"id":"https://w3id.org/xapi/cmi5/context/categories/cmi5"})" +
           (result.find("completion") != std::string::npos
                ? R"(,{"id":"https://w3id.org/xapi/cmi5/context/categories/moveon"})"
                : "") +
           R"(],"grouping":[{"id":"https://publisher.example/au1"}]}}})";
  };
  const std::string completed =
      cmi5(cmi5::Verb::kCompleted,
           R"(,"result":{"completion":true,"duration":"PT5S"})");
  // The learner preferences: read before any statement, written by the
  // actor only and in their shape.
  const std::string ann =
      "agent=%7B%22objectType%22%3A%22Agent%22%2C%22account%22%3A%7B%22"
      "homePage%22%3A%22https%3A%2F%2Fzept.example%2Flearners%22%2C%22name%22"
      "%3A%22ann%22%7D%7D&profileId=cmi5LearnerPreferences";
  const HttpHeaders json = {{"Content-Type", "application/json"}};
  const auto prefs = [](const std::string& language, const std::string& audio) {
    return R"({"languagePreference":")" + language +
           R"(","audioPreference":")" + audio + "\"}";
  };
  run({
      {"POST", "statements", "", cmi5(cmi5::Verb::kInitialized), 403,
       "learner preferences"},
      // A HEAD does not read them.
      {"HEAD", "agents/profile", ann, "", 404},
      {"POST", "statements", "", cmi5(cmi5::Verb::kInitialized), 403,
       "learner preferences"},
      {"GET", "agents/profile", ann, "", 404},
      {"PUT", "agents/profile", ann, prefs("en-US,fr-FR,fr-BE", "on"), 204, "",
       json},
      {"PUT", "agents/profile", kAnnQuery + "&profileId=cmi5LearnerPreferences",
       prefs("en-US", "on"), 403, "launch actor", json},
      {"PUT", "agents/profile", ann, "just some text", 403, "JSON"},
      {"POST", "agents/profile", ann, R"({"audioPreference":"off"})", 204, "",
       json},
      {"DELETE", "agents/profile", ann, "", 204},
  });
  for (const auto& [language, audio] :
       std::vector<std::pair<std::string, std::string>>{
           {"not comma separated", "on"},
           {"", "on"},
           {"en-US,", "on"},
           {"en-US", "loud"},
           {"1en", "off"}}) {
    run({{"PUT", "agents/profile", ann, prefs(language, audio), 403, "",
          json}});
  }
  const std::string terminated =
      cmi5(cmi5::Verb::kTerminated, R"(,"result":{"duration":"PT9S"})");
  // A statement sent again (its answer lost) is kept once while the session
  // is open; after "terminated" only that one may come again.
  const auto again = [](const std::string& statement) {
    return "statementId=" + statement.substr(7, 36);
  };
  run({
      {"POST", "statements", "", completed, 403, "begins with \"initialized\""},
      {"POST", "statements", "", cmi5(cmi5::Verb::kInitialized), 200},
      {"POST", "statements", "", completed, 200},
      {"PUT", "statements", again(completed), completed, 204},
      {"POST", "statements", "",
       cmi5(cmi5::Verb::kCompleted,
            R"(,"result":{"completion":true,"duration":"PT6S"})"),
       403, "already has \"completed\""},
      // xAPI's own rules come first: 400, never judged.
      {"POST", "statements", "", cmi5(cmi5::Verb::kTerminated, ",\"x\":1"),
       400},
      {"POST", "statements", "", terminated, 200},
      {"POST", "statements", "", cmi5(cmi5::Verb::kInitialized), 403,
       "ended with \"terminated\""},
      {"PUT", "statements", again(completed), completed, 403,
       "ended with \"terminated\""},
      {"PUT", "statements", again(terminated), terminated, 204},
  });
  ASSERT_EQ(outbox().size(), 4u);
  EXPECT_EQ(outbox()[0], launched.id);
  run({{"GET", "statements", "statementId=" + launched.id, "", 200,
        "launched"}});
  ASSERT_TRUE(au.session());
  EXPECT_EQ(au.session()->state.phase, cmi5::Phase::kTerminated);
  EXPECT_TRUE(au.session()->state.outcome.completed);
}

TEST_F(ContentLrsTest, PagesFollowMoreOverTheSameStatements) {
  root = "/xapi/";
  open();
  for (int i = 0; i < 5; ++i)
    run({{"POST", "statements", "", AnnStatement(), 200}});
  for (const bool ascending : {false, true}) {
    SCOPED_TRACE(ascending ? "ascending" : "descending");
    std::vector<std::string> seen;
    std::string query =
        std::string("limit=2") + (ascending ? "&ascending=true" : "");
    for (int page = 0; page < 5 && !query.empty(); ++page) {
      const auto [ids, more] =
          Page(send({"GET", "statements", query, "", 200}));
      EXPECT_LE(ids.size(), 2u);
      seen.insert(seen.end(), ids.begin(), ids.end());
      // A statement stored after the first page is no part of later ones.
      if (page == 0) run({{"POST", "statements", "", AnnStatement(), 200}});
      ASSERT_TRUE(more.empty() || more.starts_with("/xapi/statements?"))
          << more;
      query = more.empty() ? "" : more.substr(more.find('?') + 1);
    }
    EXPECT_TRUE(query.empty()) << "pages without end";
    // The ascending reader's first page came after the 6th statement.
    std::vector<std::string> expected;
    const int count = ascending ? 6 : 5;
    for (int i = 0; i < count; ++i) {
      char id[40];
      std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d",
                    ascending ? 1 + i : count - i);
      expected.push_back(id);
    }
    EXPECT_EQ(seen, expected);
  }
  // A page of another LRS's making is refused.
  run({{"GET", "statements", "page=2", "", 400, "page"},
       {"GET", "statements", "page=x&through=1", "", 400, "page"}});
}

TEST_F(ContentLrsTest, HeadAndConsistentThroughOnEveryRead) {
  run({{"PUT", "statements", "statementId=" + kId1, AnnStatement(), 204}});
  for (const std::string& query :
       {"statementId=" + kId1, std::string(""), std::string("limit=x"),
        "statementId=" + kId2}) {
    SCOPED_TRACE(query);
    const LrsAnswer get = send({"GET", "statements", query, "", 0});
    const LrsAnswer head = send({"HEAD", "statements", query, "", 0});
    EXPECT_FALSE(get.header("X-Experience-API-Consistent-Through").empty());
    EXPECT_FALSE(head.header("X-Experience-API-Consistent-Through").empty());
    EXPECT_EQ(head.status, get.status);
    EXPECT_EQ(head.body, "");
    EXPECT_EQ(head.header("Content-Length"), std::to_string(get.body.size()));
  }
  run({{"HEAD", "about", "", "", 200},
       {"HEAD", "activities/state",
        "activityId=http%3A%2F%2Fexample.org%2Fa&stateId=s&" + kAnnQuery, "",
        404}});
}

TEST_F(ContentLrsTest, RelatedFiltersAndIdsFormat) {
  const std::string bob = R"({"mbox":"mailto:bob@example.org"})";
  const std::string course = "http://example.org/course";
  const std::string inCourse = R"(,"context":{"instructor":)" + bob +
                               R"(,"contextActivities":{"parent":{"id":")" +
                               course +
                               R"(","definition":{"name":{"en":"Course"}}}}})";
  run({{"PUT", "statements", "statementId=" + kId1,
        AnnStatement("completed", inCourse), 204}});
  const std::string byBob = "agent=" + Encoded(bob) + "&related_agents=true";
  const struct {
    std::string query;
    std::size_t found;
  } kQueries[] = {
      {"activity=" + Encoded(course), 0},
      {"activity=" + Encoded(course) + "&related_activities=true", 1},
      {"agent=" + Encoded(bob), 0},
      {byBob, 1},
      {byBob + "&related_activities=false", 1},
  };
  for (const auto& q : kQueries) {
    SCOPED_TRACE(q.query);
    EXPECT_EQ(Page(send({"GET", "statements", q.query, "", 200})).first.size(),
              q.found);
  }
  run({{"GET", "statements", "related_agents=yes", "", 400, "true or false"},
       {"GET", "statements", "format=short", "", 400, "format"}});
  // Single context activities are answered as arrays; format=ids keeps
  // what identifies each part.
  const LrsAnswer exact =
      send({"GET", "statements", "statementId=" + kId1, "", 200});
  EXPECT_NE(exact.body.find(R"("parent":[{"id":")" + course), std::string::npos)
      << exact.body;
  const JsonParse ids =
      ParseJson(send({"GET", "statements",
                      "statementId=" + kId1 + "&format=ids", "", 200})
                    .body);
  ASSERT_TRUE(ids.ok());
  EXPECT_EQ(WriteJson(*ids.value.find("actor")), kAnn);
  EXPECT_EQ(WriteJson(*ids.value.find("object")),
            R"({"id":"http://example.org/a"})");
  EXPECT_EQ(WriteJson(*ids.value.find("context")->find("contextActivities")),
            R"({"parent":[{"id":")" + course + "\"}]}");
}

TEST_F(ContentLrsTest, AlternateRequestSyntax) {
  const HttpHeaders form = {
      {"Content-Type", "application/x-www-form-urlencoded"}};
  const std::string put =
      "statementId=" + kId1 + "&content=" + Encoded(AnnStatement()) +
      "&Content-Type=application%2Fjson" + "&Authorization=Basic%20dTpw";
  run({
      {"POST", "statements", "method=PUT", put, 204, "", form},
      {"POST", "statements", "method=GET", "statementId=" + kId1, 200, kId1,
       form},
      {"POST", "statements", "method=PUT&statementId=" + kId1, put, 400,
       "method", form},
      {"POST", "statements", "method=PUT", put, 400, "form"},
      {"GET", "statements", "method=GET", "", 400, "POST"},
      {"POST", "statements", "method=PATCH", "", 400, "PATCH", form},
  });
  // Carriers look for the credentials where the form put them.
  const LrsRequest plain =
      PlainRequest({"POST", "statements", "method=PUT", form, put});
  EXPECT_EQ(plain.method, "PUT");
  EXPECT_EQ(plain.query, "statementId=" + kId1);
  LrsAnswer carried;
  carried.headers = plain.headers;
  EXPECT_EQ(carried.header("authorization"), "Basic dTpw");
  EXPECT_EQ(plain.body, AnnStatement());
}

TEST_F(ContentLrsTest, ActivitiesAndAgents) {
  const auto about = [](const std::string& names) {
    return R"({"actor":)" + kAnn +
           R"(,"verb":{"id":"http://x.org/v"},"object":{"id":"http://example.org/m","definition":{"name":)" +
           names + "}}}";
  };
  run({{"POST", "statements", "",
        "[" + about(R"({"en-US":"meeting"})") + "," +
            about(R"({"fr-FR":"réunion"})") + "]",
        200}});
  const LrsAnswer activity =
      send({"GET", "activities", "activityId=http%3A%2F%2Fexample.org%2Fm", "",
            200});
  EXPECT_EQ(activity.body,
            R"({"objectType":"Activity","id":"http://example.org/m",)"
            R"("definition":{"name":{"en-US":"meeting","fr-FR":"réunion"}}})");
  run({
      {"GET", "activities", "activityId=http%3A%2F%2Fexample.org%2Fnew", "",
       200, R"({"objectType":"Activity","id":"http://example.org/new"})"},
      {"GET", "activities", "activityId=new", "", 400, "IRI"},
      {"PUT", "activities", "activityId=http%3A%2F%2Fexample.org%2Fm", "", 405},
      {"GET", "agents", kAnnQuery, "", 200,
       R"({"objectType":"Person","mbox":["mailto:ann@example.org"]})"},
      {"GET", "agents", "", "", 400, "agent"},
      {"GET", "agents", "agent=%7B%7D", "", 400, "identifier"},
  });
}

// A multipart/mixed body: the JSON, then each (content type, data) part
// with the hash it is sent under ("" for its own SHA-256).
struct DataPart {
  std::string data;
  std::string hash = "";
  std::string encoding = "binary";
};
std::string Multipart(const std::string& json,
                      const std::vector<DataPart>& parts) {
  std::string body =
      "--b0undary\r\nContent-Type: application/json\r\n\r\n" + json + "\r\n";
  for (const DataPart& part : parts) {
    body +=
        "--b0undary\r\nContent-Type: application/octet-stream\r\n"
        "Content-Transfer-Encoding: " +
        part.encoding + "\r\nX-Experience-API-Hash: " +
        (part.hash.empty() ? Sha256Hex(part.data) : part.hash) + "\r\n\r\n" +
        part.data + "\r\n";
  }
  return body + "--b0undary--\r\n";
}

std::string Base64Url(const std::string& text) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char c : text) {
    buffer = buffer << 8 | c;
    bits += 8;
    while (bits >= 6) out += kDigits[buffer >> (bits -= 6) & 63];
  }
  if (bits) out += kDigits[buffer << (6 - bits) & 63];
  return out;
}

TEST_F(ContentLrsTest, AttachmentsComeWithTheirData) {
  // Binary data, a NUL in it.
  const std::string data("attached\0data", 13), other = "something else";
  const auto with = [](const std::string& usage, const std::string& type,
                       const std::string& content) {
    return AnnStatement("completed",
                        R"(,"attachments":[{"usageType":")" + usage +
                            R"(","display":{"en":"a"},"contentType":")" + type +
                            R"(","length":)" + std::to_string(content.size()) +
                            R"(,"sha2":")" + Sha256Hex(content) + "\"}]");
  };
  const std::string statement = with("http://x.org/u", "text/plain", data);
  const HttpHeaders mixed = {
      {"Content-Type", "multipart/mixed; boundary=b0undary"}};
  const HttpHeaders formData = {
      {"Content-Type", "multipart/form-data; boundary=b0undary"}};
  const HttpHeaders noBoundary = {{"Content-Type", "multipart/mixed"}};
  run({
      {"POST", "statements", "", Multipart(statement, {{data}}), 200, "",
       mixed},
      {"POST", "statements", "", statement, 400, "did not come"},
      {"POST", "statements", "", Multipart(statement, {}), 400, "did not come",
       mixed},
      {"POST", "statements", "", Multipart(statement, {{data}, {other}}), 400,
       "no attachment", mixed},
      {"POST", "statements", "",
       Multipart(statement, {{data, Sha256Hex(other)}}), 400,
       "X-Experience-API-Hash", mixed},
      {"POST", "statements", "", Multipart(statement, {{data, "", "base64"}}),
       400, "Content-Transfer-Encoding", mixed},
      {"POST", "statements", "", Multipart(statement, {{data}}), 400, "",
       formData},
      {"POST", "statements", "", Multipart(statement, {{data}}), 400,
       "not well formed", noBoundary},
      // Cut short, or with no line between a boundary and its part.
      {"POST", "statements", "", Multipart(statement, {{data}}).substr(0, 200),
       400, "not well formed", mixed},
      {"POST", "statements", "", "--b0undaryContent-Type: x\r\n\r\n{}", 400,
       "not well formed", mixed},
      {"POST", "statements", "", "--b0undary--\r\n", 400, "not well formed",
       mixed},
  });
  EXPECT_EQ(outbox().size(), 1u);
  // Read back with its data, or without.
  const LrsAnswer plain = send({"GET", "statements", "", "", 200});
  EXPECT_EQ(plain.header("Content-Type"), "application/json");
  const LrsAnswer withData =
      send({"GET", "statements", "attachments=true", "", 200});
  const std::string type = withData.header("Content-Type");
  ASSERT_TRUE(type.starts_with("multipart/mixed; boundary=")) << type;
  const std::string boundary = type.substr(type.find('=') + 1);
  EXPECT_TRUE(withData.body.starts_with("--" + boundary +
                                        "\r\nContent-Type: application/json"));
  EXPECT_NE(withData.body.find("X-Experience-API-Hash: " + Sha256Hex(data) +
                               "\r\n\r\n" + data + "\r\n--" + boundary + "--"),
            std::string::npos);

  // A signature: a JWS of the statement by RS256, RS384 or RS512.
  const auto signedBy = [&](const std::string& alg,
                            const std::string& payload) {
    const std::string jws = Base64Url(R"({"alg":")" + alg + "\"}") + "." +
                            Base64Url(payload) + ".c2lnbmF0dXJl";
    return std::pair{with("http://adlnet.gov/expapi/attachments/signature",
                          "application/octet-stream", jws),
                     jws};
  };
  for (const auto& [alg, payload, status] :
       std::vector<std::tuple<std::string, std::string, int>>{
           {"RS256", AnnStatement(), 200},
           {"RS512", AnnStatement(), 200},
           {"HS256", AnnStatement(), 400},
           {"RS256", "{'not':'json'}", 400},
           {"RS256", AnnStatement("passed"), 400}}) {
    const auto [signedStatement, jws] = signedBy(alg, payload);
    run({{"POST", "statements", "", Multipart(signedStatement, {{jws}}), status,
          "", mixed}});
  }
  const auto [wrongType, jws] = signedBy("RS256", AnnStatement());
  std::string textType = wrongType;
  textType.replace(textType.find("application/octet-stream"), 24, "text/plain");
  run({{"POST", "statements", "", Multipart(textType, {{jws}}), 400,
        "octet-stream", mixed}});
}

// What the issue measured: big statements, big documents, unbounded reads.
TEST_F(ContentLrsTest, BoundsRefuseWithAJournalLine) {
  bounds.statementBytes = 2000;
  bounds.documentBytes = 1000;
  bounds.learnerBytes = 20000;
  bounds.pageStatements = 3;
  open();
  const std::string big =
      AnnStatement("completed", R"(,"result":{"response":")" +
                                    std::string(2000, 'x') + "\"}");
  const std::string state =
      "activityId=http%3A%2F%2Fexample.org%2Fa&stateId=s&" + kAnnQuery;
  const auto refused = [&](const Step& step) {
    SCOPED_TRACE(step.method + " " + step.path);
    const LrsAnswer answer = send(step);
    EXPECT_EQ(answer.status, 413) << answer.body;
    EXPECT_NE(answer.journal.find(answer.body), std::string::npos)
        << answer.journal;
  };
  refused({"PUT", "statements", "statementId=" + kId1, big, 413});
  refused(
      {"POST", "statements", "", "[" + AnnStatement() + "," + big + "]", 413});
  refused({"PUT", "activities/state", state, std::string(1001, 'd'), 413});
  run({{"PUT",
        "activities/state",
        state,
        R"({"a":")" + std::string(600, 'd') + "\"}",
        204,
        "",
        {{"Content-Type", "application/json"}}}});
  // A merge that passes the bound is refused as well.
  refused({"POST",
           "activities/state",
           state,
           R"({"b":")" + std::string(600, 'd') + "\"}",
           413,
           "",
           {{"Content-Type", "application/json"}}});
  EXPECT_TRUE(outbox().empty());
  // The learner's whole: statements are taken until they would pass it.
  int taken = 0;
  const std::string middling =
      AnnStatement("completed", R"(,"result":{"response":")" +
                                    std::string(700, 'x') + "\"}");
  for (; taken < 40; ++taken) {
    const LrsAnswer answer = send({"POST", "statements", "", middling, 0});
    if (answer.status != 200) {
      EXPECT_EQ(answer.status, 413);
      EXPECT_FALSE(answer.journal.empty());
      break;
    }
  }
  EXPECT_GT(taken, 5);
  EXPECT_LT(taken, 20);
  EXPECT_EQ(outbox().size(), static_cast<std::size_t>(taken));
  // A fresh handler over the same store counts what it holds.
  open();
  refused({"POST", "statements", "", middling, 413});
  // Reads: no more than the page's statements and bytes, then "more".
  const auto [ids, more] = Page(send({"GET", "statements", "", "", 200}));
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_FALSE(more.empty());
  const auto [few, next] =
      Page(send({"GET", "statements", "limit=1000", "", 200}));
  EXPECT_EQ(few.size(), 3u);
  EXPECT_FALSE(next.empty());
  bounds.pageStatements = 100;
  bounds.pageBytes = 2000;
  open();
  const auto [byBytes, rest] = Page(send({"GET", "statements", "", "", 200}));
  EXPECT_GE(byBytes.size(), 1u);
  EXPECT_LE(byBytes.size(), 3u);
  EXPECT_FALSE(rest.empty());
}

TEST(ContentLrsTimeTest, TimestampsAndMilliseconds) {
  const struct {
    std::string text;
    std::int64_t ms;
  } kCases[] = {
      {"1970-01-01T00:00:00.000Z", 0},
      {"2026-12-08T12:00:00.000Z", kStart},
      {"2000-02-29T23:59:59.999Z", 951868799999},
      {"1969-12-31T23:59:59.999Z", -1},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(TimestampOfMs(c.ms), c.text);
    EXPECT_EQ(MsOfTimestamp(c.text), c.ms);
  }
  EXPECT_EQ(MsOfTimestamp("2026-12-08T13:30:00.5+01:30"), kStart + 500);
  EXPECT_EQ(MsOfTimestamp("2026-12-08T12:00:00"), kStart);  // a query's
  EXPECT_EQ(MsOfTimestamp("2026-12-08T13:30:00+01:"), std::nullopt);
  EXPECT_EQ(MsOfTimestamp("noon"), std::nullopt);
}

}  // namespace
}  // namespace zept::xapi
