// The window as built: every control's place converted from twips, its
// caption and font, the focus order and the keys that must not act.
#include <cmath>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "layout.h"
#include "qt_support.h"

namespace quillbeck::testing {
namespace {

enum class Style { kNone, kCaption, kField, kButton };

struct Expected {
  const char* name;
  const char* text;
  int left, top, width, height;
  Style style;
};

// The window's controls as the design gives them, in twips.
const Expected kExpected[] = {
    {"Label1_0", "Folder 1:", 270, 360, 930, 240, Style::kCaption},
    {"txtFolder_1", "", 1395, 315, 6675, 375, Style::kField},
    {"Label1_1", "Shell 1:", 270, 855, 780, 240, Style::kCaption},
    {"txtShell_1", "", 1395, 810, 6675, 375, Style::kField},
    {"Label1_2", "Folder 2:", 270, 1530, 930, 240, Style::kCaption},
    {"txtFolder_2", "", 1395, 1485, 6675, 375, Style::kField},
    {"Label1_3", "Shell 2:", 270, 2025, 780, 240, Style::kCaption},
    {"txtShell_2", "", 1395, 1980, 6675, 375, Style::kField},
    {"Label1_4", "Folder 3:", 270, 2790, 930, 240, Style::kCaption},
    {"txtFolder_3", "", 1395, 2745, 6675, 375, Style::kField},
    {"Label1_5", "Shell 3:", 270, 3285, 780, 240, Style::kCaption},
    {"txtShell_3", "", 1395, 3240, 6675, 375, Style::kField},
    {"Label1_6", "Folder 4:", 270, 4005, 930, 240, Style::kCaption},
    {"txtFolder_4", "", 1395, 3960, 6675, 375, Style::kField},
    {"Label1_7", "Shell 4:", 270, 4500, 780, 240, Style::kCaption},
    {"txtShell_4", "", 1395, 4455, 6675, 375, Style::kField},
    {"Label1_8", "Folder 5:", 270, 5265, 930, 240, Style::kCaption},
    {"txtFolder_5", "", 1395, 5220, 6675, 375, Style::kField},
    {"Label1_9", "Shell 5:", 270, 5760, 780, 240, Style::kCaption},
    {"txtShell_5", "", 1395, 5715, 6675, 375, Style::kField},
    {"Picture1", "", 180, 6345, 600, 600, Style::kNone},
    {"chkDebug", "Debug Log", 1440, 6360, 2055, 375, Style::kCaption},
    {"cmdSave", "Save", 1395, 7200, 3030, 780, Style::kButton},
    {"cmdStart", "Start Service", 5040, 7200, 3030, 780, Style::kButton},
};

int Px(int twips, double dpi) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); }

QString TextOf(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  return {};
}

using LayoutTest = QtWindowTest;

TEST(TwipsTest, ConvertsAtTheDensityGiven) {
  struct Case {
    int twips;
    double dpi;
    int pixels;
  } cases[] = {{8340, 96, 556}, {8055, 96, 537}, {15, 96, 1}, {7, 96, 0}, {8, 96, 1},
               {8340, 120, 695}, {8055, 120, 671}, {600, 144, 60}, {930, 192, 124}};
  for (const Case& c : cases) {
    EXPECT_EQ(qtui::TwipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " at " << c.dpi;
  }
}

TEST_F(LayoutTest, EveryControlSitsAtItsPlaceWithItsCaptionAndFont) {
  const double dx = window.logicalDpiX(), dy = window.logicalDpiY();
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(e.name);
    QWidget* w = window.findChild<QWidget*>(QString::fromLatin1(e.name));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), QRect(Px(e.left, dx), Px(e.top, dy), Px(e.width, dx), Px(e.height, dy)));
    EXPECT_EQ(TextOf(w), QString::fromLatin1(e.text));
    EXPECT_FALSE(TextOf(w).contains(u'&')) << "no access keys";
    if (e.style == Style::kNone) continue;
    const QFont f = w->font();
    EXPECT_EQ(f.family(), qtui::FontFamily());
    EXPECT_DOUBLE_EQ(f.pointSizeF(), e.style == Style::kButton ? 13.5 : 9.75);
    EXPECT_EQ(f.weight(), e.style == Style::kField ? QFont::Normal : QFont::Bold);
    EXPECT_FALSE(f.italic() || f.underline() || f.strikeOut());
  }
}

TEST_F(LayoutTest, AtNinetySixDotsPerInchFifteenTwipsMakeAPixel) {
  // Qt lays widgets out in device-independent pixels of 96 dpi and scales
  // them to the screen; the table's sizes are whole pixels there.
  ASSERT_EQ(window.logicalDpiX(), 96);
  EXPECT_EQ(window.findChild<QWidget*>("txtFolder_1")->geometry(), QRect(93, 21, 445, 25));
  EXPECT_EQ(window.findChild<QWidget*>("cmdStart")->geometry(), QRect(336, 480, 202, 52));
}

TEST_F(LayoutTest, ClientAreaKeepsItsSizeOnTheScreen) {
  EXPECT_EQ(window.minimumSize(), QSize(Px(8340, window.logicalDpiX()), Px(8055, window.logicalDpiY())));
  EXPECT_EQ(window.maximumSize(), window.minimumSize());
  // On the device, the client area measures the twips at the real density.
  const double device_dpi = window.logicalDpiX() * window.devicePixelRatioF();
  const QPixmap shot = window.grab();
  EXPECT_EQ(shot.width(), Px(8340, device_dpi));
  EXPECT_NEAR(shot.height(), 8055 * device_dpi / 1440, 1.0);
}

TEST_F(LayoutTest, WindowCaptionIconAndPicture) {
  EXPECT_EQ(window.windowTitle(), "Brindle");
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(32, 32)));
  const QPixmap picture = window.Picture1().pixmap();
  EXPECT_EQ(picture.deviceIndependentSize().toSize(), QSize(32, 32));
  EXPECT_EQ(window.Picture1().focusPolicy(), Qt::NoFocus);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(window.findChild<QWidget*>(QString("Label1_%1").arg(i))->focusPolicy(), Qt::NoFocus);
  }
}

TEST_F(LayoutTest, CaptionsFitTheirPlaces) {
  for (const Expected& e : kExpected) {
    if (e.style == Style::kNone || e.style == Style::kField) continue;
    QWidget* w = window.findChild<QWidget*>(QString::fromLatin1(e.name));
    EXPECT_LE(w->sizeHint().width(), w->width()) << e.name << " in " << w->font().family().toStdString();
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

TEST_F(LayoutTest, StartHasTheFocusFirstAndTabFollowsTheTable) {
  form.Form_Load();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  ASSERT_NE(QApplication::focusWidget(), nullptr);
  EXPECT_EQ(QApplication::focusWidget()->objectName(), "cmdStart");
  std::vector<std::string> order;
  for (int i = 0; i < 13; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    order.push_back(QApplication::focusWidget()->objectName().toStdString());
  }
  EXPECT_EQ(order, (std::vector<std::string>{
                       "txtFolder_1", "txtShell_1", "txtFolder_2", "txtShell_2", "txtFolder_3",
                       "txtShell_3", "txtFolder_4", "txtShell_4", "txtFolder_5", "txtShell_5",
                       "cmdSave", "chkDebug", "cmdStart"}));
}

}  // namespace
}  // namespace quillbeck::testing
