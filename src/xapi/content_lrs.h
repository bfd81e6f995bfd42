#pragma once
// The LRS zept serves the content it plays (cmi5 AUs, Tin Can packages):
// xAPI 1.0.3's statements, state, activity profile, agent profile,
// activities, agents and about resources over one learner's LrsStore. Pure:
// a request in, an answer out; the window's scheme (or zept-lrs-serve)
// carries them, the store keeps everything before the answer says it is
// kept. What a launch adds on top (cmi5's rules) comes in as LrsRules.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
  // A line for the journal when a bound refused the request; "" otherwise.
  std::string journal;
  // The header named name (any case); "" when absent.
  std::string header(std::string_view name) const;
};

// Refusals carry their reason as plain text, in a line.
LrsAnswer RefuseRequest(int status, const std::string& reason);

// A request in the alternate syntax (a POST with ?method=X, its headers,
// parameters and content in a form) as it would have been sent plainly;
// any other request as it is. fault: why it is not a good one, "" when it
// is. Carriers unwrap before they look for credentials.
LrsRequest PlainRequest(const LrsRequest& request,
                        std::string* fault = nullptr);

// Rules a launch lays over the plain LRS (cmi5's for an AU's session). Each
// hook answers nullopt to let the request go on, or the refusal to send.
// Statements are judged in order after xAPI's own checks; settle() says
// whether the batch judged since the last settle() was kept.
class LrsRules {
 public:
  virtual ~LrsRules() = default;
  virtual std::optional<LrsAnswer> beforeStatements() { return std::nullopt; }
  // A statement the store holds already, sent again unchanged.
  virtual std::optional<LrsAnswer> resent(const JsonValue& statement) {
    (void)statement;
    return std::nullopt;
  }
  // A new statement; hasId: it came with its id.
  virtual std::optional<LrsAnswer> judge(const JsonValue& statement,
                                         bool hasId) = 0;
  virtual void settle(bool kept) = 0;
  // A request on a document, before the store is read; the body as sent.
  // method is "HEAD" for a HEAD, which is otherwise answered as a GET.
  virtual std::optional<LrsAnswer> document(const std::string& method,
                                            const DocumentKey& key,
                                            const LrsRequest& request) = 0;
  // The document as it would be written (after a POST's merge).
  virtual std::optional<LrsAnswer> documentWritten(
      const DocumentKey& key, const std::string& contentType,
      const std::string& body) = 0;
};

// Where the LRS's answers stop: larger requests are refused (413) with a
// journal line, longer answers end with a "more" link.
struct LrsBounds {
  std::size_t requestBytes = 8u << 20;    // a request of statements
  std::size_t statementBytes = 1u << 20;  // one statement, as sent
  std::size_t documentBytes = 1u << 20;   // one document
  // What one learner's statements and documents may hold in all.
  std::int64_t learnerBytes = 64LL << 20;
  std::size_t pageStatements = 100;  // a GET without limit, or above it
  std::size_t pageBytes = 4u << 20;  // a page's statements, in bytes
};

struct ContentLrsOptions {
  // Milliseconds since 1970 and new statement ids; the clock and NewUuid
  // when not given.
  std::function<std::int64_t()> nowMs;
  std::function<std::string()> newId;
  LrsBounds bounds = {};
  // The Agent (JSON) set as the authority of statements sent without one;
  // "" for none.
  std::string authority = "";
  // The LRS's path on its server ("/xapi/"), which "more" links start with
  // as xAPI asks; "" leaves them relative to the statements resource.
  std::string root = "";
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

  // From now on (nullptr: no more) requests pass rules too; rules must
  // outlive their use.
  void setRules(LrsRules* rules) { rules_ = rules; }

 private:
  LrsAnswer statements(const LrsRequest& request);
  LrsAnswer getStatements(const LrsRequest& request,
                          const std::map<std::string, std::string>& params);
  LrsAnswer documents(const LrsRequest& request, DocumentKind kind);
  LrsAnswer activities(const LrsRequest& request);
  LrsAnswer agents(const LrsRequest& request);
  // What the learner's statements and documents hold, counted once.
  std::int64_t& bytesKept();

  LrsStore& store_;
  ContentLrsOptions options_;
  LrsRules* rules_ = nullptr;
  std::optional<JsonValue> authority_;
  bool head_ = false;  // the request being answered is a HEAD
  std::optional<std::int64_t> bytesKept_;
};

// The key an Agent or Group is found by: its identifier ("mbox:mailto:a@b",
// "account:HOMEPAGE NAME", ...); "" for an anonymous Group.
std::string AgentKey(const JsonValue& agent);

// Milliseconds since 1970 as an ISO 8601 timestamp in UTC with
// milliseconds, and back (any zone; nullopt for no timestamp).
std::string TimestampOfMs(std::int64_t ms);
std::optional<std::int64_t> MsOfTimestamp(std::string_view timestamp);

}  // namespace zept::xapi
