#pragma once
// A standard package as a learner takes it: who the learner is, the menu
// with each item's status and what its prerequisites hold back, the launch
// of an item with a fresh runtime session, and the storing of what the
// session set. Platform-neutral: the window's page talks to it in messages
// (arrays of strings) and gets text back.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "package/manifest.h"
#include "package/package.h"
#include "package/prerequisites.h"
#include "scorm/runtime.h"
#include "store/progress_store.h"
#include "xapi/config.h"
#include "xapi/statements.h"

namespace zept::scorm {

struct PlayerOptions {
  bool strict = false;
  std::string learner;  // --learner: chosen already
  std::string item;     // --item: launched straight away
  // Where statements of what the learner does are for; none are captured
  // without it.
  std::optional<xapi::LrsConfig> lrs;
  // The course's place among those with its identifiers (its store's, see
  // CourseStore): its statements' IRIs tell it from the others.
  unsigned place = 1;
  // Every launch's mode (cmi.core.lesson_mode, 2004's cmi.mode): "normal",
  // "browse" or "review".
  std::string mode = "normal";
};

// The URL the page loads a package file by: the launch location (a package
// path, then its own query or fragment) under zept's package prefix.
std::string LaunchUrl(const std::string& launch);
// A learner's name as typed, trimmed; nullopt when it is empty, longer than
// 255 bytes or holds control characters.
std::optional<std::string> CleanLogin(const std::string& name);

// What ["start"] answers for every kind of package: the course's title,
// the version of the screens to show ("" for none), the learners, the
// learner and item chosen on the command line, and lines about what cannot
// be played.
std::string StartAnswer(const std::string& title, const std::string& version,
                        const std::vector<std::string>& learners,
                        const std::string& learner, const std::string& item,
                        const std::vector<std::string>& problems);

// What the window talks to, whichever version the package is: the page's
// messages answered, the learner's progress kept, and the hooks the window
// sets. scorm::Player plays SCORM 1.2, scorm2004::Player SCORM 2004.
class PackagePlayer {
 public:
  virtual ~PackagePlayer() = default;
  // One message of the page, answered with text (JSON for the screens).
  // Never throws.
  virtual std::string handle(const std::vector<std::string>& message) = 0;
  // Ends the open session as the learner leaves the course, and stores it.
  virtual void leave() = 0;
  virtual bool storeOpen() = 0;
  virtual bool unstored() const = 0;
  virtual const std::string& lastProblem() const = 0;
  virtual const std::string& learner() const = 0;
  // The item or activity playing, "" when none.
  virtual const std::string& playing() const = 0;
  // The error code of the session playing, "" when none plays.
  virtual std::string lastError() = 0;
  // A line for the menu about results that cannot be sent ("" for none).
  virtual void setResultsNote(std::string note) = 0;
  // The learner's results as a report for the report printer.
  virtual std::string resultsReport() = 0;

  // Lines for the journal and the trace log: leniencies of the runtime,
  // prerequisites that do not parse, store failures.
  std::function<void(const std::string& line)> onNote;
  std::function<void(const std::string& message)> onProblem;
  // Asked before a learner is taken: false (with a message) when another
  // process has that learner's progress open.
  std::function<bool(const std::string& login, std::string& message)>
      onTakeLearner;
  // Asked when what the learner did could not be stored as a session
  // closed (why: the store's message): true to try again at once.
  std::function<bool(const std::string& why)> onRetryStore;
  // Whether the package holds a file (a package path); unset, every file
  // is taken to be there.
  std::function<bool(const std::string& path)> hasFile;
  // Statements were added to the outbox.
  std::function<void()> onStatements;
  // The strict record of each session, when it closes.
  std::function<void(const std::string& itemTitle, const std::string& summary)>
      onSessionSummary;
};

// What the players of every kind of package do alike around their
// sessions, so that a new kind says only what is its own: the page's
// messages dispatched, the learner taken, the launches numbered (a call
// through an earlier launch's API never reaches the session playing now),
// a session's statements captured and kept until they are stored, and a
// store that failed told the same way.
class SessionPlayer : public PackagePlayer {
 public:
  // ["api", LAUNCH, FUNCTION, ARG...], ["api-too-large", LAUNCH, FUNCTION],
  // ["start"], ["login", NAME] and ["menu"] are answered alike; the rest is
  // the player's own (other). A throw is told through onProblem and
  // answered {"ok":false,"message"}.
  std::string handle(const std::vector<std::string>& message) final;

