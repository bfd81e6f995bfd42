#pragma once
// What a learner has done in a SCORM 2004 activity tree: the tracking model
// and the activity state model of the sequencing book, beside the static
// definitions of definition.h. The sequencing processes (sequencing.h) are
// the only writers; the whole state goes to and from a compact text so it
// can be stored with the learner's progress after every request.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scorm2004/definition.h"

namespace zept::scorm2004 {

// The definition tree flattened in preorder, so state and processes address
// activities by index. Holds pointers into the Activity it was built from,
// which must outlive it.
class ActivityTree {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // objectivesPerAttempt: the course keeps its global objectives to itself
  // (not global to the system), and a retry of the whole course starts
  // them afresh.
  explicit ActivityTree(const Activity& root,
                        bool objectivesPerAttempt = false);

  std::size_t size() const { return nodes_.size(); }
  const Activity& at(std::size_t index) const {
    return *nodes_[index].activity;
  }
  const SequencingDefinition& sequencing(std::size_t index) const {
    return nodes_[index].activity->sequencing;
  }
  std::size_t parent(std::size_t index) const { return nodes_[index].parent; }
  // All children in manifest order; what a learner may meet is the state's
  // available children.
  const std::vector<std::size_t>& children(std::size_t index) const {
    return nodes_[index].children;
  }
  bool isLeaf(std::size_t index) const {
    return nodes_[index].children.empty();
  }
  // kNone when no activity has it; the first in preorder when several do.
  std::size_t find(std::string_view identifier) const;
  // No two activities share an identifier: find(at(i).identifier) is i.
  bool identifiersUnique() const {
    return byIdentifier_.size() == nodes_.size();
  }
  // Whether ancestor is index or one of its ancestors.
  bool contains(std::size_t ancestor, std::size_t index) const;
  std::size_t commonAncestor(std::size_t a, std::size_t b) const;
  // From `from` up to `to` (an ancestor of it), both included.
  std::vector<std::size_t> pathUp(std::size_t from, std::size_t to) const;
  std::size_t depth(std::size_t index) const;
  // Its place among its parent's children in the manifest (0 for the root).
  std::size_t place(std::size_t index) const { return nodes_[index].place; }
  bool objectivesPerAttempt() const { return objectivesPerAttempt_; }

 private:
  struct Node {
    const Activity* activity;
    std::size_t parent;
    std::vector<std::size_t> children;
    std::size_t place;
  };
  void add(const Activity& activity, std::size_t parent);
  std::vector<Node> nodes_;
  std::map<std::string, std::size_t, std::less<>> byIdentifier_;
  bool objectivesPerAttempt_;
};

// An objective's tracking status; the 4th edition's scores, completion and
// progress measure travel with it through the objective maps.
struct ObjectiveState {
  bool progressStatus = false;  // satisfaction is known
  bool satisfiedStatus = false;
  bool measureStatus = false;
  double normalizedMeasure = 0.0;  // -1 .. 1
  std::optional<double> rawScore;
  std::optional<double> minScore;
  std::optional<double> maxScore;
  std::optional<bool> completionStatus;  // true: completed, false: incomplete
  std::optional<double> progressMeasure;
  bool operator==(const ObjectiveState&) const = default;
};

struct ActivityState {
  bool activityProgressStatus = false;  // some attempt has begun
  unsigned activityAttemptCount = 0;
  bool attemptProgressStatus = false;  // completion of this attempt is known
  bool attemptCompletionStatus = false;
  bool attemptCompletionAmountStatus = false;
  double attemptCompletionAmount = 0.0;  // progress measure, 0 .. 1
  bool isActive = false;
  bool isSuspended = false;
  // The content wrote its completion (success) in this attempt, even as
  // unknown: ending the attempt leaves it as the content said.
  bool completionReported = false;
  bool successReported = false;
  // The parent began a new attempt that counts only what is achieved in
  // it: until this activity is attempted again, its objectives (progress)
  // are unknown to the parent's rollup. Its own rules still see them.
  bool staleObjectives = false;
  bool staleProgress = false;
  // Tree indexes of the children after selection and randomization, in
  // the order flow takes them.
  std::vector<std::size_t> availableChildren;
  // Parallel to the definition's objectives: the primary one first.
  std::vector<ObjectiveState> objectives;
  bool operator==(const ActivityState&) const = default;
};

struct SequencingState {
  std::vector<ActivityState> activities;  // parallel to the tree
  // Shared by the package's activities, by target objective id.
  std::map<std::string, ObjectiveState> globalObjectives;
  std::size_t currentActivity = ActivityTree::kNone;
  std::size_t suspendedActivity = ActivityTree::kNone;
  bool operator==(const SequencingState&) const = default;
};

// bound > 0; answers 0 .. bound - 1. Injected so selection and
// randomization are reproducible in tests.
using RandomSource = std::function<std::size_t(std::size_t bound)>;
// A small deterministic generator; the caller chooses the seed.
RandomSource SeededRandom(std::uint64_t seed);

// The state before any sequencing session: nothing attempted, all children
// available until the selection and randomization done "once" pick them.
SequencingState InitialState(const ActivityTree& tree,
                             const RandomSource& random);

// One line per fact, text only: "zs1" first, then "c ID", "s ID",
// "a ID ..." per activity with any tracking, "g TARGET ..." per global
// objective. Numbers in the C locale whatever the program's locale.
std::string SerializeState(const ActivityTree& tree,
                           const SequencingState& state);
// The state again. An activity the text does not name has no tracking and
// all its children available, as SerializeState leaves such activities
// out. What no longer fits the tree (a course updated since) is reset and
// the rest kept: an activity it no longer has is dropped, children whose
// stored order names positions it no longer has are all available again in
// the manifest's order, and a current or suspended activity it no longer
// has leaves no activity active or suspended. Each reset is a line of
// *reset when given. nullopt when the text is malformed.
std::optional<SequencingState> ParseState(
    const ActivityTree& tree, std::string_view text,
    std::vector<std::string>* reset = nullptr);

}  // namespace zept::scorm2004
