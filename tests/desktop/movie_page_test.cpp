// The movie page with real movies made by the SWF writer, played by the
// Flash emulator in a real window (under Xvfb in CI).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "desktop/display.h"
#include "desktop/page.h"
#include "desktop/ruffle_host.h"
#include "platform/codepage.h"
#include "swf/avm1.h"
#include "swf/script.h"
#include "swf/swf.h"

namespace zept::desktop {
namespace {

namespace fs = std::filesystem;
using swf::Assembler;

class MoviePageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testing::EnsureDisplay().empty()) return;
    folder_ = new fs::path(fs::temp_directory_path() /
                           ("zept-page-" + std::to_string(getpid())));
    fs::create_directories(*folder_);
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window_), 400, 300);
    page_ = new MoviePage(ZEPT_RUFFLE_DIR, {folder_->string()});
    gtk_container_add(GTK_CONTAINER(window_), page_->widget());
    gtk_widget_show_all(window_);
    loaded_ = page_->load(60000);
  }
  static void TearDownTestSuite() {
    delete page_;
    page_ = nullptr;
    if (window_) gtk_widget_destroy(window_);
    if (folder_) fs::remove_all(*folder_);
    delete folder_;
  }
  void SetUp() override {
    ZEPT_NEED_DISPLAY();
    ASSERT_TRUE(loaded_) << "the movie page did not load";
  }

  static std::string write(const std::string& name,
                           const swf::MovieWriter& movie) {
    const fs::path path = *folder_ / name;
    std::ofstream(path, std::ios::binary) << movie.bytes(true);
    return path.string();
  }

  // Runs the main loop until done() or the time is up.
  static bool runUntil(const std::function<bool()>& done, int ms = 15000) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end) {
      if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    }
    return done();
  }

  // Runs script in the page, as a script a movie got to run there would;
  // its value as text (the error's message when it throws).
  static std::string evaluate(const std::string& script) {
    auto result = std::make_shared<std::optional<std::string>>();
    webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(page_->widget()), script.c_str(), -1, nullptr, nullptr,
        nullptr,
        [](GObject* view, GAsyncResult* done, gpointer data) {
          std::unique_ptr<std::shared_ptr<std::optional<std::string>>> result(
              static_cast<std::shared_ptr<std::optional<std::string>>*>(data));
          GError* error = nullptr;
          JSCValue* value = webkit_web_view_evaluate_javascript_finish(
              WEBKIT_WEB_VIEW(view), done, &error);
          char* text = value ? jsc_value_to_string(value) : nullptr;
          **result = text ? text : error->message;
          g_free(text);
          if (value) g_object_unref(value);
          if (error) g_error_free(error);
        },
        new std::shared_ptr<std::optional<std::string>>(result));
    runUntil([&] { return result->has_value(); });
    return result->value_or("");
  }

  static inline GtkWidget* window_ = nullptr;
  static inline MoviePage* page_ = nullptr;
  static inline fs::path* folder_ = nullptr;
  static inline bool loaded_ = false;
};

