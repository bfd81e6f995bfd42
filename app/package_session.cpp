#include "app/package_session.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

#include "cmi5/player.h"
#include "desktop/languages.h"
#include "engine/results_pdf.h"
#include "platform/codepage.h"
#include "platform/posix/posix.h"
#include "scorm/results.h"
#include "scorm2004/player.h"
#include "util/file_io.h"
#include "util/i18n.h"
#include "util/utf8.h"

namespace zept {

namespace {

// How often what a SCO set is stored while it plays, and how long its page
// is given to unload (its handlers calling the API) when the learner leaves.
constexpr guint kStoreEveryMs = 60000;
// How long the end of the program waits for the last statements to go.
constexpr int kFlushMs = 3000;
constexpr gint64 kUnloadMs = 3000;
constexpr int kPageLoadMs = 60000;
// Height of the screen left to a desktop's panels and the window's title.
constexpr int kScreenMargin = 64;
// Refused screen messages said in the journal, per page: a page that sends
// them in a loop does not fill it.
constexpr int kRefusalsSaid = 20;

// Files of a .zip up to this size are inflated at once, on the main loop;
// larger ones are streamed to the page.
constexpr std::uint64_t kInMemoryBytes = 1 << 20;

// A reader of the package as the window's streams read it.
class EntryPieces final : public desktop::EntryPieces {
 public:
  explicit EntryPieces(std::unique_ptr<scorm::EntryReader> reader)
      : reader_(std::move(reader)) {}
  std::uint64_t size() const override { return reader_->size(); }
  std::size_t read(char* buffer, std::size_t n) override {
    return reader_->read(buffer, n);
  }
  bool canSeek() const override { return reader_->canSeek(); }
  void seek(std::uint64_t offset) override { reader_->seek(offset); }

 private:
  std::unique_ptr<scorm::EntryReader> reader_;
};

// Turns the main loop until done() holds or ms have passed.
void PumpUntil(const std::function<bool()>& done, gint64 ms) {
  const gint64 until = g_get_monotonic_time() + ms * 1000;
  // A tick, so that waiting never outlasts the deadline for want of events.
  const guint tick = g_timeout_add(
      20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!done() && g_get_monotonic_time() < until)
    g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
}

// Why a store failed, as the learner can act on it.
std::string StoreFailureReason(const std::string& why,
                               const std::string& folder) {
  const auto has = [&why](const char* part) {
    return why.find(part) != std::string::npos;
  };
  if (has("full") || has("No space"))
    return "there is no space left on the disk that holds " + folder;
  if (has("readonly") || has("read-only") || has("Read-only") ||
      has("unable to open") || has("ermission"))
    return "the folder " + folder + " is not writable";
  return why;
}

// Only under the conformance harness: in every document of the package (an
// AU in the screens' frames or in a window of its own), the first result
// ADL's suite shows (`<pre id="result">`) and its `#abandon` button go to
// the harness by the test SCOs' way, the package origin's /test. The button is
// clicked when the harness answers ["click"].
constexpr char kAuTestScript[] = R"(
(() => {
  if (!location.href.startsWith("zept://content/pkg/")) return;
  const tell = (list) =>
    fetch("zept://content/test", {method: "POST", body: JSON.stringify(list)})
        .then((r) => r.json()).catch(() => null);
  let result = false, abandon = false;
  const look = () => {
    const shown = document.getElementById("result");
    if (shown && !result) {
      result = true;
      tell(["au-result", shown.textContent]);
    }
    const button = document.getElementById("abandon");
    if (button && !abandon) {
      abandon = true;
      tell(["au-abandon", String(button.value)]).then((answer) => {
        if (Array.isArray(answer) && answer[0] === "click") button.click();
      });
    }
  };
  new MutationObserver(look).observe(document.documentElement,
                                     {childList: true, subtree: true});
  look();
})();
)";

}  // namespace

