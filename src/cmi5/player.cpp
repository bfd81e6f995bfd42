#include "cmi5/player.h"

#include <algorithm>
#include <chrono>

#include "cmi5/vocabulary.h"
#include "scorm/results.h"
#include "util/utf8.h"
#include "xapi/json.h"
#include "xapi/statements.h"
#include "util/i18n.h"

namespace zept::cmi5 {
namespace {

using xapi::JsonType;
using xapi::JsonValue;

void Field(std::string& out, const char* name, const std::string& value) {
  if (out.back() != '{') out += ',';
  out += JsonString(name) + ":" + JsonString(value);
}

const std::string* Text(const JsonValue* value) {
  return value && value->is(JsonType::kString) ? &value->text : nullptr;
}

// A text member of an object, "" when absent.
std::string Member(const JsonValue& object, const char* name) {
  const std::string* text = Text(object.find(name));
  return text ? *text : std::string();
}

std::string NumberText(const JsonValue* value) {
  return value && value->is(JsonType::kNumber) ? value->text : std::string();
}

// The menu's text of a statement's score, "" without one.
std::string ScoreOf(const JsonValue& statement) {
  const JsonValue* result = statement.find("result");
  const JsonValue* score = result ? result->find("score") : nullptr;
  if (!score) return std::string();
  return scorm::ScoreText(NumberText(score->find("raw")),
                          NumberText(score->find("max")),
                          NumberText(score->find("scaled")));
}

std::string SessionOf(const JsonValue& statement) {
  const JsonValue* context = statement.find("context");
  const JsonValue* extensions = context ? context->find("extensions") : nullptr;
  const std::string* id =
      extensions ? Text(extensions->find(kSessionIdExtension)) : nullptr;
  return id ? *id : std::string();
}

// The ids of a context activity list ("grouping", "category").
std::vector<std::string> ContextIds(const JsonValue& statement,
                                    const char* list) {
  std::vector<std::string> out;
  const JsonValue* context = statement.find("context");
  const JsonValue* activities =
      context ? context->find("contextActivities") : nullptr;
  const JsonValue* items = activities ? activities->find(list) : nullptr;
  if (!items) return out;
  const auto add = [&](const JsonValue& activity) {
    if (const std::string* id = Text(activity.find("id"))) out.push_back(*id);
  };
  if (items->is(JsonType::kArray)) {
    for (const JsonValue& activity : items->items) add(activity);
  } else {
    add(*items);
  }
  return out;
}

// When zept took a stored statement, by zept's clock (the content's own
// timestamps may come from a clock that is wrong).
std::int64_t MsOf(const JsonValue& statement) {
  for (const char* name : {"stored", "timestamp"}) {
    if (const std::string* text = Text(statement.find(name)))
      if (auto ms = xapi::MsOfTimestamp(*text)) return *ms;
  }
  return 0;
}

// What a statement about an AU says of its outcome and score; outcomes:
// also the outcome (else only the score).
void TakeStatement(const JsonValue& s, AuRecord& record, bool outcomes) {
  const JsonValue* verb = s.find("verb");
  const std::string* iri = verb ? Text(verb->find("id")) : nullptr;
  const std::optional<Verb> v = iri ? VerbOf(*iri) : std::nullopt;
  if (v == Verb::kPassed) {
    if (outcomes) record.outcome.passed = true;
    record.score = ScoreOf(s);
  } else if (v == Verb::kFailed) {
    if (outcomes) record.outcome.failed = true;
    if (!record.outcome.passed) record.score = ScoreOf(s);
  } else if (v == Verb::kCompleted && outcomes) {
    record.outcome.completed = true;
  }
}

// Whether a Tin Can statement kept for the learner speaks of the learner's
// registration: its actor is the launch's learner, and it names that
// registration or none (xAPI leaves the registration optional).
bool OfTheRegistration(const JsonValue& s, const std::string& registration,
                       const std::string& learnerKey) {
  const JsonValue* actor = s.find("actor");
  if (!actor || xapi::AgentKey(*actor) != learnerKey) return false;
  const JsonValue* context = s.find("context");
  const std::string* given =
      context ? Text(context->find("registration")) : nullptr;
  return !given || AsciiLower(*given) == AsciiLower(registration);
}

}  // namespace

// A Tin Can package's record: what its content said of its activities.
RegistrationRecord ReadTinCan(const Course& course, xapi::LrsStore& store,
                              const std::string& registration,
                              const std::string& learnerKey) {
  RegistrationRecord out;
  out.aus.assign(course.aus.size(), {});
  xapi::StatementFilter filter;
  filter.ascending = true;
  for (const std::string& json : store.statements(filter)) {
    const xapi::JsonParse parse = xapi::ParseJson(json);
    if (!parse.ok() ||
        !OfTheRegistration(parse.value, registration, learnerKey))
      continue;
    const JsonValue* object = parse.value.find("object");
    const std::string* id = object ? Text(object->find("id")) : nullptr;
    const auto au = id ? course.findAu(*id) : std::nullopt;
    if (!au) continue;
    out.aus[*au].sessions = std::max(out.aus[*au].sessions, 1u);
    TakeStatement(parse.value, out.aus[*au], true);
  }
  return out;
}

std::string AuIri(const Course& course, const std::string& courseIri,
                  std::size_t au) {
  return xapi::ItemIri(courseIri, course.aus[au].id);
}

std::string BlockIri(const Course& course, const std::string& courseIri,
                     std::size_t block) {
  return xapi::ItemIri(courseIri, course.blocks[block].id);
}

RegistrationRecord ReadRegistration(const Course& course, xapi::LrsStore& store,
                                    const std::string& registration) {
  RegistrationRecord out;
  out.aus.assign(course.aus.size(), {});
  out.satisfiedBlocks.assign(course.blocks.size(), false);
  // An AU's statements are found by their object, zept's IRI of the AU,
  // whose last segment is the AU's id (encoded, so it holds no "/"): that
  // holds whatever course IRI a configuration gave the registration, and
  // grouping may list other AUs' ids too. Blocks and the course by their
  // publisher ids in grouping.
  std::map<std::string, std::size_t> aus, blocks;
  for (std::size_t i = 0; i < course.aus.size(); ++i)
    aus[xapi::PercentEncode(course.aus[i].id)] = i;
  for (std::size_t i = 0; i < course.blocks.size(); ++i)
    blocks[course.blocks[i].id] = i;
  std::map<std::string, OpenSession> open;
  std::vector<std::string> order;
  xapi::StatementFilter filter;
  filter.registration = registration;
  filter.ascending = true;
  for (const std::string& json : store.statements(filter)) {
    const xapi::JsonParse parse = xapi::ParseJson(json);
    if (!parse.ok()) continue;
    const JsonValue& s = parse.value;
    const JsonValue* verbValue = s.find("verb");
    const std::string* verbIri =
        verbValue ? Text(verbValue->find("id")) : nullptr;
    if (!verbIri) continue;
    const std::optional<Verb> verb = VerbOf(*verbIri);
    const std::string session = SessionOf(s);
    if (auto it = open.find(session); it != open.end())
      it->second.lastMs = std::max(it->second.lastMs, MsOf(s));
    // Only cmi5's own statements count; content may use its verbs freely
    // for activities of its own.
    const std::vector<std::string> grouping = ContextIds(s, "grouping");
    const std::vector<std::string> category = ContextIds(s, "category");
    if (!verb || std::find(category.begin(), category.end(), kCmi5Category) ==
                     category.end())
      continue;
    if (verb == Verb::kSatisfied) {
      for (const std::string& id : grouping) {
        if (id == course.id) out.satisfiedCourse = true;
        if (auto b = blocks.find(id); b != blocks.end())
          out.satisfiedBlocks[b->second] = true;
      }
      continue;
    }
    const JsonValue* object = s.find("object");
    const std::string* objectId = object ? Text(object->find("id")) : nullptr;
    if (!objectId) continue;
    const auto a = aus.find(objectId->substr(objectId->rfind('/') + 1));
    if (a == aus.end() || std::find(grouping.begin(), grouping.end(),
                                    course.aus[a->second].id) == grouping.end())
      continue;
    AuRecord& record = out.aus[a->second];
    switch (*verb) {
      case Verb::kLaunched:
        ++record.sessions;
        if (!session.empty()) {
          open[session] = {session, a->second, MsOf(s), MsOf(s)};
          order.push_back(session);
        }
        break;
      case Verb::kCompleted:
        record.outcome.completed = true;
        break;
      case Verb::kPassed:
        record.outcome.passed = true;
        record.score = ScoreOf(s);
        break;
      case Verb::kFailed:
        record.outcome.failed = true;
        if (!record.outcome.passed) record.score = ScoreOf(s);
        break;
      case Verb::kWaived:
        record.outcome.waived = true;
        break;
      case Verb::kTerminated:
      case Verb::kAbandoned:
        open.erase(session);
        break;
      default:
        break;
    }
  }
  for (const std::string& session : order)
    if (auto it = open.find(session); it != open.end())
      out.open.push_back(it->second);
  return out;
}

namespace {

// The identity a registration's first statements were sent with: the
// actor's home page, and the course's IRI that the object of its first
// statement about an AU or a block begins with; nullopt when it has none.
std::optional<scorm::RegistrationIdentity> IdentityOfStatements(
    const Course& course, xapi::LrsStore& store,
    const std::string& registration, const std::string& login) {
  xapi::StatementFilter filter;
  filter.registration = registration;
  filter.ascending = true;
  std::optional<scorm::RegistrationIdentity> out;
  for (const std::string& json : store.statements(filter)) {
    const xapi::JsonParse parse = xapi::ParseJson(json);
    const JsonValue* actor = parse.ok() ? parse.value.find("actor") : nullptr;
    const JsonValue* account = actor ? actor->find("account") : nullptr;
    if (!account || Member(*account, "name") != login) continue;
    if (!out)
      out = scorm::RegistrationIdentity{Member(*account, "homePage"),
                                        std::string()};
    const JsonValue* object = parse.value.find("object");
    const std::string id = object ? Member(*object, "id") : std::string();
    const auto below = [&](const std::string& publisherId) {
      const std::string tail = "/" + xapi::PercentEncode(publisherId);
      if (id.size() <= tail.size() || !id.ends_with(tail)) return false;
      out->courseIri = id.substr(0, id.size() - tail.size());
      return true;
    };
    for (const Au& au : course.aus)
      if (below(au.id)) return out;
    for (const Block& block : course.blocks)
      if (below(block.id)) return out;
  }
  return out;
}

// An address of the content's logical origin at the origin it is served.
std::string Served(std::string_view address, const std::string& origin) {
  constexpr std::string_view kLogical = "zept://content";
  if (address.substr(0, kLogical.size()) != kLogical)
    return std::string(address);  // an address outside the package
  return origin + std::string(address.substr(kLogical.size()));
}

scorm::PlayerOptions BaseOptions(const CoursePlayerOptions& options) {
  scorm::PlayerOptions base;
  base.learner = options.learner;
  base.item = options.item;
  return base;
}

}  // namespace

CoursePlayer::CoursePlayer(const Course& course, scorm::ProgressStore& store,
                           CoursePlayerOptions options)
    : PickedTitle{Pick(course.title, options.language)},
      // Content that calls no API gets SCORM 1.2's answers outside a
      // session if it tries.
      SessionPlayer(store, BaseOptions(options), PickedTitle::title,
                    course.notes, scorm::kScorm12Api, "AU",
                    options.tinCan ? "tincan" : "cmi5"),
      course_(course),
      settings_(std::move(options)) {
  if (!settings_.nowMs) {
    settings_.nowMs = [] {
      using namespace std::chrono;
      return duration_cast<milliseconds>(system_clock::now().time_since_epoch())
          .count();
    };
  }
  if (!settings_.newId) settings_.newId = xapi::NewUuid;
  if (settings_.homePage.empty()) settings_.homePage = kDefaultHomePage;
  if (settings_.courseIri.empty())
    settings_.courseIri = xapi::CourseIri(kDefaultActivityBase, course_.id);
}

CoursePlayer::~CoursePlayer() = default;

std::string CoursePlayer::auIri(std::size_t au) const {
  return AuIri(course_, courseIri_.empty() ? settings_.courseIri : courseIri_,
               au);
}

std::string CoursePlayer::blockIri(std::size_t block) const {
  return BlockIri(course_,
                  courseIri_.empty() ? settings_.courseIri : courseIri_, block);
}

std::string CoursePlayer::learnerKey() const {
  return xapi::AgentKey(xapi::ParseJson(ActorJson(actor_)).value);
}

Stamp CoursePlayer::stamp() {
  return {settings_.newId(), xapi::TimestampOfMs(settings_.nowMs())};
}

std::string CoursePlayer::other(const std::vector<std::string>& message) {
  const std::string& kind = message[0];
  if (kind == "launch" && message.size() >= 2) return launch(message[1]);
  if (kind == "left") {
    // Only the launch that went ends; a later one plays on.
    if (message.size() < 2 || message[1] == launchNumber()) endSession();
  }
  return "";
}

void CoursePlayer::learnerTaken() {
  au_.reset();
  playing_.clear();
  registration_ = store_.registration(learner_);
  lrsStore_ = store_.lrs(learner_);
  scorm::RegistrationIdentity identity = store_.registrationIdentity(learner_);
  if (identity.homePage.empty()) {
    identity = {settings_.homePage, settings_.courseIri};
    // A registration an earlier zept started keeps what its first
    // statements said.
    if (const auto said = IdentityOfStatements(course_, *lrsStore_,
                                               registration_, learner_)) {
      if (!said->homePage.empty()) identity.homePage = said->homePage;
      if (!said->courseIri.empty()) identity.courseIri = said->courseIri;
    }
    identity = store_.keepRegistrationIdentity(learner_, identity);
  }
  actor_ = {identity.homePage, learner_};
  courseIri_ = identity.courseIri;
  xapi::ContentLrsOptions clock{settings_.nowMs, settings_.newId};
  clock.root = "/lrs/";  // kEndpoint's path
  lrs_ = std::make_unique<SessionLrs>(*lrsStore_, clock);
  RegistrationRecord read =
      settings_.tinCan
          ? ReadTinCan(course_, *lrsStore_, registration_, learnerKey())
          : ReadRegistration(course_, *lrsStore_, registration_);
  satisfiedBlocks_.assign(course_.blocks.size(), false);
  records_ = std::move(read.aus);
  if (settings_.tinCan) return;
  satisfiedBlocks_ = std::move(read.satisfiedBlocks);
  satisfiedCourse_ = read.satisfiedCourse;
  // Sessions that never ended: zept was killed, or lost its window, while
  // they ran.
  std::vector<xapi::Statement> abandoned;
  for (const OpenSession& open : read.open) {
    Launch launch = LaunchOf(course_.aus[open.au]);
    launch.actor = actor_;
    launch.registration = registration_;
    launch.sessionId = open.id;
    launch.activityId = auIri(open.au);
    launch.publisherId = course_.aus[open.au].id;
    abandoned.push_back(
        AbandonedStatement(launch,
                           std::chrono::milliseconds(std::max<std::int64_t>(
                               0, open.lastMs - open.launchedMs)),
                           stamp()));
  }
  if (!abandoned.empty()) {
    record(abandoned);
    if (onNote)
      onNote(std::to_string(abandoned.size()) + " session(s) of " + learner_ +
             " that ended without the AU's \"terminated\" are recorded as "
             "abandoned");
  }
  // NotApplicable AUs are satisfied from the registration on; a kill may
  // have come between a statement and the "satisfied" it caused.
  satisfy(settings_.newId());
}

void CoursePlayer::satisfy(const std::string& sessionId) {
  std::vector<AuOutcome> outcomes;
  for (const AuRecord& record : records_) outcomes.push_back(record.outcome);
  Satisfaction before;
  before.aus.assign(course_.aus.size(), false);
  before.blocks = satisfiedBlocks_;
  before.course = satisfiedCourse_;
  const Satisfaction after = Evaluate(course_, outcomes);
  std::vector<xapi::Statement> statements;
  for (const Satisfied& what : NewlySatisfied(course_, before, after)) {
    const SatisfiedObject object =
        what.course ? CourseObject(course_, settings_.courseIri)
                    : BlockObject(course_, what.block, blockIri(what.block));
    statements.push_back(
        SatisfiedStatement(actor_, registration_, sessionId, object, stamp()));
  }
  if (statements.empty()) return;
  record(statements);
  satisfiedBlocks_ = after.blocks;
  satisfiedCourse_ = after.course;
}

void CoursePlayer::record(const std::vector<xapi::Statement>& statements) {
  lrs_->record(statements);
  if (onStatements) onStatements();
}

std::string CoursePlayer::statusOf(std::size_t au) const {
  if (learner_.empty() || au >= records_.size()) return "not attempted";
  const AuRecord& record = records_[au];
  // What satisfies the AU leads: completed, then failed, satisfies
  // CompletedOrPassed and shows as completed.
  const MoveOn moveOn = course_.aus[au].moveOn;
  if (record.outcome.completed &&
      (moveOn == MoveOn::kCompleted ||
       (moveOn == MoveOn::kCompletedOrPassed && !record.outcome.passed)))
    return "completed";
  if (record.outcome.passed) return "passed";
  if (record.outcome.failed) return "failed";
  if (record.outcome.completed) return "completed";
  if (record.outcome.waived) return "satisfied";
  return record.sessions ? "in progress" : "not attempted";
}

std::string CoursePlayer::continueAu() const {
  std::optional<std::size_t> first;
  for (std::size_t i = 0; i < course_.aus.size(); ++i) {
    if (!course_.aus[i].relative()) continue;
    if (!first) first = i;
    const AuOutcome outcome =
        i < records_.size() ? records_[i].outcome : AuOutcome{};
    const bool done = course_.aus[i].moveOn == MoveOn::kNotApplicable
                          ? outcome.completed || outcome.passed
                          : AuSatisfied(course_.aus[i].moveOn, outcome);
    if (!done) return course_.aus[i].id;
  }
  return first ? course_.aus[*first].id : std::string();
}

std::string CoursePlayer::menu() {
  const std::string& language = settings_.language;
  std::string out = "{";
  Field(out, "title", Pick(course_.title, language));
  Field(out, "learner", learner_);
  Field(out, "continue", learner_.empty() ? "" : continueAu());
  Field(out, "note", resultsNote_);
  bool attempted = false;
  for (const AuRecord& record : records_) attempted |= record.sessions > 0;
  Field(out, "courseStatus",
        satisfiedCourse_ ? "satisfied"
        : attempted      ? "in progress"
                         : "not attempted");
  out += ",\"items\":[";
  bool first = true;
  const auto walk = [&](const auto& self, const std::vector<Child>& children,
                        int depth) -> void {
    for (const Child& child : children) {
      if (!first) out += ',';
      first = false;
      out += '{';
      if (child.kind == Child::Kind::kBlock) {
        const Block& block = course_.blocks[child.index];
        Field(out, "id", block.id);
        Field(out, "title", Pick(block.title, language));
        out += ",\"depth\":" + std::to_string(depth);
        out += ",\"launchable\":false";
        bool attempted = false;
        const auto any = [&](const auto& inner,
                             const std::vector<Child>& kids) -> void {
          for (const Child& kid : kids) {
            if (kid.kind == Child::Kind::kBlock)
              inner(inner, course_.blocks[kid.index].children);
            else if (kid.index < records_.size() &&
                     records_[kid.index].sessions)
              attempted = true;
          }
        };
        any(any, block.children);
        Field(out, "status",
              child.index < satisfiedBlocks_.size() &&
                      satisfiedBlocks_[child.index]
                  ? "satisfied"
              : attempted ? "in progress"
                          : "");
        out += '}';
        self(self, block.children, depth + 1);
        continue;
      }
      const Au& au = course_.aus[child.index];
      Field(out, "id", au.id);
      Field(out, "title", Pick(au.title, language));
      out += ",\"depth\":" + std::to_string(depth);
      out += ",\"launchable\":true";
      Field(out, "status", statusOf(child.index));
      Field(out, "score",
            child.index < records_.size() ? records_[child.index].score
                                          : std::string());
      Field(out, "reason",
            au.relative() ? ""
                          : "Not playable offline: it is at " + au.url +
                                ", on the network");
      out += '}';
    }
  };
  walk(walk, course_.children, 0);
  return out + "]}";
}

std::string CoursePlayer::launch(const std::string& id) {
  if (learner_.empty()) return Answer(false, _("Choose a learner first."));
  const std::optional<std::size_t> found = course_.findAu(id);
  if (!found)
    return Answer(false, Fill(_("The course has no AU %s to play."), {id}));
  const std::size_t index = *found;
  const Au& au = course_.aus[index];
  if (!au.relative())
    return Answer(false, Fill(_("%s cannot play offline: it is at %s, on the "
                                "network."),
                              {Pick(au.title, settings_.language), au.url}));
  endSession();
  const std::string title = Pick(au.title, settings_.language);
  const auto neighbours = [&](std::string& out) {
    Field(out, "title", title.empty() ? au.id : title);
    std::string previous, next;
    for (std::size_t i = index; i-- > 0;)
      if (course_.aus[i].relative()) {
        previous = course_.aus[i].id;
        break;
      }
    for (std::size_t i = index + 1; i < course_.aus.size(); ++i)
      if (course_.aus[i].relative()) {
        next = course_.aus[i].id;
        break;
      }
    Field(out, "previous", previous);
    Field(out, "next", next);
  };
  if (hasFile && !hasFile(au.packagePath)) {
    if (onNote)
      onNote("AU " + id + " cannot start: its page " + au.packagePath +
             " is missing from the package");
    std::string out = "{\"ok\":true";
    Field(out, "missing", au.packagePath);
    neighbours(out);
    return out + "}";
  }

  if (settings_.tinCan) return launchTinCan(index, neighbours);
  Launch launch = LaunchOf(au);
  launch.actor = actor_;
  launch.registration = registration_;
  launch.sessionId = settings_.newId();
  launch.activityId = auIri(index);
  launch.publisherId = au.id;
  launch.mode = settings_.mode;
  const std::string url = au.url.substr(0, au.url.find_first_of("?#"));
  const std::string suffix = au.packageSuffix;
  const std::size_t hash = suffix.find('#');
  const std::string query = suffix.substr(0, hash);
  const std::string fragment =
      hash == std::string::npos ? std::string() : suffix.substr(hash);
  launch.launchUrl = Served(scorm::LaunchUrl(url) + query, settings_.origin);
  launch.returnUrl = Served(kReturnUrl, settings_.origin);

  // The launch data and "launched" are kept before the AU can ask for them.
  xapi::DocumentKey key;
  key.kind = xapi::DocumentKind::kState;
  key.activity = launch.activityId;
  key.agent = xapi::AgentKey(xapi::ParseJson(ActorJson(actor_)).value);
  key.registration = registration_;
  key.id = std::string(kLaunchDataStateId);
  lrs_->writeDocument(key, "application/json", LaunchDataJson(launch));
  record({LaunchedStatement(launch, stamp())});

  const AuOutcome outcome = records_[index].outcome;
  ++records_[index].sessions;
  lrs_->setSession(
      Cmi5Session{launch, SessionState{Phase::kLaunched, 0, outcome}});
  au_ = index;
  playing_ = au.id;
  launchedMs_ = lastMs_ = settings_.nowMs();
  const std::string number = nextLaunch();
  token_ = settings_.newId() + settings_.newId();
  fetched_ = false;
  refusalsSaid_.clear();

  std::string full = launch.launchUrl;
  full += query.empty() ? '?' : '&';
  full += "endpoint=" + xapi::PercentEncode(Served(kEndpoint, settings_.origin));
  full += "&fetch=" +
          xapi::PercentEncode(Served(kFetchUrl, settings_.origin) + number);
  full += "&actor=" + xapi::PercentEncode(ActorJson(actor_));
  full += "&registration=" + xapi::PercentEncode(registration_);
  full += "&activityId=" + xapi::PercentEncode(launch.activityId);
  full += fragment;

  std::string out = "{\"ok\":true";
  Field(out, "launch", number);
  Field(out, "url", full);
  // An AU that asks for a window of its own is its top document there.
  if (au.launchMethod == LaunchMethod::kOwnWindow) out += ",\"window\":true";
  neighbours(out);
  return out + "}";
}

std::string CoursePlayer::launchTinCan(
    std::size_t index, const std::function<void(std::string&)>& neighbours) {
  const Au& au = course_.aus[index];
  lrs_->setSession(std::nullopt);
  tinCanLeft_ = false;
  refusalsSaid_.clear();
  au_ = index;
  playing_ = au.id;
  records_[index].sessions = std::max(records_[index].sessions, 1u);
  const std::string number = nextLaunch();
  token_ = settings_.newId() + settings_.newId();
  const std::string url = au.url.substr(0, au.url.find_first_of("?#"));
  const std::size_t hash = au.packageSuffix.find('#');
  const std::string query = au.packageSuffix.substr(0, hash);
  std::string actor =
      "{\"objectType\":\"Agent\",\"name\":" + JsonString(actor_.name) +
      ",\"account\":{\"homePage\":" + JsonString(actor_.homePage) +
      ",\"name\":" + JsonString(actor_.name) + "}}";
  std::string full = scorm::LaunchUrl(url) + query;
  full += query.empty() ? '?' : '&';
  full += "endpoint=" + xapi::PercentEncode(Served(kEndpoint, settings_.origin));
  full += "&auth=" + xapi::PercentEncode("Basic " + token_);
  full += "&actor=" + xapi::PercentEncode(actor);
  full += "&registration=" + xapi::PercentEncode(registration_);
  full += "&activity_id=" + xapi::PercentEncode(au.id);
  if (hash != std::string::npos) full += au.packageSuffix.substr(hash);
  std::string out = "{\"ok\":true";
  Field(out, "launch", number);
  Field(out, "url", full);
  neighbours(out);
  return out + "}";
}

void CoursePlayer::endSession() {
  if (settings_.tinCan) {
    playing_.clear();
    if (au_) tinCanLeft_ = true;
  }
  if (!au_ || !lrs_ || !lrs_->session()) return;
  Cmi5Session session = *lrs_->session();
  playing_.clear();
  if (session.state.phase == Phase::kTerminated ||
      session.state.phase == Phase::kAbandoned)
    return;
  // Anything the AU still sends in this session is refused from now on.
  session.state.phase = Phase::kAbandoned;
  lrs_->setSession(session);
  try {
    record({AbandonedStatement(session.launch,
                               std::chrono::milliseconds(std::max<std::int64_t>(
                                   0, lastMs_ - launchedMs_)),
                               stamp())});
  } catch (const std::exception& e) {
    // Recorded at the next start, from the statements kept.
    lastProblem_ = e.what();
    if (onProblem) onProblem(e.what());
  }
}

void CoursePlayer::leave() { endSession(); }

void CoursePlayer::noteStatements(const std::string& body) {
  const xapi::JsonParse parse = xapi::ParseJson(body);
  if (!parse.ok() || !au_) return;
  const auto look = [&](const JsonValue& s) {
    const JsonValue* object = s.find("object");
    const std::string* id = object ? Text(object->find("id")) : nullptr;
    if (!id) return;
    // cmi5's outcomes follow its rules (the session's state); a Tin Can
    // package's follow what its content says of its activities.
    if (!settings_.tinCan) {
      if (*id == auIri(*au_)) TakeStatement(s, records_[*au_], false);
      return;
    }
    if (!OfTheRegistration(s, registration_, learnerKey())) return;
    if (const auto au = course_.findAu(*id))
      TakeStatement(s, records_[*au], true);
  };
  if (parse.value.is(JsonType::kArray)) {
    for (const JsonValue& s : parse.value.items) look(s);
  } else {
    look(parse.value);
  }
}

namespace {

xapi::LrsAnswer Refusal(int status, const std::string& why) {
  xapi::LrsAnswer answer;
  answer.status = status;
  answer.headers.emplace_back("Content-Type", "application/json");
  answer.body = "{\"error\":" + JsonString(why) + "}";
  return answer;
}

}  // namespace

std::optional<xapi::LrsAnswer> CoursePlayer::launchRefusal(
    const xapi::LrsRequest& request) const {
  const bool sending = request.path.find("statements") != std::string::npos &&
                       (request.method == "PUT" || request.method == "POST");
  const std::optional<Cmi5Session>& session = lrs_->session();
  const bool ended =
      settings_.tinCan
          ? tinCanLeft_
          : session && (session->state.phase == Phase::kTerminated ||
                        session->state.phase == Phase::kAbandoned);
  // Once its session has ended a launch's token reads and writes nothing.
  // A cmi5 statement still goes on, to be refused by the session's rules
  // (or, a "terminated" sent again, kept once).
  if (ended && !(sending && !settings_.tinCan))
    return Refusal(403, "the session of this launch has ended");
  if (!settings_.tinCan || !sending) return std::nullopt;
  // Tin Can content records for its launch's learner alone: what it sends
  // goes to the course team's LRS with zept's credentials.
  const xapi::JsonParse parse = xapi::ParseJson(request.body);
  if (!parse.ok()) return std::nullopt;  // the LRS says why
  const std::string learner = learnerKey();
  const auto other = [&learner](const JsonValue& s) {
    const JsonValue* actor = s.find("actor");
    return actor && xapi::AgentKey(*actor) != learner;
  };
  bool refused = false;
  if (parse.value.is(JsonType::kArray)) {
    for (const JsonValue& s : parse.value.items) refused |= other(s);
  } else {
    refused = other(parse.value);
  }
  if (refused)
    return Refusal(403,
                   "the actor is not the learner the content was launched "
                   "for");
  return std::nullopt;
}

void CoursePlayer::sayRefusal(const xapi::LrsAnswer& answer) {
  if (!onNote || !au_) return;
  const xapi::JsonParse parse = xapi::ParseJson(answer.body);
  std::string reason = parse.ok() ? Member(parse.value, "error") : "";
  if (reason.empty()) reason = OneLine(answer.body.substr(0, 200));
  // "statement 2: ..." says where in a batch; the rule is what follows.
  if (reason.rfind("statement ", 0) == 0 && reason.find(": ") != reason.npos)
    reason.erase(0, reason.find(": ") + 2);
  if (!refusalsSaid_.insert(std::to_string(answer.status) + reason).second)
    return;
  const char* by = answer.status == 400   ? "not valid xAPI 1.0.3"
                   : answer.status != 403 ? "refused by zept's LRS"
                   : settings_.tinCan     ? "refused by the launch's rules"
                                          : "refused by cmi5's rules for an AU";
  onNote("AU " + course_.aus[*au_].id + " (launch " + launchNumber() +
         "): a statement was " + by + " (HTTP " +
         std::to_string(answer.status) + "): " + reason +
         " (said once per launch)");
}

xapi::LrsAnswer CoursePlayer::lrs(const xapi::LrsRequest& asked) {
  // The alternate request syntax carries its credentials in its form.
  const xapi::LrsRequest request = xapi::PlainRequest(asked);
  const auto refuse = Refusal;
  if (request.path.rfind("fetch/", 0) == 0) {
    if (request.method != "POST")
      return refuse(405, "the fetch URL is POSTed to");
    xapi::LrsAnswer answer;
    answer.headers.emplace_back("Content-Type", "application/json");
    if (request.path.substr(6) != launchNumber() || !au_) {
      answer.body =
          "{\"error-code\":\"2\",\"error-text\":\"this launch has ended\"}";
    } else if (fetched_) {
      answer.body =
          "{\"error-code\":\"1\",\"error-text\":\"the token of this launch "
          "was fetched already\"}";
    } else {
      fetched_ = true;
      answer.body = "{\"auth-token\":" + JsonString(token_) + "}";
    }
    return answer;
  }
  if (!lrs_ || token_.empty()) return refuse(401, "no AU has been launched");
  bool authorized = false;
  for (const auto& [name, value] : request.headers)
    if (AsciiLower(name) == "authorization" && value == "Basic " + token_)
      authorized = true;
  if (!authorized) return refuse(401, "not this launch's credentials");
  const bool sending = request.path.find("statements") != std::string::npos &&
                       (request.method == "PUT" || request.method == "POST");
  if (std::optional<xapi::LrsAnswer> refused = launchRefusal(request)) {
    if (sending) sayRefusal(*refused);
    return *refused;
  }
  const std::optional<Cmi5Session> before = lrs_->session();
  xapi::LrsAnswer answer = lrs_->handle(request);
  // A bound the LRS keeps says itself; the launch's rules are said here.
  if (!answer.journal.empty() && onNote) onNote(answer.journal);
  if (sending && answer.status >= 400 && answer.journal.empty())
    sayRefusal(answer);
  const bool taken = answer.status < 300 && sending;
  // The sender takes them on while the learner plays.
  if (taken && onStatements) onStatements();
  if (settings_.tinCan) {
    if (taken) noteStatements(request.body);
    return answer;
  }
  const std::optional<Cmi5Session>& after = lrs_->session();
  if (answer.status >= 300 || !au_ || !after || !before) return answer;
  if (taken) {
    lastMs_ = settings_.nowMs();
    noteStatements(request.body);
  }
  AuRecord& record = records_[*au_];
  try {
    if (after->state.outcome != record.outcome) {
      record.outcome = after->state.outcome;
      satisfy(after->launch.sessionId);
    }
  } catch (const std::exception& e) {
    // The next start says it from the statements kept.
    lastProblem_ = e.what();
    if (onProblem) onProblem(e.what());
  }
  if (before->state.phase != Phase::kTerminated &&
      after->state.phase == Phase::kTerminated) {
    playing_.clear();
    if (onEnded) onEnded(launchNumber());
  }
  return answer;
}

std::string CoursePlayer::resultsReport() {
  const auto row = [](const std::string& title, int depth, std::string status,
                      const std::string& score) {
    if (!status.empty()) status = scorm::StatusName(status);
    return "<tr><td width=\"320\" border=\"1\"><s>" +
           std::string(static_cast<std::size_t>(depth) * 4, ' ') +
           scorm::ReportText(title) + "</s></td><td border=\"1\"><s>" +
           scorm::ReportText(status) +
           "</s></td><td width=\"60\" border=\"1\" align=\"right\"><s>" +
           scorm::ReportText(score) + "</s></td></tr>\n";
  };
  const std::string title = Pick(course_.title, settings_.language);
  std::string xml =
      scorm::ReportHead(title, learner_) +
      "<tr><td width=\"320\" border=\"1\"><s>" + scorm::ReportText(_("ITEM")) +
      "</s></td><td border=\"1\"><s>" + scorm::ReportText(_("STATUS")) +
      "</s></td><td width=\"60\" border=\"1\" align=\"right\"><s>" +
      scorm::ReportText(_("SCORE")) + "</s></td></tr>\n";
  // The rows the menu shows, in its order.
  const xapi::JsonParse menu = xapi::ParseJson(this->menu());
  xml += row(title, 0, Member(menu.value, "courseStatus"), "");
  if (const JsonValue* items = menu.value.find("items")) {
    for (const JsonValue& item : items->items) {
      const JsonValue* depth = item.find("depth");
      xml += row(Member(item, "title"),
                 1 + static_cast<int>(depth ? depth->number().value_or(0) : 0),
                 Member(item, "status"), Member(item, "score"));
    }
  }
  return xml + scorm::kReportTail;
}

}  // namespace zept::cmi5

