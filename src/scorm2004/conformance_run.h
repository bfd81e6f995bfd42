#pragma once
// Plays a test case of the conformance format (conformance.h) against a
// player: each delivery checked against the next visit, the UI questions
// answered from the player's controls, the steps run as the test SCO runs
// them and judged, then the tester's instruction carried out. The player
// sits behind a Driver: HeadlessDriver runs scorm2004::Player directly; a
// window driver can run zept's window the same way, the judging stays here.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scorm2004/conformance.h"
#include "scorm2004/definition.h"

namespace zept::scorm2004::conformance {

// What the player shows after something the tester or the SCO did.
struct Shown {
  std::string id;  // the activity delivered; "" when none
  std::string title;
  std::string url;      // its launch location with the item's parameters
  bool sco = false;     // a SCO (an asset runs no steps)
  bool ended = false;   // the sequencing session has ended
  std::string refused;  // the player refused the request: its words
};

struct TocEntry {
  std::string title;
  bool selectable = false;
};

// The player's controls as the learner sees them.
struct Controls {
  bool continueEnabled = false;
  bool previousEnabled = false;
  // The entries shown, in order, the root (the course itself) first.
  std::vector<TocEntry> toc;
};

enum class UiEvent { kContinue, kPrevious, kChoice, kExitAll, kSuspendAll };

class Driver {
 public:
  virtual ~Driver() = default;
  // The learner, with nothing stored in any package yet; what the learner's
  // packages keep global to the system is kept while the driver lives.
  virtual void newLearner(const std::string& learnerId) = 0;
  // Opens package (name: the package's folder) for the learner, whose
  // progress is kept across opens; the player starts or resumes by itself
  // as it does for a learner.
  virtual Shown open(const std::string& name, const Package2004& package) = 0;
  // An API call of the SCO delivered; its return value.
  virtual std::string call(const std::string& function,
                           const std::vector<std::string>& arguments) = 0;
  // The SCO has terminated: what the player shows next.
  virtual Shown afterTerminate() = 0;
  // The learner uses a control (kChoice: the table of contents' entry with
  // that title).
  virtual Shown trigger(UiEvent event, const std::string& title = "") = 0;
  virtual Controls controls() = 0;
  // The learner closes the player.
  virtual void close() = 0;
};

// scorm2004::Player in this process, its stores in a temporary folder per
// learner: one per package, and the learner's system globals.
std::unique_ptr<Driver> HeadlessDriver();

struct RunPackage {
  std::string name;  // "CM-01", "DDMa"
  const Package2004* package = nullptr;
};

struct Outcome {
  bool passed = false;
  std::string failure;  // the first one: where, what was expected, got
};

// Runs testCase (named testCaseName, "DDM" for both DDM packages) on
// packages (the first is launched unless the test case starts with another
// one by name), with a new learner. trace, when set, hears each delivery,
// call and instruction. Never throws.
Outcome Run(const TestCase& testCase, const std::string& testCaseName,
            const std::vector<RunPackage>& packages, Driver& driver,
            const std::string& learnerId,
            const std::function<void(const std::string&)>& trace = {});

}  // namespace zept::scorm2004::conformance
