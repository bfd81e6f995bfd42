// The shell's own courses give statements with the values that caused them:
// the runtime on the fake platform, the outbox in a real SQLite store.

#include "store/shell_results.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>

#include "platform/codepage.h"
#include "tracking/course_fixture.h"
#include "util/sha256.h"

namespace zept::scorm {
namespace {

namespace fs = std::filesystem;

class ShellResultsTest : public ::testing::Test,
                         public zept::testing::CourseEnv {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/zept-shell-results-XXXXXX";
    dir = ::mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(dir); }

  xapi::LrsConfig config() const {
    xapi::LrsConfig c;
    c.endpoint = "http://127.0.0.1:1/xAPI/";
    c.homePage = "https://learners.example.org";
    c.activityBase = "https://courses.example.org/";
    c.file = dir + "/zept-lrs.conf";
    return c;
  }
  // A runtime of anna in course1 with results captured, as zept makes it.
  struct Run {
    TLMSAPI api;
    ShellResults results;
    Run(ShellResultsTest& t, const WideString& mode)
        : api(t.ctx, t.parcours),
          results(
              t.dir, t.config(),
              [&t](const std::string& line) { t.problems.push_back(line); },
              [](const std::string&) {}) {
      api.StorageMode = mode;
      api.TrackPath = u"C:\\data";
      api.TrackingId = u"course1";
      api.Login = u"anna";
      api.Observer = &results;
      results.newId = [&t] {
        char id[40];
        std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", ++t.ids);
        return std::string(id);
      };
    }
  };
  std::string storePath() const {
    return StorePath(dir, ShellStoreKey(u"course1"));
  }
  // The verbs of the pending statements, in order ("initialized@i1").
  std::vector<std::string> pending() {
    std::vector<std::string> verbs;
    if (!fs::exists(storePath())) return verbs;
    ProgressStore store(storePath());
    for (const xapi::OutboxEntry& e :
         store.outbox("http://127.0.0.1:1/xAPI/").pending(100)) {
      const std::string& json = e.statement.json;
      const std::size_t verb = json.find("/verbs/") + 7;
      const std::size_t item = json.find("course1/", verb) + 8;
      verbs.push_back(json.substr(verb, json.find('"', verb) - verb) + "@" +
                      json.substr(item, json.find('"', item) - item));
    }
    return verbs;
  }
  int staged() {
    sqlite3* db = nullptr;
    sqlite3_open(storePath().c_str(), &db);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM statements WHERE state=3", -1,
                       &s, nullptr);
    const int n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
    sqlite3_finalize(s);
    sqlite3_close(db);
    return n;
  }

  std::string dir;
  int ids = 0;
  std::vector<std::string> problems;
};

