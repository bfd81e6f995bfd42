#include "desktop/glib_timers.h"

#include <cstdio>

namespace zept::desktop {

// What a GLib source carries back to Fire.
struct GLibTimers::Due {
  GLibTimers* timers;
  int id;
};

GLibTimers::~GLibTimers() {
  for (auto& [id, entry] : running_) g_source_remove(entry.source);
}

void GLibTimers::start(int id, int milliseconds,
                       std::function<void()> handler) {
  if (running_.count(id)) return;
  running_[id].handler = std::move(handler);
  arm(id, milliseconds);
}

void GLibTimers::arm(int id, int milliseconds) {
  running_[id].source = g_timeout_add_full(
      G_PRIORITY_DEFAULT,
      static_cast<guint>(milliseconds < 0 ? 0 : milliseconds), Fire,
      new Due{this, id}, [](gpointer due) { delete static_cast<Due*>(due); });
}

void GLibTimers::stop(int id) {
  auto it = running_.find(id);
  if (it == running_.end()) return;
  g_source_remove(it->second.source);
  running_.erase(it);
}

gboolean GLibTimers::Fire(gpointer data) {
  const Due due = *static_cast<Due*>(data);
  GLibTimers& self = *due.timers;
  auto it = self.running_.find(due.id);
  if (it == self.running_.end()) return G_SOURCE_REMOVE;
  if (self.held_) {
    self.arm(due.id, kHeldRetry);
    return G_SOURCE_REMOVE;
  }
  // Stopped before its handler runs, so the handler may start it again.
  std::function<void()> handler = std::move(it->second.handler);
  self.running_.erase(it);
  try {
    handler();
  } catch (const std::exception& e) {
    if (self.onError)
      self.onError(e);
    else
      std::fprintf(stderr, "zept: error: %s\n", e.what());
  }
  return G_SOURCE_REMOVE;
}

}  // namespace zept::desktop
