// Standard packages played by zept in a window on the private X server:
// packages written by the tests, HTML SCOs that drive window.API from their
// own scripts, and what was stored read back with zept-results.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "app/test_channel_line.h"
#include "desktop/display.h"
#include "lrs/lrs_server.h"
#include "swf/script.h"
#include "swf/swf.h"

namespace fs = std::filesystem;
using namespace zept::desktop::testing;

namespace {

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1))
    ++n;
  return n;
}

// Waits until the file says `part` at least `times` times.
bool WaitForText(const fs::path& path, const std::string& part,
                 int timeoutMs = 20000, int times = 1) {
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    if (Count(Slurp(path), part) >= times) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << "never said " << times << " times: " << part << "\n"
                << Slurp(path);
  return false;
}

// The pixels of a screenshot in the red of the screens' messages.
int RedPixels(GdkPixbuf* shot) {
  int count = 0;
  for (int y = 0; y < gdk_pixbuf_get_height(shot); ++y)
    for (int x = 0; x < gdk_pixbuf_get_width(shot); ++x) {
      const Rgb p = PixelAt(shot, x, y);
      count += p.r > 150 && p.g < 80 && p.b < 80;
    }
  return count;
}

// A loopback port listened on (non-blocking) and its address, which no page
// may reach: {-1, ""} when none can be had.
std::pair<int, std::string> Listener() {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) !=
          0)
    return {-1, ""};
  return {listener,
          "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"};
}

// A manifest with one organization of the given items, each
// {identifier, title, href, extra item elements}.
struct TestItem {
  std::string id, title, href, extra;
};
std::string Manifest(const std::string& title,
                     const std::vector<TestItem>& items) {
  std::string organization, resources;
  for (const TestItem& item : items) {
    organization += "<item identifier=\"" + item.id + "\" identifierref=\"R_" +
                    item.id + "\"><title>" + item.title + "</title>" +
                    item.extra + "</item>\n";
    resources += "<resource identifier=\"R_" + item.id +
                 "\" type=\"webcontent\" adlcp:scormtype=\"sco\" href=\"" +
                 item.href + "\"><file href=\"" + item.href +
                 "\"/></resource>\n";
  }
  return R"(<?xml version="1.0"?>
<manifest identifier="TEST" version="1.0"
 xmlns="http://www.imsproject.org/xsd/imscp_rootv1p1p2"
 xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_rootv1p2">
<metadata><schema>ADL SCORM</schema><schemaversion>1.2</schemaversion></metadata>
<organizations default="ORG"><organization identifier="ORG"><title>)" +
         title + "</title>\n" + organization +
         "</organization></organizations>\n<resources>\n" + resources +
         "</resources></manifest>\n";
}

// Every SCO page finds the API as content does: up its parents, then its
// opener. report() keeps what the SCO saw in cmi.core.lesson_location.
constexpr char kScoHead[] = R"(<!DOCTYPE html><html><head><meta charset="utf-8">
<script>
function findApi(w) {
  for (var n = 0; w && n < 10; n++) { if (w.API) return w.API; if (w.parent === w) break; w = w.parent; }
  return null;
}
var A = findApi(window) || (window.opener && findApi(window.opener));
function report(text) { A.LMSSetValue("cmi.core.lesson_location", text); A.LMSCommit(""); }
</script>)";

class PackageWindowTest : public ::testing::Test {
 protected:
  fs::path root;

  void SetUp() override {
    ZEPT_NEED_DISPLAY();
    char pattern[] = "/tmp/zept-package-XXXXXX";
    root = ::mkdtemp(pattern);
    fs::create_directories(root / "tmp");
  }
  void TearDown() override {
    if (running_ > 0) {
      ::kill(running_, SIGKILL);
      ::waitpid(running_, nullptr, 0);
    }
    for (int* fd : {&channel_, &listener_})
      if (*fd >= 0) ::close(std::exchange(*fd, -1));
    if (!root.empty()) fs::remove_all(root);
  }

  // A package folder with these files (path -> content).
  fs::path writePackage(const std::string& name,
                        const std::map<std::string, std::string>& files) {
    const fs::path folder = root / name;
    for (const auto& [path, content] : files) {
      fs::create_directories((folder / path).parent_path());
      std::ofstream(folder / path, std::ios::binary) << content;
    }
    return folder;
  }
  // The same files as a .zip, deflated but for the entries named stored.
  fs::path writeZip(const std::string& name,
                    const std::map<std::string, std::string>& files,
                    const std::set<std::string>& stored = {}) {
    const fs::path path = root / name;
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto& [entry, content] : files) {
      zip_source_t* source =
          zip_source_buffer(archive, content.data(), content.size(), 0);
      const zip_int64_t index =
          zip_file_add(archive, entry.c_str(), source, ZIP_FL_ENC_UTF_8);
      if (stored.count(entry))
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                 ZIP_CM_STORE, 0);
    }
    zip_close(archive);
    return path;
  }

  std::string environment() const {
    return "HOME=" + (root / "home").string() +
           " XDG_DATA_HOME=" + (root / "data").string() +
           " ZEPT_REGISTRY_DIR=" + (root / "registry").string() +
           " TMPDIR=" + (root / "tmp").string() +
           " NO_AT_BRIDGE=1 DBUS_SESSION_BUS_ADDRESS=disabled: ";
  }

  // zept started in the background, with more of the environment if given
  // ("NAME=VALUE "); its output goes to root/zept.out.
  void start(const std::string& arguments, const std::string& more = "") {
    // A new zept connects to the channel anew.
    if (channel_ >= 0) ::close(std::exchange(channel_, -1));
    const std::string command = environment() + more + "exec " ZEPT_BINARY " " +
                                arguments + " >" + output().string() + " 2>&1";
    running_ = ::fork();
    if (running_ == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      ::_exit(127);
    }
  }
  fs::path output() const { return root / "zept.out"; }
  // Presses keys in zept's window of that title, as the learner would.
  // The window may take a moment to show and to be titled.
  void pressKeys(const std::string& title, const std::string& keys) {
    std::string id;
    PumpUntil(
        [&] {
          id = RunCommand("xdotool search --onlyvisible --name '" + title +
                          "$' | head -1");
          return !id.empty();
        },
        5000);
    ASSERT_FALSE(id.empty())
        << Slurp(output()) << "windows: "
        << RunCommand("xdotool search --onlyvisible --name . getwindowname %@");
    RunCommand("xdotool windowfocus --sync " + id.substr(0, id.find('\n')) +
               " key " + keys);
  }
  // The exit status, or -1 when it has not ended within timeoutMs.
  int waitExit(int timeoutMs = 20000) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
      int status = 0;
      if (::waitpid(running_, &status, WNOHANG) == running_) {
        running_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }
  // Never to a pid of -1 or 0: that would reach every process of the user
  // or the whole test run's group once zept has been reaped.
  void signal(int number) {
    if (running_ > 0) ::kill(running_, number);
  }
  pid_t running() const { return running_; }
  // The id of a dialog of the window titled title (the smaller of the
  // windows with that title), waited for; "" when none shows.
  std::string dialogOf(const std::string& title, int timeoutMs = 20000) {
    const std::string find =
        "for w in $(xdotool search --onlyvisible --name '" + title +
        "$'); do [ \"$(xwininfo -id $w | "
        "awk '/Width:/ {print $2}')\" -lt 600 ] && "
        "echo $w; done";
    for (int waited = 0; waited < timeoutMs; waited += 200) {
      const std::string ids = RunCommand(find);
      if (!ids.empty()) return ids.substr(0, ids.find('\n'));
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return "";
  }
  // Presses Return in the window id.
  void pressReturn(const std::string& id) {
    RunCommand("xdotool windowfocus --sync " + id + " key Return");
  }

  // What the stores hold, as sqlite3 prints the rows of the query.
  std::string storedValues(const std::string& query) const {
    return RunCommand("for f in " + (root / "data").string() +
                      "/zept/packages/*.sqlite; do sqlite3 -readonly \"$f\" "
                      "\"" +
                      query + "\"; done 2>&1");
  }

  // Runs sql on the stores, as another program would while zept runs.
  void execStore(const std::string& sql) const {
    int status = 0;
    const std::string out =
        RunCommand("for f in " + (root / "data").string() +
                       "/zept/packages/*.sqlite; do sqlite3 -cmd '.timeout "
                       "5000' \"$f\" \"" +
                       sql + "\" || exit 1; done 2>&1",
                   &status);
    EXPECT_EQ(status, 0) << out;
  }
  // Polls the stores until the rows of the query hold part.
  bool waitStored(const std::string& query, const std::string& part,
                  int timeoutMs = 20000) const {
    for (int waited = 0; waited < timeoutMs; waited += 100) {
      if (storedValues(query).find(part) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "never stored: " << part << "\n" << storedValues(query);
    return false;
  }

  std::string results(const fs::path& package, int* status = nullptr) {
    return RunCommand(
        environment() + ZEPT_RESULTS_BINARY " " + package.string() + " 2>&1",
        status);
  }
  // Polls zept-results until its output holds part.
  bool waitResults(const fs::path& package, const std::string& part,
                   int timeoutMs = 20000) {
    for (int waited = 0; waited < timeoutMs; waited += 100) {
      if (results(package).find(part) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "never stored: " << part
                  << "\nresults: " << results(package)
                  << "\nzept: " << Slurp(output());
    return false;
  }

  // zept's test channel, listened on before start() is given the
  // environment returned: the screens' text is read through it as the
  // learner reads it.
  std::string listenToScreens() {
    const fs::path path = root / "channel";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s",
                  path.c_str());
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address),
                     sizeof address),
              0);
    EXPECT_EQ(::listen(listener_, 1), 0);
    return "ZEPT_TEST_CHANNEL=" + path.string() + " ";
  }
  // The text of zept's page once it holds every part (asked again while it
  // does not); the last text read, "" when zept never answered.
  std::string screenText(const std::vector<std::string>& parts,
                         int timeoutMs = 20000) {
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (channel_ < 0) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, timeoutMs) <= 0) return "";
      channel_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    std::string shown, buffer;
    while (std::chrono::steady_clock::now() < until) {
      ::send(channel_, "text\n", 5, MSG_NOSIGNAL);
      // Other reports of the page pass by; a page not yet started refuses.
      for (bool answered = false; !answered;) {
        pollfd readable{channel_, POLLIN, 0};
        if (::poll(&readable, 1, 2000) <= 0) break;
        char chunk[4096];
        const ssize_t n = ::read(channel_, chunk, sizeof chunk);
        if (n <= 0) return shown;
        buffer.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;) {
          const std::vector<std::string> fields =
              zept::DecodeTestLine(buffer.substr(0, end));
          buffer.erase(0, end + 1);
          if (fields[0] == "refused") answered = true;
          if (fields[0] != "text" || fields.size() < 2) continue;
          shown = fields[1];
          answered = true;
        }
      }
      bool all = !shown.empty();
      for (const std::string& part : parts)
        all = all && shown.find(part) != std::string::npos;
      if (all) return shown;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return shown;
  }

 private:
  pid_t running_ = -1;
  int listener_ = -1;
  int channel_ = -1;
};

