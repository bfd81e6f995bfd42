// Results to an LRS, measured.
//   send:     10,000 statements of learners' sessions, as SessionStatements
//             captures them, pending in a progress store and sent by
//             xapi::Sender over curl to the test LRS (tests/lrs, started
//             here, restarted empty for each run), in batches of 100 and of
//             250 by turns: statements a second (target at least 1,000) and
//             the process's peak RSS before and after each send (it must stay
//             flat: the sender reads a batch at a time, never the whole
//             outbox).
//   setvalue: LMSSetValue through scorm::Player, 10,000 calls with statement
//             capture (PlayerOptions::lrs set) and 10,000 without, in
//             interleaved rounds: the ratio (target at most 1.05).
//
//   build/bench/zept_lrs_bench [send [BATCH...]|setvalue]
//   (both without an argument; send needs the test LRS, see
//   scripts/bootstrap, and takes other batch sizes to compare, e.g. 50 500)

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lrs/lrs_server.h"
#include "platform/posix/curl_http.h"
#include "scorm/player.h"
#include "store/progress_store.h"
#include "xapi/sender.h"
#include "xapi/statements.h"

namespace {

namespace fs = std::filesystem;
using namespace zept;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kStatements = 10000;
constexpr char kHomePage[] = "https://learners.example.org";
constexpr char kCourse[] = "https://courses.example.org/BENCH";

// Kilobytes of a line of /proc/self/status ("VmRSS", "VmHWM").
long StatusKb(const std::string& name) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(name + ":", 0) == 0)
      return std::stol(line.substr(name.size() + 1));
  return -1;
}

// CPU seconds this process has used (the LRS is another).
double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The peak RSS starts again from the RSS of now.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// One learner's session of an item: begun, scored, passed, three answers,
// ended; seven statements.
std::vector<xapi::Statement> Session(const std::string& login,
                                     const std::string& registration,
                                     int item) {
  xapi::SessionContext context;
  context.login = login;
  context.homePage = kHomePage;
  context.registration = registration;
  context.course = {kCourse, "Bench course"};
  context.item = {xapi::ItemIri(kCourse, "ITEM-" + std::to_string(item)),
                  "Item " + std::to_string(item)};
  context.attempt = xapi::NewUuid();
  xapi::SessionStatements s(std::move(context));
  s.initialized("ab-initio");
  s.valueSet("cmi.core.score.raw", "80");
  s.valueSet("cmi.core.score.min", "0");
  s.valueSet("cmi.core.score.max", "100");
  s.valueSet("cmi.core.lesson_status", "passed");
  for (int q = 0; q < 3; ++q) {
    const std::string n = "cmi.interactions." + std::to_string(q) + ".";
    s.valueSet(n + "id", "question-" + std::to_string(q));
    s.valueSet(n + "type", "choice");
    s.valueSet(n + "student_response", "b");
    s.valueSet(n + "result", q == 1 ? "wrong" : "correct");
  }
  s.terminated({{"cmi.core.session_time", "0000:01:30"},
                {"cmi.core.exit", ""},
                {"cmi.core.lesson_status", "passed"}});
  return s.take();
}

// A store of kStatements pending statements of 40 learners, at path, for
// the LRS at endpoint.
void Fill(const std::string& path, const std::string& endpoint) {
  scorm::ProgressStore store(path);
  store.rememberLrs(endpoint, "lrs.conf");
  std::size_t count = 0;
  for (int session = 0; count < kStatements; ++session) {
    const std::string login = "learner-" + std::to_string(session % 40);
    std::vector<xapi::Statement> statements =
        Session(login, store.registration(login), session % 12);
    statements.resize(std::min(statements.size(), kStatements - count));
    count += statements.size();
    store.save(login, "ITEM-" + std::to_string(session % 12),
               {{"cmi.core.lesson_status", "passed"}}, statements);
  }
}

