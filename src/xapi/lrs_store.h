#pragma once
// What the LRS that content talks to keeps for one learner: statements,
// with the outbox entries that forward them, and documents (state,
// activity and agent profiles), which stay on the learner's machine. The
// course's progress store keeps them; every call is one transaction, and
// a failing one throws (EZeptError and its kinds) having changed nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "xapi/outbox.h"

namespace zept::xapi {

// A statement the LRS has taken, as the store keeps it.
struct StoredStatement {
  std::string json;       // as answered to GET: with "stored"
  std::string canonical;  // what was sent, to tell a resend from a conflict
  bool ours = false;      // the store's learner's
  bool voided = false;
  bool voiding = false;  // its verb is "voided"
};

// The data of an attachment sent with its statement, found by its SHA-256.
struct Attachment {
  std::string sha2;  // lowercase hex
  std::string contentType;
  std::string body;
};

// A statement to keep; outgoing enters the outbox.
struct NewStatement {
  Statement outgoing;  // id and the JSON the course team's LRS gets
  std::string json;    // as answered to GET
  std::string canonical;
  std::int64_t storedMs = 0;
  // What queries filter on; "" for none.
  std::string actorKey;        // AgentKey of the actor
  std::string objectAgentKey;  // of an Agent or Group object
  std::string verb;
  std::string activity;  // an Activity object's id
  std::string registration;
  std::string voids;  // the id a voiding statement voids
  // Data its attachments came with; kept with the learner, never forwarded.
  std::vector<Attachment> attachments;
};

struct StatementFilter {
  std::string agentKey;  // the actor's, or the object's
  std::string verb;
  std::string activity;
  std::string registration;
  std::optional<std::int64_t> since, until;  // stored after, at or before
  bool ascending = false;                    // by stored, then arrival
  std::size_t limit = 0;                     // 0: all
  std::size_t offset = 0;                    // how many to pass over first
  // Also every statement whose object is a StatementRef or SubStatement,
  // which may match through what it holds.
  bool withReferences = false;
};

enum class DocumentKind { kState, kActivityProfile, kAgentProfile };

// A document's place; what does not apply to its kind is "".
struct DocumentKey {
  DocumentKind kind = DocumentKind::kState;
  std::string activity;
  std::string agent;  // AgentKey
  std::string registration;
  std::string id;
};

struct Document {
  std::string contentType;
  std::string body;
  std::string etag;  // quoted
  std::int64_t updatedMs = 0;
};

class LrsStore {
 public:
  virtual ~LrsStore() = default;
  // The statement with id, of any learner; nullopt when none.
  virtual std::optional<StoredStatement> statement(const std::string& id) = 0;
  // Keeps them in their order, forwarding each through the outbox, and
  // marks what they void, in one transaction.
  virtual void addStatements(const std::vector<NewStatement>& statements) = 0;
  // The learner's statements not voided that pass filter (JSON texts).
  virtual std::vector<std::string> statements(
      const StatementFilter& filter) = 0;

  virtual std::optional<Document> document(const DocumentKey& key) = 0;
  virtual void putDocument(const DocumentKey& key,
                           const Document& document) = 0;
  // key.id "": every document of the kind at that place.
  virtual void deleteDocuments(const DocumentKey& key) = 0;
  // The ids at key's place (its id ignored) updated after since.
  virtual std::vector<std::string> documentIds(
      const DocumentKey& key, std::optional<std::int64_t> since) = 0;
  // The data of one of the learner's attachments; nullopt when none.
  virtual std::optional<Attachment> attachment(const std::string& sha2) = 0;
  // What the learner's statements, documents and attachments take, in
  // bytes.
  virtual std::int64_t bytes() = 0;
};

}  // namespace zept::xapi
