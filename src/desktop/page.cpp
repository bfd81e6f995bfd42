#include "desktop/page.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "desktop/json_strings.h"
#include "desktop/page_resources.h"
#include "platform/errors.h"

namespace zept::desktop {

namespace {

constexpr char kPageUri[] = "zept://z/app/page.html";
// How long the program waits on the page before it gives an op up.
constexpr int kOpTimeoutMs = 10000;
// How long a message waits for an earlier one that has not come.
constexpr int kGapMs = 500;
// How far ahead of the next expected number a message may be.
constexpr long kMaxAhead = 1 << 20;

std::string ContentType(const std::string& path) {
  const std::string ext = std::filesystem::path(path).extension().string();
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html"},        {".js", "text/javascript"},
      {".wasm", "application/wasm"}, {".swf", "application/x-shockwave-flash"},
      {".png", "image/png"},         {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},       {".gif", "image/gif"},
      {".xml", "text/xml"},          {".json", "application/json"},
      {".mp3", "audio/mpeg"},        {".flv", "video/x-flv"},
      {".txt", "text/plain"}};
  for (const auto& [e, type] : kTypes) {
    if (g_ascii_strcasecmp(ext.c_str(), e) == 0) return type;
  }
  return "application/octet-stream";
}

// The resolved path when it lies inside folder (both resolved), else "".
std::string ResolveInside(const std::string& path, const std::string& folder) {
  char resolved[PATH_MAX];
  char base[PATH_MAX];
  if (!realpath(path.c_str(), resolved) || !realpath(folder.c_str(), base))
    return "";
  std::string inside = base;
  if (inside.back() != '/') inside += '/';
  const std::string file = resolved;
  return file.compare(0, inside.size(), inside) == 0 ? file : "";
}

void FinishError(WebKitURISchemeRequest* request, GQuark domain, int code,
                 const std::string& message) {
  GError* error = g_error_new_literal(domain, code, message.c_str());
  webkit_uri_scheme_request_finish_error(request, error);
  g_error_free(error);
}

void FinishBytes(WebKitURISchemeRequest* request, std::string bytes,
                 const std::string& type) {
  auto* owned = new std::string(std::move(bytes));
  GBytes* data = g_bytes_new_with_free_func(
      owned->data(), owned->size(),
      [](gpointer text) { delete static_cast<std::string*>(text); }, owned);
  GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(data));
  const gint64 length = static_cast<gint64>(g_bytes_get_size(data));
  g_bytes_unref(data);
  GObjectPtr<WebKitURISchemeResponse> response(
      webkit_uri_scheme_response_new(stream.get(), length));
  webkit_uri_scheme_response_set_content_type(response.get(), type.c_str());
  // Streaming compilation of the emulator reads the type from the headers.
  SoupMessageHeaders* headers =
      soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_replace(headers, "Content-Type", type.c_str());
  soup_message_headers_replace(headers, "Cache-Control", "no-store");
  webkit_uri_scheme_response_set_http_headers(response.get(), headers);
  webkit_uri_scheme_request_finish_with_response(request, response.get());
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

MoviePage::MoviePage(std::string ruffleDir, std::vector<std::string> roots)
    : ruffleDir_(std::move(ruffleDir)), roots_(std::move(roots)) {
  context_.reset(webkit_web_context_new());
  // The emulator stops on an empty language list.
  const char* const languages[] = {"en-US", nullptr};
  webkit_web_context_set_preferred_languages(context_.get(), languages);
  webkit_web_context_register_uri_scheme(context_.get(), "zept", HandleScheme,
                                         this, nullptr);
  WebKitSecurityManager* security =
      webkit_web_context_get_security_manager(context_.get());
  webkit_security_manager_register_uri_scheme_as_secure(security, "zept");
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, "zept");

