#include "app/zept_package.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "desktop/course_instance.h"
#include "desktop/gtk_dialogs.h"
#include "desktop/main_window.h"
#include "desktop/package_view.h"
#include "desktop/signals.h"
#include "engine/pdf.h"
#include "moviehost/headless.h"
#include "platform/codepage.h"
#include "platform/posix/posix.h"
#include "report/ReportPrinter.h"
#include "scorm/manifest.h"
#include "scorm/player.h"
#include "scorm/progress_store.h"
#include "scorm/results.h"
#include "util/file_io.h"

namespace zept {

namespace {

// How often what a SCO set is stored while it plays, and how long its page
// is given to unload (its handlers calling the API) when the learner leaves.
constexpr guint kStoreEveryMs = 60000;
constexpr gint64 kUnloadMs = 3000;
constexpr int kPageLoadMs = 60000;

void Note(Context& ctx, const std::function<void(const WideString&)>& print,
          const std::string& line) {
  print(Utf8ToWide(line));
  TraceMessage(ctx, u"zept > " + Utf8ToWide(line));
}

// Turns the main loop until done() holds or ms have passed.
void PumpUntil(const std::function<bool()>& done, gint64 ms) {
  const gint64 until = g_get_monotonic_time() + ms * 1000;
  // A tick, so that waiting never outlasts the deadline for want of events.
  const guint tick = g_timeout_add(
      20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!done() && g_get_monotonic_time() < until)
    g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
}

}  // namespace

bool IsPackagePath(const std::string& nativePath) {
  std::error_code error;
  const std::filesystem::path path(nativePath);
  if (std::filesystem::is_regular_file(path, error)) return true;
  return std::filesystem::is_regular_file(path / "imsmanifest.xml", error) &&
         !std::filesystem::exists(path / "cdrom" / "cdrom.swf", error);
}

std::unique_ptr<scorm::PackageFiles> OpenPackage(
    const std::string& nativePath) {
  std::error_code error;
  if (std::filesystem::is_directory(nativePath, error))
    return scorm::OpenFolderPackage(nativePath);
  return scorm::OpenZipPackage(nativePath);
}

int RunPackage(Context& ctx, const std::string& path, desktop::MoviePage& page,
               const PackageRunOptions& options,
               const std::function<void(const WideString&)>& print) {
  const gint64 startedAt = options.startedAt;
  // Said where the learner looks, as well as on the terminal.
  const auto fail = [&](const std::string& message) {
    std::fprintf(stderr, "zept: %s\n", message.c_str());
    desktop::GtkDialogs(nullptr).showMessage(Utf8ToWide(message));
    return 1;
  };
  std::unique_ptr<scorm::PackageFiles> opened;
  try {
    opened = OpenPackage(path);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  scorm::PackageFiles& files = *opened;
  scorm::Manifest manifest;
  std::string key;
  std::unique_ptr<scorm::ProgressStore> store;
  try {
    const std::optional<std::string> bytes = files.read("imsmanifest.xml");
    if (!bytes)
      return fail(files.location() +
                  " is not a SCORM package: it has no "
                  "imsmanifest.xml");
    try {
      manifest = scorm::ReadManifest(*bytes);
    } catch (const scorm::EManifestError& e) {
      return fail(files.location() + "/imsmanifest.xml: " + e.what());
    }
    // Its SCOs would find no API of their version and play untracked.
    if (!manifest.scorm2004.empty())
      return fail(files.location() + " is a SCORM 2004 package (" +
                  manifest.scorm2004 +
                  "). zept plays SCORM 1.2 packages only, so it is not "
                  "opened: the learner's progress in it would not be "
                  "recorded.");
    key = scorm::PackageKey(files);
    store = std::make_unique<scorm::ProgressStore>(
        scorm::StorePath(scorm::DataFolder(ctx.platform.folders), key));
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  for (const std::string& line : files.warnings())
    Note(ctx, print, files.location() + ": " + line);
  for (const std::string& line : manifest.problems)
    Note(ctx, print, "imsmanifest.xml: " + line);

  // One window per package: a second start brings the first forward.
  desktop::CourseInstance instance("package/" + key);
  if (instance.role() == desktop::CourseInstance::Role::Forwarded) {
    print(u"The package " + Utf8ToWide(files.location()) +
          u" is already open: its window was brought forward.");
    return 0;
  }

  desktop::DesktopWindow window(print);
  instance.onActivate = [&] { window.present(); };
  desktop::GtkDialogs dialogs(&window);
  window.setCaption(
      Utf8ToWide(manifest.title.empty() ? "zept" : manifest.title));
  window.setSizeable(true);
  const int width = std::min(1024, window.screenWidth());
  const int height = std::min(768, window.screenHeight() - 64);
  window.setBounds((window.screenWidth() - width) / 2,
                   (window.screenHeight() - height) / 2, width, height);
  gtk_container_add(GTK_CONTAINER(window.movieArea()), page.widget());
  desktop::ConnectPackageView(WEBKIT_WEB_VIEW(page.widget()),
                              window.gtkWindow(), nullptr);
  desktop::LetPackageViewDraw(WEBKIT_WEB_VIEW(page.widget()));

  scorm::Player player(manifest, *store,
                       {options.strict, options.learner, options.item});
  player.onNote = [&](const std::string& line) { Note(ctx, print, line); };
  player.onProblem = [&](const std::string& message) {
    print(u"error: " + Utf8ToWide(message));
    WriteTrace(ctx, u"zept", u"store", Utf8ToWide(message), 1, u"Error");
  };
  // A learner's progress is written by one process at a time.
  std::unique_ptr<platform::HeldLock> learnerLock;
  player.onTakeLearner = [&](const std::string& login, std::string& why) {
    std::unique_ptr<platform::HeldLock> lock;
    try {
      lock = ctx.platform.locks.tryLock(
          Utf8ToWide("package-" + key + "-" + login), 0);
    } catch (const std::exception& e) {
      Note(ctx, print, e.what());
      return true;  // nothing to lock with: as before locks existed
    }
    if (!lock) {
      why = login +
            "'s progress in this course is open in another zept "
            "window. Close it there first, or choose another learner.";
      return false;
    }
    learnerLock = std::move(lock);
    return true;
  };
  std::string summaries;
  player.onSessionSummary = [&](const std::string& title,
                                const std::string& summary) {
    summaries += "Conformance of " + title + ":\n" + summary;
    if (!summaries.empty() && summaries.back() != '\n') summaries += '\n';
  };

  // Packages made on systems whose names ignore case refer to "Index.html"
  // for "index.html": a name not found as written is looked up that way.
  std::map<std::string, std::string> byLowerName;
  const auto lower = [](std::string name) {
    for (char& c : name)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
  };
  const auto locate =
      [&](const std::string& asked) -> std::optional<std::string> {
    if (files.exists(asked)) return asked;
    if (byLowerName.empty())
      for (const scorm::PackageEntry& entry : files.entries())
        byLowerName.emplace(lower(entry.path), entry.path);
    const auto it = byLowerName.find(lower(asked));
    if (it == byLowerName.end()) return std::nullopt;
    return it->second;
  };
  player.hasFile = [&](const std::string& path) {
    return locate(path).has_value();
  };
  page.onPackageFile = [&](const std::string& asked)
      -> std::optional<desktop::MoviePage::PackageFile> {
    const std::optional<std::string> found = locate(asked);
    if (!found) return std::nullopt;
    const std::string& path = *found;
    desktop::MoviePage::PackageFile file;
    file.nativeFile = files.nativeFile(path);
    if (!file.nativeFile.empty()) return file;
    std::optional<std::string> bytes = files.read(path);
    if (!bytes) return std::nullopt;
    file.bytes = std::move(*bytes);
    return file;
  };

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  window.onClosed = [loop] { g_main_loop_quit(loop); };
  bool leaving = false;
  // Every way out unloads the SCO's page first, so that its own unload
  // handlers reach the runtime, then stores whatever is still open.
  const std::function<void()> finish = [&] {
    if (leaving || window.state().closed) return;
    leaving = true;
    dialogs.cancelAll();
    if (!player.playing().empty() && !page.processEnded()) {
      page.runScript("window.zeptLeave && zeptLeave()");
      PumpUntil([&] { return player.playing().empty(); }, kUnloadMs);
    }
    player.leave();
    window.close();
  };
  std::function<void()> finishLater = finish;
  std::function<std::string(const std::vector<std::string>&)> answer =
      [&](const std::vector<std::string>& message) {
        if (!message.empty() && message[0] == "exit") {
          g_idle_add(
              [](gpointer action) -> gboolean {
                (*static_cast<std::function<void()>*>(action))();
                return G_SOURCE_REMOVE;
              },
              &finishLater);
          return std::string();
        }
        if (!message.empty() && message[0] == "results") {
          const platform::DialogAnswer chosen = dialogs.saveFile(
              u".pdf", u"PDF documents|*.pdf", u"results.pdf",
              ctx.platform.folders.specialFolder(platform::kCsidlMyDocuments));
          if (!chosen.ok) return std::string("{}");
          try {
            const auto [paperWidth, paperHeight] =
                platform::DefaultPaperInches();
            PdfReportSystem system(ctx, paperWidth, paperHeight);
            system.DefaultDest = ReportDestination::File;
            system.OutputFileName = chosen.file;
            auto silent = [](const WideString&) {};
            platform::HeadlessWindow offscreen(1280, 1024, silent);
            platform::ScriptedDialogs none(silent);
            HeadlessHostFactory movies({ctx, silent, none, offscreen, u""});
            TReportPrinter printer({ctx, movies, u""});
            printer.SetXml(player.resultsReport());
            printer.SetReportSystem(&system);
            printer.SetMargins(0.5, 0.5, 0.5, 0.5);
            printer.Print();
            return "{\"ok\":true,\"message\":" +
                   scorm::JsonString("Saved to " + WideToUtf8(chosen.file)) +
                   "}";
          } catch (const std::exception& e) {
            return "{\"message\":" +
                   scorm::JsonString(
                       std::string("The results were not saved: ") + e.what()) +
                   "}";
          }
        }
        if (!message.empty() && message[0] == "shown" && message.size() >= 2) {
          const gint64 ms = (g_get_monotonic_time() - startedAt) / 1000;
          if (message[1] == "menu")
            Note(ctx, print,
                 "The course menu is shown (" + std::to_string(ms) +
                     " ms after start)");
          else if (message.size() >= 3)
            Note(ctx, print,
                 "Item " + player.playing() + " has loaded (" + message[2] +
                     " ms after its launch)");
          return std::string();
        }
        if (!message.empty() && message[0] == "blocked" &&
            message.size() >= 2) {
          Note(ctx, print,
               "A page of the package asked for " + message[1].substr(0, 200) +
                   ", which is not part of it: zept plays offline, so it was "
                   "refused");
          return std::string();
        }
        if (!message.empty() && message[0] == "left" && message.size() >= 2) {
          // What the page's unload handlers posted comes before its leaving.
          const long posted = std::strtol(message[1].c_str(), nullptr, 10);
          if (!page.waitPostedCalls(posted, kUnloadMs))
            Note(ctx, print,
                 "calls the page posted while it was left did not all come");
        }
        return player.handle(message);
      };
  page.onPackageCall = [&](const std::vector<std::string>& message) {
    if (message.empty() || message[0] != "posted") return answer(message);
    // A call the page could only post was answered "true" there: a failure
    // is said here instead.
    const std::vector<std::string> call(message.begin() + 1, message.end());
    const std::string value = answer(call);
    if (call.size() >= 2 && call[0] == "api" && value == "false" &&
        player.runtime()) {
      std::string line =
          "A call made while the SCO's page was left failed: " + call[1] + "(";
      for (std::size_t i = 2; i < call.size(); ++i)
        line += (i > 2 ? ", \"" : "\"") + call[i].substr(0, 80) + "\"";
      Note(ctx, print,
           line + ") gave error " + player.runtime()->LMSGetLastError());
    }
    return value;
  };

  window.onCloseRequest = finish;
  auto signals = desktop::InstallQuitSignals(finish);
  std::function<void()> storeNow = [&] { player.storeOpen(); };
  const guint storeTimer = g_timeout_add(
      kStoreEveryMs,
      [](gpointer action) -> gboolean {
        (*static_cast<std::function<void()>*>(action))();
        return G_SOURCE_CONTINUE;
      },
      &storeNow);
  // The page's process ending loses nothing: the open session is stored,
  // the learner told, and the menu comes back on a new page.
  std::function<void()> recover = [&] {
    if (window.state().closed || !page.processEnded()) return;
    const bool open = !player.playing().empty();
    player.leave();
    dialogs.showMessage(
        open ? u"The course stopped unexpectedly. Your progress is saved; "
               u"the course starts again at its menu."
             : u"The course stopped unexpectedly and starts again at its "
               u"menu.");
    if (!window.state().closed && !page.showPackage(kPageLoadMs))
      Note(ctx, print, "error: " + page.loadError());
  };
  page.onWarning = [&](const std::string& line) { Note(ctx, print, line); };
  page.onProcessEnded = [&](const std::string& reason) {
    Note(ctx, print, "The page's process ended (" + reason + ")");
    g_idle_add(
        [](gpointer action) -> gboolean {
          (*static_cast<std::function<void()>*>(action))();
          return G_SOURCE_REMOVE;
        },
        &recover);
  };

  TraceMessage(ctx, u"zept > Run package " + Utf8ToWide(files.location()));
  window.show();
  if (!page.showPackage(kPageLoadMs)) {
    g_source_remove(storeTimer);
    g_main_loop_unref(loop);
    return fail(page.loadError());
  }
  if (!window.state().closed) g_main_loop_run(loop);
  g_source_remove(storeTimer);
  page.onPackageCall = nullptr;
  page.onPackageFile = nullptr;
  g_main_loop_unref(loop);
  if (options.strict && !summaries.empty())
    std::fputs(summaries.c_str(), stdout);
  return 0;
}

}  // namespace zept
