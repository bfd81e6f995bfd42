#pragma once
// The display opened for GTK at start-up. An X server that is busy (its
// queue of new clients full, every client slot taken, a moment's refusal)
// is waited for a while rather than failing the learner at once; when it
// finally fails, the X server's reason is said.

#include <functional>
#include <string>

namespace zept::desktop {

// How long start-up waits: after each refused try the pause doubles, from
// firstPauseMs up to maxPauseMs, until waitMs have passed since the first.
struct DisplayWait {
  int waitMs = 10000;
  int firstPauseMs = 50;
  int maxPauseMs = 1000;
};

// One try to open the display: failure is "" when it opened; retry is
// false where trying again cannot help (DISPLAY is no display's name).
struct DisplayTry {
  std::string failure;
  bool retry = true;
};

// Tries until one opens, a try cannot be retried, the wait is over or
// pause(ms), which waits between tries, returns false (a quit signal came).
// nowMs is a monotonic clock. "" once a try opened, else the last failure.
std::string RetryDisplay(const std::function<DisplayTry()>& attempt,
                         const DisplayWait& wait,
                         const std::function<bool(int ms)>& pause,
                         const std::function<long long()>& nowMs);

// Why the X server DISPLAY names takes no connection now, from a
// connection of its own; "" when it takes one.
DisplayTry ProbeXDisplay();

// gtk_init_check, tried again as RetryDisplay does while the display
// refuses it. Between tries the main loop is turned, so that a quit signal
// that comes meanwhile is seen: then the wait ends with "stopped". "" when
// GTK has its display; otherwise why not, for a message.
std::string OpenGtkDisplay(int* argc, char*** argv,
                           const DisplayWait& wait = {});

}  // namespace zept::desktop
