// Where the Linux program keeps Settings.ini and Logs/: beside the executable,
// or, in the build made for installation, in the user's XDG folders, which
// start-up creates.
#include "platform/posix/file_folders.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "support/temp_folder.h"

namespace quillbeck::posix {
namespace {

struct LayoutCase {
  const char* name;
  FileLayout layout;
  UserEnvironment environment;
  const char* settings;
  const char* log_parent;
};

constexpr const char* kExe = "/opt/q/bin";

class FileFoldersForTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(FileFoldersForTest, NamesTheSettingsFolderAndTheLogParent) {
  const LayoutCase& c = GetParam();
  const FileFolders folders = FileFoldersFor(c.layout, kExe, c.environment);
  EXPECT_EQ(folders.settings, c.settings);
  EXPECT_EQ(folders.log_parent, c.log_parent);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FileFoldersForTest,
    ::testing::Values(LayoutCase{"BesideTheExecutableWhateverTheEnvironment",
                                 FileLayout::kBesideExecutable,
                                 {"/home/u", "/cfg", "/state"},
                                 kExe,
                                 kExe},
                      LayoutCase{"InstalledWithHomeAloneTakesTheDefaults",
                                 FileLayout::kInstalled,
                                 {"/home/u", "", ""},
                                 "/home/u/.config/quillbeck",
                                 "/home/u/.local/state/quillbeck"},
                      LayoutCase{"InstalledFollowsAbsoluteXdgFolders",
                                 FileLayout::kInstalled,
                                 {"/home/u", "/cfg", "/var/st"},
                                 "/cfg/quillbeck",
                                 "/var/st/quillbeck"},
                      LayoutCase{"InstalledIgnoresRelativeXdgFolders",
                                 FileLayout::kInstalled,
                                 {"/home/u", "cfg", "./state"},
                                 "/home/u/.config/quillbeck",
                                 "/home/u/.local/state/quillbeck"},
                      LayoutCase{"InstalledTakesEachXdgFolderOnItsOwn",
                                 FileLayout::kInstalled,
                                 {"/home/u", "", "/var/st"},
                                 "/home/u/.config/quillbeck",
                                 "/var/st/quillbeck"},
                      LayoutCase{"InstalledAddsNoSecondSlash",
                                 FileLayout::kInstalled,
                                 {"/home/u//", "/cfg/", ""},
                                 "/cfg/quillbeck",
                                 "/home/u/.local/state/quillbeck"},
                      LayoutCase{"InstalledUnderTheRootFolder",
                                 FileLayout::kInstalled,
                                 {"/", "", "/"},
                                 "/.config/quillbeck",
                                 "/quillbeck"},
                      LayoutCase{"InstalledWithoutAnyAbsoluteFolderStaysBesideTheExecutable",
                                 FileLayout::kInstalled,
                                 {"home", "", "rel"},
                                 kExe,
                                 kExe},
                      LayoutCase{"InstalledWithoutHomeStillFollowsXdgFolders",
                                 FileLayout::kInstalled,
                                 {"", "/cfg", ""},
                                 "/cfg/quillbeck",
                                 kExe}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

// Sets or unsets environment variables for one test and puts them back.
class EnvironmentTest : public ::testing::Test {
 protected:
  void Set(const char* name, const char* value) {
    if (saved_.find(name) == saved_.end()) {
      const char* old = getenv(name);
      saved_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  static std::string PasswordHome() {
    const struct passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(EnvironmentTest, ReadsTheThreeVariablesAsTheyStand) {
  Set("HOME", "/home/someone");
  Set("XDG_CONFIG_HOME", "relative/cfg");
  Set("XDG_STATE_HOME", nullptr);
  const UserEnvironment environment = CurrentUserEnvironment();
  EXPECT_EQ(environment.home, "/home/someone");
  EXPECT_EQ(environment.config_home, "relative/cfg");
  EXPECT_EQ(environment.state_home, "");
}

TEST_F(EnvironmentTest, HomeUnsetOrRelativeComesFromThePasswordEntry) {
  ASSERT_FALSE(PasswordHome().empty());
  for (const char* home : {static_cast<const char*>(nullptr), "", "relative/home"}) {
    SCOPED_TRACE(home != nullptr ? home : "(unset)");
    Set("HOME", home);
    EXPECT_EQ(CurrentUserEnvironment().home, PasswordHome());
  }
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// XDG_CONFIG_DIRS is searched in order for the first quillbeck/Settings.ini;
// an empty or relative entry is skipped even where it names one.
TEST(SystemDefaultSettingsFolder, FirstAbsoluteEntryHoldingOneWins) {
  testing::TempFolder root;
  for (const char* holder : {"first", "second"}) {
    testing::WriteFile(root.Make(std::string(holder) + "/quillbeck") + "/Settings.ini", "");
  }
  const std::string relative = std::filesystem::relative(root.Join("second")).string();
  ASSERT_NE(relative.front(), '/');
  EXPECT_EQ(SystemDefaultSettingsFolder(relative + "::" + root.Join("none") + ":" +
                                        root.Join("first") + "/:" + root.Join("second")),
            root.Join("first") + "/quillbeck");
}

TEST(CreateFileFolders, MakesEveryMissingLevelPrivateAndLeavesExistingOnesAlone) {
  testing::TempFolder root;
  const std::string home = root.Make("home");
  ASSERT_EQ(chmod(home.c_str(), 0755), 0);
  const FileFolders folders{home + "/.config/quillbeck", home + "/.local/state/quillbeck"};
  CreateFileFolders(folders);
  for (const std::string& made : {home + "/.config", folders.settings, home + "/.local",
                                  home + "/.local/state", folders.log_parent}) {
    SCOPED_TRACE(made);
    EXPECT_TRUE(IsFolder(made));
    EXPECT_EQ(ModeOf(made), 0700u);
  }
  EXPECT_EQ(ModeOf(home), 0755u);
  // Again over folders that exist: nothing changes.
  ASSERT_EQ(chmod(folders.settings.c_str(), 0750), 0);
  CreateFileFolders(folders);
  EXPECT_EQ(ModeOf(folders.settings), 0750u);
}

TEST(CreateFileFolders, AFolderThatCannotBeMadeRaisesNothing) {
  testing::TempFolder root;
  testing::WriteFile(root.Join("file"), "x");
  const FileFolders folders{root.Join("file") + "/quillbeck", root.Join("state") + "/quillbeck"};
  EXPECT_NO_THROW(CreateFileFolders(folders));
  EXPECT_FALSE(IsFolder(folders.settings));
  EXPECT_TRUE(IsFolder(folders.log_parent)) << "the other folder is still made";
}

}  // namespace
}  // namespace quillbeck::posix
