#include "scorm2004/conformance.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "scorm2004/conformance_run.h"
#include "scorm2004/reader.h"

namespace zept::scorm2004::conformance {
namespace {

// One step as the only line of a visit.
TestCase OneStep(const std::string& written) {
  return ParseTestCase("title=T\nAct1V1.commands.0=" + written + "\n");
}

TEST(ConformanceTest, Steps) {
  const struct {
    std::string written;
    Call call;
    std::string element, value, expected, error;
    Check check = Check::Equal;
    std::string argument = "", lookupId = "", interactionType = "";
  } kCases[] = {
      {"I->->t->0", Call::Initialize, "", "", "true", "0"},
      {"I->illegal->f->201", Call::Initialize, "", "", "false", "201",
       Check::Equal, "illegal"},
      {"T->->t->0", Call::Terminate, "", "", "true", "0"},
      {"C->x->f->201", Call::Commit, "", "", "false", "201", Check::Equal, "x"},
      {"SET->c~CS!comp->t->0", Call::SetValue, "cmi.completion_status",
       "completed", "true", "0"},
      {"SET->c~X!X.s->t->0", Call::SetValue, "cmi.exit", "suspend", "true",
       "0"},
      // A value that names nothing is set as written, '!' and all.
      {"SET->c~SD!x=1!y->t->0", Call::SetValue, "cmi.suspend_data", "x=1!y",
       "true", "0"},
      {"SET->c~SD!caf\\u00e9->t->0", Call::SetValue, "cmi.suspend_data",
       "caf\xc3\xa9", "true", "0"},
      // The files are ISO-8859-1: a byte past ASCII is that character.
      {"SET->c~SD!parent\x92s->t->0", Call::SetValue, "cmi.suspend_data",
       "parent\xc2\x92s", "true", "0"},
      {"SET->c~SD!C:\\util\\x->t->0", Call::SetValue, "cmi.suspend_data",
       "C:\\util\\x", "true", "0"},
      // A wrong element of one segment goes as written.
      {"SET->cmi!x->f->401", Call::SetValue, "cmi", "x", "false", "401"},
      {"SET->c~OB~&goal-1&~S~SCA!-0.5->t->0", Call::SetValue,
       "cmi.objectives.&goal-1&.score.scaled", "-0.5", "true", "0",
       Check::Equal, "", "goal-1"},
      {"SET->a~DA~&shared&~STR!v->t->0", Call::SetValue,
       "adl.data.&shared&.store", "v", "true", "0", Check::Equal, "", "shared"},
      // Of a stray extra part the last but one is what is expected.
      {"SET->c~LOC!x->0->t->0", Call::SetValue, "cmi.location", "x", "true",
       "0"},
      {"GET->c~E->E.r->0", Call::GetValue, "cmi.entry", "", "resume", "0"},
      {"GET->c~OB~&goal&~id->->0", Call::GetValue, "cmi.objectives.&goal&.id",
       "", "goal", "0", Check::Equal, "", "goal"},
      {"GET->c~SD->->403", Call::GetValue, "cmi.suspend_data", "", "", "403"},
      {"GET->c~INTR~3~CR~0~P!TY.n->1[:]2->0", Call::GetValue,
       "cmi.interactions.3.correct_responses.0.pattern", "", "1[:]2", "0",
       Check::Equal, "", "", "numeric"},
      {"GET->a~n~rv~N.p->f->0", Call::GetValue,
       "adl.nav.request_valid.previous", "", "false", "0", Check::RequestValid},
      {"GET->a~n~rv~TY.c~tar~act_2->t->0", Call::GetValue,
       "adl.nav.request_valid.choice.{target=act_2}", "", "true", "0",
       Check::RequestValid},
      {"GET->c~LN->->0", Call::GetValue, "cmi.learner_name", "", "", "0",
       Check::ErrorOnly},
      {"GET->c~LI->->0", Call::GetValue, "cmi.learner_id", "", "", "0",
       Check::LearnerId},
      {"GET->c~CFLMS~0~COM->->0", Call::GetValue,
       "cmi.comments_from_lms.0.comment", "", "", "0", Check::Lenient},
      {"GLE->->201->201", Call::GetLastError, "", "", "201", "201"},
      {"GES->402->less255->0", Call::GetErrorString, "", "", "less255", "0",
       Check::Shorter255, "402"},
      {"GES->->emptyCS->201", Call::GetErrorString, "", "", "emptyCS", "201",
       Check::Empty},
      {"GeDi->0->emptyCS->0", Call::GetDiagnostic, "", "", "emptyCS", "0",
       Check::Shorter255, "0"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.written);
    const TestCase tc = OneStep(c.written);
    ASSERT_TRUE(tc.problems.empty()) << tc.problems[0].message;
    ASSERT_EQ(tc.stepCount(), 1u);
    const Step& s = tc.visits[0].steps[0];
    EXPECT_EQ(s.line, 2);
    EXPECT_EQ(s.call, c.call);
    EXPECT_EQ(s.element, c.element);
    EXPECT_EQ(s.value, c.value);
    EXPECT_EQ(s.expected, c.expected);
    EXPECT_EQ(s.expectedError, c.error);
    EXPECT_EQ(s.check, c.check);
    EXPECT_EQ(s.argument, c.argument);
    EXPECT_EQ(s.lookupId, c.lookupId);
    EXPECT_EQ(s.interactionType, c.interactionType);
    EXPECT_FALSE(s.navigation);
  }
}

TEST(ConformanceTest, NavigationAndObjectives) {
  const struct {
    std::string written, request;
  } kRequests[] = {
      {"SET->a~n~r!N.c->t->0", "continue"},
      {"SET->a~n~r!N.sa->t->0", "suspendAll"},
      {"SET->a~n~r!tar~act_9~TY.c->t->0", "{target=act_9}choice"},
      {"SET->a~n~r!tar~_9.x~N.j->t->0", "{target=_9.x}jump"},
  };
  for (const auto& c : kRequests) {
    const TestCase tc = OneStep(c.written);
    ASSERT_EQ(tc.stepCount(), 1u) << c.written;
    EXPECT_TRUE(tc.visits[0].steps[0].navigation);
    EXPECT_EQ(tc.visits[0].steps[0].element, "adl.nav.request");
    EXPECT_EQ(tc.visits[0].steps[0].value, c.request);
  }
  const TestCase tc = OneStep("COI->PRIMARYOBJ,obj1");
  ASSERT_EQ(tc.stepCount(), 1u);
  EXPECT_EQ(tc.visits[0].steps[0].call, Call::CompareObjectiveIds);
  EXPECT_EQ(tc.visits[0].steps[0].objectiveIds,
            (std::vector<std::string>{"PRIMARYOBJ", "obj1"}));
}

TEST(ConformanceTest, StepsNotUnderstood) {
  const struct {
    std::string written, why;
  } kCases[] = {
      {"c~INTR~6~CR~0~P!TY.m->a->0", "four parts"},  // no call
      {"GET->c~LOC", "four parts"},
      {"FOO->c~LOC->x->0", "unknown call 'FOO'"},
      {"SET->c~LOC->t->0", "without '!'"},
      {"SET->c~LOC!x->t->none", "'none' is not a number"},
      {"SET->c~LOC!x->t->", "'' is not a number"},
      {"SET->a~n~r!tar~act_1->t->0", "navigation request"},
      {"GET->a~n~rv~TY.c~tar->t->0", "request_valid"},
      {"GET->c~CS!TY.c->x->0", "'!' in a get"},
      {"COI->", "COI"},
      {"", "four parts"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.written);
    const TestCase tc = OneStep(c.written);
    EXPECT_EQ(tc.stepCount(), 0u);
    ASSERT_EQ(tc.problems.size(), 1u);
    EXPECT_EQ(tc.problems[0].line, 2);
    EXPECT_NE(tc.problems[0].message.find(c.why), std::string::npos)
        << tc.problems[0].message;
  }
}

TEST(ConformanceTest, WholeTestCase) {
  const TestCase tc = ParseTestCase(
      "title=ZZ-01\r\n"
      "UserInterAct=userInteraction\r\n"
      "start=.\n"
      "purpose=purposeSequence\n"
      "TT=autoTT~uiTT\n"
      "end=endNormal\n"
      "########\n"
      "Act1V1.UIQ=toc.enabled~continue.enabled~toc.visible@Activity 2\n"
      "Act1V1.UIA=Y~N~Y\n"
      "Act1V1.commands.0=I->->t->0\n"
      "Act1V1.commands.1=SET->c~SD!first \\\n"
      "  second\\\n"
      "third->t->0\n"
      "Act1V1.CUI=Choice~Activity 2\n"
      "\n"
      "# a remark\n"
      "Act2aV1.commands.0=I->->t->0\n"
      "Act2aV1.commands.1=GET->c~E->E.a->0\n"
      "Act1V2.commands.0=I->->t->0\n"
      "Act1V2.commands.1=GET->c~E->E.r->0\n"
      "Act1V2.UIQ=previous.enabled~continue.enabled\n"
      "Act1V2.UIA=Y\n"
      "Act1V2.CUI=Exit\n"
      "a line without its sign\n"
      "colour=blue\n"
      "ActV1.commands.0=I->->t->0\n"
      "Act3V2.whatever=1\n");
  EXPECT_EQ(tc.title, "ZZ-01");
  EXPECT_TRUE(tc.userInteraction);
  EXPECT_EQ(tc.start, ".");
  EXPECT_EQ(tc.testType, "autoTT~uiTT");
  ASSERT_EQ(tc.visits.size(), 4u);  // Act3V2 opens one before its fault

  const Visit& first = tc.visits[0];
  EXPECT_EQ(first.activity, "1");
  EXPECT_EQ(first.number, 1);
  EXPECT_EQ(first.line, 8);
  ASSERT_EQ(first.questions.size(), 3u);
  EXPECT_EQ(first.questions[2].key, "toc.visible");
  EXPECT_EQ(first.questions[2].subject, "Activity 2");
  EXPECT_TRUE(first.questions[2].expected);
  EXPECT_FALSE(first.questions[1].expected);
  ASSERT_EQ(first.steps.size(), 2u);
  // Continued lines join as they are, leading blanks kept.
  EXPECT_EQ(first.steps[1].value, "first   secondthird");
  EXPECT_EQ(first.steps[1].line, 11);
  EXPECT_EQ(first.instruction, "Choice");
  EXPECT_EQ(first.instructionArgs, (std::vector<std::string>{"Activity 2"}));

  EXPECT_EQ(tc.visits[1].activity, "2a");
  EXPECT_EQ(tc.visits[1].steps[1].expected, "ab-initio");
  EXPECT_EQ(tc.visits[2].activity, "1");
  EXPECT_EQ(tc.visits[2].number, 2);
  EXPECT_TRUE(tc.visits[2].questions.empty());
  EXPECT_EQ(tc.visits[2].instruction, "Exit");
  EXPECT_EQ(tc.stepCount(), 6u);

  const std::vector<std::pair<int, std::string>> kProblems = {
      {21, "2 questions but 1 answers"},
      {24, "no '='"},
      {25, "unknown key 'colour'"},
      {26, "unknown key 'ActV1.commands.0'"},
      {27, "unknown key 'Act3V2.whatever'"},
  };
  ASSERT_EQ(tc.problems.size(), kProblems.size());
  for (std::size_t i = 0; i < kProblems.size(); ++i) {
    EXPECT_EQ(tc.problems[i].line, kProblems[i].first);
    EXPECT_NE(tc.problems[i].message.find(kProblems[i].second),
              std::string::npos)
        << tc.problems[i].message;
  }
}

TEST(ConformanceTest, OddInputNeverBreaks) {
  for (const char* text :
       {"", "=", "\\", "\\\n\\", "Act", "Act1V.commands.0=I->->t->0",
        "Act1V99999999999.commands.0=I->->t->0", "Act1V1.commands.0=\\u12",
        "Act1V1.commands.0=\\", "Act1V1.commands.0=->->->",
        "Act1V1.commands.0=SET->!->->", "Act1V1.UIQ=a~b\nAct1V1.UIA=Y~maybe",
        "Act1V1.commands.0=SET->c~SD!\\ud800->t->0"}) {
    const TestCase tc = ParseTestCase(text);
    EXPECT_LE(tc.stepCount(), 1u) << text;
  }
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// Every folder of tests/scorm2004/packages holds a course and its test
// case (NAME.properties), played headless as the suite's are.
TEST(ConformanceTest, OwnPackagesPass) {
  int played = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(ZEPT_TEST_PACKAGES)) {
    const std::string name = entry.path().filename().string();
    const Package2004 package =
        ReadPackage2004(ReadAll(entry.path() / "imsmanifest.xml"));
    const TestCase tc =
        ParseTestCase(ReadAll(entry.path() / (name + ".properties")));
    EXPECT_TRUE(tc.problems.empty()) << name;
    // A driver each: no package sees another's system globals.
    const Outcome outcome = conformance::Run(tc, name, {{name, &package}},
                                             *HeadlessDriver(), "anna");
    EXPECT_TRUE(outcome.passed) << name << ": " << outcome.failure;
    ++played;
  }
  EXPECT_GE(played, 3);
}

}  // namespace
}  // namespace zept::scorm2004::conformance
