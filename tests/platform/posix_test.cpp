// The POSIX platform on a real temporary folder.

#include "platform/posix/posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "util/file_io.h"
#include "util/textlib.h"

namespace zept::platform {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/zept-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path_); }
  const std::string& path() const { return path_; }
  WideString wide(const std::string& rest = "") const {
    return Utf8ToWide(path_ + rest);
  }

 private:
  std::string path_;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PosixFiles, BackslashPathsMapToNativeOnes) {
  TempDir dir;
  auto files = NewPosixFileSystem();
  files->createDirectories(dir.wide("\\a\\b c\\d"));
  EXPECT_TRUE(fs::is_directory(dir.path() + "/a/b c/d"));
  files->replaceFile(dir.wide("\\a\\b c\\d\\f.txt"), "x");
  EXPECT_TRUE(files->fileExists(dir.wide("/a/b c\\d/f.txt")));
  EXPECT_FALSE(files->directoryExists(dir.wide("\\a\\b c\\d\\f.txt")));
  files->appendFile(dir.wide("\\a\\b c\\d\\f.txt"), "yz");
  EXPECT_EQ(files->readFile(dir.wide("\\a\\b c\\d\\f.txt")), "xyz");
  EXPECT_EQ(files->readFile(dir.wide("\\a\\missing.txt")), std::nullopt);
  EXPECT_THROW(files->createDirectories(dir.wide("\\a\\b c\\d\\f.txt\\sub")),
               EFileError);
  // What leaves the core: every separator native, the text otherwise kept.
  EXPECT_EQ(files->nativePath(u"/c/course\\SCO_0001\\é b/x.swf"),
            u"/c/course/SCO_0001/é b/x.swf");
}

TEST(PosixFiles, ListsInNameOrderAndKeepsReadOnlyFiles) {
  TempDir dir;
  auto files = NewPosixFileSystem();
  files->createDirectories(dir.wide("/z"));
  files->replaceFile(dir.wide("/b.txt"), "");
  files->replaceFile(dir.wide("/ro.txt"), "");
  ::chmod((dir.path() + "/ro.txt").c_str(), 0444);
  std::vector<DirEntry> entries = files->listDirectory(dir.wide());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, u"b.txt");
  EXPECT_EQ(entries[2].name, u"z");
  EXPECT_TRUE(entries[2].isDirectory);
  EXPECT_FALSE(files->deleteFile(dir.wide("/ro.txt")));
  EXPECT_TRUE(files->deleteFile(dir.wide("/b.txt")));
  EXPECT_FALSE(files->deleteFile(dir.wide("/z")));
  EXPECT_TRUE(files->removeDirectory(dir.wide("/z")));
  EXPECT_TRUE(files->listDirectory(dir.wide("/none")).empty());
}

int FailingRename(const char*, const char*) {
  errno = EIO;
  return -1;
}
ssize_t ShortWrite(int fd, const void* data, std::size_t size) {
  return size > 3 ? ::write(fd, data, 3) : 0;  // then the device is full
}

TEST(PosixFiles, FailedReplacementLeavesTheOldDocumentWhole) {
  TempDir dir;
  const WideString file = dir.wide("/tracking.xml");
  NewPosixFileSystem()->replaceFile(file, "old document");

  PosixFileHooks renameFails;
  renameFails.rename = FailingRename;
  EXPECT_THROW(NewPosixFileSystem(renameFails)->replaceFile(file, "new"),
               EFileError);
  PosixFileHooks shortWrite;
  shortWrite.write = ShortWrite;
  EXPECT_THROW(
      NewPosixFileSystem(shortWrite)->replaceFile(file, "new document"),
      EFileError);

  EXPECT_EQ(Slurp(dir.path() + "/tracking.xml"), "old document");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()),
                          fs::directory_iterator()),
            1);
}

