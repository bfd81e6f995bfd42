#pragma once
// One shareable content object of the course, as the manifest describes it.

#include <cstdint>
#include <vector>

#include "platform/text.h"

namespace zept {

// Title and description langstrings at one position of an item's metadata.
struct TLOMMetadata {
  WideString Title;
  WideString Description;
};

class TSCO {
 public:
  WideString Identifier;
  WideString Href;
  WideString Title;
  WideString Description;
  std::int32_t MasteryScore = 0;
  std::vector<TLOMMetadata> Metadata;

  // "SCO_" and number padded with "0" to four digits (never cut).
  static WideString FolderName(std::int64_t number);
};

}  // namespace zept