int Send(const std::vector<std::size_t>& batches) {
  if (auto why = testing::LrsServer::missing(); !why.empty()) {
    std::fprintf(stderr, "send: %s\n", why.c_str());
    return 1;
  }
  char pattern[] = "/tmp/zept-lrs-bench-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  const std::string filled = (dir / "filled.sqlite").string();
  testing::LrsServer lrs;
  lrs.start();
  Fill(filled, lrs.endpoint());
  const xapi::LrsConfig config{lrs.endpoint(),
                               lrs.key(),
                               lrs.secret(),
                               kHomePage,
                               "https://courses.example.org/",
                               ""};
  const std::unique_ptr<platform::Http> http = platform::NewCurlHttp();

  std::printf("%zu statements, %zu bytes of store\n", kStatements,
              static_cast<std::size_t>(fs::file_size(filled)));
  std::printf("%-6s %8s %13s %13s %13s %13s\n", "batch", "seconds",
              "statements/s", "zept CPU s", "RSS before", "peak after");
  struct Total {
    double seconds = 0;
    int runs = 0;
  };
  std::map<std::size_t, Total> totals;
  int failures = 0;
  for (int round = 0; round < 2; ++round) {
    for (const std::size_t batch : batches) {
      lrs.stop();  // a restart empties it
      lrs.start();
      const std::string path = (dir / "run.sqlite").string();
      for (const char* end : {"", "-wal", "-shm"}) fs::remove(path + end);
      fs::copy_file(filled, path);
      scorm::ProgressStore store(path);
      ResetPeak();
      const long before = StatusKb("VmRSS");
      const double cpu = CpuSeconds();
      const Clock::time_point start = Clock::now();
      const xapi::SendReport report =
          xapi::Sender(*http, config, batch)
              .sendAll(store.outbox(config.endpoint));
      const double seconds =
          std::chrono::duration<double>(Clock::now() - start).count();
      const long peak = StatusKb("VmHWM");
      if (report.outcome != xapi::SendOutcome::kDone ||
          report.sent != kStatements) {
        std::fprintf(stderr, "batch %zu: sent %zu, %s\n", batch, report.sent,
                     report.reason.c_str());
        ++failures;
        continue;
      }
      totals[batch].seconds += seconds;
      ++totals[batch].runs;
      std::printf("%-6zu %8.2f %13.0f %13.2f %10ld kB %10ld kB\n", batch,
                  seconds, kStatements / seconds, CpuSeconds() - cpu, before,
                  peak);
    }
  }
  // The LRS took every one once (the last run).
  const std::size_t held = lrs.statements().size();
  if (held != kStatements) {
    std::fprintf(stderr, "the LRS holds %zu statements\n", held);
    ++failures;
  }
  for (const auto& [batch, total] : totals)
    std::printf("batch %zu: %.0f statements/s on average\n", batch,
                total.runs * kStatements / total.seconds);

  // Sent statements keep their id alone: the pages their text held take
  // the next ones, so a store does not grow with what it sent.
  const std::string path = (dir / "run.sqlite").string();
  const auto bytes = [&] {
    std::error_code none;
    const auto log = fs::file_size(path + "-wal", none);
    return std::to_string(fs::file_size(path)) + " + " +
           std::to_string(none ? 0 : log) + " of log";
  };
  std::printf("store once they are sent: %s bytes\n", bytes().c_str());
  for (int more = 1; more <= 2; ++more) {
    Fill(path, lrs.endpoint());
    scorm::ProgressStore store(path);
    const xapi::SendReport report =
        xapi::Sender(*http, config).sendAll(store.outbox(config.endpoint));
    if (report.outcome != xapi::SendOutcome::kDone) ++failures;
    std::printf("store once %zu more are sent: %s bytes\n", more * kStatements,
                bytes().c_str());
  }
  fs::remove_all(dir);
  return failures ? 1 : 0;
}

