#include "app/shell_lrs.h"

#include "platform/codepage.h"
#include "platform/posix/curl_http.h"
#include "store/progress_store.h"
#include "xapi/sender.h"

namespace zept {

ShellLrs::ShellLrs(Context& ctx, const std::string& option,
                   const std::string& courseFolder,
                   std::function<void(const WideString&)> journal,
                   bool sendWhilePlaying)
    : journal_(std::move(journal)), sendWhilePlaying_(sendWhilePlaying) {
  std::string problem;
  config_ = FindLrsConfig(option, courseFolder, problem);
  if (!problem.empty())
    journal_(Utf8ToWide(problem + "; results are not sent"));
  if (!config_) return;
  if (const std::string warning = LrsConfigWarning(*config_); !warning.empty())
    journal_(Utf8ToWide("Warning: " + warning));
  try {
    results_ = std::make_unique<scorm::ShellResults>(
        scorm::DataFolder(ctx.platform.folders), *config_,
        [this](const std::string& line) { journal_(Utf8ToWide(line)); },
        [this](const std::string& path) { statementsReady(path); });
  } catch (const std::exception& e) {
    journal_(Utf8ToWide(std::string(e.what()) + "; results are not sent"));
  }
}

ShellLrs::~ShellLrs() = default;

void ShellLrs::attach(TLMSAPI& api) {
  if (results_) api.Observer = results_.get();
}

void ShellLrs::statementsReady(const std::string& storePath) {
  if (!sendWhilePlaying_) return;
  // One course at a time: another tracking id's store gets its own sender.
  if (!sender_ || senderPath_ != storePath) {
    sender_.reset();
    sender_ = std::make_unique<ResultsSender>(storePath, *config_);
    senderPath_ = storePath;
  }
  sender_->notify();
}

void ShellLrs::poll() {
  if (!sender_) return;
  for (const std::string& line : sender_->takeLines())
    journal_(Utf8ToWide(line));
}

void ShellLrs::end(TLMSAPI& api) {
  if (!results_) return;
  results_->end(api);
  if (api.Observer == results_.get()) api.Observer = nullptr;
  // The last statements get a moment to leave rather than wait for the
  // next start, as for packages.
  if (sender_ && !sender_->flush(3000))
    journal_(
        u"Results: statements wait for the next start of zept or "
        u"zept-sync");
  poll();
  sender_.reset();
  const std::string path = results_->storePath();
  if (sendWhilePlaying_ || path.empty()) return;
  try {
    scorm::ProgressStore store(path);
    if (store.pendingStatements() == 0) return;
    const std::unique_ptr<platform::Http> http = platform::NewCurlHttp();
    const xapi::SendReport report =
        xapi::Sender(*http, *config_).sendAll(store.outbox(config_->endpoint));
    if (report.sent > 0)
      journal_(Utf8ToWide("Results: " + std::to_string(report.sent) +
                          " statements sent to " + config_->endpoint));
    if (report.refused > 0)
      journal_(Utf8ToWide("Results: the LRS refused " +
                          std::to_string(report.refused) +
                          " statements as invalid; they are set aside (" +
                          report.reason + ")"));
    if (report.outcome != xapi::SendOutcome::kDone)
      journal_(Utf8ToWide("Results not sent yet: " + report.reason));
  } catch (const std::exception& e) {
    journal_(Utf8ToWide(std::string("Results not sent yet: ") + e.what()));
  }
}

}  // namespace zept