  const std::string& lastProblem() const override { return lastProblem_; }
  const std::string& learner() const override { return learner_; }
  const std::string& playing() const override { return playing_; }
  void setResultsNote(std::string note) override {
    resultsNote_ = std::move(note);
  }
  // Stores what the open session set since it was last stored; false when
  // the store failed (onProblem told why, lastProblem() keeps it).
  bool storeOpen() final;

 protected:
  // title and problems: the course's as ["start"] shows them, kept by the
  // package, which outlives its player. api: the API the package's content
  // calls; noun: what the course is made of as the journal says it ("item",
  // "activity"); version: told to the page in ["start"]'s answer, "" for
  // none.
  SessionPlayer(ProgressStore& store, PlayerOptions options,
                const std::string& title,
                const std::vector<std::string>& problems, const ApiVersion& api,
                std::string noun, std::string version = "");

  virtual std::string menu() = 0;
  virtual std::string other(const std::vector<std::string>& message) = 0;
  // Whether a session runs (for the launch last numbered).
  virtual bool sessionRunning() const = 0;
  // A call of the session running, answered (its statements captured, what
  // it asks for stored).
  virtual std::string call(const std::string& function,
                           const std::vector<std::string>& arguments) = 0;
  // Stores the open session (unstored() true), its statements captured
  // with it; throws when the store fails.
  virtual void storeSession() = 0;
  // A call the player answers "false" itself: the session's error says why.
  virtual void refuse(int code, const std::string& function,
                      const std::string& diagnostic) = 0;
  // A call of a launch with no session running: the player's answer, or
  // nullopt for the standard one (a session that ended may still answer its
  // own launch's calls).
  virtual std::optional<std::string> answerEnded(
      const std::vector<std::string>& message, const std::string& function,
      const std::vector<std::string>& arguments);
  // The learner has changed (learner_ is the new one).
  virtual void learnerTaken() {}

  // {"ok":..,"message":..} for the page.
  static std::string Answer(bool ok, const std::string& message);
  // The answer when what the learner did could not be stored.
  std::string unsavedAnswer() const;
  // A store failed: lastProblem_ keeps why and onProblem is told.
  void storeFailed(const std::exception& e);
  // Whether a failed store is to be tried again at once.
  bool retryStore() const;
  // Numbers the launch starting, as the page passes it back.
  std::string nextLaunch();
  // The number of the last launch.
  std::string launchNumber() const { return std::to_string(launches_); }

  // The statements of the session starting (options_.lrs set): its item in
  // the course, with the attempt and the values it began with.
  void captureSession(const std::string& courseIdentifier,
                      const std::string& courseTitle,
                      const std::string& identifier, const std::string& title,
                      xapi::DataModel model, const std::string& attempt,
                      const Values& atLaunch);
  // A call the session took ("true"): Initialize and SetValue are
  // captured; entry is the entry the session began with.
  void captureCall(const std::string& function,
                   const std::vector<std::string>& arguments,
                   const std::string& entry);
  // The session's statements so far join those waiting for the next store;
  // ended: its last ones.
  void captureStatements(const Values& values, bool ended);
  // What was captured is stored: onStatements is told.
  void statementsStored();

  ProgressStore& store_;
  PlayerOptions options_;
  const ApiVersion& api_;
  std::string learner_;
  std::string playing_;
  std::string lastProblem_;
  std::string resultsNote_;
  // The statements of the session playing, and those captured but not yet
  // stored (a store that failed keeps them for the next).
  std::unique_ptr<xapi::SessionStatements> statements_;
  std::vector<xapi::Statement> captured_;
  bool begun_ = false;  // the session playing was initialized

