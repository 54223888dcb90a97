// QuillbeckSetup.dll: the installer's two actions of its own, carried in the
// MSI's Binary table (packaging/windows/Quillbeck.wxs).
//
// Quillbeck starts at login, so it runs whenever it is upgraded or removed.
// CloseRunningCopies, before InstallValidate, ends each copy of the
// installed Quillbeck.exe that runs for the installing user, the way the end
// of a session does (WM_QUERYENDSESSION, then WM_ENDSESSION, both with
// ENDSESSION_CLOSEAPP), and waits a bounded time for it to exit; a copy of
// the exe started from any other folder is left alone. StartClosedCopy,
// after InstallFinalize, starts the installed exe again; the MSI runs it
// only when a copy was closed, after an install or upgrade and not with
// AUTOSTART=0.
//
// Neither action ever fails the installation: a copy that cannot be closed
// is left to Windows Installer's own handling of files in use, and a start
// that fails leaves the program to the next login.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>
#include <userenv.h>

#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

namespace {

using quillbeck::win32::UniqueHandle;

constexpr wchar_t kExeName[] = L"Quillbeck.exe";
// Set by CloseRunningCopies when it closed a copy; the condition of
// StartClosedCopy reads it. Private (not all upper case), so no command
// line can set it.
constexpr wchar_t kClosedProperty[] = L"QuillbeckClosedCopy";
// How long a copy that is just starting may take to make its window, how
// long one window may take to answer a message, and how long a copy that
// agreed to end may take to exit.
constexpr DWORD kWindowTimeoutMs = 5000;
constexpr UINT kAnswerTimeoutMs = 5000;
constexpr DWORD kExitTimeoutMs = 15000;

// Property() is the value of an installer property, empty when unset.
std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t none[1] = L"";
  if (MsiGetPropertyW(install, name, none, &size) != ERROR_MORE_DATA) return std::wstring();
  std::wstring value(size + 1, L'\0');
  size = static_cast<DWORD>(value.size());
  if (MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return std::wstring();
  value.resize(size);
  return value;
}

// Log() writes a line into the installation's log (msiexec /l).
void Log(MSIHANDLE install, const std::wstring& line) {
  PMSIHANDLE record = MsiCreateRecord(1);
  // The text goes in as a field, so brackets in a path are not read as
  // property names.
  MsiRecordSetStringW(record, 0, L"QuillbeckSetup: [1]");
  MsiRecordSetStringW(record, 1, line.c_str());
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

// InstalledExe() is the full path of Quillbeck.exe in the install folder.
std::wstring InstalledExe(MSIHANDLE install) {
  std::wstring folder = Property(install, L"INSTALLFOLDER");
  if (folder.empty()) return std::wstring();
  if (folder.back() != L'\\') folder.push_back(L'\\');
  return folder + kExeName;
}

// LongPath() is `path` with every short (8.3) name spelt out; `path` as it
// stands when that cannot be done.
std::wstring LongPath(const std::wstring& path) {
  const DWORD needed = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return path;
  std::wstring long_path(needed, L'\0');
  const DWORD length = GetLongPathNameW(path.c_str(), long_path.data(), needed);
  if (length == 0 || length >= needed) return path;
  long_path.resize(length);
  return long_path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring ImagePath(HANDLE process) {
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process, 0, path.data(), &size)) return std::wstring();
  path.resize(size);
  return path;
}

// UserOf() is the TOKEN_USER of a process, empty when it cannot be read
// (another user's process, for one).
std::vector<BYTE> UserOf(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  UniqueHandle owned(token);
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

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(context);
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (process_id == search->first) search->second.push_back(window);
  return TRUE;
}

// TopLevelWindows() are the top-level windows, shown or hidden, that the
// process owns on this desktop.
std::vector<HWND> TopLevelWindows(DWORD process_id) {
  std::pair<DWORD, std::vector<HWND>> search{process_id, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

// EndAsSessionEnds() asks each top-level window of the process whether the
// session may end for it; when none refuses, tells each that it ends.
// Returns false when a window refused or there was no window to ask.
bool EndAsSessionEnds(HANDLE process, DWORD process_id) {
  std::vector<HWND> windows = TopLevelWindows(process_id);
  // A copy that is just starting gets a moment to make its window.
  for (DWORD waited = 0; windows.empty() && waited < kWindowTimeoutMs; waited += 100) {
    if (WaitForSingleObject(process, 100) == WAIT_OBJECT_0) return true;
    windows = TopLevelWindows(process_id);
  }
  if (windows.empty()) return false;
  bool agreed = true;
  for (HWND window : windows) {
    DWORD_PTR answer = TRUE;
    if (SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                            kAnswerTimeoutMs, &answer) != 0 &&
        answer == FALSE)
      agreed = false;
  }
  for (HWND window : windows) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_ENDSESSION, agreed ? TRUE : FALSE, ENDSESSION_CLOSEAPP,
                        SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &ignored);
  }
  return agreed;
}

