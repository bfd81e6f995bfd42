#pragma once
// Whether a folder holds a course the shell can start: the files the start
// reads before anything plays.

#include <vector>

#include "platform/files.h"

namespace zept {

// The files of imsmanifest.xml, cdrom\cdrom.swf and bin\flash.ocx that are
// not in folder, in that order and in native form ("cdrom/cdrom.swf").
// Empty for a course.
std::vector<WideString> MissingCourseFiles(platform::FileSystem& files,
                                           const WideString& folder);

// What to tell the user about folder (native), which lacks missing; "" when
// nothing is missing.
WideString NotACourseMessage(const WideString& folder,
                             const std::vector<WideString>& missing);

}  // namespace zept
