#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "scorm/results.h"
#include "store/progress_store.h"
#include "store/sqlite_statement.h"
#include "util/sha256.h"

namespace zept::scorm {
namespace {

namespace fs = std::filesystem;

// A scratch folder for the databases, removed afterwards.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zept-store-test-XXXXXX";
    dir = ::mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string path(const std::string& name = "p.sqlite") const {
    return dir + "/" + name;
  }
  // A second connection beside the store's, as another process would have.
  sqlite3* raw(const std::string& file) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    others.emplace_back(db, sqlite3_close);
    return db;
  }
  static void Exec(sqlite3* db, const char* sql) {
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
  }
  static std::string Bytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  std::string dir;
  std::vector<std::unique_ptr<sqlite3, int (*)(sqlite3*)>> others;
};

// What std::string makes of a literal with NUL bytes in it.
template <std::size_t N>
std::string Raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

TEST(Sha256Test, StandardVectorsWholeAndByteByByte) {
  const struct {
    std::string input;
    const char* hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmn"
       "opjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(55, 'a'),
       "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(64, 'a'),
       "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.size());
    EXPECT_EQ(Sha256Hex(c.input), c.hex);
    Sha256 pieces;
    for (char ch : c.input) pieces.update(std::string_view(&ch, 1));
    EXPECT_EQ(pieces.hexDigest(), c.hex);
  }
}

