#include "scorm/player.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "package/package.h"
#include "scorm/results.h"
#include "util/utf8.h"
#include "util/i18n.h"

namespace zept::scorm {

namespace {

bool Done(const std::string& status) {
  return status == "completed" || status == "passed";
}

void Field(std::string& out, const char* name, const std::string& value) {
  if (out.back() != '{') out += ',';
  out += JsonString(name);
  out += ':';
  out += JsonString(value);
}

void Flag(std::string& out, const char* name, bool value) {
  if (out.back() != '{') out += ',';
  out += JsonString(name);
  out += value ? ":true" : ":false";
}

// The page's frames load package files by this prefix: an origin of their
// own, apart from zept's screens.
constexpr char kPackageUrl[] = "zept://content/pkg/";

bool IsUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
         c == '~' || c == '/' || c == '%';
}

}  // namespace

// The package path escaped for a URL (the manifest reader has escaped "%",
// "?" and "#" in it already); what follows it (query, fragment) is the
// manifest's own and goes as written.
std::string LaunchUrl(const std::string& launch) {
  const std::size_t cut = launch.find_first_of("?#");
  std::string url = kPackageUrl;
  static const char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < std::min(cut, launch.size()); ++i) {
    const auto c = static_cast<unsigned char>(launch[i]);
    if (IsUnreserved(c)) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  if (cut != std::string::npos) url += launch.substr(cut);
  return url;
}

// A learner's name as given: trimmed, control characters refused.
std::optional<std::string> CleanLogin(const std::string& name) {
  const std::size_t first = name.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  const std::size_t last = name.find_last_not_of(" \t");
  std::string login = name.substr(first, last - first + 1);
  for (unsigned char c : login)
    if (c < 0x20 || c == 0x7f) return std::nullopt;
  if (login.size() > 255) return std::nullopt;
  return login;
}

Player::Player(const Manifest& manifest, ProgressStore& store,
               PlayerOptions options)
    : RuntimePlayer(store, std::move(options), manifest.title,
                    manifest.problems, kScorm12Api, "item"),
      manifest_(manifest),
      launchable_(LaunchableItems(manifest)) {}

Player::~Player() = default;

std::string Player::other(const std::vector<std::string>& message) {
  if (message[0] == "launch" && message.size() >= 2) return launch(message[1]);
  if (message[0] == "left") closeSession();
  return "";
}

std::string Player::call(const std::string& function,
                         const std::vector<std::string>& arguments) {
  std::string value = runtime_->call(function, arguments);
  if (value == "true") captureCall(function, arguments, entry_);
  // What LMSCommit and LMSFinish ask for reaches the disk before the SCO is
  // told it did; when it cannot, they fail and the values wait for the next
  // chance (a retry, the periodic store, leaving).
  if ((function == "LMSCommit" || function == "LMSFinish") && value == "true" &&
      !storeOpen()) {
    runtime_->refuse(101, function,
                     function + " could not store the values: " + lastProblem_);
    return "false";
  }
  return value;
}

const Item* Player::find(const std::string& identifier) const {
  for (const Item* item : launchable_)
    if (item->identifier == identifier) return item;
  return nullptr;
}

namespace {

// A folder of the tree by identifier, first in tree order.
const Item* FindFolder(const std::vector<Item>& items,
                       const std::string& identifier) {
  for (const Item& item : items) {
    if (item.launch.empty() && !item.children.empty() &&
        item.identifier == identifier)
      return &item;
    if (const Item* found = FindFolder(item.children, identifier)) return found;
  }
  return nullptr;
}

}  // namespace

std::string Player::status(const std::string& identifier) {
  if (learner_.empty()) return "not attempted";
  if (const Item* item = find(identifier)) return statusOf(*item);
  if (const Item* folder = FindFolder(manifest_.items, identifier)) {
    // A folder stands for what is under it: done when all of it is done,
    // started when any of it is.
    bool all = true, any = false;
    std::function<void(const std::vector<Item>&)> walk =
        [&](const std::vector<Item>& items) {
          for (const Item& item : items) {
            if (!item.launch.empty()) {
              const std::string s = statusOf(item);
              all = all && Done(s);
              any = any || s != "not attempted";
            }
            walk(item.children);
          }
        };
    walk(folder->children);
    return all ? "completed" : any ? "incomplete" : "not attempted";
  }
  return "not attempted";
}

std::string Player::statusOf(const Item& item) {
  const std::string& identifier = item.identifier;
  if (runtime_ && identifier == playing_) {
    const Values now = NextLaunchValues(
        runtime_->toStore(), ContextFor(learner_, item, options_.mode));
    if (auto it = now.find("cmi.core.lesson_status"); it != now.end())
      return it->second;
  }
  const Values values =
      NextLaunchValues(store_.load(learner_, identifier),
                       ContextFor(learner_, item, options_.mode));
  const auto it = values.find("cmi.core.lesson_status");
  return it == values.end() || it->second.empty() ? "not attempted"
                                                  : it->second;
}

