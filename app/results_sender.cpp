#include "app/results_sender.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/posix/curl_http.h"
#include "store/progress_store.h"
#include "xapi/send_loop.h"

namespace zept {

std::optional<xapi::LrsConfig> ReadLrsConfig(const std::string& nativePath,
                                             std::string& problem) {
  std::ifstream in(nativePath, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) {
    // An empty file reads as nothing: it is malformed, not unreadable.
    if (in.is_open() && text.str().empty()) {
      return xapi::ParseLrsConfig("", nativePath, problem);
    }
    problem = "the LRS configuration '" + nativePath + "' cannot be read";
    return std::nullopt;
  }
  return xapi::ParseLrsConfig(text.str(), nativePath, problem);
}

std::optional<xapi::LrsConfig> FindLrsConfig(const std::string& option,
                                             const std::string& courseFolder,
                                             std::string& problem) {
  problem.clear();
  const auto env = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  };
  std::error_code error;
  if (!option.empty() && !std::filesystem::exists(option, error)) {
    problem = "the LRS configuration '" + option + "' does not exist";
    return std::nullopt;
  }
  for (const std::string& place : xapi::LrsConfigPlaces(
           option, env("XDG_CONFIG_HOME"), env("HOME"), courseFolder)) {
    if (std::filesystem::is_regular_file(place, error)) {
      const std::string absolute =
          std::filesystem::absolute(place, error).lexically_normal();
      return ReadLrsConfig(absolute.empty() ? place : absolute, problem);
    }
  }
  return std::nullopt;
}

std::string LrsConfigWarning(const xapi::LrsConfig& config) {
  std::error_code error;
  const auto perms = std::filesystem::status(config.file, error).permissions();
  if (error || std::filesystem::path(config.file).filename() == "zept-lrs.conf")
    return "";
  using std::filesystem::perms;
  if ((perms & (perms::group_read | perms::others_read)) == perms::none)
    return "";
  return "the LRS configuration '" + config.file +
         "' holds a password and other users can read it (chmod 600 '" +
         config.file + "')";
}

void AdoptEarlierStatements(scorm::ProgressStore& store) {
  for (const auto& [endpoint, file] : store.lrsFiles()) {
    if (!endpoint.empty()) continue;
    std::string problem;
    if (auto earlier = ReadLrsConfig(file, problem))
      store.adoptUntagged(earlier->endpoint);
  }
}

std::size_t UseLrs(scorm::ProgressStore& store, const xapi::LrsConfig& config) {
  AdoptEarlierStatements(store);
  store.rememberLrs(config.endpoint, config.file);
  return store.adoptUnconfigured(config.endpoint);
}

struct ResultsSender::Impl {
  std::string storePath;
  xapi::LrsConfig config;
  std::unique_ptr<platform::Http> http = platform::NewCurlHttp();
  // Opened on the sending thread, which alone uses it.
  std::unique_ptr<scorm::ProgressStore> store;
  std::mutex mutex;
  std::string note;
  std::vector<std::string> lines;
  xapi::SendOutcome last = xapi::SendOutcome::kDone;
  // Halved when a request stalls, for the rest of the session.
  std::size_t batch = 100;
  // How many statements waited over a day after the last send.
  std::size_t longWaiting = 0;
  std::unique_ptr<xapi::SendLoop> loop;

  xapi::SendReport sendOnce() {
    try {
      if (!store) store = std::make_unique<scorm::ProgressStore>(storePath);
    } catch (const std::exception& e) {
      xapi::SendReport report;
      report.outcome = xapi::SendOutcome::kStoreFailed;
      report.reason = e.what();
      return report;
    }
    xapi::Outbox& outbox = store->outbox(config.endpoint);
    xapi::Sender sender(*http, config, batch);
    xapi::SendReport report = sender.sendAll(outbox);
    batch = sender.batch();
    longWaiting = 0;
    try {
      const std::int64_t oldest = store->oldestPending(config.endpoint);
      const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
      if (oldest > 0 && now - oldest > kLongWaitMs)
        longWaiting = outbox.pendingCount();
    } catch (const std::exception&) {
      // The note is for information; the send's report says what failed.
    }
    return report;
  }

  // Said once each time the state changes, not at every retry.
  void reported(const xapi::SendReport& report) {
    std::lock_guard<std::mutex> lock(mutex);
    if (report.sent > 0)
      lines.push_back("Results: " + std::to_string(report.sent) +
                      " statements sent to " + config.endpoint);
    if (report.refused > 0)
      lines.push_back(
          "Results: the LRS refused " + std::to_string(report.refused) +
          " statements as invalid; they are set aside (" + report.reason + ")");
    note = "";
    if (report.outcome == xapi::SendOutcome::kCredentials)
      note = "Results not sent: the LRS refused zept's credentials";
    else if (longWaiting > 0)
      note = "Results not sent for over a day: " + std::to_string(longWaiting) +
             " statements wait for the LRS (" + report.reason + ")";
    if (report.outcome != last && report.outcome != xapi::SendOutcome::kDone)
      lines.push_back("Results not sent yet: " + report.reason);
    last = report.outcome;
  }
};

ResultsSender::ResultsSender(std::string storePath, xapi::LrsConfig config)
    : impl_(std::make_unique<Impl>()) {
  impl_->storePath = std::move(storePath);
  impl_->config = std::move(config);
  Impl* d = impl_.get();
  impl_->loop = std::make_unique<xapi::SendLoop>(
      [d] { return d->sendOnce(); },
      [d](const xapi::SendReport& report) { d->reported(report); });
  impl_->loop->start();
}

ResultsSender::~ResultsSender() {
  // A request in flight ends at once: what it carried stays in the outbox
  // and goes again, with the same ids, next time.
  impl_->http->cancel();
  impl_->loop->stop();
}

void ResultsSender::notify() { impl_->loop->notify(); }

bool ResultsSender::flush(int limitMs) {
  return impl_->loop->flush(std::chrono::milliseconds(limitMs));
}

std::string ResultsSender::menuNote() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->note;
}

std::vector<std::string> ResultsSender::takeLines() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return std::exchange(impl_->lines, {});
}

}  // namespace zept
