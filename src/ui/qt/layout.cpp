// The description in Qt's terms.
#include "layout.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace quillbeck::qtui {

QRect PixelRect(const ui::TwipsRect& place, int dpi_x, int dpi_y) {
  const ui::PixelRect pixels = ui::ToPixels(place, dpi_x, dpi_y);
  return QRect(pixels.left, pixels.top, pixels.width, pixels.height);
}

QString Text(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString FontFamily() {
  static const QString family = [] {
    const QString wanted = Text(ui::kFontFace);
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

QFont StyleFont(ui::FontStyle style) {
  // A control without a style of its own shows the field's.
  const ui::Font style_font =
      ui::FontOf(style == ui::FontStyle::kNone ? ui::FontStyle::kField : style);
  QFont font(FontFamily());
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  font.setPointSizeF(style_font.centipoints / 100.0);
  // Qt's weights are the same 100-to-900 scale: 400 regular, 700 bold.
  font.setWeight(static_cast<QFont::Weight>(style_font.weight));
  return font;
}

}  // namespace quillbeck::qtui
