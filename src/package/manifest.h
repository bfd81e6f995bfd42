#pragma once
// A SCORM 1.2 content package's manifest (imsmanifest.xml): its default
// organization as a tree of items, each with what launching it needs.

#include <string>
#include <vector>

#include "platform/errors.h"

namespace zept::scorm {

// The manifest cannot be read at all; what() names the line and the fault.
class EManifestError : public EZeptError {
 public:
  using EZeptError::EZeptError;
  const char* className() const noexcept override { return "EManifestError"; }
};

struct Item {
  std::string identifier;
  std::string title;    // its <title>, else its identifier
  bool visible = true;  // isvisible
  // The launch location inside the package, xml:base applied and the
  // item's parameters appended ("sco1/index.html?x=1"); "" for an item
  // without a resource (a folder of the tree), whose resource is missing or
  // whose href is not a file of the package. The path part is the package
  // path with "%", "?" and "#" written "%25", "%3F" and "%23", so the first
  // "?" or "#" starts the query or the fragment; PackagePath("", that part)
  // gives the file back.
  std::string launch;
  bool isSco = false;  // adlcp:scormtype (or adlcp:scormType) "sco"
  std::string resourceIdentifier;
  // The adlcp elements, as written, blanks around them trimmed ("" when
  // absent).
  std::string masteryScore;
  std::string dataFromLms;
  std::string maxTimeAllowed;
  std::string timeLimitAction;
  // The aicc_script form only; kept as written even when it does not parse
  // (a problem line says so).
  std::string prerequisites;
  int line = 0;  // where the item starts in the manifest
  std::vector<Item> children;
};

struct Manifest {
  std::string identifier;  // of the manifest
  // The organization's title, else the manifest's identifier.
  std::string title;
  std::string organization;  // its identifier; "" for a package without one
  std::vector<Item> items;
  // What makes it a SCORM 2004 package, which zept does not play: the
  // version its metadata names ("2004 4th Edition", "CAM 1.3"), else a
  // namespace only 2004 packages use ("namespace URI"); "" for SCORM 1.2.
  std::string scorm2004;
  // Faults that leave the rest playable, one line each, naming the place
  // ("line 12: item ITEM2 names resource RES9, which is missing").
  std::vector<std::string> problems;
};

// bytes: the whole imsmanifest.xml. Throws EManifestError when it is not
// well-formed or has no manifest element. Never reaches the network.
Manifest ReadManifest(const std::string& bytes);

// The items a learner can launch (with a launch location), in tree order.
std::vector<const Item*> LaunchableItems(const Manifest& manifest);

}  // namespace zept::scorm
