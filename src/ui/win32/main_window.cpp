// The Win32 main window (see main_window.h).
#include "ui/win32/main_window.h"

#include <commctrl.h>

#include <string>

#include "app/frmMain.h"
#include "platform/runtime_error.h"
#include "platform/system.h"
#include "platform/win32/text_conversion.h"
#include "ui/win32/resource.h"

namespace quillbeck::win32 {
namespace {

using enum ui::ControlName;

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = 0;
// Retries of a tray icon the shell refused, one per kTrayRetryMs.
constexpr UINT_PTR kTrayRetryTimer = 2;
constexpr UINT kTrayRetryMs = 2000;
constexpr int kTrayRetries = 5;
// The message of a later copy's request for "Open".
constexpr wchar_t kOpenRequestMessage[] = L"Quillbeck.OpenRequest";

struct ControlClass {
  const wchar_t* name;
  DWORD style;
  DWORD ex_style;
};

ControlClass ClassOf(ui::ControlKind kind) {
  constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
  // Every control that takes the focus starts its own group, so the arrow
  // keys never move the focus: only Tab and Shift+Tab do, in tab order.
  constexpr DWORD kStop = WS_TABSTOP | WS_GROUP;
  switch (kind) {
    case ui::ControlKind::kLabel: return {L"STATIC", kChild | SS_LEFT | SS_NOPREFIX, 0};
    case ui::ControlKind::kTextBox:
      return {L"EDIT", kChild | kStop | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ui::ControlKind::kButton: return {L"BUTTON", kChild | kStop | BS_PUSHBUTTON, 0};
    case ui::ControlKind::kCheckBox: return {L"BUTTON", kChild | kStop | BS_AUTOCHECKBOX, 0};
    case ui::ControlKind::kPictureBox:
      // SS_CENTERIMAGE keeps the control at its own size around the icon.
      return {L"STATIC", kChild | SS_ICON | SS_CENTERIMAGE, 0};
  }
  return {L"STATIC", kChild, 0};
}

HICON LoadProgramIcon(HINSTANCE instance, int size) {
  auto icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLBECK), IMAGE_ICON,
                                            size, size, LR_DEFAULTCOLOR));
  if (icon == nullptr) {
    icon = static_cast<HICON>(
        CopyImage(LoadIconW(nullptr, IDI_APPLICATION), IMAGE_ICON, size, size, 0));
  }
  return icon;
}

void DestroyIconIfAny(HICON& icon) {
  if (icon != nullptr) DestroyIcon(icon);
  icon = nullptr;
}

