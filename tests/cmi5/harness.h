#pragma once
// What the cmi5 tests share: cmi5.xml texts made from a few pieces, a
// package of named files, and a launch with a statement of it that keeps
// every rule, for a test to change one thing in.

#include <set>
#include <string>
#include <vector>

#include "cmi5/course.h"
#include "cmi5/launch.h"
#include "cmi5/statement_rules.h"
#include "cmi5/vocabulary.h"
#include "package/named_files.h"

namespace zept::cmi5::test {

inline const std::string kCourseId = "https://example.org/course/c1";

inline std::string Text(const std::string& element, const std::string& text) {
  return "<" + element + "><langstring lang=\"en-US\">" + text +
         "</langstring></" + element + ">";
}

// An AU: attributes as written after its id, what follows its url.
inline std::string AuXml(const std::string& id, const std::string& url,
                         const std::string& attributes = "",
                         const std::string& afterUrl = "",
                         const std::string& objectives = "") {
  return "<au id=\"" + id + "\" " + attributes + ">" + Text("title", id) +
         Text("description", "d") + objectives + "<url>" + url + "</url>" +
         afterUrl + "</au>";
}

inline std::string BlockXml(const std::string& id, const std::string& children,
                            const std::string& objectives = "") {
  return "<block id=\"" + id + "\">" + Text("title", id) +
         Text("description", "d") + objectives + children + "</block>";
}

// A whole cmi5.xml: the course, then body (objectives, AUs and blocks).
inline std::string CourseXml(const std::string& body,
                             const std::string& courseId = kCourseId) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<courseStructure "
         "xmlns=\"https://w3id.org/xapi/profiles/cmi5/v1/CourseStructure.xsd\">"
         "\n<course id=\"" +
         courseId + "\">" + Text("title", "Course") +
         Text("description", "About") + "</course>\n" + body +
         "\n</courseStructure>\n";
}

// A package that holds the files named, each empty.
using FakePackage = scorm::NamedFiles;

// A launch in Normal mode of an AU whose mastery score is 0.8.
inline Launch TestLaunch() {
  Launch launch;
  launch.actor = {"https://zept.example.org/learners", "ada"};
  launch.registration = "6f1f4a3c-0d2e-4b8a-9c1d-2e3f4a5b6c7d";
  launch.sessionId = "session-1";
  launch.activityId = "https://zept.example.org/c/course/au1";
  launch.publisherId = "https://example.org/au/1";
  launch.moveOn = MoveOn::kCompletedAndPassed;
  launch.masteryScore = 0.8;
  launch.launchUrl = "zept://package/au1/index.html?a=1";
  return launch;
}

// The facts of a statement with verb that keeps every rule of launch:
// its result as cmi5 wants it for the verb, the cmi5 category (and
// moveOn's when judged), the launch's registration, session and publisher
// id. An allowed statement when verb is no cmi5 verb.
inline StatementFacts Valid(const Launch& launch, std::string_view verb) {
  StatementFacts facts;
  facts.timestamp = "2026-12-09T05:00:00.000Z";
  facts.account = launch.actor;
  facts.verb = std::string(verb);
  facts.objectId = launch.activityId;
  facts.registration = launch.registration;
  facts.sessionId = launch.sessionId;
  facts.grouping = {launch.publisherId};
  const std::optional<Verb> cmi5 = VerbOf(verb);
  if (!cmi5) return facts;
  facts.categories = {std::string(kCmi5Category)};
  const bool judged = *cmi5 == Verb::kCompleted || *cmi5 == Verb::kPassed ||
                      *cmi5 == Verb::kFailed;
  if (judged) facts.categories.push_back(std::string(kMoveOnCategory));
  if (judged || *cmi5 == Verb::kTerminated) facts.duration = "PT12S";
  if (*cmi5 == Verb::kCompleted) facts.completion = true;
  if (*cmi5 == Verb::kPassed) facts.success = true;
  if (*cmi5 == Verb::kFailed) facts.success = false;
  return facts;
}

inline StatementFacts Valid(const Launch& launch, Verb verb) {
  return Valid(launch, Info(verb).iri);
}

inline const std::string kExperienced =
    "http://adlnet.gov/expapi/verbs/experienced";

}  // namespace zept::cmi5::test
