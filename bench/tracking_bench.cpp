// A learner's long history: 1,000 (and 2,000) stored sessions of 20 SCOs.
// Build and parse speed, commit and load through the real file system, the
// cost of LMSInitialize, and the memory the loaded history takes.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/codepage.h"
#include "platform/fake/fakes.h"
#include "platform/posix/posix.h"
#include "tracking/lms.h"
#include "util/textlib.h"

namespace {

using namespace zept;

constexpr int kScos = 20;

// glibc raises its mmap threshold after a large block is freed, so a second
// build of an 18 MB document reuses warm pages while a 36 MB one never does.
// A fixed threshold makes every document-sized block fresh memory, the
// worst case, for every size alike. (Fresh pages cost about 3.4 ms a MB on
// this machine.)
const int kFixedMmapThreshold = mallopt(M_MMAP_THRESHOLD, 4 << 20);

struct History {
  std::string dir;
  std::unique_ptr<platform::FileSystem> files = platform::NewPosixFileSystem();
  platform::FakeRegistry registry;
  platform::FakeSystemFolders folders{*files};
  platform::FakeClock clock;
  platform::FakeLocks locks;
  platform::Platform platform{registry, folders, *files, clock, locks};
  Context ctx{platform};
  TParcours parcours;
  std::unique_ptr<TLMSAPI> api;

  explicit History(int sessions) {
    char pattern[] = "/tmp/zept-bench-XXXXXX";
    dir = ::mkdtemp(pattern);
    folders.special[5] = Utf8ToWide(dir + "/Documents");
    for (int i = 1; i <= kScos; ++i) {
      auto sco = std::make_unique<TSCO>();
      sco->Title = u"Unit " + IntToStr(i) + u": Grundlagen der Sicherheit";
      sco->MasteryScore = 80;
      sco->Metadata = {
          {u"Unit " + IntToStr(i), u"What the unit teaches, in brief."},
          {u"Unité " + IntToStr(i), u"Ce que l'unité enseigne."}};
      parcours.AddSCO(std::move(sco));
    }
    api = makeApi();
    for (int s = 0; s < sessions; ++s) {
      api->LMSInitialize();
      for (int i = 1; i <= kScos; ++i) {
        api->CurrentSCO = i;
        api->LMSSetValue(u"cmi.core.lesson_status",
                         s % 2 ? u"completed" : u"incomplete");
        api->LMSSetValue(u"cmi.core.score.raw", IntToStr(s % 100));
        api->LMSSetValue(u"cmi.core.session_time", u"00:03:27");
        api->LMSSetValue(u"cmi.suspend_data",
                         u"p=" + IntToStr(s) + u";q=1,0,1,1;v=2");
      }
    }
  }
  ~History() { std::filesystem::remove_all(dir); }

  std::unique_ptr<TLMSAPI> makeApi() {
    auto a = std::make_unique<TLMSAPI>(ctx, parcours);
    a->StorageMode = u"file";
    a->TrackPath = Utf8ToWide(dir);
    a->TrackingId = u"course1";
    a->Login = u"anna";
    return a;
  }
};

void BM_BuildTrackingsXml(benchmark::State& state) {
  History h(static_cast<int>(state.range(0)));
  std::size_t size = 0;
  for (auto _ : state) {
    Utf8String doc = h.api->BuildTrackingsXmlUtf8();
    size = doc.size();
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["doc_MB"] = static_cast<double>(size) / 1e6;
}
BENCHMARK(BM_BuildTrackingsXml)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond);

void BM_ParseTrackings(benchmark::State& state) {
  History h(static_cast<int>(state.range(0)));
  const Utf8String doc = h.api->BuildTrackingsXmlUtf8();
  for (auto _ : state) {
    auto api = h.makeApi();
    api->ParseTrackingsUtf8(doc);
    benchmark::DoNotOptimize(api->Sessions.size());
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_ParseTrackings)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond);

void BM_LMSCommitFile(benchmark::State& state) {
  History h(static_cast<int>(state.range(0)));
  for (auto _ : state) h.api->LMSCommit();
}
BENCHMARK(BM_LMSCommitFile)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond);

void BM_LMSLoadFile(benchmark::State& state) {
  History h(static_cast<int>(state.range(0)));
  h.api->LMSCommit();
  auto api = h.makeApi();
  std::size_t before = 0, after = 0;
  for (auto _ : state) {
    api->Sessions.clear();
    before = mallinfo2().uordblks;
    api->LMSLoad();
    after = mallinfo2().uordblks;
  }
  const auto size =
      std::filesystem::file_size(h.dir + "/course1/anna/tracking.xml");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["history_MB"] = static_cast<double>(after - before) / 1e6;
  state.counters["memory_per_doc_byte"] =
      static_cast<double>(after - before) / size;
}
BENCHMARK(BM_LMSLoadFile)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_LMSInitialize(benchmark::State& state) {
  History h(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    h.api->LMSInitialize();
    state.PauseTiming();
    h.api->Sessions.pop_back();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LMSInitialize)
    ->Arg(1)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