// A string read in pieces.
class StringReader final : public EntryReader {
 public:
  explicit StringReader(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  std::size_t read(char* buffer, std::size_t n) override {
    n = std::min(n, bytes_.size() - at_);
    std::copy_n(bytes_.data() + at_, n, buffer);
    at_ += n;
    return n;
  }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

// A package held in memory: its entries and the manifest's bytes.
class MemoryPackage final : public PackageFiles {
 public:
  const std::string& location() const override { return location_; }
  std::vector<PackageEntry> entries() const override { return files; }
  bool exists(const std::string& path) const override {
    return path == "imsmanifest.xml" && manifest;
  }
  std::unique_ptr<EntryReader> open(const std::string& path) const override {
    if (!exists(path)) return nullptr;
    return std::make_unique<StringReader>(*manifest);
  }
  std::string nativeFile(const std::string&) const override { return ""; }
  const std::vector<std::string>& warnings() const override {
    return warnings_;
  }

  std::optional<std::string> manifest = "<manifest identifier=\"M\"/>";
  std::vector<PackageEntry> files = {{"imsmanifest.xml", 26, 0x1111},
                                     {"a/index.html", 100, 0x2222},
                                     {"a/b.js", 7, 0x3333},
                                     {"z.png", 5000, 0x4444}};

 private:
  std::string location_ = "/memory";
  std::vector<std::string> warnings_;
};

// A manifest with these identifiers, title and SCOs ({identifier, title}).
std::string ManifestXml(
    const std::string& id, const std::string& org, const std::string& title,
    const std::vector<std::pair<std::string, std::string>>& items) {
  std::string xml =
      "<manifest identifier='" + id + "'><organizations default='" + org +
      "'><organization identifier='" + org + "'><title>" + title + "</title>";
  for (const auto& [item, itemTitle] : items)
    xml += "<item identifier='" + item + "' identifierref='R" + item +
           "'><title>" + itemTitle + "</title></item>";
  xml += "</organization></organizations><resources>";
  for (const auto& [item, itemTitle] : items)
    xml += "<resource identifier='R" + item + "' adlcp:scormtype='sco' href='" +
           item + ".html'/>";
  return xml + "</resources></manifest>";
}

const std::string kFireSafety =
    ManifestXml("MANIFEST1", "ORG1", "Fire safety",
                {{"SCO1", "Exits"}, {"SCO2", "Extinguishers"}});

// Opens the course store of package under the data folder.
CourseStore Open(const std::string& data, const MemoryPackage& package,
                 bool readOnly = false) {
  return OpenCourseStore(data, ReadManifest(*package.manifest), package,
                         readOnly);
}

TEST_F(StoreTest, PackageKeyFollowsTheCourseNotItsFiles) {
  const struct {
    const char* change;
    std::function<void(MemoryPackage&)> apply;
    bool sameCourse;
  } cases[] = {
      {"nothing", [](MemoryPackage&) {}, true},
      {"a page changed", [](MemoryPackage& p) { p.files[1].crc = 0x5555; },
       true},
      {"a file added and one gone",
       [](MemoryPackage& p) {
         p.files.push_back({"b/new.html", 10, 0x6666});
         p.files.erase(p.files.begin() + 2);
       },
       true},
      {"Thumbs.db in the folder",
       [](MemoryPackage& p) {
         p.files.push_back({"Thumbs.db", 7168, 0});
       },
       true},
      {"unzipped: no checksums",
       [](MemoryPackage& p) {
         for (PackageEntry& e : p.files) e.crc = 0;
       },
       true},
      {"an item added, one gone",
       [](MemoryPackage& p) {
         p.manifest =
             ManifestXml("MANIFEST1", "ORG1", "Fire safety",
                         {{"SCO2", "Extinguishers"}, {"SCO3", "Drill"}});
       },
       true},
      {"the title fixed",
       [](MemoryPackage& p) {
         p.manifest =
             ManifestXml("MANIFEST1", "ORG1", "Fire Safety",
                         {{"SCO1", "Exits"}, {"SCO2", "Extinguishers"}});
       },
       true},
      {"another course with the same generic identifiers",
       [](MemoryPackage& p) {
         p.manifest = ManifestXml("MANIFEST1", "ORG1", "Data protection",
                                  {{"SCO1", "Principles"}, {"SCO2", "Rights"}});
       },
       false},
      {"another course sharing an item",
       [](MemoryPackage& p) {
         p.manifest = ManifestXml("MANIFEST1", "ORG1", "Evacuation",
                                  {{"SCO1", "Exits"}, {"SCO2", "Assembly"}});
       },
       false},
      {"other identifiers",
       [](MemoryPackage& p) {
         p.manifest =
             ManifestXml("MANIFEST2", "ORG1", "Fire safety",
                         {{"SCO1", "Exits"}, {"SCO2", "Extinguishers"}});
       },
       false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    const std::string data = dir + "/d" + std::to_string(++n);
    MemoryPackage first;
    first.manifest = kFireSafety;
    // Held open throughout, as a zept playing it would.
    CourseStore held = Open(data, first);
    const std::string& key = held.key;
    EXPECT_EQ(key, PackageKey(ReadManifest(kFireSafety)));
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
    held.store->save("anna", "SCO1", {{"e", "v"}});
    MemoryPackage next = first;
    c.apply(next);
    CourseStore opened = Open(data, next);
    EXPECT_EQ(opened.key == key, c.sameCourse) << opened.key;
    EXPECT_TRUE(opened.note.empty());
    // Values of items gone from the course stay.
    EXPECT_EQ(opened.store->load("anna", "SCO1").size(),
              c.sameCourse ? 1u : 0u);
    // Both find their own store again, whichever came last.
    EXPECT_EQ(Open(data, first).key, key);
    EXPECT_EQ(Open(data, next, true).key == key, c.sameCourse);
  }
  // Content keys, which find the stores of earlier zepts, tell apart names
  // that run together differently.
  MemoryPackage joined, split;
  joined.files = {{"ab", 1, 2}, {"c", 3, 4}};
  split.files = {{"a", 1, 2}, {"bc", 3, 4}};
  EXPECT_NE(ContentKey(joined), ContentKey(split));
  EXPECT_EQ(StorePath("/data/zept", "k1"), "/data/zept/packages/k1.sqlite");
}

// The store an earlier zept kept under the package's content key is found
// again, moved under the course key unless that would lose or overwrite
// something.
TEST_F(StoreTest, StoresOfEarlierZeptsAreTakenOver) {
  MemoryPackage package;
  package.manifest = kFireSafety;
  const std::string key = PackageKey(ReadManifest(kFireSafety));
  const struct {
    const char* what;
    std::function<void(const std::string& data)> also;
    bool readOnly;
    bool underCourseKey;
    bool moved;
    const char* value;  // anna's SCO1 value found
  } cases[] = {
      {"no store under the course key", [](const std::string&) {}, false, true,
       true, "earlier"},
      {"read by zept-results, which moves nothing", [](const std::string&) {},
       true, false, false, "earlier"},
      {"one under the course key already",
       [&](const std::string& data) {
         ProgressStore(StorePath(data, key))
             .save("anna", "SCO1", {{"e", "new"}});
       },
       false, true, false, "new"},
      {"the earlier zept still playing it",
       [this, &package](const std::string& data) {
         Exec(raw(StorePath(data, ContentKey(package))),
              "SELECT count(*) FROM learners");
       },
       false, false, false, "earlier"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string data = dir + "/m" + std::to_string(++n);
    const std::string earlier = StorePath(data, ContentKey(package));
    ProgressStore(earlier).save("anna", "SCO1", {{"e", "earlier"}});
    c.also(data);
    {
      CourseStore opened = Open(data, package, c.readOnly);
      EXPECT_EQ(opened.store->load("anna", "SCO1"), (Values{{"e", c.value}}));
      EXPECT_EQ(opened.key, c.underCourseKey ? key : ContentKey(package));
    }
    others.clear();
    EXPECT_EQ(fs::exists(earlier), !c.moved);
    EXPECT_EQ(fs::exists(StorePath(data, key)), c.underCourseKey);
  }
}

// A store that cannot be read is kept aside under a dated name, the learner
// is told, and the course plays on an empty one; zept-results reports it.
TEST_F(StoreTest, DamagedStoresAreSetAside) {
  MemoryPackage package;
  package.manifest = kFireSafety;
  const std::string slot =
      StorePath(dir, PackageKey(ReadManifest(kFireSafety)));
  const struct {
    const char* what;
    std::function<void()> make;
    bool setAside;
  } cases[] = {
      {"not a database",
       [&] {
         fs::create_directories(dir + "/packages");
         std::ofstream(slot) << std::string(5000, 'z');
       },
       true},
      {"truncated",
       [&] {
         {
           ProgressStore store(slot);
           for (int i = 0; i < 20; ++i)
             store.save("anna", "I" + std::to_string(i),
                        {{"cmi.suspend_data", std::string(20000, 'a' + i)}});
         }
         fs::resize_file(slot, fs::file_size(slot) / 2);
       },
       true},
      {"written by a newer zept",
       [&] {
         { ProgressStore store(slot); }
         Exec(raw(slot), "PRAGMA user_version=2");
         others.clear();
       },
       false},
  };
  int keptBefore = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(slot);
    c.make();
    const std::string before = Bytes(slot);
    try {
      Open(dir, package, true);
      ADD_FAILURE() << "opened";
    } catch (const EStoreDamaged& e) {
      EXPECT_TRUE(c.setAside) << e.what();
      EXPECT_NE(std::string(e.what()).find(slot), std::string::npos);
    } catch (const EStoreError& e) {
      EXPECT_FALSE(c.setAside) << e.what();
    }
    EXPECT_EQ(Bytes(slot), before);
    if (!c.setAside) {
      EXPECT_THROW(Open(dir, package), EStoreError);
      EXPECT_EQ(Bytes(slot), before);
      continue;
    }
    CourseStore opened = Open(dir, package);
    opened.store->save("bob", "SCO1", {{"e", "v"}});
    EXPECT_EQ(opened.store->learners(), std::vector<std::string>{"bob"});
    // Kept beside it, and never over the one kept before.
    int kept = 0;
    for (const auto& entry : fs::directory_iterator(dir + "/packages")) {
      const std::string name = entry.path().string();
      if (name.find(".damaged-") == std::string::npos) continue;
      ++kept;
      if (opened.note.find("'" + name + "'") != std::string::npos)
        EXPECT_EQ(Bytes(name), before);
      else
        EXPECT_NE(Bytes(name), before);
    }
    EXPECT_EQ(kept, ++keptBefore);
  }
  // The damaged store of another course with the same identifiers hides
  // nothing: this one's is found after it, and the other's learner is told.
  const std::string data = dir + "/shared";
  MemoryPackage other;
  other.manifest = ManifestXml("MANIFEST1", "ORG1", "Data protection",
                               {{"SCO1", "Principles"}});
  std::string otherKey;
  {
    const CourseStore first = Open(data, other);
    otherKey = first.key;
    EXPECT_EQ(first.place, 1u);
  }
  Open(data, package).store->save("anna", "SCO1", {{"e", "v"}});
  std::ofstream(StorePath(data, otherKey)) << std::string(5000, 'z');
  for (bool readOnly : {true, false}) {
    CourseStore opened = Open(data, package, readOnly);
    EXPECT_EQ(opened.key, otherKey + "-2");
    EXPECT_EQ(opened.place, 2u);
    EXPECT_EQ(opened.store->load("anna", "SCO1"), (Values{{"e", "v"}}));
    EXPECT_TRUE(opened.note.empty());
  }
  EXPECT_THROW(Open(data, other, true), EStoreDamaged);
  EXPECT_NE(Open(data, other).note.find("damaged"), std::string::npos);
}

TEST_F(StoreTest, ValuesComeBackExactlyForAnyLoginAndItem) {
  const std::string suspend(64000, 'x');
  const struct {
    std::string login, item;
    Values values;
  } cases[] = {
      {"anna",
       "ITEM1",
       {{"cmi.suspend_data", suspend},
        {"cmi.core.lesson_status", "incomplete"},
        {"cmi.core.lesson_location", ""}}},
      {"Zoë 日本", "ITEM1", {{"cmi.core.score.raw", "85"}}},
      {"a&b<c>\"d\"'e'", "I&<'\"", {{"cmi.comments", "<&\"'>"}}},
      {"x'); DROP TABLE learners; --", "ITEM2", {{"e", "v"}}},
      {Raw("nul\0inside"), Raw("item\0"), {{Raw("e\0"), Raw("a\0b")}}},
      {"ANNA", "ITEM1", {{"cmi.core.lesson_status", "passed"}}},
      {"anna", "ITEM2", {}},
  };
  {
    ProgressStore store(path());
    for (const auto& c : cases) store.save(c.login, c.item, c.values);
  }
  ProgressStore store(path());
  std::vector<std::string> logins;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.login);
    EXPECT_EQ(store.load(c.login, c.item), c.values);
    EXPECT_EQ(store.loadAll(c.login).count(c.item), c.values.empty() ? 0u : 1u);
    EXPECT_TRUE(store.hasLearner(c.login));
    if (std::find(logins.begin(), logins.end(), c.login) == logins.end())
      logins.push_back(c.login);
  }
  EXPECT_EQ(store.learners(), logins);
  EXPECT_FALSE(store.hasLearner("Anna"));
  EXPECT_EQ(store.load("anna", "ITEM9"), Values{});
  EXPECT_EQ(store.loadAll("nobody"), (std::map<std::string, Values>{}));
  // addLearner keeps the first place of a learner already there.
  store.addLearner("bob");
  store.addLearner("anna");
  logins.push_back("bob");
  EXPECT_EQ(store.learners(), logins);
  EXPECT_THROW(store.addLearner(""), EStoreError);
  EXPECT_THROW(store.save("", "ITEM1", {}), EStoreError);
}

TEST_F(StoreTest, SaveReplacesTheItemsValues) {
  ProgressStore store(path());
  store.save("anna", "OTHER", {{"kept", "1"}});
  const struct {
    Values saved;
  } steps[] = {
      {{{"a", "1"}, {"b", "2"}, {"c", "3"}}},
      {{{"b", "2 changed"}, {"d", "4"}}},
      {{{"b", std::string(64000, 'y')}, {"d", "4"}}},
      {{{"b", std::string(64000, 'y')}, {"d", ""}}},
      {{}},
      {{{"a", "again"}}},
  };
  for (const auto& step : steps) {
    store.save("anna", "ITEM", step.saved);
    EXPECT_EQ(store.load("anna", "ITEM"), step.saved);
  }
  EXPECT_EQ(store.load("anna", "OTHER"), (Values{{"kept", "1"}}));
}

// Statements go in with their values or not at all, come out in capture
// order from another connection, and leave the queue as the LRS answers.
TEST_F(StoreTest, OutboxKeepsStatementsWithTheirValues) {
  ProgressStore store(path());
  store.rememberLrs("https://lrs.example.org/xAPI/", "/etc/lrs.conf");
  store.save("anna", "A", {{"v", "1"}}, {{"s1", "{1}"}, {"s2", "{2}"}});
  store.save("bob", "A", {{"v", "2"}}, {{"s3", "{3}"}});
  // A store retried after one that did commit: each statement stays once.
  store.save("anna", "A", {{"v", "3"}}, {{"s2", "{2}"}, {"s4", "{4}"}});
  // A store that fails takes neither its values nor its statements.
  Exec(raw(path()),
       "CREATE TRIGGER full BEFORE INSERT ON item_values "
       "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
  EXPECT_THROW(store.save("anna", "B", {{"v", "4"}}, {{"s5", "{5}"}}),
               EStoreError);
  EXPECT_EQ(store.load("anna", "B"), Values{});

  ProgressStore sender(path());
  xapi::Outbox& outbox = sender.outbox("https://LRS.example.org/xAPI");
  const auto ids = [&] {
    std::string out;
    for (const xapi::OutboxEntry& e : outbox.pending(10))
      out += e.statement.id + "=" + e.statement.json + " ";
    return out;
  };
  EXPECT_EQ(ids(), "s1={1} s2={2} s3={3} s4={4} ");
  EXPECT_EQ(store.pendingStatements("anna"), 3u);
  const std::vector<xapi::OutboxEntry> first = outbox.pending(2);
  ASSERT_EQ(first.size(), 2u);
  outbox.markSent({first[0].seq});
  outbox.markRefused(first[1].seq, "bad score");
  EXPECT_EQ(ids(), "s3={3} s4={4} ");
  EXPECT_EQ(outbox.pendingCount(), 2u);
  EXPECT_EQ(store.pendingStatements("anna"), 1u);
  EXPECT_EQ(
      store.refusedStatements(),
      (std::vector<std::pair<std::string, std::string>>{{"s2", "bad score"}}));

  const std::string registration = store.registration("anna");
  EXPECT_EQ(registration.size(), 36u);
  EXPECT_EQ(sender.registration("anna"), registration);
  EXPECT_NE(store.registration("bob"), registration);
}

// Each statement is for the endpoint in force when it was captured, and
// only that endpoint's outbox gives it; sent ones keep their id alone.
TEST_F(StoreTest, StatementsBelongToTheirEndpoint) {
  using Files = std::vector<std::pair<std::string, std::string>>;
  using Counts = std::map<std::string, std::size_t>;
  const std::string a = "https://a.example.org/xAPI/";
  const std::string b = "https://b.example.org/xAPI/";
  ProgressStore store(path());
  store.save("anna", "X", {}, {{"none", "{0}"}});  // no LRS in force
  store.rememberLrs(a, "/course/zept-lrs.conf");
  store.save("anna", "X", {}, {{"a1", "{1}"}, {"a2", "{2}"}});
  store.rememberLrs(b, "/home/anna/.config/zept/lrs.conf");
  store.stage("anna", "place", {{"b1", "{3}"}}, "t");
  store.settle("anna", "place", "t");
  // A new password for the same endpoint: still the same statements'.
  store.rememberLrs(a, "/course/zept-lrs.conf");
  store.save("anna", "X", {}, {{"a3", "{4}"}});
  EXPECT_EQ(store.lrsFiles(), (Files{{a, "/course/zept-lrs.conf"},
                                     {b, "/home/anna/.config/zept/lrs.conf"}}));
  EXPECT_EQ(store.pendingByEndpoint(), (Counts{{"", 1}, {a, 3}, {b, 1}}));

  ProgressStore sender(path());
  const auto ids = [&](const std::string& endpoint) {
    std::string out;
    for (const xapi::OutboxEntry& e : sender.outbox(endpoint).pending(10))
      out += e.statement.id + " ";
    return out;
  };
  EXPECT_EQ(ids(a), "a1 a2 a3 ");
  EXPECT_EQ(ids(b), "b1 ");
  EXPECT_EQ(ids("https://c.example.org/xAPI/"), "");
  // Marking through another endpoint's outbox touches nothing.
  const auto ofA = sender.outbox(a).pending(10);
  sender.outbox(b).markSent({ofA[0].seq});
  EXPECT_EQ(ids(a), "a1 a2 a3 ");
  sender.outbox(a).markSent({ofA[0].seq});
  sender.outbox(a).markRefused(ofA[1].seq, "bad");
  EXPECT_EQ(ids(a), "a3 ");
  EXPECT_GT(store.oldestPending(a), 0);
  EXPECT_EQ(store.oldestPending("https://c.example.org/xAPI/"), 0);
  // A sent statement leaves the outbox, its id kept apart: a capture again
  // of the same id is still not sent twice.
  sqlite3* db = raw(path());
  const auto count = [&](const std::string& sql) {
    sqlite3_stmt* q = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr), SQLITE_OK);
    const int n = sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int(q, 0) : -1;
    sqlite3_finalize(q);
    return n;
  };
  EXPECT_EQ(count("SELECT count(*) FROM statements WHERE id='a1'"), 0);
  EXPECT_EQ(count("SELECT count(*) FROM sent WHERE id='a1'"), 1);
  store.stage("anna", "place", {{"a1", "{1}"}}, "t2");
  EXPECT_EQ(store.settle("anna", "place", "t2"), 0u);
  store.save("anna", "X", {}, {{"a1", "{1}"}});
  EXPECT_EQ(ids(a), "a3 ");
  // Set aside, then back in line in capture order.
  EXPECT_EQ(store.retryRefused(), 1u);
  EXPECT_EQ(ids(a), "a2 a3 ");
  EXPECT_TRUE(store.refusedStatements().empty());
  // Sent long ago: gone with the next mark.
  Exec(db, "UPDATE sent SET captured=1000 WHERE id='a1'");
  sender.outbox(a).markSent({sender.outbox(a).pending(1)[0].seq});
  EXPECT_EQ(store.pendingByEndpoint(), (Counts{{"", 1}, {a, 1}, {b, 1}}));
  store.save("anna", "X", {}, {{"a1", "{1}"}, {"a2", "{2}"}});
  EXPECT_EQ(ids(a), "a3 a1 ") << "a1 was forgotten, a2 is still known";
}

