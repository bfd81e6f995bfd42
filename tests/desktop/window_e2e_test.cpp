// End to end in a window: build/zept plays a copy of the demo course whose
// menu and course movies are real SWF movies made here, played by the Flash
// emulator; the same journey runs headless from movie scripts, and both
// must store the same progress.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "desktop/display.h"
#include "swf/avm1.h"
#include "swf/swf.h"

// After gtest, whose names X11's macros would take.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

namespace fs = std::filesystem;
using zept::swf::Assembler;
using zept::swf::MovieWriter;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// queue := API._sCommand
void PushQueue(Assembler& a) {
  a.pushString("API").getVariable().pushString("_sCommand").getMember();
}

// Two frames that wait for the queue to hold something: then they report
// it by fscommand, empty it, run then and stop; until then the second frame
// goes back to the first. first is the first frame's index.
void PollFrames(MovieWriter& movie, std::uint16_t first,
                const std::string& report,
                const std::function<void(Assembler&)>& then) {
  Assembler poll;
  const Assembler::Label empty = poll.newLabel();
  PushQueue(poll);
  poll.pushString("").equals2().ifTrue(empty);
  poll.pushString("FSCommand:" + report);
  PushQueue(poll);
  poll.getUrl2(0, false, false);
  poll.pushString("API")
      .getVariable()
      .pushString("_sCommand")
      .pushString("")
      .setMember();
  then(poll);
  poll.stop();
  poll.bind(empty);
  movie.doAction(poll);
  movie.showFrame();
  Assembler loop;
  loop.gotoFrame(first).play();
  movie.doAction(loop);
  movie.showFrame();
}

class WindowJourney : public ::testing::Test {
 protected:
  fs::path root;

  void SetUp() override {
    ZEPT_NEED_DISPLAY();
    char pattern[] = "/tmp/zept-window-XXXXXX";
    root = ::mkdtemp(pattern);
  }
  void TearDown() override {
    if (busInput_ >= 0) {
      ::close(busInput_);  // the bus ends with its session's input
      ::waitpid(busPid_, nullptr, 0);
    }
    if (!root.empty()) fs::remove_all(root);
  }

