#include "desktop/entry_streams.h"

#include <fcntl.h>
#include <glib/gstdio.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace zept::desktop {

// An inflated copy of a file, in a temporary file already unlinked: nothing
// is left on disk however zept ends.
struct EntryStreams::Copy {
  Copy(int fd, std::uint64_t size) : fd(fd), size(size) {}
  ~Copy() {
    stop();
    ::close(fd);
  }

  // Ends the inflating, within one piece; what is there stays readable.
  void stop() {
    stopping = true;
    if (thread.joinable()) thread.join();
  }

  void inflate(std::unique_ptr<EntryPieces> pieces) {
    std::vector<char> buffer(256 << 10);
    std::string why;
    std::uint64_t at = 0;
    try {
      while (!stopping && at < size) {
        const std::size_t n = pieces->read(buffer.data(), buffer.size());
        if (n == 0) break;
        for (std::size_t written = 0; written < n && why.empty();) {
          const ssize_t w = ::pwrite(fd, buffer.data() + written, n - written,
                                     static_cast<off_t>(at + written));
          if (w < 0 && errno != EINTR) why = std::strerror(errno);
          if (w > 0) written += static_cast<std::size_t>(w);
        }
        if (!why.empty()) break;
        at += n;
        std::lock_guard<std::mutex> lock(mutex);
        done = at;
        grown.notify_all();
      }
    } catch (const std::exception& e) {
      why = e.what();
    }
    if (why.empty() && at < size)
      why = stopping ? "zept stopped inflating it" : "it ends early";
    std::lock_guard<std::mutex> lock(mutex);
    failed = why;
    finished = true;
    grown.notify_all();
  }

  bool whole() {
    std::lock_guard<std::mutex> lock(mutex);
    return finished && failed.empty();
  }

  // The bytes from position on that are there now, waiting for the
  // inflating to reach position; -1 with error when it never will.
  gssize readAt(std::uint64_t position, char* buffer, gsize count,
                GCancellable* cancellable, GError** error) {
    std::unique_lock<std::mutex> lock(mutex);
    // A request WebKit gives up on (a seek elsewhere) ends its wait.
    while (done <= position && !finished) {
      if (g_cancellable_set_error_if_cancelled(cancellable, error)) return -1;
      grown.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (done <= position) {
      g_set_error(error, G_IO_ERROR, G_IO_ERROR_FAILED,
                  "cannot inflate the file: %s", failed.c_str());
      return -1;
    }
    const std::uint64_t there = done;
    lock.unlock();
    const gsize want =
        static_cast<gsize>(std::min<std::uint64_t>(count, there - position));
    for (;;) {
      const ssize_t n = ::pread(fd, buffer, want, static_cast<off_t>(position));
      if (n >= 0) return n;
      if (errno != EINTR) break;
    }
    const int code = errno;
    g_set_error(error, G_IO_ERROR, g_io_error_from_errno(code),
                "cannot read the inflated file: %s", std::strerror(code));
    return -1;
  }

  const int fd;
  const std::uint64_t size;
  std::mutex mutex;
  std::condition_variable grown;
  std::uint64_t done = 0;  // bytes inflated, under mutex
  bool finished = false;   // under mutex
  std::string failed;      // why it finished short, under mutex
  std::atomic<bool> stopping{false};
  std::thread thread;
};

namespace {

// Where an EntryStream's bytes come from: a stored file read in place, or
// an inflated copy. Read on WebKit's threads, one read at a time.
struct Source {
  std::unique_ptr<EntryPieces> pieces;  // stored
  std::uint64_t piecesAt = 0;           // where pieces reads next
  std::shared_ptr<EntryStreams::Copy> copy;

  gssize read(std::uint64_t position, char* buffer, gsize count,
              GCancellable* cancellable, GError** error) {
    if (copy) return copy->readAt(position, buffer, count, cancellable, error);
    try {
      if (piecesAt != position) {
        pieces->seek(position);
        piecesAt = position;
      }
      const std::size_t n = pieces->read(buffer, count);
      piecesAt += n;
      return static_cast<gssize>(n);
    } catch (const std::exception& e) {
      g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, e.what());
      return -1;
    }
  }
};

// A GInputStream of a Source that seeks by moving its position only: the
// main loop, which seeks to a range's start, never waits on the file.
struct EntryStream {
  GInputStream parent;
  Source* source;
  std::uint64_t position;
  std::uint64_t size;
};
struct EntryStreamClass {
  GInputStreamClass parent;
};

void SeekableInit(GSeekableIface* iface);
G_DEFINE_TYPE_WITH_CODE(EntryStream, zept_entry_stream, G_TYPE_INPUT_STREAM,
                        G_IMPLEMENT_INTERFACE(G_TYPE_SEEKABLE, SeekableInit))

EntryStream* AsEntry(gpointer object) {
  return reinterpret_cast<EntryStream*>(object);
}

gssize EntryRead(GInputStream* stream, void* buffer, gsize count,
                 GCancellable* cancellable, GError** error) {
  EntryStream* self = AsEntry(stream);
  if (self->position >= self->size || count == 0) return 0;
  count = static_cast<gsize>(
      std::min<std::uint64_t>(count, self->size - self->position));
  const gssize n = self->source->read(
      self->position, static_cast<char*>(buffer), count, cancellable, error);
  if (n > 0) self->position += static_cast<std::uint64_t>(n);
  return n;
}

goffset EntryTell(GSeekable* seekable) {
  return static_cast<goffset>(AsEntry(seekable)->position);
}

gboolean EntryCanSeek(GSeekable*) { return TRUE; }

gboolean EntrySeek(GSeekable* seekable, goffset offset, GSeekType type,
                   GCancellable*, GError** error) {
  EntryStream* self = AsEntry(seekable);
  const goffset base = type == G_SEEK_SET ? 0
                       : type == G_SEEK_CUR
                           ? static_cast<goffset>(self->position)
                           : static_cast<goffset>(self->size);
  const goffset to = base + offset;
  if (to < 0 || static_cast<std::uint64_t>(to) > self->size) {
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                        "seek outside the file");
    return FALSE;
  }
  self->position = static_cast<std::uint64_t>(to);
  return TRUE;
}

