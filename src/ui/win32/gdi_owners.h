// Owners of the window system's objects that the Win32 window makes: fonts
// (GDI), icons and menus (USER). Each frees its object when it goes or is
// given another, so the window frees none by hand.
#pragma once

#include <windows.h>

namespace quillbeck::win32 {

// UniqueObject owns one object of type `Handle` (or none, as null) and
// frees it with `Free`.
template <typename Handle, auto Free>
class UniqueObject {
 public:
  UniqueObject() = default;
  explicit UniqueObject(Handle handle) : handle_(handle) {}
  ~UniqueObject() { Reset(nullptr); }
  UniqueObject(const UniqueObject&) = delete;
  UniqueObject& operator=(const UniqueObject&) = delete;
  UniqueObject(UniqueObject&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  UniqueObject& operator=(UniqueObject&& other) noexcept {
    if (this != &other) {
      Reset(other.handle_);
      other.handle_ = nullptr;
    }
    return *this;
  }

  Handle Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr; }
  // Reset() frees the object held so far and takes `handle` instead.
  void Reset(Handle handle) {
    if (handle_ != nullptr) Free(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

using UniqueFont = UniqueObject<HFONT, &DeleteObject>;
using UniqueIcon = UniqueObject<HICON, &DestroyIcon>;
using UniqueMenu = UniqueObject<HMENU, &DestroyMenu>;

}  // namespace quillbeck::win32
