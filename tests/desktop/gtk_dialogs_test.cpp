#include "desktop/gtk_dialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "desktop/main_window.h"
#include "platform/codepage.h"
#include "tests/desktop/display.h"

namespace zept::desktop {
namespace {

namespace fs = std::filesystem;
using namespace testing;

TEST(FilterString, PairsOfNameAndPatterns) {
  const auto specs = ParseFilterString(u"PDF files|*.pdf|Pictures|*.png;*.JPG");
  ASSERT_EQ(specs.size(), 2u);
  EXPECT_EQ(specs[0].name, "PDF files");
  EXPECT_EQ(specs[0].patterns, std::vector<std::string>{"*.pdf"});
  EXPECT_EQ(specs[1].patterns, (std::vector<std::string>{"*.png", "*.JPG"}));
  // The shell's own: description and mask alike.
  EXPECT_EQ(ParseFilterString(u"*.txt|*.txt").at(0).name, "*.txt");
  EXPECT_TRUE(ParseFilterString(u"").empty());
  EXPECT_EQ(ParseFilterString(u"XML|*.xml|Unpaired").size(), 1u);
  EXPECT_TRUE(ParseFilterString(u"Empty||").empty());
}

TEST(FilterString, GlobsIgnoreCaseAndDefaultExtensionsAreAdded) {
  EXPECT_EQ(CaseInsensitiveGlob("*.pdf"), "*.[pP][dD][fF]");
  EXPECT_EQ(CaseInsensitiveGlob("a[bc]*.7z"), "[aA][bc]*.7[zZ]");
  EXPECT_EQ(WithDefaultExtension("/d/report", u".pdf"), "/d/report.pdf");
  EXPECT_EQ(WithDefaultExtension("/d/report", u"txt"), "/d/report.txt");
  EXPECT_EQ(WithDefaultExtension("/d/report.PDF", u".pdf"), "/d/report.PDF");
  EXPECT_EQ(WithDefaultExtension("/d.v2/report", u"pdf"), "/d.v2/report.pdf");
  EXPECT_EQ(WithDefaultExtension("/d/report", u""), "/d/report");
}

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZEPT_NEED_DISPLAY();
    if (!HaveProgram("xdotool")) GTEST_SKIP() << "xdotool is missing";
    window = std::make_unique<DesktopWindow>(nullptr);
    window->setCaption(u"Zept dialog test");
    dialogs = std::make_unique<GtkDialogs>(window.get());
    dialogs->onModal = [this](bool running) { modal.push_back(running); };
    folder = fs::path(::testing::TempDir()) /
             ("zept-dialogs-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    // A dialog that never answers is cancelled rather than hanging the test.
    watchdog = g_timeout_add_seconds(
        20,
        +[](gpointer self) {
          auto* test = static_cast<DialogsTest*>(self);
          test->dialogs->cancelAll();
          test->watchdog = 0;
          return G_SOURCE_REMOVE;
        },
        this);
    nameWatch = g_timeout_add(20, WatchName, this);
  }
  void TearDown() override {
    if (watchdog) g_source_remove(watchdog);
    if (nameWatch) g_source_remove(nameWatch);
    dialogs.reset();
    window.reset();
    fs::remove_all(folder);
    EXPECT_EQ(TakeWarnings(), std::vector<std::string>{});
  }
  // Waits for the dialog titled title, gives it the keyboard and runs the
  // steps: xdotool command lines, each run on its own so keys are typed on
  // the keyboard (XTEST), not sent to a window, or conditions.
  static std::vector<Driver::Step> Drive(const std::string& title,
                                         std::vector<Driver::Step> steps) {
    std::vector<Driver::Step> all{Focus(title)};
    for (Driver::Step& step : steps) {
      if (auto* command = std::get_if<std::string>(&step);
          command && command->rfind("until ", 0) != 0)
        *command = "xdotool " + *command;
      all.push_back(std::move(step));
    }
    return all;
  }
  // Without a window manager a new window gets the keyboard only when it is
  // given it. (xdotool's own search --sync polls twice a second.)
  static std::string Focus(const std::string& title) {
    return "until w=$(xdotool search --onlyvisible --name \"^" + title +
           "$\"); do sleep 0.05; done && xdotool windowfocus --sync "
           "${w%%[!0-9]*} sleep 0.1";
  }
  // The chooser's name field drops an Enter that comes right after typing,
  // while it still looks for completions (a person reads the name first):
  // the driver waits until the field has shown name for 400 ms.
  Driver::Step typed(const std::string& name) {
    expectedName = name;
    nameSettled = false;
    return [this] { return nameSettled.load(); };
  }
  static gboolean WatchName(gpointer self) {
    auto* test = static_cast<DialogsTest*>(self);
    std::string shown;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next) {
      if (GTK_IS_FILE_CHOOSER_DIALOG(w->data) &&
          gtk_widget_get_visible(GTK_WIDGET(w->data))) {
        gchar* name =
            gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(w->data));
        shown = name ? name : "";
        g_free(name);
      }
    }
    g_list_free(windows);
    const gint64 now = g_get_monotonic_time();
    if (shown.empty() || shown != test->expectedName) test->shownSince = now;
    if (now - test->shownSince >= 400000) test->nameSettled = true;
    return G_SOURCE_CONTINUE;
  }
  platform::DialogAnswer save(std::vector<Driver::Step> steps,
                              const WideString& name = u"") {
    Driver driver(Drive("Save As", std::move(steps)));
    const platform::DialogAnswer answer = dialogs->saveFile(
        u".pdf", u"*.pdf|*.pdf", name, Utf8ToWide(folder.string()));
    EXPECT_EQ(driver.status(), 0);
    return answer;
  }

  std::unique_ptr<DesktopWindow> window;
  std::unique_ptr<GtkDialogs> dialogs;
  std::vector<bool> modal;
  fs::path folder;
  guint watchdog = 0;
  guint nameWatch = 0;
  std::string expectedName;
  gint64 shownSince = 0;
  std::atomic<bool> nameSettled{false};
};

