#pragma once
// Results to the course team's LRS, for zept and zept-sync: where the
// configuration is found, and a course's outbox sent from a thread of its
// own while the learner plays.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "xapi/config.h"
#include "xapi/sender.h"

namespace zept {
namespace scorm {
class ProgressStore;
}

// The configuration of the first place that has one (see LrsConfigPlaces):
// option is --lrs (""), courseFolder the folder a zept-lrs.conf would stand
// in beside the course. nullopt with problem "" when there is none, or with
// problem in one line when the file found cannot be read or is malformed,
// or the --lrs file is missing.
std::optional<xapi::LrsConfig> FindLrsConfig(const std::string& option,
                                             const std::string& courseFolder,
                                             std::string& problem);
// The configuration in the file at nativePath, as FindLrsConfig.
std::optional<xapi::LrsConfig> ReadLrsConfig(const std::string& nativePath,
                                             std::string& problem);
// A line warning that the configuration's file, which holds a password, can
// be read by other users; "" when it cannot, or is a course's own
// zept-lrs.conf (whose credentials the course team's guide advises to be
// write-only).
std::string LrsConfigWarning(const xapi::LrsConfig& config);

// Makes config the LRS in force for what the store captures from now on,
// after giving statements an earlier zept stored without their endpoint to
// the endpoint of the configuration it remembered; the statements captured
// while no LRS was configured become config's (it is the first configured
// since): the number of those. Throws EStoreError.
std::size_t UseLrs(scorm::ProgressStore& store, const xapi::LrsConfig& config);
// Gives statements an earlier zept stored without their endpoint to the
// endpoint of the configuration file it remembered, when it still reads.
void AdoptEarlierStatements(scorm::ProgressStore& store);

// Statements still waiting are worth a word on the menu after this long.
constexpr long long kLongWaitMs = 24LL * 3600 * 1000;

class ResultsSender {
 public:
  // Sends the outbox of the progress store at storePath (opened on the
  // sending thread) to the LRS of config, at once and after each notify().
  ResultsSender(std::string storePath, xapi::LrsConfig config);
  ~ResultsSender();
  ResultsSender(const ResultsSender&) = delete;
  ResultsSender& operator=(const ResultsSender&) = delete;

  // New statements are in the outbox.
  void notify();
  // Sends what is pending now and waits for it, at most limitMs: for the
  // end of the program, so the last statements need not wait for its next
  // start. False when some are left.
  bool flush(int limitMs);
  // For the learner menu: "" while results go out; a word once the LRS
  // refused zept's credentials, or statements have waited over a day.
  std::string menuNote();
  // Lines for the journal since the last call (from the main loop).
  std::vector<std::string> takeLines();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zept
