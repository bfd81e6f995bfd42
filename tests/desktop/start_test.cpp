// zept's start on an X server that is busy or not there yet: the display is
// waited for a while, longer between each try, the server's reason is said
// when it never takes the connection, and a quit signal that comes while
// zept waits ends it as closing the window would.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "desktop/open_display.h"
#include "tests/desktop/display.h"

namespace zept::desktop {
namespace {

namespace fs = std::filesystem;
using namespace testing;

TEST(RetryDisplay, WaitsLongerEachTimeAndGivesUpWithTheLastReason) {
  const struct {
    const char* name;
    std::vector<DisplayTry> tries;  // the last one again and again
    int stopAtPause;                // a quit signal in this pause, or -1
    const char* result;
    std::vector<int> pauses;
  } kCases[] = {
      {"opens at once", {{}}, -1, "", {}},
      {"busy twice", {{"full"}, {"full"}, {}}, -1, "", {50, 100}},
      {"never takes it",
       {{"refused"}},
       -1,
       "refused",
       {50, 100, 200, 400, 800, 450}},
      {"no display to wait for",
       {{"no such name", false}},
       -1,
       "no such name",
       {}},
      {"a quit signal while waiting", {{"refused"}}, 1, "refused", {50, 100}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    long long now = 0;
    std::size_t tried = 0;
    std::vector<int> pauses;
    const std::string result = RetryDisplay(
        [&] { return c.tries[std::min(tried++, c.tries.size() - 1)]; },
        {2000, 50, 800},
        [&](int ms) {
          pauses.push_back(ms);
          now += ms;
          return static_cast<int>(pauses.size()) - 1 != c.stopAtPause;
        },
        [&] { return now; });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(pauses, c.pauses);
  }
}

// A display number no X server has, and nobody is likely to take.
std::string FreeDisplay() {
  for (int n = 500 + ::getpid() % 400;; ++n) {
    const std::string number = std::to_string(n);
    if (!fs::exists("/tmp/.X11-unix/X" + number) &&
        !fs::exists("/tmp/.X" + number + "-lock"))
      return ":" + number;
  }
}

// An X server that takes no client: each connection is answered as a
// server with every client slot taken answers, and counted.
class FullXServer {
 public:
  FullXServer() : display_(FreeDisplay()) {
    path_ = "/tmp/.X11-unix/X" + display_.substr(1);
    fs::create_directories("/tmp/.X11-unix");
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s",
                  path_.c_str());
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address),
               sizeof address) != 0 ||
        ::listen(listener_, 16) != 0)
      return;
    thread_ = std::thread([this] {
      for (;;) {
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0) return;
        refuse(client);
        ::close(client);
        ++refused_;
      }
    });
  }
  ~FullXServer() {
    ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
    ::unlink(path_.c_str());
  }
  const std::string& display() const { return display_; }
  int refused() const { return refused_; }

 private:
  // The client's setup request is read (its two authorization strings
  // padded to 4 bytes), then the Failed reply with the server's reason.
  static void refuse(int client) {
    unsigned char head[12];
    if (::recv(client, head, sizeof head, MSG_WAITALL) != sizeof head) return;
    const bool big = head[0] == 'B';
    const auto card16 = [&](int at) {
      return big ? head[at] << 8 | head[at + 1] : head[at] | head[at + 1] << 8;
    };
    std::size_t rest = (card16(6) + 3) / 4 * 4 + (card16(8) + 3) / 4 * 4;
    std::vector<char> skip(rest);
    if (rest && ::recv(client, skip.data(), rest, MSG_WAITALL) < 0) return;
    const std::string reason = "Maximum number of clients reached";
    std::string reply(8, '\0');
    reply[1] = static_cast<char>(reason.size());
    const int major = 11, units = static_cast<int>((reason.size() + 3) / 4);
    reply[big ? 3 : 2] = static_cast<char>(major);
    reply[big ? 7 : 6] = static_cast<char>(units);
    reply += reason;
    reply.resize(8 + units * 4, '\0');
    ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
  }

  std::string display_, path_;
  int listener_ = -1;
  std::thread thread_;
  std::atomic<int> refused_{0};
};

// DISPLAY set to value for the life of the object ("" unsets it).
class DisplayVariable {
 public:
  explicit DisplayVariable(const std::string& value) {
    if (const char* was = std::getenv("DISPLAY")) was_ = was;
    if (value.empty())
      ::unsetenv("DISPLAY");
    else
      ::setenv("DISPLAY", value.c_str(), 1);
  }
  ~DisplayVariable() {
    if (was_)
      ::setenv("DISPLAY", was_->c_str(), 1);
    else
      ::unsetenv("DISPLAY");
  }

 private:
  std::optional<std::string> was_;
};

