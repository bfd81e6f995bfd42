#include "tracking/Parcours.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "tracking/course_fixture.h"
#include "util/xml.h"

namespace zept {
namespace {

using testing::CourseEnv;
using testing::FakeEnv;

TEST(LoadManifest, ReadsDirectItemsTitlesMetadataAndMasteryScores) {
  CourseEnv env;
  const TParcours& p = env.parcours;
  EXPECT_EQ(p.Identifier, u"course-42");
  EXPECT_EQ(p.Title, u"Course title");  // metadata overrides the title element
  ASSERT_EQ(p.count(), 3u);             // the nested item is not a SCO

  const TSCO& one = *p.GetSCO(0);
  EXPECT_EQ(one.Identifier, u"i1");
  EXPECT_EQ(one.Href, u"SCO_0001/player.swf");
  EXPECT_EQ(one.Title, u"Unit 1: Basics");
  EXPECT_EQ(one.Description, u"First steps");
  EXPECT_EQ(one.MasteryScore, 80);
  ASSERT_EQ(one.Metadata.size(), 2u);
  EXPECT_EQ(one.Metadata[1].Title, u"Unité 1");
  EXPECT_EQ(one.Metadata[1].Description, u"");

  // Items without metadata keep their own title and take nobody else's.
  EXPECT_EQ(p.GetSCO(1)->Title, u"Unit 2");
  EXPECT_TRUE(p.GetSCO(1)->Metadata.empty());
  EXPECT_EQ(p.GetSCO(2)->Identifier, u"cdrom");
  EXPECT_EQ(p.GetSCO(2)->Title, u"Quiz & test");
  EXPECT_EQ(p.GetSCO(2)->MasteryScore, 50);

  EXPECT_EQ(p.GetSCO(-1), nullptr);
  EXPECT_EQ(p.GetSCO(3), nullptr);
}

TEST(LoadManifest, LangstringsWithoutCdataAreSkippedButCounted) {
  FakeEnv env;
  env.fake.files.addFile(u"C:\\m.xml",
                         R"(<manifest><organizations><organization>
    <item><title>A</title><metadata><lom:lom><lom:general>
      <lom:title><lom:langstring>plain</lom:langstring>
                 <lom:langstring><![CDATA[second]]></lom:langstring></lom:title>
    </lom:general></lom:lom></metadata></item>
  </organization></organizations></manifest>)");
  TParcours p;
  p.LoadManifest(env.ctx, u"C:\\m.xml");
  EXPECT_EQ(p.Identifier, u"cdrom");
  ASSERT_EQ(p.count(), 1u);
  EXPECT_EQ(p.GetSCO(0)->Title, u"A");
  ASSERT_EQ(p.GetSCO(0)->Metadata.size(), 2u);
  EXPECT_EQ(p.GetSCO(0)->Metadata[0].Title, u"");
  EXPECT_EQ(p.GetSCO(0)->Metadata[1].Title, u"second");
}

TEST(LoadManifest, BadMasteryScoreStopsAfterTheScosBeforeIt) {
  FakeEnv env;
  env.fake.files.addFile(u"C:\\m.xml",
                         R"(<manifest><organizations><organization>
    <item identifier="a"/><item identifier="b"><adlcp:masteryscore>high</adlcp:masteryscore></item>
    <item identifier="c"/></organization></organizations></manifest>)");
  TParcours p;
  EXPECT_THROW(p.LoadManifest(env.ctx, u"C:\\m.xml"), EConvertError);
  ASSERT_EQ(p.count(), 1u);
  EXPECT_EQ(p.GetSCO(0)->Identifier, u"a");
}

TEST(LoadManifest, MissingBrokenOrEmptyManifestsGiveAnEmptyCourse) {
  FakeEnv env;
  env.fake.files.addFile(u"C:\\broken.xml", "<manifest><organizations>");
  env.fake.files.addFile(
      u"C:\\noorg.xml", "<manifest identifier='x'><organizations/></manifest>");
  env.fake.files.addFile(u"C:\\binary.xml", std::string("\x00\xFF\xFE<", 4));
  for (const WideString path : {u"C:\\none.xml", u"C:\\broken.xml",
                                u"C:\\noorg.xml", u"C:\\binary.xml"}) {
    TParcours p;
    p.LoadManifest(env.ctx, path);
    EXPECT_EQ(p.count(), 0u);
    EXPECT_EQ(p.Title, u"");
  }
}

TEST(FolderName, PadsToFourDigitsWithoutCutting) {
  EXPECT_EQ(TSCO::FolderName(1), u"SCO_0001");
  EXPECT_EQ(TSCO::FolderName(7), u"SCO_0007");
  EXPECT_EQ(TSCO::FolderName(12), u"SCO_0012");
  EXPECT_EQ(TSCO::FolderName(12345), u"SCO_12345");
}

TEST(LoadXmlDocument, RepairsCdataEndsAndKeepsTheFilesEncoding) {
  FakeEnv env;
  env.fake.files.addFile(u"C:\\a.xml", "<a><v><![CDATA[x]]]></v></a>");
  auto doc = LoadXmlRoot(env.ctx, u"C:\\a.xml");
  ASSERT_TRUE(doc);
  EXPECT_EQ(NodeText(doc->root().child("v")), u"x] ");

  env.fake.files.addFile(
      u"C:\\latin.xml",
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>");
  EXPECT_EQ(LoadXmlRoot(env.ctx, u"C:\\latin.xml")->root().text(), u"café");
  env.fake.files.addFile(u"C:\\utf8.xml", "<a>caf\xC3\xA9</a>");
  EXPECT_EQ(LoadXmlRoot(env.ctx, u"C:\\utf8.xml")->root().text(), u"café");
  EXPECT_EQ(LoadXmlRootUtf8(env.ctx, u"C:\\utf8.xml")->root().text(), u"café");
  // Undeclared bytes that are not UTF-8 are read as Windows-1252.
  env.fake.files.addFile(u"C:\\ansi.xml", "<a>caf\xE9 \x80</a>");
  EXPECT_EQ(LoadXmlRoot(env.ctx, u"C:\\ansi.xml")->root().text(), u"café €");

  EXPECT_EQ(LoadXmlDocument(env.ctx, u"C:\\none.xml", u""), nullptr);
  env.fake.files.addFile(u"C:\\empty.xml", "");
  auto empty = LoadXmlDocument(env.ctx, u"C:\\empty.xml", u"");
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->root());
  EXPECT_EQ(LoadXmlRoot(env.ctx, u"C:\\empty.xml"), nullptr);
}

TEST(LoadXmlDocument, NeverLoadsOrExpandsEntities) {
  FakeEnv env;
  env.fake.files.addFile(
      u"C:\\ext.xml",
      "<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>x&e;</a>");
  auto doc = LoadXmlRoot(env.ctx, u"C:\\ext.xml");
  if (doc) {
    EXPECT_EQ(doc->root().text().find(u"root:"), WideString::npos);
  }

  std::string laughs = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><a>&l9;</a>";
  env.fake.files.addFile(u"C:\\laughs.xml", laughs);
  auto bomb = LoadXmlRoot(env.ctx, u"C:\\laughs.xml");
  if (bomb) {
    EXPECT_LT(bomb->root().text().size(), 1000u);
  }
}

}  // namespace
}  // namespace zept
