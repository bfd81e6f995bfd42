// A .zip package read in place through libzip: only the central directory is
// read when it opens, and each entry is inflated as it is read.

#include <zip.h>

#include <mutex>
#include <unordered_map>

#include "package/package.h"
#include "package/package_internal.h"

namespace zept::scorm {
namespace {

// libzip's archive handle is not safe to use from two threads at once;
// the readers of one package share it under this lock.
struct Archive {
  zip_t* zip = nullptr;
  std::string bytes;  // the data of a package read from memory
  std::mutex mutex;
  ~Archive() {
    if (zip) zip_discard(zip);
  }
};

class ZipEntryReader final : public EntryReader {
 public:
  ZipEntryReader(std::shared_ptr<Archive> archive, zip_uint64_t index,
                 std::uint64_t size, bool stored, std::string what)
      : archive_(std::move(archive)),
        index_(index),
        size_(size),
        stored_(stored),
        what_(std::move(what)) {}
  ~ZipEntryReader() override {
    if (file_) {
      std::lock_guard<std::mutex> lock(archive_->mutex);
      zip_fclose(file_);
    }
  }

  std::uint64_t size() const override { return size_; }
  bool canSeek() const override { return stored_; }

  // Only the window onto the stored bytes moves: nothing is read up to
  // offset. Bytes read after a seek escape the entry's CRC check, which
  // needs the whole entry read in order.
  void seek(std::uint64_t offset) override {
    if (!stored_) EntryReader::seek(offset);
    if (offset > size_)
      throw Damaged("no byte " + std::to_string(offset) + " in its " +
                    std::to_string(size_));
    std::lock_guard<std::mutex> lock(archive_->mutex);
    openFile();
    if (zip_fseek(file_, static_cast<zip_int64_t>(offset), SEEK_SET) != 0)
      throw Damaged(zip_file_strerror(file_));
    done_ = offset;
  }

  std::size_t read(char* buffer, std::size_t n) override {
    if (n == 0) return 0;
    std::lock_guard<std::mutex> lock(archive_->mutex);
    openFile();
    // One byte more than the stated size may be asked for: if it arrives,
    // the entry lies about its size and is refused there, however far it
    // would inflate.
    const std::uint64_t want = std::min<std::uint64_t>(n, size_ - done_ + 1);
    const zip_int64_t got = zip_fread(file_, buffer, want);
    if (got < 0) throw Damaged(zip_file_strerror(file_));
    if (static_cast<std::uint64_t>(got) > size_ - done_) {
      throw Damaged("it inflates past its stated size of " +
                    std::to_string(size_) + " bytes");
    }
    if (got == 0 && done_ < size_) {
      throw Damaged("it ends after " + std::to_string(done_) + " of its " +
                    std::to_string(size_) + " bytes");
    }
    done_ += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
  }

 private:
  // Under the archive's lock.
  void openFile() {
    if (file_) return;
    file_ = zip_fopen_index(archive_->zip, index_, 0);
    if (!file_) throw Damaged(zip_strerror(archive_->zip));
  }

  EPackageError Damaged(const std::string& reason) const {
    return EPackageError("cannot read " + what_ + ": " + reason);
  }

  std::shared_ptr<Archive> archive_;
  zip_uint64_t index_;
  std::uint64_t size_;
  bool stored_;
  std::string what_;  // "'PATH' of package 'LOCATION'", for messages
  zip_file_t* file_ = nullptr;
  std::uint64_t done_ = 0;
};

class ZipPackage final : public PackageFiles {
 public:
  ZipPackage(std::string location, std::shared_ptr<Archive> archive)
      : location_(std::move(location)), archive_(std::move(archive)) {
    list();
  }

  const std::string& location() const override { return location_; }
  std::vector<PackageEntry> entries() const override { return entries_; }
  bool exists(const std::string& path) const override {
    return byPath_.count(path) > 0;
  }
  std::unique_ptr<EntryReader> open(const std::string& path) const override {
    const auto found = byPath_.find(path);
    if (found == byPath_.end()) return nullptr;
    return std::make_unique<ZipEntryReader>(
        archive_, indexes_[found->second], entries_[found->second].size,
        stored_[found->second],
        "'" + path + "' of package '" + location_ + "'");
  }
  std::string nativeFile(const std::string&) const override { return ""; }
  const std::vector<std::string>& warnings() const override {
    return warnings_;
  }

