#pragma once
// adlcp:prerequisites in the aicc_script form: item identifiers joined with
// "&" (and), "|" (or), "~" (not), "=" and "<>" against a status,
// parentheses, and "n*{a,b,c}" (at least n of the set). "=" and "<>" belong
// to the identifier before them, "~" takes what follows it ("~a=failed" is
// "not (a = failed)"), "&" binds tighter than "|". Statuses may be written
// in any case or as their first letter ("p", "n" for "not attempted").

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace zept::scorm {

class EPrerequisitesError : public EZeptError {
 public:
  using EZeptError::EZeptError;
  const char* className() const noexcept override {
    return "EPrerequisitesError";
  }
};

class Prerequisites {
 public:
  // Throws EPrerequisitesError naming the character where parsing stopped.
  static Prerequisites Parse(const std::string& text);
  Prerequisites() = default;  // always met

  // status(identifier): the item's cmi.core.lesson_status ("not attempted"
  // for an item never launched). An identifier alone is met by "passed" or
  // "completed".
  bool met(const std::function<std::string(const std::string&)>& status) const;
  // The identifiers it names, each once, in order of appearance.
  std::vector<std::string> identifiers() const;

  struct Node;

 private:
  std::shared_ptr<const Node> root_;
};

}  // namespace zept::scorm
