#pragma once
// Where results go: the LRS of the course team, read from a small key file
//   [lrs]
//   endpoint=https://lrs.example.org/xAPI/
//   username=KEY
//   password=SECRET
//   homepage=https://learners.example.org
//   activity-base=https://courses.example.org/

#include <optional>
#include <string>
#include <vector>

namespace zept::xapi {

struct LrsConfig {
  std::string endpoint;  // always ends with "/"
  std::string username;
  std::string password;
  std::string homePage;
  std::string activityBase;
  std::string file;  // the native path it was read from
};

// The configuration in text read from file (native path, for messages);
// nullopt with error in one line naming the file, and the line or the key
// that is wrong or missing. An http: endpoint is taken only on a loopback
// address (127.0.0.0/8, ::1, localhost); anything else must be https:.
std::optional<LrsConfig> ParseLrsConfig(const std::string& text,
                                        const std::string& file,
                                        std::string& error);

// Whether the endpoint's host is this machine (127.0.0.0/8, ::1,
// localhost): such an LRS is reached directly, never through a proxy.
bool IsLoopbackEndpoint(const std::string& endpoint);

// The endpoint as statements are filed under it: scheme and host in lower
// case, ending with "/". Statements captured for one endpoint are only ever
// sent to an endpoint with the same key.
std::string EndpointKey(const std::string& endpoint);

// The places a configuration is looked for, first match wins: the --lrs
// option, "zept-lrs.conf" beside the course (courseFolder: a package
// folder's root, the folder of a .zip, or a shell course's folder: the
// course team's choice for its course), then $XDG_CONFIG_HOME/zept/lrs.conf
// (else ~/.config/zept/lrs.conf). Empty arguments are left out. Native
// paths.
std::vector<std::string> LrsConfigPlaces(const std::string& option,
                                         const std::string& xdgConfigHome,
                                         const std::string& home,
                                         const std::string& courseFolder);

}  // namespace zept::xapi
