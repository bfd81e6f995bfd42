#pragma once
// The files of a standard package, a folder or a .zip read in place. Paths
// are the package's own: "/"-separated, relative, no "." or ".." parts.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace zept::scorm {

// A package could not be opened or read (damaged .zip, unreadable folder).
class EPackageError : public EZeptError {
 public:
  using EZeptError::EZeptError;
  const char* className() const noexcept override { return "EPackageError"; }
};

struct PackageEntry {
  std::string path;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;  // 0 where the package does not know it (folders)
};

// Reads one file of the package from its start, in pieces.
class EntryReader {
 public:
  virtual ~EntryReader() = default;
  virtual std::uint64_t size() const = 0;
  // Up to n bytes; 0 at the end. Throws EPackageError when the entry turns
  // out damaged or inflates past its stated size.
  virtual std::size_t read(char* buffer, std::size_t n) = 0;
  // True when seek() works: a .zip entry stored as it is. An inflated one
  // reads only onwards from its start.
  virtual bool canSeek() const { return false; }
  // The next read starts at offset (up to size()). Throws EPackageError
  // when it cannot.
  virtual void seek(std::uint64_t offset);
};

class PackageFiles {
 public:
  virtual ~PackageFiles() = default;
  // The folder or the .zip file, native, for messages and the journal.
  virtual const std::string& location() const = 0;
  // Every file the package serves, by path.
  virtual std::vector<PackageEntry> entries() const = 0;
  virtual bool exists(const std::string& path) const = 0;
  // nullptr when the package has no such file or refuses it.
  virtual std::unique_ptr<EntryReader> open(const std::string& path) const = 0;
  // The whole file; nullopt as for open(). Throws EPackageError as read(),
  // and when the file is larger than limit bytes (a bound on what one call
  // can make the program hold; stream larger files through open()).
  static constexpr std::uint64_t kReadLimit = std::uint64_t{512} << 20;
  std::optional<std::string> read(const std::string& path,
                                  std::uint64_t limit = kReadLimit) const;
  // The native path of a plain file of a folder package, which can be served
  // straight from disk; "" for a .zip entry or no such file.
  virtual std::string nativeFile(const std::string& path) const = 0;
  // Entries left out when the package was opened (names that climb out,
  // absolute names, repeated names), one line each, for the journal.
  virtual const std::vector<std::string>& warnings() const = 0;
};

// A package path made from a base and a reference inside the package: "%xx"
// decoded in the reference ("%" without two hex digits stays as it is), "\"
// read as "/", "." and ".." resolved, empty parts dropped. base is a package
// folder ("" or "sco1/"; a missing last "/" is supplied) and is not decoded.
// The result ends with "/" when the reference names a folder ("a/", "a/b/..");
// the package's root is "".
// nullopt when the reference is absolute ("/x", "C:x"), has a scheme
// ("http:"), holds "%00", or leaves the package.
std::optional<std::string> PackagePath(const std::string& base,
                                       const std::string& reference);

// nativeFolder or nativeZip, absolute; throws EPackageError with a message
// naming the file and what is wrong.
std::unique_ptr<PackageFiles> OpenFolderPackage(
    const std::string& nativeFolder);
std::unique_ptr<PackageFiles> OpenZipPackage(const std::string& nativeZip);

}  // namespace zept::scorm
