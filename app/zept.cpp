// zept: the player shell. Plays the course beside the program (or in
// --program-folder) in a window, or with the headless movie host.

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/package_kind.h"
#include "app/shell_lrs.h"
#include "app/zept_desktop.h"
#include "app/zept_package.h"
#include "desktop/course_chooser.h"
#include "desktop/open_display.h"
#include "desktop/signals.h"
#include "moviehost/headless.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/posix/posix.h"
#include "shell/UnitZept.h"
#include "shell/course_folder.h"
#include "util/file_io.h"
#include "util/utf8.h"
#include "util/i18n.h"

namespace {

using zept::WideString;

constexpr char kUsage[] =
    "usage: zept [--program-folder DIR] [--headless] [--lrs FILE]\n"
    "       zept [--learner NAME] [--item IDENTIFIER] [--strict] [--lrs FILE]\n"
    "            [--mode normal|browse|review] PACKAGE\n"
    "       zept --check PACKAGE\n"
    "       zept --help | --version\n"
    "Plays the course in DIR (default: the program's folder): its "
    "imsmanifest.xml,\n"
    "cdrom/cdrom.swf, the SCO_nnnn folders and bin/flash.ocx, in a window "
    "where\n"
    "there is a display; without DIR and with no course beside the program, "
    "it asks\n"
    "for the course's folder. With --headless no display is used: the movies "
    "follow\n"
    "their movie scripts (MOVIE.movie.xml) and every journal and transcript "
    "line\n"
    "goes to standard output; ZEPT_SCREEN sets the screen size (default "
    "1280x1024).\n"
    "ZEPT_REGISTRY_DIR sets the registry store, ZEPT_RUFFLE_DIR the Flash "
    "emulator.\n"
    "PACKAGE is a SCORM 1.2 or 2004 package, a folder holding "
    "imsmanifest.xml or a\n"
    ".zip, played in a window; progress is kept in "
    "$XDG_DATA_HOME/zept. --learner\n"
    "opens as that learner (created when new), --item launches that item, "
    "--strict\n"
    "applies the standard's limits and prints a conformance summary at the "
    "end,\n"
    "--mode launches every item in that mode (default normal).\n"
    "--check prints what PACKAGE is (a SCORM, cmi5 or Tin Can package, or a "
    "course\n"
    "folder of the shell): its kind, title, items and what cannot play "
    "offline; it\n"
    "exits 1 with the fault when it cannot be played. It opens no window and "
    "stores\n"
    "nothing.\n"
    "Results go as xAPI statements to the LRS that --lrs FILE configures, "
    "else\n"
    "$XDG_CONFIG_HOME/zept/lrs.conf, else zept-lrs.conf beside the course; "
    "zept-sync\n"
    "sends what is still pending.\n";

void PrintLine(const WideString& line) {
  const std::string text = zept::WideToUtf8(line) + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// zept --check: no display, no store, nothing written.
int CheckPackage(const std::string& path) {
  try {
    const zept::OpenedPackage package = zept::OpenAnyPackage(path);
    for (const std::string& line : zept::DescribePackage(package))
      std::printf("%s\n", line.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zept: %s\n", zept::OneLine(e.what()).c_str());
    return 1;
  }
}

bool ParseScreen(const char* text, int& width, int& height) {
  if (!text || !*text) return false;
  return std::sscanf(text, "%dx%d", &width, &height) == 2 && width > 0 &&
         height > 0;
}

}  // namespace

int main(int argc, char** argv) {
  const gint64 startedAt = g_get_monotonic_time();
  zept::BindCatalogs(zept::platform::RunningProgramPath());
  std::string folder;
  bool folderGiven = false;
  bool headless = false;
  std::string course;
  zept::PackageRunOptions packageOptions;
  std::optional<std::string> check;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("zept %d.%d.%d.%d\n", ZEPT_VERSION_MAJOR, ZEPT_VERSION_MINOR,
                  ZEPT_VERSION_PATCH, ZEPT_VERSION_TWEAK);
      return 0;
    }
    if (arg == "--headless") {
      headless = true;
      continue;
    }
    if (arg == "--program-folder" && i + 1 < argc) {
      folder = argv[++i];
      folderGiven = true;
      continue;
    }
    if (arg == "--learner" && i + 1 < argc) {
      packageOptions.learner = argv[++i];
      continue;
    }
    if (arg == "--item" && i + 1 < argc) {
      packageOptions.item = argv[++i];
      continue;
    }
    if (arg == "--lrs" && i + 1 < argc) {
      packageOptions.lrs = argv[++i];
      continue;
    }
    if (arg == "--mode" && i + 1 < argc) {
      packageOptions.mode = argv[++i];
      if (!zept::IsLaunchMode(packageOptions.mode)) {
        std::fprintf(stderr,
                     "zept: --mode takes normal, browse or review, not "
                     "'%s'\n%s",
                     packageOptions.mode.c_str(), kUsage);
        return 2;
      }
      continue;
    }
    if (arg == "--check" && i + 1 < argc) {
      check = argv[++i];
      continue;
    }
    if (arg == "--strict") {
      packageOptions.strict = true;
      continue;
    }
    if (!arg.empty() && arg[0] != '-' && course.empty()) {
      course = arg;
      continue;
    }
    std::fprintf(stderr, "zept: unknown option '%s'\n%s", arg.c_str(), kUsage);
    return 2;
  }

