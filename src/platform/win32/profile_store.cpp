// The Windows profile store: the system's own GetPrivateProfileStringA and
// WritePrivateProfileStringA, with every text converted between UTF-8 and the
// ANSI code page at the call, as the files and their other readers expect.
// Values are written in the stored form of ini_text.h: the system's reader
// trims and unquotes a value just as ours does.
#include <memory>
#include <string>

#include "platform/ini_text.h"
#include "platform/profile_store.h"
#include "platform/runtime_error.h"
#include "platform/win32/text_conversion.h"
#include "platform/win32/windows_api.h"

namespace quillbeck {

namespace {

// ShortAnsiForm() is the 8.3 form of the existing folder or file `path`,
// empty when the system has none in ANSI.
std::string ShortAnsiForm(const std::wstring& path) {
  const DWORD needed = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return std::string();
  std::wstring short_path(needed, L'\0');
  const DWORD length = GetShortPathNameW(path.c_str(), short_path.data(), needed);
  if (length == 0 || length >= needed) return std::string();
  short_path.resize(length);
  bool lossless = false;
  std::string ansi = win32::Utf8ToAnsi(win32::WideToUtf8(short_path), &lossless);
  return lossless ? ansi : std::string();
}

// AnsiPath() is the path for the ANSI API: the path itself as it stands when
// the code page holds all of it; otherwise its 8.3 form, or that of its
// folder followed by the file name, where the volume keeps such names. A
// path with no ANSI form at all is passed lossy and fails at the call.
std::string AnsiPath(const std::string& path) {
  bool lossless = false;
  std::string ansi = win32::Utf8ToAnsi(path, &lossless);
  if (lossless) return ansi;
  const std::wstring wide = win32::Utf8ToWide(path);
  if (std::string whole = ShortAnsiForm(wide); !whole.empty()) return whole;
  // A bare name, a name in "\" or on a bare drive ("D:name") has no folder
  // to shorten. Elsewhere the folder is the start of the path, and the rest
  // is the name with the separator before it, unless the folder is a root.
  const std::size_t name_start = win32::NameStart(wide);
  if (name_start > 1 && wide[name_start - 1] != L':') {
    const std::wstring folder_path = win32::FolderOf(wide);
    std::string folder = ShortAnsiForm(folder_path);
    std::string name =
        win32::Utf8ToAnsi(win32::WideToUtf8(wide.substr(folder_path.size())), &lossless);
    if (!folder.empty() && lossless) return folder + name;
  }
  return ansi;
}

class Win32ProfileStore final : public ProfileStore {
 public:
  std::uint32_t GetString(const std::string& section, const std::string& key,
                          const std::string& default_value, std::string& buffer, std::uint32_t size,
                          const std::string& path, bool* cut) override {
    if (size == 0) {
      if (cut != nullptr) *cut = true;
      return 0;
    }
    std::string ansi(size, '\0');
    DWORD placed = GetPrivateProfileStringA(
        win32::Utf8ToAnsi(section).c_str(), win32::Utf8ToAnsi(key).c_str(),
        win32::Utf8ToAnsi(default_value).c_str(), ansi.data(), size, AnsiPath(path).c_str());
    if (placed > size - 1) placed = size - 1;
    // A cut value fills the buffer: the system returns size - 1. A count one
    // short of that may be a cut too: a double-byte code page keeps its last
    // character whole, and under Wine a quoted value one character too long
    // loses its closing quote to the cut and one character more as the
    // opening quote is taken off.
    if (cut != nullptr) *cut = placed + 2 >= size;
    // The cut is made in ANSI characters, as the system makes it; their UTF-8
    // form may take more bytes than the buffer had, so it grows to hold them.
    const std::string value = win32::AnsiToUtf8(std::string_view(ansi.data(), placed));
    if (buffer.size() < value.size()) buffer.resize(value.size());
    buffer.replace(0, value.size(), value);
    return static_cast<std::uint32_t>(value.size());
  }

  void CheckValue(const std::string& key, const std::string& value) override {
    // A line break would end the line early and spill the rest into the file
    // as lines of their own; a zero would silently cut the text.
    if (const char* refusal = ProfileValueRefusal(value))
      throw RuntimeError(ERROR_INVALID_PARAMETER,
                         std::string("A settings value cannot hold ") + refusal + ": " + key);
    // The file is written in the ANSI code page: a character it lacks would
    // be written as "?" and read back as another text.
    bool lossless = false;
    win32::Utf8ToAnsi(value, &lossless);
    if (!lossless)
      throw RuntimeError(ERROR_NO_UNICODE_TRANSLATION,
                         "A settings value holds a character that the system's code page cannot "
                         "hold: " +
                             key);
  }

  void WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& path) override {
    for (const std::string* text : {&section, &key, &value}) CheckValue(key, *text);
    // Windows refuses to write a read-only file; saying so here keeps that
    // true where the attribute is not enforced for every user (Wine run as
    // root maps it to permission bits, which root passes).
    const std::wstring wide_path = win32::Utf8ToWide(path);
    const DWORD attributes = GetFileAttributesW(wide_path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      RaiseSystemError(ERROR_ACCESS_DENIED, path);
    if (!WritePrivateProfileStringA(
            win32::Utf8ToAnsi(section).c_str(), win32::Utf8ToAnsi(key).c_str(),
            win32::Utf8ToAnsi(ProfileStoredForm(value)).c_str(), AnsiPath(path).c_str())) {
      const DWORD error = GetLastError();
      RaiseSystemError(static_cast<std::int32_t>(error), path);
    }
  }
};

}  // namespace

std::unique_ptr<ProfileStore> NewProfileStore() { return std::make_unique<Win32ProfileStore>(); }

}  // namespace quillbeck
