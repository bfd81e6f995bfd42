#include "app/conformance_window.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>

#include "app/test_channel_line.h"
#include "util/utf8.h"

extern char** environ;

namespace zept {

const char kTestScoPage[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Test SCO</title>
<script>
// Asks the harness, through zept's test channel, for each call to make on
// the API, and answers with its value and the error code after it.
(function () {
  function find(w) {
    for (var n = 0; w && n < 16; n++) {
      try { if (w.API_1484_11) return w.API_1484_11; } catch (e) {}
      if (w.parent === w) break;
      w = w.parent;
    }
    return null;
  }
  var api = find(window) || (window.opener ? find(window.opener) : null);
  var onUnload = [];
  function make(c) {
    if (!api || typeof api[c[0]] !== "function") return ["", "no API"];
    var value = String(api[c[0]].apply(api, c.slice(1)));
    return [value, String(api.GetLastError())];
  }
  window.addEventListener("unload", function () {
    for (var i = 0; i < onUnload.length; i++) make(onUnload[i]);
  });
  // The result of a call that may end the SCO's page (Terminate, and what
  // the page's leaving follows) goes as a keepalive request, which outlives
  // the page; the others as the test SCOs send them.
  function ask(list, keep) {
    if (keep) {
      fetch("/test", {method: "POST", body: JSON.stringify(list),
                      keepalive: true})
          .then(function (r) { return r.text(); })
          .then(answered, function () {});
      return;
    }
    var x = new XMLHttpRequest();
    x.open("POST", "/test", true);
    x.onload = function () { answered(x.responseText); };
    x.send(JSON.stringify(list));
  }
  function answered(text) {
    var c = null;
    try { c = JSON.parse(text); } catch (e) {}
    if (!c) return;
    if (c[0] === "call") {
      var r = make(c.slice(1));
      ask(["result", r[0], r[1]], c[1] === "Terminate" || c[1] === "LMSFinish");
    } else if (c[0] === "stop") {
      onUnload = c[1] || [];
    }
  }
  ask(["ready", location.href, api ? "api" : ""]);
})();
</script></head><body><p>Test SCO</p></body></html>
)";

namespace {

namespace fs = std::filesystem;
using namespace scorm2004;
using namespace scorm2004::conformance;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The value of attribute name in the tag's text ("" when absent).
std::string Attribute(const std::string& tag, const std::string& name) {
  for (std::size_t at = tag.find(name); at != std::string::npos;
       at = tag.find(name, at + 1)) {
    if (at == 0 || !std::isspace(static_cast<unsigned char>(tag[at - 1])))
      continue;
    std::size_t eq = at + name.size();
    while (eq < tag.size() && std::isspace(static_cast<unsigned char>(tag[eq])))
      ++eq;
    if (eq >= tag.size() || tag[eq] != '=') continue;
    const std::size_t open = tag.find_first_of("\"'", eq);
    if (open == std::string::npos) return "";
    const std::size_t close = tag.find(tag[open], open + 1);
    return tag.substr(open + 1, close - open - 1);
  }
  return "";
}

// Every file the manifest lists (xml:base applied), without its query.
std::set<std::string> ListedFiles(const std::string& manifest) {
  std::set<std::string> files;
  std::string manifestBase, resourcesBase, resourceBase;
  for (std::size_t at = manifest.find('<'); at != std::string::npos;
       at = manifest.find('<', at + 1)) {
    const std::size_t end = manifest.find('>', at);
    if (end == std::string::npos) break;
    const std::string tag = manifest.substr(at + 1, end - at - 1);
    std::string name = tag.substr(0, tag.find_first_of(" \t\r\n/"));
    if (const std::size_t colon = name.find(':'); colon != std::string::npos)
      name = name.substr(colon + 1);
    if (tag.starts_with("/")) {
      if (tag.find("resource") != std::string::npos) resourceBase.clear();
      continue;
    }
    const std::string base = Attribute(tag, "xml:base");
    if (name == "manifest" && manifestBase.empty()) manifestBase = base;
    if (name == "resources") resourcesBase = base;
    if (name == "resource") resourceBase = base;
    if (name != "resource" && name != "file") continue;
    std::string href = Attribute(tag, "href");
    href = href.substr(0, href.find_first_of("?#"));
    if (href.empty() || href.find("://") != std::string::npos) continue;
    files.insert(fs::path(manifestBase + resourcesBase + resourceBase + href)
                     .lexically_normal()
                     .string());
  }
  return files;
}

bool IsPage(const std::string& path) {
  const std::string ext = fs::path(path).extension().string();
  return ext == ".htm" || ext == ".html";
}

void LaunchPages(const Activity& a, std::set<std::string>& pages) {
  if (!a.launch.empty())
    pages.insert(fs::path(a.launch.substr(0, a.launch.find_first_of("?#")))
                     .lexically_normal()
                     .string());
  for (const Activity& child : a.children) LaunchPages(child, pages);
}

const Activity* FindActivity(const Activity& a, const std::string& id) {
  if (a.identifier == id) return &a;
  for (const Activity& child : a.children)
    if (const Activity* found = FindActivity(child, id)) return found;
  return nullptr;
}

// What the suite's pages that leave Terminate to their unloading do then.
std::string UnloadCalls(const std::string& url) {
  std::string page = url.substr(0, url.find_first_of("?#"));
  page = page.substr(page.rfind('/') + 1);
  const auto request = [](const char* value) {
    return "[[\"SetValue\",\"adl.nav.request\"," + JsonString(value) +
           "],[\"Terminate\",\"\"]]";
  };
  if (page.starts_with("SequencingTestSingleDoTerminate"))
    return "[[\"Terminate\",\"\"]]";
  if (page.starts_with("tarAct4OnUnload"))
    return request("{target=activity_4}choice");
  if (page.starts_with("exitAllOnUnload")) return request("exitAll");
  if (page.starts_with("suspendAllOnUnload")) return request("suspendAll");
  return "[]";
}

class Window : public Driver {
 public:
  explicit Window(WindowDriverOptions options) : options_(std::move(options)) {
    char pattern[] = "/tmp/zept-window-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("no temporary folder");
    work_ = pattern;
    if (const char* keep = std::getenv("ZEPT_CONFORMANCE_KEEP"); keep && *keep)
      keep_.open(work_ / "channel.log");
  }

