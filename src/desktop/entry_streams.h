#pragma once
// Large files of a .zip package served as streams that WebKit reads on its
// own threads, never whole in memory nor on the main loop: a stored entry
// seeks to where a range starts; an inflated one is inflated once, on a
// thread of its own, into a file of a private temporary folder, and a read
// waits only until the inflating has come as far as it needs.

#include <gio/gio.h>

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <utility>

#include "desktop/gobject.h"

namespace zept::desktop {

// One file of the package, read in pieces: the package's own reader seen
// from here.
class EntryPieces {
 public:
  virtual ~EntryPieces() = default;
  virtual std::uint64_t size() const = 0;
  // Up to n bytes; 0 at the end. Throws std::exception when the file turns
  // out damaged.
  virtual std::size_t read(char* buffer, std::size_t n) = 0;
  // True when seek() works; otherwise the file reads only from its start.
  virtual bool canSeek() const = 0;
  virtual void seek(std::uint64_t offset) = 0;
};

class EntryStreams {
 public:
  EntryStreams() = default;
  // Stops the inflating and removes the folder with its files.
  ~EntryStreams();
  EntryStreams(const EntryStreams&) = delete;
  EntryStreams& operator=(const EntryStreams&) = delete;

  // A seekable stream of the file, at its start, of pieces->size() bytes,
  // for ServeStream. key names the file: its inflated copy is made once and
  // kept. nullptr, and why, when no temporary file can be made for it.
  GObjectPtr<GInputStream> open(const std::string& key,
                                std::unique_ptr<EntryPieces> pieces,
                                std::string& why);

  // Inflated copies kept, the most recently used first, up to this many
  // bytes (the newest is kept whatever its size).
  static constexpr std::uint64_t kKeptBytes = std::uint64_t{2} << 30;
  // What one inflated copy may take: a course's largest files (videos) are
  // far smaller, while a small package can state an entry of gigabytes and
  // fill the temporary folder, RAM where it is a tmpfs, when it is read.
  static constexpr std::uint64_t kMaxCopyBytes = std::uint64_t{1} << 30;

  // Why an entry of size bytes may not be inflated where freeBytes are
  // free ("" when it may): past kMaxCopyBytes, or more than half of what
  // is free, so that the learner's own files keep their room.
  static std::string CopyRefusal(std::uint64_t size, std::uint64_t freeBytes);

  struct Copy;

 private:
  std::string folder_;  // made with the first copy
  std::list<std::pair<std::string, std::shared_ptr<Copy>>> copies_;
};

}  // namespace zept::desktop
