#pragma once
// Results of the shell's own courses to the course team's LRS: the
// configuration found for the course, the statements captured by its
// runtime (scorm::ShellResults) and their sending. Without a configuration
// it does nothing at all.

#include <functional>
#include <memory>
#include <string>

#include "app/results_sender.h"
#include "store/shell_results.h"
#include "util/context.h"

namespace zept {

class ShellLrs {
 public:
  // option is zept's --lrs (""); courseFolder the course's folder, native.
  // journal gets the problems and what the sender says, one line each.
  // sendWhilePlaying: a sending thread sends after each store (the
  // window); otherwise sendNow() sends at the end (headless).
  ShellLrs(Context& ctx, const std::string& option,
           const std::string& courseFolder,
           std::function<void(const WideString&)> journal,
           bool sendWhilePlaying);
  ~ShellLrs();
  ShellLrs(const ShellLrs&) = delete;
  ShellLrs& operator=(const ShellLrs&) = delete;

  bool active() const { return results_ != nullptr; }
  // The runtime's statements are captured from now on.
  void attach(TLMSAPI& api);
  // What the sending thread said, to the journal (from the main loop).
  void poll();
  // The run ends: the course's open sessions end, and without a sending
  // thread what is pending is sent now.
  void end(TLMSAPI& api);

 private:
  void statementsReady(const std::string& storePath);

  std::function<void(const WideString&)> journal_;
  bool sendWhilePlaying_;
  std::optional<xapi::LrsConfig> config_;
  std::unique_ptr<scorm::ShellResults> results_;
  std::unique_ptr<ResultsSender> sender_;
  std::string senderPath_;
};

}  // namespace zept
