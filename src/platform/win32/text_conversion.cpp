// UTF-8 <-> UTF-16 and UTF-8 <-> ANSI conversions over the system's
// MultiByteToWideChar and WideCharToMultiByte.
#include "platform/win32/text_conversion.h"

#include <windows.h>

#include <climits>

namespace quillbeck::win32 {

namespace {

// Texts past INT_MAX code units do not occur here; the system calls count in
// int, so a longer text is cut rather than overflowing the count.
int Count(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

std::wstring ToWide(UINT code_page, std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(code_page, 0, text.data(), Count(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), Count(text.size()), wide.data(), length);
  return wide;
}

std::string FromWide(UINT code_page, std::wstring_view wide, bool* lossless) {
  if (lossless) *lossless = true;
  if (wide.empty()) return std::string();
  // UTF-8 (also as the ANSI code page, which Windows allows) takes neither
  // a default character nor the no-best-fit flag.
  const bool ansi = code_page != CP_UTF8 && !(code_page == CP_ACP && GetACP() == CP_UTF8);
  const DWORD flags = ansi ? WC_NO_BEST_FIT_CHARS : 0;
  BOOL used_default = FALSE;
  BOOL* used_default_out = ansi ? &used_default : nullptr;
  const int length = WideCharToMultiByte(code_page, flags, wide.data(), Count(wide.size()), nullptr,
                                         0, nullptr, nullptr);
  if (length <= 0) {
    if (lossless) *lossless = false;
    return std::string();
  }
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(code_page, flags, wide.data(), Count(wide.size()), text.data(), length,
                      nullptr, used_default_out);
  if (lossless && used_default) *lossless = false;
  return text;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::string WideToUtf8(std::wstring_view wide) { return FromWide(CP_UTF8, wide, nullptr); }

std::string Utf8ToAnsi(std::string_view utf8, bool* lossless) {
  const std::wstring wide = Utf8ToWide(utf8);
  std::string ansi = FromWide(CP_ACP, wide, lossless);
  // An invalid UTF-8 sequence has already become U+FFFD, which no ANSI code
  // page holds; a lossless conversion back must give the input again.
  if (lossless && *lossless && AnsiToUtf8(ansi) != utf8) *lossless = false;
  return ansi;
}

std::string AnsiToUtf8(std::string_view ansi) { return WideToUtf8(ToWide(CP_ACP, ansi)); }

}  // namespace quillbeck::win32
