// What the Windows implementations of the seams share: <windows.h> without
// the macros that clash with our method names, a handle owner, and the
// translation of a UTF-8 path into the form the wide file APIs take.
#pragma once

#include <windows.h>
// windows.h maps these names to their A/W variants; the seams use them as
// method names, and this layer calls the W functions by their full names.
#undef CopyFile
#undef DeleteFile
#undef MoveFile

#include <string>
#include <string_view>

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

}  // namespace quillbeck::win32
