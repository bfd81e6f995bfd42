// Whatever an endpoint answers, the sender neither crashes nor loses a
// statement: each ends sent, set aside or still pending, never two of
// these, and one is set aside only when the LRS took another in the same
// run or named it.
//
// Input: answers separated by "\n--\n", each "STATUS BODY" (a status of 0
// is no answer, "0s" a stalled one); the first byte picks how many
// statements wait (1 to 16) and the batch size.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "platform/fake/fakes.h"
#include "xapi/sender.h"

namespace {

using namespace zept;

void Check(bool ok) {
  if (!ok) std::abort();
}

class MemoryOutbox final : public xapi::Outbox {
 public:
  explicit MemoryOutbox(int count) {
    for (int i = 1; i <= count; ++i) {
      const std::string id = "00000000-0000-4000-8000-0000000000" +
                             std::string(i < 10 ? "0" : "") + std::to_string(i);
      all[i] = {id, "{\"id\":\"" + id + "\"}"};
    }
  }
  std::map<std::int64_t, xapi::Statement> all;
  std::set<std::int64_t> sent;
  std::map<std::int64_t, std::string> refused;

  std::vector<xapi::OutboxEntry> pending(std::size_t limit) override {
    std::vector<xapi::OutboxEntry> out;
    for (const auto& [seq, s] : all)
      if (out.size() < limit && !sent.count(seq) && !refused.count(seq))
        out.push_back({seq, s});
    return out;
  }
  void markSent(const std::vector<std::int64_t>& seqs) override {
    for (std::int64_t seq : seqs) {
      Check(all.count(seq) && !sent.count(seq) && !refused.count(seq));
      sent.insert(seq);
    }
  }
  void markRefused(std::int64_t seq, const std::string& reason) override {
    Check(all.count(seq) && !sent.count(seq) && !refused.count(seq));
    Check(reason.find('\n') == std::string::npos);
    refused[seq] = reason;
  }
  std::size_t pendingCount() override { return pending(1u << 30).size(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const int count = 1 + (data[0] & 15);
  const std::size_t batch = 1 + (data[0] >> 4);
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  platform::FakeHttp http;
  std::string bodies;
  while (!rest.empty()) {
    const std::size_t end = rest.find("\n--\n");
    std::string_view part = rest.substr(0, end);
    rest = end == std::string_view::npos ? "" : rest.substr(end + 4);
    const std::size_t space = part.find(' ');
    std::string_view status = part.substr(0, space);
    const std::string body(
        space == std::string_view::npos ? "" : part.substr(space + 1));
    if (status == "0" || status == "0s") {
      platform::HttpResponse r = platform::FakeHttp::Failure("no answer");
      r.stalled = status == "0s";
      http.script.push_back(r);
      continue;
    }
    int code = 0;
    for (char c : status.substr(0, 3))
      code = c >= '0' && c <= '9' ? code * 10 + (c - '0') : code;
    http.script.push_back(platform::FakeHttp::Answer(code, body));
    bodies += body;
  }
  MemoryOutbox outbox(count);
  xapi::LrsConfig config;
  config.endpoint = "https://lrs.example.org/xAPI/";
  const xapi::SendReport report =
      xapi::Sender(http, config, batch).sendAll(outbox);
  Check(report.sent == outbox.sent.size());
  Check(report.refused == outbox.refused.size());
  // Nothing set aside unless the LRS took one, or named what it refused.
  if (outbox.sent.empty())
    for (const auto& [seq, reason] : outbox.refused)
      Check(bodies.find(outbox.all[seq].id) != std::string::npos);
  Check(http.requests.size() < 400);
  return 0;
}
