// The Win32 front end of frmMain: a fixed-size top-level window with real
// controls made by a loop over the window's description (ui/window_layout.h)
// and laid out from twips at the window's DPI, the work timer, the tray
// icon and its popup menu, message boxes and the immediate end. It
// implements the Window seam and calls frmMain's event procedures from its
// window procedure, one message at a time. Only the window's thread calls
// it.
//
// One file per job: main_window.cpp makes the window and dispatches its
// messages (every message the window gets, its private ones included,
// arrives in Handle()); window_controls.cpp makes the controls and lays them
// out at a DPI; window_seam.cpp implements the Window seam; the open-request
// protocol is open_request.h, the tray icon tray_icon.h, and the owners of
// fonts, icons and menus gdi_owners.h.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window.h"
#include "ui/win32/control_ids.h"
#include "ui/win32/gdi_owners.h"
#include "ui/win32/open_request.h"
#include "ui/win32/tray_icon.h"

namespace quillbeck {
class frmMain;
}

namespace quillbeck::win32 {

class MainWindow : public Window {
 public:
  // The window's class.
  static constexpr wchar_t kClassName[] = L"QuillbeckMainWindow";
  // The work timer's identifier.
  static constexpr UINT_PTR kWorkTimer = 1;

  explicit MainWindow(HINSTANCE instance);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Create() makes the window, hidden, with its controls in tab order and
  // the work timer running (it is created enabled); from now on its events
  // go to `form`. Raises RuntimeError when the window cannot be made.
  void Create(frmMain& form);

  // ShowFirst() shows the window at normal size with cmdStart focused.
  void ShowFirst();

  // RunMessageLoop() delivers messages until WM_QUIT, with the dialog
  // manager's keyboard handling (Tab, Shift+Tab) for the window.
  int RunMessageLoop();

  HWND handle() const { return window_; }
  // Control() is the child window of a control identifier (control_ids.h).
  HWND Control(int id) const { return GetDlgItem(window_, id); }
  UINT dpi() const { return dpi_; }

  // The Window seam.
  std::string FolderText(int slot) const override;
  void SetFolderText(int slot, const std::string& text) override;
  std::string ShellText(int slot) const override;
  void SetShellText(int slot, const std::string& text) override;
  bool DebugChecked() const override;
  void SetDebugChecked(bool checked) override;
  std::string StartCaption() const override;
  void SetStartCaption(const std::string& caption) override;
  // TimerEnabled() tells the window tests what SetTimerEnabled() left.
  bool TimerEnabled() const { return timer_enabled_; }
  void SetTimerEnabled(bool enabled) override;
  void AddTrayIcon() override;
  void RemoveTrayIcon() override;
  // The Windows shell always has a notification area.
  bool TrayAvailable() const override { return true; }
  void SetVisible(bool visible) override;
  void Minimize() override;
  void RestoreNormalSize() override;
  void ShowMessageBox(const std::string& text, MessageIcon icon) override;
  TrayChoice PopupTrayMenu() override;
  void ServeOpenRequests(const std::string& settings_folder) override;
  void AskRunningCopyToOpen(const std::string& settings_folder) override;
  void EndImmediately() override;
  void Post(std::function<void()> task) noexcept override;

 private:
  // The message that has the posted tasks run on the window's thread.
  static constexpr UINT kRunPosted = WM_APP + 1;
  void RunPosted();

  static constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  static constexpr DWORD kExStyle = 0;
  // Retries of a tray icon the shell refused, one per kTrayRetryMs.
  static constexpr UINT_PTR kTrayRetryTimer = 2;
  static constexpr UINT kTrayRetryMs = 2000;
  static constexpr int kTrayRetries = 5;

  // The message dispatch (main_window.cpp).
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int id, int code, HWND control);
  void OnClose();

  // The controls (window_controls.cpp).
  // CreateControls() makes every control, in tab order. Raises RuntimeError
  // when one cannot be made.
  void CreateControls();
  // OuterSize() is the window size whose client area is exactly the
  // layout's at `dpi`.
  SIZE OuterSize(UINT dpi) const;
  // ApplyDpi() makes fonts and icons for `dpi` and puts every control in
  // its place.
  void ApplyDpi(UINT dpi);
  void LoadIcons(UINT dpi);
  // ProgramIcon() is the program's icon at `size` pixels square, the
  // system's application icon when the resource cannot be had.
  HICON ProgramIcon(int size) const;
  std::string Text(int id) const;
  void SetText(int id, const std::string& text);

  HINSTANCE instance_;
  HWND window_ = nullptr;
  frmMain* form_ = nullptr;
  UINT dpi_ = 96;
  UINT taskbar_created_ = 0;
  OpenRequests open_requests_{kClassName};
  bool timer_enabled_ = false;
  // Set when "Open" asks for normal size while the window is hidden: the
  // next show restores it.
  bool restore_on_show_ = false;
  int tray_retries_left_ = 0;
  HWND focus_ = nullptr;             // the control that gets the focus back
  std::array<UniqueFont, 4> fonts_;  // indexed by ui::FontStyle
  UniqueIcon big_icon_;
  UniqueIcon small_icon_;
  UniqueIcon picture_icon_;
  UniqueIcon tray_image_;
  TrayIcon tray_;  // shows tray_image_; removed in ~MainWindow() before it goes
  std::mutex posted_mutex_;
  std::vector<std::function<void()>> posted_;  // guarded by posted_mutex_
};

}  // namespace quillbeck::win32
