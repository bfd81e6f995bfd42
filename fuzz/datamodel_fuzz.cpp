// Sequences of API calls with any element names and values, strict and
// lenient: no crash, every answer is one the API may give, the values stay
// within their budget, and a relaunch from what is stored is stable.
//
// Input: the first byte picks strict (odd) or lenient; then one call a line,
// "OP ELEMENT<TAB>VALUE": I initialise, F finish, C commit, G get, S set,
// L set a long value (VALUE's first character, times 500 per byte of the
// rest), E the error functions with ELEMENT as the code, X end(), R relaunch
// from toStore(), K call(ELEMENT, {VALUE}).

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scorm/datamodel.h"
#include "scorm/runtime.h"

namespace {

using namespace zept::scorm;

constexpr std::size_t kBudget = 256 * 1024;

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckBoolean(const std::string& answer) {
  Check(answer == "true" || answer == "false");
}

std::size_t Size(const Values& values) {
  std::size_t size = 0;
  for (const auto& [element, value] : values)
    size += element.size() + value.size() + 48;
  return size;
}

LaunchContext Context() {
  LaunchContext context;
  context.studentId = "s1";
  context.studentName = "Learner";
  context.masteryScore = "60";
  return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const RuntimeOptions options{.strict = (data[0] & 1) != 0,
                               .maxValueBytes = kBudget};
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  Runtime api(Context(), {}, options);
  int leniencies = 0;
  api.onLeniency = [&leniencies](const std::string&) { ++leniencies; };
  while (!input.empty()) {
    const std::size_t newline = input.find('\n');
    std::string_view line = input.substr(0, newline);
    input = newline == std::string_view::npos ? std::string_view{}
                                              : input.substr(newline + 1);
    if (line.empty()) continue;
    const char op = line[0];
    line.remove_prefix(std::min<std::size_t>(2, line.size()));
    const std::size_t tab = line.find('\t');
    const std::string element(line.substr(0, tab));
    std::string value(tab == std::string_view::npos ? std::string_view{}
                                                    : line.substr(tab + 1));
    switch (op) {
      case 'I':
        CheckBoolean(api.LMSInitialize(element));
        break;
      case 'F':
        CheckBoolean(api.LMSFinish(element));
        break;
      case 'C':
        CheckBoolean(api.LMSCommit(element));
        break;
      case 'G':
        api.LMSGetValue(element);
        break;
      case 'L':
        if (!value.empty()) value = std::string(500 * value.size(), value[0]);
        [[fallthrough]];
      case 'S': {
        const std::string answer = api.LMSSetValue(element, value);
        CheckBoolean(answer);
        const std::string error = api.LMSGetLastError();
        Check((answer == "true") == (error == "0"));
        // A value read back is the one set, repaired where it was not UTF-8.
        if (answer == "true" && !RepairUtf8(value)) {
          const std::string read = api.LMSGetValue(element);
          Check(api.LMSGetLastError() == "404" || read == value);
        }
        break;
      }
      case 'E': {
        const std::string before = api.LMSGetLastError();
        Check(!ErrorString(std::stoi(before)).empty());
        api.LMSGetErrorString(element);
        api.LMSGetDiagnostic(element);
        Check(api.LMSGetLastError() == before);
        break;
      }
      case 'X':
        api.end();
        break;
      case 'R': {
        const Values stored = api.toStore();
        Runtime again(Context(), stored, options);
        Check(Runtime(Context(), again.toStore(), options).toStore() ==
              again.toStore());
        api = std::move(again);
        break;
      }
      case 'K':
        api.call(element, {value});
        break;
      default:
        break;
    }
    // What the runtime adds itself (entry, status, total time) is small.
    Check(Size(api.toStore()) <= kBudget + 1024);
  }
  Check(leniencies <= static_cast<int>(DataModelRules().size()));
  api.conformanceSummary();
  const Values next = NextLaunchValues(api.toStore(), Context());
  Check(!next.contains("zept.session"));
  return 0;
}