TEST(SqliteRegistry, NamesAreCaseInsensitiveAndValuesPersist) {
  TempDir dir;
  const auto user = RegistryRoot::CurrentUser;
  {
    auto reg =
        NewSqliteRegistry(dir.path() + "/u/HKCU.db", dir.path() + "/m/HKLM.db");
    EXPECT_FALSE(reg->keyExists(user, u"Software\\vardeno"));
    EXPECT_EQ(reg->readString(user, u"Software\\vardeno", u"x"), std::nullopt);
    EXPECT_FALSE(fs::exists(dir.path() + "/u"));  // reading creates nothing
    reg->writeString(user, u"\\Software\\Vardeno\\Tesk Runtime\\", u"ModeDebug",
                     u"1");
    reg->writeString(user, u"SOFTWARE\\VARDENO\\TESK RUNTIME", u"MODEDEBUG",
                     u"Żółć");
    EXPECT_TRUE(reg->createKey(user, u"software\\vardeno\\Other"));
  }
  auto reg =
      NewSqliteRegistry(dir.path() + "/u/HKCU.db", dir.path() + "/m/HKLM.db");
  EXPECT_EQ(
      reg->readString(user, u"software\\vardeno\\tesk runtime", u"modedebug"),
      u"Żółć");
  EXPECT_EQ(reg->listSubkeys(user, u"Software\\vardeno"),
            (std::vector<WideString>{u"Other", u"Tesk Runtime"}));
  auto values = reg->listValues(user, u"Software\\vardeno\\Tesk Runtime");
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].first, u"ModeDebug");  // first spelling kept
  EXPECT_EQ(reg->readString(RegistryRoot::LocalMachine,
                            u"Software\\vardeno\\Tesk Runtime", u"ModeDebug"),
            std::nullopt);

  EXPECT_TRUE(
      reg->deleteValue(user, u"Software\\vardeno\\Tesk Runtime", u"modedebug"));
  EXPECT_FALSE(
      reg->deleteValue(user, u"Software\\vardeno\\Tesk Runtime", u"modedebug"));
  reg->writeString(user, u"Software\\vardeno\\Tesk Runtime\\deep", u"v", u"1");
  reg->writeString(user, u"Software\\vardenoX", u"v", u"kept");
  EXPECT_TRUE(reg->deleteKey(user, u"Software\\VARDENO"));
  EXPECT_FALSE(reg->keyExists(user, u"Software\\vardeno\\Tesk Runtime\\deep"));
  EXPECT_EQ(
      reg->readString(user, u"Software\\vardeno\\Tesk Runtime\\deep", u"v"),
      std::nullopt);
  EXPECT_EQ(reg->readString(user, u"Software\\vardenoX", u"v"), u"kept");
}

TEST(SqliteRegistry, AKeyThatCannotBeCreatedGivesFalse) {
  TempDir dir;
  std::ofstream(dir.path() + "/file") << "x";
  auto reg = NewSqliteRegistry(dir.path() + "/u/HKCU.db",
                               dir.path() + "/file/HKLM.db");
  EXPECT_FALSE(
      reg->createKey(RegistryRoot::LocalMachine, u"Software\\vardeno"));
  EXPECT_THROW(
      reg->writeString(RegistryRoot::LocalMachine, u"Software", u"a", u"b"),
      ERegistryError);
}

