#pragma once
// One-shot timers on a virtual clock: the headless event loop fires the
// earliest at once when nothing else can happen, so runs are fast and
// repeatable.

#include <cstdint>
#include <functional>
#include <map>

namespace zept::platform {

class Timers {
 public:
  // Starts the timer id unless it is already running.
  void start(int id, int milliseconds, std::function<void()> handler) {
    if (due_.count(id)) return;
    due_[id] = Entry{now_ + milliseconds, std::move(handler)};
  }
  void stop(int id) { due_.erase(id); }
  bool pending() const { return !due_.empty(); }
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
