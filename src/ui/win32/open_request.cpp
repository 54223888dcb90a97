// The open-request protocol (see open_request.h).
#include "ui/win32/open_request.h"

#include "platform/system.h"
#include "platform/win32/text_conversion.h"
#include "platform/win32/windows_api.h"

namespace quillbeck::win32 {
namespace {

// The message of a later copy's request for "Open".
constexpr wchar_t kOpenRequestMessage[] = L"Quillbeck.OpenRequest";

// RunsForThisUser() is whether the process that owns `window` runs for the
// user this process runs for.
bool RunsForThisUser(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process.Valid()) return false;
  return SameUser(ProcessUser(process.Get()), ProcessUser(GetCurrentProcess()));
}

// The window a request is for: of the class, marked with the property of
// the settings folder, and run by this user.
struct Search {
  const wchar_t* window_class;
  const std::wstring* property;
  HWND found;
};

BOOL CALLBACK FindRunningCopy(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<Search*>(lparam);
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  if (std::wstring(class_name) != search->window_class) return TRUE;
  if (GetPropW(window, search->property->c_str()) == nullptr) return TRUE;
  if (!RunsForThisUser(window)) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

void OpenRequests::Register() { message_ = RegisterWindowMessageW(kOpenRequestMessage); }

void OpenRequests::Serve(HWND window, const std::string& settings_folder) {
  if (message_ == 0) return;
  property_ = Utf8ToWide(OpenRequestAddress(settings_folder));
  SetPropW(window, property_.c_str(), reinterpret_cast<HANDLE>(1));
}

void OpenRequests::Withdraw(HWND window) {
  if (property_.empty()) return;
  RemovePropW(window, property_.c_str());
  property_.clear();
}

void OpenRequests::Ask(const std::string& settings_folder) const {
  const std::wstring property = Utf8ToWide(OpenRequestAddress(settings_folder));
  Search search{window_class_, &property, nullptr};
  EnumWindows(&FindRunningCopy, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr || message_ == 0) return;
  // This copy was started by the user, so it may hand the foreground on.
  DWORD process_id = 0;
  GetWindowThreadProcessId(search.found, &process_id);
  AllowSetForegroundWindow(process_id);
  PostMessageW(search.found, message_, 0, 0);
}

}  // namespace quillbeck::win32