// The layout of an earlier zept's store, before statements had an
// endpoint, remembering the LRS configuration /old/lrs.conf.
constexpr char kEarlierStore[] =
    "CREATE TABLE learners(login TEXT PRIMARY KEY NOT NULL,"
    " added INTEGER NOT NULL);"
    "CREATE TABLE item_values(login TEXT NOT NULL, item TEXT NOT NULL,"
    " element TEXT NOT NULL, value TEXT NOT NULL,"
    " PRIMARY KEY(login, item, element));"
    "CREATE TABLE statements(seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " id TEXT NOT NULL UNIQUE, login TEXT NOT NULL, json TEXT NOT NULL,"
    " state INTEGER NOT NULL DEFAULT 0, reason TEXT);"
    "CREATE TABLE lrs(file TEXT NOT NULL);"
    "INSERT INTO lrs VALUES('/old/lrs.conf');";

// A store of an earlier zept: its statements have no endpoint until they
// are given the one of the configuration it remembered.
TEST_F(StoreTest, StatementsOfAnEarlierZeptAreAdopted) {
  for (const std::string& file : {path(), path("q.sqlite")})
    Exec(raw(file),
         (std::string(kEarlierStore) +
          "INSERT INTO statements(id, login, json) VALUES('s1', 'anna',"
          " '{\"id\":\"s1\",\"timestamp\":\"2026-01-02T03:04:05.678Z\"}');"
          "INSERT INTO statements(id, login, json, state) VALUES('s0', 'anna',"
          " '{}', 1);"
          "PRAGMA user_version=1;")
             .c_str());
  ProgressStore store(path());
  const std::string a = "https://a.example.org/xAPI/";
  EXPECT_EQ(store.lrsFiles(), (std::vector<std::pair<std::string, std::string>>{
                                  {"", "/old/lrs.conf"}}));
  EXPECT_EQ(store.pendingByEndpoint(),
            (std::map<std::string, std::size_t>{{"", 1}}));
  EXPECT_TRUE(store.outbox(a).pending(10).empty());
  // The one it had sent is only an id now; the other is adopted.
  EXPECT_EQ(store.adoptUntagged("HTTPS://A.example.org/xAPI"), 1u);
  ASSERT_EQ(store.outbox(a).pending(10).size(), 1u);
  // Its capture time comes from its timestamp.
  EXPECT_EQ(store.oldestPending(a), 1767323045678);
  EXPECT_EQ(
      store.lrsFiles(),
      (std::vector<std::pair<std::string, std::string>>{{a, "/old/lrs.conf"}}));
  // The same file in force again: its endpoint takes them.
  ProgressStore again(path("q.sqlite"));
  again.rememberLrs(a, "/elsewhere/lrs.conf");
  EXPECT_TRUE(again.outbox(a).pending(10).empty());
  again.rememberLrs(a, "/old/lrs.conf");
  EXPECT_EQ(again.outbox(a).pending(10).size(), 1u);
  EXPECT_EQ(again.pendingByEndpoint(),
            (std::map<std::string, std::size_t>{{a, 1}}));
}

