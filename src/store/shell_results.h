#pragma once
// The results of the shell's own courses, as packages give theirs: xAPI
// statements from the LMSSetValue commands and the session ends, one
// statement session per SCO touched in a course session, kept in an outbox
// of zept's data folder ("shell-" + SHA-256 of the tracking id). A SCO is
// touched by its first value set, not by becoming the current one: menus
// select SCOs only to read their values.
//
// The values live in the trackings document (a file or a registry value),
// the statements in the outbox: two stores, so a commit stages the
// statements with the SHA-256 of the document about to be stored, stores
// it, then settles them (pending when it was stored, removed otherwise).
// What a crash leaves staged is settled by the next load of the learner,
// against the document then stored: statements go to the LRS exactly when
// the values that caused them were kept.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/progress_store.h"
#include "tracking/lms.h"
#include "xapi/config.h"
#include "xapi/statements.h"

namespace zept::scorm {

// The key of a shell course's store: "shell-" and the SHA-256 (hex) of its
// tracking id in UTF-8.
std::string ShellStoreKey(const WideString& trackingId);

class ShellResults final : public TLMSObserver {
 public:
  // problem gets one line when the store fails (the course plays on);
  // onStatements the store's path when statements are ready to send.
  ShellResults(std::string dataFolder, xapi::LrsConfig config,
               std::function<void(const std::string&)> problem,
               std::function<void(const std::string&)> onStatements);
  ~ShellResults() override;

  // For tests: statement ids and times (default NewUuid, UtcTimestamp).
  std::function<std::string()> newId, now;

  void loaded(TLMSAPI& api, const Utf8String& stored) override;
  void initialized(TLMSAPI& api) override;
  void valueSet(TLMSAPI& api, const std::string& element,
                const WideString& value) override;
  void committing(TLMSAPI& api, const Utf8String& document) override;
  void committed(TLMSAPI& api, bool stored) override;
  void finished(TLMSAPI& api) override;
  // The run ends (the window closed, with or without LMSFinish): the SCO
  // sessions still open end, their statements kept when nothing of their
  // values waits to be stored.
  void end(TLMSAPI& api);

  // The path of the store in use; "" before the first.
  const std::string& storePath() const { return path_; }

 private:
  struct ScoSession {
    std::unique_ptr<xapi::SessionStatements> statements;
    bool scored = false;  // set a score in this session
  };

  ProgressStore* store(TLMSAPI& api);
  void report(const std::exception& e);
  // The SCO sessions of the course session end: terminated with their
  // records' values.
  void endSessions(TLMSAPI& api);
  xapi::ElementValues valuesOf(TLMSAPI& api, std::int32_t session,
                               std::int32_t sco, bool scored) const;
  void collect();
  // Settles what was staged with token against the document known stored:
  // pending when it is that document, removed (and waiting still) when not.
  void settle(TLMSAPI& api, const std::string& token);
  // When the document as it would be stored now is the stored one, what
  // waits is kept at once.
  void keepIfStored(TLMSAPI& api);

  std::string dataFolder_;
  xapi::LrsConfig config_;
  std::function<void(const std::string&)> problem_;
  std::function<void(const std::string&)> onStatements_;
  std::string lastProblem_;

  std::unique_ptr<ProgressStore> store_;
  WideString storeFor_;  // the tracking id of store_
  std::string path_;

  // The place (StoreLockName) whose stored document has token storedToken_.
  WideString place_;
  std::optional<std::string> storedToken_;
  // The document being stored: its token; whether what waits was staged
  // with it.
  std::string committing_;
  bool staged_ = false;

  std::int32_t courseSession_ = 0;
  std::map<std::int32_t, ScoSession> sessions_;  // by SCO number
  std::string login_;                            // of the statements waiting
  std::vector<xapi::Statement> waiting_;
};

}  // namespace zept::scorm
