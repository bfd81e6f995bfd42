// zept-results: prints, as JSON, the progress zept keeps of a standard
// package's learners. Reads the store read-only, so a zept playing the
// package meanwhile is not disturbed.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "cmi5/player.h"
#include "platform/posix/posix.h"
#include "scorm/manifest.h"
#include "scorm/package.h"
#include "scorm/progress_store.h"
#include "scorm/results.h"
#include "scorm2004/reader.h"
#include "scorm2004/results.h"

namespace {

namespace fs = std::filesystem;
using namespace zept::scorm;

constexpr char kUsage[] =
    "usage: zept-results COURSE [--learner NAME]\n"
    "       zept-results --help | --version\n"
    "Prints as JSON the progress zept keeps of the standard package COURSE\n"
    "(a folder holding imsmanifest.xml, or a .zip): for each learner and\n"
    "launchable item, the values the item gets at its next launch (SCORM\n"
    "2004: the values stored, with the course's status, the activities\n"
    "delivered and each one's attempts).\n"
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
  const fs::file_status status = fs::status(native, error);
  if (!fs::exists(status)) {
    throw EPackageError("no course '" + course + "': no such file or folder");
  }
  const std::unique_ptr<PackageFiles> files = fs::is_directory(status)
                                                  ? OpenFolderPackage(native)
                                                  : OpenZipPackage(native);
  const auto folders = zept::platform::NewPosixSystemFolders(
      zept::platform::RunningProgramPath(), std::getenv);
  if (const std::optional<std::string> cmi5Xml = files->read("cmi5.xml")) {
    const zept::cmi5::Course parsed =
        zept::cmi5::ParseCourse(*cmi5Xml, &*files);
    const CourseStore found =
        OpenCourseStore(DataFolder(*folders), zept::cmi5::StoreIdentity(parsed),
                        *files, /*readOnly=*/true);
    return zept::cmi5::ResultsJson(parsed, *found.store, learner);
  }
  const std::optional<std::string> manifest = files->read("imsmanifest.xml");
  if (!manifest) {
    throw EPackageError("'" + course +
                        "' is not a standard package: it holds no "
                        "imsmanifest.xml");
  }
  const Manifest parsed = ReadManifest(*manifest);
  const CourseStore found =
      OpenCourseStore(DataFolder(*folders), parsed, *files, /*readOnly=*/true);
  if (!parsed.scorm2004.empty()) {
    // The store is found alike; what it holds is read by the activity tree.
    const zept::scorm2004::Package2004 package =
        zept::scorm2004::ReadPackage2004(*manifest);
    return zept::scorm2004::ResultsJson(package, *found.store, learner);
  }
  return ResultsJson(parsed, *found.store, learner);
}

}  // namespace

int main(int argc, char** argv) {
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
