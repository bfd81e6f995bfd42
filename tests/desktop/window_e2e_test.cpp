// End to end in a window: build/zept plays a copy of the demo course whose
// menu and course movies are real SWF movies made here, played by the Flash
// emulator; the same journey runs headless from movie scripts, and both
// must store the same progress.

#include <X11/Xlib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "swf/avm1.h"
#include "swf/swf.h"

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
    if (!std::getenv("DISPLAY"))
      GTEST_SKIP() << "no display: run under xvfb-run";
    char pattern[] = "/tmp/zept-window-XXXXXX";
    root = ::mkdtemp(pattern);
  }
  void TearDown() override {
    if (!root.empty()) fs::remove_all(root);
  }

  // A copy of the demo course named name, with this test's movies.
  fs::path makeCourse(const std::string& name, bool finishCourse) {
    const fs::path course = root / name;
    fs::copy(ZEPT_SOURCE_DIR "/examples/demo-course", course,
             fs::copy_options::recursive);
    std::ofstream(course / "cdrom/cdrom.swf", std::ios::binary)
        << menuMovie().bytes(true);
    std::ofstream(course / "cdrom/cdrom.swf.movie.xml") << kMenuScript;
    std::ofstream(course / "SCO_0001/player.swf", std::ios::binary)
        << courseMovie(finishCourse).bytes(false);
    std::ofstream(course / "SCO_0001/player.swf.movie.xml")
        << (finishCourse ? kCourseScript : kCourseScriptStaying);
    return course;
  }

  static MovieWriter menuMovie();
  static MovieWriter courseMovie(bool finish);
  static const char kMenuScript[];
  static const char kCourseScript[];
  static const char kCourseScriptStaying[];

  std::string environment(const std::string& name) const {
    return "HOME=" + (root / ("home-" + name)).string() +
           " ZEPT_REGISTRY_DIR=" + (root / ("registry-" + name)).string() +
           " NO_AT_BRIDGE=1 ";
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
  // Waits until the output holds part; false after timeoutMs.
  static bool waitFor(const Running& running, const std::string& part,
                      int timeoutMs = 20000) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
      if (Has(running.text(), part)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // The exit status, or -1 when it has not ended within timeoutMs.
  static int waitExit(Running& running, int timeoutMs = 20000) {
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

MovieWriter WindowJourney::courseMovie(bool finish) {
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
  } else {
    a.fscommand("ready", "");
  }
  a.stop();
  movie.doAction(a);
  movie.showFrame();
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
  EXPECT_TRUE(Has(out, "sendQuit : ")) << out;

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

// Asks the window to close as a window manager's close button does.
void SendCloseRequest(unsigned long window) {
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] =
      static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
  XCloseDisplay(display);
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
      EXPECT_EQ(ScreenPixel(640, 512), "srgb(240,192,32)");
      EXPECT_EQ(Capture("xdotool search --name '^Fire safety at work$' "
                        "getwindowgeometry --shell | grep -v WINDOW"),
                "X=240\nY=212\nWIDTH=800\nHEIGHT=600\nSCREEN=0");
      ::kill(zept.pid, SIGTERM);
    } else {
      const std::string id =
          Capture("xdotool search --name '^Fire safety at work$' | head -n 1");
      ASSERT_FALSE(id.empty());
      SendCloseRequest(std::stoul(id));
    }
    EXPECT_EQ(waitExit(zept), 0) << zept.text();
    const auto stored = StoredFiles(course);
    std::string all;
    for (const auto& [path, text] : stored) all += text;
    EXPECT_TRUE(Has(all, "page 4")) << all;
    EXPECT_TRUE(Has(all, "<![CDATA[92]]>")) << all;
  }
}

TEST_F(WindowJourney, TheMenuShowsInTheLaunchSettingsWindow) {
  const fs::path course = makeCourse("menu", true);
  MovieWriter menu(640, 480, 30, {0x20, 0x60, 0xA0});
  Assembler shown;
  shown.fscommand("shown", "").stop();
  menu.doAction(shown);
  menu.showFrame();
  std::ofstream(course / "cdrom/cdrom.swf", std::ios::binary)
      << menu.bytes(true);
  Running zept = start(course);
  ASSERT_TRUE(waitFor(zept, "shown : ")) << zept.text();
  EXPECT_EQ(Capture("xdotool search --name '^Fire safety at work$' "
                    "getwindowgeometry --shell | grep -v WINDOW"),
            "X=128\nY=128\nWIDTH=1024\nHEIGHT=768\nSCREEN=0");
  // The menu movie's background, letterboxed in the window.
  EXPECT_EQ(ScreenPixel(640, 512), "srgb(32,96,160)");
  if (const char* shot = std::getenv("ZEPT_SCREENSHOT"))
    std::system(("import -window root " + std::string(shot)).c_str());
  ::kill(zept.pid, SIGTERM);
  EXPECT_EQ(waitExit(zept), 0) << zept.text();
}

}  // namespace
