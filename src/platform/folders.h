#pragma once
// System folders and facts about the running program: the stand-in for the
// Windows special folders, environment and version resources.

#include <array>
#include <cstdint>
#include <optional>

#include "platform/text.h"

namespace zept::platform {

// Special folder numbers the program asks for.
enum Csidl : int {
  kCsidlDesktop = 0,
  kCsidlMyDocuments = 5,
  kCsidlAppData = 26,
  // The user's own state, kept off a roaming profile ("$XDG_STATE_HOME",
  // else "~/.local/state").
  kCsidlLocalAppData = 28,
  // The user's cache ("$XDG_CACHE_HOME", else "~/.cache").
  kCsidlInternetCache = 32,
  kCsidlCommonAppData = 35,
  kCsidlProgramFiles = 38,
  kCsidlProgramFilesX86 = 42,
};

using VersionNumbers = std::array<std::uint16_t, 4>;

class SystemFolders {
 public:
  virtual ~SystemFolders() = default;

  // Path without trailing separator; "" when this system has no such folder.
  virtual WideString specialFolder(int csidl) = 0;
  // The temporary folder without trailing separator.
  virtual WideString tempFolder() = 0;
  // "" where the system has no Windows folder.
  virtual WideString windowsFolder() = 0;
  // Full path of the running program file.
  virtual WideString programPath() = 0;
  // The short (8.3) form of an existing path; "" when it does not exist.
  virtual WideString shortPathName(const WideString& path) = 0;
  // The four version numbers of a file; an empty name means the running
  // program. nullopt when the file carries no version.
  virtual std::optional<VersionNumbers> fileVersion(const WideString& file) = 0;
};

}  // namespace zept::platform
