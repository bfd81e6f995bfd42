// zept-results: prints, as JSON, the progress zept keeps of a standard
// package's learners. Reads the store read-only, so a zept playing the
// package meanwhile is not disturbed.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/package_kind.h"
#include "cmi5/player.h"
#include "package/package.h"
#include "platform/posix/posix.h"
#include "scorm/results.h"
#include "scorm2004/results.h"
#include "store/progress_store.h"
#include "tincan/course.h"
#include "util/i18n.h"

namespace {

namespace fs = std::filesystem;
using namespace zept::scorm;

constexpr char kUsage[] =
    "usage: zept-results COURSE [--learner NAME]\n"
    "       zept-results --help | --version\n"
    "Prints as JSON the progress zept keeps of the package COURSE (a folder\n"
    "holding imsmanifest.xml, cmi5.xml or tincan.xml, or a .zip): for each\n"
    "learner and launchable item of a SCORM package, the values the item gets\n"
    "at its next launch (SCORM 2004: the values stored, with the course's\n"
    "status, the activities delivered and each one's attempts); of a cmi5\n"
    "course, the registration, each AU's outcome and sessions and what is\n"
    "satisfied; of a Tin Can package, the statements kept and whether a\n"
    "bookmark is.\n"
    "  --learner NAME  only that learner\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zept-results: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

// One line on stderr, whatever the message holds.
int Fail(std::string message) {
  for (char& c : message) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "zept-results: %s\n", message.c_str());
  return 1;
}

std::string Results(const std::string& course, const std::string& learner) {
  std::error_code error;
  const std::string native = fs::absolute(course, error).lexically_normal();
  if (!fs::exists(fs::status(native, error))) {
    throw EPackageError("no course '" + course + "': no such file or folder");
  }
  // The package's kind is found once, its description read once.
  zept::OpenedPackage opened = zept::OpenAnyPackage(native);
  if (!opened.files || opened.kind == zept::PackageKind::kShellCourse)
    throw EPackageError("'" + course + "' is not a package zept plays");
  const auto folders = zept::platform::NewPosixSystemFolders(
      zept::platform::RunningProgramPath(), std::getenv);
  const bool tinCan = opened.kind == zept::PackageKind::kTinCan;
  if (tinCan) opened.course = zept::tincan::CourseOfTinCan(*opened.tincan);
  if (opened.course) {
    const CourseStore found = OpenCourseStore(
        DataFolder(*folders), zept::cmi5::StoreIdentity(*opened.course, tinCan),
        *opened.files, /*readOnly=*/true);
    return zept::cmi5::ResultsJson(*opened.course, *found.store, learner,
                                   tinCan);
  }
  const CourseStore found = OpenCourseStore(
      DataFolder(*folders), opened.manifest, *opened.files, /*readOnly=*/true);
  // The store is found alike; a 2004 package's is read by its activity tree.
  if (opened.package2004)
    return zept::scorm2004::ResultsJson(*opened.package2004, *found.store,
                                        learner);
  return ResultsJson(opened.manifest, *found.store, learner);
}

}  // namespace

int main(int argc, char** argv) {
  zept::BindCatalogs(zept::platform::RunningProgramPath());
  std::string course, learner;
  bool courseGiven = false, learnerGiven = false, options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && (arg == "--help" || arg == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (options && arg == "--version") {
      std::printf("zept-results %d.%d.%d.%d\n", ZEPT_VERSION_MAJOR,
                  ZEPT_VERSION_MINOR, ZEPT_VERSION_PATCH, ZEPT_VERSION_TWEAK);
      return 0;
    }
    if (options && arg == "--") {
      options = false;
    } else if (options &&
               (arg == "--learner" || arg.starts_with("--learner="))) {
      if (learnerGiven) return Usage("--learner is given twice");
      if (arg == "--learner") {
        if (i + 1 >= argc) return Usage("--learner needs a NAME");
        learner = argv[++i];
      } else {
        learner = arg.substr(std::strlen("--learner="));
      }
      if (learner.empty()) return Usage("--learner needs a NAME");
      learnerGiven = true;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option '" + arg + "'");
    } else if (courseGiven) {
      return Usage("more than one COURSE");
    } else {
      course = arg;
      courseGiven = true;
    }
  }
  if (!courseGiven || course.empty()) return Usage("no COURSE");

  std::string json;
  try {
    json = Results(course, learner);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  if (std::fwrite(json.data(), 1, json.size(), stdout) != json.size() ||
      std::fflush(stdout) != 0) {
    return Fail(std::string("cannot write the results: ") +
                std::strerror(errno));
  }
  return 0;
}
