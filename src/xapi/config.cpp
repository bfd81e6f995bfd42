#include "xapi/config.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "util/utf8.h"

namespace zept::xapi {
namespace {

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A scheme ":" and then no spaces or control characters (other bytes of
// UTF-8 are welcome: these are IRIs).
bool IsAbsoluteIri(const std::string& s) {
  auto colon = s.find(':');
  if (colon == std::string::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(s[0])))
    return false;
  for (std::size_t i = 0; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  if (colon + 1 == s.size()) return false;
  for (unsigned char c : s)
    if (c <= ' ' || c == 0x7F || c == '"' || c == '<' || c == '>' || c == '\\')
      return false;
  return true;
}

struct WebAddress {
  std::string scheme;  // lower-case
  std::string host;    // lower-case, an IPv6 address without its brackets
  bool userInfo = false;
  bool queryOrFragment = false;
};

// An http(s) address with a host; nullopt for anything else.
std::optional<WebAddress> ParseWebAddress(const std::string& s) {
  if (!IsAbsoluteIri(s)) return std::nullopt;
  auto colon = s.find(':');
  WebAddress a;
  a.scheme = Lower(s.substr(0, colon));
  if ((a.scheme != "http" && a.scheme != "https") ||
      s.compare(colon, 3, "://") != 0)
    return std::nullopt;
  std::size_t start = colon + 3;
  std::size_t end = s.find_first_of("/?#", start);
  std::string authority = s.substr(
      start, end == std::string::npos ? std::string::npos : end - start);
  a.queryOrFragment = s.find_first_of("?#") != std::string::npos;
  auto at = authority.rfind('@');
  if (at != std::string::npos) {
    a.userInfo = true;
    authority = authority.substr(at + 1);
  }
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    auto close = authority.find(']');
    if (close == std::string::npos) return std::nullopt;
    a.host = Lower(authority.substr(1, close - 1));
    std::string rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return std::nullopt;
      port = rest.substr(1);
      if (!AllDigits(port)) return std::nullopt;
    }
  } else {
    auto portColon = authority.rfind(':');
    a.host = Lower(authority.substr(0, portColon));
    if (portColon != std::string::npos) {
      port = authority.substr(portColon + 1);
      if (!AllDigits(port)) return std::nullopt;
    }
  }
  if (a.host.empty()) return std::nullopt;
  if (!port.empty() &&
      (port.size() > 5 || std::stoi(port) == 0 || std::stoi(port) > 65535))
    return std::nullopt;
  return a;
}

bool IsLoopback(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  // 127.0.0.0/8 written as four decimal numbers.
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t dot = host.find('.', pos);
    if ((part < 3) != (dot != std::string::npos)) return false;
    std::string n = host.substr(
        pos, dot == std::string::npos ? std::string::npos : dot - pos);
    if (!AllDigits(n) || n.size() > 3 || std::stoi(n) > 255) return false;
    if (part == 0 && n != "127") return false;
    pos = dot + 1;
  }
  return true;
}

const char* const kKeys[] = {"endpoint", "username", "password", "homepage",
                             "activity-base"};

}  // namespace