  // A session bus of this test's own for the zept processes it starts;
  // false when dbus-run-session is missing.
  bool startSessionBus() {
    if (std::system("command -v dbus-run-session >/dev/null") != 0)
      return false;
    const fs::path address = root / "bus-address";
    int input[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return false;
    busPid_ = ::fork();
    if (busPid_ == 0) {
      ::dup2(input[0], 0);
      // The daemon's notes (services it starts) go beside the test's files.
      const int log = ::open((root / "bus.log").c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (log >= 0) ::dup2(log, 2);
      const std::string session = "echo \"$DBUS_SESSION_BUS_ADDRESS\" >" +
                                  address.string() + ".new && mv " +
                                  address.string() + ".new " +
                                  address.string() + " && exec cat >/dev/null";
      ::execlp("dbus-run-session", "dbus-run-session", "--", "sh", "-c",
               session.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(input[0]);
    busInput_ = input[1];
    for (int waited = 0; waited < 20000 && !fs::exists(address); waited += 50)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    busAddress_ = Slurp(address);
    while (!busAddress_.empty() && busAddress_.back() == '\n')
      busAddress_.pop_back();
    return !busAddress_.empty();
  }

  // A copy of the demo course named name, with this test's movies.
  fs::path makeCourse(const std::string& name, bool finishCourse,
                      bool capture = false) {
    const fs::path course = root / name;
    fs::copy(ZEPT_SOURCE_DIR "/examples/demo-course", course,
             fs::copy_options::recursive);
    std::ofstream(course / "cdrom/cdrom.swf", std::ios::binary)
        << menuMovie().bytes(true);
    std::ofstream(course / "cdrom/cdrom.swf.movie.xml") << kMenuScript;
    std::ofstream(course / "SCO_0001/player.swf", std::ios::binary)
        << courseMovie(finishCourse, capture).bytes(false);
    std::ofstream(course / "SCO_0001/player.swf.movie.xml")
        << (finishCourse ? kCourseScript : kCourseScriptStaying);
    return course;
  }

  // A copy whose menu only says "shown" in its first frame, and stays.
  fs::path makeShownCourse(const std::string& name) {
    const fs::path course = makeCourse(name, true);
    MovieWriter menu(640, 480, 30, {0x20, 0x60, 0xA0});
    Assembler shown;
    shown.fscommand("shown", "").stop();
    menu.doAction(shown);
    menu.showFrame();
    std::ofstream(course / "cdrom/cdrom.swf", std::ios::binary)
        << menu.bytes(true);
    return course;
  }

  static MovieWriter menuMovie();
  static MovieWriter courseMovie(bool finish, bool capture = false);
  static const char kMenuScript[];
  static const char kCourseScript[];
  static const char kCourseScriptStaying[];

  std::string environment(const std::string& name) const {
    return "HOME=" + (root / ("home-" + name)).string() +
           " ZEPT_REGISTRY_DIR=" + (root / ("registry-" + name)).string() +
           " NO_AT_BRIDGE=1 " +
           (busAddress_.empty()
                ? std::string()
                : "DBUS_SESSION_BUS_ADDRESS='" + busAddress_ + "' ");
  }

  // Every trace log written by the run of the course named name.
  std::string traceLog(const std::string& name) const {
    std::string all;
    const fs::path documents = root / ("home-" + name) / "Documents";
    if (!fs::exists(documents)) return all;
    for (const auto& entry : fs::recursive_directory_iterator(documents))
      if (entry.is_regular_file()) all += Slurp(entry.path());
    return all;
  }

  // zept started in the background on course, its output going to a file.
  struct Running {
    pid_t pid = -1;
    fs::path output;
    std::string text() const { return Slurp(output); }
  };
  Running start(const fs::path& course) {
    Running running;
    running.output = root / (course.filename().string() + ".out");
    const std::string command = environment(course.filename().string()) +
                                "exec " ZEPT_BINARY " --program-folder " +
                                course.string() + " >" +
                                running.output.string() + " 2>&1";
    running.pid = ::fork();
    if (running.pid == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      ::_exit(127);
    }
    return running;
  }
  // True once zept has ended (it is not reaped, so waitExit still sees it).
  static bool ended(const Running& running) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(running.pid), &info,
                    WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == running.pid;
  }
  // Waits until the output holds part, for as long as zept runs: a busy
  // machine may take a minute to start it (the emulator compiles), so only
  // zept's end without it, or timeoutMs, gives up.
  static bool waitFor(const Running& running, const std::string& part,
                      int timeoutMs = 100000) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
      if (Has(running.text(), part)) return true;
      if (ended(running)) return Has(running.text(), part);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // The exit status, or -1 when it has not ended within timeoutMs (it ends
  // as soon as zept does).
  static int waitExit(Running& running, int timeoutMs = 60000) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
      int status = 0;
      if (::waitpid(running.pid, &status, WNOHANG) == running.pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(running.pid, SIGKILL);
    ::waitpid(running.pid, nullptr, 0);
    return -1;
  }

  // Runs zept to its end; its standard output and error.
  std::string run(const fs::path& course, bool headless, int* status) {
    const std::string name = course.filename().string();
    const std::string command =
        environment(name) + ZEPT_BINARY + (headless ? " --headless" : "") +
        " --program-folder " + course.string() + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
      out.append(buffer, n);
    *status = WEXITSTATUS(::pclose(pipe));
    return out;
  }

 private:
  pid_t busPid_ = -1;
  int busInput_ = -1;
  std::string busAddress_;
};

MovieWriter WindowJourney::menuMovie() {
  MovieWriter movie(640, 480, 30, {0x20, 0x60, 0xA0});
  // Frame 1: the queue, then the first start's commands or, back from the
  // course, the request for the stored tracking.
  Assembler start;
  start.pushString("API")
      .pushInt(0)
      .pushString("Object")
      .newObject()
      .setVariable();
  start.pushString("API")
      .getVariable()
      .pushString("_sCommand")
      .pushString("")
      .setMember();
  const Assembler::Label back = start.newLabel();
  const Assembler::Label done = start.newLabel();
  start.pushString("sParam").getVariable().pushString("back").equals2().ifTrue(
      back);
  start.fscommand("SetTrackMode", "file");
  start.fscommand("SetTrackPath", "[$APPLICATION]\\tracking");
  start.fscommand("SetTrackingId", "demo-course");
  start.fscommand("GetUserList", "");
  start.jump(done);
  start.bind(back);
  start.fscommand("GetTracking", "");
  start.gotoFrame(3).play();
  start.bind(done);
  movie.doAction(start);
  movie.showFrame();

  // Frames 2-3: wait for the users, then log in and open unit 1.
  PollFrames(movie, 1, "users", [](Assembler& login) {
    login.pushString("anna;secret").callExternal("AddUser", 1).pop();
    login.fscommand("SetLogin", "anna");
    login.fscommand("LMSLoad", "");
    login.fscommand("LMSInitialize", "");
    login.fscommand("GoToSCO", "1");
  });
  // Frames 4-5, back from the course: wait for the tracking, then quit.
  PollFrames(movie, 3, "tracking",
             [](Assembler& quit) { quit.fscommand("sendQuit", ""); });
  return movie;
}

MovieWriter WindowJourney::courseMovie(bool finish, bool capture) {
  MovieWriter movie(800, 600, 30, {0xF0, 0xC0, 0x20});
  movie.placeObject(movie.defineRectangle({0, 0, 200, 200}, {0xF0, 0xC0, 0x20}),
                    1, 300, 200);
  Assembler a;
  a.pushString("answer")
      .pushString("cmi.core.lesson_location;page 4")
      .callExternal("LMSSetValue", 1)
      .setVariable();
  a.pushString("FSCommand:answer")
      .pushString("answer")
      .getVariable()
      .getUrl2(0, false, false);
  // A name no table knows is still answered.
  a.pushString("unknown")
      .pushString("x")
      .callExternal("NoSuchCommand", 1)
      .setVariable();
  a.pushString("FSCommand:unknown")
      .pushString("unknown")
      .getVariable()
      .getUrl2(0, false, false);
  a.pushString("cmi.core.lesson_status;completed")
      .callExternal("LMSSetValue", 1)
      .pop();
  a.pushString("cmi.core.score.raw;92").callExternal("LMSSetValue", 1).pop();
  if (finish) {
    a.pushString("").callExternal("LMSCommit", 1).pop();
    a.pushString("")
        .pushString("sendGoToHome")
        .callExternal("doEICommand", 2)
        .pop();
  } else if (!capture) {
    a.fscommand("ready", "");
  }
  if (!capture) a.stop();
  movie.doAction(a);
  movie.showFrame();
  if (capture) {
    // The learner saves the screen once it is shown, a few frames later.
    for (int frame = 0; frame < 5; ++frame) movie.showFrame();
    Assembler save;
    save.fscommand("sendPrintPagePDF", "").fscommand("ready", "").stop();
    movie.doAction(save);
    movie.showFrame();
  }
  return movie;
}

const char WindowJourney::kMenuScript[] = R"(<movie>
  <unless variable="sParam" equals="back">
    <fscommand command="SetTrackMode">file</fscommand>
    <fscommand command="SetTrackPath">[$APPLICATION]\tracking</fscommand>
    <fscommand command="SetTrackingId">demo-course</fscommand>
    <fscommand command="GetUserList"/>
    <wait event="onUsersCompleteEvent"/>
    <set variable="API._sCommand"></set>
    <externalcall name="AddUser"><arg>anna;secret</arg></externalcall>
    <fscommand command="SetLogin">anna</fscommand>
    <fscommand command="LMSLoad"/>
    <fscommand command="LMSInitialize"/>
    <fscommand command="GoToSCO">1</fscommand>
  </unless>
  <if variable="sParam" equals="back">
    <fscommand command="GetTracking"/>
    <wait event="onLoadTrackingCompleteEvent"/>
    <fscommand command="sendQuit"/>
  </if>
</movie>)";

#define ZEPT_COURSE_VALUES                                                 \
  "<externalcall name=\"LMSSetValue\"><arg>cmi.core.lesson_location;page " \
  "4</arg></externalcall>"                                                 \
  "<fscommand command=\"answer\">1</fscommand>"                            \
  "<externalcall name=\"NoSuchCommand\"><arg>x</arg></externalcall>"       \
  "<fscommand command=\"unknown\">1</fscommand>"                           \
  "<externalcall name=\"LMSSetValue\"><arg>cmi.core.lesson_status;"        \
  "completed</arg></externalcall>"                                         \
  "<externalcall name=\"LMSSetValue\"><arg>cmi.core.score.raw;92</arg>"    \
  "</externalcall>"

const char WindowJourney::kCourseScript[] =
    "<movie>" ZEPT_COURSE_VALUES
    "<externalcall name=\"LMSCommit\"><arg></arg></externalcall>"
    "<externalcall name=\"doEICommand\"><arg>sendGoToHome</arg><arg></arg>"
    "</externalcall></movie>";
const char WindowJourney::kCourseScriptStaying[] =
    "<movie>" ZEPT_COURSE_VALUES "<fscommand command=\"ready\"/></movie>";

// The stored documents of a course run, by their path under the course.
std::map<std::string, std::string> StoredFiles(const fs::path& course) {
  std::map<std::string, std::string> files;
  for (const auto& entry :
       fs::recursive_directory_iterator(course / "tracking"))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), course).string()] = Slurp(entry.path());
  return files;
}

