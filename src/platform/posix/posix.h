#pragma once
// The POSIX (Linux) implementations of the platform interfaces.

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/printers.h"
#include "platform/shell_open.h"

namespace zept::platform {

// The native form of a core path: "\" becomes "/". The file system's
// nativePath; NativePath gives it as the UTF-8 bytes the system calls take.
WideString NativePathText(const WideString& path);
std::string NativePath(const WideString& path);

// System calls the file system makes for its atomic replacement, replaceable
// so a test can make one fail.
struct PosixFileHooks {
  ssize_t (*write)(int fd, const void* data, std::size_t size) = nullptr;
  int (*rename)(const char* from, const char* to) = nullptr;
};

std::unique_ptr<FileSystem> NewPosixFileSystem(PosixFileHooks hooks = {});

// getEnv looks up an environment variable (nullptr when unset); tests pass
// their own. programPath is the running program's file.
using GetEnvFunction = char* (*)(const char* name);
std::unique_ptr<SystemFolders> NewPosixSystemFolders(std::string programPath,
                                                     GetEnvFunction getEnv);
// The running program's file, from /proc/self/exe.
std::string RunningProgramPath();

std::unique_ptr<Clock> NewPosixClock();

// Locks as files in folder (made when missing, private to the user and
// refused when another user owns it), one a name, taken with flock.
std::unique_ptr<Locks> NewPosixLocks(std::string folder);
// $XDG_RUNTIME_DIR/zept, else /tmp/zept-UID.
std::string DefaultLocksFolder(GetEnvFunction getEnv);

// The POSIX services a program runs on, owned together: the file system,
// the system folders (getenv for the environment), the clock, and the
// registry store and the locks at their usual places.
struct PosixPlatform {
  explicit PosixPlatform(const std::string& programPath);
  std::unique_ptr<FileSystem> files;
  std::unique_ptr<SystemFolders> folders;
  std::unique_ptr<Clock> clock;
  std::unique_ptr<RegistryStore> registry;
  std::unique_ptr<Locks> locks;
  Platform platform;
};

// The destinations of the CUPS server (CUPS_SERVER, else the system's).
std::unique_ptr<Printers> NewCupsPrinters();

// Opens documents and links with xdg-open (no shell involved).
std::unique_ptr<ShellOpen> NewXdgShellOpen();

// The system's default paper, width and height in inches (A4 when none is
// set).
std::pair<double, double> DefaultPaperInches();

// One SQLite database per hive at the given files.
std::unique_ptr<RegistryStore> NewSqliteRegistry(std::string currentUserFile,
                                                 std::string localMachineFile);
// The stores at their usual places: ZEPT_REGISTRY_DIR/HKCU.db and HKLM.db
// when that variable is set; otherwise the user's one under the XDG config
// folder and the machine's under /var/lib/zept/registry.
std::unique_ptr<RegistryStore> NewDefaultRegistry(GetEnvFunction getEnv);

}  // namespace zept::platform
