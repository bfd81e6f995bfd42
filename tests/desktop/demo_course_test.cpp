// The demo course's movies played by the Flash emulator in a real window
// on the tests' own X server: the pointer and the keyboard drive them as a
// learner would, the test plays the shell's part, answering through the event
// queue, and checks the commands the movies send and what they show.
//
// With ZEPT_SCREENSHOTS set to a folder, each test leaves PNG pictures of
// the screens it went through there.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#include "desktop/display.h"
#include "desktop/gobject.h"
#include "desktop/page.h"
#include "desktop/ruffle_host.h"
#include "platform/codepage.h"
#include "swf/script.h"
#include "swf/swf.h"

namespace zept::desktop {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1024, kHeight = 768;
// How long a state the test waits for may take, at most: what the movie
// does in a frame can take seconds on a machine busy with other work, and
// a movie's first frame waits for the emulator's code to compile (46 s was
// seen on a loaded 2-core machine). The waits end when the state comes.
constexpr int kWaitMs = 60000;
const fs::path kCourse = ZEPT_DEMO_COURSE;

// A users document as the shell writes it, and the trackings document of a
// learner who finished unit 1 and started unit 2.
const char* const kUsers =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<!-- Utilisateur du cdrom : demo-course-->\r\n"
    "<users cdrom_id=\"demo-course\">\r\n"
    "\t<user login=\"anna\" password=\"secret\" date=\"01/02/2026\" />\r\n"
    "\t<user login=\"bob|by\" password=\"pw\" date=\"01/02/2026\" />\r\n"
    "</users>";

std::string Unit(int id, const std::string& status, const std::string& score) {
  return "\t\t\t\t\t<sco id=\"" + std::to_string(id) +
         "\" date=\"01/02/2026\">\r\n\t\t\t\t\t\t<cmi>\r\n"
         "\t\t\t\t\t\t\t<lesson_location><![CDATA[1]]></lesson_location>\r\n"
         "\t\t\t\t\t\t\t<lesson_status><![CDATA[" +
         status +
         "]]></lesson_status>\r\n"
         "\t\t\t\t\t\t\t<score><![CDATA[" +
         score +
         "]]></score>\r\n"
         "\t\t\t\t\t\t\t<session_time><![CDATA[00:00:00]]></session_time>\r\n"
         "\t\t\t\t\t\t\t<suspend_data><![CDATA[]]></suspend_data>\r\n"
         "\t\t\t\t\t\t</cmi>\r\n\t\t\t\t\t\t<manifest>\r\n"
         "\t\t\t\t\t\t\t<title><![CDATA[Unit]]></title>\r\n"
         "\t\t\t\t\t\t</manifest>\r\n\t\t\t\t\t</sco>\r\n";
}

std::string Trackings(const std::string& units) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n"
         "<!-- Made with Tormack 1r0 -->\r\n<trackings>\r\n"
         "\t<tracking id=\"demo-course\" login=\"anna\">\r\n\t\t<sessions>\r\n"
         "\t\t\t<session id=\"1\" date=\"01/02/2026\">\r\n\t\t\t\t<units>\r\n" +
         Unit(1, "incomplete", "0") + Unit(2, "not attempted", "0") +
         Unit(3, "not attempted", "0") +
         "\t\t\t\t</units>\r\n\t\t\t</session>\r\n"
         "\t\t\t<session id=\"2\" date=\"02/02/2026\">\r\n\t\t\t\t<units>\r\n" +
         units + "\t\t\t\t</units>\r\n\t\t\t</session>\r\n" +
         "\t\t</sessions>\r\n\t</tracking>\r\n</trackings>\r\n";
}

class DemoCourseWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testing::EnsureDisplay().empty()) return;
    // The page's console goes to the test's output, which ctest shows when
    // a test fails: the emulator's own errors say why a movie stopped.
    setenv("ZEPT_PAGE_CONSOLE", "1", 0);
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window_), kWidth, kHeight);
    scratch_ = new fs::path(fs::temp_directory_path() /
                            ("zept-demo-window-" + std::to_string(getpid())));
    fs::create_directories(*scratch_);
    page_ =
        new MoviePage(ZEPT_RUFFLE_DIR, {kCourse.string(), scratch_->string()});
    gtk_container_add(GTK_CONTAINER(window_), page_->widget());
    gtk_widget_show_all(window_);
    loaded_ = page_->load(60000);
  }
  static void TearDownTestSuite() {
    delete page_;
    page_ = nullptr;
    if (window_) gtk_widget_destroy(window_);
    window_ = nullptr;
    if (scratch_) fs::remove_all(*scratch_);
    delete scratch_;
    scratch_ = nullptr;
  }
  void SetUp() override {
    ZEPT_NEED_DISPLAY();
    if (!testing::HaveProgram("xdotool")) GTEST_SKIP() << "xdotool is missing";
    ASSERT_TRUE(loaded_) << "the movie page did not load";
    ASSERT_TRUE(fs::exists(kCourse / "cdrom/cdrom.swf"));
  }
  void TearDown() override {
    if (page_) page_->onWarning = nullptr;
    host_.reset();
    factory_.reset();
  }

  // Plays a movie of the course (or any movie by its absolute path) with
  // its stage size, recording what it sends: "fs COMMAND ARGS" or
  // "call REQUEST".
  void play(const fs::path& movie, const std::string& query, int stageW,
            int stageH) {
    // A movie played before goes first, its host before its factory.
    host_.reset();
    factory_.reset();
    sent_.clear();
    stageW_ = stageW;
    stageH_ = stageH;
    factory_ = std::make_unique<RuffleHostFactory>(*page_);
    host_ = factory_->create();
    host_->Width = kWidth;
    host_->Height = kHeight;
    host_->OnFSCommand = [this](MovieHost&, const WideString& command,
                                const WideString& args) {
      sent_.push_back("fs " + WideToUtf8(command) + " " + WideToUtf8(args));
    };
    host_->OnFlashCall = [this](MovieHost& sender, const WideString& request) {
      sent_.push_back("call " + WideToUtf8(request));
      sender.SetReturnValue(u"<string>1</string>");
    };
    // What the page put right shows with what was sent when a test fails.
    page_->onWarning = [this](const std::string& line) {
      sent_.push_back("page: " + line);
    };
    host_->setMovie(Utf8ToWide((kCourse / movie).string() + "?" + query));
    factory_->syncLayout();
    ASSERT_TRUE(runUntil([&] { return host_->ReadyState() == 4; }));
  }

  static bool runUntil(const std::function<bool()>& done, int ms = kWaitMs) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end) {
      if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
    }
    return done();
  }
  static void settle(int ms) {
    runUntil([] { return false; }, ms);
  }

  std::string get(const std::string& name) {
    return WideToUtf8(host_->GetVariable(Utf8ToWide(name)));
  }
  // The variable once it holds expected (the movie may take a frame or two
  // to answer a click or a key), within a few seconds; its value then.
  std::string settled(const std::string& name, const std::string& expected) {
    runUntil([&] { return get(name) == expected; }, kWaitMs);
    return get(name);
  }
  void queue(const std::string& event, const std::string& data) {
    host_->SetVariable(u"API._sCommand", Utf8ToWide(event + ";" + data));
  }
  bool sentLine(const std::string& line) {
    return std::find(sent_.begin(), sent_.end(), line) != sent_.end();
  }
  // Waits for the line, and takes it and what came before off the record.
  ::testing::AssertionResult expectSent(const std::string& line) {
    if (!runUntil([&] { return sentLine(line); }, kWaitMs)) {
      std::string all;
      for (const std::string& s : sent_) all += "\n  " + s;
      return ::testing::AssertionFailure()
             << "not sent: " << line << "\nsent:" << all;
    }
    sent_.erase(sent_.begin(), std::find(sent_.begin(), sent_.end(), line) + 1);
    return ::testing::AssertionSuccess();
  }
  static std::string setValue(const std::string& pair) {
    return "call <invoke name=\"LMSSetValue\" returntype=\"xml\"><arguments>"
           "<string>" +
           pair + "</string></arguments></invoke>";
  }
  ::testing::AssertionResult shows(const std::string& screen) {
    if (runUntil([&] { return get("currentScreen") == "_level1." + screen; },
                 kWaitMs))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "shows " << get("currentScreen") << ", not " << screen;
  }

  // The pointer onto the middle of the clip at path (or at that fraction of
  // its width), then a click, once the clip and every clip around it are
  // shown.
  void click(const std::string& path, double across = 0.5) {
    ASSERT_TRUE(runUntil([&] { return shown(path); }, kWaitMs))
        << path << " is not shown";
    const double x = std::stod(get(path + "._x")) +
                     std::stod(get(path + "._width")) * across;
    const double y =
        std::stod(get(path + "._y")) + std::stod(get(path + "._height")) / 2;
    const double scale =
        std::min(double(kWidth) / stageW_, double(kHeight) / stageH_);
    clickAt((kWidth - stageW_ * scale) / 2 + x * scale,
            (kHeight - stageH_ * scale) / 2 + y * scale);
  }
  bool shown(const std::string& path) {
    for (std::size_t end = path.size(); end != std::string::npos;
         end = end == 0 ? std::string::npos : path.rfind('.', end - 1)) {
      if (get(path.substr(0, end) + "._visible") != "true") return false;
      if (end == 0) break;
    }
    return true;
  }
  void clickAt(double x, double y) {
    for (GdkEventType type :
         {GDK_MOTION_NOTIFY, GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
      GdkEvent* e = gdk_event_new(type);
      GdkWindow* target = gtk_widget_get_window(page_->widget());
      if (type == GDK_MOTION_NOTIFY) {
        e->motion.window = GDK_WINDOW(g_object_ref(target));
        e->motion.x = e->motion.x_root = x;
        e->motion.y = e->motion.y_root = y;
      } else {
        e->button.window = GDK_WINDOW(g_object_ref(target));
        e->button.x = e->button.x_root = x;
        e->button.y = e->button.y_root = y;
        e->button.button = 1;
        if (type == GDK_BUTTON_RELEASE) e->button.state = GDK_BUTTON1_MASK;
      }
      gdk_event_set_device(e, gdk_seat_get_pointer(gdk_display_get_default_seat(
                                  gdk_display_get_default())));
      gtk_main_do_event(e);
      gdk_event_free(e);
      settle(40);
    }
  }
  // Clicks into the field at path, waits until the movie says the field
  // has the keyboard, and types keys into it through the X server as a
  // person would ("\n" is Return, "\b" BackSpace). With then, waits until
  // the field shows it, so that what is clicked next does not overtake a
  // key still on its way: then must be what only the last key makes
  // (clearing "Carl <C>" with BackSpace shows "Carl" on the way).
  void typeInto(const std::string& field, const std::string& keys,
                const std::optional<std::string>& then = std::nullopt) {
    click(field);
    ASSERT_TRUE(runUntil([&] {
      return get("focusedField") == "_level1." + field;
    })) << "the keyboard is at "
        << get("focusedField") << ", not " << field;
    gtk_widget_grab_focus(page_->widget());
    std::string command =
        "xdotool windowfocus --sync " + std::to_string(testing::XidOf(window_));
    // "type" takes the rest of its command line as text.
    for (std::size_t at = 0; at < keys.size();) {
      const std::size_t end = keys.find_first_of("\n\b", at);
      if (end != at) {
        GCharPtr quoted(g_shell_quote(keys.substr(at, end - at).c_str()));
        command += " && xdotool type --delay 0 " + std::string(quoted.get());
        at = end;
      } else {
        command += keys[at++] == '\n' ? " && xdotool key Return"
                                      : " && xdotool key BackSpace";
      }
    }
    int status = 0;
    testing::RunCommand(command, &status);
    ASSERT_EQ(status, 0) << command;
    if (then) {
      EXPECT_EQ(settled(field + ".text", *then), *then);
    }
  }

  void screenshot(const std::string& name) {
    const char* folder = std::getenv("ZEPT_SCREENSHOTS");
    if (!folder) return;
    settle(150);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(gtk_widget_get_window(window_),
                                                 0, 0, kWidth, kHeight);
    if (!shot) return;
    fs::create_directories(folder);
    gdk_pixbuf_save(shot, (fs::path(folder) / (name + ".png")).c_str(), "png",
                    nullptr, nullptr);
    g_object_unref(shot);
  }

  static inline GtkWidget* window_ = nullptr;
  static inline MoviePage* page_ = nullptr;
  static inline bool loaded_ = false;
  static inline fs::path* scratch_ = nullptr;
  std::unique_ptr<RuffleHostFactory> factory_;
  std::unique_ptr<MovieHost> host_;
  std::vector<std::string> sent_;
  int stageW_ = kWidth, stageH_ = kHeight;
};

