#include "installer/win32/msi_session.h"

#include <msiquery.h>

#include "platform/win32/windows_api.h"

namespace quillbeck::installer {

const wchar_t kExeName[] = L"Quillbeck.exe";

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

namespace {

int Message(MSIHANDLE install, INSTALLMESSAGE kind, const std::wstring& line) {
  PMSIHANDLE record = MsiCreateRecord(1);
  // The text goes in as a field, so brackets in a path are not read as
  // property names (Wine reads them all the same: the texts of this DLL
  // hold none of their own).
  MsiRecordSetStringW(record, 0, L"QuillbeckSetup: [1]");
  MsiRecordSetStringW(record, 1, line.c_str());
  return MsiProcessMessage(install, kind, record);
}

}  // namespace

void Log(MSIHANDLE install, const std::wstring& line) {
  Message(install, INSTALLMESSAGE_INFO, line);
}

UINT Refuse(MSIHANDLE install, const std::wstring& line) {
  Message(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), line);
  return ERROR_INSTALL_FAILURE;
}

std::wstring SystemMessage(DWORD error) {
  std::wstring message = win32::SystemText(error);
  if (message.empty()) message = L"error";
  return message + L" (error " + std::to_wstring(error) + L")";
}

std::wstring WithSlash(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\') folder.push_back(L'\\');
  return folder;
}

std::wstring InstalledExe(const std::wstring& folder) {
  if (folder.empty()) return std::wstring();
  return WithSlash(folder) + kExeName;
}

}  // namespace quillbeck::installer