TEST_F(DialogsTest, SaveAddsTheDefaultExtensionOrCancels) {
  platform::DialogAnswer answer =
      save({"type --delay 10 report", typed("report"), "key Return"});
  EXPECT_TRUE(answer.ok);
  EXPECT_EQ(WideToUtf8(answer.file), (folder / "report.pdf").string());
  EXPECT_EQ(modal, (std::vector<bool>{true, false}));

  answer = save({"type --delay 10 report", typed("report"), "key Escape"});
  EXPECT_FALSE(answer.ok);
  EXPECT_TRUE(answer.file.empty());

  // The proposed name is taken as it stands, extension and all.
  answer = save({typed("notes.txt"), "key Return"}, u"notes.txt");
  EXPECT_EQ(WideToUtf8(answer.file), (folder / "notes.txt").string());
}

TEST_F(DialogsTest, SaveAsksBeforeReplacingTheFinalName) {
  std::ofstream(folder / "report.pdf") << "old";
  // Typed without its extension: the question is about report.pdf. Cancel
  // goes back to the chooser, which Escape then closes.
  Driver declined(
      Drive("Save As", {"type --delay 10 report", typed("report"), "key Return",
                        Focus("Confirm Save As"), "key Escape",
                        Focus("Save As"), "key Escape"}));
  platform::DialogAnswer answer =
      dialogs->saveFile(u"pdf", u"PDF|*.pdf", u"", Utf8ToWide(folder.string()));
  EXPECT_EQ(declined.status(), 0);
  EXPECT_FALSE(answer.ok);

  Driver replaced(
      Drive("Save As", {"type --delay 10 report", typed("report"), "key Return",
                        Focus("Confirm Save As"), "key Return"}));
  answer =
      dialogs->saveFile(u"pdf", u"PDF|*.pdf", u"", Utf8ToWide(folder.string()));
  EXPECT_EQ(replaced.status(), 0);
  EXPECT_TRUE(answer.ok);
  EXPECT_EQ(WideToUtf8(answer.file), (folder / "report.pdf").string());
  // The question inside the chooser is no second nested wait.
  EXPECT_EQ(modal, (std::vector<bool>{true, false, true, false}));
}

TEST_F(DialogsTest, ANameChosenBeforeOpensInItsFolder) {
  fs::create_directories(folder / "sub");
  Driver driver(Drive("Save As", {typed("r1.pdf"), "key Return"}));
  const platform::DialogAnswer answer = dialogs->saveFile(
      u".pdf", u"*.pdf|*.pdf", Utf8ToWide((folder / "sub" / "r1.pdf").string()),
      u"/nonexistent");
  EXPECT_EQ(driver.status(), 0);
  EXPECT_EQ(WideToUtf8(answer.file), (folder / "sub" / "r1.pdf").string());
}

TEST_F(DialogsTest, MessageBoxIsShownAndDismissed) {
  for (const char* key : {"Return", "Escape"}) {
    Driver driver(Drive("Zept dialog test", {std::string("key ") + key}));
    dialogs->showMessage(u"Cannot open C:\\doc.pdf");
    EXPECT_EQ(driver.status(), 0) << key;
  }
  EXPECT_EQ(modal, (std::vector<bool>{true, false, true, false}));
}

