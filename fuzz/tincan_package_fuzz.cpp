// tincan.xml bytes of any kind, alone and in a package of two files: a
// package is read, or EPackageError says why not. What is read has only IRI
// ids, at least one launchable activity, and relative launches that name
// the package's files.

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "scorm/package.h"
#include "tincan/package.h"

namespace {

class TwoFiles final : public zept::scorm::PackageFiles {
 public:
  const std::string& location() const override { return location_; }
  std::vector<zept::scorm::PackageEntry> entries() const override {
    return {{"story.html", 0, 0}, {"a/b.html", 0, 0}};
  }
  bool exists(const std::string& path) const override {
    return path == "story.html" || path == "a/b.html";
  }
  std::unique_ptr<zept::scorm::EntryReader> open(
      const std::string&) const override {
    return nullptr;
  }
  std::string nativeFile(const std::string&) const override { return ""; }
  const std::vector<std::string>& warnings() const override {
    return warnings_;
  }

 private:
  std::string location_ = "fuzz.zip";
  std::vector<std::string> warnings_;
};

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
  const TwoFiles package;
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
