#include "tracking/lms.h"

#include "platform/codepage.h"
#include "util/FileVersion.h"
#include "util/datetime.h"
#include "util/file_io.h"
#include "util/reglib.h"
#include "util/utf8.h"
#include "util/xml.h"

namespace zept {
namespace {

constexpr char16_t kBaseKey[] = u"\\Software\\vardeno\\tracking";
// Trace code of a registry write that failed after its key opened.
constexpr int kRegistryWriteCode = 2404;
// Trace code of a learner's store that this system cannot lock at all.
constexpr int kStoreLockCode = 2406;

WideString Place(WideString base, const WideString& trackingId,
                 const WideString& login) {
  if (!trackingId.empty()) base += u"\\" + trackingId;
  if (!login.empty()) base += u"\\" + login;
  return base;
}

enum class StoreKind { Folder, Key };

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

bool EscapeAt(const WideString& text, std::size_t i) {
  return text[i] == u'%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
         HexValue(text[i + 2]) >= 0;
}

// A character that cannot stand in a name of this kind of store. A lone
// surrogate has no UTF-8 form of its own: two of them would meet as U+FFFD.
bool Unsafe(StoreKind kind, const WideString& name, std::size_t i) {
  const char16_t c = name[i];
  if (c < 0x20 || c == 0x7F || c == u'\\') return true;
  if (IsHighSurrogate(c))
    return i + 1 >= name.size() || !IsLowSurrogate(name[i + 1]);
  if (IsLowSurrogate(c)) return i == 0 || !IsHighSurrogate(name[i - 1]);
  return kind == StoreKind::Folder &&
         WideString(u"/:*?\"<>|").find(c) != WideString::npos;
}

// Windows keeps these names for devices, with any extension.
bool IsDeviceName(const WideString& name) {
  WideString base = name.substr(0, name.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (char16_t& c : base) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" ||
      base == u"CONIN$" || base == u"CONOUT$") {
    return true;
  }
  if (base.size() != 4 ||
      (base.compare(0, 3, u"COM") != 0 && base.compare(0, 3, u"LPT") != 0)) {
    return false;
  }
  const char16_t digit = base[3];
  return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' ||
         digit == u'\u00B2' || digit == u'\u00B3';
}

// "%" and the UTF-8 bytes of one code unit (three for a lone surrogate).
void AppendEscaped(WideString& out, char16_t c) {
  unsigned char bytes[3];
  int n;
  if (c < 0x80) {
    bytes[0] = static_cast<unsigned char>(c);
    n = 1;
  } else if (c < 0x800) {
    bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
    bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    n = 2;
  } else {
    bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
    bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    n = 3;
  }
  constexpr char16_t kHex[] = u"0123456789ABCDEF";
  for (int i = 0; i < n; ++i) {
    out += u'%';
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0xF];
  }
}

WideString StorageName(StoreKind kind, const WideString& name) {
  const std::size_t n = name.size();
  std::vector<bool> encode(n, false);
  bool needed = false;
  for (std::size_t i = 0; i < n; ++i) {
    encode[i] = Unsafe(kind, name, i);
    needed = needed || encode[i] || EscapeAt(name, i);
  }
  if (kind == StoreKind::Folder && n > 0) {
    // Windows drops a trailing dot or blank ("anna." would be "anna"), and
    // "." and ".." are no names at all.
    if (name.front() == u'.' || name.front() == u' ' || IsDeviceName(name))
      encode.front() = true;
    if (name.back() == u'.' || name.back() == u' ') encode.back() = true;
    needed = needed || encode.front() || encode.back();
  }
  if (!needed) return name;
  WideString out;
  out.reserve(n + n / 2);
  for (std::size_t i = 0; i < n; ++i) {
    if (encode[i] || name[i] == u'%')
      AppendEscaped(out, name[i]);
    else
      out += name[i];
  }
  return out;
}

// Decodes a run of escaped bytes; surrogates come back as the lone units
// they were written from.
void AppendDecoded(WideString& out, const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const Utf8Char c = ReadUtf8(bytes, i, Utf8Bad::kByte, true);
    AppendCodePoint(out, c.code);
    i += c.length;
  }
}

