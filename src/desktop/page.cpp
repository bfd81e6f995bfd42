#include "desktop/page.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "desktop/content_policy.h"
#include "desktop/languages.h"
#include "desktop/page_resources.h"
#include "desktop/scheme_files.h"
#include "platform/errors.h"
#include "util/utf8.h"

// The page itself: its view, its loading and its process, and the scheme's
// requests sent where they belong. The movie channel, the package's side,
// the content policy and the file server each have a file of their own.

namespace zept::desktop {

namespace {

constexpr char kPageUri[] = "zept://z/app/page.html";

}  // namespace

MoviePage::MoviePage(std::string ruffleDir, std::vector<std::string> roots)
    : ruffleDir_(std::move(ruffleDir)), roots_(std::move(roots)) {
  // Nothing a page stores (web storage, IndexedDB, caches) outlives the
  // program; a package's pages lose it with each launch too.
  context_.reset(webkit_web_context_new_ephemeral());
  shutNetwork();
  // Content learns the learner's language from navigator.language (the
  // emulator stops on an empty list, which PreferredLanguages never is).
  SetPreferredLanguages(context_.get());
  // The context may outlive the page (the window holds the view a little
  // longer): its handler reaches the page through a link the page cuts.
  schemeLink_ = new MoviePage*(this);
  webkit_web_context_register_uri_scheme(
      context_.get(), "zept", HandleScheme, schemeLink_,
      [](gpointer link) { delete static_cast<MoviePage**>(link); });
  WebKitSecurityManager* security =
      webkit_web_context_get_security_manager(context_.get());
  webkit_security_manager_register_uri_scheme_as_secure(security, "zept");
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, "zept");

  content_.reset(webkit_user_content_manager_new());
  startFilter();

  // Narrated pages start their sound themselves, with no click first.
  GObjectPtr<WebKitWebsitePolicies> policies(WEBKIT_WEBSITE_POLICIES(
      g_object_new(WEBKIT_TYPE_WEBSITE_POLICIES, "autoplay",
                   WEBKIT_AUTOPLAY_ALLOW, nullptr)));
  view_ = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context",
                                  context_.get(), "user-content-manager",
                                  content_.get(), "website-policies",
                                  policies.get(), nullptr));
  viewRef_.reset(GTK_WIDGET(g_object_ref_sink(view_)));
  gtk_widget_show(view_);
  WebKitSettings* settings =
      webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view_));
  webkit_settings_set_enable_javascript(settings, TRUE);
  webkit_settings_set_hardware_acceleration_policy(
      settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_enable_write_console_messages_to_stdout(
      settings, std::getenv("ZEPT_PAGE_CONSOLE") != nullptr);
  webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);

  g_signal_connect(
      view_, "load-changed",
      G_CALLBACK(
          +[](WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
            auto* page = static_cast<MoviePage*>(self);
            // A SCO that sets top.location (a frame-busting script, say) would
            // take the window from zept's screens: the load is stopped before
            // anything of the screens is left.
            if (event == WEBKIT_LOAD_STARTED && page->packageShown_ &&
                !page->ownLoad_) {
              page->warn(
                  "a page of the package tried to load a page in place of "
                  "zept's screens: it was stopped");
              webkit_web_view_stop_loading(view);
              return;
            }
            if (event == WEBKIT_LOAD_FINISHED) {
              page->loaded_ = true;
              page->ownLoad_ = false;
            }
          }),
      this);
  g_signal_connect(view_, "load-failed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char*,
                                  GError*, gpointer self) -> gboolean {
                     static_cast<MoviePage*>(self)->loadFailed_ = true;
                     return FALSE;
                   }),
                   this);
  // The page never leaves itself: movies open documents and links through
  // the shell's commands, not by navigating.
  g_signal_connect(
      view_, "decide-policy",
      G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision,
                     WebKitPolicyDecisionType type, gpointer self) -> gboolean {
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
          WebKitNavigationAction* action =
              webkit_navigation_policy_decision_get_navigation_action(
                  WEBKIT_NAVIGATION_POLICY_DECISION(decision));
          const char* uri = webkit_uri_request_get_uri(
              webkit_navigation_action_get_request(action));
          if (uri && g_strcmp0(uri, kPageUri) == 0) return FALSE;
          // A package's pages move between their own files; a link out of
          // the package is named, for the course team.
          auto* page = static_cast<MoviePage*>(self);
          // about:blank is no place: frames start there. The top window is
          // kept from content by the SCO frame's sandbox (no top
          // navigation), as this decision cannot tell frames from it.
          if (uri && page->packageShown_ &&
              (g_str_has_prefix(uri, "zept://z/") ||
               g_str_has_prefix(uri, "zept://content/") ||
               g_str_has_prefix(uri, "about:")))
            return FALSE;
          if (uri && page->packageShown_)
            page->warn(std::string("a page of the package tried to open ") +
                       std::string(uri).substr(0, 200) +
                       ", which is not part of it: zept plays offline");
        }
        // A package's page that opens a window gets one (see "create").
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION &&
            static_cast<MoviePage*>(self)->packageShown_)
          return FALSE;
        webkit_policy_decision_ignore(decision);
        return TRUE;
      }),
      this);
  g_signal_connect(
      view_, "web-process-terminated",
      G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason,
                     gpointer self) {
        static_cast<MoviePage*>(self)->processEnded(reason);
      }),
      this);
  g_signal_connect(
      view_, "context-menu",
      G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                     WebKitHitTestResult*, gpointer) { return TRUE; }),
      nullptr);
}

