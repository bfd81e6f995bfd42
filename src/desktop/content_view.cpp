// A launch's content in a web view of its own: a browser context made for
// the launch (its own web process, storage, cookies and history, gone with
// it), under the same network rules and content filter as the page, and
// reaching the program only through the package's origin.

#include <utility>

#include "desktop/content_policy.h"
#include "desktop/content_server.h"
#include "desktop/languages.h"
#include "desktop/package_view.h"
#include "desktop/page.h"
#include "util/utf8.h"

namespace zept::desktop {

namespace {

constexpr char kLeftUri[] = "zept://content/app/blank.html";

}  // namespace

std::string MoviePage::contentOrigin() {
  if (!server_) {
    server_ = std::make_unique<ContentServer>();
    contentError_ = server_->error();
    originPrefix_ = server_->origin() + "/";
    server_->onRequest = [this](SoupServerMessage* msg,
                                const std::string& path) {
      if (!packageShown_) return HttpNotFound(msg, "not served");
      serveContent(msg, path);
    };
  }
  return server_->origin();
}

std::string MoviePage::inOrigin(std::string text) {
  const std::string origin = contentOrigin();
  // Plain, and percent-encoded as in a launch address's query.
  GCharPtr encoded(g_uri_escape_string(origin.c_str(), nullptr, FALSE));
  const std::pair<std::string_view, std::string> kForms[] = {
      {"zept://content", origin},
      {"zept%3A%2F%2Fcontent", encoded.get()},
      {"zept%3a%2f%2fcontent", encoded.get()}};
  for (const auto& [logical, served] : kForms)
    for (std::size_t at = text.find(logical); at != std::string::npos;
         at = text.find(logical, at + served.size()))
      text.replace(at, logical.size(), served);
  return text;
}

WebKitWebContext* MoviePage::makeContentContext() {
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  // Everything goes to the dead proxy but the package's own origin.
  applyNetworkRules(context, server_ ? server_->origin().substr(7) : "");
  // Content learns the learner's language as a browser tells it.
  SetPreferredLanguages(context);
  // Its files are on this machine: a browser's memory caches would only
  // hold a second copy of them.
  webkit_web_context_set_cache_model(context,
                                     WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  // The launch's API calls; a context that outlives its launch (a view
  // still going) reaches nothing.
  if (contentLink_) *contentLink_ = nullptr;
  contentLink_ = new MoviePage*(this);
  webkit_web_context_register_uri_scheme(
      context, "zept", HandleContentCall, contentLink_,
      [](gpointer link) { delete static_cast<MoviePage**>(link); });
  webkit_security_manager_register_uri_scheme_as_cors_enabled(
      webkit_web_context_get_security_manager(context), "zept");
  // zept's media extension: sound plays silently to its end where there is
  // no sound device (the page's media settle), as in the movie page.
  if (!extensionsDir_.empty()) {
    webkit_web_context_set_web_extensions_directory(context,
                                                    extensionsDir_.c_str());
    g_signal_connect(context, "user-message-received",
                     G_CALLBACK(OnMediaMessage), this);
  }
  return context;
}

void MoviePage::addContentScript(const std::string& source) {
  contentScripts_.push_back(source);
}

WebKitWebView* MoviePage::openContent(const std::string& address,
                                      std::string given, bool placed) {
  dropContent();
  const std::string origin = contentOrigin();
  if (origin.empty()) {
    warn(contentError_);
    return nullptr;
  }
  contentContext_.reset(makeContentContext());
  contentGiven_ = std::move(given);
  GObjectPtr<WebKitUserContentManager> manager(
      webkit_user_content_manager_new());
  if (filterObject_)
    webkit_user_content_manager_add_filter(manager.get(), filterObject_);
  AddPackageFrameScripts(manager.get(),
                         [this](std::string text) { return inOrigin(text); });
  for (const std::string& source : contentScripts_) {
    WebKitUserScript* script = webkit_user_script_new(
        inOrigin(source).c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager.get(), script);
    webkit_user_script_unref(script);
  }
  // While a page is being left, WebKit refuses synchronous requests: the
  // calls its unload handlers make come this way instead, unanswered.
  webkit_user_content_manager_register_script_message_handler(manager.get(),
                                                              "zeptApi");
  g_signal_connect(manager.get(), "script-message-received::zeptApi",
                   G_CALLBACK(OnPostedCall), this);
  // Narrated pages start their sound themselves, with no click first.
  GObjectPtr<WebKitWebsitePolicies> policies(WEBKIT_WEBSITE_POLICIES(
      g_object_new(WEBKIT_TYPE_WEBSITE_POLICIES, "autoplay",
                   WEBKIT_AUTOPLAY_ALLOW, nullptr)));
  auto* view = WEBKIT_WEB_VIEW(g_object_new(
      WEBKIT_TYPE_WEB_VIEW, "web-context", contentContext_.get(),
      "user-content-manager", manager.get(), "website-policies",
      policies.get(), nullptr));
  contentView_ = view;
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  // Content that opens its pages in a window of their own does so as it
  // loads, not only on a click.
  webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
  // Pages that do not say their encoding were mostly written on Windows,
  // and are read as browsers read them.
  webkit_settings_set_default_charset(settings, "windows-1252");
  // Full screen would cover zept's controls beside the view: the pages see
  // none, as in a browser that has none, and play in their place.
  webkit_settings_set_enable_fullscreen(settings, FALSE);
  webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
  // A page kept for going back would never hear that it is left: its unload
  // handlers (where content says its last values) must run.
  webkit_settings_set_enable_page_cache(settings, FALSE);
  webkit_settings_set_enable_write_console_messages_to_stdout(
      settings, std::getenv("ZEPT_PAGE_CONSOLE") != nullptr);
  LetPackageViewDraw(view);
  g_signal_connect(view, "load-changed",
                   G_CALLBACK(+[](WebKitWebView* from, WebKitLoadEvent event,
                                  gpointer self) {
                     static_cast<MoviePage*>(self)->contentLoadChanged(from,
                                                                       event);
                   }),
                   this);
  g_signal_connect(
      view, "decide-policy",
      G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision,
                     WebKitPolicyDecisionType type, gpointer self) -> gboolean {
        if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(
                WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const char* uri = webkit_uri_request_get_uri(
            webkit_navigation_action_get_request(action));
        auto* page = static_cast<MoviePage*>(self);
        // An AU that is done goes to the return address its launch gave it,
        // in its frame or at the top: the screens take the learner back.
        page->lastAsked_ = uri ? uri : "";
        if (uri && !page->contentReturnTo.empty() &&
            g_str_has_prefix(uri, page->contentReturnTo.c_str())) {
          page->returning_ = true;
          page->laterReturned();
          return FALSE;
        }
        // The package's pages move between their own files (and frames
        // start at about:blank); a link out of it is named.
        if (uri && (g_str_has_prefix(uri, page->originPrefix_.c_str()) ||
                    g_str_has_prefix(uri, "about:") ||
                    g_str_has_prefix(uri, "blob:") ||
                    g_str_has_prefix(uri, "data:")))
          return FALSE;
        page->warn(
            "a page of the package tried to open " +
            Utf8Prefix(uri ? uri : "", 200) +
            ", which is not part of it: zept plays offline");
        webkit_policy_decision_ignore(decision);
        return TRUE;
      }),
      this);
  g_signal_connect(
      view, "web-process-terminated",
      G_CALLBACK(+[](WebKitWebView* from,
                     WebKitWebProcessTerminationReason reason, gpointer self) {
        auto* page = static_cast<MoviePage*>(self);
        if (from != page->contentView_) return;
        const char* why =
            reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "out of memory"
            : reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API
                ? "ended by the program"
                : "crashed";
        if (page->closeDone_) return page->finishClose();
        if (page->onContentEnded) page->onContentEnded(why);
      }),
      this);
  g_signal_connect(view, "destroy",
                   G_CALLBACK(+[](GtkWidget* gone, gpointer self) {
                     auto* page = static_cast<MoviePage*>(self);
                     if (WEBKIT_WEB_VIEW(gone) == page->contentView_)
                       page->contentGone();
                   }),
                   this);
  g_signal_connect(
      view, "context-menu",
      G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                     WebKitHitTestResult*, gpointer) { return TRUE; }),
      nullptr);
  gtk_widget_show(GTK_WIDGET(view));
  if (onContentView) onContentView(view, placed);
  contentTarget_ = inOrigin(address);
  returning_ = false;
  contentOpenedAt_ = g_get_monotonic_time();
  // Every request of the launch carries its secret, in a cookie its pages
  // cannot read; the page loads once the browser holds it.
  SoupCookie* cookie =
      soup_cookie_new(kLaunchCookie, server_->newSecret().c_str(), "127.0.0.1",
                      "/", -1);
  soup_cookie_set_http_only(cookie, TRUE);
  soup_cookie_set_same_site_policy(cookie, SOUP_SAME_SITE_POLICY_STRICT);
  const unsigned launch = ++contentLaunches_;
  webkit_cookie_manager_add_cookie(
      webkit_website_data_manager_get_cookie_manager(
          webkit_web_context_get_website_data_manager(contentContext_.get())),
      cookie, nullptr,
      +[](GObject* manager, GAsyncResult* result, gpointer data) {
        webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(manager),
                                                result, nullptr);
        auto* link =
            static_cast<std::pair<std::shared_ptr<MoviePage*>, unsigned>*>(
                data);
        MoviePage* page = *link->first;
        if (page && page->contentView_ &&
            page->contentLaunches_ == link->second) {
          page->contentLoadAsked_ = true;
          webkit_web_view_load_uri(page->contentView_,
                                   page->contentTarget_.c_str());
        }
        delete link;
      },
      new std::pair<std::shared_ptr<MoviePage*>, unsigned>(alive_, launch));
  soup_cookie_free(cookie);
  return view;
}

