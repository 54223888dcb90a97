// The fixed layout of the main window: every control's place in twips, the
// three font styles, and their conversion to the screen.
//
// Twips are 1/1440 inch; a place becomes pixels at the screen's logical
// dots per inch (15 twips to the pixel at 96), so the window keeps its
// physical proportions at every display density.
#pragma once

#include <array>
#include <string_view>

#include <QFont>
#include <QRect>
#include <QString>

namespace quillbeck::qtui {

// The client area of the window, in twips.
inline constexpr int kClientWidthTwips = 8340;
inline constexpr int kClientHeightTwips = 8055;

enum class FontStyle { kNone, kCaption, kField, kButton };

// One control of the window: its object name, text at creation, place in
// twips, tab index (-1 for a control that never takes the focus) and font.
struct ControlPlace {
  std::string_view name;
  std::string_view text;
  int left;
  int top;
  int width;
  int height;
  int tab_index;
  FontStyle font;
};

// kControls lists every control of the window from top to bottom. The
// labels and the picture box keep their tab index in the table's sense but
// never take the focus.
inline constexpr std::array<ControlPlace, 24> kControls{{
    {"Label1_0", "Folder 1:", 270, 360, 930, 240, 1, FontStyle::kCaption},
    {"txtFolder_1", "", 1395, 315, 6675, 375, 2, FontStyle::kField},
    {"Label1_1", "Shell 1:", 270, 855, 780, 240, 3, FontStyle::kCaption},
    {"txtShell_1", "", 1395, 810, 6675, 375, 4, FontStyle::kField},
    {"Label1_2", "Folder 2:", 270, 1530, 930, 240, 5, FontStyle::kCaption},
    {"txtFolder_2", "", 1395, 1485, 6675, 375, 6, FontStyle::kField},
    {"Label1_3", "Shell 2:", 270, 2025, 780, 240, 7, FontStyle::kCaption},
    {"txtShell_2", "", 1395, 1980, 6675, 375, 8, FontStyle::kField},
    {"Label1_4", "Folder 3:", 270, 2790, 930, 240, 9, FontStyle::kCaption},
    {"txtFolder_3", "", 1395, 2745, 6675, 375, 10, FontStyle::kField},
    {"Label1_5", "Shell 3:", 270, 3285, 780, 240, 11, FontStyle::kCaption},
    {"txtShell_3", "", 1395, 3240, 6675, 375, 12, FontStyle::kField},
    {"Label1_6", "Folder 4:", 270, 4005, 930, 240, 13, FontStyle::kCaption},
    {"txtFolder_4", "", 1395, 3960, 6675, 375, 14, FontStyle::kField},
    {"Label1_7", "Shell 4:", 270, 4500, 780, 240, 15, FontStyle::kCaption},
    {"txtShell_4", "", 1395, 4455, 6675, 375, 16, FontStyle::kField},
    {"Label1_8", "Folder 5:", 270, 5265, 930, 240, 17, FontStyle::kCaption},
    {"txtFolder_5", "", 1395, 5220, 6675, 375, 18, FontStyle::kField},
    {"Label1_9", "Shell 5:", 270, 5760, 780, 240, 19, FontStyle::kCaption},
    {"txtShell_5", "", 1395, 5715, 6675, 375, 20, FontStyle::kField},
    {"Picture1", "", 180, 6345, 600, 600, 22, FontStyle::kNone},
    {"chkDebug", "Debug Log", 1440, 6360, 2055, 375, 23, FontStyle::kCaption},
    {"cmdSave", "Save", 1395, 7200, 3030, 780, 21, FontStyle::kButton},
    {"cmdStart", "Start Service", 5040, 7200, 3030, 780, 0, FontStyle::kButton},
}};

// TwipsToPixels() is `twips` at `dpi` dots per inch, rounded to the nearest
// pixel.
int TwipsToPixels(int twips, double dpi);

// PixelRect() is the control's place in pixels at the given densities.
QRect PixelRect(const ControlPlace& place, double dpi_x, double dpi_y);

// FontFamily() is "MS Sans Serif" where the system has it, else the system's
// sans-serif face of Arial's widths (such as Liberation Sans), else the
// system's sans-serif.
QString FontFamily();

// StyleFont() is the font of a style: caption 9.75 pt bold, field 9.75 pt
// regular, button 13.5 pt bold; no italic, underline or strike-through.
QFont StyleFont(FontStyle style);

}  // namespace quillbeck::qtui
