// The Windows error translator: a Win32 error code becomes a RuntimeError
// carrying the code and the system's own description of it (SystemText(),
// windows_api.h), with what failed (a path, a call) appended.
#include <string>

#include "platform/runtime_error.h"
#include "platform/win32/text_conversion.h"
#include "platform/win32/windows_api.h"

namespace quillbeck {

void RaiseSystemError(std::int32_t code, const std::string& context) {
  const DWORD number = static_cast<DWORD>(code);
  const std::wstring text = win32::SystemText(number);
  std::string description =
      text.empty() ? "System error " + std::to_string(number) : win32::WideToUtf8(text);
  if (!context.empty()) description += ": " + context;
  throw RuntimeError(code, std::move(description));
}

void RaiseLastSystemError(const std::string& context) {
  RaiseSystemError(static_cast<std::int32_t>(GetLastError()), context);
}

}  // namespace quillbeck
