// The main window as data: every control with its name, kind, index, text
// at creation, place in twips, tab index and font style; the client area,
// the three font styles, the caption, the message-box title, the tray menu
// and the work timer's period; and the one conversion from twips to pixels.
//
// Both front ends build their window by looping over this description and
// keep no value of it of their own, so a change here is a change of both
// windows. It is plain C++ over the standard library only, like the core.
//
// Twips are 1/1440 inch, so a place keeps its physical size at every
// display density: 15 twips make a pixel at 96 dots per inch, 12 at 120.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "platform/window.h"
#include "platform/work_period.h"

namespace quillbeck::ui {

// The window's caption, its name, and the title every message box carries.
inline constexpr std::string_view kCaption = "Brindle";
inline constexpr std::string_view kWindowName = "frmMain";
inline constexpr std::string_view kMessageBoxTitle = "Quillbeck";

// The client area, in twips.
inline constexpr int kClientWidthTwips = 8340;
inline constexpr int kClientHeightTwips = 8055;

// tmrWork and its period.
inline constexpr std::string_view kTimerName = "tmrWork";
inline constexpr int kTimerPeriodMs = static_cast<int>(kWorkPeriod.count());

// TwipsToPixels() is `twips` at `dpi` dots per inch, rounded to the nearest
// pixel with a half rounded up. Every place, size and font height of the
// window goes through it.
constexpr int TwipsToPixels(int twips, int dpi) { return (twips * dpi + 720) / 1440; }

// The three text styles; kNone for a control that shows no text.
enum class FontStyle { kNone, kCaption, kField, kButton };

// Every style uses this face in the ANSI character set, without italic,
// underline or strike-through.
inline constexpr std::string_view kFontFace = "MS Sans Serif";
inline constexpr int kFontCharset = 0;

struct Font {
  int centipoints;  // hundredths of a point
  int weight;       // 400 regular, 700 bold
};

// FontOf() is the size and weight of a style (all zero for kNone).
constexpr Font FontOf(FontStyle style) {
  switch (style) {
    case FontStyle::kCaption: return {975, 700};
    case FontStyle::kField: return {975, 400};
    case FontStyle::kButton: return {1350, 700};
    case FontStyle::kNone: break;
  }
  return {0, 0};
}

// FontTwips() is a font's character height in twips: 20 to the point.
constexpr int FontTwips(const Font& font) { return font.centipoints / 5; }

// The controls and control arrays of the window, by the names the event
// procedures know them by.
enum class ControlName {
  kLabel1,
  kTxtFolder,
  kTxtShell,
  kPicture1,
  kChkDebug,
  kCmdSave,
  kCmdStart
};

constexpr std::string_view NameText(ControlName name) {
  switch (name) {
    case ControlName::kLabel1: return "Label1";
    case ControlName::kTxtFolder: return "txtFolder";
    case ControlName::kTxtShell: return "txtShell";
    case ControlName::kPicture1: return "Picture1";
    case ControlName::kChkDebug: return "chkDebug";
    case ControlName::kCmdSave: return "cmdSave";
    case ControlName::kCmdStart: return "cmdStart";
  }
  return {};
}

enum class ControlKind { kLabel, kTextBox, kButton, kCheckBox, kPictureBox };

// TakesFocus() says whether a control of `kind` is a stop of the keyboard
// focus: labels never are, and the picture box only carries the tray icon.
constexpr bool TakesFocus(ControlKind kind) {
  return kind != ControlKind::kLabel && kind != ControlKind::kPictureBox;
}

struct TwipsRect {
  int left, top, width, height;  // from the client area's top left
};

struct PixelRect {
  int left, top, width, height;
};

// ToPixels() is a place at `dpi_x` across and `dpi_y` down.
constexpr PixelRect ToPixels(const TwipsRect& place, int dpi_x, int dpi_y) {
  return {TwipsToPixels(place.left, dpi_x), TwipsToPixels(place.top, dpi_y),
          TwipsToPixels(place.width, dpi_x), TwipsToPixels(place.height, dpi_y)};
}

// An index for a control that is no member of an array.
inline constexpr int kNoIndex = -1;

struct Control {
  ControlName name;
  int index;  // the slot (txtFolder, txtShell), 0 to 9 (Label1), or kNoIndex
  ControlKind kind;
  std::string_view text;  // at creation; the picture box shows the icon
  TwipsRect place;
  int tab_index;
  FontStyle font;
};

// kControls lists every control from top to bottom.
// One row a control, as the table reads: kept out of the formatter.
// clang-format off
inline constexpr std::array<Control, 24> kControls{{
    {ControlName::kLabel1, 0, ControlKind::kLabel, "Folder 1:", {270, 360, 930, 240}, 1, FontStyle::kCaption},
    {ControlName::kTxtFolder, 1, ControlKind::kTextBox, "", {1395, 315, 6675, 375}, 2, FontStyle::kField},
    {ControlName::kLabel1, 1, ControlKind::kLabel, "Shell 1:", {270, 855, 780, 240}, 3, FontStyle::kCaption},
    {ControlName::kTxtShell, 1, ControlKind::kTextBox, "", {1395, 810, 6675, 375}, 4, FontStyle::kField},
    {ControlName::kLabel1, 2, ControlKind::kLabel, "Folder 2:", {270, 1530, 930, 240}, 5, FontStyle::kCaption},
    {ControlName::kTxtFolder, 2, ControlKind::kTextBox, "", {1395, 1485, 6675, 375}, 6, FontStyle::kField},
    {ControlName::kLabel1, 3, ControlKind::kLabel, "Shell 2:", {270, 2025, 780, 240}, 7, FontStyle::kCaption},
    {ControlName::kTxtShell, 2, ControlKind::kTextBox, "", {1395, 1980, 6675, 375}, 8, FontStyle::kField},
    {ControlName::kLabel1, 4, ControlKind::kLabel, "Folder 3:", {270, 2790, 930, 240}, 9, FontStyle::kCaption},
    {ControlName::kTxtFolder, 3, ControlKind::kTextBox, "", {1395, 2745, 6675, 375}, 10, FontStyle::kField},
    {ControlName::kLabel1, 5, ControlKind::kLabel, "Shell 3:", {270, 3285, 780, 240}, 11, FontStyle::kCaption},
    {ControlName::kTxtShell, 3, ControlKind::kTextBox, "", {1395, 3240, 6675, 375}, 12, FontStyle::kField},
    {ControlName::kLabel1, 6, ControlKind::kLabel, "Folder 4:", {270, 4005, 930, 240}, 13, FontStyle::kCaption},
    {ControlName::kTxtFolder, 4, ControlKind::kTextBox, "", {1395, 3960, 6675, 375}, 14, FontStyle::kField},
    {ControlName::kLabel1, 7, ControlKind::kLabel, "Shell 4:", {270, 4500, 780, 240}, 15, FontStyle::kCaption},
    {ControlName::kTxtShell, 4, ControlKind::kTextBox, "", {1395, 4455, 6675, 375}, 16, FontStyle::kField},
    {ControlName::kLabel1, 8, ControlKind::kLabel, "Folder 5:", {270, 5265, 930, 240}, 17, FontStyle::kCaption},
    {ControlName::kTxtFolder, 5, ControlKind::kTextBox, "", {1395, 5220, 6675, 375}, 18, FontStyle::kField},
    {ControlName::kLabel1, 9, ControlKind::kLabel, "Shell 5:", {270, 5760, 780, 240}, 19, FontStyle::kCaption},
    {ControlName::kTxtShell, 5, ControlKind::kTextBox, "", {1395, 5715, 6675, 375}, 20, FontStyle::kField},
    {ControlName::kPicture1, kNoIndex, ControlKind::kPictureBox, "", {180, 6345, 600, 600}, 22, FontStyle::kNone},
    {ControlName::kChkDebug, kNoIndex, ControlKind::kCheckBox, "Debug Log", {1440, 6360, 2055, 375}, 23, FontStyle::kCaption},
    {ControlName::kCmdSave, kNoIndex, ControlKind::kButton, "Save", {1395, 7200, 3030, 780}, 21, FontStyle::kButton},
    {ControlName::kCmdStart, kNoIndex, ControlKind::kButton, "Start Service", {5040, 7200, 3030, 780}, 0, FontStyle::kButton},
}};
// clang-format on

// InTabOrder() is every control of kControls by increasing tab index.
constexpr std::array<const Control*, kControls.size()> InTabOrder() {
  std::array<const Control*, kControls.size()> order{};
  for (std::size_t i = 0; i < kControls.size(); ++i) order[i] = &kControls[i];
  std::ranges::sort(order, {}, &Control::tab_index);
  return order;
}

// The tab indices order the controls without a tie.
static_assert([] {
  const auto order = InTabOrder();
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (order[i - 1]->tab_index == order[i]->tab_index) return false;
  }
  return true;
}());

// FirstFocus() is the control that holds the focus when the window is
// first shown: the lowest tab index among the controls that take it.
constexpr const Control& FirstFocus() {
  for (const Control* control : InTabOrder()) {
    if (TakesFocus(control->kind)) return *control;
  }
  return kControls.front();
}

// The tray menu, its name and caption, and its items in order.
inline constexpr std::string_view kTrayMenuName = "mnuTray";
inline constexpr std::string_view kTrayMenuCaption = "TRAY";

// Each item is the choice the core's tray procedure acts on (TrayChoice).
struct MenuItem {
  TrayChoice item;
  std::string_view name;
  std::string_view caption;
};
inline constexpr std::array<MenuItem, 2> kTrayItems{{
    {TrayChoice::kOpen, "mnuOpen", "Open"},
    {TrayChoice::kClose, "mnuClose", "Close"},
}};

}  // namespace quillbeck::ui