// What the SCO saw, in order: LMSInitialize, entry, suspend_data, the
// learner's name, a status outside the vocabulary and its error; then it
// suspends with data of its own.
const std::map<std::string, std::string> kResumeFiles = {
    {"imsmanifest.xml",
     Manifest("Resume course", {{"SCO1", "One", "sco1/index.html", ""}})},
    {"sco1/index.html", std::string(kScoHead) + R"(</head><body><script>
var seen = [A.LMSInitialize(""), A.LMSGetValue("cmi.core.entry"),
            A.LMSGetValue("cmi.suspend_data"), A.LMSGetValue("cmi.core.student_name"),
            A.LMSSetValue("cmi.core.lesson_status", "bogus"), A.LMSGetLastError()];
A.LMSSetValue("cmi.suspend_data", "state-" + seen[1]);
A.LMSSetValue("cmi.core.exit", "suspend");
report(seen.join("|"));
</script><p>One</p></body></html>)"}};

TEST_F(PackageWindowTest, AnHtmlScoResumesWhereItWasLeft) {
  const fs::path package = writePackage("resume", kResumeFiles);
  start("--learner 'Anna & Ben' --item SCO1 " + package.string());
  ASSERT_TRUE(waitResults(package, "true|ab-initio||Anna & Ben|false|405"));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  const std::string first = results(package);
  EXPECT_NE(first.find("\"cmi.core.entry\": \"resume\""), std::string::npos)
      << first;

  start("--learner 'Anna & Ben' --item SCO1 " + package.string());
  ASSERT_TRUE(
      waitResults(package, "true|resume|state-ab-initio|Anna & Ben|false|405"));
  signal(SIGHUP);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

TEST_F(PackageWindowTest, AZipPackagePlaysInPlace) {
  const fs::path package = writeZip("resume.zip", kResumeFiles);
  start("--learner anna --item SCO1 " + package.string());
  ASSERT_TRUE(waitResults(package, "true|ab-initio||anna|false|405"));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  EXPECT_FALSE(fs::exists(root / "resume")) << "nothing is extracted";
}

// Files of a .zip larger than what is read at once are streamed: a range
// of a stored entry and of a deflated one (inflated once into a temporary
// file, gone when zept ends) is exactly the bytes asked for. Both entries
// hold lines "0000000\n", "0000001\n", ... so the page knows every byte.
TEST_F(PackageWindowTest, RangesOfLargeZipEntriesAreTheBytesAsked) {
  std::string lines;
  char line[16];
  for (int i = 0; i < 375000; ++i) {
    std::snprintf(line, sizeof line, "%07d\n", i);
    lines += line;
  }
  const fs::path package = writeZip(
      "media.zip",
      {{"imsmanifest.xml",
        Manifest("Media course", {{"V1", "Video", "v/index.html", ""}})},
       {"v/stored.bin", lines},
       {"v/packed.bin", lines},
       {"v/index.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
function bytes(first, last) {
  var out = "";
  for (var i = first - first % 8; i <= last; i += 8)
    out += ("000000" + i / 8).slice(-7) + "\n";
  return out.substring(first % 8, first % 8 + last - first + 1);
}
var size = 3000000, seen = [];
[["bytes=2999990-", 2999990, 2999999], ["bytes=1048570-1310729", 1048570, 1310729],
 ["bytes=-5", 2999995, 2999999], ["bytes=3000000-", -1, -1], ["", 0, 2999999]]
.forEach(function (c) {
  ["stored", "packed"].forEach(function (name) {
    var x = new XMLHttpRequest();
    x.open("GET", name + ".bin", false);
    if (c[0]) x.setRequestHeader("Range", c[0]);
    x.send();
    var right = c[1] < 0 ? x.responseText === "" : x.responseText === bytes(c[1], c[2]);
    seen.push(name + " " + x.status + " " + x.getResponseHeader("Content-Range") +
              " " + x.getResponseHeader("Content-Length") + (right ? " right" : " wrong"));
  });
});
A.LMSSetValue("cmi.suspend_data", seen.join(";"));
report("done");
</script></body></html>)"}},
      {"v/stored.bin"});
  start("--learner anna --item V1 " + package.string());
  ASSERT_TRUE(waitResults(package, "\"done\""));
  EXPECT_NE(results(package).find(
                "stored 206 bytes 2999990-2999999/3000000 10 right;"
                "packed 206 bytes 2999990-2999999/3000000 10 right;"
                "stored 206 bytes 1048570-1310729/3000000 262160 right;"
                "packed 206 bytes 1048570-1310729/3000000 262160 right;"
                "stored 206 bytes 2999995-2999999/3000000 5 right;"
                "packed 206 bytes 2999995-2999999/3000000 5 right;"
                "stored 416 bytes */3000000 0 right;"
                "packed 416 bytes */3000000 0 right;"
                "stored 200 null 3000000 right;packed 200 null 3000000 right"),
            std::string::npos)
      << results(package);
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  for (const auto& left : fs::directory_iterator(root / "tmp"))
    EXPECT_NE(left.path().filename().string().rfind("zept-entries-", 0), 0u)
        << "left behind: " << left.path();
}

// A SCO that says everything from its unload handler, left by closing the
// window as the learner would.
TEST_F(PackageWindowTest, ClosingTheWindowLetsTheScoUnload) {
  const fs::path package = writePackage(
      "unload",
      {{"imsmanifest.xml",
        Manifest("Unload course", {{"U1", "Leaving", "u/index.html", ""}})},
       {"u/index.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
A.LMSSetValue("cmi.core.lesson_status", "completed");
report("loaded");
// As many calls as authoring tools make when their pages go: more than
// WebKit lets a page make before it drops them unsaid; and the status read
// as content does before it leaves, which must not regress it.
window.addEventListener("unload", function () {
  if (A.LMSGetValue("cmi.core.lesson_status") !== "completed")
    A.LMSSetValue("cmi.core.lesson_status", "incomplete");
  for (var n = 0; n < 12; n++) A.LMSSetValue("cmi.objectives." + n + ".id", "o" + n);
  A.LMSSetValue("cmi.core.lesson_location", "unloaded");
  A.LMSCommit("");
  A.LMSFinish("");
});
</script></body></html>)"}});
  start("--strict --learner anna --item U1 " + package.string());
  ASSERT_TRUE(waitResults(package, "\"loaded\""));
  // The close button of a window manager: a request the window answers.
  const std::string id =
      RunCommand("xdotool search --onlyvisible --name 'Unload course$'");
  ASSERT_FALSE(id.empty()) << Slurp(output());
  ASSERT_TRUE(SendCloseRequest(std::stoul(id)));
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  const std::string stored = results(package);
  EXPECT_NE(stored.find("\"unloaded\""), std::string::npos) << stored;
  EXPECT_NE(stored.find("\"cmi.core.lesson_status\": \"completed\""),
            std::string::npos)
      << stored;
  EXPECT_NE(stored.find("\"cmi.objectives.11.id\": \"o11\""), std::string::npos)
      << stored;
  // Every call of the page's leaving reached the runtime.
  EXPECT_NE(Slurp(output()).find("LMSFinish 1, LMSGetValue 1, LMSSetValue 15, "
                                 "LMSCommit 2"),
            std::string::npos)
      << Slurp(output());
}

// A movie in the SCO's page reaches the page's functions, and through them
// the API.
TEST_F(PackageWindowTest, AMovieInTheScoPageReachesTheApi) {
  zept::swf::MovieWriter movie(200, 100, 24, {255, 255, 255});
  movie.doAction(zept::swf::CompileScript(
      R"(flash.external.ExternalInterface.call("fromMovie", "from-movie");)"));
  movie.showFrame();
  const fs::path package = writePackage(
      "movie",
      {{"imsmanifest.xml",
        Manifest("Movie course", {{"M1", "Movie", "m/index.html", ""}})},
       {"m/talk.swf", movie.bytes(true)},
       {"m/index.html", std::string(kScoHead) + R"(
<script>A.LMSInitialize(""); function fromMovie(v) { report(v); return "ok"; }</script>
</head><body><script>
// As the scripts that write a page's movie do: only where the plugin is.
var flash = navigator.mimeTypes["application/x-shockwave-flash"];
if (navigator.plugins["Shockwave Flash"] && flash && flash.enabledPlugin)
  document.write('<embed src="talk.swf" width="200" height="100">');
else
  report("no plugin");
</script></body></html>)"}});
  start("--learner anna --item M1 " + package.string());
  EXPECT_TRUE(waitResults(package, "\"from-movie\"", 40000));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// confirm() is a GTK dialog the learner answers with the keyboard.
TEST_F(PackageWindowTest, ConfirmIsAnsweredInAGtkDialog) {
  const fs::path package = writePackage(
      "confirm",
      {{"imsmanifest.xml",
        Manifest("Confirm course", {{"C1", "Ask", "c/index.html", ""}})},
       {"c/index.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
setTimeout(function () { report(confirm("Keep going?") ? "yes" : "no"); }, 100);
</script></body></html>)"}});
  start("--learner anna --item C1 " + package.string());
  const std::string dialog = dialogOf("Confirm course", 30000);
  ASSERT_FALSE(dialog.empty()) << Slurp(output());
  pressReturn(dialog);
  EXPECT_TRUE(waitResults(package, "\"yes\""));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// Items held back by their prerequisites open once the items they wait on
// are passed, and the menu's Continue reaches them.
TEST_F(PackageWindowTest, PrerequisitesOpenAsItemsArePassed) {
  // Each SCO passes and the learner goes on with Alt+N (a click a script
  // makes is not the learner's and changes nothing).
  const std::string finish = std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
A.LMSSetValue("cmi.core.score.raw", "90");
A.LMSSetValue("cmi.core.lesson_status", "passed");
A.LMSFinish("");
</script></body></html>)";
  const fs::path package = writePackage(
      "prerequisites",
      {{"imsmanifest.xml",
        Manifest("Prerequisite course",
                 {{"P1", "First", "p1.html", ""},
                  {"P2", "Second", "p2.html",
                   "<adlcp:prerequisites "
                   "type=\"aicc_script\">P1</adlcp:prerequisites>"},
                  {"P3", "Third", "p3.html",
                   "<adlcp:prerequisites type=\"aicc_script\">P1 &amp; "
                   "P2</adlcp:prerequisites>"}})},
       // Made where names ignore case: the manifest says "p1.html".
       {"P1.HTML", finish},
       {"p2.html", finish},
       {"p3.html", std::string(kScoHead) +
                       "</head><body><script>A.LMSInitialize(\"\"); "
                       "report(\"third\");</script></body></html>"}});
  start("--learner anna --item P3 " + package.string());
  ASSERT_TRUE(WaitForText(output(),
                          "Item P3 is held back: First complete: "
                          "First, Second"));
  // Continue, the menu's first button, opens the first item; each passes
  // and moves on with Next.
  const std::string id = RunCommand(
      "xdotool search --sync --onlyvisible --name 'Prerequisite course$'");
  ASSERT_FALSE(id.empty());
  const std::string window = id.substr(0, id.find('\n'));
  RunCommand("xdotool mousemove --window " + window + " 75 57 click 1");
  for (int passed = 1; passed <= 2; ++passed) {
    for (int waited = 0; waited < 20000; waited += 100) {
      if (Count(results(package), "\"passed\"") >= passed) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    RunCommand("xdotool windowfocus --sync " + window + " key alt+n");
  }
  ASSERT_TRUE(waitResults(package, "\"third\""));
  const std::string stored = results(package);
  EXPECT_EQ(Count(stored, "\"cmi.core.lesson_status\": \"passed\""), 2)
      << stored;
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// A page of a SCO that opens a window gets one, whose opener leads to the
// API; nothing a page asks of the network leaves the machine.
TEST_F(PackageWindowTest, OpenedWindowsFindTheApiAndTheNetworkStaysClosed) {
  const auto [listener, far] = Listener();
  ASSERT_GE(listener, 0);
  const fs::path package = writePackage(
      "opened",
      {{"imsmanifest.xml",
        Manifest("Opened course", {{"O1", "Opener", "o/index.html", ""}})},
       {"o/index.html", std::string(kScoHead) + R"(</head><body>
<img src=")" + far + R"(img"><script>
A.LMSInitialize("");
try { fetch(")" + far + R"(fetch").catch(function () {}); } catch (e) {}
try { navigator.sendBeacon(")" +
                            far + R"(beacon", "x"); } catch (e) {}
try { new WebSocket(")" + far.substr(0, far.size()) +
                            R"(".replace("http", "ws")); } catch (e) {}
window.open("popup.html", "popup", "width=320,height=200");
</script></body></html>)"},
       {"o/popup.html", std::string(kScoHead) + R"(</head><body><script>
report(window.opener ? "opened" : "no opener");
</script></body></html>)"}});
  start("--learner anna --item O1 " + package.string());
  EXPECT_TRUE(waitResults(package, "\"opened\""));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LT(::accept(listener, nullptr, nullptr), 0)
      << "a page reached " << far;
  ::close(listener);
  // What was refused is named for the course team.
  EXPECT_TRUE(WaitForText(output(), "asked for " +
                                        far.substr(0, far.size() - 1) +
                                        ", which is not part of it"));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// What a launch's pages do stays in that launch and on this machine: a
// script from the package's root is served; downloads, a link to another
// address, the full screen and missing files of a megabyte's name are
// refused and named in a line each; the next launch finds nothing of the
// first in web storage or IndexedDB, and going back through the frame's
// history finds no launch's values in its address.
TEST_F(PackageWindowTest, WhatALaunchDoesStaysInItsLaunch) {
  const auto [listener, far] = Listener();
  ASSERT_GE(listener, 0);
  fs::create_directories(root / "home" / "Downloads");
  std::ofstream(root / "home" / "thesis.txt") << "mine";
  const fs::path package = writePackage(
      "apart",
      {{"imsmanifest.xml",
        Manifest("Apart course", {{"A1", "First", "a/one.html", ""},
                                  {"A2", "Second", "a/two.html", ""}})},
       {"js/lib.js", "var libLoaded = 'lib';"},
       {"a/one.html", std::string(kScoHead) + R"(
<script src="/js/lib.js"></script>
<style>html, body { margin: 0; height: 100%; }
button { width: 100%; height: 100%; }</style>
</head><body><button id="big">Full screen</button>
<a id="far" target="_blank" href=")" +
                          far + R"(">far</a>
<script>
function raw(launch, name, args) {
  var x = new XMLHttpRequest();
  x.open("POST", "/api", false);
  x.send(JSON.stringify(["api", launch, name].concat(args)));
}
if (A.LMSInitialize("") !== "true") {
  // Played again from the frame's history: what its address holds goes
  // out through whichever launch plays now.
  var held = "";
  try { held = parent.location.href; } catch (e) {}
  for (var n = 1; n < 6; n++) {
    raw(String(n), "LMSSetValue", ["cmi.core.lesson_location", "leak:" + held]);
    raw(String(n), "LMSCommit", [""]);
  }
} else {
  localStorage.setItem("answer", "kept");
  sessionStorage.setItem("answer", "kept");
  var opened = indexedDB.open("keep", 1);
  opened.onupgradeneeded = function () { opened.result.createObjectStore("s"); };
  opened.onsuccess = function () {
    var tx = opened.result.transaction("s", "readwrite");
    tx.objectStore("s").put("kept", "answer");
    tx.oncomplete = function () {
      opened.result.close();
      window.open("save.html", "save", "width=1,height=1");
      document.getElementById("far").click();
      for (var m = 0; m < 3; m++)
        new Image().src = m + "x".repeat(20000) + ".png";
      // What only zept may find, said by a page with no emulator.
      var said = new XMLHttpRequest();
      said.open("POST", "/page", false);
      said.send(JSON.stringify(["crashed", "/pkg/a/one.html",
                                "RuntimeError: forged", "a/one.html"]));
      report("one:" + libLoaded);
    };
  };
  document.getElementById("big").addEventListener("click", function () {
    try { document.documentElement.requestFullscreen().catch(function () {}); } catch (e) {}
    setTimeout(function () {
      report("fs:" + (document.fullscreenElement ? "yes" : "no"));
    }, 1500);
  });
}
</script></body></html>)"},
       {"a/save.html", R"(<!DOCTYPE html><body>
<a id="save" download="thesis.txt" href="data:text/plain,overwritten">s</a>
<script>
document.getElementById("save").click();
var link = document.createElement("a");
link.href = URL.createObjectURL(new Blob(["overwritten"]));
link.download = "thesis.txt";
document.body.appendChild(link);
link.click();
</script></body>)"},
       {"a/two.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
var opened = indexedDB.open("keep", 1), fresh = false;
opened.onupgradeneeded = function () { fresh = true; };
opened.onsuccess = function () {
  opened.result.close();
  report("two:" + localStorage.getItem("answer") + "," +
         sessionStorage.getItem("answer") + "," + (fresh ? "new" : "kept"));
  setTimeout(function () { history.go(-2); }, 1000);
};
</script></body></html>)"}});
  start("--learner anna --item A1 " + package.string());
  ASSERT_TRUE(waitResults(package, "\"one:lib\""));
  EXPECT_TRUE(WaitForText(output(), "a path from the web server's root"));
  EXPECT_TRUE(WaitForText(output(), "on the computer: zept saves nothing"));
  EXPECT_TRUE(WaitForText(output(), "though none was loaded: nothing changed"));
  const std::string id = RunCommand(
      "xdotool search --onlyvisible --name 'Apart course$' | head -n 1");
  ASSERT_FALSE(id.empty());
  const std::string window = id.substr(0, id.find('\n'));
  RunCommand("xdotool mousemove --window " + window + " 400 300 click 1");
  ASSERT_TRUE(waitResults(package, "\"fs:no\""));
  EXPECT_LT(::accept(listener, nullptr, nullptr), 0)
      << "a page reached " << far;
  ::close(listener);
  EXPECT_EQ(Slurp(root / "home" / "thesis.txt"), "mine");
  EXPECT_TRUE(fs::is_empty(root / "home" / "Downloads"));
  RunCommand("xdotool windowfocus --sync " + window + " key alt+n");
  ASSERT_TRUE(waitResults(package, "\"two:null,null,new\""));
  // The first launch's page, played again from history, finds nothing.
  std::this_thread::sleep_for(std::chrono::seconds(4));
  EXPECT_EQ(results(package).find("leak:"), std::string::npos)
      << results(package);
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  EXPECT_EQ(Slurp(output()).find("the learner was offered Retry"),
            std::string::npos);
  // Names of 20,000 characters were cut: the journal stays small. (Longer
  // addresses never reach zept: its server refuses them, as web servers do.)
  EXPECT_EQ(Count(Slurp(output()), "which is missing from the package"), 3);
  EXPECT_LT(fs::file_size(output()), 64u << 10);
}

// A SCO that tries everything zept's screens do: their messages (by the
// scheme and by the message handler), their buttons by script, a hook to
// read what the screens send, the top page's address. Nothing changes: the
// learner, the item and zept stay, and the journal names what was refused.
TEST_F(PackageWindowTest, AScoCannotWorkZeptsScreens) {
  const fs::path package = writePackage(
      "hostile",
      {{"imsmanifest.xml",
        Manifest("Hostile course", {{"H1", "Hostile", "h/index.html", ""},
                                    {"H2", "Other", "h/other.html", ""}})},
       {"h/other.html",
        std::string(kScoHead) +
            "</head><body><script>A.LMSInitialize(\"\"); "
            "report(\"other-launched\");</script></body></html>"},
       {"h/index.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
var stolen = [];
// The frame that holds the API is the package's own: what it sends is
// spied on there, and the screens' page cannot be reached at all.
parent.Array.prototype.toJSON = function () { stolen.push(this.join(",")); return this; };
parent.String.prototype.toJSON = function () { stolen.push(String(this)); return this; };
try { top.Array.prototype.toJSON = function () { stolen.push("top"); return this; }; } catch (e) {}
// To the screens' address (another origin: the answer cannot be read) and
// to the package's own, which takes API calls only.
function send(list, where) {
  var x = new XMLHttpRequest();
  x.open("POST", where || "/api", false);
  x.send(JSON.stringify(list));
  return x.responseText;
}
var answers = [];
[["login", "mallory"], ["launch", "H2"], ["menu"], ["left", "0"], ["exit"],
 ["screen", "guess", "exit"], ["screen", "", "launch", "H2"]].forEach(function (m) {
  try { answers.push(send(m, "zept://z/api")); } catch (e) { answers.push("threw"); }
  try { answers.push(send(m)); } catch (e) { answers.push("threw"); }
});
try {
  window.webkit.messageHandlers.zeptApi.postMessage(
      JSON.stringify(["posted", "screen", "guess", "exit"]));
} catch (e) {}
for (var id of ["exit", "menu-exit", "to-menu", "next", "change-learner"]) {
  try {
    var b = top.document.getElementById(id);
    b.disabled = false;
    b.click();
    b.dispatchEvent(new KeyboardEvent("keydown", {key: "Enter", bubbles: true}));
  } catch (e) {}
}
try { top.zeptLeave("guess"); } catch (e) {}
// Runaway content: a value of 3 Mi characters, a call of 9 MiB.
var big = A.LMSSetValue("cmi.suspend_data", "x".repeat(3 << 20)) + A.LMSGetLastError();
try { send(["api", "1", "LMSSetValue", "cmi.suspend_data", "y".repeat(9 << 20)]); } catch (e) {}
setTimeout(function () {
  try { top.location = "/pkg/h/other.html"; } catch (e) {}
  setTimeout(function () {
    report("still-here|" + stolen.length + "|" +
           answers.join(";").indexOf("\"ok\":true") + "|" + big);
  }, 1500);
}, 300);
</script></body></html>)"}});
  start("--learner anna --item H1 " + package.string());
  ASSERT_TRUE(waitResults(package, "\"still-here|0|-1|false405\"", 40000));
  const std::string out = Slurp(output());
  EXPECT_NE(out.find("only zept's own screens may send: it changed nothing"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("reached the package's address, which only zept's "
                     "screens may use: it changed nothing"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("a call of more than 8 MiB: it was refused"),
            std::string::npos)
      << out;
  const std::string stored = results(package);
  EXPECT_EQ(stored.find("mallory"), std::string::npos) << stored;
  EXPECT_EQ(stored.find("other-launched"), std::string::npos) << stored;
  EXPECT_EQ(waitExit(100), -1) << "zept ended: " << out;
  // The screens still answer the learner: Alt+M, with the focus in the SCO.
  pressKeys("Hostile course", "alt+m");
  EXPECT_TRUE(WaitForText(output(), "The course menu is shown"));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// A SCO that goes for the screens themselves: a script of its own put into
// their page, hooking how they listen and calling their handlers with
// forged trusted events; or the top window taken to about:blank or to
// another page, by itself or by a window it opened. The learner presses
// Alt+M where the screens still show; the screens stay, the SCO's page
// keeps playing until they leave it, and no other item starts or learner
// logs in.
TEST_F(PackageWindowTest, AScoCannotReachIntoTheScreensNorTakeTheWindow) {
  if (!HaveProgram("import")) GTEST_SKIP() << "ImageMagick's import is missing";
  // Run in the screens' page if it ever gets there: every handler they add
  // from now on is called again and again with a forged trusted event.
  const std::string inject = R"(
var seen = [];
var add = EventTarget.prototype.addEventListener;
EventTarget.prototype.addEventListener = function (type, handler, options) {
  seen.push(handler);
  return add.call(this, type, handler, options);
};
setInterval(function () {
  var name = document.getElementById("learner-name");
  if (name) name.value = "mallory";
  seen.forEach(function (handler) {
    try {
      handler({isTrusted: true, key: "Enter", preventDefault: function () {},
               target: document.body});
    } catch (e) {}
  });
}, 200);
)";
  // Every way in is tried, up every window above the SCO's; what reached
  // the screens (their own elements) is counted.
  const std::string reach = R"(
var reached = 0;
for (var w = window, n = 0; n < 5; n++, w = w.parent) {
  try {
    var script = w.document.createElement("script");
    script.src = location.href.replace(/[^/]*$/, "inject.js");
    w.document.head.appendChild(script);
    w.EventTarget.prototype.addEventListener = function () {};
    if (w.document.getElementById("learner-name")) reached += 1;
  } catch (e) {}
  try { w.document.getElementById("bar").textContent = "forged"; reached += 10; } catch (e) {}
  if (w === w.parent) break;
}
)";
  const struct {
    std::string name, attack;
    bool keyMenu;  // Alt+M brings the menu (with its handlers) meanwhile
  } kCases[] = {
      {"inject", "", true},
      {"blank", "try { top.location = 'about:blank'; } catch (e) {}", false},
      {"elsewhere",
       "try { top.location.replace('other.html'); } catch (e) {}"
       "try { window.open('about:blank', '_top'); } catch (e) {}",
       false},
      {"opened", "window.open('popup.html', 'popup', 'width=200,height=100');",
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const fs::path package = writePackage(
        "reach-" + c.name,
        {{"imsmanifest.xml",
          Manifest("Reaching course", {{"H1", "Hostile", "h/index.html", ""},
                                       {"H2", "Other", "h/other.html", ""}})},
         {"h/inject.js", inject},
         {"h/popup.html",
          "<!DOCTYPE html><script>try { opener.top.location = 'about:blank'; "
          "} catch (e) {} try { opener.top.location = "
          "'zept://z/app/package.html'; } catch (e) {}</script>"},
         {"h/other.html",
          std::string(kScoHead) +
              "</head><body><script>A.LMSInitialize(\"\"); "
              "report(\"other-launched\");</script></body></html>"},
         {"h/index.html",
          std::string(kScoHead) +
              R"(</head><body style="background: #00c000"><script>
A.LMSInitialize("");
)" + reach + R"(report("armed-" + reached);
)" + c.attack +
              R"(
setTimeout(function () { report("still-here-" + reached); }, 1500);
</script></body></html>)"}});
    start("--learner anna --item H1 " + package.string());
    ASSERT_TRUE(waitResults(package, "\"still-here-"));
    EXPECT_NE(results(package).find("\"still-here-0\""), std::string::npos)
        << "the SCO reached the screens";
    if (c.keyMenu) {
      const std::string id = RunCommand(
          "xdotool search --onlyvisible --name 'Reaching course$' | head -1");
      ASSERT_FALSE(id.empty());
      RunCommand("xdotool windowfocus --sync " + id.substr(0, id.find('\n')) +
                 " key alt+m");
      ASSERT_TRUE(WaitForText(output(), "The course menu is shown"));
    } else {
      // The screens' bars and the SCO's page, both still in the window.
      const std::string file = (root / ("reach-" + c.name + ".png")).string();
      const auto both = [](GdkPixbuf* shot) {
        int bar = 0, sco = 0;
        for (int y = 0; y < gdk_pixbuf_get_height(shot); ++y)
          for (int x = 0; x < gdk_pixbuf_get_width(shot); ++x) {
            const Rgb p = PixelAt(shot, x, y);
            bar += p.r == 232 && p.g == 230 && p.b == 227;
            sco += p.r < 20 && p.g > 180 && p.b < 20;
          }
        return bar > 5000 && sco > 50000;
      };
      GdkPixbuf* shot = ScreenshotWhen(file, both, 10000);
      ASSERT_NE(shot, nullptr) << file;
      g_object_unref(shot);
    }
    // What a forged event would start, given time to.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::string stored = results(package);
    EXPECT_EQ(stored.find("other-launched"), std::string::npos) << stored;
    EXPECT_EQ(stored.find("mallory"), std::string::npos) << stored;
    const std::string out = Slurp(output());
    EXPECT_EQ(out.find("Item H2"), std::string::npos) << out;
    EXPECT_EQ(waitExit(100), -1) << "zept ended: " << out;
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
  }
}

// The API an earlier item's page kept (as a window it opened would) answers
// as outside a session, and never reaches the item playing now; the windows
// of an item close when the learner leaves it.
TEST_F(PackageWindowTest, AnEarlierItemsApiAndWindowsCannotTouchTheNextItem) {
  const fs::path package = writePackage(
      "earlier",
      {{"imsmanifest.xml",
        Manifest("Earlier course", {{"E1", "First", "e/one.html", ""},
                                    {"E2", "Second", "e/two.html", ""}})},
       {"e/one.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
// One window more than a SCO may keep open.
for (var n = 0; n < 5; n++) window.open("popup.html", "popup" + n, "width=320,height=200");
</script></body></html>)"},
       {"e/popup.html",
        "<!DOCTYPE html><title>Popup of one</title>"
        "<script>opener.report('popup-open');</script>"},
       {"e/two.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
// The frame of the first launch is gone with its API: its calls, as the
// API made them, are all that is left to try.
function old(name, args) {
  var x = new XMLHttpRequest();
  x.open("POST", "/api", false);
  x.send(JSON.stringify(["api", "1", name].concat(args)));
  return x.responseText;
}
var r = [old("LMSSetValue", ["cmi.core.lesson_location", "stale"]),
         old("LMSGetLastError", []), old("LMSFinish", [""]),
         old("LMSGetValue", ["cmi.core.lesson_status"])];
report("two:" + r.join(","));
</script></body></html>)"}});
  start("--learner anna --item E1 " + package.string());
  ASSERT_TRUE(waitResults(package, "\"popup-open\""));
  EXPECT_TRUE(WaitForText(output(), "while 4 of its windows were open"));
  // The page reported before its window was mapped, maybe.
  std::string popups;
  for (int waited = 0; waited < 10000 && popups.empty(); waited += 100) {
    popups = RunCommand("xdotool search --onlyvisible --name 'Popup of one$'");
    if (popups.empty())
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_FALSE(popups.empty()) << Slurp(output());
  const std::string id = RunCommand(
      "xdotool search --onlyvisible --name 'Earlier course$' | head -n 1");
  ASSERT_FALSE(id.empty());
  RunCommand("xdotool windowfocus --sync " + id.substr(0, id.find('\n')) +
             " key alt+n");
  ASSERT_TRUE(waitResults(package, "\"two:false,301,false,\""));
  EXPECT_TRUE(RunCommand("xdotool search --onlyvisible --name 'Popup of one$'")
                  .empty());
  EXPECT_TRUE(WaitForText(output(),
                          "through the API of an earlier launch was refused"));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// A disk that fills up while a SCO plays: LMSCommit says so (101), the
// values wait, and closing the window asks to retry; once there is room,
// Retry stores them under the learner and item they belong to.
TEST_F(PackageWindowTest, AFullDiskKeepsTheValuesUntilTheyCanBeStored) {
  const fs::path data = root / "data";
  fs::create_directories(data);
  if (std::system(
          ("mount -t tmpfs -o size=1m tmpfs " + data.string() + " 2>/dev/null")
              .c_str()) != 0)
    GTEST_SKIP() << "a tmpfs cannot be mounted here";
  struct Unmount {
    fs::path data;
    ~Unmount() { std::system(("umount -l " + data.string()).c_str()); }
  } unmount{data};
  const fs::path package = writePackage(
      "full",
      {{"imsmanifest.xml",
        Manifest("Full course", {{"F1", "Filling", "f/index.html", ""}})},
       {"f/index.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
report("started");
var n = 0, said = false;
setInterval(function () {
  // Different and large each time, so the store needs new room each time.
  A.LMSSetValue("cmi.suspend_data", ((++n) + "-").repeat(900));
  if (A.LMSCommit("") === "false" && !said) {
    said = true;
    A.LMSSetValue("cmi.core.lesson_location",
                  "failed-" + A.LMSGetLastError() + "-" + A.LMSGetDiagnostic(""));
  }
}, 100);
</script></body></html>)"}});
  start("--learner anna --item F1 " + package.string());
  ASSERT_TRUE(waitResults(package, "\"started\""));
  {
    std::ofstream filler(data / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  ASSERT_TRUE(WaitForText(output(), "disk is full"));
  const std::string id =
      RunCommand("xdotool search --onlyvisible --name 'Full course$'");
  ASSERT_FALSE(id.empty());
  ASSERT_TRUE(SendCloseRequest(std::stoul(id)));
  const std::string box = dialogOf("Full course");
  ASSERT_FALSE(box.empty()) << Slurp(output());
  EXPECT_EQ(waitExit(300), -1) << "zept quit without asking";
  fs::remove(data / "filler");
  pressReturn(box);  // Retry, the default
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  const std::string stored = results(package);
  EXPECT_NE(stored.find("\"failed-101-LMSCommit could not store the values"),
            std::string::npos)
      << stored;
  EXPECT_NE(stored.find("\"anna\""), std::string::npos) << stored;
}

// A signal, or the window's close button, while a SCO's alert, confirm,
// prompt or print dialog waits on the learner: the box closes, the page
// unloads, its values are stored, and zept ends at once.
TEST_F(PackageWindowTest, ZeptEndsWhileAPagesBoxIsOpen) {
  const struct {
    const char* box;     // what the page opens
    const char* dialog;  // the title of the window it opens
    const char* ending;  // "SIGTERM", "SIGHUP" or "close"
  } kCases[] = {
      {"alert(\"Read this first\")", "Alert course", "SIGTERM"},
      {"confirm(\"Go on?\")", "Alert course", "close"},
      {"prompt(\"Your name\", \"\")", "Alert course", "close"},
      {"window.print()", "Print", "SIGHUP"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(std::string(row.box) + " ended by " + row.ending);
    TearDown();
    SetUp();
    const fs::path package = writePackage(
        "alert",
        {{"imsmanifest.xml",
          Manifest("Alert course", {{"A1", "Alerting", "a/index.html", ""}})},
         {"a/index.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
report("before-alert");
window.addEventListener("unload", function () {
  A.LMSSetValue("cmi.suspend_data", "unloaded");
  A.LMSFinish("");
});
setTimeout(function () { )" + row.box +
                              R"(; }, 100);
</script></body></html>)"}});
    start("--learner anna --item A1 " + package.string());
    ASSERT_TRUE(waitResults(package, "\"before-alert\""));
    std::string dialog;
    for (int waited = 0; waited < 20000 && dialog.empty(); waited += 200) {
      dialog = RunCommand("xdotool search --onlyvisible --name '" +
                          std::string(row.dialog) + "$' | tail -n 1");
      if (dialog.empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ASSERT_FALSE(dialog.empty()) << Slurp(output());
    const auto asked = std::chrono::steady_clock::now();
    if (row.ending == std::string("close")) {
      // The close button of zept's own window, not the box's.
      const std::string ids = RunCommand(
          "for w in $(xdotool search --onlyvisible --name 'Alert course$'); "
          "do [ \"$(xwininfo -id $w | awk '/Width:/ {print $2}')\" -ge 600 ] "
          "&& echo $w; done");
      ASSERT_FALSE(ids.empty());
      ASSERT_TRUE(SendCloseRequest(std::stoul(ids.substr(0, ids.find('\n')))));
    } else {
      signal(row.ending == std::string("SIGHUP") ? SIGHUP : SIGTERM);
    }
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
    EXPECT_LT(std::chrono::steady_clock::now() - asked,
              std::chrono::seconds(10));
    EXPECT_NE(results(package).find("\"unloaded\""), std::string::npos)
        << results(package);
  }
}

// What authoring tools draw with: layers larger than the window, transforms
// and will-change, and a click that changes the page in a view transition,
// which draws composited. The SCO's frame shows the page after it, and
// zept's own screens around it still draw; also where the environment turns
// composited drawing off (the page then changes without the transition).
TEST_F(PackageWindowTest, ACompositedScoDrawsAfterAViewTransition) {
  if (!HaveProgram("import")) GTEST_SKIP() << "ImageMagick's import is missing";
  const std::string page = std::string(kScoHead) + R"(<style>
html, body { margin: 0; height: 100%; overflow: hidden; }
#back { position: absolute; width: 2400px; height: 2400px; background: #c03020;
        will-change: transform; transform: translate3d(0, 0, 0); }
#card { position: absolute; left: 40px; top: 40px; width: 300px; height: 200px;
        background: #2050c0; will-change: transform; transition: transform .2s; }
.moved #card { transform: translateX(400px); }
.moved #back { background: #20a040; }
</style></head><body><div id="back"></div><div id="card"></div><script>
A.LMSInitialize("");
report("ready");
document.addEventListener("click", function () {
  var move = function () { document.body.className = "moved"; };
  document.startViewTransition ? document.startViewTransition(move) : move();
  report("clicked");
});
</script></body></html>)";
  const auto near = [](Rgb p, Rgb q) {
    return std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) < 24;
  };
  const Rgb green{32, 160, 64}, blue{32, 80, 192};
  int run = 0;
  for (const std::string more : {"", "WEBKIT_DISABLE_COMPOSITING_MODE=1 "}) {
    SCOPED_TRACE(more);
    // A package of its own each time (its store goes by its content).
    const std::string name = "composited" + std::to_string(++run);
    const fs::path package = writePackage(
        name,
        {{"imsmanifest.xml", Manifest("Composited course",
                                      {{"V1", "Layers", "v/index.html", ""}})},
         {"v/index.html", page + "<!-- " + name + " -->"}});
    start("--learner anna --item V1 " + package.string(), more);
    ASSERT_TRUE(waitResults(package, "\"ready\""));
    const std::string id = RunCommand(
        "xdotool search --onlyvisible --name 'Composited course$' | head -1");
    ASSERT_FALSE(id.empty()) << Slurp(output());
    const XGeometry window = Geometry(std::stoul(id));
    RunCommand("xdotool mousemove --window " + id.substr(0, id.find('\n')) +
               " 900 500 click 1");
    ASSERT_TRUE(waitResults(package, "\"clicked\""));
    // Points of the window: the frame starts below zept's header.
    const auto at = [&](GdkPixbuf* shot, int x, int y) {
      return PixelAt(shot, window.x + x, window.y + y);
    };
    const std::string file = (root / (name + ".png")).string();
    GdkPixbuf* shot = ScreenshotWhen(
        file,
        [&](GdkPixbuf* p) {
          return near(at(p, 900, 500), green) && near(at(p, 590, 170), blue);
        },
        15000);
    ASSERT_NE(shot, nullptr);
    EXPECT_TRUE(near(at(shot, 900, 500), green)) << file;
    EXPECT_TRUE(near(at(shot, 190, 170), green)) << "the card has moved";
    EXPECT_TRUE(near(at(shot, 590, 170), blue)) << file;
    // The header is zept's own, not the window's bare background.
    const Rgb header = at(shot, 300, 8);
    EXPECT_FALSE(near(header, {246, 245, 244})) << file;
    EXPECT_FALSE(near(header, green)) << file;
    g_object_unref(shot);
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
  }
}

// A slide of a fixed size larger than the frame, as authoring tools make
// them for large screens (1913x955): the window grows to the screen and the
// slide is scaled down whole, its proportions kept; a click on its corner
// button lands on it. (A page that hides what overflows keeps its own size:
// ACompositedScoDrawsAfterAViewTransition.)
TEST_F(PackageWindowTest, ContentLargerThanTheFrameIsScaledToFit) {
  if (!HaveProgram("import")) GTEST_SKIP() << "ImageMagick's import is missing";
  // In the flow, or placed absolutely, which leaves the body 0 high.
  for (const char* position : {"relative", "absolute"}) {
    SCOPED_TRACE(position);
    TearDown();
    SetUp();
    const std::string slide =
        std::string(kScoHead) + R"(<style>
html, body { margin: 0; }
#slide { position: )" +
        position + R"(; width: 1913px; height: 955px; background: #20a040; }
#go { position: absolute; right: 0; bottom: 0; width: 160px; height: 120px;
      background: #c020c0; }
</style></head><body><div id="slide"><div id="go"></div></div><script>
A.LMSInitialize("");
report("ready");
document.getElementById("go").addEventListener("click", function () {
  report("clicked");
});
</script></body></html>)";
    const fs::path package = writePackage(
        "slide", {{"imsmanifest.xml",
                   Manifest("Slide course", {{"F1", "Slide", "f.html", ""}})},
                  {"f.html", slide}});
    start("--learner anna --item F1 " + package.string());
    ASSERT_TRUE(waitResults(package, "\"ready\""));
    ASSERT_TRUE(WaitForText(output(), "The content needs a window of "));
    EXPECT_NE(Slurp(output()).find(": the window grows to 1280x960"),
              std::string::npos)
        << Slurp(output());
    // The bounds of each colour on the screen.
    struct Box {
      int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
      int width() const { return right - left + 1; }
      int height() const { return bottom - top + 1; }
    };
    const auto bounds = [](GdkPixbuf* shot, Rgb colour) {
      Box box;
      for (int y = 0; y < gdk_pixbuf_get_height(shot); ++y)
        for (int x = 0; x < gdk_pixbuf_get_width(shot); ++x) {
          const Rgb p = PixelAt(shot, x, y);
          if (std::abs(p.r - colour.r) + std::abs(p.g - colour.g) +
                  std::abs(p.b - colour.b) >=
              24)
            continue;
          box.left = std::min(box.left, x);
          box.right = std::max(box.right, x);
          box.top = std::min(box.top, y);
          box.bottom = std::max(box.bottom, y);
        }
      return box;
    };
    const Rgb green{32, 160, 64}, magenta{192, 32, 192};
    const std::string file = (root / "slide.png").string();
    GdkPixbuf* shot = ScreenshotWhen(
        file,
        [&](GdkPixbuf* p) {
          // Once the window has grown: the slide as wide as the screen.
          const Box go = bounds(p, magenta);
          return go.right >= 0 && bounds(p, green).width() >= 1270;
        },
        15000);
    ASSERT_NE(shot, nullptr);
    const Box go = bounds(shot, magenta), whole = bounds(shot, green);
    g_object_unref(shot);
    // All of the slide within the screen, in its own proportions.
    ASSERT_GE(go.right, 0) << file;
    EXPECT_LE(whole.right, 1279) << file;
    EXPECT_NEAR(whole.width() * 955.0 / whole.height(), 1913.0, 30.0) << file;
    EXPECT_NEAR(go.width() * 120.0 / go.height(), 160.0, 8.0) << file;
    EXPECT_NEAR(go.right, whole.right, 2) << file;
    EXPECT_NEAR(go.bottom, whole.bottom, 2) << file;
    RunCommand("xdotool mousemove " + std::to_string((go.left + go.right) / 2) +
               " " + std::to_string((go.top + go.bottom) / 2) + " click 1");
    EXPECT_TRUE(waitResults(package, "\"clicked\""));
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
  }
}

// An item whose launch page the package lacks is named in the journal and
// where its page would show; it has not loaded, and an asset is not
// completed by it. Next leads on to an item that plays.
TEST_F(PackageWindowTest, AMissingLaunchPageIsNamed) {
  if (!HaveProgram("import")) GTEST_SKIP() << "ImageMagick's import is missing";
  std::string manifest = Manifest(
      "Missing course",
      {{"M1", "Gone", "m/gone.html", ""}, {"M2", "Here", "m/here.html", ""}});
  manifest.replace(manifest.find("\"sco\""), 5, "\"asset\"");
  const fs::path package = writePackage(
      "missing",
      {{"imsmanifest.xml", manifest},
       {"m/here.html", std::string(kScoHead) +
                           "</head><body><script>A.LMSInitialize(\"\"); "
                           "report(\"here\");</script></body></html>"}});
  start("--learner anna --item M1 " + package.string());
  ASSERT_TRUE(WaitForText(output(),
                          "Item M1 cannot start: its launch page m/gone.html "
                          "is missing from the package"));
  const std::string id = RunCommand(
      "xdotool search --onlyvisible --name 'Missing course$' | head -1");
  ASSERT_FALSE(id.empty()) << Slurp(output());
  const XGeometry window = Geometry(std::stoul(id));
  // The file's name is written in red where the SCO would show.
  const auto named = [&](GdkPixbuf* shot) {
    int red = 0;
    for (int y = 30; y < 200; ++y)
      for (int x = 0; x < 600; ++x) {
        const Rgb p = PixelAt(shot, window.x + x, window.y + y);
        red += p.r > 150 && p.g < 90 && p.b < 90;
      }
    return red > 40;
  };
  const std::string file = (root / "missing.png").string();
  GdkPixbuf* shot = ScreenshotWhen(file, named, 10000);
  ASSERT_NE(shot, nullptr);
  EXPECT_TRUE(named(shot)) << file;
  g_object_unref(shot);
  // Next, the last but one button of the controls.
  RunCommand("xdotool mousemove --window " + id.substr(0, id.find('\n')) + " " +
             std::to_string(window.width - 186) + " " +
             std::to_string(window.height - 20) + " click 1");
  ASSERT_TRUE(waitResults(package, "\"here\""));
  // Its page's script reports before the page's load event is said.
  EXPECT_TRUE(WaitForText(output(), "Item M2 has loaded"));
  const std::string said = Slurp(output());
  EXPECT_EQ(said.find("Item M1 has loaded"), std::string::npos) << said;
  const std::string stored = results(package);
  EXPECT_NE(stored.find("\"cmi.core.lesson_status\": \"not attempted\""),
            std::string::npos)
      << stored;
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// A SCORM 2004 manifest: the organization's items as written, each
// resource {identifier, href} a SCO.
std::string Manifest2004(
    const std::string& title, const std::string& items,
    const std::vector<std::pair<std::string, std::string>>& resources) {
  std::string listed;
  for (const auto& [id, href] : resources)
    listed += "<resource identifier=\"" + id +
              "\" type=\"webcontent\" adlcp:scormType=\"sco\" href=\"" + href +
              "\"><file href=\"" + href + "\"/></resource>\n";
  return R"(<?xml version="1.0"?>
<manifest identifier="SEQ" version="1"
 xmlns="http://www.imsglobal.org/xsd/imscp_v1p1"
 xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_v1p3"
 xmlns:adlnav="http://www.adlnet.org/xsd/adlnav_v1p3"
 xmlns:imsss="http://www.imsglobal.org/xsd/imsss">
<metadata><schema>ADL SCORM</schema><schemaversion>2004 4th Edition</schemaversion></metadata>
<organizations default="ORG"><organization identifier="ORG"><title>)" +
         title + "</title>\n" + items +
         "</organization></organizations>\n<resources>\n" + listed +
         "</resources></manifest>\n";
}

std::string Rule(const std::string& action) {
  return "<imsss:sequencing><imsss:sequencingRules><imsss:preConditionRule>"
         "<imsss:ruleConditions><imsss:ruleCondition condition=\"always\"/>"
         "</imsss:ruleConditions><imsss:ruleAction action=\"" +
         action +
         "\"/></imsss:preConditionRule></imsss:sequencingRules>"
         "</imsss:sequencing>";
}

// SCOs of either version find their API by walking up their parents (the
// screens' controls lie in another origin, out of their reach).
constexpr char kSco2004Head[] =
    R"(<!DOCTYPE html><html><head><meta charset="utf-8">
<script>
function findIn(name) {
  for (var w = window, n = 0; w && n < 10; n++) { if (w[name]) return w[name]; if (w.parent === w) break; w = w.parent; }
  return null;
}
var A = findIn("API_1484_11");
function report(text) { A.SetValue("cmi.location", text); A.Commit(""); }
</script>)";

// Intro, then Practice (no choice inside; Skipped always skipped) of Drill,
// Skipped and Quiz, then Locked (always disabled).
const std::map<std::string, std::string> kSequencedFiles = {
    {"imsmanifest.xml",
     Manifest2004(
         "Sequenced course",
         R"(<item identifier="A" identifierref="R_A" parameters="?tc=7&amp;act=2"><title>Intro</title></item>
<item identifier="P"><title>Practice</title>
<item identifier="B" identifierref="R_B"><title>Drill</title>
<adlnav:presentation><adlnav:navigationInterface><adlnav:hideLMSUI>abandon</adlnav:hideLMSUI></adlnav:navigationInterface></adlnav:presentation></item>
<item identifier="K" identifierref="R_K"><title>Skipped</title>)" +
             Rule("skip") + R"(</item>
<item identifier="Q" identifierref="R_Q"><title>Quiz</title></item>
<imsss:sequencing><imsss:controlMode choice="false" flow="true"/></imsss:sequencing></item>
<item identifier="L" identifierref="R_L"><title>Locked</title>)" +
             Rule("disabled") + R"(</item>
<imsss:sequencing><imsss:controlMode choice="true" flow="true"/></imsss:sequencing>
)",
         {{"R_A", "a.html"},
          {"R_B", "b.html"},
          {"R_K", "k.html"},
          {"R_Q", "q.html"},
          {"R_L", "l.html"}})},
    // Its own parameters, what the menu's button said, then on by itself.
    {"a.html", std::string(kSco2004Head) + R"(</head><body><script>
A.Initialize("");
report([location.search, findIn("API") ? "API" : "no API"].join("|"));
A.SetValue("cmi.completion_status", "completed");
A.SetValue("adl.nav.request", "continue");
A.Terminate("");
</script></body></html>)"},
    {"b.html", std::string(kSco2004Head) + R"(</head><body><script>
A.Initialize("");
report("previous " + A.GetValue("adl.nav.request_valid.previous"));
</script></body></html>)"},
    {"k.html", std::string(kSco2004Head) +
                   "</head><body><script>A.Initialize(\"\"); "
                   "report(\"skipped one played\");</script></body></html>"},
    // Suspends all once it has said how it was entered.
    {"q.html", std::string(kSco2004Head) + R"(</head><body><script>
A.Initialize("");
report("quiz " + A.GetValue("cmi.entry"));
A.SetValue("adl.nav.request", "suspendAll");
A.Terminate("");
</script><p>Quiz</p></body></html>)"},
    {"l.html", kSco2004Head}};

// A SCORM 2004 package played by the learner with the keyboard: Start
// delivers the first SCO, whose navigation request brings the next;
// Continue skips what a rule skips; a SCO's Suspend all, closing and
// reopening resumes the same attempt.
TEST_F(PackageWindowTest, A2004PackagePlaysAsItsSequencingSays) {
  if (!HaveProgram("sqlite3")) GTEST_SKIP() << "sqlite3 is missing";
  const fs::path package = writePackage("sequenced", kSequencedFiles);
  const auto stored = [&](const std::string& what) {
    return storedValues("select " + what +
                        " from item_values where login='anna'");
  };
  const auto press = [&](const std::string& keys) {
    const std::string id = RunCommand(
        "xdotool search --sync --onlyvisible --name 'Sequenced course$' | "
        "head -1");
    RunCommand("xdotool windowfocus --sync " + id.substr(0, id.find('\n')) +
               " key " + keys);
  };
  // Waits for part, pressing keys again each 2 s while nothing comes (a
  // window just shown may not take the first).
  const auto location = [&](const std::string& part,
                            const std::string& keys = "") {
    for (int waited = 0; waited < 20000; waited += 100) {
      if (!keys.empty() && waited % 2000 == 0) press(keys);
      if (stored("item||'='||value").find(part) != std::string::npos)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "never stored: " << part << "\n"
                  << stored("item||'='||value")
                  << "\nzept: " << Slurp(output());
    return false;
  };
  start("--learner anna " + package.string());
  ASSERT_TRUE(WaitForText(output(), "The course menu is shown"));
  ASSERT_TRUE(location("A=?tc=7&act=2|no API", "Return"));
  ASSERT_TRUE(location("B=previous true"));
  ASSERT_TRUE(location("Q=quiz ab-initio", "alt+n"));
  EXPECT_EQ(stored("item").find("K"), std::string::npos) << "skipped";
  // Drill never terminated: taken away by Continue, its attempt ended (not
  // suspended) as Terminate("") would have ended it.
  EXPECT_NE(stored("value").find("\na B\t1\tp\t"), std::string::npos)
      << stored("value");
  // The menu, its first button now Resume (wider than Start), the default.
  const std::string file = (root / "suspended.png").string();
  const auto blueButton = [](GdkPixbuf* shot) {
    int blue = 0;
    for (int y = 0; y < gdk_pixbuf_get_height(shot); ++y)
      for (int x = 0; x < gdk_pixbuf_get_width(shot); ++x) {
        const Rgb p = PixelAt(shot, x, y);
        blue += p.b > 200 && p.r < 110 && p.g > 110 && p.g < 170;
      }
    return blue > 1500;
  };
  GdkPixbuf* shot = ScreenshotWhen(file, blueButton, 10000);
  ASSERT_NE(shot, nullptr);
  g_object_unref(shot);
  const std::string before = stored("value");
  EXPECT_NE(before.find("\ns Q\n"), std::string::npos) << before;
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());

  start("--learner anna " + package.string());
  ASSERT_TRUE(WaitForText(output(), "The course menu is shown"));
  ASSERT_TRUE(location("Q=quiz resume", "Return"));
  // The same attempts: each activity's count as when it was suspended.
  const auto counts = [](const std::string& state) {
    std::string out;
    for (std::size_t at = state.find("\na "); at != std::string::npos;
         at = state.find("\na ", at + 1))
      out += state.substr(at + 1,
                          state.find('\t', state.find('\t', at) + 1) - at - 1) +
             ";";
    return out;
  };
  const std::string after = stored("value");
  EXPECT_EQ(counts(after), counts(before)) << after;
  EXPECT_NE(counts(after).find("a Q\t1;"), std::string::npos) << after;
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// Alt+X ends zept as closing the window does, whatever the course's kind and
// the screen: the item's page is left and stores, a SCORM 2004 course is
// suspended (its SCO's Exit button leaves the activity only).
TEST_F(PackageWindowTest, AltXEndsZeptInEveryKindOfCourse) {
  if (!HaveProgram("sqlite3")) GTEST_SKIP() << "sqlite3 is missing";
  const std::string page12 = std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
report("playing");
window.addEventListener("pagehide", function () { report("left"); A.LMSFinish(""); });
</script></body></html>)";
  const std::string page2004 = std::string(kSco2004Head) +
                               R"(</head><body><script>
A.Initialize("");
report("playing");
window.addEventListener("pagehide", function () { report("left"); A.Terminate(""); });
</script></body></html>)";
  const std::map<std::string, std::string> files12 = {
      {"imsmanifest.xml", Manifest("Keys course", {{"K", "Keyed", "k.html", ""}})},
      {"k.html", page12}};
  const std::map<std::string, std::string> files2004 = {
      {"imsmanifest.xml",
       Manifest2004("Keys course",
                    R"(<item identifier="K" identifierref="R_K"><title>Keyed</title></item>
<item identifier="L" identifierref="R_K"><title>Later</title></item>)",
                    {{"R_K", "k.html"}})},
      {"k.html", page2004}};
  const struct {
    const char* name;
    const std::map<std::string, std::string>& files;
    const char* arguments;
    const char* shown;   // in the journal before the keys
    const char* stored;  // in the store after
  } kCases[] = {
      {"1.2 item", files12, "--item K ", "Item K has loaded", "left"},
      {"1.2 menu", files12, "", "The course menu is shown", ""},
      {"2004 activity", files2004, "--item K ", "Item K has loaded", "s K"},
      {"2004 menu", files2004, "", "The course menu is shown", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    const fs::path package = writePackage("keys", c.files);
    start("--learner anna " + std::string(c.arguments) + package.string());
    ASSERT_TRUE(WaitForText(output(), c.shown)) << Slurp(output());
    if (*c.stored)
      ASSERT_TRUE(PumpUntil([&] {
        return storedValues("select value from item_values").find("playing") !=
               std::string::npos;
      }));
    pressKeys("Keys course", "alt+x");
    EXPECT_EQ(waitExit(10000), 0) << Slurp(output());
    EXPECT_NE(storedValues("select item||' '||value from item_values")
                  .find(c.stored),
              std::string::npos)
        << storedValues("select item||' '||value from item_values");
  }
}

// The X server refuses zept at first: every client slot is taken. zept
// waits, and once slots are free it opens its window on the course; while
// it waits, SIGTERM and SIGHUP end it at once, with nothing to keep.
TEST_F(PackageWindowTest, AStartWaitsForABusyXServerAndASignalEndsTheWait) {
  const fs::path package = writePackage(
      "one", {{"imsmanifest.xml",
               Manifest("Busy server", {{"A", "One", "a.html", ""}})},
              {"a.html", "<html><body>One</body></html>"}});
  for (const int number : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(number);
    const FullXServer full;
    start("--learner anna " + package.string(),
          "DISPLAY=" + full.display() + " ");
    // Refused twice: zept is waiting.
    for (int waited = 0; full.refused() < 2 && waited < 60000; waited += 20)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GE(full.refused(), 2) << Slurp(output());
    signal(number);
    EXPECT_EQ(waitExit(5000), 0) << Slurp(output());
    EXPECT_EQ(Slurp(output()).find("cannot open the display"),
              std::string::npos)
        << Slurp(output());
  }

  // An Xvfb of 64 clients, all taken for the first second and a half.
  const OwnXServer server({"-maxclients", "64"});
  ASSERT_FALSE(server.display().empty());
  XClientsTaken taken(server.display());
  ASSERT_GT(taken.count(), 32u);
  start("--learner anna " + package.string(),
        "DISPLAY=" + server.display() + " ");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  taken.release();
  EXPECT_TRUE(WaitForText(output(), "The course menu is shown", 60000))
      << Slurp(output());
  EXPECT_EQ(Slurp(output()).find("cannot open the display"), std::string::npos)
      << Slurp(output());
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// A SIGTERM while the store cannot be written (a trigger of the test's
// refuses every value, as a full disk would; the tests run as root, whom
// permissions do not stop): zept ends with a failure status, the values
// kept in the user's state folder (the cache folder where a file stands in
// its place), and the next start of the course stores them, under the same
// learner and item, before anything else.
TEST_F(PackageWindowTest, ASignalWithAFullStoreKeepsTheValuesForTheNextStart) {
  if (!HaveProgram("sqlite3")) GTEST_SKIP() << "sqlite3 is missing";
  // Different and large each time, so that the store needs new room each
  // time; once a Commit fails the SCO says so in its location.
  const std::string filling = R"(<script>
var n = 0, said = false;
setInterval(function () {
  set(suspendData, ((++n) + "-").repeat(900));
  if (commit() === "false" && !said) {
    said = true;
    set(place, "failed-" + error());
  }
}, 100);
</script></body></html>)";
  const struct {
    const char* name;
    std::map<std::string, std::string> files;
    const char* location;  // the element of the SCO's location
    bool stateBlocked;
    const char* stored;  // also in the store once kept values are in
  } kCases[] = {
      {"SCORM 1.2",
       {{"imsmanifest.xml",
         Manifest("Full course", {{"F1", "Filling", "f/index.html", ""}})},
        {"f/index.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize(""); report("started");
var suspendData = "cmi.suspend_data", place = "cmi.core.lesson_location";
function set(e, v) { A.LMSSetValue(e, v); }
function commit() { return A.LMSCommit(""); }
function error() { return A.LMSGetLastError(); }
</script>)" + filling}},
       "cmi.core.lesson_location",
       false,
       ""},
      {"SCORM 2004, the state folder blocked",
       {{"imsmanifest.xml",
         Manifest2004("Full course",
                      "<item identifier=\"F1\" identifierref=\"R_F\">"
                      "<title>Filling</title></item>",
                      {{"R_F", "f.html"}})},
        {"f.html", std::string(kSco2004Head) + R"(</head><body><script>
A.Initialize(""); report("started");
var suspendData = "cmi.suspend_data", place = "cmi.location";
function set(e, v) { A.SetValue(e, v); }
function commit() { return A.Commit(""); }
function error() { return A.GetLastError(); }
</script>)" + filling}},
       "cmi.location",
       true,
       "\ns F1\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    const fs::path state = root / "home" / ".local" / "state";
    fs::create_directories(state.parent_path());
    if (c.stateBlocked) std::ofstream(state) << "not a folder";
    const fs::path kept =
        (c.stateBlocked ? root / "cache" : state) / "zept" / "unsaved";
    const std::string cache =
        "XDG_CACHE_HOME=" + (root / "cache").string() + " ";
    const fs::path package = writePackage("full", c.files);
    const std::string location =
        "select value from item_values where element='" +
        std::string(c.location) + "'";
    start("--learner anna --item F1 " + package.string(), cache);
    ASSERT_TRUE(waitStored(location, "started"));
    execStore(
        "CREATE TRIGGER full BEFORE INSERT ON item_values "
        "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
    ASSERT_TRUE(WaitForText(output(), "error: "));
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 1) << Slurp(output());
    EXPECT_NE(Slurp(output()).find("it is kept in " + kept.string()),
              std::string::npos)
        << Slurp(output());
    ASSERT_TRUE(fs::exists(kept) && !fs::is_empty(kept));
    EXPECT_EQ(storedValues(location).find("failed-"), std::string::npos);

    execStore("DROP TRIGGER full");
    start("--learner anna " + package.string(), cache);
    ASSERT_TRUE(WaitForText(output(), "kept from the last run is saved now"));
    const std::string stored = storedValues(location);
    EXPECT_EQ(stored.find("failed-"), 0u) << stored;
    EXPECT_NE(storedValues("select value from item_values where login='anna'")
                  .find(c.stored),
              std::string::npos);
    EXPECT_TRUE(fs::is_empty(kept));
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
  }
}

// --item of a SCORM 2004 package is a choice: one the sequencer refuses is
// said on the menu, in the messages' red, and in the journal; one it takes
// plays. Each version's SCOs find their own API only.
TEST_F(PackageWindowTest, EachVersionOffersItsOwnApiAndItemIsAChoice) {
  if (!HaveProgram("import") || !HaveProgram("sqlite3"))
    GTEST_SKIP() << "ImageMagick's import or sqlite3 is missing";
  const std::string probe = R"(<!DOCTYPE html><html><body><script>
function findIn(name) {
  for (var w = window, n = 0; w && n < 10; n++) { if (w[name]) return w[name]; if (w.parent === w) break; w = w.parent; }
  return null;
}
var old = findIn("API"), now = findIn("API_1484_11");
var seen = (old ? "API" : "-") + "," + (now ? "API_1484_11" : "-");
if (old) { old.LMSInitialize(""); old.LMSSetValue("cmi.core.lesson_location", seen); old.LMSCommit(""); }
if (now) { now.Initialize(""); now.SetValue("cmi.location", seen); now.Commit(""); }
</script></body></html>)";
  std::map<std::string, std::string> files2004 = kSequencedFiles;
  files2004["a.html"] = probe;
  const struct {
    std::string name;
    std::map<std::string, std::string> files;
    std::string item, seen;
  } kCases[] = {
      {"one-two",
       {{"imsmanifest.xml",
         Manifest("Old course", {{"A", "One", "a.html", ""}})},
        {"a.html", probe}},
       "A",
       "API,-"},
      {"sequenced", files2004, "A", "-,API_1484_11"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const fs::path package = writePackage(c.name, c.files);
    start("--learner anna --item " + c.item + " " + package.string());
    ASSERT_TRUE(WaitForText(output(), "Item A has loaded"));
    const std::string query =
        "select value from item_values where element like '%location'";
    for (int waited = 0; waited < 20000; waited += 100) {
      if (storedValues(query).find(c.seen) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_NE(storedValues(query).find(c.seen), std::string::npos)
        << storedValues(query);
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
  }
  // Quiz lies where no choice is allowed.
  start("--learner ben --item Q " + (root / "sequenced").string());
  ASSERT_TRUE(WaitForText(output(),
                          "The navigation request choice Q was "
                          "refused: \""));
  const std::string file = (root / "refused.png").string();
  GdkPixbuf* shot = ScreenshotWhen(
      file, [&](GdkPixbuf* p) { return RedPixels(p) > 200; }, 10000);
  ASSERT_NE(shot, nullptr);
  EXPECT_GT(RedPixels(shot), 200) << file;
  g_object_unref(shot);
  EXPECT_EQ(Slurp(output()).find("has loaded"), std::string::npos);
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// SCO pages that set what the table's row says, then go on by themselves.
std::string GoingOn(const std::string& sets) {
  return std::string(kSco2004Head) +
         "</head><body><script>A.Initialize(\"\");\n" + sets +
         "\nA.SetValue(\"adl.nav.request\", \"continue\"); "
         "A.Terminate(\"\");</script></body></html>";
}

// The SCORM 2004 menu says what the sequencer says. A scored course: the
// learner's Start plays Drive (8 of 10, passed, its objective written to a
// global) and Putt (50%, satisfied by reading that global), which goes on
// past the end; the menu says the course has ended and shows each score
// and the course's, the results PDF says the same, and a restart keeps the
// scores. Courses entered by choice only (no flow, as many single-SCO
// exports): no Start, the menu says to choose and Return opens the first
// activity; with one activity, it starts at once.
TEST_F(PackageWindowTest, The2004MenuSaysWhatTheSequencerSays) {
  if (!HaveProgram("pdftotext")) GTEST_SKIP() << "pdftotext is missing";
  const std::string choiceOnly =
      "<imsss:sequencing><imsss:controlMode choice=\"true\" flow=\"false\"/>"
      "</imsss:sequencing>";
  const std::string scored =
      R"(<item identifier="S1" identifierref="R_1"><title>Drive</title>
<imsss:sequencing><imsss:objectives><imsss:primaryObjective objectiveID="drive">
<imsss:mapInfo targetObjectiveID="g-drive" writeSatisfiedStatus="true"/>
</imsss:primaryObjective></imsss:objectives></imsss:sequencing></item>
<item identifier="S2" identifierref="R_2"><title>Putt</title>
<imsss:sequencing><imsss:objectives><imsss:primaryObjective objectiveID="putt">
<imsss:mapInfo targetObjectiveID="g-drive" readSatisfiedStatus="true"/>
</imsss:primaryObjective></imsss:objectives></imsss:sequencing></item>)";
  const std::string twoItems =
      R"(<item identifier="A" identifierref="R_1"><title>Alpha</title></item>
<item identifier="B" identifierref="R_2"><title>Beta</title></item>)";
  const std::map<std::string, std::string> pages = {
      {"1.html", GoingOn(R"(A.SetValue("cmi.score.raw", "8");
A.SetValue("cmi.score.max", "10"); A.SetValue("cmi.score.min", "0");
A.SetValue("cmi.score.scaled", "0.8"); A.SetValue("cmi.success_status", "passed");
A.SetValue("cmi.completion_status", "completed"); report("one");)")},
      {"2.html", GoingOn(R"(A.SetValue("cmi.score.scaled", "0.5");
A.SetValue("cmi.completion_status", "completed"); report("two");)")}};
  const struct {
    std::string name, items;
    std::vector<std::string> before;  // the menu shows first
    std::string absent;               // nowhere on that menu
    bool returnKey;                   // pressed on that menu
    std::string journal;              // awaited then
    std::vector<std::string> after;   // the menu shows then, and the PDF
  } kCases[] = {
      {"scored",
       scored + "<imsss:sequencing><imsss:controlMode flow=\"true\"/>"
                "</imsss:sequencing>",
       {"Start", "Not attempted"},
       "Choose",
       true,
       "anna has reached the end of the course",
       {"You have reached the end of the course.", "8 of 10", "50%", "65%"}},
      {"choice-only",
       twoItems + choiceOnly,
       {"Choose an activity below to begin the course.", "Alpha"},
       "Start",
       true,
       "Item A has loaded",
       {}},
      {"one-activity",
       "<item identifier=\"A\" identifierref=\"R_1\">"
       "<title>Alpha</title></item>" +
           choiceOnly,
       {},
       "",
       false,
       "Item A has loaded",
       {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, std::string> files = pages;
    files["imsmanifest.xml"] =
        Manifest2004(c.name, c.items, {{"R_1", "1.html"}, {"R_2", "2.html"}});
    const fs::path package = writePackage(c.name, files);
    const std::string channel = listenToScreens();
    start("--learner anna " + package.string(), channel);
    if (!c.before.empty()) {
      const std::string menu = screenText(c.before);
      for (const std::string& part : c.before)
        EXPECT_NE(menu.find(part), std::string::npos)
            << part << "\n"
            << menu << Slurp(output());
      EXPECT_EQ(menu.find(c.absent), std::string::npos) << menu;
    }
    if (c.returnKey) {
      const std::string id =
          RunCommand("xdotool search --sync --onlyvisible --name '" + c.name +
                     "$' | head -1");
      pressReturn(id.substr(0, id.find('\n')));
    }
    ASSERT_TRUE(WaitForText(output(), c.journal));
    EXPECT_EQ(Slurp(output()).find("was refused"), std::string::npos)
        << Slurp(output());
    if (!c.after.empty()) {
      const std::string menu = screenText(c.after);
      for (const std::string& part : c.after)
        EXPECT_NE(menu.find(part), std::string::npos) << part << "\n" << menu;
      // Drive, Putt and the course passed, in the menu and in the PDF.
      EXPECT_EQ(Count(menu, "Passed"), 3) << menu;
      const std::string id = RunCommand(
          "xdotool search --onlyvisible --name '" + c.name + "$' | head -1");
      RunCommand("xdotool windowfocus --sync " + id.substr(0, id.find('\n')) +
                 " key Tab key Return");
      std::string dialog = RunCommand(
          "xdotool search --sync --onlyvisible --name 'Save As$' | head -1");
      dialog = dialog.substr(0, dialog.find('\n'));
      ASSERT_FALSE(dialog.empty()) << Slurp(output());
      const std::string find =
          "find " + root.string() + " -name results.pdf | head -1";
      for (int tries = 0; tries < 5 && RunCommand(find).empty(); ++tries) {
        pressReturn(dialog);
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      }
      const std::string pdf = RunCommand(find);
      ASSERT_FALSE(pdf.empty()) << Slurp(output());
      const std::string saved = RunCommand(
          "pdftotext -layout " + pdf.substr(0, pdf.find('\n')) + " -");
      for (const char* part : {"8 of 10", "50%", "65%"})
        EXPECT_NE(saved.find(part), std::string::npos) << part << "\n" << saved;
      EXPECT_EQ(Count(saved, "passed"), 3) << saved;
      // Stored with the sequencing state: a restart shows the same.
      signal(SIGTERM);
      EXPECT_EQ(waitExit(), 0) << Slurp(output());
      start("--learner anna " + package.string(), channel);
      const std::string again = screenText({"8 of 10", "50%", "65%"});
      EXPECT_NE(again.find("65%"), std::string::npos) << again;
    }
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
    TearDown();
    SetUp();
  }
}

// Three SCORM 2004 packages of one learner, run one after another, each
// mapping its SCO's objective and an adl.data target to the same globals:
// what the first writes the second reads; the third keeps its own.
TEST_F(PackageWindowTest, A2004PackageReadsTheGlobalsAnotherWrote) {
  if (!HaveProgram("sqlite3")) GTEST_SKIP() << "sqlite3 is missing";
  const std::string item =
      R"(<item identifier="A" identifierref="R_A"><title>One</title>
<adlcp:data><adlcp:map targetID="g-notes" writeSharedData="true"/></adlcp:data>
<imsss:sequencing><imsss:objectives><imsss:primaryObjective objectiveID="goal">
<imsss:mapInfo targetObjectiveID="g-goal" writeSatisfiedStatus="true"/>
</imsss:primaryObjective></imsss:objectives></imsss:sequencing></item>)";
  const struct {
    std::string name, organization, script, seen;
  } kCases[] = {
      {"writer", "",
       R"(A.SetValue("cmi.success_status", "passed");
A.SetValue("adl.data.0.store", "hello"); report("wrote"); A.Terminate("");)",
       "wrote"},
      {"reader", "",
       R"(report(A.GetValue("cmi.objectives.0.success_status") + "|" +
       A.GetValue("adl.data.0.store"));)",
       "passed|hello"},
      {"apart",
       R"( xmlns:adlseq="http://www.adlnet.org/xsd/adlseq_v1p3" adlseq:objectivesGlobalToSystem="false" adlcp:sharedDataGlobalToSystem="false")",
       R"(report(A.GetValue("cmi.objectives.0.success_status") + "|" +
       A.GetValue("adl.data.0.store"));)",
       "unknown|"},
  };
  const std::string globals =
      (root / "data" / "zept" / "globals.sqlite").string();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string manifest = Manifest2004(c.name, item, {{"R_A", "a.html"}});
    manifest.replace(manifest.find("\"SEQ\""), 5, "\"" + c.name + "\"");
    manifest.insert(manifest.find("<organization identifier=\"ORG\"") + 30,
                    c.organization);
    const fs::path package = writePackage(
        c.name, {{"imsmanifest.xml", manifest},
                 {"a.html", std::string(kSco2004Head) +
                                "</head><body><script>A.Initialize(\"\");\n" +
                                c.script + "\n</script></body></html>"}});
    start("--learner anna --item A " + package.string());
    const std::string query =
        "select value from item_values where element='cmi.location'";
    const auto stored = [&] {
      return ("\n" + storedValues(query)).find("\n" + c.seen + "\n") !=
             std::string::npos;
    };
    for (int waited = 0; waited < 20000 && !stored(); waited += 100)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(stored()) << storedValues(query) << Slurp(output());
    if (c.name == "writer") {
      // Terminate ends the attempt: its objective reaches the globals.
      const std::string written =
          "sqlite3 -readonly " + globals +
          " \"select target||satisfied from objectives\" 2>&1";
      for (int waited = 0; waited < 20000; waited += 100) {
        if (RunCommand(written) == "g-goal1\n") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      EXPECT_EQ(RunCommand(written), "g-goal1\n");
    }
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
  }
}

// Narrated pages: an MP3 and an MP4 (H.264 and AAC) play from the package
// as they are read, with no sound card: one started by a script and sought
// into, one by autoplay after a <source> the package lacks. The page reads
// back the URL it set. Played from a folder (the files themselves) and from
// a .zip (their bytes handed over). The media are encoded here by
// GStreamer's own tools, from its test sources.
TEST_F(PackageWindowTest, AudioAndVideoPlayToTheirEnd) {
  if (!HaveProgram("gst-launch-1.0"))
    GTEST_SKIP() << "gst-launch-1.0 (gstreamer1.0-tools) is not installed";
  const fs::path made = root / "made";
  fs::create_directories(made);
  // The MP3 long enough for its length to be known from its bitrate; the
  // MP4 a quarter of a second.
  const std::string tone =
      "audiotestsrc num-buffers=%d ! audio/x-raw,rate=44100,channels=1 ! "
      "audioconvert ! ";
  const auto source = [&tone](int buffers) {
    std::string out = tone;
    out.replace(out.find("%d"), 2, std::to_string(buffers));
    return out;
  };
  int status = 1;
  RunCommand("gst-launch-1.0 -q " + source(100) +
                 "lamemp3enc ! filesink location=" +
                 (made / "tone.mp3").string() + " 2>&1",
             &status);
  ASSERT_EQ(status, 0);
  RunCommand(
      "gst-launch-1.0 -q videotestsrc num-buffers=12 ! "
      "video/x-raw,width=160,height=120,framerate=48/1 ! openh264enc ! "
      "h264parse ! mp4mux name=mux ! filesink location=" +
          (made / "clip.mp4").string() + " " + source(12) +
          "voaacenc ! aacparse ! mux. 2>&1",
      &status);
  ASSERT_EQ(status, 0);
  const std::map<std::string, std::string> files = {
      {"imsmanifest.xml",
       Manifest("Media course", {{"V1", "Narrated", "v/index.html", ""}})},
      {"v/tone.mp3", Slurp(made / "tone.mp3")},
      {"v/clip.mp4", Slurp(made / "clip.mp4")},
      {"v/index.html", std::string(kScoHead) + R"(</head><body>
<video id="mp4" width="160" height="120" autoplay>
<source src="clip.webm" type="video/webm"><source src="clip.mp4" type="video/mp4">
</video>
<script>
A.LMSInitialize("");
var ended = [];
function watch(id, media) {
  media.addEventListener("ended", function () {
    ended.push(id);
    if (ended.length == 2)
      report("ended " + ended.sort().join(" ") + " " +
             A.LMSGetValue("cmi.core.student_name") + " " + sought);
  });
  media.addEventListener("error", function () {
    report(id + " error " + media.error.code + " " + media.error.message);
  });
}
watch("mp4", document.getElementById("mp4"));
var narration = new Audio("tone.mp3");
// Sought into once its length is known, as a learner drags the slider.
var sought = "not sought";
narration.addEventListener("timeupdate", function () {
  if (sought == "not sought" && isFinite(narration.duration) &&
      narration.currentTime < 1) {
    sought = "seeking";
    narration.currentTime = 1.5;
  }
});
narration.addEventListener("seeked", function () { sought = "sought"; });
watch("mp3", narration);
if (!/tone\.mp3$/.test(narration.src)) report("src " + narration.src);
narration.play();
</script></body></html>)"}};
  // The same course either way, so each has a learner of its own.
  const std::pair<fs::path, std::string> runs[] = {
      {writePackage("media", files), "anna"},
      {writeZip("media.zip", files), "ben"}};
  for (const auto& [package, learner] : runs) {
    SCOPED_TRACE(package.string());
    start("--learner " + learner + " --item V1 " + package.string());
    EXPECT_TRUE(waitResults(package, "\"ended mp3 mp4 " + learner + " sought\"",
                            15000));
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
  }
}

}  // namespace

namespace {

// Results go to the LRS named in zept-lrs.conf beside the course while the
// learner plays, and the last ones as zept ends; credentials the LRS
// refuses are said in the journal and under the menu.
TEST_F(PackageWindowTest, ResultsReachTheLrsWhileTheLearnerPlays) {
  if (const std::string why = zept::testing::LrsServer::missing(); !why.empty())
    GTEST_SKIP() << why;
  zept::testing::LrsServer lrs;
  lrs.start();
  const fs::path package = writePackage(
      "lrs",
      {{"imsmanifest.xml",
        Manifest("LRS course", {{"SCO1", "One", "one.html", ""}})},
       {"zept-lrs.conf", "[lrs]\nendpoint=" + lrs.endpoint() + "\nusername=" +
                             lrs.key() + "\npassword=" + lrs.secret() +
                             "\nhomepage=https://learners.example.org\n"
                             "activity-base=https://courses.example.org/\n"},
       {"one.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
A.LMSSetValue("cmi.core.score.raw", "90");
A.LMSSetValue("cmi.core.lesson_status", "passed");
A.LMSSetValue("cmi.core.session_time", "0000:01:30");
report("done");
</script><p>One</p></body></html>)"}});
  const auto verbs = [&] {
    std::string out;
    for (const std::string& statement : lrs.statements()) {
      const std::size_t at = statement.find("/expapi/verbs/");
      out += statement.substr(at + 14, statement.find('"', at) - at - 14) + " ";
    }
    return out;
  };
  start("--learner anna --item SCO1 " + package.string());
  ASSERT_TRUE(waitResults(package, "\"done\""));
  std::string sent;
  for (int waited = 0; waited < 15000; waited += 200) {
    if ((sent = verbs()) == "initialized scored passed ") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_EQ(sent, "initialized scored passed ") << Slurp(output());
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  EXPECT_EQ(verbs(), "initialized scored passed terminated ")
      << Slurp(output());
  const std::vector<std::string> statements = lrs.statements();
  ASSERT_EQ(statements.size(), 4u);
  EXPECT_NE(
      statements[3].find(
          R"("account":{"homePage":"https://learners.example.org","name":"anna"})"),
      std::string::npos)
      << statements[3];
  EXPECT_NE(statements[3].find(R"("duration":"PT1M30S")"), std::string::npos)
      << statements[3];
  EXPECT_NE(statements[3].find("https://courses.example.org/TEST/SCO1"),
            std::string::npos)
      << statements[3];
  EXPECT_NE(results(package).find("\"pending_statements\": 0"),
            std::string::npos);

  // The statements of the next session wait while the LRS refuses the
  // credentials; the learner sees why at the menu.
  lrs.refuseCredentials(true);
  start("--learner anna --item SCO1 " + package.string());
  ASSERT_TRUE(WaitForText(output(), "the LRS refused zept's credentials"))
      << Slurp(output());
  const std::string id = RunCommand(
      "xdotool search --sync --onlyvisible --name 'LRS course$' | head -1");
  RunCommand("xdotool windowfocus --sync " + id.substr(0, id.find('\n')) +
             " key alt+m");
  // The note, in the messages' red, under the menu's buttons.
  const std::string file = (root / "note.png").string();
  GdkPixbuf* shot = ScreenshotWhen(
      file, [&](GdkPixbuf* p) { return RedPixels(p) > 200; }, 10000);
  ASSERT_NE(shot, nullptr);
  EXPECT_GT(RedPixels(shot), 200) << file;
  g_object_unref(shot);
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  EXPECT_EQ(results(package).find("\"pending_statements\": 0"),
            std::string::npos);
  // Accepted again: the next start sends what waited, each once.
  lrs.refuseCredentials(false);
  start("--learner anna " + package.string());
  ASSERT_TRUE(waitResults(package, "\"pending_statements\": 0"));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  EXPECT_EQ(verbs(),
            "initialized scored passed terminated initialized scored passed "
            "terminated ");

  // Played with the LRS stopped, then zept-sync once it is back (empty, as
  // it restarts): the session's statements, once each.
  lrs.stop();
  start("--learner anna --item SCO1 " + package.string());
  ASSERT_TRUE(waitResults(package, "\"pending_statements\": 3"));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  lrs.start();
  int status = -1;
  const std::string synced =
      RunCommand(environment() + ZEPT_SYNC_BINARY " 2>&1", &status);
  EXPECT_EQ(status, 0) << synced;
  EXPECT_NE(synced.find("sent 4, pending 0, refused 0"), std::string::npos)
      << synced;
  EXPECT_EQ(verbs(), "initialized scored passed terminated ");
}

// zept's own sequencing test packages, in the suite's format, played in the
// window by zept-conformance: the test SCO driven through the test channel,
// Continue, Previous and a choice pressed on the page, a relaunch resumed.
TEST_F(PackageWindowTest, OurSequencingPackagesPassThroughTheWindow) {
  int status = -1;
  const std::string out = RunCommand("TMPDIR=" + (root / "tmp").string() +
                                         " " ZEPT_CONFORMANCE_BINARY
                                         " --window " ZEPT_CONFORMANCE_PACKAGES
                                         " ZC-01 ZF-01 forced-sequential 2>&1",
                                     &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("ZC-01: passed\nZF-01: passed\nforced-sequential: "
                     "passed\n3 passed, 0 failed"),
            std::string::npos)
      << out;
}

}  // namespace

namespace {

// The page around a package's content, as a browser gives it offline: each
// case a one-SCO package whose page reports what it met, what the journal
// must say (and must not), and, under --strict, what the summary lists.
struct ContentCase {
  std::string name;
  std::map<std::string, std::string> files;  // besides the manifest
  std::string said;                          // in cmi.core.lesson_location
  std::vector<std::string> journal;          // lines said, each once
  std::vector<std::string> never;            // never said
  std::string strict;                        // in --strict's summary
};

// A short MP3 (made once) as a data: URI, the way narrated content tests
// whether sound plays before it starts.
std::string Mp3DataUri(const fs::path& folder) {
  const fs::path mp3 = folder / "short.mp3";
  RunCommand(
      "gst-launch-1.0 -q audiotestsrc wave=silence num-buffers=5 ! "
      "audio/x-raw,rate=44100,channels=1 ! audioconvert ! lamemp3enc ! "
      "filesink location=" +
      mp3.string() + " 2>&1");
  gchar* base64 = g_base64_encode(
      reinterpret_cast<const guchar*>(Slurp(mp3).data()), Slurp(mp3).size());
  const std::string uri = std::string("data:audio/mp3;base64,") + base64;
  g_free(base64);
  return uri;
}

std::string TalkingMovie(const std::string& said) {
  zept::swf::MovieWriter movie(200, 100, 24, {255, 255, 255});
  movie.doAction(zept::swf::CompileScript(
      "flash.external.ExternalInterface.call(\"fromMovie\", \"" + said +
      "\");"));
  movie.showFrame();
  return movie.bytes(true);
}

class ContentPageTest : public PackageWindowTest {
 protected:
  // Every page starts the SCO's session; a movie's word is reported.
  const std::string head = std::string(kScoHead) +
                           "<script>A.LMSInitialize(\"\");"
                           "function fromMovie(v) { report(v); return 1; }"
                           "</script>";

  void play(const std::vector<ContentCase>& cases) {
    for (const ContentCase& test : cases) {
      SCOPED_TRACE(test.name);
      std::map<std::string, std::string> files = test.files;
      files["imsmanifest.xml"] = Manifest("Content " + test.name,
                                          {{"C1", "Page", "c/index.html", ""}});
      const fs::path package = writePackage(test.name, files);
      // No sound server or device, as on the machine it was seen on, whose
      // sound configuration names one that never answers (a pipe nothing
      // reads): a program that tries it waits for ever.
      const fs::path sound = root / "tmp" / "sound";
      ::mkfifo(sound.c_str(), 0600);
      std::ofstream(root / "tmp" / "asound.conf")
          << "pcm.!default { type file slave.pcm \"null\" file \""
          << sound.string() << "\" format \"raw\" }\npcm.null { type null }\n";
      start("--strict --learner anna --item C1 " + package.string(),
            "XDG_RUNTIME_DIR=" + (root / "tmp").string() +
                " PULSE_SERVER= ALSA_CONFIG_PATH=" +
                (root / "tmp" / "asound.conf").string() +
                " ZEPT_PAGE_CONSOLE=1 ");
      EXPECT_TRUE(waitResults(package, "\"" + test.said + "\"", 30000));
      signal(SIGTERM);
      EXPECT_EQ(waitExit(), 0);
      const std::string said = Slurp(output());
      for (const std::string& line : test.journal) {
        EXPECT_EQ(Count(said, line), 1) << line << "\n" << said;
      }
      for (const std::string& line : test.never) {
        EXPECT_EQ(Count(said, line), 0) << line << "\n" << said;
      }
      if (!test.strict.empty()) {
        EXPECT_NE(said.find(test.strict), std::string::npos) << said;
      }
    }
  }
};

TEST_F(ContentPageTest, HtmlPagesGetSoundCookiesAndTheirMissingFilesNamed) {
  if (!HaveProgram("gst-launch-1.0"))
    GTEST_SKIP() << "gst-launch-1.0 (gstreamer1.0-tools) is not installed";
  const std::string mp3 = Mp3DataUri(root / "tmp");
  // Six sounds started at once, each its element's first play(), from data:
  // and from files: in three launches, every one settles.
  const std::string firstPlays = head + R"(</head><body><script>
var sources = [")" + mp3 + R"(", "s.mp3", "s.mp3?b", ")" + mp3 +
                                 R"(#b", "s.mp3?c", "s.mp3?d"], settled = 0;
sources.forEach(function (source) {
  var audio = document.createElement("audio");
  audio.src = source;
  document.body.appendChild(audio);
  audio.play().then(function () { if (++settled == 6) report("six settled"); },
                    function (e) { report(e.name); });
});
</script></body></html>)";
  std::vector<ContentCase> firsts;
  for (const char* launch : {"first-plays-1", "first-plays-2", "first-plays-3"})
    firsts.push_back({launch,
                      {{"c/index.html", firstPlays},
                       {"c/s.mp3", Slurp(root / "tmp" / "short.mp3")}},
                      "six settled",
                      {},
                      {},
                      ""});
  play(firsts);
  play({
      // Each play() settles, with no sound device: played silently.
      {"sound",
       {{"c/index.html",
         head + R"(</head><body><script>
var left = 3, results = [];
function next() {
  if (left-- == 0) { report("settled " + results.join(" ")); return; }
  new Audio(")" +
             mp3 +
             R"(").play().then(function () { results.push("played"); next(); },
      function (e) { results.push(e.name); next(); });
}
next();
</script></body></html>)"}},
       "settled played played played",
       {},
       {},
       ""},
      // Cookies last from page to page of the learner's session, by path.
      {"cookies",
       {{"c/index.html", head + R"(</head><body><script>
document.cookie = "everywhere=1; path=/";
document.cookie = "here=2";
document.cookie = "gone=3; max-age=0";
document.cookie = "server=4; HttpOnly";
location.href = "../d/next.html?" + encodeURIComponent(document.cookie);
</script></body></html>)"},
        {"d/next.html", head + R"(</head><body><script>
report(decodeURIComponent(location.search.substring(1)) + " | " + document.cookie);
</script></body></html>)"}},
       "here=2; everywhere=1 | everywhere=1",
       {},
       {},
       ""},
      // A script and a picture the package lacks are named once each, with
      // the page that asked, and listed by --strict.
      {"missing",
       {{"c/index.html", head + R"(
<script src="lib/gone.js"></script></head><body>
<img src="../pics/none.png"><img src="../pics/none.png">
<script>
window.addEventListener("load", function () {
  report(typeof gone === "undefined" ? "loaded without gone.js" : "gone.js?");
});
</script></body></html>)"}},
       "loaded without gone.js",
       {"The page c/index.html asked for c/lib/gone.js, which is missing "
        "from the package",
        "The page c/index.html asked for pics/none.png, which is missing "
        "from the package"},
       {},
       "Files missing from the package:\n"
       "  c/lib/gone.js (asked by c/index.html)\n"
       "  pics/none.png (asked by c/index.html)\n"},
      // The page that asked is the one the browser names, not one a page
      // says asked.
      {"forged-asker",
       {{"c/index.html", head + R"(</head><body><script>
var x = new XMLHttpRequest();
x.open("GET", "../pics/lost.png", false);
try { x.send(); } catch (e) {}
var y = new XMLHttpRequest();
y.open("POST", "/page", false);
y.send(JSON.stringify(["missing", "/pkg/c/other.html",
                       location.origin + "/pkg/pics/lost.png"]));
report("claimed");
</script></body></html>)"}},
       "claimed",
       {"The page c/index.html asked for pics/lost.png, which is missing "
        "from the package"},
       {"c/other.html"},
       ""},
  });
}

TEST_F(ContentPageTest, MoviePagesGetThePluginAndTheirOwnBlobs) {
  play({
      // A page that looks for Flash to choose its output takes the HTML5
      // one; a page that names its movie still gets the plugin it looks
      // for, and the movie plays.
      {"outputs",
       {{"c/index.html", head + R"(</head><body><script>
var flash = navigator.plugins["Shockwave Flash"] ||
            navigator.mimeTypes["application/x-shockwave-flash"];
location.href = flash ? "flash.html" : "html5.html";
</script></body></html>)"},
        {"c/flash.html", head + "</head><body><script>report(\"flash\");"
                                "</script></body></html>"},
        {"c/html5.html", head + R"(</head><body><script>
if (navigator.plugins["Shockwave Flash"]) report("flash announced");
else document.write('<iframe src="movie.html" width="300" height="150"></iframe>');
</script></body></html>)"},
        {"c/movie.html", std::string(kScoHead) + R"(<script>
function fromMovie(v) { report("html5 then " + v); return 1; }</script>
</head><body><script>
if (navigator.plugins["Shockwave Flash"] && navigator.mimeTypes["application/x-shockwave-flash"])
  document.write('<embed src="story.swf" width="200" height="100">');
else
  report("html5 then no plugin");
</script></body></html>)"},
        {"c/story.swf", TalkingMovie("movie")}},
       "html5 then movie",
       {},
       {},
       ""},
      // A movie the page made itself, from a blob: URL of its own origin,
      // plays without a refusal.
      {"blob",
       {{"c/index.html", head + R"(</head><body><script>
fetch("made.swf").then(function (r) { return r.blob(); }).then(function (b) {
  var movie = document.createElement("object");
  movie.type = "application/x-shockwave-flash";
  movie.data = URL.createObjectURL(b);
  movie.width = 200; movie.height = 100;
  document.body.appendChild(movie);
});
</script></body></html>)"},
        {"c/made.swf", TalkingMovie("made movie")}},
       "made movie",
       {},
       {"Refused to load blob:", "asked for blob"},
       ""},
  });
}

}  // namespace

namespace {

// A movie whose emulator crashes (a value nested deeper than its stack, as
// a page may hand a movie's callback, overruns its memory): the learner
// reads it where the SCO was, the journal names it, and Retry launches the
// item again.
TEST_F(ContentPageTest, AnEmulatorCrashIsSaidInTheFramesPlaceWithRetry) {
  if (!HaveProgram("import")) GTEST_SKIP() << "ImageMagick's import is missing";
  zept::swf::MovieWriter movie(200, 100, 24, {255, 255, 255});
  movie.doAction(zept::swf::CompileScript(R"(
flash.external.ExternalInterface.addCallback("take", null, function (v) { return 1; });
flash.external.ExternalInterface.call("ready");)"));
  movie.showFrame();
  const fs::path package = writePackage(
      "crash",
      {{"imsmanifest.xml",
        Manifest("Crash course", {{"C1", "Quiz", "c/index.html", ""}})},
       {"c/quiz.swf", movie.bytes(true)},
       {"c/index.html", std::string(kScoHead) + R"(<script>
A.LMSInitialize("");
var again = A.LMSGetValue("cmi.suspend_data") == "crashed once";
A.LMSSetValue("cmi.suspend_data", "crashed once");
A.LMSCommit("");
function ready() {
  setTimeout(function () {
    var deep = [];
    for (var i = 0; i < 200000; i++) deep = [deep];
    try { document.querySelector("ruffle-embed").take(deep); } catch (e) {}
  }, 100);
}
</script></head><body><script>
if (again) report("launched again");
else document.write('<embed src="quiz.swf" width="200" height="100">');
</script></body></html>)"}});
  start("--learner anna --item C1 " + package.string());
  ASSERT_TRUE(WaitForText(output(),
                          "Item C1 stopped: the Flash emulator crashed in "
                          "c/index.html (RuntimeError: Out of bounds memory "
                          "access",
                          40000));
  const std::string id = RunCommand(
      "xdotool search --onlyvisible --name 'Crash course$' | head -1");
  ASSERT_FALSE(id.empty()) << Slurp(output());
  const XGeometry window = Geometry(std::stoul(id));
  // The page's name in red where the movie played.
  const auto told = [&](GdkPixbuf* shot) {
    int red = 0;
    for (int y = 30; y < 200; ++y)
      for (int x = 0; x < 600; ++x) {
        const Rgb p = PixelAt(shot, window.x + x, window.y + y);
        red += p.r > 150 && p.g < 90 && p.b < 90;
      }
    return red > 40;
  };
  const std::string file = (root / "crashed.png").string();
  GdkPixbuf* shot = ScreenshotWhen(file, told, 10000);
  ASSERT_NE(shot, nullptr);
  EXPECT_TRUE(told(shot)) << file;
  g_object_unref(shot);
  // Retry has the focus.
  pressReturn(id.substr(0, id.find('\n')));
  EXPECT_TRUE(waitResults(package, "\"launched again\""));
  // The page's load is journalled after its scripts have run.
  EXPECT_TRUE(WaitForText(output(), "Item C1 has loaded", 10000, 2));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

}  // namespace

namespace cmi5au {

// A cmi5 course: a block with AU1 (moveOn Completed), which finishes by
// itself and goes to its return URL 2 s later, then AU2 (Passed), which stays
// after "initialized" until zept is closed or killed. Each counts its launches
// in a bookmark of the State API.
std::string CourseXml() {
  const auto text = [](const char* element, const char* words) {
    return std::string("<") + element + "><langstring lang=\"en-US\">" + words +
           "</langstring></" + element + ">";
  };
  return std::string(
             "<?xml version=\"1.0\"?>\n<courseStructure xmlns=\"https://"
             "w3id.org/xapi/profiles/cmi5/v1/CourseStructure.xsd\">"
             "<course id=\"https://example.org/c5\">") +
         text("title", "Five") + text("description", "d") +
         "</course><block id=\"https://example.org/c5/b\">" +
         text("title", "Block one") + text("description", "d") +
         "<au id=\"https://example.org/c5/au1\" moveOn=\"Completed\">" +
         text("title", "First AU") + text("description", "d") +
         "<url>au/index.html</url></au></block>"
         "<au id=\"https://example.org/c5/au2\" moveOn=\"Passed\" "
         "masteryScore=\"0.5\">" +
         text("title", "Second AU") + text("description", "d") +
         "<url>au/index.html?stay=1</url></au></courseStructure>";
}

// What an AU does first, as cmi5 asks: q (the launch's query, its parent's
// for a frame), req(), the auth token, the launch data, statement(verb,
// result, moveOn) and send() to PUT one; the page goes on after it.
constexpr char kAuPrelude[] = R"(<!doctype html><html><body><p id="said">AU</p>
<script>
var q = new URLSearchParams(location.search), auth = "";
if (!q.get("fetch")) q = new URLSearchParams(parent.location.search);
function req(method, url, body) {
  var x = new XMLHttpRequest();
  x.open(method, url, false);
  if (auth) x.setRequestHeader("Authorization", auth);
  x.setRequestHeader("X-Experience-API-Version", "1.0.3");
  x.setRequestHeader("Content-Type", "application/json");
  x.send(body || null);
  return x;
}
auth = "Basic " + JSON.parse(req("POST", q.get("fetch")).responseText)["auth-token"];
var ep = q.get("endpoint"), agent = q.get("actor");
var place = "activityId=" + encodeURIComponent(q.get("activityId")) +
    "&agent=" + encodeURIComponent(agent) + "&registration=" + q.get("registration");
var data = JSON.parse(req("GET", ep + "activities/state?stateId=LMS.LaunchData&" + place).responseText);
req("GET", ep + "agents/profile?profileId=cmi5LearnerPreferences&agent=" +
    encodeURIComponent(agent));
function statement(verb, result, moveOn) {
  var context = JSON.parse(JSON.stringify(data.contextTemplate));
  context.registration = q.get("registration");
  context.contextActivities.category = [{id: "https://w3id.org/xapi/cmi5/context/categories/cmi5"}];
  if (moveOn) context.contextActivities.category.push({id: "https://w3id.org/xapi/cmi5/context/categories/moveon"});
  var s = {id: crypto.randomUUID(), timestamp: new Date().toISOString(),
           actor: JSON.parse(agent), verb: {id: "http://adlnet.gov/expapi/verbs/" + verb},
           object: {id: q.get("activityId")}, context: context};
  if (result) s.result = result;
  return s;
}
function send(verb, result, moveOn) {
  var s = statement(verb, result, moveOn);
  return req("PUT", ep + "statements?statementId=" + s.id, JSON.stringify(s)).status;
}
)";

// The AU of most tests: says initialized and keeps a page count as its
// bookmark; without ?stay=1 it completes twice, terminates and goes back.
const std::string kAuPage = std::string(kAuPrelude) + R"(
var bookmark = req("GET", ep + "activities/state?stateId=bookmark&" + place);
var said = [send("initialized"), bookmark.status, bookmark.responseText];
req("PUT", ep + "activities/state?stateId=bookmark&" + place, "page " + (Number(bookmark.responseText.slice(5)) + 1 || 1));
if (!q.get("stay")) {
  said.push(send("completed", {completion: true, duration: "PT1S"}, true));
  said.push(send("completed", {completion: true, duration: "PT1S"}, true));
  said.push(send("terminated", {duration: "PT2S"}));
  setTimeout(function () { location.href = data.returnURL; }, 2000);
}
document.getElementById("said").textContent = said.join(" ");
</script></body></html>)";

}  // namespace cmi5au

// A SCO caught in an endless loop holds only its own view's process: the
// learner's Alt+M still brings the menu, and closing zept still ends it.
// Before it loops it makes 3,000 calls: zept holds no connection of them.
TEST_F(PackageWindowTest, ALoopingScoLeavesZeptsControlsFree) {
  const fs::path package = writePackage(
      "loop", {{"imsmanifest.xml",
                Manifest("Loop course", {{"L1", "Looping", "l/index.html", ""}})},
               {"l/index.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
for (var n = 0; n < 3000; n++) A.LMSSetValue("cmi.suspend_data", "x" + n);
report("looping");
setTimeout(function () { for (;;) {} }, 300);
</script></body></html>)"}});
  start("--learner anna --item L1 " + package.string());
  ASSERT_TRUE(waitResults(package, "\"looping\""));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  const auto held = std::distance(
      fs::directory_iterator("/proc/" + std::to_string(running()) + "/fd"),
      fs::directory_iterator());
  EXPECT_LT(held, 500) << "descriptors zept holds";
  pressKeys("Loop course", "alt+m");
  EXPECT_TRUE(WaitForText(output(), "The course menu is shown"));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// AUs written for the web, as authoring tools write them, each playing in
// its own view as on an LMS: a library that refuses any address but http(s)
// (TinCanJS), a walk up the parents that must end at a readable top
// (Captivate), a frameset whose frames fill each other by name (Lectora),
// "terminated" sent as the page goes by a keepalive request and by a
// synchronous one, and the return URL reached through the top and the
// parent. Each says "initialized" only when what it needs held, and the
// course's screen comes back where the AU goes back.
TEST_F(PackageWindowTest, AusPlayAsOnTheWeb) {
  const std::string prelude = cmi5au::kAuPrelude;
  const struct {
    std::string name;
    std::map<std::string, std::string> pages;  // au/index.html first
    bool close;          // zept is closed while the AU plays
    std::string verbs;   // stored then, in order
    bool menuBack;       // the course's screen comes back by itself
  } kCases[] = {
      {"tincanjs",
       {{"au/index.html", prelude + R"(
if (!/^https?:$/.test(new URL(location.href).protocol))
  throw new Error("Unable to parse URL");
send("initialized");
</script></body></html>)"}},
       false, "launched initialized", false},
      {"parent-walk",
       {{"au/index.html", prelude + R"(
var w = window;
for (var n = 0; n < 50 && w !== w.parent; n++) w = w.parent;
if (w === w.top && w.document.title !== undefined) send("initialized");
</script></body></html>)"}},
       false, "launched initialized", false},
      {"frameset",
       {{"au/index.html", R"(<!doctype html><html><frameset cols="50%,50%">
<frame name="nav" src="nav.html"><frame name="content" src="blank.html">
</frameset></html>)"},
        {"au/blank.html", "<!doctype html><p>loading"},
        {"au/nav.html", R"(<!doctype html><script>
window.open("page.html", "content");
</script>)"},
        {"au/page.html", prelude + R"(
if (parent.frames.nav && window.name === "content") send("initialized");
</script></body></html>)"}},
       false, "launched initialized", false},
      {"keepalive",
       {{"au/index.html", prelude + R"(
addEventListener("pagehide", function () {
  var s = statement("terminated", {duration: "PT5S"});
  fetch(ep + "statements?statementId=" + s.id, {method: "PUT", keepalive: true,
        headers: {"Authorization": auth, "X-Experience-API-Version": "1.0.3",
                  "Content-Type": "application/json"},
        body: JSON.stringify(s)});
});
send("initialized");
</script></body></html>)"}},
       true, "launched initialized terminated", false},
      {"sync-unload",
       {{"au/index.html", prelude + R"(
addEventListener("pagehide", function () { send("terminated", {duration: "PT5S"}); });
send("initialized");
</script></body></html>)"}},
       true, "launched initialized terminated", false},
      // zept closes while the page is still loading: its pagehide still
      // runs.
      {"closed-loading",
       {{"au/index.html", prelude + R"(
addEventListener("pagehide", function () { send("terminated", {duration: "PT5S"}); });
send("initialized");
</script><script>
for (var until = Date.now() + 600; Date.now() < until;) {}
</script></body></html>)"}},
       true, "launched initialized terminated", false},
      {"top-return",
       {{"au/index.html", prelude + R"(
send("initialized"); send("terminated", {duration: "PT1S"});
setTimeout(function () { top.location = data.returnURL; }, 500);
</script></body></html>)"}},
       false, "launched initialized terminated", true},
      {"parent-return",
       {{"au/index.html", prelude + R"(
send("initialized"); send("terminated", {duration: "PT1S"});
setTimeout(function () { parent.location.href = data.returnURL; }, 500);
</script></body></html>)"}},
       false, "launched initialized terminated", true},
  };
  const std::string verbs =
      "SELECT group_concat(substr(verb, instr(verb, 'verbs/') + 6), ' ') "
      "FROM (SELECT verb FROM lrs_statements ORDER BY seq)";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, std::string> files = c.pages;
    files["cmi5.xml"] =
        R"(<?xml version="1.0"?>
<courseStructure xmlns="https://w3id.org/xapi/profiles/cmi5/v1/CourseStructure.xsd">
<course id="https://example.org/web"><title><langstring lang="en-US">Web</langstring></title>
<description><langstring lang="en-US">d</langstring></description></course>
<au id="https://example.org/web/au" moveOn="NotApplicable"><title><langstring lang="en-US">Web AU</langstring></title>
<description><langstring lang="en-US">d</langstring></description><url>au/index.html</url></au>
</courseStructure>)";
    const fs::path package = writePackage("web-" + c.name, files);
    const std::string channel = listenToScreens();
    start("--learner ann --item https://example.org/web/au " + package.string(),
          channel);
    // Pages that send as they go listen for it before "initialized", which
    // the signal follows.
    EXPECT_TRUE(waitStored(verbs, c.close ? "initialized" : c.verbs))
        << Slurp(output());
    if (c.menuBack) {
      const std::string menu = screenText({"Web AU", "Results as PDF"});
      EXPECT_NE(menu.find("Web AU"), std::string::npos) << menu;
    }
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
    if (c.close) {
      EXPECT_TRUE(waitStored(verbs, c.verbs + "\n")) << Slurp(output());
    }
    TearDown();
    SetUp();
  }
}

// A cmi5 course plays: the AU talks to zept's LRS as it would to any, the
// rules refuse what the LMS must refuse, the course's screen comes back as
// the AU goes, and a session cut short by a kill is abandoned at the next
// start, once, with every statement kept in the outbox in its order.
TEST_F(PackageWindowTest, ACmi5CourseTalksToZeptsLrs) {
  const fs::path package = writePackage(
      "five",
      {{"cmi5.xml", cmi5au::CourseXml()}, {"au/index.html", cmi5au::kAuPage}});
  const std::string verbs =
      "SELECT group_concat(substr(verb, instr(verb, 'verbs/') + 6), ' ') "
      "FROM (SELECT verb FROM lrs_statements ORDER BY seq)";
  const std::string channel = listenToScreens();
  start("--learner ann --item https://example.org/c5/au1 " + package.string(),
        channel);
  // The AU terminated and stays until it goes: the course's screen waits.
  EXPECT_TRUE(waitStored(verbs, "terminated"));
  const std::string playing = screenText({"First AU"});
  EXPECT_EQ(playing.find("Block one"), std::string::npos) << playing;
  // Then it went: the menu shows its state and the block's.
  const std::string menu =
      screenText({"Block one", "Satisfied", "Completed", "Second AU"});
  EXPECT_NE(menu.find("Satisfied"), std::string::npos) << menu << "\n"
                                                       << Slurp(output());
  EXPECT_TRUE(waitStored(verbs,
                         "launched initialized completed satisfied "
                         "terminated"));
  const std::string shown = results(package);
  EXPECT_NE(shown.find(R"("title": "Block one",
          "satisfied": true)"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find(R"("completed": true)"), std::string::npos) << shown;
  // The second AU bookmarks and stays; zept is killed under it.
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  // The first AU's second "completed" was refused, and said with its rule.
  EXPECT_NE(Slurp(output()).find(
                "AU https://example.org/c5/au1 (launch 1): a statement was "
                "refused by cmi5's rules for an AU (HTTP 403): the session "
                "already has \"completed\""),
            std::string::npos)
      << Slurp(output());
  start("--learner ann --item https://example.org/c5/au2 " + package.string());
  EXPECT_TRUE(
      waitStored("SELECT 'initialized=' || count(*) FROM "
                 "lrs_statements WHERE verb LIKE '%initialized'",
                 "initialized=2\n"));
  signal(SIGKILL);
  waitExit();
  // The next start abandons the session the kill cut short, and the AU
  // finds its bookmark; closing zept under it abandons that one too.
  start("--learner ann --item https://example.org/c5/au2 " + package.string());
  EXPECT_TRUE(
      waitStored("SELECT 'bookmark=' || body FROM lrs_documents "
                 "WHERE id='bookmark' AND activity LIKE '%au2'",
                 "bookmark=page 2\n"));
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
  // No LRS is configured: the journal says the statements wait for one.
  EXPECT_NE(Slurp(output()).find("statements wait for an LRS configuration: "
                                 "the first one configured gets them"),
            std::string::npos)
      << Slurp(output());
  EXPECT_EQ(storedValues(verbs),
            "launched initialized completed satisfied terminated launched "
            "initialized abandoned launched initialized abandoned\n");
  // Nothing twice, nothing more: every statement is in the outbox, in order.
  EXPECT_EQ(storedValues("SELECT count(*) FROM lrs_statements"), "11\n");
  EXPECT_EQ(storedValues("SELECT group_concat(id) FROM (SELECT id FROM "
                         "lrs_statements ORDER BY seq)"),
            storedValues("SELECT group_concat(id) FROM (SELECT id FROM "
                         "statements ORDER BY seq)"));
}

// A cmi5 AU in a window of its own whose page process ends (a crash, out
// of memory) leaves no dead window on top: the window goes with it, and
// zept carries on under it.
TEST_F(PackageWindowTest, AnAuWindowGoesWithItsPagesProcess) {
  const fs::path package =
      writePackage("own", {{"cmi5.xml",
                            R"(<?xml version="1.0"?>
<courseStructure xmlns="https://w3id.org/xapi/profiles/cmi5/v1/CourseStructure.xsd">
<course id="https://example.org/own"><title><langstring lang="en-US">Own</langstring></title>
<description><langstring lang="en-US">d</langstring></description></course>
<au id="https://example.org/own/au" moveOn="Passed" masteryScore="0.5" launchMethod="OwnWindow">
<title><langstring lang="en-US">Windowed AU</langstring></title>
<description><langstring lang="en-US">d</langstring></description>
<url>au/index.html?stay=1</url></au></courseStructure>)"},
                           {"au/index.html", cmi5au::kAuPage}});
  start("--learner ann --item https://example.org/own/au " + package.string());
  const std::string shown =
      "xdotool search --onlyvisible --name 'Windowed AU$'";
  for (int waited = 0; waited < 20000 && RunCommand(shown).empty();
       waited += 200)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_FALSE(RunCommand(shown).empty()) << Slurp(output());
  // Once the AU has run no process is still being launched: WebKit aborts
  // the program when one ends before it has told its pid.
  ASSERT_TRUE(waitStored("SELECT verb FROM lrs_statements", "initialized"));
  // zept's page processes, and theirs alone: other tests run beside this.
  RunCommand(
      "kids() { for c in $(pgrep -P $1); do echo $c; kids $c; done; }; "
      "for p in $(kids " +
      std::to_string(running()) +
      "); do tr '\\0' ' ' </proc/$p/cmdline | grep -q WebKitWebProcess "
      "&& kill -9 $p; done");
  ASSERT_TRUE(WaitForText(output(), "The page's process ended"));
  for (int waited = 0; waited < 10000 && !RunCommand(shown).empty();
       waited += 200)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(RunCommand(shown).empty()) << Slurp(output());
  EXPECT_EQ(waitExit(200), -1) << Slurp(output());
  signal(SIGTERM);
  EXPECT_EQ(waitExit(), 0) << Slurp(output());
}

// A Tin Can package of one activity starts it at once; its bookmark, kept
// in the State API, is read in the next session after zept was closed; a
// statement that is not valid is refused and goes nowhere.
TEST_F(PackageWindowTest, ATinCanPackageKeepsItsBookmark) {
  const fs::path package =
      writePackage("tin", {{"tincan.xml", R"(<?xml version="1.0"?>
<tincan xmlns="http://projecttincan.com/tincan.xsd"><activities>
<activity id="https://example.org/tin" type="http://adlnet.gov/expapi/activities/course">
<name lang="en-US">Tin</name><launch lang="en-US">index.html</launch></activity>
<activity id="https://example.org/tin/q1"><name>Q1</name></activity>
</activities></tincan>)"},
                           {"index.html", R"(<!doctype html><html><body><script>
var q = new URLSearchParams(location.search);
function req(method, url, body) {
  var x = new XMLHttpRequest();
  x.open(method, url, false);
  x.setRequestHeader("Authorization", q.get("auth"));
  x.setRequestHeader("X-Experience-API-Version", "1.0.3");
  x.setRequestHeader("Content-Type", "application/json");
  x.send(body || null);
  return x;
}
var ep = q.get("endpoint"), actor = JSON.parse(q.get("actor"));
var place = "activityId=" + encodeURIComponent(q.get("activity_id")) +
    "&agent=" + encodeURIComponent(q.get("actor")) +
    "&registration=" + q.get("registration");
var mark = req("GET", ep + "activities/state?stateId=bookmark&" + place);
var session = mark.status === 200 ? Number(mark.responseText) + 1 : 1;
req("PUT", ep + "activities/state?stateId=bookmark&" + place, String(session));
req("POST", ep + "statements", JSON.stringify({actor: actor,
    verb: {id: "http://adlnet.gov/expapi/verbs/experienced"},
    object: {id: q.get("activity_id")}, result: {response: "s" + session}}));
req("POST", ep + "statements", JSON.stringify({actor: actor,
    verb: {id: "not an IRI"}, object: {id: "x"}}));
</script></body></html>)"}});
  for (const char* session : {"1", "2"}) {
    SCOPED_TRACE(session);
    start("--learner ann " + package.string());
    // Whole rows: a store not yet made answers with an error naming "line 1".
    EXPECT_TRUE(waitStored(
        "SELECT 'bookmark=' || body FROM lrs_documents WHERE id='bookmark'",
        "bookmark=" + std::string(session) + "\n"));
    EXPECT_TRUE(waitStored("SELECT 'kept=' || count(*) FROM lrs_statements",
                           "kept=" + std::string(session) + "\n"));
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
  }
  EXPECT_EQ(storedValues("SELECT group_concat(json, ' ') FROM lrs_statements")
                .find("not an IRI"),
            std::string::npos);
  EXPECT_EQ(storedValues("SELECT count(*) FROM statements"), "2\n");
  const std::string shown = results(package);
  EXPECT_NE(shown.find(R"("statements": 2,
      "bookmark": true)"),
            std::string::npos)
      << shown;
}

// zept's own words come in the learner's language, from a locale that need
// not be installed (LANGUAGE with C.UTF-8, as gettext reads it): the
// learners, the menu and the controls around a SCO; and the SCO's page is
// told that language.
TEST_F(PackageWindowTest, TheScreensSpeakTheLearnersLanguage) {
  const std::map<std::string, std::string> files = {
      {"imsmanifest.xml",
       Manifest("Cours", {{"SCO1", "Un", "sco1/index.html", ""}})},
      {"sco1/index.html", std::string(kScoHead) + R"(</head><body><script>
A.LMSInitialize("");
report(navigator.language + "|" + navigator.languages.join(","));
</script><p>Un</p></body></html>)"}};
  const fs::path package = writePackage("langue", files);
  const std::string french = listenToScreens() + "LANGUAGE=fr LC_ALL=C.UTF-8 ";
  // The window's title names the screen or the item, then the course.
  const struct {
    const char* arguments;
    std::vector<std::string> shown;
    const char* title;
  } screens[] = {
      {"",
       {"Qui suit le cours ?", "Nouvel apprenant", "Commencer"},
       "Qui suit le cours [?] — Cours"},
      {"--learner Ann ",
       {"Continuer", "Résultats en PDF", "Changer d'apprenant", "Quitter",
        "Élément", "État", "Pas commencé"},
       "Menu — Cours"},
      {"--learner Ann --item SCO1 ",
       {"Précédent", "Suivant", "Menu"},
       "Un — Cours"},
  };
  for (const auto& screen : screens) {
    SCOPED_TRACE(screen.arguments);
    start(screen.arguments + package.string(), french);
    const std::string text = screenText(screen.shown);
    for (const std::string& part : screen.shown)
      EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
    EXPECT_EQ(text.find("Learner"), std::string::npos) << text;
    const std::string titled = std::string("xdotool search --onlyvisible "
                                           "--name '^") +
                               screen.title + "$'";
    EXPECT_TRUE(PumpUntil([&] { return !RunCommand(titled).empty(); }, 10000))
        << RunCommand("xdotool search --onlyvisible --name . getwindowname "
                      "%@");
    if (screen.shown.front() == "Précédent") {
      EXPECT_TRUE(waitResults(package, "fr|fr"));
    }
    signal(SIGTERM);
    EXPECT_EQ(waitExit(), 0) << Slurp(output());
  }
}
