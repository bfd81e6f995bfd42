#include "desktop/page.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "desktop/json_strings.h"
#include "desktop/page_resources.h"
#include "platform/errors.h"

namespace zept::desktop {

namespace {

constexpr char kPageUri[] = "zept://z/app/page.html";
constexpr char kPackagePageUri[] = "zept://z/app/package.html";

// A package's page that embeds a movie (object or embed, now or later) gets
// the emulator, which plays it in place; pages without one never load it.
// Before a package's page runs: what it asks of the network is named to the
// program, so a course team sees why a page looks bare (zept plays offline);
// and the browser says it has the Flash plugin, as the scripts that write a
// page's movie (SWFObject and the like) look for it before they write the
// element the emulator then plays.
constexpr char kAtStartInFrames[] = R"(
if (location.protocol === "zept:" && location.pathname.startsWith("/pkg/")) {
  document.addEventListener("securitypolicyviolation", (event) => {
    try {
      if (window.top.zeptBlocked) window.top.zeptBlocked(String(event.blockedURI));
    } catch (e) {}
  });
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
  try {
    Object.defineProperty(Navigator.prototype, "plugins", {get: () => plugins});
    Object.defineProperty(Navigator.prototype, "mimeTypes", {get: () => mimeTypes});
  } catch (e) {}
}
)";

constexpr char kEmulatorInFrames[] = R"(
(() => {
  if (location.protocol !== "zept:" || !location.pathname.startsWith("/pkg/"))
    return;
  let loading = false;
  const load = () => {
    if (loading) return;
    loading = true;
    window.RufflePlayer = window.RufflePlayer || {};
    window.RufflePlayer.config = Object.assign(
        {publicPath: "zept://z/ruffle/", polyfills: true, autoplay: "on",
         unmuteOverlay: "hidden", splashScreen: false, letterbox: "on",
         allowScriptAccess: true, warnOnUnsupportedContent: false,
         openUrlMode: "deny"},
        window.RufflePlayer.config || {});
    const script = document.createElement("script");
    script.src = "zept://z/ruffle/ruffle.js";
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
// How long the program waits on the page before it gives an op up.
constexpr int kOpTimeoutMs = 10000;
// How long a message waits for an earlier one that has not come: briefly
// when the page waits on it, longer when nothing is held but the order.
constexpr int kGapMs = 500;
constexpr int kFreeGapMs = 3000;
// How many numbers of a gap are remembered, to take their messages late.
constexpr long kLateKept = 64;
// How far ahead of the next expected number a message may be.
constexpr long kMaxAhead = 1 << 20;

// On every response of the scheme: the page and its workers load and
// connect through the scheme alone (workers and media also from blob: URLs
// the page makes). Scripts get no 'unsafe-inline', so a javascript: URL
// does not run; the emulator compiles its wasm, and its ExternalInterface
// makes a function of the name a movie calls ('unsafe-eval').
constexpr char kContentSecurityPolicy[] =
    "default-src 'none'; script-src zept: 'wasm-unsafe-eval' 'unsafe-eval'; "
    "connect-src zept:; img-src zept: data: blob:; media-src zept: blob:; "
    "font-src zept: data:; style-src zept: 'unsafe-inline'; "
    "worker-src blob:; frame-src 'none'; object-src 'none'; base-uri 'none'; "
    "form-action 'none'";

// The package's screens: their own script and a frame for the SCO.
constexpr char kPackagePagePolicy[] =
    "default-src 'none'; script-src zept:; connect-src zept:; "
    "style-src zept: 'unsafe-inline'; img-src zept: data:; frame-src zept:; "
    "base-uri 'none'; form-action 'none'";
// A package's own pages: what HTML content is written with (inline scripts
// and handlers, eval, frames, forms), from the package only; the emulator
// for the movies they embed.
constexpr char kPackageContentPolicy[] =
    "default-src zept: data: blob:; "
    "script-src zept: 'unsafe-inline' 'unsafe-eval' 'wasm-unsafe-eval' blob:; "
    "style-src zept: 'unsafe-inline'; img-src zept: data: blob:; "
    "media-src zept: data: blob:; font-src zept: data:; "
    "connect-src zept: data: blob:; frame-src zept: data: blob:; "
    "worker-src zept: blob:; object-src zept:; form-action zept:";

// WebKit's content filter behind the policy: every load but those of the
// scheme and of the blob: and data: URLs the page makes is blocked before
// it leaves, whoever asks for it.
constexpr char kContentFilter[] = R"([
{"trigger": {"url-filter": ".*"}, "action": {"type": "block"}},
{"trigger": {"url-filter": "^zept:"}, "action": {"type": "ignore-previous-rules"}},
{"trigger": {"url-filter": "^blob:"}, "action": {"type": "ignore-previous-rules"}},
{"trigger": {"url-filter": "^data:"}, "action": {"type": "ignore-previous-rules"}}
])";

std::string ContentType(const std::string& path) {
  const std::string ext = std::filesystem::path(path).extension().string();
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html"},        {".js", "text/javascript"},
      {".wasm", "application/wasm"}, {".swf", "application/x-shockwave-flash"},
      {".png", "image/png"},         {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},       {".gif", "image/gif"},
      {".xml", "text/xml"},          {".json", "application/json"},
      {".mp3", "audio/mpeg"},        {".flv", "video/x-flv"},
      {".txt", "text/plain"},        {".htm", "text/html"},
      {".css", "text/css"},          {".svg", "image/svg+xml"},
      {".mp4", "video/mp4"},         {".webm", "video/webm"},
      {".ogg", "audio/ogg"},         {".wav", "audio/wav"},
      {".woff", "font/woff"},        {".woff2", "font/woff2"},
      {".ttf", "font/ttf"},          {".pdf", "application/pdf"},
      {".xsd", "text/xml"},          {".dtd", "text/plain"}};
  for (const auto& [e, type] : kTypes) {
    if (g_ascii_strcasecmp(ext.c_str(), e) == 0) return type;
  }
  return "application/octet-stream";
}

// The resolved path when it lies inside folder (both resolved), else ""
// and why not.
std::string ResolveInside(const std::string& path, const std::string& folder,
                          std::string& why) {
  char resolved[PATH_MAX];
  char base[PATH_MAX];
  if (!realpath(path.c_str(), resolved) || !realpath(folder.c_str(), base)) {
    why = std::strerror(errno);
    return "";
  }
  std::string inside = base;
  if (inside.back() != '/') inside += '/';
  const std::string file = resolved;
  if (file.compare(0, inside.size(), inside) == 0) return file;
  why = "outside the folders the page may read";
  return "";
}

void FinishError(WebKitURISchemeRequest* request, GQuark domain, int code,
                 const std::string& message) {
  GError* error = g_error_new_literal(domain, code, message.c_str());
  webkit_uri_scheme_request_finish_error(request, error);
  g_error_free(error);
}

// The next `remaining` bytes of a stream: one range of a file.
struct RangeStream {
  GFilterInputStream parent;
  goffset remaining;
};
struct RangeStreamClass {
  GFilterInputStreamClass parent;
};
G_DEFINE_TYPE(RangeStream, zept_range_stream, G_TYPE_FILTER_INPUT_STREAM)

gssize RangeRead(GInputStream* stream, void* buffer, gsize count,
                 GCancellable* cancellable, GError** error) {
  auto* range = reinterpret_cast<RangeStream*>(stream);
  if (range->remaining <= 0) return 0;
  const gssize n = g_input_stream_read(
      G_FILTER_INPUT_STREAM(stream)->base_stream, buffer,
      std::min<goffset>(static_cast<goffset>(count), range->remaining),
      cancellable, error);
  if (n > 0) range->remaining -= n;
  return n;
}

gssize RangeSkip(GInputStream* stream, gsize count, GCancellable* cancellable,
                 GError** error) {
  auto* range = reinterpret_cast<RangeStream*>(stream);
  const gssize n = g_input_stream_skip(
      G_FILTER_INPUT_STREAM(stream)->base_stream,
      std::min<goffset>(static_cast<goffset>(count), range->remaining),
      cancellable, error);
  if (n > 0) range->remaining -= n;
  return n;
}

void zept_range_stream_class_init(RangeStreamClass* type) {
  GInputStreamClass* stream = G_INPUT_STREAM_CLASS(type);
  stream->read_fn = RangeRead;
  stream->skip = RangeSkip;
}

void zept_range_stream_init(RangeStream* range) { range->remaining = 0; }

// A "Range" request header against a body of size bytes (RFC 9110): one
// range of it, none that it can give (416), or the whole body, which is
// also the answer to several ranges or to a header it cannot read.
enum class Ranged { kWhole, kPart, kUnsatisfiable };
Ranged ParseRange(const char* header, goffset size, goffset& first,
                  goffset& last) {
  std::string text = header;
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  if (text.compare(0, 6, "bytes=") != 0 || text.find(',') != std::string::npos)
    return Ranged::kWhole;
  text = text.substr(6);
  const std::size_t dash = text.find('-');
  if (dash == std::string::npos) return Ranged::kWhole;
  // A number that does not fit is as good as infinite.
  const auto number = [](const std::string& digits, goffset& value) {
    if (digits.empty() ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    value = 0;
    for (char c : digits) {
      value =
          value > (G_MAXINT64 - 9) / 10 ? G_MAXINT64 : value * 10 + (c - '0');
    }
    return true;
  };
  const std::string from = text.substr(0, dash), to = text.substr(dash + 1);
  goffset a = 0, b = 0;
  if (from.empty()) {  // the last b bytes
    if (!number(to, b)) return Ranged::kWhole;
    if (b == 0 || size == 0) return Ranged::kUnsatisfiable;
    first = size - std::min(b, size);
    last = size - 1;
    return Ranged::kPart;
  }
  if (!number(from, a)) return Ranged::kWhole;
  if (to.empty()) {
    b = G_MAXINT64;
  } else if (!number(to, b) || b < a) {
    return Ranged::kWhole;
  }
  if (a >= size) return Ranged::kUnsatisfiable;
  first = a;
  last = std::min(b, size - 1);
  return Ranged::kPart;
}

// Answers with size bytes of stream (seekable, at its start), or with the
// one range of them the request asks for.
void Respond(WebKitURISchemeRequest* request, GInputStream* stream,
             goffset size, const std::string& type,
             const char* policy = kContentSecurityPolicy) {
  SoupMessageHeaders* asked =
      webkit_uri_scheme_request_get_http_headers(request);
  const char* range =
      asked ? soup_message_headers_get_one(asked, "Range") : nullptr;
  goffset first = 0, last = size - 1;
  const Ranged ranged =
      range ? ParseRange(range, size, first, last) : Ranged::kWhole;
  GObjectPtr<GInputStream> body = RefObject(stream);
  goffset length = size;
  if (ranged == Ranged::kUnsatisfiable) {
    body.reset(g_memory_input_stream_new());
    length = 0;
  } else if (ranged == Ranged::kPart) {
    GError* error = nullptr;
    if (!g_seekable_seek(G_SEEKABLE(stream), first, G_SEEK_SET, nullptr,
                         &error)) {
      webkit_uri_scheme_request_finish_error(request, error);
      g_error_free(error);
      return;
    }
    length = last - first + 1;
    body.reset(G_INPUT_STREAM(g_object_new(zept_range_stream_get_type(),
                                           "base-stream", stream, nullptr)));
    reinterpret_cast<RangeStream*>(body.get())->remaining = length;
  }
  GObjectPtr<WebKitURISchemeResponse> response(
      webkit_uri_scheme_response_new(body.get(), length));
  SoupMessageHeaders* headers =
      soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  // Streaming compilation of the emulator reads the type from the headers.
  soup_message_headers_replace(headers, "Content-Type", type.c_str());
  soup_message_headers_replace(headers, "Cache-Control", "no-store");
  soup_message_headers_replace(headers, "Content-Security-Policy", policy);
  soup_message_headers_replace(headers, "Accept-Ranges", "bytes");
  soup_message_headers_replace(headers, "Content-Length",
                               std::to_string(length).c_str());
  if (ranged == Ranged::kPart) {
    webkit_uri_scheme_response_set_status(response.get(), 206,
                                          "Partial Content");
    const std::string span = "bytes " + std::to_string(first) + "-" +
                             std::to_string(last) + "/" + std::to_string(size);
    soup_message_headers_replace(headers, "Content-Range", span.c_str());
  } else if (ranged == Ranged::kUnsatisfiable) {
    webkit_uri_scheme_response_set_status(response.get(), 416,
                                          "Range Not Satisfiable");
    const std::string span = "bytes */" + std::to_string(size);
    soup_message_headers_replace(headers, "Content-Range", span.c_str());
  }
  webkit_uri_scheme_response_set_content_type(response.get(), type.c_str());
  webkit_uri_scheme_response_set_http_headers(response.get(), headers);
  webkit_uri_scheme_request_finish_with_response(request, response.get());
}

void FinishBytes(WebKitURISchemeRequest* request, std::string bytes,
                 const std::string& type,
                 const char* policy = kContentSecurityPolicy) {
  auto* owned = new std::string(std::move(bytes));
  GBytes* data = g_bytes_new_with_free_func(
      owned->data(), owned->size(),
      [](gpointer text) { delete static_cast<std::string*>(text); }, owned);
  GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(data));
  const goffset length = static_cast<goffset>(g_bytes_get_size(data));
  g_bytes_unref(data);
  Respond(request, stream.get(), length, type, policy);
}

std::string ReadBody(WebKitURISchemeRequest* request) {
  GObjectPtr<GInputStream> body(
      webkit_uri_scheme_request_get_http_body(request));
  std::string out;
  if (!body) return out;
  char buffer[16384];
  for (;;) {
    const gssize n = g_input_stream_read(body.get(), buffer, sizeof buffer,
                                         nullptr, nullptr);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

struct EvalContext {
  MoviePage* page;
  std::string seq;
};

}  // namespace

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

void MoviePage::filterDone(WebKitUserContentFilter* filter, GError* error) {
  if (filter) {
    webkit_user_content_manager_add_filter(content_.get(), filter);
    filter_ = FilterState::kInPlace;
  } else {
    filter_ = FilterState::kFailed;
    filterError_ = std::string(
                       "the movie page's content filter could not be "
                       "made: ") +
                   (error ? error->message : "unknown error");
  }
}

MoviePage::MoviePage(std::string ruffleDir, std::vector<std::string> roots)
    : ruffleDir_(std::move(ruffleDir)), roots_(std::move(roots)) {
  context_.reset(webkit_web_context_new());
  // The emulator stops on an empty language list.
  const char* const languages[] = {"en-US", nullptr};
  webkit_web_context_set_preferred_languages(context_.get(), languages);
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
      G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
        if (event == WEBKIT_LOAD_FINISHED)
          static_cast<MoviePage*>(self)->loaded_ = true;
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
          // about:blank is no place: frames start there.
          if (uri && page->packageShown_ &&
              (g_str_has_prefix(uri, "zept://z/") ||
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

MoviePage::~MoviePage() {
  if (pendingSource_) g_source_remove(pendingSource_);
  g_cancellable_cancel(cancellable_.get());
  if (parked_) answer(parked_.get(), {"done", ""});
  // Nothing of the view calls back into a page that is going; the view goes
  // first, with its page process.
  *schemeLink_ = nullptr;
  g_signal_handlers_disconnect_by_data(view_, this);
  gtk_widget_destroy(view_);
  if (filterJob_) filterJob_->page = nullptr;
  if (!temporaryFilterDir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(temporaryFilterDir_, ignored);
  }
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
  if (uri.compare(0, kPrefix.size(), kPrefix) != 0) {
    FinishError(request, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED,
                "refused: " + uri);
    return;
  }
  std::string rest = uri.substr(kPrefix.size());
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
  if (packageShown_ &&
      (path.rfind("pkg/", 0) == 0 || path == "api" ||
       path.rfind("app/package.", 0) == 0 || path == "app/blank.html"))
    return servePackage(request, path);
  if (path == "app/page.html")
    return FinishBytes(request, kPageHtml, "text/html");
  if (path == "app/page.js")
    return FinishBytes(request, kPageJs, "text/javascript");
  std::string why = "not served";
  if (path.rfind("ruffle/", 0) == 0) {
    const std::string wanted = ruffleDir_ + "/" + path.substr(7);
    const std::string file = ResolveInside(wanted, ruffleDir_, why);
    if (!file.empty() && serveFile(request, file, why)) {
      if (g_str_has_suffix(file.c_str(), ".wasm")) wasmServed_ = file;
      return;
    }
    // The emulator does not start without its files: load() names the first
    // one it could not have.
    if (emulatorProblem_.empty())
      emulatorProblem_ = SystemErrorMessage("read file", wanted, why);
  } else if (path.rfind("file/", 0) == 0) {
    const std::string native =
        std::filesystem::path(path.substr(4)).lexically_normal().string();
    if (auto it = virtualFiles_.find(native); it != virtualFiles_.end()) {
      // Once: the emulator reads a bridge movie once, and nothing else in
      // the page gets to read the player's token in it.
      std::string bytes = std::move(it->second);
      virtualFiles_.erase(it);
      return FinishBytes(request, std::move(bytes), ContentType(native));
    }
    for (const std::string& root : roots_) {
      const std::string file = ResolveInside(native, root, why);
      if (!file.empty()) {
        if (serveFile(request, file, why)) return;
        break;
      }
    }
    char resolved[PATH_MAX];
    if (realpath(native.c_str(), resolved) && allowedFiles_.count(resolved) &&
        serveFile(request, resolved, why))
      return;
  }
  FinishError(request, G_IO_ERROR, G_IO_ERROR_NOT_FOUND,
              "not served: " + uri + ": " + why);
}

bool MoviePage::serveFile(WebKitURISchemeRequest* request,
                          const std::string& path, std::string& why,
                          const char* policy) {
  // Only a regular file: a FIFO or a device could block the program, or
  // never end. What is opened is checked again, not only what the name
  // pointed to a moment before.
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    why = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    why = "not a regular file";
    return false;
  }
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  GError* error = nullptr;
  GObjectPtr<GFileInputStream> stream(g_file_read(file.get(), nullptr, &error));
  GObjectPtr<GFileInfo> opened;
  if (stream) {
    opened.reset(g_file_input_stream_query_info(
        stream.get(),
        G_FILE_ATTRIBUTE_STANDARD_TYPE "," G_FILE_ATTRIBUTE_STANDARD_SIZE,
        nullptr, &error));
  }
  if (!opened) {
    why = error ? error->message : "cannot be read";
    if (error) g_error_free(error);
    return false;
  }
  if (g_file_info_get_file_type(opened.get()) != G_FILE_TYPE_REGULAR) {
    why = "not a regular file";
    return false;
  }
  // Read from disk as WebKit asks for it, off the main loop.
  Respond(request, G_INPUT_STREAM(stream.get()),
          g_file_info_get_size(opened.get()), ContentType(path),
          policy ? policy : kContentSecurityPolicy);
  return true;
}

void MoviePage::servePackage(WebKitURISchemeRequest* request,
                             const std::string& path) {
  if (path == "api") {
    const char* method = webkit_uri_scheme_request_get_http_method(request);
    std::optional<std::vector<std::string>> items =
        g_strcmp0(method, "POST") == 0 ? DecodeStringArray(ReadBody(request))
                                       : std::nullopt;
    std::string value;
    if (items && onPackageCall) {
      enter(handling_);
      try {
        value = onPackageCall(*items);
      } catch (const std::exception& e) {
        warn(std::string("a call of the package's page failed: ") + e.what());
      }
      leave(handling_);
    }
    return FinishBytes(request, std::move(value), "text/plain; charset=utf-8",
                       kPackagePagePolicy);
  }
  static const std::pair<const char*, std::pair<const char*, const char*>>
      kScreens[] = {{"app/package.html", {kPackageHtml, "text/html"}},
                    {"app/package.js", {kPackageJs, "text/javascript"}},
                    {"app/package.css", {kPackageCss, "text/css"}},
                    {"app/blank.html", {kBlankHtml, "text/html"}}};
  for (const auto& [name, file] : kScreens) {
    if (path == name)
      return FinishBytes(request, file.first, file.second, kPackagePagePolicy);
  }
  std::string why = "the package has no such file";
  const std::string inPackage = path.substr(4);
  std::optional<PackageFile> file;
  try {
    if (onPackageFile) file = onPackageFile(inPackage);
  } catch (const std::exception& e) {
    why = e.what();
  }
  if (file && !file->nativeFile.empty() &&
      serveFile(request, file->nativeFile, why, kPackageContentPolicy))
    return;
  if (file && file->nativeFile.empty())
    return FinishBytes(request, std::move(file->bytes), ContentType(inPackage),
                       kPackageContentPolicy);
  FinishError(request, G_IO_ERROR, G_IO_ERROR_NOT_FOUND,
              "not served: " + path + ": " + why);
}

bool MoviePage::showPackage(int timeoutMs) {
  if (!packageShown_) {
    packageShown_ = true;
    // While a page is being left, WebKit refuses synchronous requests: the
    // calls its unload handlers make come this way instead, unanswered.
    webkit_user_content_manager_register_script_message_handler(content_.get(),
                                                                "zeptApi");
    g_signal_connect(content_.get(), "script-message-received::zeptApi",
                     G_CALLBACK(OnPostedCall), this);
    // Content that opens its pages in a window of their own does so as it
    // loads, not only on a click.
    WebKitSettings* settings =
        webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view_));
    webkit_settings_set_javascript_can_open_windows_automatically(settings,
                                                                  TRUE);
    // Pages that do not say their encoding were mostly written on Windows,
    // and are read as browsers read them.
    webkit_settings_set_default_charset(settings, "windows-1252");
    WebKitUserScript* script = webkit_user_script_new(
        kEmulatorInFrames, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_.get(), script);
    webkit_user_script_unref(script);
    script = webkit_user_script_new(
        kAtStartInFrames, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_.get(), script);
    webkit_user_script_unref(script);
    script = webkit_user_script_new(
        kPackageMediaJs, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_.get(), script);
    webkit_user_script_unref(script);
  }
  // Nothing of the package loads before the filter that keeps it off the
  // network.
  loadError_ = "the package's page could not be loaded";
  if (!waitFor([this] { return filter_ != FilterState::kPending; }, timeoutMs))
    return false;
  if (filter_ == FilterState::kFailed) {
    loadError_ = filterError_;
    return false;
  }
  ended_ = false;
  ++generation_;
  postedCalls_ = 0;
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view_), kPackagePageUri);
  return true;
}

