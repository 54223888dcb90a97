// SplitCommandLine(): the command text of a slot cut into a program and its
// arguments the way a shell would quote them, but with nothing expanded, so a
// command line typed for a shell starts the same program without a shell in
// between.
#include <cerrno>
#include <string>
#include <vector>

#include "platform/process_launcher.h"
#include "platform/runtime_error.h"

namespace quillbeck {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Inside double quotes a backslash quotes only these; before anything else it
// stands for itself.
bool EscapableInDoubleQuotes(char c) {
  return c == '"' || c == '\\' || c == '$' || c == '`' || c == '\n';
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& command) {
  std::vector<std::string> arguments;
  std::string current;
  bool in_argument = false;  // an argument has begun, even an empty "" one
  const std::size_t n = command.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = command[i];
    if (IsBlank(c)) {
      if (in_argument) {
        arguments.push_back(std::move(current));
        current.clear();
        in_argument = false;
      }
      ++i;
      continue;
    }
    in_argument = true;
    if (c == '\'') {
      const std::size_t close = command.find('\'', i + 1);
      if (close == std::string::npos) {
        throw RuntimeError(EINVAL, "Unterminated ' in the command line: " + command);
      }
      current.append(command, i + 1, close - i - 1);
      i = close + 1;
    } else if (c == '"') {
      ++i;
      bool closed = false;
      while (i < n) {
        const char d = command[i];
        if (d == '"') {
          closed = true;
          ++i;
          break;
        }
        if (d == '\\' && i + 1 < n && EscapableInDoubleQuotes(command[i + 1])) {
          current += command[i + 1];
          i += 2;
        } else {
          current += d;
          ++i;
        }
      }
      if (!closed) {
        throw RuntimeError(EINVAL, "Unterminated \" in the command line: " + command);
      }
    } else if (c == '\\') {
      // A trailing backslash has nothing to quote and stands for itself.
      current += (i + 1 < n) ? command[i + 1] : '\\';
      i += 2;
    } else {
      current += c;
      ++i;
    }
  }
  if (in_argument) arguments.push_back(std::move(current));
  return arguments;
}

}  // namespace quillbeck
