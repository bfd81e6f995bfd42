#include "platform/posix/curl_http.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>

namespace zept::platform {
namespace {

// An LRS answers in kilobytes; anything far larger is not an LRS.
constexpr std::size_t kMaxBody = 8 << 20;

#define ZEPT_STR2(x) #x
#define ZEPT_STR(x) ZEPT_STR2(x)
constexpr const char* kUserAgent =
    "zept/" ZEPT_STR(ZEPT_VERSION_MAJOR) "." ZEPT_STR(
        ZEPT_VERSION_MINOR) "." ZEPT_STR(ZEPT_VERSION_PATCH);

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' ||
                   s[e - 1] == '\n'))
    --e;
  return s.substr(b, e - b);
}

struct Exchange {
  HttpResponse response;
  bool tooLarge = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count,
                   void* user) {
  auto& x = *static_cast<Exchange*>(user);
  std::size_t n = size * count;
  if (x.response.body.size() + n > kMaxBody) {
    x.tooLarge = true;
    return 0;  // makes curl stop with an error
  }
  x.response.body.append(data, n);
  return n;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count,
                     void* user) {
  auto& x = *static_cast<Exchange*>(user);
  std::size_t n = size * count;
  std::string line(data, n);
  // A new status line (after a 100 Continue, or a proxy's CONNECT) starts
  // the headers of another answer.
  if (line.rfind("HTTP/", 0) == 0) {
    x.response.headers.clear();
    return n;
  }
  auto colon = line.find(':');
  if (colon == std::string::npos) return n;
  std::string name = Trim(line.substr(0, colon));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  if (!name.empty()) x.response.headers[name] = Trim(line.substr(colon + 1));
  return n;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

class CurlHttp final : public Http {
 public:
  CurlHttp() {
    GlobalInit();
    curl_ = curl_easy_init();
  }
  void cancel() override { cancelled_ = true; }
  ~CurlHttp() override {
    if (curl_) curl_easy_cleanup(curl_);
  }

  HttpResponse send(const HttpRequest& request) override {
    if (cancelled_) {
      HttpResponse failed;
      failed.error = "cancelled";
      return failed;
    }
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      return exchange(request);
    } catch (const std::exception& e) {
      HttpResponse failed;
      failed.error = OneLine(e.what());
      return failed;
    }
  }

 private:
  HttpResponse exchange(const HttpRequest& request) {
    Exchange x;
    if (!curl_) {
      x.response.error = "cannot start libcurl";
      return x.response;
    }
    CURL* c = curl_;
    curl_easy_reset(c);
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    if (request.timeoutMs > 0)
      curl_easy_setopt(c, CURLOPT_TIMEOUT_MS,
                       static_cast<long>(request.timeoutMs));
    if (request.connectTimeoutMs > 0)
      curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                       static_cast<long>(request.connectTimeoutMs));
    if (request.lowSpeedBytes > 0 && request.lowSpeedSeconds > 0) {
      curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT,
                       static_cast<long>(request.lowSpeedBytes));
      curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME,
                       static_cast<long>(request.lowSpeedSeconds));
    }
    // An empty list would mean no exception: "*" is every host.
    if (request.direct) curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &x);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &x);
    // Checked while the transfer runs, so cancel() ends it within moments.
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &cancelled_);

    if (request.method == "GET") {
      curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
      curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
      if (request.method != "POST")
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
      curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data());
      curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
    }
    if (!request.username.empty()) {
      curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
      curl_easy_setopt(c, CURLOPT_USERNAME, request.username.c_str());
      curl_easy_setopt(c, CURLOPT_PASSWORD, request.password.c_str());
    }

    struct SList {
      curl_slist* list = nullptr;
      ~SList() { curl_slist_free_all(list); }
    } headers;
    auto append = [&](const std::string& line) {
      curl_slist* grown = curl_slist_append(headers.list, line.c_str());
      if (!grown) throw std::bad_alloc();
      headers.list = grown;
    };
    // "Name;" is curl's way of sending a header with no value.
    for (const auto& [name, value] : request.headers)
      append(value.empty() ? name + ";" : name + ": " + value);
    // A body goes at once, without waiting on a 100 Continue.
    append("Expect:");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.list);

    CURLcode code = curl_easy_perform(c);
    // Nothing of the request may outlive it in the handle.
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
    if (code != CURLE_OK) {
      HttpResponse failed;
      if (x.tooLarge)
        failed.error = "the answer is larger than " +
                       std::to_string(kMaxBody >> 20) + " MB";
      else
        failed.error =
            OneLine(*errorBuffer ? errorBuffer : curl_easy_strerror(code));
      // Once the request's headers went out, the link was there.
      long requestBytes = 0;
      failed.stalled = code == CURLE_OPERATION_TIMEDOUT &&
                       curl_easy_getinfo(c, CURLINFO_REQUEST_SIZE,
                                         &requestBytes) == CURLE_OK &&
                       requestBytes > 0;
      return failed;
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    x.response.status = static_cast<int>(status);
    if (status == 0) x.response.error = "no HTTP answer";
    return x.response;
  }

  static int OnProgress(void* cancelled, curl_off_t, curl_off_t, curl_off_t,
                        curl_off_t) {
    return static_cast<std::atomic<bool>*>(cancelled)->load() ? 1 : 0;
  }

  std::atomic<bool> cancelled_{false};
  std::mutex mutex_;
  CURL* curl_ = nullptr;
};

}  // namespace

std::unique_ptr<Http> NewCurlHttp() { return std::make_unique<CurlHttp>(); }

}  // namespace zept::platform
