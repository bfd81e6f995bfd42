// The desktop player as a learner meets it, timed from outside: build/zept
// started on a copy of the demo course whose movies are made here, played
// by the Flash emulator in its window. Three figures, each the median of
// several runs, printed with their targets:
//   start-up     zept started, window mapped, menu movie's first frame,
//                beside a bare WebKitGTK page playing the same movie with
//                the same emulator files (bench/bare_page.cpp), the two
//                started in turn;
//   round trip   one ExternalInterface call of the menu movie, answered,
//                once the emulator's code has been optimised (and, for
//                comparison, in the first calls after start-up);
//   memory       resident size of zept and every process under it once the
//                menu has opened a unit whose movie stays (the menu movie
//                is freed when a unit opens).
// Not a test: nothing fails, the figures are for people to read. Runs on
// DISPLAY, or on an Xvfb of its own (on a free display) when it is unset.
//
//   build/bench/zept_window_bench [--runs N] [--only start|calls|memory]
//                                 [--env NAME=VALUE]...

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "swf/avm1.h"
#include "swf/swf.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using zept::swf::Assembler;
using zept::swf::MovieWriter;

constexpr double kStartTargetMs = 1000;
constexpr double kWindowTargetMs = 500;
// zept's first frame against the bare page's.
constexpr double kFloorRatio = 1.1;
constexpr double kRoundTripTargetMs = 0.5;
constexpr double kMemoryTargetMb = 400;
constexpr int kCalls = 2000;
constexpr int kTimeoutMs = 30000;

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// ---------------------------------------------------------------- display

// An Xvfb of this program's own, ended with it.
struct Xvfb {
  pid_t pid = -1;
  ~Xvfb() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }
  // Starts it on a free display (-displayfd) and sets DISPLAY; false when
  // it does not start.
  bool start() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::close(fds[0]);
      const int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
      const std::string fd = std::to_string(fds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0",
               "1280x1024x24", "-nolisten", "tcp", "-noreset", nullptr);
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (pid < 0 || number.empty()) return false;
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
  }
};

// Sees top-level windows being mapped, as the X server reports them.
class MapWatch {
 public:
  MapWatch() : display_(XOpenDisplay(nullptr)) {
    // A window may be gone before it is looked at; that is no reason to end.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    if (display_)
      XSelectInput(display_, DefaultRootWindow(display_),
                   SubstructureNotifyMask);
  }
  ~MapWatch() {
    if (display_) XCloseDisplay(display_);
  }
  bool ok() const { return display_ != nullptr; }
  int fd() const { return ConnectionNumber(display_); }
  // Forgets the events so far.
  void reset() { XSync(display_, True); }
  // Reads the events that came; true when a window of process pid (itself
  // or, under a window manager, inside the frame that was mapped) is shown.
  bool mappedBy(pid_t pid) {
    bool mapped = false;
    while (XPending(display_)) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == MapNotify && !event.xmap.override_redirect &&
          ownedBy(event.xmap.window, pid, 2))
        mapped = true;
    }
    return mapped;
  }

 private:
  bool ownedBy(Window window, pid_t pid, int depth) {
    const Atom property = XInternAtom(display_, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    bool owned = false;
    if (XGetWindowProperty(display_, window, property, 0, 1, False, XA_CARDINAL,
                           &type, &format, &count, &after, &data) == Success &&
        data && count == 1 && format == 32)
      owned =
          static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data)) == pid;
    if (data) XFree(data);
    if (owned || depth == 0) return owned;
    Window root, parent, *children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(display_, window, &root, &parent, &children, &n)) {
      for (unsigned int i = 0; i < n && !owned; ++i)
        owned = ownedBy(children[i], pid, depth - 1);
      if (children) XFree(children);
    }
    return owned;
  }

  Display* display_;
};

// ---------------------------------------------------------------- courses

// The demo course copied into folder, with menu as its menu movie and
// course, when given, as SCO 1's movie.
fs::path MakeCourse(const fs::path& folder, const MovieWriter& menu,
                    const std::optional<MovieWriter>& course = {}) {
  const fs::path copy = folder / "course";
  fs::copy(ZEPT_SOURCE_DIR "/examples/demo-course", copy,
           fs::copy_options::recursive);
  std::ofstream(copy / "cdrom/cdrom.swf", std::ios::binary) << menu.bytes(true);
  if (course)
    std::ofstream(copy / "SCO_0001/player.swf", std::ios::binary)
        << course->bytes(false);
  return copy;
}