const Prerequisites& Player::prerequisitesOf(const Item& item) {
  auto it = prerequisites_.find(item.identifier);
  if (it != prerequisites_.end()) return it->second;
  Prerequisites parsed;
  if (!item.prerequisites.empty()) {
    try {
      parsed = Prerequisites::Parse(item.prerequisites);
    } catch (const std::exception& e) {
      // The item stays playable: a prerequisite nobody can read holds
      // nobody back.
      const std::string line = "line " + std::to_string(item.line) +
                               ": the prerequisites of item " +
                               item.identifier + " do not parse (" + e.what() +
                               "); they are ignored";
      badPrerequisites_[item.identifier] = line;
      if (onNote) onNote(line);
    }
  }
  return prerequisites_.emplace(item.identifier, std::move(parsed))
      .first->second;
}

std::string Player::heldBackBy(const Item& item) {
  const Prerequisites& rule = prerequisitesOf(item);
  if (rule.met([this](const std::string& id) { return status(id); })) return "";
  std::string names;
  for (const std::string& id : rule.identifiers()) {
    if (Done(status(id))) continue;
    const Item* other = find(id);
    if (!other) other = FindFolder(manifest_.items, id);
    if (!names.empty()) names += ", ";
    names += other && !other->title.empty() ? other->title : id;
  }
  return _("First complete: ") + (names.empty() ? item.prerequisites : names);
}

std::string Player::continueItem() {
  for (const Item* item : launchable_) {
    const Values values =
        NextLaunchValues(store_.load(learner_, item->identifier),
                         ContextFor(learner_, *item, options_.mode));
    const auto entry = values.find("cmi.core.entry");
    if (entry != values.end() && entry->second == "resume" &&
        heldBackBy(*item).empty())
      return item->identifier;
  }
  for (const Item* item : launchable_)
    if (!Done(status(item->identifier)) && heldBackBy(*item).empty())
      return item->identifier;
  return launchable_.empty() ? "" : launchable_.front()->identifier;
}

std::string Player::menu() {
  std::string out = "{";
  Field(out, "title", manifest_.title);
  Field(out, "learner", learner_);
  Field(out, "continue", learner_.empty() ? "" : continueItem());
  Field(out, "note", resultsNote_);
  out += ",\"items\":[";
  bool first = true;
  std::function<void(const std::vector<Item>&, int)> walk =
      [&](const std::vector<Item>& items, int depth) {
        for (const Item& item : items) {
          if (!item.visible) continue;
          if (!first) out += ',';
          first = false;
          out += '{';
          Field(out, "id", item.identifier);
          Field(out, "title",
                item.title.empty() ? item.identifier : item.title);
          out += ",\"depth\":" + std::to_string(depth);
          const bool launchable = !item.launch.empty();
          Flag(out, "launchable", launchable);
          if (launchable) {
            const Values values =
                NextLaunchValues(store_.load(learner_, item.identifier),
                                 ContextFor(learner_, item, options_.mode));
            const auto value = [&values](const char* name) {
              const auto it = values.find(name);
              return it == values.end() ? std::string() : it->second;
            };
            Field(out, "status", status(item.identifier));
            Field(out, "score",
                  ScoreText(value("cmi.core.score.raw"),
                            value("cmi.core.score.max")));
            Field(out, "reason", heldBackBy(item));
          }
          out += '}';
          walk(item.children, depth + 1);
        }
      };
  walk(manifest_.items, 0);
  return out + "]}";
}

