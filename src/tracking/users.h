#pragma once
// The learners known on this machine and the users document.

#include <memory>
#include <vector>

#include "platform/clock.h"
#include "util/arraylib.h"

namespace zept {

class TUser {
 public:
  // An empty date becomes today's, "dd/mm/yyyy" with the user's separator.
  TUser(const WideString& login, const WideString& password,
        const WideString& date, const platform::DateTime& now,
        const platform::RegionalSettings& settings);

  WideString ElementName = u"user";
  WideString Login;
  WideString Password;
  WideString Date;

  WideString ToXml(const WideString& indent) const;
};

using TUserList = std::vector<TUser>;

class TUsers {
 public:
  explicit TUsers(platform::Clock& clock) : clock_(clock) {}

  TUserList Users;
  WideString CdromId = u"cd_id";
  WideString RootName = u"users";

  // Appends a user when both login and password are non-empty; the user is
  // one of the additions not stored yet.
  void AddUser(const WideString& login, const WideString& password,
               const WideString& date);
  // Replaces the list with the users of a stored document (every child node
  // of its root, whatever its name) followed by the additions not stored
  // yet. An unreadable text leaves these additions only and gives false.
  bool LoadFromXml(const WideString& text);
  // The additions are stored: the stored document holds them from now on.
  void ForgetAdded() { added_.clear(); }
  // The users document.
  WideString ToXml(const WideString& indent) const;
  Utf8String ToXmlUtf8(const WideString& indent) const;
  TWideStringArray Logins() const;

 private:
  void append(const WideString& login, const WideString& password,
              const WideString& date);

  platform::Clock& clock_;
  // The users added since the list was last stored. Logins repeat in a
  // list, so these, not equal entries, tell what a store lacks.
  TUserList added_;
};

}  // namespace zept
