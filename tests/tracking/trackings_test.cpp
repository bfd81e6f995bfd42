#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "tracking/course_fixture.h"
#include "tracking/lms.h"

namespace zept {
namespace {

using testing::CourseEnv;

// The "sco" block of a record with the given values, written out literally
// line by line as the document format gives it (indent J = five tabs).
std::string ScoBlock(const std::string& id, const std::string& date,
                     const std::string& cmi, const std::string& manifest,
                     const std::string& titles,
                     const std::string& descriptions) {
  const std::string J = "\t\t\t\t\t";
  return J + "<sco id=\"" + id + "\" date=\"" + date + "\">\r\n" + J +
         "\t<cmi>\r\n" + cmi + J + "\t</cmi>\r\n" + J + "\t<manifest>\r\n" +
         manifest + J + "\t</manifest>\r\n" + J + "\t<metadata>\r\n" + J +
         "\t\t<title>\r\n" + titles + J + "\t\t</title>\r\n" + J +
         "\t\t<description>\r\n" + descriptions + J + "\t\t</description>\r\n" +
         J + "\t</metadata>\r\n" + J + "</sco>\r\n";
}

constexpr char kNewCmi[] =
    "\t\t\t\t\t\t\t<lesson_location><![CDATA[1]]></lesson_location>\r\n"
    "\t\t\t\t\t\t\t<lesson_status><![CDATA[not attempted]]></lesson_status>\r\n"
    "\t\t\t\t\t\t\t<score><![CDATA[0]]></score>\r\n"
    "\t\t\t\t\t\t\t<session_time><![CDATA[00:00:00]]></session_time>\r\n"
    "\t\t\t\t\t\t\t<suspend_data><![CDATA[]]></suspend_data>\r\n";

std::string NewSessionBlock(const std::string& id) {
  return "\t\t\t<session id=\"" + id +
         "\" date=\"06/12/2026\">\r\n"
         "\t\t\t\t<units>\r\n" +
         ScoBlock(
             "1", "06/12/2026", kNewCmi,
             "\t\t\t\t\t\t\t<title><![CDATA[Unit%201%3A%20Basics]]></title>\r\n"
             "\t\t\t\t\t\t\t<mastery_score><![CDATA[80]]></mastery_score>\r\n",
             "\t\t\t\t\t\t\t\t<langstring><![CDATA[Unit 1: "
             "Basics]]></langstring>\r\n"
             "\t\t\t\t\t\t\t\t<langstring><![CDATA[Unité 1]]></langstring>\r\n",
             "\t\t\t\t\t\t\t<langstring><![CDATA[First "
             "steps]]></langstring>\r\n"
             "\t\t\t\t\t\t\t<langstring><![CDATA[]]></langstring>\r\n") +
         ScoBlock(
             "2", "06/12/2026", kNewCmi,
             "\t\t\t\t\t\t\t<title><![CDATA[Unit%202]]></title>\r\n"
             "\t\t\t\t\t\t\t<mastery_score><![CDATA[0]]></mastery_score>\r\n",
             "", "") +
         ScoBlock(
             "3", "06/12/2026", kNewCmi,
             "\t\t\t\t\t\t\t<title><![CDATA[Quiz%20%26%20test]]></title>\r\n"
             "\t\t\t\t\t\t\t<mastery_score><![CDATA[50]]></mastery_score>\r\n",
             "", "") +
         "\t\t\t\t</units>\r\n"
         "\t\t\t</session>\r\n";
}

std::string Document(const std::string& sessions) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
         "\r\n"
         "<!-- Made with Tormack 6r0 -->\r\n"
         "<trackings>\r\n"
         "\t<tracking id=\"course1\" login=\"anna\">\r\n"
         "\t\t<sessions>\r\n" +
         sessions +
         "\t\t</sessions>\r\n"
         "\t</tracking>\r\n"
         "</trackings>\r\n";
}

class TrackingsTest : public ::testing::Test, protected CourseEnv {
 protected:
  TLMSAPI api{ctx, parcours};
  TrackingsTest() {
    api.TrackingId = u"course1";
    api.Login = u"anna";
  }
  void sessions(int n) {
    for (int i = 0; i < n; ++i) api.LMSInitialize();
  }
};

TEST_F(TrackingsTest, DocumentOfOneNewSessionIsByteExact) {
  sessions(1);
  EXPECT_EQ(WideToUtf8(api.BuildTrackingsXml()),
            Document(NewSessionBlock("1")));
}

TEST_F(TrackingsTest, EmptyHistoryAndSessionAndRecordForms) {
  EXPECT_EQ(WideToUtf8(api.BuildTrackingsXml()), Document(""));
  sessions(1);
  EXPECT_EQ(WideToUtf8(api.Sessions[0]->ToXml(u"\t\t\t")),
            NewSessionBlock("1"));
  const std::string record =
      WideToUtf8(api.Sessions[0]->SCOTrackings[1].ToXml(u"\t\t\t\t\t"));
  EXPECT_EQ(
      record,
      ScoBlock("2", "06/12/2026", kNewCmi,
               "\t\t\t\t\t\t\t<title><![CDATA[Unit%202]]></title>\r\n"
               "\t\t\t\t\t\t\t<mastery_score><![CDATA[0]]></mastery_score>\r\n",
               "", ""));
}

TEST_F(TrackingsTest, HistoryLimitWritesTheLastSessions) {
  sessions(7);
  api.HistoryLimit = 3;
  EXPECT_EQ(WideToUtf8(api.BuildTrackingsXml()),
            Document(NewSessionBlock("5") + NewSessionBlock("6") +
                     NewSessionBlock("7")));
  // Read back, they become sessions 1 to 3.
  const WideString text = api.BuildTrackingsXml();
  TLMSAPI other(ctx, parcours);
  ASSERT_TRUE(other.ParseTrackings(text));
  ASSERT_EQ(other.Sessions.size(), 3u);
  EXPECT_EQ(other.Sessions[2]->Index, 3);

  for (int limit : {0, -1, 7, 50}) {
    api.HistoryLimit = limit;
    TLMSAPI all(ctx, parcours);
    ASSERT_TRUE(all.ParseTrackings(api.BuildTrackingsXml()));
    EXPECT_EQ(all.Sessions.size(), 7u) << limit;
  }
}

TEST_F(TrackingsTest, ValuesReadBackExactlyWhateverTheyHold) {
  sessions(1);
  api.CurrentSCO = 2;
  const WideString awkward[] = {u"a]]>b]]>",
                                u"line\r\nnext\rlast",
                                u"ÆØÅ Ελλάδα 😀",
                                u"<tag attr=\"&amp;\">",
                                u"]",
                                u"]]",
                                u""};
  for (const WideString& value : awkward) {
    api.LMSSetValue(u"cmi.suspend_data", value);
    api.LMSSetValue(u"cmi.core.lesson_location", u"x" + value);
    TLMSAPI other(ctx, parcours);
    ASSERT_TRUE(other.ParseTrackings(api.BuildTrackingsXml()));
    const TSCOTracking& r = other.Sessions[0]->SCOTrackings[1];
    EXPECT_EQ(r.SuspendData, value) << WideToUtf8(value);
    EXPECT_EQ(r.LessonLocation, u"x" + value);
  }
  // Ordinary values keep the plain form: one CDATA section.
  api.LMSSetValue(u"cmi.suspend_data", u"a]b");
  EXPECT_NE(WideToUtf8(api.BuildTrackingsXml())
                .find("<suspend_data><![CDATA[a]b]]></suspend_data>"),
            std::string::npos);
}

TEST_F(TrackingsTest, AttributesAreEscapedOnlyWhenTheyMustBe) {
  api.Login = u"o\"brien & <co>";
  sessions(1);
  const std::string doc = WideToUtf8(api.BuildTrackingsXml());
  EXPECT_NE(
      doc.find(
          "<tracking id=\"course1\" login=\"o&quot;brien &amp; &lt;co&gt;\">"),
      std::string::npos);
  TLMSAPI other(ctx, parcours);
  EXPECT_TRUE(other.ParseTrackings(api.BuildTrackingsXml()));
}

constexpr char kStored[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- hand-made -->
<trackings>
  <tracking id="x" login="y">
    <sessions>
      <session id="9" date="01/02/2025">
        <units>
          <sco id="1" date="01/02/2025"><cmi>
            <lesson_location><![CDATA[p4]]></lesson_location>
            <lesson_status><![CDATA[completed]]></lesson_status>
            <score><![CDATA[95]]></score>
            <session_time><![CDATA[00:12:00]]></session_time>
            <suspend_data><![CDATA[s1]]></suspend_data></cmi></sco>
          <sco id="7"><cmi><deep><SCORE>12</SCORE></deep><score>13</score></cmi></sco>
          <sco id="3" date="d3"><cmi><lesson_status><![CDATA[passed]]></lesson_status></cmi></sco>
          <sco id="4" date="d4"><cmi><lesson_status><![CDATA[ignored]]></lesson_status></cmi></sco>
        </units>
      </session>
      <session date="02/02/2025"/>
    </sessions>
  </tracking>
</trackings>)";

TEST_F(TrackingsTest, ReadingMatchesRecordsByPositionAndValuesByFirstName) {
  ASSERT_TRUE(api.ParseTrackings(Utf8ToWide(kStored)));
  ASSERT_EQ(api.Sessions.size(), 2u);
  const TSessionTracking& s = *api.Sessions[0];
  EXPECT_EQ(s.Index, 1);
  EXPECT_EQ(s.Date, u"01/02/2025");
  ASSERT_EQ(s.SCOTrackings.size(), 3u);  // the fourth stored record is ignored
  const TSCOTracking& a = s.SCOTrackings[0];
  EXPECT_EQ(a.LessonLocation, u"p4");
  EXPECT_EQ(a.LessonStatus, u"completed");
  EXPECT_EQ(a.Score, u"95");
  EXPECT_EQ(a.SessionTime, u"00:12:00");  // not reset when loading
  EXPECT_EQ(a.SuspendData, u"s1");
  // First element of the name anywhere below, any letter case; missing
  // values stay as in a new record; a missing date is empty.
  const TSCOTracking& b = s.SCOTrackings[1];
  EXPECT_EQ(b.Score, u"12");
  EXPECT_EQ(b.LessonStatus, u"not attempted");
  EXPECT_EQ(b.Date, u"");
  EXPECT_EQ(s.SCOTrackings[2].LessonStatus, u"passed");
  // A session without units keeps new records.
  EXPECT_EQ(api.Sessions[1]->Date, u"02/02/2025");
  EXPECT_EQ(api.Sessions[1]->SCOTrackings[0].LessonStatus, u"not attempted");
  EXPECT_EQ(api.Sessions[1]->SCOTrackings[0].Date, u"06/12/2026");
}

TEST_F(TrackingsTest, UnreadableDocumentsLoadNothing) {
  sessions(2);
  const std::string good = WideToUtf8(api.BuildTrackingsXml());
  const std::string bad[] = {good.substr(0, good.size() / 2),
                             "\x01\x02\xFF binary",
                             "<trackings><tracking/></trackings>",
                             "<trackings/>",
                             "<a><b>text only</b></a>",
                             "<t><!-- c --><sessions/></t>"};
  for (const std::string& text : bad) {
    TLMSAPI other(ctx, parcours);
    other.ParseTrackings(Utf8ToWide(text));
    EXPECT_TRUE(other.Sessions.empty()) << text.substr(0, 40);
  }
}

TEST_F(TrackingsTest, InitializeStartsFromThePreviousSession) {
  sessions(1);
  api.CurrentSCO = 1;
  api.LMSSetValue(u"cmi.core.lesson_status", u"incomplete");
  api.LMSSetValue(u"cmi.core.session_time", u"00:05:00");
  api.LMSSetValue(u"cmi.suspend_data", u"page=3");
  fake.clock.time.day = 7;
  api.LMSInitialize();
  EXPECT_EQ(api.CurrentSession, 2);
  const TSessionTracking& now = *api.Sessions[1];
  EXPECT_EQ(now.Date, u"07/12/2026");
  EXPECT_EQ(now.SCOTrackings[0].Date,
            u"06/12/2026");  // the record's date is copied
  EXPECT_EQ(now.SCOTrackings[0].LessonStatus, u"incomplete");
  EXPECT_EQ(now.SCOTrackings[0].SuspendData, u"page=3");
  EXPECT_EQ(now.SCOTrackings[0].SessionTime, u"00:00:00");
  EXPECT_EQ(now.SCOTrackings[0].Id, u"1");
  EXPECT_EQ(api.Sessions[0]->SCOTrackings[0].SessionTime, u"00:05:00");
}

TEST_F(TrackingsTest, RecordsFollowTheCourseWhenItShrinks) {
  sessions(1);
  const WideString text = api.BuildTrackingsXml();
  TParcours smaller;
  smaller.AddSCO(std::make_unique<TSCO>());
  smaller.AddSCO(std::make_unique<TSCO>());
  TLMSAPI other(ctx, smaller);
  ASSERT_TRUE(other.ParseTrackings(text));
  EXPECT_EQ(other.Sessions[0]->SCOTrackings.size(), 2u);
}

}  // namespace
}  // namespace zept
