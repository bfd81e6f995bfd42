#include <algorithm>
#include <exception>
#include <utility>

#include "scorm/player.h"
#include "util/utf8.h"
#include "util/i18n.h"

namespace zept::scorm {

std::string StartAnswer(const std::string& title, const std::string& version,
                        const std::vector<std::string>& learners,
                        const std::string& learner, const std::string& item,
                        const std::vector<std::string>& problems) {
  std::string out = "{\"title\":" + JsonString(title);
  // The version tells the page which API to offer and which screens to show.
  if (!version.empty()) out += ",\"version\":" + JsonString(version);
  out += ",\"learners\":[";
  bool first = true;
  for (const std::string& login : learners) {
    if (!first) out += ',';
    first = false;
    out += JsonString(login);
  }
  out += "],\"learner\":" + JsonString(learner);
  out += ",\"item\":" + JsonString(item);
  out += ",\"problems\":[";
  first = true;
  for (const std::string& line : problems) {
    if (!first) out += ',';
    first = false;
    out += JsonString(line);
  }
  return out + "]}";
}

SessionPlayer::SessionPlayer(ProgressStore& store, PlayerOptions options,
                             const std::string& title,
                             const std::vector<std::string>& problems,
                             const ApiVersion& api, std::string noun,
                             std::string version)
    : store_(store),
      options_(std::move(options)),
      api_(api),
      title_(title),
      problems_(problems),
      noun_(std::move(noun)),
      version_(std::move(version)) {}

std::string SessionPlayer::handle(const std::vector<std::string>& message) {
  if (message.empty()) return "";
  const std::string& kind = message[0];
  try {
    if (kind == "api" || kind == "api-too-large") return api(message);
    if (kind == "start") return start();
    if (kind == "login" && message.size() >= 2) return login(message[1]);
    if (kind == "menu") return menu();
    return other(message);
  } catch (const std::exception& e) {
    if (onProblem) onProblem(e.what());
    return Answer(false, e.what());
  }
}

std::optional<std::string> SessionPlayer::answerEnded(
    const std::vector<std::string>&, const std::string&,
    const std::vector<std::string>&) {
  return std::nullopt;
}

std::string SessionPlayer::api(const std::vector<std::string>& message) {
  const std::string function = message.size() >= 3 ? message[2] : "";
  const std::vector<std::string> arguments(
      message.begin() + std::min<std::size_t>(3, message.size()),
      message.end());
  const std::string launch = std::to_string(launches_);
  const bool current =
      sessionRunning() && message.size() >= 3 && message[1] == launch;
  if (!current) {
    if (std::optional<std::string> answer =
            answerEnded(message, function, arguments))
      return *answer;
    const bool earlier =
        message.size() >= 3 && !message[1].empty() && message[1] != launch;
    // Said once per launch: a window calling in a loop does not fill the
    // journal.
    if (earlier && onNote && refusedLaunch_ != message[1]) {
      refusedLaunch_ = message[1];
      onNote("A call of " + function.substr(0, 40) +
             " through the API of an earlier launch was refused: it does not "
             "reach the " +
             noun_ + " playing now");
    }
    return AnswerOutsideSession(
        api_, function, arguments,
        earlier ? "this API belongs to a launch that has ended"
                : "no " + noun_ + " of the course is playing");
  }
  if (message[0] == "api-too-large") {
    refuse(function == api_.names[kSetValue] ? api_.badValue : 201, function,
           "the call was too large for zept to take");
    return "false";
  }
  return call(function, arguments);
}

std::string SessionPlayer::start() {
  const std::string answer =
      StartAnswer(title_, version_, store_.learners(), options_.learner,
                  options_.item, problems_);
  // Launched once: a page started again (its process ended) shows the menu.
  options_.item.clear();
  return answer;
}

std::string SessionPlayer::login(const std::string& name) {
  const std::optional<std::string> clean = CleanLogin(name);
  if (!clean)
    return Answer(false,
                  _("Type the learner's name (at most 255 characters, on one "
                    "line)."));
  if (*clean != learner_) {
    // The learner before is stored while their lock is still held, and
    // keeps it (and their values) until that has worked.
    leave();
    if (unstored())
      return Answer(false,
                    Fill(_("The progress of %s could not be saved (%s). It is "
                           "kept; try again once it can be saved."),
                         {learner_, lastProblem_}));
    std::string why;
    if (onTakeLearner && !onTakeLearner(*clean, why)) return Answer(false, why);
    store_.addLearner(*clean);
    learner_ = *clean;
    learnerTaken();
  }
  return "{\"ok\":true,\"learner\":" + JsonString(learner_) + "}";
}

std::string SessionPlayer::Answer(bool ok, const std::string& message) {
  return std::string(ok ? "{\"ok\":true" : "{\"ok\":false") +
         ",\"message\":" + JsonString(message) + "}";
}

std::string SessionPlayer::unsavedAnswer() const {
  return Answer(false,
                Fill(_("What you did in this course could not be saved (%s). "
                       "It is kept; try again once it can be saved."),
                     {lastProblem_}));
}

bool SessionPlayer::storeOpen() {
  if (!unstored()) return true;
  try {
    storeSession();
    lastProblem_.clear();
    statementsStored();
    return true;
  } catch (const std::exception& e) {
    storeFailed(e);
    return false;
  }
}

void SessionPlayer::storeFailed(const std::exception& e) {
  lastProblem_ = e.what();
  if (onProblem) onProblem(lastProblem_);
}

bool SessionPlayer::retryStore() const {
  return onRetryStore && onRetryStore(lastProblem_);
}

std::string SessionPlayer::nextLaunch() { return std::to_string(++launches_); }

void SessionPlayer::captureSession(
    const std::string& courseIdentifier, const std::string& courseTitle,
    const std::string& identifier, const std::string& title,
    xapi::DataModel model, const std::string& attempt, const Values& atLaunch) {
  xapi::SessionContext context;
  context.login = learner_;
  context.homePage = options_.lrs->homePage;
  context.registration = store_.registration(learner_);
  context.course = {xapi::CourseIri(options_.lrs->activityBase,
                                    courseIdentifier, options_.place),
                    courseTitle};
  context.item = {xapi::ItemIri(context.course.id, identifier),
                  title.empty() ? identifier : title};
  context.model = model;
  context.attempt = attempt;
  context.atLaunch = atLaunch;
  statements_ = std::make_unique<xapi::SessionStatements>(std::move(context));
}

void SessionPlayer::captureCall(const std::string& function,
                                const std::vector<std::string>& arguments,
                                const std::string& entry) {
  if (!statements_) return;
  if (function == api_.names[kInitialize] && !begun_) {
    begun_ = true;
    statements_->initialized(entry);
  } else if (function == api_.names[kSetValue] && arguments.size() >= 2) {
    statements_->valueSet(arguments[0], arguments[1]);
  }
}

void SessionPlayer::captureStatements(const Values& values, bool ended) {
  if (!statements_ || !begun_) return;
  if (ended)
    statements_->terminated(values);
  else
    statements_->storing(values);
  for (xapi::Statement& statement : statements_->take())
    captured_.push_back(std::move(statement));
}

void SessionPlayer::statementsStored() {
  if (captured_.empty()) return;
  captured_.clear();
  if (onStatements) onStatements();
}

}  // namespace zept::scorm
