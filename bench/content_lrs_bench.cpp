// The LRS zept serves content: a statement PUT through ContentLrs into a
// progress store on disk (WAL, synchronous=NORMAL), as an AU sends one, the
// answer coming after the statement and its outbox entry are committed.
// Target: at most 1 ms at the median. A cmi5 "initialized" is judged too
// (the verdict is pure; its cost is the statement's reading).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "store/progress_store.h"
#include "xapi/content_lrs.h"

namespace {

using namespace zept;

// A statement as an authoring tool's AU sends it: an account actor, a
// context with a registration, categories and extensions, a result.
std::string TypicalStatement(const std::string& id) {
  return R"({"id":")" + id +
         R"(","timestamp":"2026-12-08T12:00:00.000Z","actor":{"objectType":"Agent","account":{"homePage":"https://zept.example/learners","name":"anna"}},"verb":{"id":"http://adlnet.gov/expapi/verbs/answered","display":{"en-US":"answered"}},"object":{"id":"https://zept.example/course/au1/q7","definition":{"name":{"en-US":"Question 7"},"type":"http://adlnet.gov/expapi/activities/cmi.interaction","interactionType":"choice","correctResponsesPattern":["b"],"choices":[{"id":"a","description":{"en-US":"A"}},{"id":"b","description":{"en-US":"B"}}]}},"result":{"success":true,"response":"b","duration":"PT12.5S","score":{"scaled":1,"raw":1,"min":0,"max":1}},"context":{"registration":"33333333-3333-4333-8333-333333333333","contextActivities":{"grouping":[{"id":"https://publisher.example/au1"}],"parent":[{"id":"https://zept.example/course/au1"}]},"extensions":{"https://w3id.org/xapi/cmi5/context/extensions/sessionid":"session-1"}}})";
}

void BM_ContentLrsPutStatement(benchmark::State& state) {
  char pattern[] = "/tmp/zept-lrs-bench-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  {
    scorm::ProgressStore store(scorm::StorePath(dir, "key"));
    store.captureFor("https://lrs.example.org/xapi/");
    const auto learner = store.lrs("anna");
    xapi::ContentLrs lrs(*learner);
    std::vector<double> took;
    took.reserve(1 << 16);
    long n = 0;
    for (auto _ : state) {
      char id[48];
      std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012ld",
                    ++n % 1000000000000L);
      const xapi::LrsRequest request{"PUT",
                                     "statements",
                                     std::string("statementId=") + id,
                                     {{"X-Experience-API-Version", "1.0.3"},
                                      {"Content-Type", "application/json"}},
                                     TypicalStatement(id)};
      const auto start = std::chrono::steady_clock::now();
      const xapi::LrsAnswer answer = lrs.handle(request);
      took.push_back(std::chrono::duration<double, std::milli>(
                         std::chrono::steady_clock::now() - start)
                         .count());
      if (answer.status != 204) {
        state.SkipWithError(answer.body.c_str());
        break;
      }
    }
    if (!took.empty()) {
      std::sort(took.begin(), took.end());
      state.counters["median_ms"] = took[took.size() / 2];
      state.counters["p99_ms"] = took[took.size() * 99 / 100];
    }
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ContentLrsPutStatement)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace
