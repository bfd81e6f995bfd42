#include "lrs/lrs_server.h"

#include <curl/curl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace zept::testing {
namespace {

namespace fs = std::filesystem;

const std::string kSourceDir = ZEPT_SOURCE_DIR;

std::string ScriptPath() { return kSourceDir + "/tests/lrs/start-lrs"; }

fs::path DepsPath() {
  const char* dir = std::getenv("ZEPT_LRS_DEPS");
  return dir ? fs::path(dir) : fs::path(kSourceDir) / ".deps" / "lrs";
}

bool InPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "";
  while (!rest.empty()) {
    size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) {
      return true;
    }
    rest = colon == std::string_view::npos ? "" : rest.substr(colon + 1);
  }
  return false;
}

size_t OnBody(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// The LRS's pages are {"more": "…", "statements": [ … ]}: enough JSON to
// cut them apart, no more. End of the value starting at i (at a non-space),
// or npos when it is cut short.
size_t ValueEnd(std::string_view s, size_t i) {
  int depth = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      for (++i; i < s.size() && s[i] != '"'; ++i) {
        if (s[i] == '\\') ++i;
      }
      if (i >= s.size()) return std::string_view::npos;
      if (depth == 0) return i + 1;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (depth == 0) return i;
      if (--depth == 0) return i + 1;
    } else if (depth == 0 &&
               (c == ',' || std::isspace(static_cast<unsigned char>(c)))) {
      return i;
    }
  }
  return depth == 0 ? i : std::string_view::npos;
}

size_t SkipSpace(std::string_view s, size_t i) {
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

// Reads one page: its statements appended to `out`, its "more" returned.
std::string ReadPage(std::string_view page, std::vector<std::string>& out) {
  auto bad = [&] {
    return std::runtime_error("LRS: unexpected page " + std::string(page));
  };
  std::string more;
  size_t i = SkipSpace(page, 0);
  if (i >= page.size() || page[i] != '{') throw bad();
  i = SkipSpace(page, i + 1);
  while (i < page.size() && page[i] != '}') {
    size_t keyEnd = ValueEnd(page, i);
    if (keyEnd == std::string_view::npos || keyEnd == i) throw bad();
    std::string_view key = page.substr(i, keyEnd - i);
    i = SkipSpace(page, keyEnd);
    if (i >= page.size() || page[i] != ':') throw bad();
    i = SkipSpace(page, i + 1);
    size_t end = ValueEnd(page, i);
    if (end == std::string_view::npos || end == i) throw bad();
    if (key == "\"statements\"") {
      if (page[i] != '[') throw bad();
      size_t j = SkipSpace(page, i + 1);
      while (j < end - 1) {
        size_t itemEnd = ValueEnd(page, j);
        if (itemEnd == std::string_view::npos || itemEnd == j) throw bad();
        out.emplace_back(page.substr(j, itemEnd - j));
        j = SkipSpace(page, itemEnd);
        if (page[j] == ',') j = SkipSpace(page, j + 1);
      }
    } else if (key == "\"more\"") {
      // A path; of the escapes only \/ and \\ can occur in it.
      for (size_t k = i + 1; k + 1 < end; ++k) {
        if (page[k] == '\\') ++k;
        more += page[k];
      }
    }
    i = SkipSpace(page, end);
    if (i < page.size() && page[i] == ',') i = SkipSpace(page, i + 1);
  }
  return more;
}

}  // namespace

LrsServer::LrsServer(std::string key, std::string secret)
    : key_(std::move(key)), secret_(std::move(secret)) {
  static std::once_flag curl;
  std::call_once(curl, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

LrsServer::~LrsServer() {
  stop();
  if (!scratch_.empty()) {
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }
}

std::string LrsServer::missing() {
  if (!fs::exists(DepsPath() / "node_modules" / "@learninglocker" /
                  "xapi-statements" / "package.json")) {
    return "the test LRS is not installed in " + DepsPath().string() +
           " (run scripts/bootstrap)";
  }
  if (!InPath("node"))
    return "the test LRS needs node in PATH (run scripts/bootstrap)";
  return "";
}

void LrsServer::start() {
  if (running()) return;
  if (scratch_.empty()) {
    std::string dir = (fs::temp_directory_path() / "zept-lrs-XXXXXX").string();
    if (!mkdtemp(dir.data()))
      throw std::runtime_error("LRS: no scratch folder");
    scratch_ = dir;
  }
  const std::string portFile = scratch_ + "/port";
  fs::remove(portFile);
  const std::string script = ScriptPath();
  const std::string port = std::to_string(port_);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("LRS: fork failed");
  if (pid_ == 0) {
    // Its own process group, so that stop() ends whatever it started.
    setpgid(0, 0);
    // Nor does it outlive a test program that crashed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    execl(script.c_str(), script.c_str(), "--port", port.c_str(), "--key",
          key_.c_str(), "--secret", secret_.c_str(), "--port-file",
          portFile.c_str(), nullptr);
    _exit(127);
  }
  setpgid(pid_, pid_);
  // Written once it listens; its errors go to our stderr.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (true) {
    std::ifstream in(portFile);
    int listening = 0;
    if (in >> listening && listening > 0) {
      port_ = listening;
      return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("LRS: start-lrs ended before listening");
    }
    if (std::chrono::steady_clock::now() > deadline) {
      stop();
      throw std::runtime_error("LRS: start-lrs did not listen within 20 s");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void LrsServer::stop() {
  if (!running()) return;
  kill(-pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
}

std::string LrsServer::endpoint() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/xAPI/";
}

LrsServer::Reply LrsServer::request(const std::string& method,
                                    const std::string& target,
                                    const std::string& body) const {
  Reply reply;
  CURL* curl = curl_easy_init();
  if (!curl) return reply;
  std::string url = target.rfind("http", 0) == 0
                        ? target
                        : "http://127.0.0.1:" + std::to_string(port_) + target;
  std::string auth = key_ + ":" + secret_;
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "X-Experience-API-Version: 1.0.3");
  headers = curl_slist_append(headers, "Content-Type: application/json");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_USERPWD, auth.c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (!body.empty()) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE,
                     static_cast<long>(body.size()));
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  if (curl_easy_perform(curl) == CURLE_OK) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    reply.status = static_cast<int>(status);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return reply;
}

std::vector<std::string> LrsServer::statements() const {
  std::vector<std::string> all;
  std::string next = "/xAPI/statements?ascending=true";
  while (!next.empty()) {
    Reply page = request("GET", next);
    if (page.status != 200) {
      throw std::runtime_error("LRS: GET " + next + " answered " +
                               std::to_string(page.status) + " " + page.body);
    }
    next = ReadPage(page.body, all);
  }
  return all;
}

void LrsServer::control(const std::string& query) {
  Reply reply = request("POST", "/control?" + query);
  if (reply.status != 204)
    throw std::runtime_error("LRS: control " + query + " failed");
}

void LrsServer::failNext(int count, int status, Body body) {
  control("fail=" + std::to_string(count) +
          "&status=" + std::to_string(status) +
          (body == Body::kPage ? "&page=1" : "&page=0"));
}

void LrsServer::listIdsNext(int count, bool half) {
  control("ids=" + std::to_string(count) + (half ? "&half=1" : "&half=0"));
}

void LrsServer::dropNext(int count) {
  control("drop=" + std::to_string(count));
}

void LrsServer::waitIdle() { control("idle=1"); }

void LrsServer::refuseCredentials(bool on) {
  control(on ? "refuse=1" : "refuse=0");
}

}  // namespace zept::testing
