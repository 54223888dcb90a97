// The INI text engine: which line a read finds, and what a write changes.
#include "platform/ini_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quillbeck {
namespace {

struct FindCase {
  const char* why;
  std::string contents;
  const char* section;
  const char* key;
  std::optional<std::string> value;
};

class FindTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindTest, FindsTheValue) {
  const FindCase& c = GetParam();
  EXPECT_EQ(FindProfileValue(c.contents, c.section, c.key), c.value) << c.why;
}

const std::nullopt_t kMissing = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Table, FindTest,
    ::testing::Values(
        FindCase{"plain", "[s]\r\nk=v\r\n", "s", "k", "v"},
        FindCase{"names ignore case", "[sEcTiOn]\nKeY=v", "Section", "key", "v"},
        FindCase{"first section wins", "[s]\na=1\n[S]\na=2\n", "s", "a", "1"},
        FindCase{"later section of the name unseen", "[s]\na=1\n[s]\nb=2\n", "s", "b", kMissing},
        FindCase{"first key wins", "[s]\na=1\nA=2\n", "s", "a", "1"},
        FindCase{"comment", "[s]\n;a=1\n", "s", "a", kMissing},
        FindCase{"indented comment", "[s]\n  ;a=1\na=2", "s", "a", "2"},
        FindCase{"spacing trimmed", "  [  s  ]  \n\t a \t=\t v w \t\n", "s", "a", "v w"},
        FindCase{"control characters trimmed", "[s]\n\x01k=v\x7f\x02", "s", "k", "v"},
        FindCase{"double quotes", "[s]\na=\"x y\"", "s", "a", "x y"},
        FindCase{"single quotes", "[s]\na= ' x ' ", "s", "a", " x "},
        FindCase{"only a matching pair", "[s]\na=\"x'", "s", "a", "\"x'"},
        FindCase{"one quote", "[s]\na=\"", "s", "a", "\""},
        FindCase{"outer pair only", "[s]\na=\"x\"y\"", "s", "a", "x\"y"},
        FindCase{"empty quotes", "[s]\na=''", "s", "a", ""},
        FindCase{"empty value", "[s]\na=", "s", "a", ""},
        FindCase{"split at first =", "[s]\na = b=c", "s", "a", "b=c"},
        FindCase{"CR endings", "[s]\ra=1\rb=2", "s", "b", "2"},
        FindCase{"CRLF endings", "[s]\r\na=1\r\nb=2\r\n", "s", "b", "2"},
        FindCase{"LF CR is two endings", "[s]\n\rb=2\n\r", "s", "b", "2"},
        FindCase{"line without = is no key", "[s]\na\na=2", "s", "a", "2"},
        FindCase{"no section before the first", "a=1\n[s]\nb=2", "s", "a", kMissing},
        FindCase{"key of another section", "[t]\na=1\n[s]\nb=2", "s", "a", kMissing},
        FindCase{"missing section", "[t]\na=1", "s", "a", kMissing},
        FindCase{"name up to the last ]", "[a]b] x\nk=1", "a]b", "k", "1"},
        FindCase{"[ without ] opens nothing", "[t]\n[s\nk=1", "t", "k", "1"},
        FindCase{"byte order mark", "\xEF\xBB\xBF[s]\nk=1", "s", "k", "1"},
        FindCase{"empty file", "", "s", "k", kMissing}));

struct SetCase {
  const char* why;
  std::string contents;
  const char* key;
  std::string expected;  // after setting key of section "s" to "v"
};

class SetTest : public ::testing::TestWithParam<SetCase> {};

TEST_P(SetTest, ChangesOnlyWhatItMust) {
  const SetCase& c = GetParam();
  const std::string written = SetProfileValue(c.contents, "s", c.key, "v");
  EXPECT_EQ(written, c.expected) << c.why;
  EXPECT_EQ(FindProfileValue(written, "s", c.key), "v") << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetTest,
    ::testing::Values(
        SetCase{"new file", "", "k", "[s]\r\nk=v\r\n"},
        SetCase{"replaced in its line", "[s]\r\nk=old\r\nj=1\r\n", "k", "[s]\r\nk=v\r\nj=1\r\n"},
        SetCase{"line keeps its start and ending", "; c\n[S]\n  K = \"old\"  \nx=1\n", "k",
                "; c\n[S]\n  K =v\nx=1\n"},
        SetCase{"CR endings kept", "[s]\rk=1\rj=2\r", "k", "[s]\rk=v\rj=2\r"},
        SetCase{"added after the last key line", "[s]\nk=1\n\n; tail\n[t]\nz=0\n", "j",
                "[s]\nk=1\nj=v\r\n\n; tail\n[t]\nz=0\n"},
        SetCase{"added after a bare header", "[s]\n; only a comment\n[t]\n", "j",
                "[s]\nj=v\r\n; only a comment\n[t]\n"},
        SetCase{"header at the very end", "[s]", "j", "[s]\r\nj=v\r\n"},
        SetCase{"last key at the very end", "[s]\nk=1", "j", "[s]\nk=1\r\nj=v\r\n"},
        SetCase{"section added at the end", "[t]\nz=0\n", "j", "[t]\nz=0\n[s]\r\nj=v\r\n"},
        SetCase{"section added after an open line", "[t]\nz=0", "j", "[t]\nz=0\r\n[s]\r\nj=v\r\n"},
        SetCase{"first section of the name", "[s]\na=1\n[s]\nb=2\n", "b",
                "[s]\na=1\nb=v\r\n[s]\nb=2\n"},
        SetCase{"commented key is not the key", "[s]\n;k=1\n", "k", "[s]\nk=v\r\n;k=1\n"}));

TEST(ProfileTextHoldsLineBreak, SeesCrAndLf) {
  EXPECT_FALSE(ProfileTextHoldsLineBreak("a b\t="));
  EXPECT_TRUE(ProfileTextHoldsLineBreak("a\rb"));
  EXPECT_TRUE(ProfileTextHoldsLineBreak("a\nb"));
}

struct CutCase {
  std::string value;
  std::size_t size;
  std::size_t count;
};

class CutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutTest, KeepsRoomForTheZero) {
  EXPECT_EQ(ProfileCutLength(GetParam().value, GetParam().size), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Table, CutTest,
                         ::testing::Values(CutCase{"abc", 0, 0}, CutCase{"abc", 1, 0},
                                           CutCase{"abc", 3, 2}, CutCase{"abc", 4, 3},
                                           CutCase{"abc", 256, 3},
                                           CutCase{std::string(300, 'x'), 256, 255},
                                           // Never half a UTF-8 character: "a", "é" (2 bytes).
                                           CutCase{"a\xC3\xA9", 3, 1}, CutCase{"a\xC3\xA9", 4, 3},
                                           // "a", "€" (3 bytes), "b".
                                           CutCase{"a\xE2\x82\xAC"
                                                   "b",
                                                   3, 1},
                                           CutCase{"a\xE2\x82\xAC"
                                                   "b",
                                                   4, 1},
                                           CutCase{"a\xE2\x82\xAC"
                                                   "b",
                                                   5, 4},
                                           // Bytes that are no UTF-8 are cut where they stand.
                                           CutCase{"\x80\x80\x80\x80\x80", 3, 2}));

}  // namespace
}  // namespace quillbeck
