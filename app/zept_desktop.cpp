#include "app/zept_desktop.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>

#include "desktop/dialogs.h"
#include "desktop/main_window.h"
#include "desktop/page.h"
#include "desktop/ruffle_host.h"
#include "desktop/signals.h"
#include "desktop/timers.h"
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
  desktop::DesktopWindow window(print);
  desktop::GtkDialogs dialogs(&window);
  desktop::GLibTimers timers;
  std::string root = WideToUtf8(programFolder);
  if (root.size() > 1 && root.back() == '/') root.pop_back();
  desktop::MoviePage page(ruffleDir, {root});
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

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  window.onClosed = [loop] { g_main_loop_quit(loop); };
  // Closing other than by "sendQuit" keeps an open session's progress.
  std::function<void()> closeWindow = [&] {
    if (page.busy() || holds > 0) {
      g_timeout_add(
          20,
          [](gpointer close) -> gboolean {
            (*static_cast<std::function<void()>*>(close))();
            return G_SOURCE_REMOVE;
          },
          &closeWindow);
      return;
    }
    if (window.state().closed) return;
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
  window.onHome = [&] { form->ButtonBackZeptClick(); };
  auto signals = desktop::InstallQuitSignals(quit);

  if (!page.load(kPageLoadMs)) {
    std::fprintf(stderr, "zept: %s\n", page.loadError().c_str());
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
