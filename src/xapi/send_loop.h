#pragma once
// The sending thread of a session: sends once at its start, again a moment
// after new statements are stored, and after failures with growing waits.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "xapi/sender.h"

namespace zept::xapi {

struct SendLoopTiming {
  // How long after a notify the send starts, so a burst goes in one batch.
  std::chrono::milliseconds settle{2000};
  // The length of a second of RetryDelaySeconds; tests shrink it.
  std::chrono::milliseconds second{1000};
};

class SendLoop {
 public:
  // sendOnce runs on the loop's thread (typically Sender::sendAll on the
  // session's outbox); onReport gets each of its reports there too.
  SendLoop(std::function<SendReport()> sendOnce,
           std::function<void(const SendReport&)> onReport,
           SendLoopTiming timing = {});
  ~SendLoop();  // stops
  SendLoop(const SendLoop&) = delete;
  SendLoop& operator=(const SendLoop&) = delete;

  void start();
  // New statements are stored. Ignored while waiting after a failure (the
  // next try sends them) and after the LRS refused the credentials.
  void notify();
  // Sends at once, cutting a wait short, and returns when that send has
  // ended or after limit: false when it did not end, or the outbox is not
  // empty. For a program about to end with statements just stored.
  bool flush(std::chrono::milliseconds limit);
  // Returns once the thread ended: a send in flight finishes first (its
  // requests are bounded by their timeouts).
  void stop();

 private:
  void run();

  std::function<SendReport()> sendOnce_;
  std::function<void(const SendReport&)> onReport_;
  SendLoopTiming timing_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool notified_ = false;
  bool hurry_ = false;
  // Sends begun and ended, for flush().
  unsigned begun_ = 0;
  unsigned ended_ = 0;
  bool emptied_ = false;  // the last send ended with nothing pending
  bool refused_ = false;  // the LRS refused the credentials: no more sends
  std::condition_variable sent_;
  std::thread thread_;
};

}  // namespace zept::xapi
