#pragma once
// A Tin Can package's description (tincan.xml): the activities it defines,
// each with its names, and for those the learner starts, the launch file.
// Real exports define one launchable activity (the course) and many
// without a launch (slides, questions), which only name the statements'
// objects.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "cmi5/course.h"
#include "platform/errors.h"

namespace zept::scorm {
class PackageFiles;
}

namespace zept::tincan {

// tincan.xml cannot be taken as a package: the message names the fault and,
// where it has one, the line.
class EPackageError : public EZeptError {
 public:
  using EZeptError::EZeptError;
  const char* className() const noexcept override {
    return "tincan::EPackageError";
  }
};

using cmi5::LangStrings;

struct Launch {
  std::string lang;  // "" without a lang attribute
  std::string url;   // as written, trimmed
  // For a relative url, the file of the package it names and the query and
  // fragment it carries; "" for a fully qualified one.
  std::string packagePath;
  std::string packageSuffix;

  bool relative() const { return !packagePath.empty(); }
};

struct Activity {
  std::string id;    // IRI
  std::string type;  // IRI or ""
  LangStrings name;
  LangStrings description;
  std::vector<Launch> launches;  // document order; empty: not launchable
  int line = 0;

  bool launchable() const { return !launches.empty(); }
};

struct Package {
  std::vector<Activity> activities;  // document order
  // Indexes into activities of those with a launch.
  std::vector<std::size_t> launchable;
  // What is odd but does not stop the package, one line each.
  std::vector<std::string> notes;

  // The first launchable activity: the course in real exports.
  const Activity& main() const { return activities[launchable.front()]; }
  std::optional<std::size_t> find(const std::string& id) const;
};

// The launch of activity for language (an exact tag, then its primary
// subtag, then the first).
const Launch& PickLaunch(const Activity& activity, const std::string& language);

// The package of the bytes of tincan.xml. package: the files of the zip or
// folder it came from, which relative launch URLs must name; nullptr for a
// tincan.xml on its own, whose launches must all be fully qualified.
// Throws EPackageError for: not well-formed, a root that is not <tincan>,
// an activity id that is missing or not an IRI, a type that is not an IRI,
// a launchable activity's id used by another activity, a launch that is
// empty, leaves the package or names a file it lacks, and no activity with a
// launch. A launch at a fully qualified URL is kept (relative() is false):
// it plays only online.
Package ReadPackage(const std::string& bytes,
                    const scorm::PackageFiles* package);

}  // namespace zept::tincan
