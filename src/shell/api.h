#pragma once
// Events into the menu movie: entries appended to its variable API._sCommand.

#include "moviehost/moviehost.h"
#include "util/context.h"

namespace zept {

// Appends "event;data" to the movie's queue ("|" between entries). A movie
// that is missing or not fully loaded loses the event (a trace row says so).
void tellFlashCommand(Context& ctx, MovieHost* movie, const WideString& event,
                      const WideString& data);

}  // namespace zept
