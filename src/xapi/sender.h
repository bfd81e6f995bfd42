#pragma once
// Sends an outbox to an LRS: POST of batches of statements in capture order,
// marking what the LRS took. Blocking; run off the window's loop.

#include <cstddef>
#include <string>

#include "platform/http.h"
#include "xapi/config.h"
#include "xapi/outbox.h"

namespace zept::xapi {

enum class SendOutcome {
  kDone,         // nothing pending any more
  kUnreachable,  // no answer: network, refused, timeout, certificate
  kBusy,         // 5xx, or 429 (retryAfterSeconds when the LRS said)
  kCredentials,  // 401/403: stop until the configuration changes
  kStoreFailed,  // the outbox could not be read or marked
};

struct SendReport {
  std::size_t sent = 0;     // taken by the LRS in this run (or already there)
  std::size_t refused = 0;  // set aside in this run as invalid
  SendOutcome outcome = SendOutcome::kDone;
  std::string reason;          // one line, for the journal and zept-sync
  int retryAfterSeconds = -1;  // from Retry-After, -1 when not given
};

class Sender {
 public:
  Sender(platform::Http& http, LrsConfig config, std::size_t batch = 100);
  // Sends until nothing is pending or something fails.
  SendReport sendAll(Outbox& outbox);

 private:
  platform::Http& http_;
  LrsConfig config_;
  std::size_t batch_;
};

// Seconds to wait before the next try after `failures` failures in a row
// (1, 2, 4, ... up to 5 minutes); a Retry-After the LRS gave wins when
// longer (capped at an hour).
int RetryDelaySeconds(int failures, int retryAfterSeconds);

}  // namespace zept::xapi
