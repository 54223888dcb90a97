// The window's layout conversions and fonts.
#include "layout.h"

#include <cmath>

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace quillbeck::qtui {

int TwipsToPixels(int twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

QRect PixelRect(const ControlPlace& place, double dpi_x, double dpi_y) {
  return QRect(TwipsToPixels(place.left, dpi_x), TwipsToPixels(place.top, dpi_y),
               TwipsToPixels(place.width, dpi_x), TwipsToPixels(place.height, dpi_y));
}

QString FontFamily() {
  static const QString family = [] {
    const QString wanted = QStringLiteral("MS Sans Serif");
    if (QFontDatabase::families().contains(wanted, Qt::CaseInsensitive)) return wanted;
    // The sans-serif the font configuration offers in Arial's place has
    // widths close to the wanted face, so the captions fit their fixed
    // places; without such a substitute this is the system's sans-serif.
    QFont near(QStringLiteral("Arial"));
    near.setStyleHint(QFont::SansSerif);
    return QFontInfo(near).family();
  }();
  return family;
}

QFont StyleFont(FontStyle style) {
  QFont font(FontFamily());
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  switch (style) {
    case FontStyle::kCaption:
      font.setPointSizeF(9.75);
      font.setWeight(QFont::Bold);
      break;
    case FontStyle::kField:
    case FontStyle::kNone:
      font.setPointSizeF(9.75);
      font.setWeight(QFont::Normal);
      break;
    case FontStyle::kButton:
      font.setPointSizeF(13.5);
      font.setWeight(QFont::Bold);
      break;
  }
  return font;
}

}  // namespace quillbeck::qtui
