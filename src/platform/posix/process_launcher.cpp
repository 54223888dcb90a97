// The Linux process launcher: the command text is split like a shell would
// split it (nothing expanded) and started with posix_spawnp, which reports a
// program that cannot be found or run as an error of the call itself.
//
// Reaping: every started child is handed to the one reaper of the process
// (posix/child_reaper.h), which reaps it the moment it ends, whether or not
// anything else is ever launched, and touches no other child.
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/posix/child_reaper.h"
#include "platform/process_launcher.h"
#include "platform/runtime_error.h"

extern char** environ;

namespace quillbeck {

namespace {

// Spawn() starts `arguments` with default signal dispositions, an empty
// signal mask and no descriptor beyond 0, 1 and 2; the error number of the
// failure, or 0.
int Spawn(const std::vector<std::string>& arguments, pid_t& pid) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  int result = posix_spawnattr_init(&attr);
  if (result != 0) return result;
  result = posix_spawn_file_actions_init(&actions);
  if (result != 0) {
    posix_spawnattr_destroy(&attr);
    return result;
  }
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  // Our descriptors are close-on-exec already; this also covers any that a
  // library opened without the flag.
  result = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (result == 0) {
    result = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return result;
}

// Arguments() is the command split into arguments, raising for one that
// names no program or that no program could be given.
std::vector<std::string> Arguments(const std::string& command) {
  std::vector<std::string> arguments = SplitCommandLine(command);
  if (arguments.empty()) {
    throw RuntimeError(ENOENT, "The command line names no program: \"" + command + "\"");
  }
  for (const std::string& argument : arguments) {
    if (argument.find('\0') != std::string::npos) RaiseSystemError(EINVAL, command);
  }
  return arguments;
}

class PosixProcessLauncher : public ProcessLauncher {
 public:
  void Check(const std::string& command) const override { Arguments(command); }

  void Launch(const std::string& command) override {
    const std::vector<std::string> arguments = Arguments(command);
    pid_t pid = 0;
    const int result = Spawn(arguments, pid);
    if (result != 0) RaiseSystemError(result, command);
    posix::ReapWhenEnded(pid);
  }
};

}  // namespace

std::unique_ptr<ProcessLauncher> NewProcessLauncher() {
  return std::make_unique<PosixProcessLauncher>();
}

}  // namespace quillbeck