TEST_F(DemoCourseWindowTest, CompiledScriptRunsInThePlayer) {
  const std::string script = R"(
    function report(name, value) { fscommand("r", name + "=" + value); }
    var total = 0;
    for (var i = 0; i < 6; i++) { if (i == 2) continue; if (i == 5) break; total += i; }
    report("loop", total);
    report("logic", (0 || "a") + (1 && "b") + (null && 1) + (3 > 2 ? "c" : "d"));
    report("compare", [1 < 2, 2 <= 2, 3 >= 4, "a" != "b", 1 === "1"].join());
    function Box(v) { this.v = v; }
    Box.prototype.twice = function () { return this.v * 2; };
    var box = new Box(21);
    report("method", box.twice() + " " + {k: [7, 8]}.k[1]);
    var n = 5; n -= 2; n *= 4; n /= 3; n++;
    report("update", n + " " + typeof n + " " + -n);
    var counter = function () { var c = 0; return function () { c++; return c; }; }();
    counter();
    report("closure", counter());
    report("string", "a;b|c;d".split("|")[1].substr(2) + " \u00e9\t".length);
    report("external", flash.external.ExternalInterface.call("LMSSetValue", "x;1"));
    report("timer", typeof getTimer());
  )";
  swf::MovieWriter movie(kWidth, kHeight, 24, {255, 255, 255});
  movie.doAction(swf::CompileScript(script));
  movie.showFrame();
  const fs::path path = *scratch_ / "compiled.swf";
  std::ofstream(path, std::ios::binary) << movie.bytes(true);
  play(path, "", kWidth, kHeight);
  EXPECT_TRUE(expectSent("fs r loop=8"));
  EXPECT_TRUE(expectSent("fs r logic=abnullc"));
  EXPECT_TRUE(expectSent("fs r compare=true,true,false,true,false"));
  EXPECT_TRUE(expectSent("fs r method=42 8"));
  EXPECT_TRUE(expectSent("fs r update=5 number -5"));
  EXPECT_TRUE(expectSent("fs r closure=2"));
  EXPECT_TRUE(expectSent("fs r string=d3"));
  EXPECT_TRUE(expectSent(setValue("x;1")));
  EXPECT_TRUE(expectSent("fs r external=1"));
  EXPECT_TRUE(expectSent("fs r timer=number"));
}

