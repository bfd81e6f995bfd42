// Test case files of any kind: read without a crash, every step and every
// problem names a line of the text, the problems in the order of the lines.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "scorm2004/conformance.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int lines =
      static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
  const auto tc = zept::scorm2004::conformance::ParseTestCase(text);
  int last = 0;
  for (const auto& problem : tc.problems) {
    if (problem.line < std::max(last, 1) || problem.line > lines) std::abort();
    last = problem.line;
  }
  for (const auto& visit : tc.visits) {
    for (const auto& step : visit.steps) {
      if (step.line < visit.line || step.line > lines) std::abort();
    }
  }
  return 0;
}
