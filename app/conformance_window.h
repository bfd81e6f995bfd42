#pragma once
// The conformance runner's player in zept's window: each package is copied
// with our test SCO at every page it names, zept is started on the copy
// with a test channel (ZEPT_TEST_CHANNEL) and driven through it as a tester
// would drive it; the runner's judging stays in conformance_run.

#include <functional>
#include <memory>
#include <string>

#include "scorm2004/conformance_run.h"

namespace zept {

struct WindowDriverOptions {
  std::string zept;     // the program to start
  std::string display;  // the X display it opens its window on
  // The folder of the package of that name (its imsmanifest.xml is read).
  std::function<std::string(const std::string& name)> packageFolder;
  // How long zept is given to start, and then for each thing it does; more
  // fails the package.
  int startMs = 60000;
  int stepMs = 20000;
};

std::unique_ptr<scorm2004::conformance::Driver> WindowDriver(
    WindowDriverOptions options);

// The test SCO, the same page at every page of a package copy: it finds
// API_1484_11 as content does and makes the calls the harness asks for.
extern const char kTestScoPage[];

}  // namespace zept