PackageSession::PackageSession(Context& ctx, desktop::MoviePage& page,
                               scorm::PackageFiles& files,
                               const scorm::Manifest& manifest,
                               const scorm2004::Package2004* package2004,
                               scorm::ProgressStore& store, std::string key,
                               const PackageRunOptions& options,
                               std::function<void(const WideString&)> print,
                               const cmi5::Course* course)
    : ctx_(ctx),
      page_(page),
      files_(files),
      manifest_(manifest),
      store_(store),
      key_(std::move(key)),
      options_(options),
      print_(std::move(print)),
      window_(print_),
      dialogs_(&window_),
      views_(window_.gtkWindow()) {
  const scorm::PlayerOptions playerOptions{options.strict, options.learner,
                                           options.item,   options.lrsConfig,
                                           options.place,  options.mode};
  std::string title = manifest.title;
  if (course) {
    cmi5::CoursePlayerOptions options5;
    options5.learner = options.learner;
    options5.item = options.item;
    options5.tinCan = options.tinCan;
    options5.language = desktop::PreferredLanguages().front();
    // The content reaches zept at the origin the window serves it at.
    if (const std::string origin = page.contentOrigin(); !origin.empty())
      options5.origin = origin;
    options5.mode = options.mode == "browse"   ? cmi5::LaunchMode::kBrowse
                    : options.mode == "review" ? cmi5::LaunchMode::kReview
                                               : cmi5::LaunchMode::kNormal;
    if (options.lrsConfig) {
      options5.homePage = options.lrsConfig->homePage;
      options5.courseIri = xapi::CourseIri(options.lrsConfig->activityBase,
                                           course->id, options.place);
    } else {
      options5.courseIri = xapi::CourseIri(cmi5::kDefaultActivityBase,
                                           course->id, options.place);
    }
    auto player = std::make_unique<cmi5::CoursePlayer>(*course, store,
                                                       std::move(options5));
    // The screens learn that the AU terminated from the program only.
    player->onEnded = [this](const std::string& launch) {
      if (test_) test_->send({"session-ended", "terminated"});
      if (!secret_.empty())
        page_.runScript("window.zeptEnded && zeptEnded(" +
                        scorm::JsonString(secret_) + "," +
                        scorm::JsonString(launch) + ")");
    };
    cmi5_ = player.get();
    player_ = std::move(player);
  } else if (package2004) {
    scorm2004::PlayerOptions options2004;
    static_cast<scorm::PlayerOptions&>(options2004) = playerOptions;
    options2004.globals = options.globals;
    // Under the test harness the draws are the headless runner's, so that
    // both deliver the same random selections.
    if (const char* channel = std::getenv("ZEPT_TEST_CHANNEL");
        channel && *channel)
      options2004.random = scorm2004::SeededRandom(1);
    player_ = std::make_unique<scorm2004::Player>(*package2004, store,
                                                  std::move(options2004));
    title = package2004->title;
  } else {
    player_ = std::make_unique<scorm::Player>(manifest, store, playerOptions);
  }
  window_.setCaption(Utf8ToWide(title.empty() ? "zept" : title));
  window_.setSizeable(true);
  const int width = std::min(1024, window_.screenWidth());
  const int height = std::min(768, window_.screenHeight() - kScreenMargin);
  window_.setBounds((window_.screenWidth() - width) / 2,
                    (window_.screenHeight() - height) / 2, width, height);
  // The screens fill the window; the SCO's view lies over their player's
  // area, where they say it is.
  overlay_ = gtk_overlay_new();
  gtk_container_add(GTK_CONTAINER(overlay_), page.widget());
  g_signal_connect(
      overlay_, "get-child-position",
      G_CALLBACK(+[](GtkOverlay*, GtkWidget*, GdkRectangle* where,
                     gpointer self) -> gboolean {
        *where = static_cast<PackageSession*>(self)->contentArea_;
        return TRUE;
      }),
      this);
  gtk_widget_show(overlay_);
  gtk_container_add(GTK_CONTAINER(window_.movieArea()), overlay_);
  views_.connect(WEBKIT_WEB_VIEW(page.widget()));
  // The window's title names the screen or the item, then the course, as
  // the screens' own title does once they have started; the course alone
  // until then.
  g_signal_connect(page.widget(), "notify::title",
                   G_CALLBACK(+[](WebKitWebView* view, GParamSpec*,
                                  gpointer data) {
                     auto& self = *static_cast<PackageSession*>(data);
                     const char* title = webkit_web_view_get_title(view);
                     if (!self.secret_.empty() && title && *title)
                       self.window_.setCaption(Utf8ToWide(title));
                   }),
                   this);
  views_.onNote = [this](const std::string& line) { note(line); };
  page_.onContentView = [this](WebKitWebView* view, bool placed) {
    contentView(view, placed);
  };
  page_.onContentLoaded = [this](long ms) {
    note("Item " + contentItem_ + " has loaded (" + std::to_string(ms) +
         " ms after its launch)");
  };
  page_.onContentSays = [this](const std::vector<std::string>& said) {
    contentSays(said);
  };
  page_.onContentReturned = [this] {
    if (cmi5_) tellContent("returned");
  };
  page_.onContentEnded = [this](const std::string& reason) {
    note("The page's process of item " + player_->playing() + " ended (" +
         reason + "); the learner is back at the menu");
    tellContent("gone");
  };
  if (cmi5_) page_.contentReturnTo = page_.inOrigin(cmi5::kReturnUrl);

  player_->onNote = [this](const std::string& line) { note(line); };
  player_->onProblem = [this](const std::string& message) {
    print_(u"error: " + Utf8ToWide(OneLine(message)));
    WriteTrace(ctx_, u"zept", u"store", Utf8ToWide(OneLine(message)), 1,
               u"Error");
  };
  player_->onTakeLearner = [this](const std::string& login, std::string& why) {
    return takeLearner(login, why);
  };
  player_->onRetryStore = [this](const std::string& why) {
    return retryStore(why);
  };
  player_->hasFile = [this](const std::string& path) {
    return locate(path).has_value();
  };
  player_->onSessionSummary = [this](const std::string& title,
                                     const std::string& summary) {
    summaries_ += "Conformance of " + title + ":\n" + summary;
    if (!summaries_.empty() && summaries_.back() != '\n') summaries_ += '\n';
  };
  page_.onPackageFile = [this](const std::string& asked) {
    return packageFile(asked);
  };
  page_.onPackageCall = [this](const std::vector<std::string>& message) {
    return received(message);
  };
  page_.onWarning = [this](const std::string& line) { note(line); };
  page_.onContentRequest = [this](const desktop::MoviePage::ContentRequest& r) {
    desktop::MoviePage::ContentAnswer out{404, {}, "{\"error\":\"no LRS\"}"};
    if (!cmi5_) return out;
    std::string path = r.path;
    if (path.rfind("lrs/", 0) == 0) path.erase(0, 4);
    const xapi::LrsAnswer answer =
        cmi5_->lrs({r.method, path, r.query, r.headers, r.body});
    return desktop::MoviePage::ContentAnswer{answer.status, answer.headers,
                                             answer.body};
  };
  page_.cookieOwner = [this] { return player_->learner(); };
  page_.onMissingFile = [this](const std::string& file,
                               const std::string& page) {
    missingFile(file, page);
  };
  page_.onProcessEnded = [this](const std::string& reason) {
    note("The page's process ended (" + reason + ")");
    later([](PackageSession& self) { self.recover(); });
  };
  if (options.lrsConfig) {
    sender_ =
        std::make_unique<ResultsSender>(options.storePath, *options.lrsConfig);
    player_->onStatements = [this] { sender_->notify(); };
  }
  if (const char* channel = std::getenv("ZEPT_TEST_CHANNEL");
      channel && *channel) {
    test_ = TestChannel::Connect(channel);
    if (test_) {
      test_->onCommand = [this](const std::vector<std::string>& fields) {
        testCommand(fields);
      };
      page_.onTestCall = [this](const std::vector<std::string>& items) {
        std::vector<std::string> fields{"sco"};
        fields.insert(fields.end(), items.begin(), items.end());
        test_->send(fields);
      };
      if (cmi5_) addAuTestScript();
    }
  }
  window_.onCloseRequest = [this] { finish(false); };
  g_signal_connect(window_.gtkWindow(), "key-press-event", G_CALLBACK(OnKey),
                   this);
  if (GtkSettings* settings = gtk_settings_get_default())
    themeWatch_ = g_signal_connect(settings, "notify::gtk-theme-name",
                                   G_CALLBACK(OnTheme), this);
  signals_ = desktop::InstallQuitSignals([this] { finish(true); });
}