TEST_F(DialogsTest, PrintSetupChoosesADestination) {
  const std::vector<WideString> names{u"office", u"lab"};
  {
    Driver driver(Drive("Print Setup", {"key Down", "key Return"}));
    const platform::DialogAnswer answer = dialogs->printSetup(names, u"office");
    EXPECT_EQ(driver.status(), 0);
    EXPECT_TRUE(answer.ok);
    EXPECT_EQ(answer.file, u"lab");
  }
  {
    Driver driver(Drive("Print Setup", {"key Return"}));
    EXPECT_EQ(dialogs->printSetup(names, u"lab").file, u"lab");  // preselected
  }
  {
    Driver driver(Drive("Print Setup", {"key Escape"}));
    EXPECT_FALSE(dialogs->printSetup(names, u"office").ok);
  }
}

TEST_F(DialogsTest, CancelAllEndsTheRunningDialogAndLaterOnes) {
  g_timeout_add(
      200,
      +[](gpointer d) {
        static_cast<GtkDialogs*>(d)->cancelAll();
        return G_SOURCE_REMOVE;
      },
      dialogs.get());
  EXPECT_FALSE(dialogs->printSetup({u"office"}, u"office").ok);
  EXPECT_FALSE(
      dialogs->saveFile(u"pdf", u"", u"x", Utf8ToWide(folder.string())).ok);
  EXPECT_EQ(modal, (std::vector<bool>{true, false}));  // the second never ran
}

// At twice the text size, Save As still fits on the screen, whole.
TEST_F(DialogsTest, SaveAsFitsOnTheScreenWithLargeText) {
  GtkSettings* settings = gtk_settings_get_default();
  gint dpi = 0;
  g_object_get(settings, "gtk-xft-dpi", &dpi, nullptr);
  g_object_set(settings, "gtk-xft-dpi", 2 * (dpi > 0 ? dpi : 96 * 1024),
               nullptr);
  const std::string inside =
      "until w=$(xdotool search --onlyvisible --name \"^Save As$\"); do sleep "
      "0.05; done; sleep 0.5; eval $(xdotool getwindowgeometry --shell "
      "${w%%[!0-9]*}); set -- $(xdotool getdisplaygeometry); "
      "[ $X -ge 0 ] && [ $Y -ge 0 ] && [ $((X + WIDTH)) -le $1 ] && "
      "[ $((Y + HEIGHT)) -le $2 ] || { echo Save As at $X,$Y ${WIDTH}x$HEIGHT "
      ">&2; exit 1; }";
  const platform::DialogAnswer answer = save({inside, "key Escape"});
  g_object_set(settings, "gtk-xft-dpi", dpi, nullptr);
  EXPECT_FALSE(answer.ok);
}

// The keyboard focus of the boxes' buttons is a solid ring of 2 px at
// 3:1 at least against the dialog's background (the theme's own is a
// dotted 1 px line at under 2:1).
double Luminance(const GdkRGBA& c) {
  const auto channel = [](double v) {
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c.red) + 0.7152 * channel(c.green) +
         0.0722 * channel(c.blue);
}

TEST_F(DialogsTest, FocusRingsAreSolidAndStandOut) {
  GtkWidget* box =
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO,
                             GTK_BUTTONS_OK, "%s", "Focus");
  GtkWidget* button =
      gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  gtk_widget_show_all(box);
  gtk_widget_grab_focus(button);
  PumpFor(100);
  GtkStyleContext* style = gtk_widget_get_style_context(button);
  const GtkStateFlags state = GtkStateFlags(gtk_style_context_get_state(style) |
                                            GTK_STATE_FLAG_FOCUSED);
  GdkRGBA* ring = nullptr;
  int width = 0;
  GtkBorderStyle line = GTK_BORDER_STYLE_NONE;
  gtk_style_context_get(style, state, "outline-color", &ring, "outline-width",
                        &width, "outline-style", &line, nullptr);
  GdkRGBA* under = nullptr;
  gtk_style_context_get(gtk_widget_get_style_context(box),
                        GTK_STATE_FLAG_NORMAL, "background-color", &under,
                        nullptr);
  ASSERT_TRUE(ring && under);
  const double a = Luminance(*ring), b = Luminance(*under);
  EXPECT_GE((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05), 3.0);
  EXPECT_GE(ring->alpha, 0.99);
  EXPECT_GE(width, 2);
  EXPECT_EQ(line, GTK_BORDER_STYLE_SOLID);
  gdk_rgba_free(ring);
  gdk_rgba_free(under);
  gtk_widget_destroy(box);
}

}  // namespace
}  // namespace zept::desktop
