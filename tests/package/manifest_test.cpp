#include "package/manifest.h"

#include <gtest/gtest.h>

#include <map>

#include "package/prerequisites.h"

namespace zept::scorm {
namespace {

// A manifest around body; the body starts on line 3 and the items of
// Org on line 4.
std::string Doc(const std::string& body, const std::string& attributes = "") {
  return "<?xml version=\"1.0\"?>\n"
         "<manifest identifier=\"M\" "
         "xmlns=\"http://www.imsproject.org/xsd/imscp_rootv1p1p2\" "
         "xmlns:adlcp=\"http://www.adlnet.org/xsd/adlcp_rootv1p2\"" +
         attributes + ">\n" + body + "\n</manifest>";
}

// One line per item: indentation for depth, then what launching it needs.
void Flatten(const std::vector<Item>& items, int depth,
             std::vector<std::string>& out) {
  for (const Item& item : items) {
    std::string line(2 * depth, ' ');
    line += item.identifier + " '" + item.title + "'";
    if (!item.visible) line += " hidden";
    if (!item.launch.empty()) line += " -> " + item.launch;
    if (item.isSco) line += " sco";
    for (const auto& [key, value] : {std::pair{"ms", item.masteryScore},
                                     {"dl", item.dataFromLms},
                                     {"mt", item.maxTimeAllowed},
                                     {"tla", item.timeLimitAction},
                                     {"pre", item.prerequisites}}) {
      if (!value.empty()) line += std::string(" ") + key + "=" + value;
    }
    out.push_back(line);
    Flatten(item.children, depth + 1, out);
  }
}

const std::string kResources =
    "<resources>\n"
    "<resource identifier=\"R1\" type=\"webcontent\" adlcp:scormtype=\"sco\" "
    "href=\"a.html\"/>\n"
    "<resource identifier=\"R2\" href=\"b.html?q=1\" "
    "adlcp:scormType=\"sco\"/>\n"
    "<resource identifier=\"R3\" href=\"c.html#top\" "
    "adlcp:scormtype=\"asset\"/>\n"
    "</resources>";

std::string Org(const std::string& items, const std::string& id = "O1") {
  return "<organizations default=\"O1\"><organization identifier=\"" + id +
         "\"><title>Course</title>\n" + items +
         "\n</organization></organizations>";
}

struct ManifestCase {
  const char* name;
  std::string xml;
  std::string title;
  std::vector<std::string> items;
  std::vector<std::string> problems;
};

TEST(ManifestTest, ReadsTheTreeAsThePackageMeansIt) {
  const ManifestCase cases[] = {
      {"parameters",
       Doc(Org("<item identifier=\"I1\" identifierref=\"R1\" "
               "parameters=\"?x=1\"/>"
               "<item identifier=\"I2\" identifierref=\"R1\" "
               "parameters=\"&amp;y=2\"/>"
               "<item identifier=\"I3\" identifierref=\"R1\" "
               "parameters=\"#f\"/>"
               "<item identifier=\"I4\" identifierref=\"R2\" "
               "parameters=\"x=1\"/>"
               "<item identifier=\"I5\" identifierref=\"R3\" "
               "parameters=\"x=1\"/>"
               "<item identifier=\"I6\" identifierref=\"R3\" "
               "parameters=\"#other\"/>"
               "<item identifier=\"I7\" identifierref=\"R1\" "
               "parameters=\"?x=1#f\"/>"
               "<item identifier=\"I8\" identifierref=\"R2\"/>") +
           kResources),
       "Course",
       {"I1 'I1' -> a.html?x=1 sco", "I2 'I2' -> a.html?y=2 sco",
        "I3 'I3' -> a.html#f sco", "I4 'I4' -> b.html?q=1&x=1 sco",
        "I5 'I5' -> c.html?x=1#top", "I6 'I6' -> c.html#top",
        "I7 'I7' -> a.html?x=1#f sco", "I8 'I8' -> b.html?q=1 sco"},
       {}},
      {"xml:base at each level, with escapes in the href",
       Doc(Org("<item identifier=\"I1\" identifierref=\"R1\"/>"
               "<item identifier=\"I2\" identifierref=\"R2\"/>"
               "<item identifier=\"I3\" identifierref=\"R3\"/>") +
               "<resources xml:base=\"content\">\n"
               "<resource identifier=\"R1\" xml:base=\"sco1/\" "
               "href=\"my%20page.html\"/>\n"
               "<resource identifier=\"R2\" xml:base=\"../../../\" "
               "href=\"x.html\"/>\n"
               "<resource identifier=\"R3\" "
               "href=\"..\\shared\\why%3F.html\"/>\n"
               "</resources>",
           " xml:base=\"course/\""),
       "Course",
       {"I1 'I1' -> course/content/sco1/my page.html", "I2 'I2'",
        "I3 'I3' -> course/shared/why%3F.html"},
       {"line 7: resource R2: xml:base '../../../' is not a folder of the "
        "package; item I2 cannot be launched"}},
      {"no organization: the SCOs in manifest order",
       Doc(kResources),
       "M",
       {"R1 'R1' -> a.html sco", "R2 'R2' -> b.html?q=1 sco"},
       {}},
      {"an empty organizations element",
       Doc("<organizations/>" + kResources),
       "M",
       {"R1 'R1' -> a.html sco", "R2 'R2' -> b.html?q=1 sco"},
       {}},
      {"the default organization",
       Doc("<organizations default=\"O2\">"
           "<organization identifier=\"O1\"><title>One</title>"
           "<item identifier=\"A\" identifierref=\"R1\"/></organization>"
           "<organization identifier=\"O2\"><title>Two</title>"
           "<item identifier=\"B\" identifierref=\"R1\"/></organization>"
           "</organizations>" +
           kResources),
       "Two",
       {"B 'B' -> a.html sco"},
       {}},
      {"a default that is missing: the first, untitled",
       Doc("<organizations default=\"O9\">\n"
           "<organization identifier=\"O1\">"
           "<item identifier=\"A\" identifierref=\"R1\"/></organization>"
           "</organizations>" +
           kResources),
       "M",
       {"A 'A' -> a.html sco"},
       {"line 3: the default organization O9 is missing; the first one is "
        "used"}},
      {"nested and invisible items, titles",
       Doc(Org("<item identifier=\"F\"><title> Part  1 </title>\n"
               "  <item identifier=\"S1\" identifierref=\"R1\" "
               "isvisible=\"false\">"
               "<title>Intro</title></item>\n"
               "  <item identifier=\"G\" isvisible=\"0\">"
               "<item identifier=\"S2\" identifierref=\"R3\" "
               "isvisible=\"TRUE\"/>"
               "</item>\n"
               "</item>") +
           kResources),
       "Course",
       {"F 'Part  1'", "  S1 'Intro' hidden -> a.html sco", "  G 'G' hidden",
        "    S2 'S2' -> c.html#top"},
       {}},
      {"a missing resource and an href with a scheme",
       Doc(Org("<item identifier=\"I1\" identifierref=\"R1\"/>\n"
               "<item identifier=\"I2\" identifierref=\"R9\"/>\n"
               "<item identifier=\"I3\" identifierref=\"W\"/>") +
           "<resources><resource identifier=\"R1\" href=\"a.html\"/>\n"
           "<resource identifier=\"W\" href=\"http://example.com/a.html\"/>"
           "</resources>"),
       "Course",
       {"I1 'I1' -> a.html", "I2 'I2'", "I3 'I3'"},
       {"line 5: item I2 names resource R9, which is missing",
        "line 8: resource W: href 'http://example.com/a.html' is not a file "
        "of the package; item I3 cannot be launched"}},
      {"adlcp elements, also with an undeclared prefix",
       "<manifest identifier=\"M\"><organizations><organization>\n"
       "<item identifier=\"A\" identifierref=\"R\">"
       "<adlcp:masteryscore> 80 </adlcp:masteryscore>"
       "<adlcp:datafromlms>x=1&amp;y</adlcp:datafromlms>"
       "<adlcp:maxtimeallowed>00:30:00</adlcp:maxtimeallowed>"
       "<adlcp:timelimitaction>exit,message</adlcp:timelimitaction>"
       "<adlcp:prerequisites type=\"aicc_script\">B</adlcp:prerequisites>"
       "</item>\n"
       "<item identifier=\"B\" identifierref=\"R\">"
       "<adlcp:prerequisites type=\"other\">A</adlcp:prerequisites></item>\n"
       "<item identifier=\"C\" identifierref=\"R\">"
       "<adlcp:prerequisites>A &amp; | B</adlcp:prerequisites></item>\n"
       "<item identifier=\"D\" identifierref=\"R\">"
       "<adlcp:prerequisites>A | Z</adlcp:prerequisites></item>\n"
       "</organization></organizations><resources>"
       "<resource identifier=\"R\" adlcp:scormtype=\"SCO\" href=\"s.html\"/>"
       "</resources></manifest>",
       "M",
       {"A 'A' -> s.html sco ms=80 dl=x=1&y mt=00:30:00 tla=exit,message "
        "pre=B",
        "B 'B' -> s.html sco", "C 'C' -> s.html sco pre=A & | B",
        "D 'D' -> s.html sco pre=A | Z"},
       {"line 3: item B: prerequisites of type 'other' are not read; the "
        "item has none",
        "line 4: item C: prerequisites 'A & | B': expected an identifier, "
        "not '|' at character 5",
        "line 5: item D: prerequisites name Z, which is not an item"}},
      {"entities are neither expanded nor loaded",
       "<?xml version=\"1.0\"?>\n<!DOCTYPE manifest [\n"
       "<!ENTITY secret SYSTEM \"file:///etc/passwd\">\n"
       "<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;\">]>\n"
       "<manifest identifier=\"M\"><organizations><organization>"
       "<title>[&secret;][&b;]</title></organization></organizations>"
       "</manifest>",
       "[][]",
       {},
       {}},
      {"Windows-1252 text without a declaration",
       "<manifest identifier=\"M\"><organizations><organization>"
       "<title>Caf\xe9</title></organization></organizations></manifest>",
       "Caf\xc3\xa9",
       {},
       {}},
  };
  for (const ManifestCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Manifest manifest = ReadManifest(c.xml);
    std::vector<std::string> items;
    Flatten(manifest.items, 0, items);
    EXPECT_EQ(manifest.title, c.title);
    EXPECT_EQ(items, c.items);
    EXPECT_EQ(manifest.problems, c.problems);
  }
}

TEST(ManifestTest, LaunchableItemsAreTheTreeInOrder) {
  const Manifest manifest = ReadManifest(Doc(
      Org("<item identifier=\"F\"><item identifier=\"A\" identifierref=\"R1\"/>"
          "<item identifier=\"X\" identifierref=\"R9\"/></item>"
          "<item identifier=\"B\" identifierref=\"R3\"/>") +
      kResources));
  std::vector<std::string> ids;
  for (const Item* item : LaunchableItems(manifest))
    ids.push_back(item->identifier);
  EXPECT_EQ(ids, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(manifest.organization, "O1");
  EXPECT_EQ(manifest.items[0].children[0].resourceIdentifier, "R1");
  EXPECT_EQ(manifest.items[0].children[0].line, 4);
}

// A SCORM 2004 package is told by its metadata's version, else by a
// namespace of 2004's own; one that says it is 1.2 is read as 1.2.
TEST(ManifestTest, Scorm2004PackagesAreRecognised) {
  const std::string metadata = "<metadata><schema>ADL SCORM</schema>";
  const std::string org = Org("<item identifier=\"I1\" identifierref=\"R1\"/>");
  const std::string sequencing =
      "<organizations default=\"O1\"><organization identifier=\"O1\">"
      "<title>C</title><item identifier=\"I1\" identifierref=\"R1\"/>"
      "<imsss:sequencing xmlns:imsss=\"http://www.imsglobal.org/xsd/imsss\"/>"
      "</organization></organizations>";
  const std::pair<std::string, std::string> cases[] = {
      {Doc(metadata + "<schemaversion>1.2</schemaversion></metadata>" + org +
           kResources),
       ""},
      {Doc(org + kResources), ""},
      {Doc(metadata + "<schemaversion> 1.2 </schemaversion></metadata>" + org +
               kResources,
           " xmlns:adlseq=\"http://www.adlnet.org/xsd/adlseq_v1p3\""),
       ""},
      {"<?xml version=\"1.0\"?>\n<manifest identifier=\"M\" "
       "xmlns=\"http://www.imsglobal.org/xsd/imscp_v1p1\" "
       "xmlns:adlcp=\"http://www.adlnet.org/xsd/adlcp_v1p3\" "
       "xmlns:adlseq=\"http://www.adlnet.org/xsd/adlseq_v1p3\" "
       "xmlns:adlnav=\"http://www.adlnet.org/xsd/adlnav_v1p3\" "
       "xmlns:imsss=\"http://www.imsglobal.org/xsd/imsss\">" +
           metadata + "<schemaversion>2004 4th Edition</schemaversion>" +
           "</metadata>" + org + kResources + "</manifest>",
       "2004 4th Edition"},
      {Doc(metadata + "<schemaversion>2004 3rd Edition</schemaversion>" +
           "</metadata>" + org + kResources),
       "2004 3rd Edition"},
      {Doc(metadata + "<schemaversion>CAM 1.3</schemaversion></metadata>" +
           org + kResources),
       "CAM 1.3"},
      {Doc(org + kResources,
           " xmlns:adlnav=\"http://www.adlnet.org/xsd/adlnav_v1p3\""),
       "namespace http://www.adlnet.org/xsd/adlnav_v1p3"},
      {Doc(metadata + "<schemaversion>1.1</schemaversion></metadata>" +
           sequencing + kResources),
       "namespace http://www.imsglobal.org/xsd/imsss"},
  };
  for (const auto& [xml, version] : cases) {
    SCOPED_TRACE(xml);
    const Manifest manifest = ReadManifest(xml);
    EXPECT_EQ(manifest.scorm2004, version);
    EXPECT_EQ(LaunchableItems(manifest).size(), 1u);
  }
}

TEST(ManifestTest, HostileNestingIsCutAtItsBound) {
  std::string items;
  for (int i = 0; i < 200; ++i)
    items += "<item identifier=\"I" + std::to_string(i) + "\">";
  for (int i = 0; i < 200; ++i) items += "</item>";
  // libxml2 refuses documents nested deeper than 256; 200 passes it.
  const Manifest manifest = ReadManifest(Doc(Org(items)));
  int depth = 0;
  for (const Item* item = &manifest.items.at(0); !item->children.empty();
       item = &item->children[0]) {
    ++depth;
  }
  EXPECT_EQ(depth, 63);
  ASSERT_EQ(manifest.problems.size(), 1u);
  EXPECT_EQ(manifest.problems[0],
            "line 4: items nested deeper than 64 are left out");
}

TEST(ManifestTest, WhatCannotBeReadNamesTheLine) {
  const std::pair<std::string, std::string> cases[] = {
      {Doc("<organizations>\n<organization>\n</organizations>"),
       "the manifest is not well-formed: line 5: Opening and ending tag "
       "mismatch: organization line 4 and organizations"},
      {"<manifest>\n<a href=\"x></manifest>",
       "the manifest is not well-formed: line 2: "},
      {"", "the manifest is not well-formed: line 1: Document is empty"},
      {"<?xml version=\"1.0\"?>\n<html/>",
       "line 2: the root element is 'html', not 'manifest'"},
      // Two items with one identifier would share one learner's values.
      {Doc(Org("<item identifier=\"I1\" identifierref=\"R1\"/>\n"
               "<item identifier=\"F\">\n<item identifier=\"I1\" "
               "identifierref=\"R2\"/></item>") +
           kResources),
       "line 6: item I1 has the identifier of the item on line 4; the "
       "manifest is invalid"},
      {Doc("<resources>\n<resource identifier=\"R\" adlcp:scormtype=\"sco\" "
           "href=\"a.html\"/>\n<resource identifier=\"R\" "
           "adlcp:scormtype=\"sco\" href=\"b.html\"/></resources>"),
       "line 5: item R has the identifier of the item on line 4; the "
       "manifest is invalid"},
  };
  for (const auto& [xml, message] : cases) {
    SCOPED_TRACE(xml);
    try {
      ReadManifest(xml);
      ADD_FAILURE() << "no error";
    } catch (const EManifestError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, message.size()), message);
    }
  }
}

struct PrerequisitesCase {
  const char* text;
  std::map<std::string, std::string> statuses;  // others: not attempted
  bool met;
  const char* error;  // the error message's tail, or nullptr
};

TEST(PrerequisitesTest, MetAsTheStatusesSay) {
  const PrerequisitesCase cases[] = {
      {"", {}, true, nullptr},
      {"  ", {}, true, nullptr},
      {"a", {{"a", "passed"}}, true, nullptr},
      {"a", {{"a", "completed"}}, true, nullptr},
      {"a", {{"a", "failed"}}, false, nullptr},
      {"a", {{"a", "browsed"}}, false, nullptr},
      {"a", {}, false, nullptr},
      {" mod-1.intro_a  &  b2 ",
       {{"mod-1.intro_a", "passed"}, {"b2", "completed"}},
       true,
       nullptr},
      {"a & b", {{"a", "passed"}}, false, nullptr},
      {"a | b", {{"b", "passed"}}, true, nullptr},
      {"~a", {{"a", "incomplete"}}, true, nullptr},
      {"~a", {{"a", "passed"}}, false, nullptr},
      {"a = failed", {{"a", "failed"}}, true, nullptr},
      {"a=F", {{"a", "failed"}}, true, nullptr},
      {"a = Not  Attempted", {}, true, nullptr},
      {"a=n", {{"a", "incomplete"}}, false, nullptr},
      {"a <> passed", {{"a", "completed"}}, true, nullptr},
      {"a<>c", {{"a", "completed"}}, false, nullptr},
      {"a=i&b=b", {{"a", "incomplete"}, {"b", "browsed"}}, true, nullptr},
      // "&" binds tighter than "|"; "~" takes the comparison after it.
      {"a | b & c", {{"a", "passed"}}, true, nullptr},
      {"a & b | c", {{"c", "passed"}}, true, nullptr},
      {"~a & b", {{"b", "passed"}}, true, nullptr},
      {"~a=failed", {{"a", "failed"}}, false, nullptr},
      {"~(a | b)", {{"b", "passed"}}, false, nullptr},
      {"2*{a,b,c}", {{"a", "passed"}, {"c", "completed"}}, true, nullptr},
      {"2*{a,b,c}", {{"a", "passed"}}, false, nullptr},
      {"0*{a}", {}, true, nullptr},
      {"2 * { a , b = failed , ~c }", {{"b", "failed"}}, true, nullptr},
      {"~3*{a,b,c} & d", {{"d", "passed"}}, true, nullptr},
      {"a &", {}, false, "expected an identifier at the end at character 4"},
      {"a & & b", {}, false, "expected an identifier, not '&' at character 5"},
      {"(a | b", {}, false, "expected ')' at character 7"},
      {"a = bogus", {}, false, "unknown status 'bogus' at character 5"},
      {"a =", {}, false, "expected a status at character 4"},
      {"a < b", {}, false, "unexpected '<' at character 3"},
      {"x*{a}", {}, false, "expected a count before '*' at character 1"},
      {"2*{a", {}, false, "expected '}' or ',' at character 5"},
      {"2*a", {}, false, "expected '{' at character 3"},
      {"a)", {}, false, "unexpected ')' at character 2"},
  };
  for (const PrerequisitesCase& c : cases) {
    SCOPED_TRACE(c.text);
    auto status = [&](const std::string& id) {
      const auto found = c.statuses.find(id);
      return found == c.statuses.end() ? std::string("not attempted")
                                       : found->second;
    };
    try {
      const Prerequisites prerequisites = Prerequisites::Parse(c.text);
      EXPECT_EQ(c.error, nullptr) << "parsed";
      EXPECT_EQ(prerequisites.met(status), c.met);
    } catch (const EPrerequisitesError& e) {
      ASSERT_NE(c.error, nullptr) << e.what();
      const std::string message = e.what();
      const std::string tail = c.error;
      EXPECT_EQ(message.substr(message.size() -
                               std::min(message.size(), tail.size())),
                tail);
    }
  }
}

TEST(PrerequisitesTest, IdentifiersAndBoundsOnHostileText) {
  EXPECT_EQ(Prerequisites::Parse("a & (b | a) & 2*{c,d=p}").identifiers(),
            (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_TRUE(Prerequisites().met([](const std::string&) { return ""; }));
  EXPECT_NO_THROW(
      Prerequisites::Parse(std::string(60, '(') + "a" + std::string(60, ')')));
  EXPECT_THROW(
      Prerequisites::Parse(std::string(65, '(') + "a" + std::string(65, ')')),
      EPrerequisitesError);
  EXPECT_THROW(Prerequisites::Parse(std::string(100000, '~') + "a"),
               EPrerequisitesError);
  EXPECT_THROW(Prerequisites::Parse(std::string(70000, 'a')),
               EPrerequisitesError);
}

}  // namespace
}  // namespace zept::scorm
