// The movie page with real movies made by the SWF writer, played by the
// Flash emulator in a real window (under Xvfb in CI).

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "desktop/display.h"
#include "desktop/page.h"
#include "desktop/ruffle_host.h"
#include "platform/codepage.h"
#include "swf/avm1.h"
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

  static inline GtkWidget* window_ = nullptr;
  static inline MoviePage* page_ = nullptr;
  static inline fs::path* folder_ = nullptr;
  static inline bool loaded_ = false;
};

// Message numbers the page's own counting cannot give (a gap, one used
// already, one too large) are put right with a line each, and the messages
// after them still arrive.
TEST_F(MoviePageTest, MessagesOutOfOrderNeverStallTheOnesAfter) {
  RuffleHostFactory factory(*page_);
  std::unique_ptr<MovieHost> host = factory.create();
  std::vector<std::string> seen, warnings;
  host->OnFSCommand = [&](MovieHost&, const WideString& c, const WideString&) {
    seen.push_back(WideToUtf8(c));
  };
  page_->onWarning = [&](const std::string& line) { warnings.push_back(line); };
  // The factory's first movie is "1".
  const std::string script =
      "const send = (n, c) => { const x = new XMLHttpRequest();"
      "  x.open('POST', 'zept://z/call', false);"
      "  x.send(JSON.stringify(['fscommand', String(n), '1', c, '']));"
      "};"
      "const n = messageNumber + 1;"
      "send(n, 'first');"
      "send(n + 2, 'after a gap');"
      "send(n, 'a number used');"
      "send('99999999999999999999999', 'too large');"
      "send(n + 3, 'next');"
      "messageNumber = n + 3;";
  webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(page_->widget()),
                                      script.c_str(), -1, nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
  EXPECT_TRUE(runUntil([&] { return seen.size() >= 3; }, 5000));
  EXPECT_EQ(seen,
            (std::vector<std::string>{"first", "after a gap", "next"}));
  ASSERT_EQ(warnings.size(), 3u) << ::testing::PrintToString(warnings);
  EXPECT_NE(warnings[0].find("out of order"), std::string::npos);
  EXPECT_NE(warnings[1].find("99999999999999999999999 is out of order"),
            std::string::npos);
  EXPECT_NE(warnings[2].find("never came"), std::string::npos);
  page_->onWarning = nullptr;
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
  // Give the emulator a few frames to draw.
  runUntil([] { return false; }, 300);
  const Bitmap frame = host->GetFrameBitmap();
  ASSERT_EQ(frame.width, 200);
  ASSERT_EQ(frame.height, 100);
  EXPECT_EQ(frame.pixels[50 * 200 + 50] & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(frame.pixels[50 * 200 + 150] & 0xFFFFFF, 0x0000FFu);
}

}  // namespace
}  // namespace zept::desktop