TEST_F(WindowJourney, StoresWhatTheHeadlessRunOfTheSameJourneyStores) {
  int status = -1;
  const fs::path windowed = makeCourse("windowed", true);
  const std::string out = run(windowed, false, &status);
  EXPECT_EQ(status, 0) << out;
  // The menu read each event from its queue and reported it back.
  EXPECT_TRUE(Has(out, "users : onUsersCompleteEvent;<?xml")) << out;
  EXPECT_TRUE(Has(out, "tracking : onLoadTrackingCompleteEvent;")) << out;
  // ActionScript saw the answer of LMSSetValue as the string 1.
  EXPECT_TRUE(Has(out, "answer : 1\n")) << out;
  EXPECT_TRUE(Has(out, "unknown : 1\n")) << out;
  EXPECT_TRUE(Has(out, "sendQuit : ")) << out;

  // The events went into the queue as the headless run puts them, none lost
  // for a movie not ready, no queue read or write failed.
  const std::string trace = traceLog("windowed");
  EXPECT_TRUE(Has(trace, "onUsersCompleteEvent :: ")) << trace;
  EXPECT_TRUE(Has(trace, "onLoadTrackingCompleteEvent :: ")) << trace;
  EXPECT_FALSE(Has(trace, "ReadyState=")) << trace;
  EXPECT_FALSE(Has(trace, "1506150")) << trace;

  const fs::path headless = makeCourse("headless", true);
  const std::string transcript = run(headless, true, &status);
  EXPECT_EQ(status, 0) << transcript;

  const auto stored = StoredFiles(windowed);
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(stored, StoredFiles(headless));
  const std::string tracking =
      stored.begin()->second + (++stored.begin())->second;
  EXPECT_TRUE(Has(tracking, "page 4")) << tracking;
  EXPECT_TRUE(Has(tracking, "92")) << tracking;
}

