// Save, Start/Stop, Debug Log and the tick driven by real clicks, typing and
// timer events on the Qt window: that each reaches its event procedure, that
// the core sees what the widgets hold and the widgets show what the core
// sets, and the boxes shown. What the procedures write is the core suite's.
#include <algorithm>
#include <chrono>
#include <functional>
#include <filesystem>
#include <string>
#include <thread>

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include "qt_support.h"

namespace quillbeck::testing {
namespace {

using CommandsTest = QtWindowTest;

void Click(QWidget& w) { QTest::mouseClick(&w, Qt::LeftButton); }

TEST_F(CommandsTest, TypedTextsReachTheCoreAsTheyStand) {
  QTest::keyClicks(&window.txtFolder(1), "/srv/in one");
  QTest::keyClicks(&window.txtShell(1), "convert --all");
  QTest::keyClicks(&window.txtShell(5), " padded ");
  EXPECT_EQ(window.FolderText(1), "/srv/in one");
  EXPECT_EQ(window.ShellText(1), "convert --all");
  EXPECT_EQ(window.ShellText(5), " padded ");
  window.SetFolderText(4, "D\xC3\xA4ten");
  EXPECT_EQ(window.txtFolder(4).text(), QString::fromUtf8("D\xC3\xA4ten"));
  EXPECT_EQ(window.FolderText(4), "D\xC3\xA4ten");
}

TEST_F(CommandsTest, SaveClickedRunsSaveAndSaysSo) {
  form.Form_Load();
  Click(window.chkDebug());
  Click(window.cmdSave());

  EXPECT_TRUE(Exists(SettingsPath()));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Successfully saved.");
  EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::kInformation);
  EXPECT_TRUE(form.global().bDebug);
}

TEST_F(CommandsTest, SavedSettingsComeBackAtTheNextStart) {
  WriteFile(SettingsPath(),
            "[Quillbeck]\r\nFolder 2=" + data.Path() + "\r\nShell 2=run it\r\nDebug=1\r\n");
  form.Form_Load();
  EXPECT_EQ(window.txtFolder(2).text().toStdString(), data.Path());
  EXPECT_EQ(window.txtShell(2).text(), "run it");
  EXPECT_EQ(window.txtFolder(2).cursorPosition(), 0) << "a long text shows its beginning";
  EXPECT_TRUE(window.chkDebug().isChecked());
  EXPECT_TRUE(tray.Shown());
}

TEST_F(CommandsTest, AFailedSaveShowsTheErrorAndNeverSuccess) {
  form.Form_Load();
  // A folder where the settings file should be: no write can replace it.
  std::filesystem::create_directory(SettingsPath());
  Click(window.cmdSave());

  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_NE(boxes.boxes[0].text, "Successfully saved.");
  EXPECT_TRUE(boxes.boxes[0].text.contains(" - ")) << boxes.boxes[0].text.toStdString();
  EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::kNone);
}

TEST_F(CommandsTest, StartButtonStopsAndStartsTheTimer) {
  form.Form_Load();
  EXPECT_EQ(window.cmdStart().text(), "Stop Service");
  EXPECT_TRUE(window.tmrWork().isActive());
  EXPECT_EQ(window.tmrWork().interval(), 2000);

  Click(window.cmdStart());
  EXPECT_EQ(window.cmdStart().text(), "Start Service");
  EXPECT_FALSE(window.tmrWork().isActive());

  Click(window.cmdSave());  // Save changes neither
  EXPECT_EQ(window.cmdStart().text(), "Start Service");
  EXPECT_FALSE(window.tmrWork().isActive());

  Click(window.cmdStart());
  EXPECT_EQ(window.cmdStart().text(), "Stop Service");
  EXPECT_TRUE(window.tmrWork().isActive());
}

TEST_F(CommandsTest, TheKeyboardWorksTheFocusedButton) {
  form.Form_Load();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QTest::keyClick(&window.cmdStart(), Qt::Key_Space);
  EXPECT_EQ(window.cmdStart().text(), "Start Service");
  // Enter too, as in the Windows window.
  window.cmdSave().setFocus();
  QTest::keyClick(&window.cmdSave(), Qt::Key_Return);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Successfully saved.");
}

TEST_F(CommandsTest, DebugLogFollowsTheUsersClicksOnly) {
  form.Form_Load();
  ASSERT_FALSE(form.global().bDebug);
  Click(window.chkDebug());
  EXPECT_TRUE(window.chkDebug().isChecked());
  EXPECT_TRUE(form.global().bDebug);
  Click(window.chkDebug());
  EXPECT_FALSE(form.global().bDebug);

  // Setting the box from the core is no click.
  window.SetDebugChecked(true);
  EXPECT_TRUE(window.DebugChecked());
  EXPECT_FALSE(form.global().bDebug);
}

TEST_F(CommandsTest, ATickOfTheTimerPicksUpFiles) {
  const std::string watched = data.Make("in");
  const std::string record = data.Join("record.txt");
  WriteFile(SettingsPath(), "[Quillbeck]\r\nFolder 1=" + watched + "\r\nShell 1=\"" +
                                ExecutableFolder() + "/record_start\" \"" + record +
                                "\" picked\r\n");
  form.Form_Load();
  WriteFile(watched + "/a.GDT", "payload");
  Tick(window);

  EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes[0].text.toStdString();
  EXPECT_EQ(ReadFile(watched + "/Temp/a.GDT"), "payload");
  EXPECT_FALSE(Exists(watched + "/a.GDT"));
  // The command runs on its own; wait for its record, boundedly.
  for (int i = 0; i < 500 && ReadFile(record).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(ReadFile(record), "picked\n");
}

// ModalPresenter waits in a nested event loop, as a real modal box does,
// until `enough` says so (boundedly), then records the box as closed.
struct ModalPresenter : RecordingPresenter {
  std::function<bool()> enough;
  void Show(QWidget* parent, const QString& text, MessageIcon icon) override {
    RecordingPresenter::Show(parent, text, icon);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (enough()) loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
  }
};

TEST_F(CommandsTest, TicksGoOnWhileAnErrorBoxIsOpen) {
  ModalPresenter modal;
  qtui::MainWindow modal_window{icon, modal, tray, [] {}};
  frmMain modal_form{platform, modal_window};
  modal_window.Attach(modal_form);
  // No Temp folder: every tick fails at the copy and lands in the trap.
  const std::string watched = data.Make("no-temp");
  modal_form.Form_Load();
  modal_window.SetFolderText(1, watched);
  WriteFile(watched + "/stuck.GDT", "x");
  auto error_lines = [&] {
    const std::string log = ReadFile(LogPath("Error.log"));
    return std::count(log.begin(), log.end(), '\n');
  };
  modal.enough = [&] { return error_lines() >= 4; };
  // The real timer, only faster than its 2000 ms, so the test need not wait.
  modal_window.tmrWork().setInterval(10);

  // The first failing tick opens the box, which returns once enough later
  // ticks have failed inside it (or after a bound).
  ASSERT_TRUE(QTest::qWaitFor([&] { return !modal.boxes.empty(); }, 10000));

  EXPECT_GE(error_lines(), 4) << "ticks stalled behind the open box";
  EXPECT_EQ(modal.boxes.size(), 1u) << "further failures are logged without a second box";
  modal_window.SetTimerEnabled(false);
}

}  // namespace
}  // namespace quillbeck::testing
