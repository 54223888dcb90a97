// Save, Start/Stop, Debug Log and the tray residency procedures.
#include <filesystem>

#include <gtest/gtest.h>

#include "core_fixture.h"
#include "settings/modINI.h"

namespace quillbeck::testing {
namespace {

using CommandsTest = CoreTest;

TEST_F(CommandsTest, SaveIntoMissingFileWritesElevenKeysInOrder) {
  for (int slot = 1; slot <= 5; ++slot) {
    window.folder[slot] = "F" + std::to_string(slot);
    window.shell[slot] = "S" + std::to_string(slot);
  }
  // A value whose end blanks a read would trim is stored quoted, on both
  // systems; the others stand as typed.
  window.shell[3] = "  padded command  ";
  window.debug_checked = true;

  form.cmdSave_Click();

  EXPECT_EQ(ReadFile(SettingsPath()),
            "[Quillbeck]\r\nFolder 1=F1\r\nShell 1=S1\r\nFolder 2=F2\r\nShell 2=S2\r\n"
            "Folder 3=F3\r\nShell 3=\"  padded command  \"\r\nFolder 4=F4\r\nShell 4=S4\r\n"
            "Folder 5=F5\r\nShell 5=S5\r\nDebug=1\r\n");
  EXPECT_TRUE(form.global().bDebug);
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].text, "Successfully saved.");
  EXPECT_EQ(window.boxes[0].icon, MessageIcon::kInformation);
}

TEST_F(CommandsTest, SaveReplacesOnlyItsOwnValuesInAHandWrittenFile) {
  WriteFile(SettingsPath(),
            "; hand written\n[Other]\nFolder 1=keep\n\n[quillbeck]\nDebug = 1\nExtra=kept\n"
            "Folder 1 = stale-value\n");
  window.folder[1] = "new";
  form.cmdSave_Click();

  const std::string saved = ReadFile(SettingsPath());
#ifndef _WIN32
  // Our own store keeps every other line byte for byte; the Windows API
  // rewrites the whole file in its own layout, with the same content.
  EXPECT_NE(saved.find("; hand written\n[Other]\nFolder 1=keep\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Extra=kept\n"), std::string::npos) << saved;
#endif
  EXPECT_EQ(saved.find("stale-value"), std::string::npos) << saved;
  EXPECT_EQ(modINI::ReadINI(*profile, "Quillbeck", "Extra", "", SettingsPath(), 256), "kept");
  EXPECT_EQ(modINI::ReadINI(*profile, "Quillbeck", "Folder 1", "", SettingsPath(), 256), "new");
  EXPECT_EQ(modINI::ReadINI(*profile, "Quillbeck", "Debug", "", SettingsPath(), 256), "0");
  EXPECT_EQ(modINI::ReadINI(*profile, "Other", "Folder 1", "", SettingsPath(), 256), "keep");
}

TEST_F(CommandsTest, SavedSettingsComeBackAtTheNextStart) {
  const std::string folder = data.Make("watched");
  window.folder[2] = folder;
  window.shell[2] = "some command --flag";
  // Stored quoted, one character too long for start-up's first buffer.
  const std::string long_padded = std::string(254, 'x') + " ";
  window.shell[3] = long_padded;
  window.debug_checked = true;
  form.cmdSave_Click();

  FakeWindow next_window;
  frmMain next{platform, next_window};
  next.Form_Load();
  EXPECT_EQ(next_window.folder[2], folder);
  EXPECT_EQ(next_window.shell[2], "some command --flag");
  EXPECT_EQ(next_window.shell[3], long_padded);
  EXPECT_TRUE(next.global().bDebug);
  EXPECT_EQ(next_window.start_caption, "Stop Service");
}

// Values the settings file could not give back as they stand: Save checks
// all eleven before it writes any, so the file stays exactly as it was.
struct UnsavableValue {
  const char* key;
  std::string text;
};

class UnsavableValueTest : public CoreTest, public ::testing::WithParamInterface<UnsavableValue> {};

