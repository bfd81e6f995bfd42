#pragma once
// What the SCORM 1.2 and 2004 runtimes share behind their page's API: the
// eight functions by name, the last error with its diagnostic, and the
// record of calls and errors behind a strict session's summary. A runtime
// names its version once (ApiVersion) and keeps an ApiRecord.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zept::scorm {

// The functions in the order both versions define them.
enum ApiFunction : std::size_t {
  kInitialize,
  kFinish,  // LMSFinish, Terminate
  kGetValue,
  kSetValue,
  kCommit,
  kGetLastError,
  kGetErrorString,
  kGetDiagnostic,
  kApiFunctionCount
};

struct ApiVersion {
  std::string_view title;  // "SCORM 1.2", for the journal's words
  std::array<std::string_view, kApiFunctionCount> names;
  std::string_view (*errorString)(int code);
  // A call of a name that is not one of the API's functions.
  int unknownFunction;
  // What GetLastError answers where no session of the page's API runs.
  int outsideSession;
  // A value SetValue cannot take (one too large for zept, say).
  int badValue;
  // The longest diagnostic the version lets GetDiagnostic answer, in bytes;
  // 0 for no limit.
  std::size_t longestDiagnostic = 0;

  std::optional<ApiFunction> find(std::string_view name) const;
};

// A name from the page as messages show it: short, and valid UTF-8 even
// when the cut splits a character.
std::string Shortened(std::string_view text);

// The standard text of an error code as the page passed it, "" for a code
// that is not one to three digits.
std::string ErrorText(const ApiVersion& api, const std::string& code);

// What a call answers where no session of its API is running (nothing
// launched, or an API of an earlier launch): "false", "" for GetValue, the
// version's code for GetLastError, the standard's text for GetErrorString,
// and why for GetDiagnostic.
std::string AnswerOutsideSession(const ApiVersion& api,
                                 const std::string& function,
                                 const std::vector<std::string>& arguments,
                                 const std::string& why);

// The error state of a session and what strict mode records of it.
class ApiRecord {
 public:
  explicit ApiRecord(const ApiVersion& api) : api_(&api) {}

  const ApiVersion& api() const { return *api_; }
  int error() const { return error_; }
  void count(ApiFunction function) { ++calls_[function]; }
  void succeed();
  // The call failed with code: the element (or function) it names goes to
  // the summary, the diagnostic to GetDiagnostic.
  void fail(int code, std::string_view element, std::string diagnostic);
  // The runtime threw where it never should: 101, recorded nowhere else.
  void thrown() { error_ = 101; }

  // GetLastError, GetErrorString and GetDiagnostic, each counted.
  std::string lastError();
  std::string errorString(const std::string& code);
  std::string diagnostic(const std::string& code);

  // A value strict mode refuses and lenient mode takes, by data model row.
  std::map<std::string, std::string, std::less<>> refusedByStrict;

  // Calls made, errors by code with the elements that caused them, and
  // what a strict LMS refuses: several lines of text.
  std::string summary() const;

 private:
  struct Errors {
    std::uint64_t times = 0;
    std::set<std::string> elements;
  };
  const ApiVersion* api_;
  int error_ = 0;
  std::string diagnostic_;
  std::array<std::uint64_t, kApiFunctionCount> calls_{};
  std::map<int, Errors> errors_;
};

// A runtime's eight functions, in ApiFunction's order.
template <typename Runtime>
struct ApiMembers {
  using One = std::string (Runtime::*)(const std::string&);
  using Two = std::string (Runtime::*)(const std::string&, const std::string&);
  One initialize;
  One finish;
  One getValue;
  Two setValue;
  One commit;
  std::string (Runtime::*getLastError)();
  One getErrorString;
  One getDiagnostic;
};

// A function of the API by name, with the arguments as the page passed them
// (missing ones ""); a name that is none of them fails with the version's
// code. Answers "false" (error 101) where the runtime throws.
template <typename Runtime>
std::string CallByName(Runtime& runtime, const ApiMembers<Runtime>& members,
                       ApiRecord& record, const std::string& function,
                       const std::vector<std::string>& arguments) {
  try {
    static const std::string kNone;
    const auto argument = [&arguments](std::size_t i) -> const std::string& {
      return i < arguments.size() ? arguments[i] : kNone;
    };
    const ApiVersion& api = record.api();
    switch (api.find(function).value_or(kApiFunctionCount)) {
      case kInitialize:
        return (runtime.*members.initialize)(argument(0));
      case kFinish:
        return (runtime.*members.finish)(argument(0));
      case kGetValue:
        return (runtime.*members.getValue)(argument(0));
      case kSetValue:
        return (runtime.*members.setValue)(argument(0), argument(1));
      case kCommit:
        return (runtime.*members.commit)(argument(0));
      case kGetLastError:
        return (runtime.*members.getLastError)();
      case kGetErrorString:
        return (runtime.*members.getErrorString)(argument(0));
      case kGetDiagnostic:
        return (runtime.*members.getDiagnostic)(argument(0));
      case kApiFunctionCount:
        break;
    }
    record.fail(api.unknownFunction, function,
                Shortened(function) + " is not a function of the " +
                    std::string(api.title) + " API");
  } catch (...) {
    record.thrown();
  }
  return "false";
}

}  // namespace zept::scorm
