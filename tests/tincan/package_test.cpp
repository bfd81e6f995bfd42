// tincan.xml read as exports write it, and each refusal with the fault it
// names.

#include "tincan/package.h"

#include <gtest/gtest.h>

#include "cmi5/harness.h"

namespace zept::tincan {
namespace {

using cmi5::test::FakePackage;

const std::string kCourse = "http://example.org/course/fire-safety";

std::string Activity(
    const std::string& id, const std::string& inner,
    const std::string& type = "http://adlnet.gov/expapi/activities/course") {
  return "<activity id=\"" + id + "\" type=\"" + type + "\">" + inner +
         "</activity>";
}

std::string TinCanXml(const std::string& activities) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<tincan xmlns=\"http://projecttincan.com/tincan.xsd\">\n"
         "<activities>\n" +
         activities + "\n</activities>\n</tincan>\n";
}

// As an authoring tool exports a course: the course with its launch file,
// then slides and a question without one.
std::string StoryExport(const std::string& launch = "story.html") {
  return TinCanXml(
      Activity(kCourse,
               "<name lang=\"und\">Fire safety</name>"
               "<name lang=\"fr\">Sécurité incendie</name>"
               "<description lang=\"und\">Heat, fuel, oxygen</description>"
               "<launch lang=\"und\">" +
                   launch + "</launch>") +
      "\n" +
      Activity(kCourse + "/slide1", "<name lang=\"und\">Intro</name>",
               "http://adlnet.gov/expapi/activities/module") +
      "\n" +
      Activity(
          kCourse + "/q1",
          "<name lang=\"und\">Q1</name><interactionType>choice"
          "</interactionType><correctResponsePatterns><correctResponsePattern>"
          "a</correctResponsePattern></correctResponsePatterns>",
          "http://adlnet.gov/expapi/activities/cmi.interaction"));
}

TEST(TinCanPackage, ReadsAnExportWithOneLaunchableCourse) {
  const FakePackage files({"story.html", "story_content/data.js"});
  const Package package = ReadPackage(StoryExport(), &files);
  ASSERT_EQ(package.activities.size(), 3u);
  ASSERT_EQ(package.launchable, std::vector<std::size_t>{0});
  const tincan::Activity& course = package.main();
  EXPECT_EQ(course.id, kCourse);
  EXPECT_EQ(course.type, "http://adlnet.gov/expapi/activities/course");
  EXPECT_EQ(cmi5::Pick(course.name, "fr-CA"), "Sécurité incendie");
  EXPECT_EQ(cmi5::Pick(course.description, "en"), "Heat, fuel, oxygen");
  ASSERT_EQ(course.launches.size(), 1u);
  EXPECT_EQ(course.launches[0].packagePath, "story.html");
  EXPECT_EQ(course.launches[0].lang, "und");
  EXPECT_EQ(package.find(kCourse), 0u);
  EXPECT_FALSE(package.find(kCourse + "/slide1"));
  EXPECT_TRUE(package.notes.empty());
}

TEST(TinCanPackage, LaunchesResolveInsideThePackage) {
  struct Case {
    std::string launch;
    std::string path;
    std::string suffix;
  };
  const FakePackage files({"index_lms.html", "a b/start.html"});
  for (const Case& c : std::vector<Case>{
           {"index_lms.html", "index_lms.html", ""},
           {"./index_lms.html?x=1#top", "index_lms.html", "?x=1#top"},
           {"a%20b/start.html", "a b/start.html", ""},
           {"a b/../index_lms.html", "index_lms.html", ""},
       }) {
    SCOPED_TRACE(c.launch);
    const Package package = ReadPackage(StoryExport(c.launch), &files);
    const Launch& launch = package.main().launches.front();
    EXPECT_EQ(launch.packagePath, c.path);
    EXPECT_EQ(launch.packageSuffix, c.suffix);
  }
}

TEST(TinCanPackage, AFullyQualifiedLaunchIsKeptAsPlayingOnlyOnline) {
  const FakePackage empty({});
  for (const FakePackage* files :
       {&empty, static_cast<const FakePackage*>(nullptr)}) {
    const Package package = ReadPackage(
        StoryExport("https://lms.example.org/fire/story.html"), files);
    EXPECT_FALSE(package.main().launches.front().relative());
  }
}

TEST(TinCanPackage, PicksTheLaunchOfTheLanguage) {
  const FakePackage files({"en.html", "fr.html"});
  const Package package =
      ReadPackage(TinCanXml(Activity(kCourse,
                                     "<launch lang=\"en-US\">en.html</launch>"
                                     "<launch lang=\"fr\">fr.html</launch>")),
                  &files);
  EXPECT_EQ(PickLaunch(package.main(), "fr-FR").packagePath, "fr.html");
  EXPECT_EQ(PickLaunch(package.main(), "de").packagePath, "en.html");
}

TEST(TinCanPackage, ARepeatedIdOfADescriptionIsANote) {
  const FakePackage files({"story.html"});
  const Package package =
      ReadPackage(TinCanXml(Activity(kCourse, "<launch>story.html</launch>") +
                            Activity(kCourse + "/q", "") + "\n" +
                            Activity(kCourse + "/q", "")),
                  &files);
  ASSERT_EQ(package.notes.size(), 1u);
  EXPECT_EQ(package.notes[0],
            "line 5: activity id 'http://example.org/course/fire-safety/q' "
            "is used twice (first on line 4)");
}

TEST(TinCanPackage, RefusesWhatCannotBePlayed) {
  struct Case {
    const char* name;
    std::string xml;
    std::string message;
  };
  const FakePackage files({"story.html"});
  const std::string launch = "<launch>story.html</launch>";
  for (const Case& c : std::vector<Case>{
           {"not XML", "this is not xml",
            "tincan.xml is not well-formed: line 1"},
           {"another root", "<manifest/>",
            "tincan.xml: the document is not a Tin Can package description"},
           {"another namespace", "<tincan xmlns=\"urn:other\"/>",
            "tincan.xml: the document is not a Tin Can package description"},
           {"nothing to launch",
            TinCanXml(Activity(kCourse, "<name>Fire</name>")),
            "tincan.xml: line 2: no activity has a <launch>: there is nothing "
            "to play"},
           {"no activities at all", TinCanXml(""),
            "tincan.xml: line 2: no activity has a <launch>"},
           {"no id", TinCanXml("<activity>" + launch + "</activity>"),
            "tincan.xml: line 4: activity has no id"},
           {"id not an IRI", TinCanXml(Activity("fire safety", launch)),
            "tincan.xml: line 4: activity id 'fire safety' is not an IRI"},
           {"relative id", TinCanXml(Activity("course/1", launch)),
            "tincan.xml: line 4: activity id 'course/1' is not an IRI"},
           {"type not an IRI", TinCanXml(Activity(kCourse, launch, "course")),
            "tincan.xml: line 4: activity '" + kCourse +
                "' has type 'course', which is not an IRI"},
           {"empty launch", TinCanXml(Activity(kCourse, "<launch> </launch>")),
            "tincan.xml: line 4: activity '" + kCourse +
                "' has an empty <launch>"},
           {"missing file",
            TinCanXml(Activity(kCourse, "<launch>index.html</launch>")),
            "tincan.xml: line 4: launch 'index.html' names a file the "
            "package lacks"},
           {"leaves the package",
            TinCanXml(Activity(kCourse, "<launch>../story.html</launch>")),
            "tincan.xml: line 4: launch '../story.html' is not a file of the "
            "package"},
           {"a folder", TinCanXml(Activity(kCourse, "<launch>a/</launch>")),
            "tincan.xml: line 4: launch 'a/' is not a file of the package"},
           {"launched id used twice",
            TinCanXml(Activity(kCourse, "") + "\n" + Activity(kCourse, launch)),
            "tincan.xml: line 5: activity id '" + kCourse +
                "' is used twice (first on line 4)"},
       }) {
    SCOPED_TRACE(c.name);
    try {
      ReadPackage(c.xml, &files);
      ADD_FAILURE() << "read";
    } catch (const EPackageError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message)
          << e.what();
    }
  }
}

TEST(TinCanPackage, ARelativeLaunchNeedsThePackage) {
  EXPECT_THROW(ReadPackage(StoryExport(), nullptr), EPackageError);
}

}  // namespace
}  // namespace zept::tincan
