#pragma once
// The course structure read from the package's imsmanifest.xml.

#include <memory>
#include <vector>

#include "tracking/SCO.h"
#include "util/context.h"

namespace zept {

// The course owns its SCOs; their addresses stay valid for its lifetime.
using TSCOList = std::vector<std::unique_ptr<TSCO>>;

class TParcours {
 public:
  WideString Identifier;
  WideString Title;
  WideString Description;
  std::vector<TLOMMetadata> Metadata;
  TSCOList SCOs;

  // Fills the course from the manifest. A missing or unreadable manifest
  // leaves the course as it is. A mastery score that is not an integer
  // throws EConvertError; the SCOs read before it stay.
  void LoadManifest(Context& ctx, const WideString& path);
  // The SCO at 0-based index; nullptr outside the list.
  TSCO* GetSCO(std::int64_t index) const;
  void AddSCO(std::unique_ptr<TSCO> sco);
  std::size_t count() const { return SCOs.size(); }
};

}  // namespace zept
