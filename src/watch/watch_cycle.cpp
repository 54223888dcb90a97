// One tick of the watch cycle: copy, delete, start, for each picked-up file
// of each existing watched folder in slot order.
#include "watch/watch_cycle.h"

#include <cctype>
#include <optional>

#include "platform/file_system.h"

namespace quillbeck {

namespace {

constexpr const char* kPattern = ".GDT";

}  // namespace

bool IsPickedUp(const std::string& name) {
  const std::string_view pattern = kPattern;
  const std::size_t take = name.size() < pattern.size() ? name.size() : pattern.size();
  const std::string_view tail = std::string_view(name).substr(name.size() - take);
  if (tail.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(tail[i])) != pattern[i]) return false;
  }
  return true;
}

void RunWatchCycle(Platform& platform, Global& global, Window& window) {
  FileSystem& fs = platform.fs;
  const std::string separator = PathSeparator();

  global.Trace("Timer started");
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    // The texts are read from the window at every use: what the operator
    // typed counts from the next tick on, saved or not.
    if (!fs.FolderExists(window.FolderText(slot))) continue;
    global.Trace("Check folder: " + window.FolderText(slot));
    const std::vector<FileEntry> files = fs.Files(window.FolderText(slot));
    bool temp_swept = false;
    for (const FileEntry& file : files) {
      if (!IsPickedUp(file.Name)) continue;
      if (!temp_swept) {
        // A copy cut short by a crash is cleared away before this slot's
        // Temp takes a new one, so a folder configured after start-up is
        // covered too.
        fs.RemoveAbandonedCopies(window.FolderText(slot) + separator + "Temp");
        temp_swept = true;
      }
      global.Trace("File: " + file.Name);
      global.Trace("Copy " + file.Name + " in " + window.FolderText(slot) + separator + "Temp" +
                   separator);
      const std::optional<FileStamp> copied = fs.CopyFile(
          file.Path, window.FolderText(slot) + separator + "Temp" + separator + file.Name, true);
      // A file on a share that is still changing is left for a later tick:
      // it is arriving, which is no fault.
      if (!copied) continue;
      global.Trace("Delete " + file.Path);
      // Only the file that was copied goes: one put there under the same
      // name meanwhile stays for the next tick.
      fs.DeleteCopiedFile(file.Path, *copied);
      global.Trace("Shell " + window.ShellText(slot));
      platform.launcher.Launch(window.ShellText(slot));
      global.Trace("Done");
    }
  }
}

}  // namespace quillbeck