TEST(SqliteRegistry, TwoProcessesWritingAtOnceLoseNothing) {
  TempDir dir;
  const std::string user = dir.path() + "/HKCU.db",
                    machine = dir.path() + "/HKLM.db";
  constexpr int kPerProcess = 60;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      auto reg = NewSqliteRegistry(user, machine);
      int failures = 0;
      for (int i = 0; i < kPerProcess; ++i) {
        try {
          reg->writeString(RegistryRoot::CurrentUser, u"Software\\race",
                           u"p" + IntToStr(c) + u"_" + IntToStr(i),
                           IntToStr(i));
        } catch (...) {
          ++failures;
        }
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto reg = NewSqliteRegistry(user, machine);
  EXPECT_EQ(
      reg->listValues(RegistryRoot::CurrentUser, u"Software\\race").size(),
      2u * kPerProcess);
}

std::string RunCommand(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[256];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
    output.append(buffer, n);
  *status = WEXITSTATUS(::pclose(pipe));
  return output;
}

TEST(ZeptReg, SetsGetsListsAndDeletes) {
  TempDir dir;
  const std::string reg =
      "ZEPT_REGISTRY_DIR=" + dir.path() + " " ZEPT_REG_BINARY;
  const std::string key = " 'HKCU\\Software\\vardeno\\Tesk Runtime' ";
  int status = -1;
  RunCommand(reg + " set" + key + "ModeDebug 2", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RunCommand(reg + " get 'HKEY_CURRENT_USER\\software\\vardeno\\tesk "
                             "runtime' modedebug",
                       &status),
            "2\n");
  EXPECT_EQ(status, 0);
  RunCommand(reg + " set 'HKCU\\Software\\vardeno\\Tesk Runtime\\sub' a b",
             &status);
  EXPECT_EQ(RunCommand(reg + " list" + key, &status), "sub\\\nModeDebug\t2\n");
  RunCommand(reg + " delete" + key + "ModeDebug", &status);
  EXPECT_EQ(status, 0);
  RunCommand(reg + " get" + key + "ModeDebug", &status);
  EXPECT_EQ(status, 1);
  RunCommand(reg + " get 'HKLM\\Software' x", &status);
  EXPECT_EQ(status, 1);

  for (const char* bad : {"", " get", " get HKXX\\Software x", " frob HKCU\\a",
                          " set HKCU\\a onlyname"}) {
    const std::string out = RunCommand(reg + bad, &status);
    EXPECT_EQ(status, 2) << bad;
    EXPECT_NE(out.find("usage: zept-reg"), std::string::npos) << bad;
  }
}

std::map<std::string, std::string>* gEnvironment = nullptr;
char* FakeGetEnv(const char* name) {
  auto it = gEnvironment->find(name);
  return it == gEnvironment->end() ? nullptr : it->second.data();
}

TEST(PosixFolders, XdgFoldersAndTemp) {
  TempDir dir;
  std::map<std::string, std::string> env{{"HOME", dir.path()},
                                         {"TMPDIR", dir.path() + "/tmp/"}};
  gEnvironment = &env;
  auto folders = NewPosixSystemFolders("/opt/zept/zept", FakeGetEnv);
  EXPECT_EQ(folders->specialFolder(kCsidlMyDocuments), dir.wide("/Documents"));
  EXPECT_EQ(folders->specialFolder(kCsidlAppData), dir.wide("/.local/share"));
  EXPECT_EQ(folders->specialFolder(kCsidlLocalAppData),
            dir.wide("/.local/state"));
  EXPECT_EQ(folders->specialFolder(kCsidlInternetCache), dir.wide("/.cache"));
  env["XDG_STATE_HOME"] = "/srv/state/";
  env["XDG_CACHE_HOME"] = "relative";  // not absolute: ignored
  EXPECT_EQ(folders->specialFolder(kCsidlLocalAppData), u"/srv/state");
  EXPECT_EQ(folders->specialFolder(kCsidlInternetCache), dir.wide("/.cache"));
  EXPECT_EQ(folders->specialFolder(kCsidlProgramFiles), u"");
  EXPECT_EQ(folders->windowsFolder(), u"");
  EXPECT_EQ(folders->tempFolder(), dir.wide("/tmp"));
  env["TEMP"] = "/var/tmp";
  EXPECT_EQ(folders->tempFolder(), u"/var/tmp");

  fs::create_directories(dir.path() + "/.config");
  std::ofstream(dir.path() + "/.config/user-dirs.dirs")
      << "# "
         "comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\nXDG_DESKTOP_DIR=\"/"
         "srv/desk\"\n";
  EXPECT_EQ(folders->specialFolder(kCsidlMyDocuments), dir.wide("/Dokumente"));
  EXPECT_EQ(folders->specialFolder(kCsidlDesktop), u"/srv/desk");

  EXPECT_EQ(folders->shortPathName(dir.wide("\\.config")),
            dir.wide("\\.config"));
  EXPECT_EQ(folders->shortPathName(dir.wide("/none")), u"");
  auto version = folders->fileVersion(u"");
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ((*version)[0], ZEPT_VERSION_MAJOR);
  EXPECT_FALSE(folders->fileVersion(u"/bin/sh").has_value());
  gEnvironment = nullptr;
}

// A learner's store held by one process: another is refused, even after its
// wait, and has it once the holder ends, however it ends.
TEST(PosixLocks, OneHolderAtATimeAcrossProcesses) {
  TempDir dir;
  const std::string folder = dir.path() + "/locks";
  const WideString anna = u"/home/u/Documents/data/course/anna";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto held = NewPosixLocks(folder)->tryLock(anna, 0);
    const char answer = held ? '1' : '0';
    if (::write(ready[1], &answer, 1) == 1) ::pause();
    ::_exit(0);
  }
  char answer = 0;
  ASSERT_EQ(::read(ready[0], &answer, 1), 1);
  ASSERT_EQ(answer, '1');
  auto locks = NewPosixLocks(folder);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(locks->tryLock(anna, 300), nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(300));
  EXPECT_NE(locks->tryLock(anna + u"x", 0), nullptr);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_NE(locks->tryLock(anna, 0), nullptr);
  ::close(ready[0]);
  ::close(ready[1]);
}