// Statements captured with no LRS configured become the first configured
// LRS's, and only its; an earlier zept's untagged ones, whose configuration
// is remembered, stay for that configuration's LRS.
TEST_F(StoreTest, StatementsCapturedWithNoLrsGoToTheFirstConfigured) {
  const std::string a = "https://a.example.org/xAPI/";
  const std::string b = "https://b.example.org/xAPI/";
  {
    ProgressStore store(path());
    store.save("anna", "i", {}, {{"s1", "{}"}, {"s2", "{}"}});
    EXPECT_EQ(store.unconfiguredPending(), 2u);
    EXPECT_EQ(store.adoptUnconfigured(a), 2u);
    EXPECT_EQ(store.unconfiguredPending(), 0u);
    store.rememberLrs(a, "/a.conf");
    EXPECT_EQ(store.adoptUnconfigured(b), 0u);
    EXPECT_EQ(store.pendingByEndpoint(),
              (std::map<std::string, std::size_t>{{a, 2}}));
  }
  Exec(raw(path("earlier.sqlite")),
       (std::string(kEarlierStore) +
        "INSERT INTO statements(id, login, json) VALUES('s1', 'anna', '{}');"
        "PRAGMA user_version=1;")
           .c_str());
  ProgressStore earlier(path("earlier.sqlite"));
  EXPECT_EQ(earlier.unconfiguredPending(), 0u);
  EXPECT_EQ(earlier.adoptUnconfigured(b), 0u);
  EXPECT_EQ(earlier.pendingByEndpoint(),
            (std::map<std::string, std::size_t>{{"", 1}}));
}

