// zept-lrs-serve: a developer's program, not installed. Serves zept's LRS,
// in its plain xAPI form, over a temporary store on 127.0.0.1 with HTTP
// Basic for one user, so an LRS test suite can reach the code the window's
// content reaches. One request at a time; each connection is closed after
// its answer.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/progress_store.h"
#include "util/utf8.h"
#include "xapi/content_lrs.h"
#include "xapi/json.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: zept-lrs-serve --port N --user U --password P\n"
    "Serves zept's LRS (xAPI 1.0.3) at http://127.0.0.1:N/xapi/ over a store "
    "that is\n"
    "removed when it ends, for HTTP Basic with U and P only. A developer's "
    "program:\n"
    "it runs LRS test suites against the LRS content reaches in zept's "
    "window.\n";

// Beyond these a request is refused before it is read whole.
constexpr std::size_t kMaxHeaderBytes = 64u << 10;
constexpr std::size_t kMaxBodyBytes = 32u << 20;

std::string Base64(const std::string& text) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    const auto byte = [&](std::size_t at) {
      return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
    };
    const unsigned n = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    out += kDigits[n >> 18 & 63];
    out += kDigits[n >> 12 & 63];
    out += i + 1 < text.size() ? kDigits[n >> 6 & 63] : '=';
    out += i + 2 < text.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

// A string as JSON.
std::string Quoted(const std::string& text) {
  zept::xapi::JsonValue value;
  value.type = zept::xapi::JsonType::kString;
  value.text = text;
  return zept::xapi::WriteJson(value);
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zept-lrs-serve: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

struct HttpRequest {
  std::string method, target;
  zept::xapi::HttpHeaders headers;
  std::string body;
};

std::string HeaderOf(const zept::xapi::HttpHeaders& headers,
                     const std::string& name) {
  for (const auto& [key, value] : headers)
    if (zept::AsciiLower(key) == name) return value;
  return "";
}

// Reads what the peer sends until it holds an end of headers and the body
// they announce; nullopt when the peer stops or sends something else.
class Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection() { ::close(fd_); }

  std::optional<HttpRequest> read(std::string& fault) {
    std::size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (buffer_.size() > kMaxHeaderBytes)
        return fail(fault, "headers too long");
      if (!fill()) return std::nullopt;
    }
    HttpRequest request;
    const std::string head = buffer_.substr(0, end);
    buffer_.erase(0, end + 4);
    std::size_t line = head.find("\r\n");
    const std::string first = head.substr(0, line);
    const std::size_t a = first.find(' '), b = first.rfind(' ');
    if (a == std::string::npos || a == b) return fail(fault, "no request line");
    request.method = first.substr(0, a);
    request.target = first.substr(a + 1, b - a - 1);
    while (line != std::string::npos) {
      const std::size_t next = head.find("\r\n", line + 2);
      const std::string field = head.substr(line + 2, next - line - 2);
      line = next;
      const std::size_t colon = field.find(':');
      if (colon == std::string::npos) continue;
      std::string value = field.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.erase(0, 1);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.pop_back();
      request.headers.emplace_back(field.substr(0, colon), value);
    }
    if (zept::AsciiLower(HeaderOf(request.headers, "transfer-encoding"))
            .find("chunked") != std::string::npos) {
      for (;;) {
        std::size_t eol;
        while ((eol = buffer_.find("\r\n")) == std::string::npos)
          if (!fill()) return std::nullopt;
        const std::size_t size = std::strtoul(buffer_.c_str(), nullptr, 16);
        buffer_.erase(0, eol + 2);
        if (request.body.size() + size > kMaxBodyBytes)
          return fail(fault, "body too long");
        while (buffer_.size() < size + 2)
          if (!fill()) return std::nullopt;
        request.body.append(buffer_, 0, size);
        buffer_.erase(0, size + 2);
        if (size == 0) break;
      }
      return request;
    }
    const std::string length = HeaderOf(request.headers, "content-length");
    const std::size_t size =
        length.empty() ? 0 : std::strtoul(length.c_str(), nullptr, 10);
    if (size > kMaxBodyBytes) return fail(fault, "body too long");
    while (buffer_.size() < size)
      if (!fill()) return std::nullopt;
    request.body = buffer_.substr(0, size);
    buffer_.erase(0, size);
    return request;
  }

  void write(const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
      const ssize_t n =
          ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }

 private:
  bool fill() {
    char chunk[65536];
    for (;;) {
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
  }
  std::optional<HttpRequest> fail(std::string& fault, const char* why) {
    fault = why;
    return std::nullopt;
  }

  int fd_;
  std::string buffer_;
};

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 409:
      return "Conflict";
    case 412:
      return "Precondition Failed";
    case 413:
      return "Payload Too Large";
    default:
      return status < 400 ? "OK" : "Error";
  }
}

