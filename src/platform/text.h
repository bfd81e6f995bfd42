#pragma once
// The three kinds of text the program handles. Wide text is what the core
// works in; the two byte kinds appear only where text leaves or enters.

#include <string>

namespace zept {

// UTF-16 code units, as the movies and the stored documents count them.
using WideString = std::u16string;
// Windows-1252 bytes: the "ANSI" text of files written for the movie, the
// trace log, report XML and launch settings.
using AnsiString = std::string;
// UTF-8 bytes: stored documents, the registry store, the terminal.
using Utf8String = std::string;

}  // namespace zept
