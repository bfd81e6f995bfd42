#pragma once
// HTTP for zept's own traffic (results to an LRS): one blocking request at a
// time, called from a sending thread or a command-line tool, never from the
// window's loop. Course content never goes through it.

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zept::platform {

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  // In order; names as they are sent.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Basic authentication when username is not empty.
  std::string username;
  std::string password;
  // For the whole exchange, connecting included; 0 for no such limit.
  int timeoutMs = 30000;
  // For making the connection alone; 0 leaves it to timeoutMs.
  int connectTimeoutMs = 0;
  // Ends an exchange that moves fewer than lowSpeedBytes a second for
  // lowSpeedSeconds in a row: a slow link still gets through, a stalled
  // one is given up. 0 for none.
  int lowSpeedBytes = 0;
  int lowSpeedSeconds = 0;
  // Never through a proxy, whatever the environment says.
  bool direct = false;
};

struct HttpResponse {
  // 0 when no answer came (refused, unreachable, timed out, a certificate
  // that does not verify): error says why, in a line.
  int status = 0;
  std::string error;
  // No answer because the exchange stalled or ran out of time once
  // connected (not a connection that could not be made).
  bool stalled = false;
  // Names lower-case; a repeated header keeps its last value.
  std::map<std::string, std::string> headers;
  std::string body;
};

class Http {
 public:
  virtual ~Http() = default;
  // Never throws: every failure is a response with status 0.
  virtual HttpResponse send(const HttpRequest& request) = 0;
  // From any thread: ends the request in flight, and every later one, at
  // once with status 0, for a program that quits while a send is under way.
  virtual void cancel() {}
};

}  // namespace zept::platform
