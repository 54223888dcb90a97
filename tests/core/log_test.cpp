// The log writers, the rotation and the error trap, against real files.
#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "core_fixture.h"
#include "log/Global.h"
#include "log/error_trap.h"
#include "platform/runtime_error.h"
#ifdef _WIN32
#include "platform/win32/text_conversion.h"
#endif

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

TEST_F(LogTest, SystemLogHearsARepeatedErrorOnceThenItsCount) {
  auto fail = [&](const char* procedure, int ticks) {
    for (; ticks > 0; --ticks, clock.now += 2) global.LogError(76, "Path not found", procedure);
  };
  fail("tmrWork_Timer", 15);
  clock.now += Global::kRepeatWindow;  // the hour is over: the count, then the error anew
  fail("tmrWork_Timer", 3);
  fail("cmdStart_Click", 2);  // a different error: at once
  global.ReportRepeats();
  EXPECT_EQ(system_log.entries,
            (std::vector<std::string>{"error: 76 - Path not found - tmrWork_Timer",
                                      "information: The last error repeated 14 times",
                                      "error: 76 - Path not found - tmrWork_Timer",
                                      "information: The last error repeated 2 times",
                                      "error: 76 - Path not found - cmdStart_Click",
                                      "information: The last error repeated 1 times"}));
  EXPECT_EQ(ErrorLines().size(), 20u) << "Error.log keeps every occurrence";
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

// Every log line and the box are one line: control characters are written
// visibly, and nothing else changes.
struct OneLineCase {
  const char* name;
  std::string text;
  std::string written;
};

class OneLineTest : public ErrorTrapTest, public ::testing::WithParamInterface<OneLineCase> {};

#ifdef _WIN32
const auto InFile = [](const std::string& text) { return win32::Utf8ToAnsi(text); };
#else
const auto InFile = [](const std::string& text) { return text; };  // as the log files hold it
#endif

TEST_P(OneLineTest, ControlCharactersAreWrittenVisibly) {
  // Debug.log's lines are written as Error.log's are (Global::Append).
  trap.Run("tmrWork_Timer",
           [&] { throw RuntimeError(58, "File already exists: " + GetParam().text); });
  const std::string error = "58 - File already exists: " + GetParam().written;
  EXPECT_EQ(ErrorLines(),
            std::vector<std::string>{Stamp() + " - " + InFile(error) + " - tmrWork_Timer"});
  EXPECT_EQ(system_log.entries, std::vector<std::string>{"error: " + error + " - tmrWork_Timer"});
  EXPECT_EQ(window.boxes.at(0).text, error);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OneLineTest,
    ::testing::Values(OneLineCase{"CR", "a\rb.GDT", "a\\rb.GDT"},
                      OneLineCase{"LF", "a\nb.GDT", "a\\nb.GDT"},
                      OneLineCase{
                          "CRLF", "x\r\nFORGED-ENTRY - 0 - all is well - tmrWork_Timer\r\ny.GDT",
                          "x\\r\\nFORGED-ENTRY - 0 - all is well - tmrWork_Timer\\r\\ny.GDT"},
                      OneLineCase{"TAB", "a\tb.GDT", "a\\tb.GDT"},
                      OneLineCase{"ESC", "\x1B[2Ja.GDT", "\\x1B[2Ja.GDT"},
                      OneLineCase{"DEL", "a\x7F.GDT", "a\\x7F.GDT"},
                      OneLineCase{"WindowsPath", "C:\\Drop\\In\\x1B.GDT", "C:\\Drop\\In\\x1B.GDT"},
                      OneLineCase{"NonAscii", "Z\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC.GDT",
                                  "Z\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC.GDT"}),
    [](const ::testing::TestParamInfo<OneLineCase>& info) { return info.param.name; });

}  // namespace
}  // namespace quillbeck::testing
