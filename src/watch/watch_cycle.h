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
// half a second after the tick began: in normal running the slots work one
// after the other, in order, and end long before. Work that takes longer
// goes on by itself, and its slot, and any slot of the same folder, sits
// the next ticks out until it ends. The first failure that ends in time
// ends the tick (the caller's trap takes it); a late one waits in the runner
// for the window's thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <string>

#include "log/Global.h"
#include "platform/platform.h"
#include "platform/window.h"
#include "watch/slot_runner.h"

namespace quillbeck {

// How long the window's thread waits, in all, for the folder work of one
// tick, and for each slot's folder work at start-up.
inline constexpr std::chrono::milliseconds kFolderWorkWait{500};

// What the watch cycle keeps between ticks.
struct WatchState {
  SlotRunner runner;
  // A slot whose Temp start-up could not make (in time, or at all) owes
  // it: its tick makes it once its folder is found.
  std::array<std::atomic<bool>, kSlotCount + 1> temp_owed{};
};

// One slot's texts, as the window showed them when its turn came.
struct SlotTexts {
  std::string folder;
  std::string shell;
};

// RunWatchCycle() does one tick's work; raises on the first failure that
// ends in time.
void RunWatchCycle(Platform& platform, Global& global, Window& window, WatchState& state);

// RunSlot() is one slot's work of a tick, on whatever thread runs it.
void RunSlot(Platform& platform, Global& global, const SlotTexts& texts,
             std::atomic<bool>& temp_owed);

// PrepareFolder() is start-up's work for one watched folder: the missing
// Temp is made where the folder exists, and what a copy cut short left in
// an existing Temp goes.
void PrepareFolder(Platform& platform, const std::string& folder);

// IsPickedUp() is true when `name` ends in ".GDT", in any letter case.
bool IsPickedUp(const std::string& name);

}  // namespace quillbeck
