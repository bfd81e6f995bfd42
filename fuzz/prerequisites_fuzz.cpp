// Prerequisites text of any kind: it parses or EPrerequisitesError says
// where not; what parses can be evaluated against any statuses.

#include <cstdint>
#include <string>

#include "package/prerequisites.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zept::scorm;
  try {
    const Prerequisites prerequisites = Prerequisites::Parse(
        std::string(reinterpret_cast<const char*>(data), size));
    const char* statuses[] = {"passed",  "completed",     "failed",
                              "browsed", "not attempted", "i"};
    std::size_t next = 0;
    prerequisites.met(
        [&](const std::string&) { return std::string(statuses[next++ % 6]); });
    prerequisites.identifiers();
  } catch (const EPrerequisitesError&) {
  }
  return 0;
}
