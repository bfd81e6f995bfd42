// The places of a learner's progress: a tracking id and a login are one
// folder or key name each, whatever a learner typed.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <set>

#include "platform/codepage.h"
#include "platform/posix/posix.h"
#include "tracking/course_fixture.h"
#include "tracking/lms.h"

namespace zept {
namespace {

namespace fs = std::filesystem;
using platform::RegistryRoot;
using testing::CourseEnv;

// The escapes found by trying, and what they become.
const std::pair<WideString, WideString> kFolderNames[] = {
    {u"..\\..\\..\\pwn", u"%2E.%5C..%5C..%5Cpwn"},
    {u"..\\..\\evil", u"%2E.%5C..%5Cevil"},
    {u"x/../../up", u"x%2F..%2F..%2Fup"},
    {u"..", u"%2E%2E"},
    {u".", u"%2E"},
    {u"...", u"%2E.%2E"},
    {u" anna.", u"%20anna%2E"},
    {u"a:b*c?d\"e<f>g|h", u"a%3Ab%2Ac%3Fd%22e%3Cf%3Eg%7Ch"},
    {u"tab\there\x7F", u"tab%09here%7F"},
    {u"100% a/b", u"100%25 a%2Fb"},
    {u"x%2Fy", u"x%252Fy"},
    {u"x%2fy", u"x%252fy"},
    {u"con", u"%63on"},
    {u"LPT1.txt", u"%4CPT1.txt"},
    {u"nul .tar.gz", u"%6Eul .tar.gz"},
    {u"COM\u00B2", u"%43OM\u00B2"},
    {u"a\xD800", u"a%ED%A0%80"},
};

const std::pair<WideString, WideString> kKeyNames[] = {
    {u"..\\..\\..\\pwn", u"..%5C..%5C..%5Cpwn"},
    {u"anna\\", u"anna%5C"},
    {u"100%\\x", u"100%25%5Cx"},
    {u"x%2Fy", u"x%252Fy"},
    {u"a\nb", u"a%0Ab"},
    {u"\xDC00z", u"%ED%B0%80z"},
};

TEST(StorageNames, SafeNamesAreUsedUnchanged) {
  for (const WideString name :
       {u"anna", u"Anne-Marie Dupont", u"josé", u"Łukasz", u"O'Brien", u"100%",
        u"50% off", u"a.b", u"Console", u"x_y (2)", u"\U0001F600"}) {
    EXPECT_EQ(StorageFolderName(name), name);
    EXPECT_EQ(StorageKeyName(name), name);
  }
  // Only "\" splits a key: what a folder name cannot hold, a key name can.
  for (const WideString name : {u"..", u".", u"a:b", u"x/y", u" anna.", u"CON"})
    EXPECT_EQ(StorageKeyName(name), name);
}

TEST(StorageNames, OtherNamesArePercentEncodedAndComeBack) {
  std::set<WideString> folders, keys;
  for (const auto& [name, encoded] : kFolderNames) {
    EXPECT_EQ(StorageFolderName(name), encoded) << WideToUtf8(name);
    EXPECT_EQ(DecodeStorageName(encoded), name) << WideToUtf8(encoded);
    // One plain folder name on Windows and on POSIX.
    EXPECT_EQ(encoded.find_first_of(u"\\/:*?\"<>|\t\x7F"), WideString::npos);
    EXPECT_NE(encoded.front(), u'.');
    EXPECT_NE(encoded.back(), u' ');
    folders.insert(encoded);
  }
  for (const auto& [name, encoded] : kKeyNames) {
    EXPECT_EQ(StorageKeyName(name), encoded) << WideToUtf8(name);
    EXPECT_EQ(DecodeStorageName(encoded), name) << WideToUtf8(encoded);
    keys.insert(encoded);
  }
  // No encoded name equals a name kept as it is, nor another encoded one.
  EXPECT_EQ(folders.size(), std::size(kFolderNames));
  EXPECT_EQ(StorageFolderName(u"%2E%2E"), u"%252E%252E");
  EXPECT_EQ(StorageKeyName(u"anna%5C"), u"anna%255C");
  EXPECT_EQ(keys.size(), std::size(kKeyNames));
}

// The runtime on the real file system of a temporary folder.
class LmsPlacesOnDisk : public ::testing::Test, protected CourseEnv {
 protected:
  std::string dir;
  std::unique_ptr<platform::FileSystem> disk = platform::NewPosixFileSystem();
  platform::FakeSystemFolders diskFolders{*disk};
  platform::Platform onDisk{fake.registry, diskFolders, *disk, fake.clock,
                            fake.locks};
  Context diskCtx{onDisk};