void MoviePage::contentLoadChanged(WebKitWebView* view, WebKitLoadEvent event) {
  if (view != contentView_) return;
  const char* uri = webkit_web_view_get_uri(view);
  // The content's top page is the program's to change: the load that
  // starts next after the program asked for one is its own (a page's
  // address is not known yet as its load starts). An AU going to its
  // return address is done (and said so); any other page taking the top
  // would take the launch's runtime with it, and is stopped.
  if (event == WEBKIT_LOAD_STARTED) {
    contentLoaded_ = false;
    if (std::exchange(contentLoadAsked_, false) || returning_) return;
    warn("a page of the package tried to load " + Utf8Prefix(lastAsked_, 200) +
         " in place of the page that holds its runtime: it was stopped");
    webkit_web_view_stop_loading(view);
    return;
  }
  if (event != WEBKIT_LOAD_FINISHED) return;
  if (leaveSource_) return startLeaving();
  contentLoaded_ = true;
  if (closeDone_ && contentTarget_ == (uri ? uri : "")) {
    // What the page sent as it went (keepalive requests, beacons) arrives
    // by another way than the load: the leaving ends once it has.
    if (server_ && server_->lastArrived() < lastExpected_ && !closeQuiet_) {
      closeQuiet_ = g_timeout_add(
          20,
          +[](gpointer self) -> gboolean {
            auto* page = static_cast<MoviePage*>(self);
            if (page->server_->lastArrived() < page->lastExpected_)
              return G_SOURCE_CONTINUE;
            page->closeQuiet_ = 0;
            page->finishClose();
            return G_SOURCE_REMOVE;
          },
          this);
      return;
    }
    finishClose();
  }
}

