// frmMain on Qt 6 Widgets: the window's controls, its timer, its tray icon
// and message boxes, behind the Window seam the event procedures speak to.
//
// The window is built by a loop over the description in ui/window_layout.h
// at the screen's logical density and never moves or resizes a control
// afterwards. Once a
// frmMain is attached, the window calls its procedures: clicks on the two
// buttons and the check box, the timer's ticks, the items of the tray
// icon's menu, every close request and the open requests of later copies.
// Changing a control from the core never raises that control's event.
#pragma once

#include <array>
#include <cstdlib>
#include <functional>

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "message_box.h"
#include "platform/window.h"
#include "tray_icon.h"
#include "ui/window_layout.h"

namespace quillbeck {
class frmMain;
}

namespace quillbeck::qtui {

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

  // FocusFirst() gives the focus to the control of the lowest tab index, as
  // at the window's first showing.
  void FocusFirst();

  // Window:
  std::string FolderText(int slot) const override;
  void SetFolderText(int slot, const std::string& text) override;
  std::string ShellText(int slot) const override;
  void SetShellText(int slot, const std::string& text) override;
  bool DebugChecked() const override { return chkDebug().checkState() != Qt::Unchecked; }
  void SetDebugChecked(bool checked) override { chkDebug().setChecked(checked); }
  std::string StartCaption() const override;
  void SetStartCaption(const std::string& caption) override;
  void SetTimerEnabled(bool enabled) override;
  void AddTrayIcon() override { tray_.Show(); }
  void RemoveTrayIcon() override { tray_.Hide(); }
  bool TrayAvailable() const override { return tray_.HostAvailable(); }
  void SetVisible(bool visible) override;
  void Minimize() override;
  void RestoreNormalSize() override;
  void ShowMessageBox(const std::string& text, MessageIcon icon) override;
  TrayChoice PopupTrayMenu() override;
  void ServeOpenRequests(const std::string& settings_folder) override;
  void AskRunningCopyToOpen(const std::string& settings_folder) override;
  void EndImmediately() override;
  void Post(std::function<void()> task) noexcept override;

  // Controls, for the program's start and for tests.
  QPushButton& cmdStart() const { return Find<QPushButton>(ui::ControlName::kCmdStart); }
  QPushButton& cmdSave() const { return Find<QPushButton>(ui::ControlName::kCmdSave); }
  QCheckBox& chkDebug() const { return Find<QCheckBox>(ui::ControlName::kChkDebug); }
  QLineEdit& txtFolder(int slot) const {
    return Find<QLineEdit>(ui::ControlName::kTxtFolder, slot);
  }
  QLineEdit& txtShell(int slot) const { return Find<QLineEdit>(ui::ControlName::kTxtShell, slot); }
  QLabel& Picture1() const { return Find<QLabel>(ui::ControlName::kPicture1); }
  QTimer& tmrWork() { return tmrWork_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls(const QIcon& icon);
  QWidget* MakeControl(const ui::Control& control, const QIcon& icon);

  // Find() is the widget of a control of the description; a control that
  // is not there, or not of the type asked for, is a programming error.
  QWidget& FindWidget(ui::ControlName name, int index) const;
  template <typename T>
  T& Find(ui::ControlName name, int index = ui::kNoIndex) const {
    T* widget = qobject_cast<T*>(&FindWidget(name, index));
    if (widget == nullptr) std::abort();
    return *widget;
  }

  MessageBoxPresenter& boxes_;
  TrayIcon& tray_;
  std::function<void()> end_process_;
  frmMain* form_ = nullptr;
  // Set once the desktop session ends: from then on a close is let through.
  bool session_ending_ = false;
  // Where later copies of the program ask for "Open".
  QLocalServer* open_requests_ = nullptr;

  // The widget of each row of ui::kControls, in the same order.
  std::array<QWidget*, ui::kControls.size()> controls_{};
  QTimer tmrWork_;
};

}  // namespace quillbeck::qtui