void MoviePage::OnPostedCall(WebKitUserContentManager*,
                             WebKitJavascriptResult* result, gpointer self) {
  auto* page = static_cast<MoviePage*>(self);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!jsc_value_is_string(value)) return;
  GCharPtr text(jsc_value_to_string(value));
  std::optional<std::vector<std::string>> items = DecodeStringArray(text.get());
  ++page->postedCalls_;
  if (!items || !page->onPackageCall) return;
  page->enter(page->handling_);
  try {
    page->onPackageCall(*items);
  } catch (const std::exception& e) {
    page->warn(std::string("a call of the package's page failed: ") + e.what());
  }
  page->leave(page->handling_);
}

bool MoviePage::waitPostedCalls(long count, int timeoutMs) {
  return waitFor([this, count] { return postedCalls_ >= count; }, timeoutMs);
}

void MoviePage::runScript(const std::string& script) {
  webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view_), script.c_str(),
                                      -1, nullptr, nullptr, nullptr, nullptr,
                                      nullptr);
}

void MoviePage::answer(WebKitURISchemeRequest* request,
                       const std::vector<std::string>& items) {
  FinishBytes(request, EncodeStringArray(items), "application/json");
}

void MoviePage::receive(WebKitURISchemeRequest* request) {
  std::optional<std::vector<std::string>> items =
      DecodeStringArray(ReadBody(request));
  if (!items || items->empty()) return answer(request, {"done", ""});
  const std::string& kind = items->front();
  if (kind == "reply") {
    if (op_ && op_->sent && !op_->done && items->size() >= 4 &&
        (*items)[1] == op_->items[1]) {
      op_->done = true;
      op_->ok = (*items)[2] == "1";
      op_->value = (*items)[3];
      parked_ = RefObject(request);
    } else {
      answer(request, {"done", ""});
    }
    return;
  }
  char* end = nullptr;
  errno = 0;
  const long n =
      items->size() >= 3 ? std::strtol((*items)[1].c_str(), &end, 10) : 0;
  if ((kind != "fscommand" && kind != "call") || n <= 0 || !end || *end) {
    return answer(request, {"done", ""});
  }
  const bool waited = kind == "call";
  // A number already used, or far ahead of any the page can have reached,
  // is not the page's own counting: taken, it would stall or reorder the
  // messages after it.
  // One given up on in a gap is taken late rather than lost.
  const bool late = n < nextMessage_ && skipped_.erase(n) > 0;
  if (late)
    warn("the page's message " + std::to_string(n) +
         " came late; it is handled now");
  if (errno == ERANGE || (n < nextMessage_ && !late) || queue_.count(n) ||
      n - nextMessage_ > kMaxAhead) {
    warn("a message of the page numbered " + (*items)[1] +
         " is out of order (next: " + std::to_string(nextMessage_) +
         "); it is ignored");
    return answer(request, {"done", ""});
  }
  // A call made while an op of the program runs in the page (a watch on a
  // variable the op set, say) is answered before that op can end.
  const bool nested = waited && op_ && !op_->done && items->size() >= 5 &&
                      (*items)[4] == op_->items[1];
  if (!waited) {
    answer(request, {"done", ""});
  } else {
    if (parked_) answer(parked_.get(), {"done", ""});  // cannot happen
    parked_ = RefObject(request);
    if (nested) {
      nestedUpTo_ = n;
    } else if (op_ && !op_->sent && !op_->done) {
      // An op waiting on a script the page cannot run now goes this way.
      sendOp(parked_.get());
    }
  }
  queue_[n] = Message{std::move(*items), waited};
  if (busy() && n > nestedUpTo_) {
    schedulePending();
  } else {
    handlePending();
  }
}

