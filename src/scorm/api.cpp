#include "scorm/api.h"

#include <algorithm>

#include "scorm/datamodel.h"

namespace zept::scorm {
namespace {

// The summary names this many elements per error code at most.
constexpr std::size_t kNamesPerCode = 20;
constexpr std::size_t kLongestName = 120;
// What an element costs beyond its name and value, for the budget.
constexpr std::size_t kElementCharge = 48;

bool IsCode(const std::string& code) {
  return !code.empty() && code.size() <= 3 &&
         std::all_of(code.begin(), code.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<ApiFunction> ApiVersion::find(std::string_view name) const {
  for (std::size_t f = 0; f < kApiFunctionCount; ++f)
    if (names[f] == name) return static_cast<ApiFunction>(f);
  return std::nullopt;
}

std::string Shortened(std::string_view text) {
  const bool cut = text.size() > kLongestName;
  if (cut) text = text.substr(0, kLongestName);
  std::string out = RepairUtf8(text).value_or(std::string(text));
  return cut ? out + "..." : out;
}

std::string ErrorText(const ApiVersion& api, const std::string& code) {
  if (!IsCode(code)) return "";
  return std::string(api.errorString(std::stoi(code)));
}

std::string AnswerOutsideSession(const ApiVersion& api,
                                 const std::string& function,
                                 const std::vector<std::string>& arguments,
                                 const std::string& why) {
  const std::string code = arguments.empty() ? "" : arguments[0];
  const std::string outside = std::to_string(api.outsideSession);
  if (function == api.names[kGetLastError]) return outside;
  if (function == api.names[kGetValue]) return "";
  if (function == api.names[kGetDiagnostic] &&
      (code.empty() || code == outside))
    return why;
  if (function == api.names[kGetErrorString] ||
      function == api.names[kGetDiagnostic])
    return ErrorText(api, code);
  return "false";
}

int ValueTable::count(std::string_view array) const {
  const auto it = counts.find(array);
  return it == counts.end() ? 0 : it->second;
}

bool ValueTable::fits(const std::string& element, std::string_view value,
                      std::size_t budget) const {
  const auto old = values.find(element);
  const std::size_t oldCost =
      old == values.end() ? 0 : Cost(element, old->second);
  const std::size_t newCost = Cost(element, value);
  return newCost <= oldCost || bytes - oldCost + newCost <= budget;
}

std::size_t ValueTable::Cost(std::string_view element, std::string_view value) {
  return element.size() + value.size() + kElementCharge;
}

void ApiRecord::succeed() {
  error_ = 0;
  diagnostic_.clear();
}

void ApiRecord::fail(int code, std::string_view element,
                     std::string diagnostic) {
  error_ = code;
  const std::size_t longest = api_->longestDiagnostic;
  if (longest && diagnostic.size() > longest) {
    diagnostic.resize(longest - 3);
    // Not in the middle of a character: a last one cut short goes.
    std::size_t start = diagnostic.size();
    while (start > 0 &&
           (static_cast<unsigned char>(diagnostic[start - 1]) & 0xC0) == 0x80)
      --start;
    if (start > 0) {
      const auto lead = static_cast<unsigned char>(diagnostic[start - 1]);
      const std::size_t length = lead >= 0xF0   ? 4
                                 : lead >= 0xE0 ? 3
                                 : lead >= 0xC0 ? 2
                                                : 1;
      if (diagnostic.size() - (start - 1) < length)
        diagnostic.resize(start - 1);
    }
    diagnostic += "...";
  }
  diagnostic_ = std::move(diagnostic);
  Errors& errors = errors_[code];
  ++errors.times;
  if (!element.empty() && errors.elements.size() < kNamesPerCode)
    errors.elements.insert(Shortened(element));
}

std::string ApiRecord::lastError() noexcept try {
  ++calls_[kGetLastError];
  return std::to_string(error_);
} catch (...) {
  return "101";
}

std::string ApiRecord::errorString(const std::string& code) noexcept try {
  ++calls_[kGetErrorString];
  return ErrorText(*api_, code);
} catch (...) {
  return "";
}

std::string ApiRecord::diagnostic(const std::string& code) noexcept try {
  ++calls_[kGetDiagnostic];
  if (code.empty() || code == std::to_string(error_))
    return diagnostic_.empty() ? std::string(api_->errorString(error_))
                               : diagnostic_;
  return ErrorText(*api_, code);
} catch (...) {
  return "";
}

std::string ApiRecord::summary() const {
  std::string out = "Calls:";
  for (std::size_t f = 0; f < kApiFunctionCount; ++f)
    out += (f ? ", " : " ") + std::string(api_->names[f]) + " " +
           std::to_string(calls_[f]);
  out += "\n";
  if (errors_.empty()) out += "Errors: none\n";
  for (const auto& [code, errors] : errors_) {
    out += "Error " + std::to_string(code) + " (" +
           std::string(api_->errorString(code)) + "), " +
           std::to_string(errors.times) +
           (errors.times == 1 ? " time" : " times");
    std::string names;
    for (const std::string& element : errors.elements)
      names += (names.empty() ? ": " : ", ") + element;
    out += names + "\n";
  }
  out += refusedByStrict.empty() ? "Refused by a strict LMS: nothing\n"
                                 : "Refused by a strict LMS:\n";
  for (const auto& [pattern, line] : refusedByStrict) out += "  " + line + "\n";
  return out;
}

}  // namespace zept::scorm
