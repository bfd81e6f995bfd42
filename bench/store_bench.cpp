// Storing a learner's values of a standard package: a 64,000-character
// cmi.suspend_data among 40 other values, through ProgressStore::save into a
// real database file (WAL, synchronous=NORMAL), as zept stores on every
// LMSCommit. Target: at most 5 ms a store.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "store/progress_store.h"

namespace {

using namespace zept::scorm;

Values TypicalValues() {
  Values values = {
      {"cmi.core.lesson_location", "page-12"},
      {"cmi.core.lesson_status", "incomplete"},
      {"cmi.core.score.raw", "72"},
      {"cmi.core.score.min", "0"},
      {"cmi.core.score.max", "100"},
      {"cmi.core.exit", "suspend"},
      {"cmi.core.session_time", "0000:12:34.56"},
      {"cmi.core.total_time", "0001:02:03.00"},
      {"cmi.core.entry", "resume"},
      {"cmi.comments", "Looked at the glossary twice."},
  };
  for (int i = 0; i < 10; ++i) {
    const std::string objective = "cmi.objectives." + std::to_string(i);
    values[objective + ".id"] = "obj-" + std::to_string(i);
    values[objective + ".status"] = i % 2 ? "passed" : "incomplete";
  }
  for (int i = 0; i < 10; ++i) {
    const std::string interaction = "cmi.interactions." + std::to_string(i);
    values[interaction + ".id"] = "q" + std::to_string(i);
    values[interaction + ".result"] = "correct";
  }
  values["cmi.suspend_data"] = std::string(64000, 'x');
  return values;
}

// Arg 1: the suspend_data changes at every store (the whole 64,000
// characters written); arg 0: only the session time and location change.
void BM_StoreSuspendData(benchmark::State& state) {
  const bool suspendChanges = state.range(0) != 0;
  char pattern[] = "/tmp/zept-store-bench-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  {
    ProgressStore store(StorePath(dir, "key"));
    Values values = TypicalValues();
    store.save("anna", "ITEM1", values);
    std::string& suspend = values["cmi.suspend_data"];
    std::vector<double> took;
    took.reserve(1 << 16);
    long n = 0;
    for (auto _ : state) {
      ++n;
      values["cmi.core.session_time"] = "0000:00:" + std::to_string(n % 60);
      values["cmi.core.lesson_location"] = "page-" + std::to_string(n);
      if (suspendChanges) suspend[n % suspend.size()] ^= 1;
      const auto start = std::chrono::steady_clock::now();
      store.save("anna", "ITEM1", values);
      took.push_back(std::chrono::duration<double, std::milli>(
                         std::chrono::steady_clock::now() - start)
                         .count());
    }
    // A checkpoint (the log copied into the database, with its syncs) comes
    // every thousand pages or so: it is the tail, not the mean.
    std::sort(took.begin(), took.end());
    state.counters["p99_ms"] = took[took.size() * 99 / 100];
    state.counters["slowest_ms"] = took.back();
    state.counters["values"] = static_cast<double>(values.size());
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_StoreSuspendData)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
