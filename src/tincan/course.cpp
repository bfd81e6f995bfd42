#include "tincan/course.h"

#include <utility>

namespace zept::tincan {

cmi5::Course CourseOfTinCan(const Package& package,
                            const std::string& language) {
  cmi5::Course course;
  const Activity& main = package.main();
  course.id = main.id;
  course.title = main.name;
  course.description = main.description;
  course.notes = package.notes;
  for (const std::size_t index : package.launchable) {
    const Activity& activity = package.activities[index];
    const Launch& launch = PickLaunch(activity, language);
    cmi5::Au au;
    au.id = activity.id;
    au.title =
        activity.name.empty() ? LangStrings{{"", activity.id}} : activity.name;
    au.description = activity.description;
    au.url = launch.url;
    au.packagePath = launch.packagePath;
    au.packageSuffix = launch.packageSuffix;
    course.children.push_back({cmi5::Child::Kind::kAu, course.aus.size()});
    course.aus.push_back(std::move(au));
  }
  return course;
}

}  // namespace zept::tincan
