#include "installer/win32/user_start.h"

#include <userenv.h>

#include "installer/win32/msi_session.h"
#include "platform/win32/windows_api.h"

namespace quillbeck::installer {

using win32::UniqueHandle;

std::vector<BYTE> UserOf(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
  return user;
}

bool SameUser(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
  if (a.empty() || b.empty()) return false;
  return EqualSid(reinterpret_cast<const TOKEN_USER*>(a.data())->User.Sid,
                  reinterpret_cast<const TOKEN_USER*>(b.data())->User.Sid) != FALSE;
}

namespace {

bool Elevated(HANDLE token) {
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

// ShellToken() is a primary token of the process that owns the shell
// window, when it runs for `user`; otherwise an invalid handle and the
// reason in `why`.
UniqueHandle ShellToken(const std::vector<BYTE>& user, std::wstring& why) {
  const HWND shell = GetShellWindow();
  DWORD process_id = 0;
  if (shell == nullptr || GetWindowThreadProcessId(shell, &process_id) == 0 || process_id == 0) {
    why = L"no shell runs on this desktop";
    return UniqueHandle();
  }
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  HANDLE token = nullptr;
  if (!process.Valid() || !OpenProcessToken(process.Get(), TOKEN_QUERY | TOKEN_DUPLICATE, &token)) {
    why = L"the shell's token cannot be read: " + SystemMessage(GetLastError());
    return UniqueHandle();
  }
  UniqueHandle shell_token(token);
  // Over-the-shoulder elevation installs for the administrator who typed
  // the password, not for the user at the shell; the copy that was closed
  // was the administrator's, and the shell's token would start it for
  // someone else.
  if (!SameUser(UserOf(shell_token.Get()), user)) {
    why = L"the shell runs for another user";
    return UniqueHandle();
  }
  HANDLE primary = nullptr;
  if (!DuplicateTokenEx(shell_token.Get(),
                        TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY |
                            TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID,
                        nullptr, SecurityImpersonation, TokenPrimary, &primary)) {
    why = L"the shell's token cannot be copied: " + SystemMessage(GetLastError());
    return UniqueHandle();
  }
  return UniqueHandle(primary);
}

// Environment owns the environment block of a token.
class Environment {
 public:
  explicit Environment(HANDLE token) {
    if (!CreateEnvironmentBlock(&block_, token, FALSE)) block_ = nullptr;
  }
  ~Environment() {
    if (block_ != nullptr) DestroyEnvironmentBlock(block_);
  }
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;
  void* Get() const { return block_; }
  DWORD Flag() const { return block_ != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0; }

 private:
  void* block_ = nullptr;
};

StartOutcome Started(BOOL ok, PROCESS_INFORMATION& started, const wchar_t* how) {
  if (!ok) return {false, SystemMessage(GetLastError())};
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return {true, how};
}

}  // namespace

StartOutcome StartAtUserLevel(const std::wstring& exe, const std::wstring& folder) {
  std::wstring command = L"\"" + exe + L"\"";
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &own))
    return {false, L"the installer's own token cannot be read: " + SystemMessage(GetLastError())};
  UniqueHandle own_token(own);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};

  if (Elevated(own_token.Get())) {
    std::wstring why;
    UniqueHandle shell = ShellToken(UserOf(own_token.Get()), why);
    if (!shell.Valid())
      return {false, L"the installer runs elevated and " + why +
                         L"; not started above the user's own level"};
    Environment environment(shell.Get());
    // The process goes to the secondary logon service, so it is no child
    // of the installer and in none of its jobs.
    const BOOL ok = CreateProcessWithTokenW(
        shell.Get(), 0, exe.c_str(), command.data(), CREATE_DEFAULT_ERROR_MODE | environment.Flag(),
        environment.Get(), folder.c_str(), &startup, &started);
    return Started(ok, started, L"with the token of the user's shell (the installer runs elevated)");
  }

  Environment environment(own_token.Get());
  DWORD flags = CREATE_BREAKAWAY_FROM_JOB | CREATE_DEFAULT_ERROR_MODE | environment.Flag();
  BOOL ok = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, flags,
                           environment.Get(), folder.c_str(), &startup, &started);
  if (!ok && GetLastError() == ERROR_ACCESS_DENIED) {
    // A job that allows no breakaway: start it inside the job then.
    flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
    ok = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, flags,
                        environment.Get(), folder.c_str(), &startup, &started);
  }
  return Started(ok, started, L"as the installing user");
}

}  // namespace quillbeck::installer
