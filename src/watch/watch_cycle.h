// The watch cycle: one tick of tmrWork.
//
// For slots 1 to 5, each folder that exists is walked; each file lying
// directly in it whose upper-cased name ends in ".GDT" is copied into the
// folder's Temp subfolder, deleted from the folder, and the slot's command is
// started, once per file. Folder and command texts are read from the window
// at every use. The first failure ends the tick (the caller's trap takes it).
#pragma once

#include <string>

#include "log/Global.h"
#include "platform/platform.h"
#include "platform/window.h"

namespace quillbeck {

// RunWatchCycle() does one tick's work; raises on the first failure.
void RunWatchCycle(Platform& platform, Global& global, Window& window);

// IsPickedUp() is true when the upper-cased last four characters of `name`
// (the whole name if shorter) are ".GDT".
bool IsPickedUp(const std::string& name);

}  // namespace quillbeck
