// The window seam: frmMain's controls, timer, visibility, message boxes,
// tray icon and the immediate end, as the event procedures see them.
//
// Only the window's thread calls it, except Post(). The Qt window and the
// Win32 window implement it; tests use a fake. Texts
// are UTF-8. Slots are numbered 1 to kSlotCount. Setting a control from here never
// raises that control's event: the core runs chkDebug_Click itself where a
// change of the check box calls for it.
#pragma once

#include <functional>
#include <string>

namespace quillbeck {

// The window's five slots, each a watched folder and a command.
inline constexpr int kSlotCount = 5;

enum class MessageIcon { kNone, kInformation };

enum class TrayChoice { kNone, kOpen, kClose };

class Window {
 public:
  virtual ~Window() = default;

  virtual std::string FolderText(int slot) const = 0;
  virtual void SetFolderText(int slot, const std::string& text) = 0;
  virtual std::string ShellText(int slot) const = 0;
  virtual void SetShellText(int slot, const std::string& text) = 0;

  // DebugChecked() is true in any state of chkDebug other than unchecked.
  virtual bool DebugChecked() const = 0;
  virtual void SetDebugChecked(bool checked) = 0;

  virtual std::string StartCaption() const = 0;
  virtual void SetStartCaption(const std::string& caption) = 0;

  // SetTimerEnabled() sets the Enabled flag of tmrWork, whose period the
  // window's description sets (ui::kTimerPeriodMs).
  virtual void SetTimerEnabled(bool enabled) = 0;

  // AddTrayIcon() registers the tray icon; a refusal by the shell is not
  // reported. RemoveTrayIcon() takes it away again.
  virtual void AddTrayIcon() = 0;
  virtual void RemoveTrayIcon() = 0;

  // TrayAvailable() is whether a tray host shows the icon now, so that a
  // hidden window can be brought back through it.
  virtual bool TrayAvailable() const = 0;

  virtual void SetVisible(bool visible) = 0;
  // Minimize() minimises the window (it stays shown).
  virtual void Minimize() = 0;
  // RestoreNormalSize() sets the window to normal size (neither minimised
  // nor maximised).
  virtual void RestoreNormalSize() = 0;

  // ShowMessageBox() shows a modal box titled "Quillbeck" with one OK button
  // and waits until it is closed. Timer ticks go on while it is open.
  virtual void ShowMessageBox(const std::string& text, MessageIcon icon) = 0;

  // PopupTrayMenu() opens the tray menu "Open", "Close" at the pointer and
  // returns what the user picked.
  virtual TrayChoice PopupTrayMenu() = 0;

  // ServeOpenRequests() lets a later copy of the program, started by the
  // same user for the same settings folder, ask this window to do what
  // "Open" does (mnuOpen_Click); nobody else can ask. Never raises: where
  // requests cannot be served, a later copy just ends.
  virtual void ServeOpenRequests(const std::string& settings_folder) = 0;
  // AskRunningCopyToOpen() asks the copy that serves `settings_folder` to
  // do what "Open" does. Never raises and never waits for the answer.
  virtual void AskRunningCopyToOpen(const std::string& settings_folder) = 0;

  // EndImmediately() ends the program at once, whatever work of the slots
  // is still under way: no event procedure runs after it, and nothing waits
  // for that work. A fake records the call and returns.
  virtual void EndImmediately() = 0;

  // Post() has `task` run on the window's thread soon, between its events,
  // also while the timer is off. Unlike every other call here, any thread
  // may make it; it never raises and never waits.
  virtual void Post(std::function<void()> task) noexcept = 0;
};

}  // namespace quillbeck