gboolean EntryCanTruncate(GSeekable*) { return FALSE; }

gboolean EntryTruncate(GSeekable*, goffset, GCancellable*, GError** error) {
  g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED,
                      "a file of the package is read only");
  return FALSE;
}

void SeekableInit(GSeekableIface* iface) {
  iface->tell = EntryTell;
  iface->can_seek = EntryCanSeek;
  iface->seek = EntrySeek;
  iface->can_truncate = EntryCanTruncate;
  iface->truncate_fn = EntryTruncate;
}

void EntryFinalize(GObject* object) {
  delete AsEntry(object)->source;
  G_OBJECT_CLASS(zept_entry_stream_parent_class)->finalize(object);
}

void zept_entry_stream_class_init(EntryStreamClass* type) {
  G_OBJECT_CLASS(type)->finalize = EntryFinalize;
  G_INPUT_STREAM_CLASS(type)->read_fn = EntryRead;
}

void zept_entry_stream_init(EntryStream* self) {
  self->source = nullptr;
  self->position = 0;
  self->size = 0;
}

GObjectPtr<GInputStream> NewStream(Source* source, std::uint64_t size) {
  auto* stream = AsEntry(g_object_new(zept_entry_stream_get_type(), nullptr));
  stream->source = source;
  stream->size = size;
  return GObjectPtr<GInputStream>(G_INPUT_STREAM(stream));
}

}  // namespace

EntryStreams::~EntryStreams() {
  for (auto& [key, copy] : copies_) copy->stop();
  copies_.clear();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

std::string EntryStreams::CopyRefusal(std::uint64_t size,
                                      std::uint64_t freeBytes) {
  const auto mib = [](std::uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
  };
  if (size > kMaxCopyBytes)
    return "it states " + mib(size) + " once inflated, and zept inflates " +
           mib(kMaxCopyBytes) + " of one file at most";
  if (size > freeBytes / 2)
    return "it states " + mib(size) + " once inflated, and the temporary " +
           "folder has " + mib(freeBytes) + " free";
  return "";
}

GObjectPtr<GInputStream> EntryStreams::open(const std::string& key,
                                            std::unique_ptr<EntryPieces> pieces,
                                            std::string& why) {
  const std::uint64_t size = pieces->size();
  if (pieces->canSeek())
    return NewStream(new Source{std::move(pieces), 0, nullptr}, size);
  auto kept =
      std::find_if(copies_.begin(), copies_.end(),
                   [&](const auto& entry) { return entry.first == key; });
  if (kept != copies_.end()) {
    copies_.splice(copies_.begin(), copies_, kept);
    return NewStream(new Source{nullptr, 0, copies_.front().second}, size);
  }
  if (folder_.empty()) {
    GError* error = nullptr;
    GCharPtr folder(g_dir_make_tmp("zept-entries-XXXXXX", &error));
    if (!folder) {
      why = std::string("cannot make a temporary folder: ") + error->message;
      g_error_free(error);
      return nullptr;
    }
    folder_ = folder.get();
  }
  struct statvfs space {};
  if (::statvfs(folder_.c_str(), &space) == 0) {
    why = CopyRefusal(size, static_cast<std::uint64_t>(space.f_bavail) *
                                space.f_frsize);
    if (!why.empty()) return nullptr;
  }
  std::string name = folder_ + "/entry-XXXXXX";
  const int fd = g_mkstemp_full(name.data(), O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    why = std::string("cannot make a temporary file: ") + std::strerror(errno);
    return nullptr;
  }
  ::unlink(name.c_str());
  auto copy = std::make_shared<Copy>(fd, size);
  copy->thread = std::thread(&Copy::inflate, copy.get(), std::move(pieces));
  copies_.emplace_front(key, copy);
  // The oldest whole copies go when they hold too much of the disk; a
  // stream still reading one keeps its file open until it is done.
  std::uint64_t total = 0;
  for (auto it = copies_.begin(); it != copies_.end();) {
    total += it->second->size;
    if (it != copies_.begin() && total > kKeptBytes && it->second->whole()) {
      total -= it->second->size;
      it = copies_.erase(it);
    } else {
      ++it;
    }
  }
  return NewStream(new Source{nullptr, 0, std::move(copy)}, size);
}

}  // namespace zept::desktop
