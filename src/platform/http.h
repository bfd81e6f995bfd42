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
  // For the whole exchange, connecting included.
  int timeoutMs = 30000;
};

struct HttpResponse {
  // 0 when no answer came (refused, unreachable, timed out, a certificate
  // that does not verify): error says why, in a line.
  int status = 0;
  std::string error;
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