// The path with single separators and "." and ".." resolved, so that every
// spelling of a folder names the same lock.
WideString LexicalPath(const WideString& path) {
  const bool rooted =
      !path.empty() && (path.front() == u'\\' || path.front() == u'/');
  std::vector<WideString> names;
  WideString name;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != u'\\' && path[i] != u'/') {
      name += path[i];
      continue;
    }
    if (name == u"..") {
      if (!names.empty() && names.back() != u"..")
        names.pop_back();
      else if (!rooted)
        names.push_back(name);
    } else if (!name.empty() && name != u".") {
      names.push_back(name);
    }
    name.clear();
  }
  WideString out = rooted ? u"\\" : u"";
  for (std::size_t i = 0; i < names.size(); ++i)
    out += (i > 0 ? u"\\" : u"") + names[i];
  return out;
}

// The field a SCORM element name sets, and its cmi.* name; nullptr for any
// other name.
WideString* SettableField(TSCOTracking& r, const WideString& element,
                          const char*& name) {
  if (element == u"cmi.core.lesson_location" || element == u"lesson_location") {
    name = "cmi.core.lesson_location";
    return &r.LessonLocation;
  }
  if (element == u"cmi.core.lesson_status" || element == u"lesson_status") {
    name = "cmi.core.lesson_status";
    return &r.LessonStatus;
  }
  if (element == u"cmi.core.score.raw" || element == u"score") {
    name = "cmi.core.score.raw";
    return &r.Score;
  }
  if (element == u"cmi.core.session_time" || element == u"session_time") {
    name = "cmi.core.session_time";
    return &r.SessionTime;
  }
  if (element == u"cmi.suspend_data" || element == u"suspend_data") {
    name = "cmi.suspend_data";
    return &r.SuspendData;
  }
  return nullptr;
}

}  // namespace

WideString StorageFolderName(const WideString& name) {
  return StorageName(StoreKind::Folder, name);
}

WideString StorageKeyName(const WideString& name) {
  return StorageName(StoreKind::Key, name);
}

WideString DecodeStorageName(const WideString& stored) {
  WideString out;
  std::string bytes;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (EscapeAt(stored, i)) {
      bytes += static_cast<char>(HexValue(stored[i + 1]) * 16 +
                                 HexValue(stored[i + 2]));
      i += 2;
      continue;
    }
    AppendDecoded(out, bytes);
    bytes.clear();
    out += stored[i];
  }
  AppendDecoded(out, bytes);
  return out;
}

TLMSAPI::TLMSAPI(Context& ctx, const TParcours& parcours)
    : Parcours(parcours), Users(ctx.platform.clock), ctx_(ctx) {}

WideString TLMSAPI::today() const {
  return ShortDateString(ctx_.platform.clock.now(),
                         ctx_.platform.clock.regionalSettings());
}

void TLMSAPI::AddSession(std::unique_ptr<TSessionTracking> session) {
  if (!session) return;
  Sessions.push_back(std::move(session));
  Sessions.back()->Index = static_cast<std::int32_t>(Sessions.size());
}

void TLMSAPI::LMSInitialize() {
  const WideString date = today();
  AddSession(std::make_unique<TSessionTracking>(&Parcours, date));
  TSessionTracking& session = *Sessions.back();
  if (session.Index > 1) {
    // Only the previous session is copied, record by record, whatever the
    // length of the history.
    const TSessionTracking& previous = *Sessions[Sessions.size() - 2];
    const std::size_t n =
        std::min(previous.SCOTrackings.size(), session.SCOTrackings.size());
    for (std::size_t i = 0; i < n; ++i) {
      session.SCOTrackings[i].CopyValuesFrom(previous.SCOTrackings[i], true);
    }
    session.Date = date;
  }
  CurrentSession = session.Index;
  if (Observer) Observer->initialized(*this);
}

void TLMSAPI::LMSFinish() {
  if (Observer && CurrentSession > 0) Observer->finished(*this);
  CurrentSession = 0;
}

void TLMSAPI::LMSSetValue(const WideString& element, const WideString& value) {
  if (CurrentSession <= 0 || CurrentSCO <= 0 ||
      static_cast<std::size_t>(CurrentSession) > Sessions.size()) {
    return;
  }
  TSessionTracking& session =
      *Sessions[static_cast<std::size_t>(CurrentSession) - 1];
  if (static_cast<std::size_t>(CurrentSCO) > session.SCOTrackings.size())
    return;
  TSCOTracking& record =
      session.SCOTrackings[static_cast<std::size_t>(CurrentSCO) - 1];
  const char* name = nullptr;
  if (WideString* field = SettableField(record, element, name)) {
    *field = value;
    if (Observer) Observer->valueSet(*this, name, value);
  }
}

