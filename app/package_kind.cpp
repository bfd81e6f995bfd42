#include "app/package_kind.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "scorm2004/reader.h"
#include "util/utf8.h"

namespace zept {

namespace {

namespace fs = std::filesystem;
using scorm::EPackageError;

constexpr char kCmi5[] = "cmi5.xml";
constexpr char kTinCan[] = "tincan.xml";
constexpr char kManifest[] = "imsmanifest.xml";
// The shell's course folders hold its menu movie beside the manifest.
constexpr char kShellMenu[] = "cdrom/cdrom.swf";
constexpr char kShellCode[] = "bin/flash.ocx";

bool IsFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

// The description file given on its own, without content ("" when path
// is not one): its name says which.
std::string BareDescription(const fs::path& path) {
  const std::string name = path.filename().string();
  if (name == kCmi5 || name == kTinCan) return name;
  return "";
}

std::string ReadBare(const std::string& nativePath) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(nativePath, error);
  if (error)
    throw EPackageError(
        SystemErrorMessage("read file", nativePath, error.message()));
  // As a package's own file is held (PackageFiles::read).
  if (size > scorm::PackageFiles::kReadLimit)
    throw EPackageError(nativePath + " is too large to be read at once");
  std::ifstream in(nativePath, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(size)))
    throw EPackageError(
        SystemErrorMessage("read file", nativePath, std::strerror(errno)));
  return bytes;
}

// The launch location's file ("sco1/a.html?x=1" -> "sco1/a.html"); "" when
// it names none.
std::string LaunchFile(const std::string& launch) {
  return scorm::PackagePath("", launch.substr(0, launch.find_first_of("?#")))
      .value_or("");
}

void CountItems(const std::vector<scorm::Item>& items, std::size_t& count) {
  for (const scorm::Item& item : items) {
    ++count;
    CountItems(item.children, count);
  }
}

void WalkActivities(
    const scorm2004::Activity& parent,
    const std::function<void(const scorm2004::Activity&)>& visit) {
  for (const scorm2004::Activity& child : parent.children) {
    visit(child);
    WalkActivities(child, visit);
  }
}

struct Description {
  std::string title;
  std::string counts;
  std::size_t launchable = 0;
  std::vector<std::string> notOffline;
  std::vector<std::string> notes;
};

void MissingLaunch(const scorm::PackageFiles& files, const std::string& what,
                   const std::string& launch, Description& out) {
  const std::string file = LaunchFile(launch);
  if (file.empty() || !files.exists(file))
    out.notOffline.push_back(what + ": its launch file " +
                             (file.empty() ? launch : file) + " is missing");
}

Description DescribeScorm(const OpenedPackage& package) {
  Description out;
  if (package.package2004) {
    const scorm2004::Package2004& tree = *package.package2004;
    out.title = tree.title;
    std::size_t count = 0;
    WalkActivities(tree.root, [&](const scorm2004::Activity& activity) {
      ++count;
      if (activity.launch.empty()) return;
      ++out.launchable;
      MissingLaunch(*package.files, "activity " + activity.identifier,
                    activity.launch, out);
    });
    out.counts = "activities: " + std::to_string(count) +
                 ", launchable: " + std::to_string(out.launchable);
    for (const std::string& line : tree.problems)
      out.notes.push_back(std::string(kManifest) + ": " + line);
    return out;
  }
  const scorm::Manifest& manifest = package.manifest;
  out.title = manifest.title;
  std::size_t count = 0;
  CountItems(manifest.items, count);
  for (const scorm::Item* item : scorm::LaunchableItems(manifest)) {
    ++out.launchable;
    MissingLaunch(*package.files, "item " + item->identifier, item->launch,
                  out);
  }
  out.counts = "items: " + std::to_string(count) +
               ", launchable: " + std::to_string(out.launchable);
  for (const std::string& line : manifest.problems)
    out.notes.push_back(std::string(kManifest) + ": " + line);
  return out;
}

Description DescribeCmi5(const cmi5::Course& course) {
  Description out;
  out.title = cmi5::Pick(course.title, "");
  out.counts = "AUs: " + std::to_string(course.aus.size()) +
               ", blocks: " + std::to_string(course.blocks.size());
  out.launchable = course.aus.size();
  for (const cmi5::Au& au : course.aus) {
    if (!au.relative())
      out.notOffline.push_back("AU " + au.id + ": at " + au.url +
                               ", a fully qualified URL");
  }
  for (const std::string& line : course.notes)
    out.notes.push_back(std::string(kCmi5) + ": " + line);
  return out;
}

Description DescribeTinCan(const tincan::Package& package) {
  Description out;
  out.title = cmi5::Pick(package.main().name, "");
  if (out.title.empty()) out.title = package.main().id;
  out.launchable = package.launchable.size();
  out.counts = "activities: " + std::to_string(package.activities.size()) +
               ", launchable: " + std::to_string(out.launchable);
  for (const std::size_t i : package.launchable) {
    const tincan::Activity& activity = package.activities[i];
    bool offline = false;
    for (const tincan::Launch& launch : activity.launches)
      offline = offline || launch.relative();
    if (!offline)
      out.notOffline.push_back("activity " + activity.id + ": at " +
                               activity.launches.front().url +
                               ", a fully qualified URL");
  }
  for (const std::string& line : package.notes)
    out.notes.push_back(std::string(kTinCan) + ": " + line);
  return out;
}

}  // namespace

