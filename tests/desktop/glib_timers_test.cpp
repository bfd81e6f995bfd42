#include "desktop/glib_timers.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <stdexcept>

#include "desktop/signals.h"
#include "tests/desktop/display.h"

namespace zept::desktop {
namespace {

using namespace testing;
using Clock = std::chrono::steady_clock;

int MillisecondsSince(Clock::time_point start) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                              Clock::now() - start)
                              .count());
}

TEST(GLibTimers, OneShotNotRestartedWhileRunningAndStoppable) {
  GLibTimers timers;
  std::vector<std::string> fired;
  const auto start = Clock::now();
  int firstAfter = 0;
  timers.start(1, 30, [&] {
    fired.push_back("first");
    firstAfter = MillisecondsSince(start);
  });
  timers.start(1, 1, [&] { fired.push_back("ignored"); });  // running
  timers.start(2, 10, [&] { fired.push_back("stopped"); });
  timers.stop(2);
  timers.stop(7);  // never started
  EXPECT_TRUE(timers.pending());
  EXPECT_TRUE(PumpUntil([&] { return !timers.pending(); }, 10000));
  PumpFor(40);
  EXPECT_EQ(fired, std::vector<std::string>{"first"});
  EXPECT_GE(firstAfter, 30);
}

TEST(GLibTimers, AHandlerMayStartItsOwnTimerAgain) {
  GLibTimers timers;
  int ticks = 0;
  std::function<void()> tick = [&] {
    EXPECT_FALSE(timers.pending());  // stopped before the handler runs
    if (++ticks < 3) timers.start(1, 5, tick);
  };
  timers.start(1, 5, tick);
  EXPECT_TRUE(PumpUntil([&] { return ticks == 3; }, 10000));
  PumpFor(20);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(timers.pending());
}

TEST(GLibTimers, HeldTimersWaitUntilReleased) {
  GLibTimers timers;
  bool fired = false;
  timers.setHeld(true);
  timers.start(1, 5, [&] { fired = true; });
  PumpFor(60);
  EXPECT_FALSE(fired);
  EXPECT_TRUE(timers.pending());
  timers.setHeld(false);
  EXPECT_TRUE(PumpUntil([&] { return fired; }, 10000));
  // Held and then stopped: it never fires.
  fired = false;
  timers.setHeld(true);
  timers.start(1, 1, [&] { fired = true; });
  PumpFor(30);
  timers.stop(1);
  timers.setHeld(false);
  PumpFor(30);
  EXPECT_FALSE(fired);
}

TEST(GLibTimers, ErrorsAreReportedAndDestructionCancels) {
  std::string error;
  {
    GLibTimers timers;
    timers.onError = [&](const std::exception& e) { error = e.what(); };
    timers.start(1, 1, [] { throw std::runtime_error("handler failed"); });
    EXPECT_TRUE(PumpUntil([&] { return !error.empty(); }, 10000));
    timers.start(2, 5, [] { ADD_FAILURE() << "fired after destruction"; });
  }
  EXPECT_EQ(error, "handler failed");
  PumpFor(30);
}

TEST(QuitSignals, TermAndHangupRunOnTheMainLoop) {
  std::vector<int> quits;
  auto guard = InstallQuitSignals([&] { quits.push_back(1); });
  ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
  EXPECT_TRUE(quits.empty());  // not inside the signal handler
  EXPECT_TRUE(PumpUntil([&] { return quits.size() == 1; }, 10000));
  ASSERT_EQ(::kill(::getpid(), SIGHUP), 0);
  EXPECT_TRUE(PumpUntil([&] { return quits.size() == 2; }, 10000));
}

// Once caught for the whole run, a signal that comes while no handlers are
// installed is kept for the next ones, once, and never ends the program.
TEST(QuitSignals, ASignalBeforeTheHandlersIsKeptForThem) {
  CatchQuitSignals();
  ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
  EXPECT_TRUE(PumpUntil([] { return QuitSignalCame(); }, 10000));
  std::vector<int> quits;
  {
    auto first = InstallQuitSignals([&] { quits.push_back(1); });
    EXPECT_TRUE(quits.empty());  // given on the main loop
    EXPECT_TRUE(PumpUntil([&] { return quits.size() == 1; }, 10000));
    ASSERT_EQ(::kill(::getpid(), SIGHUP), 0);
    EXPECT_TRUE(PumpUntil([&] { return quits.size() == 2; }, 10000));
  }
  auto second = InstallQuitSignals([&] { quits.push_back(2); });
  PumpFor(50);
  EXPECT_EQ(quits, (std::vector<int>{1, 1}));  // nothing kept twice
}

}  // namespace
}  // namespace zept::desktop