TEST_F(ShellResultsTest, StatementsGoOnlyWithTheValuesThatCausedThem) {
  const auto start = [](TLMSAPI& api, std::int32_t sco) {
    api.LMSLoad();
    api.LMSInitialize();
    api.CurrentSCO = sco;
  };
  const struct {
    const char* name;
    std::function<void(ShellResultsTest&, Run&)> play;
    std::vector<std::string> verbs;
  } cases[] = {
      {"commit, then finish",
       [&](ShellResultsTest&, Run& r) {
         start(r.api, 1);
         r.api.LMSSetValue(u"cmi.core.lesson_status", u"passed");
         r.api.LMSSetValue(u"score", u"90");
         r.api.LMSCommit();
         r.api.LMSFinish();
       },
       {"initialized@i1", "passed@i1", "scored@i1", "terminated@i1"}},
      {"a failed store keeps them for the next",
       [&](ShellResultsTest& t, Run& r) {
         start(r.api, 2);
         r.api.LMSSetValue(u"cmi.core.lesson_status", u"completed");
         t.fake.files.failWritesUnder(u"C:\\data");
         r.api.LMSCommit();
         EXPECT_EQ(t.pending(), std::vector<std::string>{});
         EXPECT_EQ(t.staged(), 0);
         t.fake.files.failWritesUnder(u"Z:\\nowhere");
         r.api.LMSCommit();
         r.api.LMSFinish();
       },
       {"initialized@i2", "completed@i2", "terminated@i2"}},
      {"the window closes after a store",
       [&](ShellResultsTest&, Run& r) {
         start(r.api, 1);
         r.api.LMSSetValue(u"cmi.core.lesson_status", u"failed");
         r.api.LMSCommit();
         r.results.end(r.api);
       },
       {"initialized@i1", "failed@i1", "terminated@i1"}},
      {"values never stored are never sent",
       [&](ShellResultsTest&, Run& r) {
         start(r.api, 1);
         r.api.LMSSetValue(u"cmi.core.lesson_status", u"passed");
         r.api.LMSCommit();
         r.api.LMSSetValue(u"cmi.core.score.raw", u"40");
         r.results.end(r.api);
       },
       {"initialized@i1", "passed@i1"}},
      {"each SCO touched in the session",
       [&](ShellResultsTest&, Run& r) {
         start(r.api, 1);
         r.api.LMSSetValue(u"cmi.core.lesson_status", u"completed");
         r.api.CurrentSCO = 2;
         r.api.LMSSetValue(u"cmi.suspend_data", u"x");
         r.api.LMSCommit();
         r.api.LMSFinish();
       },
       {"initialized@i1", "initialized@i2", "completed@i1", "terminated@i1",
        "terminated@i2"}},
      {"a status the last course session reported is not reported again",
       [&](ShellResultsTest&, Run& r) {
         start(r.api, 1);
         r.api.LMSSetValue(u"cmi.core.lesson_status", u"completed");
         r.api.LMSCommit();
         r.api.LMSFinish();
         r.api.LMSInitialize();
         r.api.LMSSetValue(u"cmi.suspend_data", u"x");
         r.api.LMSCommit();
         r.api.LMSFinish();
       },
       {"initialized@i1", "completed@i1", "terminated@i1", "initialized@i1",
        "terminated@i1"}},
      {"another process holds the learner's store",
       [&](ShellResultsTest& t, Run& r) {
         auto held = t.fake.locks.tryLock(r.api.StoreLockName(), 0);
         start(r.api, 1);
         r.api.LMSSetValue(u"cmi.core.lesson_status", u"passed");
         r.api.LMSCommit();
         r.api.LMSFinish();
       },
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir + "/packages");
    fake.files.failWritesUnder(u"Z:\\nowhere");
    fake.files.deleteFile(u"C:\\data\\course1\\anna\\tracking.xml");
    {
      Run run(*this, u"file");
      c.play(*this, run);
    }
    EXPECT_EQ(pending(), c.verbs);
    EXPECT_EQ(staged(), fs::exists(storePath()) ? 0 : -1);
  }
  EXPECT_EQ(problems, std::vector<std::string>{});
}

// A crash between a commit's steps leaves statements staged: the next load
// of the learner keeps those whose values are the stored ones, and only
// those of its place, whether the trackings are a file or a registry value.
TEST_F(ShellResultsTest, LoadSettlesWhatACrashLeftStaged) {
  for (const WideString mode : {u"file", u"reg"}) {
    SCOPED_TRACE(WideToUtf8(mode));
    fs::remove_all(dir + "/packages");
    std::string token;
    WideString place;
    {
      TLMSAPI first(ctx, parcours);
      first.StorageMode = mode;
      first.TrackPath = u"C:\\data";
      first.TrackingId = u"course1";
      first.Login = u"anna";
      first.LMSInitialize();
      first.CurrentSCO = 1;
      first.LMSSetValue(u"cmi.core.lesson_status", u"caf\u00e9 passed");
      first.LMSCommit();
      token = Sha256Hex(first.BuildTrackingsXmlUtf8());
      place = first.StoreLockName();
    }
    {
      ProgressStore store(storePath());
      store.rememberLrs("http://127.0.0.1:1/xAPI/", "lrs.conf");
      const auto stage = [&](const char* login, const WideString& place,
                             char id, const std::string& token) {
        store.stage(
            login, WideToUtf8(place),
            {{std::string("00000000-0000-4000-8000-00000000000") + id, "{}"}},
            token);
      };
      stage("anna", place, 'a', token);
      stage("anna", place, 'b', Sha256Hex("a document never stored"));
      stage("bob", place, 'c', token);
      stage("anna", u"another copy's place", 'd', Sha256Hex("theirs"));
    }
    Run run(*this, mode);
    run.api.LMSLoad();
    ProgressStore store(storePath());
    const std::vector<xapi::OutboxEntry> ready =
        store.outbox("http://127.0.0.1:1/xAPI/").pending(10);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0].statement.id, "00000000-0000-4000-8000-00000000000a");
    // Bob's wait for his load, the other copy's for its own.
    EXPECT_EQ(staged(), 2);
  }
}

}  // namespace
}  // namespace zept::scorm
