// QuillbeckSetup.dll: the installer's actions of its own, carried in the
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
// AUTOSTART=0. SETTINGS= has its own two (settings_seed.cpp).
//
// An install, upgrade or removal that fails or is cancelled after it closed
// a copy starts that copy again: RestartClosedCopy in the rollback script,
// once the old files are back, and StartClosedCopy again at the failed or
// cancelled end, for a failure before the script (or a rollback that put
// the exe back after it). All start it at the user's own level
// (user_start.h), and only when no copy runs yet.
//
// None of them ever fails the installation: a copy that cannot be closed
// is left to Windows Installer's own handling of files in use, and a start
// that fails leaves the program to the next login.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "installer/win32/msi_session.h"
#include "installer/win32/user_start.h"
#include "platform/win32/windows_api.h"

namespace {

using quillbeck::installer::kExeName;
using quillbeck::installer::Log;
using quillbeck::win32::ProcessUser;
using quillbeck::win32::SameUser;
using quillbeck::win32::UniqueHandle;

// Set by CloseRunningCopies when it closed a copy; the conditions of
// StartClosedCopy and RestartClosedCopy read it. Private (not all upper
// case), so no command line can set it.
constexpr wchar_t kClosedProperty[] = L"QuillbeckClosedCopy";
// The data of the rollback action, which sees no other property: the
// install folder whose exe was closed.
constexpr wchar_t kRollbackData[] = L"RestartClosedCopy";
// How long a copy that is just starting may take to make its window, how
// long one window may take to answer a message, and how long a copy that
// agreed to end may take to exit.
constexpr DWORD kWindowTimeoutMs = 5000;
constexpr UINT kAnswerTimeoutMs = 5000;
constexpr DWORD kExitTimeoutMs = 15000;

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

// Copy is one running copy of the installed exe.
struct Copy {
  DWORD id = 0;
  std::wstring image;
  UniqueHandle process;
};

// CopiesOf() lists the copies of `exe` that run for this process's user in
// its session; false when the running programs cannot be listed.
bool CopiesOf(const std::wstring& exe, std::vector<Copy>& copies) {
  const std::wstring installed = LongPath(exe);
  const std::vector<BYTE> user = ProcessUser(GetCurrentProcess());
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return false;
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
    std::wstring image = ImagePath(process.Get());
    if (image.empty() || !SamePath(LongPath(image), installed)) continue;
    if (!SameUser(ProcessUser(process.Get()), user)) continue;
    copies.push_back(Copy{entry.th32ProcessID, std::move(image), std::move(process)});
  }
  return true;
}

// StartAgain() starts the exe in `folder` at the user's own level, unless a
// copy already runs, and logs how, or why not. The rollback action and the
// actions at a failed or cancelled end may both come here for one closed
// copy; the second finds the first's copy running.
void StartAgain(MSIHANDLE install, const std::wstring& folder) {
  const std::wstring exe = quillbeck::installer::InstalledExe(folder);
  if (exe.empty()) return;
  std::vector<Copy> running;
  if (CopiesOf(exe, running) && !running.empty()) {
    Log(install, exe + L" runs again already (" + std::to_wstring(running.front().id) + L")");
    return;
  }
  if (GetFileAttributesW(exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
    Log(install, L"did not start " + exe + L" again: it is not there");
    return;
  }
  const quillbeck::installer::StartOutcome outcome =
      quillbeck::installer::StartAtUserLevel(exe, folder);
  if (outcome.started) {
    Log(install, L"started " + exe + L" again " + outcome.detail);
  } else {
    Log(install, L"did not start " + exe + L" again: " + outcome.detail);
  }
}

}  // namespace

// CloseRunningCopies() ends every copy of the installed Quillbeck.exe that
// runs for this user in this session, as the end of a session would, and
// sets QuillbeckClosedCopy when it closed one.
extern "C" __declspec(dllexport) UINT __stdcall CloseRunningCopies(MSIHANDLE install) {
  const std::wstring folder = quillbeck::installer::Property(install, L"INSTALLFOLDER");
  const std::wstring exe = quillbeck::installer::InstalledExe(folder);
  if (exe.empty()) return ERROR_SUCCESS;
  std::vector<Copy> copies;
  if (!CopiesOf(exe, copies)) {
    Log(install, L"cannot list the running programs; none closed");
    return ERROR_SUCCESS;
  }
  bool closed = false;
  for (Copy& copy : copies) {
    const std::wstring which = L"the copy " + std::to_wstring(copy.id) + L" of " + copy.image;
    if (!EndAsSessionEnds(copy.process.Get(), copy.id)) {
      Log(install, which + L" did not agree to end; left running");
      continue;
    }
    if (WaitForSingleObject(copy.process.Get(), kExitTimeoutMs) == WAIT_OBJECT_0) {
      Log(install, which + L" ended");
      closed = true;
    } else {
      Log(install, which + L" agreed to end but still runs");
    }
  }
  if (closed) {
    MsiSetPropertyW(install, kClosedProperty, L"1");
    MsiSetPropertyW(install, kRollbackData, folder.c_str());
  }
  return ERROR_SUCCESS;
}

// StartClosedCopy() starts the installed Quillbeck.exe again, at the
// installing user's own level, and does not wait for it.
extern "C" __declspec(dllexport) UINT __stdcall StartClosedCopy(MSIHANDLE install) {
  StartAgain(install, quillbeck::installer::Property(install, L"INSTALLFOLDER"));
  return ERROR_SUCCESS;
}

// RestartClosedCopy() is StartClosedCopy for the rollback script: it runs
// only when the installation fails or is cancelled, after the files it had
// replaced are back.
extern "C" __declspec(dllexport) UINT __stdcall RestartClosedCopy(MSIHANDLE install) {
  StartAgain(install, quillbeck::installer::Property(install, L"CustomActionData"));
  return ERROR_SUCCESS;
}