// Message numbers the page's own counting cannot give (a gap, one used
// already, one too large) are put right with a line each, and the messages
// after them still arrive.
TEST_F(MoviePageTest, MessagesOutOfOrderNeverStallTheOnesAfter) {
  // A page of its own, whose messages are numbered from 1.
  MoviePage page(ZEPT_RUFFLE_DIR, {folder_->string()});
  page.beginLoad();
  ASSERT_TRUE(page.waitReady(60000));
  std::vector<std::string> seen, warnings;
  page.onMessage = [&](const std::vector<std::string>& message) {
    seen.push_back(message.size() > 3 ? message[3] : "");
    return std::string();
  };
  page.onWarning = [&](const std::string& line) { warnings.push_back(line); };
  const auto send = [&](const std::string& messages) {
    const std::string script =
        "(() => { const send = (n, c) => { const x = new XMLHttpRequest();"
        "  x.open('POST', 'zept://z/call', false);"
        "  x.send(JSON.stringify(['fscommand', String(n), 't', c, '']));"
        "};" +
        messages + "})();";
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(page.widget()),
                                        script.c_str(), -1, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  };
  send(
      "send(1, 'first'); send(3, 'after a gap'); send(1, 'a number used');"
      "send('99999999999999999999999', 'too large'); send(4, 'next');");
  EXPECT_TRUE(runUntil([&] { return seen.size() >= 3; }, 10000));
  // 2 comes once the others have been handled: late, but not lost.
  send("send(2, 'late');");
  EXPECT_TRUE(runUntil([&] { return seen.size() >= 4; }, 10000));
  EXPECT_EQ(seen,
            (std::vector<std::string>{"first", "after a gap", "next", "late"}));
  ASSERT_EQ(warnings.size(), 4u) << ::testing::PrintToString(warnings);
  EXPECT_NE(warnings[0].find("1 is out of order"), std::string::npos);
  EXPECT_NE(warnings[1].find("99999999999999999999999 is out of order"),
            std::string::npos);
  EXPECT_NE(warnings[2].find("2 to 2 have not come"), std::string::npos);
  EXPECT_NE(warnings[3].find("2 came late"), std::string::npos);
}

TEST_F(MoviePageTest, FsCommandsAndCallsArriveInOrderAndCallsAreAnswered) {
  Assembler a;
  // API = new Object(); API._sCommand = "";
  a.pushString("API").pushInt(0).pushString("Object").newObject().setVariable();
  a.pushString("API")
      .getVariable()
      .pushString("_sCommand")
      .pushString("")
      .setMember();
  a.fscommand("sendAPILoaded", "first");
  a.pushString("answer");
  a.pushString("cmi.core.lesson_status;completed");
  a.callExternal("LMSSetValue", 1);
  a.setVariable();
  a.pushString("answer").getVariable().pushString("seen").swap().fscommand(
      "dummy", "");
  a.stop();
  swf::MovieWriter movie(320, 240, 24, {10, 20, 30});
  movie.doAction(a);
  movie.showFrame();
  const std::string path = write("order.swf", movie);

  RuffleHostFactory factory(*page_);
  std::unique_ptr<MovieHost> host = factory.create();
  host->Width = 400;
  host->Height = 300;
  std::vector<std::string> seen;
  host->OnFSCommand = [&](MovieHost&, const WideString& c,
                          const WideString& a) {
    seen.push_back("fs " + WideToUtf8(c) + " " + WideToUtf8(a));
  };
  host->OnFlashCall = [&](MovieHost& sender, const WideString& request) {
    seen.push_back("call " + WideToUtf8(request));
    sender.SetReturnValue(u"<string>1</string>");
  };
  host->setMovie(Utf8ToWide(path) +
                 u"?sParam=x&latin=caf%E9&utf=caf%C3%A9&raw=a b#c&plus=a+b");
  ASSERT_TRUE(runUntil([&] { return seen.size() >= 3; })) << seen.size();
  EXPECT_EQ(seen[0], "fs sendAPILoaded first");
  EXPECT_EQ(
      seen[1],
      "call <invoke name=\"LMSSetValue\" returntype=\"xml\"><arguments>"
      "<string>cmi.core.lesson_status;completed</string></arguments></invoke>");
  ASSERT_TRUE(runUntil([&] { return host->ReadyState() == 4; }));
  EXPECT_EQ(host->GetVariable(u"answer"), u"1");
  EXPECT_EQ(host->GetVariable(u"sParam"), u"x");
  // Start parameters as the movie reads them, whichever code page the
  // shell encoded them in, and whatever the learner typed.
  EXPECT_EQ(host->GetVariable(u"latin"), u"caf\u00e9");
  EXPECT_EQ(host->GetVariable(u"utf"), u"caf\u00e9");
  EXPECT_EQ(host->GetVariable(u"raw"), u"a b#c");
  EXPECT_EQ(host->GetVariable(u"plus"), u"a b");
  host->SetVariable(u"API._sCommand", u"onUsersCompleteEvent;<users/>");
  EXPECT_EQ(host->GetVariable(u"API._sCommand"),
            u"onUsersCompleteEvent;<users/>");
  EXPECT_EQ(host->GetVariable(u"nothing"), u"");
  host->SetVariable(u"API._sCommand", u"");
  EXPECT_EQ(host->GetVariable(u"API._sCommand"), u"");
}