TEST(ProbeXDisplay, SaysWhyTheServerTakesNoConnection) {
  ZEPT_NEED_DISPLAY();
  const FullXServer full;
  const std::string nobody = FreeDisplay();
  const struct {
    std::string display;
    std::string failure;  // the reason's start; "" when it connects
    bool retry;
  } kCases[] = {
      {"", "DISPLAY is not set", false},
      {"no-such-display", "DISPLAY=no-such-display names no display", false},
      {nobody, "cannot connect to the X server at " + nobody + ": ", true},
      {full.display(),
       "the X server at " + full.display() +
           " refused the connection: Maximum number of clients reached",
       true},
      {std::getenv("DISPLAY"), "", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.display);
    const DisplayVariable set(c.display);
    const DisplayTry probe = ProbeXDisplay();
    EXPECT_EQ(probe.failure.substr(0, c.failure.size()), c.failure)
        << probe.failure;
    EXPECT_EQ(probe.failure.empty(), c.failure.empty()) << probe.failure;
    EXPECT_EQ(probe.retry, c.retry);
  }
}

// zept on a package of one page, with a display of its own.
class StartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZEPT_NEED_DISPLAY();
    char pattern[] = "/tmp/zept-start-XXXXXX";
    root_ = ::mkdtemp(pattern);
    fs::create_directories(root_ / "course");
    std::ofstream(root_ / "course" / "imsmanifest.xml")
        << "<?xml version=\"1.0\"?><manifest identifier=\"START\" "
           "xmlns=\"http://www.imsproject.org/xsd/imscp_rootv1p1p2\" "
           "xmlns:adlcp=\"http://www.adlnet.org/xsd/adlcp_rootv1p2\">"
           "<organizations default=\"O\"><organization identifier=\"O\">"
           "<title>Start</title><item identifier=\"I\" identifierref=\"R\">"
           "<title>One</title></item></organization></organizations>"
           "<resources><resource identifier=\"R\" type=\"webcontent\" "
           "adlcp:scormtype=\"sco\" href=\"one.html\"/></resources>"
           "</manifest>";
    std::ofstream(root_ / "course" / "one.html") << "<html></html>";
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (!root_.empty()) fs::remove_all(root_);
  }

  void start(const std::string& display) {
    const std::string command =
        "HOME=" + root_.string() + " XDG_DATA_HOME=" + root_.string() +
        "/data XDG_CACHE_HOME=" + root_.string() +
        "/cache NO_AT_BRIDGE=1 DBUS_SESSION_BUS_ADDRESS=disabled: DISPLAY=" +
        display + " exec " ZEPT_BINARY " --learner anna " +
        (root_ / "course").string() + " >" + output() + " 2>&1";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      ::_exit(127);
    }
  }
  std::string output() const { return (root_ / "zept.out").string(); }
  std::string said() const {
    std::ifstream in(output());
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The exit status, or -1 when zept has not ended within ms.
  int waitExit(int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  bool waitFor(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
  }

  fs::path root_;
  pid_t pid_ = -1;
};

// Once zept has been refused twice it waits: SIGTERM and SIGHUP then end it
// at once, with nothing to keep and nothing said.
TEST_F(StartTest, AQuitSignalWhileTheDisplayIsAwaitedEndsZept) {
  for (const int number : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(number);
    const FullXServer full;
    start(full.display());
    ASSERT_TRUE(waitFor([&] { return full.refused() >= 2; }, 60000)) << said();
    ::kill(pid_, number);
    EXPECT_EQ(waitExit(5000), 0) << said();
    EXPECT_EQ(said().find("cannot open the display"), std::string::npos)
        << said();
  }
}

// Every client slot of the X server is taken when zept starts; once one is
// free, zept opens its window and shows the course.
TEST_F(StartTest, ABusyServerIsWaitedFor) {
  const OwnXServer server({"-maxclients", "64"});
  ASSERT_FALSE(server.display().empty());
  std::vector<xcb_connection_t*> taken;
  for (int n = 0; n < 64; ++n) {
    xcb_connection_t* c = xcb_connect(server.display().c_str(), nullptr);
    if (xcb_connection_has_error(c)) {
      xcb_disconnect(c);
      break;
    }
    taken.push_back(c);
  }
  ASSERT_GT(taken.size(), 32u);
  start(server.display());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  for (xcb_connection_t* c : taken) xcb_disconnect(c);
  EXPECT_TRUE(waitFor(
      [&] {
        return said().find("The course menu is shown") != std::string::npos;
      },
      60000))
      << said();
  EXPECT_EQ(said().find("cannot open the display"), std::string::npos)
      << said();
  ::kill(pid_, SIGTERM);
  EXPECT_EQ(waitExit(20000), 0) << said();
}

}  // namespace
}  // namespace zept::desktop