 private:
  void list() {
    struct Candidate {
      PackageEntry entry;
      zip_uint64_t index;
      bool stored;
    };
    std::vector<Candidate> candidates;
    std::unordered_map<std::string, int> seen;
    const zip_int64_t count = zip_get_num_entries(archive_->zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
      zip_stat_t st;
      zip_stat_init(&st);
      const auto index = static_cast<zip_uint64_t>(i);
      if (zip_stat_index(archive_->zip, index, 0, &st) != 0 ||
          !(st.valid & ZIP_STAT_NAME) || !(st.valid & ZIP_STAT_SIZE)) {
        warnings_.push_back("entry " + std::to_string(i) +
                            " left out: it cannot be read");
        continue;
      }
      const std::string_view name = st.name;
      if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
        continue;  // a folder
      const std::optional<std::string> path = StoredName(name);
      if (!path) {
        const bool absolute = name.empty() || name[0] == '/' ||
                              name[0] == '\\' ||
                              (name.size() >= 2 && name[1] == ':');
        warnings_.push_back("entry '" + PrintableName(name) + "' left out: " +
                            (absolute ? "its name is absolute"
                                      : "its name leaves the package"));
        continue;
      }
      if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
          st.encryption_method != ZIP_EM_NONE) {
        warnings_.push_back("entry '" + PrintableName(name) +
                            "' left out: it is encrypted");
        continue;
      }
      ++seen[*path];
      PackageEntry entry;
      entry.path = *path;
      entry.size = st.size;
      entry.crc = (st.valid & ZIP_STAT_CRC) ? st.crc : 0;
      const bool stored =
          (st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method == ZIP_CM_STORE;
      candidates.push_back({std::move(entry), index, stored});
    }
    // A repeated name would be served from whichever copy a reader picks;
    // none of them is served rather than guess which one the author meant.
    for (Candidate& candidate : candidates) {
      int& copies = seen[candidate.entry.path];
      if (copies > 1) {
        warnings_.push_back("entry '" + PrintableName(candidate.entry.path) +
                            "' left out: " + std::to_string(copies) +
                            " entries have that name");
        copies = -1;  // warned once
      }
      if (copies < 0) continue;
      byPath_.emplace(candidate.entry.path, entries_.size());
      indexes_.push_back(candidate.index);
      stored_.push_back(candidate.stored);
      entries_.push_back(std::move(candidate.entry));
    }
  }

  std::string location_;
  std::shared_ptr<Archive> archive_;
  std::vector<PackageEntry> entries_;
  std::vector<zip_uint64_t> indexes_;  // beside entries_
  std::vector<bool> stored_;           // beside entries_: not compressed
  std::unordered_map<std::string, std::size_t> byPath_;
  std::vector<std::string> warnings_;
};

EPackageError CannotOpen(const std::string& location,
                         const std::string& reason) {
  return EPackageError(SystemErrorMessage("open package", location, reason));
}

// libzip takes an empty file for an empty archive; as a package it is a
// file that lost its content.
zip_t* OpenArchive(zip_source_t* source, const std::string& location) {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_source_stat(source, &st) == 0 && (st.valid & ZIP_STAT_SIZE) &&
      st.size == 0) {
    zip_source_free(source);
    throw CannotOpen(location, "the file is empty");
  }
  zip_error_t error;
  zip_error_init(&error);
  zip_t* zip = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (!zip) {
    zip_source_free(source);
    const std::string reason = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw CannotOpen(location, reason);
  }
  zip_error_fini(&error);
  return zip;
}

zip_source_t* SourceOrThrow(zip_source_t* source, zip_error_t* error,
                            const std::string& location) {
  if (source) {
    zip_error_fini(error);
    return source;
  }
  const std::string reason = zip_error_strerror(error);
  zip_error_fini(error);
  throw CannotOpen(location, reason);
}

}  // namespace

std::unique_ptr<PackageFiles> OpenZipPackage(const std::string& nativeZip) {
  auto archive = std::make_shared<Archive>();
  zip_error_t error;
  zip_error_init(&error);
  archive->zip = OpenArchive(
      SourceOrThrow(zip_source_file_create(nativeZip.c_str(), 0, -1, &error),
                    &error, nativeZip),
      nativeZip);
  return std::make_unique<ZipPackage>(nativeZip, std::move(archive));
}

std::unique_ptr<PackageFiles> OpenZipPackageBytes(std::string bytes,
                                                  const std::string& location) {
  auto archive = std::make_shared<Archive>();
  archive->bytes = std::move(bytes);
  zip_error_t error;
  zip_error_init(&error);
  archive->zip = OpenArchive(
      SourceOrThrow(zip_source_buffer_create(archive->bytes.data(),
                                             archive->bytes.size(), 0, &error),
                    &error, location),
      location);
  return std::make_unique<ZipPackage>(location, std::move(archive));
}

}  // namespace zept::scorm