  ~Window() override {
    try {
      close();
    } catch (const std::exception&) {
    }
    // Kept on request, with zept's journal (zept.log), to see what it did.
    if (const char* keep = std::getenv("ZEPT_CONFORMANCE_KEEP");
        keep && *keep) {
      std::fprintf(stderr, "zept-conformance: kept %s\n", work_.c_str());
      return;
    }
    std::error_code ec;
    fs::remove_all(work_, ec);
  }

  // The learner's progress in every package starts afresh; what the
  // learner keeps global to the system stays while the driver lives.
  void newLearner(const std::string& learnerId) override {
    close();
    learner_ = learnerId;
    fs::path& home = homes_[learnerId];
    if (home.empty()) {
      home = work_ / ("learner-" + std::to_string(homes_.size()));
      fs::create_directories(home / "data");
      fs::create_directories(home / "config");
    } else {
      std::error_code ec;
      std::vector<fs::path> stale;
      for (const auto& e : fs::recursive_directory_iterator(home / "data", ec))
        if (e.is_regular_file() &&
            !e.path().filename().string().starts_with("globals.sqlite"))
          stale.push_back(e.path());
      for (const fs::path& file : stale) fs::remove(file, ec);
    }
    home_ = home;
  }

  Shown open(const std::string& name, const Package2004& package) override {
    close();
    package_ = &package;
    launch(copy(name, package));
    const std::vector<std::string> first = pageEvent(options_.startMs);
    // A course entered by choice only that has one activity starts it.
    if (first[0] == "delivered") return shownBy(first);
    if (first[0] != "menu")
      throw std::runtime_error("zept showed " + first[0] + " at its start");
    state();
    if (begin_ != "start" && begin_ != "resumeAll") return {};
    if (!beginEnabled_ && begin_ != "start")
      return Refusal("the menu offers no " + begin_);
    Shown shown = beginEnabled_ ? command({"press", "start"})
                                : Refusal("the menu offers no start");
    if (!shown.id.empty() || begin_ != "start") return shown;
    // A course that cannot start by flow but offers one activity only
    // starts with it, as the headless runner does.
    const Controls c = state();
    const TocEntry* only = nullptr;
    int choosable = 0;
    for (std::size_t i = 1; i < c.toc.size(); ++i)
      if (c.toc[i].selectable) ++choosable, only = &c.toc[i];
    if (choosable != 1 || !leaves_.count(only->title)) return shown;
    return trigger(UiEvent::kChoice, only->title);
  }