// StartAsUser() starts `exe` in `folder` with the user's own environment,
// outside any job the installer runs in, and does not wait for it.
bool StartAsUser(const std::wstring& exe, const std::wstring& folder, DWORD& error) {
  std::wstring command = L"\"" + exe + L"\"";
  void* environment = nullptr;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token)) {
    if (!CreateEnvironmentBlock(&environment, token, FALSE)) environment = nullptr;
    CloseHandle(token);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  DWORD flags = CREATE_BREAKAWAY_FROM_JOB | CREATE_DEFAULT_ERROR_MODE;
  if (environment != nullptr) flags |= CREATE_UNICODE_ENVIRONMENT;
  BOOL ok = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, flags, environment,
                           folder.c_str(), &startup, &started);
  if (!ok && GetLastError() == ERROR_ACCESS_DENIED) {
    // A job that allows no breakaway: start it inside the job then.
    flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
    ok = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, flags, environment,
                        folder.c_str(), &startup, &started);
  }
  error = ok ? ERROR_SUCCESS : GetLastError();
  if (environment != nullptr) DestroyEnvironmentBlock(environment);
  if (!ok) return false;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return true;
}

}  // namespace

// CloseRunningCopies() ends every copy of the installed Quillbeck.exe that
// runs for this user in this session, as the end of a session would, and
// sets QuillbeckClosedCopy when it closed one.
extern "C" __declspec(dllexport) UINT __stdcall CloseRunningCopies(MSIHANDLE install) {
  const std::wstring exe = InstalledExe(install);
  if (exe.empty()) return ERROR_SUCCESS;
  const std::wstring installed = LongPath(exe);
  const std::vector<BYTE> user = UserOf(GetCurrentProcess());
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);

  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) {
    Log(install, L"cannot list the running programs; none closed");
    return ERROR_SUCCESS;
  }
  bool closed = false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) continue;
    if (CompareStringOrdinal(entry.szExeFile, -1, kExeName, -1, TRUE) != CSTR_EQUAL) continue;
    DWORD its_session = 0;
    if (!ProcessIdToSessionId(entry.th32ProcessID, &its_session) || its_session != session)
      continue;
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process.Valid()) continue;
    const std::wstring image = ImagePath(process.Get());
    if (image.empty() || !SamePath(LongPath(image), installed)) continue;
    if (!SameUser(UserOf(process.Get()), user)) continue;

    const std::wstring which =
        L"the copy " + std::to_wstring(entry.th32ProcessID) + L" of " + image;
    if (!EndAsSessionEnds(process.Get(), entry.th32ProcessID)) {
      Log(install, which + L" did not agree to end; left running");
      continue;
    }
    if (WaitForSingleObject(process.Get(), kExitTimeoutMs) == WAIT_OBJECT_0) {
      Log(install, which + L" ended");
      closed = true;
    } else {
      Log(install, which + L" agreed to end but still runs");
    }
  }
  if (closed) MsiSetPropertyW(install, kClosedProperty, L"1");
  return ERROR_SUCCESS;
}

// StartClosedCopy() starts the installed Quillbeck.exe, as the installing
// user, and does not wait for it.
extern "C" __declspec(dllexport) UINT __stdcall StartClosedCopy(MSIHANDLE install) {
  const std::wstring exe = InstalledExe(install);
  if (exe.empty()) return ERROR_SUCCESS;
  const std::wstring folder = exe.substr(0, exe.size() - (sizeof kExeName / sizeof(wchar_t) - 1));
  DWORD error = ERROR_SUCCESS;
  if (StartAsUser(exe, folder, error)) {
    Log(install, L"started " + exe + L" again");
  } else {
    Log(install, L"could not start " + exe + L" again: error " + std::to_wstring(error));
  }
  return ERROR_SUCCESS;
}
