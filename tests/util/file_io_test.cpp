#include "util/file_io.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "util/FileVersion.h"
#include "util/fake_env.h"
#include "util/reglib.h"

namespace zept {
namespace {

using platform::RegistryRoot;
using testing::FakeEnv;

class FileIoTest : public ::testing::Test, protected FakeEnv {};

TEST_F(FileIoTest, CreateTempSubfolderTakesFirstFreeNumber) {
  const WideString temp = u"C:\\Users\\u\\AppData\\Local\\Temp\\";
  fake.files.addDirectory(temp + u"x1");
  fake.files.addDirectory(temp + u"x2");
  EXPECT_EQ(CreateTempSubfolder(ctx, u"x"), temp + u"x3\\");
  EXPECT_TRUE(fake.files.directoryExists(temp + u"x3"));
  EXPECT_EQ(CreateTempSubfolder(ctx, u"x"), temp + u"x4\\");

  fake.folders.temp = u"C:\\missing";
  EXPECT_EQ(CreateTempSubfolder(ctx, u"x"), u"");
}

TEST_F(FileIoTest, DeleteFolderLeavesReadOnlyFilesAndReportsFalse) {
  fake.files.addFile(u"C:\\t\\f\\a.txt", "a");
  fake.files.addFile(u"C:\\t\\f\\sub\\b.txt", "b");
  fake.files.addFile(u"C:\\t\\f\\sub\\ro.txt", "r", /*readOnly=*/true);
  EXPECT_FALSE(DeleteFolder(ctx, u"C:\\t\\f", true));
  EXPECT_TRUE(fake.files.directoryExists(u"C:\\t\\f"));
  EXPECT_TRUE(fake.files.fileExists(u"C:\\t\\f\\sub\\ro.txt"));

  fake.files.addFile(u"C:\\t\\g\\sub\\b.txt", "b");
  EXPECT_FALSE(DeleteFolder(ctx, u"C:\\t\\g", false));  // not empty
  EXPECT_TRUE(DeleteFolder(ctx, u"C:\\t\\g", true));
  EXPECT_FALSE(fake.files.directoryExists(u"C:\\t\\g"));
}

TEST_F(FileIoTest, DeleteFolderLogsAListingFailure) {
  fake.files.addFile(u"C:\\t\\h\\a.txt", "a");
  fake.files.failListing(u"C:\\t\\h");
  EXPECT_FALSE(DeleteFolder(ctx, u"C:\\t\\h", true));
  EXPECT_NE(log().find("<td class=\"col_f\"><div>DeleteFolder</div></td>"
                       "<td class=\"col_m\"><div>EFileError error 1504081531 "
                       "raised, with message : cannot list folder"),
            std::string::npos);
}

TEST_F(FileIoTest, ProtectPath) {
  // A path that does not exist stays itself, quoted when it holds a blank.
  EXPECT_EQ(ProtectPath(ctx, u"C:\\no such\\x", true), u"\"C:\\no such\\x\"");
  EXPECT_EQ(ProtectPath(ctx, u"C:\\no such\\x", false), u"C:\\no such\\x");
  fake.files.addDirectory(u"C:\\My Data");
  fake.folders.shortNames[u"C:\\My Data"] = u"C:\\MYDATA~1";
  EXPECT_EQ(ProtectPath(ctx, u"C:\\My Data", true), u"C:\\MYDATA~1");
  fake.folders.shortNamesFail = true;
  EXPECT_EQ(ProtectPath(ctx, u"C:\\My Data", true), u"\"C:\\My Data\"");
  EXPECT_NE(
      log().find("EFileError error 0403 raised, with message : cannot get "
                 "short name: Access is denied </div>"),
      std::string::npos);
}

TEST_F(FileIoTest, ReadTextFileEndsEveryLineWithCrLf) {
  fake.files.addFile(u"C:\\a.txt", "a\nb");
  EXPECT_EQ(readTextFile(ctx, u"C:\\a.txt"), u"a\r\nb\r\n");
  fake.files.addFile(u"C:\\b.txt", "a\r\n\r\nb\r\n");
  EXPECT_EQ(readTextFile(ctx, u"C:\\b.txt"), u"a\r\n\r\nb\r\n");
  fake.files.addFile(u"C:\\c.txt", "caf\xE9 \x80");
  EXPECT_EQ(readTextFile(ctx, u"C:\\c.txt"), u"café €\r\n");
  fake.files.addFile(u"C:\\d.txt", "");
  EXPECT_EQ(readTextFile(ctx, u"C:\\d.txt"), u"");
  EXPECT_EQ(readTextFile(ctx, u"C:\\missing.txt"), u"");
}

TEST_F(FileIoTest, WriteTextFileFailureKeepsOldDocumentAndLogs28041) {
  fake.files.addFile(u"C:\\data\\tracking.xml", "old");
  fake.files.failNextRenames(1);
  EXPECT_FALSE(writeTextFile(ctx, "new", u"C:\\data\\tracking.xml"));
  EXPECT_EQ(fake.files.file(u"C:\\data\\tracking.xml")->bytes, "old");
  EXPECT_NE(log().find("<td class=\"col_c\"><div>file_io</div></td><td "
                       "class=\"col_f\"><div>writeTextFile</div></td><td "
                       "class=\"col_m\"><div>EFileError error 28041 raised"),
            std::string::npos);

  EXPECT_TRUE(writeTextFile(ctx, "new", u"C:\\data\\tracking.xml"));
  EXPECT_EQ(fake.files.file(u"C:\\data\\tracking.xml")->bytes, "new");
  EXPECT_FALSE(writeTextFile(ctx, "x", u"C:\\nofolder\\f.txt"));
}

TEST_F(FileIoTest, FolderLookups) {
  EXPECT_EQ(GetMyDocumentsFolder(ctx), u"C:\\Users\\u\\Documents");
  EXPECT_EQ(GetSpecialFolder(ctx, 99), u"");
  EXPECT_EQ(GetTempFolder(ctx), u"C:\\Users\\u\\AppData\\Local\\Temp\\");
  EXPECT_EQ(GetSystemRoot(ctx), u"C:");
  fake.folders.windows = u"";
  EXPECT_EQ(GetSystemRoot(ctx), u"");
  EXPECT_EQ(GetProgramFilesFolder(ctx), u"");
  fake.registry.writeString(RegistryRoot::LocalMachine,
                            u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                            u"ProgramFilesDir", u"D:\\Apps");
  EXPECT_EQ(GetProgramFilesFolder(ctx), u"D:\\Apps");
}

TEST_F(FileIoTest, PathHelpers) {
  EXPECT_EQ(WithTrailingBackslash(u""), u"\\");
  EXPECT_EQ(WithTrailingBackslash(u"C:\\a"), u"C:\\a\\");
  EXPECT_EQ(WithTrailingBackslash(u"C:\\a\\"), u"C:\\a\\");
  EXPECT_EQ(ExtractFileName(u"/usr/bin/zept-report"), u"zept-report");
  EXPECT_EQ(ExtractFileName(u"C:\\x\\zept.exe"), u"zept.exe");
  EXPECT_EQ(ExtractFilePath(u"/home/u\\var-deno\\f.htm"),
            u"/home/u\\var-deno\\");
}

TEST_F(FileIoTest, ListSubfoldersGivesFullPathsOfFoldersOnly) {
  fake.files.addDirectory(u"C:\\v\\B");
  fake.files.addDirectory(u"C:\\v\\A");
  fake.files.addFile(u"C:\\v\\file.txt", "");
  EXPECT_EQ(ListSubfolders(ctx, u"C:\\v"),
            (TWideStringArray{u"C:\\v\\A", u"C:\\v\\B"}));
  EXPECT_TRUE(ListSubfolders(ctx, u"C:\\none").empty());
}

TEST_F(FileIoTest, RegistryStringsFallBackFromUserToMachine) {
  auto& reg = fake.registry;
  const WideString key = u"\\Software\\vardeno\\Tesk Runtime";
  EXPECT_EQ(RegReadString(reg, key, u"x", u"def"), u"def");
  reg.writeString(RegistryRoot::LocalMachine, key, u"x", u"machine");
  EXPECT_EQ(RegReadString(reg, key, u"X", u"def"), u"machine");
  ASSERT_TRUE(RegWriteString(reg, key, u"x", u"", u"HKEY_CURRENT_USER"));
  EXPECT_EQ(RegReadString(reg, key, u"x", u"def"),
            u"machine");  // empty user value
  ASSERT_TRUE(RegWriteString(reg, u"software\\VARDENO\\tesk runtime\\", u"x",
                             u"user", u"anything else"));
  EXPECT_EQ(RegReadString(reg, key, u"x", u"def"), u"user");

  reg.setReadOnly(RegistryRoot::LocalMachine, true);
  EXPECT_FALSE(RegWriteString(reg, key, u"y", u"v", u"HKEY_LOCAL_MACHINE"));
  reg.setFailWrites(true);
  EXPECT_THROW(RegWriteString(reg, key, u"y", u"v", u"HKEY_CURRENT_USER"),
               ERegistryError);
}

TEST_F(FileIoTest, VersionStrings) {
  EXPECT_EQ(GetFileVersionString(fake.folders, u"", u"%d.%d.%d.%d"),
            u"6.0.3.67");
  EXPECT_EQ(GetShortVersion(fake.folders), u"6r0");
  EXPECT_EQ(
      GetFileVersionString(fake.folders, u"C:\\other.dll", u"%d.%d.%d.%d"),
      u"");
  fake.folders.version.reset();
  EXPECT_EQ(GetFileVersionString(fake.folders, u"", u"%d.%d.%d.%d"), u"");
}

}  // namespace
}  // namespace zept