PackageSession::~PackageSession() {
  if (themeWatch_)
    g_signal_handler_disconnect(gtk_settings_get_default(), themeWatch_);
  for (const guint id : pending_) g_source_remove(id);
  if (storeTimer_) g_source_remove(storeTimer_);
  if (senderTimer_) g_source_remove(senderTimer_);
  page_.onPackageCall = nullptr;
  page_.onPackageFile = nullptr;
  page_.onWarning = nullptr;
  page_.onContentRequest = nullptr;
  page_.cookieOwner = nullptr;
  page_.onMissingFile = nullptr;
  page_.onProcessEnded = nullptr;
  page_.onTestCall = nullptr;
  page_.onContentView = nullptr;
  page_.onContentLoaded = nullptr;
  page_.onContentSays = nullptr;
  page_.onContentReturned = nullptr;
  page_.onContentEnded = nullptr;
  if (loop_) g_main_loop_unref(loop_);
}

void PackageSession::later(void (*action)(PackageSession&), guint ms) {
  struct Job {
    PackageSession* self;
    void (*action)(PackageSession&);
  };
  const guint id = g_timeout_add_full(
      G_PRIORITY_DEFAULT_IDLE, ms,
      [](gpointer data) -> gboolean {
        const auto* job = static_cast<Job*>(data);
        std::erase(job->self->pending_,
                   g_source_get_id(g_main_current_source()));
        job->action(*job->self);
        return G_SOURCE_REMOVE;
      },
      new Job{this, action},
      [](gpointer data) { delete static_cast<Job*>(data); });
  pending_.push_back(id);
}

void PackageSession::note(const std::string& line) {
  const std::string safe = OneLine(line);
  print_(Utf8ToWide(safe));
  TraceMessage(ctx_, u"zept > " + Utf8ToWide(safe));
}

// A learner's progress is written by one process at a time.
bool PackageSession::takeLearner(const std::string& login, std::string& why) {
  std::unique_ptr<platform::HeldLock> lock;
  try {
    lock = ctx_.platform.locks.tryLock(
        Utf8ToWide("package-" + key_ + "-" + login), 0);
  } catch (const std::exception& e) {
    note(e.what());
    return true;  // nothing to lock with: as before locks existed
  }
  if (!lock) {
    why = login +
          "'s progress in this course is open in another zept "
          "window. Close it there first, or choose another learner.";
    return false;
  }
  learnerLock_ = std::move(lock);
  return true;
}

// Packages made on systems whose names ignore case refer to "Index.html"
// for "index.html": a name not found as written is looked up that way.
std::optional<std::string> PackageSession::locate(const std::string& asked) {
  if (files_.exists(asked)) return asked;
  if (byLowerName_.empty())
    for (const scorm::PackageEntry& entry : files_.entries())
      byLowerName_.emplace(AsciiLower(entry.path), entry.path);
  const auto it = byLowerName_.find(AsciiLower(asked));
  if (it == byLowerName_.end()) return std::nullopt;
  return it->second;
}

