// The Qt window over a real temporary executable folder, with message boxes
// recorded instead of shown and the end of the process recorded instead of
// made, so no test ever blocks or ends the test program.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QString>

#include <gtest/gtest.h>

#include "app/frmMain.h"
#include "main_window.h"
#include "message_box.h"
#include "platform/platform.h"
#include "program_icon.h"
#include "support/fake_services.h"
#include "support/temp_folder.h"
#include "support/test_platform.h"
#include "tray_icon.h"

namespace quillbeck::testing {

struct RecordedBox {
  QString text;
  MessageIcon icon;
};

// RecordingPresenter keeps every box it is asked to show and returns at once.
struct RecordingPresenter : qtui::MessageBoxPresenter {
  std::vector<RecordedBox> boxes;
  void Show(QWidget*, const QString& text, MessageIcon icon) override {
    boxes.push_back({text, icon});
  }
};

// ScriptedTray answers the menu with a chosen item instead of waiting for a
// user; with `real_menu` set it opens the real menu. `host` says whether a
// tray host shows the icon (the offscreen platform has none).
struct ScriptedTray : qtui::TrayIcon {
  enum class Pick { kNothing, kOpen, kClose };
  using qtui::TrayIcon::TrayIcon;
  Pick pick = Pick::kNothing;
  bool real_menu = false;
  int menus_opened = 0;
  bool host = true;
  bool HostAvailable() const override { return host; }
  void PopupMenu(const QPoint& position) override {
    ++menus_opened;
    if (real_menu) return qtui::TrayIcon::PopupMenu(position);
    if (pick == Pick::kOpen) emit openRequested();
    if (pick == Pick::kClose) emit closeRequested();
  }
};

class QtWindowTest : public ::testing::Test, protected TestPlatform {
 protected:
  QIcon icon = qtui::ProgramIcon();
  RecordingPresenter boxes;
  ScriptedTray tray{icon};
  int ended = 0;
  bool tray_shown_when_ended = true;
  qtui::MainWindow window{icon, boxes, tray, [this] {
                            ++ended;
                            tray_shown_when_ended = tray.Shown();
                          }};
  frmMain form{platform, window};

  QtWindowTest() { window.Attach(form); }

  std::string SettingsPath() const { return install.Join("Settings.ini"); }
  std::string LogPath(const std::string& name) const {
    return install.Join("Logs") + PathSeparator() + name;
  }
};

// Tick() delivers one tick of tmrWork the way its timer would.
inline void Tick(qtui::MainWindow& window) {
  ASSERT_TRUE(QMetaObject::invokeMethod(&window.tmrWork(), "timeout", Qt::DirectConnection));
  // The tick is queued behind the timer's event; run it now.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

}  // namespace quillbeck::testing