// Frame 1 says so and stops.
MovieWriter FirstFrameMenu() {
  MovieWriter movie(640, 480, 30, {0x20, 0x60, 0xA0});
  Assembler a;
  a.fscommand("firstFrame", "").stop();
  movie.doAction(a);
  movie.showFrame();
  return movie;
}

// Frames 1 to kPasses each call a cheap menu command kCalls times through
// ExternalInterface and report the milliseconds it took by fscommand
// "callsN". The first pass runs while the emulator's code is still being
// optimised (a compiler thread shares the machine with the calls), the
// last one once that has settled.
constexpr int kPasses = 3;
MovieWriter RoundTripMenu() {
  MovieWriter movie(640, 480, 30, {0x20, 0x60, 0xA0});
  for (int pass = 1; pass <= kPasses; ++pass) {
    Assembler a;
    a.pushString("n").pushInt(0).setVariable();
    a.pushString("t0").getTime().setVariable();
    const Assembler::Label loop = a.newLabel();
    a.bind(loop);
    a.pushString("10").callExternal("SetTrackHistory", 1).pop();
    a.pushString("n").pushString("n").getVariable().increment().setVariable();
    a.pushString("n").getVariable().pushInt(kCalls).less2().ifTrue(loop);
    a.pushString("FSCommand:calls" + std::to_string(pass))
        .getTime()
        .pushString("t0")
        .getVariable()
        .subtract()
        .getUrl2(0, false, false);
    if (pass == kPasses) a.stop();
    movie.doAction(a);
    movie.showFrame();
  }
  return movie;
}

// A learner logs in and opens SCO 1, whose movie stays and says "ready".
MovieWriter LoginMenu() {
  MovieWriter movie(640, 480, 30, {0x20, 0x60, 0xA0});
  movie.placeObject(
      movie.defineRectangle({40, 40, 200, 100}, {0xE0, 0xE0, 0xE0}), 1);
  Assembler a;
  a.fscommand("SetTrackMode", "file");
  a.fscommand("SetTrackPath", "[$APPLICATION]\\tracking");
  a.fscommand("SetTrackingId", "demo-course");
  a.pushString("anna;secret").callExternal("AddUser", 1).pop();
  a.fscommand("SetLogin", "anna");
  a.fscommand("LMSLoad", "");
  a.fscommand("LMSInitialize", "");
  a.fscommand("GoToSCO", "1");
  a.stop();
  movie.doAction(a);
  movie.showFrame();
  return movie;
}

MovieWriter StayingCourse() {
  MovieWriter movie(800, 600, 30, {0xF0, 0xC0, 0x20});
  movie.placeObject(movie.defineRectangle({0, 0, 200, 200}, {0x20, 0x80, 0x40}),
                    1, 300, 200);
  Assembler a;
  a.pushString("cmi.core.lesson_location;page 1")
      .callExternal("LMSSetValue", 1)
      .pop();
  a.fscommand("ready", "").stop();
  movie.doAction(a);
  movie.showFrame();
  return movie;
}

// ---------------------------------------------------------------- zept

