#pragma once
// A real LRS for the tests (tests/lrs/start-lrs, installed by
// scripts/bootstrap into .deps/lrs): a child process on a free loopback
// port, statements in its memory, HTTP Basic with a key and secret of ours.
// Tests without the install skip:
//   if (auto why = LrsServer::missing(); !why.empty()) GTEST_SKIP() << why;

#include <sys/types.h>

#include <string>
#include <vector>

namespace zept::testing {

class LrsServer {
 public:
  struct Reply {
    int status = 0;  // 0: no answer
    std::string body;
  };

  LrsServer(std::string key = "zept-key", std::string secret = "zept-secret");
  ~LrsServer();
  LrsServer(const LrsServer&) = delete;
  LrsServer& operator=(const LrsServer&) = delete;

  // Why the LRS cannot run here, or empty when it can.
  static std::string missing();

  // Starts it and returns once it listens (about 0.4 s); the first start
  // takes a free port, later ones the same port. Throws std::runtime_error.
  // Statements do not survive stop(): a restart begins with an empty LRS.
  void start();
  void stop();
  bool running() const { return pid_ > 0; }

  // The xAPI base, ending in "/": http://127.0.0.1:PORT/xAPI/
  std::string endpoint() const;
  int port() const { return port_; }
  const std::string& key() const { return key_; }
  const std::string& secret() const { return secret_; }

  // A request with the key and secret and the version header; target is a
  // path from the root ("/xAPI/statements?…") or a whole URL.
  Reply request(const std::string& method, const std::string& target,
                const std::string& body = "") const;

  // Every statement held, oldest first (read through GET statements,
  // following "more"), one JSON text each. Throws on a failed read.
  std::vector<std::string> statements() const;

  // Faults on purpose, for the next xAPI requests:
  // answer `status` without processing them, with an xAPI error or with a
  // web page (a proxy's, a server's that is no LRS);
  enum class Body { kXapiError, kPage };
  void failNext(int count, int status = 500, Body body = Body::kXapiError);
  // answer 200 to POSTs of statements without storing them, with the ids
  // posted, or half of them, as an LRS's answer would;
  void listIdsNext(int count, bool half);
  // process them but close the connection without answering;
  void dropNext(int count);
  // answer 401 to every credential while on.
  void refuseCredentials(bool on);
  // Returns once every xAPI request the LRS has begun is answered, though
  // its client may be gone: a killed sender's last batch is then stored.
  // Throws when that takes over 20 s.
  void waitIdle();

 private:
  void control(const std::string& query);

  std::string key_;
  std::string secret_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::string scratch_;
};

}  // namespace zept::testing
