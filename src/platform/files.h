#pragma once
// The file system. Paths are the core's text: "\" and "/" both separate
// names, and an implementation maps them to its own form. nativePath is the
// one place where that form is made for paths leaving the core. fileExists
// and readFile may be called from several threads at once (report pictures
// are read by worker threads) as long as nothing writes meanwhile.

#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"

namespace zept::platform {

struct DirEntry {
  WideString name;
  bool isDirectory = false;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The path as this system writes it, for whatever is handed outside the
  // core (movie host, dialogs, shell open, journal). Only a path: a query
  // or other text after it must not be passed.
  virtual WideString nativePath(const WideString& path) const = 0;

  // True for an existing entry that is not a folder.
  virtual bool fileExists(const WideString& path) = 0;
  virtual bool directoryExists(const WideString& path) = 0;
  // Creates the folder and its missing parents; throws EFileError.
  virtual void createDirectories(const WideString& path) = 0;
  // The whole content; nullopt when the file does not exist; throws
  // EFileError on any other failure.
  virtual std::optional<std::string> readFile(const WideString& path) = 0;
  // Appends bytes, creating the file when missing; throws EFileError.
  virtual void appendFile(const WideString& path, const std::string& bytes) = 0;
  // Replaces the file atomically (temporary file in the same folder, flushed,
  // renamed over the old one). A failure at any step, a short write
  // included, throws EFileError and leaves the old file whole.
  virtual void replaceFile(const WideString& path,
                           const std::string& bytes) = 0;
  // Read-only files are not deleted. False when nothing was deleted.
  virtual bool deleteFile(const WideString& path) = 0;
  // Removes an empty folder; false otherwise.
  virtual bool removeDirectory(const WideString& path) = 0;
  // Entries of a folder without "." and "..", in name order; empty when the
  // folder does not exist. Throws EFileError when it cannot be read.
  virtual std::vector<DirEntry> listDirectory(const WideString& path) = 0;
};

}  // namespace zept::platform
