#include "tracking/lms.h"

#include "platform/codepage.h"
#include "util/FileVersion.h"
#include "util/datetime.h"
#include "util/file_io.h"
#include "util/reglib.h"
#include "util/xml.h"

namespace zept {
namespace {

constexpr char16_t kBaseKey[] = u"\\Software\\vardeno\\tracking";
// Trace code of a registry write that failed after its key opened.
constexpr int kRegistryWriteCode = 2404;

WideString Place(WideString base, const WideString& trackingId,
                 const WideString& login) {
  if (!trackingId.empty()) base += u"\\" + trackingId;
  if (!login.empty()) base += u"\\" + login;
  return base;
}

// The field a SCORM element name sets; nullptr for any other name.
WideString* SettableField(TSCOTracking& r, const WideString& element) {
  if (element == u"cmi.core.lesson_location" || element == u"lesson_location") {
    return &r.LessonLocation;
  }
  if (element == u"cmi.core.lesson_status" || element == u"lesson_status") {
    return &r.LessonStatus;
  }
  if (element == u"cmi.core.score.raw" || element == u"score") return &r.Score;
  if (element == u"cmi.core.session_time" || element == u"session_time") {
    return &r.SessionTime;
  }
  if (element == u"cmi.suspend_data" || element == u"suspend_data")
    return &r.SuspendData;
  return nullptr;
}

}  // namespace

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
  if (WideString* field = SettableField(record, element)) *field = value;
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
  return Place(kBaseKey, TrackingId, login.empty() ? Login : login);
}

WideString TLMSAPI::UsersKey() const {
  return Place(kBaseKey, TrackingId, u"");
}

WideString TLMSAPI::TrackingFolder(const WideString& login) const {
  return Place(TrackPath, TrackingId, login.empty() ? Login : login);
}

WideString TLMSAPI::UsersFolder() const {
  return Place(TrackPath, TrackingId, u"");
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

void TLMSAPI::storeFile(const WideString& folder, const WideString& name,
                        const Utf8String& text) {
  if (ensureFolder(folder)) writeTextFile(ctx_, text, folder + u"\\" + name);
}

void TLMSAPI::storeValue(const WideString& key, const WideString& name,
                         const WideString& text) {
  try {
    RegWriteString(ctx_.platform.registry, key, name, text,
                   u"HKEY_CURRENT_USER");
  } catch (const std::exception& e) {
    // The movie is never told; the support log is.
    LogError(ctx_, e, u"TLMSAPI", u"storeValue", kRegistryWriteCode, name);
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

void TLMSAPI::keepUnreadable(const WideString& path) {
  if (unreadableFile_.empty() || unreadableFile_ != path) return;
  unreadableFile_.clear();
  std::optional<std::string> bytes = readStoredFile(path);
  if (!bytes) return;
  const WideString stamp =
      FormatDateTime(u"yyyymmdd-hhnnsszzz", ctx_.platform.clock.now(), {});
  writeTextFile(ctx_, *bytes, path + u".unreadable-" + stamp);
}

void TLMSAPI::LMSCommit() {
  if (StorageMode == u"reg") {
    storeValue(TrackingKey(u""), u"tracking", BuildTrackingsXml());
  } else if (StorageMode == u"file") {
    const WideString folder = TrackingFolder(u"");
    keepUnreadable(folder + u"\\" + TrackingFileName);
    storeFile(folder, TrackingFileName, BuildTrackingsXmlUtf8());
  }
  SaveUsers();
}

void TLMSAPI::SaveUsers() {
  if (StorageMode == u"reg") {
    storeValue(UsersKey(), u"users", Users.ToXml(u"\t"));
  } else {
    storeFile(UsersFolder(), UsersFileName, Users.ToXmlUtf8(u"\t"));
  }
}

void TLMSAPI::LMSLoad() {
  Sessions.clear();
  unreadableFile_.clear();
  if (Login.empty()) return;
  if (StorageMode == u"reg") {
    const WideString text = RegReadString(ctx_.platform.registry,
                                          TrackingKey(u""), u"tracking", u"");
    if (!text.empty()) ParseTrackings(text);
  } else if (StorageMode == u"file") {
    const WideString path = TrackingFolder(u"") + u"\\" + TrackingFileName;
    if (!ctx_.platform.files.fileExists(path)) return;
    std::optional<std::string> bytes = readStoredFile(path);
    if (bytes && !bytes->empty() && !ParseTrackingsUtf8(*bytes))
      unreadableFile_ = path;
  }
}

void TLMSAPI::LoadUsers() {
  WideString text;
  if (StorageMode == u"reg") {
    text = RegReadString(ctx_.platform.registry, UsersKey(), u"users", u"");
  } else if (StorageMode == u"file") {
    const WideString path = UsersFolder() + u"\\" + UsersFileName;
    if (ctx_.platform.files.fileExists(path)) {
      if (std::optional<std::string> bytes = readStoredFile(path))
        text = Utf8ToWide(*bytes);
    }
  } else {
    return;
  }
  Users.CdromId = TrackingId;
  if (!text.empty()) Users.LoadFromXml(text);
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