 private:
  std::string api(const std::vector<std::string>& message);
  std::string start();
  std::string login(const std::string& name);

  const std::string& title_;
  const std::vector<std::string>& problems_;
  const std::string noun_;
  const std::string version_;
  // Numbers each launch, so calls through an earlier launch's API are told.
  unsigned launches_ = 0;
  std::string refusedLaunch_;  // the last earlier launch said in the journal
};

// A SessionPlayer whose sessions are SCORM runtimes (scorm::Runtime,
// scorm2004::Runtime): the one running is runtime_.
template <typename Runtime>
class RuntimePlayer : public SessionPlayer {
 public:
  bool unstored() const override { return runtime_ && runtime_->unstored(); }
  // The session playing, if any.
  Runtime* runtime() { return runtime_.get(); }
  std::string lastError() override {
    return runtime_ ? runtime_->call(std::string(api_.names[kGetLastError]), {})
                    : std::string();
  }

 protected:
  using SessionPlayer::SessionPlayer;
  bool sessionRunning() const override { return runtime_ != nullptr; }
  void refuse(int code, const std::string& function,
              const std::string& diagnostic) override {
    runtime_->refuse(code, function, diagnostic);
  }

  std::unique_ptr<Runtime> runtime_;
};

class Player : public RuntimePlayer<Runtime> {
 public:
  Player(const Manifest& manifest, ProgressStore& store, PlayerOptions options);
  ~Player();

  // One message of the page, answered with text (JSON for the screens):
  //   ["api", LAUNCH, FUNCTION, ARG...]
  //                              a call of the API the page made for launch
  //                              number LAUNCH; one of an earlier launch (a
  //                              window the SCO opened, a timer of a page
  //                              left) never reaches the item playing now
  //   ["start"]                  what to show first
  //   ["login", NAME]            the learner chosen (created when new)
  //   ["menu"]                   the course menu of the learner
  //   ["launch", ITEM]           an item to play: its URL, neighbours, the
  //                              launch's number and the values LMSGetValue
  //                              would give now (for calls the page can only
  //                              post while it is left); or the launch file
  //                              the package lacks
  //   ["api-too-large", LAUNCH, FUNCTION]
  //                              a call the page refused as too large: the
  //                              runtime's error says so
  //   ["left"]                   the SCO's page has gone (unloaded)
  // Others answer "". Never throws: a store that fails is reported through
  // onProblem and the answer says so.

  // Ends the open session as if the SCO had finished, and stores it.
  void leave() override;
  // storeOpen(): a session that could not be stored stays with its learner
  // and item: the learner cannot change, nor another item start, until it
  // is stored.

  // The lesson status of an item for the learner ("not attempted" when never
  // stored), and why it cannot be launched now ("" when it can). A folder
  // of the tree is "completed" when every launchable item under it is
  // completed or passed, "incomplete" when one was attempted.
  std::string status(const std::string& item);
  std::string heldBackBy(const Item& item);
  // The item to continue with: the one left suspended, else the first
  // launchable one not completed or passed, else the first.
  std::string continueItem();
  // The learner's results as a report for the report printer: each item's
  // status, score and time, in a table.
  std::string resultsReport() override;

 private:
  std::string menu() override;
  std::string other(const std::vector<std::string>& message) override;
  void storeSession() override;
  std::string call(const std::string& function,
                   const std::vector<std::string>& arguments) override;
  std::string launch(const std::string& item);
  void closeSession();
  const Item* find(const std::string& identifier) const;
  std::string statusOf(const Item& launchable);
  const Prerequisites& prerequisitesOf(const Item& item);

  const Manifest& manifest_;
  std::vector<const Item*> launchable_;
  std::map<std::string, Prerequisites> prerequisites_;
  std::map<std::string, std::string> badPrerequisites_;  // item -> why
  std::string entry_;  // the cmi.core.entry of the launch
};

}  // namespace zept::scorm
