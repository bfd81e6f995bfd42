#include "desktop/content_requests.h"

#include <cctype>
#include <fstream>
#include <optional>

#include "desktop/content_policy.h"
#include "desktop/content_server.h"
#include "desktop/json_strings.h"
#include "desktop/page.h"
#include "desktop/scheme_files.h"

namespace zept::desktop {

namespace {

constexpr std::size_t kCookieBytes = 4096;
constexpr guint kCookiesPerLearner = 300;
// A page's text past this is not read for movies: pages are far smaller.
constexpr std::size_t kPageBytesRead = std::size_t{4} << 20;

// libsoup keeps cookies for the web's schemes only: the package's origin is
// put to it as a host of its own, secure as zept's scheme is.
GUri* JarUri(const std::string& path) {
  return g_uri_build(G_URI_FLAGS_NONE, "https", nullptr, "content", -1,
                     path.empty() || path[0] != '/' ? "/" : path.c_str(),
                     nullptr, nullptr);
}

bool NameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

}  // namespace

bool NamesMovie(std::string_view text) {
  for (std::size_t at = text.find('.'); at != std::string_view::npos;
       at = text.find('.', at + 1)) {
    if (at == 0 || !NameChar(text[at - 1]) || text.size() - at < 4) continue;
    const std::string_view ext = text.substr(at + 1, 3);
    const bool swf = std::tolower(static_cast<unsigned char>(ext[0])) == 's' &&
                     std::tolower(static_cast<unsigned char>(ext[1])) == 'w' &&
                     std::tolower(static_cast<unsigned char>(ext[2])) == 'f';
    if (swf && (text.size() - at == 4 || !NameChar(text[at + 4]))) return true;
  }
  return false;
}

SoupCookieJar* CookieJars::jar(const std::string& owner) {
  GObjectPtr<SoupCookieJar>& jar = jars_[owner];
  if (!jar) jar.reset(soup_cookie_jar_new());
  return jar.get();
}

std::string CookieJars::read(const std::string& owner,
                             const std::string& path) {
  GUri* uri = JarUri(path);
  GCharPtr cookies(soup_cookie_jar_get_cookies(jar(owner), uri, FALSE));
  g_uri_unref(uri);
  return cookies ? cookies.get() : "";
}

void CookieJars::write(const std::string& owner, const std::string& path,
                       const std::string& text) {
  if (text.size() > kCookieBytes) return;
  SoupCookieJar* learner = jar(owner);
  GSList* all = soup_cookie_jar_all_cookies(learner);
  const guint count = g_slist_length(all);
  g_slist_free_full(all, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
  GUri* uri = JarUri(path);
  SoupCookie* cookie = soup_cookie_parse(text.c_str(), uri);
  // A script cannot set what only a server may (HttpOnly), and a learner
  // past the count may still change or remove a cookie of theirs.
  if (cookie && !soup_cookie_get_http_only(cookie)) {
    bool known = false;
    all = soup_cookie_jar_all_cookies(learner);
    for (GSList* at = all; at; at = at->next) {
      auto* held = static_cast<SoupCookie*>(at->data);
      known = known || (g_strcmp0(soup_cookie_get_name(held),
                                  soup_cookie_get_name(cookie)) == 0 &&
                        g_strcmp0(soup_cookie_get_path(held),
                                  soup_cookie_get_path(cookie)) == 0);
    }
    g_slist_free_full(all, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
    if (known || count < kCookiesPerLearner) {
      soup_cookie_jar_add_cookie(learner, cookie);  // takes it
      cookie = nullptr;
    }
  }
  if (cookie) soup_cookie_free(cookie);
  g_uri_unref(uri);
}

void MoviePage::servePageRequest(SoupServerMessage* msg) {
  std::optional<std::string> body;
  if (g_strcmp0(soup_server_message_get_method(msg), "POST") == 0)
    body = HttpBody(msg, kCookieBytes * 2);
  std::optional<std::vector<std::string>> items =
      body ? DecodeStringArray(*body) : std::nullopt;
  std::string value;
  if (items && items->size() >= 2) {
    const std::string& kind = (*items)[0];
    const std::string& path = (*items)[1];
    const std::string owner = cookieOwner ? cookieOwner() : std::string();
    if (kind == "cookie" && items->size() == 2) {
      value = cookies_.read(owner, path);
    } else if (kind == "cookie") {
      cookies_.write(owner, path, (*items)[2]);
    } else if (kind == "missing" && items->size() == 3) {
      claimLacking((*items)[2], path);
    } else if (kind == "flash") {
      if (pageNamesMovie(path)) value.push_back('1');
    } else if ((kind == "blocked" || kind == "crashed") && onContentSays) {
      onContentSays(*items);
    }
  }
  HttpBytes(msg, 200, std::move(value), "text/plain; charset=utf-8",
            inOrigin(kPackageContentPolicy));
}

namespace {

// A path in the package from the page's address of it ("" when not one).
std::string InPackage(const std::string& address, std::string_view prefix) {
  if (address.compare(0, prefix.size(), prefix) != 0) return "";
  std::string rest = address.substr(prefix.size());
  rest = rest.substr(0, rest.find_first_of("?#"));
  GCharPtr decoded(g_uri_unescape_string(rest.c_str(), nullptr));
  return decoded ? decoded.get() : "";
}

}  // namespace

void MoviePage::lacking(const std::string& file) {
  constexpr guint kClaimMs = 1000;
  if (named_.count(file) || unclaimed_.count(file)) return;
  struct Job {
    MoviePage* page;
    std::string file;
  };
  unclaimed_[file] = g_timeout_add_full(
      G_PRIORITY_DEFAULT, kClaimMs,
      [](gpointer data) -> gboolean {
        const auto* job = static_cast<Job*>(data);
        job->page->unclaimed_.erase(job->file);
        job->page->nameLacking(job->file, "");
        return G_SOURCE_REMOVE;
      },
      new Job{this, file},
      [](gpointer data) { delete static_cast<Job*>(data); });
}

void MoviePage::claimLacking(const std::string& url, const std::string& page) {
  const std::string file = InPackage(url, inOrigin("zept://content/pkg/"));
  const auto waiting = unclaimed_.find(file);
  if (file.empty() || waiting == unclaimed_.end()) return;
  g_source_remove(waiting->second);
  unclaimed_.erase(waiting);
  nameLacking(file, InPackage(page, "/pkg/"));
}

void MoviePage::nameLacking(const std::string& file, const std::string& page) {
  if (!named_.insert(file).second) return;
  if (onMissingFile) onMissingFile(file, page);
}

bool MoviePage::pageNamesMovie(const std::string& path) {
  constexpr std::string_view kPrefix = "/pkg/";
  if (path.compare(0, kPrefix.size(), kPrefix) != 0) return false;
  GCharPtr decoded(
      g_uri_unescape_string(path.substr(kPrefix.size()).c_str(), nullptr));
  if (!decoded) return false;
  const auto known = namesMovie_.find(decoded.get());
  if (known != namesMovie_.end()) return known->second;
  std::optional<PackageFile> file;
  try {
    if (onPackageFile) file = onPackageFile(decoded.get());
  } catch (const std::exception&) {
  }
  std::string text;
  if (file && !file->nativeFile.empty()) {
    std::ifstream in(file->nativeFile, std::ios::binary);
    text.resize(kPageBytesRead);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
  } else if (file && !file->stream) {
    text = std::move(file->bytes);
  }
  const bool names = NamesMovie(text);
  namesMovie_[decoded.get()] = names;
  return names;
}

}  // namespace zept::desktop
