#pragma once
// The test cases of ADL's SCORM 2004 LMS conformance suite (one .properties
// file per test package, TestCases/NAME.properties) read into what a test
// SCO must do at each delivery and what it must get back. Only the format
// is read here; docs/conformance-2004.md says what each part means.

#include <string>
#include <string_view>
#include <vector>

namespace zept::scorm2004::conformance {

// The API function a step calls.
enum class Call {
  Initialize,
  Terminate,
  Commit,
  GetValue,
  SetValue,
  GetLastError,
  GetErrorString,
  GetDiagnostic,
  // Not an API call: cmi.objectives must hold exactly objectiveIds.
  CompareObjectiveIds,
};

// How the returned value is judged (the error code always must equal
// expectedError, except for Lenient).
enum class Check {
  Equal,      // the value equals expected (by the element's type)
  ErrorOnly,  // any value (cmi.learner_name: the learner's own)
  LearnerId,  // the value is the learner's id
  Lenient,    // comments_from_lms: a value, or 301/403/401 on the array
  // adl.nav.request_valid: ADL accepts any of true, false, unknown (and,
  // for choice and jump, any error code); expected is what is right.
  RequestValid,
  Shorter255,    // GetErrorString/GetDiagnostic: under 255 characters
  Empty,         // GetErrorString: ""
  ObjectiveIds,  // CompareObjectiveIds: the same set of ids
};

struct Step {
  int line = 0;  // where the step is written (1-based)
  Call call = Call::Initialize;
  // GetValue/SetValue: the full element ("cmi.completion_status"). Where it
  // holds "&ID&" the harness puts the index of the objective (or adl.data
  // target) whose id is lookupId.
  std::string element;
  std::string lookupId;
  // The parameter of Initialize/Terminate/Commit ("" or a wrong one), or the
  // error code given to GetErrorString/GetDiagnostic.
  std::string argument;
  std::string value;        // SetValue: what is set
  bool navigation = false;  // SetValue of adl.nav.request
  std::string expected;     // the return value ("true", a value, ...)
  std::string expectedError = "0";
  Check check = Check::Equal;
  // GetValue of an interaction's pattern or response: its type
  // ("long-fill-in"), which decides how values compare.
  std::string interactionType;
  std::vector<std::string> objectiveIds;  // CompareObjectiveIds
};

// A question to the tester about the player's controls at this delivery:
// key "continue.enabled", "toc.enabled.selectable" (with subject "Activity
// 4"), ...; expected is the right answer.
struct UiQuestion {
  std::string key;
  std::string subject;
  bool expected = false;
};

// One delivery of an activity, in the order they must happen.
struct Visit {
  int line = 0;
  std::string activity;  // the item's act= launch parameter: "3", "1a"
  int number = 1;        // 1 on the first delivery of that activity
  std::vector<UiQuestion> questions;  // answered before the steps run
  std::vector<Step> steps;
  // What the tester does once the steps ran and the SCO terminated (empty:
  // nothing): "Continue", "Choice" with the TOC entry's title, "Exit",
  // "AutoTest", "RelaunchCM5", ... and its arguments.
  std::string instruction;
  std::vector<std::string> instructionArgs;
};

struct Problem {
  int line = 0;
  std::string message;
};

struct TestCase {
  std::string title;  // the test case's name ("CO-01", "DDM")
  // The instructions' keys as written.
  bool userInteraction = false;  // the tester must judge the session's end
  std::string start;             // "." or the title of the item to choose
  std::string purpose, rtdInit, seqInfo, testType, end;
  std::vector<Visit> visits;
  // What could not be read, each naming its line; the rest is still read.
  std::vector<Problem> problems;

  std::size_t stepCount() const;
};

// text: a whole .properties file. Never throws.
TestCase ParseTestCase(std::string_view text);

// The element name or value an abbreviation of the format stands for
// ("CS" -> "completion_status", "N.c" -> "continue"); the text itself when
// it is none.
std::string Expand(std::string_view abbreviation);

}  // namespace zept::scorm2004::conformance
