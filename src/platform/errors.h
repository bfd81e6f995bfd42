#pragma once
// The program's exceptions, one class per kind of failure. The class name is
// what the trace log shows in front of "error".

#include <stdexcept>
#include <string>

#include "platform/text.h"

namespace zept {

class EZeptError : public std::runtime_error {
 public:
  // message is UTF-8.
  explicit EZeptError(const std::string& message)
      : std::runtime_error(message) {}
  virtual const char* className() const noexcept { return "EZeptError"; }
};

#define ZEPT_ERROR_CLASS(Name)                                        \
  class Name : public EZeptError {                                    \
   public:                                                            \
    using EZeptError::EZeptError;                                     \
    const char* className() const noexcept override { return #Name; } \
  }

// A file or folder operation failed.
ZEPT_ERROR_CLASS(EFileError);
// The registry store could not be read or written.
ZEPT_ERROR_CLASS(ERegistryError);
// Text is not a valid number or date.
ZEPT_ERROR_CLASS(EConvertError);
// An XML document could not be read.
ZEPT_ERROR_CLASS(EXmlError);
// The movie player could not do what was asked of a movie.
ZEPT_ERROR_CLASS(EMovieError);

#undef ZEPT_ERROR_CLASS

// The readable class name of any exception: the project's own name, or the
// demangled type name for others.
std::string ExceptionClassName(const std::exception& e);

// "cannot OPERATION 'PATH': REASON", the form every platform error takes.
std::string SystemErrorMessage(const std::string& operation,
                               const std::string& path,
                               const std::string& reason);

}  // namespace zept