  if (check) {
    if (!course.empty()) {
      std::fprintf(stderr, "zept: --check takes one package\n%s", kUsage);
      return 2;
    }
    return CheckPackage(*check);
  }

  // A course of the shell named as COURSE plays as --program-folder does.
  bool package = false;
  if (!course.empty()) {
    std::error_code error;
    if (!std::filesystem::exists(course, error)) {
      std::fprintf(stderr, "zept: %s: no such file or folder\n",
                   course.c_str());
      return 1;
    }
    package = zept::IsPackagePath(course);
    if (!package) {
      folder = course;
      folderGiven = true;
    }
  }
  if (package && headless) {
    std::fputs(
        "zept: standard packages play in a window; --headless plays "
        "the shell's courses\n",
        stderr);
    return 2;
  }

  const std::string programPath = zept::platform::RunningProgramPath();
  if (folder.empty())
    folder = std::filesystem::path(programPath).parent_path().string();
  folder = std::filesystem::absolute(folder).lexically_normal().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  WideString programFolder = zept::Utf8ToWide(folder);

  int screenWidth = 1280, screenHeight = 1024;
  if (const char* screen = std::getenv("ZEPT_SCREEN");
      screen && !ParseScreen(screen, screenWidth, screenHeight)) {
    std::fprintf(stderr,
                 "zept: ZEPT_SCREEN must read WIDTHxHEIGHT, as 1280x1024\n");
    return 2;
  }