// A store that fails is remembered whole until one succeeds; kept in the
// first keeping folder that takes it, it goes into the course's store under
// the same learner and items, statements with it, and is gone from there.
TEST_F(StoreTest, AFailedStoreIsKeptAndStoredLater) {
  const struct {
    const char* name;
    bool stateBlocked;  // a file stands where the state folder should be
    bool bothBlocked;
  } kCases[] = {
      {"in the state folder", false, false},
      {"in the cache folder", true, false},
      {"nowhere", true, true},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    const std::vector<std::string> folders = {dir + "/state/zept",
                                              dir + "/cache/zept"};
    if (row.stateBlocked) std::ofstream(dir + "/state") << "x";
    if (row.bothBlocked) std::ofstream(dir + "/cache") << "x";
    ProgressStore store(path());
    store.rememberLrs("https://a.example.org/xAPI/", "/a.conf");
    store.save("anna", "OLD", {{"v", "0"}});
    Exec(raw(path()),
         "CREATE TRIGGER full BEFORE INSERT ON item_values "
         "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    const std::map<std::string, Values> items = {
        {"SCO", {{"cmi.location", "p7"}, {"cmi.exit", "suspend"}}},
        {"\x01state", {{"s", "zs1"}}}};
    EXPECT_THROW(store.saveItems("anna", items, {{"s1", "{1}"}}), EStoreError);
    ASSERT_TRUE(store.failedWrite().has_value());
    EXPECT_EQ(store.failedWrite()->items, items);
    if (row.bothBlocked) {
      EXPECT_THROW(KeepUnsaved(folders, "K", *store.failedWrite()),
                   EStoreError);
      continue;
    }
    const std::string kept = KeepUnsaved(folders, "K", *store.failedWrite());
    EXPECT_EQ(kept, KeptPath(folders[row.stateBlocked ? 1 : 0], "K"));
    // Still full at the next start: what is kept stays.
    EXPECT_THROW(StoreKept(folders, "K", store), EStoreError);
    EXPECT_TRUE(fs::exists(kept));
    Exec(raw(path()), "DROP TRIGGER full");
    // Another LRS in force at the next start: the kept statement is still
    // for the one it was captured for.
    store.rememberLrs("https://b.example.org/xAPI/", "/b.conf");
    store.save("anna", "OTHER", {{"v", "1"}});
    EXPECT_FALSE(store.failedWrite().has_value());
    EXPECT_EQ(StoreKept(folders, "K", store), std::vector<std::string>{"anna"});
    EXPECT_FALSE(fs::exists(kept));
    EXPECT_EQ(store.loadAll("anna"),
              (std::map<std::string, Values>{{"OLD", {{"v", "0"}}},
                                             {"OTHER", {{"v", "1"}}},
                                             {"SCO", items.at("SCO")},
                                             {"\x01state", {{"s", "zs1"}}}}));
    EXPECT_EQ(store.outbox("https://a.example.org/xAPI/").pendingCount(), 1u);
    EXPECT_EQ(store.captureEndpoint(), "https://b.example.org/xAPI/");
    EXPECT_TRUE(StoreKept(folders, "K", store).empty());
  }
}

