#pragma once
// What a package's pages ask of zept besides their files (see the scripts
// of content_policy.cpp): their cookies, kept per learner in memory, and
// whether a page names a movie, which decides whether it is told of the
// Flash plugin.

#include <libsoup/soup.h>

#include <map>
#include <string>
#include <string_view>

#include "desktop/gobject.h"

namespace zept::desktop {

// True when the text of a page names a movie file (".swf" ending a name, in
// any case): such a page writes or embeds a movie for the emulator to play.
bool NamesMovie(std::string_view text);

// One jar of cookies per learner, as document.cookie reads and writes them
// for a page at a path of the package's origin; never written to disk, and
// one learner never reads another's.
class CookieJars {
 public:
  // What document.cookie gives the page at path for owner.
  std::string read(const std::string& owner, const std::string& path);
  // Sets one cookie as document.cookie = text does. Refused past the sizes
  // a browser keeps (4 KiB a cookie, 300 a learner).
  void write(const std::string& owner, const std::string& path,
             const std::string& text);

 private:
  SoupCookieJar* jar(const std::string& owner);
  std::map<std::string, GObjectPtr<SoupCookieJar>> jars_;
};

}  // namespace zept::desktop
