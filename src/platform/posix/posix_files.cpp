#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/posix/posix.h"

namespace zept::platform {

WideString NativePathText(const WideString& path) {
  WideString native = path;
  std::replace(native.begin(), native.end(), u'\\', u'/');
  return native;
}

std::string NativePath(const WideString& path) {
  return WideToUtf8(NativePathText(path));
}

namespace {

[[noreturn]] void ThrowFileError(const std::string& operation,
                                 const std::string& path, int error) {
  throw EFileError(SystemErrorMessage(operation, path, std::strerror(error)));
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now, so that a failing close is seen.
  int close() {
    int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(PosixFileHooks hooks) {
    write_ = hooks.write ? hooks.write : ::write;
    rename_ = hooks.rename ? hooks.rename : ::rename;
  }

  WideString nativePath(const WideString& path) const override {
    return NativePathText(path);
  }

  bool fileExists(const WideString& path) override {
    struct stat st;
    return ::stat(NativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  bool directoryExists(const WideString& path) override {
    struct stat st;
    return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  void createDirectories(const WideString& path) override {
    const std::string native = NativePath(path);
    std::string current;
    std::size_t i = 0;
    while (i <= native.size()) {
      std::size_t slash = native.find('/', i);
      if (slash == std::string::npos) slash = native.size();
      current = native.substr(0, slash);
      i = slash + 1;
      if (current.empty() || current.back() == '/') continue;
      if (::mkdir(current.c_str(), 0777) != 0 && errno != EEXIST) {
        ThrowFileError("create folder", current, errno);
      }
    }
    struct stat st;
    if (::stat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      ThrowFileError("create folder", native, ENOTDIR);
    }
  }

  std::optional<std::string> readFile(const WideString& path) override {
    const std::string native = NativePath(path);
    Fd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
      if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
      ThrowFileError("open file", native, errno);
    }
    std::string content;
    struct stat st;
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
      content.reserve(static_cast<std::size_t>(st.st_size));
    }
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowFileError("read file", native, errno);
      }
      if (n == 0) break;
      content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
  }

  void appendFile(const WideString& path, const std::string& bytes) override {
    const std::string native = NativePath(path);
    Fd fd(::open(native.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                 0666));
    if (fd.get() < 0) ThrowFileError("open file", native, errno);
    writeAll(fd.get(), bytes, native);
    if (fd.close() != 0) ThrowFileError("close file", native, errno);
  }

  void replaceFile(const WideString& path, const std::string& bytes) override {
    const std::string native = NativePath(path);
    static std::atomic<unsigned> counter{0};
    const std::string temp = native + ".tmp-" + std::to_string(::getpid()) +
                             "-" + std::to_string(counter++);
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) ThrowFileError("create file", native, errno);
    try {
      writeAll(fd.get(), bytes, native);
      if (::fsync(fd.get()) != 0) ThrowFileError("flush file", native, errno);
      if (fd.close() != 0) ThrowFileError("close file", native, errno);
      if (rename_(temp.c_str(), native.c_str()) != 0) {
        ThrowFileError("replace file", native, errno);
      }
    } catch (...) {
      ::unlink(temp.c_str());
      throw;
    }
    syncFolderOf(native);
  }

  bool deleteFile(const WideString& path) override {
    const std::string native = NativePath(path);
    struct stat st;
    if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    // A file nobody may write is read-only: it stays, as it would elsewhere.
    if (!S_ISLNK(st.st_mode) && (st.st_mode & 0222) == 0) return false;
    return ::unlink(native.c_str()) == 0;
  }

  bool removeDirectory(const WideString& path) override {
    return ::rmdir(NativePath(path).c_str()) == 0;
  }

  std::vector<DirEntry> listDirectory(const WideString& path) override {
    std::vector<DirEntry> entries;
    const std::string native = NativePath(path);
    DIR* dir = ::opendir(native.c_str());
    if (!dir) {
      if (errno == ENOENT || errno == ENOTDIR) return entries;
      ThrowFileError("list folder", native, errno);
    }
    while (dirent* e = ::readdir(dir)) {
      if (std::strcmp(e->d_name, ".") == 0 ||
          std::strcmp(e->d_name, "..") == 0) {
        continue;
      }
      bool isDir = e->d_type == DT_DIR;
      if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
        struct stat st;
        const std::string full = native + "/" + e->d_name;
        isDir = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      }
      entries.push_back({Utf8ToWide(e->d_name), isDir});
    }
    ::closedir(dir);
    std::sort(
        entries.begin(), entries.end(),
        [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return entries;
  }

 private:
  void writeAll(int fd, const std::string& bytes, const std::string& native) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write_(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowFileError("write file", native, errno);
      }
      // Nothing written and no error: the device is full.
      if (n == 0) ThrowFileError("write file", native, ENOSPC);
      done += static_cast<std::size_t>(n);
    }
  }

  // Makes the rename itself durable; a failure here loses nothing.
  static void syncFolderOf(const std::string& native) {
    std::size_t slash = native.rfind('/');
    const std::string folder =
        slash == std::string::npos
            ? "."
            : (slash == 0 ? "/" : native.substr(0, slash));
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
  }

  ssize_t (*write_)(int, const void*, std::size_t);
  int (*rename_)(const char*, const char*);
};

}  // namespace

std::unique_ptr<FileSystem> NewPosixFileSystem(PosixFileHooks hooks) {
  return std::make_unique<PosixFileSystem>(hooks);
}

}  // namespace zept::platform
