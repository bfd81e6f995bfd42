// Manifest bytes of any kind: a SCORM 2004 package is read, or
// EManifestError says why not. Every activity has its primary objective
// first, and every launch location is a path inside the package.

#include <cstdint>
#include <cstdlib>

#include "package/package.h"
#include "scorm2004/reader.h"

namespace {

void Check(const zept::scorm2004::Activity& activity) {
  const auto& objectives = activity.sequencing.objectives;
  if (objectives.empty() || !objectives[0].primary) std::abort();
  for (std::size_t i = 1; i < objectives.size(); ++i) {
    if (objectives[i].primary) std::abort();
  }
  if (!activity.launch.empty()) {
    const std::string path =
        activity.launch.substr(0, activity.launch.find_first_of("?#"));
    if (!zept::scorm::PackagePath("", path)) std::abort();
  }
  for (const auto& child : activity.children) Check(child);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  try {
    Check(zept::scorm2004::ReadPackage2004(
              std::string(reinterpret_cast<const char*>(data), size))
              .root);
  } catch (const zept::scorm::EManifestError&) {
  }
  return 0;
}
