#include "cmi5/course.h"

#include <gtest/gtest.h>

#include <optional>

#include "harness.h"

namespace zept::cmi5::test {
namespace {

const std::string kAu1 = "https://example.org/au/1";
const std::string kBlock1 = "https://example.org/block/1";
const std::string kObjective1 = "https://example.org/objective/1";
const std::string kRemote = "https://content.example.org/au1/index.html";

std::string ObjectiveXml(const std::string& id) {
  return "<objective id=\"" + id + "\">" + Text("title", "o") +
         Text("description", "d") + "</objective>";
}

// The course's tree as text, blocks and AUs by index: "b0(a0,a1),a2".
std::string Tree(const Course& course, const std::vector<Child>& children) {
  std::string out;
  for (const Child& child : children) {
    if (!out.empty()) out += ",";
    if (child.kind == Child::Kind::kAu) {
      out += "a" + std::to_string(child.index);
    } else {
      out += "b" + std::to_string(child.index) + "(" +
             Tree(course, course.blocks[child.index].children) + ")";
    }
  }
  return out;
}

struct Refused {
  const char* name;
  std::string xml;
  std::optional<std::set<std::string>> package;  // nullopt: a bare cmi5.xml
  std::string message;                           // a part of the error
};

TEST(Cmi5CourseTest, RefusesWhatAnLmsRefusesNamingTheFault) {
  const std::set<std::string> files{"index.html", "path/1/index.html"};
  const std::string au = AuXml(kAu1, kRemote);
  const Refused cases[] = {
      {"course id not an IRI", CourseXml(au, "w3id.org/xapi/course/1"),
       std::nullopt,
       "line 3: course id 'w3id.org/xapi/course/1' is not an IRI"},
      {"block id not an IRI", CourseXml(BlockXml("block-1", au)), std::nullopt,
       "block id 'block-1' is not an IRI"},
      {"AU id not an IRI", CourseXml(AuXml("urn", kRemote)), std::nullopt,
       "au id 'urn' is not an IRI"},
      {"objective id not an IRI",
       CourseXml("<objectives>" + ObjectiveXml("obj1") + "</objectives>" + au),
       std::nullopt, "objective id 'obj1' is not an IRI"},
      {"AU without id", CourseXml("<au>" + au.substr(au.find('>') + 1)),
       std::nullopt, "au has no id"},
      {"relative URL without a package", CourseXml(AuXml(kAu1, "index.html")),
       std::nullopt, "au url 'index.html' is relative"},
      {"absolute path without a package", CourseXml(AuXml(kAu1, "/index.html")),
       std::nullopt, "is relative"},
      {"URL to a file the package lacks", CourseXml(AuXml(kAu1, "start.html")),
       files, "au url 'start.html' names a file the package lacks"},
      {"absolute path in a package", CourseXml(AuXml(kAu1, "/index.html")),
       files, "au url '/index.html' is not a file of the package"},
      {"URL leaving the package", CourseXml(AuXml(kAu1, "../index.html")),
       files, "is not a file of the package"},
      {"URL naming a folder", CourseXml(AuXml(kAu1, "path/1/")), files,
       "is not a file of the package"},
      {"query names endpoint",
       CourseXml(AuXml(kAu1, "index.html?endpoint=http://example.org/lrs")),
       files, "names 'endpoint' in its query, which the launch adds itself"},
      {"query names fetch",
       CourseXml(AuXml(kAu1, kRemote + "?a=1&amp;fetch=x")), std::nullopt,
       "names 'fetch'"},
      {"query names actor escaped",
       CourseXml(AuXml(kAu1, kRemote + "?%61ctor=x")), std::nullopt,
       "names 'actor'"},
      {"query names registration",
       CourseXml(AuXml(kAu1, kRemote + "?registration")), std::nullopt,
       "names 'registration'"},
      {"query names activityId",
       CourseXml(AuXml(kAu1, kRemote + "?x=1&amp;activityId=2#top")),
       std::nullopt, "names 'activityId'"},
      {"duplicated block",
       CourseXml(BlockXml(kBlock1, au) +
                 BlockXml(kBlock1, AuXml(kAu1 + "/2", kRemote))),
       std::nullopt,
       "line 4: block id 'https://example.org/block/1' is used twice (first "
       "on line 4)"},
      {"duplicated AU", CourseXml(au + "\n" + au), std::nullopt,
       "line 5: au id 'https://example.org/au/1' is used twice (first on line "
       "4)"},
      {"duplicated objective",
       CourseXml("<objectives>" + ObjectiveXml(kObjective1) +
                 ObjectiveXml(kObjective1) + "</objectives>" + au),
       std::nullopt, "objective id 'https://example.org/objective/1' is used"},
      {"URL with a blank",
       CourseXml(AuXml(kAu1, "http://example.com index.html")), std::nullopt,
       "au url 'http://example.com index.html' is not a URL"},
      {"empty URL", CourseXml(AuXml(kAu1, " ")), std::nullopt,
       "has an empty url"},
      {"url before title",
       CourseXml("<au id=\"" + kAu1 + "\"><url>" + kRemote + "</url>" +
                 Text("title", "t") + Text("description", "d") + "</au>"),
       std::nullopt, "<title> expected in <au>, found <url>"},
      {"AU without url",
       CourseXml("<au id=\"" + kAu1 + "\">" + Text("title", "t") +
                 Text("description", "d") + "</au>"),
       std::nullopt, "<au> has no <url>"},
      {"course without description",
       "<courseStructure xmlns=\"https://w3id.org/xapi/profiles/cmi5/v1/"
       "CourseStructure.xsd\"><course id=\"" +
           kCourseId + "\">" + Text("title", "t") + "</course>" + au +
           "</courseStructure>",
       std::nullopt, "<course> has no <description>"},
      {"title without langstring",
       CourseXml("<au id=\"" + kAu1 + "\"><title/>" + Text("description", "d") +
                 "<url>" + kRemote + "</url></au>"),
       std::nullopt, "<title> has no <langstring>"},
      {"element of cmi5 out of place",
       CourseXml(AuXml(kAu1, kRemote, "", "<moveOn>Passed</moveOn>")),
       std::nullopt, "<moveOn> is not expected here in <au>"},
      {"launchParameters after entitlementKey",
       CourseXml(AuXml(kAu1, kRemote, "",
                       "<entitlementKey>k</entitlementKey>"
                       "<launchParameters>p</launchParameters>")),
       std::nullopt, "<launchParameters> is not expected here in <au>"},
      {"element without namespace in a cmi5 document",
       CourseXml(AuXml(kAu1, kRemote, "", "<extra xmlns=\"\"/>")), std::nullopt,
       "<extra> is not expected here"},
      {"empty block", CourseXml(BlockXml(kBlock1, "")), std::nullopt,
       "block 'https://example.org/block/1' holds no au or block"},
      {"course without AUs", CourseXml(""), std::nullopt,
       "<courseStructure> holds no au or block"},
      {"objectives after the AUs",
       CourseXml(au + "<objectives>" + ObjectiveXml(kObjective1) +
                 "</objectives>"),
       std::nullopt, "<objectives> is not expected here in <courseStructure>"},
      {"unknown moveOn", CourseXml(AuXml(kAu1, kRemote, "moveOn=\"Viewed\"")),
       std::nullopt, "au moveOn 'Viewed' is not a moveOn value"},
      {"mastery above 1",
       CourseXml(AuXml(kAu1, kRemote, "masteryScore=\"1.5\"")), std::nullopt,
       "au masteryScore '1.5' is not a decimal from 0 to 1"},
      {"mastery with two signs",
       CourseXml(AuXml(kAu1, kRemote, "masteryScore=\"--0.5\"")), std::nullopt,
       "is not a decimal from 0 to 1"},
      {"mastery not a decimal",
       CourseXml(AuXml(kAu1, kRemote, "masteryScore=\"8e-1\"")), std::nullopt,
       "is not a decimal from 0 to 1"},
      {"unknown launchMethod",
       CourseXml(AuXml(kAu1, kRemote, "launchMethod=\"NewWindow\"")),
       std::nullopt, "neither AnyWindow nor OwnWindow"},
      {"not well-formed", CourseXml(au).substr(0, 200), std::nullopt,
       "cmi5.xml is not well-formed: line"},
      {"not a course structure", "<manifest identifier=\"m\"/>", std::nullopt,
       "the document is not a cmi5 course structure"},
      {"another namespace's courseStructure",
       "<courseStructure xmlns=\"urn:other\"/>", std::nullopt,
       "not a cmi5 course structure"},
      {"the early draft's namespace",
       "<courseStructure xmlns=\"http://aicc.org/CMI5/CourseStructure.xsd\"/>",
       std::nullopt,
       "of the namespace http://aicc.org/CMI5/CourseStructure.xsd, an early "
       "cmi5 draft's"},
      {"block with the course's id",
       CourseXml(BlockXml(kCourseId, au)), std::nullopt,
       "line 4: block id '" + kCourseId +
           "' is already the id of the course on line 3"},
      {"AU with a block's id",
       CourseXml(BlockXml(kBlock1, AuXml(kBlock1, kRemote))), std::nullopt,
       "line 4: au id '" + kBlock1 + "' is already the id of the block on line 4"},
      {"block with an AU's id",
       CourseXml(au + BlockXml(kAu1, AuXml(kAu1 + "/2", kRemote))),
       std::nullopt, "block id '" + kAu1 + "' is already the id of the au"},
      {"blocks nested too deep",
       [&] {
         std::string inner = au;
         for (int i = 0; i < 70; ++i)
           inner = BlockXml(kBlock1 + "/" + std::to_string(i), inner);
         return CourseXml(inner);
       }(),
       std::nullopt, "blocks are nested more than 64 deep"},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<FakePackage> package;
    if (c.package) package.emplace(*c.package);
    try {
      ParseCourse(c.xml, package ? &*package : nullptr);
      ADD_FAILURE() << "taken";
    } catch (const ECourseError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << e.what();
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
  }
}

struct Taken {
  const char* name;
  std::string xml;
  std::optional<std::set<std::string>> package;
  std::string tree;
};

TEST(Cmi5CourseTest, TakesWhatTheSchemaAllows) {
  const std::set<std::string> files{"index.html", "a b/start.html"};
  const std::string au = AuXml(kAu1, kRemote);
  const Taken cases[] = {
      {"one remote AU", CourseXml(au), std::nullopt, "a0"},
      {"application scheme", CourseXml(AuXml(kAu1, "myapp://content/au1")),
       std::nullopt, "a0"},
      {"relative URLs in a package",
       CourseXml(AuXml(kAu1, "index.html?mode=1#s2") +
                 AuXml(kAu1 + "/2", "a%20b/start.html") +
                 AuXml(kAu1 + "/3", kRemote)),
       files, "a0,a1,a2"},
      {"a query that only looks like a launch parameter",
       CourseXml(AuXml(kAu1, kRemote + "?endpointUrl=1&amp;my_actor=2")),
       std::nullopt, "a0"},
      {"nested blocks in document order",
       CourseXml(BlockXml(kBlock1, BlockXml(kBlock1 + "/inner",
                                            AuXml(kAu1 + "/2", kRemote)) +
                                       AuXml(kAu1 + "/3", kRemote)) +
                 au),
       std::nullopt, "b0(b1(a0),a1),a2"},
      {"extensions of another namespace everywhere",
       "<courseStructure xmlns=\"https://w3id.org/xapi/profiles/cmi5/v1/"
       "CourseStructure.xsd\" xmlns:x=\"urn:x\" x:a=\"1\"><course id=\"" +
           kCourseId + "\">" + Text("title", "t") + Text("description", "d") +
           "<x:meta/></course>" +
           AuXml(kAu1, kRemote, "x:kind=\"video\"",
                 "<launchParameters/><x:player>p</x:player>") +
           "<x:tail/></courseStructure>",
       std::nullopt, "a0"},
      {"no namespace at all",
       "<courseStructure><course id=\"" + kCourseId + "\">" +
           Text("title", "t") + Text("description", "d") + "</course>" + au +
           "</courseStructure>",
       std::nullopt, "a0"},
      {"objective title and description in either order",
       CourseXml("<objectives><objective id=\"" + kObjective1 + "\">" +
                 Text("description", "d") + Text("title", "t") +
                 "</objective></objectives>" + au),
       std::nullopt, "a0"},
      {"blanks around values",
       CourseXml(AuXml(kAu1, "\n  " + kRemote + "  \n",
                       "moveOn=\" Passed \" masteryScore=\" .5 \"")),
       std::nullopt, "a0"},
  };
  for (const Taken& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<FakePackage> package;
    if (c.package) package.emplace(*c.package);
    try {
      const Course course = ParseCourse(c.xml, package ? &*package : nullptr);
      EXPECT_EQ(Tree(course, course.children), c.tree);
    } catch (const ECourseError& e) {
      ADD_FAILURE() << e.what();
    }
  }
}

TEST(Cmi5CourseTest, KeepsEveryValueOfTheStructure) {
  const std::string xml = CourseXml(
      "<objectives>" + ObjectiveXml(kObjective1) + "</objectives>" +
      BlockXml(kBlock1,
               AuXml(kAu1, " index.html?x=1 ",
                     "moveOn=\"CompletedOrPassed\" masteryScore=\"0.85\" "
                     "launchMethod=\"OwnWindow\" "
                     "activityType=\"http://adlnet.gov/expapi/activities/"
                     "media\"",
                     "<launchParameters> Start=1,Quiz=1 </launchParameters>"
                     "<entitlementKey>xyz-123</entitlementKey>",
                     "<objectives><objective idref=\"" + kObjective1 +
                         "\"/></objectives>"),
               "<objectives><objective idref=\"https://example.org/none\"/>"
               "</objectives>") +
      AuXml(kAu1 + "/2", kRemote));
  const FakePackage package({"index.html"});
  const Course course = ParseCourse(xml, &package);
  EXPECT_EQ(course.id, kCourseId);
  EXPECT_EQ(course.title, (LangStrings{{"en-US", "Course"}}));
  ASSERT_EQ(course.objectives.size(), 1u);
  EXPECT_EQ(course.objectives[0].id, kObjective1);
  ASSERT_EQ(course.blocks.size(), 1u);
  EXPECT_EQ(course.blocks[0].id, kBlock1);
  EXPECT_EQ(course.blocks[0].objectives,
            std::vector<std::string>{"https://example.org/none"});
  ASSERT_EQ(course.aus.size(), 2u);
  const Au& au = course.aus[0];
  EXPECT_EQ(au.id, kAu1);
  EXPECT_EQ(au.block, 0u);
  EXPECT_EQ(au.url, "index.html?x=1");
  EXPECT_TRUE(au.relative());
  EXPECT_EQ(au.packagePath, "index.html");
  EXPECT_EQ(au.packageSuffix, "?x=1");
  EXPECT_EQ(au.moveOn, MoveOn::kCompletedOrPassed);
  EXPECT_EQ(au.masteryScore, 0.85);
  EXPECT_EQ(au.launchMethod, LaunchMethod::kOwnWindow);
  EXPECT_EQ(au.activityType, "http://adlnet.gov/expapi/activities/media");
  EXPECT_EQ(au.launchParameters, "Start=1,Quiz=1");
  EXPECT_EQ(au.entitlementKey, "xyz-123");
  EXPECT_EQ(au.objectives, std::vector<std::string>{kObjective1});
  const Au& remote = course.aus[1];
  EXPECT_EQ(remote.block, kNoBlock);
  EXPECT_FALSE(remote.relative());
  EXPECT_EQ(remote.moveOn, MoveOn::kNotApplicable);
  EXPECT_EQ(remote.masteryScore, std::nullopt);
  EXPECT_EQ(remote.launchMethod, LaunchMethod::kAnyWindow);
  EXPECT_EQ(remote.launchParameters, std::nullopt);
  EXPECT_EQ(course.findAu(kAu1 + "/2"), 1u);
  EXPECT_EQ(course.findAu("https://example.org/none"), std::nullopt);
  // A reference to no objective is kept and noted, not refused.
  ASSERT_EQ(course.notes.size(), 1u);
  EXPECT_NE(course.notes[0].find("'https://example.org/none' names no "
                                 "objective of the course"),
            std::string::npos);
}

TEST(Cmi5CourseTest, IrisAndLanguages) {
  const std::pair<std::string, bool> iris[] = {
      {"https://example.org/a", true},
      {"urn:uuid:6f1f4a3c-0d2e-4b8a-9c1d-2e3f4a5b6c7d", true},
      {"http://example.org/caf\xC3\xA9?x=%C3%A9", true},
      {"w3id.org/xapi/a", false},
      {"C:\\course", false},
      {"http:", false},
      {"http://example.org/a b", false},
      {"http://example.org/%zz", false},
      {"1http://example.org", false},
      {"", false},
  };
  for (const auto& [text, iri] : iris) EXPECT_EQ(IsIri(text), iri) << text;

  const LangStrings strings{
      {"en-US", "Hello"}, {"fr", "Bonjour"}, {"es-MX", "Hola"}};
  EXPECT_EQ(Pick(strings, "en-us"), "Hello");
  EXPECT_EQ(Pick(strings, "fr-CA"), "Bonjour");
  EXPECT_EQ(Pick(strings, "es"), "Hola");
  EXPECT_EQ(Pick(strings, "de"), "Hello");
  EXPECT_EQ(Pick({}, "de"), "");
}

}  // namespace
}  // namespace zept::cmi5::test
