#include "store/shell_results.h"

#include <utility>

#include "platform/codepage.h"
#include "util/sha256.h"

namespace zept::scorm {

std::string ShellStoreKey(const WideString& trackingId) {
  return "shell-" + Sha256Hex(WideToUtf8(trackingId));
}

ShellResults::ShellResults(std::string dataFolder, xapi::LrsConfig config,
                           std::function<void(const std::string&)> problem,
                           std::function<void(const std::string&)> onStatements)
    : dataFolder_(std::move(dataFolder)),
      config_(std::move(config)),
      problem_(std::move(problem)),
      onStatements_(std::move(onStatements)) {}

ShellResults::~ShellResults() = default;

void ShellResults::report(const std::exception& e) {
  const std::string line =
      std::string("Results of this course are not kept for the LRS: ") +
      e.what();
  // A store that keeps failing says so once, not at every value.
  if (line == lastProblem_) return;
  lastProblem_ = line;
  if (problem_) problem_(line);
}

ProgressStore* ShellResults::store(TLMSAPI& api) {
  if (api.TrackingId.empty()) return nullptr;
  if (store_ && storeFor_ == api.TrackingId) return store_.get();
  store_.reset();
  const std::string path =
      StorePath(dataFolder_, ShellStoreKey(api.TrackingId));
  try {
    auto opened = std::make_unique<ProgressStore>(path);
    const WideString& title =
        api.Parcours.Title.empty() ? api.TrackingId : api.Parcours.Title;
    // The place is the tracking id's: a course retitled since keeps it.
    opened->claim(CourseMarks{WideToUtf8(title), {}});
    opened->rememberLrs(config_.endpoint, config_.file);
    store_ = std::move(opened);
    storeFor_ = api.TrackingId;
    path_ = path;
    // What an earlier run left unsent goes now.
    if (store_->pendingStatements() > 0 && onStatements_) onStatements_(path_);
  } catch (const std::exception& e) {
    report(e);
  }
  return store_.get();
}

void ShellResults::loaded(TLMSAPI& api, const Utf8String& stored) {
  sessions_.clear();
  waiting_.clear();
  courseSession_ = 0;
  login_ = WideToUtf8(api.Login);
  place_ = api.StoreLockName();
  storedToken_ = Sha256Hex(stored);
  ProgressStore* s = store(api);
  if (!s) return;
  try {
    // A crash between a commit's steps left these: kept when their values
    // were stored, gone when not.
    if (s->settle(login_, WideToUtf8(place_), *storedToken_) > 0 &&
        onStatements_)
      onStatements_(path_);
  } catch (const std::exception& e) {
    report(e);
  }
}

void ShellResults::initialized(TLMSAPI& api) {
  // A course session never finished ends where the next one begins.
  endSessions(api);
  courseSession_ = api.CurrentSession;
}

void ShellResults::valueSet(TLMSAPI& api, const std::string& element,
                            const WideString& value) {
  const std::string login = WideToUtf8(api.Login);
  if (login.empty()) return;
  if (login != login_) {
    // Another learner without a load: what was captured is not theirs.
    sessions_.clear();
    waiting_.clear();
    login_ = login;
  }
  if (api.CurrentSession != courseSession_) initialized(api);
  auto it = sessions_.find(api.CurrentSCO);
  if (it == sessions_.end()) {
    const TSCO* sco = api.Parcours.GetSCO(api.CurrentSCO - 1);
    ProgressStore* s = store(api);
    if (!sco || !s) return;
    xapi::SessionContext context;
    context.login = login;
    context.homePage = config_.homePage;
    try {
      context.registration = s->registration(login);
    } catch (const std::exception& e) {
      report(e);
      return;
    }
    const WideString& title =
        api.Parcours.Title.empty() ? api.TrackingId : api.Parcours.Title;
    context.course = {
        xapi::CourseIri(config_.activityBase, WideToUtf8(api.TrackingId)),
        WideToUtf8(title)};
    const WideString id = sco->Identifier.empty()
                              ? TSCO::FolderName(api.CurrentSCO)
                              : sco->Identifier;
    context.item = {xapi::ItemIri(context.course.id, WideToUtf8(id)),
                    WideToUtf8(sco->Title)};
    // The shell's SCOs never suspend: every session is an attempt of its
    // own, which begins with the values the last course session left.
    context.attempt = xapi::NewUuid();
    context.atLaunch = valuesOf(api, courseSession_ - 1, api.CurrentSCO, false);
    ScoSession session;
    session.statements = std::make_unique<xapi::SessionStatements>(
        std::move(context), newId, now);
    session.statements->initialized("ab-initio");
    it = sessions_.emplace(api.CurrentSCO, std::move(session)).first;
    collect();
  }
  if (element == "cmi.core.score.raw") it->second.scored = true;
  it->second.statements->valueSet(element, WideToUtf8(value));
}

xapi::ElementValues ShellResults::valuesOf(TLMSAPI& api, std::int32_t session,
                                           std::int32_t sco,
                                           bool scored) const {
  xapi::ElementValues values;
  if (session <= 0 || static_cast<std::size_t>(session) > api.Sessions.size())
    return values;
  const TScoTrackingList& records =
      api.Sessions[static_cast<std::size_t>(session) - 1]->SCOTrackings;
  if (sco <= 0 || static_cast<std::size_t>(sco) > records.size()) return values;
  const TSCOTracking& r = records[static_cast<std::size_t>(sco) - 1];
  values["cmi.core.lesson_location"] = WideToUtf8(r.LessonLocation);
  values["cmi.core.lesson_status"] = WideToUtf8(r.LessonStatus);
  values["cmi.core.session_time"] = WideToUtf8(r.SessionTime);
  values["cmi.suspend_data"] = WideToUtf8(r.SuspendData);
  // A record's score starts at "0": it is no score until the SCO sets one.
  if (scored || r.Score != u"0")
    values["cmi.core.score.raw"] = WideToUtf8(r.Score);
  return values;
}

void ShellResults::collect() {
  for (auto& [number, session] : sessions_) {
    for (xapi::Statement& statement : session.statements->take())
      waiting_.push_back(std::move(statement));
  }
}

void ShellResults::endSessions(TLMSAPI& api) {
  for (auto& [number, session] : sessions_) {
    session.statements->terminated(
        valuesOf(api, courseSession_, number, session.scored));
  }
  collect();
  sessions_.clear();
  courseSession_ = 0;
}

void ShellResults::committing(TLMSAPI& api, const Utf8String& document) {
  staged_ = false;
  committing_ = Sha256Hex(document);
  for (auto& [number, session] : sessions_) {
    session.statements->storing(
        valuesOf(api, courseSession_, number, session.scored));
  }
  collect();
  if (waiting_.empty()) return;
  ProgressStore* s = store(api);
  if (!s) return;
  try {
    s->stage(login_, WideToUtf8(api.StoreLockName()), waiting_, committing_);
    staged_ = true;
  } catch (const std::exception& e) {
    // They wait, and are staged with the next store of their values.
    report(e);
  }
}

void ShellResults::committed(TLMSAPI& api, bool stored) {
  const std::string token = std::exchange(committing_, std::string());
  if (token.empty()) return;
  if (stored) {
    place_ = api.StoreLockName();
    storedToken_ = token;
  }
  if (!storedToken_ || place_ != api.StoreLockName() || waiting_.empty())
    return;
  settle(api, token);
}

void ShellResults::settle(TLMSAPI& api, const std::string& token) {
  ProgressStore* s = store(api);
  if (!s) return;
  try {
    const std::size_t ready =
        s->settle(login_, WideToUtf8(place_), *storedToken_);
    // Not stored: removed, they wait for the next store of their values.
    if (staged_ && token == *storedToken_) waiting_.clear();
    if (ready > 0 && onStatements_) onStatements_(path_);
  } catch (const std::exception& e) {
    // Still staged: the next commit stages them again with its token, and
    // a load settles them after a crash.
    report(e);
  }
  staged_ = false;
}

void ShellResults::keepIfStored(TLMSAPI& api) {
  if (waiting_.empty() || !storedToken_ || place_ != api.StoreLockName())
    return;
  const std::string token = Sha256Hex(api.BuildTrackingsXmlUtf8());
  // Values not stored yet: the statements wait for their store.
  if (token != *storedToken_) return;
  ProgressStore* s = store(api);
  if (!s) return;
  try {
    s->stage(login_, WideToUtf8(place_), waiting_, token);
    staged_ = true;
  } catch (const std::exception& e) {
    report(e);
    return;
  }
  settle(api, token);
}

void ShellResults::finished(TLMSAPI& api) {
  endSessions(api);
  keepIfStored(api);
}

void ShellResults::end(TLMSAPI& api) { finished(api); }

}  // namespace zept::scorm
