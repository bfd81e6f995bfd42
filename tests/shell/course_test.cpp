#include "shell/Course.h"

#include <gtest/gtest.h>

#include "util/fake_env.h"

namespace zept {
namespace {

using testing::FakeEnv;

class DescriptorTest : public ::testing::Test, protected FakeEnv {
 protected:
  TCourse course(const std::string& xml) {
    fake.files.addFile(u"C:\\c.xml", xml);
    TCourse c;
    c.loadFromFile(ctx, u"C:\\c.xml");
    return c;
  }
  TLook look(const std::string& xml) {
    fake.files.addFile(u"C:\\l.xml", xml);
    TLook l;
    l.loadFromFile(ctx, u"C:\\l.xml");
    return l;
  }
};

TEST_F(DescriptorTest, CourseFields) {
  TCourse c = course(R"(<course version="2" link="x">
    <design flashplayer="9"><look><![CDATA[blue]]></look></design>
    <metadata build_version="42"><title>T</title><author><![CDATA[A]]></author>
      <keywords/><duration>15</duration></metadata></course>)");
  EXPECT_EQ(c.Version, u"2");
  EXPECT_EQ(c.FlashPlayer, 9);
  EXPECT_EQ(c.Look, u"blue");
  EXPECT_EQ(c.Title, u"T");
  EXPECT_EQ(c.Author, u"A");
  EXPECT_EQ(c.Keywords, u"");
  EXPECT_EQ(c.BuildVersion, u"42");
  EXPECT_EQ(c.Duration, u"15");
  EXPECT_EQ(course("<course><metadata/></course>").BuildVersion, u"0");
  EXPECT_EQ(course("<course><design flashplayer='NaN'/></course>").FlashPlayer,
            0);
}

TEST_F(DescriptorTest, CourseErrorsAreLoggedAndKeepEarlierFields) {
  TCourse c = course(
      R"(<course version="3"><design flashplayer="x9"><look>blue</look></design></course>)");
  EXPECT_EQ(c.Version, u"3");
  EXPECT_EQ(c.Look, u"");
  EXPECT_NE(
      log().find(
          "<td class=\"col_c\"><div>TCourse</div></td><td class=\"col_f\"><div>"
          "loadFromFile</div></td><td class=\"col_m\"><div>EConvertError error "
          "16111914 raised"),
      std::string::npos);
  EXPECT_EQ(course("<course><design><look/></design></course>").Look, u"");
  TCourse missing;
  missing.loadFromFile(ctx, u"C:\\none.xml");
  EXPECT_EQ(missing.Duration, u"0");
  EXPECT_FALSE(missing.Root);
}

TEST_F(DescriptorTest, LookFieldsAndDefaults) {
  TLook l =
      look(R"(<look name="Blue" width="800px" height="600" bgcolor="" fps="fast"
                  fullscreen="0" scalemode="noborder">
                  <x><MediaMix mediamix_skin="a"/><y><mediamix mediamix_skin=""/>
                  <mediamix mediamix_skin="b"/></y></x></look>)");
  EXPECT_EQ(l.Name, u"Blue");
  EXPECT_EQ(l.Width, 0);
  EXPECT_EQ(l.Height, 600);
  EXPECT_EQ(l.BgColor, u"#000000");
  EXPECT_EQ(l.Fps, 12);
  EXPECT_FALSE(l.FullScreen);
  EXPECT_EQ(l.ScaleMode, u"noborder");
  EXPECT_EQ(l.MediamixSkins, (std::vector<WideString>{u"a", u"b"}));
  EXPECT_TRUE(look("<look fullscreen='yes'/>").FullScreen);
  EXPECT_TRUE(look("<look/>").Smartphone);

  TLook none;
  none.loadFromFile(ctx, u"C:\\_shared\\\\look.xml");
  EXPECT_EQ(none.BgColor, u"");
  EXPECT_TRUE(none.FullScreen);
  EXPECT_EQ(none.Fps, 24);
  EXPECT_FALSE(none.Smartphone);
  EXPECT_EQ(none.ScaleMode, u"ShowAll");
}

}  // namespace
}  // namespace zept
