#include "desktop/signals.h"

#include <glib-unix.h>
#include <signal.h>

#include <cstdio>
#include <exception>

namespace zept::desktop {

namespace {

// What CatchQuitSignals keeps; the main thread's only.
struct Caught {
  bool on = false;
  bool came = false;
  bool kept = false;  // came while no QuitSignals were installed
  QuitSignals* current = nullptr;
};

Caught& State() {
  static Caught caught;
  return caught;
}

gboolean OnCaught(gpointer) {
  Caught& caught = State();
  caught.came = true;
  if (caught.current)
    caught.current->quit();
  else
    caught.kept = true;
  return G_SOURCE_CONTINUE;
}

}  // namespace

void CatchQuitSignals() {
  Caught& caught = State();
  if (caught.on) return;
  caught.on = true;
  // GLib's handler replaces the default action at once; the sources stay
  // for the life of the program.
  g_unix_signal_add(SIGTERM, OnCaught, nullptr);
  g_unix_signal_add(SIGHUP, OnCaught, nullptr);
}

bool QuitSignalCame() { return State().came; }

QuitSignals::QuitSignals(std::function<void()> onQuit)
    : onQuit_(std::move(onQuit)) {
  Caught& caught = State();
  if (!caught.on) {
    term_ = g_unix_signal_add(SIGTERM, OnSignal, this);
    hangup_ = g_unix_signal_add(SIGHUP, OnSignal, this);
    return;
  }
  // The signals are caught already: these take them until they go, the
  // ones installed before them after that.
  outer_ = caught.current;
  caught.current = this;
  if (caught.kept) {
    caught.kept = false;
    kept_ = g_idle_add(
        [](gpointer self) -> gboolean {
          auto& signals = *static_cast<QuitSignals*>(self);
          signals.kept_ = 0;
          signals.quit();
          return G_SOURCE_REMOVE;
        },
        this);
  }
}

QuitSignals::~QuitSignals() {
  if (term_) g_source_remove(term_);
  if (hangup_) g_source_remove(hangup_);
  if (kept_) g_source_remove(kept_);
  Caught& caught = State();
  if (caught.current == this) caught.current = outer_;
}

void QuitSignals::quit() {
  try {
    onQuit_();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zept: error: %s\n", e.what());
  }
}

gboolean QuitSignals::OnSignal(gpointer self) {
  static_cast<QuitSignals*>(self)->quit();
  // Kept, so a second signal while the program ends does not kill it.
  return G_SOURCE_CONTINUE;
}

std::unique_ptr<QuitSignals> InstallQuitSignals(std::function<void()> onQuit) {
  return std::make_unique<QuitSignals>(std::move(onQuit));
}

}  // namespace zept::desktop
