// Window residency on the Qt window: the tray icon's notifications, its
// menu "Open"/"Close", close requests that hide the window while the
// service runs on (or minimise it while no tray host could bring it back),
// a later copy's request for "Open", and the end of the desktop session
// that is let through.
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

// PopUpIconMenu() opens the icon's own context menu as a tray host does on
// a right-button click, and waits until it has closed again.
void PopUpIconMenu(qtui::TrayIcon& tray) {
  ASSERT_NE(tray.system_icon(), nullptr);
  QMenu* menu = tray.system_icon()->contextMenu();
  ASSERT_NE(menu, nullptr) << "the menu is the icon's own";
  menu->popup(QPoint(10, 10));
  EXPECT_TRUE(QTest::qWaitFor([menu] { return !menu->isVisible(); }, 15000));
}

std::vector<std::string> Captions(const QMenu* menu) {
  std::vector<std::string> captions;
  for (const QAction* a : menu->actions())
    captions.push_back(a->isSeparator() ? "--" : a->text().toStdString());
  return captions;
}

TEST_F(TrayTest, TheMenuIsTheIconsOwnAndNoClickShowsTheWindow) {
  form.Form_Load();
  window.close();
  ASSERT_NE(tray.system_icon(), nullptr);
  EXPECT_EQ(tray.system_icon()->contextMenu(), &tray.menu())
      << "every tray host opens the icon's own menu at the icon";
  // The host opens that menu on a right-button click by itself; no click
  // on the icon opens a menu of ours elsewhere or shows the window.
  for (auto reason :
       {QSystemTrayIcon::Context, QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick,
        QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}) {
    emit tray.system_icon()->activated(reason);
    EXPECT_EQ(tray.menus_opened, 0) << "reason " << reason;
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "reason " << reason;
    EXPECT_FALSE(window.isVisible()) << "reason " << reason;
  }
}

TEST_F(TrayTest, TheRealMenuOffersOpenAndCloseAndOpenShowsTheWindow) {
  form.Form_Load();
  window.show();
  QTest::keyClicks(&window.txtShell(3), "unsaved");
  window.close();
  ASSERT_FALSE(window.isVisible());

  std::vector<std::string> captions;
  WhenMenuOpens([&](QMenu* menu) {
    captions = Captions(menu);
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  PopUpIconMenu(tray);

  EXPECT_EQ(captions, (std::vector<std::string>{"Open", "Close"}));
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.txtShell(3).text(), "unsaved");
  EXPECT_EQ(ended, 0);
}

TEST_F(TrayTest, DismissingTheMenuDoesNothing) {
  form.Form_Load();
  window.close();
  WhenMenuOpens([](QMenu* menu) { QTest::keyClick(menu, Qt::Key_Escape); });
  PopUpIconMenu(tray);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(tray.Shown());
}

TEST_F(TrayTest, CloseInTheRealMenuRemovesTheIconThenEnds) {
  form.Form_Load();
  ASSERT_TRUE(tray.Shown());
  WhenMenuOpens([](QMenu* menu) {
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  PopUpIconMenu(tray);
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(tray_shown_when_ended);
}

TEST_F(TrayTest, OpenBringsAMinimisedOrMaximisedWindowBackAtNormalSize) {
  form.Form_Load();
  for (Qt::WindowState state : {Qt::WindowMinimized, Qt::WindowMaximized, Qt::WindowNoState}) {
    window.show();
    window.setWindowState(state);
    emit tray.openRequested();
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
  emit tray.openRequested();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.cmdStart().text(), "Start Service");
}

TEST_F(TrayTest, WithoutATrayHostACloseMinimisesAndOnceOneIsThereItHides) {
  form.Form_Load();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  tray.host = false;
  EXPECT_FALSE(window.close()) << "the close is refused";
  EXPECT_TRUE(window.isVisible()) << "a hidden window could not come back";
  EXPECT_TRUE(window.isMinimized());
  EXPECT_TRUE(window.tmrWork().isActive());

  emit tray.openRequested();
  EXPECT_FALSE(window.isMinimized());
  tray.host = true;
  EXPECT_FALSE(window.close());
  EXPECT_FALSE(window.isVisible());
}

TEST_F(TrayTest, ASecondCopyShowsTheFirstCopysWindowAndEndsWithoutAnIcon) {
  form.Form_Load();
  ASSERT_EQ(ended, 0);
  window.show();
  window.setWindowState(Qt::WindowMaximized);
  ASSERT_FALSE(window.close());
  ASSERT_FALSE(window.isVisible());
  window.cmdStart().click();  // the service stopped: a second start leaves it so

  RecordingPresenter other_boxes;
  ScriptedTray other_tray{icon};
  int other_ended = 0;
  qtui::MainWindow other{icon, other_boxes, other_tray, [&] { ++other_ended; }};
  frmMain second{platform, other};
  other.Attach(second);
  second.Form_Load();
  EXPECT_EQ(other_ended, 1);
  EXPECT_FALSE(other_tray.Shown());
  EXPECT_FALSE(other.isVisible());
  EXPECT_TRUE(other_boxes.boxes.empty());
  EXPECT_TRUE(tray.Shown());

  // The request travels through the user's local socket to the first
  // window, which does what "Open" does.
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.isVisible(); }, 10000));
  EXPECT_EQ(window.windowState() & Qt::WindowMaximized, Qt::WindowNoState);
  EXPECT_EQ(window.cmdStart().text(), "Start Service");
  EXPECT_FALSE(window.tmrWork().isActive());
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_FALSE(Exists(LogPath("Error.log")));
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
  EXPECT_EQ(system_log.entries.back(), "information: Program ended");
}

}  // namespace
}  // namespace quillbeck::testing
