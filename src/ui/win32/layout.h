// The layout of Quillbeck's main window: every control with its text, its
// place in twips and its font, listed in tab order, and the conversions
// from twips and points to pixels at a given DPI.
//
// Creating the controls in the order of kControls gives the tab order, since
// the dialog manager walks the z-order. Control identifiers start at 100 so
// none collides with IDOK (1) or IDCANCEL (2), which the dialog manager
// sends on Enter and Esc.
#pragma once

#include <array>

namespace quillbeck::win32 {

enum class ControlKind { kLabel, kEdit, kButton, kCheckBox, kPicture };

// The three text styles of the window; kNone for the picture.
enum class FontStyle { kNone, kCaption, kField, kButton };

struct ControlSpec {
  int id;
  ControlKind kind;
  const wchar_t* text;
  int left, top, width, height;  // twips, from the client area's top left
  FontStyle font;
};

inline constexpr int kIdStart = 100;
inline constexpr int kIdSave = 101;
inline constexpr int kIdDebug = 102;
inline constexpr int kIdPicture = 103;
// FolderId() and ShellId() are the edits of slot 1 to 5; LabelId() the
// labels Label1(0) to Label1(9).
constexpr int FolderId(int slot) { return 110 + slot; }
constexpr int ShellId(int slot) { return 120 + slot; }
constexpr int LabelId(int index) { return 130 + index; }

// The client area, in twips.
inline constexpr int kClientWidthTwips = 8340;
inline constexpr int kClientHeightTwips = 8055;

inline constexpr std::array<ControlSpec, 24> kControls{{
    {kIdStart, ControlKind::kButton, L"Start Service", 5040, 7200, 3030, 780, FontStyle::kButton},
    {LabelId(0), ControlKind::kLabel, L"Folder 1:", 270, 360, 930, 240, FontStyle::kCaption},
    {FolderId(1), ControlKind::kEdit, L"", 1395, 315, 6675, 375, FontStyle::kField},
    {LabelId(1), ControlKind::kLabel, L"Shell 1:", 270, 855, 780, 240, FontStyle::kCaption},
    {ShellId(1), ControlKind::kEdit, L"", 1395, 810, 6675, 375, FontStyle::kField},
    {LabelId(2), ControlKind::kLabel, L"Folder 2:", 270, 1530, 930, 240, FontStyle::kCaption},
    {FolderId(2), ControlKind::kEdit, L"", 1395, 1485, 6675, 375, FontStyle::kField},
    {LabelId(3), ControlKind::kLabel, L"Shell 2:", 270, 2025, 780, 240, FontStyle::kCaption},
    {ShellId(2), ControlKind::kEdit, L"", 1395, 1980, 6675, 375, FontStyle::kField},
    {LabelId(4), ControlKind::kLabel, L"Folder 3:", 270, 2790, 930, 240, FontStyle::kCaption},
    {FolderId(3), ControlKind::kEdit, L"", 1395, 2745, 6675, 375, FontStyle::kField},
    {LabelId(5), ControlKind::kLabel, L"Shell 3:", 270, 3285, 780, 240, FontStyle::kCaption},
    {ShellId(3), ControlKind::kEdit, L"", 1395, 3240, 6675, 375, FontStyle::kField},
    {LabelId(6), ControlKind::kLabel, L"Folder 4:", 270, 4005, 930, 240, FontStyle::kCaption},
    {FolderId(4), ControlKind::kEdit, L"", 1395, 3960, 6675, 375, FontStyle::kField},
    {LabelId(7), ControlKind::kLabel, L"Shell 4:", 270, 4500, 780, 240, FontStyle::kCaption},
    {ShellId(4), ControlKind::kEdit, L"", 1395, 4455, 6675, 375, FontStyle::kField},
    {LabelId(8), ControlKind::kLabel, L"Folder 5:", 270, 5265, 930, 240, FontStyle::kCaption},
    {FolderId(5), ControlKind::kEdit, L"", 1395, 5220, 6675, 375, FontStyle::kField},
    {LabelId(9), ControlKind::kLabel, L"Shell 5:", 270, 5760, 780, 240, FontStyle::kCaption},
    {ShellId(5), ControlKind::kEdit, L"", 1395, 5715, 6675, 375, FontStyle::kField},
    {kIdSave, ControlKind::kButton, L"Save", 1395, 7200, 3030, 780, FontStyle::kButton},
    {kIdPicture, ControlKind::kPicture, L"", 180, 6345, 600, 600, FontStyle::kNone},
    {kIdDebug, ControlKind::kCheckBox, L"Debug Log", 1440, 6360, 2055, 375, FontStyle::kCaption},
}};

// TwipsToPixels() converts a length in twips (1/1440 inch) to pixels at
// `dpi`, rounded to the nearest pixel.
constexpr int TwipsToPixels(int twips, int dpi) {
  return (twips * dpi + 720) / 1440;
}

// FontHeight() is the LOGFONT height (negative: a character height) of a
// font of `centipoints` hundredths of a point at `dpi`, rounded half up, so
// 9.75 pt at 96 dpi is exactly 13 pixels.
constexpr int FontHeight(int centipoints, int dpi) {
  return -((centipoints * dpi + 3600) / 7200);
}

struct FontSpec {
  int centipoints;
  int weight;
};

// FontOf() is the size and weight of a text style; the face is always
// "MS Sans Serif" with the ANSI character set.
constexpr FontSpec FontOf(FontStyle style) {
  switch (style) {
    case FontStyle::kCaption: return {975, 700};
    case FontStyle::kField: return {975, 400};
    case FontStyle::kButton: return {1350, 700};
    case FontStyle::kNone: break;
  }
  return {0, 0};
}

inline constexpr wchar_t kFontFace[] = L"MS Sans Serif";

}  // namespace quillbeck::win32
