// SplitCommandLine(): how a command text becomes a program and arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process_launcher.h"
#include "platform/runtime_error.h"

namespace quillbeck {
namespace {

struct SplitCase {
  const char* text;
  std::vector<std::string> arguments;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, GivesTheArguments) {
  EXPECT_EQ(SplitCommandLine(GetParam().text), GetParam().arguments) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitTest,
    ::testing::Values(SplitCase{"prog", {"prog"}}, SplitCase{"", {}}, SplitCase{" \t ", {}},
                      SplitCase{"  prog   a\tb  ", {"prog", "a", "b"}},
                      SplitCase{"'a b' c", {"a b", "c"}}, SplitCase{"\"a b\" c", {"a b", "c"}},
                      SplitCase{"a\\ b", {"a b"}}, SplitCase{"\\'a \\\"b", {"'a", "\"b"}},
                      // Single quotes take backslashes and double quotes literally.
                      SplitCase{"'a\\b \"c\"'", {"a\\b \"c\""}},
                      // In double quotes a backslash escapes only " \ $ `, else stays.
                      SplitCase{"\"a\\\"b \\\\ \\$x \\` \\n\"", {"a\"b \\ $x ` \\n"}},
                      SplitCase{"'' \"\"", {"", ""}}, SplitCase{"x'y z'\"w\"v", {"xy zwv"}},
                      // Nothing is expanded.
                      SplitCase{"$HOME ~ *.txt `id`", {"$HOME", "~", "*.txt", "`id`"}},
                      SplitCase{"a\\", {"a\\"}},
                      // Only space and tab separate.
                      SplitCase{"a\nb", {"a\nb"}}));

TEST(SplitCommandLine, UnterminatedQuoteRaises) {
  for (const char* text : {"'abc", "\"abc", "prog \"a\\\"", "a 'b\" c"}) {
    EXPECT_THROW(SplitCommandLine(text), RuntimeError) << text;
  }
}

}  // namespace
}  // namespace quillbeck
