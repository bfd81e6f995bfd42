// The package's side of the page: its screens, its files and the calls of
// its page (window.API), answered at once or posted from a page being left.

#include <cstring>
#include <optional>

#include "desktop/content_policy.h"
#include "desktop/json_strings.h"
#include "desktop/page.h"
#include "desktop/page_resources.h"
#include "desktop/scheme_files.h"

namespace zept::desktop {

namespace {

constexpr char kPackagePageUri[] = "zept://z/app/package.html";
// What one call of the package's page may carry. The page's own API sends
// nothing near it (it refuses longer calls itself, with an error code);
// a page that posts more is runaway or hostile.
constexpr std::size_t kMaxCallBytes = std::size_t{8} << 20;

}  // namespace

void MoviePage::servePackage(WebKitURISchemeRequest* request,
                             const std::string& path) {
  if (path == "api") {
    const char* method = webkit_uri_scheme_request_get_http_method(request);
    std::optional<std::string> body;
    if (g_strcmp0(method, "POST") == 0) {
      body = ReadBody(request, kMaxCallBytes);
      if (!body)
        warn("a page of the package sent a call of more than " +
             std::to_string(kMaxCallBytes >> 20) + " MiB: it was refused");
    }
    std::optional<std::vector<std::string>> items =
        body ? DecodeStringArray(*body) : std::nullopt;
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
      ServeFile(request, file->nativeFile, why, kPackageContentPolicy))
    return;
  if (file && file->stream)
    return ServeStream(request, file->stream.get(), file->size,
                       ContentType(inPackage), kPackageContentPolicy);
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
    AddPackageFrameScripts(content_.get());
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

}  // namespace zept::desktop