// Opening, read-only or not, refuses what it cannot use with a message
// naming the file, and leaves the file as it was.
TEST_F(StoreTest, RefusedFilesAreNamedAndLeftAlone) {
  const struct {
    const char* what;
    std::function<void(const std::string& file)> make;
    const char* message;
    bool writableToo;
  } cases[] = {
      {"missing", [](const std::string&) {}, "no progress is stored", false},
      {"empty", [](const std::string& f) { std::ofstream{f}; },
       "no progress is stored", false},
      {"written by a newer zept",
       [this](const std::string& f) {
         { ProgressStore store(f); }
         Exec(raw(f), "PRAGMA user_version=2");
       },
       "newer zept", true},
      {"not a database",
       [](const std::string& f) { std::ofstream(f) << std::string(5000, 'z'); },
       "not a database", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = dir + "/case" + std::to_string(++n) + "/s.sqlite";
    fs::create_directories(dir + "/case" + std::to_string(n));
    c.make(file);
    others.clear();
    const bool existed = fs::exists(file);
    const std::string before = Bytes(file);
    for (bool readOnly : {true, false}) {
      if (!readOnly && !c.writableToo) continue;
      try {
        ProgressStore store(file, readOnly);
        ADD_FAILURE() << "opened, readOnly " << readOnly;
      } catch (const EStoreError& e) {
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find(file), std::string::npos)
            << e.what();
      }
      EXPECT_EQ(fs::exists(file), existed);
      EXPECT_EQ(Bytes(file), before);
    }
  }
  // Nor does a read-only store make the folder of a missing one.
  EXPECT_THROW(ProgressStore(dir + "/packages/k.sqlite", true), EStoreError);
  EXPECT_FALSE(fs::exists(dir + "/packages"));
}

TEST_F(StoreTest, ReadOnlyStoreReadsAndRefusesToWrite) {
  const std::string file = dir + "/packages/k.sqlite";
  // With the writer gone its log is gone too; the reader does without.
  ProgressStore(file).save("anna", "ITEM1", {{"e", "v"}});
  ASSERT_FALSE(fs::exists(file + "-wal"));
  ProgressStore reader(file, true);
  EXPECT_EQ(reader.learners(), std::vector<std::string>{"anna"});
  EXPECT_EQ(reader.load("anna", "ITEM1"), (Values{{"e", "v"}}));
  try {
    reader.save("anna", "ITEM1", {});
    ADD_FAILURE() << "a read-only store wrote";
  } catch (const EStoreError& e) {
    EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
  }
  EXPECT_THROW(reader.addLearner("bob"), EStoreError);
  EXPECT_EQ(ProgressStore(file).load("anna", "ITEM1"), (Values{{"e", "v"}}));
}

// zept-results reads while zept writes: neither waits for the other.
TEST_F(StoreTest, ReaderAndWriterDoNotWaitForEachOther) {
  ProgressStore writer(path());
  writer.save("anna", "ITEM1", {{"e", "old"}});
  ProgressStore reader(path(), true);

  // Another writer in the middle of a transaction: the reader sees the
  // last commit at once.
  sqlite3* other = raw(path());
  Exec(other, "BEGIN IMMEDIATE");
  Exec(other, "UPDATE item_values SET value='new'");
  EXPECT_EQ(reader.load("anna", "ITEM1"), (Values{{"e", "old"}}));
  Exec(other, "COMMIT");
  EXPECT_EQ(reader.load("anna", "ITEM1"), (Values{{"e", "new"}}));

  // A reader in the middle of a read: the writer commits, the reader keeps
  // its snapshot until it ends.
  Exec(other, "BEGIN");
  Exec(other, "SELECT count(*) FROM item_values");
  writer.save("anna", "ITEM1", {{"e", "newer"}});
  EXPECT_EQ(reader.load("anna", "ITEM1"), (Values{{"e", "newer"}}));
  Exec(other, "COMMIT");
}

