#include "tracking/lms.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/codepage.h"
#include "platform/posix/posix.h"
#include "tracking/course_fixture.h"
#include "util/reglib.h"

namespace zept {
namespace {

using platform::RegistryRoot;
using testing::CourseEnv;

class LmsTest : public ::testing::Test, protected CourseEnv {
 protected:
  TLMSAPI api{ctx, parcours};

  void placeAt(const WideString& mode) {
    api.StorageMode = mode;
    api.TrackPath = u"C:\\data";
    api.TrackingId = u"course1";
    api.Login = u"anna";
  }
  // A learner's first visit: session, one value, commit.
  void firstVisit() {
    api.LMSLoad();
    api.LMSInitialize();
    api.CurrentSCO = 2;
    api.LMSSetValue(u"cmi.core.lesson_status", u"completed");
    api.Users.AddUser(u"anna", u"pw", u"");
    api.LMSCommit();
  }
  std::string file(const WideString& path) {
    const auto* f = fake.files.file(path);
    return f ? f->bytes : "<missing>";
  }
};

TEST_F(LmsTest, FileModeStoresUnderTrackPathAndLoadsBack) {
  placeAt(u"file");
  firstVisit();
  const std::string tracking = file(u"C:\\data\\course1\\anna\\tracking.xml");
  EXPECT_EQ(tracking, WideToUtf8(api.BuildTrackingsXml()));
  EXPECT_EQ(file(u"C:\\data\\course1\\users.xml"),
            WideToUtf8(api.Users.ToXml(u"\t")));

  TLMSAPI next(ctx, parcours);
  next.StorageMode = u"file";
  next.TrackPath = u"C:\\data";
  next.TrackingId = u"course1";
  next.Login = u"anna";
  next.LoadUsers();
  EXPECT_EQ(next.Users.Logins(), (TWideStringArray{u"anna"}));
  EXPECT_EQ(next.Users.CdromId, u"course1");
  next.LMSLoad();
  ASSERT_EQ(next.Sessions.size(), 1u);
  next.LMSInitialize();
  next.CurrentSCO = 2;
  EXPECT_EQ(next.LMSGetValue(u"cmi.core.lesson_status"), u"completed");
  EXPECT_EQ(next.CurrentSession, 2);
}

TEST_F(LmsTest, RegistryModeStoresUnderTheCurrentUser) {
  placeAt(u"reg");
  firstVisit();
  auto& reg = fake.registry;
  EXPECT_EQ(reg.readString(RegistryRoot::CurrentUser,
                           u"\\Software\\vardeno\\tracking\\course1\\anna",
                           u"tracking"),
            api.BuildTrackingsXml());
  EXPECT_EQ(reg.readString(RegistryRoot::CurrentUser,
                           u"\\Software\\vardeno\\tracking\\course1", u"users"),
            api.Users.ToXml(u"\t"));
  TLMSAPI next(ctx, parcours);
  next.TrackingId = u"course1";
  next.Login = u"anna";
  next.LMSLoad();
  EXPECT_EQ(next.Sessions.size(), 1u);
}

TEST_F(LmsTest, MachineWideValuesServeUntilTheUserHasOwn) {
  placeAt(u"reg");
  fake.registry.writeString(
      RegistryRoot::LocalMachine, u"Software\\vardeno\\tracking\\course1",
      u"users", u"<users><user login=\"shared\" password=\"x\"/></users>");
  api.LoadUsers();
  EXPECT_EQ(api.Users.Logins(), (TWideStringArray{u"shared"}));
}

TEST_F(LmsTest, PlacesLoseEmptyLevels) {
  placeAt(u"file");
  EXPECT_EQ(api.TrackingKey(u""),
            u"\\Software\\vardeno\\tracking\\course1\\anna");
  EXPECT_EQ(api.TrackingKey(u"bob"),
            u"\\Software\\vardeno\\tracking\\course1\\bob");
  EXPECT_EQ(api.UsersKey(), u"\\Software\\vardeno\\tracking\\course1");
  api.TrackingId = u"";
  EXPECT_EQ(api.TrackingKey(u""), u"\\Software\\vardeno\\tracking\\anna");
  EXPECT_EQ(api.TrackingFolder(u""), u"C:\\data\\anna");
  api.Login = u"";
  EXPECT_EQ(api.TrackingFolder(u""), u"C:\\data");
  EXPECT_EQ(api.UsersFolder(), u"C:\\data");
}

// Every spelling of a learner's folder names one lock: the native path.
TEST_F(LmsTest, StoreLockNamesTheFolderOnce) {
  placeAt(u"file");
  for (const WideString path : {u"C:\\data", u"C:/data/", u"C:\\x\\..\\data\\.",
                                u"C:\\\\data\\y\\z\\..\\.."}) {
    api.TrackPath = path;
    EXPECT_EQ(api.StoreLockName(), u"C:/data/course1/anna") << WideToUtf8(path);
  }
  api.TrackPath = u"/../srv/./data";
  EXPECT_EQ(api.StoreLockName(), u"/srv/data/course1/anna");
  api.TrackPath = u"../data";
  EXPECT_EQ(api.StoreLockName(), u"../data/course1/anna");
  api.StorageMode = u"cloud";
  EXPECT_EQ(api.StoreLockName(), u"");
}

TEST_F(LmsTest, EmptyLoginLoadsNothingAndCommitsBesideTheUsers) {
  placeAt(u"file");
  api.Login = u"";
  fake.files.addFile(u"C:\\data\\course1\\tracking.xml", "<stored/>");
  api.LMSLoad();
  EXPECT_TRUE(api.Sessions.empty());
  api.LMSInitialize();
  api.LMSCommit();
  EXPECT_NE(file(u"C:\\data\\course1\\tracking.xml").find("<trackings>"),
            std::string::npos);
  EXPECT_NE(file(u"C:\\data\\course1\\users.xml"), "<missing>");
}

TEST_F(LmsTest, OtherModesStoreOnlyTheUsersFile) {
  placeAt(u"cloud");
  firstVisit();
  EXPECT_EQ(file(u"C:\\data\\course1\\anna\\tracking.xml"), "<missing>");
  EXPECT_NE(file(u"C:\\data\\course1\\users.xml"), "<missing>");
  EXPECT_EQ(api.UserTrackingXml(u"anna", false), u"");
}

TEST_F(LmsTest, SetAndGetValueRules) {
  api.CurrentSCO = 1;
  api.LMSSetValue(u"cmi.core.score.raw", u"50");  // before any session
  api.LMSInitialize();
  EXPECT_EQ(api.LMSGetValue(u"cmi.core.score.raw"), u"0");
  api.LMSSetValue(u"score", u"77");
  EXPECT_EQ(api.LMSGetValue(u"cmi.core.score.raw"), u"77");
  EXPECT_EQ(api.LMSGetValue(u"score"), u"");
  api.LMSSetValue(u"cmi.core.Score.raw", u"1");
  EXPECT_EQ(api.LMSGetValue(u"cmi.core.score.raw"), u"77");
  api.LMSSetValue(u"cmi.core.lesson_location", u"");
  EXPECT_EQ(api.LMSGetValue(u"cmi.core.lesson_location"), u"");
  api.CurrentSCO = 4;
  api.LMSSetValue(u"score", u"5");
  EXPECT_EQ(api.LMSGetValue(u"cmi.core.score.raw"), u"");
  api.CurrentSCO = 1;
  api.LMSFinish();
  api.LMSSetValue(u"score", u"9");
  EXPECT_EQ(api.LMSGetValue(u"cmi.core.score.raw"), u"");
  EXPECT_EQ(api.CurrentSession, 0);
}

TEST_F(LmsTest, GetValuePullsTheSessionDownAfterALoad) {
  placeAt(u"file");
  api.LMSInitialize();
  api.LMSInitialize();
  api.LMSLoad();  // nothing stored: no sessions, CurrentSession stays 2
  EXPECT_EQ(api.CurrentSession, 2);
  api.CurrentSCO = 1;
  EXPECT_EQ(api.LMSGetValue(u"cmi.core.lesson_status"), u"");
  EXPECT_EQ(api.CurrentSession, 0);
}

TEST_F(LmsTest, UserTrackingXmlGivesStoredOrEmptyForm) {
  for (const WideString mode : {u"reg", u"file"}) {
    placeAt(mode);
    EXPECT_EQ(WideToUtf8(api.UserTrackingXml(u"zoe", false)),
              "<!-- tracking vide pour \"zoe\" "
              "-->\r\n<trackings>\r\n\t<tracking/>\r\n</trackings>");
  }
  placeAt(u"file");
  firstVisit();
  EXPECT_EQ(api.UserTrackingXml(u"anna", false), api.BuildTrackingsXml());
  const std::string formatted = WideToUtf8(api.UserTrackingXml(u"anna", true));
  EXPECT_EQ(formatted.rfind(
                "<trackings>\n  <tracking id=\"course1\" login=\"anna\">\n", 0),
            0u)
      << formatted.substr(0, 200);
  EXPECT_EQ(formatted.find("<?xml"), std::string::npos);
  fake.files.addFile(u"C:\\data\\course1\\bad\\tracking.xml",
                     "<trackings><broken");
  EXPECT_EQ(api.UserTrackingXml(u"bad", true), u"<trackings><broken");
}

TEST_F(LmsTest, UsersSessionsXml) {
  placeAt(u"file");
  EXPECT_EQ(api.UsersSessionsXml(), u"<users>\r\n</users>");
  api.Users.AddUser(u"zoe", u"pw", u"");
  EXPECT_EQ(WideToUtf8(api.UsersSessionsXml()),
            "<users>\r\n<user login=\"zoe\">\r\n<trackings>\n  "
            "<tracking/>\n</trackings>"
            "</user>\r\n</users>");
}

TEST_F(LmsTest, UnreadableTrackingFileIsKeptBeforeItIsReplaced) {
  placeAt(u"file");
  const WideString path = u"C:\\data\\course1\\anna\\tracking.xml";
  fake.files.addFile(path, "<?xml version=\"1.0\"?><trackings><tracking><sess");
  api.LMSLoad();
  EXPECT_TRUE(api.Sessions.empty());
  api.LMSInitialize();
  api.LMSCommit();
  EXPECT_EQ(file(u"C:\\data\\course1\\anna\\tracking.xml.unreadable-20261206-"
                 u"103015250"),
            "<?xml version=\"1.0\"?><trackings><tracking><sess");
  EXPECT_NE(file(path).find("<session id=\"1\""), std::string::npos);
  // The next commit does not copy the good file again.
  const std::size_t files = fake.files.fileCount();
  api.LMSCommit();
  EXPECT_EQ(fake.files.fileCount(), files);
}

TEST_F(LmsTest, UnreadableUsersFileIsKeptBeforeItIsReplaced) {
  placeAt(u"file");
  const WideString path = u"C:\\data\\course1\\users.xml";
  // As stored by a writer that did not escape its values.
  const std::string unescaped =
      "<users cdrom_id=\"course1\">\r\n"
      "\t<user login=\"Tom & Jerry\" password=\"pw\" date=\"01/01/2020\" />"
      "\r\n</users>";
  fake.files.addFile(path, unescaped);
  api.LoadUsers();
  EXPECT_TRUE(api.Users.Users.empty());
  firstVisit();  // loads the learner's tracking before it saves the users
  EXPECT_EQ(file(path + u".unreadable-20261206-103015250"), unescaped);
  EXPECT_NE(file(path).find("login=\"anna\""), std::string::npos);
  const std::size_t files = fake.files.fileCount();
  api.SaveUsers();
  EXPECT_EQ(fake.files.fileCount(), files);
}

// Learners added one by one, whatever their names, then one more at the
// next start: all of them remain.
TEST_F(LmsTest, EveryLearnerRemainsAfterTheNextStart) {
  const WideString logins[] = {u"anna", u"Tom & Jerry", u"a<b", u"say \"hi\"",
                               u"eve"};
  auto start = [&] {
    auto runtime = std::make_unique<TLMSAPI>(ctx, parcours);
    runtime->StorageMode = u"file";
    runtime->TrackPath = u"C:\\data";
    runtime->TrackingId = u"course1";
    runtime->LoadUsers();
    return runtime;
  };
  auto first = start();
  for (int i = 0; i < 4; ++i) {
    first->Users.AddUser(logins[i], u"pw", u"");
    first->SaveUsers();
  }
  auto second = start();
  second->Users.AddUser(logins[4], u"pw", u"");
  second->SaveUsers();
  EXPECT_EQ(start()->Users.Logins(),
            TWideStringArray(std::begin(logins), std::end(logins)));
}

// Learners stored before stay when others are added: by a runtime that
// never read the list (the menu's AddUser before any GetUserList), and by
// two runtimes on one store, as two processes add them. A login added again
// is a second entry; an entry stored already is never copied.
TEST_F(LmsTest, AddedLearnersJoinTheStoredOnes) {
  for (const WideString mode : {u"file", u"reg"}) {
    SCOPED_TRACE(WideToUtf8(mode));
    auto runtime = [&] {
      auto r = std::make_unique<TLMSAPI>(ctx, parcours);
      r->StorageMode = mode;
      r->TrackPath = u"C:\\data";
      r->TrackingId = u"course1";
      return r;
    };
    auto add = [](TLMSAPI& r, const WideString& login) {
      r.Users.AddUser(login, u"pw", u"");
      r.SaveUsers();
    };
    auto stored = [&] {
      auto r = runtime();
      r->LoadUsers();
      return r->Users.Logins();
    };
    auto seed = runtime();
    for (const WideString login : {u"bob", u"bob", u"carl"})
      seed->Users.AddUser(login, u"pw", u"");
    seed->SaveUsers();
    auto first = runtime();
    auto second = runtime();
    second->LoadUsers();
    add(*first, u"anna");
    add(*second, u"zoe");
    add(*first, u"anna");
    first->SaveUsers();
    TWideStringArray all{u"bob", u"bob", u"carl", u"anna", u"zoe", u"anna"};
    EXPECT_EQ(stored(), all);
    EXPECT_EQ(first->Users.Logins(), all);

    // While another process saves the list, an addition waits for the next
    // save of this one.
    auto other = fake.locks.tryLock(first->UsersLockName(), 0);
    add(*first, u"eve");
    EXPECT_EQ(stored(), all);
    other.reset();
    first->SaveUsers();
    first->SaveUsers();
    all.push_back(u"eve");
    EXPECT_EQ(stored(), all);
  }
  EXPECT_NE(log().find("is held by another process: the users added"),
            std::string::npos);
}

TEST_F(LmsTest, FailedWritesKeepTheStoredDocument) {
  placeAt(u"file");
  firstVisit();
  const std::string before = file(u"C:\\data\\course1\\anna\\tracking.xml");
  api.LMSSetValue(u"cmi.core.lesson_status", u"passed");
  fake.files.failNextRenames(1);
  api.LMSCommit();
  EXPECT_EQ(file(u"C:\\data\\course1\\anna\\tracking.xml"), before);
  EXPECT_NE(log().find("writeTextFile"), std::string::npos);
  // A folder that cannot be created: nothing written, nothing thrown.
  api.TrackPath = u"C:\\data\\course1\\anna\\tracking.xml";
  api.LMSCommit();
}

// Two runtimes on one learner's store, as two processes on one machine: the
// one that loaded it first writes; the other still shows the learner's
// progress but is told, once, and never overwrites the first's sessions,
// not even after the first let go, until a new load takes the store.
TEST_F(LmsTest, OneRuntimeAtATimeWritesALearnersStore) {
  struct Case {
    const char16_t* mode;
    const char16_t* trackingId;
    const char16_t* lockName;
    // The second names the same store, maybe spelled otherwise.
    const char16_t* secondPath;
    const char16_t* secondLogin;
    // The first lets go by loading another learner, else by its end.
    bool byLearnerChange;
  };
  const Case cases[] = {
      {u"file", u"f1", u"C:/data/f1/anna", u"C:\\data", u"anna", false},
      {u"file", u"f2", u"C:/data/f2/anna", u"C:/data//", u"anna", true},
      {u"reg", u"r1", u"\\SOFTWARE\\VARDENO\\TRACKING\\R1\\ANNA", u"", u"Anna",
       false},
      {u"reg", u"r2", u"\\SOFTWARE\\VARDENO\\TRACKING\\R2\\ANNA", u"", u"anna",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.mode) + " " + WideToUtf8(c.secondPath) +
                 (c.byLearnerChange ? ", learner change" : ", end"));
    placeAt(c.mode);
    api.TrackingId = c.trackingId;
    std::vector<WideString> told;
    auto runtime = [&](const WideString& path, const WideString& login) {
      auto r = std::make_unique<TLMSAPI>(ctx, parcours);
      r->StorageMode = c.mode;
      r->TrackPath = path;
      r->TrackingId = c.trackingId;
      r->Login = login;
      r->TellLearner = [&told](const WideString& text) {
        told.push_back(text);
      };
      return r;
    };
    auto visit = [](TLMSAPI& r, const WideString& where) {
      r.LMSInitialize();
      r.CurrentSCO = 1;
      r.LMSSetValue(u"cmi.core.lesson_location", where);
      r.LMSCommit();
    };
    auto stored = [&] {
      return WideToUtf8(api.UserTrackingXml(u"anna", false));
    };
    auto sessions = [&] {
      const std::string text = stored();
      std::size_t n = 0;
      for (std::size_t at = 0;
           (at = text.find("<session id=", at)) != std::string::npos; ++at)
        ++n;
      return n;
    };

    auto first = runtime(u"C:\\data", u"anna");
    first->LMSLoad();
    EXPECT_TRUE(fake.locks.held(c.lockName));
    visit(*first, u"first 1");
    auto second = runtime(c.secondPath, c.secondLogin);
    second->LMSLoad();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(
        told[0].find(u"already open for \u201C" + WideString(c.secondLogin)),
        WideString::npos);
    EXPECT_EQ(second->Sessions.size(), 1u);
    const std::string before = stored();
    visit(*second, u"second");
    EXPECT_EQ(stored(), before);

    visit(*first, u"first 2");
    EXPECT_EQ(sessions(), 2u);
    if (c.byLearnerChange) {
      first->Login = u"bob";
      first->LMSLoad();
    } else {
      first.reset();
    }
    EXPECT_FALSE(fake.locks.held(c.lockName));
    second->LMSCommit();  // still holding what it read before "first 2"
    EXPECT_EQ(sessions(), 2u);
    second->LMSLoad();
    visit(*second, u"second again");
    EXPECT_EQ(sessions(), 3u);
    EXPECT_NE(stored().find("first 2"), std::string::npos);
    EXPECT_EQ(told.size(), 1u);
    EXPECT_NE(
        log().find(WideToUtf8(c.lockName) + " is held by another process"),
        std::string::npos);
  }
}

// A commit with no load before it takes a free store and keeps it; one held
// elsewhere is not written; without locks on the system, it stores as a
// lone program would.
TEST_F(LmsTest, ACommitTakesOnlyAFreeStore) {
  struct Case {
    bool heldElsewhere;
    bool noLocks;
    bool stored;
  };
  for (const Case& c : {Case{false, false, true}, Case{true, false, false},
                        Case{false, true, true}}) {
    SCOPED_TRACE(::testing::Message() << c.heldElsewhere << c.noLocks);
    TLMSAPI runtime(ctx, parcours);
    runtime.StorageMode = u"file";
    runtime.TrackPath = u"C:\\data";
    runtime.TrackingId = c.heldElsewhere ? u"held"
                         : c.noLocks     ? u"none"
                                         : u"free";
    runtime.Login = u"anna";
    int told = 0;
    runtime.TellLearner = [&told](const WideString&) { ++told; };
    auto other = fake.locks.tryLock(runtime.StoreLockName(), 0);
    if (!c.heldElsewhere) other.reset();
    fake.locks.setBroken(c.noLocks);
    runtime.LMSInitialize();
    runtime.LMSCommit();
    fake.locks.setBroken(false);
    const WideString folder = runtime.TrackingFolder(u"");
    EXPECT_EQ(file(folder + u"\\tracking.xml") != "<missing>", c.stored);
    EXPECT_NE(file(runtime.UsersFolder() + u"\\users.xml"), "<missing>");
    EXPECT_EQ(told, c.heldElsewhere ? 1 : 0);
    // Once taken, the store stays this runtime's.
    EXPECT_EQ(fake.locks.tryLock(runtime.StoreLockName(), 0) == nullptr,
              !c.noLocks);
  }
  EXPECT_NE(log().find("error 2406 raised"), std::string::npos);
}

TEST_F(LmsTest, TrackInteractionsAndModeDefaults) {
  EXPECT_EQ(api.StorageMode, u"reg");
  EXPECT_EQ(api.CurrentSession, -1);
  EXPECT_EQ(api.CurrentSCO, -1);
  EXPECT_EQ(api.HistoryLimit, 0);
  EXPECT_FALSE(api.TrackInteractions);
}

// The POSIX platform on a temporary folder: files, registry store, locks.
struct PosixCourse {
  explicit PosixCourse(const std::string& dir)
      : registry(platform::NewSqliteRegistry(dir + "/reg/HKCU.db",
                                             dir + "/reg/HKLM.db")),
        locks(platform::NewPosixLocks(dir + "/locks")) {
    folders.special[5] = Utf8ToWide(dir + "/Documents");
    files->replaceFile(Utf8ToWide(dir + "/imsmanifest.xml"),
                       testing::kManifest);
    parcours.LoadManifest(ctx, Utf8ToWide(dir + "/imsmanifest.xml"));
  }
  std::unique_ptr<TLMSAPI> runtime(const WideString& mode,
                                   const WideString& path) {
    auto api = std::make_unique<TLMSAPI>(ctx, parcours);
    api->StorageMode = mode;
    api->TrackPath = path;
    api->TrackingId = u"course1";
    return api;
  }

