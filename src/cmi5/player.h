#pragma once
// A cmi5 course as a learner takes it in zept's window: the learner, the
// course's blocks and AUs with their states, the launch of an AU (its URL
// with the launch parameters, the launch data and "launched" written
// first), and zept's LRS answering what the AU sends, judged by the LMS's
// rules. What the registration recorded is read back from the statements
// stored, so a session that a kill cut short is "abandoned" at the next
// start and nothing else needs a store of its own.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cmi5/course.h"
#include "cmi5/launch.h"
#include "cmi5/move_on.h"
#include "cmi5/session_lrs.h"
#include "scorm/player.h"
#include "store/progress_store.h"

namespace zept::cmi5 {

// Where the content finds zept's LRS and the fetch URL: the package's own
// origin, so that only the course playing in zept's window reaches them.
inline constexpr char kEndpoint[] = "zept://content/lrs/";
inline constexpr char kFetchUrl[] = "zept://content/fetch/";
// The page an AU goes to when it is done: the screens take the learner back
// to the course.
inline constexpr char kReturnUrl[] = "zept://content/app/return.html";
// The actor's account and the activities' IRIs when no LRS configuration
// names its own.
inline constexpr char kDefaultHomePage[] = "https://zept.invalid/learners";
inline constexpr char kDefaultActivityBase[] = "https://zept.invalid/courses/";

// What a learner's registration recorded, read back from the statements
// stored for it.
struct AuRecord {
  AuOutcome outcome;
  unsigned sessions = 0;  // launches
  std::string score;      // as the menu shows it, "" for none
};
struct OpenSession {
  std::string id;
  std::size_t au = 0;
  std::int64_t launchedMs = 0;
  std::int64_t lastMs = 0;  // its last statement's
};
struct RegistrationRecord {
  std::vector<AuRecord> aus;          // by index of Course::aus
  std::vector<bool> satisfiedBlocks;  // "satisfied" sent, by block index
  bool satisfiedCourse = false;
  // Sessions launched that neither terminated nor were abandoned, in
  // launch order.
  std::vector<OpenSession> open;
};
// IRIs as the player gives them: zept's own, below the course's.
std::string AuIri(const Course& course, const std::string& courseIri,
                  std::size_t au);
std::string BlockIri(const Course& course, const std::string& courseIri,
                     std::size_t block);
RegistrationRecord ReadRegistration(const Course& course, xapi::LrsStore& store,
                                    const std::string& registration);

// What the course store knows a cmi5 course by: its id (apart from any
// SCORM manifest's with the same identifier) and its AUs as items.
scorm::Manifest StoreIdentity(const Course& course, bool tinCan = false);

// The progress kept of a cmi5 course, as zept-results prints it: per
// learner the registration, each AU's outcome, score and sessions, each
// block's and the course's satisfaction, and the statements still to send.
// For a Tin Can package (tinCan): the statements stored and whether a
// bookmark (a state document) exists. Reads only.
std::string ResultsJson(const Course& course, scorm::ProgressStore& store,
                        const std::string& learner, bool tinCan = false);

struct CoursePlayerOptions {
  std::string learner;  // --learner: chosen already
  std::string item;     // --item: an AU's id, launched straight away
  LaunchMode mode = LaunchMode::kNormal;
  // A Tin Can package (see tincan::CourseOfTinCan): its content talks to the LRS
  // with no LMS rules, launch data or statements of zept's own.
  bool tinCan = false;
  std::string homePage = kDefaultHomePage;
  // The learner's language (a BCP 47 tag): the langstrings the screens show.
  std::string language = "en-US";
  // zept's own IRI of the course; blocks and AUs get theirs below it.
  std::string courseIri;
  // Where the content is served: the origin of kEndpoint, kFetchUrl and
  // kReturnUrl as its launches give them.
  std::string origin = "zept://content";
  // The clock and new ids; the system's when not given (tests give theirs).
  std::function<std::int64_t()> nowMs;
  std::function<std::string()> newId;
};

// The course's title, picked once and kept for the player's life (its base
// keeps a reference to it).
struct PickedTitle {
  std::string title;
};

class CoursePlayer : private PickedTitle, public scorm::SessionPlayer {
 public:
  CoursePlayer(const Course& course, scorm::ProgressStore& store,
               CoursePlayerOptions options);
  ~CoursePlayer() override;

