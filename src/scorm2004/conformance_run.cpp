#include "scorm2004/conformance_run.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "scorm2004/global_store.h"
#include "scorm2004/player.h"
#include "scorm2004/sequencing.h"
#include "scorm2004/time_interval.h"
#include "store/progress_store.h"

namespace zept::scorm2004::conformance {

namespace {

namespace fs = std::filesystem;

// The JSON string starting at text[at] (a '"'), unescaped; at moves past it.
std::string ReadJsonString(const std::string& text, std::size_t& at) {
  std::string out;
  for (++at; at < text.size() && text[at] != '"'; ++at) {
    if (text[at] != '\\' || at + 1 >= text.size()) {
      out += text[at];
      continue;
    }
    const char c = text[++at];
    if (c == 'n')
      out += '\n';
    else if (c == 't')
      out += '\t';
    else if (c == 'u' && at + 4 < text.size()) {
      const unsigned code = std::stoul(text.substr(at + 1, 4), nullptr, 16);
      at += 4;
      out += code < 0x80 ? static_cast<char>(code) : '?';
    } else {
      out += c;
    }
  }
  ++at;
  return out;
}

// The value of "name": in json from offset from on: a string unescaped,
// anything else as written ("true"); nullopt when absent.
std::optional<std::string> JsonField(const std::string& json,
                                     const std::string& name,
                                     std::size_t from = 0) {
  const std::string key = "\"" + name + "\":";
  const std::size_t found = json.find(key, from);
  if (found == std::string::npos) return std::nullopt;
  std::size_t at = found + key.size();
  if (at < json.size() && json[at] == '"') return ReadJsonString(json, at);
  std::size_t end = at;
  while (end < json.size() && json[end] != ',' && json[end] != '}') ++end;
  return json.substr(at, end - at);
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

const Activity* FindActivity(const Activity& a, const std::string& id) {
  if (a.identifier == id) return &a;
  for (const Activity& child : a.children)
    if (const Activity* found = FindActivity(child, id)) return found;
  return nullptr;
}

Shown Refused(std::string why) {
  Shown out;
  out.refused = std::move(why);
  return out;
}

class Headless : public Driver {
 public:
  ~Headless() override {
    drop();
    std::error_code ec;
    for (const auto& [id, learner] : learners_)
      fs::remove_all(learner.folder, ec);
  }

  // Fresh package stores; the learner's system globals stay for as long as
  // the driver lives, as they do on a machine.
  void newLearner(const std::string& learnerId) override {
    drop();
    Learner& learner = learners_[learnerId];
    if (learner.folder.empty()) {
      char pattern[] = "/tmp/zept-conformance-XXXXXX";
      if (!::mkdtemp(pattern)) throw std::runtime_error("no temporary folder");
      learner.folder = pattern;
      learner.globals = OpenGlobalStore(learner.folder).store;
    }
    folder_ = learner.folder + "/packages";
    fs::create_directories(folder_);
    globals_ = learner.globals.get();
    learner_ = learnerId;
  }

  Shown open(const std::string& name, const Package2004& package) override {
    close();
    package_ = &package;
    // One store per package, as zept keeps them.
    std::unique_ptr<scorm::ProgressStore>& store = stores_[name];
    if (!store)
      store = std::make_unique<scorm::ProgressStore>(
          folder_ + "/" + std::to_string(stores_.size()) + ".sqlite");
    store_ = store.get();
    PlayerOptions options;
    options.random = SeededRandom(1);
    // The suite checks the formats to the letter.
    options.strict = true;
    options.globals = globals_;
    player_ = std::make_unique<Player>(package, *store_, options);
    player_->handle({"login", learner_});
    tree_ = std::make_unique<ActivityTree>(package.root);
    const std::string menu = player_->handle({"menu"});
    const std::string begin = JsonField(menu, "begin").value_or("");
    if (begin == "resume") return shown(player_->handle({"nav", "resumeAll"}));
    if (begin != "start") return {};
    Shown first = shown(player_->handle({"nav", "start"}));
    if (!first.id.empty()) return first;
    // A course that cannot start by flow but offers one activity only
    // starts with it: there is nothing else to choose.
    const Controls c = controls();
    const TocEntry* only = nullptr;
    int choosable = 0;
    for (std::size_t i = 1; i < c.toc.size(); ++i)
      if (c.toc[i].selectable) ++choosable, only = &c.toc[i];
    if (choosable != 1 || !leaves_.count(only->title)) return first;
    return trigger(UiEvent::kChoice, only->title);
  }

  std::string call(const std::string& function,
                   const std::vector<std::string>& arguments) override {
    std::vector<std::string> message{"api", launch_, function};
    message.insert(message.end(), arguments.begin(), arguments.end());
    return player_ ? player_->handle(message) : "false";
  }

  Shown afterTerminate() override {
    return player_ ? shown(player_->handle({"next"})) : Shown{};
  }

  Shown trigger(UiEvent event, const std::string& title) override {
    if (!player_) return Refused("the player is closed");
    switch (event) {
      case UiEvent::kContinue:
        return shown(player_->handle({"nav", "continue"}));
      case UiEvent::kPrevious:
        return shown(player_->handle({"nav", "previous"}));
      case UiEvent::kExitAll:
        return shown(player_->handle({"nav", "exitAll"}));
      case UiEvent::kSuspendAll:
        return shown(player_->handle({"nav", "suspendAll"}));
      case UiEvent::kChoice:
        break;
    }
    // The root is no entry of the menu: chosen by its title all the same.
    std::string id = Trimmed(title) == Trimmed(package_->root.title)
                         ? package_->root.identifier
                         : "";
    const std::string menu = player_->handle({"menu"});
    for (std::size_t at = menu.find("{\"id\":");
         id.empty() && at != std::string::npos;
         at = menu.find("{\"id\":", at + 1))
      if (Trimmed(JsonField(menu, "title", at).value_or("")) == Trimmed(title))
        id = JsonField(menu, "id", at).value_or("");
    if (id.empty()) return Refused("no entry titled " + title);
    return shown(player_->handle({"nav", "choice", id}));
  }

  Controls controls() override {
    Controls out;
    if (!player_) return out;
    const std::string menu = player_->handle({"menu"});
    const std::string hidden = menu.substr(menu.find("\"hidden\":"));
    const NavigationRequest root{NavigationRequestKind::kChoice,
                                 package_->root.identifier};
    out.toc.push_back(
        {package_->root.title, NavigationRequestValid(*tree_, player_->state(),
                                                      root, SeededRandom(1))});
    out.continueEnabled =
        JsonField(menu, "continue") == "true" &&
        hidden.substr(0, hidden.find(']')).find("\"continue\"") ==
            std::string::npos;
    out.previousEnabled =
        JsonField(menu, "previous") == "true" &&
        hidden.substr(0, hidden.find(']')).find("\"previous\"") ==
            std::string::npos;
    for (std::size_t at = menu.find("{\"id\":"); at != std::string::npos;
         at = menu.find("{\"id\":", at + 1)) {
      const std::string title = JsonField(menu, "title", at).value_or("");
      out.toc.push_back({title, JsonField(menu, "choosable", at) == "true"});
      if (JsonField(menu, "launchable", at) == "true") leaves_.insert(title);
    }
    return out;
  }

  void close() override {
    if (player_) player_->leave();
    player_.reset();
    launch_.clear();
  }

 private:
  Shown shown(const std::string& answer) {
    Shown out;
    if (JsonField(answer, "ok") == "false") {
      out.refused = JsonField(answer, "message").value_or(answer);
      return out;
    }
    out.ended = JsonField(answer, "ended") == "true";
    const std::optional<std::string> id = JsonField(answer, "id");
    if (!id) return out;
    out.id = *id;
    out.title = JsonField(answer, "title").value_or("");
    out.url = JsonField(answer, "url").value_or("");
    launch_ = JsonField(answer, "launch").value_or("");
    const Activity* activity = FindActivity(package_->root, out.id);
    out.sco = activity && activity->isSco;
    return out;
  }

  void drop() {
    close();
    store_ = nullptr;
    stores_.clear();
    if (!folder_.empty()) {
      std::error_code ec;
      fs::remove_all(folder_, ec);
    }
    folder_.clear();
  }

  struct Learner {
    std::string folder;
    std::unique_ptr<GlobalStore> globals;
  };
  std::map<std::string, Learner> learners_;
  GlobalStore* globals_ = nullptr;
  std::string folder_;  // the learner's package stores
  std::string learner_;
  std::map<std::string, std::unique_ptr<scorm::ProgressStore>> stores_;
  scorm::ProgressStore* store_ = nullptr;
  std::unique_ptr<Player> player_;
  const Package2004* package_ = nullptr;
  std::unique_ptr<ActivityTree> tree_;
  std::set<std::string> leaves_;  // titles of the launchable entries
  std::string launch_;
};

// The query parameter name of a launch location ("" when absent).
std::string Parameter(const std::string& url, const std::string& name) {
  const std::size_t q = url.find('?');
  if (q == std::string::npos) return "";
  for (std::size_t at = q + 1; at < url.size();) {
    std::size_t end = url.find_first_of("&#", at);
    if (end == std::string::npos) end = url.size();
    if (url.compare(at, name.size() + 1, name + "=") == 0)
      return url.substr(at + name.size() + 1, end - at - name.size() - 1);
    at = end + 1;
  }
  return "";
}

std::optional<double> Number(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// Values as the data model compares them: reals as numbers, durations as
// durations, lists of children as sets, the rest as written.
bool SameValue(const std::string& element, const std::string& got,
               const std::string& expected) {
  if (got == expected) return true;
  // A _children list names the same elements in any order.
  if (element.ends_with("._children")) {
    const auto sorted = [](const std::string& list) {
      std::vector<std::string> names;
      std::size_t at = 0;
      for (std::size_t comma; (comma = list.find(',', at)) != std::string::npos;
           at = comma + 1)
        names.push_back(list.substr(at, comma - at));
      names.push_back(list.substr(at));
      std::sort(names.begin(), names.end());
      return names;
    };
    return sorted(got) == sorted(expected);
  }
  const std::optional<double> a = Number(got), b = Number(expected);
  if (a && b) return std::fabs(*a - *b) < 1e-7;
  if (!got.empty() && got[0] == 'P') {
    const auto x = ParseTimeInterval(got), y = ParseTimeInterval(expected);
    return x && y && *x == *y;
  }
  return false;
}

// A pattern or response as its type reads it: the leading delimiters in
// one order, those that only state the defaults ({order_matters=true},
// {case_matters=false}, {lang=en}) left out.
std::string WithoutDefaults(const std::string& text) {
  std::vector<std::string> delimiters;
  std::size_t at = 0;
  while (at < text.size() && text[at] == '{') {
    const std::size_t close = text.find('}', at);
    const std::string d = text.substr(at, close - at + 1);
    if (close == std::string::npos ||
        !(d.starts_with("{lang=") || d.starts_with("{case_matters=") ||
          d.starts_with("{order_matters=")))
      break;
    if (d != "{order_matters=true}" && d != "{case_matters=false}" &&
        d != "{lang=en}")
      delimiters.push_back(d);
    at = close + 1;
  }
  std::sort(delimiters.begin(), delimiters.end());
  std::string out;
  for (const std::string& d : delimiters) out += d;
  return out + text.substr(at);
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The page the item launches, by its file name: which test SCO it is.
std::string Page(const std::string& url) {
  const std::string path = url.substr(0, url.find_first_of("?#"));
  return path.substr(path.rfind('/') + 1);
}

// The pages that leave Terminate to their unloading.
bool TerminatesOnUnload(const std::string& page) {
  return page.starts_with("SequencingTestSingleDoTerminate") ||
         page.find("OnUnload") != std::string::npos;
}

class Runner {
 public:
  Runner(const TestCase& tc, const std::string& name,
         const std::vector<RunPackage>& packages, Driver& driver,
         const std::string& learner,
         const std::function<void(const std::string&)>& trace)
      : trace_(trace),
        tc_(tc),
        name_(name),
        packages_(packages),
        driver_(driver),
        learner_(learner) {}

  Outcome run() {
    driver_.newLearner(learner_);
    const RunPackage* first = &packages_.front();
    for (const RunPackage& p : packages_)
      if (p.name == tc_.start) first = &p;
    open(*first);
    if (!tc_.start.empty() && tc_.start != "." && tc_.start != first->name)
      shown_ = driver_.trigger(UiEvent::kChoice, Title(tc_.start));
    for (std::size_t i = 0; i < tc_.visits.size(); ++i) {
      const Visit& v = tc_.visits[i];
      where_ = "Act" + v.activity + "V" + std::to_string(v.number) + " (line " +
               std::to_string(v.line) + ")";
      if (!visit(v, i + 1 == tc_.visits.size())) return {false, failure_};
    }
    if (!shown_.id.empty())
      return {false, "after the last visit " + shown_.id + " was delivered"};
    return {true, ""};
  }

 private:
  void open(const RunPackage& p) {
    note("open " + p.name);
    current_ = &p;
    shown_ = driver_.open(p.name, *p.package);
  }

  bool fail(const std::string& what) {
    failure_ = where_ + ": " + what;
    return false;
  }

  bool visit(const Visit& v, bool last) {
    note("delivered " + (shown_.id.empty() ? "nothing" : shown_.url) +
         (shown_.refused.empty() ? "" : " (" + shown_.refused + ")") +
         (shown_.ended ? " (session ended)" : "") + "; due " + where_);
    if (shown_.id.empty())
      return fail("expected act " + v.activity + ", nothing delivered" +
                  (shown_.refused.empty() ? "" : " (" + shown_.refused + ")") +
                  (shown_.ended ? " (the session ended)" : ""));
    const std::string act = Parameter(shown_.url, "act");
    const std::string tc = Parameter(shown_.url, "tc");
    // Content not written for the runner (a public sample played as it is)
    // carries neither: its visits name the items themselves.
    const bool byItem = act.empty() && tc.empty();
    if (byItem ? shown_.id != v.activity : act != v.activity || tc != name_)
      return fail("expected act " + v.activity + ", got " + shown_.id +
                  " (tc=" + tc + "&act=" + act + ")");
    if (!questions(v)) return false;
    terminated_ = false;
    for (const Step& step : v.steps)
      if (!run(step)) return false;
    const std::string page = Page(shown_.url);
    if ((shown_.sco || !v.steps.empty()) && !terminated_ &&
        !TerminatesOnUnload(page)) {
      // One after the other: the error code is the Terminate's.
      const std::string got = driver_.call("Terminate", {""});
      note("  Terminate -> " + Quoted(got) + " " +
           driver_.call("GetLastError", {}));
      terminated_ = true;
    }
    if (terminated_)
      shown_ = driver_.afterTerminate();
    else if (v.instruction.empty())
      return fail("the SCO does not terminate and nothing moves on");
    return instruction(v, last);
  }

  // A title as the tester reads it; the root is named in words.
  std::string Title(const std::string& written) const {
    constexpr std::string_view kRoot =
        "the activity that corresponds to the root";
    return Trimmed(written.starts_with(kRoot) ? current_->package->root.title
                                              : written);
  }

  bool questions(const Visit& v) {
    if (v.questions.empty()) return true;
    const Controls c = driver_.controls();
    for (const UiQuestion& q : v.questions) {
      bool answer = false;
      const TocEntry* entry = nullptr;
      for (const TocEntry& e : c.toc)
        if (Trimmed(e.title) == Title(q.subject)) entry = &e;
      if (q.key == "continue.enabled")
        answer = c.continueEnabled;
      else if (q.key == "continue.disabled")
        answer = !c.continueEnabled;
      else if (q.key == "previous.enabled")
        answer = c.previousEnabled;
      else if (q.key == "previous.disabled")
        answer = !c.previousEnabled;
      else if (q.key == "toc.enabled") {
        // Something to choose besides what is playing.
        for (const TocEntry& e : c.toc)
          answer = answer || (e.selectable && e.title != shown_.title);
      } else if (q.key == "toc.enabled.selectable")
        answer = entry && entry->selectable;
      else if (q.key == "toc.visible")
        answer = entry != nullptr;
      else if (q.key == "click.button")
        answer = true;  // the tester can always press the player's buttons
      else
        return fail("unknown UI question " + q.key);
      if (answer != q.expected)
        return fail("UI question " + q.key +
                    (q.subject.empty() ? "" : "@" + q.subject) + ": expected " +
                    (q.expected ? "Y" : "N") + ", got " + (answer ? "Y" : "N"));
    }
    return true;
  }

  // The index of the objective (adl.data target) with id lookupId in the
  // collection element names, as the test SCO finds it.
  std::optional<std::string> Resolve(const Step& step) {
    const std::string marker = "&" + step.lookupId + "&";
    const std::size_t at = step.element.find(marker);
    const std::string collection =
        step.element.substr(0, at);  // "cmi.objectives."
    const std::optional<double> count =
        Number(driver_.call("GetValue", {collection + "_count"}));
    for (int n = 0; count && n < *count; ++n)
      if (driver_.call("GetValue", {collection + std::to_string(n) + ".id"}) ==
          step.lookupId) {
        std::string element = step.element;
        element.replace(at, marker.size(), std::to_string(n));
        return element;
      }
    return std::nullopt;
  }

  bool run(const Step& step) {
    const std::string line = "line " + std::to_string(step.line) + ": ";
    std::string element = step.element;
    if (!step.lookupId.empty()) {
      const std::optional<std::string> resolved = Resolve(step);
      if (!resolved)
        return fail(line + "objective " + step.lookupId + " not found");
      element = *resolved;
    }
    std::string got, what;
    switch (step.call) {
      case Call::Initialize:
        what = "Initialize";
        got = driver_.call("Initialize", {step.argument});
        break;
      case Call::Terminate:
        what = "Terminate";
        got = driver_.call("Terminate", {step.argument});
        if (got == "true") terminated_ = true;
        break;
      case Call::Commit:
        what = "Commit";
        got = driver_.call("Commit", {step.argument});
        break;
      case Call::GetValue:
        what = "GetValue(" + element + ")";
        got = driver_.call("GetValue", {element});
        break;
      case Call::SetValue:
        what = "SetValue(" + element + ", " + step.value + ")";
        got = driver_.call("SetValue", {element, step.value});
        break;
      case Call::GetLastError:
        what = "GetLastError";
        got = driver_.call("GetLastError", {});
        break;
      case Call::GetErrorString:
        what = "GetErrorString(" + step.argument + ")";
        got = driver_.call("GetErrorString", {step.argument});
        break;
      case Call::GetDiagnostic:
        what = "GetDiagnostic(" + step.argument + ")";
        got = driver_.call("GetDiagnostic", {step.argument});
        break;
      case Call::CompareObjectiveIds:
        return objectiveIds(step, line);
    }
    const std::string error = driver_.call("GetLastError", {});
    note("  " + line + what + " -> " + Quoted(got) + " " + error);
    bool ok = true;
    switch (step.check) {
      case Check::Equal:
        ok = step.call == Call::GetValue
                 ? SameValue(element, got, step.expected) ||
                       (!step.interactionType.empty() &&
                        WithoutDefaults(got) == WithoutDefaults(step.expected))
                 : got == step.expected;
        break;
      case Check::ErrorOnly:
        break;
      case Check::LearnerId:
        ok = got == learner_;
        break;
      case Check::Lenient:
        return true;
      case Check::RequestValid:
        ok = got == "true" || got == "false" || got == "unknown";
        if (element.find('{') != std::string::npos)
          return ok || fail(line + what + ": got " + Quoted(got));
        break;
      case Check::Shorter255:
        ok = got.size() < 255;
        break;
      case Check::Empty:
        ok = got.empty();
        break;
      case Check::ObjectiveIds:
        break;
    }
    if (ok && error == step.expectedError) return true;
    return fail(line + what + ": expected " + Quoted(step.expected) +
                " error " + step.expectedError + ", got " + Quoted(got) +
                " error " + error);
  }

  bool objectiveIds(const Step& step, const std::string& line) {
    const std::optional<double> count =
        Number(driver_.call("GetValue", {"cmi.objectives._count"}));
    std::vector<std::string> ids;
    for (int n = 0; count && n < *count; ++n)
      ids.push_back(driver_.call(
          "GetValue", {"cmi.objectives." + std::to_string(n) + ".id"}));
    bool ok = ids.size() == step.objectiveIds.size();
    for (const std::string& id : step.objectiveIds)
      ok = ok && std::find(ids.begin(), ids.end(), id) != ids.end();
    if (ok) return true;
    std::string got;
    for (const std::string& id : ids) got += (got.empty() ? "" : ",") + id;
    return fail(line + "objective ids: got " + Quoted(got));
  }

  const RunPackage* package(const std::string& name) {
    for (const RunPackage& p : packages_)
      if (p.name == name) return &p;
    return nullptr;
  }

  // Closes the player and opens name (the package playing when empty),
  // the learner's progress kept.
  bool relaunch(const std::string& name = "") {
    // The tester exits the course (exit all) before logging out; after a
    // suspend all there is nothing left to exit.
    driver_.trigger(UiEvent::kExitAll);
    driver_.close();
    const RunPackage* p = name.empty() ? current_ : package(name);
    if (!p) return fail("no package " + name + " to launch");
    open(*p);
    return true;
  }

  bool ended(const std::string& what) {
    if (!shown_.id.empty())
      return fail(what + ": expected the attempt to end, " + shown_.id +
                  " was delivered");
    return true;
  }

  bool instruction(const Visit& v, bool last) {
    const std::string& cui = v.instruction;
    const std::string arg =
        v.instructionArgs.empty() ? "" : v.instructionArgs[0];
    const auto ui = [&](UiEvent event, const std::string& title = "") {
      shown_ = driver_.trigger(event, title);
      return true;
    };
    if (cui.empty()) return true;
    note("instruction " + cui + (arg.empty() ? "" : " " + arg));
    if (cui == "Continue") return ui(UiEvent::kContinue);
    if (cui == "Previous") return ui(UiEvent::kPrevious);
    if (cui == "Choice") return ui(UiEvent::kChoice, Title(arg));
    if (cui == "ChoiceExit") {
      ui(UiEvent::kChoice, Title(arg));
      return ended(cui);
    }
    if (cui == "TRIGExitAll") {
      ui(UiEvent::kExitAll);
      return ended(cui);
    }
    if (cui == "RootSX4b")
      return ui(UiEvent::kChoice, current_->package->root.title);
    if (cui == "AutoTest" || cui == "HasEnded" || cui == "OKEnd") {
      if (!ended(cui)) return false;
      if (tc_.userInteraction && !shown_.ended && last)
        return fail(cui + ": expected the sequencing session to end");
      return true;
    }
    if (cui == "Exit") {
      if (last) {
        // A SCO that terminates when unloaded is still the one shown.
        if (!shown_.id.empty() && terminated_)
          return fail("Exit: " + shown_.id + " was delivered after the test");
        driver_.close();
        shown_ = Shown{};
        return true;
      }
      return relaunch();
    }
    static const char* const kTitles[][2] = {
        {"APIt1", "API Implementation Test 1"},
        {"APIt2", "API Implementation Test 2"},
        {"DMIt1", "Data Model Implementation Test 1"},
        {"DMIt2", "Data Model Implementation Test 2"},
        {"DMIt3", "Data Model Implementation Test 3"},
        {"DMIt4", "Data Model Implementation Test 4"}};
    for (const auto& [key, title] : kTitles)
      if (cui == key) return ui(UiEvent::kChoice, title);
    if (cui == "ContinueExitCM8") {
      ui(UiEvent::kContinue);
      return ended(cui) && relaunch();
    }
    if (cui == "SuspendCM09ca") {
      ui(UiEvent::kSuspendAll);
      return relaunch();
    }
    if (cui == "ReLaunchDDMa" || cui == "ReLaunchDDMb")
      return relaunch(cui.substr(std::string("ReLaunch").size()));
    if (cui == "exitlaunch" || cui == "autoendrelaunch") return relaunch(arg);
    if (cui == "RelaunchCM10") {
      if (!relaunch()) return false;
      return ui(UiEvent::kChoice, "Activity 4");
    }
    if (cui == "DMBxAct") {
      if (!relaunch()) return false;
      return ui(UiEvent::kChoice, "Data Model Behavior Test 1");
    }
    if (cui.starts_with("Relaunch") || cui == "DMBx" || cui == "ExitCM09ba")
      return relaunch();
    // Our own packages' instruction: the learner closes zept (which
    // suspends the course) and opens it again.
    if (cui == "Reopen") {
      driver_.close();
      open(*current_);
      return true;
    }
    return fail("unknown instruction " + cui);
  }

  void note(const std::string& line) {
    if (trace_) trace_(line);
  }

  const std::function<void(const std::string&)>& trace_;
  const TestCase& tc_;
  const std::string& name_;
  const std::vector<RunPackage>& packages_;
  Driver& driver_;
  const std::string learner_;
  const RunPackage* current_ = nullptr;
  Shown shown_;
  bool terminated_ = false;
  std::string where_ = "start";
  std::string failure_;
};

}  // namespace

std::unique_ptr<Driver> HeadlessDriver() {
  return std::make_unique<Headless>();
}

Outcome Run(const TestCase& testCase, const std::string& testCaseName,
            const std::vector<RunPackage>& packages, Driver& driver,
            const std::string& learnerId,
            const std::function<void(const std::string&)>& trace) {
  if (packages.empty()) return {false, "no package"};
  if (testCase.visits.empty()) return {false, "the test case has no visit"};
  try {
    return Runner(testCase, testCaseName, packages, driver, learnerId, trace)
        .run();
  } catch (const std::exception& e) {
    return {false, std::string("stopped: ") + e.what()};
  }
}

}  // namespace zept::scorm2004::conformance