const char* KindName(PackageKind kind) {
  switch (kind) {
    case PackageKind::kScorm12:
      return "SCORM 1.2 package";
    case PackageKind::kScorm2004:
      return "SCORM 2004 package";
    case PackageKind::kCmi5:
      return "cmi5 course";
    case PackageKind::kTinCan:
      return "Tin Can package";
    case PackageKind::kShellCourse:
      break;
  }
  return "course of the zept shell";
}

bool IsPackagePath(const std::string& nativePath) {
  const fs::path path(nativePath);
  if (IsFile(path)) return true;
  std::error_code error;
  return IsFile(path / kCmi5) || IsFile(path / kTinCan) ||
         (IsFile(path / kManifest) && !fs::exists(path / kShellMenu, error));
}

OpenedPackage OpenAnyPackage(const std::string& nativePath) {
  OpenedPackage opened;
  const fs::path path(nativePath);
  std::error_code error;
  const bool folder = fs::is_directory(path, error);
  if (!folder) {
    const std::string bare = BareDescription(path);
    if (bare == kCmi5) {
      opened.kind = PackageKind::kCmi5;
      try {
        opened.course = cmi5::ParseCourse(ReadBare(nativePath), nullptr);
      } catch (const cmi5::ECourseError& e) {
        throw EPackageError(nativePath + ": " + e.what());
      }
      return opened;
    }
    if (bare == kTinCan) {
      opened.kind = PackageKind::kTinCan;
      try {
        opened.tincan = tincan::ReadPackage(ReadBare(nativePath), nullptr);
      } catch (const tincan::EPackageError& e) {
        throw EPackageError(nativePath + ": " + e.what());
      }
      return opened;
    }
  }
  opened.files = folder ? scorm::OpenFolderPackage(nativePath)
                        : scorm::OpenZipPackage(nativePath);
  const scorm::PackageFiles& files = *opened.files;
  const std::string& at = files.location();
  if (const std::optional<std::string> bytes = files.read(kCmi5)) {
    opened.kind = PackageKind::kCmi5;
    try {
      opened.course = cmi5::ParseCourse(*bytes, &files);
    } catch (const cmi5::ECourseError& e) {
      throw EPackageError(at + ": " + e.what());
    }
    return opened;
  }
  if (const std::optional<std::string> bytes = files.read(kTinCan)) {
    opened.kind = PackageKind::kTinCan;
    try {
      opened.tincan = tincan::ReadPackage(*bytes, &files);
    } catch (const tincan::EPackageError& e) {
      throw EPackageError(at + ": " + e.what());
    }
    return opened;
  }
  const std::optional<std::string> bytes = files.read(kManifest);
  if (!bytes)
    throw EPackageError(at +
                        " is not a package zept plays: it has no "
                        "imsmanifest.xml, cmi5.xml or tincan.xml");
  try {
    scorm2004::ManifestReading reading = scorm2004::ReadAnyManifest(*bytes);
    opened.manifest = std::move(reading.manifest);
    opened.package2004 = std::move(reading.package2004);
  } catch (const scorm::EManifestError& e) {
    throw EPackageError(at + "/" + kManifest + ": " + e.what());
  }
  opened.kind =
      opened.package2004 ? PackageKind::kScorm2004 : PackageKind::kScorm12;
  if (folder && files.exists(kShellMenu)) {
    opened.kind = PackageKind::kShellCourse;
    if (!files.exists(kShellCode))
      throw EPackageError(at + " is a course of the zept shell without " +
                          kShellCode + ": it cannot play");
  }
  return opened;
}

std::vector<std::string> DescribePackage(const OpenedPackage& package) {
  Description about;
  switch (package.kind) {
    case PackageKind::kCmi5:
      about = DescribeCmi5(*package.course);
      break;
    case PackageKind::kTinCan:
      about = DescribeTinCan(*package.tincan);
      break;
    default:
      about = DescribeScorm(package);
      break;
  }
  std::string kind = KindName(package.kind);
  if (package.package2004) kind += " (" + package.package2004->version + ")";
  std::vector<std::string> lines{
      "kind: " + kind,
      "title: " + about.title,
      about.counts,
      "offline: " + std::to_string(about.launchable - about.notOffline.size()) +
          " of " + std::to_string(about.launchable) + " playable",
  };
  for (const std::string& line : about.notOffline)
    lines.push_back("not offline: " + line);
  if (package.files) {
    for (const std::string& line : package.files->warnings())
      lines.push_back("note: " + line);
  }
  for (const std::string& line : about.notes) lines.push_back("note: " + line);
  for (std::string& line : lines) line = OneLine(line);
  return lines;
}

}  // namespace zept
