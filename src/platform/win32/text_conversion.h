// Text conversions at the Windows seams. The core holds text as UTF-8; the
// wide (W) APIs take UTF-16, and the profile API and the log files take the
// system's ANSI code page. Part of quillbeck_win32_api, which all Windows
// code links.
#pragma once

#include <string>
#include <string_view>

namespace quillbeck::win32 {

// Utf8ToWide() converts UTF-8 to UTF-16; an invalid byte sequence becomes
// U+FFFD. Embedded zeros are kept.
std::wstring Utf8ToWide(std::string_view utf8);

// WideToUtf8() converts UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

// Utf8ToAnsi() converts UTF-8 to the ANSI code page (CP_ACP). A character
// the code page cannot hold becomes "?" (never a "best fit" look-alike,
// which could name a different file); `lossless`, when given, tells whether
// every character survived.
std::string Utf8ToAnsi(std::string_view utf8, bool* lossless = nullptr);

// AnsiToUtf8() converts text in the ANSI code page to UTF-8.
std::string AnsiToUtf8(std::string_view ansi);

}  // namespace quillbeck::win32
