#pragma once
// The desktop run of zept: the GTK window, real dialogs and the movies
// played by the Flash emulator in the movie page.

#include <functional>
#include <string>

#include "desktop/page.h"
#include "platform/text.h"
#include "util/context.h"

namespace zept {

// The emulator's web build: ZEPT_RUFFLE_DIR, else "ruffle" beside the
// program, else "share/zept/ruffle" of its installation; "" when none has it.
std::string FindRuffleDir(const std::string& programPath);

// The folder of zept's media extension for WebKit's web process:
// ZEPT_WEB_EXTENSIONS_DIR, else "web-extensions" beside the program, else
// lib/zept/web-extensions of the installation; "" when none holds it.
std::string FindMediaExtensionDir(const std::string& programPath);

// Runs the course in programFolder (native, trailing "/") in a window until
// it closes, on page, whose loading the caller began as early as it could.
// Returns the exit status. lrsOption is --lrs ("" when not given).
int RunDesktop(Context& ctx, const WideString& programFolder,
               desktop::MoviePage& page,
               const std::function<void(const WideString&)>& print,
               const std::string& lrsOption = "");

}  // namespace zept