void MoviePage::shutNetwork() {
  // Every address WebKit would reach over the network goes through a proxy
  // at a loopback port the program holds and never listens on: a
  // connection is refused there, before anything (the address, the port,
  // that it was asked for) leaves the machine, whatever asked for it: a
  // page, a window it opened, a link prefetched. zept's scheme is no
  // network address and is not proxied.
  deadPort_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  std::string proxy = "http://127.0.0.1:9";
  if (deadPort_ >= 0 &&
      ::bind(deadPort_, reinterpret_cast<sockaddr*>(&address),
             sizeof address) == 0 &&
      ::getsockname(deadPort_, reinterpret_cast<sockaddr*>(&address),
                    &length) == 0)
    proxy = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  proxy_ = proxy;
  applyNetworkRules(context_.get());
}

void MoviePage::applyNetworkRules(WebKitWebContext* context,
                                  const std::string& ownHost) {
  const char* const ignored[] = {ownHost.c_str(), nullptr};
  WebKitNetworkProxySettings* settings = webkit_network_proxy_settings_new(
      proxy_.c_str(), ownHost.empty() ? nullptr : ignored);
  webkit_website_data_manager_set_network_proxy_settings(
      webkit_web_context_get_website_data_manager(context),
      WEBKIT_NETWORK_PROXY_MODE_CUSTOM, settings);
  webkit_network_proxy_settings_free(settings);
  // Nothing a page does saves a file: a download (a link with a download
  // attribute, a response the page cannot show) stops before it is written.
  g_signal_connect(
      context, "download-started",
      G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download,
                     gpointer self) {
        webkit_download_cancel(download);
        WebKitURIRequest* request = webkit_download_get_request(download);
        const char* uri = request ? webkit_uri_request_get_uri(request) : "";
        static_cast<MoviePage*>(self)->warn(
            "a page asked to save " +
            Utf8Prefix(uri && g_str_has_prefix(uri, "zept:") ? uri : "a file",
                       200) +
            " on the computer: zept saves nothing for a page, so it was "
            "refused");
      }),
      this);
}

void MoviePage::forgetContentData(int timeoutMs) {
  // What a launch's pages kept in the browser (web storage, IndexedDB,
  // caches their scripts made) goes with the launch, so that no later
  // launch, nor another learner's, reads it. The request is shared with
  // its callback, which may come after a timeout.
  auto done = std::make_shared<bool>(false);
  constexpr auto kKinds = WebKitWebsiteDataTypes(
      WEBKIT_WEBSITE_DATA_SESSION_STORAGE | WEBKIT_WEBSITE_DATA_LOCAL_STORAGE |
      WEBKIT_WEBSITE_DATA_INDEXEDDB_DATABASES |
      WEBKIT_WEBSITE_DATA_OFFLINE_APPLICATION_CACHE |
      WEBKIT_WEBSITE_DATA_SERVICE_WORKER_REGISTRATIONS |
      WEBKIT_WEBSITE_DATA_DOM_CACHE | WEBKIT_WEBSITE_DATA_COOKIES);
  webkit_website_data_manager_clear(
      webkit_web_context_get_website_data_manager(context_.get()), kKinds, 0,
      nullptr,
      +[](GObject* manager, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::shared_ptr<bool>> flag(
            static_cast<std::shared_ptr<bool>*>(data));
        webkit_website_data_manager_clear_finish(
            WEBKIT_WEBSITE_DATA_MANAGER(manager), result, nullptr);
        **flag = true;
      },
      new std::shared_ptr<bool>(done));
  if (!waitFor([&done] { return *done; }, timeoutMs))
    warn("what a page kept in the browser could not be forgotten in time");
}

