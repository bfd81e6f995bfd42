#pragma once
// A SCORM 2004 package's manifest (imsmanifest.xml, 2nd to 4th edition)
// read into the activity tree of its default organization, each activity
// with its sequencing definition.

#include <string>

#include "scorm/manifest.h"
#include "scorm2004/definition.h"

namespace zept::scorm2004 {

// bytes: the whole imsmanifest.xml. Throws scorm::EManifestError when it is
// not well-formed, has no manifest element or no organization; any other
// fault is a line of Package2004::problems and the part at fault reads as
// if it were not written. Never reaches the network.
Package2004 ReadPackage2004(const std::string& bytes);

}  // namespace zept::scorm2004
