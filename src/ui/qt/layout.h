// The window's description (ui/window_layout.h) in Qt's terms: places in
// pixels at the screen's logical density, the fonts of the three styles,
// and texts as QString.
#pragma once

#include <string_view>

#include <QFont>
#include <QRect>
#include <QString>

#include "ui/window_layout.h"

namespace quillbeck::qtui {

// PixelRect() is a place in twips in pixels at the given densities.
QRect PixelRect(const ui::TwipsRect& place, int dpi_x, int dpi_y);

// FontFamily() is the description's face where the system has it, else the
// system's sans-serif face of Arial's widths (such as Liberation Sans), else
// the system's sans-serif.
QString FontFamily();

// StyleFont() is the font of a style: its size and weight from the
// description, no italic, underline or strike-through.
QFont StyleFont(ui::FontStyle style);

// Text() is a text of the description (plain ASCII) as a QString.
QString Text(std::string_view text);

}  // namespace quillbeck::qtui
