#pragma once
// A SCORM 2004 package as a learner takes it: the learner, the menu of the
// activity tree as the sequencer allows it, the navigation requests of the
// learner and of the SCOs run through the sequencer, each delivery with a
// fresh runtime session, and the storing of values and sequencing state
// together. The counterpart of scorm::Player: the window's page talks to
// either in the same messages and gets JSON back.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scorm/player.h"
#include "scorm2004/definition.h"
#include "scorm2004/global_store.h"
#include "scorm2004/runtime.h"
#include "scorm2004/sequencing.h"
#include "scorm2004/state.h"
#include "store/progress_store.h"
#include "xapi/statements.h"

namespace zept::scorm2004 {

struct PlayerOptions : scorm::PlayerOptions {
  // The draws of selection and randomization; unset: seeded from the
  // clock. Tests set it to be reproducible.
  RandomSource random;
  // The learner's globals on this machine, used for what the package keeps
  // global to the system; none: the package keeps them within itself.
  GlobalStore* globals = nullptr;
};

class Player : public scorm::RuntimePlayer<Runtime> {
 public:
  Player(const Package2004& package, scorm::ProgressStore& store,
         PlayerOptions options = {});
  ~Player();

  // One message of the page, answered with text (JSON for the screens):
  //   ["api", LAUNCH, FUNCTION, ARG...]
  //                   a call of API_1484_11 the page made for launch number
  //                   LAUNCH (one of an earlier launch never reaches the
  //                   activity playing now); answers the call's value
  //   ["api-too-large", LAUNCH, FUNCTION]
  //                   a call the page refused as too large
  //   ["start"]       what to show first (as scorm::Player)
  //   ["login", NAME] the learner chosen (created when new)
  //   ["menu"]        the activity tree as the learner may use it now
  //   ["nav", REQUEST] / ["nav", "choice"|"jump", TARGET]
  //                   a navigation request of the learner: the session
  //                   playing ends (unless the request is refused) and what
  //                   the sequencer delivers is answered
  //   ["next"]        after the SCO's Terminate: what follows it (the
  //                   delivery its adl.nav.request led to, or the menu)
  //   ["left"] / ["left", LAUNCH] / ["left", LAUNCH, "closing"]
  //                   the SCO's page has gone: its session ends as after
  //                   Terminate (its attempt kept to resume when the course
  //                   is closing), answered as ["next"]; a LAUNCH that is
  //                   not the current one is ignored
  // The answers are described in player.cpp beside their makers. Others
  // answer "". Never throws.

  // Ends the open session and suspends the sequencing session (so the
  // learner can resume all later), all stored at once.
  void leave() override;
  const SequencingState& state() const { return state_; }

  // The hooks are scorm::PackagePlayer's; onStatements is called once a
  // session's statements are stored (options.lrs set). playing() is the
  // identifier of the activity delivered, "" when none.

  // Each activity's completion, success, score and time, for the report
  // printer (the same XML as scorm::Player's).
  std::string resultsReport() override;

 private:
  std::string menu() override;
  std::string other(const std::vector<std::string>& message) override;
  void storeSession() override;
  std::optional<std::string> answerEnded(
      const std::vector<std::string>& message, const std::string& function,
      const std::vector<std::string>& arguments) override;
  std::string call(const std::string& function,
                   const std::vector<std::string>& arguments) override;
  void learnerTaken() override { loadLearner(); }
  std::string navigate(const NavigationRequest& request);
  // Ends the session playing, reports its attempt, runs request (the SCO's
  // own when nullopt), stores it all in one transaction and starts what was
  // delivered; the answer for the page. tryFirst: a request the sequencer
  // refuses changes nothing (the learner's, while an activity is delivered).
  // closing: the course closes under a SCO that did not terminate.
  std::string proceed(const std::optional<NavigationRequest>& request,
                      bool tryFirst = false, bool closing = false,
                      bool ownRequest = true);
  // The session of a SCO the learner takes away with a navigation request
  // of the player's (taking_): its attempt ends (is suspended for
  // suspendAll), and what the SCO itself asked for is passed over.
  std::string takenAway();
  void dropOwnRequest();
  // memo: the menu's, whose copy the requests that sequence are tried on.
  std::string controls(const SequencingState& state,
                       ChoiceMemo* memo = nullptr);
  // shared: the adl.data values as the SCO is to find them.
  LaunchContext2004 contextFor(std::size_t activity,
                               const SequencingState& state,
                               const Values& shared,
                               std::optional<bool> newAttempt) const;
  void loadLearner();

  const Package2004& package_;
  ActivityTree tree_;
  RandomSource random_;
  SequencingState state_;
  // What the menu's questions share, kept from one menu to the next so
  // that its copy of a large state is made once.
  ChoiceMemo menuMemo_;
  std::vector<std::string> deliveries_;
  Values shared_;  // adl.data values by target id
  std::size_t playingIndex_ = ActivityTree::kNone;
  // The last session that ended, which still answers its own launch's
  // calls with the errors of a terminated session.
  std::unique_ptr<Runtime> ended_;
  std::string endedLaunch_;
  std::string next_;  // the answer of ["next"] once a session has ended
  // The learner's request the SCO's page is being left for (["taking"]),
  // until the page has gone.
  std::string taking_;
  PackageGlobals globals_;
};

}  // namespace zept::scorm2004