std::optional<desktop::MoviePage::PackageFile> PackageSession::packageFile(
    const std::string& asked) {
  const std::optional<std::string> found = locate(asked);
  if (!found) return std::nullopt;
  const std::string& path = *found;
  desktop::MoviePage::PackageFile file;
  file.nativeFile = files_.nativeFile(path);
  if (!file.nativeFile.empty()) return file;
  std::unique_ptr<scorm::EntryReader> reader = files_.open(path);
  if (!reader) return std::nullopt;
  if (reader->size() > kInMemoryBytes) {
    file.size = static_cast<goffset>(reader->size());
    std::string why;
    file.stream = streams_.open(
        path, std::make_unique<EntryPieces>(std::move(reader)), why);
    if (!file.stream)
      throw scorm::EPackageError("cannot serve '" + path + "' of package '" +
                                 files_.location() + "': " + why);
    return file;
  }
  std::optional<std::string> bytes = files_.read(path);
  if (!bytes) return std::nullopt;
  file.bytes = std::move(*bytes);
  return file;
}

std::string PackageSession::received(const std::vector<std::string>& message) {
  // A call the page could only post was answered "true" there: a failure
  // is said here instead.
  const bool posted = !message.empty() && message[0] == "posted";
  const std::vector<std::string> inner(message.begin() + (posted ? 1 : 0),
                                       message.end());
  if (!inner.empty() && (inner[0] == "api" || inner[0] == "api-too-large")) {
    const std::string value = player_->handle(inner);
    const std::string error = posted && inner.size() >= 3 && value == "false"
                                  ? player_->lastError()
                                  : std::string();
    if (!error.empty()) {
      std::string line =
          "A call made while the SCO's page was left failed: " + inner[2] + "(";
      for (std::size_t i = 3; i < inner.size(); ++i)
        line += (i > 3 ? ", \"" : "\"") + inner[i].substr(0, 80) + "\"";
      note(line + ") gave error " + error);
    }
    // The screens learn that the SCO has finished from the program only:
    // the SCO's frames cannot reach them.
    if (!posted && value == "true" && inner[0] == "api" && inner.size() >= 3 &&
        (inner[2] == "LMSFinish" || inner[2] == "Terminate") &&
        !secret_.empty())
      page_.runScript("window.zeptEnded && zeptEnded(" +
                      scorm::JsonString(secret_) + "," +
                      scorm::JsonString(inner[1]) + ")");
    return value;
  }
  if (inner.size() >= 3 && inner[0] == "screen") {
    // The page's own script speaks first, before any content can run.
    if (secret_.empty() && !inner[1].empty()) secret_ = inner[1];
    if (!secret_.empty() && inner[1] == secret_)
      return screen(std::vector<std::string>(inner.begin() + 2, inner.end()));
  }
  if (refused_++ < kRefusalsSaid) {
    const std::string what = inner.size() >= 3 && inner[0] == "screen"
                                 ? inner[2]
                             : inner.empty() ? std::string()
                                             : inner[0];
    note("A page of the package sent zept the message \"" + what.substr(0, 40) +
         "\", which only zept's own screens may send: it changed nothing");
  }
  return std::string();
}

