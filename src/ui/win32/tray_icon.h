// The notification-area icon of the main window: added once, re-added when
// the shell restarts ("TaskbarCreated"), retried when the shell refused it,
// and deleted before the program ends so no dead icon stays behind.
#pragma once

#include <windows.h>

#include <shellapi.h>

namespace quillbeck::win32 {

class TrayIcon {
 public:
  // The private message the shell sends the window for mouse events over
  // the icon; LOWORD(lParam) is the mouse message.
  static constexpr UINT kCallbackMessage = WM_APP + 1;
  // The icon's identifier with the window.
  static constexpr UINT kId = 2;

  TrayIcon() = default;
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Add() asks the shell to show `icon` for `window`. Returns whether the
  // shell took it; from now on the icon is wanted, so Restore() brings it
  // back.
  bool Add(HWND window, HICON icon);

  // Restore() adds the icon again if it is wanted and not shown (after a
  // refusal, or when the shell has restarted and lost it); `shell_restarted`
  // says that the shell has forgotten every icon.
  bool Restore(bool shell_restarted);

  // Remove() deletes the icon from the notification area, if shown.
  void Remove();

  bool Wanted() const { return wanted_; }
  bool Shown() const { return shown_; }

 private:
  NOTIFYICONDATAW Data() const;

  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  bool wanted_ = false;
  bool shown_ = false;
};

}  // namespace quillbeck::win32