MoviePage::~MoviePage() {
  *alive_ = nullptr;
  for (guint* source : {&closeTimeout_, &closeQuiet_})
    if (*source) g_source_remove(std::exchange(*source, 0));
  dropContent();
  if (filterObject_) webkit_user_content_filter_unref(filterObject_);
  if (deadPort_ >= 0) ::close(deadPort_);
  if (pendingSource_) g_source_remove(pendingSource_);
  for (const auto& [file, source] : unclaimed_) g_source_remove(source);
  g_cancellable_cancel(cancellable_.get());
  if (parked_) answer(parked_.get(), {"done", ""});
  // Nothing of the view calls back into a page that is going; the view goes
  // first, with its page process.
  *schemeLink_ = nullptr;
  g_signal_handlers_disconnect_by_data(view_, this);
  g_signal_handlers_disconnect_by_data(context_.get(), this);
  gtk_widget_destroy(view_);
  endFilter();
}

GtkWidget* MoviePage::widget() const { return view_; }

std::string MoviePage::FileUrl(const std::string& nativePath) {
  GCharPtr escaped(g_uri_escape_string(nativePath.c_str(), "/", FALSE));
  return std::string("zept://z/file") + escaped.get();
}

void MoviePage::setVirtualFile(const std::string& path, std::string bytes) {
  virtualFiles_[path] = std::move(bytes);
}

void MoviePage::removeVirtualFile(const std::string& path) {
  virtualFiles_.erase(path);
}

void MoviePage::processEnded(WebKitWebProcessTerminationReason reason) {
  ended_ = true;
  // Nothing the ended process asked or was asked is answered any more: the
  // program stops waiting now rather than at its timeout.
  if (op_ && !op_->done) {
    op_->done = true;
    op_->ok = false;
    op_->value = "the movie page has ended";
  }
  if (parked_) {
    GObjectPtr<WebKitURISchemeRequest> request = std::move(parked_);
    FinishError(request.get(), G_IO_ERROR, G_IO_ERROR_CLOSED, "ended");
  }
  queue_.clear();
  gapSince_ = 0;
  const char* why =
      reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "out of memory"
      : reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API ? "ended by the program"
                                                       : "crashed";
  if (onProcessEnded) onProcessEnded(why);
}

bool MoviePage::load(int timeoutMs) {
  beginLoad();
  const gint64 deadline = g_get_monotonic_time() + gint64{timeoutMs} * 1000;
  if (!waitReady(timeoutMs)) return false;
  // The emulator compiles now, with a throwaway player, and says whether it
  // could.
  while (g_get_monotonic_time() < deadline && !ended_) {
    try {
      const std::string warm = op({"warm", ""});
      if (warm == "1") return true;
      if (warm != "warming") {
        loadError_ = emulatorError(warm);
        return false;
      }
    } catch (const std::exception&) {
    }
    play(20);
  }
  return false;
}

void MoviePage::beginLoad() {
  loaded_ = loadFailed_ = false;
  ended_ = false;
  ++generation_;
  queue_.clear();
  skipped_.clear();
  nextMessage_ = 1;
  nestedUpTo_ = 0;
  loadError_ =
      "the movie page could not load the Flash emulator from " + ruffleDir_;
  emulatorProblem_.clear();
  // The page loads while the content filter is made; no movie is played
  // before the filter is in place.
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view_), kPageUri);
}

bool MoviePage::waitReady(int timeoutMs) {
  const gint64 deadline = g_get_monotonic_time() + gint64{timeoutMs} * 1000;
  if (!waitFor(
          [this] {
            return (loaded_ || loadFailed_) && filter_ != FilterState::kPending;
          },
          timeoutMs) ||
      loadFailed_)
    return false;
  if (filter_ == FilterState::kFailed) {
    loadError_ = filterError_;
    return false;
  }
  // On a busy machine the page may be slow to answer while the emulator
  // compiles: only the deadline, or the page's process ending, gives up.
  while (g_get_monotonic_time() < deadline && !ended_) {
    try {
      return op({"ready", ""}) == "1";
    } catch (const std::exception&) {
    }
    play(20);
  }
  return false;
}

std::string MoviePage::emulatorFailure() {
  try {
    const std::string failed = op({"failure", ""});
    return failed.empty() ? "" : emulatorError(failed);
  } catch (const std::exception&) {
    return "";
  }
}

std::string MoviePage::emulatorError(const std::string& failed) const {
  // What the emulator could not read says more than how it failed.
  if (!emulatorProblem_.empty())
    return "the Flash emulator did not start: " + emulatorProblem_;
  const std::string how =
      failed.rfind("failed:", 0) == 0 ? failed.substr(7) : failed;
  return "the Flash emulator did not start" +
         (wasmServed_.empty() ? "" : " from " + wasmServed_) + ": " + how;
}

