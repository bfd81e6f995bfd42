// Sequences of SCORM 2004 API calls with any element names and values,
// strict and lenient: no crash, every answer is one the API may give, the
// values stay within their budget, and a relaunch from what is stored is
// stable.
//
// Input: the first byte picks strict (odd) or lenient; then one call a line,
// "OP ELEMENT<TAB>VALUE": I initialise, T terminate, C commit, G get, S set,
// L set a long value (VALUE's first character, times 500 per byte of the
// rest), E the error functions with ELEMENT as the code, X end(), R relaunch
// from toStore(), K call(ELEMENT, {VALUE}).

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scorm/datamodel.h"
#include "scorm2004/datamodel.h"
#include "scorm2004/runtime.h"

namespace {

using namespace zept::scorm2004;

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

LaunchContext2004 Context() {
  LaunchContext2004 context;
  context.learnerId = "s1";
  context.learnerName = "Learner";
  context.completionThreshold = "0.8";
  context.scaledPassingScore = "0.6";
  context.objectiveIds = {"obj1", "obj2"};
  context.commentsFromLms = {{"Hello", "", ""}};
  context.sharedData = {{"shared", true, true, "v"},
                        {"readonly", true, false, std::nullopt}};
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
  const auto prepare = [&leniencies](Runtime& runtime) {
    runtime.onLeniency = [&leniencies](const std::string&) { ++leniencies; };
    runtime.requestValid = [](const std::string& request) {
      return request.size() % 2 ? std::string("true") : std::string("maybe");
    };
  };
  prepare(api);
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
        CheckBoolean(api.Initialize(element));
        break;
      case 'T':
        CheckBoolean(api.Terminate(element));
        break;
      case 'C':
        CheckBoolean(api.Commit(element));
        break;
      case 'G': {
        const std::string read = api.GetValue(element);
        const std::string error = api.GetLastError();
        Check(error == "0" || read.empty());
        Check(api.peek(element) == read ||
              api.state() != Runtime::State::kRunning);
        break;
      }
      case 'L':
        if (!value.empty()) value = std::string(500 * value.size(), value[0]);
        [[fallthrough]];
      case 'S': {
        const std::string answer = api.SetValue(element, value);
        CheckBoolean(answer);
        const std::string error = api.GetLastError();
        Check((answer == "true") == (error == "0"));
        // A value read back is the one set, where the model keeps it as set.
        if (answer == "true" && !zept::scorm::RepairUtf8(value) &&
            !element.starts_with("cmi.completion_status") &&
            !element.starts_with("cmi.success_status")) {
          const std::string read = api.GetValue(element);
          const std::string code = api.GetLastError();
          Check(code == "405" || read == value);
        }
        break;
      }
      case 'E': {
        const std::string before = api.GetLastError();
        Check(!ErrorString(std::stoi(before)).empty());
        api.GetErrorString(element);
        api.GetDiagnostic(element);
        Check(api.GetLastError() == before);
        break;
      }
      case 'X':
        api.end(false);
        break;
      case 'Y': {
        // What the sequencer is shown beforehand is what ending stores.
        const Values expected = api.valuesAtEnd(true);
        api.end(true);
        Check(api.toStore() == expected);
        break;
      }
      case 'R': {
        const Values stored = api.toStore();
        Runtime again(Context(), stored, options);
        Check(Runtime(Context(), again.toStore(), options).toStore() ==
              again.toStore());
        api = std::move(again);
        prepare(api);
        break;
      }
      case 'K':
        api.call(element, {value});
        break;
      default:
        break;
    }
    // What the runtime adds itself (entry, statuses, objectives, total time)
    // is small.
    Check(Size(api.toStore()) <= kBudget + 1024);
  }
  Check(leniencies <= static_cast<int>(DataModelRules().size()));
  api.conformanceSummary();
  return 0;
}
