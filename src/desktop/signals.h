#pragma once
// SIGTERM and SIGHUP end the program the way closing the window does, on
// the main loop rather than inside the signal handler.

#include <glib.h>

#include <functional>
#include <memory>

namespace zept::desktop {

// Catches SIGTERM and SIGHUP from now until the program ends, so that start-
// up, which takes seconds on a busy machine, is never cut short by their
// default action: a signal that comes while no QuitSignals are installed is
// kept, and given to the next ones installed. Called once, first thing, by
// a program that installs QuitSignals later.
void CatchQuitSignals();

// Whether SIGTERM or SIGHUP has come since CatchQuitSignals, as far as the
// main loop has seen (a caller waiting without it turns the loop).
bool QuitSignalCame();

// Keeps the handlers installed; destroying it removes them (the signals'
// default action comes back, unless CatchQuitSignals keeps them caught).
class QuitSignals {
 public:
  explicit QuitSignals(std::function<void()> onQuit);
  ~QuitSignals();
  QuitSignals(const QuitSignals&) = delete;
  QuitSignals& operator=(const QuitSignals&) = delete;

  void quit();

 private:
  static gboolean OnSignal(gpointer self);
  std::function<void()> onQuit_;
  guint term_ = 0, hangup_ = 0;
  // A signal kept from before, given on the main loop.
  guint kept_ = 0;
  QuitSignals* outer_ = nullptr;
};

// onQuit runs on the main loop for each SIGTERM or SIGHUP received, and
// once for one CatchQuitSignals kept before.
[[nodiscard]] std::unique_ptr<QuitSignals> InstallQuitSignals(
    std::function<void()> onQuit);

}  // namespace zept::desktop