// A watch on the event queue calls the shell while the shell is setting
// the queue, and the shell reads the movie inside that call: each call is
// answered inside the op that caused it, at once and with its own answer,
// and an entry added to the queue is seen once.
TEST_F(DemoCourseWindowTest, CallsMadeInsideAnOpAreAnsweredInIt) {
  const std::string script = R"(
    var API = new Object();
    API._sCommand = "";
    API.watch("_sCommand", function (name, before, after) {
      var answer = flash.external.ExternalInterface.call("Watched", after);
      fscommand("r", "watched " + after + " = " + answer);
      return after;
    });
    var seen = "";
    this.onEnterFrame = function () {
      if (API._sCommand == "") return;
      seen += "[" + API._sCommand + "]";
      API._sCommand = "";
    };
    fscommand("r", "ready");
  )";
  swf::MovieWriter movie(kWidth, kHeight, 24, {255, 255, 255});
  movie.doAction(swf::CompileScript(script));
  movie.showFrame();
  const fs::path path = *scratch_ / "watched.swf";
  std::ofstream(path, std::ios::binary) << movie.bytes(true);
  play(path, "", kWidth, kHeight);
  ASSERT_TRUE(expectSent("fs r ready"));
  int depth = 0;
  host_->OnFlashCall = [&](MovieHost& sender, const WideString& request) {
    sent_.push_back("call " + WideToUtf8(request));
    // A second level: the shell reads the movie inside the call.
    sender.SetReturnValue(u"<string>" + std::u16string(depth++ ? u"2" : u"1") +
                          u"</string>");
    if (depth == 1) sender.GetVariable(u"seen");
  };
  const auto started = std::chrono::steady_clock::now();
  queue("onUsersCompleteEvent", "<users/>");
  // Answered before the op's timeout (10 s), which a call parked behind it
  // waited out: an op that takes as long fails in any case.
  EXPECT_LT(std::chrono::steady_clock::now() - started,
            std::chrono::seconds(10));
  EXPECT_TRUE(expectSent("fs r watched onUsersCompleteEvent;<users/> = 1"));
  // The movie takes the entry, and its own emptying calls too.
  EXPECT_TRUE(expectSent("fs r watched  = 2"));
  depth = 0;
  ASSERT_TRUE(host_->AppendEntry(u"API._sCommand", u"onLoadEvent;x"));
  EXPECT_TRUE(expectSent("fs r watched onLoadEvent;x = 1"));
  EXPECT_EQ(settled("seen", "[onUsersCompleteEvent;<users/>][onLoadEvent;x]"),
            "[onUsersCompleteEvent;<users/>][onLoadEvent;x]");
}