std::string PackageSession::screen(const std::vector<std::string>& message) {
  const std::string& kind = message[0];
  if (kind == "exit") {
    later([](PackageSession& self) { self.finish(false); });
    return std::string();
  }
  if (kind == "results") return saveResults();
  // The screens' own words in the learner's language, in the order asked.
  if (kind == "strings") {
    std::string answer = "{\"lang\":" + scorm::JsonString(desktop::PreferredLanguages().front()) +
                         ",\"strings\":[";
    for (std::size_t i = 1; i < message.size(); ++i)
      answer += (i > 1 ? "," : "") + scorm::JsonString(_(message[i].c_str()));
    return answer + "]}";
  }
  if (kind == "test") {
    if (test_)
      test_->send(std::vector<std::string>(message.begin() + 1, message.end()));
    return std::string();
  }
  if (kind == "shown" && message.size() >= 2) {
    const gint64 ms = (g_get_monotonic_time() - options_.startedAt) / 1000;
    if (message[1] == "menu")
      note("The course menu is shown (" + std::to_string(ms) +
           " ms after start)");
    return std::string();
  }
  // A SCO launched: its host page in a view and a browser of its own, which
  // asks once for what the launch gives it.
  if (kind == "play" && message.size() >= 3) {
    contentLaunch_ = message[1];
    contentItem_ = player_->playing();
    page_.openContent("zept://content/app/host.html", message[2], true);
    return std::string();
  }
  if (kind == "place") {
    placeContent(message);
    return std::string();
  }
  // The SCO's page is left (its unload handlers run), then its view and
  // browser go, and the screens are told.
  if (kind == "unload") {
    page_.closeContent(
        [this] {
          if (contentShown_) gtk_widget_grab_focus(page_.widget());
          contentShown_ = false;
          if (!secret_.empty())
            page_.runScript("window.zeptUnloaded && zeptUnloaded(" +
                            scorm::JsonString(secret_) + ")");
        },
        static_cast<int>(kUnloadMs));
    return std::string();
  }
  // A cmi5 AU that asks for a window of its own: only the package's pages
  // play there, and the screens come back when it goes.
  if (kind == "window" && message.size() >= 3 &&
      page_.inOrigin(message[1]).rfind(page_.contentOrigin() + "/pkg/", 0) ==
          0 &&
      cmi5_) {
    const std::string launch = cmi5_->launchNumber();
    contentLaunch_ = launch;
    WebKitWebView* view = page_.openContent(message[1], "", false);
    if (!view) return std::string();
    views_.openOwnWindow(view, message[2], [this, launch] {
      if (!secret_.empty())
        page_.runScript("window.zeptWindowGone && zeptWindowGone(" +
                        scorm::JsonString(secret_) + "," +
                        scorm::JsonString(launch) + ")");
    });
    return std::string();
  }
  if (kind == "close-window") {
    views_.closeOwnWindow();
    return std::string();
  }
  if (kind == "left") {
    // What the page's unload handlers posted came before its leaving
    // ended; the windows of a SCO go with it.
    const long posted =
        message.size() >= 2 ? std::strtol(message[1].c_str(), nullptr, 10) : 0;
    if (!page_.waitPostedCalls(posted, kUnloadMs))
      note("calls the page posted while it was left did not all come");
    views_.closeWindows();
    // The player is told which launch has gone (a later one goes on), and
    // whether the course is closing, which keeps the SCO's attempt.
    std::vector<std::string> left{"left"};
    if (message.size() >= 3) left.push_back(message[2]);
    if (leaving_ && left.size() == 2) left.push_back("closing");
    return player_->handle(left);
  }
  if (kind == "menu" && sender_) player_->setResultsNote(sender_->menuNote());
  std::string answer = player_->handle(message);
  // The page reports what it shows to the harness only when it has one.
  if (kind == "start" && test_ && answer.ends_with("}"))
    answer.insert(answer.size() - 1, ",\"test\":true");
  // The screens look as the desktop's do: mirrored for a right-to-left
  // language, in its high-contrast theme.
  if (kind == "start" && answer.ends_with("}")) {
    std::string look;
    if (gtk_widget_get_default_direction() == GTK_TEXT_DIR_RTL)
      look += ",\"direction\":\"rtl\"";
    if (const std::string theme = desktop::HighContrastTheme(); !theme.empty())
      look += ",\"contrast\":\"" + theme + "\"";
    answer.insert(answer.size() - 1, look);
  }
  // A learner's navigation request the sequencer refused, with its words
  // (the answer's last field) as the menu shows them.
  constexpr std::string_view kRefused = "{\"ok\":false";
  const std::size_t words = answer.rfind(",\"message\":");
  if (kind == "nav" && answer.starts_with(kRefused) &&
      words != std::string::npos) {
    std::string request;
    for (std::size_t i = 1; i < message.size(); ++i)
      request += " " + message[i].substr(0, 80);
    note("The navigation request" + request + " was refused: " +
         answer.substr(words + 11, answer.size() - words - 12));
  }
  return answer;
}

void PackageSession::missingFile(const std::string& asked,
                                 const std::string& askedBy) {
  // A page that asks for thousands of files names the first ones only, and
  // a name of a megabyte is cut as other text from content is.
  constexpr std::size_t kNamed = 200;
  constexpr std::size_t kNameBytes = 200;
  const std::string file = Utf8Prefix(asked, kNameBytes);
  const std::string page = Utf8Prefix(askedBy, kNameBytes);
  if (missing_.size() >= kNamed || !missing_.emplace(file, page).second) return;
  const std::string asker =
      page.empty() ? std::string("A page of the package") : "The page " + page;
  note(asker + " asked for " + file + ", which is missing from the package");
}

std::string PackageSession::saveResults() {
  const platform::DialogAnswer chosen = dialogs_.saveFile(
      u".pdf", Utf8ToWide(std::string(_("PDF documents")) + "|*.pdf"),
      u"results.pdf",
      ctx_.platform.folders.specialFolder(platform::kCsidlMyDocuments));
  if (!chosen.ok) return std::string("{}");
  try {
    const auto [paperWidth, paperHeight] = platform::DefaultPaperInches();
    for (const std::string& line :
         WriteResultsPdf(ctx_, player_->resultsReport(), chosen.file,
                         paperWidth, paperHeight))
      note("The results PDF " + WideToUtf8(chosen.file) + ": " + line);
    return "{\"ok\":true,\"message\":" +
           scorm::JsonString(_("Saved to ") + WideToUtf8(chosen.file)) + "}";
  } catch (const std::exception& e) {
    return "{\"message\":" +
           scorm::JsonString(std::string(_("The results were not saved: ")) +
                             e.what()) +
           "}";
  }
}

bool PackageSession::retryStore(const std::string& why) {
  std::string folder;
  try {
    folder = scorm::DataFolder(ctx_.platform.folders);
  } catch (const std::exception&) {
    folder = "zept's data folder";
  }
  const std::string reason = StoreFailureReason(why, folder);
  note("error: " + player_->learner() +
       "'s progress could not be saved: " + reason);
  // A signal ends the program with nobody to answer a question.
  if (bySignal_ || quitUnsaved_) return false;
  const std::string text =
      Fill(_("The progress of %s could not be saved: %s."),
           {player_->learner(), reason}) +
      "\n\n" +
      (leaving_ ? _("Make room or make the folder writable, then choose Retry. "
                    "Quit without saving loses what was done since it was "
                    "last saved.")
                : _("It is kept until it can be saved. Make room or make the "
                    "folder writable, then choose Retry."));
  const int chosen = dialogs_.choose(
      text, leaving_ ? std::vector<std::string>{_("_Retry"),
                                                _("_Quit without saving")}
                     : std::vector<std::string>{_("_Retry"), _("_Not now")});
  if (chosen != 0 && leaving_) {
    quitUnsaved_ = true;
    note("error: the learner quit without saving " + player_->learner() +
         "'s progress");
  }
  return chosen == 0;
}

