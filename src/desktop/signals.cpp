#include "desktop/signals.h"

#include <glib-unix.h>
#include <signal.h>

#include <cstdio>
#include <exception>

namespace zept::desktop {

QuitSignals::QuitSignals(std::function<void()> onQuit)
    : onQuit_(std::move(onQuit)) {
  term_ = g_unix_signal_add(SIGTERM, OnSignal, this);
  hangup_ = g_unix_signal_add(SIGHUP, OnSignal, this);
}

QuitSignals::~QuitSignals() {
  g_source_remove(term_);
  g_source_remove(hangup_);
}

gboolean QuitSignals::OnSignal(gpointer self) {
  try {
    static_cast<QuitSignals*>(self)->onQuit_();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zept: error: %s\n", e.what());
  }
  // Kept, so a second signal while the program ends does not kill it.
  return G_SOURCE_CONTINUE;
}

std::unique_ptr<QuitSignals> InstallQuitSignals(std::function<void()> onQuit) {
  return std::make_unique<QuitSignals>(std::move(onQuit));
}

}  // namespace zept::desktop