// SameUser() is whether the process that owns `window` runs as this user.
bool SameUser(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return false;
  bool same = false;
  HANDLE token = nullptr;
  HANDLE own_token = nullptr;
  if (OpenProcessToken(process, TOKEN_QUERY, &token) &&
      OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own_token)) {
    alignas(TOKEN_USER) BYTE theirs[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    alignas(TOKEN_USER) BYTE ours[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD length = 0;
    if (GetTokenInformation(token, TokenUser, theirs, sizeof theirs, &length) &&
        GetTokenInformation(own_token, TokenUser, ours, sizeof ours, &length)) {
      same = EqualSid(reinterpret_cast<TOKEN_USER*>(theirs)->User.Sid,
                      reinterpret_cast<TOKEN_USER*>(ours)->User.Sid) != FALSE;
    }
  }
  if (own_token != nullptr) CloseHandle(own_token);
  if (token != nullptr) CloseHandle(token);
  CloseHandle(process);
  return same;
}

// The window an open request is for: ours by class, marked with the
// property of the settings folder, and run by this user.
struct OpenRequestSearch {
  const std::wstring* property;
  HWND found;
};

BOOL CALLBACK FindRunningCopy(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<OpenRequestSearch*>(lparam);
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  if (std::wstring(class_name) != MainWindow::kClassName) return TRUE;
  if (GetPropW(window, search->property->c_str()) == nullptr) return TRUE;
  if (!SameUser(window)) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
  tray_.Remove();
  if (window_ != nullptr) {
    if (!open_request_property_.empty()) RemovePropW(window_, open_request_property_.c_str());
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  for (HFONT& font : fonts_) {
    if (font != nullptr) DeleteObject(font);
  }
  DestroyIconIfAny(big_icon_);
  DestroyIconIfAny(small_icon_);
  DestroyIconIfAny(picture_icon_);
  DestroyIconIfAny(tray_image_);
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
  open_request_ = RegisterWindowMessageW(kOpenRequestMessage);

  dpi_ = GetDpiForSystem();
  const SIZE size = OuterSize(dpi_);
  window_ =
      CreateWindowExW(kExStyle, kClassName, Utf8ToWide(ui::kCaption).c_str(), kStyle, CW_USEDEFAULT,
                      CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, instance_, this);
  if (window_ == nullptr) RaiseLastSystemError("CreateWindowExW");

  // The dialog manager moves the focus in z-order, which is the order of
  // creation: so the controls are made by increasing tab index.
  for (const ui::Control* item : ui::InTabOrder()) {
    const ControlClass control = ClassOf(item->kind);
    HWND child = CreateWindowExW(control.ex_style, control.name, Utf8ToWide(item->text).c_str(),
                                 control.style, 0, 0, 0, 0, window_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(*item))),
                                 instance_, nullptr);
    if (child == nullptr) RaiseLastSystemError("CreateWindowExW");
    // A text box holds as much as the user types or the settings give.
    if (item->kind == ui::ControlKind::kTextBox) SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
  }
  focus_ = Control(ControlId(ui::FirstFocus()));

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

SIZE MainWindow::OuterSize(UINT dpi) const {
  RECT rect{0, 0, ui::TwipsToPixels(ui::kClientWidthTwips, static_cast<int>(dpi)),
            ui::TwipsToPixels(ui::kClientHeightTwips, static_cast<int>(dpi))};
  AdjustWindowRectExForDpi(&rect, kStyle, FALSE, kExStyle, dpi);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void MainWindow::LoadIcons(UINT dpi) {
  DestroyIconIfAny(big_icon_);
  DestroyIconIfAny(small_icon_);
  DestroyIconIfAny(picture_icon_);
  big_icon_ = LoadProgramIcon(instance_, GetSystemMetricsForDpi(SM_CXICON, dpi));
  small_icon_ = LoadProgramIcon(instance_, GetSystemMetricsForDpi(SM_CXSMICON, dpi));
  // Picture1 shows the 32 x 32 image, scaled with the window.
  picture_icon_ = LoadProgramIcon(instance_, MulDiv(32, static_cast<int>(dpi), 96));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  SendMessageW(Control(ControlId(kPicture1)), STM_SETICON, reinterpret_cast<WPARAM>(picture_icon_),
               0);
}

void MainWindow::ApplyDpi(UINT dpi) {
  dpi_ = dpi;
  const int d = static_cast<int>(dpi);
  // Icons first: a picture control may size itself to a new icon.
  LoadIcons(dpi);
  std::array<HFONT, 4> fonts{};
  const std::wstring face = Utf8ToWide(ui::kFontFace);
  for (ui::FontStyle style :
       {ui::FontStyle::kCaption, ui::FontStyle::kField, ui::FontStyle::kButton}) {
    const ui::Font font = ui::FontOf(style);
    // A negative height asks for the character height, without leading.
    fonts[static_cast<size_t>(style)] = CreateFontW(
        -ui::TwipsToPixels(ui::FontTwips(font), d), 0, 0, 0, font.weight, FALSE, FALSE, FALSE,
        static_cast<BYTE>(ui::kFontCharset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
        DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
  }
  for (const ui::Control& item : ui::kControls) {
    HWND child = Control(ControlId(item));
    const ui::PixelRect place = ui::ToPixels(item.place, d, d);
    SetWindowPos(child, nullptr, place.left, place.top, place.width, place.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (item.font != ui::FontStyle::kNone) {
      SendMessageW(child, WM_SETFONT,
                   reinterpret_cast<WPARAM>(fonts[static_cast<size_t>(item.font)]), TRUE);
    }
  }
  for (HFONT& font : fonts_) {
    if (font != nullptr) DeleteObject(font);
  }
  fonts_ = fonts;
}

std::string MainWindow::Text(int id) const {
  HWND control = Control(id);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  const int length = GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(length > 0 ? length : 0));
  return WideToUtf8(text);
}

void MainWindow::SetText(int id, const std::string& text) {
  SetWindowTextW(Control(id), Utf8ToWide(text).c_str());
}

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
  if (tray_image_ == nullptr) {
    tray_image_ = LoadProgramIcon(instance_, GetSystemMetrics(SM_CXSMICON));
  }
  if (!tray_.Add(window_, tray_image_)) {
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
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) RaiseLastSystemError("CreatePopupMenu");
  // An item's command is its place in the menu, from 1 (0 is no pick).
  for (UINT i = 0; i < ui::kTrayItems.size(); ++i) {
    AppendMenuW(menu, MF_STRING, i + 1, Utf8ToWide(ui::kTrayItems[i].caption).c_str());
  }
  POINT point{};
  GetCursorPos(&point);
  // The menu only closes on a click elsewhere when its owner is in the
  // foreground, and only reopens reliably after a message has followed it.
  SetForegroundWindow(window_);
  const UINT picked =
      static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD, point.x, point.y, 0, window_, nullptr));
  PostMessageW(window_, WM_NULL, 0, 0);
  DestroyMenu(menu);
  if (picked == 0 || picked > ui::kTrayItems.size()) return TrayChoice::kNone;
  return ui::kTrayItems[picked - 1].item;
}

void MainWindow::ServeOpenRequests(const std::string& settings_folder) {
  if (open_request_ == 0) return;
  open_request_property_ = Utf8ToWide(OpenRequestAddress(settings_folder));
  SetPropW(window_, open_request_property_.c_str(), reinterpret_cast<HANDLE>(1));
}

void MainWindow::AskRunningCopyToOpen(const std::string& settings_folder) {
  const std::wstring property = Utf8ToWide(OpenRequestAddress(settings_folder));
  OpenRequestSearch search{&property, nullptr};
  EnumWindows(&FindRunningCopy, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr || open_request_ == 0) return;
  // This copy was started by the user, so it may hand the foreground on.
  DWORD process_id = 0;
  GetWindowThreadProcessId(search.found, &process_id);
  AllowSetForegroundWindow(process_id);
  PostMessageW(search.found, open_request_, 0, 0);
}

void MainWindow::EndImmediately() {
  if (!open_request_property_.empty()) RemovePropW(window_, open_request_property_.c_str());
  tray_.Remove();
  ExitProcess(0);
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
  if (message == TrayIcon::kCallbackMessage) {
    form_->Picture1_MouseMove(LOWORD(lparam));
    return 0;
  }
  if (message == open_request_ && open_request_ != 0) {
    if (!open_request_property_.empty()) form_->mnuOpen_Click();
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
