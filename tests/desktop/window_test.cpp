#include <gtest/gtest.h>

#include "desktop/main_window.h"
#include "platform/codepage.h"
#include "tests/desktop/display.h"

namespace zept::desktop {
namespace {

using namespace testing;

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZEPT_NEED_DISPLAY();
    window = std::make_unique<DesktopWindow>([this](const WideString& line) {
      printed.push_back(WideToUtf8(line));
    });
  }
  void TearDown() override {
    window.reset();
    EXPECT_EQ(TakeWarnings(), std::vector<std::string>{});
  }
  // Shown and placed as the X server reports it.
  XGeometry placed(int x, int y, int width, int height) {
    const unsigned long xid = XidOf(GTK_WIDGET(window->gtkWindow()));
    XGeometry g;
    PumpUntil([&] {
      g = Geometry(xid);
      return g.viewable && g.x == x && g.y == y && g.width == width &&
             g.height == height;
    });
    return g;
  }
  GtkAllocation movieArea() {
    GtkAllocation a;
    gtk_widget_get_allocation(window->movieArea(), &a);
    return a;
  }

  std::vector<std::string> printed;
  std::unique_ptr<DesktopWindow> window;
};

#define EXPECT_GEOMETRY(g, X, Y, W, H) \
  EXPECT_EQ((g).x, X);                 \
  EXPECT_EQ((g).y, Y);                 \
  EXPECT_EQ((g).width, W);             \
  EXPECT_EQ((g).height, H);            \
  EXPECT_TRUE((g).viewable)

TEST_F(WindowTest, BoundsArePositionAndClientSizeAndTheMoviesFillIt) {
  EXPECT_EQ(window->screenWidth(), 1280);
  EXPECT_EQ(window->screenHeight(), 1024);
  window->setSizeable(false);
  window->setBounds(245, 225, 790, 575);
  window->show();
  XGeometry g = placed(245, 225, 790, 575);
  EXPECT_GEOMETRY(g, 245, 225, 790, 575);
  EXPECT_TRUE(PumpUntil([&] { return movieArea().height == 575; }));
  EXPECT_EQ(movieArea().width, 790);

  // Moved and resized while shown, as the course movie's look asks.
  window->setBounds(0, 0, 1280, 1024);
  g = placed(0, 0, 1280, 1024);
  EXPECT_GEOMETRY(g, 0, 0, 1280, 1024);
  EXPECT_TRUE(PumpUntil([&] { return movieArea().height == 1024; }));
  const platform::WindowState& s = window->state();
  EXPECT_EQ(s.left, 0);
  EXPECT_EQ(s.width, 1280);
  EXPECT_EQ(s.height, 1024);

  // A look without a size leaves the smallest window GTK takes.
  window->setBounds(10, 10, 0, 0);
  EXPECT_EQ(window->state().width, 0);
  g = placed(10, 10, 1, 1);
  EXPECT_GEOMETRY(g, 10, 10, 1, 1);
}

TEST_F(WindowTest, NoBorderMeansUndecoratedAndFixedSize) {
  window->setBounds(100, 80, 640, 360);
  window->setSizeable(false);
  window->setCaption(u"Cours \u00e9t\u00e9");
  window->show();
  placed(100, 80, 640, 360);
  const unsigned long xid = XidOf(GTK_WIDGET(window->gtkWindow()));
  std::string props = Properties(xid);
  // Motif hints: flags 2 (decorations), decorations 0.
  EXPECT_NE(props.find("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x2, 0x0, 0x0"),
            std::string::npos)
      << props;
  EXPECT_NE(props.find("program specified minimum size: 640 by 360"),
            std::string::npos)
      << props;
  EXPECT_NE(props.find("program specified maximum size: 640 by 360"),
            std::string::npos)
      << props;
  EXPECT_NE(props.find("_NET_WM_NAME(UTF8_STRING) = \"Cours \u00e9t\u00e9\""),
            std::string::npos)
      << props;

  window->setSizeable(true);
  EXPECT_TRUE(window->state().sizeable);
  PumpUntil([&] {
    props = Properties(xid);
    return props.find("maximum size") == std::string::npos;
  });
  EXPECT_EQ(props.find("maximum size"), std::string::npos) << props;
  EXPECT_EQ(props.find("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x2, 0x0, 0x0"),
            std::string::npos)
      << props;
}

TEST_F(WindowTest, TopMostAsksToBeKeptAbove) {
  window->setBounds(0, 0, 300, 200);
  window->makeTopMost();  // shows the window
  EXPECT_TRUE(window->state().topMost);
  placed(0, 0, 300, 200);
  const std::string props = Properties(XidOf(GTK_WIDGET(window->gtkWindow())));
  EXPECT_NE(props.find("_NET_WM_STATE_ABOVE"), std::string::npos) << props;
}