TEST(JsonStringTest, EscapesAndAlwaysGivesValidUtf8) {
  const struct {
    std::string text;
    const char* json;
  } cases[] = {
      {"", R"("")"},
      {"plain & <b>'x'", R"("plain & <b>'x'")"},
      {"\"quoted\" \\ /", R"("\"quoted\" \\ /")"},
      {Raw("\n\r\t\b\f\0\x1f\x7f"),
       R"("\u000a\u000d\u0009\u0008\u000c\u0000\u001f)"
       "\x7f\""},
      {"é 日本 \xF0\x9F\x98\x80", "\"é 日本 \xF0\x9F\x98\x80\""},
      // Each bad sequence, or its longest valid start, is one U+FFFD.
      {"a\xFF"
       "b",
       "\"a\xEF\xBF\xBD"
       "b\""},
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xE2\x82", "\"\xEF\xBF\xBD\""},
      {"\xE2\x82x", "\"\xEF\xBF\xBDx\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xF4\x90\x80\x80",
       "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xF0\x9F\x98", "\"\xEF\xBF\xBD\""},
      {"\x80\"", "\"\xEF\xBF\xBD\\\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(JsonString(c.text), c.json);
  }
}

// A stand-in for NextLaunchValues that shows the launch context it got.
Values ShowContext(const Values& stored, const LaunchContext& c) {
  Values values = stored;
  values["launch"] = c.studentId + "|" + c.studentName + "|" + c.launchData +
                     "|" + c.masteryScore + "|" + c.maxTimeAllowed + "|" +
                     c.timeLimitAction;
  return values;
}

Manifest CourseManifest() {
  Manifest m;
  m.identifier = "MANIFEST-1";
  m.title = "Café \"Sécurité\" \\ 1";
  Item module;
  module.identifier = "MOD1";
  module.title = "Module 1";
  Item a;
  a.identifier = "SCO-A";
  a.title = "A\tone";
  a.launch = "a/index.html";
  a.isSco = true;
  a.masteryScore = "80";
  a.dataFromLms = "start=1";
  module.children.push_back(a);
  Item c;
  c.identifier = "SCO-C";
  c.title = "C";
  c.launch = "c.html";
  c.isSco = true;
  c.maxTimeAllowed = "0000:30:00";
  c.timeLimitAction = "exit,message";
  m.items = {module, c};
  return m;
}

TEST_F(StoreTest, ResultsJsonText) {
  constexpr char kHead[] = R"({
  "course": {
    "identifier": "MANIFEST-1",
    "title": "Café \"Sécurité\" \\ 1"
  },
  "learners": [)";
  constexpr char kAnna[] = R"(
    {
      "login": "anna",
      "pending_statements": 2,
      "items": [
        {
          "identifier": "SCO-A",
          "title": "A\u0009one",
          "values": {
            "cmi.core.lesson_status": "passed",
            "cmi.suspend_data": "a\"b\\c\u000a\u0001é)"
                           "\xEF\xBF\xBD"
                           R"(",
            "launch": "anna|anna|start=1|80||"
          }
        },
        {
          "identifier": "SCO-C",
          "title": "C",
          "values": {
            "launch": "anna|anna|||0000:30:00|exit,message"
          }
        }
      ]
    })";
  constexpr char kBob[] = R"(
    {
      "login": "bob <&>",
      "pending_statements": 0,
      "items": [
        {
          "identifier": "SCO-A",
          "title": "A\u0009one",
          "values": {
            "launch": "bob <&>|bob <&>|start=1|80||"
          }
        },
        {
          "identifier": "SCO-C",
          "title": "C",
          "values": {
            "cmi.core.exit": "suspend",
            "cmi.core.score.raw": "70",
            "launch": "bob <&>|bob <&>|||0000:30:00|exit,message"
          }
        }
      ]
    })";
  const auto both = [](ProgressStore& store) {
    store.save("anna", "SCO-A",
               {{"cmi.suspend_data", "a\"b\\c\n\x01\xC3\xA9\xFF"},
                {"cmi.core.lesson_status", "passed"}},
               {{"s-1", "{}"}, {"s-2", "{}"}});
    store.save("bob <&>", "SCO-C",
               {{"cmi.core.score.raw", "70"}, {"cmi.core.exit", "suspend"}});
    // Not an item of the organization: not shown.
    store.save("anna", "GONE", {{"x", "y"}});
  };
  const struct {
    const char* what;
    std::function<void(ProgressStore&)> setup;
    std::string learner;
    std::string expected;  // "" when the learner is unknown
  } cases[] = {
      {"no learners", [](ProgressStore&) {}, "", std::string(kHead) + "]\n}\n"},
      {"every learner, in the order they came", both, "",
       std::string(kHead) + kAnna + "," + kBob + "\n  ]\n}\n"},
      {"one learner", both, "bob <&>",
       std::string(kHead) + kBob + "\n  ]\n}\n"},
      {"a learner who never came", both, "carl", ""},
      {"logins differ by case", both, "Anna", ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ProgressStore store(path("r" + std::to_string(++n) + ".sqlite"));
    c.setup(store);
    if (c.expected.empty()) {
      EXPECT_THROW(ResultsJson(CourseManifest(), store, c.learner, ShowContext),
                   EUnknownLearner);
    } else {
      EXPECT_EQ(ResultsJson(CourseManifest(), store, c.learner, ShowContext),
                c.expected);
    }
  }
}

