// Manifest bytes of any kind: a manifest is read, or EManifestError says
// why not. Every launch location read is a path inside the package.

#include <cstdint>
#include <cstdlib>

#include "package/manifest.h"
#include "package/package.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept::scorm;
  try {
    const Manifest manifest =
        ReadManifest(std::string(reinterpret_cast<const char*>(data), size));
    for (const Item* item : LaunchableItems(manifest)) {
      const std::string path =
          item->launch.substr(0, item->launch.find_first_of("?#"));
      if (!PackagePath("", path)) std::abort();
    }
  } catch (const EManifestError&) {
  }
  return 0;
}