TEST_F(WindowTest, DeveloperPanelJournalAndHomeButton) {
  window->appendJournal(u"hidden line");
  window->setBounds(50, 40, 600, 400);
  window->show();
  placed(50, 40, 600, 400);
  EXPECT_TRUE(PumpUntil([&] { return movieArea().height == 400; }));

  window->setDebugPanelVisible(true);
  // Splitter and panel at their design heights; the movies above them.
  EXPECT_TRUE(PumpUntil([&] {
    return movieArea().height ==
           400 - DesktopWindow::kPanelHeight - DesktopWindow::kSplitterHeight;
  })) << movieArea().height;
  window->appendJournal(u"GoToSCO : 1");
  window->appendJournal(WideString(u"nul \0 and lone \xD800 ", 17) + u"end");
  EXPECT_EQ(WideToUtf8(window->journal()),
            "hidden line\nGoToSCO : 1\nnul \uFFFD and lone \uFFFD end");
  EXPECT_EQ(printed.at(1), "GoToSCO : 1");

  // The window keeps the panel's height when it grows.
  window->setBounds(50, 40, 600, 500);
  EXPECT_TRUE(PumpUntil([&] { return movieArea().height == 375; }))
      << movieArea().height;

  int home = 0;
  window->onHome = [&home] { ++home; };
  // The Home button sits at the left of the panel's top strip.
  const int x = 50 + 30, y = 40 + 500 - DesktopWindow::kPanelHeight + 20;
  RunCommand("xdotool mousemove " + std::to_string(x) + " " +
             std::to_string(y) + " click 1");
  EXPECT_TRUE(PumpUntil([&] { return home == 1; }));

  window->setDebugPanelVisible(false);
  EXPECT_TRUE(PumpUntil([&] { return movieArea().height == 500; }));
}

TEST_F(WindowTest, BlackClientAreaOnTheScreen) {
  if (!HaveProgram("import")) GTEST_SKIP() << "ImageMagick's import is missing";
  window->setSizeable(false);
  window->setBounds(200, 150, 400, 300);
  window->show();
  placed(200, 150, 400, 300);
  const std::string file = ::testing::TempDir() + "zept-window.png";
  const auto sum = [](GdkPixbuf* picture, int x, int y) {
    const Rgb p = PixelAt(picture, x, y);
    return p.r + p.g + p.b;
  };
  GdkPixbuf* before = ScreenshotWhen(
      file, [&](GdkPixbuf* shot) { return sum(shot, 400, 300) > 300; });
  ASSERT_NE(before, nullptr);
  const Rgb theme = PixelAt(before, 400, 300);
  EXPECT_GT(theme.r + theme.g + theme.b, 300);  // the theme's light grey
  g_object_unref(before);

  window->setBlack();
  EXPECT_TRUE(window->state().black);
  GdkPixbuf* after = ScreenshotWhen(file, [&](GdkPixbuf* shot) {
    return sum(shot, 200, 150) + sum(shot, 400, 300) + sum(shot, 599, 449) == 0;
  });
  ASSERT_NE(after, nullptr);
  for (auto [x, y] : {std::pair{200, 150}, {400, 300}, {599, 449}}) {
    const Rgb p = PixelAt(after, x, y);
    EXPECT_EQ(p.r + p.g + p.b, 0) << x << "," << y;
  }
  const Rgb outside = PixelAt(after, 199, 300);
  EXPECT_NE(outside.r + outside.g + outside.b, 0);
  g_object_unref(after);
}

TEST_F(WindowTest, CloseRequestRunsTheHookAndCloseHides) {
  window->setBounds(0, 0, 320, 240);
  window->show();
  placed(0, 0, 320, 240);
  const unsigned long xid = XidOf(GTK_WIDGET(window->gtkWindow()));

  int requests = 0, closed = 0;
  window->onClosed = [&closed] { ++closed; };
  window->onCloseRequest = [&requests] { ++requests; };
  ASSERT_TRUE(SendCloseRequest(xid));
  EXPECT_TRUE(PumpUntil([&] { return requests == 1; }));
  // The hook decides: this one kept the window open.
  EXPECT_TRUE(Geometry(xid).viewable);
  EXPECT_FALSE(window->state().closed);

  window->onCloseRequest = [this] { window->close(); };
  ASSERT_TRUE(SendCloseRequest(xid));
  EXPECT_TRUE(PumpUntil([&] { return closed == 1; }));
  EXPECT_TRUE(window->state().closed);
  EXPECT_TRUE(PumpUntil([&] { return !Geometry(xid).viewable; }));
  window->close();  // once only
  EXPECT_EQ(closed, 1);
}

TEST_F(WindowTest, WithoutAHookTheCloseRequestCloses) {
  window->show();
  PumpUntil([&] { return XidOf(GTK_WIDGET(window->gtkWindow())) != 0; });
  bool closed = false;
  window->onClosed = [&closed] { closed = true; };
  ASSERT_TRUE(SendCloseRequest(XidOf(GTK_WIDGET(window->gtkWindow()))));
  EXPECT_TRUE(PumpUntil([&] { return closed; }));
}

}  // namespace
}  // namespace zept::desktop
