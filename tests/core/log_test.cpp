// The log writers, the rotation and the error trap, against real files.
#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "core_fixture.h"
#include "log/Global.h"
#include "log/error_trap.h"
#include "platform/runtime_error.h"

namespace quillbeck::testing {
namespace {

class LogTest : public CoreTest {
 protected:
  Global& global = form.global();
  std::string Folder() const { return install.Join("Logs") + PathSeparator(); }
};

TEST_F(LogTest, FirstEntryCreatesTheFolderAndAFileOfOneLine) {
  global.LogError(-2147024891, "Access is denied.", "tmrWork_Timer");
  global.LogDebug("");
  EXPECT_EQ(ReadFile(LogPath("Error.log")),
            Stamp() + " - -2147024891 - Access is denied. - tmrWork_Timer\r\n");
  EXPECT_EQ(ReadFile(LogPath("Debug.log")), Stamp() + " - \r\n");
  EXPECT_EQ(system_log.entries,
            std::vector<std::string>{"error: -2147024891 - Access is denied. - tmrWork_Timer"})
      << "errors reach the system's log too; trace lines do not";
}

TEST_F(LogTest, EmptyDescriptionLetsTheSeparatorsMeet) {
  global.LogError(5, "", "cmdStart_Click");
  EXPECT_EQ(ErrorLines(), (std::vector<std::string>{Stamp() + " - 5 -  - cmdStart_Click"}));
}

struct RotationCase {
  const char* log;
  const char* prefix;
  std::uintmax_t size;
  bool rotated;
};

class RotationTest : public LogTest, public ::testing::WithParamInterface<RotationCase> {};

TEST_P(RotationTest, MovesALogAsideOnlyPastTheThreshold) {
  const RotationCase c = GetParam();
  install.Make("Logs");
  const std::string old_bytes(c.size, 'x');
  WriteFile(LogPath(c.log), old_bytes);
  const std::string other = std::string(c.log) == "Error.log" ? "Debug.log" : "Error.log";
  WriteFile(LogPath(other), std::string(1000001, 'o'));

  if (std::string(c.log) == "Error.log")
    global.LogError(1, "d", "p");
  else
    global.LogDebug("m");

  const std::string rotated = Folder() + c.prefix + "08-12-2025 09-35-02.log";
  if (c.rotated) {
    EXPECT_EQ(ReadFile(rotated), old_bytes);
    EXPECT_EQ(LinesOf(ReadFile(LogPath(c.log))).size(), 1u);
  } else {
    EXPECT_FALSE(Exists(rotated));
    EXPECT_EQ(ReadFile(LogPath(c.log)).substr(0, c.size), old_bytes);
    EXPECT_GT(ReadFile(LogPath(c.log)).size(), c.size);
  }
  EXPECT_EQ(ReadFile(LogPath(other)).size(), 1000001u) << "the other log is never touched";
}

INSTANTIATE_TEST_SUITE_P(Sizes, RotationTest,
                         ::testing::Values(RotationCase{"Error.log", "error", 1000000, false},
                                           RotationCase{"Error.log", "error", 1000001, true},
                                           RotationCase{"Debug.log", "Debug", 1000000, false},
                                           RotationCase{"Debug.log", "Debug", 1000001, true}));

TEST_F(LogTest, FailedMoveStillAppendsToTheOldLog) {
  install.Make("Logs");
  WriteFile(LogPath("Debug.log"), std::string(1000001, 'x'));
  // The rotated name is taken already: the move must fail.
  const std::string rotated = Folder() + "Debug" + "08-12-2025 09-35-02.log";
  WriteFile(rotated, "earlier");

  global.LogDebug("still written");

  EXPECT_EQ(ReadFile(rotated), "earlier");
  const std::string log = ReadFile(LogPath("Debug.log"));
  EXPECT_EQ(log.size(), 1000001u + Stamp().size() + std::string(" - still written\r\n").size());
}

TEST_F(LogTest, RotatedNameHoldsNoCharacterAFileNameMayNotHold) {
  EXPECT_EQ(SafeForFileName("12/08/2026 14:15:02"), "12-08-2026 14-15-02");
  EXPECT_EQ(SafeForFileName("a\\b*c?d\"e<f>g|h\ti"), "a-b-c-d-e-f-g-h-i");
  EXPECT_EQ(SafeForFileName("08.12.2026 14.15.02"), "08.12.2026 14.15.02");
}

TEST_F(LogTest, WritersSwallowEveryFailure) {
  WriteFile(install.Join("Logs"), "a file where the folder belongs");
  EXPECT_NO_THROW(global.LogError(1, "lost", "p"));
  EXPECT_NO_THROW(global.LogDebug("lost"));
  EXPECT_EQ(ReadFile(install.Join("Logs")), "a file where the folder belongs");
}

class ErrorTrapTest : public LogTest {
 protected:
  ErrorTrap trap{global, window};
};

TEST_F(ErrorTrapTest, EveryKindOfFailureIsLoggedShownAndCleared) {
  trap.Run("cmdSave_Click", [] { throw RuntimeError(-5, "negative"); });
  trap.Run("mnuOpen_Click", [] { throw std::logic_error("broken"); });
  trap.Run("Form_Unload", [] { throw 42; });
  trap.Run("mnuClose_Click", [] {});

  EXPECT_EQ(ErrorLines(),
            (std::vector<std::string>{Stamp() + " - -5 - negative - cmdSave_Click",
                                      Stamp() + " - 51 - Internal error: broken - mnuOpen_Click",
                                      Stamp() + " - 51 - Internal error - Form_Unload"}));
  ASSERT_EQ(window.boxes.size(), 3u);
  EXPECT_EQ(window.boxes[0].text, "-5 - negative");
  EXPECT_EQ(window.boxes[0].icon, MessageIcon::kNone);
}

TEST_F(ErrorTrapTest, FailuresWhileABoxIsOpenAreLoggedWithoutASecondBox) {
  int nested_failures = 0;
  window.while_box_open = [&] {
    // Ticks delivered by the box's modal loop fail again.
    for (int i = 0; i < 3; ++i) {
      trap.Run("tmrWork_Timer", [&] {
        ++nested_failures;
        throw RuntimeError(76, "Path not found");
      });
    }
    EXPECT_TRUE(trap.BoxOpen());
  };
  trap.Run("tmrWork_Timer", [] { throw RuntimeError(76, "Path not found"); });

  EXPECT_EQ(nested_failures, 3);
  EXPECT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(ErrorLines().size(), 4u);
  EXPECT_FALSE(trap.BoxOpen());
  trap.Run("tmrWork_Timer", [] { throw RuntimeError(76, "Path not found"); });
  EXPECT_EQ(window.boxes.size(), 2u) << "once the box is closed the next failure shows again";
}

}  // namespace
}  // namespace quillbeck::testing
