// The package's side of the page: its screens, its files and the calls of
// its page (window.API), answered at once or posted from a page being left.

#include <fcntl.h>
#include <gio/gunixfdlist.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "desktop/content_policy.h"
#include "desktop/content_server.h"
#include "desktop/json_strings.h"
#include "desktop/page.h"
#include "desktop/page_resources.h"
#include "desktop/scheme_files.h"
#include "util/utf8.h"

namespace zept::desktop {

namespace {

constexpr char kPackagePageUri[] = "zept://z/app/package.html";
// What one call of the package's page may carry. The page's own API sends
// nothing near it (it refuses longer calls itself, with an error code);
// a page that posts more is runaway or hostile.
constexpr std::size_t kMaxCallBytes = std::size_t{8} << 20;

constexpr char kMediaOpen[] = "zept-media-open";

void ReplyMedia(WebKitUserMessage* message, guint64 size, bool seekable,
                const std::string& why, int fd) {
  GUnixFDList* fds = nullptr;
  if (fd >= 0) {
    fds = g_unix_fd_list_new();
    g_unix_fd_list_append(fds, fd, nullptr);
    ::close(fd);
  }
  webkit_user_message_send_reply(
      message, webkit_user_message_new_with_fd_list(
                   kMediaOpen,
                   g_variant_new("(tbs)", size, seekable, why.c_str()), fds));
  if (fds) g_object_unref(fds);
}

// Writes what stream gives (or bytes) into the socket until the end, or
// until the web process closes its side (a seek, the page gone); on a
// thread of its own, as reads may wait on an entry being inflated.
void Pump(GObjectPtr<GInputStream> stream, std::string bytes, int socket) {
  std::thread([stream = std::move(stream), bytes = std::move(bytes), socket] {
    const auto send = [socket](const char* data, std::size_t n) {
      while (n > 0) {
        const ssize_t sent = ::send(socket, data, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        n -= static_cast<std::size_t>(sent);
      }
      return true;
    };
    if (!stream) {
      send(bytes.data(), bytes.size());
    } else {
      char buffer[64 * 1024];
      for (;;) {
        const gssize n = g_input_stream_read(stream.get(), buffer,
                                             sizeof buffer, nullptr, nullptr);
        if (n <= 0 || !send(buffer, static_cast<std::size_t>(n))) break;
      }
    }
    ::close(socket);
  }).detach();
}

}  // namespace

std::optional<std::string> InPackageOfContent(const std::string& path) {
  if (path.rfind("pkg/", 0) == 0) return path.substr(4);
  // zept's own addresses in the package's origin are never the package's.
  static constexpr std::string_view kOwn[] = {"api", "test", "page"};
  static constexpr std::string_view kOwnFolders[] = {"pkg/", "app/", "ruffle/",
                                                     "lrs/", "fetch/"};
  for (std::string_view own : kOwn)
    if (path == own) return std::nullopt;
  for (std::string_view folder : kOwnFolders)
    if (path.rfind(folder, 0) == 0) return std::nullopt;
  if (path.empty()) return std::nullopt;
  return path;
}

void MoviePage::useMediaExtension(const std::string& extensionsDir) {
  // WebKit's player refuses schemes it does not know unless they are named
  // here, read as the web process starts.
  std::string allowed = "zept";
  if (const char* before = std::getenv("WEBKIT_GST_ALLOWED_URI_PROTOCOLS");
      before && *before)
    allowed = std::string(before) + ",zept";
  ::setenv("WEBKIT_GST_ALLOWED_URI_PROTOCOLS", allowed.c_str(), 1);
  extensionsDir_ = extensionsDir;
  webkit_web_context_set_web_extensions_directory(context_.get(),
                                                  extensionsDir.c_str());
  g_signal_connect(context_.get(), "user-message-received",
                   G_CALLBACK(OnMediaMessage), this);
}

gboolean MoviePage::OnMediaMessage(WebKitWebContext*,
                                   WebKitUserMessage* message, gpointer self) {
  if (g_strcmp0(webkit_user_message_get_name(message), kMediaOpen) != 0)
    return FALSE;
  auto* page = static_cast<MoviePage*>(self);
  GVariant* parameters = webkit_user_message_get_parameters(message);
  const char* uri = "";
  guint64 offset = 0;
  if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(st)")))
    g_variant_get(parameters, "(&st)", &uri, &offset);
  // The same files as the scheme serves, found the same way.
  constexpr std::string_view kPrefix = "zept://content/";
  std::string rest = uri;
  if (!page->packageShown_ || rest.compare(0, kPrefix.size(), kPrefix) != 0) {
    ReplyMedia(message, 0, false, "not a file of the package", -1);
    return TRUE;
  }
  rest = rest.substr(kPrefix.size());
  rest = rest.substr(0, rest.find_first_of("?#"));
  GCharPtr unescaped(g_uri_unescape_string(rest.c_str(), nullptr));
  const std::optional<std::string> inPackage =
      unescaped ? InPackageOfContent(unescaped.get()) : std::nullopt;
  if (!inPackage) {
    ReplyMedia(message, 0, false, "not a file of the package", -1);
    return TRUE;
  }
  GCharPtr decoded(g_strdup(inPackage->c_str()));
  std::optional<PackageFile> file;
  std::string why = "the package has no such file";
  bool lacking = false;
  try {
    if (decoded && page->onPackageFile) {
      file = page->onPackageFile(decoded.get());
      lacking = !file;
    }
  } catch (const std::exception& e) {
    why = e.what();
    page->warn(why);
  }
  if (file && !file->nativeFile.empty()) {
    // A file on disk: its own descriptor, read at any offset.
    const int fd = ::open(file->nativeFile.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      ReplyMedia(message, static_cast<guint64>(info.st_size), true, "", fd);
      return TRUE;
    }
    if (fd >= 0) ::close(fd);
    file.reset();
    why = "not a regular file";
  }
  int sockets[2] = {-1, -1};
  if (file &&
      ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) == 0) {
    guint64 size = 0;
    if (file->stream) {
      size = static_cast<guint64>(file->size);
      if (offset > 0 && !g_seekable_seek(G_SEEKABLE(file->stream.get()),
                                         static_cast<goffset>(offset),
                                         G_SEEK_SET, nullptr, nullptr)) {
        ::close(sockets[0]);
        ::close(sockets[1]);
        ReplyMedia(message, 0, false, "the file cannot be read there", -1);
        return TRUE;
      }
    } else {
      size = file->bytes.size();
      file->bytes.erase(0, std::min<std::size_t>(offset, file->bytes.size()));
    }
    ReplyMedia(message, size, false, "", sockets[0]);
    Pump(std::move(file->stream), std::move(file->bytes), sockets[1]);
    return TRUE;
  }
  if (lacking) page->lacking(decoded.get());
  ReplyMedia(message, 0, false, why, -1);
  return TRUE;
}

std::string MoviePage::callAnswer(const std::optional<std::string>& body,
                                  bool fromContent) {
  std::optional<std::vector<std::string>> items =
      body ? DecodeStringArray(*body) : std::nullopt;
  if (fromContent && items && !items->empty()) {
    const std::string& kind = (*items)[0];
    // The launch's host page asks once for what it was given (its values,
    // never in an address), says when its SCO's page has loaded and the
    // size that page is laid out for.
    if (kind == "given") return std::exchange(contentGiven_, std::string());
    if (kind == "loaded" && items->size() == 1) {
      if (contentOpenedAt_ && onContentLoaded)
        onContentLoaded(static_cast<long>(
            (g_get_monotonic_time() - std::exchange(contentOpenedAt_, 0)) /
            1000));
      return std::string();
    }
    if (kind == "size" && items->size() == 3) {
      if (onContentSays) onContentSays(*items);
      return std::string();
    }
  }
  // The package's frames call the API and nothing else; the screens never
  // call it. A call in the wrong place is someone else's forgery.
  const bool api = items && !items->empty() &&
                   ((*items)[0] == "api" || (*items)[0] == "api-too-large");
  if (items && api != fromContent) {
    warn(std::string("a call \"") +
         (items->empty() ? std::string() : (*items)[0].substr(0, 40)) +
         "\" reached " + (fromContent ? "the package's" : "zept's screens'") +
         " address, which only " +
         (fromContent ? "zept's screens" : "the package's frames") +
         " may use: it changed nothing");
    items.reset();
  }
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
  return value;
}

std::optional<std::string> MoviePage::callBody(
    const char* method, std::optional<std::string> body) {
  if (g_strcmp0(method, "POST") != 0) return std::nullopt;
  if (!body)
    warn("a page of the package sent a call of more than " +
         std::to_string(kMaxCallBytes >> 20) + " MiB: it was refused");
  return body;
}

void MoviePage::answerCall(WebKitURISchemeRequest* request) {
  const char* method = webkit_uri_scheme_request_get_http_method(request);
  const std::optional<std::string> body = callBody(
      method, g_strcmp0(method, "POST") == 0 ? ReadBody(request, kMaxCallBytes)
                                             : std::nullopt);
  FinishBytes(request, callAnswer(body, false), "text/plain; charset=utf-8",
              kPackagePagePolicy);
}

namespace {

// A request's headers as the content's LRS reads them: the launch's secret
// (its cookie) is zept's, not the content's.
std::vector<std::pair<std::string, std::string>> ContentHeaders(
    SoupMessageHeaders* in) {
  std::vector<std::pair<std::string, std::string>> headers;
  if (!in) return headers;
  SoupMessageHeadersIter it;
  soup_message_headers_iter_init(&it, in);
  const char* name = nullptr;
  const char* value = nullptr;
  while (soup_message_headers_iter_next(&it, &name, &value))
    if (g_ascii_strcasecmp(name, "Cookie") != 0)
      headers.emplace_back(name, value);
  return headers;
}

}  // namespace

void MoviePage::HandleContentCall(WebKitURISchemeRequest* request,
                                  gpointer link) {
  MoviePage* page = *static_cast<MoviePage**>(link);
  const char* method = webkit_uri_scheme_request_get_http_method(request);
  const std::string uri = webkit_uri_scheme_request_get_uri(request);
  constexpr std::string_view kLrs = "zept://call/lrs/";
  if (page && uri.compare(0, kLrs.size(), kLrs) == 0)
    return page->answerLrsCall(request, uri.substr(12));
  if (!page || uri != "zept://call/api") {
    FinishError(request, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED, "refused");
    return;
  }
  const std::optional<std::string> body = page->callBody(
      method, g_strcmp0(method, "POST") == 0 ? ReadBody(request, kMaxCallBytes)
                                             : std::nullopt);
  const bool given = body && body->rfind("[\"given\"", 0) == 0;
  // The launch's pages are of the package's origin, this scheme is not.
  FinishAnswer(request, 200,
               {{"Content-Type",
                 given ? "application/json" : "text/plain; charset=utf-8"},
                {"Access-Control-Allow-Origin", page->contentOrigin()}},
               page->callAnswer(body, true), kPackagePagePolicy);
}

void MoviePage::answerLrsCall(WebKitURISchemeRequest* request,
                              const std::string& address) {
  const char* method = webkit_uri_scheme_request_get_http_method(request);
  std::vector<std::pair<std::string, std::string>> cors = {
      {"Access-Control-Allow-Origin", contentOrigin()},
      {"Access-Control-Expose-Headers",
       "ETag, Last-Modified, Content-Type, X-Experience-API-Version, "
       "X-Experience-API-Consistent-Through"}};
  SoupMessageHeaders* in = webkit_uri_scheme_request_get_http_headers(request);
  if (g_strcmp0(method, "OPTIONS") == 0) {
    const char* asked =
        in ? soup_message_headers_get_one(in, "Access-Control-Request-Headers")
           : nullptr;
    cors.emplace_back("Access-Control-Allow-Methods",
                      "GET, HEAD, PUT, POST, DELETE");
    cors.emplace_back("Access-Control-Allow-Headers", asked ? asked : "");
    cors.emplace_back("Access-Control-Max-Age", "600");
    return FinishAnswer(request, 204, cors, std::string(), kPackagePagePolicy);
  }
  ContentRequest asked;
  asked.method = method ? method : "GET";
  const std::size_t mark = address.find('?');
  asked.path = address.substr(0, mark);
  if (mark != std::string::npos) asked.query = address.substr(mark + 1);
  asked.headers = ContentHeaders(in);
  ContentAnswer answer =
      contentAnswer(std::move(asked), ReadBody(request, kMaxCallBytes));
  for (auto& header : cors) answer.headers.push_back(std::move(header));
  FinishAnswer(request, answer.status, answer.headers, std::move(answer.body),
               kPackagePagePolicy);
}

MoviePage::ContentAnswer MoviePage::contentAnswer(
    ContentRequest asked, std::optional<std::string> body) {
  ContentAnswer answer{404, {}, "{\"error\":\"not served\"}"};
  if (!body) {
    answer = {413, {}, "{\"error\":\"the request is too large\"}"};
  } else if (onContentRequest) {
    asked.body = std::move(*body);
    enter(handling_);
    try {
      answer = onContentRequest(asked);
    } catch (const std::exception& e) {
      answer = {500, {}, "{\"error\":\"zept failed\"}"};
      warn(std::string("a request of the package's content failed: ") +
           e.what());
    }
    leave(handling_);
  }
  return answer;
}

void MoviePage::serveService(SoupServerMessage* msg, const std::string& path) {
  ContentRequest asked;
  asked.method = soup_server_message_get_method(msg);
  asked.path = path;
  if (const char* query = g_uri_get_query(soup_server_message_get_uri(msg)))
    asked.query = query;
  asked.headers = ContentHeaders(soup_server_message_get_request_headers(msg));
  ContentAnswer answer =
      contentAnswer(std::move(asked), HttpBody(msg, kMaxCallBytes));
  std::string type = "application/json";
  for (const auto& [header, text] : answer.headers)
    if (g_ascii_strcasecmp(header.c_str(), "Content-Type") == 0) type = text;
  HttpBytes(msg, answer.status, std::move(answer.body), type,
            inOrigin(kPackageContentPolicy), answer.headers);
}

void MoviePage::servePackage(WebKitURISchemeRequest* request,
                             const std::string& path) {
  if (path == "api") return answerCall(request);
  static const std::pair<const char*, std::pair<const char*, const char*>>
      kScreens[] = {{"app/package.html", {kPackageHtml, "text/html"}},
                    {"app/package.js", {kPackageJs, "text/javascript"}},
                    {"app/package.css", {kPackageCss, "text/css"}},
                    {"app/blank.html", {kBlankHtml, "text/html"}}};
  for (const auto& [name, file] : kScreens) {
    if (path == name)
      return FinishBytes(request, file.first, file.second, kPackagePagePolicy);
  }
  FinishError(request, G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "not served: " + path);
}

void MoviePage::serveContent(SoupServerMessage* msg, const std::string& path) {
  const char* method = soup_server_message_get_method(msg);
  const std::string policy = inOrigin(kPackageContentPolicy);
  const std::string hostPolicy = inOrigin(kPackageHostPolicy);
  if (path == "api") {
    const std::optional<std::string> body = callBody(
        method, g_strcmp0(method, "POST") == 0 ? HttpBody(msg, kMaxCallBytes)
                                               : std::nullopt);
    const bool given = body && body->rfind("[\"given\"", 0) == 0;
    return HttpBytes(msg, 200, callAnswer(body, true),
                     given ? "application/json" : "text/plain; charset=utf-8",
                     policy);
  }
  if (path == "test") {
    std::optional<std::string> body;
    if (onTestCall && g_strcmp0(method, "POST") == 0)
      body = HttpBody(msg, kMaxCallBytes);
    std::optional<std::vector<std::string>> items =
        body ? DecodeStringArray(*body) : std::nullopt;
    if (!items) return HttpNotFound(msg, "not served: test");
    answerTestCall("[\"replaced\"]");
    // Answered when the harness says what: the request waits till then.
    soup_server_message_pause(msg);
    testCall_ = RefObject(msg);
    onTestCall(*items);
    return;
  }
  if (path == "page") return servePageRequest(msg);
  if (path.rfind("lrs/", 0) == 0 || path.rfind("fetch/", 0) == 0)
    return serveService(msg, path);
  if (path == "app/return.html" || path == "app/blank.html")
    return HttpBytes(msg, 200, kBlankHtml, "text/html", hostPolicy);
  if (path == "app/host.html")
    return HttpBytes(msg, 200, kHostHtml, "text/html", hostPolicy);
  if (path == "app/host.js")
    return HttpBytes(msg, 200, kHostJs, "text/javascript", hostPolicy);
  std::string why = "the package has no such file";
  // The emulator for the movies a package's pages embed, from their origin.
  if (path.rfind("ruffle/", 0) == 0) {
    packageEmulator_ = true;
    const std::string file =
        ResolveInside(ruffleDir_ + "/" + path.substr(7), ruffleDir_, why);
    if (!file.empty() && HttpFile(msg, file, why, policy)) return;
    return HttpNotFound(msg, "not served: " + path + ": " + why);
  }
  const std::optional<std::string> found = InPackageOfContent(path);
  if (!found) return HttpNotFound(msg, "not served: " + path);
  const std::string& inPackage = *found;
  if (path.rfind("pkg/", 0) != 0 && rootPathsNamed_++ == 0)
    warn("a page of the package asked for /" + Utf8Prefix(inPackage, 200) +
         ", a path from the web server's root: zept serves the package "
         "there, an LMS that serves it in a folder of its own will not");
  std::optional<PackageFile> file;
  bool lacking = false;
  try {
    if (onPackageFile) {
      file = onPackageFile(inPackage);
      lacking = !file;
    }
  } catch (const std::exception& e) {
    // A file the package has and zept will not serve (one too large to
    // inflate, a damaged entry): the course team learns why.
    why = e.what();
    warn(why);
  }
  if (file && !file->nativeFile.empty() &&
      HttpFile(msg, file->nativeFile, why, policy))
    return;
  if (file && file->stream)
    return HttpStream(msg, file->stream.get(), file->size,
                      ContentType(inPackage), policy);
  if (file && file->nativeFile.empty())
    return HttpBytes(msg, 200, std::move(file->bytes), ContentType(inPackage),
                     policy);
  if (lacking) {
    // The browser names the page that asked (its Referer), as a page's own
    // word could name any: a page of the package is named by it at once.
    const char* referer = soup_message_headers_get_one(
        soup_server_message_get_request_headers(msg), "Referer");
    const std::string asker =
        referer ? std::string(referer).substr(
                      0, std::string(referer).find_first_of("?#"))
                : std::string();
    const std::string prefix = originPrefix_ + "pkg/";
    GCharPtr page(
        asker.rfind(prefix, 0) == 0
            ? g_uri_unescape_string(asker.c_str() + prefix.size(), nullptr)
            : nullptr);
    if (page)
      nameLacking(inPackage, page.get());
    else
      this->lacking(inPackage);
  }
  HttpNotFound(msg, "not served: " + path + ": " + why);
}

bool MoviePage::showPackage(int timeoutMs) {
  if (!packageShown_) {
    packageShown_ = true;
    // While the screens' page is being left, WebKit refuses synchronous
    // requests: its calls come this way instead, unanswered.
    webkit_user_content_manager_register_script_message_handler(content_.get(),
                                                                "zeptApi");
    g_signal_connect(content_.get(), "script-message-received::zeptApi",
                     G_CALLBACK(OnPostedCall), this);
    // The screens take no full screen either: nothing covers the window.
    webkit_settings_set_enable_fullscreen(
        webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view_)), FALSE);
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
  dropContent();
  ownLoad_ = true;
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view_), kPackagePageUri);
  return true;
}

