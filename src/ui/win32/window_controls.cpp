// The main window's controls (see main_window.h): made by a loop over the
// window's description, laid out from twips at the window's DPI, with the
// fonts and icons of that DPI, and their texts as UTF-8.
#include <string>
#include <utility>

#include "platform/runtime_error.h"
#include "platform/win32/text_conversion.h"
#include "ui/win32/main_window.h"
#include "ui/win32/resource.h"

namespace quillbeck::win32 {
namespace {

using enum ui::ControlName;

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

}  // namespace

void MainWindow::CreateControls() {
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
}

HICON MainWindow::ProgramIcon(int size) const {
  auto icon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_QUILLBECK), IMAGE_ICON,
                                            size, size, LR_DEFAULTCOLOR));
  if (icon == nullptr) {
    icon = static_cast<HICON>(
        CopyImage(LoadIconW(nullptr, IDI_APPLICATION), IMAGE_ICON, size, size, 0));
  }
  return icon;
}

SIZE MainWindow::OuterSize(UINT dpi) const {
  RECT rect{0, 0, ui::TwipsToPixels(ui::kClientWidthTwips, static_cast<int>(dpi)),
            ui::TwipsToPixels(ui::kClientHeightTwips, static_cast<int>(dpi))};
  AdjustWindowRectExForDpi(&rect, kStyle, FALSE, kExStyle, dpi);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void MainWindow::LoadIcons(UINT dpi) {
  // The icons in use go only once their successors have taken their place.
  UniqueIcon big_icon(ProgramIcon(GetSystemMetricsForDpi(SM_CXICON, dpi)));
  UniqueIcon small_icon(ProgramIcon(GetSystemMetricsForDpi(SM_CXSMICON, dpi)));
  // Picture1 shows the 32 x 32 image, scaled with the window.
  UniqueIcon picture(ProgramIcon(MulDiv(32, static_cast<int>(dpi), 96)));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon.Get()));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon.Get()));
  SendMessageW(Control(ControlId(kPicture1)), STM_SETICON, reinterpret_cast<WPARAM>(picture.Get()),
               0);
  big_icon_ = std::move(big_icon);
  small_icon_ = std::move(small_icon);
  picture_icon_ = std::move(picture);
}

void MainWindow::ApplyDpi(UINT dpi) {
  dpi_ = dpi;
  const int d = static_cast<int>(dpi);
  // Icons first: a picture control may size itself to a new icon.
  LoadIcons(dpi);
  std::array<UniqueFont, 4> fonts;
  const std::wstring face = Utf8ToWide(ui::kFontFace);
  for (ui::FontStyle style :
       {ui::FontStyle::kCaption, ui::FontStyle::kField, ui::FontStyle::kButton}) {
    const ui::Font font = ui::FontOf(style);
    // A negative height asks for the character height, without leading.
    fonts[static_cast<size_t>(style)].Reset(CreateFontW(
        -ui::TwipsToPixels(ui::FontTwips(font), d), 0, 0, 0, font.weight, FALSE, FALSE, FALSE,
        static_cast<BYTE>(ui::kFontCharset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
        DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
  }
  for (const ui::Control& item : ui::kControls) {
    HWND child = Control(ControlId(item));
    const ui::PixelRect place = ui::ToPixels(item.place, d, d);
    SetWindowPos(child, nullptr, place.left, place.top, place.width, place.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (item.font != ui::FontStyle::kNone) {
      SendMessageW(child, WM_SETFONT,
                   reinterpret_cast<WPARAM>(fonts[static_cast<size_t>(item.font)].Get()), TRUE);
    }
  }
  // The controls use the new fonts now: the old ones go.
  fonts_ = std::move(fonts);
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

}  // namespace quillbeck::win32