// The menu movie's start: an empty event queue API._sCommand.
void DeclareQueue(Assembler& a) {
  a.pushString("API").pushInt(0).pushString("Object").newObject().setVariable();
  a.pushString("API")
      .getVariable()
      .pushString("_sCommand")
      .pushString("")
      .setMember();
}

// Appends an event to the movie's queue, as the shell does.
void Tell(MovieHost& movie, const WideString& entry) {
  const WideString queue = movie.GetVariable(u"API._sCommand");
  movie.SetVariable(u"API._sCommand",
                    queue.empty() ? entry : queue + u"|" + entry);
}

TEST_F(MoviePageTest, EventsQueuedWhileTheMovieWaitsInItsOwnCallReachIt) {
  // The movie calls GetUserList, then reports its queue: the handler has
  // read and written the queue of the very movie that is blocked in the call.
  Assembler a;
  DeclareQueue(a);
  a.callExternal("GetUserList", 0).pop();
  a.callExternal("GetUserList", 0).pop();
  a.pushString("API").getVariable().pushString("_sCommand").getMember();
  a.pushString("queue").swap().setVariable();
  a.stop();
  swf::MovieWriter movie(200, 100, 24, {255, 255, 255});
  movie.doAction(a);
  movie.showFrame();
  const std::string path = write("reentry.swf", movie);

  RuffleHostFactory factory(*page_);
  std::unique_ptr<MovieHost> host = factory.create();
  int calls = 0;
  host->OnFlashCall = [&](MovieHost& sender, const WideString&) {
    Tell(sender, u"onUsersCompleteEvent;<users/>");
    sender.SetReturnValue(u"<string>1</string>");
    ++calls;
  };
  host->setMovie(Utf8ToWide(path));
  ASSERT_TRUE(runUntil([&] { return calls == 2 && host->ReadyState() == 4; }));
  EXPECT_EQ(host->GetVariable(u"queue"),
            u"onUsersCompleteEvent;<users/>|onUsersCompleteEvent;<users/>");
}

TEST_F(MoviePageTest, AnEventSentForAnFsCommandIsReadByTheMovieOnALaterFrame) {
  Assembler start;
  DeclareQueue(start);
  start.fscommand("GetUserList", "");
  // Frame 2 reports the queue once it holds something; frame 3 goes back.
  Assembler poll;
  const Assembler::Label empty = poll.newLabel();
  poll.pushString("API")
      .getVariable()
      .pushString("_sCommand")
      .getMember()
      .pushString("")
      .equals2()
      .ifTrue(empty);
  poll.pushString("FSCommand:got")
      .pushString("API")
      .getVariable()
      .pushString("_sCommand")
      .getMember()
      .getUrl2(0, false, false);
  poll.stop();
  poll.bind(empty);
  Assembler loop;
  loop.gotoFrame(1).play();
  swf::MovieWriter movie(200, 100, 30, {255, 255, 255});
  movie.doAction(start);
  movie.showFrame();
  movie.doAction(poll);
  movie.showFrame();
  movie.doAction(loop);
  movie.showFrame();
  const std::string path = write("poll.swf", movie);

  RuffleHostFactory factory(*page_);
  std::unique_ptr<MovieHost> host = factory.create();
  std::vector<std::string> commands;
  host->OnFSCommand = [&](MovieHost& sender, const WideString& c,
                          const WideString& a) {
    commands.push_back(WideToUtf8(c) + ":" + WideToUtf8(a));
    if (c == u"GetUserList") Tell(sender, u"onUsersCompleteEvent;<users/>");
  };
  host->setMovie(Utf8ToWide(path));
  ASSERT_TRUE(runUntil([&] { return commands.size() >= 2; }));
  EXPECT_EQ(commands[0], "GetUserList:");
  EXPECT_EQ(commands[1], "got:onUsersCompleteEvent;<users/>");
}

