#include "app/zept_desktop.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/shell_lrs.h"
#include "desktop/bridge_movie.h"
#include "desktop/course_instance.h"
#include "desktop/glib_timers.h"
#include "desktop/gtk_dialogs.h"
#include "desktop/main_window.h"
#include "desktop/page.h"
#include "desktop/ruffle_host.h"
#include "desktop/signals.h"
#include "platform/codepage.h"
#include "platform/posix/posix.h"
#include "shell/UnitZept.h"
#include "util/file_io.h"

namespace zept {

namespace {

// How long the page may take to load the emulator's script.
constexpr int kPageLoadMs = 60000;
// How long the loading note may stay when the menu never shows, and the
// picture of a movie that goes when the next never gets ready.
constexpr int kNoteMaxMs = 15000;
constexpr int kHoldMaxMs = 5000;
// How many ticks of the movie watch (30 ms) a movie is given to be drawn
// at its pinned size.
constexpr int kPinnedFrames = 3;

// Runs action once, ms milliseconds from now, from the main loop.
void RunLater(guint ms, std::function<void()>* action) {
  g_timeout_add(
      ms,
      [](gpointer again) -> gboolean {
        (*static_cast<std::function<void()>*>(again))();
        return G_SOURCE_REMOVE;
      },
      action);
}

// The stage colour of the menu movie (0xRRGGBB), black when it cannot be
// read, as the window is between movies.
unsigned MenuColour(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(1 << 16, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  const std::optional<desktop::SwfStage> stage = desktop::ReadSwfStage(head);
  if (!stage) return 0;
  return (unsigned{stage->red} << 16) | (unsigned{stage->green} << 8) |
         stage->blue;
}

bool HasEmulator(const std::filesystem::path& folder) {
  std::error_code error;
  return std::filesystem::is_regular_file(folder / "ruffle.js", error);
}

}  // namespace

std::string FindRuffleDir(const std::string& programPath) {
  if (const char* dir = std::getenv("ZEPT_RUFFLE_DIR"); dir && *dir)
    return HasEmulator(dir) ? std::string(dir) : "";
  const std::filesystem::path bin =
      std::filesystem::path(programPath).parent_path();
  for (const std::filesystem::path& candidate :
       {bin / "ruffle", bin.parent_path() / "share" / "zept" / "ruffle"}) {
    if (HasEmulator(candidate)) return candidate.lexically_normal().string();
  }
  return "";
}

std::string FindMediaExtensionDir(const std::string& programPath) {
  const auto holds = [](const std::filesystem::path& dir) {
    std::error_code error;
    return std::filesystem::is_regular_file(dir / "libzept-media.so", error);
  };
  if (const char* dir = std::getenv("ZEPT_WEB_EXTENSIONS_DIR"); dir && *dir)
    return holds(dir) ? std::filesystem::absolute(dir).string() : "";
  const std::filesystem::path bin =
      std::filesystem::absolute(programPath).parent_path();
  for (const std::filesystem::path& candidate :
       {bin / "web-extensions",
        bin.parent_path() / "lib" / "zept" / "web-extensions"}) {
    if (holds(candidate)) return candidate.lexically_normal().string();
  }
  return "";
}

int RunDesktop(Context& ctx, const WideString& programFolder,
               desktop::MoviePage& page,
               const std::function<void(const WideString&)>& print,
               const std::string& lrsOption) {
  std::string root = WideToUtf8(programFolder);
  if (root.size() > 1 && root.back() == '/') root.pop_back();
  // One window per course: a second start on it brings the first forward.
  // Without a session bus each start plays on its own, as it always did;
  // the learner's store is kept safe by its lock either way.
  std::error_code error;
  const std::filesystem::path canonical =
      std::filesystem::canonical(root, error);
  desktop::CourseInstance instance(error ? root : canonical.string());
  if (instance.role() == desktop::CourseInstance::Role::Forwarded) {
    TraceMessage(ctx, u"zept > the course is open already");
    print(u"The course in " + Utf8ToWide(root) +
          u" is already open: its window was brought forward.");
    return 0;
  }

  desktop::DesktopWindow window(print);
  instance.onActivate = [&] {
    TraceMessage(ctx, u"zept > another start brings the window forward");
    window.present();
  };
  desktop::GtkDialogs dialogs(&window);
  desktop::GLibTimers timers;
  page.addRoot(root);
  gtk_container_add(GTK_CONTAINER(window.movieArea()), page.widget());
  // A movie file that cannot be played is named in the journal and the
  // trace log: the emulator would fail on it without a word.
  desktop::RuffleHostFactory movies(page, [&](const WideString& line) {
    window.appendJournal(line);
    WriteTrace(ctx, u"TFlashPlayerControl", u"setMovie", line, 1, u"Error");
  });

  // Timers wait while the program waits on the page or on a dialog: the
  // core is never entered twice.
  int holds = 0;
  const auto hold = [&](bool on) {
    holds += on ? 1 : -1;
    timers.setHeld(holds > 0);
  };
  page.onBusy = hold;
  dialogs.onModal = hold;

  auto reportError = [&print](const std::exception& e) {
    print(u"error: " + Utf8ToWide(e.what()));
  };
  timers.onError = reportError;
  auto shell = platform::NewXdgShellOpen();
  auto printers = platform::NewCupsPrinters();
  TraceMessage(ctx, u"zept > CreateForm");
  auto form = std::make_unique<TFormZept>(
      TFormZept::Services{ctx, window, movies, timers, dialogs, reportError,
                          *printers, *shell, platform::DefaultPaperInches(),
                          print},
      programFolder);

  // The course's results go to the LRS while the learner plays; what the
  // sending thread says reaches the journal from here.
  ShellLrs lrs(
      ctx, lrsOption, root,
      [&window](const WideString& line) { window.appendJournal(line); }, true);
  lrs.attach(form->Api);
  std::function<void()> pollLrs = [&lrs] { lrs.poll(); };
  const guint lrsWatch =
      lrs.active() ? g_timeout_add(
                         1000,
                         [](gpointer poll) -> gboolean {
                           (*static_cast<std::function<void()>*>(poll))();
                           return G_SOURCE_CONTINUE;
                         },
                         &pollLrs)
                   : 0;

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  window.onClosed = [loop] { g_main_loop_quit(loop); };
  // True when the core is free; otherwise action runs again a moment later:
  // like a timer, what the learner or the system asks never enters the core
  // while the program waits on the page or on a dialog.
  const auto coreFree = [&](std::function<void()>* action) {
    if (!page.busy() && holds == 0) return true;
    RunLater(20, action);
    return false;
  };
  // Closing other than by "sendQuit" keeps an open session's progress.
  std::function<void()> closeWindow = [&] {
    if (!coreFree(&closeWindow) || window.state().closed) return;
    try {
      form->FormClose();
    } catch (const std::exception& e) {
      reportError(e);
    }
    window.close();
  };
  // A dialog left open would hold the end for ever: the learner asked to
  // quit, so it is cancelled, and the session is kept as on any close.
  const std::function<void()> quit = [&] {
    dialogs.cancelAll();
    closeWindow();
  };
  window.onCloseRequest = quit;
  std::function<void()> home = [&] {
    if (coreFree(&home) && !window.state().closed) form->ButtonBackZeptClick();
  };
  window.onHome = [&] { home(); };

  // The page's web process can end under the course (a crash, out of
  // memory, killed): the program stays, keeps the learner's progress at
  // once, says so, and starts the menu on a new page. Like a timer, this
  // waits until the core is not entered.
  std::function<void()> recover = [&] {
    if (!coreFree(&recover) || window.state().closed || !page.processEnded())
      return;
    const bool stored = form->StoreOpenSession();
    TraceMessage(ctx, stored ? u"zept > the open session is stored"
                             : u"zept > no session was open");
    dialogs.showMessage(
        stored ? u"The course stopped unexpectedly. Your progress is saved; "
                 u"the course starts again at its menu."
               : u"The course stopped unexpectedly and starts again at its "
                 u"menu.");
    if (window.state().closed) return;
    if (!page.load(kPageLoadMs)) {
      window.appendJournal(u"error: the movie page could not be loaded again");
      return;
    }
    form->RestartMenu();
  };
  page.onWarning = [&](const std::string& line) {
    window.appendJournal(u"page: " + Utf8ToWide(line));
  };
  page.onProcessEnded = [&](const std::string& reason) {
    const WideString line =
        u"The movie page's process ended (" + Utf8ToWide(reason) + u")";
    window.appendJournal(line);
    TraceMessage(ctx, u"zept > " + line);
    RunLater(0, &recover);
  };
  auto signals = desktop::InstallQuitSignals(quit);

  // The window shows at once where the menu will play, in the menu's
  // colour, and stays responsive while the emulator finishes compiling.
  form->placeMenuWindow();
  window.showLoading(MenuColour(root + "/cdrom/cdrom.swf"),
                     u"Loading the course\u2026");
  window.show();
  if (!page.waitReady(kPageLoadMs)) {
    std::fprintf(stderr, "zept: %s\n", page.loadError().c_str());
    g_main_loop_unref(loop);
    return 1;
  }
  TraceMessage(ctx, u"zept > Run");
  // A quit signal kept from start-up may have closed the window meanwhile.
  if (!window.state().closed) form->FormShow();
  // The loading note goes once the menu is there to be seen; between two
  // movies the window keeps the last picture, place and size of the one
  // that goes until the next is ready. Either way, whatever happens to the
  // movie, only for a while.
  const gint64 noteUntil = g_get_monotonic_time() + kNoteMaxMs * 1000;
  int status = 0;
  enum class Change {
    none,
    held,
    pinned,
    resizing,
    drawing
  } change = Change::none;
  int ticks = 0;
  window.holdOnPlacement(true);
  movies.onMovieStarting = [&] {
    if (window.loading()) return;
    window.hold();
    change = Change::none;
  };
  // Once the next movie is ready it is drawn, under the picture, at the
  // size the window is about to take (pinned); a few frames later the
  // window takes its place and size and the movie's background replaces the
  // picture, in one step; once the page has been drawn at that size, the
  // movie shows and the movies fill the page again.
  const auto pin = [&](std::vector<std::string> size) {
    size.insert(size.begin(), {"pin", ""});
    try {
      page.op(size);
    } catch (const std::exception&) {
    }
  };
  const auto drawn = [&] {
    const auto [width, height] = movies.newestMovieSize();
    try {
      return page.op({"drawn", "", std::to_string(width),
                      std::to_string(height)}) == "1";
    } catch (const std::exception&) {
      return true;
    }
  };
  std::function<void()> watchMovies = [&] {
    const gint64 now = g_get_monotonic_time();
    const bool free = !page.busy() && holds == 0;
    // The first movie compiles the emulator: one that cannot start stops
    // the program, naming what it lacks.
    if (window.loading() && free) {
      const std::string failure = page.emulatorFailure();
      if (!failure.empty()) {
        std::fprintf(stderr, "zept: %s\n", failure.c_str());
        status = 1;
        window.close();
        return;
      }
    }
    if (window.loading() &&
        (now > noteUntil || (free && movies.shownMovieReady())))
      window.hideLoading();
    if (!free) return;
    if (change == Change::none && window.held()) change = Change::held;
    if (change == Change::held &&
        now > window.heldSince() + kHoldMaxMs * 1000) {
      window.release(movies.newestMovieBackground());
      window.uncover();
      change = Change::none;
    } else if (change == Change::held && movies.newestMovieReady()) {
      const auto [width, height] = movies.newestMovieSize();
      if (width > 0 && height > 0)
        pin({std::to_string(width), std::to_string(height)});
      change = Change::pinned;
      ticks = 0;
    } else if (change == Change::pinned && ++ticks >= kPinnedFrames) {
      window.release(movies.newestMovieBackground());
      change = Change::resizing;
      ticks = 0;
    } else if (change == Change::resizing &&
               (!window.resizing() || ++ticks > 30)) {
      window.showMovies();
      change = Change::drawing;
      ticks = 0;
    } else if (change == Change::drawing && (drawn() || ++ticks > 30)) {
      window.uncover();
      pin({});
      change = Change::none;
    }
  };
  const guint moviesWatch = g_timeout_add(
      30,
      [](gpointer watch) -> gboolean {
        (*static_cast<std::function<void()>*>(watch))();
        return G_SOURCE_CONTINUE;
      },
      &watchMovies);
  if (!window.state().closed) g_main_loop_run(loop);
  g_source_remove(moviesWatch);
  if (lrsWatch) g_source_remove(lrsWatch);
  movies.onMovieStarting = nullptr;
  lrs.end(form->Api);
  form.reset();  // the movies go before the page
  g_main_loop_unref(loop);
  return status;
}

}  // namespace zept
