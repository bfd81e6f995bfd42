#pragma once
// The statements waiting for the LRS, in the order they were captured. The
// store that keeps a course's progress keeps them, written in the same
// transaction as the values that caused them; the sender only reads them
// and marks what the LRS took, so a kill at any point loses nothing and a
// resend carries the same statement id.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zept::xapi {

// A statement as captured: its id (a UUID) and its whole JSON text, id and
// timestamp included, sent byte for byte as stored.
struct Statement {
  std::string id;
  std::string json;
};

struct OutboxEntry {
  std::int64_t seq = 0;  // capture order
  Statement statement;
};

class Outbox {
 public:
  virtual ~Outbox() = default;
  // Up to limit statements still to send, oldest first. A failing store
  // throws (EZeptError and its kinds).
  virtual std::vector<OutboxEntry> pending(std::size_t limit) = 0;
  // The LRS holds them.
  virtual void markSent(const std::vector<std::int64_t>& seqs) = 0;
  // The LRS refused it as invalid (reason: its answer, in a line): set
  // aside, never sent again, listed for the course team.
  virtual void markRefused(std::int64_t seq, const std::string& reason) = 0;
  virtual std::size_t pendingCount() = 0;
};

}  // namespace zept::xapi
