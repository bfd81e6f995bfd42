#include "xapi/send_loop.h"

#include <exception>

namespace zept::xapi {

SendLoop::SendLoop(std::function<SendReport()> sendOnce,
                   std::function<void(const SendReport&)> onReport,
                   SendLoopTiming timing)
    : sendOnce_(std::move(sendOnce)),
      onReport_(std::move(onReport)),
      timing_(timing) {}

SendLoop::~SendLoop() { stop(); }

void SendLoop::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable() || stopping_) return;
  thread_ = std::thread([this] { run(); });
}

void SendLoop::notify() {
  std::lock_guard<std::mutex> lock(mutex_);
  notified_ = true;
  wake_.notify_all();
}

bool SendLoop::flush(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!thread_.joinable() || refused_) return false;
  // A send under way may have read the outbox before the last store.
  const unsigned after = begun_ + 1;
  hurry_ = notified_ = true;
  wake_.notify_all();
  return sent_.wait_for(lock, limit, [&] { return ended_ >= after; }) &&
         emptied_;
}

void SendLoop::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
    thread_.join();
}

void SendLoop::run() {
  using Clock = std::chrono::steady_clock;
  int failures = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Statements stored from here on wait for the next send.
    notified_ = hurry_ = false;
    ++begun_;
    lock.unlock();
    SendReport report;
    try {
      report = sendOnce_();
    } catch (const std::exception& e) {
      report.outcome = SendOutcome::kStoreFailed;
      report.reason = e.what();
    } catch (...) {
      report.outcome = SendOutcome::kStoreFailed;
      report.reason = "unknown failure";
    }
    try {
      if (onReport_) onReport_(report);
    } catch (...) {
      // The report is for the learner's information only.
    }
    lock.lock();
    ++ended_;
    emptied_ = report.outcome == SendOutcome::kDone;
    sent_.notify_all();
    if (stopping_) return;

    if (report.outcome == SendOutcome::kCredentials) {
      // Nothing will go until the configuration changes: the learner was
      // told; the next session reads the configuration again.
      refused_ = true;
      sent_.notify_all();
      wake_.wait(lock, [&] { return stopping_; });
      return;
    }
    if (report.outcome != SendOutcome::kDone) {
      // Progress before the failure starts the count again.
      failures = report.sent > 0 ? 1 : failures + 1;
      auto due = Clock::now() +
                 timing_.second *
                     RetryDelaySeconds(failures, report.retryAfterSeconds);
      wake_.wait_until(lock, due, [&] { return stopping_ || hurry_; });
      if (stopping_) return;
      continue;
    }
    failures = 0;
    wake_.wait(lock, [&] { return stopping_ || notified_; });
    if (stopping_) return;
    // Later notifies in the settle time join this send.
    wake_.wait_for(lock, timing_.settle, [&] { return stopping_ || hurry_; });
    if (stopping_) return;
  }
}

}  // namespace zept::xapi
