// What every action of QuillbeckSetup.dll needs from the running
// installation: its properties, its log, and the installed exe's path.
#pragma once

#include <windows.h>

#include <msi.h>

#include <string>

namespace quillbeck::installer {

extern const wchar_t kExeName[];

// Property() is the value of an installer property, empty when unset. A
// deferred action reads its data as the property "CustomActionData".
std::wstring Property(MSIHANDLE install, const wchar_t* name);

// Log() writes an information line into the installation's log (msiexec /l).
void Log(MSIHANDLE install, const std::wstring& line);

// Refuse() reports an error that ends the installation: shown in a box
// with a full interface, written into the log in every case. The action
// then returns ERROR_INSTALL_FAILURE.
UINT Refuse(MSIHANDLE install, const std::wstring& line);

// SystemMessage() is the system's text for a GetLastError() number
// (win32::SystemText()) followed by the number, for the log.
std::wstring SystemMessage(DWORD error);

// WithSlash() is `folder` ending in one backslash.
std::wstring WithSlash(std::wstring folder);

// InstalledExe() is the full path of Quillbeck.exe in `folder`, empty when
// the folder is.
std::wstring InstalledExe(const std::wstring& folder);

}  // namespace quillbeck::installer
