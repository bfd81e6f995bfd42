#include "desktop/content_policy.h"

#include <cerrno>
#include <filesystem>
#include <string>

#include "desktop/gobject.h"
#include "desktop/page.h"

namespace zept::desktop {

// On every response of the scheme: the page and its workers load and
// connect through the scheme alone (workers and media also from blob: URLs
// the page makes). Scripts get no 'unsafe-inline', so a javascript: URL
// does not run; the emulator compiles its wasm, and its ExternalInterface
// makes a function of the name a movie calls ('unsafe-eval').
const char kContentSecurityPolicy[] =
    "default-src 'none'; script-src zept: 'wasm-unsafe-eval' 'unsafe-eval'; "
    "connect-src zept:; img-src zept: data: blob:; media-src zept: blob:; "
    "font-src zept: data:; style-src zept: 'unsafe-inline'; "
    "worker-src blob:; frame-src 'none'; object-src 'none'; base-uri 'none'; "
    "form-action 'none'";

// The package's screens: their own script only and their own calls; the
// SCO plays in a view of its own beside them.
const char kPackagePagePolicy[] =
    "default-src 'none'; script-src zept://z/app/package.js; "
    "connect-src zept://z/api; style-src zept://z/app/ 'unsafe-inline'; "
    "img-src zept://z/app/ data:; frame-src 'none'; "
    "object-src 'none'; base-uri 'none'; form-action 'none'";
// The page that holds the SCO's page and its API, the top of the
// content's view: its own script, its calls, and the package's pages.
const char kPackageHostPolicy[] =
    "default-src 'none'; script-src zept://content/app/host.js; "
    "connect-src zept://call/api zept://content/api; "
    "style-src 'unsafe-inline'; frame-src zept://content/ data: blob:; "
    "object-src 'none'; "
    "base-uri 'none'; form-action 'none'";
// A package's own pages: what HTML content is written with (inline scripts
// and handlers, eval, frames, forms), from the package's origin only; the
// emulator for the movies they embed, also a movie the page made itself
// (blob: URLs are bound to the origin that made them).
const char kPackageContentPolicy[] =
    "default-src zept://content/ data: blob:; "
    "script-src zept://content/ 'unsafe-inline' 'unsafe-eval' "
    "'wasm-unsafe-eval' blob:; "
    "style-src zept://content/ 'unsafe-inline'; "
    "img-src zept://content/ data: blob:; "
    "media-src zept://content/ data: blob:; font-src zept://content/ data:; "
    "connect-src zept://content/ zept://call/lrs/ data: blob:; "
    "frame-src zept://content/ data: blob:; worker-src zept://content/ blob:; "
    "object-src zept://content/ blob:; form-action zept://content/";

namespace {

// WebKit's content filter behind the policy: every load but those of the
// scheme and of the blob: and data: URLs the page makes is blocked before
// it leaves, whoever asks for it.
constexpr char kContentFilter[] = R"([
{"trigger": {"url-filter": ".*"}, "action": {"type": "block"}},
{"trigger": {"url-filter": "^zept:"}, "action": {"type": "ignore-previous-rules"}},
{"trigger": {"url-filter": "^http://127\\.0\\.0\\.1:[0-9]+/"}, "action": {"type": "ignore-previous-rules"}},
{"trigger": {"url-filter": "^blob:"}, "action": {"type": "ignore-previous-rules"}},
{"trigger": {"url-filter": "^data:"}, "action": {"type": "ignore-previous-rules"}}
])";