WideString TLMSAPI::LMSGetValue(const WideString& element) {
  if (static_cast<std::size_t>(std::max(CurrentSession, 0)) > Sessions.size()) {
    CurrentSession = static_cast<std::int32_t>(Sessions.size());
  }
  if (CurrentSession <= 0 || CurrentSCO <= 0) return u"";
  const TSessionTracking& session =
      *Sessions[static_cast<std::size_t>(CurrentSession) - 1];
  if (static_cast<std::size_t>(CurrentSCO) > session.SCOTrackings.size())
    return u"";
  const TSCOTracking& r =
      session.SCOTrackings[static_cast<std::size_t>(CurrentSCO) - 1];
  if (element == u"cmi.core.lesson_location") return r.LessonLocation;
  if (element == u"cmi.core.lesson_status") return r.LessonStatus;
  if (element == u"cmi.core.score.raw") return r.Score;
  if (element == u"cmi.core.session_time") return r.SessionTime;
  if (element == u"cmi.suspend_data") return r.SuspendData;
  return u"";
}

Utf8String TLMSAPI::BuildTrackingsXmlUtf8() const {
  const std::size_t n = Sessions.size();
  const std::size_t first =
      HistoryLimit <= 0 ? 0
                        : n - std::min<std::size_t>(
                                  n, static_cast<std::size_t>(HistoryLimit));
  Utf8String out;
  out +=
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<!-- Made with "
      "Tormack ";
  AppendUtf8(out, GetShortVersion(ctx_.platform.folders));
  out += " -->\r\n<trackings>\r\n\t<tracking id=\"";
  AppendXmlAttributeValue(out, TrackingId);
  out += "\" login=\"";
  AppendXmlAttributeValue(out, Login);
  out += "\">\r\n\t\t<sessions>\r\n";
  SCOTailCache tails("\t\t\t\t\t");
  for (std::size_t i = first; i < n; ++i) {
    Sessions[i]->AppendXml(out, "\t\t\t", tails);
    // Sessions are alike in size: grow the text once, not by doubling a
    // document of tens of megabytes.
    if (i == first)
      out.reserve(out.size() + (out.size() + out.size() / 4) * (n - first));
  }
  out += "\t\t</sessions>\r\n\t</tracking>\r\n</trackings>\r\n";
  return out;
}

WideString TLMSAPI::BuildTrackingsXml() const {
  return Utf8ToWide(BuildTrackingsXmlUtf8());
}

bool TLMSAPI::ParseTrackingsUtf8(const Utf8String& text) {
  std::optional<TSessionList> sessions =
      ReadTrackingSessions(text, &Parcours, today());
  if (!sessions) return false;
  for (auto& session : *sessions) AddSession(std::move(session));
  return true;
}

bool TLMSAPI::ParseTrackings(const WideString& text) {
  return ParseTrackingsUtf8(WideToUtf8(text));
}

WideString TLMSAPI::TrackingKey(const WideString& login) const {
  return Place(kBaseKey, StorageKeyName(TrackingId),
               StorageKeyName(login.empty() ? Login : login));
}

WideString TLMSAPI::UsersKey() const {
  return Place(kBaseKey, StorageKeyName(TrackingId), u"");
}

WideString TLMSAPI::TrackingFolder(const WideString& login) const {
  return Place(TrackPath, StorageFolderName(TrackingId),
               StorageFolderName(login.empty() ? Login : login));
}

WideString TLMSAPI::UsersFolder() const {
  return Place(TrackPath, StorageFolderName(TrackingId), u"");
}

bool TLMSAPI::ensureFolder(const WideString& folder) {
  platform::FileSystem& fs = ctx_.platform.files;
  if (!fs.directoryExists(folder)) {
    try {
      fs.createDirectories(folder + u"\\");
    } catch (const std::exception&) {
      // A folder that cannot be created: nothing is written.
    }
  }
  return fs.directoryExists(folder);
}

bool TLMSAPI::storeFile(const WideString& folder, const WideString& name,
                        const Utf8String& text) {
  return ensureFolder(folder) &&
         writeTextFile(ctx_, text, folder + u"\\" + name);
}

bool TLMSAPI::storeValue(const WideString& key, const WideString& name,
                         const WideString& text) {
  try {
    return RegWriteString(ctx_.platform.registry, key, name, text,
                          u"HKEY_CURRENT_USER");
  } catch (const std::exception& e) {
    // The movie is never told; the support log is.
    LogError(ctx_, e, u"TLMSAPI", u"storeValue", kRegistryWriteCode, name);
    return false;
  }
}

std::optional<std::string> TLMSAPI::readStoredFile(const WideString& path) {
  try {
    return ctx_.platform.files.readFile(path);
  } catch (const std::exception& e) {
    LogError(ctx_, e, u"TLMSAPI", u"readStoredFile", kRegistryWriteCode + 1);
    return std::nullopt;
  }
}