void MoviePage::OnPostedCall(WebKitUserContentManager*,
                             WebKitJavascriptResult* result, gpointer self) {
  auto* page = static_cast<MoviePage*>(self);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!jsc_value_is_string(value)) return;
  GCharPtr text(jsc_value_to_string(value));
  if (std::strlen(text.get()) > kMaxCallBytes) {
    ++page->postedCalls_;
    page->warn("a page of the package posted a call of more than " +
               std::to_string(kMaxCallBytes >> 20) + " MiB: it was refused");
    return;
  }
  std::optional<std::vector<std::string>> items = DecodeStringArray(text.get());
  // A request of the content that may outlive its page is on its way.
  if (items && items->size() == 1 && (*items)[0] == "last") {
    ++page->lastExpected_;
    return;
  }
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

void MoviePage::answerTestCall(const std::string& text) {
  if (!testCall_) return;
  GObjectPtr<SoupServerMessage> msg = std::move(testCall_);
  HttpBytes(msg.get(), 200, text, "application/json",
            inOrigin(kPackageContentPolicy));
  soup_server_message_unpause(msg.get());
}

void MoviePage::runScript(const std::string& script) {
  webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view_), script.c_str(),
                                      -1, nullptr, nullptr, nullptr, nullptr,
                                      nullptr);
}

void MoviePage::runIsolated(const std::string& body,
                            std::function<void(const std::string&)> done) {
  auto* then = new std::function<void(const std::string&)>(std::move(done));
  webkit_web_view_call_async_javascript_function(
      WEBKIT_WEB_VIEW(view_), body.c_str(), static_cast<gssize>(body.size()),
      nullptr, "zept-checks", nullptr, nullptr,
      [](GObject* view, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::function<void(const std::string&)>> then(
            static_cast<std::function<void(const std::string&)>*>(data));
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_call_async_javascript_function_finish(
            WEBKIT_WEB_VIEW(view), result, &error);
        std::string text;
        if (value) {
          GCharPtr string(jsc_value_to_string(value));
          text = string ? string.get() : "";
          g_object_unref(value);
        } else {
          text = std::string("error: ") + (error ? error->message : "none");
          if (error) g_error_free(error);
        }
        (*then)(text);
      },
      then);
}

}  // namespace zept::desktop