// zept started on a course, its standard output read as it comes.
class Zept {
 public:
  Zept(const fs::path& scratch, const fs::path& course)
      : Zept(scratch, {ZEPT_BINARY, "--program-folder", course.string()}) {}
  // Any program, started the same way (the bare page).
  Zept(const fs::path& scratch, const std::vector<std::string>& command) {
    fs::create_directories(scratch / "home");
    fs::create_directories(scratch / "registry");
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("no pipe");
    started_ = Clock::now();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      ::dup2(fds[1], 1);
      const int err = ::open((scratch / "stderr").c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(err, 2);
      ::setenv("HOME", (scratch / "home").c_str(), 1);
      ::setenv("ZEPT_REGISTRY_DIR", (scratch / "registry").c_str(), 1);
      ::setenv("NO_AT_BRIDGE", "1", 1);
      std::vector<char*> args;
      for (const std::string& arg : command)
        args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~Zept() { stop(); }

  pid_t pid() const { return pid_; }
  Clock::time_point started() const { return started_; }
  const std::string& output() const { return text_; }

  // Reads the output (and the X events of watch) until a line starting
  // with marker has come; when it came, or nothing after kTimeoutMs. Sets
  // *mapped to when zept's window was mapped, if it was meanwhile.
  std::optional<Clock::time_point> waitFor(
      const std::string& marker, MapWatch* watch = nullptr,
      std::optional<Clock::time_point>* mapped = nullptr) {
    const auto end = started_ + std::chrono::milliseconds(kTimeoutMs);
    for (;;) {
      if (const std::size_t at = find(marker); at != std::string::npos) {
        searched_ = at + marker.size();
        return seen_;
      }
      const auto now = Clock::now();
      if (now > end || out_ < 0) return std::nullopt;
      pollfd fds[2] = {{out_, POLLIN, 0},
                       {watch ? watch->fd() : -1, POLLIN, 0}};
      ::poll(fds, 2, 50);
      const auto when = Clock::now();
      if (watch && watch->mappedBy(pid_) && mapped && !*mapped) *mapped = when;
      if (fds[0].revents & (POLLIN | POLLHUP)) {
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) {
          ::close(out_);
          out_ = -1;
        } else {
          text_.append(buffer, static_cast<std::size_t>(n));
          seen_ = when;
        }
      }
    }
  }
  // The text after marker up to the line's end (call after waitFor).
  std::string after(const std::string& marker) const {
    const std::size_t at = text_.rfind(marker);
    if (at == std::string::npos) return "";
    const std::size_t from = at + marker.size();
    return text_.substr(from, text_.find('\n', from) - from);
  }

  // Ends zept (SIGTERM, as a log-out would) and waits until it and every
  // process it started are gone, so that the next run starts on a quiet
  // machine.
  void stop();

 private:
  std::size_t find(const std::string& marker) const {
    for (std::size_t at = text_.find(marker, searched_);
         at != std::string::npos; at = text_.find(marker, at + 1)) {
      if (at == 0 || text_[at - 1] == '\n') {
        if (text_.find('\n', at) != std::string::npos) return at;
      }
    }
    return std::string::npos;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string text_;
  std::size_t searched_ = 0;
  Clock::time_point started_;
  Clock::time_point seen_;
};

// Every process under pid, by its parent's id in /proc/N/stat.
std::vector<pid_t> Descendants(pid_t pid) {
  std::vector<std::pair<pid_t, pid_t>> parents;  // (pid, ppid)
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat;
    std::getline(in, stat);
    // The command name may hold spaces and parentheses: fields follow the
    // last ')'.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state;
    int ppid;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2)
      parents.emplace_back(std::stoi(name), ppid);
  }
  std::vector<pid_t> found;
  std::set<pid_t> level = {pid};
  while (!level.empty()) {
    std::set<pid_t> next;
    for (const auto& [child, parent] : parents)
      if (level.count(parent)) next.insert(child);
    found.insert(found.end(), next.begin(), next.end());
    level = std::move(next);
  }
  return found;
}

bool Alive(pid_t pid) { return ::kill(pid, 0) == 0; }

void Zept::stop() {
  if (pid_ <= 0) return;
  const std::vector<pid_t> children = Descendants(pid_);
  ::kill(pid_, SIGTERM);
  bool ended = false;
  for (int waited = 0; waited < 10000 && !ended; waited += 20) {
    ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!ended) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  // The web processes end when their connection to zept closes.
  for (const pid_t child : children) {
    for (int waited = 0; waited < 5000 && Alive(child); waited += 20)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (Alive(child)) ::kill(child, SIGKILL);
  }
  if (out_ >= 0) ::close(out_);
  out_ = -1;
  pid_ = -1;
}

// A field of /proc/PID/status or smaps_rollup in kB; 0 when missing.
long KbOf(const fs::path& file, const std::string& field) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, field.size() + 1, field + ":") == 0)
      return std::atol(line.c_str() + field.size() + 1);
  return 0;
}

