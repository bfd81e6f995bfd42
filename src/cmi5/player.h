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
#include <string>
#include <vector>

#include "cmi5/course.h"
#include "cmi5/launch.h"
#include "cmi5/move_on.h"
#include "scorm/player.h"
#include "scorm/progress_store.h"
#include "xapi/content_lrs.h"

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
scorm::Manifest StoreIdentity(const Course& course);

// The progress kept of a cmi5 course, as zept-results prints it: per
// learner the registration, each AU's outcome, score and sessions, each
// block's and the course's satisfaction, and the statements still to send.
// Reads only.
std::string ResultsJson(const Course& course, scorm::ProgressStore& store,
                        const std::string& learner);

struct CoursePlayerOptions {
  std::string learner;  // --learner: chosen already
  std::string item;     // --item: an AU's id, launched straight away
  LaunchMode mode = LaunchMode::kNormal;
  std::string homePage = kDefaultHomePage;
  // zept's own IRI of the course; blocks and AUs get theirs below it.
  std::string courseIri;
  // The clock and new ids; the system's when not given (tests give theirs).
  std::function<std::int64_t()> nowMs;
  std::function<std::string()> newId;
};

class CoursePlayer : public scorm::PackagePlayer {
 public:
  CoursePlayer(const Course& course, scorm::ProgressStore& store,
               CoursePlayerOptions options);
  ~CoursePlayer() override;

  // The screens' messages: ["start"], ["login", NAME], ["menu"],
  // ["launch", AU-ID] (the AU's URL, title and neighbours, or why not),
  // ["left", ...] (the AU's page has gone). Others answer "".
  std::string handle(const std::vector<std::string>& message) override;
  // A request of the content to zept's LRS (path below kEndpoint) or to the
  // fetch URL (path "fetch/LAUNCH"). Never throws.
  xapi::LrsAnswer lrs(const xapi::LrsRequest& request);

  // Ends the open session: "abandoned" unless the AU terminated it.
  void leave() override;
  // Everything is stored as it comes, before the content is answered.
  bool storeOpen() override { return true; }
  bool unstored() const override { return false; }
  const std::string& lastProblem() const override { return lastProblem_; }
  const std::string& learner() const override { return learner_; }
  const std::string& playing() const override { return playing_; }
  std::string lastError() override { return std::string(); }
  void setResultsNote(std::string note) override {
    resultsNote_ = std::move(note);
  }
  std::string resultsReport() override;

  // The AU of the launch numbered launch has terminated its session.
  std::function<void(const std::string& launch)> onEnded;

  std::string auIri(std::size_t au) const;
  // The number of the last launch, as the screens name it.
  std::string launchNumber() const { return std::to_string(launches_); }
  std::string blockIri(std::size_t block) const;

 private:
  std::string start();
  std::string login(const std::string& name);
  std::string menu();
  std::string launch(const std::string& id);
  // Reads the learner's registration back from the statements stored:
  // outcomes, scores, the blocks and course already satisfied; abandons
  // sessions a kill left open and says what became satisfied meanwhile.
  void takeUp();
  void endSession();
  // "satisfied" for what the outcomes now satisfy and did not before.
  void satisfy(const std::string& sessionId);
  void record(const std::vector<xapi::Statement>& statements);
  Stamp stamp();
  // What a statement request the LRS took changes in the menu's scores.
  void noteScores(const std::string& body);
  std::string statusOf(std::size_t au) const;
  std::string continueAu() const;

  const Course& course_;
  scorm::ProgressStore& store_;
  CoursePlayerOptions options_;
  Actor actor_;
  std::string learner_;
  std::string registration_;
  std::unique_ptr<xapi::LrsStore> lrsStore_;
  std::unique_ptr<xapi::ContentLrs> lrs_;
  std::vector<AuRecord> records_;
  std::vector<bool> satisfiedBlocks_;
  bool satisfiedCourse_ = false;
  // The session of the AU launched last; its state lives in lrs_.
  std::optional<std::size_t> au_;
  std::int64_t launchedMs_ = 0;
  std::int64_t lastMs_ = 0;  // the session's last statement taken
  unsigned launches_ = 0;
  std::string token_;  // the launch's auth token
  bool fetched_ = false;
  std::string playing_;
  std::string lastProblem_;
  std::string resultsNote_;
};

}  // namespace zept::cmi5
