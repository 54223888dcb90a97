// Process launch: start a command line without waiting for it. Any thread
// may call, several at once: each slot's work starts its commands on its own.
//
// Windows: CreateProcessW with the text as the command line, a normal window
// that gets the focus, no handles inherited, the handles closed at once.
// Linux: the text is split into arguments like a shell does but without any
// expansion (SplitCommandLine), then started with posix_spawnp; the child
// starts with default signal dispositions and an empty signal mask and
// inherits no descriptor of ours; finished children are reaped, so no zombie
// accumulates.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace quillbeck {

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;

  // Launch() starts `command` and returns once the process is started.
  // Raises RuntimeError when the text names no program (empty, only blanks)
  // or the program cannot be found or started.
  virtual void Launch(const std::string& command) = 0;

  // Check() raises as Launch() would for a command that can be seen not to
  // start without starting it: one that names no program (empty, only
  // blanks) or, on Linux, cannot be split into arguments. A program that is
  // missing is found only when it is started. Any thread may call it.
  virtual void Check(const std::string& command) const = 0;
};

// NewProcessLauncher() makes the launcher of this system.
std::unique_ptr<ProcessLauncher> NewProcessLauncher();

// SplitCommandLine() splits a command text into arguments: blanks (space,
// tab) separate them; single quotes take everything up to the next single
// quote literally; double quotes group and let a backslash escape only
// " \ $ ` and a newline; outside quotes a backslash takes the next character
// literally. No variable, tilde or wildcard expansion. Raises RuntimeError
// on an unterminated quote. Used by the Linux launcher; portable.
std::vector<std::string> SplitCommandLine(const std::string& command);

}  // namespace quillbeck
