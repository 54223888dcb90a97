// The one failure type of Quillbeck.
//
// Every operation that fails raises a RuntimeError carrying a signed 32-bit
// number and a description supplied by the failing operation: errno with
// strerror on Linux, GetLastError() with FormatMessage on Windows, 13 "Type
// mismatch" for a text that is no truth value. The core catches it only in the
// error trap of an event procedure.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace quillbeck {

class RuntimeError : public std::exception {
 public:
  RuntimeError(std::int32_t number, std::string description)
      : number_(number), description_(std::move(description)) {}

  // Number() is the error's number as the failing operation gave it.
  std::int32_t Number() const noexcept { return number_; }

  // Description() is the error's text, possibly empty.
  const std::string& Description() const noexcept { return description_; }

  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::int32_t number_;
  std::string description_;
};

// The type-mismatch error of a failed conversion.
inline constexpr std::int32_t kTypeMismatch = 13;

// RaiseSystemError() throws the RuntimeError for a system error code
// (errno on Linux, a Win32 error code on Windows), described by the system,
// with `context` (a path, a command) appended so the operator sees what
// failed. Implemented once per system.
[[noreturn]] void RaiseSystemError(std::int32_t code, const std::string& context);

// RaiseLastSystemError() does the same for the calling thread's last error
// (errno or GetLastError()).
[[noreturn]] void RaiseLastSystemError(const std::string& context);

}  // namespace quillbeck
