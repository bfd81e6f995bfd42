#include "cmi5/move_on.h"

#include <gtest/gtest.h>

#include "harness.h"

namespace zept::cmi5::test {
namespace {

TEST(Cmi5MoveOnTest, AnAuIsSatisfiedAsItsMoveOnSays) {
  // Outcomes: nothing, completed, passed, both, failed, failed and
  // completed, waived.
  const AuOutcome kNone{}, kCompleted{true}, kPassed{false, true},
      kBoth{true, true}, kFailed{false, false, true},
      kFailedCompleted{true, false, true}, kWaived{false, false, false, true};
  const AuOutcome outcomes[] = {kNone,   kCompleted,       kPassed, kBoth,
                                kFailed, kFailedCompleted, kWaived};
  const struct {
    MoveOn moveOn;
    const char* satisfied;  // one digit per outcome above
  } cases[] = {
      {MoveOn::kNotApplicable, "1111111"},
      {MoveOn::kCompleted, "0101011"},
      {MoveOn::kPassed, "0011001"},
      {MoveOn::kCompletedAndPassed, "0001001"},
      {MoveOn::kCompletedOrPassed, "0111011"},
  };
  for (const auto& c : cases) {
    std::string got;
    for (const AuOutcome& outcome : outcomes)
      got += AuSatisfied(c.moveOn, outcome) ? '1' : '0';
    EXPECT_EQ(got, c.satisfied) << Name(c.moveOn);
  }
}

// Satisfaction as text: AUs, then blocks, then the course ("10|0|0").
std::string Show(const Satisfaction& s) {
  std::string out;
  for (const bool b : s.aus) out += b ? '1' : '0';
  out += '|';
  for (const bool b : s.blocks) out += b ? '1' : '0';
  return out + '|' + (s.course ? '1' : '0');
}

std::string Show(const std::vector<Satisfied>& list) {
  std::string out;
  for (const Satisfied& s : list) {
    if (!out.empty()) out += ',';
    out += s.course ? "course" : "b" + std::to_string(s.block);
  }
  return out;
}

TEST(Cmi5MoveOnTest, BlocksAndTheCourseWhenAllTheirChildrenAre) {
  // b0(b1(a0 Completed, a1 NotApplicable), a2 Passed), b2(a3
  // CompletedAndPassed), a4 NotApplicable
  const std::string remote = "https://content.example.org/au";
  const auto au = [&](int n, const char* moveOn) {
    return AuXml("https://example.org/au/" + std::to_string(n), remote,
                 std::string("moveOn=\"") + moveOn + "\"");
  };
  const Course course = ParseCourse(
      CourseXml(
          BlockXml("https://example.org/b/0",
                   BlockXml("https://example.org/b/1",
                            au(0, "Completed") + au(1, "NotApplicable")) +
                       au(2, "Passed")) +
          BlockXml("https://example.org/b/2", au(3, "CompletedAndPassed")) +
          au(4, "NotApplicable")),
      nullptr);
  const AuOutcome kNone{}, kCompleted{true}, kPassed{false, true},
      kBoth{true, true}, kWaived{false, false, false, true};
  const struct {
    const char* name;
    std::vector<AuOutcome> before, after;
    std::string satisfaction;  // after
    std::string newly;
  } cases[] = {
      {"registration: only NotApplicable AUs", {}, {}, "01001|000|0", ""},
      {"inner block first", {}, {kCompleted}, "11001|010|0", "b1"},
      {"outer block once its last AU is",
       {kCompleted},
       {kCompleted, kNone, kPassed},
       "11101|110|0",
       "b0"},
      {"both at once, inner first",
       {},
       {kCompleted, kNone, kPassed},
       "11101|110|0",
       "b1,b0"},
      {"the course last",
       {kCompleted, kNone, kPassed},
       {kCompleted, kNone, kPassed, kBoth},
       "11111|111|1",
       "b2,course"},
      {"waived counts as met",
       {},
       {kCompleted, kNone, kPassed, kWaived},
       "11111|111|1",
       "b1,b0,b2,course"},
      {"passed is not enough for CompletedAndPassed",
       {},
       {kCompleted, kNone, kPassed, kPassed},
       "11101|110|0",
       "b1,b0"},
      {"nothing new", {kCompleted}, {kCompleted}, "11001|010|0", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Satisfaction before = Evaluate(course, c.before);
    const Satisfaction after = Evaluate(course, c.after);
    EXPECT_EQ(Show(after), c.satisfaction);
    EXPECT_EQ(Show(NewlySatisfied(course, before, after)), c.newly);
  }
  // Before any registration nothing has been reported: the NotApplicable
  // course of one AU is satisfied at once.
  const Course single = ParseCourse(
      CourseXml(BlockXml("https://example.org/b/0", au(0, "NotApplicable"))),
      nullptr);
  EXPECT_EQ(Show(NewlySatisfied(single, {}, Evaluate(single, {}))),
            "b0,course");
}

}  // namespace
}  // namespace zept::cmi5::test
