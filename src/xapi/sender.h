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
  kUnreachable,  // no answer (network, refused, timeout, certificate), or
                 // an answer that is not an LRS's (wrong endpoint, a proxy)
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

// How long a request may take: no limit on the whole, so that a slow link
// still drains the outbox, but a link that stalls is given up.
struct SendLimits {
  int connectTimeoutMs = 15000;
  int lowSpeedBytes = 512;  // a second, over lowSpeedSeconds
  int lowSpeedSeconds = 20;
};

class Sender {
 public:
  Sender(platform::Http& http, LrsConfig config, std::size_t batch = 100,
         SendLimits limits = {});
  // Sends until nothing is pending or something fails. A statement is set
  // aside only when the LRS refuses it while it takes others in the same
  // run, or names it in its refusal: an endpoint that refuses everything,
  // or answers what no LRS would, is a fault of the endpoint, and the
  // statements wait for it to be put right.
  SendReport sendAll(Outbox& outbox);
  // The batch size after sendAll: halved at each stalled request, for the
  // next sends of a caller that keeps it.
  std::size_t batch() const { return batch_; }

 private:
  platform::Http& http_;
  LrsConfig config_;
  std::size_t batch_;
  SendLimits limits_;
};

// Seconds to wait before the next try after `failures` failures in a row
// (1, 2, 4, ... up to 5 minutes); a Retry-After the LRS gave wins when
// longer (capped at an hour).
int RetryDelaySeconds(int failures, int retryAfterSeconds);

}  // namespace zept::xapi
