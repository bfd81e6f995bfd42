#pragma once
// A Tin Can package plays as a cmi5 course of one AU per launchable
// activity, through the cmi5 player.

#include <string>

#include "cmi5/course.h"
#include "tincan/package.h"

namespace zept::tincan {

// A Tin Can package as a course: its launchable activities are its AUs,
// in order, with nothing for an LMS to judge. Each plays its launch file
// for language (a BCP 47 tag), else its first.
cmi5::Course CourseOfTinCan(const Package& package,
                            const std::string& language = "en-US");

}  // namespace zept::tincan
