#include "tracking/users.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/fake/fakes.h"

namespace zept {
namespace {

class UsersTest : public ::testing::Test {
 protected:
  platform::FakeClock clock;
  TUsers users{clock};
};

TEST_F(UsersTest, DocumentWithAndWithoutUsers) {
  EXPECT_EQ(WideToUtf8(users.ToXml(u"\t")),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<!-- Utilisateur du cdrom : cd_id-->\r\n"
            "<users cdrom_id=\"cd_id\">\r\n"
            "</users>");
  users.AddUser(u"anna", u"secret", u"");
  users.CdromId = u"course1";
  users.AddUser(u"bob", u"pw", u"01/01/2020");
  EXPECT_EQ(
      WideToUtf8(users.ToXml(u"\t")),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- Utilisateur du cdrom : course1-->\r\n"
      "<users cdrom_id=\"course1\">\r\n"
      "\t<user login=\"anna\" password=\"secret\" date=\"06/12/2026\" />\r\n"
      "\t<user login=\"bob\" password=\"pw\" date=\"01/01/2020\" />\r\n"
      "</users>");
}

TEST_F(UsersTest, DateUsesTheUsersSeparator) {
  clock.settings.dateSeparator = u'.';
  users.AddUser(u"anna", u"pw", u"");
  EXPECT_EQ(users.Users[0].Date, u"06.12.2026");
}

TEST_F(UsersTest, EmptyLoginOrPasswordIsIgnoredAndDuplicatesAreKept) {
  users.AddUser(u"", u"pw", u"");
  users.AddUser(u"anna", u"", u"");
  users.AddUser(u"anna", u"1", u"");
  users.AddUser(u"anna", u"2", u"");
  EXPECT_EQ(users.Logins(), (TWideStringArray{u"anna", u"anna"}));
}

TEST_F(UsersTest, LoadReadsEveryChildOfTheRootOnce) {
  const WideString doc =
      u"<?xml version=\"1.0\"?><people cdrom_id=\"z\">"
      u"<user login=\"a\" password=\"1\" date=\"02/03/2021\"/>"
      u"<member login=\"b\" password=\"2\"/>"
      u"<user login=\"nopass\"/><!-- note -->text"
      u"</people>";
  users.LoadFromXml(doc);
  users.LoadFromXml(doc);
  ASSERT_EQ(users.Users.size(), 2u);
  EXPECT_EQ(users.Users[0].Date, u"02/03/2021");
  EXPECT_EQ(users.Users[1].Login, u"b");
  EXPECT_EQ(users.Users[1].Date, u"06/12/2026");  // no date: today
  EXPECT_FALSE(users.LoadFromXml(u"<users><user login="));
  EXPECT_TRUE(users.Users.empty());
}

TEST_F(UsersTest, AnyLoginAndPasswordRoundTrip) {
  users.CdromId = u"id--with-";
  users.AddUser(u"Zoë \"Z\" <z>", u"p&ss'\"\t\r\n", u"");
  users.AddUser(u"Łukasz", u"hasło", u"");
  TUsers other(clock);
  other.LoadFromXml(users.ToXml(u"\t"));
  ASSERT_EQ(other.Users.size(), 2u);
  EXPECT_EQ(other.Users[0].Login, u"Zoë \"Z\" <z>");
  EXPECT_EQ(other.Users[0].Password, u"p&ss'\"\t\r\n");
  EXPECT_EQ(other.Users[1].Password, u"hasło");
}

TEST_F(UsersTest, MarkupAndControlsAreWrittenAsReferences) {
  users.AddUser(u"Tom & Jerry", u"<\"pw\">\x01\x1F", u"01/01/2020");
  const WideString doc = users.ToXml(u"\t");
  EXPECT_EQ(WideToUtf8(doc),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<!-- Utilisateur du cdrom : cd_id-->\r\n"
            "<users cdrom_id=\"cd_id\">\r\n"
            "\t<user login=\"Tom &amp; Jerry\" "
            "password=\"&lt;&quot;pw&quot;&gt;&#1;&#31;\" date=\"01/01/2020\" "
            "/>\r\n"
            "</users>");
  // Hexadecimal references read as well, and a private-use character
  // written as a reference stays what it is.
  TUsers other(clock);
  other.LoadFromXml(
      u"<users><user login=\"x&#x1f;&#xE000;\" password=\"p\"/></users>");
  EXPECT_EQ(other.Logins(), (TWideStringArray{u"x\x1F\uE000"}));
  // A login that leaves the reader no private-use character to stand in for
  // its control loses the control, not the document.
  WideString crowded = u"\x01";
  for (char16_t c = 0xE000; c < 0xF900; c += 32) crowded += c;
  users.AddUser(crowded, u"pw", u"");
  ASSERT_TRUE(other.LoadFromXml(users.ToXml(u"\t")));
  ASSERT_EQ(other.Users.size(), 2u);
  EXPECT_EQ(other.Users[1].Login, u"\uFFFD" + crowded.substr(1));
}

TEST_F(UsersTest, WhatALearnerTypesReadsBackUnchanged) {
  using namespace std::string_literals;
  const WideString values[] = {
      u"Tom & Jerry",
      u"a<b",
      u"say \"hi\"",
      u"bell\a escape\x1B nul\0 tab\t"s,
      // Private-use characters beside a control: none may come back as one.
      u"\uE000\uE001\uF8FF \x01",
      u"typed &#1; &#x2;",
  };
  for (const WideString& value : values) users.AddUser(value, value, u"");
  TUsers other(clock);
  ASSERT_TRUE(other.LoadFromXml(users.ToXml(u"\t")));
  ASSERT_EQ(other.Users.size(), std::size(values));
  for (std::size_t i = 0; i < std::size(values); ++i) {
    SCOPED_TRACE(WideToUtf8(values[i]));
    EXPECT_EQ(other.Users[i].Login, values[i]);
    EXPECT_EQ(other.Users[i].Password, values[i]);
  }
}

}  // namespace
}  // namespace zept
