#include "installer/win32/user_start.h"

#include <userenv.h>

#include "installer/win32/msi_session.h"
#include "platform/win32/windows_api.h"

namespace quillbeck::installer {

using win32::SameUser;
using win32::UniqueHandle;
using win32::UserOf;

namespace {

// AboveUserLevel() is true for the elevated half of a split token: the
// user's own level is the limited half, the one their shell runs with.
// Without a split (User Account Control off, a standard user, the built-in
// administrator) the token is the user's own.
bool AboveUserLevel(HANDLE token) {
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  return GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) &&
         type == TokenElevationTypeFull;
}

// Primary() is a primary token copied from `token`; invalid with the reason
// in `why` when it cannot be had.
UniqueHandle Primary(HANDLE token, const wchar_t* what, std::wstring& why) {
  HANDLE primary = nullptr;
  if (!DuplicateTokenEx(token,
                        TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY |
                            TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID,
                        nullptr, SecurityImpersonation, TokenPrimary, &primary)) {
    why = std::wstring(what) + L" cannot be copied: " + SystemMessage(GetLastError());
    return UniqueHandle();
  }
  return UniqueHandle(primary);
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
  return Primary(shell_token.Get(), L"the shell's token", why);
}

// LimitedToken() is a primary token of the limited half of the installer's
// split token. Windows hands that half to a process without the Tcb
// privilege only for identification, so there the copy fails and `why`
// says so; it serves where no shell window exists but the system does hand
// it over.
UniqueHandle LimitedToken(HANDLE own, std::wstring& why) {
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (!GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size)) {
    why = L"the installer's limited token cannot be read: " + SystemMessage(GetLastError());
    return UniqueHandle();
  }
  UniqueHandle owned(linked.LinkedToken);
  return Primary(owned.Get(), L"the installer's limited token", why);
}

// UserLevelToken() is a primary token at the user's own level for an
// elevated installer whose token is `own`, and in `detail` how it was had;
// invalid, with the reason in `detail`, when none can be had.
UniqueHandle UserLevelToken(HANDLE own, std::wstring& detail) {
  std::wstring no_shell;
  UniqueHandle shell = ShellToken(UserOf(own), no_shell);
  if (shell.Valid()) {
    detail = L"with the token of the user's shell (the installer runs elevated)";
    return shell;
  }
  std::wstring no_limited;
  UniqueHandle limited = LimitedToken(own, no_limited);
  if (limited.Valid()) {
    detail = L"with the installer's limited token (it runs elevated, and " + no_shell + L")";
    return limited;
  }
  detail = L"the installer runs elevated, " + no_shell + L", and " + no_limited +
           L"; not started above the user's own level";
  return UniqueHandle();
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

StartOutcome Started(BOOL ok, PROCESS_INFORMATION& started, const std::wstring& how) {
  if (!ok) return {false, SystemMessage(GetLastError())};
  // Not waited for: both handles go at once.
  UniqueHandle thread(started.hThread);
  UniqueHandle process(started.hProcess);
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

  if (AboveUserLevel(own_token.Get())) {
    std::wstring detail;
    UniqueHandle token = UserLevelToken(own_token.Get(), detail);
    if (!token.Valid()) return {false, detail};
    Environment environment(token.Get());
    const DWORD flags = CREATE_DEFAULT_ERROR_MODE | environment.Flag();
    // A token that is not a child of this process's own takes a privilege
    // administrators lack by default; then the secondary logon service
    // starts it, which only needs impersonation. Either way the process is
    // no child of the installer's jobs.
    BOOL ok = CreateProcessAsUserW(token.Get(), exe.c_str(), command.data(), nullptr, nullptr,
                                   FALSE, flags | CREATE_BREAKAWAY_FROM_JOB, environment.Get(),
                                   folder.c_str(), &startup, &started);
    if (!ok &&
        (GetLastError() == ERROR_PRIVILEGE_NOT_HELD || GetLastError() == ERROR_ACCESS_DENIED))
      ok = CreateProcessWithTokenW(token.Get(), 0, exe.c_str(), command.data(), flags,
                                   environment.Get(), folder.c_str(), &startup, &started);
    return Started(ok, started, detail);
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
