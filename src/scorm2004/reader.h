#pragma once
// A SCORM 2004 package's manifest (imsmanifest.xml, 2nd to 4th edition)
// read into the activity tree of its default organization, each activity
// with its sequencing definition.

#include <optional>
#include <string>

#include "package/manifest.h"
#include "scorm2004/definition.h"

namespace zept::scorm2004 {

// bytes: the whole imsmanifest.xml. Throws scorm::EManifestError when it is
// not well-formed, has no manifest element or no organization; any other
// fault is a line of Package2004::problems and the part at fault reads as
// if it were not written. Never reaches the network.
Package2004 ReadPackage2004(const std::string& bytes);

// An imsmanifest.xml of either version, parsed once. manifest is the SCORM
// 1.2 reading, which every package's store is named and recognised by (see
// scorm::OpenCourseStore); package2004 is read only when manifest.scorm2004
// says the package is one. Throws as both readers do.
struct ManifestReading {
  scorm::Manifest manifest;
  std::optional<Package2004> package2004;
};
ManifestReading ReadAnyManifest(const std::string& bytes);

}  // namespace zept::scorm2004