int SetValue() {
  char pattern[] = "/tmp/zept-setvalue-bench-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  scorm::Manifest manifest;
  manifest.identifier = "BENCH";
  manifest.title = "Bench course";
  scorm::Item item;
  item.identifier = "ITEM";
  item.title = "Item";
  item.launch = "item.html";
  item.isSco = true;
  manifest.items = {item};

  struct Side {
    const char* name;
    std::unique_ptr<scorm::ProgressStore> store;
    std::unique_ptr<scorm::Player> player;
    std::vector<std::vector<std::string>> calls;
  };
  Side sides[2] = {{"without capture", nullptr, nullptr, {}},
                   {"with capture", nullptr, nullptr, {}}};
  constexpr int kRounds = 15;
  constexpr int kCalls = 10000;
  for (int s = 0; s < 2; ++s) {
    Side& side = sides[s];
    side.store = std::make_unique<scorm::ProgressStore>(
        (dir / (std::to_string(s) + ".sqlite")).string());
    scorm::PlayerOptions options;
    if (s == 1)
      options.lrs =
          xapi::LrsConfig{"http://127.0.0.1:9/xAPI/",     "k", "s", kHomePage,
                          "https://courses.example.org/", ""};
    side.player =
        std::make_unique<scorm::Player>(manifest, *side.store, options);
    side.player->handle({"login", "anna"});
    const std::string launched = side.player->handle({"launch", "ITEM"});
    const std::size_t at = launched.find("\"launch\":\"") + 10;
    const std::string launch = launched.substr(at, launched.find('"', at) - at);
    side.player->handle({"api", launch, "LMSInitialize", ""});
    // What a SCO sets as the learner goes: place, state, score, status,
    // answers, time.
    for (int i = 0; i < kCalls; ++i) {
      const std::string n = std::to_string(i);
      const std::string answer =
          "cmi.interactions." + std::to_string(i / 10 % 100) + ".";
      const std::pair<std::string, std::string> sets[] = {
          {"cmi.core.lesson_location", "page-" + n},
          {"cmi.suspend_data", std::string(200, 'x') + n},
          {"cmi.core.score.raw", std::to_string(i % 101)},
          {"cmi.core.lesson_status", i % 2 ? "incomplete" : "failed"},
          {answer + "id", "question-" + n},
          {answer + "type", "choice"},
          {answer + "student_response", i % 3 ? "a" : "b"},
          {answer + "result", i % 3 ? "correct" : "wrong"},
          {"cmi.core.session_time", "0000:00:0" + std::to_string(i % 10)},
          {"cmi.core.exit", "suspend"},
      };
      const auto& [element, value] = sets[i % 10];
      side.calls.push_back({"api", launch, "LMSSetValue", element, value});
    }
  }
  // The 10,000 calls again and again, the side going first swapping, after
  // a round to warm up: the median of each side, so that a build or another
  // process on the machine weighs on neither.
  int refused = 0;
  std::vector<double> took[2];
  for (int round = 0; round <= kRounds; ++round) {
    for (int k = 0; k < 2; ++k) {
      const int s = (round + k) % 2;
      Side& side = sides[s];
      const Clock::time_point start = Clock::now();
      for (const std::vector<std::string>& call : side.calls)
        refused += side.player->handle(call) != "true";
      if (round > 0)
        took[s].push_back(
            std::chrono::duration<double>(Clock::now() - start).count());
    }
  }
  double median[2];
  for (int s = 0; s < 2; ++s) {
    std::sort(took[s].begin(), took[s].end());
    median[s] = took[s][took[s].size() / 2];
    std::printf(
        "LMSSetValue %-16s %7.3f ms for %d calls (median of %d; fastest "
        "%.3f), %.3f us a call\n",
        sides[s].name, median[s] * 1e3, kCalls, kRounds, took[s][0] * 1e3,
        median[s] * 1e6 / kCalls);
  }
  std::printf("with capture / without: %.3f\n", median[1] / median[0]);
  if (refused)
    std::fprintf(stderr, "%d calls answered other than true\n", refused);
  for (Side& side : sides) {
    side.player.reset();
    side.store.reset();
  }
  fs::remove_all(dir);
  return refused ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  std::vector<std::size_t> batches;
  for (int i = 2; i < argc && mode == "send"; ++i)
    batches.push_back(std::strtoul(argv[i], nullptr, 10));
  if ((!mode.empty() && mode != "send" && mode != "setvalue") ||
      std::count(batches.begin(), batches.end(), 0u)) {
    std::fprintf(stderr, "usage: zept_lrs_bench [send [BATCH...]|setvalue]\n");
    return 2;
  }
  if (batches.empty()) batches = {100, 250};
  int failed = 0;
  if (mode.empty() || mode == "send") failed |= Send(batches);
  if (mode.empty() || mode == "setvalue") failed |= SetValue();
  return failed;
}