TEST_F(MoviePageTest, TheFrameIsTheRenderedMovieAtTheControlSize) {
  swf::MovieWriter movie(200, 100, 24, {0, 0, 255});
  const std::uint16_t red =
      movie.defineRectangle({0, 0, 100, 100}, {255, 0, 0});
  movie.placeObject(red, 1);
  movie.showFrame();
  const std::string path = write("frame.swf", movie);

  RuffleHostFactory factory(*page_);
  std::unique_ptr<MovieHost> host = factory.create();
  host->Visible = false;  // hidden players draw too
  host->Width = 200;
  host->Height = 100;
  host->setMovie(Utf8ToWide(path));
  ASSERT_TRUE(runUntil([&] { return host->ReadyState() == 4; }));
  // The emulator draws in a frame or a few, later on a busy machine.
  Bitmap frame;
  runUntil([&] {
    frame = host->GetFrameBitmap();
    return frame.width == 200 && frame.height == 100 &&
           (frame.pixels[50 * 200 + 50] & 0xFFFFFF) == 0xFF0000u;
  });
  ASSERT_EQ(frame.width, 200);
  ASSERT_EQ(frame.height, 100);
  EXPECT_EQ(frame.pixels[50 * 200 + 50] & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(frame.pixels[50 * 200 + 150] & 0xFFFFFF, 0x0000FFu);
}

// A TCP listener on a free loopback port that never answers: a request that
// leaves the page connects to it, one refused before it leaves never does.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 || ::bind(fd_, (sockaddr*)&address, size) != 0 ||
        ::listen(fd_, 64) != 0 ||
        ::getsockname(fd_, (sockaddr*)&address, &size) != 0)
      throw std::runtime_error("no loopback listener");
    url_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
  }
  ~Listener() { ::close(fd_); }
  std::string url(const std::string& path) const { return url_ + path; }
  int connections() {
    for (int fd; (fd = ::accept(fd_, nullptr, nullptr)) >= 0; ++connections_)
      ::close(fd);
    return connections_;
  }

 private:
  int fd_ = -1;
  int connections_ = 0;
  std::string url_;
};