  // A request of the content to zept's LRS (path below kEndpoint) or to the
  // fetch URL (path "fetch/LAUNCH"). Never throws.
  xapi::LrsAnswer lrs(const xapi::LrsRequest& request);

  // Ends the open session: "abandoned" unless the AU terminated it.
  void leave() override;
  // Everything is stored as it comes, before the content is answered.
  bool unstored() const override { return false; }
  std::string lastError() override { return std::string(); }
  std::string resultsReport() override;

  // The AU of the launch numbered launch has terminated its session.
  std::function<void(const std::string& launch)> onEnded;

  std::string auIri(std::size_t au) const;
  std::string blockIri(std::size_t block) const;
  // The number of the last launch, as the screens name it.
  using SessionPlayer::launchNumber;

 protected:
  // Beside what every player answers: ["launch", AU-ID] (the AU's URL,
  // title and neighbours, or why not) and ["left", LAUNCH] (the AU's page
  // has gone).
  std::string menu() override;
  std::string other(const std::vector<std::string>& message) override;
  // Reads the learner's registration back from the statements stored:
  // outcomes, scores, the blocks and course already satisfied; abandons
  // sessions a kill left open and says what became satisfied meanwhile.
  void learnerTaken() override;
  // The content calls no API: it talks to zept's LRS.
  bool sessionRunning() const override { return false; }
  std::string call(const std::string&,
                   const std::vector<std::string>&) override {
    return "false";
  }
  void storeSession() override {}
  void refuse(int, const std::string&, const std::string&) override {}

 private:
  std::string launch(const std::string& id);
  void endSession();
  // "satisfied" for what the outcomes now satisfy and did not before.
  void satisfy(const std::string& sessionId);
  void record(const std::vector<xapi::Statement>& statements);
  Stamp stamp();
  // What statements the LRS took change in the menu's outcomes and scores.
  void noteStatements(const std::string& body);
  // Why zept's LRS answered a request of the content before it reached it
  // (a session that has ended, a Tin Can statement of another actor);
  // nullopt when it goes on to the LRS.
  std::optional<xapi::LrsAnswer> launchRefusal(
      const xapi::LrsRequest& request) const;
  // A statement refused: said in the journal, once per reason and launch.
  void sayRefusal(const xapi::LrsAnswer& answer);
  std::string learnerKey() const;
  std::string launchTinCan(std::size_t index,
                           const std::function<void(std::string&)>& neighbours);
  std::string statusOf(std::size_t au) const;
  std::string continueAu() const;

  const Course& course_;
  CoursePlayerOptions settings_;
  Actor actor_;
  std::string registration_;
  std::unique_ptr<xapi::LrsStore> lrsStore_;
  std::unique_ptr<SessionLrs> lrs_;
  std::vector<AuRecord> records_;
  std::vector<bool> satisfiedBlocks_;
  bool satisfiedCourse_ = false;
  // The session of the AU launched last; its state lives in lrs_.
  std::optional<std::size_t> au_;
  std::int64_t launchedMs_ = 0;
  std::int64_t lastMs_ = 0;  // the session's last statement taken
  std::string token_;        // the launch's auth token
  bool fetched_ = false;
  // A Tin Can launch the learner has left: its token is answered no more.
  bool tinCanLeft_ = false;
  // zept's IRI of the course for the learner's registration (see
  // scorm::RegistrationIdentity).
  std::string courseIri_;
  // The refusals of this launch said in the journal, by their reason.
  std::set<std::string> refusalsSaid_;
};

}  // namespace zept::cmi5