std::string CommandName(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// ---------------------------------------------------------------- figures

struct Figure {
  std::string name, unit;
  double target;
  std::vector<double> values;

  void print() const {
    if (values.empty()) {
      std::printf("%-34s no value: every run failed\n", name.c_str());
      return;
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    std::printf("%-34s median %8.3f %s (min %.3f, max %.3f, %zu runs)",
                name.c_str(), median, unit.c_str(), sorted.front(),
                sorted.back(), sorted.size());
    if (target > 0)
      std::printf("  target <= %g: %s", target,
                  median <= target ? "met" : "MISSED");
    std::printf("\n");
  }
};

// A fresh scratch folder for one run, removed with it.
struct Scratch {
  fs::path path;
  Scratch() {
    char pattern[] = "/tmp/zept-window-bench-XXXXXX";
    path = ::mkdtemp(pattern);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

void Fail(const char* what, const Zept& zept, const fs::path& scratch) {
  std::string err;
  std::ifstream in(scratch / "stderr");
  std::getline(in, err, '\0');
  std::fprintf(stderr, "run failed: %s\n--- output\n%s--- errors\n%s\n", what,
               zept.output().c_str(), err.c_str());
}

void StartUp(MapWatch& watch, Figure& total, Figure& beforeWindow,
             Figure& windowToFrame) {
  Scratch scratch;
  const fs::path course = MakeCourse(scratch.path, FirstFrameMenu());
  watch.reset();
  Zept zept(scratch.path, course);
  std::optional<Clock::time_point> mapped;
  const auto frame = zept.waitFor("firstFrame : ", &watch, &mapped);
  if (frame && !mapped && watch.mappedBy(zept.pid())) mapped = Clock::now();
  if (!frame) return Fail("no first frame", zept, scratch.path);
  total.values.push_back(MsBetween(zept.started(), *frame));
  if (mapped) {
    beforeWindow.values.push_back(MsBetween(zept.started(), *mapped));
    windowToFrame.values.push_back(MsBetween(*mapped, *frame));
  }
}

// The bare page on the same menu movie, in a window of the menu's size.
void BareStartUp(Figure& total) {
  Scratch scratch;
  const fs::path movie = scratch.path / "menu.swf";
  std::ofstream(movie, std::ios::binary) << FirstFrameMenu().bytes(true);
  Zept bare(scratch.path, {ZEPT_BARE_PAGE, ZEPT_RUFFLE_BUILT, movie.string(),
                           "1024", "768"});
  const auto frame = bare.waitFor("firstFrame : ");
  if (!frame) return Fail("no first frame in the bare page", bare, scratch.path);
  total.values.push_back(MsBetween(bare.started(), *frame));
}

void RoundTrip(Figure& first, Figure& settled) {
  Scratch scratch;
  const fs::path course = MakeCourse(scratch.path, RoundTripMenu());
  Zept zept(scratch.path, course);
  const std::string last = "calls" + std::to_string(kPasses) + " : ";
  if (!zept.waitFor(last)) return Fail("no calls reported", zept, scratch.path);
  first.values.push_back(std::atof(zept.after("calls1 : ").c_str()) / kCalls);
  settled.values.push_back(std::atof(zept.after(last).c_str()) / kCalls);
}

// VmRSS counts the pages of the libraries every process maps (WebKit, GTK)
// once per process; the anonymous part (heaps, JIT code, the emulator's
// memory) is each process's own, and Pss shares the mapped pages among all
// the processes that map them, other programs' included.
void Memory(Figure& resident, Figure& anonymous, Figure& proportional,
            std::string& processes) {
  Scratch scratch;
  const fs::path course =
      MakeCourse(scratch.path, LoginMenu(), StayingCourse());
  Zept zept(scratch.path, course);
  if (!zept.waitFor("ready : "))
    return Fail("the course movie did not start", zept, scratch.path);
  // The highest of a few samples once the course movie has settled.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  long rssKb = 0, anonKb = 0, pssKb = 0;
  for (int sample = 0; sample < 5; ++sample) {
    std::vector<pid_t> all = Descendants(zept.pid());
    all.insert(all.begin(), zept.pid());
    long rss = 0, anon = 0, pss = 0;
    std::string names;
    for (const pid_t pid : all) {
      const fs::path proc = "/proc/" + std::to_string(pid);
      const long kb = KbOf(proc / "status", "VmRSS");
      const long anonymousKb = KbOf(proc / "status", "RssAnon");
      rss += kb;
      anon += anonymousKb;
      pss += KbOf(proc / "smaps_rollup", "Pss");
      names += "\n    " + CommandName(pid) + ": " + std::to_string(kb / 1024) +
               " (anonymous " + std::to_string(anonymousKb / 1024) +
               ", files " +
               std::to_string(KbOf(proc / "status", "RssFile") / 1024) +
               ", shared memory " +
               std::to_string(KbOf(proc / "status", "RssShmem") / 1024) + ")";
    }
    if (rss > rssKb) {
      rssKb = rss;
      processes = names;
    }
    anonKb = std::max(anonKb, anon);
    pssKb = std::max(pssKb, pss);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  resident.values.push_back(rssKb / 1024.0);
  anonymous.values.push_back(anonKb / 1024.0);
  proportional.values.push_back(pssKb / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else if (std::strcmp(argv[i], "--env") == 0 && i + 1 < argc) {
      // For both programs and their web processes: JSC_useOMGJIT=0, say.
      ::putenv(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--runs N] [--only start|calls|memory] "
                   "[--env NAME=VALUE]...\n",
                   argv[0]);
      return 2;
    }
  }
  if (!fs::exists(ZEPT_BINARY)) {
    std::fprintf(stderr, "no %s: build it first\n", ZEPT_BINARY);
    return 1;
  }
  Xvfb xvfb;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    if (!xvfb.start()) {
      std::fprintf(stderr, "DISPLAY is not set and Xvfb did not start\n");
      return 1;
    }
  }
  MapWatch watch;
  if (!watch.ok()) {
    std::fprintf(stderr, "cannot open display %s\n", std::getenv("DISPLAY"));
    return 1;
  }

  Figure beforeWindow{
      "start-up: zept started to window mapped", "ms", kWindowTargetMs, {}};
  Figure total{"start-up: zept started to frame 1", "ms", 0, {}};
  Figure bare{"start-up: bare page started to frame 1", "ms", 0, {}};
  Figure ratio{"start-up: zept / bare page, frame 1", "x", kFloorRatio, {}};
  Figure windowToFrame{
      "start-up: window shown to frame 1", "ms", kStartTargetMs, {}};
  Figure firstCalls{"ExternalInterface: first calls", "ms", 0, {}};
  Figure perCall{"ExternalInterface round trip", "ms", kRoundTripTargetMs, {}};
  Figure resident{
      "memory: VmRSS, zept and children", "MB", kMemoryTargetMb, {}};
  Figure anonymous{"memory: anonymous part of VmRSS", "MB", 0, {}};
  Figure proportional{"memory: Pss, zept and children", "MB", 0, {}};
  std::string processes;

  std::printf("zept_window_bench: %d runs on display %s, load average %s", runs,
              std::getenv("DISPLAY"), [] {
                static char load[64] = "";
                if (FILE* f = std::fopen("/proc/loadavg", "r")) {
                  if (!std::fgets(load, sizeof load, f)) load[0] = '\0';
                  std::fclose(f);
                }
                return load;
              }());
  if (only.empty() || only == "start") {
    // Alternating, so that both see the same machine.
    for (int run = 0; run < runs; ++run) {
      const std::size_t before = total.values.size() + bare.values.size();
      StartUp(watch, total, beforeWindow, windowToFrame);
      BareStartUp(bare);
      if (total.values.size() + bare.values.size() == before + 2)
        ratio.values.push_back(total.values.back() / bare.values.back());
    }
    beforeWindow.print();
    total.print();
    bare.print();
    ratio.print();
    windowToFrame.print();
  }
  if (only.empty() || only == "calls") {
    for (int run = 0; run < runs; ++run) RoundTrip(firstCalls, perCall);
    firstCalls.print();
    perCall.print();
  }
  if (only.empty() || only == "memory") {
    for (int run = 0; run < runs; ++run)
      Memory(resident, anonymous, proportional, processes);
    resident.print();
    anonymous.print();
    proportional.print();
  }
  if (!processes.empty())
    std::printf("  VmRSS by process, MB, last run:%s\n", processes.c_str());
  return 0;
}
