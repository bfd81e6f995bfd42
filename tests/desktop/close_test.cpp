// The shell in the real window on the fake platform: closing the window
// from the window manager or by SIGTERM keeps an open session's progress.

#include <gtest/gtest.h>
#include <signal.h>

#include "desktop/main_window.h"
#include "desktop/signals.h"
#include "desktop/glib_timers.h"
#include "moviehost/headless.h"
#include "platform/codepage.h"
#include "shell/UnitZept.h"
#include "tests/desktop/display.h"
#include "util/fake_env.h"

namespace zept::desktop {
namespace {

using namespace testing;

constexpr char16_t kFolder[] = u"C:\\Course\\";
constexpr char16_t kStored[] = u"C:\\data\\c1\\anna\\tracking.xml";

class CloseTest : public ::testing::Test, protected zept::testing::FakeEnv {
 protected:
  void SetUp() override {
    ZEPT_NEED_DISPLAY();
    window = std::make_unique<DesktopWindow>(print);
    movies =
        std::make_unique<HeadlessHostFactory>(HeadlessHostFactory::Environment{
            ctx, print, dialogs, *window, kFolder});
    fake.files.addFile(WideString(kFolder) + u"imsmanifest.xml",
                       "<manifest><organizations><organization><item "
                       "identifier=\"i1\"/></organization></organizations>"
                       "</manifest>");
    fake.files.addFile(WideString(kFolder) + u"cdrom\\cdrom.swf", "");
    fake.files.addFile(WideString(kFolder) + u"SCO_0001\\player.swf", "");
    form = std::make_unique<TFormZept>(
        TFormZept::Services{
            ctx,
            *window,
            *movies,
            timers,
            dialogs,
            [](const std::exception& e) { ADD_FAILURE() << e.what(); },
            printers,
            shell,
            {8.5, 11},
            print},
        kFolder);
    // As the program wires it.
    window->onCloseRequest = [this] {
      form->FormClose();
      window->close();
    };
    window->onClosed = [this] { closed = true; };
    window->show();
    form->FormShow();
  }
  void TearDown() override {
    form.reset();
    movies.reset();
    window.reset();
    EXPECT_EQ(TakeWarnings(), std::vector<std::string>{});
  }
  // A learner in SCO 1 with a location set, nothing stored yet.
  void openSession() {
    for (auto [command, args] : {std::pair{u"SetTrackMode", u"file"},
                                 {u"SetTrackPath", u"C:\\data"},
                                 {u"SetTrackingId", u"c1"},
                                 {u"GetUserList", u""},
                                 {u"AddUser", u"anna;pw"},
                                 {u"SetLogin", u"anna"},
                                 {u"LMSLoad", u""},
                                 {u"LMSInitialize", u""},
                                 {u"GoToSCO", u"1"}})
      form->menuCommand(command, args);
    // The GLib timer swaps the movies.
    ASSERT_TRUE(PumpUntil([&] { return form->CourseMovie != nullptr; }));
    form->courseCommand(u"LMSSetValue", u"cmi.core.lesson_location;page 3");
    ASSERT_EQ(fake.files.file(kStored), nullptr);
  }
  std::string stored() {
    const auto* f = fake.files.file(kStored);
    return f ? f->bytes : "<missing>";
  }

  std::function<void(const WideString&)> print = [](const WideString&) {};
  platform::ScriptedDialogs dialogs{print};
  platform::FakePrinters printers;
  platform::HeadlessShellOpen shell{fake.files, print};
  GLibTimers timers;
  std::unique_ptr<DesktopWindow> window;
  std::unique_ptr<HeadlessHostFactory> movies;
  std::unique_ptr<TFormZept> form;
  bool closed = false;
};

TEST_F(CloseTest, TheWindowManagersCloseButtonCommitsTheSession) {
  openSession();
  EXPECT_TRUE(window->state().black);
  ASSERT_TRUE(SendCloseRequest(XidOf(GTK_WIDGET(window->gtkWindow()))));
  ASSERT_TRUE(PumpUntil([&] { return closed; }));
  EXPECT_NE(stored().find("page 3"), std::string::npos) << stored();
  EXPECT_EQ(form->Api.CurrentSession, 0);
}

TEST_F(CloseTest, SigtermCommitsTheSession) {
  auto signals = InstallQuitSignals([this] {
    form->FormClose();
    window->close();
  });
  openSession();
  ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
  ASSERT_TRUE(PumpUntil([&] { return closed; }));
  EXPECT_NE(stored().find("page 3"), std::string::npos) << stored();
}

TEST_F(CloseTest, WithoutASessionClosingStoresNothing) {
  form->menuCommand(u"SetTrackMode", u"file");
  form->menuCommand(u"SetTrackPath", u"C:\\data");
  form->menuCommand(u"SetTrackingId", u"c1");
  form->menuCommand(u"SetLogin", u"anna");
  ASSERT_TRUE(SendCloseRequest(XidOf(GTK_WIDGET(window->gtkWindow()))));
  ASSERT_TRUE(PumpUntil([&] { return closed; }));
  EXPECT_EQ(stored(), "<missing>");
  EXPECT_EQ(fake.files.file(u"C:\\data\\c1\\users.xml"), nullptr);
}

}  // namespace
}  // namespace zept::desktop