void PackageSession::finish(bool bySignal) {
  if (leaving_ || window_.state().closed) return;
  // A box of the page's (alert, confirm) is answered first; the page goes
  // on once its loop has returned, so the rest waits for that.
  const bool boxes = views_.closeDialogs() > 0;
  if (bySignal) {
    bySignal_ = true;
    dialogs_.cancelAll();
  }
  // Tried again on a tick rather than at idle: a loop of a dialog that is
  // still open would run an idle at once, again and again.
  if (boxes || g_main_depth() > 1) {
    if (bySignal)
      later([](PackageSession& self) { self.finish(true); }, 50);
    else
      later([](PackageSession& self) { self.finish(false); }, 50);
    return;
  }
  leaving_ = true;
  if (!player_->playing().empty() && !page_.processEnded()) {
    page_.runScript("window.zeptLeave && zeptLeave(" +
                    scorm::JsonString(secret_) + ")");
    PumpUntil([this] { return player_->playing().empty() || quitUnsaved_; },
              kUnloadMs);
  }
  player_->leave();
  if (bySignal_) keepUnstored();
  dialogs_.cancelAll();
  views_.closeWindows();
  window_.close();
}

// Content laid out for a larger screen gets the room it asks for, as far as
// the screen allows; the window never shrinks under the learner.
void PackageSession::growTo(int width, int height) {
  const platform::WindowState& now = window_.state();
  const int screenWidth = window_.screenWidth();
  const int screenHeight = window_.screenHeight();
  const int w = std::max(now.width, std::min(width, screenWidth));
  const int h =
      std::max(now.height, std::min(height, screenHeight - kScreenMargin));
  if (w == now.width && h == now.height) return;
  note("The content needs a window of " + std::to_string(width) + "x" +
       std::to_string(height) + ": the window grows to " + std::to_string(w) +
       "x" + std::to_string(h));
  window_.setBounds(std::max(0, (screenWidth - w) / 2),
                    std::max(0, (screenHeight - h) / 2), w, h);
}

void PackageSession::keepUnstored() {
  const std::optional<scorm::StoreWrite>& failed = store_.failedWrite();
  if (player_->lastProblem().empty() || !failed) return;
  endedUnstored_ = true;
  try {
    const std::string kept = scorm::KeepUnsaved(
        scorm::KeepingFolders(ctx_.platform.folders), key_, *failed);
    note("error: " + failed->login +
         "'s progress could not be saved; it is kept in " + kept +
         " and saved at the next start of this course");
  } catch (const std::exception& e) {
    note("error: " + failed->login +
         "'s progress could not be saved, nor kept elsewhere (" + e.what() +
         "); it is lost");
  }
}

gboolean PackageSession::OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto& self = *static_cast<PackageSession*>(data);
  const GdkModifierType held = GdkModifierType(
      event->state & (GDK_MOD1_MASK | GDK_CONTROL_MASK | GDK_SUPER_MASK));
  // Ctrl with plus, minus or 0 zooms the screens (and what plays in them)
  // as a browser does, in its steps.
  if (held == GDK_CONTROL_MASK) {
    WebKitWebView* view = WEBKIT_WEB_VIEW(self.page_.widget());
    constexpr double kSteps[] = {0.5,  0.67, 0.8,  0.9, 1.0, 1.1,
                                 1.25, 1.5,  1.75, 2.0, 2.5, 3.0};
    const double now = webkit_web_view_get_zoom_level(view);
    double zoom = now;
    switch (event->keyval) {
      case GDK_KEY_plus:
      case GDK_KEY_equal:
      case GDK_KEY_KP_Add:
        for (double step : kSteps)
          if (step > now + 0.01) {
            zoom = step;
            break;
          }
        break;
      case GDK_KEY_minus:
      case GDK_KEY_KP_Subtract:
        for (double step : kSteps)
          if (step < now - 0.01) zoom = step;
        break;
      case GDK_KEY_0:
      case GDK_KEY_KP_0:
        zoom = 1.0;
        break;
      default:
        return FALSE;
    }
    webkit_web_view_set_zoom_level(view, zoom);
    return TRUE;
  }
  if (held != GDK_MOD1_MASK || self.secret_.empty() || self.leaving_)
    return FALSE;
  const char* control = nullptr;
  switch (gdk_keyval_to_lower(event->keyval)) {
    case GDK_KEY_p:
      control = "previous";
      break;
    case GDK_KEY_n:
      control = "next";
      break;
    case GDK_KEY_m:
      control = "to-menu";
      break;
    case GDK_KEY_x:
      // Whatever the course's kind and the screen, as closing the window:
      // the item stores or the course is suspended, and zept ends.
      self.finish(false);
      return TRUE;
    default:
      return FALSE;
  }
  self.page_.runScript("window.zeptControl && zeptControl(\"" +
                       std::string(control) + "\", " +
                       scorm::JsonString(self.secret_) + ")");
  return TRUE;
}