void MoviePage::schedulePending(int ms) {
  if (pendingSource_) return;
  pendingSource_ = g_timeout_add(
      static_cast<guint>(ms),
      [](gpointer self) -> gboolean {
        auto* page = static_cast<MoviePage*>(self);
        page->pendingSource_ = 0;
        page->handlePending();
        return G_SOURCE_REMOVE;
      },
      this);
}

void MoviePage::handlePending() {
  while (!queue_.empty()) {
    auto next = queue_.begin();
    // Messages up to a nested call are handled inside the op that waits on
    // it; the others wait until the program is free.
    if (busy() && next->first > nestedUpTo_) return schedulePending();
    const bool late = next->first < nextMessage_;
    if (!late && next->first != nextMessage_) {
      // An earlier message is still on its way; one lost must not hold the
      // messages after it for ever.
      const gint64 now = g_get_monotonic_time();
      if (gapSince_ == 0) gapSince_ = now;
      const int limit = next->second.waited && parked_ ? kGapMs : kFreeGapMs;
      const gint64 left = gint64{limit} * 1000 - (now - gapSince_);
      if (left > 0) return schedulePending(static_cast<int>(left / 1000) + 1);
      warn("the page's messages " + std::to_string(nextMessage_) + " to " +
           std::to_string(next->first - 1) + " have not come");
      for (long n = nextMessage_;
           n < next->first && n < nextMessage_ + kLateKept; ++n)
        skipped_.insert(n);
    }
    if (!late) {
      gapSince_ = 0;
      nextMessage_ = next->first + 1;
    }
    Message message = std::move(next->second);
    queue_.erase(next);
    std::string value;
    enter(handling_);
    try {
      if (onMessage) value = onMessage(message.items);
    } catch (const std::exception&) {
      value.clear();
    }
    leave(handling_);
    if (message.waited && parked_) {
      GObjectPtr<WebKitURISchemeRequest> request = std::move(parked_);
      answer(request.get(), {"done", value});
    }
    if (afterMessage) afterMessage();
  }
}

