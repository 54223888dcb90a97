// frmMain's event procedures: start-up, the three commands, the tick and the
// tray residency. Each procedure but chkDebug_Click runs under the error trap
// named after it.
#include "app/frmMain.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "settings/modINI.h"
#include "watch/watch_cycle.h"

namespace quillbeck {

namespace {

constexpr const char* kStopCaption = "Stop Service";
constexpr const char* kStartCaption = "Start Service";
// The system log's information entries, so that whoever looks after the
// machine sees when the service was not running.
constexpr const char* kProgramStarted = "Program started";
constexpr const char* kProgramEnded = "Program ended";

}  // namespace

frmMain::frmMain(Platform& platform, Window& window)
    : platform_(platform), window_(window), global_(platform), trap_(global_, window) {
  // Called on the thread of the failed work: the report itself is made on
  // the window's thread, at once, whether or not the timer runs.
  watch_.runner.OnLateFailure([this] { window_.Post([this] { ReportLateFailures(); }); });
}

void frmMain::Form_Load() {
  bool ends_here = true;
  trap_.Run("Form_Load", [&] {
    instance_lock_ = platform_.single_instance.Acquire(platform_.settings_folder);
    if (!instance_lock_->Acquired()) {
      // A second copy ends here, before anything is read, and shows nothing
      // of its own: it asks the running copy to show its window, as "Open"
      // does, so starting the program again is a way back to the window.
      window_.AskRunningCopyToOpen(platform_.settings_folder);
      window_.EndImmediately();
      return;
    }
    platform_.system_log.Information(kProgramStarted);
    window_.ServeOpenRequests(platform_.settings_folder);
    ends_here = false;
  });
  if (ends_here) return;

  // A system-wide default stands in for the user's missing file, if the
  // platform names one; Save writes the user's own all the same.
  const std::string& read_folder = platform_.default_settings_folder.empty()
                                       ? platform_.settings_folder
                                       : platform_.default_settings_folder;
  auto read = [&](const std::string& key, const std::string& default_value) {
    return modINI::ReadWholeINI(platform_.profile, modINI::kSection, key, default_value,
                                modINI::SettingsPath(read_folder));
  };
  // From here a failure is trapped where it strikes and start-up goes on:
  // a bad "Debug" value counts as 0, a slot whose folder work fails is
  // still shown as stored and still watched, so a later "Save" cannot wipe
  // what was never loaded.
  trap_.Run("Form_Load", [&] { global_.bDebug = modINI::ToBoolean(read(modINI::kDebugKey, "0")); });
  trap_.Run("Form_Load", [&] {
    const bool box_changes = window_.DebugChecked() != global_.bDebug;
    window_.SetDebugChecked(global_.bDebug);
    if (box_changes) chkDebug_Click();  // as a change of the box raises its click

    window_.SetStartCaption(kStopCaption);
    global_.Trace("Start Service");
    global_.Trace("Load Settings");
  });

  // The folders may be on shares that do not answer: their work gets half
  // a second in all, and goes on without the window if it needs longer.
  // Until a slot's work has made Temp, the slot's ticks see to it.
  std::vector<SlotRunner::Step> steps;
  for (std::int16_t slot = 1; slot <= kSlotCount; ++slot) {
    trap_.Run("Form_Load", [&] {
      window_.SetFolderText(slot, read(modINI::FolderKey(slot), ""));
      window_.SetShellText(slot, read(modINI::ShellKey(slot), ""));
    });
    const std::string folder = window_.FolderText(slot);
    std::atomic<bool>& temp_owed = watch_.temp_owed[slot];
    temp_owed = true;
    steps.push_back({slot, folder, [this, &temp_owed, folder] {
                       PrepareFolder(platform_, folder);
                       temp_owed = false;
                     }});
  }
  Trap("Form_Load", watch_.runner.Run(std::move(steps), "Form_Load",
                                      SlotRunner::Clock::now() + watch_.folder_work_wait));

  trap_.Run("Form_Load", [&] {
    global_.Trace("Done");
    window_.AddTrayIcon();
    global_.Trace("Start Timer");
    window_.SetTimerEnabled(true);
  });
}

void frmMain::cmdSave_Click() {
  trap_.Run("cmdSave_Click", [&] {
    auto write = [&](const std::string& key, const std::string& value) {
      // A failed write raises into the trap: "Successfully saved." must
      // never stand for a file that was not written.
      platform_.profile.WriteString(modINI::kSection, key, value,
                                    modINI::SettingsPath(platform_.settings_folder));
    };
    // Every value is checked before any is written: one that the file could
    // not give back as it stands stops the save with the file untouched.
    const std::string debug_value = window_.DebugChecked() ? "1" : "0";
    for (std::int16_t slot = 1; slot <= kSlotCount; ++slot) {
      platform_.profile.CheckValue(modINI::FolderKey(slot), window_.FolderText(slot));
      platform_.profile.CheckValue(modINI::ShellKey(slot), window_.ShellText(slot));
    }
    platform_.profile.CheckValue(modINI::kDebugKey, debug_value);
    for (std::int16_t slot = 1; slot <= kSlotCount; ++slot) {
      write(modINI::FolderKey(slot), window_.FolderText(slot));
      write(modINI::ShellKey(slot), window_.ShellText(slot));
    }
    global_.bDebug = window_.DebugChecked();
    write(modINI::kDebugKey, debug_value);
    window_.ShowMessageBox("Successfully saved.", MessageIcon::kInformation);
  });
}

void frmMain::cmdStart_Click() {
  trap_.Run("cmdStart_Click", [&] {
    // The caption alone decides, not the timer's state. The system log
    // names the command carried out by its caption.
    if (window_.StartCaption() == kStopCaption) {
      window_.SetTimerEnabled(false);
      window_.SetStartCaption(kStartCaption);
      platform_.system_log.Information(kStopCaption);
    } else {
      window_.SetTimerEnabled(true);
      window_.SetStartCaption(kStopCaption);
      platform_.system_log.Information(kStartCaption);
    }
  });
}

void frmMain::chkDebug_Click() { global_.bDebug = window_.DebugChecked(); }

void frmMain::tmrWork_Timer() {
  std::vector<std::exception_ptr> failures;
  trap_.Run("tmrWork_Timer", [&] {
    failures = RunWatchCycle(platform_, global_, window_, watch_,
                             SlotRunner::Clock::now() + watch_.folder_work_wait);
  });
  Trap("tmrWork_Timer", failures);
}

void frmMain::ReportLateFailures() {
  for (const SlotRunner::LateFailure& late : watch_.runner.TakeLateFailures())
    Trap(late.procedure, {late.error});
}

void frmMain::Trap(const char* procedure, const std::vector<std::exception_ptr>& failures) {
  for (const std::exception_ptr& failure : failures)
    trap_.Run(procedure, [&] { std::rethrow_exception(failure); });
}

void frmMain::Picture1_MouseMove(int mouse_message) {
  trap_.Run("Picture1_MouseMove", [&] {
    if (mouse_message != kTrayRightDown) return;
    switch (window_.PopupTrayMenu()) {
      case TrayChoice::kOpen: mnuOpen_Click(); break;
      case TrayChoice::kClose: mnuClose_Click(); break;
      case TrayChoice::kNone: break;
    }
  });
}

void frmMain::Form_QueryUnload(bool& cancel) {
  trap_.Run("Form_QueryUnload", [&] {
    cancel = true;  // refused first, so a failing hide still keeps the program
    // Without a tray host nothing could bring a hidden window back.
    if (window_.TrayAvailable()) {
      window_.SetVisible(false);
    } else {
      window_.Minimize();
    }
  });
}

void frmMain::Form_Unload() {
  trap_.Run("Form_Unload", [&] { EndProgram(); });
}

void frmMain::mnuOpen_Click() {
  trap_.Run("mnuOpen_Click", [&] {
    window_.RestoreNormalSize();
    window_.SetVisible(true);
  });
}

void frmMain::mnuClose_Click() {
  trap_.Run("mnuClose_Click", [&] { EndProgram(); });
}

void frmMain::SessionEnding() {
  if (end_logged_) return;
  end_logged_ = true;
  // Repeats still counted are told before the end, so none goes unsaid.
  global_.ReportRepeats();
  platform_.system_log.Information(kProgramEnded);
}

void frmMain::EndProgram() {
  SessionEnding();
  // No dead icon is left behind in the notification area.
  try {
    window_.RemoveTrayIcon();
  } catch (...) {
  }
  window_.EndImmediately();
}

}  // namespace quillbeck
