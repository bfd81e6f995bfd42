#pragma once
// A session: one run of the course, one tracking record per SCO.

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "tracking/Parcours.h"
#include "tracking/scotracking.h"

namespace zept {

using TScoTrackingList = std::vector<TSCOTracking>;

// The "manifest" and "metadata" part of each SCO's records, made once per
// document for one indent.
class SCOTailCache {
 public:
  explicit SCOTailCache(Utf8String indent) : indent_(std::move(indent)) {}
  const Utf8String& indent() const { return indent_; }
  const Utf8String& tail(const TSCO* sco);

 private:
  Utf8String indent_;
  std::unordered_map<const TSCO*, Utf8String> tails_;
};

class TSessionTracking {
 public:
  // Dated today, with a new record for every SCO of the course, in order.
  TSessionTracking(const TParcours* parcours, const WideString& today);

  WideString Date;
  std::int32_t Index = 0;
  TScoTrackingList SCOTrackings;
  const TParcours* Parcours = nullptr;  // not owned

  // Appends the record and numbers it.
  void AddSCOTracking(TSCOTracking record);
  // The session as a "session" block with indent I.
  WideString ToXml(const WideString& indent) const;
  // The same in UTF-8, appended; records take the indent I TAB TAB, which
  // must be the cache's.
  void AppendXml(Utf8String& out, const Utf8String& indent,
                 SCOTailCache& tails) const;
};

using TSessionList = std::vector<std::unique_ptr<TSessionTracking>>;

// Reads the sessions of a stored trackings document (UTF-8), each with
// fresh records for the course's SCOs filled by position from the stored
// "sco" elements. nullopt when the text is not a well-formed document.
std::optional<TSessionList> ReadTrackingSessions(const Utf8String& text,
                                                 const TParcours* parcours,
                                                 const WideString& today);

}  // namespace zept
