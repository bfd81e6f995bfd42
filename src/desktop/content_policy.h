#pragma once
// What the page and a package's pages may load and run: the content
// security policies the scheme's answers carry, WebKit's content filter
// behind them (built in MoviePage's filter functions) and the scripts put
// into a package's frames.

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace zept::desktop {

// On every answer of the scheme to the movie page.
extern const char kContentSecurityPolicy[];
// The package's screens: their own script and a frame for the SCO.
extern const char kPackagePagePolicy[];
// The frame in the package's origin that holds the SCO and its API.
extern const char kPackageHostPolicy[];
// A package's own pages.
extern const char kPackageContentPolicy[];

// Puts the scripts a package's frames run into content: the Flash plugin
// they look for, the emulator for the movies they embed, and what they ask
// of the network named to the program.
// inOrigin makes their zept://content the origin the content is served
// at.
void AddPackageFrameScripts(
    WebKitUserContentManager* content,
    const std::function<std::string(std::string)>& inOrigin);

}  // namespace zept::desktop