TEST(ElementOrderTest, IndexesGoByNumber) {
  const std::vector<std::string> sorted = {
      "cmi.core.entry",          "cmi.core.exit",
      "cmi.interactions.0.id",   "cmi.interactions.2.id",
      "cmi.interactions.10.id",  "cmi.objectives.1.id",
      "cmi.objectives.1.status", "cmi.objectives.02.x",
      "cmi.objectives.9",        "cmi.objectives.11.id",
      "cmi.suspend_data"};
  for (std::size_t i = 0; i < sorted.size(); ++i)
    for (std::size_t j = 0; j < sorted.size(); ++j)
      EXPECT_EQ(ElementBefore(sorted[i], sorted[j]), i < j)
          << sorted[i] << " / " << sorted[j];
}

// Scores as the menus and the results show them.
TEST(ScoreTextTest, RawOfMaxElseScaledAsAPercentage) {
  const struct {
    const char *raw, *max, *scaled, *shown;
  } kCases[] = {
      {"8", "10", "0.8", "8 of 10"},
      {"8.50", "10", "", "8.5 of 10"},
      {"80", "", "0.8", "80"},
      {"", "10", "0.8", "80%"},
      {"", "", "0.6667", "66.7%"},
      {"", "", "-0.5", "-50%"},
      {"", "", "-0.0001", "0%"},
      {"", "", "1", "100%"},
      {"", "", "", ""},
      {"eight", "10", "x", ""},
      {"8 ", "10", "", ""},
      {"", "", "nan", ""},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(ScoreText(c.raw, c.max, c.scaled), c.shown)
        << c.raw << " / " << c.max << " / " << c.scaled;
}

// A store holds a learner's answers: whatever the umask, its files are the
// learner's alone, a store an earlier zept left open is narrowed when
// opened, and a folder made for stores is private while one that was there
// is left alone.
TEST_F(StoreTest, StoresAreTheLearnersAlone) {
  const auto mode = [](const std::string& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? (info.st_mode & 0777) : 0u;
  };
  const mode_t umaskBefore = ::umask(022);
  const struct {
    const char* name;
    std::function<std::string(const std::string& dir)> make;  // the store
    unsigned folderMode;  // of the store's folder afterwards
  } kCases[] = {
      {"a new store in a new folder",
       [](const std::string& d) {
         ProgressStore(d + "/data/zept/packages/K.sqlite")
             .save("anna", "SCO", {{"cmi.suspend_data", "answers"}});
         return d + "/data/zept/packages/K.sqlite";
       },
       0700},
      {"an earlier zept's open store",
       [](const std::string& d) {
         fs::create_directories(d + "/old");
         fs::permissions(d + "/old", fs::perms(0755));
         {
           ProgressStore(d + "/old/K.sqlite").save("anna", "SCO", {{"v", "1"}});
         }
         fs::permissions(d + "/old/K.sqlite", fs::perms(0644));
         ProgressStore(d + "/old/K.sqlite").save("anna", "SCO", {{"v", "2"}});
         return d + "/old/K.sqlite";
       },
       0755},
      {"values kept when storing failed",
       [](const std::string& d) {
         StoreWrite write;
         write.login = "anna";
         write.items = {{"SCO", {{"cmi.suspend_data", "answers"}}}};
         return KeepUnsaved({d + "/state/zept"}, "K", write);
       },
       0700},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    const std::string file = row.make(dir);
    EXPECT_EQ(mode(file), 0600u);
    for (const char* suffix : {"-wal", "-shm"}) {
      if (fs::exists(file + suffix)) {
        EXPECT_EQ(mode(file + suffix), 0600u);
      }
    }
    EXPECT_EQ(mode(fs::path(file).parent_path().string()), row.folderMode);
  }
  ::umask(umaskBefore);
}

// A statement kept prepared comes back with no bindings of its last use, and
// the same query asked again while one is being walked gets a statement of
// its own: neither walk disturbs the other.
TEST(StatementCacheTest, AKeptStatementIsFreshAndANestedOneIsItsOwn) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE t(n INTEGER); INSERT INTO t "
                         "VALUES(1),(2),(3)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const std::string path = "memory";
  StatementCache cache;
  constexpr char kAll[] = "SELECT n FROM t WHERE ?1 IS NULL OR n=?1 ORDER BY n";
  {
    SqlStatement one(db, path, kAll, "read", cache);
    ASSERT_TRUE(one.bind(1, std::int64_t{2}).step());
    EXPECT_EQ(one.integer(0), 2);
    EXPECT_FALSE(one.step());
  }
  std::string walked;
  {
    SqlStatement outer(db, path, kAll, "read", cache);  // unbound: all rows
    while (outer.step()) {
      SqlStatement inner(db, path, kAll, "read", cache);
      int rows = 0;
      while (inner.step()) ++rows;
      walked += std::to_string(outer.integer(0)) + ":" + std::to_string(rows) +
                " ";
    }
  }
  EXPECT_EQ(walked, "1:3 2:3 3:3 ");
  // A statement that cannot be prepared fails as any other, and again.
  for (int attempt = 0; attempt < 2; ++attempt)
    EXPECT_THROW(SqlStatement(db, path, "SELECT nothing FROM", "read", cache),
                 EStoreError);
  cache.finalize();
  EXPECT_EQ(sqlite3_close(db), SQLITE_OK);  // nothing left unfinalized
}

}  // namespace
}  // namespace zept::scorm