// A shell command's standard output, trailing line end removed.
std::string Capture(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
    out.append(buffer, n);
  ::pclose(pipe);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
    out.pop_back();
  return out;
}

// The colour of the screen at (x, y) as "srgb(r,g,b)".
std::string ScreenPixel(int x, int y) {
  return Capture(
      "import -window root png:- 2>/dev/null | convert png:- -format "
      "'%[pixel:p{" +
      std::to_string(x) + "," + std::to_string(y) + "}]' info:- 2>/dev/null");
}

// What read() gives once it gives expected (a frame or a configure event
// may still be on its way, seconds on a busy machine), within half a
// minute; the last one otherwise.
std::string Eventually(const std::function<std::string()>& read,
                       const std::string& expected) {
  std::string seen;
  for (int tries = 0; tries < 300; ++tries) {
    seen = read();
    if (seen == expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return seen;
}

std::string PixelOnceShown(int x, int y, const std::string& expected) {
  return Eventually([=] { return ScreenPixel(x, y); }, expected);
}

// The window's position and client size as xdotool gives them.
std::string WindowGeometryOnceShown(const std::string& expected) {
  return Eventually(
      [] {
        return Capture(
            "xdotool search --name '^Fire safety at work$' "
            "getwindowgeometry --shell | grep -v WINDOW");
      },
      expected);
}

// A learner in the middle of a unit: the window closes, by the window
// manager's close button or by a signal, and the unit's progress is stored.
TEST_F(WindowJourney, ClosingInTheMiddleOfAUnitKeepsItsProgress) {
  for (const bool bySignal : {true, false}) {
    SCOPED_TRACE(bySignal ? "SIGTERM" : "close request");
    const fs::path course = makeCourse(bySignal ? "signal" : "close", false);
    Running zept = start(course);
    ASSERT_TRUE(waitFor(zept, "ready : ")) << zept.text();
    if (bySignal) {
      // What the learner sees: the unit above the menu's place, in the
      // look's window, centred on the screen.
      EXPECT_EQ(PixelOnceShown(640, 512, "srgb(240,192,32)"),
                "srgb(240,192,32)");
      const std::string course =
          "X=240\nY=212\nWIDTH=800\nHEIGHT=600\nSCREEN=0";
      EXPECT_EQ(WindowGeometryOnceShown(course), course);
      ::kill(zept.pid, SIGTERM);
    } else {
      const std::string id =
          Capture("xdotool search --name '^Fire safety at work$' | head -n 1");
      ASSERT_FALSE(id.empty());
      ASSERT_TRUE(zept::desktop::testing::SendCloseRequest(std::stoul(id)));
    }
    EXPECT_EQ(waitExit(zept), 0) << zept.text();
    const auto stored = StoredFiles(course);
    std::string all;
    for (const auto& [path, text] : stored) all += text;
    EXPECT_TRUE(Has(all, "page 4")) << all;
    EXPECT_TRUE(Has(all, "<![CDATA[92]]>")) << all;
  }
}

// The page's web process ends in the middle of a unit (killed, as the
// system does when memory runs out): zept stays, the unit's values are
// stored at once, the learner is told, and the menu comes back, here to
// read the stored tracking and quit.
TEST_F(WindowJourney, TheUnitsProgressIsKeptWhenThePagesProcessEnds) {
  const fs::path course = makeCourse("ended", true);
  std::ofstream(course / "SCO_0001/player.swf", std::ios::binary)
      << courseMovie(false).bytes(false);
  Running zept = start(course);
  ASSERT_TRUE(waitFor(zept, "ready : ")) << zept.text();
  // Every web process of zept: the page's may not be the first listed (one
  // made beforehand for a later page, say).
  const std::string web =
      Capture("pgrep -P " + std::to_string(zept.pid) + " WebKitWebProces");
  ASSERT_FALSE(web.empty()) << zept.text();
  std::istringstream pids(web);
  for (std::string pid; std::getline(pids, pid);)
    if (!pid.empty()) ::kill(std::stoi(pid), SIGKILL);
  ASSERT_TRUE(waitFor(zept, "The movie page's process ended (crashed)"))
      << zept.text();
  std::string all;
  for (int tries = 0; tries < 300 && !Has(all, "<![CDATA[92]]>"); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    all.clear();
    for (const auto& [path, text] : StoredFiles(course)) all += text;
  }
  EXPECT_TRUE(Has(all, "page 4")) << all;
  EXPECT_TRUE(Has(all, "<![CDATA[92]]>")) << all;
  EXPECT_TRUE(Has(traceLog("ended"), "The movie page's process ended"));
  // The message box, over the course's window and titled as it is (the
  // narrower of the two). Return is pressed until the box has gone: a box
  // just mapped may not take the first key yet.
  const std::string box =
      "for w in $(xdotool search --onlyvisible --name "
      "'^Fire safety at work$'); do [ \"$(xwininfo -id $w | awk '/Width:/ "
      "{print $2}')\" -lt 600 ] && echo $w; done | head -n 1";
  std::string shown;
  for (int waited = 0; waited < 60000 && shown.empty() && !ended(zept);
       waited += 100) {
    shown = Capture(box);
    if (shown.empty())
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_FALSE(shown.empty()) << zept.text();
  for (int tries = 0; tries < 60 && Capture(box) == shown; ++tries) {
    Capture("xdotool windowfocus --sync " + shown + " key Return");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_EQ(waitExit(zept, 100000), 0) << zept.text();
  const std::string out = zept.text();
  EXPECT_TRUE(Has(out.substr(out.find("process ended")), "GetTracking : "))
      << out;
}

// Opening a unit, the window keeps the menu's place, size and picture
// until the unit is ready, then has the unit's, in one step: it never shows
// a blank, nor one movie's picture at the other's place. What lasts less
// than a tenth of a second (the X server showing the old pixels of a window
// just resized until they are drawn again, longer on a busy machine) is not
// counted; before, the window jumped and stayed blank for a second.
TEST_F(WindowJourney, OpeningAUnitChangesTheWindowInOneStep) {
  const fs::path course = makeCourse("steps", false);
  Running zept = start(course);
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  const Window root = DefaultRootWindow(display);
  Window window = 0;
  std::vector<std::pair<std::string, double>> seen;  // state, since (ms)
  const auto started = std::chrono::steady_clock::now();
  const auto ms = [&] {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now() - started)
        .count();
  };
  double readyAt = -1;
  while (ms() < 60000 && (readyAt < 0 || ms() < readyAt + 1500)) {
    if (readyAt < 0 && Has(zept.text(), "ready : ")) readyAt = ms();
    if (!window) {
      const std::string id = Capture(
          "xdotool search --onlyvisible --name '^Fire safety at work$' | "
          "head -n 1");
      if (!id.empty()) window = std::stoul(id);
      continue;
    }
    XWindowAttributes a;
    if (!XGetWindowAttributes(display, window, &a)) break;
    // A point near the corner and the middle of the window.
    unsigned long p[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
      XImage* pixel = XGetImage(
          display, root, i ? a.x + a.width / 2 : a.x + 100,
          i ? a.y + a.height / 2 : a.y + 100, 1, 1, AllPlanes, ZPixmap);
      if (!pixel) continue;
      p[i] = XGetPixel(pixel, 0, 0) & 0xFFFFFF;
      XDestroyImage(pixel);
    }
    char state[96];
    std::snprintf(state, sizeof state, "%d,%d %dx%d #%06lx #%06lx", a.x, a.y,
                  a.width, a.height, p[0], p[1]);
    // The menu, whose middle may hold the loading note, and the unit, in
    // the look's window, on its background before it is drawn.
    const std::string menu = "128,128 1024x768 #2060a0";
    if (std::string(state).rfind(menu, 0) == 0) std::strcpy(state, "menu");
    if (seen.empty() || seen.back().first != state)
      seen.emplace_back(state, ms());
  }
  XCloseDisplay(display);
  ::kill(zept.pid, SIGTERM);
  EXPECT_EQ(waitExit(zept), 0) << zept.text();
  // The states that lasted, in order, each once, from the menu on: how the
  // window first maps, before the menu is drawn, is not this test's matter
  // (a busy X server shows it white for a moment).
  std::vector<std::string> lasting;
  std::size_t fromMenu = 0;
  while (fromMenu < seen.size() && seen[fromMenu].first != "menu") ++fromMenu;
  for (std::size_t i = fromMenu; i < seen.size(); ++i) {
    const double until = i + 1 < seen.size() ? seen[i + 1].second : ms();
    if (until - seen[i].second < 100) continue;
    if (lasting.empty() || lasting.back() != seen[i].first)
      lasting.push_back(seen[i].first);
  }
  std::string all;
  for (const auto& [state, since] : seen)
    all += "\n  " + std::to_string(int(since)) + " ms: " + state;
  if (std::getenv("ZEPT_SHOW_STATES")) std::printf("%s\n", all.c_str());
  const std::string background = "240,212 800x600 #1e3a5f #1e3a5f";
  if (lasting.size() == 3 && lasting[1] == background)
    lasting.erase(lasting.begin() + 1);
  EXPECT_EQ(lasting, (std::vector<std::string>{
                         "menu", "240,212 800x600 #1e3a5f #f0c020"}))
      << all;
}

// A second start of a course that is open already, on the same session bus:
// the first zept brings its window forward, here back onto the screen, and
// the second ends at once with a line saying so.
TEST_F(WindowJourney, ASecondStartBringsTheOpenCourseForward) {
  if (!startSessionBus())
    GTEST_SKIP() << "no session bus: dbus-run-session (Debian package "
                    "dbus-bin) is missing or did not start";
  const fs::path course = makeCourse("single", false);
  Running first = start(course);
  ASSERT_TRUE(waitFor(first, "ready : ")) << first.text();
  const std::string window =
      "xdotool search --onlyvisible --name "
      "'^Fire safety at work$'";
  const std::string id = Capture(window + " | head -n 1");
  ASSERT_FALSE(id.empty());
  ASSERT_EQ(std::system(("xdotool windowunmap --sync " + id).c_str()), 0);
  ASSERT_TRUE(Capture(window).empty());

  int status = -1;
  const std::string out = run(course, false, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(Has(out, "The course in " + course.string() +
                           " is already open: its window was brought "
                           "forward.\n"))
      << out;
  EXPECT_FALSE(Has(out, "SetTrackMode")) << out;  // it played nothing
  const std::string shown = "for i in $(seq 400); do " + window +
                            " >/dev/null && exit 0; sleep 0.05; done; exit 1";
  EXPECT_EQ(std::system(shown.c_str()), 0) << first.text();
  EXPECT_EQ(Capture(window), id);

  ::kill(first.pid, SIGTERM);
  EXPECT_EQ(waitExit(first), 0) << first.text();
  EXPECT_TRUE(
      Has(traceLog("single"), "another start brings the window forward"));
}

// Waits for the visible window titled title and gives it the keyboard (there
// is no window manager to do it), then types keys as a person would.
void Type(const std::string& title, const std::string& keys) {
  const std::string command =
      "for i in $(seq 200); do w=$(xdotool search --onlyvisible --name '^" +
      title +
      "$' | head -n 1); [ -n \"$w\" ] && break; sleep 0.05; done; "
      "xdotool windowfocus --sync $w sleep 0.2 " +
      keys;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// The colours of a PDF's first page, rendered as a person would see it.
std::string PageColours(const fs::path& pdf) {
  return Capture("pdftoppm -r 20 -png -f 1 -l 1 " + pdf.string() +
                 " | convert png:- -format %c histogram:info:-");
}

// How many pixels of the histogram are within 24 of (r, g, b) in each.
long CountNear(const std::string& histogram, int r, int g, int b) {
  long total = 0;
  std::istringstream lines(histogram);
  std::string line;
  while (std::getline(lines, line)) {
    long count;
    int cr, cg, cb;
    if (std::sscanf(line.c_str(), " %ld: (%d,%d,%d", &count, &cr, &cg, &cb) ==
            4 &&
        std::abs(cr - r) <= 24 && std::abs(cg - g) <= 24 &&
        std::abs(cb - b) <= 24)
      total += count;
  }
  return total;
}

// "sendPrintPagePDF": the real save dialog asks for the file; the PDF holds
// the frame the learner saw. Escape saves nothing.
TEST_F(WindowJourney, TheScreenOfAUnitIsSavedAsAPdfPage) {
  for (const bool save : {true, false}) {
    SCOPED_TRACE(save ? "saved" : "cancelled");
    const fs::path course =
        makeCourse(save ? "capture" : "nocapture", false, true);
    const fs::path pdf = root / (save ? "screen.pdf" : "never.pdf");
    Running zept = start(course);
    if (save) {
      Type("Save As", "key ctrl+a type --delay 20 '" +
                          pdf.parent_path().string() + "/screen'");
      const std::string saved = zept::desktop::testing::ReturnUntil(
          "! " + zept::desktop::testing::Visible("Save As"));
      ASSERT_EQ(std::system(saved.c_str()), 0);
    } else {
      Type("Save As", "key Escape");
    }
    ASSERT_TRUE(waitFor(zept, "ready : ")) << zept.text();
    ::kill(zept.pid, SIGTERM);
    EXPECT_EQ(waitExit(zept), 0) << zept.text();
    if (!save) {
      EXPECT_FALSE(fs::exists(pdf));
      continue;
    }
    ASSERT_TRUE(fs::exists(pdf)) << zept.text();
    if (const char* keep = std::getenv("ZEPT_KEEP_PDF"))
      fs::copy_file(pdf, keep, fs::copy_options::overwrite_existing);
    const std::string colours = PageColours(pdf);
    // The unit's yellow square and the look's background around it.
    EXPECT_GT(CountNear(colours, 0xF0, 0xC0, 0x20), 100)
        << colours << zept.text();
    EXPECT_GT(CountNear(colours, 0x1E, 0x3A, 0x5F), 100) << colours;
  }
}

// Ending the program while a dialog waits for the learner: the dialog is
// cancelled and the session kept.
TEST_F(WindowJourney, ASignalEndsTheProgramWhileADialogIsOpen) {
  const fs::path course = makeCourse("dialog", false, true);
  Running zept = start(course);
  const std::string wait =
      "for i in $(seq 200); do xdotool search --onlyvisible --name '^Save As$' "
      ">/dev/null && exit 0; sleep 0.05; done; exit 1";
  ASSERT_EQ(std::system(wait.c_str()), 0) << zept.text();
  ::kill(zept.pid, SIGTERM);
  EXPECT_EQ(waitExit(zept), 0) << zept.text();
  std::string all;
  for (const auto& [path, text] : StoredFiles(course)) all += text;
  EXPECT_TRUE(Has(all, "page 4")) << all;
}

TEST_F(WindowJourney, TheMenuShowsInTheLaunchSettingsWindow) {
  const fs::path course = makeShownCourse("menu");
  Running zept = start(course);
  const std::string menuWindow =
      "X=128\nY=128\nWIDTH=1024\nHEIGHT=768\nSCREEN=0";
  // The window shows before the menu can play, already where the menu
  // plays and in its colour, with a note.
  const std::string mapped =
      "for i in $(seq 600); do xdotool search --onlyvisible --name "
      "'^Fire safety at work$' >/dev/null && exit 0; sleep 0.02; done; exit 1";
  ASSERT_EQ(std::system(mapped.c_str()), 0) << zept.text();
  EXPECT_EQ(Capture("xdotool search --onlyvisible --name '^Fire safety at "
                    "work$' getwindowgeometry --shell | grep -v WINDOW"),
            menuWindow);
  EXPECT_EQ(PixelOnceShown(300, 300, "srgb(32,96,160)"), "srgb(32,96,160)");
  ASSERT_TRUE(waitFor(zept, "shown : ")) << zept.text();
  EXPECT_EQ(WindowGeometryOnceShown(menuWindow), menuWindow);
  // The menu movie's background, letterboxed in the window.
  EXPECT_EQ(PixelOnceShown(640, 512, "srgb(32,96,160)"), "srgb(32,96,160)");
  if (const char* shot = std::getenv("ZEPT_SCREENSHOT"))
    std::system(("import -window root " + std::string(shot)).c_str());
  ::kill(zept.pid, SIGTERM);
  EXPECT_EQ(waitExit(zept), 0) << zept.text();
}

// An emulator whose code is missing or cannot be read stops zept at start,
// naming the file, instead of a window whose every movie fails.
TEST_F(WindowJourney, AnEmulatorThatCannotStartStopsZeptNamingItsFile) {
  const fs::path course = makeCourse("emulator", true);
  const std::pair<const char*, const char*> kCases[] = {
      {"missing", "': No such file or directory"},
      {"fifo", "': not a regular file"},
      {"garbage", ".wasm: "},
  };
  for (const auto& [spoilt, reason] : kCases) {
    SCOPED_TRACE(spoilt);
    const fs::path ruffle = root / (std::string("ruffle-") + spoilt);
    fs::create_directories(ruffle);
    for (const auto& entry : fs::directory_iterator(ZEPT_RUFFLE_DIR)) {
      const fs::path to = ruffle / entry.path().filename();
      if (entry.path().extension() != ".wasm")
        fs::copy_file(entry.path(), to);
      else if (spoilt == std::string("fifo"))
        ::mkfifo(to.c_str(), 0600);
      else if (spoilt == std::string("garbage"))
        std::ofstream(to) << "not wasm";
    }
    ::setenv("ZEPT_RUFFLE_DIR", ruffle.c_str(), 1);
    Running zept = start(course);
    ::unsetenv("ZEPT_RUFFLE_DIR");
    EXPECT_EQ(waitExit(zept), 1) << zept.text();
    EXPECT_TRUE(Has(zept.text(), "zept: the Flash emulator did not start"));
    EXPECT_TRUE(Has(zept.text(), ruffle.string() + "/")) << zept.text();
    EXPECT_TRUE(Has(zept.text(), reason)) << zept.text();
  }
}

// The page's content filter is compiled into the user's cache once and
// loaded from there afterwards; with no cache to write to, into a
// temporary folder that goes with the program.
TEST_F(WindowJourney, TheContentFilterIsCompiledOnceAndKept) {
  const fs::path course = makeShownCourse("filter");
  const fs::path cache = root / "cache", tmp = root / "tmp";
  std::ofstream(root / "not-a-folder") << "";
  fs::create_directories(tmp);
  const auto play = [&](const fs::path& cacheHome) {
    fs::remove(root / "filter.out");  // the last run's "shown"
    ::setenv("XDG_CACHE_HOME", cacheHome.c_str(), 1);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    Running zept = start(course);
    ::unsetenv("TMPDIR");
    // The trace log says how far the start came when the menu never shows.
    EXPECT_TRUE(waitFor(zept, "shown : "))
        << zept.text() << "\ntrace log:\n" << traceLog("filter");
    ::kill(zept.pid, SIGTERM);
    EXPECT_EQ(waitExit(zept), 0) << zept.text();
  };
  const char* const before = std::getenv("XDG_CACHE_HOME");
  const std::string saved = before ? before : "";
  const fs::path kept = cache / "zept" / "content-filters";
  play(cache);
  ASSERT_TRUE(fs::exists(kept));
  std::map<fs::path, fs::file_time_type> compiled;
  for (const auto& entry : fs::directory_iterator(kept))
    compiled[entry.path()] = entry.last_write_time();
  EXPECT_FALSE(compiled.empty());
  play(cache);
  for (const auto& entry : fs::directory_iterator(kept))
    EXPECT_EQ(compiled[entry.path()], entry.last_write_time()) << entry.path();
  play(root / "not-a-folder");
  for (const auto& entry : fs::directory_iterator(tmp))
    EXPECT_NE(entry.path().filename().string().rfind("zept-filter-", 0), 0u);
  if (before)
    ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CACHE_HOME");
}

}  // namespace
