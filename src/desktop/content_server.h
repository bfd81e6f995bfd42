#pragma once
// The package's origin as an LMS serves it: http://127.0.0.1:PORT, on a
// loopback port of zept's own, so that content written for the web (its
// address parsed as http, beacons, requests on unload, root-absolute
// paths) plays as there. Only the launch playing now is answered: each
// request must carry the launch's secret (a cookie only its browser
// context holds) and name the server by its own address, so neither
// another local user nor a page of the user's own browser gets anything.

#include <libsoup/soup.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "desktop/gobject.h"

namespace zept::desktop {

// The cookie that carries a launch's secret.
inline constexpr char kLaunchCookie[] = "zept-launch";

class ContentServer {
 public:
  // Listens on 127.0.0.1 at a port the system chooses; listening() says
  // whether it could, error() why not.
  ContentServer();
  ~ContentServer();
  ContentServer(const ContentServer&) = delete;
  ContentServer& operator=(const ContentServer&) = delete;

  bool listening() const { return port_ > 0; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  // "http://127.0.0.1:PORT", no slash at the end.
  const std::string& origin() const { return origin_; }
  // A new unguessable secret, the only one answered from now on; "" answers
  // nothing.
  std::string newSecret();
  void forgetSecret() { secret_.clear(); }

  // A request that carries the secret and names the server: its path
  // (decoded, without the leading slash). The answer is given through msg,
  // at once or later (paused).
  std::function<void(SoupServerMessage* msg, const std::string& path)>
      onRequest;
  // Requests marked as sent while their page went, that have arrived.
  long lastArrived() const { return lastArrived_; }

 private:
  static void Handle(SoupServer*, SoupServerMessage* msg, const char* path,
                     GHashTable*, gpointer self);
  bool admits(SoupServerMessage* msg) const;

  GObjectPtr<SoupServer> server_;
  int port_ = 0;
  std::string origin_;
  std::string host_;  // what the Host header must say
  std::string secret_;
  std::string error_;
  long lastArrived_ = 0;
};

// Answers of the origin. policy is the content security policy they carry.
void HttpBytes(SoupServerMessage* msg, int status, std::string bytes,
               const std::string& type, const std::string& policy,
               const std::vector<std::pair<std::string, std::string>>&
                   headers = {});
// size bytes of stream (seekable, at its start), or the one range of them
// asked for, read on other threads as they are sent.
void HttpStream(SoupServerMessage* msg, GInputStream* stream, goffset size,
                const std::string& type, const std::string& policy);
// The file at path; false (why says why) when it is not a regular file it
// can open, msg not answered then.
bool HttpFile(SoupServerMessage* msg, const std::string& path,
              std::string& why, const std::string& policy);
void HttpNotFound(SoupServerMessage* msg, const std::string& why);

// The request's body, nullopt past limit bytes.
std::optional<std::string> HttpBody(SoupServerMessage* msg, std::size_t limit);

}  // namespace zept::desktop
