// The Qt window as built, measured against the hand-written table of the
// window (support/window_geometry.h): every control's place, text and font,
// the client area at the screen's density, and the walk of the Tab key.
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "layout.h"
#include "qt_support.h"
#include "support/window_geometry.h"
#include "ui/window_layout.h"

// Failures name the rectangle rather than its bytes.
void PrintTo(const QRect& rect, std::ostream* out) {
  *out << "(" << rect.x() << ", " << rect.y() << ") " << rect.width() << " x " << rect.height();
}

namespace quillbeck::testing {
namespace {

QString TextOf(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  return {};
}

QString Name(const ExpectedControl& e) { return QString::fromLatin1(e.name.data(), e.name.size()); }

bool IsKind(QWidget* w, Kind kind) {
  switch (kind) {
    case Kind::kLabel:
    case Kind::kPictureBox: return qobject_cast<QLabel*>(w) != nullptr;
    case Kind::kTextBox: return qobject_cast<QLineEdit*>(w) != nullptr;
    case Kind::kButton: return qobject_cast<QPushButton*>(w) != nullptr;
    case Kind::kCheckBox: return qobject_cast<QCheckBox*>(w) != nullptr;
  }
  return false;
}

using LayoutTest = QtWindowTest;

// The one conversion of the window, at the edges of its rounding.
TEST(TwipsTest, ConvertsAtTheDensityGiven) {
  struct Case {
    int twips, dpi, pixels;
  } cases[] = {{8340, 96, 556}, {8055, 96, 537},  {15, 96, 1},      {7, 96, 0},
               {8, 96, 1},      {8340, 120, 695}, {8055, 120, 671}, {6, 120, 1},
               {5, 120, 0},     {600, 144, 60},   {930, 192, 124}};
  for (const Case& c : cases) {
    EXPECT_EQ(ui::TwipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " at " << c.dpi;
  }
}

// Qt lays widgets out in device-independent pixels of the logical density
// and scales them to the device: the places match the table at the logical
// density exactly, and at the device's density to within the rounding of
// the scale.
TEST_F(LayoutTest, EveryControlSitsAtItsPlaceWithItsTextAndFont) {
  const int logical = window.logicalDpiX();
  const double scale = window.devicePixelRatioF();
  const int device = static_cast<int>(std::lround(logical * scale));
  ASSERT_TRUE(Measured(logical) && Measured(device)) << logical << " and " << device << " dpi";
  ASSERT_EQ(window.logicalDpiY(), logical);
  for (const ExpectedControl& e : kExpectedControls) {
    SCOPED_TRACE(e.name);
    QWidget* w = window.findChild<QWidget*>(Name(e));
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(IsKind(w, e.kind));
    const Pixels& at = At(e, logical);
    EXPECT_EQ(w->geometry(), QRect(at.left, at.top, at.width, at.height));
    const Pixels& on_device = At(e, device);
    const QRect g = w->geometry();
    EXPECT_NEAR(g.x() * scale, on_device.left, 1.0);
    EXPECT_NEAR(g.y() * scale, on_device.top, 1.0);
    EXPECT_NEAR(g.width() * scale, on_device.width, 1.0);
    EXPECT_NEAR(g.height() * scale, on_device.height, 1.0);

    EXPECT_EQ(TextOf(w), QString::fromLatin1(e.text.data(), e.text.size()));
    if (e.font == nullptr) continue;
    const QFont f = w->font();
    EXPECT_EQ(f.family(), qtui::FontFamily());
    EXPECT_DOUBLE_EQ(f.pointSizeF(), e.font->points);
    EXPECT_EQ(f.weight(), e.font->weight);
    EXPECT_FALSE(f.italic() || f.underline() || f.strikeOut());
  }
}

TEST_F(LayoutTest, TheFaceIsMsSansSerifWhereTheSystemHasIt) {
  const QString face = QString::fromLatin1(kFontFace.data(), kFontFace.size());
  if (QFontDatabase::families().contains(face, Qt::CaseInsensitive)) {
    EXPECT_EQ(qtui::FontFamily(), face);
  } else {
    EXPECT_FALSE(qtui::FontFamily().isEmpty());
  }
}

TEST_F(LayoutTest, ClientAreaKeepsItsSizeOnTheScreen) {
  const Pixels& logical = ClientAt(window.logicalDpiX());
  EXPECT_EQ(window.minimumSize(), QSize(logical.width, logical.height));
  EXPECT_EQ(window.maximumSize(), window.minimumSize());
  // On the device, the client area measures the twips at the real density.
  const int device =
      static_cast<int>(std::lround(window.logicalDpiX() * window.devicePixelRatioF()));
  ASSERT_TRUE(Measured(device)) << device << " dpi";
  const QPixmap shot = window.grab();
  EXPECT_EQ(shot.size(), QSize(ClientAt(device).width, ClientAt(device).height));
}

TEST_F(LayoutTest, WindowCaptionIconAndPicture) {
  EXPECT_EQ(window.windowTitle(), "Brindle");
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(32, 32)));
  const QPixmap picture = window.Picture1().pixmap();
  EXPECT_EQ(picture.deviceIndependentSize().toSize(), QSize(32, 32));
  for (const ExpectedControl& e : kExpectedControls) {
    if (e.kind != Kind::kLabel && e.kind != Kind::kPictureBox) continue;
    EXPECT_EQ(window.findChild<QWidget*>(Name(e))->focusPolicy(), Qt::NoFocus) << e.name;
  }
}

TEST_F(LayoutTest, CaptionsFitTheirPlaces) {
  for (const ExpectedControl& e : kExpectedControls) {
    if (e.font == nullptr || e.kind == Kind::kTextBox) continue;
    QWidget* w = window.findChild<QWidget*>(Name(e));
    EXPECT_LE(w->sizeHint().width(), w->width())
        << e.name << " in " << w->font().family().toStdString();
    EXPECT_FALSE(TextOf(w).contains(u'&')) << e.name << ": no access keys";
  }
}

TEST_F(LayoutTest, NeitherButtonIsDefaultOrCancel) {
  for (QPushButton* b : {&window.cmdSave(), &window.cmdStart()}) {
    EXPECT_FALSE(b->autoDefault());
    EXPECT_FALSE(b->isDefault());
  }
  form.Form_Load();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  // Enter and Esc in a field do nothing: no Save box, no Stop.
  window.txtFolder(1).setFocus();
  QTest::keyClick(&window.txtFolder(1), Qt::Key_Return);
  QTest::keyClick(&window.txtFolder(1), Qt::Key_Escape);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(window.StartCaption(), "Stop Service");
  EXPECT_TRUE(window.isVisible());
}

TEST_F(LayoutTest, StartHasTheFocusFirstAndTabWalksTheTabIndexOrder) {
  form.Form_Load();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  std::vector<std::string> walk;
  for (std::size_t i = 0; i < kTabWalk.size(); ++i) {
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    walk.push_back(QApplication::focusWidget()->objectName().toStdString());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(walk, std::vector<std::string>(kTabWalk.begin(), kTabWalk.end()));
}

}  // namespace
}  // namespace quillbeck::testing
