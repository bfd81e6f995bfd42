#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/codepage.h"
#include "platform/posix/posix.h"

namespace zept::platform {
namespace {

class PosixSystemFolders final : public SystemFolders {
 public:
  PosixSystemFolders(std::string programPath, GetEnvFunction getEnv)
      : programPath_(std::move(programPath)), getEnv_(getEnv) {}

  WideString specialFolder(int csidl) override {
    switch (csidl) {
      case kCsidlDesktop:
        return Utf8ToWide(userDir("XDG_DESKTOP_DIR", "Desktop"));
      case kCsidlMyDocuments:
        return Utf8ToWide(userDir("XDG_DOCUMENTS_DIR", "Documents"));
      case kCsidlAppData:
        return Utf8ToWide(baseDir("XDG_DATA_HOME", ".local/share"));
      case kCsidlLocalAppData:
        return Utf8ToWide(baseDir("XDG_STATE_HOME", ".local/state"));
      case kCsidlInternetCache:
        return Utf8ToWide(baseDir("XDG_CACHE_HOME", ".cache"));
      case kCsidlCommonAppData:
        return u"/var/lib";
      default:
        // Program Files and the other Windows-only folders have no
        // counterpart here.
        return u"";
    }
  }

  WideString tempFolder() override {
    for (const char* name : {"TEMP", "TMPDIR"}) {
      const char* value = getEnv_(name);
      if (value && *value) return Utf8ToWide(stripSlash(value));
    }
    return u"/tmp";
  }

  WideString windowsFolder() override { return u""; }

  WideString programPath() override { return Utf8ToWide(programPath_); }

  // This file system has no short names: an existing path is its own.
  WideString shortPathName(const WideString& path) override {
    struct stat st;
    return ::stat(NativePath(path).c_str(), &st) == 0 ? path : u"";
  }

  std::optional<VersionNumbers> fileVersion(const WideString& file) override {
    // Only the running program carries a version: the build's.
    if (!file.empty() && NativePath(file) != programPath_) return std::nullopt;
    return VersionNumbers{ZEPT_VERSION_MAJOR, ZEPT_VERSION_MINOR,
                          ZEPT_VERSION_PATCH, ZEPT_VERSION_TWEAK};
  }

 private:
  static std::string stripSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  }

  std::string home() {
    const char* value = getEnv_("HOME");
    if (value && *value) return stripSlash(value);
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
      return stripSlash(pw->pw_dir);
    }
    return "/";
  }

  std::string baseDir(const char* variable, const char* fallback) {
    const char* value = getEnv_(variable);
    if (value && *value == '/') return stripSlash(value);
    return home() + "/" + fallback;
  }

  // A folder named in the user's user-dirs.dirs, as the desktop names it.
  std::string userDir(const std::string& variable, const char* fallback) {
    std::ifstream in(baseDir("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind(variable + "=\"", 0) != 0) continue;
      std::string value = line.substr(variable.size() + 2);
      const std::size_t quote = value.rfind('"');
      if (quote == std::string::npos) continue;
      value.resize(quote);
      if (value.rfind("$HOME", 0) == 0) {
        value = home() + value.substr(5);
      }
      if (!value.empty() && value[0] == '/') return stripSlash(value);
    }
    return home() + "/" + fallback;
  }

  std::string programPath_;
  GetEnvFunction getEnv_;
};

}  // namespace

std::unique_ptr<SystemFolders> NewPosixSystemFolders(std::string programPath,
                                                     GetEnvFunction getEnv) {
  return std::make_unique<PosixSystemFolders>(std::move(programPath), getEnv);
}

std::string RunningProgramPath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n))
               : std::string();
}

PosixPlatform::PosixPlatform(const std::string& programPath)
    : files(NewPosixFileSystem()),
      folders(NewPosixSystemFolders(programPath, std::getenv)),
      clock(NewPosixClock()),
      registry(NewDefaultRegistry(std::getenv)),
      locks(NewPosixLocks(DefaultLocksFolder(std::getenv))),
      platform{*registry, *folders, *files, *clock, *locks} {}

}  // namespace zept::platform
