// zept-sync: sends now every learner's pending results, of every course
// whose progress zept keeps, to the LRS, and says what is left.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/results_sender.h"
#include "platform/posix/curl_http.h"
#include "platform/posix/posix.h"
#include "scorm/progress_store.h"
#include "util/utf8.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: zept-sync [--lrs FILE]\n"
    "       zept-sync --help | --version\n"
    "Sends every learner's pending results (xAPI statements) of every course "
    "whose\n"
    "progress zept keeps to the LRS, in the order they were captured, and "
    "prints\n"
    "'sent N, pending M, refused K'. Each course's statements go to the LRS "
    "of the\n"
    "configuration zept found when it played the course, else to "
    "$XDG_CONFIG_HOME/zept/lrs.conf.\n"
    "Statements the LRS refused as invalid are listed with its reason.\n"
    "  --lrs FILE  the LRS configuration for every course\n"
    "Exits 0 when nothing is pending, 1 otherwise (why on stderr), 2 on a "
    "usage error.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zept-sync: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string option;
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
    return Usage("unknown argument '" + arg + "'");
  }

  std::vector<std::string> problems;
  std::size_t sent = 0, pending = 0, refused = 0;
  std::string dataFolder;
  try {
    const auto folders = zept::platform::NewPosixSystemFolders(
        zept::platform::RunningProgramPath(), std::getenv);
    dataFolder = zept::scorm::DataFolder(*folders);
  } catch (const std::exception& e) {
    problems.push_back(e.what());
  }
  std::optional<zept::xapi::LrsConfig> given;
  if (!option.empty()) {
    std::string problem;
    given = zept::FindLrsConfig(option, "", problem);
    if (!given) {
      std::fprintf(stderr, "zept-sync: %s\n", zept::OneLine(problem).c_str());
      return 1;
    }
  }
  const std::unique_ptr<zept::platform::Http> http =
      zept::platform::NewCurlHttp();

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
      if (store.pendingStatements() > 0) {
        std::optional<zept::xapi::LrsConfig> config = given;
        std::string problem;
        if (!config && !store.lrsFile().empty())
          config = zept::ReadLrsConfig(store.lrsFile(), problem);
        if (!config && problem.empty())
          config = zept::FindLrsConfig("", "", problem);
        if (!config) {
          problems.push_back(course + ": " +
                             (problem.empty()
                                  ? std::string("no LRS is configured")
                                  : problem));
        } else {
          const zept::xapi::SendReport report =
              zept::xapi::Sender(*http, *config).sendAll(store.outbox());
          sent += report.sent;
          if (report.outcome != zept::xapi::SendOutcome::kDone)
            problems.push_back(course + ": " + report.reason);
        }
      }
      pending += store.pendingStatements();
      for (const auto& [id, reason] : store.refusedStatements()) {
        ++refused;
        std::printf("refused %s (%s): %s\n", id.c_str(),
                    zept::OneLine(course).c_str(),
                    zept::OneLine(reason).c_str());
      }
    } catch (const std::exception& e) {
      problems.push_back(course + ": " + e.what());
    }
  }

  std::printf("sent %zu, pending %zu, refused %zu\n", sent, pending, refused);
  std::fflush(stdout);
  for (const std::string& problem : problems)
    std::fprintf(stderr, "zept-sync: %s\n", zept::OneLine(problem).c_str());
  return pending == 0 && problems.empty() ? 0 : 1;
}
