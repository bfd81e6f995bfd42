#pragma once
// Wide text to the UTF-8 that GTK accepts.

#include <string>

#include "platform/text.h"

namespace zept::desktop {

// Valid UTF-8 without NUL characters: a lone surrogate or a NUL from a movie
// becomes U+FFFD instead of tripping GTK's checks.
std::string ToGtkText(const WideString& text);

}  // namespace zept::desktop
