// Where the Linux program keeps Settings.ini and Logs/. A build run from
// where it was built or copied keeps both beside its executable; the build
// made for installation under /usr/bin cannot write there and keeps them in
// the user's XDG folders instead, and reads a system-wide default from
// XDG_CONFIG_DIRS where the user has no Settings.ini. Which one applies is fixed when the program
// is built, never guessed from what is writable: root can write anywhere.
#pragma once

#include <string>

#include "platform/system.h"

namespace quillbeck::posix {

enum class FileLayout {
  kBesideExecutable,  // Settings.ini and Logs/ in the executable folder
  kInstalled,         // $XDG_CONFIG_HOME/quillbeck and $XDG_STATE_HOME/quillbeck
};

// UserEnvironment holds what the installed layout is found from: the values
// of HOME, XDG_CONFIG_HOME and XDG_STATE_HOME, each empty when unset.
struct UserEnvironment {
  std::string home;
  std::string config_home;
  std::string state_home;
};

// CurrentUserEnvironment() reads the three from the environment; a HOME that
// is unset or not absolute is taken from the user's password entry.
UserEnvironment CurrentUserEnvironment();

// FileFoldersFor() is where a program of `layout` keeps its files. Beside the
// executable: `executable_folder` for both. Installed: "quillbeck" in
// XDG_CONFIG_HOME for Settings.ini and in XDG_STATE_HOME for Logs/, where a
// value that is empty or not absolute counts as unset and gives the default
// ($HOME/.config, $HOME/.local/state). With no absolute home either, the
// executable folder is all that is left.
FileFolders FileFoldersFor(FileLayout layout, const std::string& executable_folder,
                           const UserEnvironment& environment);

// SystemDefaultSettingsFolder() is the first "quillbeck" folder below an
// entry of `config_dirs` (the value of XDG_CONFIG_DIRS: a colon-separated
// list, /etc/xdg when empty) that holds a Settings.ini; entries that are
// empty or not absolute are skipped. Empty when none holds one.
std::string SystemDefaultSettingsFolder(const std::string& config_dirs);

// CreateFileFolders() makes each folder with every missing parent, new ones
// with mode 0700; folders that exist keep their mode. Never raises.
void CreateFileFolders(const FileFolders& folders);

}  // namespace quillbeck::posix
