// What all Windows code shares (see windows_api.h).
#include "platform/win32/windows_api.h"

#include "platform/win32/text_conversion.h"

namespace quillbeck::win32 {

bool SystemPath(std::string_view utf8, std::wstring& wide) {
  wide = Utf8ToWide(utf8);
  if (wide.find(L'\0') != std::wstring::npos) return false;
  // CreateDirectoryW takes 12 characters less than MAX_PATH (room for an
  // 8.3 name inside the folder), so that is where the prefix starts.
  constexpr std::size_t kClassicLimit = MAX_PATH - 12;
  if (wide.size() < kClassicLimit || wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\"))
    return true;
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return true;  // the API will report what is wrong with it
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return true;
  full.resize(length);
  if (full.starts_with(L"\\\\"))
    wide = L"\\\\?\\UNC\\" + full.substr(2);
  else
    wide = L"\\\\?\\" + full;
  return true;
}

namespace {

template <typename Char>
std::size_t NameStartIn(std::basic_string_view<Char> path) {
  const Char separators[] = {Char('\\'), Char('/'), Char(0)};
  const std::size_t separator = path.find_last_of(separators);
  if (separator != std::basic_string_view<Char>::npos) return separator + 1;
  if (path.size() >= 2 && path[1] == Char(':')) return 2;
  return 0;
}

}  // namespace

std::size_t NameStart(std::string_view path) { return NameStartIn(path); }
std::size_t NameStart(std::wstring_view path) { return NameStartIn(path); }

std::wstring FolderOf(std::wstring_view path) {
  const std::size_t start = NameStart(path);
  if (start == 0) return L".";
  if (path[start - 1] == L':') return std::wstring(path.substr(0, start));  // "D:name"
  // The separator goes with the name, unless it is all the root has.
  const std::wstring_view folder = path.substr(0, start - 1);
  if (folder.empty() || folder.back() == L':') return std::wstring(path.substr(0, start));
  return std::wstring(folder);
}

std::wstring SystemText(DWORD code) {
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0) {
    length = FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                            reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  }
  std::wstring text;
  if (length != 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);

  // A message of several lines becomes one: a log entry is one line.
  std::wstring line;
  for (wchar_t c : text) {
    if (c == L'\r' || c == L'\n') {
      if (!line.empty() && line.back() != L' ') line.push_back(L' ');
    } else {
      line.push_back(c);
    }
  }
  while (!line.empty() && (line.back() == L' ' || line.back() == L'.')) line.pop_back();
  return line;
}

std::vector<BYTE> UserOf(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) return {};
  return user;
}

std::vector<BYTE> ProcessUser(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  const UniqueHandle owned(token);
  return UserOf(token);
}

bool SameUser(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
  if (a.empty() || b.empty()) return false;
  return EqualSid(reinterpret_cast<const TOKEN_USER*>(a.data())->User.Sid,
                  reinterpret_cast<const TOKEN_USER*>(b.data())->User.Sid) != FALSE;
}

bool IsLink(DWORD attributes, DWORD reparse_tag) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  return reparse_tag == 0 || IsReparseTagNameSurrogate(reparse_tag) != 0;
}

DWORD ReparseTag(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO info;
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) return 0;
  return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? info.ReparseTag : 0;
}

}  // namespace quillbeck::win32
