// The watch cycle: one tick of tmrWork.
//
// For slots 1 to 5, each folder that exists is walked; each file lying
// directly in it whose upper-cased name ends in ".GDT" is copied into the
// folder's Temp subfolder, deleted from the folder, and the slot's command is
// started, once per file.
//
// The window's thread reads the slots' folder and command texts (an edit
// counts from the next tick on) and hands the slots' work, each with its own
// copy of them, to the runner (slot_runner.h), waiting for it at most until
// a deadline half a second after the tick began: in normal running the
// slots work one after the other, in order, and end long before. Work that
// takes longer goes on by itself, and its folder sits the next ticks out
// until it ends. A failure ends its own slot's turn: the later slots still
// work in the same tick, and the caller's trap takes each failure that
// ended in time; a late one waits in the runner for the window's thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "log/Global.h"
#include "platform/platform.h"
#include "platform/window.h"
#include "watch/folder_claims.h"
#include "watch/slot_runner.h"

namespace quillbeck {

// How long the window's thread waits, in all, for the folder work of one
// tick, and for each slot's folder work at start-up.
inline constexpr std::chrono::milliseconds kFolderWorkWait{500};

// What the watch cycle keeps between ticks.
struct WatchState {
  // A slot whose Temp start-up could not make (in time, or at all) owes
  // it: its tick makes it once the slot has a file to copy.
  std::array<std::atomic<bool>, kSlotCount + 1> temp_owed{};
  // The folders that slots' work is under way in.
  FolderClaims claims;
  // How long the window's thread waits for a tick's folder work, and for
  // start-up's. A test that checks the whole of every tick's work sets it
  // longer than any tick takes on a slow machine.
  std::chrono::milliseconds folder_work_wait = kFolderWorkWait;
  // Last, so the work it waits for at its end still has what it uses.
  SlotRunner runner;
};

// One slot's texts, as the window showed them when its turn came.
struct SlotTexts {
  std::string folder;
  std::string shell;
};

// RunWatchCycle() does one tick's work, waiting for it until `deadline`,
// and returns the failures that ended by then, in slot order.
std::vector<std::exception_ptr> RunWatchCycle(Platform& platform, Global& global, Window& window,
                                              WatchState& state,
                                              SlotRunner::Clock::time_point deadline);

// RunSlot() is one slot's work of a tick, on whatever thread runs it;
// it sits the turn out while `claims` holds its folder for other work.
void RunSlot(Platform& platform, Global& global, const SlotTexts& texts,
             std::atomic<bool>& temp_owed, FolderClaims& claims);

// PrepareFolder() is start-up's work for one watched folder: the missing
// Temp is made where the folder exists, and what a copy cut short left in
// an existing Temp goes.
void PrepareFolder(Platform& platform, const std::string& folder);

// IsPickedUp() is true when `name` ends in ".GDT", in any letter case.
bool IsPickedUp(const std::string& name);

}  // namespace quillbeck
