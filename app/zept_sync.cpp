// zept-sync: sends now every learner's pending results, of every course
// whose progress zept keeps, to the LRS, and says what is left.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/results_sender.h"
#include "platform/posix/curl_http.h"
#include "platform/posix/posix.h"
#include "store/progress_store.h"
#include "util/utf8.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: zept-sync [--lrs FILE [--reassign ENDPOINT]] [--retry-refused]\n"
    "       zept-sync --help | --version\n"
    "Sends every learner's pending results (xAPI statements) of every course "
    "whose\n"
    "progress zept keeps to the LRS they were captured for, in the order they "
    "were\n"
    "captured, and prints 'sent N, pending M, refused K' (K: refused in this "
    "run),\n"
    "then what still waits for which LRS. A statement only ever goes to the "
    "endpoint\n"
    "that was in force when it was captured, with the credentials of --lrs "
    "when it\n"
    "names that endpoint, else of the configuration zept last found for it, "
    "else of\n"
    "$XDG_CONFIG_HOME/zept/lrs.conf when it names it. Statements captured "
    "with no LRS\n"
    "configured go to the first one configured: --lrs, else the user's.\n"
    "Statements the LRS refused as invalid are set aside and listed with its "
    "reason.\n"
    "  --lrs FILE       an LRS configuration to use for its endpoint\n"
    "  --retry-refused  puts the statements set aside back in line first\n"
    "  --reassign ENDPOINT\n"
    "                   gives the statements waiting for ENDPOINT (one that "
    "was wrong)\n"
    "                   to the endpoint of --lrs first\n"
    "Exits 0 when nothing is pending, 1 otherwise (why on stderr), 2 on a "
    "usage error.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zept-sync: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string option;
  bool retryRefused = false;
  std::string reassign;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("zept-sync %d.%d.%d.%d\n", ZEPT_VERSION_MAJOR,
                  ZEPT_VERSION_MINOR, ZEPT_VERSION_PATCH, ZEPT_VERSION_TWEAK);
      return 0;
    }
    if (arg == "--lrs" || arg.starts_with("--lrs=")) {
      if (!option.empty()) return Usage("--lrs is given twice");
      option = arg == "--lrs" ? (i + 1 < argc ? argv[++i] : "")
                              : arg.substr(std::strlen("--lrs="));
      if (option.empty()) return Usage("--lrs needs a FILE");
      continue;
    }
    if (arg == "--reassign" || arg.starts_with("--reassign=")) {
      if (!reassign.empty()) return Usage("--reassign is given twice");
      reassign = arg == "--reassign" ? (i + 1 < argc ? argv[++i] : "")
                                     : arg.substr(std::strlen("--reassign="));
      if (reassign.empty()) return Usage("--reassign needs an ENDPOINT");
      continue;
    }
    if (arg == "--retry-refused") {
      retryRefused = true;
      continue;
    }
    return Usage("unknown argument '" + arg + "'");
  }
  if (!reassign.empty() && option.empty())
    return Usage("--reassign needs --lrs FILE, the LRS to give them to");

  std::vector<std::string> problems;
  std::size_t sent = 0, pending = 0, refused = 0, setAside = 0;
  std::string dataFolder;
  try {
    const auto folders = zept::platform::NewPosixSystemFolders(
        zept::platform::RunningProgramPath(), std::getenv);
    dataFolder = zept::scorm::DataFolder(*folders);
  } catch (const std::exception& e) {
    problems.push_back(e.what());
  }
  // Configurations that carry statements to their endpoint, besides the
  // one zept remembered for it: --lrs before it, the user's after it.
  const auto warn = [](const zept::xapi::LrsConfig& config) {
    if (const std::string warning = zept::LrsConfigWarning(config);
        !warning.empty())
      std::fprintf(stderr, "zept-sync: warning: %s\n",
                   zept::OneLine(warning).c_str());
  };
  std::optional<zept::xapi::LrsConfig> given, user;
  if (!option.empty()) {
    std::string problem;
    given = zept::FindLrsConfig(option, "", problem);
    if (!given) {
      std::fprintf(stderr, "zept-sync: %s\n", zept::OneLine(problem).c_str());
      return 1;
    }
    warn(*given);
  }
  // Named only where a course's statements would have needed it.
  std::string userProblem;
  user = zept::FindLrsConfig("", "", userProblem);
  if (user) warn(*user);
  const std::unique_ptr<zept::platform::Http> http =
      zept::platform::NewCurlHttp();
  // What waits for each endpoint once the run is over.
  std::map<std::string, std::size_t> waiting;

  std::vector<std::string> stores;
  std::error_code error;
  const fs::path packages = fs::path(dataFolder) / "packages";
  if (!dataFolder.empty() && fs::is_directory(packages, error)) {
    for (const fs::directory_entry& entry :
         fs::directory_iterator(packages, error)) {
      const std::string name = entry.path().filename().string();
      // Stores set aside as damaged are for people to look at, not to send.
      if (name.ends_with(".sqlite") && name.find(".damaged-") == name.npos)
        stores.push_back(entry.path().string());
    }
  }
  std::sort(stores.begin(), stores.end());

  for (const std::string& path : stores) {
    std::string course = fs::path(path).stem().string();
    try {
      zept::scorm::ProgressStore store(path);
      if (const std::string title = store.courseTitle(); !title.empty())
        course = title;
      zept::AdoptEarlierStatements(store);
      // What was captured with no LRS configured goes to the first one
      // configured: --lrs, else the user's.
      if (given || user)
        store.adoptUnconfigured(given ? given->endpoint : user->endpoint);
      if (retryRefused) store.retryRefused();
      if (!reassign.empty()) store.reassign(reassign, given->endpoint);
      const std::size_t unconfigured = store.unconfiguredPending();
      for (const auto& [endpoint, count] : store.pendingByEndpoint()) {
        if (endpoint.empty() && unconfigured > 0) {
          problems.push_back(
              course + ": " + std::to_string(count) +
              " statements were captured with no LRS configured; they go "
              "to the first LRS configured (zept-sync --lrs FILE sends them "
              "to FILE's)");
          continue;
        }
        if (endpoint.empty()) {
          problems.push_back(course + ": " + std::to_string(count) +
                             " statements of an earlier zept wait: the LRS "
                             "configuration it used cannot be read");
          continue;
        }
        // A structured binding cannot be captured by every compiler.
        const std::string& key = endpoint;
        const auto names = [&](const std::optional<zept::xapi::LrsConfig>& c) {
          return c && zept::xapi::EndpointKey(c->endpoint) == key;
        };
        std::optional<zept::xapi::LrsConfig> config;
        std::string problem;
        if (names(given)) config = given;
        for (const auto& [remembered, file] : store.lrsFiles()) {
          if (config || remembered != endpoint) continue;
          auto read = zept::ReadLrsConfig(file, problem);
          if (names(read)) config = read;
        }
        if (!config && names(user)) config = user;
        if (!config) {
          problems.push_back(
              course + ": " + std::to_string(count) + " statements wait for " +
              endpoint + ", which no LRS configuration names now" +
              (problem.empty() ? "" : " (" + problem + ")") +
              (userProblem.empty() ? "" : " (" + userProblem + ")"));
          continue;
        }
        std::set<std::string> before;
        for (const auto& [id, reason] : store.refusedStatements())
          before.insert(id);
        const zept::xapi::SendReport report =
            zept::xapi::Sender(*http, *config).sendAll(store.outbox(endpoint));
        sent += report.sent;
        refused += report.refused;
        if (report.refused > 0)
          for (const auto& [id, reason] : store.refusedStatements())
            if (!before.count(id))
              std::printf("refused %s (%s): %s\n", id.c_str(),
                          zept::OneLine(course).c_str(),
                          zept::OneLine(reason).c_str());
        if (report.outcome != zept::xapi::SendOutcome::kDone)
          problems.push_back(course + ": " + report.reason);
      }
      const bool earlier = store.unconfiguredPending() == 0;
      for (const auto& [endpoint, count] : store.pendingByEndpoint()) {
        pending += count;
        waiting[!endpoint.empty() ? endpoint
                : earlier         ? "an LRS of an earlier zept"
                                  : "the first LRS configured"] += count;
      }
      setAside += store.refusedStatements().size();
    } catch (const std::exception& e) {
      problems.push_back(course + ": " + e.what());
    }
  }

  std::printf("sent %zu, pending %zu, refused %zu\n", sent, pending, refused);
  for (const auto& [endpoint, count] : waiting)
    std::printf("pending %zu for %s\n", count, endpoint.c_str());
  if (setAside > 0)
    std::printf(
        "set aside %zu: refused by the LRS as invalid; zept-sync "
        "--retry-refused puts them back in line\n",
        setAside);
  std::fflush(stdout);
  for (const std::string& problem : problems)
    std::fprintf(stderr, "zept-sync: %s\n", zept::OneLine(problem).c_str());
  return pending == 0 && problems.empty() ? 0 : 1;
}