// Each way out a movie has, tried by a movie of its own against a listener
// of its own; the movie then loads a file of its folder by a relative URL,
// calls the shell and reports.
TEST_F(MoviePageTest, NoMovieReachesTheNetworkAndEachStillCallsTheShell) {
  std::ofstream(*folder_ / "marker.txt") << "marker=1";
  // [url, target] and an ActionGetURL2 (no variables sent).
  const auto getUrl2 = [](const std::string& url, const char* target,
                          bool variables) {
    Assembler a;
    a.pushString(url).pushString(target).getUrl2(0, false, variables);
    return a;
  };
  const std::pair<const char*, std::function<Assembler(const Listener&)>>
      kAttempts[] = {
          {"loadVariablesNum",
           [&](const Listener& to) {
             return getUrl2(to.url("vars"), "_level0", true);
           }},
          {"loadMovieNum",
           [&](const Listener& to) {
             return getUrl2(to.url("movie.swf"), "_level7", false);
           }},
          {"getURL javascript:",
           [&](const Listener& to) {
             return getUrl2("javascript:fetch('" + to.url("fetch") +
                                "');new Image().src='" + to.url("image") + "'",
                            "", false);
           }},
          // The real ExternalInterface runs any script in the page.
          {"the bridge's ExternalInterface",
           [](const Listener& to) {
             return swf::CompileScript("_global.zeptEI.call('fetch', '" +
                                       to.url("ei") + "');");
           }},
      };
  std::vector<Listener> listeners(std::size(kAttempts));
  for (std::size_t i = 0; i < std::size(kAttempts); ++i) {
    SCOPED_TRACE(kAttempts[i].first);
    swf::MovieWriter movie(200, 100, 24, {255, 255, 255});
    movie.doAction(kAttempts[i].second(listeners[i]));
    movie.doAction(swf::CompileScript(R"(
      var marker = new LoadVars();
      marker.onLoad = function(ok) {
        var answer = flash.external.ExternalInterface.call("LMSSetValue", "x");
        fscommand("done", ok + " " + answer);
      };
      marker.load("marker.txt");
      stop();
    )"));
    movie.showFrame();
    RuffleHostFactory factory(*page_);
    std::unique_ptr<MovieHost> host = factory.create();
    std::vector<std::string> seen;
    host->OnFSCommand = [&](MovieHost&, const WideString& c,
                            const WideString& a) {
      seen.push_back(WideToUtf8(c) + " " + WideToUtf8(a));
    };
    host->OnFlashCall = [&](MovieHost& sender, const WideString& request) {
      seen.push_back(WideToUtf8(request));
      sender.SetReturnValue(u"<string>1</string>");
    };
    host->setMovie(Utf8ToWide(write("network.swf", movie)));
    EXPECT_TRUE(runUntil([&] { return seen.size() >= 2; }));
    EXPECT_EQ(listeners[i].connections(), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "<invoke name=\"LMSSetValue\" returntype=\"xml\">"
                        "<arguments><string>x</string></arguments></invoke>",
                        "done true 1"}));
  }
  for (Listener& late : listeners) EXPECT_EQ(late.connections(), 0);
}

// The same for a script in the page, should a movie ever get one to run
// there: each kind of request reports its failure (some only as a policy
// violation) and the listener sees nothing.
TEST_F(MoviePageTest, NoRequestOfAScriptInThePageReachesTheNetwork) {
  Listener listener;
  // U is the request's URL; yes() and no() report.
  const std::pair<const char*, const char*> kRequests[] = {
      {"fetch", "fetch(U).then(yes, no)"},
      {"xhr",
       "const x = new XMLHttpRequest(); x.onload = yes;"
       "x.onerror = no; x.open('GET', U); x.send()"},
      {"websocket",
       "const w = new WebSocket(U.replace('http', 'ws'));"
       "w.onopen = yes; w.onerror = no"},
      {"beacon", "navigator.sendBeacon(U, 'x')"},
      {"image",
       "const i = new Image(); i.onload = yes; i.onerror = no;"
       "i.src = U"},
      {"audio",
       "const a = new Audio(); a.oncanplay = yes; a.onerror = no;"
       "a.src = U"},
      {"frame",
       "const f = document.createElement('iframe'); f.src = U;"
       "document.body.append(f)"},
      {"worker",
       "const w = new Worker(URL.createObjectURL(new Blob(["
       "'fetch(\"' + U + '\").then(() => postMessage(1),"
       "() => postMessage(0))'])));"
       "w.onmessage = (m) => (m.data ? yes : no)()"},
  };
  // A frame's violation names the listener's origin alone.
  std::string script =
      "window.tried = {}; document.addEventListener("
      "'securitypolicyviolation', (e) => { tried[e.effectiveDirective == "
      "'frame-src' ? 'frame' : e.blockedURI.split('/').pop()] = 'refused'; });";
  std::string outcomes = "[", expected;
  for (const auto& [name, request] : kRequests) {
    const std::string report = "() => { tried['" + std::string(name) + "'] = ";
    script += std::string("((U, yes, no) => { try {") + request +
              "} catch (e) { no(); } })('" + listener.url(name) + "', " +
              report + "'reached'; }, " + report + "'refused'; });";
    outcomes += "'" + std::string(name) + "',";
    expected += std::string(name) + "=refused,";
  }
  evaluate(script);
  const std::string read = outcomes + "].map((k) => k + '=' + tried[k]) + ','";
  runUntil([&] {
    outcomes = evaluate(read);
    return listener.connections() > 0 || outcomes == expected;
  });
  EXPECT_EQ(outcomes, expected);
  EXPECT_EQ(listener.connections(), 0);
}