TEST_F(DemoCourseWindowTest, MenuLogsInAndShowsTheUnits) {
  play("cdrom/cdrom.swf", "sLogin=&sParam=&sLang=&sTitle=x", kWidth, kHeight);
  EXPECT_TRUE(expectSent("fs SetTrackMode file"));
  EXPECT_TRUE(expectSent("fs SetTrackPath [$APPLICATION]\\tracking"));
  EXPECT_TRUE(expectSent("fs SetTrackingId demo-course"));
  EXPECT_TRUE(expectSent("fs GetUserList "));
  EXPECT_TRUE(shows("loadingScreen"));
  // Two answers at once; a "|" inside a login does not split an entry.
  queue("onUsersCompleteEvent",
        std::string(kUsers) + "|onUsersSessionInfoLoadedEvent;<users/>");
  ASSERT_TRUE(shows("usersScreen"));
  EXPECT_EQ(settled("API._sCommand", ""), "");
  EXPECT_EQ(settled("usersScreen.user0.caption.text", "anna"), "anna");
  EXPECT_EQ(settled("usersScreen.user1.caption.text", "bob|by"), "bob|by");
  EXPECT_EQ(settled("usersScreen.user2._visible", "false"), "false");
  screenshot("menu-users");

  click("usersScreen.user0");
  ASSERT_TRUE(shows("passwordScreen"));
  EXPECT_EQ(settled("passwordScreen.greeting.text", "Hello, anna"),
            "Hello, anna");
  // The field has the keyboard at once, and its box shows it.
  EXPECT_EQ(settled("focusedField", "_level1.passwordScreen.password"),
            "_level1.passwordScreen.password");
  EXPECT_EQ(settled("passwordScreen.passwordBox.focus._visible", "true"),
            "true");
  typeInto("passwordScreen.password", "wrong\n");
  EXPECT_EQ(settled("passwordScreen.message.text",
                    "That is not the password. Please try again."),
            "That is not the password. Please try again.");
  screenshot("menu-password");
  EXPECT_FALSE(sentLine("fs SetLogin anna"));
  // The field keeps the keyboard for another try.
  EXPECT_EQ(settled("focusedField", "_level1.passwordScreen.password"),
            "_level1.passwordScreen.password");
  EXPECT_EQ(settled("passwordScreen.password.text", ""), "");
  EXPECT_EQ(get("passwordScreen.passwordBox.focus._visible"), "true");
  typeInto("passwordScreen.password", "secret", "secret");
  click("passwordScreen.logIn");
  EXPECT_TRUE(expectSent("fs SetLogin anna"));
  EXPECT_TRUE(expectSent("fs LMSLoad "));
  EXPECT_TRUE(expectSent("fs LMSInitialize "));
  EXPECT_TRUE(expectSent("fs GetTracking "));

  // The last session's values are the learner's.
  queue("onLoadTrackingCompleteEvent",
        Trackings(Unit(1, "completed", "92") + Unit(2, "failed", "67") +
                  Unit(3, "not attempted", "0")));
  ASSERT_TRUE(shows("unitsScreen"));
  EXPECT_EQ(settled("learner.text", "Learner: anna"), "Learner: anna");
  EXPECT_EQ(settled("unitsScreen.unit1.caption.text", "1. Why fires start"),
            "1. Why fires start");
  EXPECT_EQ(settled("unitsScreen.unit2.caption.text", "2. Raising the alarm"),
            "2. Raising the alarm");
  EXPECT_EQ(settled("unitsScreen.status1.text", "Completed"), "Completed");
  EXPECT_EQ(settled("unitsScreen.score1.text", "92 %"), "92 %");
  EXPECT_EQ(settled("unitsScreen.status2.text", "Failed"), "Failed");
  EXPECT_EQ(settled("unitsScreen.score2.text", "67 %"), "67 %");
  EXPECT_EQ(settled("unitsScreen.status3.text", "Not started"), "Not started");
  EXPECT_EQ(settled("unitsScreen.score3.text", "-"), "-");
  screenshot("menu-units");

  click("unitsScreen.results");
  ASSERT_TRUE(runUntil([&] {
    return !sent_.empty() && sent_.back().rfind("fs PrintDocument ", 0) == 0;
  }));
  const std::string report = sent_.back();
  EXPECT_NE(report.find("<export><p fontsize=\"16\" align=\"center\">Fire "
                        "safety at work \xE2\x80\x93 results</p>"),
            std::string::npos);
  EXPECT_NE(report.find("<p>Learner: anna</p>"), std::string::npos);
  // The report has no bold: the header is told by its capitals, in the
  // element every cell's text is in.
  EXPECT_NE(report.find("<tr><td width=\"216\" border=\"1\"><s>UNIT</s></td>"
                        "<td border=\"1\"><s>STATUS</s></td><td width=\"72\" "
                        "border=\"1\" align=\"right\"><s>SCORE</s></td></tr>"),
            std::string::npos);
  EXPECT_EQ(report.find("<b>"), std::string::npos);
  EXPECT_NE(report.find("<s>2 \xE2\x80\x93 Raising the alarm</s></td><td "
                        "border=\"1\"><s>Failed</s></td><td width=\"72\" "
                        "border=\"1\" align=\"right\"><s>67 %</s>"),
            std::string::npos);
  click("unitsScreen.guide");
  EXPECT_TRUE(expectSent("fs OnOpenDocument docs/guide.html"));
  click("unitsScreen.unit2");
  EXPECT_TRUE(expectSent("fs GoToSCO 2"));
  click("unitsScreen.quit");
  EXPECT_TRUE(expectSent("fs sendQuit "));
}

