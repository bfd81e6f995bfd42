// The display at start-up: an X server that refuses is tried again, longer
// between each try, and the reason said is the server's own. zept itself
// is started on a busy server in package_window_test.cpp.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "desktop/open_display.h"
#include "tests/desktop/display.h"

namespace zept::desktop {
namespace {

using namespace testing;

TEST(RetryDisplay, WaitsLongerEachTimeAndGivesUpWithTheLastReason) {
  const struct {
    const char* name;
    std::vector<DisplayTry> tries;  // the last one again and again
    int stopAtPause;                // a quit signal in this pause, or -1
    const char* result;
    std::vector<int> pauses;
  } kCases[] = {
      {"opens at once", {{}}, -1, "", {}},
      {"busy twice", {{"full"}, {"full"}, {}}, -1, "", {50, 100}},
      {"never takes it",
       {{"refused"}},
       -1,
       "refused",
       {50, 100, 200, 400, 800, 450}},
      {"no display to wait for",
       {{"no such name", false}},
       -1,
       "no such name",
       {}},
      {"a quit signal while waiting", {{"refused"}}, 1, "refused", {50, 100}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    long long now = 0;
    std::size_t tried = 0;
    std::vector<int> pauses;
    const std::string result = RetryDisplay(
        [&] { return c.tries[std::min(tried++, c.tries.size() - 1)]; },
        {2000, 50, 800},
        [&](int ms) {
          pauses.push_back(ms);
          now += ms;
          return static_cast<int>(pauses.size()) - 1 != c.stopAtPause;
        },
        [&] { return now; });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(pauses, c.pauses);
  }
}

// DISPLAY set to value for the life of the object ("" unsets it).
class DisplayVariable {
 public:
  explicit DisplayVariable(const std::string& value) {
    if (const char* was = std::getenv("DISPLAY")) was_ = was;
    if (value.empty())
      ::unsetenv("DISPLAY");
    else
      ::setenv("DISPLAY", value.c_str(), 1);
  }
  ~DisplayVariable() {
    if (was_)
      ::setenv("DISPLAY", was_->c_str(), 1);
    else
      ::unsetenv("DISPLAY");
  }

 private:
  std::optional<std::string> was_;
};

TEST(ProbeXDisplay, SaysWhyTheServerTakesNoConnection) {
  ZEPT_NEED_DISPLAY();
  const FullXServer full;
  const std::string nobody = FreeDisplay();
  const struct {
    std::string display;
    std::string failure;  // the reason's start; "" when it connects
    bool retry;
  } kCases[] = {
      {"", "DISPLAY is not set", false},
      {"no-such-display", "DISPLAY=no-such-display names no display", false},
      {nobody, "cannot connect to the X server at " + nobody + ": ", true},
      {full.display(),
       "the X server at " + full.display() +
           " refused the connection: Maximum number of clients reached",
       true},
      {std::getenv("DISPLAY"), "", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.display);
    const DisplayVariable set(c.display);
    const DisplayTry probe = ProbeXDisplay();
    EXPECT_EQ(probe.failure.substr(0, c.failure.size()), c.failure)
        << probe.failure;
    EXPECT_EQ(probe.failure.empty(), c.failure.empty()) << probe.failure;
    EXPECT_EQ(probe.retry, c.retry);
  }
}

}  // namespace
}  // namespace zept::desktop