  std::string call(const std::string& function,
                   const std::vector<std::string>& arguments) override {
    if (!running()) return "false";
    // The test SCO reads the error code after every call.
    if (function == "GetLastError" && lastError_) {
      const std::string error = *lastError_;
      lastError_.reset();
      return error;
    }
    lastError_.reset();
    if (!scoWaiting_) scoEvent();
    std::string list = "[\"call\"," + JsonString(function);
    for (const std::string& a : arguments) list += "," + JsonString(a);
    send({"sco", list + "]"});
    scoWaiting_ = false;
    const std::vector<std::string> got = scoEvent();
    if (got.size() < 4 || got[1] != "result")
      throw std::runtime_error("the test SCO's page went away during " +
                               function);
    lastError_ = got[3];
    return got[2];
  }

  Shown afterTerminate() override {
    if (!running()) return {};
    return outcome();
  }

  Shown trigger(UiEvent event, const std::string& title) override {
    if (!running()) return Refusal("zept is closed");
    release();
    switch (event) {
      case UiEvent::kContinue:
        return command({"press", "continue"});
      case UiEvent::kPrevious:
        return command({"press", "previous"});
      case UiEvent::kExitAll:
        return command({"press", "exitAll"});
      case UiEvent::kSuspendAll:
        return command({"press", "suspendAll"});
      case UiEvent::kChoice:
        break;
    }
    return command({"choice", title});
  }

  Controls controls() override { return running() ? state() : Controls{}; }

  void close() override {
    if (pid_ <= 0) return;
    if (channel_ >= 0) {
      try {
        release();
        send({"quit"});
      } catch (const std::exception&) {
      }
    }
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(options_.stepMs);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      ::usleep(20000);
    }
    if (keep_) keep_ << stamp() << "- ended\n";
    pid_ = -1;
    if (channel_ >= 0) ::close(channel_);
    channel_ = -1;
    buffer_.clear();
    queued_.clear();
    scoWaiting_ = false;
    lastError_.reset();
  }

 private:
  static Shown Refusal(std::string why) {
    Shown out;
    out.refused = std::move(why);
    return out;
  }

  bool running() const { return pid_ > 0 && channel_ >= 0; }

  // The package's copy: its manifest, the test SCO at every page, an empty
  // file for every other file listed.
  fs::path copy(const std::string& name, const Package2004& package) {
    const fs::path to = work_ / "packages" / name;
    if (fs::exists(to / "imsmanifest.xml")) return to;
    const std::string manifest =
        ReadAll(fs::path(options_.packageFolder(name)) / "imsmanifest.xml");
    if (manifest.empty())
      throw std::runtime_error("no manifest for package " + name);
    std::set<std::string> pages;
    LaunchPages(package.root, pages);
    for (const std::string& file : ListedFiles(manifest))
      if (IsPage(file)) pages.insert(file);
    for (const std::string& file : ListedFiles(manifest))
      if (!pages.count(file) && !file.starts_with(".."))
        WriteAll(to / file, "");
    for (const std::string& page : pages)
      if (!page.starts_with("..")) WriteAll(to / page, kTestScoPage);
    WriteAll(to / "imsmanifest.xml", manifest);
    return to;
  }

