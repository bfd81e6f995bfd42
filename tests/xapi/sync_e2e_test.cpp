// zept-sync and zept-results run as a learner's machine runs them: progress
// a player stored with its statements, sent to the real LRS through faults
// (stopped, busy, wrong credentials, lost answers, a kill mid-send, an
// invalid statement), each statement arriving once and in capture order;
// a SCORM 2004 course's player alike.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/results_sender.h"
#include "lrs/lrs_server.h"
#include "scorm/player.h"
#include "scorm2004/player.h"
#include "scorm2004/reader.h"
#include "store/progress_store.h"
#include "xapi/statements.h"

extern char** environ;

namespace zept {
namespace {

namespace fs = std::filesystem;
using testing::LrsServer;

constexpr char kLogin[] = "anna";
constexpr char kHomePage[] = "https://learners.example.org";
constexpr char kCourseIri[] = "https://courses.example.org/SYNC-COURSE";
constexpr char kCourseTitle[] = "Sync course";
// What the player's two sessions capture, in order.
constexpr char kPlayedVerbs[] =
    "initialized scored passed responded responded terminated initialized "
    "suspended ";

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// End of the JSON value starting at i.
std::size_t ValueEnd(std::string_view s, std::size_t i) {
  int depth = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      for (++i; i < s.size() && s[i] != '"'; ++i)
        if (s[i] == '\\') ++i;
      if (depth == 0) return i + 1;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (depth == 0) return i;
      if (--depth == 0) return i + 1;
    } else if (depth == 0 && (c == ',' || c == ' ' || c == '\n')) {
      return i;
    }
  }
  return i;
}

// The JSON text of the member at path ("context.registration") of an
// object, "" when absent; strings lose their quotes.
std::string Field(std::string_view json, std::string_view path) {
  const auto space = [&](std::size_t i) {
    while (i < json.size() && std::isspace(static_cast<unsigned char>(json[i])))
      ++i;
    return i;
  };
  const std::string_view name = path.substr(0, path.find('.'));
  std::size_t i = space(0);
  if (i >= json.size() || json[i] != '{') return "";
  for (i = space(i + 1); i < json.size() && json[i] == '"';) {
    const std::size_t keyEnd = ValueEnd(json, i);
    const std::string_view key = json.substr(i + 1, keyEnd - i - 2);
    const std::size_t value = space(space(keyEnd) + 1);
    const std::size_t end = ValueEnd(json, value);
    if (key == name) {
      const std::string_view text = json.substr(value, end - value);
      if (name.size() < path.size())
        return Field(text, path.substr(name.size() + 1));
      return std::string(text.front() == '"' ? text.substr(1, text.size() - 2)
                                             : text);
    }
    i = space(end);
    if (i < json.size() && json[i] == ',') i = space(i + 1);
  }
  return "";
}

std::string Verbs(const std::vector<std::string>& statements) {
  std::string verbs;
  for (const std::string& s : statements) {
    const std::string id = Field(s, "verb.id");
    verbs += id.substr(std::min<std::size_t>(31, id.size())) +
             " ";  // after .../verbs/
  }
  return verbs;
}

std::vector<std::string> Ids(const std::vector<std::string>& statements) {
  std::vector<std::string> ids;
  for (const std::string& s : statements) ids.push_back(Field(s, "id"));
  return ids;
}

struct Ran {
  int exit = -1;
  std::string out, err;
};

class SyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = LrsServer::missing(); !why.empty()) GTEST_SKIP() << why;
    char pattern[] = "/tmp/zept-sync-e2e-XXXXXX";
    root_ = ::mkdtemp(pattern);
    course_ = root_ / "course";
    fs::create_directories(course_);
    std::ofstream(course_ / "imsmanifest.xml")
        << "<?xml version=\"1.0\"?><manifest identifier=\"SYNC-COURSE\" "
           "xmlns=\"http://www.imsproject.org/xsd/imscp_rootv1p1p2\" "
           "xmlns:adlcp=\"http://www.adlnet.org/xsd/adlcp_rootv1p2\">"
           "<organizations default=\"O\"><organization identifier=\"O\">"
           "<title>"
        << kCourseTitle
        << "</title><item identifier=\"ITEM-1\" identifierref=\"R1\">"
           "<title>One</title></item><item identifier=\"ITEM-2\" "
           "identifierref=\"R2\"><title>Two</title></item></organization>"
           "</organizations><resources><resource identifier=\"R1\" "
           "type=\"webcontent\" adlcp:scormtype=\"sco\" href=\"1.html\"/>"
           "<resource identifier=\"R2\" type=\"webcontent\" "
           "adlcp:scormtype=\"sco\" href=\"2.html\"/></resources></manifest>";
    std::ofstream(course_ / "1.html") << "<html></html>";
    std::ofstream(course_ / "2.html") << "<html></html>";
    lrs_.start();
    lrsFile_ = root_ / "lrs.conf";
    writeConfig(lrs_.secret());

    files_ = scorm::OpenFolderPackage(course_.string());
    manifest_ = scorm::ReadManifest(*files_->read("imsmanifest.xml"));
    scorm::CourseStore opened = scorm::OpenCourseStore(
        (root_ / "data" / "zept").string(), manifest_, *files_);
    ASSERT_EQ(opened.key, scorm::PackageKey(manifest_));
    store_ = std::move(opened.store);
  }
  void TearDown() override {
    store_.reset();
    lrs_.stop();  // a restart empties it
    if (!root_.empty()) fs::remove_all(root_);
  }

  void writeConfig(const std::string& secret) {
    std::ofstream(lrsFile_)
        << "[lrs]\nendpoint=" << lrs_.endpoint() << "\nusername=" << lrs_.key()
        << "\npassword=" << secret << "\nhomepage=" << kHomePage
        << "\nactivity-base=https://courses.example.org/\n";
    // It holds a password: the user's alone.
    fs::permissions(lrsFile_, fs::perms::owner_read | fs::perms::owner_write);
  }

  // The learner passes item 1 with a score and two answers, and leaves
  // item 2 suspended, as a SCO's page would through the player.
  // config: the LRS configuration in force, the test's by default.
  void play(fs::path config = {}) {
    if (config.empty()) config = lrsFile_;
    scorm::PlayerOptions options;
    std::string error;
    options.lrs = xapi::ParseLrsConfig(Slurp(config), config, error);
    ASSERT_TRUE(options.lrs) << error;
    // As zept does: what is captured from now on is for this LRS.
    store_->rememberLrs(options.lrs->endpoint, config.string());
    scorm::Player player(manifest_, *store_, options);
    ASSERT_NE(player.handle({"login", kLogin}).find("\"ok\":true"),
              std::string::npos);
    using Calls = std::vector<std::vector<std::string>>;
    const std::pair<const char*, Calls> sessions[] = {
        {"ITEM-1",
         {{"LMSInitialize", ""},
          {"LMSSetValue", "cmi.core.score.raw", "80"},
          {"LMSSetValue", "cmi.core.score.min", "0"},
          {"LMSSetValue", "cmi.core.score.max", "100"},
          {"LMSSetValue", "cmi.core.lesson_status", "passed"},
          {"LMSSetValue", "cmi.interactions.0.id", "q1"},
          {"LMSSetValue", "cmi.interactions.0.type", "choice"},
          {"LMSSetValue", "cmi.interactions.0.student_response", "a"},
          {"LMSSetValue", "cmi.interactions.0.result", "correct"},
          {"LMSSetValue", "cmi.interactions.1.id", "q2"},
          {"LMSSetValue", "cmi.interactions.1.type", "true-false"},
          {"LMSSetValue", "cmi.interactions.1.student_response", "t"},
          {"LMSSetValue", "cmi.interactions.1.result", "wrong"},
          {"LMSSetValue", "cmi.core.session_time", "0000:01:30"},
          {"LMSFinish", ""}}},
        {"ITEM-2",
         {{"LMSInitialize", ""},
          {"LMSSetValue", "cmi.core.lesson_status", "incomplete"},
          {"LMSSetValue", "cmi.core.exit", "suspend"},
          {"LMSFinish", ""}}},
    };
    for (const auto& [item, calls] : sessions) {
      const std::string launched = player.handle({"launch", item});
      const std::size_t at = launched.find("\"launch\":\"");
      ASSERT_NE(at, std::string::npos) << launched;
      const std::string number =
          launched.substr(at + 10, launched.find('"', at + 10) - at - 10);
      for (std::vector<std::string> call : calls) {
        call.insert(call.begin(), {"api", number});
        ASSERT_EQ(player.handle(call), "true") << call[2] << " " << call[3];
      }
    }
    ASSERT_EQ(Verbs(outbox(options.lrs->endpoint)), kPlayedVerbs);
  }

  // The statements pending in the outbox of endpoint (the test LRS's), in
  // capture order.
  std::vector<std::string> outbox(std::string endpoint = "") {
    if (endpoint.empty()) endpoint = lrs_.endpoint();
    std::vector<std::string> texts;
    for (const xapi::OutboxEntry& e : store_->outbox(endpoint).pending(1000000))
      texts.push_back(e.statement.json);
    return texts;
  }

  // Starts a program with the test's data and configuration folders, and
  // more variables of its environment.
  pid_t spawn(const std::vector<std::string>& args,
              const std::vector<std::string>& more = {}) {
    std::vector<std::string> env = {
        "XDG_DATA_HOME=" + (root_ / "data").string(),
        "XDG_CONFIG_HOME=" + (root_ / "config").string(),
        "HOME=" + root_.string()};
    env.insert(env.end(), more.begin(), more.end());
    for (char** e = environ; *e; ++e) {
      const std::string_view var = *e;
      const std::string_view name = var.substr(0, var.find('=') + 1);
      if (std::find(env.begin(), env.end(), var) == env.end() &&
          std::none_of(env.begin(), env.end(), [&](const std::string& set) {
            return set.starts_with(name);
          }))
        env.emplace_back(var);
    }
    std::vector<char*> argv, envp;
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env)
      envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (root_ / "out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (root_ / "err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int failed =
        posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
  }
  Ran wait(pid_t pid) {
    Ran ran;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
      ran.exit = WEXITSTATUS(status);
    ran.out = Slurp(root_ / "out");
    ran.err = Slurp(root_ / "err");
    return ran;
  }
  // zept-sync, with --lrs FILE or the configuration the store remembers.
  Ran sync(bool remembered, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {ZEPT_SYNC_BINARY};
    if (!remembered) args.insert(args.end(), {"--lrs", lrsFile_.string()});
    args.insert(args.end(), more.begin(), more.end());
    return wait(spawn(args));
  }
  // What zept-sync prints last: its counts, what waits for the test's LRS,
  // and how many are set aside.
  std::string summary(int sent, int pending, int refused, int aside = 0) {
    std::string out = "sent " + std::to_string(sent) + ", pending " +
                      std::to_string(pending) + ", refused " +
                      std::to_string(refused) + "\n";
    if (pending > 0)
      out += "pending " + std::to_string(pending) + " for " + lrs_.endpoint() +
             "\n";
    if (aside > 0)
      out += "set aside " + std::to_string(aside) +
             ": refused by the LRS as invalid; zept-sync --retry-refused puts "
             "them back in line\n";
    return out;
  }
  std::string pendingInResults() {
    const Ran ran = wait(spawn({ZEPT_RESULTS_BINARY, course_.string()}));
    const std::size_t at = ran.out.find("\"pending_statements\": ");
    if (ran.exit != 0 || at == std::string::npos) return ran.out + ran.err;
    return ran.out.substr(at + 22, ran.out.find(',', at) - at - 22);
  }

  // The LRS holds exactly the statements of ids, once each, in their order.
  void expectHeldOnce(const std::vector<std::string>& ids) {
    const std::vector<std::string> held = Ids(lrs_.statements());
    EXPECT_EQ(held.size(), ids.size());
    EXPECT_TRUE(held == ids) << "held in another order or more than once";
  }
  // What the LRS holds of the player's two sessions reads as they went.
  void expectPlayedAsCaptured(const std::vector<std::string>& held) {
    EXPECT_EQ(Verbs(held), kPlayedVerbs);
    const std::string registration = store_->registration(kLogin);
    for (const std::string& s : held) {
      EXPECT_EQ(Field(s, "actor.objectType"), "Agent");
      EXPECT_EQ(Field(s, "actor.name"), kLogin);
      EXPECT_EQ(Field(s, "actor.account.homePage"), kHomePage);
      EXPECT_EQ(Field(s, "actor.account.name"), kLogin);
      EXPECT_EQ(Field(s, "context.registration"), registration);
      EXPECT_NE(Field(s, "context.contextActivities.grouping")
                    .find(std::string("\"id\":\"") + kCourseIri + "\""),
                std::string::npos)
          << s;
    }
    ASSERT_EQ(held.size(), 8u);
    for (const std::string& scored : {held[1], held[5]}) {
      EXPECT_EQ(Field(scored, "result.score.raw"), "80");
      EXPECT_EQ(Field(scored, "result.score.min"), "0");
      EXPECT_EQ(Field(scored, "result.score.max"), "100");
      EXPECT_EQ(Field(scored, "result.score.scaled"), "0.8");
    }
    EXPECT_EQ(Field(held[0], "object.id"), std::string(kCourseIri) + "/ITEM-1");
    EXPECT_EQ(Field(held[3], "result.success"), "true");
    EXPECT_EQ(Field(held[4], "result.success"), "false");
    EXPECT_EQ(Field(held[5], "result.duration"), "PT1M30S");
    EXPECT_EQ(Field(held[5], "result.success"), "true");
    EXPECT_EQ(Field(held[7], "object.id"), std::string(kCourseIri) + "/ITEM-2");
    EXPECT_EQ(Field(held[7], "result.completion"), "false");
  }

  fs::path root_, course_, lrsFile_;
  LrsServer lrs_;
  std::unique_ptr<scorm::PackageFiles> files_;
  scorm::Manifest manifest_;
  std::unique_ptr<scorm::ProgressStore> store_;
};

