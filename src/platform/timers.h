#pragma once
// One-shot timers. The desktop runs them on its main loop; headless runs,
// tests and fuzz targets use VirtualTimers, whose clock only moves when the
// loop fires the earliest timer, so runs are fast and repeatable.

#include <cstdint>
#include <functional>
#include <map>

namespace zept::platform {

class Timers {
 public:
  virtual ~Timers() = default;
  // Starts the one-shot timer id unless it is already running. The handler
  // runs on the main thread, with the timer already stopped.
  virtual void start(int id, int milliseconds,
                     std::function<void()> handler) = 0;
  virtual void stop(int id) = 0;
  virtual bool pending() const = 0;
};

// Timers on a virtual clock that the headless loop advances.
class VirtualTimers final : public Timers {
 public:
  void start(int id, int milliseconds, std::function<void()> handler) override {
    if (due_.count(id)) return;
    due_[id] = Entry{now_ + milliseconds, std::move(handler)};
  }
  void stop(int id) override { due_.erase(id); }
  bool pending() const override { return !due_.empty(); }
  std::int64_t now() const { return now_; }

  // Fires the earliest timer (stopping it first); false when none runs.
  bool fireEarliest() {
    if (due_.empty()) return false;
    auto earliest = due_.begin();
    for (auto it = due_.begin(); it != due_.end(); ++it) {
      if (it->second.at < earliest->second.at) earliest = it;
    }
    now_ = std::max(now_, earliest->second.at);
    std::function<void()> handler = std::move(earliest->second.handler);
    due_.erase(earliest);
    handler();
    return true;
  }

 private:
  struct Entry {
    std::int64_t at;
    std::function<void()> handler;
  };
  std::int64_t now_ = 0;
  std::map<int, Entry> due_;
};

}  // namespace zept::platform
