#pragma once
// The LRS zept serves the content it plays (cmi5 AUs, Tin Can packages):
// xAPI 1.0.3's statements, state, activity profile, agent profile and
// about resources over one learner's LrsStore. Pure: a request in, an
// answer out; the window's scheme carries them, the store keeps everything
// before the answer says it is kept.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cmi5/launch.h"
#include "cmi5/statement_rules.h"
#include "xapi/json.h"
#include "xapi/lrs_store.h"

namespace zept::xapi {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct LrsRequest {
  std::string method;  // "GET", "PUT", "POST", "DELETE", "HEAD"
  std::string path;    // below the LRS's root: "statements", "/about"
  std::string query;   // without '?', percent-encoded
  HttpHeaders headers;
  std::string body;
};

struct LrsAnswer {
  int status = 200;
  HttpHeaders headers;
  std::string body;
  // The header named name (any case); "" when absent.
  std::string header(std::string_view name) const;
};

// The cmi5 session the content runs in: its statements are judged by the
// LMS's rules before they are kept.
struct Cmi5Session {
  cmi5::Launch launch;
  cmi5::SessionState state;
  // The AU has read the learner preferences, which it must before it sends
  // any statement.
  bool preferencesRead = false;
};

struct ContentLrsOptions {
  // Milliseconds since 1970 and new statement ids; the clock and NewUuid
  // when not given.
  std::function<std::int64_t()> nowMs;
  std::function<std::string()> newId;
};

class ContentLrs {
 public:
  // store must outlive the handler.
  explicit ContentLrs(LrsStore& store, ContentLrsOptions options = {});

  LrsAnswer handle(const LrsRequest& request);

  // Keeps statements of zept's own (launched, satisfied, abandoned...),
  // unjudged, after what the content sent so far: they enter the outbox in
  // that order and the content's queries find them. One already kept is
  // kept once. Throws EZeptError, having kept none, for one that is not
  // valid or when the store fails.
  void record(const std::vector<Statement>& statements);

  // Writes a document of zept's own (the launch data) as a PUT would.
  // Throws EZeptError when the store fails.
  void writeDocument(const DocumentKey& key, const std::string& contentType,
                     const std::string& body);

  // From now on (nullopt: no more) statements are judged in session; its
  // state follows the statements taken.
  void setSession(std::optional<Cmi5Session> session);
  const std::optional<Cmi5Session>& session() const { return session_; }

 private:
  LrsAnswer statements(const LrsRequest& request);
  LrsAnswer documents(const LrsRequest& request, DocumentKind kind);

  LrsStore& store_;
  ContentLrsOptions options_;
  std::optional<Cmi5Session> session_;
};

// The key an Agent or Group is found by: its identifier ("mbox:mailto:a@b",
// "account:HOMEPAGE NAME", ...); "" for an anonymous Group.
std::string AgentKey(const JsonValue& agent);

// Milliseconds since 1970 as an ISO 8601 timestamp in UTC with
// milliseconds, and back (any zone; nullopt for no timestamp).
std::string TimestampOfMs(std::int64_t ms);
std::optional<std::int64_t> MsOfTimestamp(std::string_view timestamp);

}  // namespace zept::xapi
