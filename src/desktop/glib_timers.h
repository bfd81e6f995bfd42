#pragma once
// One-shot timers as GLib timeouts on the main loop.

#include <glib.h>

#include <exception>
#include <functional>
#include <map>

#include "platform/timers.h"

namespace zept::desktop {

class GLibTimers final : public platform::Timers {
 public:
  GLibTimers() = default;
  ~GLibTimers() override;
  GLibTimers(const GLibTimers&) = delete;
  GLibTimers& operator=(const GLibTimers&) = delete;

  void start(int id, int milliseconds, std::function<void()> handler) override;
  void stop(int id) override;
  bool pending() const override { return !running_.empty(); }

  // While held (the program waits in a nested loop), a timer that falls due
  // is put off by kHeldRetry milliseconds again and again instead of firing.
  void setHeld(bool held) { held_ = held; }
  bool held() const { return held_; }
  static constexpr int kHeldRetry = 10;

  // An exception leaving a handler; unset, it is written to standard error.
  std::function<void(const std::exception&)> onError;

 private:
  struct Due;
  static gboolean Fire(gpointer due);
  void arm(int id, int milliseconds);

  struct Entry {
    guint source = 0;
    std::function<void()> handler;
  };
  std::map<int, Entry> running_;
  bool held_ = false;
};

}  // namespace zept::desktop
