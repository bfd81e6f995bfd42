// The course folder chooser, driven with the keyboard on the private X
// server: in process with a check of the test's own, then as zept shows it
// when it is started with no course in its folder.

#include "desktop/course_chooser.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

#include "tests/desktop/display.h"

namespace zept::desktop {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// Without a window manager a new window gets the keyboard only when it is
// given it.
std::string Focus(const std::string& title) {
  return "until w=$(xdotool search --onlyvisible --name \"^" + title +
         "$\"); do sleep 0.05; done && xdotool windowfocus --sync "
         "${w%%[!0-9]*} sleep 0.1";
}

class CourseChooserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZEPT_NEED_DISPLAY();
    if (!HaveProgram("xdotool")) GTEST_SKIP() << "xdotool is missing";
    char pattern[] = "/tmp/zept-chooser-XXXXXX";
    root = ::mkdtemp(pattern);
    fs::create_directories(root / "course");
    fs::create_directories(root / "other");
    // Answers the chooser cannot get are cancelled rather than hanging.
    watchdog = g_timeout_add_seconds(20, CancelAll, nullptr);
    watch = g_timeout_add(20, Watch, this);
  }
  void TearDown() override {
    if (watchdog) g_source_remove(watchdog);
    if (watch) g_source_remove(watch);
    if (!root.empty()) fs::remove_all(root);
    EXPECT_EQ(TakeWarnings(), std::vector<std::string>{});
  }

  static gboolean CancelAll(gpointer) {
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next) {
      if (GTK_IS_DIALOG(w->data))
        gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_CANCEL);
    }
    g_list_free(windows);
    return G_SOURCE_CONTINUE;
  }
  // What the chooser's location field shows and the text of a message box
  // on the screen, published for the driver's thread.
  static gboolean Watch(gpointer self) {
    auto* test = static_cast<CourseChooserTest*>(self);
    std::string field;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next) {
      if (!gtk_widget_get_visible(GTK_WIDGET(w->data))) continue;
      if (GTK_IS_FILE_CHOOSER_DIALOG(w->data)) {
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(w->data));
        if (focus && GTK_IS_ENTRY(focus) && gtk_widget_get_mapped(focus)) {
          field = gtk_entry_get_text(GTK_ENTRY(focus));
        }
      }
      if (GTK_IS_MESSAGE_DIALOG(w->data)) {
        gchar* text = nullptr;
        g_object_get(w->data, "text", &text, nullptr);
        std::lock_guard<std::mutex> hold(test->lock);
        if (text && (test->messages.empty() || test->messages.back() != text))
          test->messages.push_back(text);
        g_free(text);
      }
    }
    g_list_free(windows);
    std::lock_guard<std::mutex> hold(test->lock);
    if (!test->clipboard.empty()) {
      gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD),
                             test->clipboard.c_str(), -1);
      test->clipboard.clear();
    }
    if (field != test->shown) {
      test->shown = field;
      test->shownSince = g_get_monotonic_time();
    }
    return G_SOURCE_CONTINUE;
  }
  // The path pasted into the chooser's location field (Ctrl+L, Ctrl+V), as
  // from a file manager: typed key by key, the field's completions race the
  // keys. The driver then waits until the field has shown it for 400 ms: an
  // Enter that comes while the field still looks for completions is
  // dropped.
  std::vector<Driver::Step> pastePath(const fs::path& path) {
    const std::string text = path.string() + "/";
    std::vector<Driver::Step> steps = paste(text);
    steps.push_back(std::function<bool()>([this, text] {
      std::lock_guard<std::mutex> hold(lock);
      return shown == text && g_get_monotonic_time() - shownSince >= 400000;
    }));
    return steps;
  }
  // Puts text on the clipboard (from the test's main loop, which also
  // answers the requests for it) and pastes it into the location field.
  std::vector<Driver::Step> paste(const std::string& text) {
    return {std::function<bool()>([this, text] {
              std::lock_guard<std::mutex> hold(lock);
              clipboard = text;
              return true;
            }),
            std::function<bool()>([this] {
              std::lock_guard<std::mutex> hold(lock);
              return clipboard.empty();
            }),
            "xdotool key ctrl+l ctrl+v"};
  }
  // The check zept makes, in short: "course" is the only course.
  std::string check(const std::string& folder) {
    asked.push_back(folder);
    return fs::path(folder) == root / "course"
               ? ""
               : "\u201C" + folder + "\u201D is not a course folder";
  }
  std::optional<std::string> choose(std::vector<Driver::Step> steps) {
    steps.insert(steps.begin(), Focus(kCourseChooserTitle));
    Driver driver(std::move(steps));
    const std::optional<std::string> chosen = ChooseCourseFolder(
        [this](const std::string& folder) { return check(folder); });
    EXPECT_EQ(driver.status(), 0);
    return chosen;
  }

  fs::path root;
  guint watchdog = 0, watch = 0;
  std::vector<std::string> asked;
  std::mutex lock;
  std::string clipboard;  // to be put on the clipboard
  std::string shown;
  gint64 shownSince = 0;
  std::vector<std::string> messages;
};

