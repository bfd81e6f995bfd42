#include "tests/desktop/display.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <gdk/gdkx.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sstream>

namespace zept::desktop::testing {
namespace {

std::mutex warningsLock;
std::vector<std::string> warnings;

GLogWriterOutput RecordWarnings(GLogLevelFlags level, const GLogField* fields,
                                gsize count, gpointer) {
  if (level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) {
    std::string domain, message;
    for (gsize i = 0; i < count; ++i) {
      const std::string key = fields[i].key;
      const char* value = static_cast<const char*>(fields[i].value);
      if (!value) continue;
      const std::string text = fields[i].length < 0
                                   ? std::string(value)
                                   : std::string(value, fields[i].length);
      if (key == "GLIB_DOMAIN") domain = text;
      if (key == "MESSAGE") message = text;
    }
    std::lock_guard<std::mutex> hold(warningsLock);
    warnings.push_back(domain + ": " + message);
  }
  return g_log_writer_default(level, fields, count, nullptr);
}

std::string Prepare() {
  g_log_set_writer_func(RecordWarnings, nullptr, nullptr);
  // Nothing of the user's desktop session is reached: no accessibility
  // bus, no settings daemon, no file-system daemons, no recent files.
  char scratch[] = "/tmp/zept-desktop-XXXXXX";
  if (!::mkdtemp(scratch)) return "cannot make a scratch folder";
  for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                           "XDG_RUNTIME_DIR", "HOME"})
    ::setenv(name, scratch, 1);
  ::setenv("NO_AT_BRIDGE", "1", 1);
  ::setenv("GSETTINGS_BACKEND", "memory", 1);
  ::setenv("GIO_USE_VFS", "local", 1);
  ::setenv("GIO_USE_VOLUME_MONITOR", "unix", 1);
  ::setenv("GDK_BACKEND", "x11", 1);
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");

  if (HaveProgram("Xvfb")) {
    // Ended with the test program.
    static OwnXServer shared;
    if (shared.display().empty()) return "Xvfb did not start";
    ::setenv("DISPLAY", shared.display().c_str(), 1);
  } else if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY")) {
    return "no display: DISPLAY is not set and Xvfb is not installed";
  }
  if (!gtk_init_check(nullptr, nullptr)) return "GTK cannot open the display";
  return "";
}

}  // namespace

OwnXServer::OwnXServer(const std::vector<std::string>& options) {
  int fds[2];
  if (::pipe(fds) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::close(fds[0]);
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    // -displayfd picks a free display number and reports it when ready;
    // the root window is white.
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args = {"Xvfb", "-displayfd",   fd,    "-screen",
                                     "0",    "1280x1024x24", "-wr", "-nolisten",
                                     "tcp",  "-noreset"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execvp("Xvfb", argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string number;
  char c;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (pid_ > 0 && !number.empty()) display_ = ":" + number;
}

OwnXServer::~OwnXServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string FreeDisplay() {
  for (int n = 500 + ::getpid() % 400;; ++n) {
    const std::string number = std::to_string(n);
    std::error_code error;
    if (!std::filesystem::exists("/tmp/.X11-unix/X" + number, error) &&
        !std::filesystem::exists("/tmp/.X" + number + "-lock", error))
      return ":" + number;
  }
}

namespace {

// The client's setup request is read (its two authorization strings
// padded to 4 bytes), then answered Failed with the server's reason.
void Refuse(int client) {
  unsigned char head[12];
  if (::recv(client, head, sizeof head, MSG_WAITALL) != sizeof head) return;
  const bool big = head[0] == 'B';
  const auto card16 = [&](int at) {
    return big ? head[at] << 8 | head[at + 1] : head[at] | head[at + 1] << 8;
  };
  const std::size_t rest = (card16(6) + 3) / 4 * 4 + (card16(8) + 3) / 4 * 4;
  std::vector<char> skip(rest);
  if (rest && ::recv(client, skip.data(), rest, MSG_WAITALL) < 0) return;
  const std::string reason = "Maximum number of clients reached";
  const int units = static_cast<int>((reason.size() + 3) / 4);
  std::string reply(8, '\0');
  reply[1] = static_cast<char>(reason.size());
  reply[big ? 3 : 2] = 11;  // the protocol's major version
  reply[big ? 7 : 6] = static_cast<char>(units);
  reply += reason;
  reply.resize(8 + units * 4, '\0');
  ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
}

}  // namespace

FullXServer::FullXServer() : display_(FreeDisplay()) {
  path_ = "/tmp/.X11-unix/X" + display_.substr(1);
  std::error_code error;
  std::filesystem::create_directories("/tmp/.X11-unix", error);
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address),
             sizeof address) != 0 ||
      ::listen(listener_, 16) != 0)
    return;
  thread_ = std::thread([this] {
    for (int client; (client = ::accept(listener_, nullptr, nullptr)) >= 0;) {
      Refuse(client);
      ::close(client);
      ++refused_;
    }
  });
}

