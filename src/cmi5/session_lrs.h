#pragma once
// zept's LRS as a cmi5 AU meets it: the plain LRS with the LMS's rules for
// the session launched laid on top (statements judged in order, the launch
// data read-only, the learner preferences read first and kept in shape).

#include <optional>
#include <string>
#include <vector>

#include "cmi5/launch.h"
#include "cmi5/statement_rules.h"
#include "xapi/content_lrs.h"

namespace zept::cmi5 {

// The cmi5 session the content runs in: its statements are judged by the
// LMS's rules before they are kept.
struct Cmi5Session {
  Launch launch;
  SessionState state;
  // The AU has read the learner preferences, which it must before it sends
  // any statement.
  bool preferencesRead = false;
};

// Why a learner preferences document is not one: a JSON object whose
// languagePreference lists language tags, comma-separated, and whose
// audioPreference is "on" or "off". "" when it is one.
std::string PreferencesFault(const std::string& contentType,
                             const std::string& body);

class SessionLrs {
 public:
  // store must outlive the handler.
  explicit SessionLrs(xapi::LrsStore& store,
                      xapi::ContentLrsOptions options = {});
  SessionLrs(const SessionLrs&) = delete;
  SessionLrs& operator=(const SessionLrs&) = delete;

  xapi::LrsAnswer handle(const xapi::LrsRequest& request) {
    return lrs_.handle(request);
  }
  // As ContentLrs's: zept's own statements and documents, unjudged.
  void record(const std::vector<xapi::Statement>& statements) {
    lrs_.record(statements);
  }
  void writeDocument(const xapi::DocumentKey& key,
                     const std::string& contentType, const std::string& body) {
    lrs_.writeDocument(key, contentType, body);
  }

  // From now on (nullopt: no more) statements are judged in session; its
  // state follows the statements taken.
  void setSession(std::optional<Cmi5Session> session);
  const std::optional<Cmi5Session>& session() const { return rules_.session; }

 private:
  struct Rules final : xapi::LrsRules {
    std::optional<Cmi5Session> session;
    // The state the batch being judged has reached.
    std::optional<SessionState> staged;

    std::optional<xapi::LrsAnswer> beforeStatements() override;
    std::optional<xapi::LrsAnswer> resent(
        const xapi::JsonValue& statement) override;
    std::optional<xapi::LrsAnswer> judge(const xapi::JsonValue& statement,
                                         bool hasId) override;
    void settle(bool kept) override;
    std::optional<xapi::LrsAnswer> document(
        const std::string& method, const xapi::DocumentKey& key,
        const xapi::LrsRequest& request) override;
    std::optional<xapi::LrsAnswer> documentWritten(
        const xapi::DocumentKey& key, const std::string& contentType,
        const std::string& body) override;
  };

  xapi::ContentLrs lrs_;
  Rules rules_;
};

}  // namespace zept::cmi5
