// The learner's globals shared by packages through the system store: what
// one package writes another reads, only where both say so, and nothing is
// lost when the system store fails or is damaged.

#include "scorm2004/global_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "scorm2004/player.h"

namespace zept::scorm2004 {
namespace {

namespace fs = std::filesystem;

// Two SCOs in flow; the first's primary objective and an adl.data target
// map to the globals "g-goal" and "g-notes", written only by a writer.
Package2004 Sharing(bool writes, bool objectivesGlobal, bool dataGlobal) {
  Package2004 package;
  package.identifier = writes ? "W" : "R";
  package.title = package.identifier;
  package.objectivesGlobalToSystem = objectivesGlobal;
  package.sharedDataGlobalToSystem = dataGlobal;
  package.root.identifier = "ORG";
  package.root.sequencing.controlMode.flow = true;
  for (const char* id : {"S1", "S2"}) {
    Activity sco;
    sco.identifier = sco.title = id;
    sco.launch = std::string(id) + ".html";
    sco.isSco = true;
    package.root.children.push_back(sco);
  }
  Activity& first = package.root.children[0];
  Objective goal;
  goal.id = "goal";
  goal.primary = true;
  ObjectiveMap map;
  map.targetObjectiveId = "g-goal";
  map.writeSatisfiedStatus = map.writeNormalizedMeasure = writes;
  goal.maps = {map};
  first.sequencing.objectives = {goal};
  first.sharedData = {{"g-notes", true, writes}};
  package.root.children[1].sharedData = {{"g-notes", true, false}};
  return package;
}

class GlobalStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zept-globals-XXXXXX";
    dir_ = ::mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(dir_); }

