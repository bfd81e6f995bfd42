// tincan.xml bytes of any kind, alone and in a package of two files: a
// package is read, or EPackageError says why not. What is read has only IRI
// ids, at least one launchable activity, and relative launches that name
// the package's files.

#include <cstdint>
#include <cstdlib>

#include "package/named_files.h"
#include "tincan/package.h"

namespace {

void Check(const zept::tincan::Package& package,
           const zept::scorm::PackageFiles* files) {
  using namespace zept::tincan;
  if (package.launchable.empty()) std::abort();
  for (const Activity& activity : package.activities) {
    if (!zept::cmi5::IsIri(activity.id)) std::abort();
    for (const Launch& launch : activity.launches) {
      if (launch.relative() && (!files || !files->exists(launch.packagePath)))
        std::abort();
    }
  }
  for (const std::size_t i : package.launchable) {
    if (i >= package.activities.size() || !package.activities[i].launchable() ||
        package.find(package.activities[i].id) != i)
      std::abort();
    PickLaunch(package.activities[i], "en-US");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const zept::scorm::NamedFiles package({"story.html", "a/b.html"});
  for (const zept::scorm::PackageFiles* files :
       {static_cast<const zept::scorm::PackageFiles*>(nullptr),
        static_cast<const zept::scorm::PackageFiles*>(&package)}) {
    try {
      Check(zept::tincan::ReadPackage(bytes, files), files);
    } catch (const zept::tincan::EPackageError&) {
    }
  }
  return 0;
}
