#pragma once
// What a SCORM 2004 package says of its activities: the activity tree of
// the default organization with each activity's sequencing definition, as
// the content packaging and the sequencing and navigation books name them.
// Read once from the manifest and never changed; what a learner does lives
// in the activity state beside it.

#include <optional>
#include <string>
#include <vector>

namespace zept::scorm2004 {

// Defaults are the books' defaults, so an activity whose manifest says
// nothing has exactly these.
struct ControlMode {
  bool choice = true;
  bool choiceExit = true;
  bool flow = false;
  bool forwardOnly = false;
  bool useCurrentAttemptObjectiveInfo = true;
  bool useCurrentAttemptProgressInfo = true;
};

// adlseq:constrainedChoiceConsiderations
struct ConstrainedChoice {
  bool preventActivation = false;
  bool constrainChoice = false;
};

enum class RuleConditionKind {
  kSatisfied,
  kObjectiveStatusKnown,
  kObjectiveMeasureKnown,
  kObjectiveMeasureGreaterThan,
  kObjectiveMeasureLessThan,
  kCompleted,
  kActivityProgressKnown,
  kAttempted,
  kAttemptLimitExceeded,
  kTimeLimitExceeded,
  kOutsideAvailableTimeRange,
  kAlways,
};

struct RuleCondition {
  RuleConditionKind condition = RuleConditionKind::kAlways;
  bool negate = false;                // operator="not"
  std::string referencedObjective;    // "" for the primary objective
  double measureThreshold = 0.0;      // -1.0 .. 1.0
};

enum class RuleAction {
  // pre-condition
  kSkip,
  kDisabled,
  kHiddenFromChoice,
  kStopForwardTraversal,
  // exit
  kExit,
  // post-condition
  kExitParent,
  kExitAll,
  kRetry,
  kRetryAll,
  kContinue,
  kPrevious,
};

enum class ConditionCombination { kAll, kAny };

struct SequencingRule {
  ConditionCombination combination = ConditionCombination::kAll;
  std::vector<RuleCondition> conditions;
  RuleAction action = RuleAction::kSkip;
};

struct LimitConditions {
  // 0: no limit.
  unsigned attemptLimit = 0;
  // ISO 8601 durations as written ("" when not given); read, not enforced,
  // as the books allow.
  std::string attemptAbsoluteDurationLimit;
  std::string activityAbsoluteDurationLimit;
};

enum class ChildActivitySet { kAll, kAny, kNone, kAtLeastCount, kAtLeastPercent };

enum class RollupConditionKind {
  kSatisfied,
  kObjectiveStatusKnown,
  kObjectiveMeasureKnown,
  kCompleted,
  kActivityProgressKnown,
  kAttempted,
  kAttemptLimitExceeded,
  kTimeLimitExceeded,
  kOutsideAvailableTimeRange,
};

struct RollupCondition {
  RollupConditionKind condition = RollupConditionKind::kSatisfied;
  bool negate = false;
};

enum class RollupAction { kSatisfied, kNotSatisfied, kCompleted, kIncomplete };

struct RollupRule {
  ChildActivitySet childActivitySet = ChildActivitySet::kAll;
  unsigned minimumCount = 0;
  double minimumPercent = 0.0;  // 0.0 .. 1.0
  ConditionCombination combination = ConditionCombination::kAny;
  std::vector<RollupCondition> conditions;
  RollupAction action = RollupAction::kSatisfied;
};

// adlseq:rollupConsiderations
enum class RollupConsideration { kAlways, kIfAttempted, kIfNotSkipped, kIfNotSuspended };

struct RollupControls {
  bool rollupObjectiveSatisfied = true;
  bool rollupProgressCompletion = true;
  double objectiveMeasureWeight = 1.0;
  RollupConsideration requiredForSatisfied = RollupConsideration::kAlways;
  RollupConsideration requiredForNotSatisfied = RollupConsideration::kAlways;
  RollupConsideration requiredForCompleted = RollupConsideration::kAlways;
  RollupConsideration requiredForIncomplete = RollupConsideration::kAlways;
  bool measureSatisfactionIfActive = true;
};

// imsss:mapInfo with the 4th edition's adlseq:mapInfo of the same target
// merged in.
struct ObjectiveMap {
  std::string targetObjectiveId;
  bool readSatisfiedStatus = true;
  bool readNormalizedMeasure = true;
  bool writeSatisfiedStatus = false;
  bool writeNormalizedMeasure = false;
  // adlseq:mapInfo
  bool readRawScore = true;
  bool readMinScore = true;
  bool readMaxScore = true;
  bool readCompletionStatus = true;
  bool readProgressMeasure = true;
  bool writeRawScore = false;
  bool writeMinScore = false;
  bool writeMaxScore = false;
  bool writeCompletionStatus = false;
  bool writeProgressMeasure = false;
};

struct Objective {
  // "" only for a primary objective without one (it still exists).
  std::string id;
  bool primary = false;
  bool satisfiedByMeasure = false;
  double minNormalizedMeasure = 1.0;  // -1.0 .. 1.0
  std::vector<ObjectiveMap> maps;
};

enum class RandomizationTiming { kNever, kOnce, kOnEachNewAttempt };

struct Randomization {
  RandomizationTiming randomizationTiming = RandomizationTiming::kNever;
  std::optional<unsigned> selectCount;
  bool reorderChildren = false;
  RandomizationTiming selectionTiming = RandomizationTiming::kNever;
};

struct DeliveryControls {
  bool tracked = true;
  bool completionSetByContent = false;
  bool objectiveSetByContent = false;
};

// adlcp:completionThreshold of the 4th edition (or the 3rd's plain value,
// which is minProgressMeasure with completedByMeasure).
struct CompletionThreshold {
  bool completedByMeasure = false;
  double minProgressMeasure = 1.0;  // 0.0 .. 1.0
  double progressWeight = 1.0;
  bool given = false;  // the manifest had one: cmi.completion_threshold
};

// adlnav:presentation/navigationInterface/hideLMSUI
struct HiddenControls {
  bool previous = false;
  bool continue_ = false;
  bool exit = false;
  bool exitAll = false;
  bool abandon = false;
  bool abandonAll = false;
  bool suspendAll = false;
};

// adlcp:data/adlcp:map
struct SharedDataMap {
  std::string targetId;
  bool readSharedData = true;
  bool writeSharedData = true;
};

struct SequencingDefinition {
  ControlMode controlMode;
  ConstrainedChoice constrainedChoice;
  std::vector<SequencingRule> preConditionRules;
  std::vector<SequencingRule> exitConditionRules;
  std::vector<SequencingRule> postConditionRules;
  LimitConditions limitConditions;
  std::vector<RollupRule> rollupRules;
  RollupControls rollup;
  // The primary objective first (always present), then the others in
  // manifest order.
  std::vector<Objective> objectives;
  Randomization randomization;
  DeliveryControls delivery;
};

struct Activity {
  std::string identifier;
  std::string title;
  bool visible = true;
  // The launch location as for SCORM 1.2 items (xml:base applied,
  // parameters appended); "" for a cluster or an item without a resource.
  std::string launch;
  bool isSco = false;  // adlcp:scormType "sco"; an asset otherwise
  std::string resourceIdentifier;
  // The adlcp elements as written ("" when absent).
  std::string dataFromLms;
  std::string timeLimitAction;
  std::string attemptAbsoluteDurationLimit;  // cmi.max_time_allowed
  CompletionThreshold completionThreshold;
  HiddenControls hidden;
  std::vector<SharedDataMap> sharedData;
  SequencingDefinition sequencing;
  int line = 0;  // where the item starts in the manifest
  std::vector<Activity> children;
};

struct Package2004 {
  std::string identifier;    // of the manifest
  std::string title;         // the organization's, else the identifier
  std::string organization;  // its identifier
  std::string version;       // "2004 4th Edition", "CAM 1.3", ...
  bool objectivesGlobalToSystem = true;
  bool sharedDataGlobalToSystem = true;
  // The organization as the root activity of the tree; its own sequencing
  // as the organization's imsss:sequencing says.
  Activity root;
  // Faults that leave the rest playable, each naming its place
  // ("line 40: item SCO2: rollupRule has an unknown childActivitySet
  // 'most'; the rule is left out").
  std::vector<std::string> problems;
};

}  // namespace zept::scorm2004