  void SetUp() override {
    char pattern[] = "/tmp/zept-places-XXXXXX";
    dir = ::mkdtemp(pattern);
    diskFolders.special[5] = Utf8ToWide(dir + "/Documents");
  }
  void TearDown() override { fs::remove_all(dir); }

  std::unique_ptr<TLMSAPI> runtime(const WideString& id,
                                   const WideString& login) {
    auto api = std::make_unique<TLMSAPI>(diskCtx, parcours);
    api->StorageMode = u"file";
    api->TrackPath = Utf8ToWide(dir) + u"\\deep\\course\\data";
    api->TrackingId = id;
    api->Login = login;
    return api;
  }
  // Every file below the temporary folder, relative to it.
  std::set<std::string> files() {
    std::set<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
      if (e.is_regular_file())
        found.insert(fs::relative(e.path(), dir).string());
    }
    return found;
  }
};

TEST_F(LmsPlacesOnDisk, EscapesStayBelowTheTrackPathAndComeBack) {
  const std::pair<WideString, WideString> learners[] = {
      {u"course1", u"..\\..\\..\\pwn"},
      {u"..\\..\\evil", u"anna"},
      {u"course1", u"x/../../up"},
      {u"course1", u".."},
  };
  for (const auto& [id, login] : learners) {
    auto api = runtime(id, login);
    api->LoadUsers();
    api->Users.AddUser(login, u"pw", u"");
    api->LMSLoad();
    api->LMSInitialize();
    api->CurrentSCO = 2;
    api->LMSSetValue(u"cmi.core.lesson_location", u"page of " + login);
    api->LMSCommit();
  }
  EXPECT_EQ(files(), (std::set<std::string>{
                         "deep/course/data/course1/users.xml",
                         "deep/course/data/course1/%2E.%5C..%5C..%5Cpwn/"
                         "tracking.xml",
                         "deep/course/data/course1/x%2F..%2F..%2Fup/"
                         "tracking.xml",
                         "deep/course/data/course1/%2E%2E/tracking.xml",
                         "deep/course/data/%2E.%5C..%5Cevil/users.xml",
                         "deep/course/data/%2E.%5C..%5Cevil/anna/tracking.xml",
                     }));

  // A second run finds each learner's values under the login as typed.
  for (const auto& [id, login] : learners) {
    auto api = runtime(id, login);
    api->LMSLoad();
    ASSERT_EQ(api->Sessions.size(), 1u) << WideToUtf8(login);
    api->LMSInitialize();
    api->CurrentSCO = 2;
    EXPECT_EQ(api->LMSGetValue(u"cmi.core.lesson_location"),
              u"page of " + login);
    EXPECT_NE(WideToUtf8(api->BuildTrackingsXml())
                  .find("login=\"" + WideToUtf8(login) + "\""),
              std::string::npos);
  }
  // The movies see the logins as typed, with their stored trackings.
  auto api = runtime(u"course1", u"");
  api->LoadUsers();
  EXPECT_EQ(api->Users.Logins(),
            (TWideStringArray{u"..\\..\\..\\pwn", u"x/../../up", u".."}));
  const std::string all = WideToUtf8(api->UsersSessionsXml());
  EXPECT_NE(all.find("<user login=\"..\\..\\..\\pwn\">\r\n<trackings>\n  "
                     "<tracking id=\"course1\" login=\"..\\..\\..\\pwn\">"),
            std::string::npos)
      << all;
}

class LmsPlaces : public ::testing::Test, protected CourseEnv {
 protected:
  std::unique_ptr<TLMSAPI> runtime(const WideString& mode,
                                   const WideString& login) {
    auto api = std::make_unique<TLMSAPI>(ctx, parcours);
    api->StorageMode = mode;
    api->TrackPath = u"C:\\data";
    api->TrackingId = u"course1";
    api->Login = login;
    return api;
  }
  void visit(const WideString& mode, const WideString& login,
             const WideString& status) {
    auto api = runtime(mode, login);
    api->LMSLoad();
    api->LMSInitialize();
    api->CurrentSCO = 1;
    api->LMSSetValue(u"cmi.core.lesson_status", status);
    api->LMSCommit();
  }
  WideString statusOf(const WideString& mode, const WideString& login) {
    auto api = runtime(mode, login);
    api->LMSLoad();
    api->LMSInitialize();
    api->CurrentSCO = 1;
    return api->LMSGetValue(u"cmi.core.lesson_status");
  }
  std::vector<WideString> subkeys(const WideString& key) {
    return fake.registry.listSubkeys(RegistryRoot::CurrentUser, key);
  }
};

TEST_F(LmsPlaces, RegistryLoginsWithABackslashMakeNoNestedKeys) {
  visit(u"reg", u"anna", u"passed");
  visit(u"reg", u"..\\..\\..\\pwn", u"failed");
  visit(u"reg", u"anna\\", u"browsed");
  visit(u"reg", u"anna\\x", u"incomplete");
  EXPECT_EQ(subkeys(u"\\Software\\vardeno\\tracking\\course1"),
            (std::vector<WideString>{u"..%5C..%5C..%5Cpwn", u"anna", u"anna%5C",
                                     u"anna%5Cx"}));
  EXPECT_TRUE(subkeys(u"\\Software\\vardeno\\tracking\\course1\\anna").empty());
  // None reaches another learner's values, and each finds its own.
  EXPECT_EQ(statusOf(u"reg", u"anna"), u"passed");
  EXPECT_EQ(statusOf(u"reg", u"anna\\"), u"browsed");
  EXPECT_EQ(statusOf(u"reg", u"anna\\x"), u"incomplete");
  EXPECT_EQ(statusOf(u"reg", u"..\\..\\..\\pwn"), u"failed");
  auto api = runtime(u"reg", u"");
  api->TrackingId = u"..\\..\\evil";
  api->SaveUsers();
  EXPECT_EQ(subkeys(u"\\Software\\vardeno\\tracking"),
            (std::vector<WideString>{u"..%5C..%5Cevil", u"course1"}));
}

TEST_F(LmsPlaces, ALoginEqualToAnotherOnesEncodedFormHasItsOwnPlace) {
  for (const WideString mode : {u"file", u"reg"}) {
    visit(mode, u"x/y\\z", u"passed");
    visit(mode, u"x%2Fy%5Cz", u"failed");
    visit(mode, u"x%2Fy\\z", u"browsed");
    EXPECT_EQ(statusOf(mode, u"x/y\\z"), u"passed") << WideToUtf8(mode);
    EXPECT_EQ(statusOf(mode, u"x%2Fy%5Cz"), u"failed");
    EXPECT_EQ(statusOf(mode, u"x%2Fy\\z"), u"browsed");
  }
  EXPECT_NE(fake.files.file(u"C:\\data\\course1\\x%2Fy%5Cz\\tracking.xml"),
            nullptr);
  EXPECT_NE(fake.files.file(u"C:\\data\\course1\\x%252Fy%255Cz\\tracking.xml"),
            nullptr);
  EXPECT_NE(fake.files.file(u"C:\\data\\course1\\x%252Fy%5Cz\\tracking.xml"),
            nullptr);
}

TEST_F(LmsPlaces, StoresMadeBeforeAreFoundWhereTheyAre) {
  // Written where a store of today has them, by plain concatenation.
  auto writer = runtime(u"file", u"");
  writer->LMSInitialize();
  writer->CurrentSCO = 1;
  writer->LMSSetValue(u"cmi.core.lesson_status", u"completed");
  const Utf8String document = writer->BuildTrackingsXmlUtf8();
  const WideString logins[] = {u"anna", u"Anne-Marie Dupont", u"josé"};
  for (const WideString& login : logins) {
    fake.files.addFile(u"C:\\data\\course1\\" + login + u"\\tracking.xml",
                       document);
    fake.registry.writeString(
        RegistryRoot::CurrentUser,
        u"\\Software\\vardeno\\tracking\\course1\\" + login, u"tracking",
        Utf8ToWide(document));
  }
  for (const WideString mode : {u"file", u"reg"}) {
    for (const WideString& login : logins)
      EXPECT_EQ(statusOf(mode, login), u"completed") << WideToUtf8(login);
  }
}

}  // namespace
}  // namespace zept
