// The main window as the Window seam (platform/window.h) that frmMain sees:
// the controls' texts, the work timer, visibility, message boxes, the tray
// icon and its menu, open requests, tasks posted from other threads and the
// immediate end.
#include <string>
#include <utility>

#include "platform/runtime_error.h"
#include "platform/win32/text_conversion.h"
#include "ui/win32/main_window.h"

namespace quillbeck::win32 {

using enum ui::ControlName;

std::string MainWindow::FolderText(int slot) const { return Text(ControlId(kTxtFolder, slot)); }
void MainWindow::SetFolderText(int slot, const std::string& text) {
  SetText(ControlId(kTxtFolder, slot), text);
}
std::string MainWindow::ShellText(int slot) const { return Text(ControlId(kTxtShell, slot)); }
void MainWindow::SetShellText(int slot, const std::string& text) {
  SetText(ControlId(kTxtShell, slot), text);
}

bool MainWindow::DebugChecked() const {
  return SendMessageW(Control(ControlId(kChkDebug)), BM_GETCHECK, 0, 0) != BST_UNCHECKED;
}

void MainWindow::SetDebugChecked(bool checked) {
  // BM_SETCHECK sends no BN_CLICKED: the core runs chkDebug_Click itself.
  SendMessageW(Control(ControlId(kChkDebug)), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED,
               0);
}

std::string MainWindow::StartCaption() const { return Text(ControlId(kCmdStart)); }
void MainWindow::SetStartCaption(const std::string& caption) {
  SetText(ControlId(kCmdStart), caption);
}

void MainWindow::SetTimerEnabled(bool enabled) {
  // Enabling a running timer leaves its period where it is.
  if (enabled == timer_enabled_) return;
  if (enabled) {
    if (SetTimer(window_, kWorkTimer, ui::kTimerPeriodMs, nullptr) == 0) {
      RaiseLastSystemError("SetTimer");
    }
  } else {
    KillTimer(window_, kWorkTimer);
  }
  timer_enabled_ = enabled;
}

void MainWindow::AddTrayIcon() {
  // The notification area shows the small image at the shell's density.
  if (!tray_image_.Valid()) tray_image_.Reset(ProgramIcon(GetSystemMetrics(SM_CXSMICON)));
  if (!tray_.Add(window_, tray_image_.Get())) {
    tray_retries_left_ = kTrayRetries;
    SetTimer(window_, kTrayRetryTimer, kTrayRetryMs, nullptr);
  }
}

void MainWindow::RemoveTrayIcon() {
  KillTimer(window_, kTrayRetryTimer);
  tray_.Remove();
}

void MainWindow::SetVisible(bool visible) {
  if (!visible) {
    ShowWindow(window_, SW_HIDE);
    return;
  }
  ShowWindow(window_, restore_on_show_ ? SW_RESTORE : SW_SHOW);
  restore_on_show_ = false;
  SetForegroundWindow(window_);
}

void MainWindow::Minimize() { ShowWindow(window_, SW_MINIMIZE); }

void MainWindow::RestoreNormalSize() {
  if (!IsIconic(window_) && !IsZoomed(window_)) return;
  if (IsWindowVisible(window_)) {
    ShowWindow(window_, SW_RESTORE);
  } else {
    // Restoring would show the window; leave that to the next show.
    restore_on_show_ = true;
  }
}

void MainWindow::ShowMessageBox(const std::string& text, MessageIcon icon) {
  UINT flags = MB_OK;
  if (icon == MessageIcon::kInformation) flags |= MB_ICONINFORMATION;
  // A box owned by a hidden or minimised window would be hidden with it:
  // then it stands alone, on top, with its own taskbar button.
  HWND owner = window_;
  if (!IsWindowVisible(window_) || IsIconic(window_)) {
    owner = nullptr;
    flags |= MB_SETFOREGROUND | MB_TOPMOST;
  }
  MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(ui::kMessageBoxTitle).c_str(), flags);
}

TrayChoice MainWindow::PopupTrayMenu() {
  const UniqueMenu menu(CreatePopupMenu());
  if (!menu.Valid()) RaiseLastSystemError("CreatePopupMenu");
  // An item's command is its place in the menu, from 1 (0 is no pick).
  for (UINT i = 0; i < ui::kTrayItems.size(); ++i) {
    AppendMenuW(menu.Get(), MF_STRING, i + 1, Utf8ToWide(ui::kTrayItems[i].caption).c_str());
  }
  POINT point{};
  GetCursorPos(&point);
  // The menu only closes on a click elsewhere when its owner is in the
  // foreground, and only reopens reliably after a message has followed it.
  SetForegroundWindow(window_);
  const UINT picked = static_cast<UINT>(
      TrackPopupMenu(menu.Get(), TPM_RETURNCMD, point.x, point.y, 0, window_, nullptr));
  PostMessageW(window_, WM_NULL, 0, 0);
  if (picked == 0 || picked > ui::kTrayItems.size()) return TrayChoice::kNone;
  return ui::kTrayItems[picked - 1].item;
}

void MainWindow::ServeOpenRequests(const std::string& settings_folder) {
  open_requests_.Serve(window_, settings_folder);
}

void MainWindow::AskRunningCopyToOpen(const std::string& settings_folder) {
  open_requests_.Ask(settings_folder);
}

void MainWindow::Post(std::function<void()> task) noexcept {
  try {
    {
      std::lock_guard<std::mutex> lock(posted_mutex_);
      posted_.push_back(std::move(task));
    }
    PostMessageW(window_, kRunPosted, 0, 0);
  } catch (...) {
  }
}

void MainWindow::RunPosted() {
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> lock(posted_mutex_);
    tasks.swap(posted_);
  }
  for (std::function<void()>& task : tasks) task();
}

void MainWindow::EndImmediately() {
  open_requests_.Withdraw(window_);
  tray_.Remove();
  ExitProcess(0);
}

}  // namespace quillbeck::win32