void PackageSession::OnTheme(GObject*, GParamSpec*, gpointer data) {
  auto& self = *static_cast<PackageSession*>(data);
  if (self.secret_.empty()) return;
  self.page_.runScript("window.zeptLook && zeptLook(" +
                       scorm::JsonString(self.secret_) + ", " +
                       scorm::JsonString(desktop::HighContrastTheme()) + ")");
}

void PackageSession::addAuTestScript() {
  page_.addContentScript(kAuTestScript);
}

void PackageSession::contentView(WebKitWebView* view, bool placed) {
  views_.connect(view);
  if (!placed) return;
  contentShown_ = false;
  gtk_widget_set_visible(GTK_WIDGET(view), FALSE);
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), GTK_WIDGET(view));
}

void PackageSession::placeContent(const std::vector<std::string>& where) {
  WebKitWebView* view = page_.contentView();
  const bool shown = where.size() == 5;
  if (shown) {
    // The screens say where in their own pixels, which their zoom scales.
    const double zoom =
        webkit_web_view_get_zoom_level(WEBKIT_WEB_VIEW(page_.widget()));
    const auto at = [&](std::size_t i) {
      return static_cast<int>(std::strtol(where[i].c_str(), nullptr, 10) *
                              zoom);
    };
    contentArea_ = {std::max(0, at(1)), std::max(0, at(2)),
                    std::max(1, at(3)), std::max(1, at(4))};
  }
  // The keys go back to the screens when the SCO's view is not there.
  if (!shown && contentShown_) gtk_widget_grab_focus(page_.widget());
  if (!view || gtk_widget_get_parent(GTK_WIDGET(view)) != overlay_) {
    contentShown_ = false;
    return;
  }
  gtk_widget_set_visible(GTK_WIDGET(view), shown);
  if (shown) {
    gtk_widget_queue_resize(overlay_);
    // The learner works in the SCO once it shows, as in a browser's page.
    if (!contentShown_) gtk_widget_grab_focus(GTK_WIDGET(view));
  }
  contentShown_ = shown;
}

void PackageSession::tellContent(const std::string& what,
                                 const std::string& error,
                                 const std::string& page) {
  if (secret_.empty()) return;
  page_.runScript("window.zeptContent && zeptContent(" +
                  scorm::JsonString(secret_) + "," +
                  scorm::JsonString(contentLaunch_) + "," +
                  scorm::JsonString(what) + "," + scorm::JsonString(error) +
                  "," + scorm::JsonString(page) + ")");
}

// What the content's own frames said; only the program tells the screens,
// and only what it can vouch for.
void PackageSession::contentSays(const std::vector<std::string>& said) {
  const std::string& kind = said[0];
  if (kind == "size" && said.size() == 3) {
    // The content's page with the screens around it.
    const platform::WindowState& now = window_.state();
    const int width = std::atoi(said[1].c_str());
    const int height = std::atoi(said[2].c_str());
    if (width <= 0 || height <= 0 || width >= 100000 || height >= 100000)
      return;
    growTo(width + std::max(0, now.width - contentArea_.width),
           height + std::max(0, now.height - contentArea_.height));
  } else if (kind == "blocked" && said.size() >= 3) {
    // What a page made itself (blob:, data:) is not the network; each
    // origin is named once.
    std::string origin = said[2].substr(0, 200);
    if (GUri* uri = g_uri_parse(origin.c_str(), G_URI_FLAGS_NONE, nullptr)) {
      const char* host = g_uri_get_host(uri);
      const int port = g_uri_get_port(uri);
      origin = std::string(g_uri_get_scheme(uri)) + "://" + (host ? host : "") +
               (port > 0 ? ":" + std::to_string(port) : "");
      g_uri_unref(uri);
    }
    if (origin.empty() || origin.rfind("zept:", 0) == 0 ||
        origin.rfind("blob", 0) == 0 || origin.rfind("data", 0) == 0 ||
        blocked_.size() >= 20 || !blocked_.insert(origin).second)
      return;
    note("A page of the package asked for " + origin +
         ", which is not part of it: zept plays offline, so it was refused");
  } else if (kind == "crashed" && said.size() >= 4) {
    // Said by a script in the package's pages, which any page could say:
    // believed only where the emulator was loaded.
    if (!page_.packageEmulatorLoaded()) {
      note("A page of the package said the Flash emulator crashed, though "
           "none was loaded: nothing changed");
      return;
    }
    const std::string page = Utf8Prefix(said[3], 200);
    note("Item " + player_->playing() +
         " stopped: the Flash emulator crashed in " + page + " (" +
         Utf8Prefix(said[2], 200) + "); the learner was offered Retry");
    tellContent("crashed", Utf8Prefix(said[2], 300), page);
  }
}

