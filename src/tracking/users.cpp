#include "tracking/users.h"

#include "platform/codepage.h"
#include "util/datetime.h"
#include "util/xml.h"

namespace zept {

TUser::TUser(const WideString& login, const WideString& password,
             const WideString& date, const platform::DateTime& now,
             const platform::RegionalSettings& settings)
    : Login(login),
      Password(password),
      Date(date.empty() ? FormatDateTime(u"dd/mm/yyyy", now, settings) : date) {
}

namespace {

// A login may hold any character the learner typed; the document keeps
// even the controls XML forbids, so that the login reads back unchanged and
// still names the learner's own tracking.
constexpr bool kKeepControls = true;

void AppendUserXml(Utf8String& out, const TUser& user,
                   const Utf8String& indent) {
  out += indent;
  out += '<';
  AppendUtf8(out, user.ElementName);
  out += " login=\"";
  AppendXmlAttributeValue(out, user.Login, kKeepControls);
  out += "\" password=\"";
  AppendXmlAttributeValue(out, user.Password, kKeepControls);
  out += "\" date=\"";
  AppendXmlAttributeValue(out, user.Date, kKeepControls);
  out += "\" />";
}

}  // namespace

WideString TUser::ToXml(const WideString& indent) const {
  Utf8String out;
  AppendUserXml(out, *this, WideToUtf8(indent));
  return Utf8ToWide(out);
}

void TUsers::append(const WideString& login, const WideString& password,
                    const WideString& date) {
  if (login.empty() || password.empty()) return;
  Users.emplace_back(login, password, date, clock_.now(),
                     clock_.regionalSettings());
}

void TUsers::AddUser(const WideString& login, const WideString& password,
                     const WideString& date) {
  const std::size_t before = Users.size();
  append(login, password, date);
  if (Users.size() > before) added_.push_back(Users.back());
}

bool TUsers::LoadFromXml(const WideString& text) {
  Users.clear();
  ControlReferences controls;
  std::unique_ptr<XmlDocument> doc =
      XmlDocument::ParseUtf8(WideToUtf8(controls.hide(text)));
  XmlNode root = doc->root();
  if (root) {
    for (XmlNode child : root.childNodes()) {
      append(controls.restore(child.attribute("login")),
             controls.restore(child.attribute("password")),
             controls.restore(child.attribute("date")));
    }
  }
  Users.insert(Users.end(), added_.begin(), added_.end());
  return static_cast<bool>(root);
}

Utf8String TUsers::ToXmlUtf8(const WideString& indent) const {
  Utf8String out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- Utilisateur du cdrom "
      ": ";
  AppendXmlCommentText(out, CdromId);
  out += "-->\r\n<";
  AppendUtf8(out, RootName);
  out += " cdrom_id=\"";
  AppendXmlAttributeValue(out, CdromId, kKeepControls);
  out += "\">\r\n";
  const Utf8String T = WideToUtf8(indent);
  for (const TUser& user : Users) {
    AppendUserXml(out, user, T);
    out += "\r\n";
  }
  out += "</";
  AppendUtf8(out, RootName);
  out += '>';
  return out;
}

WideString TUsers::ToXml(const WideString& indent) const {
  return Utf8ToWide(ToXmlUtf8(indent));
}

TWideStringArray TUsers::Logins() const {
  TWideStringArray logins;
  for (const TUser& user : Users) ArrayAdd(logins, user.Login);
  return logins;
}

}  // namespace zept