std::optional<WideString> TLMSAPI::readStoredUsers(std::string& bytes) {
  bytes.clear();
  if (StorageMode == u"reg") {
    try {
      return RegReadString(ctx_.platform.registry, UsersKey(), u"users", u"");
    } catch (const std::exception& e) {
      LogError(ctx_, e, u"TLMSAPI", u"readStoredUsers", kRegistryWriteCode + 1);
      return std::nullopt;
    }
  }
  const WideString path = UsersFolder() + u"\\" + UsersFileName;
  if (!ctx_.platform.files.fileExists(path)) return WideString();
  std::optional<std::string> read = readStoredFile(path);
  if (!read) return std::nullopt;
  bytes = std::move(*read);
  return Utf8ToWide(bytes);
}

void TLMSAPI::keepAside(const WideString& path, const std::string& bytes) {
  const WideString stamp =
      FormatDateTime(u"yyyymmdd-hhnnsszzz", ctx_.platform.clock.now(), {});
  writeTextFile(ctx_, bytes, path + u".unreadable-" + stamp);
}

void TLMSAPI::keepUnreadable(WideString& found, const WideString& path) {
  if (found.empty() || found != path) return;
  found.clear();
  if (std::optional<std::string> bytes = readStoredFile(path))
    keepAside(path, *bytes);
}

WideString TLMSAPI::StoreLockName() const {
  if (StorageMode == u"reg") {
    return ctx_.platform.registry.location(
               platform::RegistryRoot::CurrentUser) +
           platform::FoldName(TrackingKey(u""));
  }
  if (StorageMode == u"file")
    return ctx_.platform.files.nativePath(LexicalPath(TrackingFolder(u"")));
  return u"";
}

WideString TLMSAPI::UsersLockName() const {
  const WideString place =
      StorageMode == u"reg"
          ? ctx_.platform.registry.location(
                platform::RegistryRoot::CurrentUser) +
                platform::FoldName(UsersKey())
          : ctx_.platform.files.nativePath(LexicalPath(UsersFolder()));
  return place + u"\nusers";
}

bool TLMSAPI::claimStore(const WideString& name, int waitMs,
                         const WideString& from) {
  if (!name.empty() && storeLock_ && lockedStore_ == name) return true;
  storeLock_.reset();
  lockedStore_.clear();
  if (name.empty()) return true;
  try {
    storeLock_ = ctx_.platform.locks.tryLock(name, waitMs);
  } catch (const std::exception& e) {
    // Without locks the program stores as a lone one would.
    LogError(ctx_, e, u"TLMSAPI", from, kStoreLockCode, name);
    return true;
  }
  if (storeLock_) {
    lockedStore_ = name;
    return true;
  }
  refusedStore_ = name;
  WriteTrace(ctx_, u"TLMSAPI", from,
             name + u" is held by another process: the tracking of " + Login +
                 u" is not stored by this one",
             1, u"Warning");
  if (TellLearner) {
    TellLearner(u"This course is already open for \u201C" + Login +
                u"\u201D elsewhere on this computer. Progress made here will "
                u"not be saved: close the course there, then open it again "
                u"here.");
  }
  return false;
}

void TLMSAPI::LMSCommit() {
  const WideString lockName = StoreLockName();
  if ((!lockName.empty() && lockName == refusedStore_) ||
      !claimStore(lockName, 0, u"LMSCommit")) {
    WriteTrace(ctx_, u"TLMSAPI", u"LMSCommit",
               u"the tracking is not stored: " + lockName +
                   u" is held by another process",
               1, u"Warning");
  } else if (StorageMode == u"reg" || StorageMode == u"file") {
    const Utf8String document = BuildTrackingsXmlUtf8();
    if (Observer) Observer->committing(*this, document);
    bool stored;
    if (StorageMode == u"reg") {
      stored = storeValue(TrackingKey(u""), u"tracking", Utf8ToWide(document));
    } else {
      const WideString folder = TrackingFolder(u"");
      keepUnreadable(unreadableTracking_, folder + u"\\" + TrackingFileName);
      stored = storeFile(folder, TrackingFileName, document);
    }
    if (Observer) Observer->committed(*this, stored);
  }
  SaveUsers();
}