void MoviePage::laterReturned() {
  if (returnSource_) return;
  returnSource_ = g_idle_add(
      +[](gpointer self) -> gboolean {
        auto* page = static_cast<MoviePage*>(self);
        page->returnSource_ = 0;
        if (page->onContentReturned) page->onContentReturned();
        return G_SOURCE_REMOVE;
      },
      this);
}

void MoviePage::closeContent(std::function<void()> done, int timeoutMs) {
  if (!contentView_) {
    done();
    return;
  }
  if (closeDone_) finishClose();
  closeDone_ = std::move(done);
  // WebKit runs no unload handler of a page left before it has finished
  // loading: a leaving then waits for that, a second at most.
  if (contentLoaded_)
    startLeaving();
  else
    leaveSource_ = g_timeout_add(
        1000,
        +[](gpointer self) -> gboolean {
          static_cast<MoviePage*>(self)->leaveSource_ = 0;
          static_cast<MoviePage*>(self)->startLeaving();
          return G_SOURCE_REMOVE;
        },
        this);
  closeTimeout_ = g_timeout_add(
      static_cast<guint>(timeoutMs),
      +[](gpointer self) -> gboolean {
        auto* page = static_cast<MoviePage*>(self);
        page->closeTimeout_ = 0;
        page->warn("the content's page did not finish leaving in time");
        page->finishClose();
        return G_SOURCE_REMOVE;
      },
      this);
}

