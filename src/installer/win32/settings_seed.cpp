// SETTINGS=<path>: the installer seeds Settings.ini from a file an
// administrator hands over, so many machines start with the same slots.
//
// CheckSettingsFile, an immediate action before anything is closed or
// changed, fails the installation when the file cannot be read or is not a
// settings file of this program; so a wrong path leaves the machine as it
// was. CopySettingsFile, the last action of the installation script, copies
// it into the install folder only when no Settings.ini is there: what a
// user saved is never replaced, by a reinstall or an upgrade either. The
// MSI does not own the copy, so an uninstall leaves it like any file of the
// user's.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "installer/win32/msi_session.h"
#include "platform/win32/windows_api.h"

namespace {

using quillbeck::installer::Log;
using quillbeck::installer::Refuse;
using quillbeck::installer::SystemMessage;
using quillbeck::win32::UniqueHandle;

constexpr wchar_t kSection[] = L"Quillbeck";
// The data of the deferred copy: the source and the install folder, split
// by a character no Windows path holds.
constexpr wchar_t kCopyData[] = L"CopySettingsFile";
constexpr wchar_t kSeparator = L'|';
// A settings file is a few hundred bytes; anything this large is not one.
constexpr LONGLONG kMaxBytes = 1 << 20;

// FullPath() is true for a drive path (C:\...) or a network path
// (\\server\share\...). The actions run in a process of the installer's,
// whose current folder is not the one msiexec was started in.
bool FullPath(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return true;
  return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
}

// ReadWhole() reads the file at `path` into `bytes`; on failure, the reason.
bool ReadWhole(const std::wstring& path, std::vector<char>& bytes, std::wstring& why) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file.Valid() || !GetFileSizeEx(file.Get(), &size)) {
    why = L"cannot be read: " + SystemMessage(GetLastError());
    return false;
  }
  if (size.QuadPart > kMaxBytes) {
    why = L"is too large for a settings file (" + std::to_wstring(size.QuadPart) + L" bytes)";
    return false;
  }
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() &&
      (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
       read != bytes.size())) {
    why = L"cannot be read: " + SystemMessage(GetLastError());
    return false;
  }
  return true;
}

// HasSection() is true when the system's profile reader finds this
// program's section in the file at `path`, as the program will at start-up.
bool HasSection(const std::wstring& path) {
  std::vector<wchar_t> names(32768);
  const DWORD length =
      GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()), path.c_str());
  for (const wchar_t* name = names.data(); name < names.data() + length && *name != L'\0';
       name += lstrlenW(name) + 1) {
    if (CompareStringOrdinal(name, -1, kSection, -1, TRUE) == CSTR_EQUAL) return true;
  }
  return false;
}

// Problem() is why the file at `path` cannot seed Settings.ini, empty when
// it can.
std::wstring Problem(const std::wstring& path) {
  if (!FullPath(path)) return L"is not a full path (C:\\... or \\\\server\\share\\...)";
  std::vector<char> bytes;
  std::wstring why;
  if (!ReadWhole(path, bytes, why)) return why;
  if (!HasSection(path)) return L"is not a settings file: it has no section named Quillbeck";
  return std::wstring();
}

std::wstring Refusal(const std::wstring& source, const std::wstring& why) {
  return L"SETTINGS=" + source + L" " + why + L"; nothing was installed";
}

// WriteWhole() writes `bytes` into a new file at `path`, through to disk.
bool WriteWhole(const std::wstring& path, const std::vector<char>& bytes) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file.Valid() &&
         (bytes.empty() || (WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                      &written, nullptr) &&
                            written == bytes.size())) &&
         FlushFileBuffers(file.Get());
}

}  // namespace

// CheckSettingsFile() refuses the installation when SETTINGS names a file
// that cannot seed Settings.ini, and hands a good one to CopySettingsFile.
extern "C" __declspec(dllexport) UINT __stdcall CheckSettingsFile(MSIHANDLE install) {
  const std::wstring source = quillbeck::installer::Property(install, L"SETTINGS");
  if (source.empty()) return ERROR_SUCCESS;
  const std::wstring why = Problem(source);
  if (!why.empty()) return Refuse(install, Refusal(source, why));
  const std::wstring folder = quillbeck::installer::Property(install, L"INSTALLFOLDER");
  MsiSetPropertyW(install, kCopyData, (source + kSeparator + folder).c_str());
  Log(install, L"SETTINGS=" + source + L" is a settings file");
  return ERROR_SUCCESS;
}

// CopySettingsFile() puts the file into the install folder as Settings.ini
// when none is there. The bytes it copies are the bytes it checks, in the
// install folder under a name of their own, and they take the name
// Settings.ini in one rename that never replaces a file.
extern "C" __declspec(dllexport) UINT __stdcall CopySettingsFile(MSIHANDLE install) {
  const std::wstring data = quillbeck::installer::Property(install, L"CustomActionData");
  const size_t split = data.find(kSeparator);
  if (split == std::wstring::npos) return ERROR_SUCCESS;
  const std::wstring source = data.substr(0, split);
  const std::wstring folder = quillbeck::installer::WithSlash(data.substr(split + 1));
  const std::wstring target = folder + L"Settings.ini";
  if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
    Log(install, target + L" is already there; SETTINGS=" + source + L" left it as it was");
    return ERROR_SUCCESS;
  }
  std::vector<char> bytes;
  std::wstring why;
  if (!ReadWhole(source, bytes, why)) return Refuse(install, Refusal(source, why));
  const std::wstring staged =
      folder + L"Settings.ini." + std::to_wstring(GetCurrentProcessId()) + L".seed";
  if (!WriteWhole(staged, bytes)) {
    const DWORD error = GetLastError();
    DeleteFileW(staged.c_str());
    return Refuse(install,
                  Refusal(source, L"cannot be copied to " + staged + L": " + SystemMessage(error)));
  }
  if (!HasSection(staged)) {
    DeleteFileW(staged.c_str());
    return Refuse(install,
                  Refusal(source, L"changed after the check and has no section named Quillbeck"));
  }
  if (!MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(staged.c_str());
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
      Log(install, target + L" appeared meanwhile; SETTINGS=" + source + L" left it as it was");
      return ERROR_SUCCESS;
    }
    return Refuse(install,
                  Refusal(source, L"cannot become " + target + L": " + SystemMessage(error)));
  }
  Log(install, L"copied SETTINGS=" + source + L" to " + target);
  return ERROR_SUCCESS;
}