void TLMSAPI::SaveUsers() {
  const WideString lockName = UsersLockName();
  std::unique_ptr<platform::HeldLock> held;
  try {
    held = ctx_.platform.locks.tryLock(lockName, kUsersWaitMs);
    if (!held) {
      WriteTrace(ctx_, u"TLMSAPI", u"SaveUsers",
                 lockName +
                     u" is held by another process: the users added "
                     u"are stored by the next save",
                 1, u"Warning");
      return;
    }
  } catch (const std::exception& e) {
    // Without locks the program stores as a lone one would.
    LogError(ctx_, e, u"TLMSAPI", u"SaveUsers", kStoreLockCode, lockName);
  }
  // A list that cannot be read is not replaced.
  std::string bytes;
  const std::optional<WideString> stored = readStoredUsers(bytes);
  if (!stored) return;
  Users.CdromId = TrackingId;
  const bool readable = Users.LoadFromXml(*stored);
  bool saved;
  if (StorageMode == u"reg") {
    saved = storeValue(UsersKey(), u"users", Users.ToXml(u"\t"));
  } else {
    const WideString folder = UsersFolder();
    // A damaged list of learners can still be recovered by hand.
    if (!readable && !bytes.empty())
      keepAside(folder + u"\\" + UsersFileName, bytes);
    saved = storeFile(folder, UsersFileName, Users.ToXmlUtf8(u"\t"));
  }
  if (saved) Users.ForgetAdded();
}

void TLMSAPI::LMSLoad() {
  Sessions.clear();
  unreadableTracking_.clear();
  refusedStore_.clear();
  // Taken before the store is read: what is read then stays what is stored
  // until this runtime writes it.
  const bool held = claimStore(Login.empty() ? WideString() : StoreLockName(),
                               kStoreWaitMs, u"LMSLoad");
  if (Login.empty()) return;
  // The observer learns what is stored only while no other process can
  // change it.
  TLMSObserver* observer = held ? Observer : nullptr;
  if (StorageMode == u"reg") {
    const WideString text = RegReadString(ctx_.platform.registry,
                                          TrackingKey(u""), u"tracking", u"");
    if (!text.empty()) ParseTrackings(text);
    if (observer) observer->loaded(*this, WideToUtf8(text));
  } else if (StorageMode == u"file") {
    const WideString path = TrackingFolder(u"") + u"\\" + TrackingFileName;
    if (!ctx_.platform.files.fileExists(path)) {
      if (observer) observer->loaded(*this, Utf8String());
      return;
    }
    std::optional<std::string> bytes = readStoredFile(path);
    if (bytes && !bytes->empty() && !ParseTrackingsUtf8(*bytes))
      unreadableTracking_ = path;
    if (bytes && observer) observer->loaded(*this, *bytes);
  }
}

void TLMSAPI::LoadUsers() {
  if (StorageMode != u"reg" && StorageMode != u"file") return;
  std::string bytes;
  const std::optional<WideString> stored = readStoredUsers(bytes);
  if (!stored) return;
  Users.CdromId = TrackingId;
  Users.LoadFromXml(*stored);
}

WideString TLMSAPI::EmptyTrackingXml(const WideString& login) {
  Utf8String out = "<!-- tracking vide pour \"";
  AppendXmlCommentText(out, login);
  out += "\" -->\r\n<trackings>\r\n\t<tracking/>\r\n</trackings>";
  return Utf8ToWide(out);
}

WideString TLMSAPI::UserTrackingXml(const WideString& login, bool reformat) {
  WideString text;
  if (StorageMode == u"reg") {
    text = RegReadString(ctx_.platform.registry, TrackingKey(login),
                         u"tracking", u"");
  } else if (StorageMode == u"file") {
    const WideString path = TrackingFolder(login) + u"\\" + TrackingFileName;
    if (ctx_.platform.files.fileExists(path)) {
      if (std::optional<std::string> bytes = readStoredFile(path))
        text = Utf8ToWide(*bytes);
    }
  } else {
    return u"";
  }
  if (text.empty()) text = EmptyTrackingXml(login);
  if (!reformat) return text;
  std::unique_ptr<XmlDocument> doc =
      XmlDocument::ParseUtf8(WideToUtf8(text), false);
  // A text that cannot be parsed is handed on as it is stored.
  if (!doc->root()) return text;
  return Utf8ToWide(FormatElement(doc->root()));
}

WideString TLMSAPI::UsersSessionsXml() {
  WideString out = u"<users>\r\n";
  for (const WideString& login : Users.Logins()) {
    Utf8String tag = "<user login=\"";
    AppendXmlAttributeValue(tag, login);
    tag += "\">\r\n";
    out += Utf8ToWide(tag) + UserTrackingXml(login, true) + u"</user>\r\n";
  }
  return out + u"</users>";
}

}  // namespace zept
