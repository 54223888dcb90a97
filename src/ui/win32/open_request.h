// The open-request protocol of the Win32 program: how a second start asks
// the running copy of the same user and settings folder to do what "Open"
// does. The running copy's window carries a property named after its
// settings folder (OpenRequestAddress(), system.h) and answers a registered
// message; a later copy looks for a top-level window of the program's class
// with that property, run by the same user, and posts it the message. Only
// the window's thread uses it.
#pragma once

#include <windows.h>

#include <string>

namespace quillbeck::win32 {

class OpenRequests {
 public:
  // `window_class` names the class of the windows that answer requests.
  explicit OpenRequests(const wchar_t* window_class) : window_class_(window_class) {}
  OpenRequests(const OpenRequests&) = delete;
  OpenRequests& operator=(const OpenRequests&) = delete;

  // Register() makes the protocol's message known; before it has, or when
  // the system refused it, no request is sent or answered.
  void Register();

  // Serve() marks `window` as the one that answers requests for
  // `settings_folder`.
  void Serve(HWND window, const std::string& settings_folder);

  // Withdraw() takes the mark off `window` again: from then on it answers
  // none.
  void Withdraw(HWND window);

  // IsRequest() is whether `message` is a request; Serving() whether one is
  // to be answered.
  bool IsRequest(UINT message) const { return message_ != 0 && message == message_; }
  bool Serving() const { return !property_.empty(); }

  // Ask() posts a request to the window that serves `settings_folder` for
  // this user, and lets it take the foreground; nothing when none does.
  void Ask(const std::string& settings_folder) const;

 private:
  const wchar_t* window_class_;
  UINT message_ = 0;
  std::wstring property_;  // empty while no window serves
};

}  // namespace quillbeck::win32
