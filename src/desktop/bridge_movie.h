#pragma once
// The bridge movie: the emulator has no GetVariable or SetVariable, so every
// movie is played inside a small movie of its own stage size, frame rate
// and background that sits at _level0, loads the real movie into _level1
// and answers the page's reads and writes of _level1's variables.

#include <cstdint>
#include <optional>
#include <string>

namespace zept::desktop {

struct SwfStage {
  int width = 550, height = 400;  // pixels
  double frameRate = 12;
  std::uint8_t red = 255, green = 255, blue = 255;
};

// The stage of an FWS or CWS movie; nullopt for anything else. Reads no
// more of the body than the header and the first tags need.
std::optional<SwfStage> ReadSwfStage(const std::string& bytes);

// The bridge of player id for the movie at movieUrl (with its query). Its
// callbacks are "zeptGet" + id (path -> "v" + value, or "u" when
// undefined), "zeptSet" + id (path, "v" + value) and "zeptState" + id (->
// "framesloaded/totalframes"); the real movie's ExternalInterface calls go
// to the page's zeptCall(token, [name, arg1, ...]), where token is the
// player's secret, which the real movie cannot read.
std::string BuildBridgeMovie(const std::string& id, const std::string& token,
                             const std::string& movieUrl,
                             const SwfStage& stage);

// The query of a movie's URL ("?..." or "") as the emulator must get it:
// characters a URL cannot carry are percent-encoded, and a run of encoded
// bytes that is not UTF-8 (the shell encodes some start parameters in the
// ANSI code page, which the Flash control read as such) is re-encoded from
// Windows-1252 as UTF-8, since the emulator decodes queries as UTF-8.
std::string QueryForEmulator(const std::string& query);

}  // namespace zept::desktop
