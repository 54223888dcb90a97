// frmMain: the event procedures of Quillbeck's one window.
//
// The front end (Qt or Win32) owns the real controls behind the Window seam
// and calls these procedures from its event loop, one at a time and each to
// completion: Form_Load once before the window is shown; tmrWork_Timer at
// every tick; the clicks; the tray notifications; every close request.
#pragma once

#include <exception>
#include <memory>
#include <vector>

#include "log/Global.h"
#include "log/error_trap.h"
#include "platform/platform.h"
#include "platform/system.h"
#include "platform/window.h"
#include "watch/watch_cycle.h"

namespace quillbeck {

// Mouse messages of the tray icon's notifications.
inline constexpr int kTrayMouseMove = 512;
inline constexpr int kTrayLeftDown = 513;
inline constexpr int kTrayLeftUp = 514;
inline constexpr int kTrayLeftDoubleClick = 515;
inline constexpr int kTrayRightDown = 516;
inline constexpr int kTrayRightUp = 517;

class frmMain {
 public:
  frmMain(Platform& platform, Window& window);

  // Form_Load() is the start-up sequence: ends a second copy at once (after
  // asking the running copy to show its window), reads
  // Settings.ini into the window and bDebug, creates missing Temp folders,
  // adds the tray icon and enables the timer. A failure at one value or one
  // slot is trapped and start-up goes on with the rest, so nothing that
  // could be loaded is left blank.
  void Form_Load();

  void cmdSave_Click();
  void cmdStart_Click();
  // chkDebug_Click() runs when the user changes "Debug Log" (no trap).
  void chkDebug_Click();

  // tmrWork_Timer() runs a tick (watch_cycle.h) and hands each failure of
  // it to the trap.
  void tmrWork_Timer();

  // Picture1_MouseMove() takes a tray notification by its mouse message;
  // a right-button press opens the tray menu, whatever the display density.
  void Picture1_MouseMove(int mouse_message);
  // Form_QueryUnload() refuses a close request and hides the window, or
  // minimises it where no tray host could bring it back. An end
  // of the desktop session is not a close request here: the front end lets
  // it happen.
  void Form_QueryUnload(bool& cancel);
  void Form_Unload();
  // SessionEnding() is told by the front end that the program ends with
  // the desktop session (or is closed by the installer, which asks as the
  // session end does), just before it ends: the end goes to the system's
  // log, once. Nothing else runs; the front end then ends the program.
  void SessionEnding();
  void mnuOpen_Click();
  void mnuClose_Click();

  Global& global() { return global_; }
  WatchState& watch() { return watch_; }

 private:
  void EndProgram();
  // ReportLateFailures() hands the failures of slow work that ended since
  // to the trap; the window's thread is woken for it (Window::Post).
  void ReportLateFailures();
  // Trap() hands each of `failures` to the trap of `procedure`, in order.
  void Trap(const char* procedure, const std::vector<std::exception_ptr>& failures);

  Platform& platform_;
  Window& window_;
  Global global_;
  ErrorTrap trap_;
  // The slots' threads use global_, so they end before it does.
  WatchState watch_;
  std::unique_ptr<SingleInstanceLock> instance_lock_;
  bool end_logged_ = false;
};

}  // namespace quillbeck