// A file of the course as the page gets it, whole or by one range as media
// elements ask: "STATUS CONTENT-RANGE BODY", or "refused".
std::string Fetch(const std::string& path, const std::string& range) {
  return "(() => { const x = new XMLHttpRequest(); x.open('GET', '" +
         MoviePage::FileUrl(path) + "', false); x.setRequestHeader('Range', '" +
         range + "'); try { x.send(); } catch (e) { return 'refused'; }" +
         "return x.status + ' ' + x.getResponseHeader('Content-Range') + ' ' +"
         "x.responseText; })()";
}

// A movie speaks for itself alone: the second of two movies tries to call
// the shell in the first one's name, and so does a script in the page.
TEST_F(MoviePageTest, NoMovieCallsTheShellInAnotherMoviesName) {
  swf::MovieWriter menu(200, 100, 24, {255, 255, 255});
  menu.doAction(swf::CompileScript("stop();"));
  menu.showFrame();
  swf::MovieWriter unit(200, 100, 24, {255, 255, 255});
  // The page's entry with the first movie's id, as the bridge once called
  // it, through a javascript: URL and the ExternalInterface it left about.
  Assembler javascript;
  javascript.pushString("javascript:zeptCall('1', 'SetLogin', 'evil')")
      .pushString("")
      .getUrl2(0, false, false);
  unit.doAction(javascript);
  unit.doAction(swf::CompileScript(R"(
    _global.zeptEI.call("zeptCall", "1", "SetLogin", "evil");
    // The bridge must not hand the real ExternalInterface over to functions
    // of the movie's own on its way.
    var apply = Function.prototype.apply;
    var unshift = Array.prototype.unshift;
    Function.prototype.apply = function(self, list) { _global.stolen = self; };
    Array.prototype.unshift = function() { _global.stolen = this; };
    var ei = flash.external.ExternalInterface;
    ei.call("probe");
    Function.prototype.apply = apply;
    Array.prototype.unshift = unshift;
    if (typeof _global.stolen.call == "function")
      _global.stolen.call("zeptCall", "1", "SetLogin", "evil");
    // Through its own bridge a movie names only itself.
    ei.call("zeptCall", "1", "SetLogin", "evil");
    fscommand("done", ei.call("LMSSetValue", "x"));
    stop();
  )"));
  unit.showFrame();

  RuffleHostFactory factory(*page_);
  std::vector<std::string> seen[2];
  std::unique_ptr<MovieHost> hosts[2] = {factory.create(), factory.create()};
  for (int i = 0; i < 2; ++i) {
    hosts[i]->OnFSCommand = [&seen, i](MovieHost&, const WideString& c,
                                       const WideString& a) {
      seen[i].push_back(WideToUtf8(c) + " " + WideToUtf8(a));
    };
    hosts[i]->OnFlashCall = [&seen, i](MovieHost& sender,
                                       const WideString& request) {
      const std::string text = WideToUtf8(request);
      seen[i].push_back(text.substr(0, text.find(" returntype")));
      sender.SetReturnValue(u"<string>1</string>");
    };
  }
  hosts[0]->setMovie(Utf8ToWide(write("menu.swf", menu)));
  ASSERT_TRUE(runUntil([&] { return hosts[0]->ReadyState() == 4; }));
  hosts[1]->setMovie(Utf8ToWide(write("unit.swf", unit)));
  ASSERT_TRUE(
      runUntil([&] { return !seen[1].empty() && seen[1].back() == "done 1"; }));
  // The page's own entries cannot be replaced, and take no made-up token.
  EXPECT_EQ(evaluate("try { window.zeptCall = window.zeptOp = null; } "
                     "catch (e) {} typeof zeptCall + ' ' + typeof zeptOp"),
            "function function");
  EXPECT_EQ(evaluate("String(zeptCall('1', ['SetLogin', 'evil']))"),
            "undefined");
  // Nor can a script read a token in a bridge movie the emulator has read.
  EXPECT_EQ(evaluate(Fetch((*folder_ / ".zept-bridge-1.swf").string(), "")),
            "refused");
  EXPECT_EQ(seen[0], std::vector<std::string>{});
  EXPECT_EQ(seen[1], (std::vector<std::string>{
                         "<invoke name=\"probe\"", "<invoke name=\"zeptCall\"",
                         "<invoke name=\"LMSSetValue\"", "done 1"}));
}

TEST_F(MoviePageTest, FilesAreServedWholeOrByTheOneRangeAsked) {
  const std::string digits = (*folder_ / "digits.txt").string();
  std::ofstream(digits) << "0123456789";
  const std::pair<const char*, const char*> kCases[] = {
      {"bytes=2-5", "206 bytes 2-5/10 2345"},
      {"bytes=7-", "206 bytes 7-9/10 789"},
      {"bytes=-3", "206 bytes 7-9/10 789"},
      {"bytes = 5-99999999999999999999", "206 bytes 5-9/10 56789"},
      {"bytes=10-", "416 bytes */10 "},
      // No range, several, or one the page cannot mean: the whole file.
      {"", "200 null 0123456789"},
      {"bytes=0-1,4-5", "200 null 0123456789"},
      {"bytes=5-2", "200 null 0123456789"},
  };
  for (const auto& [range, answer] : kCases)
    EXPECT_EQ(evaluate(Fetch(digits, range)), answer) << range;
  // Far into a file larger than anything read in one piece.
  const std::string big = (*folder_ / "big.txt").string();
  std::ofstream out(big);
  for (int i = 0; i < 300000; ++i) out << "0123456789";
  out.close();
  EXPECT_EQ(evaluate(Fetch(big, "bytes=2097151-2097160")),
            "206 bytes 2097151-2097160/3000000 1234567890");
}

// A movie file that is no regular file is named in the host's report (the
// journal and the trace log) and refused by the page at once: a FIFO or a
// folder is never read. A picture plays as itself.
TEST_F(MoviePageTest, WhatIsNoFileIsReportedAndRefused) {
  ASSERT_EQ(::mkfifo((*folder_ / "fifo.swf").c_str(), 0600), 0);
  fs::create_directories(*folder_ / "folder.swf");
  GdkPixbuf* red = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4, 2);
  gdk_pixbuf_fill(red, 0xFF0000FF);
  ASSERT_TRUE(gdk_pixbuf_save(red, (*folder_ / "red.png").c_str(), "png",
                              nullptr, nullptr));
  g_object_unref(red);
  const std::pair<const char*, const char*> kCases[] = {
      {"missing.swf", "No such file or directory"},
      {"fifo.swf", "not a regular file"},
      {"folder.swf", "not a regular file"},
      {"red.png", nullptr},
  };
  std::vector<std::string> reported;
  RuffleHostFactory factory(*page_, [&](const WideString& line) {
    reported.push_back(WideToUtf8(line));
  });
  for (const auto& [name, reason] : kCases) {
    SCOPED_TRACE(name);
    reported.clear();
    const std::string path = (*folder_ / name).string();
    std::unique_ptr<MovieHost> host = factory.create();
    host->Width = 8;
    host->Height = 4;
    host->setMovie(Utf8ToWide(path) + u"?a=1");
    if (reason) {
      EXPECT_EQ(reported, std::vector<std::string>{"cannot open movie '" +
                                                   path + "': " + reason});
      EXPECT_EQ(evaluate(Fetch(path, "")), "refused");
    } else {
      EXPECT_EQ(reported, std::vector<std::string>{});
      const Bitmap frame = host->GetFrameBitmap();
      ASSERT_EQ(frame.pixels.size(), 32u);
      EXPECT_EQ(frame.pixels[0] & 0xFFFFFF, 0xFF0000u);
    }
  }
}

}  // namespace
}  // namespace zept::desktop
