// Fuzz target for SplitCommandLine, which cuts a slot's command text into a
// program and its arguments before it is started.
//
// The input is used twice:
//  - as a command text: splitting it must not crash and may fail only with
//    the run-time error of an unterminated quote; what it gives, quoted again
//    and re-joined, must split into the same arguments;
//  - as an argument list (its bytes cut at each zero byte): quoted in the
//    three ways the splitter understands (single quotes, double quotes with
//    backslash escapes, a backslash before every character), joined by runs
//    of blanks, it must split back into exactly that list.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process_launcher.h"
#include "platform/runtime_error.h"

namespace {

using Arguments = std::vector<std::string>;

[[noreturn]] void Fail(const char* what, const std::string& command, const Arguments& expected,
                       const Arguments& got) {
  std::fprintf(stderr, "command_line_fuzzer: %s\ncommand (%zu bytes): [", what, command.size());
  std::fwrite(command.data(), 1, command.size(), stderr);
  std::fprintf(stderr, "]\nexpected %zu arguments, got %zu\n", expected.size(), got.size());
  for (const std::string& a : expected) std::fprintf(stderr, "  expected [%s]\n", a.c_str());
  for (const std::string& a : got) std::fprintf(stderr, "  got      [%s]\n", a.c_str());
  std::abort();
}

std::string SingleQuoted(const std::string& argument) {
  std::string out = "'";
  for (const char c : argument) {
    if (c == '\'') {
      out += "'\\''";  // close, an escaped quote, open again
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string DoubleQuoted(const std::string& argument) {
  std::string out = "\"";
  for (const char c : argument) {
    if (c == '"' || c == '\\' || c == '$' || c == '`') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string BackslashQuoted(const std::string& argument) {
  if (argument.empty()) return "''";
  std::string out;
  for (const char c : argument) {
    out += '\\';
    out += c;
  }
  return out;
}

std::string Join(const Arguments& arguments, int style_seed) {
  static constexpr const char* kBlanks[] = {" ", "\t", "  \t "};
  std::string command = (style_seed & 1) ? " " : "";
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) command += kBlanks[(i + static_cast<std::size_t>(style_seed)) % 3];
    switch ((i + arguments[i].size() + static_cast<std::size_t>(style_seed)) % 3) {
      case 0: command += SingleQuoted(arguments[i]); break;
      case 1: command += DoubleQuoted(arguments[i]); break;
      default: command += BackslashQuoted(arguments[i]); break;
    }
  }
  if (style_seed & 2) command += "\t";
  return command;
}

// Split() is the split of `command`, or nothing when it fails as it may.
bool Split(const std::string& command, Arguments& out) {
  try {
    out = quillbeck::SplitCommandLine(command);
    return true;
  } catch (const quillbeck::RuntimeError& error) {
    if (error.Number() != EINVAL) Fail("an unexpected error number", command, {}, {});
    return false;
  }
}

void CheckRoundTrip(const Arguments& arguments, int style_seed) {
  const std::string command = Join(arguments, style_seed);
  Arguments split;
  if (!Split(command, split)) Fail("a quoted list does not split", command, arguments, {});
  if (split != arguments) Fail("a quoted list splits differently", command, arguments, split);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  Arguments split;
  if (Split(text, split)) {
    for (const std::string& argument : split) {
      if (argument.size() > text.size()) Fail("an argument longer than the text", text, {}, split);
    }
    for (int style = 0; style < 4; ++style) CheckRoundTrip(split, style);
  }

  Arguments list;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\0') {
      if (i > start || i < text.size()) list.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  for (int style = 0; style < 4; ++style) CheckRoundTrip(list, style);
  return 0;
}
