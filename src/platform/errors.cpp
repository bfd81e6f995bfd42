#include "platform/errors.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace zept {

std::string ExceptionClassName(const std::exception& e) {
  if (auto* own = dynamic_cast<const EZeptError*>(&e)) return own->className();
  const char* raw = typeid(e).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(raw, nullptr, nullptr, &status), std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(raw);
}

std::string SystemErrorMessage(const std::string& operation,
                               const std::string& path,
                               const std::string& reason) {
  return "cannot " + operation + " '" + path + "': " + reason;
}

}  // namespace zept
