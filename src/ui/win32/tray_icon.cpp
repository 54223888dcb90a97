// The notification-area icon (see tray_icon.h).
#include "ui/win32/tray_icon.h"

namespace quillbeck::win32 {

NOTIFYICONDATAW TrayIcon::Data() const {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window_;
  data.uID = kId;
  // The tip stays empty: the icon names nothing while hovered.
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kCallbackMessage;
  data.hIcon = icon_;
  return data;
}

bool TrayIcon::Add(HWND window, HICON icon) {
  window_ = window;
  icon_ = icon;
  wanted_ = true;
  shown_ = false;
  return Restore(false);
}

bool TrayIcon::Restore(bool shell_restarted) {
  if (!wanted_) return false;
  if (shell_restarted) shown_ = false;
  if (shown_) return true;
  NOTIFYICONDATAW data = Data();
  if (Shell_NotifyIconW(NIM_ADD, &data)) {
    shown_ = true;
  } else {
    // An add that timed out in a busy shell may still have taken effect:
    // then the icon answers a modification.
    shown_ = Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
  }
  return shown_;
}

void TrayIcon::Remove() {
  if (!wanted_) return;
  NOTIFYICONDATAW data = Data();
  data.uFlags = 0;
  Shell_NotifyIconW(NIM_DELETE, &data);
  wanted_ = false;
  shown_ = false;
}

}  // namespace quillbeck::win32