TEST_F(CourseChooserTest, APastedCourseFolderIsChosen) {
  std::vector<Driver::Step> steps = pastePath(root / "course");
  steps.push_back("xdotool key Return");
  EXPECT_EQ(choose(steps), (root / "course").string());
  EXPECT_EQ(asked, std::vector<std::string>{(root / "course").string()});
  EXPECT_TRUE(messages.empty());
}

TEST_F(CourseChooserTest, AFolderThatIsNoCourseIsNamedThenTheChooserAsksAgain) {
  std::vector<Driver::Step> steps = pastePath(root / "other");
  steps.push_back("xdotool key Return");
  steps.push_back(Focus("Zept"));
  steps.push_back("xdotool key Return");  // the message's OK
  steps.push_back(Focus(kCourseChooserTitle));
  for (Driver::Step& step : pastePath(root / "course"))
    steps.push_back(std::move(step));
  steps.push_back("xdotool key Return");
  EXPECT_EQ(choose(steps), (root / "course").string());
  EXPECT_EQ(asked, (std::vector<std::string>{(root / "other").string(),
                                             (root / "course").string()}));
  std::lock_guard<std::mutex> hold(lock);
  EXPECT_EQ(messages,
            std::vector<std::string>{"\u201C" + (root / "other").string() +
                                     "\u201D is not a course folder"});
}

TEST_F(CourseChooserTest, EscapeCancels) {
  EXPECT_EQ(choose({"xdotool key Escape"}), std::nullopt);
  EXPECT_TRUE(asked.empty());
}

// zept itself, started as the desktop entry starts it: no course beside
// build/zept and no --program-folder.
class ChooserAtStartTest : public CourseChooserTest {
 protected:
  // Starts zept with its output going to a file, with environment added;
  // runs steps meanwhile, turning this process's main loop (it serves the
  // clipboard); returns the exit status, or -1 when it has not ended within
  // 90 s (the emulator compiles slowly under the sanitizers on a busy
  // machine). Under LeakSanitizer, its note of the suppressions used is left
  // out of the output.
  int run(std::vector<Driver::Step> steps,
          const std::string& environment = "") {
    output = root / "zept.out";
    const std::string command =
        "LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}print_suppressions=0 "
        "ZEPT_REGISTRY_DIR=" +
        (root / "registry").string() + " NO_AT_BRIDGE=1 " + environment +
        " exec " ZEPT_BINARY " >" + output.string() + " 2>&1";
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
      ::_exit(127);
    }
    Driver driver(std::move(steps));
    int status = -1;
    const bool ended = PumpUntil(
        [&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 90000);
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(driver.status(), 0);
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string text() const {
    std::ifstream in(output);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path output;
};

// The movie page starts loading while the chooser is open, so WebKit's
// process-long allocations are there at exit, as below.
TEST_F(ChooserAtStartTest, CancelEndsTheProgramQuietly) {
  EXPECT_EQ(run({Focus(kCourseChooserTitle), "xdotool key Escape"},
                "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"),
            0);
  EXPECT_EQ(text(), "");
}

TEST_F(ChooserAtStartTest, TheChosenCourseIsPlayedAfterAFolderThatIsNone) {
  fs::copy(ZEPT_SOURCE_DIR "/examples/demo-course", root / "course",
           fs::copy_options::recursive);
  std::vector<Driver::Step> steps{Focus(kCourseChooserTitle)};
  for (const fs::path& folder : {root / "other", root / "course"}) {
    for (Driver::Step& step : paste(folder.string() + "/"))
      steps.push_back(std::move(step));
    // The message about "other" is answered.
    if (folder == root / "other") {
      steps.insert(steps.end(),
                   {ReturnUntil(Visible("Zept")), Focus("Zept"),
                    "xdotool key Return", Focus(kCourseChooserTitle)});
    } else {
      steps.push_back(ReturnUntil("! " + Visible(kCourseChooserTitle)));
    }
  }
  // The course's window, titled by its launch settings, shows; SIGTERM
  // ends zept as a desktop session does.
  steps.push_back(
      "w=$(xdotool search --sync --onlyvisible --name \"^Fire safety at "
      "work$\") && kill -TERM $(xdotool getwindowpid ${w%%[!0-9]*})");
  // WebKit's JavaScriptCore and GLib keep allocations for the life of the
  // process that LeakSanitizer reports at exit; the chooser's own are
  // checked in process above.
  EXPECT_EQ(
      run(steps, "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"),
      0)
      << text();
  EXPECT_EQ(text().find("error"), std::string::npos) << text();
}

}  // namespace
}  // namespace zept::desktop
