#pragma once
// The pages' own files, built into the program.

namespace zept::desktop {

extern const char kPageHtml[];
extern const char kPageJs[];
// The screens of a standard package and the frame's empty page.
extern const char kPackageHtml[];
extern const char kPackageJs[];
extern const char kPackageCss[];
extern const char kBlankHtml[];
// The frame in the package's origin that holds the SCO and its API.
extern const char kHostHtml[];
extern const char kHostJs[];

}  // namespace zept::desktop
