#pragma once
// moveOn: when an AU counts as satisfied from what its statements recorded,
// and when blocks and the course are, all of their children being so.

#include <vector>

#include "cmi5/course.h"

namespace zept::cmi5 {

// What a learner's registration recorded of one AU, over all its sessions.
struct AuOutcome {
  bool completed = false;
  bool passed = false;
  bool failed = false;
  bool waived = false;  // the LMS waived it: satisfied whatever its moveOn

  bool operator==(const AuOutcome&) const = default;
};

bool AuSatisfied(MoveOn moveOn, const AuOutcome& outcome);

struct Satisfaction {
  std::vector<bool> aus;     // by index of Course::aus
  std::vector<bool> blocks;  // by index of Course::blocks
  bool course = false;

  bool operator==(const Satisfaction&) const = default;
};

// outcomes: by index of Course::aus; an AU beyond its end has recorded
// nothing.
Satisfaction Evaluate(const Course& course,
                      const std::vector<AuOutcome>& outcomes);

// A block or the course that became satisfied.
struct Satisfied {
  bool course = false;
  std::size_t block = kNoBlock;  // when not the course

  bool operator==(const Satisfied&) const = default;
};

// What after holds satisfied and before did not, each block after the
// blocks inside it and the course last: the order of the LMS's "satisfied"
// statements. before may be empty (nothing satisfied yet).
std::vector<Satisfied> NewlySatisfied(const Course& course,
                                      const Satisfaction& before,
                                      const Satisfaction& after);

}  // namespace zept::cmi5
