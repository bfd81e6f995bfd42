// Zip bytes of any kind: the package opens or EPackageError says why not;
// every entry it lists is a package path, and reading it gives at most its
// stated size or EPackageError.

#include <cstdint>
#include <cstdlib>

#include "package/package.h"
#include "package/package_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept::scorm;
  std::unique_ptr<PackageFiles> package;
  try {
    package = OpenZipPackageBytes(
        std::string(reinterpret_cast<const char*>(data), size), "fuzz.zip");
  } catch (const EPackageError&) {
    return 0;
  }
  for (const PackageEntry& entry : package->entries()) {
    if (StoredName(entry.path) != entry.path) std::abort();
    try {
      const std::optional<std::string> bytes =
          package->read(entry.path, 1 << 20);
      if (!bytes || bytes->size() != entry.size) std::abort();
    } catch (const EPackageError&) {
    }
  }
  return 0;
}