// Whatever keeps the statements from the LRS, nothing is marked sent; once
// it is put right, everything arrives once, and a later run sends nothing.
TEST_F(SyncTest, SendsEverythingOnceWhenTheLrsIsPutRight) {
  struct Case {
    const char* name;
    bool remembered;  // the store's configuration rather than --lrs
    std::function<void()> breakIt, mendIt;
    const char* why;  // on stderr
    bool readable;    // the LRS can be read while broken
  };
  const Case cases[] = {
      {"stopped", false, [this] { lrs_.stop(); }, [this] { lrs_.start(); },
       "no answer from http://127.0.0.1", false},
      {"busy", true, [this] { lrs_.failNext(1, 500); }, [] {},
       "the LRS answered 500", true},
      {"refusing", false, [this] { lrs_.refuseCredentials(true); },
       [this] { lrs_.refuseCredentials(false); },
       "the LRS refused zept's credentials", false},
      {"wrong secret", true, [this] { writeConfig("wrong"); },
       [this] { writeConfig(lrs_.secret()); },
       "the LRS refused zept's credentials", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    play();
    if (HasFatalFailure()) return;
    const std::vector<std::string> ids = Ids(outbox());
    EXPECT_EQ(pendingInResults(), "8");

    c.breakIt();
    Ran ran = sync(c.remembered);
    EXPECT_EQ(ran.exit, 1);
    EXPECT_EQ(ran.out, summary(0, 8, 0));
    EXPECT_NE(
        ran.err.find(std::string("zept-sync: ") + kCourseTitle + ": " + c.why),
        std::string::npos)
        << ran.err;
    EXPECT_EQ(store_->pendingStatements(), 8u);
    if (c.readable) {
      EXPECT_TRUE(lrs_.statements().empty());
    }

    c.mendIt();
    ran = sync(c.remembered);
    EXPECT_EQ(ran.exit, 0) << ran.err;
    EXPECT_EQ(ran.out, summary(8, 0, 0));
    EXPECT_EQ(ran.err, "");
    expectHeldOnce(ids);
    expectPlayedAsCaptured(lrs_.statements());

    ran = sync(c.remembered);
    EXPECT_EQ(ran.exit, 0) << ran.err;
    EXPECT_EQ(ran.out, summary(0, 0, 0));
    EXPECT_EQ(lrs_.statements().size(), 8u);
    EXPECT_EQ(pendingInResults(), "0");
  }
}

// The LRS stored a batch zept never heard about, or zept-sync was killed
// while sending: the next run sends the rest and the LRS has each once.
TEST_F(SyncTest, ALostAnswerOrAKillSendsNothingTwice) {
  struct Case {
    const char* name;
    int more;  // statements added to the player's, to make the send long
    bool kill;
  };
  for (const Case& c :
       {Case{"lost answer", 0, false}, Case{"killed", 3000, true}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    play();
    if (HasFatalFailure()) return;
    if (c.more) {
      xapi::SessionStatements more(
          {kLogin,
           kHomePage,
           store_->registration(kLogin),
           {kCourseIri, kCourseTitle},
           {std::string(kCourseIri) + "/ITEM-2", "Two"}});
      std::vector<xapi::Statement> added;
      for (int i = 0; i < c.more; ++i) {
        more.valueSet("cmi.core.lesson_location", std::to_string(i));
        more.valueSet("cmi.comments", "note " + std::to_string(i));
        more.storing({});
        for (xapi::Statement& s : more.take()) added.push_back(std::move(s));
      }
      store_->save(kLogin, "ITEM-2", store_->load(kLogin, "ITEM-2"), added);
    }
    const std::vector<std::string> ids = Ids(outbox());
    ASSERT_EQ(ids.size(), 8u + c.more);

    std::size_t left = 0;  // pending after the run that failed
    if (c.kill) {
      const pid_t pid = spawn({ZEPT_SYNC_BINARY, "--lrs", lrsFile_.string()});
      const auto deadline =
          std::chrono::steady_clock::now() + std::chrono::seconds(20);
      // Wait until zept-sync has recorded a batch as sent: the LRS holding
      // one is not enough, the answer may not have been recorded yet.
      while (store_->pendingStatements() == ids.size() &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      ::kill(pid, SIGKILL);
      EXPECT_EQ(wait(pid).exit, -1) << "the send ended before the kill";
      // The batch it had sent may still be being stored: sent again
      // meanwhile, the LRS would store it twice (it looks for the ids and
      // stores in two steps). A learner's next run comes later than that.
      lrs_.waitIdle();
      left = store_->pendingStatements();
      EXPECT_GT(left, 0u);
      EXPECT_LT(left, ids.size());
    } else {
      lrs_.dropNext(1);
      const Ran ran = sync(false);
      EXPECT_EQ(ran.exit, 1);
      EXPECT_EQ(ran.out, summary(0, 8, 0));
      EXPECT_NE(ran.err.find("no answer from"), std::string::npos) << ran.err;
      EXPECT_EQ(lrs_.statements().size(), 8u);
      left = 8;
    }
    // What the LRS already held counts as sent.
    const Ran ran = sync(false);
    EXPECT_EQ(ran.exit, 0) << ran.err;
    EXPECT_EQ(ran.out, summary(static_cast<int>(left), 0, 0));
    expectHeldOnce(ids);
    EXPECT_EQ(store_->pendingStatements(), 0u);
  }
}

// One invalid statement among valid ones is set aside and listed; the
// others go in order and zept-sync has nothing left to do.
TEST_F(SyncTest, AStatementTheLrsRefusesIsSetAsideAndListed) {
  play();
  if (HasFatalFailure()) return;
  std::vector<std::string> ids = Ids(outbox());
  const std::string bad = xapi::NewUuid();
  const std::string json =
      "{\"id\":\"" + bad +
      "\",\"actor\":{\"objectType\":\"Agent\",\"account\":{\"homePage\":\"" +
      kHomePage + "\",\"name\":\"" + kLogin +
      "\"}},\"verb\":{\"id\":\"http://adlnet.gov/expapi/verbs/scored\"},"
      "\"object\":{\"id\":\"" +
      kCourseIri +
      "/ITEM-1\"},\"result\":{\"score\":{\"raw\":150,\"min\":0,\"max\":100}}}";
  store_->save(kLogin, "ITEM-1", store_->load(kLogin, "ITEM-1"), {{bad, json}});
  // A valid statement captured after it still goes, after the others.
  xapi::SessionStatements after({kLogin,
                                 kHomePage,
                                 store_->registration(kLogin),
                                 {kCourseIri, kCourseTitle},
                                 {std::string(kCourseIri) + "/ITEM-2", "Two"}});
  after.initialized("resume");
  const std::vector<xapi::Statement> resumed = after.take();
  store_->save(kLogin, "ITEM-2", store_->load(kLogin, "ITEM-2"), resumed);
  ids.push_back(resumed[0].id);

  const Ran ran = sync(false);
  EXPECT_EQ(ran.exit, 0) << ran.err;
  const std::string listed =
      "refused " + bad + " (" + kCourseTitle + "): the LRS answered 400";
  EXPECT_EQ(ran.out.rfind(listed, 0), 0u) << ran.out;
  EXPECT_NE(ran.out.find("\n" + summary(9, 0, 1, 1)), std::string::npos)
      << ran.out;
  expectHeldOnce(ids);
  ASSERT_EQ(store_->refusedStatements().size(), 1u);
  EXPECT_EQ(store_->refusedStatements()[0].first, bad);
  // Later runs count it apart and never send it again...
  EXPECT_EQ(sync(false).out, summary(0, 0, 0, 1));
  EXPECT_EQ(lrs_.statements().size(), 9u);
  // ...unless the course team puts it back in line: alone, the LRS taking
  // none, it is the endpoint's fault, and it waits.
  const Ran again = sync(false, {"--retry-refused"});
  EXPECT_EQ(again.exit, 1);
  EXPECT_EQ(again.out, summary(0, 1, 0));
  EXPECT_NE(again.err.find("refused every statement it was sent (1)"),
            std::string::npos)
      << again.err;
  EXPECT_EQ(lrs_.statements().size(), 9u);
}

// An endpoint that answers what no working LRS would (a page of a server
// that is no LRS, 400 to every statement, 200 without the ids): nothing is
// marked sent or set aside, zept-sync fails, and once the endpoint is put
// right everything arrives once.
TEST_F(SyncTest, AnEndpointAnsweringWronglyLosesNothing) {
  using Body = LrsServer::Body;
  const struct {
    const char* name;
    std::function<void(LrsServer&)> breakIt;
    const char* why;
  } cases[] = {
      {"400 to all with a page",
       [](LrsServer& l) { l.failNext(100000, 400, Body::kPage); },
       "not an LRS's error"},
      {"400 to all with an xAPI error",
       [](LrsServer& l) { l.failNext(100000, 400); },
       "the LRS refused every statement it was sent (8)"},
      {"200 with a page",
       [](LrsServer& l) { l.failNext(100000, 200, Body::kPage); },
       "not the ids of the statements posted"},
      {"200 with half the ids",
       [](LrsServer& l) { l.listIdsNext(100000, true); },
       "not the ids of the statements posted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    play();
    if (HasFatalFailure()) return;
    const std::vector<std::string> ids = Ids(outbox());
    c.breakIt(lrs_);
    Ran ran = sync(false);
    EXPECT_EQ(ran.exit, 1);
    EXPECT_EQ(ran.out, summary(0, 8, 0));
    EXPECT_NE(ran.err.find(c.why), std::string::npos) << ran.err;
    EXPECT_TRUE(store_->refusedStatements().empty());
    lrs_.failNext(0);
    lrs_.listIdsNext(0, false);
    EXPECT_TRUE(lrs_.statements().empty());
    ran = sync(false);
    EXPECT_EQ(ran.exit, 0) << ran.err;
    EXPECT_EQ(ran.out, summary(8, 0, 0));
    expectHeldOnce(ids);
  }
}

// Captured while a wrong endpoint was in force (one answering 400 with a
// page to everything): they wait for it, never go to another LRS on their
// own, and go to the right one, once each, when the course team says so.
TEST_F(SyncTest, AWrongEndpointsStatementsGoWhereTheCourseTeamSays) {
  LrsServer wrong;
  wrong.start();
  wrong.failNext(100000, 400, LrsServer::Body::kPage);
  const fs::path wrongFile = root_ / "wrong.conf";
  fs::copy_file(lrsFile_, wrongFile);
  std::string text = Slurp(wrongFile);
  text.replace(text.find(lrs_.endpoint()), lrs_.endpoint().size(),
               wrong.endpoint());
  std::ofstream(wrongFile, std::ios::trunc) << text;
  play(wrongFile);
  if (HasFatalFailure()) return;
  const std::vector<std::string> ids = Ids(outbox(wrong.endpoint()));
  ASSERT_EQ(ids.size(), 8u);
  const std::string waiting =
      "sent 0, pending 8, refused 0\npending 8 for " + wrong.endpoint() + "\n";
  for (const fs::path& config : {wrongFile, lrsFile_}) {
    const Ran ran = wait(spawn({ZEPT_SYNC_BINARY, "--lrs", config.string()}));
    EXPECT_EQ(ran.exit, 1);
    EXPECT_EQ(ran.out, waiting);
  }
  EXPECT_TRUE(store_->refusedStatements().empty());
  EXPECT_TRUE(lrs_.statements().empty());
  const Ran ran = wait(spawn({ZEPT_SYNC_BINARY, "--lrs", lrsFile_.string(),
                              "--reassign", wrong.endpoint()}));
  EXPECT_EQ(ran.exit, 0) << ran.err;
  EXPECT_EQ(ran.out, summary(8, 0, 0));
  expectHeldOnce(ids);
  expectPlayedAsCaptured(lrs_.statements());
  wrong.failNext(0);
  EXPECT_TRUE(wrong.statements().empty());
}

// Statements captured while another team's LRS was in force go to that
// LRS alone, whatever is configured now; zept-sync says what waits where.
TEST_F(SyncTest, StatementsGoOnlyToTheLrsTheyWereCapturedFor) {
  const std::string other = "http://127.0.0.1:1/xAPI/";  // nothing listens
  const fs::path otherFile = root_ / "course" / "zept-lrs.conf";
  std::ofstream(otherFile) << "[lrs]\nendpoint=" << other
                           << "\nusername=a\npassword=b\nhomepage="
                              "https://team-a.example.org\nactivity-base="
                              "https://team-a.example.org/courses/\n";
  store_->rememberLrs(other, otherFile.string());
  const std::string theirs = xapi::NewUuid();
  store_->save(kLogin, "ITEM-1", {},
               {{theirs, "{\"id\":\"" + theirs + "\",\"team\":\"A\"}"}});
  play();  // with the test's LRS in force
  if (HasFatalFailure()) return;
  const std::vector<std::string> ids = Ids(outbox());
  // The user's own configuration names the test's LRS; readable by others,
  // it is warned about.
  fs::create_directories(root_ / "config" / "zept");
  fs::copy_file(lrsFile_, root_ / "config" / "zept" / "lrs.conf");
  fs::permissions(
      root_ / "config" / "zept" / "lrs.conf",
      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string waiting =
      "sent 8, pending 1, refused 0\npending 1 for " + other + "\n";
  Ran ran = sync(true);
  EXPECT_EQ(ran.exit, 1);
  EXPECT_EQ(ran.out, waiting);
  EXPECT_NE(ran.err.find("no answer from " + other), std::string::npos)
      << ran.err;
  EXPECT_NE(ran.err.find("other users can read it"), std::string::npos)
      << ran.err;
  expectHeldOnce(ids);
  // Its configuration gone, the other team's statement still waits for
  // its own LRS, even with --lrs naming another.
  fs::remove(otherFile);
  fs::permissions(root_ / "config" / "zept" / "lrs.conf",
                  fs::perms::owner_read | fs::perms::owner_write);
  ran = sync(false);
  EXPECT_EQ(ran.exit, 1);
  EXPECT_EQ(ran.out,
            "sent 0, pending 1, refused 0\npending 1 for " + other + "\n");
  EXPECT_NE(ran.err.find("1 statements wait for " + other +
                         ", which no LRS configuration names now"),
            std::string::npos)
      << ran.err;
  EXPECT_EQ(ran.err.find("other users can read it"), std::string::npos);
  expectHeldOnce(ids);
}

// Statements captured while no LRS was configured (content's, which
// zept's own LRS keeps) wait for the first LRS configured, and zept-sync
// says so; given one, it sends them there, once.
TEST_F(SyncTest, StatementsCapturedWithNoLrsGoToTheFirstConfigured) {
  std::vector<xapi::Statement> captured;
  std::vector<std::string> ids;
  for (int i = 0; i < 3; ++i) {
    const std::string id = xapi::NewUuid();
    captured.push_back(
        {id, "{\"id\":\"" + id +
                 "\",\"actor\":{\"objectType\":\"Agent\",\"account\":{"
                 "\"homePage\":\"https://zept.invalid/learners\",\"name\":"
                 "\"anna\"}},\"verb\":{\"id\":\"http://adlnet.gov/expapi/"
                 "verbs/experienced\"},\"object\":{\"id\":\"https://zept."
                 "invalid/courses/c/a\"},\"timestamp\":\"2026-12-08T12:00:"
                 "0" +
                 std::to_string(i) + ".000Z\"}"});
    ids.push_back(id);
  }
  store_->save(kLogin, "ITEM-1", {}, captured);  // nothing configured
  Ran ran = sync(true);
  EXPECT_EQ(ran.exit, 1);
  EXPECT_EQ(ran.out,
            "sent 0, pending 3, refused 0\npending 3 for the first LRS "
            "configured\n");
  EXPECT_NE(ran.err.find("3 statements were captured with no LRS configured; "
                         "they go to the first LRS configured"),
            std::string::npos)
      << ran.err;
  EXPECT_EQ(ran.err.find("earlier zept"), std::string::npos) << ran.err;
  ran = sync(false);
  EXPECT_EQ(ran.exit, 0) << ran.err;
  EXPECT_EQ(ran.out, summary(3, 0, 0));
  expectHeldOnce(ids);
  // They were that LRS's: another configured later gets none of them.
  ran = sync(false);
  EXPECT_EQ(ran.out, summary(0, 0, 0));
  expectHeldOnce(ids);
}

// A proxy in the environment is not used for an LRS on this machine: here
// one that is not there would fail every request.
TEST_F(SyncTest, AnLrsOnThisMachineIsReachedDirectly) {
  play();
  if (HasFatalFailure()) return;
  const std::vector<std::string> ids = Ids(outbox());
  const std::string proxy = "http://127.0.0.1:1";
  const Ran ran =
      wait(spawn({ZEPT_SYNC_BINARY, "--lrs", lrsFile_.string()},
                 {"http_proxy=" + proxy, "HTTP_PROXY=" + proxy,
                  "https_proxy=" + proxy, "no_proxy=", "NO_PROXY="}));
  EXPECT_EQ(ran.exit, 0) << ran.err;
  EXPECT_EQ(ran.out, summary(8, 0, 0));
  expectHeldOnce(ids);
}

// While zept plays, statements that have waited over a day for their LRS
// get a word on the menu, gone once they are sent.
TEST_F(SyncTest, StatementsWaitingADayAreNotedOnTheMenu) {
  play();
  if (HasFatalFailure()) return;
  const std::string path = scorm::StorePath((root_ / "data" / "zept").string(),
                                            scorm::PackageKey(manifest_));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const auto exec = [&](const std::string& sql) {
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
  };
  const auto waitNote = [](ResultsSender& sender, bool shown) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sender.menuNote().empty() == shown &&
           std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return sender.menuNote();
  };
  std::string error;
  const auto config = xapi::ParseLrsConfig(Slurp(lrsFile_), lrsFile_, error);
  ASSERT_TRUE(config) << error;
  lrs_.stop();
  {
    // Waiting for hours: no word yet.
    exec("UPDATE statements SET captured=captured-3600000*23");
    ResultsSender sender(path, *config);
    EXPECT_FALSE(sender.flush(5000));
    EXPECT_EQ(sender.menuNote(), "");
  }
  exec("UPDATE statements SET captured=captured-3600000*2");
  {
    ResultsSender sender(path, *config);
    const std::string note = waitNote(sender, true);
    EXPECT_EQ(note.rfind("Results not sent for over a day: 8 statements wait "
                         "for the LRS (no answer from",
                         0),
              0u)
        << note;
    lrs_.start();
    EXPECT_TRUE(sender.flush(10000));
    EXPECT_EQ(waitNote(sender, false), "");
  }
  sqlite3_close(db);
  expectPlayedAsCaptured(lrs_.statements());
}

// A SCORM 2004 course through its player: zept-results shows what the
// sequencing keeps (the course's rollup, the suspended activity, the
// deliveries, the attempts), and the sessions' statements reach the LRS.
TEST_F(SyncTest, Scorm2004ProgressShowsInResultsAndReachesTheLrs) {
  const fs::path course = root_ / "course2004";
  fs::create_directories(course);
  std::ofstream(course / "imsmanifest.xml") << R"(<?xml version="1.0"?>
<manifest identifier="SEQ-COURSE" xmlns="http://www.imsglobal.org/xsd/imscp_v1p1"
  xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_v1p3"
  xmlns:imsss="http://www.imsglobal.org/xsd/imsss">
 <metadata><schema>ADL SCORM</schema>
  <schemaversion>2004 4th Edition</schemaversion></metadata>
 <organizations default="O"><organization identifier="O">
  <title>Sequenced course</title>
  <item identifier="A" identifierref="R1"><title>First</title></item>
  <item identifier="B" identifierref="R2"><title>Second</title></item>
  <imsss:sequencing><imsss:controlMode flow="true"/></imsss:sequencing>
 </organization></organizations>
 <resources>
  <resource identifier="R1" type="webcontent" adlcp:scormType="sco" href="1.html"/>
  <resource identifier="R2" type="webcontent" adlcp:scormType="sco" href="2.html"/>
 </resources>
</manifest>)";
  const auto files = scorm::OpenFolderPackage(course.string());
  const std::string manifest = *files->read("imsmanifest.xml");
  const scorm::CourseStore opened =
      scorm::OpenCourseStore((root_ / "data" / "zept").string(),
                             scorm::ReadManifest(manifest), *files);
  const scorm2004::Package2004 package = scorm2004::ReadPackage2004(manifest);
  {
    scorm2004::PlayerOptions options;
    options.random = scorm2004::SeededRandom(1);
    std::string error;
    options.lrs = xapi::ParseLrsConfig(Slurp(lrsFile_), lrsFile_, error);
    ASSERT_TRUE(options.lrs) << error;
    opened.store->rememberLrs(options.lrs->endpoint, lrsFile_.string());
    scorm2004::Player player(package, *opened.store, options);
    int told = 0;
    player.onStatements = [&] { ++told; };
    player.handle({"login", kLogin});
    std::string launch = "1";
    ASSERT_NE(player.handle({"nav", "start"}).find("\"id\":\"A\""),
              std::string::npos);
    const std::vector<std::string> calls[] = {
        {"Initialize", ""},
        {"SetValue", "cmi.completion_status", "completed"},
        {"SetValue", "cmi.success_status", "passed"},
        {"SetValue", "cmi.score.scaled", "0.9"},
        {"SetValue", "cmi.session_time", "PT1M30S"},
        {"SetValue", "adl.nav.request", "continue"},
        {"Terminate", ""},
        {"Initialize", ""},
        {"SetValue", "cmi.location", "page 2"}};
    for (const std::vector<std::string>& call : calls) {
      std::vector<std::string> message = {"api", launch};
      message.insert(message.end(), call.begin(), call.end());
      ASSERT_EQ(player.handle(message), "true") << call[0];
      if (call[0] == "Terminate") {
        ASSERT_NE(player.handle({"next"}).find("\"id\":\"B\""),
                  std::string::npos);
        launch = "2";
      }
    }
    player.leave();
    EXPECT_EQ(told, 2);
  }

  const Ran results = wait(spawn({ZEPT_RESULTS_BINARY, course.string()}));
  EXPECT_EQ(results.exit, 0) << results.err;
  // The learner's part before the items (their values are the player
  // test's): what the sequencing keeps, read from the store.
  EXPECT_NE(results.out.find(R"("login": "anna",
      "pending_statements": 7,
      "course": {
        "completion_status": "unknown",
        "success_status": "unknown",
        "score_scaled": 0.45
      },
      "suspended": "B",
      "deliveries": [
        "A",
        "B"
      ],
      "items": [
        {
          "identifier": "A",
          "title": "First",
          "attempts": 1,)"),
            std::string::npos)
      << results.out;

  const Ran ran = sync(false);
  EXPECT_EQ(ran.exit, 0) << ran.err;
  EXPECT_EQ(ran.out, summary(7, 0, 0));
  const std::vector<std::string> held = lrs_.statements();
  EXPECT_EQ(Verbs(held),
            "initialized completed passed scored terminated initialized "
            "suspended ");
  ASSERT_EQ(held.size(), 7u);
  EXPECT_EQ(Field(held[3], "result.score.scaled"), "0.9");
  EXPECT_EQ(Field(held[4], "result.duration"), "PT1M30S");
  EXPECT_EQ(Field(held[4], "object.id"),
            "https://courses.example.org/SEQ-COURSE/A");
  EXPECT_EQ(Field(held[6], "object.id"),
            "https://courses.example.org/SEQ-COURSE/B");
}

// Every shape of statement the sessions give is one the LRS takes: the
// attempt in grouping, progress, an answer of no known type, a status the
// runtime decided, a later course's IRI.
TEST_F(SyncTest, TheLrsTakesEveryShapeOfStatement) {
  using Values = xapi::ElementValues;
  struct Session {
    xapi::DataModel model;
    unsigned place;
    std::vector<std::pair<std::string, std::string>> sets;
    Values stored;  // at the end
  } const sessions[] = {
      {xapi::DataModel::kScorm2004,
       1,
       {{"cmi.progress_measure", "0.333"},
        {"cmi.score.scaled", "0.9"},
        {"cmi.interactions.0.id", "q1"},
        {"cmi.interactions.0.learner_response", "forty two"},
        {"cmi.interactions.0.result", "12.5"}},
       {{"cmi.success_status", "passed"},
        {"cmi.completion_status", "completed"},
        {"cmi.exit", "suspend"}}},
      {xapi::DataModel::kScorm12,
       2,
       {{"cmi.interactions.0.id", "q 1;2"},
        {"cmi.interactions.0.type", "matching"},
        {"cmi.interactions.0.student_response", "1.a,2.b"}},
       {{"cmi.core.lesson_status", "completed"}}},
  };
  std::vector<std::string> posted;
  for (const Session& session : sessions) {
    xapi::SessionContext context;
    context.login = kLogin;
    context.homePage = kHomePage;
    context.registration = xapi::NewUuid();
    context.course = {xapi::CourseIri("https://courses.example.org/",
                                      "SYNC COURSE", session.place),
                      kCourseTitle};
    context.item = {xapi::ItemIri(context.course.id, "ITEM 1"), "One"};
    context.model = session.model;
    context.attempt = xapi::NewUuid();
    xapi::SessionStatements statements(context);
    statements.initialized("ab-initio");
    for (const auto& [element, value] : session.sets)
      statements.valueSet(element, value);
    statements.storing({});
    statements.terminated(session.stored);
    for (const xapi::Statement& statement : statements.take()) {
      const LrsServer::Reply reply =
          lrs_.request("POST", "/xAPI/statements", statement.json);
      EXPECT_EQ(reply.status, 200) << reply.body << "\n" << statement.json;
      posted.push_back(statement.json);
    }
  }
  const std::vector<std::string> held = lrs_.statements();
  EXPECT_EQ(Verbs(held),
            "initialized progressed scored responded completed passed "
            "suspended initialized responded completed terminated ");
  ASSERT_EQ(held.size(), 11u);
  EXPECT_NE(held[1].find("\"https://w3id.org/xapi/cmi5/result/extensions/"
                         "progress\":33"),
            std::string::npos)
      << held[1];
  EXPECT_NE(Field(held[3], "context.contextActivities.grouping")
                .find("\"https://courses.example.org/SYNC%20COURSE/"
                      "ITEM%201?attemptId="),
            std::string::npos)
      << held[3];
  EXPECT_EQ(Field(held[3], "object.definition.interactionType"), "other");
  EXPECT_EQ(Field(held[8], "object.definition.interactionType"), "matching");
  EXPECT_EQ(Field(held[8], "result.response"), "1[.]a[,]2[.]b");
  EXPECT_EQ(Field(held[9], "object.id"),
            "https://courses.example.org/SYNC%20COURSE;2/ITEM%201");
}

}  // namespace
}  // namespace zept
