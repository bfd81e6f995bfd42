#pragma once
// What the store keeps of an item, below the runtimes that set it.

#include <map>
#include <string>

namespace zept::scorm {

// A learner's values of an item by full element name
// ("cmi.core.lesson_status"), as the progress store keeps them.
using Values = std::map<std::string, std::string>;

}  // namespace zept::scorm
