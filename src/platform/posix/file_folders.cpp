// The two layouts of the Linux program's files, and the folders of the
// installed one made at start-up: the log writers create only Logs/ itself
// and Save creates nothing.
#include "platform/posix/file_folders.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace quillbeck::posix {

namespace {

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string Variable(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? value : std::string();
}

std::string PasswordHome() {
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return std::string();
  }
  return found->pw_dir;
}

// Below() is `name` in `folder`, with one slash between them.
std::string Below(std::string folder, const std::string& name) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder != "/") folder += '/';
  return folder + name;
}

// XdgFolder() is the folder an XDG base-directory variable names, or the
// default below the home folder; empty when neither is absolute.
std::string XdgFolder(const std::string& value, const std::string& home,
                      const char* default_below_home) {
  if (IsAbsolute(value)) return value;
  if (IsAbsolute(home)) return Below(home, default_below_home);
  return std::string();
}

}  // namespace

UserEnvironment CurrentUserEnvironment() {
  UserEnvironment environment{Variable("HOME"), Variable("XDG_CONFIG_HOME"),
                              Variable("XDG_STATE_HOME")};
  if (!IsAbsolute(environment.home)) environment.home = PasswordHome();
  return environment;
}

FileFolders FileFoldersFor(FileLayout layout, const std::string& executable_folder,
                           const UserEnvironment& environment) {
  if (layout == FileLayout::kBesideExecutable) return {executable_folder, executable_folder};
  const std::string config = XdgFolder(environment.config_home, environment.home, ".config");
  const std::string state = XdgFolder(environment.state_home, environment.home, ".local/state");
  return {config.empty() ? executable_folder : Below(config, "quillbeck"),
          state.empty() ? executable_folder : Below(state, "quillbeck")};
}

std::string SystemDefaultSettingsFolder(const std::string& config_dirs) {
  const std::string dirs = config_dirs.empty() ? "/etc/xdg" : config_dirs;
  for (std::size_t begin = 0; begin <= dirs.size();) {
    std::size_t end = dirs.find(':', begin);
    if (end == std::string::npos) end = dirs.size();
    const std::string entry = dirs.substr(begin, end - begin);
    begin = end + 1;
    if (!IsAbsolute(entry)) continue;
    const std::string folder = Below(entry, "quillbeck");
    if (access(Below(folder, "Settings.ini").c_str(), F_OK) == 0) return folder;
  }
  return std::string();
}

namespace {

void CreateFolderAndParents(const std::string& folder) {
  // Each level from the top down; one that exists is left as it is.
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string level = folder.substr(0, slash);
    if (!level.empty() && level.back() != '/' && mkdir(level.c_str(), 0700) != 0 &&
        errno != EEXIST) {
      return;
    }
    if (slash == std::string::npos) return;
  }
}

}  // namespace

void CreateFileFolders(const FileFolders& folders) {
  CreateFolderAndParents(folders.settings);
  CreateFolderAndParents(folders.log_parent);
}

// The layout this program was built for; the package build sets it.
#ifdef QUILLBECK_INSTALLED_LAYOUT
constexpr FileLayout kBuiltLayout = FileLayout::kInstalled;
#else
constexpr FileLayout kBuiltLayout = FileLayout::kBesideExecutable;
#endif

}  // namespace quillbeck::posix

namespace quillbeck {

FileFolders ProgramFileFolders() {
  FileFolders folders = posix::FileFoldersFor(posix::kBuiltLayout, ExecutableFolder(),
                                              posix::CurrentUserEnvironment());
  if (posix::kBuiltLayout == posix::FileLayout::kInstalled) {
    posix::CreateFileFolders(folders);
    // The administrator's default stands in only until the user's first
    // Save, which writes the user's own file.
    if (access(posix::Below(folders.settings, "Settings.ini").c_str(), F_OK) != 0) {
      folders.default_settings =
          posix::SystemDefaultSettingsFolder(posix::Variable("XDG_CONFIG_DIRS"));
    }
  }
  return folders;
}

}  // namespace quillbeck
