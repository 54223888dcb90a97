// Start-up: what Form_Load reads, creates, traces and leaves behind, on
// success and at each step that can fail.
#include <filesystem>

#include <gtest/gtest.h>

#include "core_fixture.h"
#include "platform/runtime_error.h"

namespace quillbeck::testing {
namespace {

using StartupTest = CoreTest;

TEST_F(StartupTest, WithoutSettingsFileComesUpRunningWithEmptySlotsAndCreatesNothing) {
  form.Form_Load();

  EXPECT_FALSE(form.global().bDebug);
  EXPECT_FALSE(window.debug_checked);
  EXPECT_EQ(window.start_caption, "Stop Service");
  for (int slot = 1; slot <= 5; ++slot) {
    EXPECT_EQ(window.folder[slot], "");
    EXPECT_EQ(window.shell[slot], "");
  }
  EXPECT_EQ(window.tray_icons_added, 1);
  EXPECT_TRUE(window.timer_enabled);
  EXPECT_TRUE(window.boxes.empty());
  EXPECT_FALSE(Exists(SettingsPath())) << "reading must not create the settings file";
  EXPECT_FALSE(Exists(install.Join("Logs")));
}

TEST_F(StartupTest, FillsSlotsAndCreatesOnlyTheMissingTempFolders) {
  const std::string with_temp = data.Make("a");
  data.Make(std::string("a") + PathSeparator() + "Temp");
  const std::string without_temp = data.Make("b");
  const std::string missing = data.Join("nowhere");
  WriteFile(SettingsPath(), "[Quillbeck]\r\nFolder 1=" + with_temp +
                                "\r\nShell 1=one\r\nFolder 2=" + without_temp +
                                "\r\nShell 2=two\r\nFolder 3=" + missing + "\r\nShell 5=five\r\n");

  form.Form_Load();

  EXPECT_EQ(window.folder[1], with_temp);
  EXPECT_EQ(window.shell[1], "one");
  EXPECT_EQ(window.folder[2], without_temp);
  EXPECT_EQ(window.folder[3], missing);
  EXPECT_EQ(window.shell[5], "five");
  EXPECT_TRUE(fs->FolderExists(without_temp + PathSeparator() + "Temp"));
  EXPECT_FALSE(Exists(missing)) << "nothing is made for a folder that does not exist";
  EXPECT_TRUE(window.boxes.empty());
}

struct DebugValue {
  const char* stored;  // nullptr: no key at all
  bool expected;
};

class StartupDebugValueTest : public CoreTest, public ::testing::WithParamInterface<DebugValue> {};

TEST_P(StartupDebugValueTest, ConvertsTheStoredFlag) {
  const DebugValue value = GetParam();
  WriteFile(SettingsPath(), value.stored
                                ? std::string("[Quillbeck]\r\nDebug=") + value.stored + "\r\n"
                                : std::string("[Quillbeck]\r\n"));
  form.Form_Load();
  EXPECT_EQ(form.global().bDebug, value.expected);
  EXPECT_EQ(window.debug_checked, value.expected);
  EXPECT_TRUE(window.boxes.empty());
  EXPECT_EQ(window.start_caption, "Stop Service");
}

INSTANTIATE_TEST_SUITE_P(Values, StartupDebugValueTest,
                         ::testing::Values(DebugValue{"1", true}, DebugValue{"-1", true},
                                           DebugValue{"2", true}, DebugValue{"0", false},
                                           DebugValue{"true", true}, DebugValue{"FALSE", false},
                                           DebugValue{"TrUe", true}, DebugValue{nullptr, false}));

class StartupBadDebugValueTest : public CoreTest,
                                 public ::testing::WithParamInterface<const char*> {};

TEST_P(StartupBadDebugValueTest, CountsAsOffWithTypeMismatchAndLoadsTheRest) {
  const std::string folder = data.Make("watched");
  WriteFile(SettingsPath(), std::string("[Quillbeck]\r\nDebug=") + GetParam() +
                                "\r\nFolder 1=" + folder + "\r\nShell 1=cmd\r\n");
  window.debug_checked = false;

  form.Form_Load();

  EXPECT_FALSE(form.global().bDebug);
  EXPECT_FALSE(window.debug_checked);
  EXPECT_EQ(window.start_caption, "Stop Service");
  EXPECT_EQ(window.folder[1], folder);
  EXPECT_EQ(window.shell[1], "cmd");
  EXPECT_TRUE(fs->FolderExists(folder + PathSeparator() + "Temp"));
  EXPECT_EQ(window.tray_icons_added, 1);
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].text, "13 - Type mismatch");
  EXPECT_EQ(window.boxes[0].icon, MessageIcon::kNone);
  ASSERT_EQ(ErrorLines().size(), 1u);
  EXPECT_EQ(ErrorLines()[0], Stamp() + " - 13 - Type mismatch - Form_Load");
}

INSTANTIATE_TEST_SUITE_P(Values, StartupBadDebugValueTest,
                         ::testing::Values("yes", "", "1x", "on"));

