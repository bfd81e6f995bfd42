#include "app/zept_desktop.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>

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
constexpr int kPageLoadMs = 30000;

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

int RunDesktop(Context& ctx, const WideString& programFolder,
               const std::string& ruffleDir,
               const std::function<void(const WideString&)>& print) {
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
  desktop::MoviePage page(ruffleDir, {root});
  gtk_container_add(GTK_CONTAINER(window.movieArea()), page.widget());
  desktop::RuffleHostFactory movies(page);

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

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  window.onClosed = [loop] { g_main_loop_quit(loop); };
  // True when the core is free; otherwise action runs again a moment later:
  // like a timer, what the learner or the system asks never enters the core
  // while the program waits on the page or on a dialog.
  const auto coreFree = [&](std::function<void()>* action) {
    if (!page.busy() && holds == 0) return true;
    g_timeout_add(
        20,
        [](gpointer again) -> gboolean {
          (*static_cast<std::function<void()>*>(again))();
          return G_SOURCE_REMOVE;
        },
        action);
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
    g_idle_add(
        [](gpointer again) -> gboolean {
          (*static_cast<std::function<void()>*>(again))();
          return G_SOURCE_REMOVE;
        },
        &recover);
  };
  auto signals = desktop::InstallQuitSignals(quit);

  if (!page.load(kPageLoadMs)) {
    std::fprintf(stderr,
                 "zept: the movie page could not load the Flash "
                 "emulator from %s\n",
                 ruffleDir.c_str());
    g_main_loop_unref(loop);
    return 1;
  }
  TraceMessage(ctx, u"zept > Run");
  window.show();
  form->FormShow();
  if (!window.state().closed) g_main_loop_run(loop);
  form.reset();  // the movies go before the page
  g_main_loop_unref(loop);
  return 0;
}

}  // namespace zept
