// modINI: the keys, ReadINI over the real profile store, and the
// truth-value conversion of "Debug".
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "platform/runtime_error.h"
#include "settings/modINI.h"

namespace quillbeck::testing {
namespace {

TEST(ModIniTest, KeyNamesAreTheWordAndTheSlotNumber) {
  EXPECT_EQ(modINI::FolderKey(1), "Folder 1");
  EXPECT_EQ(modINI::ShellKey(5), "Shell 5");
}

struct TruthCase {
  const char* text;
  bool value;
};

class ToBooleanTest : public ::testing::TestWithParam<TruthCase> {};

TEST_P(ToBooleanTest, ConvertsNumbersAndWords) {
  EXPECT_EQ(modINI::ToBoolean(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Values, ToBooleanTest,
                         ::testing::Values(TruthCase{"0", false}, TruthCase{"1", true},
                                           TruthCase{"-1", true}, TruthCase{"2", true},
                                           TruthCase{"00", false}, TruthCase{"0.0", false},
                                           TruthCase{"0.5", true}, TruthCase{"+3", true},
                                           TruthCase{"1e3", true}, TruthCase{" 1 ", true},
                                           TruthCase{"&H0", false}, TruthCase{"&HFF", true},
                                           TruthCase{"True", true}, TruthCase{"true", true},
                                           TruthCase{"TRUE", true}, TruthCase{"False", false},
                                           TruthCase{"FALSE", false}, TruthCase{"fAlSe", false}));

class NoTruthValueTest : public ::testing::TestWithParam<const char*> {};

TEST_P(NoTruthValueTest, RaisesTypeMismatch) {
  try {
    modINI::ToBoolean(GetParam());
    FAIL() << "no error for '" << GetParam() << "'";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), 13);
    EXPECT_EQ(e.Description(), "Type mismatch");
  }
}

INSTANTIATE_TEST_SUITE_P(Values, NoTruthValueTest,
                         ::testing::Values("", " ", "yes", "no", "on", "1x", "-", ".", "1e", "&H",
                                           "&HG", "truee", "0 1"));

class ReadIniTest : public CoreTest {};

TEST_F(ReadIniTest, ReturnsExactlyWhatTheStorePlaced) {
  WriteFile(SettingsPath(), "[Quillbeck]\r\nShell 1=" + std::string(300, 'x') +
                                "\r\nShell 2=\r\nFolder 1=  C:\\a b  \r\n");
  auto read = [&](const char* key, const char* fallback, std::int16_t size) {
    return modINI::ReadINI(*profile, "Quillbeck", key, fallback, SettingsPath(), size);
  };
  EXPECT_EQ(read("Shell 1", "", 256), std::string(255, 'x'));
  EXPECT_EQ(read("Shell 1", "", 10), std::string(9, 'x'));
  EXPECT_EQ(read("Shell 2", "default", 256), "") << "a present empty value is not the default";
  EXPECT_EQ(read("Shell 9", "default", 256), "default");
  EXPECT_EQ(read("Shell 9", "default", 4), "def");
  EXPECT_EQ(read("Shell 1", "", 0), "");
  EXPECT_EQ(read("Shell 1", "", -1), "");
  EXPECT_EQ(modINI::ReadINI(*profile, "Quillbeck", "Debug", "0", install.Join("none.ini"), 256),
            "0");
}

// A value comes back at start-up as Save stored it, whatever its length and
// whatever character stands where a read's buffer ends: a cut there may
// fall short of the buffer's end by a whole character.
struct SavedValue {
  const char* why;
  std::string text;
};

void PrintTo(const SavedValue& value, std::ostream* out) { *out << value.why; }

class WholeReadTest : public CoreTest, public ::testing::WithParamInterface<SavedValue> {};

TEST_P(WholeReadTest, GivesBackTheValueAsSaved) {
  const std::string& value = GetParam().text;
#ifdef _WIN32
  try {
    profile->CheckValue("Shell 1", value);
  } catch (const RuntimeError&) {
    GTEST_SKIP() << "the ANSI code page lacks a character of it";
  }
#endif
  profile->WriteString("Quillbeck", "Shell 1", value, SettingsPath());
  EXPECT_EQ(modINI::ReadWholeINI(*profile, "Quillbeck", "Shell 1", "", SettingsPath()), value);
}

std::vector<SavedValue> SavedValues() {
  std::vector<SavedValue> values = {
      {"short", "C:\\Drop"},
      {"300 characters", std::string(300, 'x')},
      // 300 characters: three-byte euro signs over bytes 250 to 258, one of
      // them over byte 255, where the first buffer ends, and a two-byte e
      // acute at 259 and 260.
      {"multi-byte at 250 to 260", std::string(250, 'a') + "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC" +
                                       "\xC3\xA9" + std::string(46, 'z')},
  };
#ifndef _WIN32
  // No ANSI code page holds a four-byte character.
  values.push_back({"four bytes at 253 to 256",
                    std::string(253, 'a') + "\xF0\x9F\x93\x81" + std::string(46, 'z')});
#endif
  return values;
}

INSTANTIATE_TEST_SUITE_P(Values, WholeReadTest, ::testing::ValuesIn(SavedValues()));

}  // namespace
}  // namespace quillbeck::testing
