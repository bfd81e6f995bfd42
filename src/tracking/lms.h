#pragma once
// The SCORM 1.2 run-time that stands in for the learning management system:
// the learner's sessions, the five values of the current record, and their
// storage in the registry store or in files.

#include <functional>

#include "tracking/Parcours.h"
#include "tracking/sessiontracking.h"
#include "tracking/users.h"

namespace zept {

// A tracking id or a login as one name of its storage place, whatever it
// holds. A name that is already safe there is used unchanged, so existing
// stores are found where they are; any other is percent-encoded (UTF-8 bytes,
// "%" and two upper-case hex digits), "%" itself included, which is
// reversible, so two names never share a place.
//
// Folder names: encoded are \ / : * ? " < > |, control characters, a
// leading or trailing dot or blank, and the first letter of a Windows device
// name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, with or without
// an extension). Key names: \ and control characters. In both, a lone UTF-16
// surrogate, and a "%" as soon as anything is encoded; and a name that
// already holds "%" and two hex digits is encoded, so that it never equals
// another name's encoded form.
WideString StorageFolderName(const WideString& name);
WideString StorageKeyName(const WideString& name);
// The name that a folder or key name stands for (the inverse of both).
WideString DecodeStorageName(const WideString& stored);

class TLMSAPI;

// Told what a runtime does with the learner's values, for their results
// elsewhere (an LRS). Called on the runtime's thread; never throws.
class TLMSObserver {
 public:
  virtual ~TLMSObserver() = default;
  // LMSLoad read Login's stored trackings document (UTF-8, "" when none is
  // stored), holding their store.
  virtual void loaded(TLMSAPI& api, const Utf8String& stored) = 0;
  virtual void initialized(TLMSAPI& api) = 0;
  // LMSSetValue took value for element (its cmi.* name) of the current
  // SCO's record.
  virtual void valueSet(TLMSAPI& api, const std::string& element,
                        const WideString& value) = 0;
  // LMSCommit is about to store document, as stored (UTF-8); committed
  // tells whether it was.
  virtual void committing(TLMSAPI& api, const Utf8String& document) = 0;
  virtual void committed(TLMSAPI& api, bool stored) = 0;
  virtual void finished(TLMSAPI& api) = 0;
};

class TLMSAPI {
 public:
  TLMSAPI(Context& ctx, const TParcours& parcours);

  // How long LMSLoad waits for another process to let go of the learner's
  // store: it may be closing.
  static constexpr int kStoreWaitMs = 3000;

  WideString TrackingId;
  WideString Login;
  std::int32_t CurrentSession = -1;
  std::int32_t CurrentSCO = -1;
  bool TrackInteractions = false;
  WideString StorageMode = u"reg";
  WideString TrackPath;
  std::int32_t HistoryLimit = 0;
  TSessionList Sessions;
  const TParcours& Parcours;
  TUsers Users;
  const WideString TrackingFileName = u"tracking.xml";
  const WideString UsersFileName = u"users.xml";
  // Tells the learner something they must know: that their store is held by
  // another process, so nothing of theirs is stored by this one.
  std::function<void(const WideString&)> TellLearner;

  // Not owned; none by default.
  TLMSObserver* Observer = nullptr;

  // Begins a session that starts from the values of the last one.
  void LMSInitialize();
  void LMSFinish();
  // Stores the trackings of Login, then the users. The trackings are
  // stored only when this runtime holds their store (taken here when free).
  void LMSCommit();
  // Replaces Sessions with the stored sessions of Login, once this runtime
  // holds their store: one process at a time writes a learner's trackings,
  // so none overwrites the sessions of another. The store stays held until
  // a load for another place, or the end of the runtime.
  void LMSLoad();
  void LMSSetValue(const WideString& element, const WideString& value);
  WideString LMSGetValue(const WideString& element);

  WideString BuildTrackingsXml() const;
  Utf8String BuildTrackingsXmlUtf8() const;
  // Appends the sessions of a stored document; false when it is unreadable.
  bool ParseTrackings(const WideString& text);
  bool ParseTrackingsUtf8(const Utf8String& text);
  void AddSession(std::unique_ptr<TSessionTracking> session);

  // The stored users followed by the ones added here and not stored yet.
  void LoadUsers();
  // Stores the users: under the lock of the list, the stored list is read
  // again and the users added here since the last save join it, so that a
  // list never read here, or grown by another process meanwhile, keeps
  // every learner. When the list cannot be read or locked, nothing is
  // written and the additions wait for the next save.
  void SaveUsers();
  // The stored trackings document of login; the empty-tracking form when
  // nothing is stored. reformat writes its root element out indented.
  WideString UserTrackingXml(const WideString& login, bool reformat);
  WideString UsersSessionsXml();

  // The places; the tracking id and the login are one name each, made with
  // StorageKeyName or StorageFolderName.
  WideString TrackingKey(const WideString& login) const;
  WideString UsersKey() const;
  WideString TrackingFolder(const WideString& login) const;
  WideString UsersFolder() const;

  // The empty-tracking form for login.
  static WideString EmptyTrackingXml(const WideString& login);

  // The name of the lock on Login's trackings: in file mode the native path
  // of their folder, with "." and ".." resolved; in registry mode the
  // user's hive location followed by their key, case-folded; empty for a
  // mode that stores no trackings.
  WideString StoreLockName() const;
  // The name of the lock on the users of the course: their place, the way
  // StoreLockName names a place, and a line of its own, which no learner's
  // place holds.
  WideString UsersLockName() const;
  // How long a save of the users waits for another process's save.
  static constexpr int kUsersWaitMs = 2000;

 private:
  WideString today() const;
  // Creates the folder when missing; true when it exists afterwards.
  bool ensureFolder(const WideString& folder);
  // Stores a document: atomically in a file, or as a registry value. True
  // when it is stored.
  bool storeFile(const WideString& folder, const WideString& name,
                 const Utf8String& text);
  bool storeValue(const WideString& key, const WideString& name,
                  const WideString& text);
  std::optional<std::string> readStoredFile(const WideString& path);
  // The stored users document, empty when there is none; nullopt when it
  // cannot be read. A file's bytes are kept in bytes as they are.
  std::optional<WideString> readStoredUsers(std::string& bytes);
  // Keeps the file found unreadable beside it when path, about to be
  // replaced, is that file, so a damaged history can still be recovered by
  // hand; forgets it then.
  void keepUnreadable(WideString& found, const WideString& path);
  // Writes bytes, an unreadable document about to be replaced, beside path.
  void keepAside(const WideString& path, const std::string& bytes);
  // Takes the lock called name unless it is held already, releasing the one
  // held before. True when this runtime may write there: the lock is held,
  // or this system has no locks. False when another holds it: the learner
  // is told, and the store is refused until a load takes it.
  bool claimStore(const WideString& name, int waitMs, const WideString& from);

  Context& ctx_;
  // The tracking file LMSLoad found unreadable, if any.
  WideString unreadableTracking_;
  // The learner's store held by this runtime, and its name; the one found
  // held by another process.
  std::unique_ptr<platform::HeldLock> storeLock_;
  WideString lockedStore_;
  WideString refusedStore_;
};

}  // namespace zept
