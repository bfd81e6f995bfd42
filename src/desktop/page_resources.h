#pragma once
// The movie page's own files, built into the program.

namespace zept::desktop {

extern const char kPageHtml[];
extern const char kPageJs[];

}  // namespace zept::desktop