// Two holders in one process exclude each other too; a wait ends as soon as
// the lock is let go.
TEST(PosixLocks, AWaitEndsWhenTheHolderLetsGo) {
  TempDir dir;
  auto locks = NewPosixLocks(dir.path() + "/locks");
  const WideString name(5000, u'n');  // any length: the file is named by hash
  auto first = locks->tryLock(name, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(locks->tryLock(name, 0), nullptr);
  std::thread release([&first] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    first.reset();
  });
  const auto start = std::chrono::steady_clock::now();
  auto second = locks->tryLock(name, 20000);
  release.join();
  EXPECT_NE(second, nullptr);
  // Before its deadline, however busy the machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// The lock folder is the user's alone: made private, and refused when it is
// not a folder of this user's.
TEST(PosixLocks, TheFolderIsTheUsersAlone) {
  TempDir dir;
  struct Case {
    const char* name;
    std::function<bool(const std::string&)> prepare;  // false: skip
    bool usable;
  };
  const Case cases[] = {
      {"missing", [](const std::string&) { return true; }, true},
      {"open to all",
       [](const std::string& f) { return ::mkdir(f.c_str(), 0777) == 0; },
       true},
      {"a link to a folder",
       [&dir](const std::string& f) {
         return ::symlink(dir.path().c_str(), f.c_str()) == 0;
       },
       false},
      {"another user's",
       [](const std::string& f) {
         return ::mkdir(f.c_str(), 0700) == 0 &&
                ::chown(f.c_str(), 65534, 65534) == 0;
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = dir.path() + "/" + c.name;
    if (!c.prepare(folder)) {
      std::printf("skipped: %s (needs root)\n", c.name);
      continue;
    }
    auto locks = NewPosixLocks(folder);
    if (!c.usable) {
      EXPECT_THROW(locks->tryLock(u"x", 0), EFileError);
      continue;
    }
    EXPECT_NE(locks->tryLock(u"x", 0), nullptr);
    struct stat st;
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }

  std::map<std::string, std::string> env;
  gEnvironment = &env;
  const std::string tmp = "/tmp/zept-" + std::to_string(::geteuid());
  EXPECT_EQ(DefaultLocksFolder(FakeGetEnv), tmp);
  env["XDG_RUNTIME_DIR"] = "run/user";  // not absolute: ignored
  EXPECT_EQ(DefaultLocksFolder(FakeGetEnv), tmp);
  env["XDG_RUNTIME_DIR"] = "/run/user/1000";
  EXPECT_EQ(DefaultLocksFolder(FakeGetEnv), "/run/user/1000/zept");
  gEnvironment = nullptr;
}

TEST(PosixClock, RegionalSettingsFollowTheLocale) {
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old ? old : "";
  ::setenv("LC_ALL", "C", 1);
  RegionalSettings s = NewPosixClock()->regionalSettings();
  EXPECT_EQ(s.shortDatePattern, u"MM/dd/yy");
  EXPECT_EQ(s.dateSeparator, u'/');
  EXPECT_EQ(s.timeSeparator, u':');
  EXPECT_EQ(s.decimalSeparator, u'.');
  if (old)
    ::setenv("LC_ALL", saved.c_str(), 1);
  else
    ::unsetenv("LC_ALL");
  DateTime now = NewPosixClock()->now();
  EXPECT_GE(now.year, 2024);
}

TEST(PosixPlatform, TraceLogOpensAsATableHeadedByTheReport) {
  TempDir dir;
  std::map<std::string, std::string> env{{"HOME", dir.path()},
                                         {"TMPDIR", dir.path()}};
  gEnvironment = &env;
  auto files = NewPosixFileSystem();
  auto folders = NewPosixSystemFolders("/opt/zept/zept-report", FakeGetEnv);
  auto clock = NewPosixClock();
  auto registry = NewSqliteRegistry(dir.path() + "/reg/HKCU.db",
                                    dir.path() + "/reg/HKLM.db");
  auto locks = NewPosixLocks(dir.path() + "/locks");
  Platform platform{*registry, *folders, *files, *clock, *locks};
  Context ctx(platform);
  TraceMessage(ctx, u"zept > Initialize");
  TraceMessage(ctx, u"zept > Run");

  const DateTime now = clock->now();
  const std::string log = Slurp(NativePath(TraceLogPath(ctx, now)));
  EXPECT_EQ(log.rfind("<html><head>", 0), 0u);
  EXPECT_NE(
      log.find(
          "<td>Path to My documents</td><td>" + dir.path() +
          "/Documents\\</td><td class=\"OK\">File writing is possible</td>"),
      std::string::npos)
      << log;
  EXPECT_NE(
      log.find("<td>Path to Programfiles var-deno</td><td>\\var-deno\\</td>"
               "<td>Folder doesn't exist</td>"),
      std::string::npos);
  EXPECT_NE(log.find("<tr class=\"niv_1 zept-report   oldstyle\">"),
            std::string::npos);
  EXPECT_NE(log.find("zept &gt; Run"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(dir.path() + "/morl_1"));
  gEnvironment = nullptr;
}

}  // namespace
}  // namespace zept::platform

namespace zept::platform {
namespace {

TEST(XdgShellOpen, HandsTheTargetOverAsOneArgument) {
  TempDir dir;
  const std::string script = dir.path() + "/xdg-open";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > "
                        << dir.path()
                        << "/args\n[ \"$1\" != fail ] || exit 4\n";
  fs::permissions(script, fs::perms::owner_all);
  const char* old = std::getenv("PATH");
  const std::string saved = old ? old : "";
  ::setenv("PATH", (dir.path() + ":" + saved).c_str(), 1);

  auto shell = NewXdgShellOpen();
  EXPECT_EQ(shell->open(u"/docs/a b;$(touch x).pdf"), std::nullopt);
  EXPECT_EQ(Slurp(dir.path() + "/args"), "1|/docs/a b;$(touch x).pdf");
  EXPECT_EQ(shell->open(u"HTTP://example.org/a\\b"), std::nullopt);
  EXPECT_EQ(Slurp(dir.path() + "/args"),
            "1|HTTP://example.org/a\\b");  // links untouched
  std::optional<WideString> error = shell->open(u"fail");
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find(u"status 4"), WideString::npos);

  ::setenv("PATH", dir.path().c_str(), 1);
  fs::remove(script);
  error = shell->open(u"x");
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find(u"cannot start xdg-open"), WideString::npos);
  ::setenv("PATH", saved.c_str(), 1);
}

}  // namespace
}  // namespace zept::platform