namespace zept::cmi5 {

scorm::Manifest StoreIdentity(const Course& course, bool tinCan) {
  scorm::Manifest manifest;
  manifest.identifier = course.id;
  manifest.organization = tinCan ? "tincan" : "cmi5";
  manifest.title = Pick(course.title, "en-US");
  for (const Au& au : course.aus) {
    scorm::Item item;
    item.identifier = au.id;
    item.title = Pick(au.title, "en-US");
    item.launch = au.relative() ? au.url : std::string();
    manifest.items.push_back(std::move(item));
  }
  return manifest;
}

std::string ResultsJson(const Course& course, scorm::ProgressStore& store,
                        const std::string& learner, bool tinCan) {
  const std::vector<std::string> logins =
      scorm::ResultsLearners(store, learner, "course");
  const auto flag = [](scorm::JsonWriter& json, const char* name, bool on) {
    json.key(name);
    json.raw(on ? "true" : "false");
  };
  scorm::JsonWriter json;
  json.open('{');
  json.key("course");
  json.open('{');
  json.key("identifier");
  json.string(course.id);
  json.key("title");
  json.string(Pick(course.title, "en-US"));
  json.key("kind");
  json.string(tinCan ? "tincan" : "cmi5");
  json.close('}');
  json.key("learners");
  json.open('[');
  for (const std::string& login : logins) {
    // A learner who never played has no registration yet (and this store
    // is only read).
    std::string registration;
    try {
      registration = store.registration(login);
    } catch (const std::exception&) {
    }
    const std::unique_ptr<xapi::LrsStore> lrs = store.lrs(login);
    json.open('{');
    json.key("login");
    json.string(login);
    json.key("registration");
    json.string(registration);
    json.key("pending_statements");
    json.number(store.pendingStatements(login));
    if (tinCan) {
      const std::vector<std::string> kept = lrs->statements({});
      json.key("statements");
      json.number(kept.size());
      // The bookmark is the content's state document, kept under the actor
      // its statements name.
      bool bookmark = false;
      if (!kept.empty()) {
        const xapi::JsonParse first = xapi::ParseJson(kept.front());
        if (const JsonValue* actor =
                first.ok() ? first.value.find("actor") : nullptr) {
          xapi::DocumentKey key;
          key.activity = course.id;
          key.agent = xapi::AgentKey(*actor);
          key.registration = registration;
          bookmark = !lrs->documentIds(key, std::nullopt).empty();
        }
      }
      flag(json, "bookmark", bookmark);
      json.close('}');
      continue;
    }
    const RegistrationRecord record =
        registration.empty()
            ? RegistrationRecord{std::vector<AuRecord>(course.aus.size()),
                                 std::vector<bool>(course.blocks.size()),
                                 false,
                                 {}}
            : ReadRegistration(course, *lrs, registration);
    std::vector<AuOutcome> outcomes;
    for (const AuRecord& au : record.aus) outcomes.push_back(au.outcome);
    const Satisfaction satisfaction = Evaluate(course, outcomes);
    flag(json, "satisfied", record.satisfiedCourse);
    json.key("blocks");
    json.open('[');
    for (std::size_t i = 0; i < course.blocks.size(); ++i) {
      json.open('{');
      json.key("id");
      json.string(course.blocks[i].id);
      json.key("title");
      json.string(Pick(course.blocks[i].title, "en-US"));
      flag(json, "satisfied", record.satisfiedBlocks[i]);
      json.close('}');
    }
    json.close(']');
    json.key("aus");
    json.open('[');
    for (std::size_t i = 0; i < course.aus.size(); ++i) {
      const AuRecord& au = record.aus[i];
      json.open('{');
      json.key("id");
      json.string(course.aus[i].id);
      json.key("title");
      json.string(Pick(course.aus[i].title, "en-US"));
      flag(json, "satisfied", satisfaction.aus[i]);
      flag(json, "completed", au.outcome.completed);
      flag(json, "passed", au.outcome.passed);
      flag(json, "failed", au.outcome.failed);
      flag(json, "waived", au.outcome.waived);
      json.key("score");
      json.string(au.score);
      json.key("sessions");
      json.number(au.sessions);
      json.close('}');
    }
    json.close(']');
    json.close('}');
  }
  json.close(']');
  json.close('}');
  return json.take();
}

}  // namespace zept::cmi5