TEST_F(StartupTest, FileNamedTempIsReportedAndEverySlotStillLoadsAndIsWatched) {
  const std::string first = data.Make("first");
  const std::string blocked = data.Make("blocked");
  const std::string third = data.Make("third");
  WriteFile(blocked + PathSeparator() + "Temp", "a file, not a folder");
  WriteFile(SettingsPath(), "[Quillbeck]\r\nDebug=1\r\nFolder 1=" + first +
                                "\r\nShell 1=s1\r\nFolder 2=" + blocked +
                                "\r\nShell 2=s2\r\nFolder 3=" + third + "\r\nShell 3=s3\r\n");

  form.Form_Load();

  EXPECT_TRUE(form.global().bDebug);
  EXPECT_EQ(window.folder[2], blocked);
  EXPECT_EQ(window.shell[2], "s2");
  EXPECT_EQ(window.folder[3], third);
  EXPECT_EQ(window.shell[3], "s3");
  EXPECT_TRUE(fs->FolderExists(first + PathSeparator() + "Temp"));
  EXPECT_TRUE(fs->FolderExists(third + PathSeparator() + "Temp"));
  EXPECT_EQ(window.tray_icons_added, 1);
  EXPECT_EQ(Traced(),
            (std::vector<std::string>{"Start Service", "Load Settings", "Done", "Start Timer"}));
  ASSERT_EQ(window.boxes.size(), 1u);
  ASSERT_EQ(ErrorLines().size(), 1u);
  EXPECT_NE(ErrorLines()[0].find(" - Form_Load"), std::string::npos);

  // Idle, the slot is quiet; with a file waiting, its failure is its own
  // and the next slot still works in the same tick.
  const std::string record = data.Join("record.txt");
  window.shell[2] = Command(record, "two");
  window.shell[3] = Command(record, "three");
  form.tmrWork_Timer();
  form.tmrWork_Timer();
  EXPECT_EQ(window.boxes.size(), 1u);
  WriteFile(blocked + PathSeparator() + "x.GDT", "x");
  WriteFile(third + PathSeparator() + "y.GDT", "y");
  form.tmrWork_Timer();
  EXPECT_EQ(ErrorLines().size(), 2u);
  EXPECT_EQ(ReadFile(third + PathSeparator() + "Temp" + PathSeparator() + "y.GDT"), "y");

  // Once the way is clear, the slot's next tick makes its Temp and works.
  std::filesystem::remove(blocked + PathSeparator() + "Temp");
  form.tmrWork_Timer();
  EXPECT_EQ(ReadFile(blocked + PathSeparator() + "Temp" + PathSeparator() + "x.GDT"), "x");
}

TEST_F(StartupTest, RefusedTrayIconLeavesEverythingElseDoneButTheLastTrace) {
  WriteFile(SettingsPath(), "[Quillbeck]\r\nDebug=1\r\n");
  window.fail_add_tray_icon = true;

  form.Form_Load();

  EXPECT_EQ(Traced(), (std::vector<std::string>{"Start Service", "Load Settings", "Done"}));
  EXPECT_EQ(window.boxes.size(), 1u);
  EXPECT_TRUE(window.timer_enabled);
}

TEST_F(StartupTest, TracesItsFourLinesInOrderWhenDebugIsOn) {
  WriteFile(SettingsPath(), "[Quillbeck]\r\nDebug=1\r\n");
  form.Form_Load();
  EXPECT_EQ(Traced(),
            (std::vector<std::string>{"Start Service", "Load Settings", "Done", "Start Timer"}));
}

TEST_F(StartupTest, SecondCopyEndsAtOnceBeforeReadingAnything) {
  single_instance.running.insert(install.Path());
  const std::string folder = data.Make("watched");
  WriteFile(SettingsPath(), "[Quillbeck]\r\nDebug=yes\r\nFolder 1=" + folder + "\r\n");

  form.Form_Load();

  EXPECT_TRUE(window.ended);
  EXPECT_EQ(window.folder[1], "");
  EXPECT_EQ(window.start_caption, "Start Service");
  EXPECT_EQ(window.tray_icons_added, 0);
  EXPECT_EQ(window.tray_icons_removed, 0) << "the running copy's icon is not ours to touch";
  EXPECT_TRUE(window.boxes.empty()) << "a second copy ends silently";
  EXPECT_FALSE(Exists(install.Join("Logs")));
  EXPECT_FALSE(fs->FolderExists(folder + PathSeparator() + "Temp"));
  EXPECT_EQ(window.asked_to_open, std::vector<std::string>{install.Path()})
      << "the running copy of the same folder is asked to show its window";
  EXPECT_TRUE(window.serving.empty());
  EXPECT_TRUE(system_log.entries.empty()) << "a copy that never ran records no start";
}

TEST_F(StartupTest, TheRunningCopyServesOpenRequestsForItsOwnFolder) {
  form.Form_Load();
  EXPECT_EQ(window.serving, std::vector<std::string>{install.Path()});
  EXPECT_TRUE(window.asked_to_open.empty());
}

TEST_F(StartupTest, ValuesOfAnyLengthComeBackWhole) {
  // A Windows command line may be 32,767 characters long.
  std::string long_command = "run";
  for (int i = 0; long_command.size() < 33000; ++i) long_command += " argument" + std::to_string(i);
  WriteFile(SettingsPath(), "[Quillbeck]\r\nShell 4=" + long_command +
                                "\r\nFolder 4=" + std::string(255, 'f') + "\r\n");
  form.Form_Load();
  EXPECT_EQ(window.shell[4], long_command);
  EXPECT_EQ(window.folder[4], std::string(255, 'f'));
}

}  // namespace
}  // namespace quillbeck::testing
