#include "scorm2004/reader.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <tuple>
#include <type_traits>

namespace zept::scorm2004 {
namespace {

// ---- the tree as text: only what differs from the defaults ----

template <typename E, std::size_t N>
std::string Named(E value, const char* const (&names)[N]) {
  return names[static_cast<int>(value)];
}
std::string Show(RuleConditionKind v) {
  return Named(v, {"satisfied", "statusKnown", "measureKnown", "measure>",
                   "measure<", "completed", "progressKnown", "attempted",
                   "attempts>", "time>", "outsideTime", "always"});
}
std::string Show(RuleAction v) {
  return Named(v, {"skip", "disabled", "hiddenFromChoice", "stopForward",
                   "exit", "exitParent", "exitAll", "retry", "retryAll",
                   "continue", "previous"});
}
std::string Show(RollupConditionKind v) {
  return Named(
      v, {"satisfied", "statusKnown", "measureKnown", "completed",
          "progressKnown", "attempted", "attempts>", "time>", "outsideTime"});
}
std::string Show(RollupAction v) {
  return Named(v, {"satisfied", "notSatisfied", "completed", "incomplete"});
}
std::string Show(ChildActivitySet v) {
  return Named(v, {"all", "any", "none", "atLeastCount", "atLeastPercent"});
}
std::string Show(RollupConsideration v) {
  return Named(v, {"always", "ifAttempted", "ifNotSkipped", "ifNotSuspended"});
}
std::string Show(RandomizationTiming v) {
  return Named(v, {"never", "once", "onEachNewAttempt"});
}
std::string Show(ConditionCombination v) {
  return v == ConditionCombination::kAll ? "all" : "any";
}
std::string Show(bool v) { return v ? "1" : "0"; }
std::string Show(const std::string& v) { return v; }
std::string Show(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}
std::string Show(unsigned v) { return std::to_string(v); }
std::string Show(std::optional<unsigned> v) { return v ? Show(*v) : "-"; }

// " name=value" for each field that differs from a default-made struct's:
// Diff() F(mode, flow) F(mode, choice).text
struct Diff {
  template <typename T>
  Diff& operator()(const char* name, const T& value, const T& fallback) {
    if (value != fallback) text += std::string(" ") + name + "=" + Show(value);
    return *this;
  }
  std::string text;
};
#define F(object, field) \
  (#field, (object).field, std::remove_cvref_t<decltype(object)>{}.field)

std::string Conditions(const auto& conditions) {
  std::string out;
  for (const auto& c : conditions) {
    out += std::string(out.empty() ? "" : ",") + (c.negate ? "not " : "") +
           Show(c.condition);
    if constexpr (requires { c.referencedObjective; }) {
      if (!c.referencedObjective.empty())
        out += "(" + c.referencedObjective + ")";
      if (c.measureThreshold != 0.0) out += " " + Show(c.measureThreshold);
    }
  }
  return out;
}

std::string Map(const ObjectiveMap& m) {
  std::string read = "";
  std::string write = "";
  for (const auto& [name, r, w] :
       {std::tuple{"satisfied", m.readSatisfiedStatus, m.writeSatisfiedStatus},
        {"measure", m.readNormalizedMeasure, m.writeNormalizedMeasure},
        {"raw", m.readRawScore, m.writeRawScore},
        {"min", m.readMinScore, m.writeMinScore},
        {"max", m.readMaxScore, m.writeMaxScore},
        {"completion", m.readCompletionStatus, m.writeCompletionStatus},
        {"progress", m.readProgressMeasure, m.writeProgressMeasure}}) {
    if (r) read += std::string(read.empty() ? "" : ",") + name;
    if (w) write += std::string(write.empty() ? "" : ",") + name;
  }
  return " map " + m.targetObjectiveId + " r=" + read + " w=" + write;
}

// One struct's fields to a line.
// clang-format off
void Describe(const Activity& a, int depth, std::vector<std::string>& out) {
  const std::string indent(2 * depth, ' ');
  std::string head = indent + a.identifier + " '" + a.title + "'";
  if (!a.visible) head += " hidden";
  if (!a.launch.empty()) head += " -> " + a.launch + (a.isSco ? " sco" : " asset");
  out.push_back(head + (Diff() F(a, dataFromLms) F(a, timeLimitAction)
                               F(a, attemptAbsoluteDurationLimit)).text);
  const auto add = [&](const std::string& what, const std::string& text) {
    if (!text.empty()) out.push_back(indent + "  " + what + text);
  };
  const CompletionThreshold& t = a.completionThreshold;
  if (t.given) {
    out.push_back(indent + "  threshold" + (Diff() F(t, completedByMeasure)
        F(t, minProgressMeasure) F(t, progressWeight)).text);
  }
  const HiddenControls& h = a.hidden;
  add("hide", (Diff() F(h, previous) F(h, continue_) F(h, exit) F(h, exitAll)
                      F(h, abandon) F(h, abandonAll) F(h, suspendAll)).text);
  for (const SharedDataMap& d : a.sharedData) {
    add("data ", d.targetId + (Diff() F(d, readSharedData) F(d, writeSharedData)).text);
  }
  const SequencingDefinition& s = a.sequencing;
  const ControlMode& c = s.controlMode;
  add("controlMode", (Diff() F(c, choice) F(c, choiceExit) F(c, flow) F(c, forwardOnly)
      F(c, useCurrentAttemptObjectiveInfo) F(c, useCurrentAttemptProgressInfo)).text);
  const ConstrainedChoice& cc = s.constrainedChoice;
  add("constrained", (Diff() F(cc, preventActivation) F(cc, constrainChoice)).text);
  for (const auto& [kind, rules] : {std::pair{"pre ", &s.preConditionRules},
                                    {"exit ", &s.exitConditionRules},
                                    {"post ", &s.postConditionRules}}) {
    for (const SequencingRule& r : *rules) {
      add(kind, Show(r.combination) + "[" + Conditions(r.conditions) + "] " + Show(r.action));
    }
  }
  const LimitConditions& l = s.limitConditions;
  add("limits", (Diff() F(l, attemptLimit) F(l, attemptAbsoluteDurationLimit)
                        F(l, activityAbsoluteDurationLimit)).text);
  const RollupControls& r = s.rollup;
  add("rollup", (Diff() F(r, rollupObjectiveSatisfied) F(r, rollupProgressCompletion)
      F(r, objectiveMeasureWeight) F(r, requiredForSatisfied) F(r, requiredForNotSatisfied)
      F(r, requiredForCompleted) F(r, requiredForIncomplete)
      F(r, measureSatisfactionIfActive)).text);
  for (const RollupRule& rule : s.rollupRules) {
    add("rollupRule ", Show(rule.childActivitySet) +
        (Diff() F(rule, minimumCount) F(rule, minimumPercent)).text + " " +
        Show(rule.combination) + "[" + Conditions(rule.conditions) + "] " + Show(rule.action));
  }
  for (const Objective& o : s.objectives) {
    std::string text = (o.primary ? "* " : "") + o.id +
        (Diff() F(o, satisfiedByMeasure) F(o, minNormalizedMeasure)).text;
    for (const ObjectiveMap& m : o.maps) text += Map(m);
    if (text != "* ") add("objective ", text);
  }
  const Randomization& z = s.randomization;
  add("random", (Diff() F(z, randomizationTiming) F(z, selectCount)
                        F(z, reorderChildren) F(z, selectionTiming)).text);
  const DeliveryControls& d = s.delivery;
  add("delivery", (Diff() F(d, tracked) F(d, completionSetByContent)
                          F(d, objectiveSetByContent)).text);
  for (const Activity& child : a.children) Describe(child, depth + 1, out);
}
// clang-format on

std::vector<std::string> Describe(const Package2004& package) {
  std::vector<std::string> out;
  Describe(package.root, 0, out);
  return out;
}

const char* const kResource =
    "<resource identifier=\"R1\" adlcp:scormType=\"sco\" href=\"a.html\"/>";

// A manifest around an organization O1 whose lines are org; org starts on
// line 3, collection follows it.
std::string Doc(const std::string& org, const std::string& collection = "",
                const std::string& resources = kResource) {
  return "<manifest identifier=\"M\" "
         "xmlns=\"http://www.imsglobal.org/xsd/imscp_v1p1\" "
         "xmlns:adlcp=\"http://www.adlnet.org/xsd/adlcp_v1p3\" "
         "xmlns:adlseq=\"http://www.adlnet.org/xsd/adlseq_v1p3\" "
         "xmlns:adlnav=\"http://www.adlnet.org/xsd/adlnav_v1p3\" "
         "xmlns:imsss=\"http://www.imsglobal.org/xsd/imsss\">\n"
         "<organizations default=\"O1\"><organization identifier=\"O1\">\n" +
         org + "\n</organization></organizations>\n<resources>" + resources +
         "</resources>\n" + collection + "</manifest>";
}

// ---- the tests ----

TEST(ReaderTest, ReadsAFourthEditionCourse) {
  const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<manifest identifier="COURSE" version="1" xmlns="http://www.imsglobal.org/xsd/imscp_v1p1"
  xmlns:cp="http://www.adlnet.org/xsd/adlcp_v1p3" xmlns:seq="http://www.adlnet.org/xsd/adlseq_v1p3"
  xmlns:nav="http://www.adlnet.org/xsd/adlnav_v1p3" xmlns:ss="http://www.imsglobal.org/xsd/imsss"
  xml:base="content/">
 <metadata><schema>ADL SCORM</schema><schemaversion>2004 4th Edition</schemaversion></metadata>
 <organizations default="ORG">
  <organization identifier="ORG" seq:objectivesGlobalToSystem="false" cp:sharedDataGlobalToSystem="false">
   <title>Safety course</title>
   <item identifier="MOD1">
    <title>Module 1</title>
    <item identifier="SCO1" identifierref="RES1" parameters="?lang=en">
     <title>Lesson</title>
     <cp:completionThreshold completedByMeasure="true" minProgressMeasure="0.8" progressWeight="0.5"/>
     <cp:dataFromLMS>mode=a</cp:dataFromLMS>
     <cp:timeLimitAction>exit,message</cp:timeLimitAction>
     <cp:data><cp:map targetID="notes" writeSharedData="false"/></cp:data>
     <nav:presentation><nav:navigationInterface>
      <nav:hideLMSUI>continue</nav:hideLMSUI><nav:hideLMSUI>previous</nav:hideLMSUI>
     </nav:navigationInterface></nav:presentation>
     <ss:sequencing IDRef="common">
      <ss:limitConditions attemptLimit="2" attemptAbsoluteDurationLimit="PT1H30M"/>
      <ss:objectives>
       <ss:primaryObjective objectiveID="lesson" satisfiedByMeasure="true">
        <ss:minNormalizedMeasure>0.6</ss:minNormalizedMeasure>
        <ss:mapInfo targetObjectiveID="g.lesson" writeSatisfiedStatus="true"/>
       </ss:primaryObjective>
      </ss:objectives>
      <seq:objectives><seq:objective objectiveID="lesson">
       <seq:mapInfo targetObjectiveID="g.lesson" writeCompletionStatus="true" readRawScore="false"/>
      </seq:objective></seq:objectives>
     </ss:sequencing>
    </item>
    <item identifier="TEST1" identifierref="RES2" isvisible="false">
     <title>Test</title>
     <ss:sequencing>
      <ss:sequencingRules>
       <ss:preConditionRule>
        <ss:ruleConditions conditionCombination="any">
         <ss:ruleCondition referencedObjective="pre" operator="not" condition="satisfied"/>
         <ss:ruleCondition condition="attemptLimitExceeded"/>
        </ss:ruleConditions>
        <ss:ruleAction action="disabled"/>
       </ss:preConditionRule>
       <ss:exitConditionRule>
        <ss:ruleConditions><ss:ruleCondition condition="objectiveMeasureGreaterThan" measureThreshold="0.5"/></ss:ruleConditions>
        <ss:ruleAction action="exit"/>
       </ss:exitConditionRule>
       <ss:postConditionRule>
        <ss:ruleConditions><ss:ruleCondition condition="satisfied" operator="not"/></ss:ruleConditions>
        <ss:ruleAction action="retry"/>
       </ss:postConditionRule>
      </ss:sequencingRules>
      <ss:auxiliaryResources/>
      <ss:objectives>
       <ss:objective objectiveID="pre"><ss:mapInfo targetObjectiveID="g.lesson"/></ss:objective>
       <ss:primaryObjective/>
      </ss:objectives>
      <ss:deliveryControls tracked="true" completionSetByContent="true" objectiveSetByContent="1"/>
     </ss:sequencing>
    </item>
    <ss:sequencing>
     <ss:controlMode choice="false" flow="true" forwardOnly="true"/>
     <ss:rollupRules rollupProgressCompletion="false" objectiveMeasureWeight="0.25">
      <ss:rollupRule childActivitySet="atLeastCount" minimumCount="1">
       <ss:rollupConditions conditionCombination="all">
        <ss:rollupCondition condition="satisfied"/><ss:rollupCondition operator="not" condition="attempted"/>
       </ss:rollupConditions>
       <ss:rollupAction action="notSatisfied"/>
      </ss:rollupRule>
      <ss:rollupRule childActivitySet="atLeastPercent" minimumPercent="0.75">
       <ss:rollupConditions><ss:rollupCondition condition="completed"/></ss:rollupConditions>
       <ss:rollupAction action="completed"/>
      </ss:rollupRule>
     </ss:rollupRules>
     <seq:rollupConsiderations requiredForSatisfied="ifAttempted" requiredForIncomplete="ifNotSuspended" measureSatisfactionIfActive="false"/>
     <ss:randomizationControls randomizationTiming="onEachNewAttempt" selectCount="1" reorderChildren="true" selectionTiming="once"/>
     <seq:constrainedChoiceConsiderations preventActivation="true" constrainChoice="true"/>
    </ss:sequencing>
   </item>
   <ss:sequencing>
    <ss:controlMode flow="true" choiceExit="false" useCurrentAttemptObjectiveInfo="false" useCurrentAttemptProgressInfo="false"/>
    <ss:limitConditions attemptLimit="0" activityAbsoluteDurationLimit="P1DT2H"/>
   </ss:sequencing>
  </organization>
 </organizations>
 <resources xml:base="lessons">
  <resource identifier="RES1" type="webcontent" cp:scormType="sco" href="one/index.html?x=1" xml:base="unit1/"/>
  <resource identifier="RES2" type="webcontent" cp:scormtype="asset" href="test.html"/>
 </resources>
 <ss:sequencingCollection>
  <ss:sequencing ID="common">
   <ss:controlMode flow="true"/>
   <ss:limitConditions attemptLimit="9"/>
   <ss:deliveryControls completionSetByContent="true"/>
  </ss:sequencing>
 </ss:sequencingCollection>
</manifest>)";
  const Package2004 p = ReadPackage2004(xml);
  EXPECT_EQ(p.identifier, "COURSE");
  EXPECT_EQ(p.title, "Safety course");
  EXPECT_EQ(p.organization, "ORG");
  EXPECT_EQ(p.version, "2004 4th Edition");
  EXPECT_FALSE(p.objectivesGlobalToSystem);
  EXPECT_FALSE(p.sharedDataGlobalToSystem);
  EXPECT_EQ(p.root.line, 8);
  EXPECT_EQ(p.root.children.at(0).children.at(1).line, 34);
  EXPECT_EQ(p.root.children.at(0).children.at(0).resourceIdentifier, "RES1");
  const std::vector<std::string> expected = {
      "ORG 'Safety course'",
      "  controlMode choiceExit=0 flow=1 useCurrentAttemptObjectiveInfo=0 "
      "useCurrentAttemptProgressInfo=0",
      "  limits activityAbsoluteDurationLimit=P1DT2H",
      "  MOD1 'Module 1'",
      "    controlMode choice=0 flow=1 forwardOnly=1",
      "    constrained preventActivation=1 constrainChoice=1",
      "    rollup rollupProgressCompletion=0 objectiveMeasureWeight=0.25 "
      "requiredForSatisfied=ifAttempted "
      "requiredForIncomplete=ifNotSuspended measureSatisfactionIfActive=0",
      "    rollupRule atLeastCount minimumCount=1 all[satisfied,not attempted] "
      "notSatisfied",
      "    rollupRule atLeastPercent minimumPercent=0.75 any[completed] "
      "completed",
      "    random randomizationTiming=onEachNewAttempt selectCount=1 "
      "reorderChildren=1 selectionTiming=once",
      "    SCO1 'Lesson' -> content/lessons/unit1/one/index.html?x=1&lang=en "
      "sco "
      "dataFromLms=mode=a timeLimitAction=exit,message "
      "attemptAbsoluteDurationLimit=PT1H30M",
      "      threshold completedByMeasure=1 minProgressMeasure=0.8 "
      "progressWeight=0.5",
      "      hide previous=1 continue_=1",
      "      data notes writeSharedData=0",
      // The collection's controlMode and delivery, its limits overridden.
      "      controlMode flow=1",
      "      limits attemptLimit=2 attemptAbsoluteDurationLimit=PT1H30M",
      "      objective * lesson satisfiedByMeasure=1 minNormalizedMeasure=0.6 "
      "map g.lesson "
      "r=satisfied,measure,min,max,completion,progress w=satisfied,completion",
      "      delivery completionSetByContent=1",
      "    TEST1 'Test' hidden -> content/lessons/test.html asset",
      "      pre any[not satisfied(pre),attempts>] disabled",
      "      exit all[measure> 0.5] exit",
      "      post all[not satisfied] retry",
      "      objective pre map g.lesson "
      "r=satisfied,measure,raw,min,max,completion,"
      "progress w=",
      "      delivery completionSetByContent=1 objectiveSetByContent=1",
  };
  EXPECT_EQ(Describe(p), expected);
  EXPECT_EQ(p.problems, std::vector<std::string>());
}

TEST(ReaderTest, WhatIsNotSaidIsTheDefault) {
  const Package2004 p = ReadPackage2004(
      Doc("<item identifier=\"I1\" identifierref=\"R1\"><title>One</title>"
          "<imsss:sequencing/></item>"));
  EXPECT_EQ(Describe(p),
            (std::vector<std::string>{"O1 'M'", "  I1 'One' -> a.html sco"}));
  for (const Activity* a : {&p.root, &p.root.children[0]}) {
    ASSERT_EQ(a->sequencing.objectives.size(), 1u);
    EXPECT_TRUE(a->sequencing.objectives[0].primary);
    EXPECT_FALSE(a->completionThreshold.given);
  }
  EXPECT_TRUE(p.objectivesGlobalToSystem);
  EXPECT_EQ(p.version, "");
  EXPECT_EQ(p.problems, std::vector<std::string>());
  // Shared data is read and written unless the map says otherwise.
  const Package2004 shared = ReadPackage2004(
      Doc("<item identifier=\"I1\" identifierref=\"R1\"><adlcp:data>"
          "<adlcp:map targetID=\"t\"/></adlcp:data></item>"));
  ASSERT_EQ(shared.root.children[0].sharedData.size(), 1u);
  EXPECT_TRUE(shared.root.children[0].sharedData[0].readSharedData);
  EXPECT_TRUE(shared.root.children[0].sharedData[0].writeSharedData);
}

struct ItemCase {
  const char* name;
  std::string item;  // inside <item identifier="I1" identifierref="R1">
  std::vector<std::string> lines;  // what Describe says below its head
};

TEST(ReaderTest, ItemsReadAsTheEditionsWriteThem) {
  const std::string collection =
      "<imsss:sequencingCollection>"
      "<imsss:sequencing ID=\"S\"><imsss:controlMode flow=\"true\"/>"
      "<imsss:rollupRules objectiveMeasureWeight=\"0.5\"/>"
      "<imsss:objectives><imsss:primaryObjective objectiveID=\"P\"/>"
      "</imsss:objectives>"
      "<adlseq:objectives><adlseq:objective objectiveID=\"P\">"
      "<adlseq:mapInfo targetObjectiveID=\"G\"/></adlseq:objective>"
      "</adlseq:objectives>"
      "</imsss:sequencing></imsss:sequencingCollection>";
  const ItemCase cases[] = {
      {"3rd edition threshold",
       "<adlcp:completionThreshold>0.7</adlcp:completionThreshold>",
       {"threshold completedByMeasure=1 minProgressMeasure=0.7"}},
      {"4th edition threshold",
       "<adlcp:completionThreshold minProgressMeasure=\"0.7\"/>",
       {"threshold minProgressMeasure=0.7"}},
      {"4th edition threshold, all defaults",
       "<adlcp:completionThreshold/>",
       {"threshold"}},
      {"collection alone",
       "<imsss:sequencing IDRef=\"S\"/>",
       {"controlMode flow=1", "rollup objectiveMeasureWeight=0.5",
        "objective * P map G r=raw,min,max,completion,progress w="}},
      {"own elements override the collection's, element by element",
       "<imsss:sequencing IDRef=\"S\"><imsss:controlMode choice=\"false\"/>"
       "<imsss:objectives><imsss:primaryObjective objectiveID=\"P\">"
       "<imsss:mapInfo targetObjectiveID=\"G\" "
       "readNormalizedMeasure=\"false\"/>"
       "</imsss:primaryObjective></imsss:objectives></imsss:sequencing>",
       {"controlMode choice=0", "rollup objectiveMeasureWeight=0.5",
        "objective * P map G r=satisfied,raw,min,max,completion,progress w="}},
      {"adlseq maps join the imsss map of their target, or stand alone",
       "<imsss:sequencing><imsss:objectives><imsss:primaryObjective/>"
       "<imsss:objective objectiveID=\"A\"><imsss:mapInfo "
       "targetObjectiveID=\"G1\" "
       "writeNormalizedMeasure=\"true\"/></imsss:objective></imsss:objectives>"
       "<adlseq:objectives><adlseq:objective objectiveID=\"A\">"
       "<adlseq:mapInfo targetObjectiveID=\"G2\" writeRawScore=\"true\"/>"
       "<adlseq:mapInfo targetObjectiveID=\"G1\" readProgressMeasure=\"false\" "
       "writeMaxScore=\"true\"/></adlseq:objective></adlseq:objectives>"
       "</imsss:sequencing>",
       {"objective A map G1 r=satisfied,measure,raw,min,max,completion "
        "w=measure,max"
        " map G2 r=raw,min,max,completion,progress w=raw"}},
      {"objective ids with escapes and blanks name one objective",
       "<imsss:sequencing><imsss:objectives><imsss:primaryObjective/>"
       "<imsss:objective objectiveID=\" ob%20j%201  \"><imsss:mapInfo "
       "targetObjectiveID=\"g%20 1\"/></imsss:objective></imsss:objectives>"
       "</imsss:sequencing>",
       {"objective ob j 1 map g 1 r=satisfied,measure,raw,min,max,completion,"
        "progress w="}},
  };
  for (const ItemCase& c : cases) {
    const Package2004 p = ReadPackage2004(Doc(
        "<item identifier=\"I1\" identifierref=\"R1\">" + c.item + "</item>",
        collection));
    std::vector<std::string> lines = Describe(p);
    lines.erase(lines.begin(), lines.begin() + 2);
    for (std::string& line : lines) line.erase(0, 4);
    EXPECT_EQ(lines, c.lines) << c.name;
    EXPECT_EQ(p.problems, std::vector<std::string>()) << c.name;
  }
}

struct ProblemCase {
  std::string org;  // the organization's content, from line 3
  std::vector<std::string> problems;
  std::vector<std::string> lines;  // Describe, heads included
  std::string collection;          // from line 9 when org has four lines
  std::string resources = kResource;
};

// Hostile trees are cut at their bounds, each said once, the rest read.
TEST(ReaderTest, ItemTreesAreCutAtTheirBounds) {
  const auto nested = [](int depth) {
    std::string items;
    for (int i = 0; i < depth; ++i)
      items += "<item identifier=\"I" + std::to_string(i) + "\">";
    for (int i = 0; i < depth; ++i) items += "</item>";
    return items;
  };
  // libxml2 refuses documents nested deeper than 256; 200 passes it.
  const Package2004 deep = ReadPackage2004(Doc(nested(200)));
  int depth = 0;
  for (const Activity* a = &deep.root.children.at(0); !a->children.empty();
       a = &a->children[0])
    ++depth;
  EXPECT_EQ(depth, 63);
  EXPECT_EQ(deep.problems,
            std::vector<std::string>{
                "line 3: item I63: items nested deeper than 64 are left out"});
}

TEST(ReaderTest, FaultsAreNamedWithTheirLinesAndTheRestReads) {
  const std::string rule =
      "<imsss:ruleConditions><imsss:ruleCondition condition=\"always\"/>"
      "</imsss:ruleConditions>";
  const ProblemCase cases[] = {
      {"<item identifier=\"I1\" identifierref=\"R9\"/>\n"
       "<item identifier=\"I2\"/>\n<item identifier=\"I3\" isvisible=\"no\" "
       "identifierref=\"R1\"><item identifier=\"I4\" "
       "identifierref=\"R1\"/></item>",
       {"line 3: item I1: names resource R9, which is missing",
        "line 4: item I2: a leaf without a resource; it cannot be delivered",
        "line 5: item I3: item isvisible 'no' is not true or false; true is "
        "used",
        "line 5: item I3: has items and names resource R1, which only a "
        "leaf may; the resource is ignored"},
       {"O1 'M'", "  I1 'I1'", "  I2 'I2'", "  I3 'I3'",
        "    I4 'I4' -> a.html sco"},
       ""},
      {"<item identifier=\"I1\" identifierref=\"R1\">\n"
       "<adlcp:completionThreshold>1.5</adlcp:completionThreshold>\n"
       "<adlcp:timeLimitAction>stop</adlcp:timeLimitAction>\n"
       "<adlnav:presentation><adlnav:navigationInterface><adlnav:hideLMSUI>"
       "menu</adlnav:hideLMSUI></adlnav:navigationInterface></"
       "adlnav:presentation>\n"
       "<adlcp:data><adlcp:map/></adlcp:data>\n"
       "<imsss:sequencing IDRef=\"nowhere\">\n"
       "<imsss:controlMode choice=\"yes\" flow=\"true\"/>\n"
       "<imsss:sequencingRules><imsss:preConditionRule>" +
           rule +
           "<imsss:ruleAction action=\"exit\"/></imsss:preConditionRule>\n"
           "<imsss:postConditionRule><imsss:ruleConditions>"
           "<imsss:ruleCondition condition=\"passed\"/></imsss:ruleConditions>"
           "<imsss:ruleAction action=\"retry\"/></imsss:postConditionRule>\n"
           "<imsss:exitConditionRule>" +
           rule +
           "</imsss:exitConditionRule></imsss:sequencingRules>\n"
           "<imsss:limitConditions attemptLimit=\"-1\" "
           "attemptAbsoluteDurationLimit=\"1 hour\"/>\n"
           "<imsss:rollupRules objectiveMeasureWeight=\"2\"><imsss:rollupRule "
           "childActivitySet=\"most\"><imsss:rollupConditions><imsss:"
           "rollupCondition "
           "condition=\"satisfied\"/></"
           "imsss:rollupConditions><imsss:rollupAction "
           "action=\"completed\"/></imsss:rollupRule></imsss:rollupRules>\n"
           "<imsss:objectives><imsss:objective objectiveID=\"A\">"
           "<imsss:minNormalizedMeasure>-2</imsss:minNormalizedMeasure>"
           "</imsss:objective><imsss:objective/></imsss:objectives>\n"
           "<adlseq:objectives><adlseq:objective "
           "objectiveID=\"B\"/></adlseq:objectives>\n"
           "<imsss:randomizationControls randomizationTiming=\"sometimes\" "
           "selectCount=\"x\"/>\n"
           "</imsss:sequencing></item>",
       {"line 4: item I1: completionThreshold '1.5' is not a number from 0 "
        "to 1; it is left out",
        "line 5: item I1: timeLimitAction 'stop' is unknown; it is left out",
        "line 6: item I1: hideLMSUI 'menu' is unknown",
        "line 7: item I1: map has no targetID; it is left out",
        "line 8: item I1: sequencing IDRef 'nowhere' names no sequencing of "
        "the collection; only the activity's own is used",
        "line 9: item I1: controlMode choice 'yes' is not true or false; "
        "true is used",
        "line 10: item I1: ruleAction 'exit' is not allowed in "
        "preConditionRule; the rule is left out",
        "line 11: item I1: ruleCondition has an unknown condition 'passed'; "
        "the rule is left out",
        "line 12: item I1: exitConditionRule has no ruleAction; the rule is "
        "left out",
        "line 13: item I1: limitConditions attemptLimit '-1' is not a whole "
        "number up to 4294967295; there is no limit",
        "line 13: item I1: limitConditions attemptAbsoluteDurationLimit "
        "'1 hour' is not a duration; there is no limit",
        "line 14: item I1: rollupRules objectiveMeasureWeight '2' is not a "
        "number from 0 to 1; 1 is used",
        "line 14: item I1: rollupRule has an unknown childActivitySet "
        "'most'; the rule is left out",
        "line 15: item I1: objectives has no primaryObjective; one without "
        "an ID stands for it",
        "line 15: item I1: minNormalizedMeasure '-2' is not a number from -1 "
        "to 1; 1 is used",
        "line 15: item I1: objective has no objectiveID; it is left out",
        "line 17: item I1: randomizationControls has an unknown "
        "randomizationTiming 'sometimes'; 'never' is used",
        "line 17: item I1: randomizationControls selectCount 'x' is not a "
        "whole number up to 4294967295; all are selected",
        "line 16: item I1: adlseq objective B is no objective of the "
        "activity; its maps are left out"},
       {"O1 'M'", "  I1 'I1' -> a.html sco", "    controlMode flow=1",
        "    objective A"},
       ""},
      {"<item identifier=\"I1\" identifierref=\"R1\"><imsss:sequencing "
       "IDRef=\"S\"><imsss:sequencingRules><imsss:preConditionRule>"
       "<imsss:ruleConditions><imsss:ruleCondition referencedObjective=\"X\" "
       "condition=\"satisfied\"/></imsss:ruleConditions><imsss:ruleAction "
       "action=\"skip\"/></imsss:preConditionRule></imsss:sequencingRules>\n"
       "<imsss:objectives><imsss:primaryObjective objectiveID=\"P\"/>"
       "<imsss:primaryObjective/><imsss:objective objectiveID=\"P\"/>\n"
       "<imsss:objective objectiveID=\"Q\"><imsss:mapInfo "
       "targetObjectiveID=\"G\"/><imsss:mapInfo targetObjectiveID=\"G\"/>"
       "<imsss:mapInfo/></imsss:objective></imsss:objectives>"
       "</imsss:sequencing></item>\n"
       "<item identifier=\"I2\" identifierref=\"R1\"/>",
       {"line 8: resource R1 repeats an identifier; the first is used",
        "line 10: a sequencing of the collection has no ID; it is unused",
        "line 12: sequencing S: repeats an ID; the first is used",
        "line 4: item I1: a second primaryObjective; the first is used",
        "line 4: item I1: objectiveID P is repeated; the first is used",
        "line 5: item I1: mapInfo repeats targetObjectiveID G; the first is "
        "used",
        "line 5: item I1: mapInfo has no targetObjectiveID; it is left out",
        "line 3: item I1: ruleCondition names objective X, which the "
        "activity does not have"},
       {"O1 'M'", "  I1 'I1' -> a.html sco", "    pre all[satisfied(X)] skip",
        "    objective * P",
        "    objective Q map G r=satisfied,measure,raw,min,max,completion,"
        "progress w=",
        "  I2 'I2' -> a.html sco"},
       "<imsss:sequencingCollection>\n<imsss:sequencing/>\n"
       "<imsss:sequencing ID=\"S\"/>\n<imsss:sequencing ID=\"S\" "
       "IDRef=\"S\"/>\n</imsss:sequencingCollection>",
       kResource +
           std::string("<resource identifier=\"R1\" href=\"b.html\"/>")},
  };
  for (const ProblemCase& c : cases) {
    const Package2004 p =
        ReadPackage2004(Doc(c.org, c.collection, c.resources));
    EXPECT_EQ(p.problems, c.problems);
    EXPECT_EQ(Describe(p), c.lines);
  }
}

TEST(ReaderTest, OnlyAnUnreadableManifestThrows) {
  const std::pair<std::string, std::string> cases[] = {
      {"<manifest><organizations>", "not well-formed: line 1"},
      {"<manifest xmlns=\"http://www.imsglobal.org/xsd/imscp_v1p1\">\n"
       "<organizations/></manifest>",
       "line 2: the manifest has no organization"},
      {"<html/>", "line 1: the root element is 'html'"},
      // Two activities with one identifier, whatever lies between them.
      {Doc("<item identifier=\"I1\" identifierref=\"R1\"/>\n"
           "<item identifier=\"F\">\n<item identifier=\"I1\" "
           "identifierref=\"R1\"/></item>"),
       "line 5: item I1 has the identifier of the item on line 3; the "
       "manifest is invalid"},
      {Doc("<item identifier=\"O1\" identifierref=\"R1\"/>"),
       "line 3: item O1 has the identifier of the organization on line 2; "
       "the manifest is invalid"},
  };
  for (const auto& [xml, message] : cases) {
    try {
      ReadPackage2004(xml);
      ADD_FAILURE() << xml;
    } catch (const scorm::EManifestError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos)
          << e.what();
    }
  }
}

}  // namespace
}  // namespace zept::scorm2004
