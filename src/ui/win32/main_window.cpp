// The Win32 main window (see main_window.h): making the window, its message
// loop, and the dispatch of its messages to frmMain's event procedures.
#include "ui/win32/main_window.h"

#include <string>

#include "app/frmMain.h"
#include "platform/runtime_error.h"
#include "platform/win32/text_conversion.h"

namespace quillbeck::win32 {

using enum ui::ControlName;

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  tray_.Remove();
  if (window_ != nullptr) {
    open_requests_.Withdraw(window_);
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

void MainWindow::Create(frmMain& form) {
  form_ = &form;
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &MainWindow::Procedure;
  window_class.hInstance = instance_;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kClassName;
  if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    RaiseLastSystemError("RegisterClassExW");
  }
  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
  open_requests_.Register();

  dpi_ = GetDpiForSystem();
  const SIZE size = OuterSize(dpi_);
  window_ =
      CreateWindowExW(kExStyle, kClassName, Utf8ToWide(ui::kCaption).c_str(), kStyle, CW_USEDEFAULT,
                      CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, instance_, this);
  if (window_ == nullptr) RaiseLastSystemError("CreateWindowExW");
  CreateControls();

  // The window may have landed on a monitor of another density than the
  // primary one.
  const UINT dpi = GetDpiForWindow(window_);
  ApplyDpi(dpi != 0 ? dpi : dpi_);
  SetTimerEnabled(true);
}

void MainWindow::ShowFirst() {
  focus_ = Control(ControlId(ui::FirstFocus()));
  ShowWindow(window_, SW_SHOWNORMAL);
  SetForegroundWindow(window_);
  SetFocus(focus_);
}

int MainWindow::RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<MainWindow*>(create->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->form_ == nullptr) {
    return DefWindowProcW(window, message, wparam, lparam);
  }
  return self->Handle(message, wparam, lparam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  // The window's private messages and the registered ones first.
  if (message == TrayIcon::kCallbackMessage) {
    form_->Picture1_MouseMove(LOWORD(lparam));
    return 0;
  }
  if (open_requests_.IsRequest(message)) {
    if (open_requests_.Serving()) form_->mnuOpen_Click();
    return 0;
  }
  if (message == taskbar_created_ && taskbar_created_ != 0) {
    tray_.Restore(true);
    return 0;
  }
  switch (message) {
    case kRunPosted: RunPosted(); return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
      return 0;
    case WM_TIMER:
      if (wparam == kWorkTimer) {
        form_->tmrWork_Timer();
      } else if (wparam == kTrayRetryTimer) {
        if (tray_.Restore(false) || --tray_retries_left_ <= 0) {
          KillTimer(window_, kTrayRetryTimer);
        }
      }
      return 0;
    case WM_CLOSE: OnClose(); return 0;
    case WM_QUERYENDSESSION:
      // The session may end; the program ends with it (WM_ENDSESSION).
      return TRUE;
    case WM_ENDSESSION:
      if (wparam != FALSE) {
        form_->SessionEnding();
        EndImmediately();
      }
      return 0;
    case WM_ACTIVATE:
      // The focus is the window's own business while it is inactive: keep
      // the control that had it and give it back on activation.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window_, focus)) focus_ = focus;
      } else if (focus_ != nullptr && HIWORD(wparam) == 0) {
        SetFocus(focus_);
      }
      return 0;
    case WM_SETFOCUS:
      if (focus_ != nullptr) SetFocus(focus_);
      return 0;
    case WM_GETDPISCALEDSIZE: {
      const SIZE size = OuterSize(static_cast<UINT>(wparam));
      *reinterpret_cast<SIZE*>(lparam) = size;
      return TRUE;
    }
    case WM_DPICHANGED: {
      const UINT dpi = LOWORD(wparam);
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      const SIZE size = OuterSize(dpi);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top, size.cx, size.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyDpi(dpi);
      return 0;
    }
    default: return DefWindowProcW(window_, message, wparam, lparam);
  }
}

void MainWindow::OnCommand(int id, int code, HWND control) {
  if (control == nullptr) {
    // The dialog manager's Enter (IDOK) and Esc (IDCANCEL). There is no
    // default or cancel button, but a focused button answers Enter.
    if (id == IDOK) {
      HWND focus = GetFocus();
      if (focus == Control(ControlId(kCmdSave))) form_->cmdSave_Click();
      if (focus == Control(ControlId(kCmdStart))) form_->cmdStart_Click();
    }
    return;
  }
  if (code != BN_CLICKED) return;
  switch (id) {
    case ControlId(kCmdSave): form_->cmdSave_Click(); break;
    case ControlId(kCmdStart): form_->cmdStart_Click(); break;
    case ControlId(kChkDebug): form_->chkDebug_Click(); break;
    default: break;
  }
}

void MainWindow::OnClose() {
  // Every close request (close box, system menu, Alt+F4, another program)
  // goes to the close query, which refuses it and hides the window.
  bool cancel = false;
  form_->Form_QueryUnload(cancel);
  if (!cancel) {
    form_->Form_Unload();
    EndImmediately();
  }
}

}  // namespace quillbeck::win32
