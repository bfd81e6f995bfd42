#include "app/zept_package.h"

#include <cstdio>
#include <filesystem>

#include "app/package_session.h"
#include "app/results_sender.h"
#include "cmi5/player.h"
#include "desktop/course_instance.h"
#include "desktop/gtk_dialogs.h"
#include "desktop/signals.h"
#include "platform/codepage.h"
#include "store/progress_store.h"
#include "scorm2004/global_store.h"
#include "tincan/course.h"
#include "util/file_io.h"
#include "util/utf8.h"
#include "desktop/languages.h"

namespace zept {

namespace {

void Note(Context& ctx, const std::function<void(const WideString&)>& print,
          const std::string& line) {
  const std::string safe = OneLine(line);
  print(Utf8ToWide(safe));
  TraceMessage(ctx, u"zept > " + Utf8ToWide(safe));
}

}  // namespace

bool IsLaunchMode(const std::string& mode) {
  return mode == "normal" || mode == "browse" || mode == "review";
}

int RunPackage(Context& ctx, const std::string& path, desktop::MoviePage& page,
               const PackageRunOptions& options,
               const std::function<void(const WideString&)>& print) {
  // Said where the learner looks, as well as on the terminal.
  const auto fail = [&](const std::string& message) {
    std::fprintf(stderr, "zept: %s\n", message.c_str());
    desktop::GtkDialogs dialogs(nullptr);
    // A quit signal closes the message: nothing is open to be kept.
    const auto signals =
        desktop::InstallQuitSignals([&dialogs] { dialogs.cancelAll(); });
    dialogs.showMessage(Utf8ToWide(message));
    return 1;
  };
  OpenedPackage opened;
  try {
    opened = OpenAnyPackage(path);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  // Where the kinds part: cmi5 and Tin Can packages each go to their own
  // run; SCORM 1.2 and 2004 go on below.
  PackageRunOptions run = options;
  if (opened.kind == PackageKind::kCmi5 ||
      opened.kind == PackageKind::kTinCan) {
    if (!opened.files)
      return fail(path +
                  " is a description on its own: what it launches is on the "
                  "network, which zept does not reach");
    // A Tin Can package plays as a course of its launchable activities.
    if (opened.kind == PackageKind::kTinCan) {
      opened.course = tincan::CourseOfTinCan(
          *opened.tincan, desktop::PreferredLanguages().front());
      run.tinCan = true;
    }
    // The store is known by the course's structure, whatever the learner's
    // language picked to play.
    opened.manifest = cmi5::StoreIdentity(
        run.tinCan ? tincan::CourseOfTinCan(*opened.tincan) : *opened.course,
        run.tinCan);
  }
  if (opened.kind == PackageKind::kShellCourse)
    return fail(opened.files->location() +
                " is a course of the zept shell: start it with "
                "--program-folder");
  scorm::PackageFiles& files = *opened.files;
  const scorm::Manifest& manifest = opened.manifest;
  const std::optional<scorm2004::Package2004>& package2004 = opened.package2004;
  const std::optional<cmi5::Course>& course = opened.course;
  std::string key;
  std::unique_ptr<scorm::ProgressStore> store;
  std::unique_ptr<scorm2004::GlobalStore> globals;
  std::string storeNote;
  try {
    const std::string dataFolder = scorm::DataFolder(ctx.platform.folders);
    scorm::CourseStore found =
        scorm::OpenCourseStore(dataFolder, manifest, files);
    key = found.key;
    run.storePath = scorm::StorePath(dataFolder, key);
    run.place = found.place;
    store = std::move(found.store);
    storeNote = found.note;
    if (package2004 && scorm2004::SharesWithSystem(*package2004)) {
      scorm2004::OpenedGlobalStore shared =
          scorm2004::OpenGlobalStore(dataFolder);
      globals = std::move(shared.store);
      run.globals = globals.get();
      if (!shared.note.empty())
        storeNote += (storeNote.empty() ? "" : " ") + shared.note;
    }
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  for (const std::string& line : files.warnings())
    Note(ctx, print, files.location() + ": " + line);
  for (const std::string& line :
       package2004 ? package2004->problems : manifest.problems)
    Note(ctx, print, "imsmanifest.xml: " + line);
  if (course)
    for (const std::string& line : course->notes)
      Note(ctx, print, "cmi5.xml: " + line);
  if (!storeNote.empty()) Note(ctx, print, storeNote);
  {
    // zept-lrs.conf stands in a package folder's root, or beside a .zip.
    std::error_code error;
    const std::filesystem::path at(path);
    const std::string beside = std::filesystem::is_directory(at, error)
                                   ? at.string()
                                   : at.parent_path().string();
    std::string problem;
    run.lrsConfig = FindLrsConfig(options.lrs, beside, problem);
    if (!problem.empty()) Note(ctx, print, problem + "; results are not sent");
    if (run.lrsConfig) {
      if (const std::string warning = LrsConfigWarning(*run.lrsConfig);
          !warning.empty())
        Note(ctx, print, "Warning: " + warning);
      try {
        // So that zept-sync finds it later, wherever it is run from; what
        // was captured for another LRS stays its.
        if (const std::size_t adopted = UseLrs(*store, *run.lrsConfig))
          Note(ctx, print,
               std::to_string(adopted) +
                   " statements captured while no LRS was configured go to " +
                   xapi::EndpointKey(run.lrsConfig->endpoint) +
                   ", the first LRS configured since");
        for (const auto& [endpoint, count] : store->pendingByEndpoint())
          if (endpoint != xapi::EndpointKey(run.lrsConfig->endpoint))
            Note(ctx, print,
                 std::to_string(count) + " statements wait for the LRS " +
                     (endpoint.empty() ? std::string("of an earlier zept")
                                       : endpoint) +
                     ", not the one in force; zept-sync sends them there");
      } catch (const std::exception& e) {
        Note(ctx, print, e.what());
      }
    } else {
      try {
        if (const std::size_t waiting = store->unconfiguredPending())
          Note(ctx, print,
               std::to_string(waiting) +
                   " statements wait for an LRS configuration: the first "
                   "one configured gets them");
      } catch (const std::exception& e) {
        Note(ctx, print, e.what());
      }
    }
  }

  // One window per package: a second start brings the first forward.
  desktop::CourseInstance instance("package/" + key);
  if (instance.role() == desktop::CourseInstance::Role::Forwarded) {
    print(u"The package " + Utf8ToWide(files.location()) +
          u" is already open: its window was brought forward.");
    return 0;
  }
  // What a signal kept elsewhere when this course's store failed is stored
  // first, so that nothing played since goes under it.
  try {
    for (const std::string& login : scorm::StoreKept(
             scorm::KeepingFolders(ctx.platform.folders), key, *store))
      Note(ctx, print,
           login + "'s progress kept from the last run is saved now");
  } catch (const std::exception& e) {
    return fail(
        "The progress kept from the last run of this course could "
        "not be saved (" +
        std::string(e.what()) +
        "). It stays kept; make room or make the folder writable, "
        "then start the course again.");
  }
  PackageSession session(ctx, page, files, manifest,
                         package2004 ? &*package2004 : nullptr, *store, key,
                         run, print, course ? &*course : nullptr);
  instance.onActivate = [&session] { session.window().present(); };
  session.noticeAtStart = storeNote;
  return session.run();
}

}  // namespace zept