std::optional<LrsConfig> ParseLrsConfig(const std::string& text,
                                        const std::string& file,
                                        std::string& error) {
  std::map<std::string, std::pair<std::string, int>> values;  // value, line
  bool inSection = false, sawSection = false;
  auto fail = [&](int line, const std::string& why) {
    error = file + ": line " + std::to_string(line) + ": " + why;
    return std::nullopt;
  };

  std::size_t pos = 0;
  // A byte order mark from an editor on another system.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  for (int lineNo = 1; pos <= text.size(); ++lineNo) {
    std::size_t eol = text.find('\n', pos);
    std::string line = Trim(text.substr(
        pos, eol == std::string::npos ? std::string::npos : eol - pos));
    pos = eol == std::string::npos ? text.size() + 1 : eol + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return fail(lineNo, "expected [lrs]");
      std::string name = Lower(Trim(line.substr(1, line.size() - 2)));
      if (name != "lrs")
        return fail(lineNo, "unknown section [" + name + "], expected [lrs]");
      if (sawSection) return fail(lineNo, "a second [lrs] section");
      inSection = sawSection = true;
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos) return fail(lineNo, "expected key=value");
    if (!inSection) return fail(lineNo, "a key before the [lrs] section");
    // A value may hold ";", "#" or "=" (a password): no comment after it.
    std::string key = Lower(Trim(line.substr(0, eq)));
    std::string value = Trim(line.substr(eq + 1));
    bool known = false;
    for (const char* k : kKeys) known = known || key == k;
    if (!known) return fail(lineNo, "unknown key '" + key + "'");
    if (values.count(key)) return fail(lineNo, key + " is given twice");
    values[key] = {value, lineNo};
  }

  for (const char* k : kKeys) {
    auto it = values.find(k);
    if (it == values.end() || it->second.first.empty()) {
      error = file + ": no " + k + " in the [lrs] section";
      return std::nullopt;
    }
  }

  LrsConfig config;
  config.file = file;
  config.endpoint = values["endpoint"].first;
  config.username = values["username"].first;
  config.password = values["password"].first;
  config.homePage = values["homepage"].first;
  config.activityBase = values["activity-base"].first;

  int line = values["endpoint"].second;
  auto endpoint = ParseWebAddress(config.endpoint);
  if (!endpoint)
    return fail(line, "the endpoint is not an http or https address");
  if (endpoint->userInfo)
    return fail(line, "the endpoint holds a user name; use username=");
  if (endpoint->queryOrFragment)
    return fail(line, "the endpoint has a query or fragment");
  if (endpoint->scheme == "http" && !IsLoopback(endpoint->host))
    return fail(line, "the endpoint must be https (http only on this machine)");
  if (config.endpoint.back() != '/') config.endpoint += '/';

  line = values["homepage"].second;
  if (!ParseWebAddress(config.homePage))
    return fail(line, "the homepage is not an absolute http or https address");
  line = values["activity-base"].second;
  if (!IsAbsoluteIri(config.activityBase))
    return fail(line, "the activity-base is not an absolute IRI");
  return config;
}

std::vector<std::string> LrsConfigPlaces(const std::string& option,
                                         const std::string& xdgConfigHome,
                                         const std::string& home,
                                         const std::string& courseFolder) {
  auto join = [](std::string folder, const std::string& name) {
    if (folder.back() != '/') folder += '/';
    return folder + name;
  };
  std::vector<std::string> places;
  if (!option.empty()) places.push_back(option);
  if (!courseFolder.empty())
    places.push_back(join(courseFolder, "zept-lrs.conf"));
  // A relative XDG_CONFIG_HOME is to be ignored.
  if (!xdgConfigHome.empty() && xdgConfigHome[0] == '/')
    places.push_back(join(xdgConfigHome, "zept/lrs.conf"));
  else if (!home.empty())
    places.push_back(join(home, ".config/zept/lrs.conf"));
  return places;
}

bool IsLoopbackEndpoint(const std::string& endpoint) {
  auto address = ParseWebAddress(endpoint);
  return address && IsLoopback(address->host);
}

std::string EndpointKey(const std::string& endpoint) {
  if (endpoint.empty()) return "";
  std::string key = endpoint;
  const std::size_t colon = key.find("://");
  if (colon != std::string::npos) {
    const std::size_t hostEnd = key.find_first_of("/?#", colon + 3);
    for (std::size_t i = 0; i < std::min(hostEnd, key.size()); ++i)
      key[i] =
          static_cast<char>(std::tolower(static_cast<unsigned char>(key[i])));
  }
  if (!key.empty() && key.back() != '/') key += '/';
  return key;
}

}  // namespace zept::xapi
