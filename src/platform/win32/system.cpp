// Small Windows services: the executable folder, the regional time stamp,
// the clock, the single-instance mark and the name under which a running
// copy hears open requests.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "platform/system.h"
#include "platform/win32/text_conversion.h"
#include "platform/win32/windows_api.h"

namespace quillbeck {

std::string ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    // A cut name fills the buffer exactly; try again with room to spare.
    path.resize(path.size() * 2);
  }
  // At the root of a drive the separator stays ("C:\"): "C:" alone would
  // name the current folder of drive C.
  return win32::WideToUtf8(win32::FolderOf(path));
}

FileFolders ProgramFileFolders() {
  const std::string folder = ExecutableFolder();
  return {folder, folder};
}

namespace {

// LocalTime() is `t` as the local calendar time of the user's time zone,
// daylight saving time counted when it is in effect at that moment. (The Ex
// form with dynamic zone data is missing from Wine, which the tests run on.)
bool LocalTime(std::time_t t, SYSTEMTIME& local) {
  // FILETIME counts 100 ns steps since 1601; time_t seconds since 1970.
  constexpr std::int64_t kEpochDifference = 11644473600LL;
  const std::int64_t ticks = (static_cast<std::int64_t>(t) + kEpochDifference) * 10000000LL;
  if (ticks < 0) return false;
  FILETIME file_time;
  file_time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  file_time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME utc;
  if (!FileTimeToSystemTime(&file_time, &utc)) return false;
  return SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
}

// The wide forms give the regional text exactly; the log writer converts it
// to the ANSI code page with the rest of the line.
std::wstring DateText(const SYSTEMTIME& time) {
  wchar_t text[128];
  const int length = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, text, 128);
  return length > 0 ? std::wstring(text, static_cast<std::size_t>(length - 1)) : std::wstring();
}

std::wstring TimeText(const SYSTEMTIME& time) {
  wchar_t text[128];
  const int length = GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, text, 128);
  return length > 0 ? std::wstring(text, static_cast<std::size_t>(length - 1)) : std::wstring();
}

class RegionalTimeStampFormat final : public TimeStampFormat {
 public:
  std::string Format(std::time_t t) override {
    SYSTEMTIME local;
    if (!LocalTime(t, local)) return std::string();
    std::wstring stamp = DateText(local);
    if (local.wHour != 0 || local.wMinute != 0 || local.wSecond != 0)
      stamp += L" " + TimeText(local);
    return win32::WideToUtf8(stamp);
  }
};

class SystemClock final : public Clock {
 public:
  std::time_t Now() override { return std::time(nullptr); }
};

class Win32SingleInstanceLock final : public SingleInstanceLock {
 public:
  explicit Win32SingleInstanceLock(const std::wstring& name) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    mutex_.Reset(mutex);
    if (mutex_.Valid() && error == ERROR_ALREADY_EXISTS) {
      acquired_ = false;
      mutex_.Close();
    } else if (!mutex_.Valid() && error == ERROR_ACCESS_DENIED) {
      // The mutex exists but belongs to a copy running under other rights
      // (an elevated one): that copy runs, so this one is not alone.
      acquired_ = false;
    }
  }

  bool Acquired() const override { return acquired_; }

 private:
  win32::UniqueHandle mutex_;
  bool acquired_ = true;
};

// InstanceName() is "Quillbeck-<hash>" for `folder`: the same folder written
// in another letter case or its 8.3 form gives the same name, and a kernel
// object name may hold no backslash, so the folder goes in as a hash.
std::string InstanceName(const std::string& folder) {
  std::wstring path = win32::Utf8ToWide(folder);
  const DWORD needed = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed != 0) {
    std::wstring long_path(needed, L'\0');
    const DWORD length = GetLongPathNameW(path.c_str(), long_path.data(), needed);
    if (length != 0 && length < needed) path = long_path.substr(0, length);
  }
  if (!path.empty()) {
    std::wstring lower(path.size(), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, path.c_str(),
                      static_cast<int>(path.size()), lower.data(), static_cast<int>(lower.size()),
                      nullptr, nullptr, 0) == static_cast<int>(path.size()))
      path = lower;
  }
  // FNV-1a over the UTF-16 code units.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (wchar_t c : path) {
    hash ^= static_cast<std::uint16_t>(c);
    hash *= 0x100000001b3ULL;
  }
  char name[64];
  snprintf(name, sizeof name, "Quillbeck-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

// MutexName() is the session-local name of the mark for `folder`.
std::wstring MutexName(const std::string& folder) {
  return win32::Utf8ToWide("Local\\" + InstanceName(folder));
}

class MutexSingleInstance final : public SingleInstance {
 public:
  std::unique_ptr<SingleInstanceLock> Acquire(const std::string& folder) override {
    return std::make_unique<Win32SingleInstanceLock>(MutexName(folder));
  }
};

}  // namespace

std::unique_ptr<Clock> NewSystemClock() { return std::make_unique<SystemClock>(); }

std::string OpenRequestAddress(const std::string& folder) { return InstanceName(folder); }

std::unique_ptr<SingleInstance> NewSingleInstance() {
  return std::make_unique<MutexSingleInstance>();
}

std::unique_ptr<TimeStampFormat> NewTimeStampFormat() {
  return std::make_unique<RegionalTimeStampFormat>();
}

}  // namespace quillbeck
