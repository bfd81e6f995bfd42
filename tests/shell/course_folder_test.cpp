#include "shell/course_folder.h"

#include <gtest/gtest.h>

#include "util/fake_env.h"

namespace zept {
namespace {

using Names = std::vector<WideString>;

class CourseFolderTest : public ::testing::Test, protected testing::FakeEnv {
 protected:
  Names missing(const WideString& folder) {
    return MissingCourseFiles(fake.files, folder);
  }
};

TEST_F(CourseFolderTest, ACourseLacksNothingWithOrWithoutTheTrailingSlash) {
  fake.files.addFile(u"D:\\course\\imsmanifest.xml", "<manifest/>");
  fake.files.addFile(u"D:\\course\\cdrom\\cdrom.swf", "FWS");
  fake.files.addFile(u"D:\\course\\bin\\flash.ocx", "");  // any content
  EXPECT_EQ(missing(u"D:\\course"), Names{});
  EXPECT_EQ(missing(u"D:\\course\\"), Names{});
  EXPECT_EQ(missing(u"D:/course/"), Names{});
}

TEST_F(CourseFolderTest, WhatIsMissingIsNamedInNativeFormAndInOrder) {
  fake.files.addDirectory(u"D:\\empty");
  EXPECT_EQ(missing(u"D:\\empty"),
            (Names{u"imsmanifest.xml", u"cdrom/cdrom.swf", u"bin/flash.ocx"}));
  EXPECT_EQ(missing(u"D:\\nowhere"), missing(u"D:\\empty"));

  // A course without the player's code, and one whose manifest is a folder.
  fake.files.addFile(u"D:\\c\\imsmanifest.xml", "<manifest/>");
  fake.files.addFile(u"D:\\c\\cdrom\\cdrom.swf", "FWS");
  fake.files.addDirectory(u"D:\\c\\bin");
  EXPECT_EQ(missing(u"D:\\c"), Names{u"bin/flash.ocx"});
  fake.files.addDirectory(u"D:\\d\\imsmanifest.xml");
  fake.files.addFile(u"D:\\d\\cdrom\\cdrom.swf", "FWS");
  fake.files.addFile(u"D:\\d\\bin\\flash.ocx", "");
  EXPECT_EQ(missing(u"D:\\d"), Names{u"imsmanifest.xml"});
}

TEST(NotACourseMessage, NamesTheFolderAndEveryMissingFile) {
  EXPECT_EQ(NotACourseMessage(u"/media/cdrom", {}), u"");
  const WideString hint =
      u"\n\nChoose the folder that holds the course's imsmanifest.xml, such "
      u"as the top folder of its CD-ROM.";
  EXPECT_EQ(NotACourseMessage(u"/media/cdrom", {u"bin/flash.ocx"}),
            u"\u201C/media/cdrom\u201D is not a course folder: bin/flash.ocx "
            u"is missing." +
                hint);
  EXPECT_EQ(
      NotACourseMessage(u"/home/anna", {u"imsmanifest.xml", u"bin/flash.ocx"}),
      u"\u201C/home/anna\u201D is not a course folder: imsmanifest.xml and "
      u"bin/flash.ocx are missing." +
          hint);
  EXPECT_EQ(NotACourseMessage(u"/tmp", {u"imsmanifest.xml", u"cdrom/cdrom.swf",
                                        u"bin/flash.ocx"}),
            u"\u201C/tmp\u201D is not a course folder: imsmanifest.xml, "
            u"cdrom/cdrom.swf and bin/flash.ocx are missing." +
                hint);
}

}  // namespace
}  // namespace zept
