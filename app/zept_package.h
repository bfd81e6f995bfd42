#pragma once
// The desktop run of a standard package: zept's own screens and the SCO's
// pages in the movie page, window.API answered by the runtime, progress
// kept in the user's data folder.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/package_kind.h"
#include "desktop/page.h"
#include "package/package.h"
#include "platform/text.h"
#include "util/context.h"
#include "xapi/config.h"

namespace zept {

namespace scorm2004 {
class GlobalStore;
}

struct PackageRunOptions {
  bool strict = false;
  std::string learner;  // --learner
  std::string item;     // --item
  std::string lrs;      // --lrs
  // --mode: "normal", "browse" or "review", every launch's (SCORM 1.2
  // cmi.core.lesson_mode, 2004 cmi.mode, cmi5 launchMode).
  std::string mode = "normal";
  // Found by RunPackage: where the course's results go.
  std::optional<xapi::LrsConfig> lrsConfig;
  std::string storePath;
  // A Tin Can package: it plays as a course of its activities, its content
  // free of cmi5's rules.
  bool tinCan = false;
  unsigned place = 1;  // the store's (CourseStore::place)
  // The learner's globals on this machine, opened once by RunPackage for a
  // SCORM 2004 package that shares some with other packages.
  scorm2004::GlobalStore* globals = nullptr;
  long long startedAt = 0;  // the program's start, g_get_monotonic_time()
};

// True for the values --mode takes.
bool IsLaunchMode(const std::string& mode);

// Plays the package at nativePath (absolute) in a window until it closes.
// Returns the exit status.
int RunPackage(Context& ctx, const std::string& nativePath,
               desktop::MoviePage& page, const PackageRunOptions& options,
               const std::function<void(const WideString&)>& print);

}  // namespace zept
