// One tick of the watch cycle: copy, delete, start, for each picked-up file
// of each existing watched folder in slot order.
#include "watch/watch_cycle.h"

#include <optional>

#include "platform/ascii_case.h"
#include "platform/file_system.h"

namespace quillbeck {

namespace {

constexpr const char* kPattern = ".GDT";
constexpr const char* kTick = "tmrWork_Timer";

std::string TempOf(const std::string& folder) { return folder + PathSeparator() + "Temp"; }

}  // namespace

bool IsPickedUp(const std::string& name) { return EndsWithIgnoreCase(name, kPattern); }

void PrepareFolder(Platform& platform, const std::string& folder) {
  FileSystem& fs = platform.fs;
  const std::string temp = TempOf(folder);
  const bool folder_exists = fs.FolderExistsNow(folder);
  const bool temp_exists = fs.FolderExistsNow(temp);
  if (folder_exists && !temp_exists) fs.CreateFolder(temp);
  // What a copy cut short by a crash left in Temp goes now.
  if (temp_exists) fs.RemoveAbandonedCopies(temp);
}

void RunSlot(Platform& platform, Global& global, const SlotTexts& texts,
             std::atomic<bool>& temp_owed, FolderClaims& claims) {
  FileSystem& fs = platform.fs;
  const std::string separator = PathSeparator();
  const std::string temp = TempOf(texts.folder);
  // The slot's own thread may wait for a share that answers slowly: the
  // window does not.
  const std::optional<FileIdentity> folder = fs.FolderIdentity(texts.folder);
  if (!folder) return;
  // Work of another slot in the same folder, however it is spelled, goes
  // on: this turn is sat out, as a busy folder's turn is.
  const FolderClaims::Claim claim = claims.Take(*folder);
  if (!claim) return;
  global.Trace("Check folder: " + texts.folder);
  const std::vector<FileEntry> files = fs.Files(texts.folder, kPattern);
  bool temp_swept = false;
  for (const FileEntry& file : files) {
    if (!file.Regular) {
      // A link leads out of the folder: neither it nor what it points at is
      // ever copied or deleted.
      global.Trace("Skip link: " + file.Name);
      continue;
    }
    if (!temp_swept) {
      // A Temp start-up could not make is made now that it is needed: an
      // idle slot stays quiet, and a failure here is this slot's alone.
      if (temp_owed) {
        if (!fs.FolderExistsNow(temp)) fs.CreateFolder(temp);
        temp_owed = false;
      }
      // A copy cut short by a crash is cleared away before this slot's
      // Temp takes a new one, so a folder configured after start-up is
      // covered too.
      fs.RemoveAbandonedCopies(temp);
      temp_swept = true;
    }
    global.Trace("File: " + file.Name);
    // A command that cannot start would cost the file: it stays where it
    // is, and the start's error is raised now.
    platform.launcher.Check(texts.shell);
    global.Trace("Copy " + file.Name + " in " + temp + separator);
    const CopyResult copied = fs.CopyFile(file.Path, temp + separator + file.Name, true);
    // A file on a share that is still changing is left for a later tick:
    // it is arriving, which is no fault.
    if (copied.outcome == CopyOutcome::kStillArriving) continue;
    // A file gone meanwhile was taken by someone else (another copy of the
    // program, another session, another machine): theirs to start for.
    if (copied.outcome == CopyOutcome::kGone) {
      global.Trace("Gone: " + file.Name);
      continue;
    }
    global.Trace("Delete " + file.Path);
    // Only the file that was copied goes: one put there under the same
    // name meanwhile stays for the next tick.
    if (!fs.DeleteCopiedFile(file.Path, copied.source)) {
      global.Trace("Gone: " + file.Name);
      continue;
    }
    global.Trace("Shell " + texts.shell);
    platform.launcher.Launch(texts.shell);
    global.Trace("Done");
  }
}

std::vector<std::exception_ptr> RunWatchCycle(Platform& platform, Global& global, Window& window,
                                              WatchState& state,
                                              SlotRunner::Clock::time_point deadline) {
  global.Trace("Timer started");
  // Each slot's texts are read here, on the window's thread, and its work
  // gets its own copy. The window's thread takes no input until the tick
  // lets it go, so these are the texts each slot's turn would have read.
  std::vector<SlotRunner::Step> steps;
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    SlotTexts texts{window.FolderText(slot), window.ShellText(slot)};
    std::string folder = texts.folder;
    std::atomic<bool>& temp_owed = state.temp_owed[slot];
    steps.push_back(
        {slot, std::move(folder),
         [&platform, &global, &temp_owed, &claims = state.claims, texts = std::move(texts)] {
           RunSlot(platform, global, texts, temp_owed, claims);
         }});
  }
  return state.runner.Run(std::move(steps), kTick, deadline);
}

}  // namespace quillbeck
