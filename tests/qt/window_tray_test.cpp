// Window residency on the Qt window: the tray icon's notifications, its
// menu "Open"/"Close", close requests that hide the window while the
// service runs on, and the end of the desktop session that is let through.
#include <functional>
#include <string>
#include <vector>

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "qt_support.h"

namespace quillbeck::testing {
namespace {

using TrayTest = QtWindowTest;

// WhenMenuOpens() runs `act` on the popup menu once it is open, and closes
// any popup left open after a while so a test can never hang in it.
void WhenMenuOpens(std::function<void(QMenu*)> act) {
  QTimer::singleShot(0, [act] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr) << "no popup menu open";
    act(menu);
  });
  QTimer::singleShot(10000, [] {
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  });
}

std::vector<std::string> Captions(const QMenu* menu) {
  std::vector<std::string> captions;
  for (const QAction* a : menu->actions())
    captions.push_back(a->isSeparator() ? "--" : a->text().toStdString());
  return captions;
}

TEST_F(TrayTest, OnlyTheRightButtonOpensTheMenu) {
  struct Case {
    QSystemTrayIcon::ActivationReason reason;
    int menus;
  } cases[] = {{QSystemTrayIcon::Context, 1},
               {QSystemTrayIcon::Trigger, 0},
               {QSystemTrayIcon::DoubleClick, 0},
               {QSystemTrayIcon::MiddleClick, 0},
               {QSystemTrayIcon::Unknown, 0}};
  form.Form_Load();
  window.close();
  for (const Case& c : cases) {
    tray.menus_opened = 0;
    emit tray.system_icon().activated(c.reason);
    EXPECT_EQ(tray.menus_opened, c.menus) << "reason " << c.reason;
    EXPECT_FALSE(window.isVisible()) << "reason " << c.reason;
  }
  EXPECT_EQ(tray.system_icon().contextMenu(), nullptr) << "the core decides, not the icon";
}

TEST_F(TrayTest, TheRealMenuOffersOpenAndCloseAndOpenShowsTheWindow) {
  form.Form_Load();
  window.show();
  QTest::keyClicks(&window.txtShell(3), "unsaved");
  window.close();
  ASSERT_FALSE(window.isVisible());

  tray.real_menu = true;
  std::vector<std::string> captions;
  WhenMenuOpens([&](QMenu* menu) {
    captions = Captions(menu);
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  emit tray.system_icon().activated(QSystemTrayIcon::Context);

  EXPECT_EQ(captions, (std::vector<std::string>{"Open", "Close"}));
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.txtShell(3).text(), "unsaved");
  EXPECT_EQ(ended, 0);
}

TEST_F(TrayTest, DismissingTheMenuDoesNothing) {
  form.Form_Load();
  window.close();
  tray.real_menu = true;
  WhenMenuOpens([](QMenu* menu) { QTest::keyClick(menu, Qt::Key_Escape); });
  emit tray.system_icon().activated(QSystemTrayIcon::Context);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(tray.Shown());
}

TEST_F(TrayTest, CloseInTheRealMenuRemovesTheIconThenEnds) {
  form.Form_Load();
  ASSERT_TRUE(tray.Shown());
  tray.real_menu = true;
  WhenMenuOpens([](QMenu* menu) {
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  emit tray.system_icon().activated(QSystemTrayIcon::Context);
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(tray_shown_when_ended);
}

TEST_F(TrayTest, OpenBringsAMinimisedOrMaximisedWindowBackAtNormalSize) {
  form.Form_Load();
  tray.pick = ScriptedTray::Pick::kOpen;
  for (Qt::WindowState state : {Qt::WindowMinimized, Qt::WindowMaximized, Qt::WindowNoState}) {
    window.show();
    window.setWindowState(state);
    emit tray.contextRequested();
    EXPECT_TRUE(window.isVisible()) << state;
    EXPECT_EQ(window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), Qt::WindowNoState)
        << state;
  }
}

TEST_F(TrayTest, ClosingHidesTheWindowAndTheServiceRunsOn) {
  form.Form_Load();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  EXPECT_FALSE(window.close()) << "the close is refused";
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(window.tmrWork().isActive());
  EXPECT_TRUE(tray.Shown());
  EXPECT_EQ(ended, 0);

  // Stopped stays stopped through a close and "Open".
  window.show();
  QTest::mouseClick(&window.cmdStart(), Qt::LeftButton);
  EXPECT_FALSE(window.close());
  EXPECT_FALSE(window.tmrWork().isActive());
  tray.pick = ScriptedTray::Pick::kOpen;
  emit tray.contextRequested();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.cmdStart().text(), "Start Service");
}

TEST_F(TrayTest, ASecondCopyEndsAtOnceWithoutAnIcon) {
  form.Form_Load();
  ASSERT_EQ(ended, 0);

  RecordingPresenter other_boxes;
  ScriptedTray other_tray{icon};
  int other_ended = 0;
  qtui::MainWindow other{icon, other_boxes, other_tray, [&] { ++other_ended; }};
  frmMain second{platform, other};
  other.Attach(second);
  second.Form_Load();
  EXPECT_EQ(other_ended, 1);
  EXPECT_FALSE(other_tray.Shown());
  EXPECT_TRUE(other_boxes.boxes.empty());
  EXPECT_TRUE(tray.Shown());
}

// Runs in a process of its own: the application quits at the end.
TEST_F(TrayTest, SessionEndIsLetThroughWhileOtherClosesHide) {
  form.Form_Load();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_FALSE(window.close());
  window.show();

  bool quit_refused = false;
  // The session manager's end of the session reaches Qt as a Quit event,
  // which first asks every window to close.
  QTimer::singleShot(0, [] {
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &quit);
  });
  QTimer::singleShot(20000, [&] {
    quit_refused = true;
    QCoreApplication::exit(1);
  });
  const int status = QApplication::exec();
  EXPECT_FALSE(quit_refused);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(ended, 0) << "the session's end is no Close";
}

}  // namespace
}  // namespace quillbeck::testing
