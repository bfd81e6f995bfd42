// A package that is a folder on disk. This is the package boundary, so it
// uses the file system directly; every path it serves is checked on the
// resolved file, not on the text, to stay inside the folder.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "package/package.h"
#include "package/package_internal.h"

namespace zept::scorm {
namespace {

namespace fs = std::filesystem;

// More files than any course holds; a bound on what listing a hostile
// folder (or "/" by mistake) can cost.
constexpr std::size_t kMaxEntries = 1000000;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

class FolderEntryReader final : public EntryReader {
 public:
  FolderEntryReader(std::unique_ptr<std::FILE, FileCloser> file,
                    std::uint64_t size, std::string what)
      : file_(std::move(file)), size_(size), what_(std::move(what)) {}

  std::uint64_t size() const override { return size_; }

  // A file that grows while it is read is read up to the size it had.
  std::size_t read(char* buffer, std::size_t n) override {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - done_));
    if (want == 0) return 0;
    const std::size_t got = std::fread(buffer, 1, want, file_.get());
    if (got == 0 && std::ferror(file_.get())) {
      throw EPackageError("cannot read " + what_ + ": read error");
    }
    done_ += got;
    return got;
  }

 private:
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::uint64_t size_;
  std::string what_;
  std::uint64_t done_ = 0;
};

class FolderPackage final : public PackageFiles {
 public:
  FolderPackage(std::string location, fs::path root)
      : location_(std::move(location)), root_(std::move(root)) {
    list();
  }

  const std::string& location() const override { return location_; }
  std::vector<PackageEntry> entries() const override { return entries_; }
  bool exists(const std::string& path) const override {
    return resolve(path).has_value();
  }
  std::unique_ptr<EntryReader> open(const std::string& path) const override {
    const std::optional<fs::path> real = resolve(path);
    if (!real) return nullptr;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(*real, ec);
    if (ec) return nullptr;
    std::unique_ptr<std::FILE, FileCloser> file(
        std::fopen(real->c_str(), "rb"));
    if (!file) return nullptr;
    return std::make_unique<FolderEntryReader>(
        std::move(file), size, "'" + path + "' of package '" + location_ + "'");
  }
  std::string nativeFile(const std::string& path) const override {
    const std::optional<fs::path> real = resolve(path);
    return real ? real->string() : "";
  }
  const std::vector<std::string>& warnings() const override {
    return warnings_;
  }

 private:
  bool inside(const fs::path& real) const {
    const fs::path relative = real.lexically_relative(root_);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
  }

  // The real file behind a package path, only for a regular file inside the
  // folder; the path must be written as the package writes it.
  std::optional<fs::path> resolve(const std::string& path) const {
    const std::optional<std::string> stored = StoredName(path);
    if (!stored || *stored != path) return std::nullopt;
    std::error_code ec;
    fs::path real = fs::canonical(root_ / path, ec);
    if (ec || !inside(real) || !fs::is_regular_file(real, ec))
      return std::nullopt;
    return real;
  }

  void list() {
    std::error_code ec;
    fs::recursive_directory_iterator it(
        root_, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (entries_.size() >= kMaxEntries) {
        warnings_.push_back("only the first " + std::to_string(kMaxEntries) +
                            " files are served");
        break;
      }
      const fs::directory_entry& entry = *it;
      const std::string relative =
          entry.path().lexically_relative(root_).generic_string();
      std::error_code statError;
      // Links to folders are not followed (a link can make a loop); links
      // to files count when the file they lead to is inside the folder.
      if (entry.is_symlink(statError)) {
        std::error_code linkError;
        const fs::path real = fs::canonical(entry.path(), linkError);
        if (linkError || !(real == root_ || inside(real))) {
          warnings_.push_back("'" + PrintableName(relative) +
                              "' left out: a link that leads outside the "
                              "package or nowhere");
          continue;
        }
        if (!fs::is_regular_file(real, linkError)) continue;
      } else if (!entry.is_regular_file(statError)) {
        continue;
      }
      const std::optional<std::string> path = StoredName(relative);
      std::error_code sizeError;
      const std::uintmax_t size = fs::file_size(entry.path(), sizeError);
      if (!path || sizeError) continue;
      entries_.push_back({*path, size, 0});
    }
    if (ec) {
      warnings_.push_back("the folder could not be listed whole: " +
                          ec.message());
    }
    std::sort(entries_.begin(), entries_.end(),
              [](const PackageEntry& a, const PackageEntry& b) {
                return a.path < b.path;
              });
  }

  std::string location_;
  fs::path root_;  // canonical
  std::vector<PackageEntry> entries_;
  std::vector<std::string> warnings_;
};

}  // namespace

std::unique_ptr<PackageFiles> OpenFolderPackage(
    const std::string& nativeFolder) {
  std::error_code ec;
  const fs::path root = fs::canonical(nativeFolder, ec);
  if (ec) {
    throw EPackageError(
        SystemErrorMessage("open package", nativeFolder, ec.message()));
  }
  if (!fs::is_directory(root, ec)) {
    throw EPackageError(
        SystemErrorMessage("open package", nativeFolder, "not a folder"));
  }
  return std::make_unique<FolderPackage>(nativeFolder, root);
}

}  // namespace zept::scorm