  struct Session {
    std::unique_ptr<scorm::ProgressStore> store;
    std::unique_ptr<Player> player;
    std::string launch;
    std::vector<std::string> problems;
    std::string send(std::vector<std::string> message) {
      if (message[0] == "api") message.insert(message.begin() + 1, launch);
      const std::string answer = player->handle(message);
      const std::string key = "\"launch\":\"";
      if (const std::size_t at = answer.find(key); at != std::string::npos)
        launch =
            answer.substr(at + key.size(),
                          answer.find('"', at + key.size()) - at - key.size());
      return answer;
    }
  };
  // anna in a package whose store is file (new players on one file are
  // the runs of one package, one after another).
  std::unique_ptr<Session> open(const Package2004& package,
                                const std::string& file, GlobalStore* globals) {
    auto session = std::make_unique<Session>();
    session->store = std::make_unique<scorm::ProgressStore>(dir_ + "/" + file);
    PlayerOptions options;
    options.random = SeededRandom(3);
    options.globals = globals;
    session->player =
        std::make_unique<Player>(package, *session->store, std::move(options));
    Session* s = session.get();
    s->player->onProblem = [s](const std::string& m) {
      s->problems.push_back(m);
    };
    s->send({"login", "anna"});
    return session;
  }
  // The writer's first SCO passes with 0.8 and leaves a note, which the
  // second reads at once.
  void write(Session& writer) {
    writer.send({"nav", "start"});
    writer.send({"api", "Initialize", ""});
    for (const auto& [element, value] :
         {std::pair{"cmi.success_status", "passed"},
          {"cmi.score.scaled", "0.8"},
          {"adl.data.0.store", "hello"},
          {"adl.nav.request", "continue"}})
      EXPECT_EQ(writer.send({"api", "SetValue", element, value}), "true");
    EXPECT_EQ(writer.send({"api", "Terminate", ""}), "true");
    writer.send({"next"});
    writer.send({"api", "Initialize", ""});
    EXPECT_EQ(writer.send({"api", "GetValue", "adl.data.0.store"}), "hello");
  }
  // What a reader package launched anew sees: success, scaled score, note.
  std::vector<std::string> read(const Package2004& reader,
                                GlobalStore* globals) {
    auto session =
        open(reader, "r" + std::to_string(++reads_) + ".sqlite", globals);
    session->send({"nav", "start"});
    session->send({"api", "Initialize", ""});
    std::vector<std::string> seen;
    for (const char* element :
         {"cmi.objectives.0.success_status", "cmi.objectives.0.score.scaled",
          "adl.data.0.store"})
      seen.push_back(session->send({"api", "GetValue", element}));
    return seen;
  }
  static void Exec(const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  std::string dir_;
  int reads_ = 0;
};

using Seen = std::vector<std::string>;

TEST_F(GlobalStoreTest, PackagesShareOnlyWhatBothKeepGlobalToTheSystem) {
  const struct {
    bool objectives, data, store;
    Seen seen;
  } kCases[] = {
      {true, true, true, {"passed", "0.8", "hello"}},
      {false, true, true, {"unknown", "", "hello"}},
      {true, false, true, {"passed", "0.8", ""}},
      {true, true, false, {"unknown", "", ""}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << row.objectives << row.data << row.store);
    TearDown();
    SetUp();
    GlobalStore globals(GlobalStorePath(dir_));
    GlobalStore* used = row.store ? &globals : nullptr;
    const Package2004 writer = Sharing(true, row.objectives, row.data);
    const Package2004 reader = Sharing(false, row.objectives, row.data);
    write(*open(writer, "w.sqlite", used));
    EXPECT_EQ(read(reader, used), row.seen);
  }
}

TEST_F(GlobalStoreTest, AFailedSystemWriteIsKeptInThePackageAndWrittenLater) {
  const std::string file = GlobalStorePath(dir_);
  GlobalStore globals(file);
  const Package2004 writer = Sharing(true, true, true);
  const Package2004 reader = Sharing(false, true, true);
  Exec(file,
       "CREATE TRIGGER full1 BEFORE INSERT ON objectives BEGIN"
       " SELECT RAISE(ABORT, 'disk is full'); END;"
       "CREATE TRIGGER full2 BEFORE INSERT ON shared_data BEGIN"
       " SELECT RAISE(ABORT, 'disk is full'); END;");
  {
    auto session = open(writer, "w.sqlite", &globals);
    write(*session);  // Terminate says the values are stored: they are
    ASSERT_EQ(session->problems.size(), 1u);
    EXPECT_NE(session->problems[0].find("disk is full"), std::string::npos);
    EXPECT_EQ(session->store->load("anna", "\x01system"),
              (Values{{"o g-goal", "1"}, {"d g-notes", "1"}}));
  }
  EXPECT_EQ(read(reader, &globals), (Seen{"unknown", "", ""}));

  // Meanwhile another package wrote older values: the writer's next run
  // keeps and writes its own.
  Exec(file, "DROP TRIGGER full1; DROP TRIGGER full2;");
  ObjectiveState failed;
  failed.progressStatus = true;
  globals.write("anna", {{"g-goal", failed}}, {{"g-notes", "stale"}});
  {
    auto session = open(writer, "w.sqlite", &globals);
    EXPECT_TRUE(session->problems.empty());
    EXPECT_TRUE(session->store->load("anna", "\x01system").empty());
  }
  EXPECT_EQ(read(reader, &globals), (Seen{"passed", "0.8", "hello"}));
}

// A course whose SCO only reads the globals while another course writes
// them leaves the other's values: what goes back is what its SCO set,
// field by field, also after its values were committed and its program
// killed.
TEST_F(GlobalStoreTest, OnlyWhatAScoSetGoesBack) {
  using Sets = std::vector<std::pair<std::string, std::string>>;
  const struct {
    const char* name;
    bool earlier;  // the globals hold values when course one launches
    Sets sets;     // by course one's SCO once course two has written
    bool killed;   // course one committed and ended without closing
    Seen seen;     // by a reader once both have ended
  } kCases[] = {
      {"read over earlier values", true, {}, false, {"passed", "0.8", "hello"}},
      {"read while unset", false, {}, false, {"passed", "0.8", "hello"}},
      {"some fields set",
       true,
       {{"cmi.objectives.0.score.scaled", "0.3"}, {"adl.data.0.store", "mine"}},
       false,
       {"passed", "0.3", "mine"}},
      {"some fields set, then killed",
       false,
       {{"cmi.objectives.0.score.scaled", "0.3"}},
       true,
       {"passed", "0.3", "hello"}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    GlobalStore globals(GlobalStorePath(dir_));
    const Package2004 sharing = Sharing(true, true, true);
    if (row.earlier) {
      ObjectiveState failed;
      failed.progressStatus = failed.measureStatus = true;
      failed.normalizedMeasure = 0.2;
      globals.write("anna", {{"g-goal", failed}}, {{"g-notes", "stale"}});
    }
    auto one = open(sharing, "one.sqlite", &globals);
    one->send({"nav", "start"});
    one->send({"api", "Initialize", ""});
    EXPECT_EQ(one->send({"api", "GetValue", "adl.data.0.store"}),
              row.earlier ? "stale" : "");
    write(*open(sharing, "two.sqlite", &globals));
    for (const auto& [element, value] : row.sets)
      EXPECT_EQ(one->send({"api", "SetValue", element, value}), "true");
    if (row.killed) {
      EXPECT_EQ(one->send({"api", "Commit", ""}), "true");
      one = open(sharing, "one.sqlite", &globals);
    }
    one->player->leave();
    EXPECT_TRUE(one->problems.empty());
    EXPECT_EQ(read(Sharing(false, true, true), &globals), row.seen);
  }
}

TEST_F(GlobalStoreTest, KeepsEveryFieldOfAnObjective) {
  ObjectiveState all;
  all.progressStatus = all.satisfiedStatus = all.measureStatus = true;
  all.normalizedMeasure = -0.25;
  all.rawScore = 7.5;
  all.minScore = 0;
  all.maxScore = 1e9;
  all.completionStatus = false;
  all.progressMeasure = 0.1;
  ObjectiveState some;
  some.progressStatus = true;
  some.completionStatus = true;
  GlobalStore globals(GlobalStorePath(dir_));
  for (const ObjectiveState& o : {all, some, ObjectiveState{}}) {
    globals.write("anna", {{"t", o}}, {{"d", "x'y"}});
    EXPECT_EQ(globals.objectives("anna", {"t", "none"}),
              (std::map<std::string, ObjectiveState>{{"t", o}}));
    EXPECT_TRUE(globals.objectives("bob", {"t"}).empty());
  }
  EXPECT_EQ(globals.data("anna", {"d", "none"}), (Values{{"d", "x'y"}}));
  globals.write("anna", {}, {{"d", std::nullopt}});
  EXPECT_TRUE(globals.data("anna", {"d"}).empty());
}

TEST_F(GlobalStoreTest, ADamagedStoreIsSetAsideANewerOneLeftAlone) {
  const std::string file = GlobalStorePath(dir_);
  Exec(file, "PRAGMA user_version=9");
  const auto size = fs::file_size(file);
  EXPECT_THROW(OpenGlobalStore(dir_), scorm::EStoreError);
  EXPECT_EQ(fs::file_size(file), size);

  std::ofstream(file, std::ios::trunc) << std::string(4096, 'x');
  OpenedGlobalStore opened = OpenGlobalStore(dir_);
  EXPECT_NE(opened.note.find("damaged"), std::string::npos) << opened.note;
  int aside = 0;
  for (const auto& entry : fs::directory_iterator(dir_))
    aside +=
        entry.path().filename().string().find(".damaged-") != std::string::npos;
  EXPECT_EQ(aside, 1);
  opened.store->write("anna", {}, {{"d", "v"}});
  EXPECT_EQ(opened.store->data("anna", {"d"}), (Values{{"d", "v"}}));
}

}  // namespace
}  // namespace zept::scorm2004
