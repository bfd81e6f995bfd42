#include "cmi5/move_on.h"

namespace zept::cmi5 {
namespace {

bool Get(const std::vector<bool>& flags, std::size_t index) {
  return index < flags.size() && flags[index];
}

}  // namespace

bool AuSatisfied(MoveOn moveOn, const AuOutcome& outcome) {
  if (outcome.waived) return true;
  switch (moveOn) {
    case MoveOn::kNotApplicable:
      return true;
    case MoveOn::kPassed:
      return outcome.passed;
    case MoveOn::kCompleted:
      return outcome.completed;
    case MoveOn::kCompletedAndPassed:
      return outcome.completed && outcome.passed;
    case MoveOn::kCompletedOrPassed:
      return outcome.completed || outcome.passed;
  }
  return false;
}

Satisfaction Evaluate(const Course& course,
                      const std::vector<AuOutcome>& outcomes) {
  Satisfaction out;
  out.aus.resize(course.aus.size());
  for (std::size_t i = 0; i < course.aus.size(); ++i) {
    out.aus[i] = AuSatisfied(course.aus[i].moveOn,
                             i < outcomes.size() ? outcomes[i] : AuOutcome{});
  }
  const auto all = [&](const std::vector<Child>& children) {
    for (const Child& child : children) {
      const bool satisfied = child.kind == Child::Kind::kAu
                                 ? out.aus[child.index]
                                 : out.blocks[child.index];
      if (!satisfied) return false;
    }
    return true;
  };
  // A block comes before the blocks inside it: from the last one back,
  // every inner block is decided before its parent.
  out.blocks.resize(course.blocks.size());
  for (std::size_t i = course.blocks.size(); i-- > 0;) {
    out.blocks[i] = all(course.blocks[i].children);
  }
  out.course = all(course.children);
  return out;
}

std::vector<Satisfied> NewlySatisfied(const Course& course,
                                      const Satisfaction& before,
                                      const Satisfaction& after) {
  std::vector<Satisfied> out;
  const auto walk = [&](const auto& self,
                        const std::vector<Child>& children) -> void {
    for (const Child& child : children) {
      if (child.kind != Child::Kind::kBlock) continue;
      self(self, course.blocks[child.index].children);
      if (Get(after.blocks, child.index) && !Get(before.blocks, child.index))
        out.push_back({false, child.index});
    }
  };
  walk(walk, course.children);
  if (after.course && !before.course) out.push_back({true, kNoBlock});
  return out;
}

}  // namespace zept::cmi5
