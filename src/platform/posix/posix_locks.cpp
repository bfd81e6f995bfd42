// Named locks as files taken with flock(2): the system lets a lock go when
// the process holding it ends, even by a crash, so none is ever left behind.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/posix/posix.h"

namespace zept::platform {
namespace {

constexpr int kPollMs = 20;

[[noreturn]] void ThrowLockError(const std::string& operation,
                                 const std::string& path,
                                 const std::string& reason) {
  throw EFileError(SystemErrorMessage(operation, path, reason));
}

// FNV-1a, 64 bits: a name gives the same file in every process and every
// version of the program, which std::hash does not promise.
std::uint64_t NameHash(const std::string& bytes) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3u;
  }
  return hash;
}

class PosixHeldLock final : public HeldLock {
 public:
  explicit PosixHeldLock(int fd) : fd_(fd) {}
  // Closing the file lets the lock go.
  ~PosixHeldLock() override { ::close(fd_); }

 private:
  int fd_;
};

class PosixLocks final : public Locks {
 public:
  explicit PosixLocks(std::string folder) : folder_(std::move(folder)) {}

  std::unique_ptr<HeldLock> tryLock(const WideString& name,
                                    int waitMs) override {
    prepareFolder();
    const std::string text = WideToUtf8(name);
    char file[32];
    std::snprintf(file, sizeof file, "%016" PRIx64 ".lock", NameHash(text));
    const std::string path = folder_ + "/" + file;
    // Close-on-exec: a program started meanwhile (a web process, the
    // document opener) must not keep the lock once zept has ended.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) ThrowLockError("open lock file", path, std::strerror(errno));
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(waitMs > 0 ? waitMs : 0);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (error == EINTR) continue;
      if (error != EWOULDBLOCK ||
          std::chrono::steady_clock::now() >= deadline) {
        ::close(fd);
        if (error == EWOULDBLOCK) return nullptr;
        ThrowLockError("lock", path, std::strerror(error));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    // For whoever looks into the folder: who holds the file, and for what.
    const std::string holder = std::to_string(::getpid()) + " " + text + "\n";
    if (::ftruncate(fd, 0) == 0 &&
        ::write(fd, holder.data(), holder.size()) < 0) {
      // Only a note; the lock is what counts.
    }
    return std::make_unique<PosixHeldLock>(fd);
  }

 private:
  // The folder is the user's alone: under /tmp another user could make it
  // first, and then hold or remove every lock in it.
  void prepareFolder() {
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST)
      ThrowLockError("create folder", folder_, std::strerror(errno));
    struct stat st;
    if (::lstat(folder_.c_str(), &st) != 0)
      ThrowLockError("open folder", folder_, std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
      ThrowLockError("use lock folder", folder_, "not a folder");
    if (st.st_uid != ::geteuid())
      ThrowLockError("use lock folder", folder_, "it belongs to another user");
    if ((st.st_mode & 077) != 0 && ::chmod(folder_.c_str(), 0700) != 0)
      ThrowLockError("protect folder", folder_, std::strerror(errno));
  }

  std::string folder_;
};

}  // namespace

std::unique_ptr<Locks> NewPosixLocks(std::string folder) {
  return std::make_unique<PosixLocks>(std::move(folder));
}

std::string DefaultLocksFolder(GetEnvFunction getEnv) {
  if (const char* runtime = getEnv("XDG_RUNTIME_DIR");
      runtime && *runtime == '/')
    return std::string(runtime) + "/zept";
  return "/tmp/zept-" + std::to_string(::geteuid());
}

}  // namespace zept::platform
