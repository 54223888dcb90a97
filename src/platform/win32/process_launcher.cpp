// The Windows launcher: CreateProcessW with the command text as the command
// line, searched for as the system does, in a normal window that gets the
// focus. Nothing is inherited and nothing is waited for.
#include <memory>
#include <string>

#include "platform/process_launcher.h"
#include "platform/runtime_error.h"
#include "platform/win32/text_conversion.h"
#include "platform/win32/windows_api.h"

namespace quillbeck {

namespace {

class Win32ProcessLauncher final : public ProcessLauncher {
 public:
  void Check(const std::string& command) const override {
    // What CreateProcessW answers to a blank line differs between systems;
    // it names no program, which is said here in the Linux launcher's words.
    if (command.find_first_not_of(" \t") == std::string::npos)
      throw RuntimeError(ERROR_FILE_NOT_FOUND,
                         "The command line names no program: \"" + command + "\"");
  }

  void Launch(const std::string& command) override {
    Check(command);
    // CreateProcessW may write into the command line, so it gets a copy that
    // ends in a zero of its own.
    std::wstring line = win32::Utf8ToWide(command);
    if (line.find(L'\0') != std::wstring::npos) RaiseSystemError(ERROR_INVALID_NAME, command);
    line.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
      const DWORD error = GetLastError();
      RaiseSystemError(static_cast<std::int32_t>(error), command);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
};

}  // namespace

std::unique_ptr<ProcessLauncher> NewProcessLauncher() {
  return std::make_unique<Win32ProcessLauncher>();
}

}  // namespace quillbeck