TEST_F(DemoCourseWindowTest, MenuAddsANewLearnerWithACleanName) {
  play("cdrom/cdrom.swf", "sParam=", kWidth, kHeight);
  EXPECT_TRUE(expectSent("fs GetUserList "));
  queue("onUsersCompleteEvent", kUsers);
  ASSERT_TRUE(shows("usersScreen"));
  EXPECT_EQ(settled("usersScreen.newNameBox.focus._visible", "false"), "false");
  typeInto("usersScreen.newName", "  anna ", "  anna ");
  EXPECT_EQ(settled("usersScreen.newNameBox.focus._visible", "true"), "true");
  // A click on the box beside the text moves the keyboard there too.
  click("usersScreen.newPasswordBox", 0.01);
  EXPECT_EQ(settled("focusedField", "_level1.usersScreen.newPassword"),
            "_level1.usersScreen.newPassword");
  EXPECT_EQ(settled("usersScreen.newNameBox.focus._visible", "false"), "false");
  EXPECT_EQ(settled("usersScreen.newPasswordBox.focus._visible", "true"),
            "true");
  typeInto("usersScreen.newPassword", "x\n");
  EXPECT_EQ(
      settled("usersScreen.newMessage.text",
              "There is already a learner called anna. Pick the name on the "
              "left."),
      "There is already a learner called anna. Pick the name on the "
      "left.");
  typeInto("usersScreen.newName", std::string(7, '\b'), "");
  typeInto("usersScreen.newName", "Carl;C", "Carl;C");
  click("usersScreen.create");
  EXPECT_EQ(settled("usersScreen.newMessage.text",
                    "Names and passwords cannot contain ; or |."),
            "Names and passwords cannot contain ; or |.");
  typeInto("usersScreen.newName", std::string(6, '\b'), "");
  typeInto("usersScreen.newName", "Carl <C> & \"co\"", "Carl <C> & \"co\"");
  screenshot("menu-new-learner");
  click("usersScreen.create");
  EXPECT_TRUE(expectSent("fs AddUser Carl <C> & \"co\";x"));
  EXPECT_TRUE(expectSent("fs SetLogin Carl <C> & \"co\""));
  EXPECT_TRUE(expectSent("fs GetTracking "));
  EXPECT_EQ(settled("usersScreen.user2.caption.text", "Carl <C> & \"co\""),
            "Carl <C> & \"co\"");
}

TEST_F(DemoCourseWindowTest, MenuBackFromAUnitShowsTheUnitsAgain) {
  play("cdrom/cdrom.swf", "sLogin=anna&sParam=back&sLang=", kWidth, kHeight);
  EXPECT_TRUE(expectSent("fs GetUserList "));
  EXPECT_TRUE(expectSent("fs GetTracking "));
  EXPECT_FALSE(sentLine("fs SetTrackMode file"));
  // Seven learners: six on the list, and a button for the next ones.
  std::string users = "<users>";
  for (int i = 1; i <= 7; ++i)
    users += "<user login=\"u" + std::to_string(i) + "\" password=\"p\"/>";
  queue("onUsersCompleteEvent", users + "</users>");
  EXPECT_EQ(settled("API._sCommand", ""), "");
  EXPECT_TRUE(shows("loadingScreen"));
  // An answer that never came is asked for again.
  host_->SetVariable(u"askedAt", u"-10000");
  EXPECT_TRUE(expectSent("fs GetTracking "));
  queue("onLoadTrackingCompleteEvent",
        Trackings(Unit(1, "completed", "0") + Unit(2, "passed", "100") +
                  Unit(3, "incomplete", "0")));
  ASSERT_TRUE(shows("unitsScreen"));
  EXPECT_EQ(settled("learner.text", "Learner: anna"), "Learner: anna");
  EXPECT_EQ(settled("unitsScreen.score1.text", "-"), "-");
  EXPECT_EQ(settled("unitsScreen.status2.text", "Passed"), "Passed");
  EXPECT_EQ(settled("unitsScreen.status3.text", "In progress"), "In progress");
  click("unitsScreen.changeLearner");
  EXPECT_TRUE(shows("usersScreen"));
  EXPECT_EQ(settled("learner.text", ""), "");
  EXPECT_EQ(settled("usersScreen.user5.caption.text", "u6"), "u6");
  click("usersScreen.moreUsers");
  EXPECT_EQ(settled("usersScreen.user0.caption.text", "u7"), "u7");
  EXPECT_EQ(settled("usersScreen.user1._visible", "false"), "false");
  click("usersScreen.user0");
  EXPECT_TRUE(shows("passwordScreen"));
  EXPECT_EQ(settled("passwordScreen.greeting.text", "Hello, u7"), "Hello, u7");
}