// The harness's commands go to the page, which presses its own controls
// as the access keys do; only quitting and a test SCO's answer stay here.
void PackageSession::testCommand(const std::vector<std::string>& fields) {
  if (fields.empty()) return;
  if (fields[0] == "quit") {
    later([](PackageSession& self) { self.finish(false); });
  } else if (fields[0] == "sco" && fields.size() == 2) {
    page_.answerTestCall(fields[1]);
  } else if (fields[0] == "audit" && fields.size() == 2) {
    // axe-core, from the file named, over the screens as they are: their
    // serious and critical violations, as JSON. The SCO is its author's.
    gchar* contents = nullptr;
    if (!g_file_get_contents(fields[1].c_str(), &contents, nullptr, nullptr)) {
      test_->send({"audit", "error: cannot read " + fields[1]});
      return;
    }
    const std::string axe = contents;
    g_free(contents);
    page_.runIsolated(
        axe +
            "\nconst found = await axe.run(document, {iframes: false, "
            "resultTypes: ['violations']});\n"
            "return JSON.stringify(found.violations.filter((v) => "
            "v.impact === 'serious' || v.impact === 'critical').map((v) => "
            "({id: v.id, impact: v.impact, nodes: v.nodes.map((n) => "
            "n.target.join(' ') + ': ' + n.failureSummary)})));",
        [this](const std::string& found) {
          if (test_) test_->send({"audit", found});
        });
  } else if (fields[0] == "abandon" && cmi5_) {
    // What leaving the AU does to its session, with its page left in place
    // so that the harness can see what the AU is answered afterwards.
    if (cmi5_->playing().empty()) {
      test_->send({"refused", "no AU is playing"});
    } else {
      cmi5_->leave();
      test_->send({"session-ended", "abandoned"});
    }
  } else if (!secret_.empty()) {
    std::string list = "[";
    for (const std::string& field : fields)
      list += (list.size() > 1 ? "," : "") + scorm::JsonString(field);
    page_.runScript("window.zeptTest && zeptTest(" +
                    scorm::JsonString(secret_) + "," + list + "])");
  } else {
    test_->send({"refused", "the page has not started"});
  }
}

// The page's process ending loses nothing: the open session is stored, the
// learner told, and the menu comes back on a new page.
void PackageSession::recover() {
  if (window_.state().closed || !page_.processEnded()) return;
  const bool open = !player_->playing().empty();
  player_->leave();
  views_.closeWindows();
  // The menu comes back: an AU's own window goes with its launch.
  views_.closeOwnWindow();
  dialogs_.showMessage(
      Utf8ToWide(open ? _("The course stopped unexpectedly. Your progress is "
                          "saved; the course starts again at its menu.")
                      : _("The course stopped unexpectedly and starts again "
                          "at its menu.")));
  if (!window_.state().closed && !showPage())
    note("error: " + page_.loadError());
}

bool PackageSession::showPage() {
  secret_.clear();
  resultsNote_.clear();
  refused_ = 0;
  return page_.showPackage(kPageLoadMs);
}

int PackageSession::run() {
  loop_ = g_main_loop_new(nullptr, FALSE);
  window_.onClosed = [this] { g_main_loop_quit(loop_); };
  storeTimer_ = g_timeout_add(
      kStoreEveryMs,
      [](gpointer self) -> gboolean {
        static_cast<PackageSession*>(self)->player_->storeOpen();
        return G_SOURCE_CONTINUE;
      },
      this);
  if (sender_) {
    // What the sending thread has to say reaches the journal from here.
    senderTimer_ = g_timeout_add(
        1000,
        [](gpointer data) -> gboolean {
          auto& self = *static_cast<PackageSession*>(data);
          for (const std::string& line : self.sender_->takeLines())
            self.note(line);
          std::string shown = self.sender_->menuNote();
          if (shown != self.resultsNote_ && !self.secret_.empty()) {
            self.page_.runScript("window.zeptNote && zeptNote(" +
                                 scorm::JsonString(self.secret_) + "," +
                                 scorm::JsonString(shown) + ")");
            self.resultsNote_ = std::move(shown);
          }
          return G_SOURCE_CONTINUE;
        },
        this);
  }
  TraceMessage(ctx_, u"zept > Run package " + Utf8ToWide(files_.location()));
  window_.show();
  if (!noticeAtStart.empty()) dialogs_.showMessage(Utf8ToWide(noticeAtStart));
  if (!showPage()) {
    const std::string message = page_.loadError();
    std::fprintf(stderr, "zept: %s\n", message.c_str());
    dialogs_.showMessage(Utf8ToWide(message));
    return 1;
  }
  if (!window_.state().closed) g_main_loop_run(loop_);
  if (sender_) {
    // The window is gone: the last statements get a moment to leave rather
    // than wait for the next start.
    if (!sender_->flush(kFlushMs))
      note("Results: statements wait for the next start of zept or zept-sync");
    for (const std::string& line : sender_->takeLines()) note(line);
  }
  if (options_.strict && !summaries_.empty())
    std::fputs(summaries_.c_str(), stdout);
  if (options_.strict && !missing_.empty()) {
    // By name: a page's files arrive in whatever order its loads finish.
    std::string list = "Files missing from the package:\n";
    for (const auto& [file, page] : missing_)
      list += "  " + file + (page.empty() ? "" : " (asked by " + page + ")") +
              "\n";
    std::fputs(list.c_str(), stdout);
  }
  return endedUnstored_ ? 1 : 0;
}

}  // namespace zept
