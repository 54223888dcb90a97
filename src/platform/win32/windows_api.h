// What all Windows code of Quillbeck shares, the seams' implementations, the
// window and the installer's actions alike: <windows.h> without the macros
// that clash with our method names, owners of kernel handles and of searches, the one place where a
// path is split and made into the form the wide file APIs take, the one
// translator of an error number into the system's text, and the one test of
// whether two processes run for the same user. Its functions are safe to
// call from any thread.
#pragma once

#include <windows.h>
// windows.h maps these names to their A/W variants; the seams use them as
// method names, and this layer calls the W functions by their full names.
#undef CopyFile
#undef DeleteFile
#undef MoveFile

#include <string>
#include <string_view>
#include <vector>

namespace quillbeck::win32 {

// UniqueHandle owns a kernel handle and closes it when it goes.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Close(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

  HANDLE Get() const { return handle_; }
  // Valid() is false for both failure values the APIs return.
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Close() {
    if (Valid()) CloseHandle(handle_);
    handle_ = nullptr;
  }
  // Reset() closes the handle held so far and takes `handle` instead.
  void Reset(HANDLE handle) {
    Close();
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// UniqueFind owns a search handle of FindFirstFileExW and ends the search
// when it goes.
class UniqueFind {
 public:
  explicit UniqueFind(HANDLE search) : search_(search) {}
  ~UniqueFind() {
    if (Valid()) FindClose(search_);
  }
  UniqueFind(const UniqueFind&) = delete;
  UniqueFind& operator=(const UniqueFind&) = delete;

  HANDLE Get() const { return search_; }
  bool Valid() const { return search_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE search_;
};

// SystemPath() is the UTF-16 form of a UTF-8 path for the wide file APIs.
// A path too long for the classic limit is made absolute and given the
// "\\?\" prefix, so long paths work without the system-wide opt-in; a
// shorter one is passed as it stands. Returns false for a path that holds a
// zero character, which no file name can.
bool SystemPath(std::string_view utf8, std::wstring& wide);

// IsLink() tells from a file's attributes and its reparse tag whether it is
// a link that leads elsewhere: a symbolic link, a junction or a mount point
// (a name-surrogate tag). A file or folder with any other tag (one that a
// cloud-sync client keeps, a deduplicated file) is itself. A reparse point
// whose tag could not be read (0) counts as a link.
bool IsLink(DWORD attributes, DWORD reparse_tag);

// ReparseTag() is the reparse tag of the file or folder open as `handle`,
// which must have been opened as itself (FILE_FLAG_OPEN_REPARSE_POINT); 0
// for none, or when it cannot be read.
DWORD ReparseTag(HANDLE handle);

// NameStart() is where the last name in `path` begins: just after its last
// separator ("\" or "/"), or after a bare drive ("D:name"); 0 for a bare
// name. Either form of a path, UTF-8 or UTF-16.
std::size_t NameStart(std::string_view path);
std::size_t NameStart(std::wstring_view path);

// FolderOf() is the folder holding `path`, as a path the system can open: a
// root keeps its separator ("C:\", "\"), a name on a bare drive gives the
// drive ("D:", that drive's current folder), a bare name gives ".".
std::wstring FolderOf(std::wstring_view path);

// SystemText() is the system's description of the error number `code`, in
// the user's language (English where the system has none in it), on one
// line and without its closing period, so that a context can follow; empty
// when the system has no text for it.
std::wstring SystemText(DWORD code);

// UserOf() is the user a token runs for (its TOKEN_USER), empty when the
// token cannot be read. ProcessUser() is the same for a process's token.
std::vector<BYTE> UserOf(HANDLE token);
std::vector<BYTE> ProcessUser(HANDLE process);

// SameUser() is true when both name the same user; false when either is
// empty.
bool SameUser(const std::vector<BYTE>& a, const std::vector<BYTE>& b);

}  // namespace quillbeck::win32
