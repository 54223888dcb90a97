// The main window as a user measures it on the screen, for both window
// suites: every control's kind, text at creation, font and place in pixels
// at 96 and at 120 dots per inch, the client area, and the walk of the Tab
// key.
//
// The pixels are written out by hand from the window's layout in twips
// (15 twips to the pixel at 96 dpi, 12 at 120, a half pixel rounded up),
// never computed from the product's table or its conversion, so a change to
// either shows as a failure here.
#pragma once

#include <array>
#include <stdexcept>
#include <string_view>

namespace quillbeck::testing {

struct Pixels {
  int left, top, width, height;
};

enum class Kind { kLabel, kTextBox, kButton, kCheckBox, kPictureBox };

// The three text styles and their fonts, face "MS Sans Serif", ANSI.
struct StyleFont {
  double points;
  int weight;
  int pixels_96;  // character height in pixels
  int pixels_120;
};
inline constexpr StyleFont kCaptionFont{9.75, 700, 13, 16};  // 16.25 at 120
inline constexpr StyleFont kFieldFont{9.75, 400, 13, 16};
inline constexpr StyleFont kButtonFont{13.5, 700, 18, 23};  // 22.5 at 120
inline constexpr std::string_view kFontFace = "MS Sans Serif";

struct ExpectedControl {
  std::string_view name;  // with its index for a control array
  int win32_id;           // the dialog identifier programs outside know it by
  Kind kind;
  std::string_view text;
  const StyleFont* font;  // nullptr: shows no text
  Pixels at_96;
  Pixels at_120;
};

// One row a control, as the table reads: kept out of the formatter.
// clang-format off
inline constexpr std::array<ExpectedControl, 24> kExpectedControls{{
    {"Label1_0", 130, Kind::kLabel, "Folder 1:", &kCaptionFont, {18, 24, 62, 16}, {23, 30, 78, 20}},
    {"txtFolder_1", 111, Kind::kTextBox, "", &kFieldFont, {93, 21, 445, 25}, {116, 26, 556, 31}},
    {"Label1_1", 131, Kind::kLabel, "Shell 1:", &kCaptionFont, {18, 57, 52, 16}, {23, 71, 65, 20}},
    {"txtShell_1", 121, Kind::kTextBox, "", &kFieldFont, {93, 54, 445, 25}, {116, 68, 556, 31}},
    {"Label1_2", 132, Kind::kLabel, "Folder 2:", &kCaptionFont, {18, 102, 62, 16}, {23, 128, 78, 20}},
    {"txtFolder_2", 112, Kind::kTextBox, "", &kFieldFont, {93, 99, 445, 25}, {116, 124, 556, 31}},
    {"Label1_3", 133, Kind::kLabel, "Shell 2:", &kCaptionFont, {18, 135, 52, 16}, {23, 169, 65, 20}},
    {"txtShell_2", 122, Kind::kTextBox, "", &kFieldFont, {93, 132, 445, 25}, {116, 165, 556, 31}},
    {"Label1_4", 134, Kind::kLabel, "Folder 3:", &kCaptionFont, {18, 186, 62, 16}, {23, 233, 78, 20}},
    {"txtFolder_3", 113, Kind::kTextBox, "", &kFieldFont, {93, 183, 445, 25}, {116, 229, 556, 31}},
    {"Label1_5", 135, Kind::kLabel, "Shell 3:", &kCaptionFont, {18, 219, 52, 16}, {23, 274, 65, 20}},
    {"txtShell_3", 123, Kind::kTextBox, "", &kFieldFont, {93, 216, 445, 25}, {116, 270, 556, 31}},
    {"Label1_6", 136, Kind::kLabel, "Folder 4:", &kCaptionFont, {18, 267, 62, 16}, {23, 334, 78, 20}},
    {"txtFolder_4", 114, Kind::kTextBox, "", &kFieldFont, {93, 264, 445, 25}, {116, 330, 556, 31}},
    {"Label1_7", 137, Kind::kLabel, "Shell 4:", &kCaptionFont, {18, 300, 52, 16}, {23, 375, 65, 20}},
    {"txtShell_4", 124, Kind::kTextBox, "", &kFieldFont, {93, 297, 445, 25}, {116, 371, 556, 31}},
    {"Label1_8", 138, Kind::kLabel, "Folder 5:", &kCaptionFont, {18, 351, 62, 16}, {23, 439, 78, 20}},
    {"txtFolder_5", 115, Kind::kTextBox, "", &kFieldFont, {93, 348, 445, 25}, {116, 435, 556, 31}},
    {"Label1_9", 139, Kind::kLabel, "Shell 5:", &kCaptionFont, {18, 384, 52, 16}, {23, 480, 65, 20}},
    {"txtShell_5", 125, Kind::kTextBox, "", &kFieldFont, {93, 381, 445, 25}, {116, 476, 556, 31}},
    {"Picture1", 103, Kind::kPictureBox, "", nullptr, {12, 423, 40, 40}, {15, 529, 50, 50}},
    {"chkDebug", 102, Kind::kCheckBox, "Debug Log", &kCaptionFont, {96, 424, 137, 25}, {120, 530, 171, 31}},
    {"cmdSave", 101, Kind::kButton, "Save", &kButtonFont, {93, 480, 202, 52}, {116, 600, 253, 65}},
    {"cmdStart", 100, Kind::kButton, "Start Service", &kButtonFont, {336, 480, 202, 52}, {420, 600, 253, 65}},
}};
// clang-format on

// The client area: 8340 x 8055 twips.
inline constexpr Pixels kClient96{0, 0, 556, 537};
inline constexpr Pixels kClient120{0, 0, 695, 671};  // 671.25 high

// The focus at the start, then after each press of Tab, round once.
// One row a control, as the table reads: kept out of the formatter.
// clang-format off
inline constexpr std::array<std::string_view, 14> kTabWalk{{
    "cmdStart", "txtFolder_1", "txtShell_1", "txtFolder_2", "txtShell_2", "txtFolder_3", "txtShell_3",
    "txtFolder_4", "txtShell_4", "txtFolder_5", "txtShell_5", "cmdSave", "chkDebug", "cmdStart",
}};
// clang-format on

// The densities the table is written for.
constexpr bool Measured(int dpi) { return dpi == 96 || dpi == 120; }

// At() is the row's place at `dpi`, one of the Measured() densities.
constexpr const Pixels& At(const ExpectedControl& control, int dpi) {
  return dpi == 120 ? control.at_120 : control.at_96;
}
constexpr const Pixels& ClientAt(int dpi) { return dpi == 120 ? kClient120 : kClient96; }
constexpr int PixelsAt(const StyleFont& font, int dpi) {
  return dpi == 120 ? font.pixels_120 : font.pixels_96;
}

// Expected() is the row of the control of that name.
constexpr const ExpectedControl& Expected(std::string_view name) {
  for (const ExpectedControl& control : kExpectedControls) {
    if (control.name == name) return control;
  }
  throw std::out_of_range("no control of that name in the window");
}

}  // namespace quillbeck::testing
