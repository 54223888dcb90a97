// What the Windows implementations of the seams share: <windows.h> without
// the macros that clash with our method names, owners of kernel handles and
// of searches, and the translation of a UTF-8 path into the form the wide
// file APIs take.
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

}  // namespace quillbeck::win32
