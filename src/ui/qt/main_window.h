// frmMain on Qt 6 Widgets: the window's controls, its timer, its tray icon
// and message boxes, behind the Window seam the event procedures speak to.
//
// The window is built from the twips table in layout.h at the screen's
// logical density and never moves or resizes a control afterwards. Once a
// frmMain is attached, the window calls its procedures: clicks on the two
// buttons and the check box, the timer's ticks, the tray icon's right-button
// click and every close request. Changing a control from the core never
// raises that control's event.
#pragma once

#include <array>
#include <functional>

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "message_box.h"
#include "platform/window.h"
#include "tray_icon.h"

namespace quillbeck {
class frmMain;
}

namespace quillbeck::qtui {

// The period of tmrWork.
inline constexpr int kTimerIntervalMs = 2000;

// EndProcessNow() ends the process at once with exit status 0: no
// destructor, handler or further event runs.
[[noreturn]] void EndProcessNow();

class MainWindow : public QWidget, public Window {
  Q_OBJECT

 public:
  // `icon` is the program's icon; `boxes` shows the message boxes, `tray`
  // is the tray icon, and `end_process` ends the program (tests record it).
  MainWindow(const QIcon& icon, MessageBoxPresenter& boxes, TrayIcon& tray,
             std::function<void()> end_process = EndProcessNow);
  ~MainWindow() override;

  // Attach() makes `form` the receiver of the window's events.
  void Attach(frmMain& form);

  // Window:
  std::string FolderText(int slot) const override;
  void SetFolderText(int slot, const std::string& text) override;
  std::string ShellText(int slot) const override;
  void SetShellText(int slot, const std::string& text) override;
  bool DebugChecked() const override;
  void SetDebugChecked(bool checked) override;
  std::string StartCaption() const override;
  void SetStartCaption(const std::string& caption) override;
  bool TimerEnabled() const override;
  void SetTimerEnabled(bool enabled) override;
  void AddTrayIcon() override;
  void RemoveTrayIcon() override;
  void SetVisible(bool visible) override;
  void RestoreNormalSize() override;
  void ShowMessageBox(const std::string& text, MessageIcon icon) override;
  TrayChoice PopupTrayMenu() override;
  void EndImmediately() override;

  // Controls, for the program's start and for tests.
  QPushButton& cmdStart() { return *cmdStart_; }
  QPushButton& cmdSave() { return *cmdSave_; }
  QCheckBox& chkDebug() { return *chkDebug_; }
  QLineEdit& txtFolder(int slot) { return *txtFolder_.at(static_cast<std::size_t>(slot)); }
  QLineEdit& txtShell(int slot) { return *txtShell_.at(static_cast<std::size_t>(slot)); }
  QLabel& Picture1() { return *Picture1_; }
  QTimer& tmrWork() { return tmrWork_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls(const QIcon& icon);

  MessageBoxPresenter& boxes_;
  TrayIcon& tray_;
  std::function<void()> end_process_;
  frmMain* form_ = nullptr;
  // Set once the desktop session ends: from then on a close is let through.
  bool session_ending_ = false;

  std::array<QLabel*, 10> Label1_{};
  std::array<QLineEdit*, 6> txtFolder_{};  // index 1..5
  std::array<QLineEdit*, 6> txtShell_{};
  QLabel* Picture1_ = nullptr;
  QCheckBox* chkDebug_ = nullptr;
  QPushButton* cmdSave_ = nullptr;
  QPushButton* cmdStart_ = nullptr;
  QTimer tmrWork_;
};

}  // namespace quillbeck::qtui