FullXServer::~FullXServer() {
  ::shutdown(listener_, SHUT_RDWR);  // ends the accept
  if (thread_.joinable()) thread_.join();
  ::close(listener_);
  ::unlink(path_.c_str());
}

XClientsTaken::XClientsTaken(const std::string& display) {
  // The refusal that ends it, Xlib says on standard error.
  while (Display* x = XOpenDisplay(display.c_str())) taken_.push_back(x);
}

void XClientsTaken::release() {
  for (void* x : taken_) XCloseDisplay(static_cast<Display*>(x));
  taken_.clear();
}

std::string EnsureDisplay() {
  static const std::string why = Prepare();
  return why;
}

std::vector<std::string> TakeWarnings() {
  std::lock_guard<std::mutex> hold(warningsLock);
  std::vector<std::string> taken;
  taken.swap(warnings);
  return taken;
}

std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    if (status) *status = -1;
    return out;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    out.append(buffer, n);
  const int rc = ::pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

bool HaveProgram(const std::string& name) {
  int status = 0;
  RunCommand("command -v " + name + " >/dev/null 2>&1", &status);
  return status == 0;
}

void PumpFor(int ms) {
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  return true;
}

Driver::Driver(std::vector<Step> steps) {
  // Windows destroyed before (the last dialog) are gone from the server
  // before the driver looks for the next one.
  if (GdkDisplay* display = gdk_display_get_default())
    gdk_display_sync(display);
  thread_ = std::thread([this, steps = std::move(steps)] {
    for (const Step& step : steps) {
      if (const auto* command = std::get_if<std::string>(&step)) {
        // A dialog that never shows must not hang the test; a window that
        // waits on the emulator's compilation under the sanitizers on a
        // busy machine may take most of a minute.
        RunCommand("timeout 60 sh -c '" + *command + "'", &status_);
        if (status_ != 0) return;
        continue;
      }
      const auto& condition = std::get<std::function<bool()>>(step);
      const auto end =
          std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
          status_ = 124;
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    status_ = 0;
  });
}

Driver::~Driver() { wait(); }

XGeometry Geometry(unsigned long xid) {
  XGeometry g;
  std::istringstream lines(RunCommand("xwininfo -id " + std::to_string(xid)));
  std::string line;
  auto value = [&line](const char* label, int& out) {
    const std::size_t at = line.find(label);
    if (at != std::string::npos)
      out = std::atoi(line.c_str() + at + std::strlen(label));
  };
  while (std::getline(lines, line)) {
    value("Absolute upper-left X:", g.x);
    value("Absolute upper-left Y:", g.y);
    value("Width:", g.width);
    value("Height:", g.height);
    if (line.find("Map State: IsViewable") != std::string::npos)
      g.viewable = true;
  }
  return g;
}

unsigned long XidOf(GtkWidget* toplevel) {
  GdkWindow* window = gtk_widget_get_window(toplevel);
  return window ? gdk_x11_window_get_xid(window) : 0;
}

std::string Properties(unsigned long xid) {
  return RunCommand("xprop -id " + std::to_string(xid));
}

bool SendCloseRequest(unsigned long xid) {
  Display* display = XOpenDisplay(nullptr);  // a client of its own
  if (!display) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = xid;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] =
      static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, xid, False, NoEventMask, &event);
  XCloseDisplay(display);  // flushes
  return true;
}

GdkPixbuf* Screenshot(const std::string& savedAs) {
  int status = 0;
  RunCommand("import -window root png:" + savedAs + " 2>&1", &status);
  if (status != 0) return nullptr;
  return gdk_pixbuf_new_from_file(savedAs.c_str(), nullptr);
}

GdkPixbuf* ScreenshotWhen(const std::string& savedAs,
                          const std::function<bool(GdkPixbuf*)>& shows,
                          int timeoutMs) {
  GdkPixbuf* last = nullptr;
  PumpUntil(
      [&] {
        if (last) g_object_unref(last);
        last = Screenshot(savedAs);
        return last && shows(last);
      },
      timeoutMs);
  return last;
}

std::string Visible(const std::string& title) {
  return "xdotool search --onlyvisible --name \"^" + title + "$\" >/dev/null";
}

std::string ReturnUntil(const std::string& condition) {
  return "for t in 1 2 3 4 5; do xdotool key Return; for i in $(seq 40); do " +
         condition + " && exit 0; sleep 0.05; done; done; exit 1";
}

Rgb PixelAt(GdkPixbuf* picture, int x, int y) {
  const guchar* p = gdk_pixbuf_get_pixels(picture) +
                    y * gdk_pixbuf_get_rowstride(picture) +
                    x * gdk_pixbuf_get_n_channels(picture);
  return Rgb{p[0], p[1], p[2]};
}

}  // namespace zept::desktop::testing
