#pragma once
// What a course or package given to zept is, found once: its kind, its
// files and its description parsed once. No window, no store: --check and
// the run of a package both start here.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cmi5/course.h"
#include "package/manifest.h"
#include "package/package.h"
#include "scorm2004/definition.h"
#include "tincan/package.h"

namespace zept {

enum class PackageKind { kScorm12, kScorm2004, kCmi5, kTinCan, kShellCourse };

// "SCORM 1.2 package", "cmi5 course", ...
const char* KindName(PackageKind kind);

struct OpenedPackage {
  PackageKind kind = PackageKind::kScorm12;
  // The folder or the .zip; nullptr for a cmi5.xml given on its own.
  std::unique_ptr<scorm::PackageFiles> files;
  // SCORM packages and the shell's courses: the SCORM 1.2 reading of
  // imsmanifest.xml, which names the course's store for both versions.
  scorm::Manifest manifest;
  std::optional<scorm2004::Package2004> package2004;  // kScorm2004
  std::optional<cmi5::Course> course;                 // kCmi5
  std::optional<tincan::Package> tincan;              // kTinCan
};

// True when nativePath names a package rather than a course of the shell:
// a file (a .zip, or a cmi5.xml on its own), or a folder holding cmi5.xml,
// tincan.xml, or imsmanifest.xml without the shell's menu movie.
bool IsPackagePath(const std::string& nativePath);

// Opens the folder, .zip or cmi5.xml at nativePath and reads its
// description: cmi5.xml at its root makes a cmi5 course, else tincan.xml a
// Tin Can package, else imsmanifest.xml a SCORM package (2004 when the
// manifest says so) or, beside cdrom/cdrom.swf, a course of the shell.
// Throws scorm::EPackageError with a message naming the path and the fault.
OpenedPackage OpenAnyPackage(const std::string& nativePath);

// What --check prints of a package that opened: its kind and title, how
// many items it has, and each thing that cannot play offline and why.
std::vector<std::string> DescribePackage(const OpenedPackage& package);

}  // namespace zept