std::string Player::launch(const std::string& identifier) {
  if (learner_.empty()) return Answer(false, _("Choose a learner first."));
  const Item* item = find(identifier);
  if (!item)
    return Answer(false,
                  Fill(_("The course has no item %s to play."), {identifier}));
  if (const std::string reason = heldBackBy(*item); !reason.empty()) {
    if (onNote) onNote("Item " + identifier + " is held back: " + reason);
    return Answer(false, reason);
  }
  closeSession();
  if (runtime_) return unsavedAnswer();
  const auto at = std::find(launchable_.begin(), launchable_.end(), item);
  const auto neighbours = [&](std::string& out) {
    Field(out, "title", item->title.empty() ? item->identifier : item->title);
    Field(out, "previous",
          at == launchable_.begin() ? "" : (*(at - 1))->identifier);
    Field(out, "next",
          at + 1 == launchable_.end() ? "" : (*(at + 1))->identifier);
  };
  // An item whose page is not there gets no session: nothing it cannot
  // show is attempted or, for an asset, completed.
  const std::optional<std::string> file =
      PackagePath("", item->launch.substr(0, item->launch.find_first_of("?#")));
  if (hasFile && file && !hasFile(*file)) {
    if (onNote)
      onNote("Item " + identifier + " cannot start: its launch page " + *file +
             " is missing from the package");
    std::string out = "{\"ok\":true";
    Field(out, "missing", *file);
    neighbours(out);
    return out + "}";
  }
  RuntimeOptions options;
  options.strict = options_.strict;
  Values stored = store_.load(learner_, identifier);
  const bool capturing = options_.lrs && item->isSco;
  Values next;
  const auto nextValue = [&next](const char* element) {
    const auto it = next.find(element);
    return it == next.end() ? std::string() : it->second;
  };
  if (capturing) {
    next = NextLaunchValues(stored, ContextFor(learner_, *item, options_.mode));
    // An attempt goes on while it is resumed or not yet done; a session
    // after its completion begins the next one.
    const std::string status = nextValue("cmi.core.lesson_status");
    std::string& attempt = stored[xapi::kAttemptIdKey];
    if (attempt.empty() ||
        (nextValue("cmi.core.entry") != "resume" && status != "incomplete" &&
         status != "not attempted"))
      attempt = xapi::NewUuid();
  }
  runtime_ = std::make_unique<Runtime>(
      ContextFor(learner_, *item, options_.mode), stored, options);
  runtime_->onLeniency = [this, title = item->title](const std::string& line) {
    if (onNote) onNote(title + ": " + line);
  };
  playing_ = identifier;
  statements_.reset();
  begun_ = false;
  if (capturing) {
    captureSession(manifest_.identifier, manifest_.title, identifier,
                   item->title, xapi::DataModel::kScorm12,
                   stored[xapi::kAttemptIdKey], runtime_->toStore());
    entry_ = nextValue("cmi.core.entry");
  }
  const std::string number = nextLaunch();
  // An asset says nothing to the runtime: being opened is all it asks.
  if (!item->isSco) {
    Values values = store_.load(learner_, identifier);
    std::string& status = values["cmi.core.lesson_status"];
    if (status.empty() || status == "not attempted") {
      status = "completed";
      store_.save(learner_, identifier, values);
    }
  }
  std::string out = "{\"ok\":true";
  Field(out, "url", LaunchUrl(item->launch));
  neighbours(out);
  out += ",\"launch\":" + JsonString(number);
  out += ",\"values\":{";
  bool first = true;
  for (const auto& [name, value] :
       NextLaunchValues(store_.load(learner_, identifier),
                        ContextFor(learner_, *item, options_.mode))) {
    // What LMSGetValue gives: the write-only values of the last session and
    // zept's own keys are not among them.
    if (!name.starts_with("cmi.") || name == "cmi.core.exit" ||
        name == "cmi.core.session_time" ||
        name.starts_with("cmi.interactions."))
      continue;
    if (!first) out += ',';
    first = false;
    out += JsonString(name) + ":" + JsonString(value);
  }
  return out + "}}";
}

void Player::storeSession() {
  const Values values = runtime_->toStore();
  captureStatements(values, runtime_->state() == Runtime::State::kFinished);
  store_.save(learner_, playing_, values, captured_);
  runtime_->markStored();
}

void Player::closeSession() {
  if (!runtime_) return;
  runtime_->end();
  while (!storeOpen() && retryStore()) {
  }
  if (options_.strict && onSessionSummary) {
    const Item* item = find(playing_);
    onSessionSummary(item ? item->title : playing_,
                     runtime_->conformanceSummary());
  }
  // Kept while the store failed, so that a later store can still save it.
  if (!runtime_->unstored()) {
    runtime_.reset();
    playing_.clear();
  }
}

void Player::leave() { closeSession(); }

namespace {

}  // namespace

std::string Player::resultsReport() {
  storeOpen();
  std::string xml =
      ReportHead(manifest_.title, learner_) +
      "<tr><td width=\"260\" border=\"1\"><s>" + ReportText(_("ITEM")) +
      "</s></td><td border=\"1\"><s>" + ReportText(_("STATUS")) +
      "</s></td><td width=\"60\" border=\"1\" align=\"right\"><s>" +
      ReportText(_("SCORE")) +
      "</s></td><td width=\"90\" border=\"1\" align=\"right\"><s>" +
      ReportText(_("TIME")) + "</s></td></tr>\n";
  for (const Item* item : launchable_) {
    Values values =
        NextLaunchValues(store_.load(learner_, item->identifier),
                         ContextFor(learner_, *item, options_.mode));
    const auto value = [&values](const char* name) {
      const auto it = values.find(name);
      return it == values.end() ? std::string() : it->second;
    };
    const std::string status = StatusName(value("cmi.core.lesson_status"));
    xml += "<tr><td width=\"260\" border=\"1\"><s>" +
           ReportText(item->title.empty() ? item->identifier : item->title) +
           "</s></td><td border=\"1\"><s>" + ReportText(status) +
           "</s></td><td width=\"60\" border=\"1\" align=\"right\"><s>" +
           ReportText(ScoreText(value("cmi.core.score.raw"),
                                value("cmi.core.score.max"))) +
           "</s></td><td width=\"90\" border=\"1\" align=\"right\"><s>" +
           ReportText(value("cmi.core.total_time")) + "</s></td></tr>\n";
  }
  return xml + kReportTail;
}

}  // namespace zept::scorm
