#pragma once
// What the SCORM 1.2 and 2004 runtimes share behind their page's API: the
// eight functions by name, the last error with its diagnostic, and the
// record of calls and errors behind a strict session's summary. A runtime
// names its version once (ApiVersion) and keeps an ApiRecord.

#include <algorithm>
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

  // GetLastError, GetErrorString and GetDiagnostic, each counted. Never
  // throw: "101" and "" where they cannot answer.
  std::string lastError() noexcept;
  std::string errorString(const std::string& code) noexcept;
  std::string diagnostic(const std::string& code) noexcept;

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

// The values of one session as a runtime keeps them: by element name, each
// array's length, and what they cost against the runtime's budget.
struct ValueTable {
  std::map<std::string, std::string, std::less<>> values;
  std::map<std::string, int, std::less<>> counts;  // by array name
  std::size_t bytes = 0;

  // The records an array holds (0 for none).
  int count(std::string_view array) const;
  // Whether element set to value keeps the values within budget bytes (a
  // value that costs no more than the one it replaces always does).
  bool fits(const std::string& element, std::string_view value,
            std::size_t budget) const;
  // Sets element, parsed by the version's data model: each array it is a
  // record of grows to hold it.
  template <typename Parsed>
  void set(const std::string& element, const std::string& value,
           const Parsed& parsed) {
    const auto old = values.find(element);
    const std::size_t oldCost =
        old == values.end() ? 0 : Cost(element, old->second);
    if (old == values.end())
      values.emplace(element, value);
    else
      old->second = value;
    bytes = bytes - oldCost + Cost(element, value);
    for (int level = 0; level < parsed.indexCount; ++level) {
      const std::string_view array =
          std::string_view(element).substr(0, parsed.arrayEnd[level]);
      if (parsed.index[level] == count(array))
        counts[std::string(array)] = parsed.index[level] + 1;
    }
  }
  // The counts and the bytes from the values again; parse is the version's
  // data model's.
  template <typename Parse>
  void recount(Parse parse) {
    counts.clear();
    bytes = 0;
    for (const auto& [element, value] : values) {
      bytes += Cost(element, value);
      const auto parsed = parse(element);
      if (!parsed.rule) continue;
      for (int level = 0; level < parsed.indexCount; ++level) {
        int& n = counts[element.substr(0, parsed.arrayEnd[level])];
        n = std::max(n, parsed.index[level] + 1);
      }
    }
  }

 private:
  static std::size_t Cost(std::string_view element, std::string_view value);
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
