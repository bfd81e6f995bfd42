#include "desktop/open_display.h"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "desktop/signals.h"

namespace zept::desktop {

std::string RetryDisplay(const std::function<DisplayTry()>& attempt,
                         const DisplayWait& wait,
                         const std::function<bool(int ms)>& pause,
                         const std::function<long long()>& nowMs) {
  const long long until = nowMs() + wait.waitMs;
  int next = std::max(1, wait.firstPauseMs);
  for (;;) {
    const DisplayTry tried = attempt();
    if (tried.failure.empty()) return "";
    const long long left = until - nowMs();
    if (!tried.retry || left <= 0) return tried.failure;
    if (!pause(static_cast<int>(std::min<long long>(next, left))))
      return tried.failure;
    next = std::min(next * 2, std::max(next, wait.maxPauseMs));
  }
}

DisplayTry ProbeXDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return {"DISPLAY is not set", false};
  const std::string display = name;
  // xcb writes the server's own words for a refusal to standard error,
  // without an end of line: they are taken from there into the reason.
  int words[2] = {-1, -1};
  int saved = -1;
  std::fflush(stderr);
  if (::pipe2(words, O_CLOEXEC | O_NONBLOCK) == 0) {
    saved = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (saved >= 0) ::dup2(words[1], 2);
  }
  errno = 0;
  int screen = 0;
  xcb_connection_t* connection = xcb_connect(display.c_str(), &screen);
  const int error = xcb_connection_has_error(connection);
  const int cause = errno;
  xcb_disconnect(connection);
  std::string said;
  if (saved >= 0) {
    ::dup2(saved, 2);
    ::close(saved);
  }
  if (words[1] >= 0) ::close(words[1]);
  if (words[0] >= 0) {
    char buffer[512];
    ssize_t n;
    while (said.size() < 4096 &&
           (n = ::read(words[0], buffer, sizeof buffer)) > 0)
      said.append(buffer, static_cast<std::size_t>(n));
    ::close(words[0]);
  }
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r'))
    said.pop_back();
  switch (error) {
    case 0:
      return {};
    case XCB_CONN_CLOSED_PARSE_ERR:
      return {"DISPLAY=" + display + " names no display", false};
    case XCB_CONN_CLOSED_INVALID_SCREEN:
      return {"the X server at " + display + " has no such screen", false};
    default:
      break;
  }
  if (!said.empty())
    return {"the X server at " + display + " refused the connection: " + said};
  if (cause != 0)
    return {"cannot connect to the X server at " + display + ": " +
            std::strerror(cause)};
  return {"the X server at " + display + " closed the connection"};
}

std::string OpenGtkDisplay(int* argc, char*** argv, const DisplayWait& wait) {
  bool stopped = false;
  // The loop is turned while waiting: only the quit signals are on it yet.
  const auto pause = [&stopped](int ms) {
    const gint64 until = g_get_monotonic_time() + gint64{ms} * 1000;
    do {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      if (QuitSignalCame()) {
        stopped = true;
        return false;
      }
      g_usleep(5000);
    } while (g_get_monotonic_time() < until);
    return true;
  };
  const std::string failure = RetryDisplay(
      [argc, argv]() -> DisplayTry {
        // A failed gtk_init_check may be called again: GTK then only tries
        // to open its display anew.
        if (gtk_init_check(argc, argv)) return {};
        const char* x = std::getenv("DISPLAY");
        if (!x || !*x) return {"GTK cannot open the Wayland display"};
        // GTK does not say why; the X server tells a connection of ours.
        DisplayTry probe = ProbeXDisplay();
        if (probe.failure.empty())
          probe.failure = "GTK cannot open the display " + std::string(x) +
                          ", though its X server takes connections";
        return probe;
      },
      wait, pause, [] { return g_get_monotonic_time() / 1000; });
  return stopped ? "stopped" : failure;
}

}  // namespace zept::desktop