std::string Serialize(const zept::xapi::LrsAnswer& answer, bool head) {
  std::string out = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                    Reason(answer.status) + "\r\n";
  bool length = false;
  for (const auto& [name, value] : answer.headers) {
    if (zept::AsciiLower(name) == "content-length") length = true;
    out += name + ": " + value + "\r\n";
  }
  if (!length && !(head && answer.body.empty()))
    out += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
  char date[64];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  out += std::string("Date: ") + date + "\r\n";
  // Browsers' pages (and the suite's) may call from another origin.
  out += "Access-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n";
  if (!head) out += answer.body;
  return out;
}

volatile sig_atomic_t stopping = 0;
void Stop(int) { stopping = 1; }

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  std::string user, password;
  bool haveUser = false, havePassword = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return Usage(arg + " needs a value");
    const std::string value = argv[++i];
    if (arg == "--port") {
      port = std::atoi(value.c_str());
      if (port <= 0 || port > 65535) return Usage("--port is from 1 to 65535");
    } else if (arg == "--user") {
      user = value;
      haveUser = true;
    } else if (arg == "--password") {
      password = value;
      havePassword = true;
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (!port || !haveUser || !havePassword)
    return Usage("--port, --user and --password are needed");

  std::string pattern =
      (fs::temp_directory_path() / "zept-lrs-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    std::perror("zept-lrs-serve: cannot make a temporary folder");
    return 1;
  }
  const std::string dir = pattern;
  int status = 0;
  {
    const std::string root = "http://127.0.0.1:" + std::to_string(port);
    zept::scorm::ProgressStore store(dir + "/lrs.sqlite");
    store.captureFor(root + "/xapi/");
    const std::unique_ptr<zept::xapi::LrsStore> learner = store.lrs(user);
    zept::xapi::ContentLrsOptions options;
    options.authority =
        "{\"objectType\":\"Agent\",\"account\":{\"homePage\":" + Quoted(root) +
        ",\"name\":" + Quoted(user) + "}}";
    options.root = "/xapi/";
    zept::xapi::ContentLrs lrs(*learner, options);
    const std::string credentials = "Basic " + Base64(user + ":" + password);

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address),
               sizeof address) != 0 ||
        ::listen(listener, 64) != 0) {
      std::fprintf(stderr,
                   "zept-lrs-serve: cannot listen on 127.0.0.1:%d: %s\n", port,
                   std::strerror(errno));
      status = 1;
    } else {
      struct sigaction action {};
      action.sa_handler = Stop;
      ::sigaction(SIGINT, &action, nullptr);
      ::sigaction(SIGTERM, &action, nullptr);
      std::printf("zept-lrs-serve: %s/xapi/\n", root.c_str());
      std::fflush(stdout);
      while (!stopping) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        Connection connection(fd);
        std::string fault;
        const std::optional<HttpRequest> http = connection.read(fault);
        if (!http) {
          if (!fault.empty())
            connection.write(Serialize(
                zept::xapi::RefuseRequest(413, "request " + fault), false));
          continue;
        }
        std::string path = http->target, query;
        if (const std::size_t mark = path.find('?');
            mark != std::string::npos) {
          query = path.substr(mark + 1);
          path.erase(mark);
        }
        zept::xapi::LrsAnswer answer;
        if (http->method == "OPTIONS") {
          answer.status = 204;
          answer.headers = {
              {"Access-Control-Allow-Methods", "GET, PUT, POST, DELETE, HEAD"},
              {"Access-Control-Allow-Headers",
               "Authorization, Content-Type, X-Experience-API-Version, "
               "If-Match, If-None-Match"}};
        } else if (!path.starts_with("/xapi/")) {
          answer = zept::xapi::RefuseRequest(404, "the LRS is at /xapi/");
        } else {
          const zept::xapi::LrsRequest request = zept::xapi::PlainRequest(
              {http->method, path.substr(6), query, http->headers, http->body});
          // The about resource tells any client which versions are spoken.
          const bool about =
              request.path == "about" || request.path == "about/";
          if (!about &&
              HeaderOf(request.headers, "authorization") != credentials) {
            answer = zept::xapi::RefuseRequest(401, "not this LRS's user");
            answer.headers.emplace_back("WWW-Authenticate",
                                        "Basic realm=\"zept\"");
            answer.headers.emplace_back("X-Experience-API-Version", "1.0.3");
          } else {
            answer = lrs.handle(request);
          }
          if (!answer.journal.empty())
            std::fprintf(stderr, "%s\n", answer.journal.c_str());
        }
        connection.write(Serialize(answer, http->method == "HEAD"));
      }
    }
    if (listener >= 0) ::close(listener);
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return status;
}
