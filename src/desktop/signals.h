#pragma once
// SIGTERM and SIGHUP end the program the way closing the window does, on
// the main loop rather than inside the signal handler.

#include <glib.h>

#include <functional>
#include <memory>

namespace zept::desktop {

// Keeps the handlers installed; destroying it removes them (the signals'
// default action comes back).
class QuitSignals {
 public:
  explicit QuitSignals(std::function<void()> onQuit);
  ~QuitSignals();
  QuitSignals(const QuitSignals&) = delete;
  QuitSignals& operator=(const QuitSignals&) = delete;

 private:
  static gboolean OnSignal(gpointer self);
  std::function<void()> onQuit_;
  guint term_ = 0, hangup_ = 0;
};

// onQuit runs on the main loop for each SIGTERM or SIGHUP received.
[[nodiscard]] std::unique_ptr<QuitSignals> InstallQuitSignals(
    std::function<void()> onQuit);

}  // namespace zept::desktop