  view_ = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context",
                                  context_.get(), nullptr));
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
                     WebKitPolicyDecisionType type, gpointer) -> gboolean {
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
          WebKitNavigationAction* action =
              webkit_navigation_policy_decision_get_navigation_action(
                  WEBKIT_NAVIGATION_POLICY_DECISION(decision));
          const char* uri = webkit_uri_request_get_uri(
              webkit_navigation_action_get_request(action));
          if (uri && g_strcmp0(uri, kPageUri) == 0) return FALSE;
        }
        webkit_policy_decision_ignore(decision);
        return TRUE;
      }),
      nullptr);
  g_signal_connect(view_, "web-process-terminated",
                   G_CALLBACK(+[](WebKitWebView*,
                                  WebKitWebProcessTerminationReason reason,
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
  const char* why = reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT
                        ? "out of memory"
                    : reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API
                        ? "ended by the program"
                        : "crashed";
  if (onProcessEnded) onProcessEnded(why);
}

bool MoviePage::load(int timeoutMs) {
  beginLoad();
  const gint64 deadline = g_get_monotonic_time() + gint64{timeoutMs} * 1000;
  if (!waitReady(timeoutMs)) return false;
  while (g_get_monotonic_time() < deadline && !ended_) {
    try {
      if (op({"warm", ""}) == "1") return true;
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
  nextMessage_ = 1;
  nestedUpTo_ = 0;
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view_), kPageUri);
}

bool MoviePage::waitReady(int timeoutMs) {
  const gint64 deadline = g_get_monotonic_time() + gint64{timeoutMs} * 1000;
  if (!waitFor([this] { return loaded_ || loadFailed_; }, timeoutMs) ||
      loadFailed_)
    return false;
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

void MoviePage::HandleScheme(WebKitURISchemeRequest* request, gpointer self) {
  static_cast<MoviePage*>(self)->serve(request);
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
  if (path == "app/page.html")
    return FinishBytes(request, kPageHtml, "text/html");
  if (path == "app/page.js")
    return FinishBytes(request, kPageJs, "text/javascript");
  if (path.rfind("ruffle/", 0) == 0) {
    const std::string file =
        ResolveInside(ruffleDir_ + "/" + path.substr(7), ruffleDir_);
    if (!file.empty()) return serveFile(request, file);
  } else if (path.rfind("file/", 0) == 0) {
    const std::string native =
        std::filesystem::path(path.substr(4)).lexically_normal().string();
    if (auto it = virtualFiles_.find(native); it != virtualFiles_.end())
      return FinishBytes(request, it->second, ContentType(native));
    for (const std::string& root : roots_) {
      const std::string file = ResolveInside(native, root);
      if (!file.empty()) return serveFile(request, file);
    }
    char resolved[PATH_MAX];
    if (realpath(native.c_str(), resolved) && allowedFiles_.count(resolved))
      return serveFile(request, resolved);
  }
  FinishError(request, G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "not served: " + uri);
}

void MoviePage::serveFile(WebKitURISchemeRequest* request,
                          const std::string& path) {
  gchar* contents = nullptr;
  gsize length = 0;
  GError* error = nullptr;
  if (!g_file_get_contents(path.c_str(), &contents, &length, &error)) {
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  std::string bytes(contents, length);
  g_free(contents);
  FinishBytes(request, std::move(bytes), ContentType(path));
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
  if (errno == ERANGE || n < nextMessage_ || queue_.count(n) ||
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
    if (next->first != nextMessage_) {
      // An earlier message is still on its way; one lost must not hold the
      // messages after it for ever.
      const gint64 now = g_get_monotonic_time();
      if (gapSince_ == 0) gapSince_ = now;
      const gint64 left = gint64{kGapMs} * 1000 - (now - gapSince_);
      if (left > 0) return schedulePending(static_cast<int>(left / 1000) + 1);
      warn("the page's messages " + std::to_string(nextMessage_) + " to " +
           std::to_string(next->first - 1) + " never came");
    }
    gapSince_ = 0;
    nextMessage_ = next->first + 1;
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
