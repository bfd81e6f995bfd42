// The shell: start-up to the menu movie's load with a 500-SCO manifest, and
// one ExternalInterface LMSSetValue round trip (parse, dispatch, answer).
// Real POSIX files, registry store and trace log in a temporary folder.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "moviehost/headless.h"
#include "platform/codepage.h"
#include "platform/fake/fakes.h"
#include "platform/posix/posix.h"
#include "shell/UnitZept.h"
#include "util/file_io.h"

namespace {

using namespace zept;

struct Course {
  std::string dir;
  std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  std::unique_ptr<platform::RegistryStore> registry;
  platform::FakeSystemFolders folders{*files};
  std::unique_ptr<platform::Clock> clock = platform::NewPosixClock();
  platform::FakeLocks locks;
  std::unique_ptr<platform::Platform> platform;
  std::unique_ptr<Context> ctx;
  std::function<void(const WideString&)> print = [](const WideString&) {};
  platform::HeadlessWindow window{1280, 1024, print};
  platform::ScriptedDialogs dialogs{print};
  platform::VirtualTimers timers;
  std::unique_ptr<HeadlessHostFactory> movies;
  platform::FakePrinters printers;
  std::unique_ptr<platform::HeadlessShellOpen> shell;
  WideString folder;

  explicit Course(int scos) {
    char pattern[] = "/tmp/zept-shell-bench-XXXXXX";
    dir = ::mkdtemp(pattern);
    registry =
        platform::NewSqliteRegistry(dir + "/reg/HKCU.db", dir + "/reg/HKLM.db");
    folders.special[5] = Utf8ToWide(dir + "/Documents");
    platform = std::make_unique<platform::Platform>(
        platform::Platform{*registry, folders, *files, *clock, locks});
    ctx = std::make_unique<Context>(*platform);
    folder = Utf8ToWide(dir + "/");
    shell = std::make_unique<platform::HeadlessShellOpen>(*files, print);
    movies = std::make_unique<HeadlessHostFactory>(
        HeadlessHostFactory::Environment{*ctx, print, dialogs, window, folder});
    std::string manifest =
        "<?xml version=\"1.0\"?><manifest identifier=\"big\"><organizations>"
        "<organization><title>Big course</title>";
    for (int i = 1; i <= scos; ++i) {
      manifest +=
          "<item identifier=\"i" + std::to_string(i) + "\"><title>Unit " +
          std::to_string(i) +
          "</title><adlcp:masteryscore>80</"
          "adlcp:masteryscore><metadata><lom:lom>"
          "<lom:general><lom:title><lom:langstring><![CDATA[Unit title]]>"
          "</lom:langstring></lom:title></lom:general></lom:lom></metadata></"
          "item>";
    }
    manifest += "</organization></organizations></manifest>";
    std::filesystem::create_directories(dir + "/cdrom");
    std::filesystem::create_directories(dir + "/SCO_0001");
    std::ofstream(dir + "/imsmanifest.xml") << manifest;
    std::ofstream(dir + "/cdrom/cdrom.swf");
    std::ofstream(dir + "/SCO_0001/player.swf");
    TraceMessage(*ctx, u"the day's file exists before the runs");
  }
  ~Course() { std::filesystem::remove_all(dir); }

  std::unique_ptr<TFormZept> form() {
    return std::make_unique<TFormZept>(TFormZept::Services{*ctx,
                                                           window,
                                                           *movies,
                                                           timers,
                                                           dialogs,
                                                           nullptr,
                                                           printers,
                                                           *shell,
                                                           {8.27, 11.69},
                                                           print},
                                       folder);
  }
};

void BM_StartUpToMenuMovie(benchmark::State& state) {
  Course course(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TraceMessage(*course.ctx, u"zept > Initialize");
    TraceMessage(*course.ctx, u"zept > CreateForm");
    auto form = course.form();
    TraceMessage(*course.ctx, u"zept > Run");
    form->FormShow();
    benchmark::DoNotOptimize(form->MenuMovie.get());
  }
}
BENCHMARK(BM_StartUpToMenuMovie)
    ->Arg(500)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);

void BM_LMSSetValueRoundTrip(benchmark::State& state) {
  Course course(3);
  auto form = course.form();
  form->FormShow();
  form->Api.TrackingId = u"course1";
  form->Api.LMSInitialize();
  form->openSco(u"1", u"");
  course.timers.fireEarliest();
  const WideString request =
      u"<invoke name=\"LMSSetValue\" returntype=\"xml\"><arguments><string>"
      u"cmi.core.lesson_location;page 12 &amp; "
      u"more</string></arguments></invoke>";
  for (auto _ : state) form->courseCall(request);
}
BENCHMARK(BM_LMSSetValueRoundTrip)->Unit(benchmark::kMicrosecond);

}  // namespace