void MoviePage::HandleScheme(WebKitURISchemeRequest* request, gpointer link) {
  MoviePage* page = *static_cast<MoviePage**>(link);
  if (!page) {
    FinishError(request, G_IO_ERROR, G_IO_ERROR_CLOSED, "the page is gone");
    return;
  }
  page->serve(request);
}

void MoviePage::serve(WebKitURISchemeRequest* request) {
  const std::string uri = webkit_uri_scheme_request_get_uri(request);
  const char* method = webkit_uri_scheme_request_get_http_method(request);
  constexpr std::string_view kPrefix = "zept://z/";
  // A package's own origin, apart from the screens'.
  constexpr std::string_view kContentPrefix = "zept://content/";
  const bool content =
      uri.compare(0, kContentPrefix.size(), kContentPrefix) == 0;
  if (!content && uri.compare(0, kPrefix.size(), kPrefix) != 0) {
    FinishError(request, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED,
                "refused: " + uri);
    return;
  }
  std::string rest =
      uri.substr(content ? kContentPrefix.size() : kPrefix.size());
  // The package's origin is served to the content's own views only.
  if (content) {
    FinishError(request, G_IO_ERROR, G_IO_ERROR_NOT_FOUND,
                "not served: " + uri);
    return;
  }
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest == "call") {
    if (g_strcmp0(method, "POST") == 0) {
      receive(request);
    } else {
      FinishError(request, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT,
                  "calls are POSTed");
    }
    return;
  }
  GCharPtr decoded(g_uri_unescape_string(rest.c_str(), nullptr));
  const std::string path = decoded ? decoded.get() : "";
  if (packageShown_ && (path == "api" || path.rfind("app/package.", 0) == 0 ||
                        path == "app/blank.html"))
    return servePackage(request, path);
  if (path == "app/page.html")
    return FinishBytes(request, kPageHtml, "text/html", kContentSecurityPolicy);
  if (path == "app/page.js")
    return FinishBytes(request, kPageJs, "text/javascript",
                       kContentSecurityPolicy);
  std::string why = "not served";
  if (path.rfind("ruffle/", 0) == 0) {
    return serveRuffle(request, path);
  } else if (path.rfind("file/", 0) == 0) {
    const std::string native =
        std::filesystem::path(path.substr(4)).lexically_normal().string();
    if (auto it = virtualFiles_.find(native); it != virtualFiles_.end()) {
      // Once: the emulator reads a bridge movie once, and nothing else in
      // the page gets to read the player's token in it.
      std::string bytes = std::move(it->second);
      virtualFiles_.erase(it);
      return FinishBytes(request, std::move(bytes), ContentType(native),
                         kContentSecurityPolicy);
    }
    for (const std::string& root : roots_) {
      const std::string file = ResolveInside(native, root, why);
      if (!file.empty()) {
        if (ServeFile(request, file, why, kContentSecurityPolicy)) return;
        break;
      }
    }
    char resolved[PATH_MAX];
    if (realpath(native.c_str(), resolved) && allowedFiles_.count(resolved) &&
        ServeFile(request, resolved, why, kContentSecurityPolicy))
      return;
  }
  FinishError(request, G_IO_ERROR, G_IO_ERROR_NOT_FOUND,
              "not served: " + uri + ": " + why);
}

void MoviePage::serveRuffle(WebKitURISchemeRequest* request,
                            const std::string& path) {
  std::string why = "not served";
  const std::string wanted = ruffleDir_ + "/" + path.substr(7);
  const std::string file = ResolveInside(wanted, ruffleDir_, why);
  if (!file.empty() && ServeFile(request, file, why, kContentSecurityPolicy)) {
    if (g_str_has_suffix(file.c_str(), ".wasm")) wasmServed_ = file;
    return;
  }
  // The emulator does not start without its files: load() names the first
  // one it could not have.
  if (emulatorProblem_.empty())
    emulatorProblem_ = SystemErrorMessage("read file", wanted, why);
  FinishError(request, G_IO_ERROR, G_IO_ERROR_NOT_FOUND,
              "not served: " + path + ": " + why);
}

void MoviePage::warn(const std::string& line) {
  if (onWarning) onWarning(line);
}

void MoviePage::enter(int& counter) {
  const bool was = busy();
  ++counter;
  if (!was && onBusy) onBusy(true);
}

void MoviePage::leave(int& counter) {
  --counter;
  if (!busy() && onBusy) onBusy(false);
}

bool MoviePage::waitFor(const std::function<bool()>& done, int timeoutMs) {
  enter(waits_);
  const gint64 deadline = g_get_monotonic_time() + gint64{timeoutMs} * 1000;
  // Wakes the loop now and then so that the deadline is seen.
  const guint tick = g_timeout_add(
      50, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!done() && g_get_monotonic_time() < deadline)
    g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
  leave(waits_);
  return done();
}

}  // namespace zept::desktop
