// The page channel's messages, a movie's query on its way to the emulator
// and the header read of a movie the bridge is built for: all take bytes
// from files and pages the program does not own.

#include <cstddef>
#include <cstdint>
#include <string>

#include "desktop/bridge_movie.h"
#include "desktop/json_strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (auto items = zept::desktop::DecodeStringArray(input)) {
    const std::string again = zept::desktop::EncodeStringArray(*items);
    if (zept::desktop::DecodeStringArray(again) != items) __builtin_trap();
  }
  zept::desktop::QueryForEmulator(input);
  if (auto stage = zept::desktop::ReadSwfStage(input)) {
    zept::desktop::BuildBridgeMovie("1", "token", "zept://z/file/x.swf",
                                    *stage);
  }
  return 0;
}