  void launch(const fs::path& package) {
    const fs::path socketPath = work_ / "channel";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.string().size() >= sizeof address.sun_path)
      throw std::runtime_error("the channel's path is too long");
    std::strcpy(address.sun_path, socketPath.c_str());
    ::unlink(socketPath.c_str());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address),
               sizeof address) ||
        ::listen(listener, 1)) {
      if (listener >= 0) ::close(listener);
      throw std::runtime_error("cannot listen on " + socketPath.string());
    }
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      for (const char* drop : {"DISPLAY=", "XDG_DATA_HOME=", "XDG_CONFIG_HOME=",
                               "ZEPT_TEST_CHANNEL=", "WAYLAND_DISPLAY=",
                               "NO_AT_BRIDGE=", "DBUS_SESSION_BUS_ADDRESS="})
        if (entry.starts_with(drop)) goto skip;
      env.push_back(entry);
    skip:;
    }
    env.push_back("DISPLAY=" + options_.display);
    env.push_back("XDG_DATA_HOME=" + (home_ / "data").string());
    env.push_back("XDG_CONFIG_HOME=" + (home_ / "config").string());
    env.push_back("ZEPT_TEST_CHANNEL=" + socketPath.string());
    // Nothing of the tester's desktop session is reached.
    env.push_back("NO_AT_BRIDGE=1");
    env.push_back("DBUS_SESSION_BUS_ADDRESS=disabled:");
    // Strict, as the headless driver: the suite checks the data model's
    // limits, which the lenient runtime lets content pass.
    std::vector<std::string> args{options_.zept, "--strict", "--learner",
                                  learner_, package.string()};
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string log = (work_ / "zept.log").string();
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
      }
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    if (pid_ < 0) {
      ::close(listener);
      throw std::runtime_error("cannot start zept");
    }
    pollfd waiting{listener, POLLIN, 0};
    int exited = 0;
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(options_.startMs);
    while (std::chrono::steady_clock::now() < until) {
      if (::poll(&waiting, 1, 100) > 0) {
        channel_ = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        break;
      }
      if (::waitpid(pid_, &exited, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
    }
    ::close(listener);
    if (channel_ >= 0) return;
    // The work folder goes with the driver, so the journal's end is said
    // here: an early exit is otherwise a mystery after the run.
    std::ifstream in(log);
    std::string journal((std::istreambuf_iterator<char>(in)), {});
    if (journal.size() > 600)
      journal = "..." + journal.substr(journal.size() - 600);
    throw std::runtime_error(
        std::string("zept did not open its test channel") +
        (pid_ < 0
             ? " (it ended with status " +
                   std::to_string(WIFEXITED(exited) ? WEXITSTATUS(exited)
                                                    : 128 + WTERMSIG(exited)) +
                   ")"
             : "") +
        "; its journal: " + journal);
  }

  void send(const std::vector<std::string>& fields) {
    const std::string line = EncodeTestLine(fields);
    if (keep_) keep_ << stamp() << "> " << line;
    for (std::size_t at = 0; at < line.size();) {
      const ssize_t n =
          ::send(channel_, line.data() + at, line.size() - at, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("zept has gone");
      at += static_cast<std::size_t>(n);
    }
  }

  // The next line zept sends; throws when none comes within ms.
  std::vector<std::string> next(int ms) {
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        if (keep_) keep_ << stamp() << "< " << buffer_.substr(0, end + 1);
        std::vector<std::string> fields =
            DecodeTestLine(buffer_.substr(0, end));
        buffer_.erase(0, end + 1);
        return fields;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      pollfd readable{channel_, POLLIN, 0};
      if (left.count() <= 0 ||
          ::poll(&readable, 1, static_cast<int>(left.count())) == 0)
        throw std::runtime_error("zept did nothing within " +
                                 std::to_string(ms / 1000) + " s");
      char chunk[65536];
      const ssize_t n = ::read(channel_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("zept has gone");
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // What the screens show next; a test SCO asking is noted on the way.
  std::vector<std::string> pageEvent(int ms) {
    for (;;) {
      std::vector<std::string> got;
      if (!queued_.empty()) {
        got = std::move(queued_.front());
        queued_.pop_front();
      } else {
        got = next(ms);
      }
      if (got[0] == "sco")
        scoWaiting_ = true;
      else if (got[0] != "state")
        return got;
    }
  }

  // The test SCO's next request; what the screens show meanwhile waits.
  std::vector<std::string> scoEvent() {
    for (;;) {
      std::vector<std::string> got = next(options_.stepMs);
      if (got[0] == "sco") {
        scoWaiting_ = true;
        return got;
      }
      if (got[0] == "delivered" || got[0] == "menu") scoWaiting_ = false;
      queued_.push_back(std::move(got));
    }
  }

  // The test SCO waiting on its next call is let go, with what it does
  // when its page is left.
  void release() {
    if (!scoWaiting_) return;
    send({"sco", "[\"stop\"," + UnloadCalls(url_) + "]"});
    scoWaiting_ = false;
  }

  Shown command(const std::vector<std::string>& fields) {
    send(fields);
    return outcome();
  }

  // What the window shows after a navigation.
  Shown outcome() { return shownBy(pageEvent(options_.stepMs)); }

  Shown shownBy(const std::vector<std::string>& got) {
    lastError_.reset();
    Shown out;
    const auto field = [&got](std::size_t i) {
      return i < got.size() ? got[i] : std::string();
    };
    if (got[0] == "delivered") {
      scoWaiting_ = false;
      out.id = field(1);
      out.title = field(2);
      out.url = url_ = field(3);
      const Activity* a = FindActivity(package_->root, out.id);
      out.sco = a && a->isSco;
    } else if (got[0] == "menu") {
      scoWaiting_ = false;
      out.ended = field(2) == "ended";
      if (field(3) == "refused") out.refused = field(1);
    } else if (got[0] == "refused") {
      out.refused = field(1);
    }
    return out;
  }

  Controls state() {
    send({"state"});
    std::vector<std::string> got;
    for (;;) {
      got = next(options_.stepMs);
      if (got[0] == "state") break;
      if (got[0] == "sco")
        scoWaiting_ = true;
      else
        queued_.push_back(got);
    }
    Controls c;
    if (got.size() < 5) throw std::runtime_error("zept's state is unreadable");
    c.continueEnabled = got[1] == "true";
    c.previousEnabled = got[2] == "true";
    begin_ = got[3];
    beginEnabled_ = got[4] == "true";
    for (std::size_t i = 5; i + 2 < got.size(); i += 3) {
      c.toc.push_back({got[i], got[i + 1] == "true"});
      if (got[i + 2] == "true") leaves_.insert(got[i]);
    }
    return c;
  }

  WindowDriverOptions options_;
  fs::path work_;
  fs::path home_;
  std::map<std::string, fs::path> homes_;  // by learner
  std::string learner_;
  const Package2004* package_ = nullptr;
  pid_t pid_ = -1;
  int channel_ = -1;
  std::string buffer_;
  std::deque<std::vector<std::string>> queued_;
  bool scoWaiting_ = false;
  std::optional<std::string> lastError_;
  // Milliseconds since the driver began, so a kept log shows where time goes.
  std::string stamp() const {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - began_);
    return std::to_string(ms.count()) + " ";
  }

  std::ofstream keep_;  // the channel's lines, kept on request
  std::chrono::steady_clock::time_point began_ =
      std::chrono::steady_clock::now();
  std::string url_;
  std::string begin_;
  bool beginEnabled_ = false;
  std::set<std::string> leaves_;
};

}  // namespace

std::unique_ptr<Driver> WindowDriver(WindowDriverOptions options) {
  return std::make_unique<Window>(std::move(options));
}

}  // namespace zept