  std::string ruffleDir;
  std::optional<zept::desktop::MoviePage> page;
  if (!headless) {
    // Caught before anything that takes time: what a signal ends early is
    // ended once there is something to store, as closing the window does.
    zept::desktop::CatchQuitSignals();
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland)) {
      std::fputs(
          "zept: no display to open a window on; run with --headless, "
          "or set DISPLAY\n",
          stderr);
      return 1;
    }
    ruffleDir = zept::FindRuffleDir(programPath);
    if (ruffleDir.empty()) {
      std::fputs(
          "zept: the Flash emulator's web build is missing: set "
          "ZEPT_RUFFLE_DIR to its folder\n",
          stderr);
      return 1;
    }
    if (const std::string failure = zept::desktop::OpenGtkDisplay(&argc, &argv);
        failure == "stopped") {
      return 0;  // a quit signal while the display was waited for
    } else if (!failure.empty()) {
      std::fprintf(stderr,
                   "zept: cannot open the display: %s; run with --headless\n",
                   zept::OneLine(failure).c_str());
      return 1;
    }
    // The installed icon, as the desktop entry shows it.
    gtk_window_set_default_icon_name("zept");
    // The page's process starts and the emulator compiles now, while the
    // course is found and read. A package needs no emulator to start.
    page.emplace(ruffleDir, std::vector<std::string>{});
    // Audio and video of package pages play from the package through it.
    if (const std::string media = zept::FindMediaExtensionDir(programPath);
        !media.empty())
      page->useMediaExtension(media);
    else if (package)
      std::fputs(
          "zept: the media extension (libzept-media.so) is missing: audio "
          "and video in the package's pages will not play\n",
          stderr);
    if (!package) page->beginLoad();
  }

  zept::platform::PosixPlatform posix(programPath);
  zept::platform::FileSystem* files = posix.files.get();
  zept::Context ctx(posix.platform);

  // Installed apart from any course, or started from the desktop menu: the
  // course is wherever the user says, a disc's mount point for example.
  if (!headless && !folderGiven && !package &&
      !zept::MissingCourseFiles(*files, programFolder).empty()) {
    const std::optional<std::string> chosen =
        zept::desktop::ChooseCourseFolder([files](const std::string& dir) {
          if (zept::IsPackagePath(dir)) return std::string();
          const WideString wide = zept::Utf8ToWide(dir);
          return zept::WideToUtf8(zept::NotACourseMessage(
              wide, zept::MissingCourseFiles(*files, wide)));
        });
    if (!chosen) return 0;
    if (zept::IsPackagePath(*chosen)) {
      package = true;
      course = *chosen;
    } else {
      programFolder =
          zept::Utf8ToWide(chosen->back() == '/' ? *chosen : *chosen + '/');
    }
  }

  if (package) {
    packageOptions.startedAt = startedAt;
    return zept::RunPackage(
        ctx, std::filesystem::absolute(course).lexically_normal().string(),
        *page, packageOptions, PrintLine);
  }

  // The player code comes from the course itself; without it nothing plays.
  // The emulator plays the movies in a window, but the course still has to
  // carry the file, as it always did.
  const WideString ocx = programFolder + u"bin\\flash.ocx";
  std::optional<std::string> code;
  try {
    code = files->readFile(ocx);
    if (!code) {
      throw zept::EFileError(zept::SystemErrorMessage(
          "open file", zept::platform::NativePath(ocx), std::strerror(ENOENT)));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zept: %s\n", e.what());
    return 1;
  }

  if (!headless) {
    zept::TraceMessage(ctx, u"zept > Initialize");
    return zept::RunDesktop(ctx, programFolder, *page, PrintLine,
                            packageOptions.lrs);
  }

  zept::platform::HeadlessWindow window(screenWidth, screenHeight, PrintLine);
  zept::platform::ScriptedDialogs dialogs(PrintLine);
  zept::platform::VirtualTimers timers;
  zept::HeadlessHostFactory movies(
      {ctx, PrintLine, dialogs, window, programFolder});
  movies.LoadFlashCodeFromStream(*code);

  zept::TraceMessage(ctx, u"zept > Initialize");
  zept::TraceMessage(ctx, u"zept > CreateForm");
  // Headless, documents are not opened and printers are the CUPS server's.
  zept::platform::HeadlessShellOpen shell(*files, PrintLine);
  auto printers = zept::platform::NewCupsPrinters();
  zept::TFormZept form(
      {ctx, window, movies, timers, dialogs,
       [](const std::exception& e) {
         PrintLine(u"error: " + zept::Utf8ToWide(e.what()));
       },
       *printers, shell, zept::platform::DefaultPaperInches(), PrintLine},
      programFolder);
  // Headless, the course's results are sent once it ends.
  std::string root = zept::WideToUtf8(programFolder);
  if (root.size() > 1 && root.back() == '/') root.pop_back();
  zept::ShellLrs lrs(ctx, packageOptions.lrs, root, PrintLine, false);
  lrs.attach(form.Api);
  zept::TraceMessage(ctx, u"zept > Run");
  form.FormShow();
  zept::RunHeadless(movies, timers, window, PrintLine);
  lrs.end(form.Api);
  return 0;
}