// A package's page that embeds a movie (object or embed, now or later) gets
// the emulator, which plays it in place; pages without one never load it.
// Before a package's page runs: what it asks of the network is named to the
// program, so a course team sees why a page looks bare (zept plays offline);
// an emulator that crashes is said to the screens, which tell the learner;
// document.cookie keeps the learner's cookies in the program, as WebKit
// keeps none for zept's scheme; and the browser says it has the Flash
// plugin to pages that name a movie (.swf) in their own text, as the
// scripts that write a page's movie (SWFObject and the like) look for it
// before they write the element the emulator then plays. A page that only
// looks for the plugin, to choose between its Flash and HTML5 outputs, is
// told there is none and takes its HTML5 one.
constexpr char kAtStartInFrames[] = R"(
if (location.origin === "zept://content" &&
    location.pathname.startsWith("/pkg/")) {
  const apply = Reflect.apply;
  // Said to the program, which alone tells the screens.
  const tell = (message) => ask(message);
  document.addEventListener("securitypolicyviolation", (event) => {
    tell(["blocked", location.pathname, String(event.blockedURI)]);
  });
  // A trap of the emulator's module (its memory overrun, a panic) or its
  // stack exhausted: nothing of its movies plays after that.
  let crashed = false;
  const crash = (error, where) => {
    if (crashed || !(error instanceof WebAssembly.RuntimeError ||
                     error instanceof RangeError))
      return;
    const stack = String(error.stack || "");
    if (!String(where || "").startsWith("zept://content/ruffle/") &&
        !stack.includes("zept://content/ruffle/"))
      return;
    crashed = true;
    let page = location.pathname.substring(5);
    try {
      page = decodeURIComponent(page);
    } catch (e) {}
    tell(["crashed", location.pathname, error.name + ": " + error.message,
          page]);
  };
  window.addEventListener("error", (event) => crash(event.error,
                                                    event.filename));
  window.addEventListener("unhandledrejection", (event) => crash(event.reason));

  const Request = XMLHttpRequest;
  const open = Request.prototype.open;
  const send = Request.prototype.send;
  const status = Object.getOwnPropertyDescriptor(Request.prototype, "status").get;
  const answer =
      Object.getOwnPropertyDescriptor(Request.prototype, "responseText").get;
  const stringify = JSON.stringify;
  const path = location.pathname;
  // WebKit refuses synchronous requests while a page is being left, where
  // content sends its last statements (as browsers once all allowed): such
  // a request goes out as a keepalive one instead, which outlives the page,
  // unanswered.
  let leaving = false;
  window.addEventListener("pagehide", () => { leaving = true; }, true);
  window.addEventListener("unload", () => { leaving = true; }, true);
  const setHeader = Request.prototype.setRequestHeader;
  const asked = new WeakMap();
  const original = window.fetch;
  const Headers_ = Headers;
  const assign = Object.assign;
  // A request that may outlive its page (keepalive, a beacon) is said to
  // the program first, by the channel that reaches it before the page's
  // leaving does, and marked: the leaving waits for it to arrive.
  const handlers = window.webkit && window.webkit.messageHandlers;
  const last = handlers && handlers.zeptApi;
  const keep = function (input, init) {
    if (init && init.keepalive) {
      const headers = new Headers_(init.headers || {});
      headers.set("X-Zept-Last", "1");
      init = assign({}, init, {headers});
      try { apply(last.postMessage, last, ["[\"last\"]"]); } catch (e) {}
    }
    return apply(original, window, [input, init]);
  };
  window.fetch = keep;
  try {
    navigator.sendBeacon = (url, data) => {
      try {
        keep(String(url), {method: "POST", body: data === undefined ? null : data,
                           keepalive: true, credentials: "same-origin"});
        return true;
      } catch (e) {
        return false;
      }
    };
  } catch (e) {}
  // The LRS's requests go to the launch's own scheme, answered in the
  // program's process: a synchronous request over the origin opens a new
  // connection each time, several times slower.
  const lrs = "zept://content/lrs/";
  const URL_ = URL;
  const href = Object.getOwnPropertyDescriptor(URL_.prototype, "href").get;
  const startsWith = String.prototype.startsWith;
  const slice = String.prototype.slice;
  Request.prototype.open = function (method, url, async) {
    asked.set(this, {method: String(method), url: String(url),
                     sync: arguments.length > 2 && !async, headers: {}});
    const args = Array.prototype.slice.call(arguments);
    try {
      const full = apply(href, new URL_(String(url), location.href), []);
      if (apply(startsWith, full, [lrs]))
        args[1] = "zept://call/lrs/" + apply(slice, full, [lrs.length]);
    } catch (e) {}
    return apply(open, this, args);
  };
  Request.prototype.setRequestHeader = function (name, value) {
    const request = asked.get(this);
    if (request) request.headers[String(name)] = String(value);
    return apply(setHeader, this, arguments);
  };
  Request.prototype.send = function (body) {
    const request = asked.get(this);
    if (leaving && request && request.sync) {
      try {
        apply(keep, window, [request.url, {method: request.method,
              headers: request.headers, body: body === undefined ? null : body,
              keepalive: true, credentials: "same-origin"}]);
      } catch (e) {}
      return;
    }
    return apply(send, this, arguments);
  };
  const ask = (items) => {
    try {
      const request = new Request();
      apply(open, request, ["POST", "zept://content/page", false]);
      apply(send, request, [stringify(items)]);
      return apply(status, request, []) === 200 ? apply(answer, request, [])
                                                : "";
    } catch (e) {
      return "";
    }
  };
  // A file of the package that failed to load names this page as the one
  // that asked for it.
  window.addEventListener("error", (event) => {
    const element = event.target;
    if (!element || element === window) return;
    const url = element.currentSrc || element.src || element.href ||
                element.data;
    if (typeof url === "string" && url.startsWith("zept://content/pkg/"))
      ask(["missing", path, url]);
  }, true);
  try {
    Object.defineProperty(Document.prototype, "cookie", {
      configurable: true, enumerable: true,
      get: () => ask(["cookie", path]),
      set: (value) => { ask(["cookie", path, String(value)]); },
    });
  } catch (e) {}

  const plugin = {name: "Shockwave Flash", filename: "ruffle.js",
                  description: "Shockwave Flash 32.0 r0", version: "32.0.0.0",
                  length: 1};
  const mime = {type: "application/x-shockwave-flash", suffixes: "swf",
                description: "Shockwave Flash", enabledPlugin: plugin};
  plugin[0] = mime;
  plugin.item = () => mime;
  plugin.namedItem = () => mime;
  const list = (entry, name) => {
    const all = {length: 1, 0: entry, refresh() {},
                 item: (i) => (i === 0 ? entry : null),
                 namedItem: (n) => (n === name ? entry : null)};
    all[name] = entry;
    return all;
  };
  const plugins = list(plugin, "Shockwave Flash");
  const mimeTypes = list(mime, "application/x-shockwave-flash");
  let namesMovie = null;
  const announced = (flash, own) => function () {
    if (namesMovie === null) namesMovie = ask(["flash", path]) === "1";
    return namesMovie ? flash : apply(own, this, []);
  };
  const own = (name) =>
      Object.getOwnPropertyDescriptor(Navigator.prototype, name).get;
  try {
    Object.defineProperty(Navigator.prototype, "plugins",
                          {get: announced(plugins, own("plugins"))});
    Object.defineProperty(Navigator.prototype, "mimeTypes",
                          {get: announced(mimeTypes, own("mimeTypes"))});
  } catch (e) {}
}
)";
constexpr char kEmulatorInFrames[] = R"(
(() => {
  if (location.origin !== "zept://content" ||
      !location.pathname.startsWith("/pkg/"))
    return;
  let loading = false;
  const load = () => {
    if (loading) return;
    loading = true;
    window.RufflePlayer = window.RufflePlayer || {};
    window.RufflePlayer.config = Object.assign(
        {publicPath: "zept://content/ruffle/", polyfills: true, autoplay: "on",
         unmuteOverlay: "hidden", splashScreen: false, letterbox: "on",
         allowScriptAccess: true, warnOnUnsupportedContent: false,
         openUrlMode: "deny"},
        window.RufflePlayer.config || {});
    const script = document.createElement("script");
    script.src = "zept://content/ruffle/ruffle.js";
    (document.head || document.documentElement).appendChild(script);
  };
  const movies = "object, embed";
  if (document.querySelector(movies)) return load();
  const watch = new MutationObserver(() => {
    if (document.querySelector(movies)) {
      watch.disconnect();
      load();
    }
  });
  watch.observe(document.documentElement, {childList: true, subtree: true});
})();
)";

}  // namespace