TEST_F(DemoCourseWindowTest, UnitQuizRecordsItsScoreAndStatus) {
  play("SCO_0002/player.swf",
       "bAPIBased=1&tracking=SCORM12&sNavRequestValidContinue=true&"
       "sNavRequestValidPrevious=true&sSuspendData=&sLessonLocation=1&"
       "sLessonStatus=not%20attempted&bIsCDRom=1",
       800, 600);
  EXPECT_TRUE(expectSent("fs sendAPILoaded "));
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_status;incomplete")));
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_location;page 1")));
  EXPECT_EQ(settled("previousButton._visible", "false"), "false");
  screenshot("unit2-page1");
  click("nextButton");
  click("nextButton");
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_location;page 3")));
  // A question page lets the learner on only once answered.
  EXPECT_EQ(settled("nextButton._visible", "false"), "false");
  click("page3.b");
  EXPECT_TRUE(expectSent(setValue("cmi.suspend_data;q1=b")));
  EXPECT_EQ(settled("page3.feedback.text",
                    "Not quite: the answer is a. Raising the alarm first gets "
                    "everyone moving."),
            "Not quite: the answer is a. Raising the alarm first gets "
            "everyone moving.");
  // The answer given and the right one are marked, and the answer stands.
  EXPECT_EQ(settled("page3.b.wrong._visible", "true"), "true");
  EXPECT_EQ(get("page3.b.wrong.label.text"), "Your answer");
  EXPECT_EQ(get("page3.b.selected"), "true");
  EXPECT_EQ(get("page3.a.right._visible"), "true");
  EXPECT_EQ(get("page3.a.right.label.text"), "Right answer");
  EXPECT_EQ(get("page3.a.enabled"), "false");
  EXPECT_EQ(get("page3.c.right._visible") + get("page3.c.wrong._visible"),
            "falsefalse");
  screenshot("unit2-question");
  click("page3.a");
  click("nextButton");
  ASSERT_TRUE(runUntil(
      [&] { return sentLine(setValue("cmi.core.lesson_location;page 4")); }));
  EXPECT_FALSE(sentLine(setValue("cmi.suspend_data;q1=a")));
  EXPECT_EQ(get("page3.a.selected"), "false");
  click("page4.b");
  EXPECT_EQ(settled("page4.b.right.label.text", "Your answer"), "Your answer");
  click("nextButton");
  click("page5.a");
  EXPECT_TRUE(expectSent(setValue("cmi.suspend_data;q1=b,q2=b,q3=a")));
  click("nextButton");
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_location;page 6")));
  EXPECT_TRUE(expectSent(setValue("cmi.core.score.raw;33")));
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_status;failed")));
  EXPECT_EQ(settled("page6.score.text", "1 of 3 right: 33 %"),
            "1 of 3 right: 33 %");
  screenshot("unit2-result");
  // Another go clears every answer and starts at the first question.
  click("page6.retry");
  EXPECT_TRUE(expectSent(setValue("cmi.suspend_data;")));
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_location;page 3")));
  EXPECT_EQ(settled("page3.b.selected", "false"), "false");
  EXPECT_EQ(get("page3.b.wrong._visible") + get("page3.a.right._visible"),
            "falsefalse");
  EXPECT_EQ(get("page3.a.enabled"), "true");
  EXPECT_EQ(get("page3.feedback.text"), "");
  EXPECT_EQ(get("nextButton._visible"), "false");
  click("page3.a");
  click("nextButton");
  click("page4.b");
  click("nextButton");
  click("page5.c");
  EXPECT_TRUE(expectSent(setValue("cmi.suspend_data;q1=a,q2=b,q3=c")));
  click("nextButton");
  EXPECT_TRUE(expectSent(setValue("cmi.core.score.raw;100")));
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_status;passed")));
  click("homeButton");
  ASSERT_TRUE(runUntil([&] { return sentLine("fs sendGoToHome "); }));
  ASSERT_EQ(sent_.size(), 2u);
  // The time the unit was open, as hours, minutes and seconds: how long
  // that was depends on the machine.
  std::string head = setValue("cmi.core.session_time;");
  const std::string tail = head.substr(head.find("</string>"));
  head.erase(head.size() - tail.size());
  const std::string& sent = sent_[0];
  ASSERT_TRUE(sent.size() > head.size() + tail.size() &&
              sent.rfind(head, 0) == 0 &&
              sent.compare(sent.size() - tail.size(), tail.size(), tail) == 0)
      << sent;
  EXPECT_TRUE(std::regex_match(
      sent.substr(head.size(), sent.size() - head.size() - tail.size()),
      std::regex("[0-9]{2,}:[0-5][0-9]:[0-5][0-9]")))
      << sent;
}

