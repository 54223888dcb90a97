// modINI: the keys, ReadINI over the real profile store, and the
// truth-value conversion of "Debug".
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quillbeck::testing
