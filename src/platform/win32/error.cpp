// The Windows error translator: a Win32 error code becomes a RuntimeError
// carrying the code and the system's own description of it.
#include <windows.h>

#include <string>

#include "platform/runtime_error.h"
#include "platform/win32/text_conversion.h"

namespace quillbeck {

namespace {

// SystemMessage() is the system's text for `code` in the user's language
// (English when the system has none in it), on one line, without the
// closing period, so a context can follow it.
std::string SystemMessage(DWORD code) {
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0) {
    length = FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                            reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  }
  std::wstring text;
  if (length != 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);

  // A message of several lines becomes one: a log entry is one line.
  std::wstring line;
  for (wchar_t c : text) {
    if (c == L'\r' || c == L'\n') {
      if (!line.empty() && line.back() != L' ') line.push_back(L' ');
    } else {
      line.push_back(c);
    }
  }
  while (!line.empty() && (line.back() == L' ' || line.back() == L'.')) line.pop_back();
  if (line.empty()) return "System error " + std::to_string(code);
  return win32::WideToUtf8(line);
}

}  // namespace

void RaiseSystemError(std::int32_t code, const std::string& context) {
  std::string description = SystemMessage(static_cast<DWORD>(code));
  if (!context.empty()) description += ": " + context;
  throw RuntimeError(code, std::move(description));
}

void RaiseLastSystemError(const std::string& context) {
  RaiseSystemError(static_cast<std::int32_t>(GetLastError()), context);
}

}  // namespace quillbeck
