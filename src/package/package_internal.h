#pragma once
// What the package readers share, and the entry points the tests and the
// fuzz targets use; not for the rest of the program.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "package/package.h"

namespace zept::scorm {

// A name as stored in a package (a zip entry name, a folder's relative
// path) made a package path: "\\" read as "/", "." and empty parts dropped,
// ".." resolved, nothing decoded. nullopt when it is absolute, starts with
// a drive letter, climbs out of the package or is a folder (ends with "/").
std::optional<std::string> StoredName(std::string_view name);

// A name for a warning line: control characters, which would break or forge
// journal lines, become "?".
std::string PrintableName(std::string_view name);

// A .zip package read from memory; location names it in messages. Throws
// EPackageError as OpenZipPackage.
std::unique_ptr<PackageFiles> OpenZipPackageBytes(std::string bytes,
                                                  const std::string& location);

}  // namespace zept::scorm
