#pragma once
// The folder chooser zept shows when it is started without a course: from
// the desktop menu, or installed apart from any course.

#include <functional>
#include <optional>
#include <string>

#include "util/i18n.h"

namespace zept::desktop {

// The title of the chooser's window, which shows it translated.
inline constexpr const char* kCourseChooserTitle =
    N_("Choose the course folder");

// Asks for a course's folder until the user picks one that check accepts or
// gives up. check gets the chosen folder (native, UTF-8) and returns "" to
// accept it, otherwise the message shown before the chooser comes back.
// The accepted folder, or nullopt when the user cancelled.
std::optional<std::string> ChooseCourseFolder(
    const std::function<std::string(const std::string& folder)>& check);

}  // namespace zept::desktop
