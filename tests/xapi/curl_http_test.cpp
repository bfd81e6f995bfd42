#include "platform/posix/curl_http.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace zept::platform {
namespace {

// A server on a loopback port that takes one connection, reads one request
// and answers it with `answer` (or never, when it is empty).
class OneShotServer {
 public:
  // chunk > 0: the answer goes out chunk bytes at a time, pause between.
  explicit OneShotServer(std::string answer, std::size_t chunk = 0,
                         std::chrono::milliseconds pause = {})
      : answer_(std::move(answer)), chunk_(chunk), pause_(pause) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
        listen(fd_, 1) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
      ADD_FAILURE() << "no loopback socket";
    port = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~OneShotServer() {
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }
  int port = 0;
  std::string request;  // read once the client has its answer

 private:
  void serve() {
    int c = accept(fd_, nullptr, nullptr);
    if (c < 0) return;
    char buffer[4096];
    std::size_t wanted = std::string::npos;
    while (request.size() < wanted) {
      ssize_t n = read(c, buffer, sizeof buffer);
      if (n <= 0) break;
      request.append(buffer, n);
      auto end = request.find("\r\n\r\n");
      if (end != std::string::npos && wanted == std::string::npos) {
        auto length = request.find("Content-Length: ");
        wanted = end + 4 +
                 (length < end ? std::stoul(request.substr(length + 16)) : 0);
      }
    }
    if (!answer_.empty() && chunk_ > 0) {
      for (std::size_t at = 0; at < answer_.size(); at += chunk_) {
        if (at > 0) std::this_thread::sleep_for(pause_);
        const std::size_t n = std::min(chunk_, answer_.size() - at);
        if (write(c, answer_.data() + at, n) != static_cast<ssize_t>(n)) break;
      }
    } else if (!answer_.empty()) {
      (void)!write(c, answer_.data(), answer_.size());
    } else {
      // Silent until the client gives up.
      while (read(c, buffer, sizeof buffer) > 0) {
      }
    }
    close(c);
  }

  std::string answer_;
  std::size_t chunk_ = 0;
  std::chrono::milliseconds pause_;
  int fd_ = -1;
  std::thread thread_;
};

TEST(CurlHttp, ExchangesWithALoopbackServer) {
  auto http = NewCurlHttp();
  OneShotServer server(
      "HTTP/1.1 200 OK\r\nX-Experience-API-Version: 1.0.3\r\n"
      "Content-Length: 8\r\nConnection: close\r\n\r\n[\"id-1\"]");
  HttpRequest q;
  q.method = "POST";
  q.url = server.url("/xAPI/statements");
  q.headers = {{"Content-Type", "application/json"}};
  q.body = "[{\"id\":\"id-1\"}]";
  q.username = "key";
  q.password = "secret";
  HttpResponse r = http->send(q);
  EXPECT_EQ(r.status, 200) << r.error;
  EXPECT_EQ(r.body, "[\"id-1\"]");
  EXPECT_EQ(r.headers["x-experience-api-version"], "1.0.3");
  const std::string& seen = server.request;
  EXPECT_EQ(seen.rfind("POST /xAPI/statements HTTP/1.1\r\n", 0), 0u) << seen;
  EXPECT_NE(seen.find("Authorization: Basic a2V5OnNlY3JldA==\r\n"),
            std::string::npos);  // key:secret
  EXPECT_NE(seen.find("Content-Type: application/json\r\n"), std::string::npos);
  EXPECT_EQ(seen.substr(seen.size() - q.body.size()), q.body);
}

TEST(CurlHttp, FailuresAreStatusZeroWithAReason) {
  auto http = NewCurlHttp();
  HttpRequest q;
  int closedPort;
  {
    // A port just given back: nothing listens there.
    OneShotServer gone("x");
    closedPort = gone.port;
  }
  q.url = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
  HttpResponse refused = http->send(q);
  EXPECT_EQ(refused.status, 0);
  EXPECT_FALSE(refused.error.empty());
  EXPECT_FALSE(refused.stalled) << "never connected";

  OneShotServer silent("");
  q.url = silent.url("/");
  q.timeoutMs = 100;
  auto before = std::chrono::steady_clock::now();
  HttpResponse late = http->send(q);
  EXPECT_EQ(late.status, 0);
  EXPECT_NE(late.error.find("imed out"), std::string::npos) << late.error;
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));

  q.url = "ftp://127.0.0.1/";
  EXPECT_EQ(http->send(q).status, 0);
}

// A slow link gets through however long it takes, as long as it moves; a
// stalled one is given up, and said to have stalled once connected.
TEST(CurlHttp, ASlowLinkGetsThroughAStalledOneIsGivenUp) {
  auto http = NewCurlHttp();
  const std::string body(3000, 'x');
  OneShotServer slow(
      "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n"
      "Connection: close\r\n\r\n" +
          body,
      200, std::chrono::milliseconds(100));
  HttpRequest q;
  q.url = slow.url("/");
  q.timeoutMs = 0;
  q.lowSpeedBytes = 100;
  q.lowSpeedSeconds = 1;
  const auto before = std::chrono::steady_clock::now();
  HttpResponse r = http->send(q);
  EXPECT_EQ(r.status, 200) << r.error;
  EXPECT_EQ(r.body, body);
  EXPECT_GT(std::chrono::steady_clock::now() - before,
            std::chrono::milliseconds(1200))
      << "longer than the low-speed time";

  OneShotServer silent("");
  q.url = silent.url("/");
  HttpResponse stalled = http->send(q);
  EXPECT_EQ(stalled.status, 0);
  EXPECT_TRUE(stalled.stalled) << stalled.error;
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(8));
}

}  // namespace
}  // namespace zept::platform
