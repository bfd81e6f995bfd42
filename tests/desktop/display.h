#pragma once
// What the desktop tests need around GTK: a private X server, the main loop
// turned until something happens, the X tools run as a user would, and the
// warnings GLib and GTK print.

#include <gtk/gtk.h>
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace zept::desktop::testing {

// An Xvfb of its own on a free display, with more of Xvfb's options,
// ended with the object; display() is ":N", or "" when it did not start.
class OwnXServer {
 public:
  explicit OwnXServer(const std::vector<std::string>& options = {});
  ~OwnXServer();
  OwnXServer(const OwnXServer&) = delete;
  OwnXServer& operator=(const OwnXServer&) = delete;
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// A display number no X server has: ":N".
std::string FreeDisplay();

// An X server that takes no client, on a free display: each connection is
// answered as a server with every client slot taken answers ("Maximum
// number of clients reached"), and counted.
class FullXServer {
 public:
  FullXServer();
  ~FullXServer();
  FullXServer(const FullXServer&) = delete;
  FullXServer& operator=(const FullXServer&) = delete;
  const std::string& display() const { return display_; }
  int refused() const { return refused_; }

 private:
  std::string display_, path_;
  int listener_ = -1;
  std::thread thread_;
  std::atomic<int> refused_{0};
};

// Every client slot of the X server at display taken, until release().
class XClientsTaken {
 public:
  explicit XClientsTaken(const std::string& display);
  ~XClientsTaken() { release(); }
  XClientsTaken(const XClientsTaken&) = delete;
  XClientsTaken& operator=(const XClientsTaken&) = delete;
  std::size_t count() const { return taken_.size(); }
  void release();

 private:
  std::vector<void*> taken_;  // Xlib's connections
};

// Starts a private Xvfb the first time it is called (or, without Xvfb, uses
// DISPLAY) and initialises GTK on it. "" when ready, otherwise why not.
std::string EnsureDisplay();

#define ZEPT_NEED_DISPLAY()                                            \
  do {                                                                 \
    const std::string why = ::zept::desktop::testing::EnsureDisplay(); \
    if (!why.empty()) GTEST_SKIP() << why;                             \
  } while (false)

// The critical and warning messages of GLib and GTK since the last call.
std::vector<std::string> TakeWarnings();

// Runs a command line through the shell; its standard output.
std::string RunCommand(const std::string& command, int* status = nullptr);
bool HaveProgram(const std::string& name);

// Turns the main loop for about ms milliseconds.
void PumpFor(int ms);
// Turns the main loop until done() holds; false after timeoutMs, which is
// long: what takes milliseconds may take seconds on a busy machine.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000);

// Runs steps on a thread of its own while the test's thread is in a
// dialog's nested loop; the destructor waits for it. A step is a command
// line run through the shell, or a condition the driver waits for (it runs
// on the driver's thread, so it only reads what the test's thread
// publishes). The first failing step ends the run: its status, or 124 for
// a condition not met within 30 s (a command is given 60 s).
class Driver {
 public:
  using Step = std::variant<std::string, std::function<bool()>>;
  explicit Driver(std::vector<Step> steps);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;
  int status() {
    wait();
    return status_;
  }
  void wait() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
  int status_ = -1;
};

// A window as the X server sees it (xwininfo).
struct XGeometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool viewable = false;
};
XGeometry Geometry(unsigned long xid);
unsigned long XidOf(GtkWidget* toplevel);
// The window's properties as xprop prints them.
std::string Properties(unsigned long xid);
// Sends WM_DELETE_WINDOW as a window manager's close button does.
bool SendCloseRequest(unsigned long xid);

// The screen as an RGB picture (ImageMagick's import); null on failure.
GdkPixbuf* Screenshot(const std::string& savedAs);
// Screenshots, turning the main loop between them, until shows accepts one
// (a frame may still be on its way); the last one taken, null on failure.
GdkPixbuf* ScreenshotWhen(const std::string& savedAs,
                          const std::function<bool(GdkPixbuf*)>& shows,
                          int timeoutMs = 20000);

// Shell commands for the driver: the test of a visible window titled
// title, and Return pressed until condition (a shell command) holds. A
// file chooser drops an Enter that comes while its field still looks for
// completions, and the field of another process cannot be watched, so each
// Enter is given two seconds to show its effect before the next.
std::string Visible(const std::string& title);
std::string ReturnUntil(const std::string& condition);
// Red, green and blue of a pixel.
struct Rgb {
  int r, g, b;
};
Rgb PixelAt(GdkPixbuf* picture, int x, int y);

}  // namespace zept::desktop::testing