TEST_P(UnsavableValueTest, IsRefusedByKeyAndTheFileIsUntouched) {
  const std::string before = "[Quillbeck]\r\nFolder 1=before\r\nDebug=0\r\n";
  WriteFile(SettingsPath(), before);
  for (int slot = 1; slot <= 5; ++slot) window.folder[slot] = "F" + std::to_string(slot);
  const std::string key = GetParam().key;
  const int slot = key.back() - '0';
  (key.starts_with("Shell") ? window.shell : window.folder)[slot] = GetParam().text;

  form.cmdSave_Click();

  EXPECT_EQ(ReadFile(SettingsPath()), before);
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_NE(window.boxes[0].text, "Successfully saved.");
  ASSERT_EQ(ErrorLines().size(), 1u);
  EXPECT_NE(ErrorLines()[0].find(key), std::string::npos) << ErrorLines()[0];
  EXPECT_NE(ErrorLines()[0].find(" - cmdSave_Click"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Values, UnsavableValueTest,
                         ::testing::Values(
#ifdef _WIN32
                             // A Western code page has no Cyrillic letters.
                             UnsavableValue{"Folder 3",
                                            "C:\\\xd0\x9e\xd0\xb1\xd0\xbc\xd0\xb5\xd0\xbd"},
#endif
                             UnsavableValue{"Shell 5", "first line\nsecond line"}));

// A settings file that cannot be written: read-only (refused on both systems,
// for root too, as the read-only attribute is on Windows), or a folder
// standing where the file belongs.
class FailedSaveTest : public CoreTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FailedSaveTest, EndsSaveInItsTrapWithoutSuccessMessage) {
  const bool read_only_file = GetParam();
  if (read_only_file) {
    WriteFile(SettingsPath(), "[Quillbeck]\r\nFolder 1=before\r\n");
    std::filesystem::permissions(SettingsPath(), std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::group_read |
                                                     std::filesystem::perms::others_read);
  } else {
    install.Make("Settings.ini");
  }
  window.folder[1] = "after";
  window.debug_checked = true;

  form.cmdSave_Click();

  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_NE(window.boxes[0].text, "Successfully saved.");
  EXPECT_EQ(window.boxes[0].icon, MessageIcon::kNone);
  EXPECT_FALSE(form.global().bDebug) << "the error came before the flag was taken";
  if (read_only_file) {
    EXPECT_EQ(ReadFile(SettingsPath()), "[Quillbeck]\r\nFolder 1=before\r\n");
  }
  ASSERT_EQ(ErrorLines().size(), 1u);
  EXPECT_NE(ErrorLines()[0].find(" - cmdSave_Click"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Causes, FailedSaveTest, ::testing::Values(true, false));

TEST_F(CommandsTest, StartStopFollowsTheCaptionAlone) {
  form.Form_Load();
  ASSERT_EQ(window.start_caption, "Stop Service");

  form.cmdStart_Click();
  EXPECT_FALSE(window.timer_enabled);
  EXPECT_EQ(window.start_caption, "Start Service");

  form.cmdSave_Click();  // Save touches neither timer nor caption
  EXPECT_FALSE(window.timer_enabled);
  EXPECT_EQ(window.start_caption, "Start Service");

  form.cmdStart_Click();
  EXPECT_TRUE(window.timer_enabled);
  EXPECT_EQ(window.start_caption, "Stop Service");

  // A caption that does not read exactly "Stop Service" counts as stopped.
  window.start_caption = "stop service";
  window.timer_enabled = true;
  form.cmdStart_Click();
  EXPECT_TRUE(window.timer_enabled);
  EXPECT_EQ(window.start_caption, "Stop Service");
  EXPECT_EQ(system_log.entries,
            (std::vector<std::string>{"information: Program started", "information: Stop Service",
                                      "information: Start Service", "information: Start Service"}));
}

TEST_F(CommandsTest, DebugLogSwitchesTracingAtOnceWithoutSaving) {
  form.Form_Load();
  window.debug_checked = true;
  form.chkDebug_Click();
  EXPECT_TRUE(form.global().bDebug);
  form.tmrWork_Timer();
  EXPECT_EQ(Traced(), (std::vector<std::string>{"Timer started"}));
  EXPECT_FALSE(Exists(SettingsPath()));

  window.debug_checked = false;
  form.chkDebug_Click();
  form.tmrWork_Timer();
  EXPECT_EQ(Traced().size(), 1u);
}

struct TrayCase {
  int mouse_message;
  TrayChoice choice;
  int menus_opened;
  bool visible_after;
  bool ended;
};

class TrayTest : public CoreTest, public ::testing::WithParamInterface<TrayCase> {};

TEST_P(TrayTest, OnlyARightButtonPressOpensTheMenu) {
  const TrayCase c = GetParam();
  form.Form_Load();
  bool cancel = false;
  form.Form_QueryUnload(cancel);
  ASSERT_TRUE(cancel);
  ASSERT_FALSE(window.visible);
  window.normal_size = false;
  window.tray_choice = c.choice;

  form.Picture1_MouseMove(c.mouse_message);

  EXPECT_EQ(window.tray_menus_opened, c.menus_opened);
  EXPECT_EQ(window.visible, c.visible_after);
  EXPECT_EQ(window.normal_size, c.visible_after);
  EXPECT_EQ(window.ended, c.ended);
  EXPECT_EQ(window.tray_icons_removed, c.ended ? 1 : 0) << "Close takes the icon away first";
  EXPECT_TRUE(window.timer_enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Notifications, TrayTest,
    ::testing::Values(TrayCase{kTrayMouseMove, TrayChoice::kOpen, 0, false, false},
                      TrayCase{kTrayLeftDown, TrayChoice::kOpen, 0, false, false},
                      TrayCase{kTrayLeftUp, TrayChoice::kOpen, 0, false, false},
                      TrayCase{kTrayLeftDoubleClick, TrayChoice::kOpen, 0, false, false},
                      TrayCase{kTrayRightUp, TrayChoice::kOpen, 0, false, false},
                      TrayCase{7740, TrayChoice::kOpen, 0, false, false},
                      TrayCase{kTrayRightDown, TrayChoice::kNone, 1, false, false},
                      TrayCase{kTrayRightDown, TrayChoice::kOpen, 1, true, false},
                      TrayCase{kTrayRightDown, TrayChoice::kClose, 1, false, true}));

TEST_F(CommandsTest, CloseRequestHidesAndLeavesAStoppedServiceStopped) {
  form.Form_Load();
  form.cmdStart_Click();
  window.folder[1] = "unsaved edit";
  bool cancel = false;
  form.Form_QueryUnload(cancel);
  EXPECT_TRUE(cancel);
  EXPECT_FALSE(window.visible);
  EXPECT_FALSE(window.timer_enabled);

  form.mnuOpen_Click();
  EXPECT_TRUE(window.visible);
  EXPECT_EQ(window.start_caption, "Start Service");
  EXPECT_EQ(window.folder[1], "unsaved edit");
  EXPECT_FALSE(window.ended);
}

TEST_F(CommandsTest, WithoutATrayHostACloseRequestMinimisesUntilAHostAppears) {
  form.Form_Load();
  window.tray_available = false;
  bool cancel = false;
  form.Form_QueryUnload(cancel);
  EXPECT_TRUE(cancel);
  EXPECT_TRUE(window.visible) << "nothing could show a hidden window again";
  EXPECT_TRUE(window.minimized);
  EXPECT_TRUE(window.timer_enabled);

  form.mnuOpen_Click();
  EXPECT_TRUE(window.normal_size);
  window.tray_available = true;
  cancel = false;
  form.Form_QueryUnload(cancel);
  EXPECT_TRUE(cancel);
  EXPECT_FALSE(window.visible);
  EXPECT_FALSE(window.minimized);
}

TEST_F(CommandsTest, UnloadEndsTheProgramAndRemovesTheIcon) {
  form.Form_Load();
  form.Form_Unload();
  EXPECT_TRUE(window.ended);
  EXPECT_EQ(window.tray_icons_removed, 1);
  EXPECT_EQ(system_log.entries.back(), "information: Program ended");
}

}  // namespace
}  // namespace quillbeck::testing