void MoviePage::startLeaving() {
  if (leaveSource_) g_source_remove(std::exchange(leaveSource_, 0));
  if (!contentView_) return;
  // The page is left as a browser leaves it: its unload handlers run, and
  // what they post (in order, on the same channel as the load) has come
  // when the next page has loaded.
  contentTarget_ = inOrigin(kLeftUri);
  contentLoadAsked_ = true;
  webkit_web_view_load_uri(contentView_, contentTarget_.c_str());
}

void MoviePage::finishClose() {
  if (leaveSource_) g_source_remove(std::exchange(leaveSource_, 0));
  if (closeTimeout_) g_source_remove(std::exchange(closeTimeout_, 0));
  if (closeQuiet_) g_source_remove(std::exchange(closeQuiet_, 0));
  // Requests that never came are not waited for again.
  if (server_) lastExpected_ = server_->lastArrived();
  std::function<void()> done = std::move(closeDone_);
  closeDone_ = nullptr;
  dropContent();
  if (done) done();
}

void MoviePage::contentGone() {
  contentView_ = nullptr;
  if (leaveSource_) g_source_remove(std::exchange(leaveSource_, 0));
  // A view closed with its window (an AU's own) has left as it goes.
  if (closeDone_) {
    if (closeTimeout_) g_source_remove(std::exchange(closeTimeout_, 0));
    std::function<void()> done = std::move(closeDone_);
    closeDone_ = nullptr;
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        +[](gpointer action) -> gboolean {
          (*static_cast<std::function<void()>*>(action))();
          return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(done)), +[](gpointer action) {
          delete static_cast<std::function<void()>*>(action);
        });
  }
}

void MoviePage::dropContent() {
  if (returnSource_) g_source_remove(std::exchange(returnSource_, 0));
  if (leaveSource_) g_source_remove(std::exchange(leaveSource_, 0));
  contentLoaded_ = false;
  contentGiven_.clear();
  contentOpenedAt_ = 0;
  if (contentView_) {
    WebKitWebView* view = std::exchange(contentView_, nullptr);
    g_signal_handlers_disconnect_by_data(view, this);
    g_signal_handlers_disconnect_by_data(
        webkit_web_view_get_user_content_manager(view), this);
    GtkWidget* window = gtk_widget_get_toplevel(GTK_WIDGET(view));
    // A view in a window of its own goes with its window.
    if (GTK_IS_WINDOW(window) && gtk_bin_get_child(GTK_BIN(window)) ==
                                     GTK_WIDGET(view))
      gtk_widget_destroy(window);
    else
      gtk_widget_destroy(GTK_WIDGET(view));
  }
  if (server_) server_->forgetSecret();
  if (contentLink_) *std::exchange(contentLink_, nullptr) = nullptr;
  if (contentContext_) {
    g_signal_handlers_disconnect_by_data(contentContext_.get(), this);
    contentContext_.reset();
  }
}

}  // namespace zept::desktop