TEST_F(DemoCourseWindowTest, UnitQuizKeepsTheAnswersGivenBefore) {
  play("SCO_0002/player.swf",
       "sSuspendData=q1%3Da%2Cq2%3Dc%2Cq3%3Dz%2Cq9%3Db&"
       "sLessonLocation=page%204&sLessonStatus=incomplete",
       800, 600);
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_location;page 4")));
  EXPECT_EQ(settled("page4.c.selected", "true"), "true");
  EXPECT_EQ(settled("page4.b.selected", "false"), "false");
  EXPECT_EQ(settled("nextButton._visible", "true"), "true");
  // Marked and closed as when it was given.
  EXPECT_EQ(get("page4.c.wrong._visible"), "true");
  EXPECT_EQ(get("page4.b.right._visible"), "true");
  EXPECT_EQ(get("page4.b.enabled"), "false");
  EXPECT_EQ(get("page4.feedback.text"),
            "Not quite: the answer is b. The nearest safe exit is the quickest "
            "way out.");
  click("nextButton");
  // "z" is none of the choices: the question is still open.
  EXPECT_EQ(settled("page5.c.enabled", "true"), "true");
  EXPECT_EQ(settled("nextButton._visible", "false"), "false");
  click("page5.c");
  EXPECT_TRUE(expectSent(setValue("cmi.suspend_data;q1=a,q2=c,q3=c")));
}

TEST_F(DemoCourseWindowTest, QuizWithoutAPassMarkIsCompletedWithItsScore) {
  play("SCO_0003/player.swf",
       "sSuspendData=q1%3Da%2Cq2%3Da&sLessonLocation=page%204&"
       "sLessonStatus=incomplete",
       800, 600);
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_location;page 4")));
  click("page4.c");
  click("nextButton");
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_location;page 5")));
  EXPECT_TRUE(expectSent(setValue("cmi.core.score.raw;67")));
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_status;completed")));
  EXPECT_EQ(
      settled("page5.verdict.text", "Well done: you have finished the quiz."),
      "Well done: you have finished the quiz.");
  // The last unit offers no next one, but another go at the questions.
  EXPECT_EQ(settled("nextUnitButton._visible", "false"), "false");
  EXPECT_EQ(get("page5.retry._visible"), "true");
  screenshot("unit3-result");
}

// The verdict says the status in the menu's words; another go is offered
// unless the quiz is passed or every answer is right.
TEST_F(DemoCourseWindowTest, QuizResultSaysTheStatusAndOffersAnotherGo) {
  struct Case {
    std::string unit, lastQuestion, answer, score, status, verdict, retry;
  };
  const Case cases[] = {
      {"SCO_0002", "5", "a", "67", "failed", "Failed: the pass mark is 70 %.",
       "true"},
      {"SCO_0002", "5", "c", "100", "passed", "Passed: the pass mark is 70 %.",
       "false"},
      {"SCO_0003", "4", "c", "100", "completed",
       "Well done: you have finished the quiz.", "false"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit + " " + c.answer);
    // In both units the first two questions were answered right before.
    play(c.unit + "/player.swf",
         "sSuspendData=q1%3Da%2Cq2%3Db&sLessonLocation=page%20" +
             c.lastQuestion + "&sLessonStatus=incomplete",
         800, 600);
    click("page" + c.lastQuestion + "." + c.answer);
    click("nextButton");
    EXPECT_TRUE(expectSent(setValue("cmi.core.score.raw;" + c.score)));
    EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_status;" + c.status)));
    const std::string result =
        "page" + std::to_string(std::stoi(c.lastQuestion) + 1);
    EXPECT_EQ(settled(result + ".verdict.text", c.verdict), c.verdict);
    EXPECT_EQ(get(result + ".retry._visible"), c.retry);
  }
}

TEST_F(DemoCourseWindowTest, UnitResumesWhereTheLearnerLeftAndSavesItsScreen) {
  play("SCO_0001/player.swf",
       "bAPIBased=1&tracking=SCORM12&sNavRequestValidContinue=true&"
       "sSuspendData=&sLessonLocation=page%203&sLessonStatus=incomplete&"
       "bIsCDRom=1",
       800, 600);
  EXPECT_TRUE(expectSent("fs sendAPILoaded "));
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_location;page 3")));
  EXPECT_FALSE(sentLine(setValue("cmi.core.lesson_status;incomplete")));
  EXPECT_EQ(settled("pageNumber.text", "Page 3 of 4"), "Page 3 of 4");
  click("saveButton");
  EXPECT_TRUE(expectSent("fs sendPrintPagePDF "));
  click("nextButton");
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_location;page 4")));
  EXPECT_TRUE(expectSent(setValue("cmi.core.lesson_status;completed")));
  EXPECT_EQ(settled("nextButton._visible", "false"), "false");
  screenshot("unit1-last-page");
  click("nextUnitButton");
  EXPECT_TRUE(expectSent("fs sendContinueSCO "));
}

}  // namespace
}  // namespace zept::desktop
