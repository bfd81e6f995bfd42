#pragma once
// Version strings of files and of the running program.

#include "platform/folders.h"

namespace zept {

// The file's four version numbers, most significant first, put into format
// in place of its "%d"s ("%d.%d.%d.%d"). An empty fileName means the running
// program. "" when the file carries no version.
WideString GetFileVersionString(platform::SystemFolders& folders,
                                const WideString& fileName,
                                const WideString& format);

// The running program's major and minor numbers with "r" between (6r0).
WideString GetShortVersion(platform::SystemFolders& folders);

}  // namespace zept