void AddPackageFrameScripts(
    WebKitUserContentManager* content,
    const std::function<std::string(std::string)>& inOrigin) {
  WebKitUserScript* script = webkit_user_script_new(
      inOrigin(kEmulatorInFrames).c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
  script = webkit_user_script_new(
      inOrigin(kAtStartInFrames).c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
}

// The content filter on its way: loaded from its store, or compiled into it
// when it is not there yet (or was made by another WebKit). The page it was
// for is null once that page is gone.
struct MoviePage::FilterJob {
  MoviePage* page;
  GObjectPtr<WebKitUserContentFilterStore> store;
  std::string identifier;
  bool temporary;  // the store is this page's own, in a temporary folder

  void load() {
    webkit_user_content_filter_store_load(
        store.get(), identifier.c_str(), nullptr,
        [](GObject* store, GAsyncResult* result, gpointer self) {
          auto* job = static_cast<FilterJob*>(self);
          GError* error = nullptr;
          WebKitUserContentFilter* filter =
              webkit_user_content_filter_store_load_finish(
                  WEBKIT_USER_CONTENT_FILTER_STORE(store), result, &error);
          if (error) g_error_free(error);
          if (filter || !job->page) return job->finish(filter, nullptr);
          job->save();
        },
        this);
  }

  void save() {
    GBytes* rules =
        g_bytes_new_static(kContentFilter, sizeof kContentFilter - 1);
    webkit_user_content_filter_store_save(
        store.get(), identifier.c_str(), rules, nullptr,
        [](GObject* store, GAsyncResult* result, gpointer self) {
          auto* job = static_cast<FilterJob*>(self);
          GError* error = nullptr;
          WebKitUserContentFilter* filter =
              webkit_user_content_filter_store_save_finish(
                  WEBKIT_USER_CONTENT_FILTER_STORE(store), result, &error);
          // A cache folder it cannot write to: the page's own will do.
          if (!filter && job->page && !job->temporary &&
              job->page->useTemporaryFilterStore()) {
            g_error_free(error);
            job->store.reset(webkit_user_content_filter_store_new(
                job->page->temporaryFilterDir_.c_str()));
            job->temporary = true;
            return job->save();
          }
          job->finish(filter, error);
        },
        this);
    g_bytes_unref(rules);
  }

  // Hands the filter (or the error) over, and ends the job.
  void finish(WebKitUserContentFilter* filter, GError* error) {
    if (page) page->filterDone(filter, error);
    if (filter) webkit_user_content_filter_unref(filter);
    if (error) g_error_free(error);
    if (page) page->filterJob_ = nullptr;
    delete this;
  }
};

void MoviePage::startFilter() {
  // Compiled once, kept in the user's cache under a name that changes with
  // the rules, and loaded from there by later starts.
  GCharPtr digest(
      g_compute_checksum_for_string(G_CHECKSUM_SHA256, kContentFilter, -1));
  const std::string identifier =
      std::string("zept-page-") + std::string(digest.get()).substr(0, 16);
  GCharPtr folder(g_build_filename(g_get_user_cache_dir(), "zept",
                                   "content-filters", nullptr));
  auto* job = new FilterJob{this, nullptr, identifier, false};
  filterJob_ = job;
  if (g_mkdir_with_parents(folder.get(), 0700) == 0) {
    job->store.reset(webkit_user_content_filter_store_new(folder.get()));
  } else if (useTemporaryFilterStore()) {
    job->store.reset(
        webkit_user_content_filter_store_new(temporaryFilterDir_.c_str()));
    job->temporary = true;
  } else {
    job->finish(nullptr,
                g_error_new(G_IO_ERROR, g_io_error_from_errno(errno),
                            "no folder to keep it in: %s", g_strerror(errno)));
    return;
  }
  job->load();
}

bool MoviePage::useTemporaryFilterStore() {
  if (!temporaryFilterDir_.empty()) return false;  // tried already
  GError* error = nullptr;
  GCharPtr folder(g_dir_make_tmp("zept-filter-XXXXXX", &error));
  if (!folder) {
    g_error_free(error);
    return false;
  }
  temporaryFilterDir_ = folder.get();
  return true;
}

void MoviePage::endFilter() {
  if (filterJob_) filterJob_->page = nullptr;
  if (!temporaryFilterDir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(temporaryFilterDir_, ignored);
  }
}

void MoviePage::filterDone(WebKitUserContentFilter* filter, GError* error) {
  if (filter) {
    webkit_user_content_manager_add_filter(content_.get(), filter);
    // Each launch's content view gets it too.
    filterObject_ = webkit_user_content_filter_ref(filter);
    filter_ = FilterState::kInPlace;
  } else {
    filter_ = FilterState::kFailed;
    filterError_ = std::string(
                       "the movie page's content filter could not be "
                       "made: ") +
                   (error ? error->message : "unknown error");
  }
}

}  // namespace zept::desktop