void MoviePage::warn(const std::string& line) {
  if (onWarning) onWarning(line);
}

void MoviePage::sendOp(WebKitURISchemeRequest* request) {
  op_->sent = true;
  GObjectPtr<WebKitURISchemeRequest> keep = std::move(parked_);
  answer(request, op_->items);
}

std::string MoviePage::op(const std::vector<std::string>& args) {
  if (ended_) throw EMovieError("the movie page has ended");
  // No movie plays where it could reach the network.
  if (!args.empty() && (args[0] == "create" || args[0] == "load") &&
      filter_ != FilterState::kInPlace)
    throw EMovieError("the movie page's content filter is not in place");
  Op op;
  op.items = {"op", std::to_string(++opSeq_)};
  op.items.insert(op.items.end(), args.begin(), args.end());
  Op* outer = op_;
  op_ = &op;
  if (parked_) {
    sendOp(parked_.get());
  } else {
    std::string json = EncodeStringArray(
        std::vector<std::string>(op.items.begin() + 1, op.items.end()));
    const std::string script =
        "zeptOp(" + json.substr(1, json.size() - 2) + ")";
    auto* eval = new EvalContext{this, op.items[1]};
    webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(view_), script.c_str(),
        static_cast<gssize>(script.size()), nullptr, nullptr,
        cancellable_.get(),
        [](GObject* view, GAsyncResult* result, gpointer data) {
          std::unique_ptr<EvalContext> eval(static_cast<EvalContext*>(data));
          GError* error = nullptr;
          JSCValue* value = webkit_web_view_evaluate_javascript_finish(
              WEBKIT_WEB_VIEW(view), result, &error);
          std::string json;
          if (value) {
            GCharPtr text(jsc_value_to_string(value));
            json = text ? text.get() : "";
            g_object_unref(value);
          } else if (error) {
            const bool cancelled =
                g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            g_error_free(error);
            if (cancelled) return;  // the page is gone
          }
          MoviePage* page = eval->page;
          Op* current = page->op_;
          if (!current || current->done || current->items[1] != eval->seq)
            return;
          std::optional<std::vector<std::string>> items =
              DecodeStringArray(json);
          current->done = true;
          current->ok = items && items->size() >= 2 && (*items)[0] == "1";
          current->value = items && items->size() >= 2
                               ? (*items)[1]
                               : std::string("the page did not run the op");
        },
        eval);
  }
  const bool answered = waitFor([&op] { return op.done; }, kOpTimeoutMs);
  op_ = outer;
  if (!queue_.empty()) schedulePending();
  if (!answered) throw EMovieError("the movie page did not answer");
  if (!op.ok) throw EMovieError(op.value);
  return op.value;
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
