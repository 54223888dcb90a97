// The Linux error translator: errno and its strerror text become the one
// RuntimeError of Quillbeck, with what failed (a path, a command) appended.
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/runtime_error.h"

namespace quillbeck {

void RaiseSystemError(std::int32_t code, const std::string& context) {
  // strerror_r (the GNU variant) may return a static text instead of filling
  // the buffer, so its result is what counts.
  char buffer[256] = {};
  std::string description = strerror_r(code, buffer, sizeof buffer);
  if (!context.empty()) description += ": " + context;
  throw RuntimeError(code, std::move(description));
}

void RaiseLastSystemError(const std::string& context) { RaiseSystemError(errno, context); }

}  // namespace quillbeck