  std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  std::unique_ptr<platform::RegistryStore> registry;
  platform::FakeSystemFolders folders{*files};
  platform::FakeClock clock;
  std::unique_ptr<platform::Locks> locks;
  platform::Platform p{*registry, folders, *files, clock, *locks};
  Context ctx{p};
  TParcours parcours;
};

TEST(LmsPosix, StoresInARealFolderAndLoadsInAFreshRuntime) {
  char pattern[] = "/tmp/zept-lms-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  PosixCourse course(dir);
  auto runtime = [&](const WideString& mode) {
    auto api = course.runtime(mode, Utf8ToWide(dir) + u"\\store");
    api->Login = u"Łukasz";
    api->LMSLoad();
    return api;
  };
  for (const WideString mode : {u"file", u"reg"}) {
    {
      auto api = runtime(mode);
      api->LMSInitialize();
      api->CurrentSCO = 3;
      api->LMSSetValue(u"cmi.suspend_data", u"ünïcødé ]]> \r\n");
      api->LMSCommit();
    }
    auto fresh = runtime(mode);
    ASSERT_EQ(fresh->Sessions.size(), 1u);
    EXPECT_EQ(fresh->Sessions[0]->SCOTrackings[2].SuspendData,
              u"ünïcødé ]]> \r\n");
  }
  EXPECT_TRUE(
      std::filesystem::exists(dir + "/store/course1/Łukasz/tracking.xml"));
  std::filesystem::remove_all(dir);
}

// Two processes adding learners to one course at the same moment, each
// saving after every one: no learner of either is lost, none is doubled.
// (The lock is the same in registry mode; a file store is the quicker.)
TEST(LmsPosix, TwoProcessesAddingLearnersKeepEveryOne) {
  char pattern[] = "/tmp/zept-lms-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  constexpr int kEach = 60;
  auto addLearners = [&](const std::string& who) {
    PosixCourse course(dir);
    auto api = course.runtime(u"file", Utf8ToWide(dir));
    api->LoadUsers();
    for (int i = 0; i < kEach; ++i) {
      api->Users.AddUser(Utf8ToWide(who + std::to_string(i)), u"pw", u"");
      api->SaveUsers();
    }
  };
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char start = 0;
    if (::read(go[0], &start, 1) == 1) addLearners("child ");
    ::_exit(0);
  }
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  addLearners("parent ");
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  ::close(go[0]);
  ::close(go[1]);
  PosixCourse course(dir);
  auto api = course.runtime(u"file", Utf8ToWide(dir));
  api->LoadUsers();
  TWideStringArray logins = api->Users.Logins();
  std::sort(logins.begin(), logins.end());
  TWideStringArray expected;
  for (const char* who : {"child ", "parent "}) {
    for (int i = 0; i < kEach; ++i)
      expected.push_back(Utf8ToWide(who + std::to_string(i)));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(logins, expected);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zept
